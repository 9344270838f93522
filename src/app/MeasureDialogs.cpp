#include "app/MeasureDialogs.h"
#include "editor/FileDialogs.h"
#include "editor/ReasonTexts.h"

#include "interop/Measurement.h"
#include "measure/portaudio/PortAudioDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ktv {

AudioFactory& MeasureAudioFactory()
{
    static AudioFactory factory = [] { return std::make_unique<measure::PortAudioDevice>(); };
    return factory;
}

namespace {
// The system's default first, under an empty name.
void FillDevices(QComboBox* box, measure::AudioDevice& audio, bool input)
{
    box->addItem(QCoreApplication::translate("ktv::SweepDialog", "System default"), QString());
    for (const auto& e : audio.Endpoints())
        if (input ? e.Input : e.Output)
            box->addItem(QString::fromStdString(e.Name), QString::fromStdString(e.Name));
}

QDoubleSpinBox* Spin(QWidget* parent, const char* name, double lo, double hi, double value, int decimals,
                     const QString& suffix)
{
    auto* s = new QDoubleSpinBox(parent);
    s->setObjectName(name);
    s->setRange(lo, hi);
    s->setDecimals(decimals);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

Measurement ToMeasurement(const std::vector<double>& hz, const std::vector<double>& db)
{
    Measurement m;
    m.Hz = hz;
    m.Db = db;
    return m;
}
} // namespace

SweepDialog::SweepDialog(QWidget* parent, FileDialogs& files, std::function<void(const Measurement&)> show)
    : QDialog(parent), files_(files), show_(std::move(show)), audio_(MeasureAudioFactory()())
{
    setObjectName("SweepDialog");
    setWindowTitle(tr("Sweep measurement"));
    auto* form = new QFormLayout;
    out_ = new QComboBox(this);
    out_->setObjectName("SweepOutput");
    in_ = new QComboBox(this);
    in_->setObjectName("SweepInput");
    FillDevices(out_, *audio_, false);
    FillDevices(in_, *audio_, true);
    level_ = Spin(this, "SweepLevel", -60, 0, -20, 1, tr(" dBFS"));
    length_ = Spin(this, "SweepLength", 1, 10, 3, 1, tr(" s"));
    lo_ = Spin(this, "SweepLow", 10, 1000, 20, 0, tr(" Hz"));
    hi_ = Spin(this, "SweepHigh", 1000, 23000, 20000, 0, tr(" Hz"));
    gate_ = Spin(this, "SweepGate", 10, 5000, 500, 0, tr(" ms"));
    positions_ = new QSpinBox(this);
    positions_->setObjectName("SweepPositions");
    positions_->setRange(1, 64);
    calibration_ = new QLineEdit(this);
    calibration_->setObjectName("SweepCalibration");
    auto* browse = new QPushButton(tr("Browse…"), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = files_.Open("Calibration", tr("Microphone calibration file"), QString(), nullptr, this);
        if (!path.isEmpty())
            calibration_->setText(path);
    });
    auto* calRow = new QHBoxLayout;
    calRow->addWidget(calibration_);
    calRow->addWidget(browse);
    auto* range = new QHBoxLayout;
    range->addWidget(lo_);
    range->addWidget(hi_);
    meter_ = new QProgressBar(this);
    meter_->setObjectName("SweepMeter");
    meter_->setRange(-60, 0);
    meter_->setValue(-60); // nothing heard yet (a new bar would show -1)
    meter_->setFormat(tr("%v dBFS"));
    // The take under way: which, and the time it has left.
    progress_ = new QProgressBar(this);
    progress_->setObjectName("SweepProgress");
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setFormat(QString());
    form->addRow(tr("Output"), out_);
    form->addRow(tr("Input"), in_);
    form->addRow(tr("Level"), level_);
    form->addRow(tr("Length"), length_);
    form->addRow(tr("Range"), range);
    form->addRow(tr("Gate"), gate_);
    form->addRow(tr("Positions to average"), positions_);
    form->addRow(tr("Calibration file"), calRow);
    form->addRow(tr("Input level"), meter_);
    form->addRow(tr("Progress"), progress_);
    status_ = new QLabel(this);
    status_->setObjectName("SweepStatus");
    status_->setWordWrap(true);
    measure_ = new QPushButton(tr("Measure"), this);
    measure_->setObjectName("SweepMeasure");
    save_ = new QPushButton(tr("Save…"), this);
    save_->setObjectName("SweepSave");
    save_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(measure_);
    buttons->addWidget(save_);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName("SweepClose");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    connect(measure_, &QPushButton::clicked, this, &SweepDialog::StartMeasuring);
    connect(save_, &QPushButton::clicked, this, &SweepDialog::SaveResult);

    meterTimer_ = new QTimer(this);
    meterTimer_->setInterval(100);
    connect(meterTimer_, &QTimer::timeout, this, [this] {
        const float p = meterPeak_.exchange(0);
        meter_->setValue(p > 0 ? std::max(-60, int(std::lround(20 * std::log10(p)))) : -60);
    });
    connect(in_, &QComboBox::currentIndexChanged, this, [this] { StartMeter(); });
    StartMeter();
}

void SweepDialog::ShowChannel(const QString& name) { setWindowTitle(tr("Sweep measurement: %1").arg(name)); }

SweepDialog::~SweepDialog()
{
    StopMeter();
    if (worker_.joinable())
        worker_.join();
}

void SweepDialog::StartMeter()
{
    StopMeter();
    std::string why;
    // Silence out, the microphone's peak in, until the measurement starts.
    const bool ok = audio_->StartStream(
        out_->currentData().toString().toStdString(), in_->currentData().toString().toStdString(), 48000,
        [](float* o, std::size_t n) { std::fill(o, o + n, 0.0f); },
        [this](const float* x, std::size_t n) {
            float p = meterPeak_.load();
            for (std::size_t i = 0; i < n; ++i)
                p = std::max(p, std::abs(x[i]));
            meterPeak_.store(p);
        },
        &why);
    if (ok)
        meterTimer_->start();
    else
        status_->setText(ReasonText(why));
}

void SweepDialog::StopMeter()
{
    meterTimer_->stop();
    audio_->StopStream();
}

void SweepDialog::StartMeasuring()
{
    if (Busy())
        return;
    if (worker_.joinable())
        worker_.join();
    measure::MeasureSettings s;
    s.OutName = out_->currentData().toString().toStdString();
    s.InName = in_->currentData().toString().toStdString();
    s.Sweep.LevelDbfs = level_->value();
    s.Sweep.Seconds = length_->value();
    s.Sweep.LoHz = lo_->value();
    s.Sweep.HiHz = hi_->value();
    s.GateMs = gate_->value();
    s.Positions = positions_->value();
    std::string why;
    if (!calibration_->text().isEmpty()) {
        measure::Calibration cal;
        if (!measure::ReadCalibrationFile(calibration_->text().toStdString(), cal, &why)) {
            Finished(false, ReasonText(why));
            return;
        }
        s.Cal = cal;
    }
    if (!measure::CheckSweepPlan(s.Sweep, &why)) {
        Finished(false, ReasonText(why));
        return;
    }
    StopMeter();
    measure_->setEnabled(false);
    status_->setText(tr("Measuring…"));
    progressSeen_.clear();
    done_ = false;
    QPointer<SweepDialog> self(this);
    // The sound card blocks for the sweep's length: not on the window thread.
    worker_ = std::thread([this, self, s] {
        measure::Response r;
        std::string why;
        measure::MeasureEvents events;
        events.Progress = [this](const measure::MeasureProgress& p) {
            QMetaObject::invokeMethod(this, [this, p] { ShowProgress(p); }, Qt::QueuedConnection);
        };
        // A spoilt take is measured again; the dialog says why.
        events.Retake = [this](const std::string& reason) {
            QMetaObject::invokeMethod(
                this,
                [this, text = ReasonText(reason)] {
                    message_ = text;
                    status_->setText(text);
                },
                Qt::QueuedConnection);
        };
        const bool ok = measure::MeasureSweep(*audio_, s, r, &why, events);
        QMetaObject::invokeMethod(
            this,
            [this, ok, r = std::move(r), why] {
                result_ = r;
                done_ = true;
                Finished(ok, ReasonText(why));
            },
            Qt::QueuedConnection);
    });
}

void SweepDialog::ShowProgress(const measure::MeasureProgress& p)
{
    const double take = measure::kLeadSeconds + length_->value() + measure::kTailSeconds;
    progress_->setValue(int(std::lround(1000 * std::clamp(1 - p.SecondsLeft / take, 0.0, 1.0))));
    const QString left = QString::number(p.SecondsLeft, 'f', 1);
    const QString text = p.Positions > 1 ? tr("Position %1 of %2, take %3 of %4: %5 s left")
                                               .arg(p.Position + 1)
                                               .arg(p.Positions)
                                               .arg(p.Take)
                                               .arg(p.Takes)
                                               .arg(left)
                                         : tr("Take %1 of %2: %3 s left").arg(p.Take).arg(p.Takes).arg(left);
    progress_->setFormat(text);
    progressSeen_ << text;
    if (p.LevelDbfs > -200)
        meter_->setValue(std::max(-60, int(std::lround(p.LevelDbfs))));
}

void SweepDialog::Finished(bool ok, const QString& why)
{
    measure_->setEnabled(true);
    progress_->setValue(ok ? 1000 : 0);
    progress_->setFormat(QString());
    save_->setEnabled(ok || save_->isEnabled());
    if (!ok) {
        message_ = why;
        status_->setText(why);
    } else {
        message_ = tr("Measured: %1 points from %2 to %3 Hz.")
                       .arg(result_.Hz.size())
                       .arg(std::lround(result_.Hz.front()))
                       .arg(std::lround(result_.Hz.back()));
        status_->setText(message_);
        show_(ToMeasurement(result_.Hz, result_.Db));
    }
    StartMeter();
}

void SweepDialog::SaveResult()
{
    const QString path = files_.Save("Sweep", tr("Save measurement"), tr("REW text (*.txt)"), nullptr, this);
    if (path.isEmpty())
        return;
    QFile f(path);
    const std::string text = measure::RewText(result_, "Sweep measurement");
    if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), qint64(text.size())) != qint64(text.size()))
        status_->setText(tr("Cannot write %1.").arg(path));
}

AnalyserDialog::AnalyserDialog(QWidget* parent, std::function<void(const Measurement&)> show)
    : QDialog(parent), show_(std::move(show)), audio_(MeasureAudioFactory()())
{
    setObjectName("AnalyserDialog");
    setWindowTitle(tr("Live analyser"));
    auto* form = new QFormLayout;
    out_ = new QComboBox(this);
    out_->setObjectName("AnalyserOutput");
    in_ = new QComboBox(this);
    in_->setObjectName("AnalyserInput");
    FillDevices(out_, *audio_, false);
    FillDevices(in_, *audio_, true);
    bands_ = new QComboBox(this);
    bands_->setObjectName("AnalyserBands");
    bands_->addItem(tr("1/3 octave"), 3);
    bands_->addItem(tr("1/6 octave"), 6);
    bands_->addItem(tr("1/24 octave"), 24);
    level_ = Spin(this, "AnalyserLevel", -60, 0, -20, 1, tr(" dBFS"));
    averages_ = new QSpinBox(this);
    averages_->setObjectName("AnalyserAverages");
    averages_->setRange(1, 100);
    averages_->setValue(4);
    peak_ = new QCheckBox(tr("Peak hold"), this);
    peak_->setObjectName("AnalyserPeak");
    noise_ = new QCheckBox(tr("Play pink noise"), this);
    noise_->setObjectName("AnalyserNoise");
    noise_->setChecked(true);
    form->addRow(tr("Output"), out_);
    form->addRow(tr("Input"), in_);
    form->addRow(tr("Bands"), bands_);
    form->addRow(tr("Noise level"), level_);
    form->addRow(tr("Frames averaged"), averages_);
    form->addRow(QString(), noise_);
    form->addRow(QString(), peak_);
    status_ = new QLabel(this);
    status_->setObjectName("AnalyserStatus");
    start_ = new QPushButton(tr("Start"), this);
    start_->setObjectName("AnalyserStart");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(start_);
    connect(start_, &QPushButton::clicked, this, [this] { running_ ? Stop() : Start(); });
    connect(peak_, &QCheckBox::toggled, this, [this] {
        std::lock_guard l(lock_);
        if (analyser_)
            analyser_->ResetPeaks();
    });
    timer_ = new QTimer(this);
    timer_->setInterval(50); // 20 refreshes a second
    connect(timer_, &QTimer::timeout, this, &AnalyserDialog::Refresh);
}

AnalyserDialog::~AnalyserDialog() { Stop(); }

void AnalyserDialog::Start()
{
    Stop();
    {
        std::lock_guard l(lock_);
        analyser_ = std::make_unique<measure::Analyser>(48000, bands_->currentData().toInt(), averages_->value());
        pink_ = noise_->isChecked() ? std::make_unique<measure::PinkNoise>(level_->value()) : nullptr;
    }
    std::string why;
    const bool ok = audio_->StartStream(
        out_->currentData().toString().toStdString(), in_->currentData().toString().toStdString(), 48000,
        [this](float* o, std::size_t n) {
            if (pink_)
                pink_->Fill(o, n);
            else
                std::fill(o, o + n, 0.0f);
        },
        [this](const float* x, std::size_t n) {
            std::lock_guard l(lock_);
            analyser_->Push(x, n);
        },
        &why);
    if (!ok) {
        status_->setText(ReasonText(why));
        return;
    }
    running_ = true;
    start_->setText(tr("Stop"));
    status_->clear();
    timer_->start();
}

void AnalyserDialog::Stop()
{
    timer_->stop();
    audio_->StopStream();
    if (running_)
        start_->setText(tr("Start"));
    running_ = false;
}

void AnalyserDialog::Refresh()
{
    Measurement m;
    {
        std::lock_guard l(lock_);
        if (!analyser_)
            return;
        m = ToMeasurement(analyser_->BandHz(), peak_->isChecked() ? analyser_->PeakDb() : analyser_->LevelDb());
    }
    ++refreshes_;
    show_(m);
}

} // namespace ktv

#include "editor/FitPanel.h"
#include "editor/ReasonTexts.h"

#include "dsp/Filter.h"
#include "editor/FileDialogs.h"
#include "editor/Peqa.h"
#include "interop/FilterDialects.h"
#include "interop/Measurement.h"
#include "params/Commands.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace ktv {

namespace {

enum TargetChoice { TargetFlat = 0, TargetTilt = 1, TargetCurve = 2 };

QDoubleSpinBox* MakeSpin(const char* name, double lo, double hi, double value, int decimals, double step,
                         const QString& suffix)
{
    auto* spin = new QDoubleSpinBox;
    spin->setObjectName(name);
    spin->setRange(lo, hi);
    spin->setDecimals(decimals);
    spin->setSingleStep(step);
    spin->setValue(value);
    spin->setSuffix(suffix);
    return spin;
}

QVector<double> ToVector(const std::vector<double>& v) { return QVector<double>(v.begin(), v.end()); }

// Remembered in the window's settings file: a limit that suits a pair of
// headphones suits them the next time too.
constexpr const char* LevelDropKey = "fit/maxLevelDrop";

std::unique_ptr<QSettings> Settings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "ktvtune", "ktvtune");
}

} // namespace

TFitPanel::TFitPanel(TFormPEQA* editor, FileDialogs& files, QWidget* parent)
    : QWidget(parent, Qt::Tool), editor_(editor), files_(files)
{
    setObjectName("FitPanel");

    measurementFile_ = new QPushButton(tr("Choose file…"));
    measurementFile_->setObjectName("FitMeasurementFile");
    measurementName_ = new QLabel;
    measurementName_->setObjectName("FitMeasurementName");
    auto* measurementRow = new QHBoxLayout;
    measurementRow->addWidget(measurementFile_);
    measurementRow->addWidget(measurementName_, 1);

    target_ = new QComboBox;
    target_->setObjectName("FitTarget");
    target_->addItems({tr("Flat"), tr("Tilt"), tr("Target curve")});
    tilt_ = MakeSpin("FitTilt", -3.0, 3.0, -0.5, 1, 0.1, tr(" dB/octave"));
    // The unit is longer in some languages; the row must not squeeze it.
    tilt_->setMinimumWidth(tilt_->sizeHint().width());
    targetFile_ = new QPushButton(tr("Choose file…"));
    targetFile_->setObjectName("FitTargetFile");
    targetName_ = new QLabel;
    targetName_->setObjectName("FitTargetName");
    auto* targetRow = new QHBoxLayout;
    targetRow->addWidget(target_);
    targetRow->addWidget(tilt_);
    targetRow->addWidget(targetFile_);
    targetRow->addWidget(targetName_, 1);

    low_ = MakeSpin("FitLow", 20.0, 20000.0, 40.0, 0, 10.0, tr(" Hz"));
    high_ = MakeSpin("FitHigh", 20.0, 20000.0, 16000.0, 0, 100.0, tr(" Hz"));
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(low_);
    rangeRow->addWidget(new QLabel(tr("to")));
    rangeRow->addWidget(high_);
    rangeRow->addStretch(1);

    boost_ = MakeSpin("FitMaxBoost", 0.0, 12.0, 0.0, 1, 0.5, tr(" dB"));
    cut_ = MakeSpin("FitMaxCut", -24.0, 0.0, -12.0, 1, 0.5, tr(" dB"));
    // How much the fit may lower the channel's level; the lowest value means
    // no limit.
    levelDrop_ = MakeSpin("FitMaxLevelDrop", 0.0, 24.0, 0.0, 1, 0.5, tr(" dB"));
    levelDrop_->setSpecialValueText(tr("Unlimited"));
    levelDrop_->setValue(Settings()->value(LevelDropKey, 0.0).toDouble());

    auto* bandRow = new QHBoxLayout;
    for (std::size_t r = 0; r < use_.size(); ++r) {
        use_[r] = new QCheckBox(QString::number(r + 1));
        use_[r]->setObjectName(QString("FitBand%1").arg(r + 1));
        use_[r]->setChecked(true);
        bandRow->addWidget(use_[r]);
    }
    bandRow->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow(tr("Measurement:"), measurementRow);
    form->addRow(tr("Target:"), targetRow);
    form->addRow(tr("Range:"), rangeRow);
    form->addRow(tr("Largest boost:"), boost_);
    form->addRow(tr("Largest cut:"), cut_);
    form->addRow(tr("Largest level drop:"), levelDrop_);
    form->addRow(tr("Bands to use:"), bandRow);

    fit_ = new QPushButton(tr("Fit"));
    fit_->setObjectName("FitButton");
    apply_ = new QPushButton(tr("Apply"));
    apply_->setObjectName("ApplyButton");
    auto* close = new QPushButton(tr("Close"));
    close->setObjectName("FitClose");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(fit_);
    buttons->addWidget(apply_);
    buttons->addWidget(close);

    bands_ = new QTableWidget(0, 4);
    bands_->setObjectName("FitBands");
    bands_->setHorizontalHeaderLabels({tr("Type"), tr("Fc (Hz)"), tr("Q"), tr("Gain (dB)")});
    bands_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    bands_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    bands_->setMinimumHeight(220);

    errors_ = new QLabel;
    errors_->setObjectName("FitErrors");
    errors_->setWordWrap(true);

    chart_ = new QCustomPlot;
    chart_->setObjectName("FitChart");
    chart_->setMinimumSize(420, 240);
    chart_->xAxis->setScaleType(QCPAxis::stLogarithmic);
    chart_->xAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
    chart_->xAxis->setLabel(tr("Hz"));
    chart_->yAxis->setLabel(tr("dB"));
    const struct {
        QColor color;
        Qt::PenStyle style;
        QString name;
    } graphs[] = {{QColor(150, 150, 150), Qt::SolidLine, tr("Measured")},
                  {QColor(0, 90, 200), Qt::SolidLine, tr("Predicted")},
                  {QColor(220, 120, 0), Qt::DashLine, tr("Target")}};
    for (const auto& g : graphs) {
        QCPGraph* graph = chart_->addGraph();
        graph->setPen(QPen(g.color, 1.5, g.style));
        graph->setName(g.name);
    }
    chart_->legend->setVisible(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(errors_);
    layout->addWidget(chart_, 1);
    layout->addWidget(bands_);

    auto choiceChanged = [this] {
        tilt_->setEnabled(target_->currentIndex() == TargetTilt);
        targetFile_->setEnabled(target_->currentIndex() == TargetCurve);
        Invalidate();
    };
    connect(target_, &QComboBox::currentIndexChanged, this, choiceChanged);
    for (QDoubleSpinBox* spin : {tilt_, low_, high_, boost_, cut_, levelDrop_})
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this] { Invalidate(); });
    connect(levelDrop_, &QDoubleSpinBox::valueChanged, this,
            [](double value) { Settings()->setValue(LevelDropKey, value); });
    for (QCheckBox* box : use_)
        connect(box, &QCheckBox::toggled, this, [this] { Invalidate(); });
    connect(measurementFile_, &QPushButton::clicked, this, &TFitPanel::MeasurementFileClick);
    connect(targetFile_, &QPushButton::clicked, this, &TFitPanel::TargetFileClick);
    connect(fit_, &QPushButton::clicked, this, &TFitPanel::FitClick);
    connect(apply_, &QPushButton::clicked, this, &TFitPanel::ApplyClick);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    choiceChanged();
    SetMeasurement({}, {});
    ShowChannel();
}

// Closes like a dialog: the panel is a tool window, not one.
void TFitPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFitPanel::SetMeasurement(std::vector<double> hz, std::vector<double> db)
{
    hz_ = std::move(hz);
    db_ = std::move(db);
    Invalidate();
    fit_->setEnabled(!hz_.empty());
    if (hz_.empty())
        errors_->setText(tr("Load a measurement of the channel first."));
}

void TFitPanel::ShowChannel()
{
    // The panel works on the shown channel: its title says which.
    setWindowTitle(tr("Fit to measurement: %1").arg(EqChannelName(EqChannel(editor_->Channel % EqChannelCount))));
    for (int r = 0; r < int(use_.size()); ++r) {
        const bool shown = r < editor_->BandCount;
        use_[std::size_t(r)]->setVisible(shown);
        const bool bypassed = shown && !(DspParams.Band[std::size_t(editor_->FirstBand + r)].Flags & FlagBandOn);
        use_[std::size_t(r)]->setEnabled(shown && !bypassed);
        use_[std::size_t(r)]->setToolTip(bypassed ? tr("Bypassed: left alone") : QString());
    }
    if (result_ && fittedFirst_ != editor_->FirstBand)
        Invalidate();
    // Another channel takes its own default range, unless the user set one.
    const FitRange was = FitRangeOf(EqChannel(rangeChannel_)), now = FitRangeOf(EqChannel(editor_->Channel));
    if (editor_->Channel != rangeChannel_ && low_->value() == was.LowHz && high_->value() == was.HighHz) {
        low_->setValue(now.LowHz);
        high_->setValue(now.HighHz);
    }
    rangeChannel_ = editor_->Channel;
    // The measurement on the chart for this channel, when there is one.
    std::vector<double> hz, db;
    if (editor_->ShownMeasurement(hz, db) && (hz.size() != hz_.size() || db != db_)) {
        SetMeasurement(std::move(hz), std::move(db));
        measurementName_->setText(tr("the chart's measurement"));
        errors_->clear();
    }
}

std::optional<Measurement> TFitPanel::ReadFile(const QString& purpose, const QString& caption, QLabel* name)
{
    const QString path = files_.Open(purpose, caption,
                                     tr("Measurements (%1);;All files (*)").arg(QString::fromStdString(MeasurementPatterns())),
                                     nullptr, this);
    if (path.isEmpty())
        return std::nullopt;
    Measurement m;
    std::string why;
    if (!ReadMeasurementFile(path.toStdString(), m, &why)) {
        errors_->setText(tr("%1 cannot be used: %2").arg(QFileInfo(path).fileName(), ReasonText(why)));
        return std::nullopt;
    }
    name->setText(QFileInfo(path).fileName());
    return m;
}

void TFitPanel::MeasurementFileClick()
{
    if (auto m = ReadFile("FitMeasurement", tr("Measurement"), measurementName_)) {
        SetMeasurement(std::move(m->Hz), std::move(m->Db));
        errors_->clear();
    }
}

void TFitPanel::TargetFileClick()
{
    if (auto m = ReadFile("FitTarget", tr("Target curve"), targetName_)) {
        curve_ = {FitTargetKind::Curve, 0.0, std::move(m->Hz), std::move(m->Db)};
        errors_->clear();
        Invalidate();
    }
}

void TFitPanel::Invalidate()
{
    result_.reset();
    apply_->setEnabled(false);
}

void TFitPanel::FitClick()
{
    ShowChannel();
    FitTarget target;
    if (target_->currentIndex() == TargetTilt) {
        target.Kind = FitTargetKind::Tilt;
        target.TiltDbPerOctave = tilt_->value();
    } else if (target_->currentIndex() == TargetCurve) {
        if (curve_.Hz.empty()) {
            errors_->setText(tr("Choose a target curve file first."));
            return;
        }
        target = curve_;
    }
    FitOptions options;
    options.LowHz = low_->value();
    options.HighHz = high_->value();
    options.MaxBoostDb = boost_->value();
    options.MaxCutDb = cut_->value();
    if (levelDrop_->value() > levelDrop_->minimum())
        options.MaxLevelDropDb = levelDrop_->value();
    options.UseBands = 0;
    for (std::size_t r = 0; r < use_.size(); ++r)
        if (use_[r]->isChecked() && use_[r]->isEnabled())
            options.UseBands |= 1u << r;

    const std::span<const PeqBand> bands(DspParams.Band.data() + editor_->FirstBand, editor_->BandCount);
    FitResult result;
    std::string why;
    Invalidate();
    if (!FitChannel(hz_, db_, target, options, bands, result, &why)) {
        errors_->setText(tr("Cannot fit: %1").arg(ReasonText(why)));
        return;
    }
    result_ = std::move(result);
    fittedFirst_ = editor_->FirstBand;
    fittedFrom_.assign(bands.begin(), bands.end());
    apply_->setEnabled(true);
    ShowResult();
}

void TFitPanel::ShowResult()
{
    const FitResult& r = *result_;
    errors_->setText(tr("Error over %1 to %2 Hz: before RMS %3 dB, largest %4 dB; after RMS %5 dB, largest %6 dB")
                         .arg(r.LowHz, 0, 'f', 0)
                         .arg(r.HighHz, 0, 'f', 0)
                         .arg(r.Before.RmsDb, 0, 'f', 2)
                         .arg(r.Before.LargestDb, 0, 'f', 2)
                         .arg(r.After.RmsDb, 0, 'f', 2)
                         .arg(r.After.LargestDb, 0, 'f', 2));
    if (r.LevelChangeDb <= -0.05)
        errors_->setText(errors_->text() + "\n" + tr("The fit lowers the level by %1 dB.").arg(-r.LevelChangeDb, 0, 'f', 1));
    else if (r.LevelChangeDb >= 0.05)
        errors_->setText(errors_->text() + "\n" + tr("The fit raises the level by %1 dB.").arg(r.LevelChangeDb, 0, 'f', 1));

    bands_->setRowCount(int(r.Bands.size()));
    QStringList rows;
    for (std::size_t k = 0; k < r.Bands.size(); ++k) {
        const PeqBand& b = r.Bands[k];
        const std::size_t type = b.Flags & FlagTypeMask;
        // The type as the band rows name it, in the window's language.
        const QString name = type < FilterTypeNames.size()
                                 ? QCoreApplication::translate("ktv::FilterType", std::string(FilterTypeNames[type]).c_str())
                                 : QString::number(type);
        // One decimal, as the box holds Q and gain.
        const QString cells[4] = {r.Fitted[k] ? name : tr("%1 (left alone)").arg(name), FormatBandValue(b.Fc, 6),
                                  QString::number(double(b.Q), 'f', 1), FormatBandValue(b.Gain, 3)};
        for (int c = 0; c < 4; ++c)
            bands_->setItem(int(k), c, new QTableWidgetItem(cells[c]));
        rows << QString::number(k + 1);
    }
    bands_->setVerticalHeaderLabels(rows);

    const QVector<double> hz = ToVector(r.Hz);
    chart_->graph(0)->setData(hz, ToVector(r.MeasuredDb), true);
    chart_->graph(1)->setData(hz, ToVector(r.PredictedDb), true);
    chart_->graph(2)->setData(hz, ToVector(r.TargetDb), true);
    chart_->rescaleAxes();
    chart_->replot();
}

void TFitPanel::ApplyClick()
{
    if (!result_ || fittedFirst_ != editor_->FirstBand)
        return;
    // A band edited or bypassed since the fit would be overwritten by a fit
    // that did not know of it.
    for (std::size_t k = 0; k < fittedFrom_.size(); ++k) {
        const PeqBand& now = DspParams.Band[std::size_t(fittedFirst_) + k];
        const PeqBand& then = fittedFrom_[k];
        if (now.Flags != then.Flags || now.Fc != then.Fc || now.Q != then.Q || now.Gain != then.Gain) {
            Invalidate();
            errors_->setText(tr("The channel's bands changed since the fit: fit again."));
            return;
        }
    }
    const std::vector<PeqBand> fitted = result_->Bands;
    const int first = editor_->FirstBand;
    const int count = editor_->BandCount;
    const auto change = [this, &fitted, first, count] {
        for (int k = 0; k < count; ++k) {
            const PeqBand& from = fitted[std::size_t(k)];
            PeqBand& band = DspParams.Band[std::size_t(first + k)];
            band.Flags = from.Flags;
            band.Fc = from.Fc;
            band.Q = from.Q;
            band.Gain = from.Gain;
        }
        editor_->RefreshBands();
        // One run over the channel's bands, as few requests as the box takes.
        for (int done = 0; done < count; done += MaxBandsPerRequest)
            if (!SendPeqBands(std::uint8_t(first + done), std::uint8_t(std::min(MaxBandsPerRequest, count - done))))
                break;
    };
    if (RunStep)
        RunStep(tr("Fit to measurement"), change);
    else
        change();
    apply_->setEnabled(false);
    emit applied();
}

} // namespace ktv

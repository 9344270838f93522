#include "editor/Peqa.h"

#include "base/UserInterface.h"
#include "dsp/Filter.h"
#include "dsp/StepTables.h"
#include "editor/ChartPlot.h"
#include "editor/SettingsPages.h"
#include "params/Commands.h"
#include "params/ImageDiff.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <limits>

namespace ktv {

namespace {

constexpr int LineHeight = 30;   // one control line of a band row
constexpr int EditWidth = 66;
constexpr int RowWidth = 92;

constexpr int FcPrecision = 5;
constexpr int GainPrecision = 3;
constexpr int QPrecision = 4;


// The type list in the user's language. The names come from the filter code;
// listed here so that lupdate finds them.
[[maybe_unused]] constexpr const char* TypeTexts[] = {
    QT_TRANSLATE_NOOP("ktv::FilterType", "Low Pass"),  QT_TRANSLATE_NOOP("ktv::FilterType", "High Pass"),
    QT_TRANSLATE_NOOP("ktv::FilterType", "Bell"),      QT_TRANSLATE_NOOP("ktv::FilterType", "Low Shelf"),
    QT_TRANSLATE_NOOP("ktv::FilterType", "High Shelf"),
};
static_assert(std::size(TypeTexts) == FilterTypeNames.size());

QString TypeName(std::size_t code)
{
    const std::string name(FilterTypeNames[code]);
    return QCoreApplication::translate("ktv::FilterType", name.c_str());
}

bool IsNumberKey(char16_t key) { return (key >= u'0' && key <= u'9') || key == u'.' || key == 13 || key == 8; }

// Name of arrow pair `which` (0 Fc, 1 gain, 2 Q) of row r, as the form names them.
QString ArrowName(int r, int which)
{
    static const char* first[] = {"FcUpDown1", "FGainUpDown1", "FQUpDown1"};
    if (r == 1)
        return first[which];
    return QStringLiteral("ScrollBar%1").arg(3 * (r - 2) + which + 1);
}

} // namespace

QString FormatBandValue(double value, int precision)
{
    if (!std::isfinite(value))
        return QStringLiteral("0.0");
    const double magnitude = std::fabs(value);
    const int integerDigits = magnitude >= 1.0 ? int(std::floor(std::log10(magnitude))) + 1 : 0;
    const int decimals = std::clamp(precision - integerDigits, 0, 1);
    const double scale = decimals == 1 ? 10.0 : 1.0;
    const double rounded = std::floor(magnitude * scale + 0.5) / scale;
    if (rounded == 0.0)
        return QStringLiteral("0.0");
    return QString::number(value < 0 ? -rounded : rounded, 'f', 1);
}

TFormPEQA::TFormPEQA(QWidget* parent) : QWidget(parent)
{
    setObjectName("FormPEQA");

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setObjectName("Splitter1");
    splitter_->setChildrenCollapsible(false);
    BuildChart();
    splitter_->addWidget(chart_);

    auto* lower = new QWidget(splitter_);
    auto* lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(6);
    lowerLayout->addWidget(BuildBandArea(), 0);
    pages_ = new SettingsPages(lower);
    lowerLayout->addWidget(pages_, 1);
    splitter_->addWidget(lower);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter_);

    FillRowsAtCreation();
    for (int r = 1; r <= ShownRows; ++r)
        WireRow(r);
    connect(reset_, &QPushButton::clicked, this, &TFormPEQA::BitBtnResetClick);
    connect(fenAll_, &QCheckBox::toggled, this, &TFormPEQA::FEnALLClick);

    // FormCreate
    ConfigureBands(0, 7);
    pages_->tabBar()->hide();
    pages_->SetChannel(EqChannel::MIC);
}

TFormPEQA::~TFormPEQA() = default;

QWidget* TFormPEQA::BuildBandArea()
{
    auto* area = new QWidget(this);
    auto* layout = new QHBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    // Row captions, aligned with the lines of the band rows.
    auto* captions = new QGroupBox(area);
    captions->setObjectName("GroupBoxCaptions");
    auto* cl = new QVBoxLayout(captions);
    cl->setContentsMargins(4, 4, 4, 4);
    cl->setSpacing(0);
    reset_ = new QPushButton(tr("Reset"), captions);
    reset_->setObjectName("BitBtnReset");
    reset_->setFixedSize(64, 24);
    cl->addWidget(reset_);
    for (const char* text : {QT_TR_NOOP("Type"), QT_TR_NOOP("Fc/Hz"), QT_TR_NOOP("Gain/db"), QT_TR_NOOP("Q")}) {
        auto* label = new QLabel(tr(text), captions);
        label->setFixedHeight(LineHeight);
        cl->addWidget(label);
    }
    fenAll_ = new QCheckBox(tr("Bypass"), captions);
    fenAll_->setObjectName("FEnALL");
    fenAll_->setFixedHeight(LineHeight);
    fenAll_->installEventFilter(this);
    cl->addWidget(fenAll_);
    cl->addStretch(1);
    captions->setFixedWidth(84);
    layout->addWidget(captions);

    auto* scroll = new QScrollArea(area);
    scroll->setObjectName("ScrollBox1");
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* strip = new QWidget(scroll);
    strip->setObjectName("ScrollBoxContent");
    auto* sl = new QHBoxLayout(strip);
    sl->setContentsMargins(0, 0, 0, 0);
    sl->setSpacing(4);
    // Rows 8..14 are never shown; they are built after the first paint
    // (BuildHiddenRows) so that the window appears sooner.
    for (int r = 1; r <= ShownRows; ++r)
        sl->addWidget(BuildRow(r, strip));
    sl->addStretch(1);
    rowStrip_ = sl;
    scroll->setWidget(strip);
    scroll_ = scroll;
    layout->addWidget(scroll, 1);
    return area;
}

QGroupBox* TFormPEQA::BuildRow(int r, QWidget* parent)
{
    BandRow& row = rows_[std::size_t(r)];
    row.box = new QGroupBox(parent);
    row.box->setObjectName(QStringLiteral("GroupBox%1").arg(r));
    row.box->setFixedWidth(RowWidth);
    auto* v = new QVBoxLayout(row.box);
    v->setContentsMargins(4, 4, 4, 4);
    v->setSpacing(0);

    auto* number = new QLabel(QString::number(r), row.box);
    QFont bold = number->font();
    bold.setBold(true);
    number->setFont(bold);
    number->setAlignment(Qt::AlignCenter);
    number->setFixedHeight(24);
    v->addWidget(number);

    row.type = new TypeSelector(row.box);
    row.type->setObjectName(QStringLiteral("FTypeSel%1").arg(r));
    for (std::size_t i = 0; i < FilterTypeNames.size(); ++i) {
        const bool parametric = r > ShownRows && i == 2;
        row.type->addItem(parametric ? tr("Parametric") : TypeName(i));
    }
    row.type->setCurrentIndex(2);
    row.type->setFixedHeight(LineHeight - 4);
    v->addSpacing(2);
    v->addWidget(row.type);
    v->addSpacing(2);

    auto addLine = [&](NumberEdit*& edit, ArrowPair*& arrows, const QString& editName, int which,
                       const QString& initial) {
        auto* line = new QWidget(row.box);
        line->setFixedHeight(LineHeight);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(1);
        edit = new NumberEdit(line);
        edit->setObjectName(editName);
        edit->setText(initial);
        edit->setFixedWidth(EditWidth);
        edit->setFixedHeight(LineHeight - 6);
        arrows = new ArrowPair(line);
        arrows->setObjectName(ArrowName(r, which));
        arrows->setFixedSize(16, LineHeight);
        h->addWidget(edit);
        h->addWidget(arrows);
        h->addStretch(1);
        v->addWidget(line);
    };
    addLine(row.fc, row.fcArrows, QStringLiteral("FcEdit%1").arg(r), 0, "31.3");
    addLine(row.gain, row.gainArrows, QStringLiteral("FGainEdit%1").arg(r), 1, "0");
    addLine(row.q, row.qArrows, QStringLiteral("FQEdit%1").arg(r), 2, "3.0");

    row.en = new QCheckBox(tr("Bypass"), row.box);
    row.en->setObjectName(QStringLiteral("FEn%1").arg(r));
    row.en->setFixedHeight(LineHeight);
    v->addWidget(row.en);
    v->addStretch(1);
    return row.box;
}

void TFormPEQA::BuildHiddenRows()
{
    if (rows_[FormRows].box)
        return;
    for (int r = ShownRows + 1; r <= FormRows; ++r) {
        QGroupBox* box = BuildRow(r, rowStrip_->parentWidget());
        box->hide();
        rowStrip_->insertWidget(r - 1, box);
    }
}

void TFormPEQA::WireRow(int r)
{
    BandRow& row = rows_[std::size_t(r)];
    connect(row.type, &TypeSelector::closedUp, this, [this, r] { ApplyType(r); });
    connect(row.en, &QCheckBox::toggled, this, [this, r] { ApplyBypass(r); });
    connect(row.fcArrows, &ArrowPair::arrow, this, [this, r](ArrowAction a) { StepFc(r, a); });
    connect(row.gainArrows, &ArrowPair::arrow, this, [this, r](ArrowAction a) { StepGain(r, a); });
    connect(row.qArrows, &ArrowPair::arrow, this, [this, r](ArrowAction a) { StepQ(r, a); });
    connect(row.fc, &NumberEdit::exited, this, [this, r] { ApplyFc(r); });
    connect(row.gain, &NumberEdit::exited, this, [this, r] { ApplyGain(r); });
    connect(row.q, &NumberEdit::exited, this, [this, r] { ApplyQ(r); });
    row.fc->SetKeyFilter([this, r](char16_t key) { return FilterFcKey(r, key); });
    row.gain->SetKeyFilter([this, r](char16_t key) { return FilterGainKey(r, key); });
    row.q->SetKeyFilter([this, r](char16_t key) { return FilterQKey(r, key); });
}

void TFormPEQA::FillRowsAtCreation()
{
    for (int r = 1; r <= ShownRows; ++r) {
        PeqBand& band = DspParams.Band[std::size_t(r - 1)];
        FcStepPos[std::size_t(r)] = FcStepIndex(band.Fc);
        QStepPos[std::size_t(r)] = QStepIndex(band.Q);
        DesignBand(band);
        BandRow& row = rows_[std::size_t(r)];
        const int code = band.Flags & FlagTypeMask;
        row.type->setEditText(code < int(FilterTypeNames.size()) ? TypeName(std::size_t(code)) : QString());
        row.fc->setText(FormatBandValue(band.Fc, FcPrecision));
        row.gain->setText(FormatBandValue(band.Gain, GainPrecision));
        row.q->setText(FormatBandValue(band.Q, QPrecision));
        row.en->setChecked((band.Flags & FlagBandOn) == 0);
    }
}

// ---- channel state ----

void TFormPEQA::ConfigureBands(std::uint8_t first, std::uint8_t count)
{
    BandCount = count;
    FirstBand = first;
    SetBandPoints(true);
    if (chart_->graphCount() > 0)
        chart_->ReplotLayer(curveLayer_);
    for (int r = 1; r <= ShownRows; ++r)
        rows_[std::size_t(r)].box->setVisible(r <= count);
    // The rows take the room they need; the settings page gets the rest.
    scroll_->setFixedWidth(std::min<int>(count, ShownRows) * (RowWidth + 4) + 2);
}

void TFormPEQA::LoadSettings() { pages_->LoadSettings(); }

// ---- refresh ----

void TFormPEQA::RefreshBands()
{
    if (BandCount > ShownRows)
        BandCount = 0;
    if (!chartInitialised_)
        InitChartData();

    const int count = BandCount;
    const int first = FirstBand;
    for (int r = 1; r <= count; ++r)
        DesignBand(DspParams.Band[std::size_t(first + r - 1)]);
    if (chartInitialised_)
        ComputeCurves(grid_, std::span<const PeqBand>(&DspParams.Band[std::size_t(first)], std::size_t(count)),
                      std::span<std::vector<double>>(bandCurves_.data(), std::size_t(count)), sumCurve_);

    for (int r = 1; r <= count; ++r) {
        const PeqBand& band = DspParams.Band[std::size_t(first + r - 1)];
        if (chartInitialised_) {
            // PEQ1..PEQ7 are never drawn; they only carry the band curves.
            auto data = series_[std::size_t(r - 1)]->data();
            const auto& curve = bandCurves_[std::size_t(r - 1)];
            std::size_t i = 0;
            for (auto it = data->begin(); it != data->end(); ++it)
                it->value = curve[i++];
        }
        WriteRow(r, band);
        // A box that changes state runs its own reaction, request included,
        // before this refresh goes on.
        rows_[std::size_t(r)].en->setChecked((band.Flags & FlagBandOn) == 0);
    }

    fenAll_->setChecked((DspParams.Band[std::size_t(FirstBand)].Flags & FlagChannelEqOn) == 0);
    labelBypass_->setVisible(fenAll_->isChecked());

    HandOverCurves();
}

void TFormPEQA::WriteRow(int r, const PeqBand& band)
{
    BandRow& row = rows_[std::size_t(r)];
    const int item = band.Flags & 0x07;
    if (item < int(FilterTypeNames.size())) {
        row.type->setCurrentIndex(item);
        if (row.type->currentText() != row.type->itemText(item))
            row.type->setEditText(row.type->itemText(item));
    } else {
        row.type->setCurrentIndex(-1);
        row.type->setEditText(QString());
    }
    row.fc->setText(FormatBandValue(band.Fc, FcPrecision));
    row.gain->setText(FormatBandValue(band.Gain, GainPrecision));
    row.q->setText(FormatBandValue(band.Q, QPrecision));
}

void TFormPEQA::SendRow(int r) { SendPeqBands(std::uint8_t(FirstBand + r - 1), 1); }

bool TFormPEQA::ReadNumber(NumberEdit* edit, float& value)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double x = c.toDouble(edit->text().trimmed(), &ok);
    if (!ok || !std::isfinite(x) || std::fabs(x) > double(std::numeric_limits<float>::max())) {
        Ui().ShowMessage(tr("'%1' is not a valid number.").arg(edit->text()).toStdString());
        return false;
    }
    value = float(x);
    return true;
}

// ---- row reactions ----

void TFormPEQA::ApplyType(int r)
{
    const QString text = rows_[std::size_t(r)].type->currentText();
    int code = -1;
    for (std::size_t i = 0; i < FilterTypeNames.size(); ++i)
        if (text == TypeName(i))
            code = int(i);
    if (code < 0)
        return;
    PeqBand& band = RowBand(r);
    band.Flags = std::uint8_t((band.Flags & ~FlagTypeMask) | code);
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyBypass(int r)
{
    PeqBand& band = RowBand(r);
    if (rows_[std::size_t(r)].en->isChecked())
        band.Flags &= std::uint8_t(~FlagBandOn);
    else
        band.Flags |= FlagBandOn;
    RefreshBands();
    SendRow(r);
}

namespace {

// A step starts from the position of the band's current value.
int StepFrom(int remembered, const std::array<float, StepTableCapacity>& table, float value, int (*index)(float))
{
    if (remembered < 0 || remembered >= StepTableCapacity || table[std::size_t(remembered)] != value)
        return index(value);
    return remembered;
}

int Stepped(int p, ArrowAction action, int count)
{
    if (action == ArrowAction::LineUp)
        return std::min(p + 1, count - 1);
    return std::max(p - 1, 0);
}

} // namespace

void TFormPEQA::StepFc(int r, ArrowAction action)
{
    if (action == ArrowAction::Other)
        return;
    PeqBand& band = RowBand(r);
    int p = StepFrom(FcStepPos[std::size_t(r)], FcSteps, band.Fc, FcStepIndex);
    p = Stepped(p, action, FcStepCount);
    FcStepPos[std::size_t(r)] = p;
    band.Fc = FcSteps[std::size_t(p)];
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::StepQ(int r, ArrowAction action)
{
    if (action == ArrowAction::Other)
        return;
    PeqBand& band = RowBand(r);
    int p = StepFrom(QStepPos[std::size_t(r)], QSteps, band.Q, QStepIndex);
    p = Stepped(p, action, QStepCount);
    QStepPos[std::size_t(r)] = p;
    band.Q = QSteps[std::size_t(p)];
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::StepGain(int r, ArrowAction action)
{
    if (action == ArrowAction::Other)
        return;
    PeqBand& band = RowBand(r);
    if (action == ArrowAction::LineUp) {
        band.Gain = float(double(band.Gain) + 0.1);
        if (band.Gain > BandGainMax)
            band.Gain = BandGainMax;
    } else {
        band.Gain = float(double(band.Gain) - 0.1);
        if (band.Gain < BandGainMin)
            band.Gain = BandGainMin;
    }
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyFc(int r)
{
    float x = 0;
    if (!ReadNumber(rows_[std::size_t(r)].fc, x))
        return;
    const int last = FcStepCount - 1;
    int p;
    if (x > FcSteps[std::size_t(last)])
        p = last;
    else if (x < FcSteps[0])
        p = 0;
    else
        p = FcStepIndex(x);
    FcStepPos[std::size_t(r)] = p;
    RowBand(r).Fc = FcSteps[std::size_t(p)];
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyQ(int r)
{
    float x = 0;
    if (!ReadNumber(rows_[std::size_t(r)].q, x))
        return;
    const int last = QStepCount - 1;
    int p;
    if (x > QSteps[std::size_t(last)])
        p = last;
    else if (x < QSteps[0])
        p = 0;
    else
        p = QStepIndex(x);
    QStepPos[std::size_t(r)] = p;
    RowBand(r).Q = QSteps[std::size_t(p)];
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyGain(int r)
{
    float x = 0;
    if (!ReadNumber(rows_[std::size_t(r)].gain, x))
        return;
    RowBand(r).Gain = std::clamp(x, BandGainMin, BandGainMax);
    RefreshBands();
    SendRow(r);
}

bool TFormPEQA::FilterFcKey(int r, char16_t key)
{
    NumberEdit* edit = rows_[std::size_t(r)].fc;
    if (key == 13 && !edit->text().isEmpty())
        ApplyFc(r);
    if (key == u'.' && edit->text().contains(u'.'))
        return false;
    return IsNumberKey(key);
}

bool TFormPEQA::FilterQKey(int r, char16_t key)
{
    NumberEdit* edit = rows_[std::size_t(r)].q;
    if (key == 13 && !edit->text().isEmpty())
        ApplyQ(r);
    if (key == u'.' && edit->text().contains(u'.'))
        return false;
    return IsNumberKey(key);
}

bool TFormPEQA::FilterGainKey(int r, char16_t key)
{
    NumberEdit* edit = rows_[std::size_t(r)].gain;
    if (key == u'-') {
        // A minus starts a new negative gain.
        edit->clear();
        return true;
    }
    if (key == 13 && !edit->text().isEmpty())
        ApplyGain(r);
    if (key == u'.' && edit->text().contains(u'.'))
        return false;
    return IsNumberKey(key);
}

void TFormPEQA::BitBtnResetClick()
{
    const auto reset = [this] {
        const int count = BandCount;
        for (int i = 0; i < count; ++i)
            SetDefaultBand(DspParams.Band[std::size_t(FirstBand + i)], i);
        RefreshBands();
        for (int i = 0; i < count; ++i)
            SendPeqBands(std::uint8_t(FirstBand + i), 1);
    };
    if (StepRecorder && Channel < EqChannelCount)
        StepRecorder(tr("Reset %1 EQ").arg(QLatin1String(EqChannelName(EqChannel(Channel)))), reset);
    else
        reset();
}

void TFormPEQA::FEnALLClick()
{
    const bool ticked = fenAll_->isChecked();
    for (int i = 0; i < BandCount; ++i) {
        PeqBand& band = DspParams.Band[std::size_t(FirstBand + i)];
        if (ticked)
            band.Flags &= std::uint8_t(~FlagChannelEqOn);
        else
            band.Flags |= FlagChannelEqOn;
    }
    labelBypass_->setVisible(ticked);
    RefreshBands();
    SendEqBypass(FirstBand, BandCount);
}

bool TFormPEQA::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == fenAll_ && event->type() == QEvent::MouseButtonRelease)
        Ui().SetStatus(StatusPanel::Device, "1");
    if (watched == chart_ && event->type() == QEvent::Paint && !firstPaintSeen_) {
        // Splitter1Paint: the first paint of the laid-out chart gets one more
        // replot, so the data added after the first drawing are shown.
        firstPaintSeen_ = true;
        QMetaObject::invokeMethod(this, &TFormPEQA::BuildHiddenRows, Qt::QueuedConnection);
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ktv

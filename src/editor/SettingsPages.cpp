#include "editor/SettingsPages.h"

#include "editor/SettingsPagesWidgets.h"
#include "params/Commands.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace ktv {

namespace {

// Output lines each output group's delay and mute controls address; -1 where
// the group has no right-hand line.
constexpr std::array<int, OutputGroupCount> LeftLine{0, 2, 3, 4};
constexpr std::array<int, OutputGroupCount> RightLine{1, -1, -1, 5};

// Noise-gate steps 0..3 are stored as dB thresholds -84, -78, -72, -66.
constexpr int NoiseGateOff = -84;
constexpr int NoiseGateStep = 6;

const QStringList InputNames{"AUX", "BGM", "BT", "UDISK", "OPT", "COX"};

QString DecimalPoint() { return QLocale().decimalPoint(); }

// Value readouts are built outside the class; they share its translation context.
QString OffText() { return QCoreApplication::translate("ktv::SettingsPages", "OFF"); }
QString OffOrNumber(int value) { return value == 0 ? OffText() : QString::number(value); }
QString MsText(int value) { return QStringLiteral("%1ms").arg(value); }
QString PercentText(int value) { return QStringLiteral("%1%").arg(value); }
QString ReleaseText(int value) { return QCoreApplication::translate("ktv::SettingsPages", "Attackx%1").arg(value); }

QLabel* ValueLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    // Wide enough for the longest value any row shows, so a growing text never
    // runs into its track bar.
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(ReleaseText(100)) + 4);
    return label;
}

} // namespace

QString ThresholdText(int tenthsDb, const QString& decimalPoint)
{
    // Shortest form of tenths / 10: whole decibels carry no decimal part.
    const int magnitude = std::abs(tenthsDb);
    QString text = tenthsDb < 0 ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 10);
    if (magnitude % 10 != 0)
        text += decimalPoint + QString::number(magnitude % 10);
    return text + QStringLiteral("dB");
}

QString DelayMsText(int samples, const QString& decimalPoint)
{
    // samples / 44.1 to the nearest tenth of a millisecond, in integers so
    // no binary fraction decides a rounding (ties cannot occur).
    const int tenthsMs = (samples * 200 + 441) / 882;
    return QString::number(tenthsMs / 10) + decimalPoint + QString::number(tenthsMs % 10) + QStringLiteral("ms");
}

QString PitchText(int step)
{
    if (step == 0)
        return OffText();
    return step > 0 ? QStringLiteral("+%1").arg(step) : QString::number(step);
}

QString MixText(std::uint8_t mixByte)
{
    return ((mixByte & MixSignBit) ? QStringLiteral("-") : QStringLiteral("+")) + QString::number(mixByte & MixLevelMask);
}

SettingsPages::SettingsPages(const std::uint8_t& channel, QWidget* parent) : QTabWidget(parent), channel_(channel)
{
    setObjectName("PageControlSet");
    BuildMicPage();
    BuildMusicPage();
    BuildEffectPage();
    BuildOutPage();
    addTab(TabSheet1, tr("MIC"));
    addTab(TabSheet2, tr("MUSIC"));
    addTab(TabSheet3, tr("EFFECT"));
    addTab(TabSheet4, tr("OUT"));
    // The page always follows the channel; the user never picks one.
    tabBar()->hide();
    setCurrentIndex(0);
}

namespace {

// A horizontal track bar, left end = Min. Range and initial position are set
// before the reaction is connected, so building runs no reaction.
template <class Reaction>
QSlider* MakeTrackBar(SettingsPages* pages, QWidget* parent, const char* name, int min, int max, int initial,
                      Reaction reaction)
{
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setRange(min, max);
    bar->setSingleStep(1);
    bar->setTickPosition(QSlider::NoTicks);
    bar->setValue(initial);
    bar->setMinimumWidth(70);
    QObject::connect(bar, &QSlider::valueChanged, pages, [pages, reaction] { (pages->*reaction)(); });
    return bar;
}

} // namespace

void SettingsPages::BuildMicPage()
{
    TabSheet1 = new QWidget(this);
    TabSheet1->setObjectName("TabSheet1");
    auto* box = new QGroupBox(TabSheet1);
    box->setObjectName("GroupBoxLimitor");
    auto* grid = new QGridLayout(box);
    int row = 0;
    auto addRow = [&](const char* caption, QSlider* bar, QLabel* label) {
        grid->addWidget(new QLabel(tr(caption), box), row, 0);
        grid->addWidget(bar, row, 1);
        grid->addWidget(label, row, 2);
        ++row;
    };
    TrackBarMicTH = MakeTrackBar(this, box, "TrackBarMicTH", -300, 0, 0, &SettingsPages::TrackBarMicTHChange);
    LabelMicTH = ValueLabel("LabelMicTH", "0dB", box);
    addRow(QT_TR_NOOP("Threshold"), TrackBarMicTH, LabelMicTH);
    TrackBarMicAttack = MakeTrackBar(this, box, "TrackBarMicAttack", 1, 100, 1, &SettingsPages::TrackBarMicAttackChange);
    LabelMicAttack = ValueLabel("LabelMicAttack", "1ms", box);
    addRow(QT_TR_NOOP("Attack"), TrackBarMicAttack, LabelMicAttack);
    TrackBarMicRelease =
        MakeTrackBar(this, box, "TrackBarMicRelease", 1, 100, 1, &SettingsPages::TrackBarMicReleaseChange);
    LabelMicRelease = ValueLabel("LabelMicRelease", ReleaseText(1), box);
    addRow(QT_TR_NOOP("Release"), TrackBarMicRelease, LabelMicRelease);
    TrackBarMicRatio = MakeTrackBar(this, box, "TrackBarMicRatio", 1, 100, 1, &SettingsPages::TrackBarMicRatioChange);
    LabelMicRatio = ValueLabel("LabelMicRatio", "1", box);
    addRow(QT_TR_NOOP("Ratio"), TrackBarMicRatio, LabelMicRatio);
    TrackBarFS = MakeTrackBar(this, box, "TrackBarFS", 0, 3, 0, &SettingsPages::TrackBarFSChange);
    LabelFS = ValueLabel("LabelFS", "0", box);
    addRow(QT_TR_NOOP("FBX"), TrackBarFS, LabelFS);
    TrackBarMicNS = MakeTrackBar(this, box, "TrackBarMicNS", 0, 3, 0, &SettingsPages::TrackBarMicNSChange);
    LabelMicNS = ValueLabel("LabelMicNS", "0", box);
    addRow(QT_TR_NOOP("NoiseGate"), TrackBarMicNS, LabelMicNS);
    grid->setRowStretch(row, 1);

    auto* page = new QVBoxLayout(TabSheet1);
    page->addWidget(box);
}

void SettingsPages::BuildMusicPage()
{
    TabSheet2 = new QWidget(this);
    TabSheet2->setObjectName("TabSheet2");
    auto* box = new QGroupBox(TabSheet2);
    box->setObjectName("GroupBoxMusic");
    auto* grid = new QGridLayout(box);
    TrackBarPS = MakeTrackBar(this, box, "TrackBarPS", -4, 4, 0, &SettingsPages::TrackBarPSChange);
    LabelPS = ValueLabel("LabelPS", "0", box);
    grid->addWidget(new QLabel(tr("PITCH"), box), 0, 0);
    grid->addWidget(TrackBarPS, 0, 1);
    grid->addWidget(LabelPS, 0, 2);
    grid->addWidget(new QLabel(tr("INPUT"), box), 1, 0, Qt::AlignTop);
    RadioGroupInput = new RadioGroup(QString(), InputNames, box);
    RadioGroupInput->setObjectName("RadioGroupInput");
    RadioGroupInput->SetItemIndex(0);
    connect(RadioGroupInput, &RadioGroup::ItemIndexChanged, this, [this] { RadioGroupInputClick(); });
    grid->addWidget(RadioGroupInput, 1, 1, 1, 2);
    grid->setRowStretch(2, 1);

    auto* page = new QVBoxLayout(TabSheet2);
    page->addWidget(box);
}

void SettingsPages::BuildEffectPage()
{
    TabSheet3 = new QWidget(this);
    TabSheet3->setObjectName("TabSheet3");
    auto* echo = new QGroupBox(tr("Echo"), TabSheet3);
    echo->setObjectName("GroupBoxEcho");
    auto* reverb = new QGroupBox(tr("Reverb"), TabSheet3);
    reverb->setObjectName("GroupBox16");

    // Each row: caption with the value label to its right, the bar below.
    auto addRow = [](QGroupBox* box, const char* caption, QLabel* label, QSlider* bar) {
        auto* column = static_cast<QVBoxLayout*>(box->layout());
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(tr(caption), box));
        line->addWidget(label);
        line->addStretch();
        column->addLayout(line);
        column->addWidget(bar);
    };
    new QVBoxLayout(echo);
    new QVBoxLayout(reverb);

    TrackBarEchoPreL = MakeTrackBar(this, echo, "TrackBarEchoPreL", 0, 100, 0, &SettingsPages::TrackBarEchoPreLChange);
    LabelEchoPreDelay = ValueLabel("LabelEchoPreDelay", "0ms", echo);
    addRow(echo, QT_TR_NOOP("PreDelay:"), LabelEchoPreDelay, TrackBarEchoPreL);
    TrackBarDelay = MakeTrackBar(this, echo, "TrackBarDelay", 0, 300, 0, &SettingsPages::TrackBarDelayChange);
    LabelEchoDelay = ValueLabel("LabelEchoDelay", "0ms", echo);
    addRow(echo, QT_TR_NOOP("Delay:"), LabelEchoDelay, TrackBarDelay);
    TrackBarRepeat = MakeTrackBar(this, echo, "TrackBarRepeat", 0, 90, 0, &SettingsPages::TrackBarRepeatChange);
    LabelEchoRepeat = ValueLabel("LabelEchoRepeat", "0%", echo);
    addRow(echo, QT_TR_NOOP("Repeat:"), LabelEchoRepeat, TrackBarRepeat);
    TrackBarDamp = MakeTrackBar(this, echo, "TrackBarDamp", 0, 100, 0, &SettingsPages::TrackBarDampChange);
    LabelEchoDamp = ValueLabel("LabelEchoDamp", "0%", echo);
    addRow(echo, QT_TR_NOOP("Damp:"), LabelEchoDamp, TrackBarDamp);

    TrackBarReverbPreDelay =
        MakeTrackBar(this, reverb, "TrackBarReverbPreDelay", 0, 100, 0, &SettingsPages::TrackBarReverbPreDelayChange);
    LabelReverbPreDelay = ValueLabel("LabelReverbPreDelay", "0ms", reverb);
    addRow(reverb, QT_TR_NOOP("PreDelay:"), LabelReverbPreDelay, TrackBarReverbPreDelay);
    TrackBarReverbEarlyVol =
        MakeTrackBar(this, reverb, "TrackBarReverbEarlyVol", 0, 100, 0, &SettingsPages::TrackBarReverbEarlyVolChange);
    LabelReverbEarlyVol = ValueLabel("LabelReverbEarlyVol", "0%", reverb);
    addRow(reverb, QT_TR_NOOP("Early:Late"), LabelReverbEarlyVol, TrackBarReverbEarlyVol);
    TrackBarReverbTime =
        MakeTrackBar(this, reverb, "TrackBarReverbTime", 0, 100, 0, &SettingsPages::TrackBarReverbTimeChange);
    LabelReverbTime = ValueLabel("LabelReverbTime", "0%", reverb);
    addRow(reverb, QT_TR_NOOP("Time:"), LabelReverbTime, TrackBarReverbTime);
    TrackBarReverbDamp =
        MakeTrackBar(this, reverb, "TrackBarReverbDamp", 0, 100, 0, &SettingsPages::TrackBarReverbDampChange);
    LabelReverbDamp = ValueLabel("LabelReverbDamp", "0%", reverb);
    addRow(reverb, QT_TR_NOOP("Damp:"), LabelReverbDamp, TrackBarReverbDamp);

    static_cast<QVBoxLayout*>(echo->layout())->addStretch();
    static_cast<QVBoxLayout*>(reverb->layout())->addStretch();
    auto* page = new QHBoxLayout(TabSheet3);
    page->addWidget(echo);
    page->addWidget(reverb);
}

void SettingsPages::BuildOutPage()
{
    TabSheet4 = new QWidget(this);
    TabSheet4->setObjectName("TabSheet4");
    auto* box = new QGroupBox(TabSheet4);
    box->setObjectName("GroupBox15");
    auto* grid = new QGridLayout(box);

    struct MixRow {
        const char* caption;
        const char* bar;
        const char* label;
        void (SettingsPages::*change)();
        void (SettingsPages::*click)();
        std::uint8_t OutputMixParams::*field;
    };
    const MixRow mixRows[4]{
        {QT_TR_NOOP("MicVol:"), "TrackBarOutMicVol", "LabelOutMicVol", &SettingsPages::TrackBarOutMicVolChange,
         &SettingsPages::LabelOutMicVolClick, &OutputMixParams::MicVol},
        {QT_TR_NOOP("MusicVol:"), "TrackBarOutMusicVol", "LabelOutMusicVol", &SettingsPages::TrackBarOutMusicVolChange,
         &SettingsPages::LabelOutMusicVolClick, &OutputMixParams::MusicVol},
        {QT_TR_NOOP("EchoVol:"), "TrackBarOutEchoVol", "LabelOutEchoVol", &SettingsPages::TrackBarOutEchoVolChange,
         &SettingsPages::LabelOutEchoVolClick, &OutputMixParams::EchoVol},
        {QT_TR_NOOP("ReverbVol:"), "TrackBarOutReverbVol", "LabelOutReverbVol", &SettingsPages::TrackBarOutReverbVolChange,
         &SettingsPages::LabelOutReverbVolClick, &OutputMixParams::ReverbVol},
    };
    for (int i = 0; i < 4; ++i) {
        const MixRow& r = mixRows[i];
        QSlider* bar = MakeTrackBar(this, box, r.bar, 0, 100, 0, r.change);
        auto* label = new ClickLabel("+0", box);
        label->setObjectName(r.label);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("-100")) + 6);
        label->setCursor(Qt::PointingHandCursor);
        label->setToolTip(tr("Click to invert the sign"));
        connect(label, &ClickLabel::clicked, this, [this, click = r.click] { (this->*click)(); });
        mix_[i] = {bar, label, r.field};
        grid->addWidget(new QLabel(tr(r.caption), box), i, 0);
        grid->addWidget(bar, i, 1);
        grid->addWidget(label, i, 2);
    }
    TrackBarOutMicVol = mix_[0].bar;
    TrackBarOutMusicVol = mix_[1].bar;
    TrackBarOutEchoVol = mix_[2].bar;
    TrackBarOutReverbVol = mix_[3].bar;
    LabelOutMicVol = mix_[0].label;
    LabelOutMusicVol = mix_[1].label;
    LabelOutEchoVol = mix_[2].label;
    LabelOutReverbVol = mix_[3].label;

    auto addLimiterRow = [&](int row, const char* caption, QSlider* bar, QLabel* label) {
        grid->addWidget(new QLabel(tr(caption), box), row, 3);
        grid->addWidget(bar, row, 4);
        grid->addWidget(label, row, 5);
    };
    TrackBarOutTH = MakeTrackBar(this, box, "TrackBarOutTH", -300, 0, 0, &SettingsPages::TrackBarOutTHChange);
    LabelOutTH = ValueLabel("LabelOutTH", "0dB", box);
    addLimiterRow(0, QT_TR_NOOP("Threshold"), TrackBarOutTH, LabelOutTH);
    TrackBarOutAT = MakeTrackBar(this, box, "TrackBarOutAT", 1, 100, 1, &SettingsPages::TrackBarOutATChange);
    LabelOutAT = ValueLabel("LabelOutAT", "1ms", box);
    addLimiterRow(1, QT_TR_NOOP("Attack"), TrackBarOutAT, LabelOutAT);
    TrackBarOutRT = MakeTrackBar(this, box, "TrackBarOutRT", 1, 100, 1, &SettingsPages::TrackBarOutRTChange);
    LabelOutRT = ValueLabel("LabelOutRT", ReleaseText(1), box);
    addLimiterRow(2, QT_TR_NOOP("Release"), TrackBarOutRT, LabelOutRT);
    TrackBarOutRatio = MakeTrackBar(this, box, "TrackBarOutRatio", 1, 100, 1, &SettingsPages::TrackBarOutRatioChange);
    LabelOutRatio = ValueLabel("LabelOutRatio", "100", box);
    addLimiterRow(3, QT_TR_NOOP("Ratio"), TrackBarOutRatio, LabelOutRatio);

    // Bottom: the left line under the mix column, the right line under the
    // limiter column. The delay label is its own caption.
    LabelDelayL = ValueLabel("LabelDelayL", tr("Delay L:") + MsText(0), box);
    TrackBarDelayL = MakeTrackBar(this, box, "TrackBarDelayL", 0, 2205, 0, &SettingsPages::TrackBarDelayLChange);
    CheckBoxMuteL = new QCheckBox(tr("Mute"), box);
    CheckBoxMuteL->setObjectName("CheckBoxMuteL");
    connect(CheckBoxMuteL, &QCheckBox::toggled, this, [this] { CheckBoxMuteLClick(); });
    LabelDelayR = ValueLabel("LabelDelayR", tr("Delay R:") + MsText(0), box);
    TrackBarDelayR = MakeTrackBar(this, box, "TrackBarDelayR", 0, 2205, 0, &SettingsPages::TrackBarDelayRChange);
    CheckBoxMuteR = new QCheckBox(tr("Mute"), box);
    CheckBoxMuteR->setObjectName("CheckBoxMuteR");
    connect(CheckBoxMuteR, &QCheckBox::toggled, this, [this] { CheckBoxMuteRClick(); });
    grid->addWidget(LabelDelayL, 4, 0, 1, 3);
    grid->addWidget(TrackBarDelayL, 5, 0, 1, 2);
    grid->addWidget(CheckBoxMuteL, 5, 2);
    grid->addWidget(LabelDelayR, 4, 3, 1, 3);
    grid->addWidget(TrackBarDelayR, 5, 3, 1, 2);
    grid->addWidget(CheckBoxMuteR, 5, 5);
    grid->setRowStretch(6, 1);

    auto* page = new QVBoxLayout(TabSheet4);
    page->addWidget(box);
}

void SettingsPages::ShowPageFor(EqChannel channel)
{
    int page = channel <= EqChannel::EFFECT ? int(channel) : 3;
    // Only the shown page claims room: the wide OUT page must not push the
    // seven-band channels' rows out of the window.
    for (int i = 0; i < count(); ++i)
        widget(i)->setSizePolicy(i == page ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                                 i == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    setCurrentIndex(page);
    updateGeometry();
}

void SettingsPages::ShowRightLine(bool visible)
{
    LabelDelayR->setVisible(visible);
    TrackBarDelayR->setVisible(visible);
    CheckBoxMuteR->setVisible(visible);
}

std::optional<int> SettingsPages::OutputGroup() const
{
    if (channel_ >= std::uint8_t(EqChannel::MAIN) && channel_ <= std::uint8_t(EqChannel::SRS))
        return int(channel_) - int(EqChannel::MAIN);
    return std::nullopt;
}

// ---- MIC page ----

void SettingsPages::TrackBarMicTHChange()
{
    const int v = TrackBarMicTH->value();
    DspParams.Dyn[0].Threshold = std::int16_t(v);
    LabelMicTH->setText(ThresholdText(v, DecimalPoint()));
    SendDynamics(0);
}

void SettingsPages::TrackBarMicAttackChange()
{
    const int v = TrackBarMicAttack->value();
    DspParams.Dyn[0].Attack = std::uint16_t(v);
    LabelMicAttack->setText(MsText(v));
    SendDynamics(0);
}

void SettingsPages::TrackBarMicReleaseChange()
{
    const int v = TrackBarMicRelease->value();
    DspParams.Dyn[0].Release = std::uint8_t(v);
    LabelMicRelease->setText(ReleaseText(v));
    SendDynamics(0);
}

void SettingsPages::TrackBarMicRatioChange()
{
    const int v = TrackBarMicRatio->value();
    DspParams.Dyn[0].Ratio = std::uint8_t(v);
    LabelMicRatio->setText(QString::number(v));
    SendDynamics(0);
}

void SettingsPages::TrackBarFSChange()
{
    const int v = TrackBarFS->value();
    DspParams.Fbx = std::uint8_t(v);
    LabelFS->setText(OffOrNumber(v));
    SendFbx();
}

void SettingsPages::TrackBarMicNSChange()
{
    const int step = TrackBarMicNS->value();
    DspParams.NoiseGate[0] = std::int16_t(NoiseGateStep * step + NoiseGateOff);
    LabelMicNS->setText(OffOrNumber(step));
    SendNoiseGate(0);
}

// ---- MUSIC page ----

void SettingsPages::TrackBarPSChange()
{
    const int v = TrackBarPS->value();
    DspParams.Pitch = std::int8_t(v);
    LabelPS->setText(PitchText(v));
    SendPitch();
}

void SettingsPages::RadioGroupInputClick()
{
    const int index = RadioGroupInput->ItemIndex();
    if (index < 0)
        return;
    DspParams.Input = std::uint8_t(index);
    SendInput();
}

// ---- EFFECT page ----

void SettingsPages::TrackBarEchoPreLChange()
{
    DspParams.Echo.PreDelay = std::uint8_t(TrackBarEchoPreL->value());
    LabelEchoPreDelay->setText(MsText(DspParams.Echo.PreDelay));
    SendEcho();
}

void SettingsPages::TrackBarDelayChange()
{
    DspParams.Echo.Delay = std::uint16_t(TrackBarDelay->value());
    LabelEchoDelay->setText(MsText(DspParams.Echo.Delay));
    SendEcho();
}

void SettingsPages::TrackBarRepeatChange()
{
    DspParams.Echo.Repeat = std::uint8_t(TrackBarRepeat->value());
    LabelEchoRepeat->setText(PercentText(DspParams.Echo.Repeat));
    SendEcho();
}

void SettingsPages::TrackBarDampChange()
{
    DspParams.Echo.Damp = std::uint8_t(TrackBarDamp->value());
    LabelEchoDamp->setText(PercentText(DspParams.Echo.Damp));
    SendEcho();
}

void SettingsPages::TrackBarReverbPreDelayChange()
{
    DspParams.Reverb.PreDelay = std::uint8_t(TrackBarReverbPreDelay->value());
    LabelReverbPreDelay->setText(MsText(DspParams.Reverb.PreDelay));
    SendReverb();
}

void SettingsPages::TrackBarReverbEarlyVolChange()
{
    DspParams.Reverb.EarlyLate = std::uint8_t(TrackBarReverbEarlyVol->value());
    LabelReverbEarlyVol->setText(PercentText(DspParams.Reverb.EarlyLate));
    SendReverb();
}

void SettingsPages::TrackBarReverbTimeChange()
{
    DspParams.Reverb.Time = std::uint8_t(TrackBarReverbTime->value());
    LabelReverbTime->setText(PercentText(DspParams.Reverb.Time));
    SendReverb();
}

void SettingsPages::TrackBarReverbDampChange()
{
    DspParams.Reverb.Damp = std::uint8_t(TrackBarReverbDamp->value());
    LabelReverbDamp->setText(PercentText(DspParams.Reverb.Damp));
    SendReverb();
}

// ---- OUT page: acts only on MAIN, CENTER, SUB and SRS ----

void SettingsPages::MixLevelChange(const MixControl& mix)
{
    const auto group = OutputGroup();
    if (!group)
        return;
    std::uint8_t& b = DspParams.OutMix[std::size_t(*group)].*mix.field;
    // The level moves, the sign flag stays.
    b = std::uint8_t((b & MixSignBit) | std::uint8_t(mix.bar->value()));
    mix.label->setText(MixText(b));
    SendOutputMix(std::uint8_t(*group));
}

void SettingsPages::MixSignToggle(const MixControl& mix)
{
    const auto group = OutputGroup();
    if (!group)
        return;
    std::uint8_t& b = DspParams.OutMix[std::size_t(*group)].*mix.field;
    b ^= MixSignBit;
    mix.label->setText(MixText(b));
    SendOutputMix(std::uint8_t(*group));
}

void SettingsPages::TrackBarOutMicVolChange() { MixLevelChange(mix_[0]); }
void SettingsPages::TrackBarOutMusicVolChange() { MixLevelChange(mix_[1]); }
void SettingsPages::TrackBarOutEchoVolChange() { MixLevelChange(mix_[2]); }
void SettingsPages::TrackBarOutReverbVolChange() { MixLevelChange(mix_[3]); }
void SettingsPages::LabelOutMicVolClick() { MixSignToggle(mix_[0]); }
void SettingsPages::LabelOutMusicVolClick() { MixSignToggle(mix_[1]); }
void SettingsPages::LabelOutEchoVolClick() { MixSignToggle(mix_[2]); }
void SettingsPages::LabelOutReverbVolClick() { MixSignToggle(mix_[3]); }

void SettingsPages::TrackBarOutTHChange()
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int v = TrackBarOutTH->value();
    DspParams.Dyn[std::size_t(*group + 1)].Threshold = std::int16_t(v);
    LabelOutTH->setText(ThresholdText(v, DecimalPoint()));
    SendDynamics(std::uint8_t(*group + 1));
}

void SettingsPages::TrackBarOutATChange()
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int v = TrackBarOutAT->value();
    DspParams.Dyn[std::size_t(*group + 1)].Attack = std::uint16_t(v);
    LabelOutAT->setText(MsText(v));
    SendDynamics(std::uint8_t(*group + 1));
}

void SettingsPages::TrackBarOutRTChange()
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int v = TrackBarOutRT->value();
    DspParams.Dyn[std::size_t(*group + 1)].Release = std::uint8_t(v);
    LabelOutRT->setText(ReleaseText(v));
    SendDynamics(std::uint8_t(*group + 1));
}

void SettingsPages::TrackBarOutRatioChange()
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int v = TrackBarOutRatio->value();
    DspParams.Dyn[std::size_t(*group + 1)].Ratio = std::uint8_t(v);
    LabelOutRatio->setText(QString::number(v));
    SendDynamics(std::uint8_t(*group + 1));
}

void SettingsPages::WriteDelayLabel(bool right, int samples)
{
    const auto group = OutputGroup();
    QString prefix;
    if (right)
        prefix = tr("Delay R:");
    else if (group && RightLine[std::size_t(*group)] >= 0)
        prefix = tr("Delay L:");
    else
        prefix = tr("Delay:");
    (right ? LabelDelayR : LabelDelayL)->setText(prefix + DelayMsText(samples, DecimalPoint()));
}

void SettingsPages::DelayChange(bool right)
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int line = (right ? RightLine : LeftLine)[std::size_t(*group)];
    if (line < 0)
        return;
    QSlider* bar = right ? TrackBarDelayR : TrackBarDelayL;
    DspParams.Delay[std::size_t(line)] = std::uint16_t(bar->value());
    WriteDelayLabel(right, DspParams.Delay[std::size_t(line)]);
    SendDelay();
}

void SettingsPages::TrackBarDelayLChange() { DelayChange(false); }
void SettingsPages::TrackBarDelayRChange() { DelayChange(true); }

void SettingsPages::MuteClick(bool right)
{
    const auto group = OutputGroup();
    if (!group)
        return;
    const int line = (right ? RightLine : LeftLine)[std::size_t(*group)];
    if (line < 0)
        return;
    const auto bit = std::uint8_t(1u << line);
    if ((right ? CheckBoxMuteR : CheckBoxMuteL)->isChecked())
        DspParams.Mute |= bit;
    else
        DspParams.Mute &= std::uint8_t(~bit);
    SendMute();
}

void SettingsPages::CheckBoxMuteLClick() { MuteClick(false); }
void SettingsPages::CheckBoxMuteRClick() { MuteClick(true); }

// ---- loading from the image ----

void SettingsPages::LoadSettings()
{
    const DspParamsImage& p = DspParams;
    // A track bar clamps to its range and reacts only when its position
    // moves; each reaction may rewrite the image, so every value is read from
    // DspParams at the moment its control is set.
    auto set = [](QSlider* bar, int value) { bar->setValue(std::clamp(value, bar->minimum(), bar->maximum())); };

    set(TrackBarMicTH, p.Dyn[0].Threshold);
    set(TrackBarMicAttack, p.Dyn[0].Attack);
    set(TrackBarMicRelease, p.Dyn[0].Release);
    set(TrackBarMicRatio, p.Dyn[0].Ratio);
    set(TrackBarMicNS, (p.NoiseGate[0] - NoiseGateOff) / NoiseGateStep);

    const auto group = OutputGroup();
    if (group) {
        const int left = LeftLine[std::size_t(*group)];
        const int right = RightLine[std::size_t(*group)];
        set(TrackBarDelayL, p.Delay[std::size_t(left)]);
        if (right >= 0)
            set(TrackBarDelayR, p.Delay[std::size_t(right)]);
        CheckBoxMuteL->setChecked((p.Mute >> left) & 1);
        if (right >= 0)
            CheckBoxMuteR->setChecked((p.Mute >> right) & 1);
    }

    // MIC, MUSIC and EFFECT show output group 0 on the hidden OUT page.
    const std::size_t n = std::size_t(group.value_or(0));
    set(TrackBarOutTH, p.Dyn[n + 1].Threshold);
    set(TrackBarOutAT, p.Dyn[n + 1].Attack);
    set(TrackBarOutRT, p.Dyn[n + 1].Release);
    set(TrackBarOutRatio, p.Dyn[n + 1].Ratio);

    set(TrackBarFS, p.Fbx);
    set(TrackBarPS, p.Pitch);

    RadioGroupInput->SetItemIndex(std::clamp(int(p.Input), 0, RadioGroupInput->Count() - 1));

    for (const MixControl& mix : mix_)
        set(mix.bar, p.OutMix[n].*mix.field & MixLevelMask);

    set(TrackBarEchoPreL, p.Echo.PreDelay);
    set(TrackBarDelay, p.Echo.Delay);
    set(TrackBarRepeat, p.Echo.Repeat);
    set(TrackBarDamp, p.Echo.Damp);

    set(TrackBarReverbPreDelay, p.Reverb.PreDelay);
    set(TrackBarReverbEarlyVol, p.Reverb.EarlyLate);
    set(TrackBarReverbTime, p.Reverb.Time);
    set(TrackBarReverbDamp, p.Reverb.Damp);

    RewriteShownLabels();
}

void SettingsPages::RewriteShownLabels()
{
    // Bars that did not move ran no reaction; their labels are written here
    // as their reaction would write them for the current channel.
    const QString dp = DecimalPoint();
    const auto group = OutputGroup();
    switch (EqChannel(channel_)) {
    case EqChannel::MIC:
        LabelMicTH->setText(ThresholdText(TrackBarMicTH->value(), dp));
        LabelMicAttack->setText(MsText(TrackBarMicAttack->value()));
        LabelMicRelease->setText(ReleaseText(TrackBarMicRelease->value()));
        LabelMicRatio->setText(QString::number(TrackBarMicRatio->value()));
        LabelFS->setText(OffOrNumber(TrackBarFS->value()));
        LabelMicNS->setText(OffOrNumber(TrackBarMicNS->value()));
        break;
    case EqChannel::MUSIC:
        LabelPS->setText(PitchText(TrackBarPS->value()));
        break;
    case EqChannel::EFFECT:
        LabelEchoPreDelay->setText(MsText(TrackBarEchoPreL->value()));
        LabelEchoDelay->setText(MsText(TrackBarDelay->value()));
        LabelEchoRepeat->setText(PercentText(TrackBarRepeat->value()));
        LabelEchoDamp->setText(PercentText(TrackBarDamp->value()));
        LabelReverbPreDelay->setText(MsText(TrackBarReverbPreDelay->value()));
        LabelReverbEarlyVol->setText(PercentText(TrackBarReverbEarlyVol->value()));
        LabelReverbTime->setText(PercentText(TrackBarReverbTime->value()));
        LabelReverbDamp->setText(PercentText(TrackBarReverbDamp->value()));
        break;
    default:
        if (!group)
            break;
        for (const MixControl& mix : mix_) {
            const std::uint8_t sign = DspParams.OutMix[std::size_t(*group)].*mix.field & MixSignBit;
            mix.label->setText(MixText(std::uint8_t(sign | mix.bar->value())));
        }
        LabelOutTH->setText(ThresholdText(TrackBarOutTH->value(), dp));
        LabelOutAT->setText(MsText(TrackBarOutAT->value()));
        LabelOutRT->setText(ReleaseText(TrackBarOutRT->value()));
        LabelOutRatio->setText(QString::number(TrackBarOutRatio->value()));
        WriteDelayLabel(false, TrackBarDelayL->value());
        if (RightLine[std::size_t(*group)] >= 0)
            WriteDelayLabel(true, TrackBarDelayR->value());
        break;
    }
}

} // namespace ktv

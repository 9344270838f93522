#include "editor/SettingsPages.h"

#include "editor/SettingsPagesWidgets.h"
#include "params/Commands.h"
#include "params/ImageFields.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <span>
#include <string_view>

namespace ktv {

struct SettingBinding {
    enum Kind : std::uint8_t { Bar, Check, Radio };
    // What a row addresses besides its own field: nothing, the current output
    // group, or the group's left or right output line. A row whose group or
    // line the channel lacks stores and sends nothing.
    enum Target : std::uint8_t { Fixed, Group, LeftLine, RightLine };
    // How a control's position and the stored field map onto each other.
    enum Map : std::uint8_t { Same, GateStep, MixLevel, MuteBit };
    enum Format : std::uint8_t { Threshold, Ms, Release, Number, OffOrNumber, Pitch, Percent, Mix, Delay };

    Kind kind = Bar;
    const char* control = nullptr; // object names
    const char* label = nullptr;   // none: the row has no value label
    const char* caption = nullptr; // untranslated; none: the value label is the caption
    int row = 0, column = 0;       // place in the page's layout
    Format format = Number;
    const char* initialText = nullptr; // label before the first change; none: formatted start
    Target target = Fixed;
    Map map = Same;
    // The image field the row stores into (params/ImageFields), and the
    // member of a record; the field's command sends it. The row's address
    // (the output group or line) picks the element `first` + address; a
    // mute bit's line picks the bit.
    const char* key = nullptr;
    const char* member = nullptr;
    int first = 0;
};

namespace {

using B = SettingBinding;
using Image = DspParamsImage;

enum Page { Mic, Music, Effect, Out, PageCount };

// Output lines each output group's delay and mute controls address; -1 where
// the group has no right-hand line.
constexpr std::array<int, OutputGroupCount> LeftLines{0, 2, 3, 4};
constexpr std::array<int, OutputGroupCount> RightLines{1, -1, -1, 5};

// Noise-gate steps 0..3 are stored as dB thresholds -84, -78, -72, -66.
constexpr int NoiseGateOff = -84;
constexpr int NoiseGateStep = 6;

// The music inputs as the radio group lists them.
QStringList InputItems()
{
    QStringList items;
    for (const char* name : InputNames)
        items << QString::fromLatin1(name);
    return items;
}

// A member of the echo record (shown in column 0) or of the reverb record
// (column 1); either record travels whole.
constexpr B EffectRow(const char* control, const char* label, const char* caption, bool echo, const char* member,
                      B::Format format)
{
    return {.control = control, .label = label, .caption = caption, .column = echo ? 0 : 1, .format = format,
            .key = echo ? "Echo" : "Reverb", .member = member};
}

// A level of the current group's output mix; its label shows the sign flag
// too and toggles it when clicked.
constexpr B MixRow(const char* control, const char* label, const char* caption, int row, const char* member)
{
    return {.control = control, .label = label, .caption = caption, .row = row, .format = B::Mix,
            .target = B::Group, .map = B::MixLevel, .key = "OutMix", .member = member};
}

// The four tables. They sit in the pages' translation context so that the
// captions are marked for translation where the pages look them up.
struct PageRows {
    Q_DECLARE_TR_FUNCTIONS(ktv::SettingsPages)

public:
    static constexpr B Mic[]{
        B{.control = "TrackBarMicTH", .label = "LabelMicTH", .caption = QT_TR_NOOP("Threshold"), .row = 0,
          .format = B::Threshold, .key = "Dyn", .member = "Threshold"},
        B{.control = "TrackBarMicAttack", .label = "LabelMicAttack", .caption = QT_TR_NOOP("Attack"), .row = 1,
          .format = B::Ms, .key = "Dyn", .member = "Attack"},
        B{.control = "TrackBarMicRelease", .label = "LabelMicRelease", .caption = QT_TR_NOOP("Release"), .row = 2,
          .format = B::Release, .key = "Dyn", .member = "Release"},
        B{.control = "TrackBarMicRatio", .label = "LabelMicRatio", .caption = QT_TR_NOOP("Ratio"), .row = 3,
          .key = "Dyn", .member = "Ratio"},
        B{.control = "TrackBarFS", .label = "LabelFS", .caption = QT_TR_NOOP("FBX"), .row = 4,
          .format = B::OffOrNumber, .initialText = "0", .key = "Fbx"},
        B{.control = "TrackBarMicNS", .label = "LabelMicNS", .caption = QT_TR_NOOP("NoiseGate"), .row = 5,
          .format = B::OffOrNumber, .initialText = "0", .map = B::GateStep, .key = "NoiseGate"},
    };

    static constexpr B Music[]{
        B{.control = "TrackBarPS", .label = "LabelPS", .caption = QT_TR_NOOP("PITCH"), .row = 0, .format = B::Pitch,
          .initialText = "0", .key = "Pitch"},
        B{.kind = B::Radio, .control = "RadioGroupInput", .caption = QT_TR_NOOP("INPUT"), .row = 1, .key = "Input"},
    };

    static constexpr B Effect[]{
        EffectRow("TrackBarEchoPreL", "LabelEchoPreDelay", QT_TR_NOOP("PreDelay:"), true, "PreDelay", B::Ms),
        EffectRow("TrackBarDelay", "LabelEchoDelay", QT_TR_NOOP("Delay:"), true, "Delay", B::Ms),
        EffectRow("TrackBarRepeat", "LabelEchoRepeat", QT_TR_NOOP("Repeat:"), true, "Repeat", B::Percent),
        EffectRow("TrackBarDamp", "LabelEchoDamp", QT_TR_NOOP("Damp:"), true, "Damp", B::Percent),
        EffectRow("TrackBarReverbPreDelay", "LabelReverbPreDelay", QT_TR_NOOP("PreDelay:"), false, "PreDelay", B::Ms),
        EffectRow("TrackBarReverbEarlyVol", "LabelReverbEarlyVol", QT_TR_NOOP("Early:Late"), false, "EarlyLate", B::Percent),
        EffectRow("TrackBarReverbTime", "LabelReverbTime", QT_TR_NOOP("Time:"), false, "Time", B::Percent),
        EffectRow("TrackBarReverbDamp", "LabelReverbDamp", QT_TR_NOOP("Damp:"), false, "Damp", B::Percent),
    };

    // The mix column (0), the limiter column (3), and under them the left and
    // right output lines. The groups' limiters follow the MIC's.
    static constexpr B Out[]{
        MixRow("TrackBarOutMicVol", "LabelOutMicVol", QT_TR_NOOP("MicVol:"), 0, "MicVol"),
        MixRow("TrackBarOutMusicVol", "LabelOutMusicVol", QT_TR_NOOP("MusicVol:"), 1, "MusicVol"),
        MixRow("TrackBarOutEchoVol", "LabelOutEchoVol", QT_TR_NOOP("EchoVol:"), 2, "EchoVol"),
        MixRow("TrackBarOutReverbVol", "LabelOutReverbVol", QT_TR_NOOP("ReverbVol:"), 3, "ReverbVol"),
        B{.control = "TrackBarOutTH", .label = "LabelOutTH", .caption = QT_TR_NOOP("Threshold"), .row = 0,
          .column = 3, .format = B::Threshold, .target = B::Group, .key = "Dyn", .member = "Threshold", .first = 1},
        B{.control = "TrackBarOutAT", .label = "LabelOutAT", .caption = QT_TR_NOOP("Attack"), .row = 1, .column = 3,
          .format = B::Ms, .target = B::Group, .key = "Dyn", .member = "Attack", .first = 1},
        B{.control = "TrackBarOutRT", .label = "LabelOutRT", .caption = QT_TR_NOOP("Release"), .row = 2, .column = 3,
          .format = B::Release, .target = B::Group, .key = "Dyn", .member = "Release", .first = 1},
        B{.control = "TrackBarOutRatio", .label = "LabelOutRatio", .caption = QT_TR_NOOP("Ratio"), .row = 3,
          .column = 3, .initialText = "100", .target = B::Group, .key = "Dyn", .member = "Ratio", .first = 1},
        B{.control = "TrackBarDelayL", .label = "LabelDelayL", .row = 4, .format = B::Delay, .target = B::LeftLine,
          .key = "Delay"},
        B{.kind = B::Check, .control = "CheckBoxMuteL", .caption = QT_TR_NOOP("Mute"), .row = 5, .column = 2,
          .target = B::LeftLine, .map = B::MuteBit, .key = "Mute"},
        B{.control = "TrackBarDelayR", .label = "LabelDelayR", .row = 4, .column = 3, .format = B::Delay,
          .target = B::RightLine, .key = "Delay"},
        B{.kind = B::Check, .control = "CheckBoxMuteR", .caption = QT_TR_NOOP("Mute"), .row = 5, .column = 5,
          .target = B::RightLine, .map = B::MuteBit, .key = "Mute"},
    };
};

constexpr std::array<std::span<const B>, PageCount> Tables{PageRows::Mic, PageRows::Music, PageRows::Effect,
                                                           PageRows::Out};
constexpr std::size_t RowCount = [] {
    std::size_t n = 0;
    for (const auto rows : Tables)
        n += rows.size();
    return n;
}();

// Every row names a field of the image, and a member where the field is a record.
constexpr bool RowsBind()
{
    // By reference, never by a pointer compared with null: instrumented
    // builds cannot evaluate that while compiling.
    auto binds = [](const B& b, const ImageField& f) {
        if (!b.member != !f.Members.front().Key)
            return false;
        return !b.member || std::any_of(f.Members.begin(), f.Members.end(), [&](const FieldMember& m) {
                   return std::string_view(m.Key) == b.member;
               });
    };
    for (const auto rows : Tables)
        for (const B& b : rows)
            if (std::none_of(std::begin(fields::Table), std::end(fields::Table),
                             [&](const ImageField& f) { return f.Key == std::string_view(b.key) && binds(b, f); }))
                return false;
    return true;
}
static_assert(RowsBind(), "each settings row binds to an image field");

const B& BindingOf(SettingRow row) { return Tables[std::size_t(row.page)][std::size_t(row.index)]; }

// The row of a control, found while compiling: a name no table holds does not
// compile.
constexpr SettingRow FindRow(std::string_view control)
{
    for (int page = 0; page < PageCount; ++page)
        for (std::size_t i = 0; i < Tables[std::size_t(page)].size(); ++i)
            if (Tables[std::size_t(page)][i].control == control)
                return {page, int(i)};
    throw "no settings row has this control";
}
consteval SettingRow Locate(std::string_view control) { return FindRow(control); }

// LoadSettings' sequence, the order the box receives the commands of a load
// in. A new row goes in where its command should go; the sequence must name
// every row once.
constexpr std::string_view LoadOrder[]{
    "TrackBarMicTH", "TrackBarMicAttack", "TrackBarMicRelease", "TrackBarMicRatio", "TrackBarMicNS",
    "TrackBarDelayL", "TrackBarDelayR", "CheckBoxMuteL", "CheckBoxMuteR",
    "TrackBarOutTH", "TrackBarOutAT", "TrackBarOutRT", "TrackBarOutRatio",
    "TrackBarFS", "TrackBarPS", "RadioGroupInput",
    "TrackBarOutMicVol", "TrackBarOutMusicVol", "TrackBarOutEchoVol", "TrackBarOutReverbVol",
    "TrackBarEchoPreL", "TrackBarDelay", "TrackBarRepeat", "TrackBarDamp",
    "TrackBarReverbPreDelay", "TrackBarReverbEarlyVol", "TrackBarReverbTime", "TrackBarReverbDamp",
};
static_assert(std::size(LoadOrder) == RowCount, "the load sequence names every row");

constexpr auto LoadSequence = [] {
    std::array<SettingRow, RowCount> order{};
    for (std::size_t n = 0; n < RowCount; ++n) {
        order[n] = FindRow(LoadOrder[n]);
        for (std::size_t m = 0; m < n; ++m)
            if (LoadOrder[m] == LoadOrder[n])
                throw "the load sequence names a row twice";
    }
    return order;
}();

// The field and member a row stores into (RowsBind has checked they exist).
struct Source {
    const ImageField* field;
    const FieldMember* member;
};

Source SourceOf(const B& b)
{
    const ImageField* f = FieldByKey(b.key);
    if (!f)
        std::abort();
    if (!b.member)
        return {f, &f->Members.front()};
    for (const FieldMember& m : f->Members)
        if (std::string_view(m.Key) == b.member)
            return {f, &m};
    std::abort();
}

int ElementOf(const B& b, int at) { return b.map == B::MuteBit ? b.first : b.first + at; }

ValueRef FieldOf(const B& b, int at)
{
    const Source s = SourceOf(b);
    return MemberRef(*s.field, *s.member, DspParams, ElementOf(b, at));
}

void Send(const B& b, int at)
{
    const ImageField& f = *SourceOf(b).field;
    SendFieldCommand(f.Command, std::uint8_t(f.Indexed ? ElementOf(b, at) : 0));
}

// A control's range: the field's, in control positions.
std::pair<int, int> RangeOf(const B& b)
{
    const FieldMember& m = *SourceOf(b).member;
    switch (b.map) {
    case B::GateStep:
        return {0, (m.Max - NoiseGateOff) / NoiseGateStep};
    case B::MuteBit:
        return {0, 1};
    case B::MixLevel:
    case B::Same:
        break;
    }
    return {m.Min, m.Max};
}

// The control position a stored field shows as; `at` is the line of a mute bit.
int PositionOf(const B& b, int stored, int at)
{
    switch (b.map) {
    case B::GateStep:
        return (stored - NoiseGateOff) / NoiseGateStep;
    case B::MixLevel:
        return stored & MixLevelMask;
    case B::MuteBit:
        return (stored >> at) & 1;
    case B::Same:
        break;
    }
    return stored;
}

// The field a control position stores, given the field before: a mix level
// moves under its sign flag, a mute bit leaves the other lines' bits.
int StoredOf(const B& b, int before, int position, int at)
{
    switch (b.map) {
    case B::GateStep:
        return NoiseGateStep * position + NoiseGateOff;
    case B::MixLevel:
        return (before & MixSignBit) | position;
    case B::MuteBit:
        return position ? before | (1 << at) : before & ~(1 << at);
    case B::Same:
        break;
    }
    return position;
}

int ValueOf(const B& b, QWidget* control)
{
    switch (b.kind) {
    case B::Check:
        return static_cast<QCheckBox*>(control)->isChecked() ? 1 : 0;
    case B::Radio:
        return static_cast<RadioGroup*>(control)->ItemIndex();
    case B::Bar:
        break;
    }
    return static_cast<QSlider*>(control)->value();
}

// A control reacts only when its value moves, as a user's change would.
void SetValue(const B& b, QWidget* control, int value)
{
    const auto [min, max] = RangeOf(b);
    value = std::clamp(value, min, max);
    switch (b.kind) {
    case B::Check:
        static_cast<QCheckBox*>(control)->setChecked(value != 0);
        return;
    case B::Radio:
        static_cast<RadioGroup*>(control)->SetItemIndex(value);
        return;
    case B::Bar:
        static_cast<QSlider*>(control)->setValue(value);
        return;
    }
}

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

SettingsPages::SettingsPages(QWidget* parent) : QTabWidget(parent)
{
    setObjectName("PageControlSet");
    BuildGridPage(Mic, "GroupBoxLimitor");
    BuildGridPage(Music, "GroupBoxMusic");
    BuildEffectPage();
    BuildGridPage(Out, "GroupBox15");
    addTab(pages_[Mic].sheet, tr("MIC"));
    addTab(pages_[Music].sheet, tr("MUSIC"));
    addTab(pages_[Effect].sheet, tr("EFFECT"));
    addTab(pages_[Out].sheet, tr("OUT"));
    // The page always follows the channel; the user never picks one.
    tabBar()->hide();
    setCurrentIndex(0);
}

// ---- building ----

SettingsPages::Control& SettingsPages::MakeControl(SettingRow row, QWidget* parent)
{
    const B& b = BindingOf(row);
    Control& c = pages_[std::size_t(row.page)].controls[std::size_t(row.index)];
    // Range and start are set before the reaction is connected, so building
    // runs no reaction.
    switch (b.kind) {
    case B::Bar: {
        auto* bar = new QSlider(Qt::Horizontal, parent);
        const auto [min, max] = RangeOf(b);
        bar->setRange(min, max);
        bar->setSingleStep(1);
        bar->setTickPosition(QSlider::NoTicks);
        bar->setValue(0); // clamped into the range
        bar->setMinimumWidth(70);
        connect(bar, &QSlider::valueChanged, this, [this, row] { React(row); });
        c.widget = bar;
        break;
    }
    case B::Check: {
        auto* check = new QCheckBox(tr(b.caption), parent);
        connect(check, &QCheckBox::toggled, this, [this, row] { React(row); });
        c.widget = check;
        break;
    }
    case B::Radio: {
        auto* group = new RadioGroup(QString(), InputItems(), parent);
        group->SetItemIndex(0);
        connect(group, &RadioGroup::itemIndexChanged, this, [this, row] { React(row); });
        c.widget = group;
        break;
    }
    }
    c.widget->setObjectName(b.control);
    if (!b.label)
        return c;

    const int start = ValueOf(b, c.widget);
    QString text;
    if (b.initialText)
        text = b.initialText;
    else if (b.format == B::Delay) // both lines named until a channel is shown
        text = (b.target == B::RightLine ? tr("Delay R:") : tr("Delay L:")) + MsText(start);
    else
        text = LabelText(b, start, start);
    if (b.format == B::Mix) {
        auto* label = new ClickLabel(text, parent);
        label->setObjectName(b.label);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("-100")) + 6);
        label->setCursor(Qt::PointingHandCursor);
        label->setToolTip(tr("Click to invert the sign"));
        connect(label, &ClickLabel::clicked, this, [this, row] { ToggleMixSign(row); });
        c.label = label;
    } else {
        c.label = ValueLabel(b.label, text, parent);
    }
    return c;
}

// A grid row: caption, control and value label side by side; a control
// without a value label takes the label's cell too. A row without a caption
// has its value label above the control, a check box stands alone.
void SettingsPages::BuildGridPage(int page, const char* boxName)
{
    Page& p = pages_[std::size_t(page)];
    p.sheet = new QWidget(this);
    p.sheet->setObjectName(QStringLiteral("TabSheet%1").arg(page + 1));
    auto* box = new QGroupBox(p.sheet);
    box->setObjectName(boxName);
    auto* grid = new QGridLayout(box);
    const auto rows = Tables[std::size_t(page)];
    p.controls.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const B& b = rows[i];
        const Control& c = MakeControl({page, int(i)}, box);
        if (b.kind == B::Check) {
            grid->addWidget(c.widget, b.row, b.column);
        } else if (!b.caption) {
            grid->addWidget(c.label, b.row, b.column, 1, 3);
            grid->addWidget(c.widget, b.row + 1, b.column, 1, 2);
        } else {
            grid->addWidget(new QLabel(tr(b.caption), box), b.row, b.column,
                            b.kind == B::Radio ? Qt::AlignTop : Qt::Alignment());
            grid->addWidget(c.widget, b.row, b.column + 1, 1, c.label ? 1 : 2);
            if (c.label)
                grid->addWidget(c.label, b.row, b.column + 2);
        }
    }
    grid->setRowStretch(grid->rowCount(), 1);

    auto* layout = new QVBoxLayout(p.sheet);
    layout->addWidget(box);
}

// Two boxes, echo and reverb; each row is its caption with the value label
// to its right, the bar below.
void SettingsPages::BuildEffectPage()
{
    Page& p = pages_[Effect];
    p.sheet = new QWidget(this);
    p.sheet->setObjectName("TabSheet3");
    auto* echo = new QGroupBox(tr("Echo"), p.sheet);
    echo->setObjectName("GroupBoxEcho");
    auto* reverb = new QGroupBox(tr("Reverb"), p.sheet);
    reverb->setObjectName("GroupBox16");
    QGroupBox* boxes[]{echo, reverb};
    QVBoxLayout* columns[]{new QVBoxLayout(echo), new QVBoxLayout(reverb)};

    p.controls.resize(std::size(PageRows::Effect));
    for (std::size_t i = 0; i < std::size(PageRows::Effect); ++i) {
        const B& b = PageRows::Effect[i];
        QGroupBox* box = boxes[b.column];
        const Control& c = MakeControl({Effect, int(i)}, box);
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(tr(b.caption), box));
        line->addWidget(c.label);
        line->addStretch();
        columns[b.column]->addLayout(line);
        columns[b.column]->addWidget(c.widget);
    }
    for (QVBoxLayout* column : columns)
        column->addStretch();
    auto* layout = new QHBoxLayout(p.sheet);
    layout->addWidget(echo);
    layout->addWidget(reverb);
}

// ---- the channel ----

void SettingsPages::SetChannel(EqChannel channel)
{
    channel_ = std::uint8_t(channel);
    const int page = channel <= EqChannel::EFFECT ? int(channel) : Out;
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
    for (std::size_t i = 0; i < std::size(PageRows::Out); ++i) {
        if (PageRows::Out[i].target != B::RightLine)
            continue;
        const Control& c = pages_[Out].controls[i];
        c.widget->setVisible(visible);
        if (c.label)
            c.label->setVisible(visible);
    }
}

std::optional<int> SettingsPages::OutputGroup() const
{
    if (channel_ >= std::uint8_t(EqChannel::MAIN) && channel_ <= std::uint8_t(EqChannel::SRS))
        return int(channel_) - int(EqChannel::MAIN);
    return std::nullopt;
}

std::optional<int> SettingsPages::Address(const B& b) const
{
    if (b.target == B::Fixed)
        return 0;
    const auto group = OutputGroup();
    if (!group || b.target == B::Group)
        return group;
    const int line = (b.target == B::RightLine ? RightLines : LeftLines)[std::size_t(*group)];
    return line >= 0 ? std::optional<int>(line) : std::nullopt;
}

// ---- labels ----

QString SettingsPages::LabelText(const B& b, int position, int stored) const
{
    switch (b.format) {
    case B::Threshold:
        return ThresholdText(position, DecimalPoint());
    case B::Ms:
        return MsText(position);
    case B::Release:
        return ReleaseText(position);
    case B::Number:
        return QString::number(position);
    case B::OffOrNumber:
        return OffOrNumber(position);
    case B::Pitch:
        return PitchText(position);
    case B::Percent:
        return PercentText(position);
    case B::Mix:
        return MixText(std::uint8_t((stored & MixSignBit) | position));
    case B::Delay:
        break;
    }
    const auto group = OutputGroup();
    QString prefix;
    if (b.target == B::RightLine)
        prefix = tr("Delay R:");
    else if (group && RightLines[std::size_t(*group)] >= 0)
        prefix = tr("Delay L:");
    else
        prefix = tr("Delay:");
    return prefix + DelayMsText(position, DecimalPoint());
}

void SettingsPages::RewriteShownLabels()
{
    // Controls that did not move ran no reaction; their labels are written
    // here as their reaction would write them for the current channel.
    const int page = currentIndex();
    const auto rows = Tables[std::size_t(page)];
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const B& b = rows[i];
        const Control& c = pages_[std::size_t(page)].controls[i];
        const auto at = Address(b);
        if (!c.label || !at)
            continue;
        c.label->setText(LabelText(b, ValueOf(b, c.widget), ReadValue(FieldOf(b, *at))));
    }
}

// ---- reactions ----

void SettingsPages::React(SettingRow row)
{
    const B& b = BindingOf(row);
    const auto at = Address(b);
    if (!at)
        return;
    const Control& c = pages_[std::size_t(row.page)].controls[std::size_t(row.index)];
    const int position = ValueOf(b, c.widget);
    if (b.kind == B::Radio && position < 0)
        return; // nothing selected
    const ValueRef field = FieldOf(b, *at);
    const int stored = StoredOf(b, ReadValue(field), position, *at);
    WriteValue(field, stored);
    if (c.label)
        c.label->setText(LabelText(b, position, stored));
    Send(b, *at);
}

void SettingsPages::ToggleMixSign(SettingRow row)
{
    const B& b = BindingOf(row);
    const auto at = Address(b);
    if (!at)
        return;
    const ValueRef field = FieldOf(b, *at);
    const int stored = ReadValue(field) ^ MixSignBit;
    WriteValue(field, stored);
    pages_[Out].controls[std::size_t(row.index)].label->setText(LabelText(b, PositionOf(b, stored, *at), stored));
    Send(b, *at);
}

void SettingsPages::TrackBarMicTHChange() { React(Locate("TrackBarMicTH")); }
void SettingsPages::TrackBarMicAttackChange() { React(Locate("TrackBarMicAttack")); }
void SettingsPages::TrackBarMicReleaseChange() { React(Locate("TrackBarMicRelease")); }
void SettingsPages::TrackBarMicRatioChange() { React(Locate("TrackBarMicRatio")); }
void SettingsPages::TrackBarFSChange() { React(Locate("TrackBarFS")); }
void SettingsPages::TrackBarMicNSChange() { React(Locate("TrackBarMicNS")); }
void SettingsPages::TrackBarPSChange() { React(Locate("TrackBarPS")); }
void SettingsPages::RadioGroupInputClick() { React(Locate("RadioGroupInput")); }
void SettingsPages::TrackBarEchoPreLChange() { React(Locate("TrackBarEchoPreL")); }
void SettingsPages::TrackBarDelayChange() { React(Locate("TrackBarDelay")); }
void SettingsPages::TrackBarRepeatChange() { React(Locate("TrackBarRepeat")); }
void SettingsPages::TrackBarDampChange() { React(Locate("TrackBarDamp")); }
void SettingsPages::TrackBarReverbPreDelayChange() { React(Locate("TrackBarReverbPreDelay")); }
void SettingsPages::TrackBarReverbEarlyVolChange() { React(Locate("TrackBarReverbEarlyVol")); }
void SettingsPages::TrackBarReverbTimeChange() { React(Locate("TrackBarReverbTime")); }
void SettingsPages::TrackBarReverbDampChange() { React(Locate("TrackBarReverbDamp")); }
void SettingsPages::TrackBarOutMicVolChange() { React(Locate("TrackBarOutMicVol")); }
void SettingsPages::TrackBarOutMusicVolChange() { React(Locate("TrackBarOutMusicVol")); }
void SettingsPages::TrackBarOutEchoVolChange() { React(Locate("TrackBarOutEchoVol")); }
void SettingsPages::TrackBarOutReverbVolChange() { React(Locate("TrackBarOutReverbVol")); }
void SettingsPages::LabelOutMicVolClick() { ToggleMixSign(Locate("TrackBarOutMicVol")); }
void SettingsPages::LabelOutMusicVolClick() { ToggleMixSign(Locate("TrackBarOutMusicVol")); }
void SettingsPages::LabelOutEchoVolClick() { ToggleMixSign(Locate("TrackBarOutEchoVol")); }
void SettingsPages::LabelOutReverbVolClick() { ToggleMixSign(Locate("TrackBarOutReverbVol")); }
void SettingsPages::TrackBarOutTHChange() { React(Locate("TrackBarOutTH")); }
void SettingsPages::TrackBarOutATChange() { React(Locate("TrackBarOutAT")); }
void SettingsPages::TrackBarOutRTChange() { React(Locate("TrackBarOutRT")); }
void SettingsPages::TrackBarOutRatioChange() { React(Locate("TrackBarOutRatio")); }
void SettingsPages::TrackBarDelayLChange() { React(Locate("TrackBarDelayL")); }
void SettingsPages::TrackBarDelayRChange() { React(Locate("TrackBarDelayR")); }
void SettingsPages::CheckBoxMuteLClick() { React(Locate("CheckBoxMuteL")); }
void SettingsPages::CheckBoxMuteRClick() { React(Locate("CheckBoxMuteR")); }

// ---- loading from the image ----

void SettingsPages::LoadSettings()
{
    // A control reacts only when its value moves, and each reaction may
    // rewrite the image, so every value is read from DspParams at the moment
    // its control is set.
    for (const SettingRow row : LoadSequence) {
        const B& b = BindingOf(row);
        auto at = Address(b);
        // MIC, MUSIC and EFFECT show output group 0 on the hidden OUT page;
        // delays and mutes of lines the channel lacks are left alone.
        if (!at && b.target == B::Group)
            at = 0;
        if (!at)
            continue;
        const int stored = ReadValue(FieldOf(b, *at));
        SetValue(b, pages_[std::size_t(row.page)].controls[std::size_t(row.index)].widget, PositionOf(b, stored, *at));
    }
    RewriteShownLabels();
}

} // namespace ktv

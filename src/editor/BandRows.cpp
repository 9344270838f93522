#include "editor/BandRows.h"

#include "base/UserInterface.h"
#include "dsp/Filter.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

namespace ktv {

namespace {

constexpr int LineHeight = 30; // one control line of a band row
constexpr int EditWidth = 66;
constexpr int RowWidth = 92; // the narrowest a row is, whatever the font
constexpr int RowMargin = 2;   // beside the fields of a row
constexpr int ArrowWidth = 12; // the type field's drop-down arrow

constexpr const char* UnsentKey = "ktvUnsent"; // the row's band did not reach the box

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

// The types after the first five (codes 5 and 6): boxes, presets and
// filter files set them, and the rows offer them as well.
constexpr const char* LaterTypes[] = {
    QT_TRANSLATE_NOOP("ktv::FilterType", "Band Pass"),
    QT_TRANSLATE_NOOP("ktv::FilterType", "Notch"),
};

// The types a shown row's list offers: every type the box has.
constexpr int RowTypeCount = int(FilterTypeNames.size() + std::size(LaterTypes));
static_assert(RowTypeCount == int(FilterTypeTexts.size()));

} // namespace

QString FilterTypeText(std::size_t code)
{
    if (code >= FilterTypeNames.size()) {
        const std::size_t other = code - FilterTypeNames.size();
        return other < std::size(LaterTypes) ? QCoreApplication::translate("ktv::FilterType", LaterTypes[other])
                                             : QString();
    }
    const std::string name(FilterTypeNames[code]);
    return QCoreApplication::translate("ktv::FilterType", name.c_str());
}

namespace {

// Fusion gives a combo box's arrow 19 px, which in a row this narrow
// leaves a type's name too little room ("ow Pass"). The type fields draw a
// narrower arrow and give their text what that frees.
class TypeFieldStyle : public QProxyStyle {
public:
    explicit TypeFieldStyle(const QString& key) : QProxyStyle(key) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override
    {
        QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control != CC_ComboBox || (sub != SC_ComboBoxArrow && sub != SC_ComboBoxEditField))
            return r;
        const int spare = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget).width() - ArrowWidth;
        if (spare <= 0)
            return r;
        const bool leftArrow = option->direction == Qt::RightToLeft;
        if (sub == SC_ComboBoxArrow)
            leftArrow ? r.setRight(r.right() - spare) : r.setLeft(r.left() + spare);
        else
            leftArrow ? r.setLeft(r.left() - spare) : r.setRight(r.right() + spare);
        return r;
    }
};

// One for every type field, of the application's kind of style; it lives
// as long as the application, as the fields may.
QStyle* TypeFieldStyleOf(const QStyle* application)
{
    static QPointer<QStyle> made;
    static QString madeFrom;
    QString key = application->name();
    if (key.isEmpty())
        key = QStringLiteral("Fusion");
    if (!made || madeFrom != key) {
        made = new TypeFieldStyle(key);
        made->setParent(qApp);
        madeFrom = key;
    }
    return made;
}

// The width a type field needs to show every name whole in its font: what
// its line edit needs around the text (two pixels each side and the cursor,
// or it scrolls the start out of sight) and what the style takes for the
// frame and the arrow.
int TypeFieldWidth(const QComboBox* type)
{
    const QFontMetricsF fm(type->font());
    double text = 0;
    for (std::size_t code = 0; code < 7; ++code) // rows 8..14 ("Parametric") are never shown
        text = std::max(text, fm.horizontalAdvance(FilterTypeText(code)));
    const int needs = int(std::ceil(text)) + 2 * 2 + 1;
    QStyleOptionComboBox option;
    option.initFrom(type);
    option.editable = true;
    option.frame = true;
    option.rect = QRect(0, 0, 400, type->height());
    const QRect edit = type->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, type);
    return needs + option.rect.width() - edit.width();
}

// The type field takes only what leads to one of its list's names (in any
// case), so no free text is ever left standing in it.
class TypeNameValidator : public QValidator {
public:
    explicit TypeNameValidator(QComboBox* type) : QValidator(type), type_(type) {}

    State validate(QString& input, int&) const override
    {
        if (input.isEmpty())
            return Intermediate;
        State best = Invalid;
        for (int i = 0; i < type_->count(); ++i) {
            const QString name = type_->itemText(i);
            if (name.compare(input, Qt::CaseInsensitive) == 0)
                return Acceptable;
            if (name.startsWith(input, Qt::CaseInsensitive))
                best = Intermediate;
        }
        return best;
    }

private:
    QComboBox* type_;
};

// A name wider than its field shows its start, not its end.
void ShowStart(QComboBox* type)
{
    if (type->lineEdit() && !type->lineEdit()->hasFocus())
        type->lineEdit()->setCursorPosition(0);
}

// Name of the arrow pair of `field` in row r, as the form names them.
QString ArrowName(int r, BandField field)
{
    const int which = int(field);
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

BandRows::BandRows(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    // Row captions, aligned with the lines of the band rows.
    auto* captions = new QGroupBox(this);
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

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("ScrollBox1");
    scroll_->setWidgetResizable(true);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setFrameShape(QFrame::NoFrame);
    auto* strip = new QWidget(scroll_);
    strip->setObjectName("ScrollBoxContent");
    strip_ = new QHBoxLayout(strip);
    strip_->setContentsMargins(0, 0, 0, 0);
    strip_->setSpacing(4);
    // Rows 8..14 are never shown; they are built after the first paint
    // (BuildHiddenRows) so that the window appears sooner.
    for (int r = 1; r <= ShownRows; ++r)
        strip_->addWidget(BuildRow(r, strip));
    strip_->addStretch(1);
    scroll_->setWidget(strip);
    layout->addWidget(scroll_, 1);

    for (int r = 1; r <= ShownRows; ++r)
        WireRow(r);
    connect(reset_, &QPushButton::clicked, this, &BandRows::resetClicked);
    connect(fenAll_, &QCheckBox::toggled, this, &BandRows::channelBypassToggled);
}

QGroupBox* BandRows::BuildRow(int r, QWidget* parent)
{
    Row& row = rows_[std::size_t(r)];
    row.box = new QGroupBox(parent);
    row.box->setObjectName(QStringLiteral("GroupBox%1").arg(r));
    auto* v = new QVBoxLayout(row.box);
    // Two pixels beside the fields: what the type field's name needs of the
    // row, the row has to take from the window's width.
    v->setContentsMargins(RowMargin, 4, RowMargin, 4);
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
    if (r <= ShownRows) {
        for (int i = 0; i < RowTypeCount; ++i)
            row.type->addItem(FilterTypeText(std::size_t(i)));
    } else {
        for (std::size_t i = 0; i < FilterTypeNames.size(); ++i)
            row.type->addItem(i == 2 ? tr("Parametric") : FilterTypeText(i));
    }
    row.type->setValidator(new TypeNameValidator(row.type));
    row.type->setStyle(TypeFieldStyleOf(QApplication::style()));
    row.type->setCurrentIndex(2);
    row.type->setFixedHeight(LineHeight - 4);
    // At the window's font every name fits a row of RowWidth; a larger font
    // widens the rows rather than cutting the names.
    if (!rowWidth_) {
        const QMargins frame = row.box->contentsMargins();
        rowWidth_ = std::max(RowWidth, TypeFieldWidth(row.type) + 2 * RowMargin + frame.left() + frame.right());
    }
    row.box->setFixedWidth(rowWidth_);
    v->addSpacing(2);
    v->addWidget(row.type);
    v->addSpacing(2);

    auto addLine = [&](BandField field, const QString& editName, const QString& initial) {
        auto* line = new QWidget(row.box);
        line->setFixedHeight(LineHeight);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(1);
        NumberEdit* edit = new NumberEdit(line);
        edit->setObjectName(editName);
        edit->setText(initial);
        edit->setFixedWidth(EditWidth);
        edit->setFixedHeight(LineHeight - 6);
        auto* arrows = new ArrowPair(line);
        arrows->setObjectName(ArrowName(r, field));
        arrows->setFixedSize(16, LineHeight);
        h->addWidget(edit);
        h->addWidget(arrows);
        h->addStretch(1);
        v->addWidget(line);
        row.edits[std::size_t(field)] = edit;
        row.arrows[std::size_t(field)] = arrows;
    };
    addLine(BandField::Fc, QStringLiteral("FcEdit%1").arg(r), "31.3");
    addLine(BandField::Gain, QStringLiteral("FGainEdit%1").arg(r), "0");
    addLine(BandField::Q, QStringLiteral("FQEdit%1").arg(r), "3.0");

    row.en = new QCheckBox(tr("Bypass"), row.box);
    row.en->setObjectName(QStringLiteral("FEn%1").arg(r));
    row.en->setFixedHeight(LineHeight);
    v->addWidget(row.en);
    v->addStretch(1);
    return row.box;
}

void BandRows::BuildHiddenRows()
{
    if (rows_[FormRows].box)
        return;
    for (int r = ShownRows + 1; r <= FormRows; ++r) {
        QGroupBox* box = BuildRow(r, strip_->parentWidget());
        box->hide();
        strip_->insertWidget(r - 1, box);
    }
}

void BandRows::WireRow(int r)
{
    const Row& row = At(r);
    connect(row.type, &TypeSelector::closedUp, this, [this, r] { emit typeChosen(r); });
    connect(row.en, &QCheckBox::toggled, this, [this, r] { emit bypassToggled(r); });
    for (const BandField field : {BandField::Fc, BandField::Gain, BandField::Q}) {
        connect(row.arrows[std::size_t(field)], &ArrowPair::arrow, this,
                [this, r, field](ArrowAction a) { emit arrowStepped(r, field, a); });
        NumberEdit* edit = row.edits[std::size_t(field)];
        connect(edit, &NumberEdit::exited, this, [this, r, field] { emit valueEntered(r, field); });
        edit->SetKeyFilter([this, r, field](char16_t key) { return !KeyFilter || KeyFilter(r, field, key); });
    }
}

void BandRows::FillAtCreation(int r, const PeqBand& band)
{
    const Row& row = At(r);
    const int code = band.Flags & FlagTypeMask;
    row.type->setEditText(FilterTypeText(std::size_t(code)));
    ShowStart(row.type);
    row.edits[0]->setText(FormatBandValue(band.Fc, FcPrecision));
    row.edits[1]->setText(FormatBandValue(band.Gain, GainPrecision));
    row.edits[2]->setText(FormatBandValue(band.Q, QPrecision));
    row.en->setChecked((band.Flags & FlagBandOn) == 0);
}

void BandRows::ShowCount(int count)
{
    for (int r = 1; r <= ShownRows; ++r)
        At(r).box->setVisible(r <= count);
    // The rows take the room they need; the settings page gets the rest.
    scroll_->setFixedWidth(std::min<int>(count, ShownRows) * (rowWidth_ + 4) + 2);
}

void BandRows::ShowBand(int r, const PeqBand& band)
{
    const Row& row = At(r);
    const int item = band.Flags & 0x07;
    if (item < row.type->count()) {
        row.type->setCurrentIndex(item);
        if (row.type->currentText() != row.type->itemText(item))
            row.type->setEditText(row.type->itemText(item));
    } else {
        row.type->setCurrentIndex(-1);
        row.type->setEditText(FilterTypeText(std::size_t(item)));
    }
    ShowStart(row.type);
    row.edits[0]->setText(FormatBandValue(band.Fc, FcPrecision));
    row.edits[1]->setText(FormatBandValue(band.Gain, GainPrecision));
    row.edits[2]->setText(FormatBandValue(band.Q, QPrecision));
}

void BandRows::ShowBypassed(int r, bool bypassed, bool quiet)
{
    const QSignalBlocker blocker(quiet ? At(r).en : nullptr);
    At(r).en->setChecked(bypassed);
}

void BandRows::ShowChannelBypassed(bool bypassed) { fenAll_->setChecked(bypassed); }

void BandRows::ShowUnsent(int r, bool unsent)
{
    QGroupBox* box = At(r).box;
    if (box->property(UnsentKey).toBool() == unsent)
        return;
    box->setProperty(UnsentKey, unsent);
    // The exchange panel's colour, around the row.
    box->setStyleSheet(unsent ? QStringLiteral("QGroupBox#%1 { border: 2px solid #f5c542; }").arg(box->objectName())
                              : QString());
    box->setToolTip(unsent ? tr("This band did not reach the box: the box may hold other values. "
                                "\"Write to dsp\" sends everything.")
                           : QString());
}

bool BandRows::Unsent(int r) const { return At(r).box->property(UnsentKey).toBool(); }

int BandRows::TypeCode(int r) const
{
    const TypeSelector* type = At(r).type;
    const QString text = type->currentText();
    for (int i = 0; i < type->count(); ++i)
        if (text.compare(type->itemText(i), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool BandRows::Bypassed(int r) const { return At(r).en->isChecked(); }

bool BandRows::ChannelBypassed() const { return fenAll_->isChecked(); }

NumberEdit* BandRows::Edit(int r, BandField field) const { return At(r).edits[std::size_t(field)]; }

bool BandRows::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == fenAll_ && event->type() == QEvent::MouseButtonRelease)
        Ui().SetStatus(StatusPanel::Device, "1");
    return QWidget::eventFilter(watched, event);
}

} // namespace ktv

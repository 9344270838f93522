#include "editor/EditorControls.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyleOption>

namespace ktv {

TypeSelector::TypeSelector(QWidget* parent) : QComboBox(parent)
{
    // Given an edit of our own the box is editable without building its
    // drop-down yet, and an edit that already has a completer keeps it from
    // making one of its own (a model and two proxies each) only to drop it:
    // seven of each made the window slow to appear.
    static QCompleter* const placeholder = new QCompleter(qApp);
    auto* edit = new QLineEdit(this);
    edit->setCompleter(placeholder);
    setLineEdit(edit);
    setInsertPolicy(QComboBox::NoInsert);
    // The text is exactly what was typed: the list that opens marks the
    // matching item instead of the text being completed to it.
    setCompleter(nullptr);
}

void TypeSelector::showPopup()
{
    // The list's view has the keyboard while it is shown. Asking for the
    // view builds the drop-down, so that waits until it is first needed:
    // building fourteen of them made the window slow to appear.
    if (!viewWatched_) {
        view()->installEventFilter(this);
        viewWatched_ = true;
    }
    QComboBox::showPopup();
    QWidget* list = view()->window();
    if (list != list_ && list != window()) {
        list_ = list;
        list_->installEventFilter(this);
    }
}

bool TypeSelector::eventFilter(QObject* watched, QEvent* event)
{
    // The list closes in every way (a pick, Escape, a click elsewhere, the
    // selector being hidden) by hiding its window; a list that never opened
    // does not close up. A picked item is taken over only after the list has
    // hidden, so the reaction waits for the event that closed it to finish.
    if (watched == list_ && event->type() == QEvent::Hide)
        QMetaObject::invokeMethod(this, &TypeSelector::closedUp, Qt::QueuedConnection);
    if (watched == view() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (ForwardTyping(key))
            return true;
        // With no item marked Enter closes the list on the typed text, the
        // way Escape does; with one it is picked as usual.
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !view()->currentIndex().isValid()) {
            hidePopup();
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

bool TypeSelector::ForwardTyping(QKeyEvent* event)
{
    const QString text = event->text();
    const bool typed = event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete
                       || (!text.isEmpty() && text[0].isPrint()
                           && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)));
    if (!typed || !lineEdit() || !view()->isVisible())
        return false;
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat(), ushort(event->count()));
    QCoreApplication::sendEvent(lineEdit(), &copy);
    FollowText();
    return true;
}

void TypeSelector::FollowText()
{
    // The list marks the first item the text begins with, or none, so that
    // Enter takes over that item and never one the text has left behind.
    const int i = lineEdit()->text().isEmpty() ? -1 : findText(lineEdit()->text(), Qt::MatchStartsWith);
    view()->setCurrentIndex(i < 0 ? QModelIndex() : model()->index(i, modelColumn(), rootModelIndex()));
}

void TypeSelector::keyPressEvent(QKeyEvent* event)
{
    QComboBox::keyPressEvent(event);
    // The list drops down as soon as the user types a name.
    const QString text = event->text();
    if (!text.isEmpty() && text[0].isPrint() && !view()->isVisible() && lineEdit()) {
        showPopup();
        FollowText();
    }
}

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent)
{
    // A drop would bypass the filter as a paste would.
    setAcceptDrops(false);
}

void NumberEdit::InsertFiltered(const QString& text)
{
    for (const QChar c : text) {
        if (!c.isPrint())
            continue; // a pasted line break is no Enter
        if (!filter_ || filter_(c.unicode()))
            insert(QString(c));
    }
}

void NumberEdit::mouseReleaseEvent(QMouseEvent* event)
{
    // The middle button pastes the selection on X11.
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() && !isReadOnly()) {
        deselect();
        InsertFiltered(QGuiApplication::clipboard()->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void NumberEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu's Paste goes through the filter like Ctrl+V: its item is the
    // one Qt connects to paste(), by name.
    for (QAction* action : menu->actions()) {
        if (disconnect(action, SIGNAL(triggered()), this, SLOT(paste())))
            connect(action, &QAction::triggered, this, [this] { InsertFiltered(QGuiApplication::clipboard()->text()); });
    }
    menu->popup(event->globalPos());
}

namespace {

// Undo and redo keys: in a band field they belong to the window's history,
// not to the text being typed.
bool IsHistoryKey(const QKeyEvent* event)
{
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
        return true;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Z && (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier)))
           || (event->key() == Qt::Key_Y && mods == Qt::ControlModifier);
}

} // namespace

bool NumberEdit::event(QEvent* event)
{
    // Left unclaimed, the keys reach the window's Undo and Redo items.
    if (event->type() == QEvent::ShortcutOverride && IsHistoryKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QLineEdit::event(event);
}

void NumberEdit::keyPressEvent(QKeyEvent* event)
{
    if (IsHistoryKey(event)) {
        // With nothing to undo the key does nothing, rather than undoing the typing.
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        if (!isReadOnly())
            InsertFiltered(QGuiApplication::clipboard()->text());
        event->accept();
        return;
    }
    const QString text = event->text();
    char16_t key = 0;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        key = 13;
    else if (event->key() == Qt::Key_Backspace)
        key = 8;
    else if (text.size() == 1 && text[0].isPrint())
        key = text[0].unicode();
    // Navigation, Tab, Delete and shortcuts are not typed characters.
    if (key != 0 && filter_ && !filter_(key)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void NumberEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window becoming active (a message box, a popup) does not leave
    // the edit; the focus comes back to it.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit exited();
}

ArrowPair::ArrowPair(QWidget* parent) : QScrollBar(Qt::Vertical, parent)
{
    setRange(0, 10);
    setValue(5);
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        // The position means nothing: keep the thumb in the middle so both
        // arrows always work.
        setSliderPosition(5);
        // On a vertical bar the upper arrow subtracts.
        if (action == QAbstractSlider::SliderSingleStepSub)
            emit arrow(ArrowAction::LineUp);
        else if (action == QAbstractSlider::SliderSingleStepAdd)
            emit arrow(ArrowAction::LineDown);
        else
            emit arrow(ArrowAction::Other);
    });
}

} // namespace ktv

namespace ktv {

void ArrowPair::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        button.state |= pressed_ == i + 1 ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(3, 3, -3, -3);
        arrow.palette.setColor(QPalette::ButtonText, palette().color(QPalette::ButtonText));
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
                               &painter, this);
    }
}

void ArrowPair::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool upper = event->position().y() < height() / 2;
    pressed_ = upper ? 1 : 2;
    update();
    const auto action = upper ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd;
    setRepeatAction(action, 400, 80);
    triggerAction(action);
}

void ArrowPair::mouseReleaseEvent(QMouseEvent*)
{
    pressed_ = 0;
    setRepeatAction(QAbstractSlider::SliderNoAction);
    update();
}

namespace {

// The controls whose value the wheel changes. Scroll bars in general are not
// among them: a scroll area hands its wheel events to its own bars.
bool TakesWheelForValue(QObject* o)
{
    return qobject_cast<QSlider*>(o) || qobject_cast<QComboBox*>(o) || qobject_cast<QAbstractSpinBox*>(o)
           || qobject_cast<ArrowPair*>(o);
}

class WheelGuard : public QObject {
public:
    using QObject::QObject;

    void Guard(QWidget* widget)
    {
        if (widget->property(GuardedKey).toBool())
            return;
        widget->setProperty(GuardedKey, true);
        widget->installEventFilter(this);
        // The wheel would otherwise hand such a control the focus by itself.
        if (TakesWheelForValue(widget) && widget->focusPolicy() == Qt::WheelFocus)
            widget->setFocusPolicy(Qt::StrongFocus);
        for (QObject* child : widget->children())
            if (child->isWidgetType())
                Guard(static_cast<QWidget*>(child));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Widgets added later are guarded once they are complete.
        if (event->type() == QEvent::ChildPolished) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                Guard(static_cast<QWidget*>(child));
            return false;
        }
        if (event->type() != QEvent::Wheel || !TakesWheelForValue(watched)
            || static_cast<QWidget*>(watched)->hasFocus())
            return false;
        // Ignored, the event travels on to the parents, up to the scroll area.
        event->ignore();
        return true;
    }

private:
    static constexpr const char* GuardedKey = "ktvWheelGuarded";
};

} // namespace

void GuardWheel(QWidget* root)
{
    static WheelGuard* guard = new WheelGuard(qApp);
    guard->Guard(root);
}

} // namespace ktv

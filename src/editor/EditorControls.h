#pragma once
// Small widgets that give the band rows the events they react to: a type list
// that reports closing, an edit that filters typed characters and reports
// leaving the focus, and a scroll bar used only as an up/down arrow pair.

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>

#include <functional>

namespace ktv {

class TypeSelector : public QComboBox {
    Q_OBJECT
public:
    explicit TypeSelector(QWidget* parent = nullptr);
    void showPopup() override;

signals:
    void closedUp();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // While the list is shown the typing goes on into the text, as in an
    // edit with its list dropped down; the list keeps the navigation keys.
    bool ForwardTyping(QKeyEvent* event);
    void FollowText();

    QWidget* list_ = nullptr; // the drop-down window, once it exists
    bool viewWatched_ = false;
};

class NumberEdit : public QLineEdit {
    Q_OBJECT
public:
    // Called for every typed character before the edit takes it; false drops
    // it. Enter arrives as 13 and Backspace as 8.
    using KeyFilter = std::function<bool(char16_t key)>;

    explicit NumberEdit(QWidget* parent = nullptr);
    void SetKeyFilter(KeyFilter filter) { filter_ = std::move(filter); }

    // Inserts `text` as if typed: each character passes the filter first.
    void InsertFiltered(const QString& text);

signals:
    void exited();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    KeyFilter filter_;
};

enum class ArrowAction { LineUp, LineDown, Other };

class ArrowPair : public QScrollBar {
    Q_OBJECT
public:
    explicit ArrowPair(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 30}; }

signals:
    void arrow(ktv::ArrowAction action);

protected:
    // Drawn and clicked as two arrow buttons, upper and lower half: the
    // groove and thumb of a scroll bar this short would hide the arrows.
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent*) override {}

private:
    int pressed_ = 0; // 1 upper, 2 lower
};

// Sliders, lists and arrow boxes below `root` (now and later) take wheel
// events only while they hold the keyboard focus; otherwise the wheel goes on
// to what encloses them, so scrolling the window never changes a setting.
void GuardWheel(QWidget* root);

} // namespace ktv

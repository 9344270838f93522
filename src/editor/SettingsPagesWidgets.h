#pragma once
// Two small controls the settings pages need and Qt does not offer as such: a
// label that reports clicks, and a one-column radio group with an item index.

#include <QGroupBox>
#include <QLabel>
#include <QStringList>

class QButtonGroup;

namespace ktv {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

// A group box holding one column of radio buttons. itemIndexChanged fires
// whenever the selection changes, whether a user clicked or code set it.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    // -1 while nothing is selected.
    [[nodiscard]] int ItemIndex() const;
    // Selects item `index`; an index outside the items selects nothing new.
    void SetItemIndex(int index);
    [[nodiscard]] int Count() const;

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup* buttons_;
};

} // namespace ktv

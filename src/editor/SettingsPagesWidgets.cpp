#include "editor/SettingsPagesWidgets.h"

#include <QButtonGroup>
#include <QMouseEvent>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ktv {

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void ClickLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    // A click is a left press and release over the label, as on a button.
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this))
{
    auto* column = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(QStringLiteral("RadioItem%1").arg(i));
        buttons_->addButton(button, i);
        column->addWidget(button);
    }
    column->addStretch();
    // The button losing its tick reports first; only the newly ticked one
    // counts as a change of selection.
    connect(buttons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit itemIndexChanged(id);
    });
}

int RadioGroup::ItemIndex() const { return buttons_->checkedId(); }

int RadioGroup::Count() const { return int(buttons_->buttons().size()); }

void RadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton* button = buttons_->button(index))
        button->setChecked(true);
}

} // namespace ktv

#pragma once
// TAboutBox: the product picture with the product name, the version and the
// licence; a click anywhere closes it.

#include <QDialog>

namespace ktv {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    void Panel1Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace ktv

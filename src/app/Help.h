#pragma once
// THelpBox: the user guide built into the program, in the window's language;
// it needs no network and no browser.

#include <QDialog>

class QTextBrowser;

namespace ktv {

class THelpBox : public QDialog {
    Q_OBJECT
public:
    explicit THelpBox(QWidget* parent = nullptr);
    QTextBrowser* Text() const { return text_; }

private:
    QTextBrowser* text_;
};

} // namespace ktv

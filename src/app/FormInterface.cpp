#include "app/FormInterface.h"

#include "app/CoreTexts.h"
#include "app/Form.h"
#include "app/Theme.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>

namespace ktv {

void FormInterface::ShowMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Information, ProductName, CoreText(text), QMessageBox::Ok, &form_);
    box.exec();
}

int FormInterface::Ask(std::string_view question, const std::vector<std::string>& answers)
{
    QMessageBox box(QMessageBox::Question, ProductName, QString::fromUtf8(question.data(), qsizetype(question.size())),
                    QMessageBox::NoButton, &form_);
    std::vector<QPushButton*> buttons;
    for (const std::string& answer : answers)
        buttons.push_back(box.addButton(QString::fromStdString(answer), QMessageBox::AcceptRole));
    if (!buttons.empty())
        box.setDefaultButton(buttons.front());
    box.exec();
    const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return chosen == buttons.end() ? -1 : int(chosen - buttons.begin());
}

void FormInterface::SetStatus(StatusPanel panel, std::string_view text) { form_.SetStatus(panel, text); }

void FormInterface::SetExchangeWarning(bool on) { form_.SetExchangeWarning(on); }

void FormInterface::SetBusyCursor(bool busy)
{
    if (busy) {
        if (busyDepth_++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void FormInterface::Sleep(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

} // namespace ktv

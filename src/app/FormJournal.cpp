// The box's state kept before every whole change, and File > Restore box
// state: a write, a recall or an undo sent by mistake can be taken back.

#include "app/Form.h"
#include "app/CoreTexts.h"

#include "device/HidPro.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ktv {

void TFormMain::KeepBoxState(const QString& after)
{
    if (!Hid().Linked)
        return;
    // Read into a scratch copy: the window's image is what is about to go out.
    DspParamsImage box = DspParams;
    QString trouble;
    if (!ReadBoxImage(box)) {
        trouble = tr("the box could not be read");
    } else {
        const DspParamsImage mine = DspParams;
        DspParams = box;
        std::string why;
        if (!BoxJournal(Hid().OpenedId).Save(after.toStdString(), &why))
            trouble = QString::fromStdString(why);
        DspParams = mine;
    }
    // Never in the way of what the user asked for, but never silent either.
    if (!trouble.isEmpty())
        statusBar()->showMessage(tr("The box's state was not saved: %1").arg(trouble), 15000);
}

void TFormMain::RestoreBoxState1Click()
{
    if (!Hid().Linked) {
        Ui().ShowMessage(tr("Connect to a box first.").toStdString());
        return;
    }
    const std::vector<JournalEntry> entries = BoxJournal(Hid().OpenedId).List();
    if (entries.empty()) {
        Ui().ShowMessage(tr("No saved state of this box yet.").toStdString());
        return;
    }
    const int chosen = ChooseBoxState ? ChooseBoxState(entries) : AskBoxState(entries);
    if (chosen < 0 || chosen >= int(entries.size()))
        return;
    DapBytes bytes{};
    const JournalEntry& entry = entries[std::size_t(chosen)];
    const DapReadError error = LoadDapFile(entry.Path, bytes);
    if (error != DapReadError::None) {
        Ui().ShowMessage(tr("Cannot restore %1: %2.").arg(QString::fromStdString(entry.Path), CoreText(DapReadErrorText(error)))
                             .toStdString());
        return;
    }
    RecordStep(tr("Restore box state of %1").arg(QString::fromStdString(entry.Time)), true, [&] {
        KeepBoxState(QStringLiteral("Restore"));
        (void)ApplyDapWhole(bytes.data(), bytes.size());
        LoadTail(false);
    });
}

int TFormMain::AskBoxState(const std::vector<JournalEntry>& entries)
{
    QDialog dialog(this);
    dialog.setObjectName("RestoreBoxStateDialog");
    dialog.setWindowTitle(tr("Restore box state"));
    dialog.resize(460, 420);
    auto* v = new QVBoxLayout(&dialog);
    auto* table = new QTableWidget(int(entries.size()), 2, &dialog);
    table->setObjectName("TableBoxStates");
    table->setHorizontalHeaderLabels({tr("Saved"), tr("What came after")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    for (int r = 0; r < int(entries.size()); ++r) {
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(entries[std::size_t(r)].Time)));
        table->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(entries[std::size_t(r)].After)));
    }
    table->selectRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    buttons->addButton(tr("Write to box"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(table, &QTableWidget::cellDoubleClicked, &dialog, &QDialog::accept);
    v->addWidget(table, 1);
    v->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return table->currentRow();
}

} // namespace ktv

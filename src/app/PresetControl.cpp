#include "app/PresetControl.h"

#include "app/CoreTexts.h"
#include "app/HistoryControl.h"
#include "app/SystemPage.h"
#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "editor/FileDialogs.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ktv {

PresetControl::PresetControl(QWidget* window, TSystemPage* system, HistoryControl& history, FileDialogs& files,
                             std::function<void()> refresh)
    : QObject(window), window_(window), system_(system), history_(history), files_(files), refresh_(std::move(refresh))
{
}

QString PresetControl::PresetDirectory() const { return system_->Folder(); }

// ---- whole image and slots ----

void PresetControl::UpdatePc2DspClick()
{
    Ui().SetBusyCursor(true);
    history_.KeepBoxState(QStringLiteral("Write to dsp"));
    const bool ok = WriteAllToDevice();
    Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
    Ui().SetBusyCursor(false);
}

void PresetControl::UpdateDsp2PcClick()
{
    bool read = false;
    history_.RecordStep(tr("Read from dsp"), true, [this, &read] {
        Ui().SetBusyCursor(true);
        read = ReadAllFromDevice();
        if (read) {
            refresh_();
            Ui().ShowMessage("Read dsp ok!");
        } else {
            Ui().ShowMessage("Read dsp fault!");
        }
        Ui().SetBusyCursor(false);
    });
    // What the box holds is where its history begins: an undo past the read
    // would write the window's earlier image (start-up defaults, another
    // box's tuning) over a tuning that never came from this window.
    if (read)
        history_.StartBoxHistory();
}

bool PresetControl::SlotNumber(QComboBox* box, int& slot)
{
    bool ok = false;
    const QString text = box->currentText();
    slot = text.trimmed().toInt(&ok);
    if (!ok) {
        Ui().ShowMessage(tr("'%1' is not a valid integer value").arg(text).toStdString());
        return false;
    }
    return true;
}

void PresetControl::BitBtnSaveClick()
{
    int slot = 0;
    if (!SlotNumber(system_->SaveSlotBox(), slot))
        return;
    if (slot < 1 || slot > 8) {
        Ui().ShowMessage("Set factory mode error!");
        return;
    }
    // Storing replaces what the slot held, perhaps a room's only copy of
    // its tuning: asked first, as a recall is.
    const int answer = Ui().Ask(tr("Replace slot %1 with the window's settings?").arg(slot).toStdString(),
                                {tr("Yes").toStdString(), tr("No").toStdString()});
    if (answer != 0)
        return;
    Ui().SetBusyCursor(true);
    const SlotOutcome outcome = StoreSlot(std::uint8_t(slot));
    Ui().ShowMessage(outcome == SlotOutcome::Ok ? "Set factory mode ok!" : "Set factory mode fault!");
    Ui().SetBusyCursor(false);
}

void PresetControl::BitBtnRecallClick()
{
    int slot = 0;
    if (!SlotNumber(system_->RecallSlotBox(), slot))
        return;
    if (slot < 1 || slot > 8) {
        Ui().ShowMessage("Reset factory mode error!");
        return;
    }
    // A recall overwrites everything the box holds, and a slot never stored
    // holds the factory defaults: a slip must not cost the room its tuning.
    const int answer = Ui().Ask(tr("Replace the box's settings with slot %1?").arg(slot).toStdString(),
                                {tr("Yes").toStdString(), tr("No").toStdString()});
    if (answer != 0)
        return;
    history_.RecordStep(tr("Recall slot %1").arg(slot), true, [this, slot] {
        Ui().SetBusyCursor(true);
        history_.KeepBoxState(QStringLiteral("Recall slot %1").arg(slot));
        const SlotOutcome outcome = RecallSlot(std::uint8_t(slot));
        if (outcome == SlotOutcome::Ok)
            refresh_();
        Ui().ShowMessage(outcome == SlotOutcome::Ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
        Ui().SetBusyCursor(false);
    });
}

// ---- presets ----

void PresetControl::LoadTail(const QString& keepAs)
{
    {
        // The write-all below sends everything; the controls taking the image
        // over must not send their parts first.
        HoldSends hold;
        refresh_();
    }
    Ui().SetBusyCursor(true);
    if (!keepAs.isEmpty())
        history_.KeepBoxState(keepAs);
    const bool ok = WriteAllToDevice();
    Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
    Ui().SetBusyCursor(false);
}

bool PresetControl::LoadPreset(const QString& path)
{
    DapReadError error = DapReadError::None;
    bool read = false;
    history_.RecordStep(tr("Open %1").arg(QFileInfo(path).fileName()), true, [&] {
        read = ReadDapFile(path.toStdString(), &error);
        if (read)
            LoadTail(QString::fromStdString(BoxJournal::LoadPresetStep(QFileInfo(path).fileName().toStdString())));
    });
    if (!read) {
        // A refused file changes nothing and sends nothing; saying "Write dsp
        // ok!" here would tell the user a preset was applied when it was not.
        Ui().ShowMessage(
            tr("Preset not loaded: %1: %2.").arg(QDir::toNativeSeparators(path), CoreText(DapReadErrorText(error))).toStdString());
        return false;
    }
    return true;
}

bool PresetControl::SavePreset(const QString& path)
{
    FileWriteError error = FileWriteError::None;
    if (WriteDapFile(path.toStdString(), &error))
        return true;
    Ui().ShowMessage(tr("Preset not saved: %1: %2.")
                         .arg(QDir::toNativeSeparators(path), CoreText(FileWriteErrorText(error)))
                         .toStdString());
    return false;
}

void PresetControl::Open1Click()
{
    const QString path = files_.Open("Open", tr("Open"), tr("DAP files (*.dap)"));
    if (path.isEmpty())
        return;
    LoadPreset(QFileInfo(path).absoluteFilePath());
}

void PresetControl::Save1Click()
{
    QString path = files_.Save("Save", tr("Save"), tr("DAP files (*.dap)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(".dap", Qt::CaseInsensitive))
        path += ".dap";
    SavePreset(path);
}

void PresetControl::ButtonFolderClick()
{
    const QString folder = files_.Folder("PresetFolder", tr("Preset folder"), PresetDirectory());
    if (folder.isEmpty())
        return;
    system_->ShowFolder(QFileInfo(folder).absoluteFilePath());
}

void PresetControl::ButtonReshClick() { system_->ShowFolder(PresetDirectory()); }

void PresetControl::Button1Click()
{
    const QString name = system_->SelectedFile();
    if (name.isEmpty()) {
        Ui().ShowMessage("File name error!");
        return;
    }
    // The selected preset is overwritten: a slip of the mouse must not cost it.
    const int answer = Ui().Ask(tr("Replace %1 with the window's settings?").arg(name).toStdString(),
                                {tr("Yes").toStdString(), tr("No").toStdString()});
    if (answer != 0)
        return;
    if (SavePreset(QDir(PresetDirectory()).filePath(name)))
        Ui().ShowMessage(tr("Preset saved").toStdString());
}

void PresetControl::Button2Click()
{
    const QString name = system_->SelectedFile();
    if (name.isEmpty()) {
        Ui().ShowMessage("File name error!");
        return;
    }
    LoadPreset(QDir(PresetDirectory()).filePath(name));
}

// ---- the box's kept states ----

void PresetControl::RestoreBoxState1Click()
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
    history_.RecordStep(tr("Restore box state of %1").arg(QString::fromStdString(entry.Time)), true, [&] {
        history_.KeepBoxState(QStringLiteral("Restore"));
        (void)ApplyDapWhole(bytes.data(), bytes.size());
        LoadTail({});
    });
}

int PresetControl::AskBoxState(const std::vector<JournalEntry>& entries)
{
    QDialog dialog(window_);
    dialog.setObjectName("RestoreBoxStateDialog");
    dialog.setWindowTitle(tr("Restore box state"));
    dialog.resize(560, 420);
    auto* v = new QVBoxLayout(&dialog);
    auto* table = new QTableWidget(int(entries.size()), 2, &dialog);
    table->setObjectName("TableBoxStates");
    table->setHorizontalHeaderLabels({tr("Saved"), tr("What came after")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    // The times whole, in any font; the steps take the rest.
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    for (int r = 0; r < int(entries.size()); ++r) {
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(entries[std::size_t(r)].Time)));
        auto* after = new QTableWidgetItem(QString::fromStdString(entries[std::size_t(r)].After));
        after->setToolTip(after->text()); // a long preset name, whole
        table->setItem(r, 1, after);
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

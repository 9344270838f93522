#include "app/HistoryControl.h"

#include "app/CoreTexts.h"
#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "editor/FileDialogs.h"
#include "editor/Peqa.h"
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace ktv {

namespace {

QString ChannelCaption(int channel) { return QString::fromLatin1(EqChannelName(EqChannel(channel))); }

// The window that gathers sends into undo steps; tests may build a second
// window for a moment, and only the one that installed the listener clears it.
HistoryControl* gatherer = nullptr;

} // namespace

HistoryControl::HistoryControl(QMainWindow* window, TFormPEQA* editor, FileDialogs& files, Controls controls,
                               std::function<void()> refresh)
    : QObject(window), window_(window), editor_(editor), files_(files), controls_(controls), refresh_(std::move(refresh))
{
    for (int slot = 0; slot < 2; ++slot)
        connect(controls_.SlotButtons[std::size_t(slot)], &QPushButton::clicked, this,
                [this, slot] { CompareSlotClick(slot); });
}

HistoryControl::~HistoryControl() { Stop(); }

void HistoryControl::Start()
{
    history_.Start(DspParams);
    gatherer = this;
    // Every edit ends in a send. The step is taken when control returns to
    // the event loop, so an edit that sends twice (a maximum volume pulling a
    // volume down) is one step.
    SetSendListener([this] {
        if (stepPending_)
            return;
        stepPending_ = true;
        // Undo takes the pending edit as its step: at once, also from the
        // keyboard before the event loop has gathered it.
        if (undo_ && recordingStep_ == 0)
            undo_->setEnabled(true);
        QTimer::singleShot(0, this, [this] {
            if (stepPending_)
                CommitPendingStep();
        });
    });
    WatchSliders(window_->findChildren<QSlider*>() + editor_->findChildren<QSlider*>());
    editor_->StepRecorder = [this](const QString& name, const std::function<void()>& change) {
        RecordStep(name, false, change);
    };
    UpdateUndoItems();
}

void HistoryControl::StartBoxHistory()
{
    stepPending_ = false;
    history_.Start(DspParams);
    // The slot not shown keeps its image (a switch to it is the user's own
    // choice) but none of the steps that led there before the read.
    for (CompareSlot& slot : compareSlots_)
        slot.History.Start(slot.Image);
    UpdateUndoItems();
}

void HistoryControl::ReadKeepingEdit(const std::function<void()>& read)
{
    const DspParamsImage before = history_.Current();
    const DspParamsImage edited = DspParams;
    read();
    if (!Link().ImageFromBox()) {
        // Not read: the edit stays in the window, and did not reach the box.
        Link().EditsNotSent(ChangedElements(before, edited));
        return;
    }
    const DspParamsImage box = DspParams;
    CarryChanges(before, edited, DspParams);
    {
        HoldSends hold;
        refresh_();
    }
    // The box gets the edit alone; it becomes the first step after the read.
    (void)SendChanges(box);
    // A named step (a Reset, a copy, an import) sets its bands outright,
    // also to values the window already had: what it sends is put on top
    // whole, once its change is done.
    if (recordingStep_ > 0) {
        carryAfterStep_ = true;
        carryFrom_ = edited;
    }
}

void HistoryControl::TakeEditBack()
{
    DspParams = history_.Current();
    stepPending_ = false;
    HoldSends hold;
    refresh_();
}

void HistoryControl::WatchSliders(const QList<QSlider*>& sliders)
{
    sliders_ += sliders;
    for (QSlider* slider : sliders)
        connect(slider, &QSlider::sliderReleased, this, [this] {
            stepPending_ = false;
            CommitPendingStep();
        });
}

void HistoryControl::Stop()
{
    if (gatherer == this) {
        SetSendListener(nullptr);
        gatherer = nullptr;
    }
}

void HistoryControl::CommitPendingStep()
{
    // A named step's message box runs the event loop before the step ends.
    if (recordingStep_ > 0)
        return;
    if (stepPending_) {
        // A slider still held waits for its release.
        for (QSlider* slider : sliders_)
            if (slider->isSliderDown())
                return;
    }
    stepPending_ = false;
    if (history_.Record(DescribeChange(history_.Current(), DspParams), DspParams))
        UpdateUndoItems();
}

void HistoryControl::RecordStep(const QString& name, bool wholeImage, const std::function<void()>& change)
{
    stepPending_ = false;
    CommitPendingStep(); // earlier edits are steps of their own
    ++recordingStep_;
    change();
    --recordingStep_;
    if (carryAfterStep_ && recordingStep_ == 0) {
        carryAfterStep_ = false;
        const DspParamsImage read = DspParams;
        CopyElements(carryFrom_, Link().TakeMeantToSend(), DspParams);
        {
            HoldSends hold;
            refresh_();
        }
        Link().ResumeEdits();
        (void)SendChanges(read);
    }
    stepPending_ = false;
    if (history_.Record(name.toStdString(), DspParams, wholeImage))
        UpdateUndoItems();
}

void HistoryControl::Undo1Click()
{
    stepPending_ = false;
    CommitPendingStep();
    const DspParamsImage from = DspParams;
    if (const HistoryStep* step = history_.Undo())
        RestoreImage(from, history_.Current(), step->WholeImage);
    else
        UpdateUndoItems(); // enabled for an edit that changed nothing after all
}

void HistoryControl::Redo1Click()
{
    stepPending_ = false;
    CommitPendingStep();
    const DspParamsImage from = DspParams;
    if (const HistoryStep* step = history_.Redo())
        RestoreImage(from, history_.Current(), step->WholeImage);
}

void HistoryControl::RestoreImage(const DspParamsImage& from, const DspParamsImage& target, bool wholeImage)
{
    DspParams = target;
    {
        // The controls take the image over; their reactions would each send
        // their whole command, so the box hears only what follows.
        HoldSends hold;
        refresh_();
    }
    if (Hid().Linked) {
        Ui().SetBusyCursor(true);
        if (wholeImage) {
            KeepBoxState(QStringLiteral("Undo or redo"));
            (void)WriteAllToDevice();
        }
        else
            (void)SendChanges(from);
        Ui().SetBusyCursor(false);
    }
    stepPending_ = false;
    UpdateUndoItems();
}

void HistoryControl::UpdateUndoItems()
{
    if (!undo_)
        return;
    const HistoryStep* undo = history_.NextUndo();
    const HistoryStep* redo = history_.NextRedo();
    undo_->setEnabled(undo != nullptr);
    redo_->setEnabled(redo != nullptr);
    undo_->setText(undo ? tr("Undo %1").arg(QString::fromStdString(undo->Name)) : tr("Undo"));
    redo_->setText(redo ? tr("Redo %1").arg(QString::fromStdString(redo->Name)) : tr("Redo"));
}

void HistoryControl::BuildEditMenu(QMenuBar* bar)
{
    QMenu* edit = bar->addMenu(tr("Edit"));
    edit->setObjectName("Edit1");
    undo_ = edit->addAction(tr("Undo"));
    undo_->setObjectName("Undo1");
    undo_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(undo_, &QAction::triggered, this, &HistoryControl::Undo1Click);
    redo_ = edit->addAction(tr("Redo"));
    redo_->setObjectName("Redo1");
    redo_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo_, &QAction::triggered, this, &HistoryControl::Redo1Click);
    edit->addSeparator();
    copyEqMenu_ = edit->addMenu(tr("Copy EQ to"));
    copyEqMenu_->setObjectName("CopyEq1");
    connect(copyEqMenu_, &QMenu::aboutToShow, this, &HistoryControl::FillCopyEqMenu);
    FillCopyEqMenu();
    UpdateUndoItems();
}

void HistoryControl::FillCopyEqMenu()
{
    // Only channels with as many bands as the shown one are offered.
    copyEqMenu_->clear();
    const int source = editor_ ? editor_->Channel : 0;
    for (int c = 0; c < EqChannelCount; ++c) {
        if (c == source || BandGroups[std::size_t(c)].BandCount != BandGroups[std::size_t(source)].BandCount)
            continue;
        QAction* a = copyEqMenu_->addAction(ChannelCaption(c));
        a->setObjectName(QStringLiteral("CopyEqTo") + ChannelCaption(c));
        connect(a, &QAction::triggered, this, [this, c] { CopyEqTo(EqChannel(c)); });
    }
}

void HistoryControl::CopyEqTo(EqChannel target)
{
    const auto source = EqChannel(editor_->Channel);
    const BandGroup from = GroupOf(source), to = GroupOf(target);
    if (target == source || from.BandCount != to.BandCount)
        return;
    const QString name = tr("Copy %1 EQ to %2").arg(ChannelCaption(int(source)), ChannelCaption(int(target)));
    RecordStep(name, false, [&] {
        for (int i = 0; i < from.BandCount; ++i)
            DspParams.Band[std::size_t(to.FirstBand + i)] = DspParams.Band[std::size_t(from.FirstBand + i)];
        // One run; a seven-band channel needs a second request, as a run
        // holds at most six records.
        for (int i = 0; i < to.BandCount; i += MaxBandsPerRequest)
            SendPeqBands(std::uint8_t(to.FirstBand + i), std::uint8_t(std::min(MaxBandsPerRequest, to.BandCount - i)));
    });
}

// ---- A/B ----

QMenu* HistoryControl::BuildViewMenu(QMenuBar* bar)
{
    QMenu* view = bar->addMenu(tr("View"));
    view->setObjectName("View1");
    QMenu* compare = view->addMenu(tr("Compare"));
    compare->setObjectName("Compare1");
    for (int slot = 0; slot < 2; ++slot) {
        QAction* a = compare->addAction(slot == 0 ? tr("A") : tr("B"));
        a->setObjectName(slot == 0 ? "CompareA1" : "CompareB1");
        a->setCheckable(true);
        a->setShortcut(QKeySequence(Qt::CTRL | (slot == 0 ? Qt::Key_1 : Qt::Key_2)));
        connect(a, &QAction::triggered, this, [this, slot] { CompareSlotClick(slot); });
        slotActions_[std::size_t(slot)] = a;
    }
    return view;
}

void HistoryControl::CompareSlotClick(int slot)
{
    stepPending_ = false;
    CommitPendingStep();
    if (activeSlot_ < 0) {
        // The first switch starts both settings from what the window holds.
        compareSlots_[0] = compareSlots_[1] = {DspParams, history_};
        activeSlot_ = slot;
    } else if (slot != activeSlot_) {
        CompareSlot& left = compareSlots_[std::size_t(activeSlot_)];
        CompareSlot& entered = compareSlots_[std::size_t(slot)];
        left = {DspParams, std::move(history_)};
        history_ = std::move(entered.History);
        activeSlot_ = slot;
        KeepBoxState(QString::fromStdString(BoxJournal::SwitchStep(slot)));
        RestoreImage(left.Image, entered.Image, false);
    }
    UpdateCompareControls();
}

void HistoryControl::UpdateCompareControls()
{
    for (int slot = 0; slot < 2; ++slot) {
        controls_.SlotButtons[std::size_t(slot)]->setChecked(slot == activeSlot_);
        slotActions_[std::size_t(slot)]->setChecked(slot == activeSlot_);
    }
    controls_.StatusCompare->setText(activeSlot_ == 0 ? tr("Compare: A") : tr("Compare: B"));
    controls_.StatusCompare->setVisible(activeSlot_ >= 0);
    UpdateUndoItems();
}

// ---- the box's own history ----

void HistoryControl::KeepBoxState(const QString& after)
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
        window_->statusBar()->showMessage(tr("The box's state was not saved: %1").arg(trouble), 15000);
}

// ---- what differs ----

void HistoryControl::ComparePreset1Click()
{
    const QString path = files_.Open("Compare", tr("Compare with preset"), tr("DAP files (*.dap)"));
    if (path.isEmpty())
        return;
    // The file goes into a scratch copy; the window's image stays as it is.
    // A load keeps the volumes, mute, pitch and input, so they never differ.
    const DspParamsImage mine = DspParams;
    DapReadError error = DapReadError::None;
    const bool read = ReadDapFile(path.toStdString(), &error);
    const DspParamsImage other = DspParams;
    DspParams = mine;
    if (!read) {
        Ui().ShowMessage(tr("Cannot compare with %1: %2.")
                             .arg(QDir::toNativeSeparators(path), CoreText(DapReadErrorText(error)))
                             .toStdString());
        return;
    }
    ShowDifferences(tr("Compare with %1").arg(QFileInfo(path).fileName()), tr("File"), DiffImages(mine, other));
}

void HistoryControl::CompareBox1Click()
{
    if (!Hid().Linked) {
        Ui().ShowMessage(tr("Connect to a box first.").toStdString());
        return;
    }
    const DspParamsImage& mine = DspParams;
    DspParamsImage other = DspParams;
    Ui().SetBusyCursor(true);
    // Only a look: the window's image, and what it knows of the box, stay.
    const bool read = ReadBoxImage(other);
    Ui().SetBusyCursor(false);
    if (!read) {
        Ui().ShowMessage("Read dsp fault!");
        return;
    }
    ShowDifferences(tr("Compare with box"), tr("Box"), DiffImages(mine, other));
}

void HistoryControl::ShowDifferences(const QString& title, const QString& otherColumn,
                                const std::vector<ImageDifference>& rows)
{
    if (!compareDialog_) {
        compareDialog_ = new QDialog(window_);
        compareDialog_->setObjectName("CompareDialog");
        compareDialog_->resize(520, 480);
        auto* v = new QVBoxLayout(compareDialog_);
        compareSummary_ = new QLabel(compareDialog_);
        compareSummary_->setObjectName("LabelDifferences");
        compareTable_ = new QTableWidget(compareDialog_);
        compareTable_->setObjectName("TableDifferences");
        compareTable_->setColumnCount(3);
        compareTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        compareTable_->verticalHeader()->hide();
        compareTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, compareDialog_);
        connect(buttons, &QDialogButtonBox::rejected, compareDialog_, &QDialog::close);
        v->addWidget(compareSummary_);
        v->addWidget(compareTable_, 1);
        v->addWidget(buttons);
    }
    compareDialog_->setWindowTitle(title);
    compareSummary_->setText(rows.empty() ? tr("No differences.") : tr("%n field(s) differ.", nullptr, int(rows.size())));
    compareTable_->setHorizontalHeaderLabels({tr("Field"), tr("Window"), otherColumn});
    compareTable_->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const ImageDifference& d = rows[std::size_t(r)];
        compareTable_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(d.Name)));
        compareTable_->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(d.Before)));
        compareTable_->setItem(r, 2, new QTableWidgetItem(QString::fromStdString(d.After)));
    }
    compareDialog_->show();
    compareDialog_->raise();
}

} // namespace ktv

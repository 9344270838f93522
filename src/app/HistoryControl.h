#pragma once
// The main window's safety net: undo and redo over the image, the A/B
// comparison, copying a channel's EQ, the tables of what differs, and the
// box's state kept before each whole change of it.

#include "params/History.h"
#include "params/ImageDiff.h"

#include <QCoreApplication>
#include <QObject>

#include <array>
#include <functional>
#include <vector>

class QAction;
class QDialog;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QTableWidget;

namespace ktv {

class FileDialogs;
class TFormPEQA;

// Part of the main window: its texts are the window's.
class HistoryControl : public QObject {
    Q_DECLARE_TR_FUNCTIONS(ktv::TFormMain)

public:
    struct Controls {
        std::array<QPushButton*, 2> SlotButtons{}; // A and B beside Connect
        QLabel* StatusCompare = nullptr;           // "Compare: A" in the status bar
    };
    // `refresh` shows the image in every control of the window.
    HistoryControl(QMainWindow* window, TFormPEQA* editor, FileDialogs& files, Controls controls,
                   std::function<void()> refresh);
    ~HistoryControl() override;

    // Starts gathering the window's sends into steps.
    void Start();
    void BuildEditMenu(QMenuBar* bar);
    // The View menu with its Compare items; the caller adds the rest.
    QMenu* BuildViewMenu(QMenuBar* bar);

    // Undo and redo. Edits between two returns to the event loop form one
    // step, a slider held down or a chart drag one step until released.
    void Undo1Click();
    void Redo1Click();
    // Runs `change` as one named step (a preset load, a read, a copy, an
    // import); a whole-image step is undone and redone with a write-all.
    void RecordStep(const QString& name, bool wholeImage, const std::function<void()>& change);
    // Records the edits made since the last step, if any.
    void CommitPendingStep();
    // Forgets every step: the window now holds what the box holds.
    void StartBoxHistory();
    // The first-edit question's answers. The edit under way is what the
    // image holds beyond the last step: `read` reads the box, and that edit
    // is put on top of what was read and sent; or the edit is taken back.
    void ReadKeepingEdit(const std::function<void()>& read);
    void TakeEditBack();
    // Each of `sliders` moved from press to release makes one undo step.
    void WatchSliders(const QList<QSlider*>& sliders);
    const ImageHistory& History() const { return history_; }

    // A/B comparison: slot 0 is A, 1 is B; -1 before the first switch.
    void CompareSlotClick(int slot);
    int ActiveSlot() const { return activeSlot_; }

    // Copies the shown channel's bands to `target` (same band count).
    void CopyEqTo(EqChannel target);

    // What differs between the window's image and a preset file or the box.
    void ComparePreset1Click();
    void CompareBox1Click();
    QDialog* CompareDialog() const { return compareDialog_; }

    // Reads the linked box and keeps its state before `after` (a fixed
    // English name: it goes into the file name) in its journal; a failure
    // is told in the status bar and stops nothing.
    void KeepBoxState(const QString& after);

private:
    void Stop();
    void FillCopyEqMenu();
    void UpdateUndoItems();
    void UpdateCompareControls();
    // Shows `target` in the window; the box, holding `from`, gets what
    // differs (or everything, for a whole-image step) when linked.
    void RestoreImage(const DspParamsImage& from, const DspParamsImage& target, bool wholeImage);
    void ShowDifferences(const QString& title, const QString& otherColumn, const std::vector<ImageDifference>& rows);

    QMainWindow* window_;
    TFormPEQA* editor_;
    FileDialogs& files_;
    Controls controls_;
    std::function<void()> refresh_;

    ImageHistory history_;
    bool stepPending_ = false;
    // A read asked for inside a named step: what the step meant to send is
    // put on top of the read once the step's change is done.
    bool carryAfterStep_ = false;
    DspParamsImage carryFrom_{};
    int recordingStep_ = 0; // inside RecordStep: its sends belong to it
    QList<QSlider*> sliders_; // every slider of the window and the editor
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QMenu* copyEqMenu_ = nullptr;
    struct CompareSlot {
        DspParamsImage Image;
        ImageHistory History; // only kept while the slot is not active
    };
    std::array<CompareSlot, 2> compareSlots_{};
    int activeSlot_ = -1;
    std::array<QAction*, 2> slotActions_{};
    QDialog* compareDialog_ = nullptr;
    QLabel* compareSummary_ = nullptr;
    QTableWidget* compareTable_ = nullptr;
};

} // namespace ktv

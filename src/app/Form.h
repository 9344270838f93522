#pragma once
// TFormMain: the main window. It builds the application's parts in order,
// hosts the one channel editor inside the channel tabs, carries the master
// and maximum volumes, the SYSTEM page and the status bar, and holds the
// application's UserInterface (message boxes, status panels, busy cursor).

#include "app/FormInterface.h"
#include "params/History.h"
#include "params/ImageDiff.h"
#include "presets/BoxJournal.h"

#include <QFrame>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <map>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QTableWidget;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSlider;
class QSocketNotifier;
class QWinEventNotifier;
class QTabWidget;

namespace ktv {

class DeviceWatcher;
enum class DeviceEventKind;
class TAboutBox;
class THelpBox;
class TFitPanel;
class TFormPEQA;
class TSystemPage;

// A panel whose caption stands at its left, with one track bar at its right.
class CaptionPanel : public QFrame {
    Q_OBJECT
public:
    CaptionPanel(const QString& name, const QString& caption, int width, QWidget* parent);
    QString Caption() const;
    void SetCaption(const QString& caption);
    QSlider* Bar() const { return bar_; }

private:
    QLabel* caption_;
    QSlider* bar_;
};

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // `watcher` (not owned) reports the arrival and removal of devices; the
    // window registers with it while it is built and unregisters at close.
    explicit TFormMain(QWidget* parent = nullptr, DeviceWatcher* watcher = nullptr);
    ~TFormMain() override;

    TFormPEQA* FormPEQA() const { return editor_; }
    // Made on first use.
    TAboutBox* AboutBox();
    THelpBox* HelpBox();
    QTabWidget* PageControl1() const { return pages_; }
    QString StatusText(int panel) const;
    // The window's UserInterface: install it with SetUserInterface.
    UserInterface& Interface() { return interface_; }
    // Builds what the window leaves for after its first paint (the SYSTEM
    // page); it runs by itself then.
    void FinishBuilding();

    // Volume handlers and the refresh from the image.
    void TrackBarMicVolChange();
    void TrackBarMusicVolChange();
    void TrackBarEffectVolChange();
    void TrackBarMicMaxVolChange();
    void TrackBarMusicMaxVolChange();
    void RefreshVolumeControls();

    void PageControl1Change(int tab);
    void FormShow();
    void FormClose();
    void Exit1Click();
    void About1Click();
    void HelpClick();
    // EQ > Fit to measurement: the panel, made on first use.
    void FitToMeasurementClick();
    void MeasureSweepClick();
    void LiveAnalyserClick();
    TFitPanel* FitPanel() const { return fitPanel_; }

    // Connection and device events.
    void ConnectBitBtnClick();
    void DeviceChange(DeviceEventKind kind, const std::string& path);

    // Whole-image commands and slots.
    void UpdatePc2DspClick();
    void UpdateDsp2PcClick();
    void BitBtnSaveClick();
    void BitBtnRecallClick();

    // Presets.
    void Open1Click();
    void Save1Click();
    void ButtonReshClick();
    void Button1Click();
    void Button2Click();
    // The file dialogs; tests put their own choice in. An empty name is a
    // cancelled dialog.
    std::function<QString()> ChooseOpenFile;
    std::function<QString()> ChooseSaveFile;
    // The preset folder dialog; an empty name is a cancelled dialog.
    std::function<QString()> ChooseFolder;
    // Asked when Connect finds several boxes: the index of the chosen
    // identifier, or -1 when the user cancels.
    std::function<int(const QStringList& identifiers)> ChooseBox;
    QString PresetDirectory() const;
    void ButtonFolderClick();
    // The folder the named file dialog starts in: where it last found a file.
    QString DialogFolder(const QString& dialog) const;
    void RememberDialogFolder(const QString& dialog, const QString& file);

    // Undo and redo. Edits between two returns to the event loop form one
    // step, a slider held down or a chart drag one step until released.
    void Undo1Click();
    void Redo1Click();
    // Runs `change` as one named step (a preset load, a read, a copy, an
    // import); a whole-image step is undone and redone with a write-all.
    void RecordStep(const QString& name, bool wholeImage, const std::function<void()>& change);
    // Records the edits made since the last step, if any.
    void CommitPendingStep();
    const ImageHistory& History() const { return history_; }

    // A/B comparison: slot 0 is A, 1 is B; -1 before the first switch.
    void CompareSlotClick(int slot);
    int ActiveSlot() const { return activeSlot_; }

    // Copies the shown channel's bands to `target` (same band count).
    void CopyEqTo(EqChannel target);

    // What differs between the window's image and a preset file or the box.
    void ComparePreset1Click();
    void CompareBox1Click();
    std::function<QString()> ChooseCompareFile;
    QDialog* CompareDialog() const { return compareDialog_; }

    // File > Restore box state: the states kept before each whole change of
    // the linked box; the chosen one is written back (the index, -1: none).
    void RestoreBoxState1Click();
    std::function<int(const std::vector<JournalEntry>& entries)> ChooseBoxState;

    // Other tools' files, for the shown channel (File and View menus).
    void ImportFiltersClick();
    void ExportFiltersClick();
    void LoadMeasurementClick();
    void ClearMeasurementClick();
    void ExportChartClick();
    enum class ChartFormat { Png, Png2x, Pdf, Csv };
    // What the menu commands do once a file is chosen; false after telling the user.
    bool ImportFilters(const QString& path);
    bool ExportFilters(const QString& path);
    bool LoadMeasurement(const QString& path);
    bool ExportChart(const QString& path, ChartFormat format);
    // The file dialog of those commands; tests put their own choice in. An
    // empty name is a cancelled dialog; *selected is the chosen filter.
    // dialog names the dialog whose folder is remembered between runs; the
    // caption is shown.
    std::function<QString(const QString& dialog, const QString& caption, const QString& filters, QString* selected,
                          bool save)>
        ChooseFile;
    // The text of the last import's report ("ImportReport").
    QPlainTextEdit* ImportReport() const { return importReport_; }

    // The status-bar panels.
    void SetStatus(StatusPanel panel, std::string_view text);
    // Marks the exchange panel: the box may not hold what the window shows.
    void SetExchangeWarning(bool on);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
#ifdef Q_OS_WIN
    // WM_DEVICECHANGE goes to the watcher, whose events reach DeviceChange.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
#ifdef Q_OS_WIN
    // Registers this window with the watcher (device notification and the
    // virtual-box folder); undone at close.
    void StartWatching();
    void StopWatching();
    QWinEventNotifier* folderNotifier_ = nullptr;
#endif
    void BuildMenu();
    void BuildInteropMenus(QMenu* file);
    void BuildInteropViewItems(QMenu* view);
    QWidget* BuildStrip();
    void ConnectSystemPage();
    void BuildStatusBar();
    // The editor on a channel's tab, showing that channel; the caller refreshes.
    void ShowChannel(EqChannel channel);
    void SetConnectGlyph(int index);
    // Ends the press of the control that brought up the first-edit question.
    void ReleaseAfterQuestion();
    // The link is over: panel 0, the Connect picture and the transport say so.
    void Unlink();
    void ShowLinkedBox(const QString& identifier);
    // ChooseFile, starting in the folder the dialog last chose from.
    QString ChooseRemembered(const QString& dialog, const QString& caption, const QString& filters, QString* selected,
                             bool save);
    void LoadSettings();
    void SaveSettings();
    // Converts a slot box's text; false after telling the user.
    bool SlotNumber(QComboBox* box, int& slot);
    bool LoadPreset(const QString& path);
    // Shows the loaded image and writes it all to the box (its state kept
    // first, unless the caller did).
    void LoadTail(bool keepState = true);
    bool SavePreset(const QString& path);
    void StartHistory();
    // Each of `sliders` moved from press to release makes one undo step.
    void WatchSliders(const QList<QSlider*>& sliders);
    void StopHistory();
    // Watches the linked connection: a box that dies without its removal
    // being reported is a removal at once, not at the next exchange.
    void WatchLink();
    void StopWatchingLink();
    void LinkActivity();
    // Forgets every step: the window now holds what the box holds.
    void StartBoxHistory();
    // Reads the linked box and keeps its state before `after` (a fixed
    // English name: it goes into the file name) in its journal; a failure
    // is told in the status bar and stops nothing.
    void KeepBoxState(const QString& after);
    int AskBoxState(const std::vector<JournalEntry>& entries);
    void BuildEditMenu();
    void BuildViewMenu();
    void FillCopyEqMenu();
    void UpdateUndoItems();
    void UpdateCompareControls();
    // Shows `target` in the window; the box, holding `from`, gets what
    // differs (or everything, for a whole-image step) when linked.
    void RestoreImage(const DspParamsImage& from, const DspParamsImage& target, bool wholeImage);
    void RefreshFromImage();
    void ShowDifferences(const QString& title, const QString& otherColumn, const std::vector<ImageDifference>& rows);

    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, 7> dockPanels_{};
    CaptionPanel* panelMicVol_ = nullptr;
    CaptionPanel* panelMusicVol_ = nullptr;
    CaptionPanel* panelEffectVol_ = nullptr;
    QSlider* trackBarMicVol_ = nullptr;
    QSlider* trackBarMusicVol_ = nullptr;
    QSlider* trackBarEffectVol_ = nullptr;
    QCheckBox* checkBoxAuto_ = nullptr;
    QPushButton* connectBtn_ = nullptr;
    TSystemPage* system_ = nullptr;
    QLabel* linkedBoxPanel_ = nullptr;
    std::map<QString, QString> dialogFolders_;
    int startTab_ = 0;
    DeviceWatcher* watcher_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    QSocketNotifier* linkNotifier_ = nullptr; // on the linked connection itself
    std::array<QLabel*, 3> statusPanels_{};

    ImageHistory history_;
    bool stepPending_ = false;
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
    std::array<QPushButton*, 2> slotButtons_{};
    std::array<QAction*, 2> slotActions_{};
    QLabel* statusCompare_ = nullptr;
    QDialog* compareDialog_ = nullptr;
    QLabel* compareSummary_ = nullptr;
    QTableWidget* compareTable_ = nullptr;

    QPointer<QWidget> pressedAtQuestion_;
    TFormPEQA* editor_ = nullptr;
    QWidget* importDialog_ = nullptr;
    QPlainTextEdit* importReport_ = nullptr;
    TFitPanel* fitPanel_ = nullptr;
    TAboutBox* about_ = nullptr;
    THelpBox* help_ = nullptr;
    FormInterface interface_{*this};
    bool shown_ = false;
    bool painted_ = false;
    bool closed_ = false;
};

} // namespace ktv

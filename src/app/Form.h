#pragma once
// TFormMain: the main window. It builds the application's parts in order,
// hosts the one channel editor inside the channel tabs, carries the master
// and maximum volumes, the SYSTEM page and the status bar, and holds the
// application's UserInterface (message boxes, status panels, busy cursor).
// Its other jobs each have a controller: the link to the box, the presets
// and slots, the history and comparison, other tools' files and measuring;
// the handlers bound to its controls forward to them.

#include "app/ConnectionControl.h"
#include "app/FormInterface.h"
#include "app/HistoryControl.h"
#include "app/InteropControl.h"
#include "app/PresetControl.h"
#include "editor/FileDialogs.h"

#include <QFrame>
#include <QMainWindow>

#include <array>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QTabWidget;

namespace ktv {

class TAboutBox;
class THelpBox;
class TFitPanel;
class TFormPEQA;
class TSystemPage;

// A panel whose caption stands at its left, with one track bar at its right;
// `width` wide where there is room, its bar shorter where there is not.
class CaptionPanel : public QFrame {
    Q_OBJECT
public:
    CaptionPanel(const QString& name, const QString& caption, int width, QWidget* parent);
    QString Caption() const;
    void SetCaption(const QString& caption);
    QSlider* Bar() const { return bar_; }
    QSize sizeHint() const override { return {maximumWidth(), height()}; }

private:
    QLabel* caption_;
    QSlider* bar_;
};

// The strip over the right of the tab row. The tab control gives its corner
// the width the corner asks for: it asks for less than its full width when
// the window is too narrow for every tab beside it, and its volume bars give
// way, so that the tabs need no scroll arrows.
class CornerStrip : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    QSize sizeHint() const override;
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
    // What scrolls the content of a tab (0..7) in a window made smaller.
    QScrollArea* PageScroller(int tab) const { return scrollers_[std::size_t(tab)]; }
    QString StatusText(int panel) const;
    // The window's UserInterface: install it with SetUserInterface.
    UserInterface& Interface() { return interface_; }
    // Builds what the window leaves for after its first paint (the SYSTEM
    // page); it runs by itself then.
    void FinishBuilding();

    // The controllers of the window's jobs, and its file dialogs.
    ConnectionControl& Connection() { return *connection_; }
    PresetControl& Presets() { return *presets_; }
    HistoryControl& Changes() { return *history_; }
    InteropControl& Interop() { return *interop_; }
    FileDialogs& Files() { return files_; }

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

    // Connection and device events.
    void ConnectBitBtnClick() { connection_->ConnectBitBtnClick(); }
    void DeviceChange(DeviceEventKind kind, const std::string& path) { connection_->DeviceChange(kind, path); }

    // Whole-image commands and slots.
    void UpdatePc2DspClick() { presets_->UpdatePc2DspClick(); }
    void UpdateDsp2PcClick() { presets_->UpdateDsp2PcClick(); }
    void BitBtnSaveClick() { presets_->BitBtnSaveClick(); }
    void BitBtnRecallClick() { presets_->BitBtnRecallClick(); }

    // Presets.
    void Open1Click() { presets_->Open1Click(); }
    void Save1Click() { presets_->Save1Click(); }
    void ButtonReshClick() { presets_->ButtonReshClick(); }
    void Button1Click() { presets_->Button1Click(); }
    void Button2Click() { presets_->Button2Click(); }

    // Short ways to what the controllers know.
    QString PresetDirectory() const { return presets_->PresetDirectory(); }
    // The folder the named file dialog starts in: where it last found a file.
    QString DialogFolder(const QString& dialog) const { return files_.FolderOf(dialog); }
    const ImageHistory& History() const { return history_->History(); }
    int ActiveSlot() const { return history_->ActiveSlot(); }
    QDialog* CompareDialog() const { return history_->CompareDialog(); }
    TFitPanel* FitPanel() const { return interop_->FitPanel(); }
    using ChartFormat = InteropControl::ChartFormat;
    bool ImportFilters(const QString& path) { return interop_->ImportFilters(path); }
    bool ExportFilters(const QString& path, const FilterDialect* dialect = nullptr)
    {
        return interop_->ExportFilters(path, dialect);
    }
    bool LoadMeasurement(const QString& path) { return interop_->LoadMeasurement(path); }
    bool ExportChart(const QString& path, ChartFormat format) { return interop_->ExportChart(path, format); }
    QPlainTextEdit* ImportReport() const { return interop_->ImportReport(); }

    // The status-bar panels.
    void SetStatus(StatusPanel panel, std::string_view text);
    // Marks the exchange panel: the box may not hold what the window shows.
    void SetExchangeWarning(bool on);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
#ifdef Q_OS_WIN
    // WM_DEVICECHANGE goes to the connection's device watcher.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void BuildMenu();
    QWidget* BuildStrip();
    void ConnectSystemPage();
    void BuildStatusBar();
    void HelpClick();
    // The editor on a channel's tab, showing that channel; the caller refreshes.
    void ShowChannel(EqChannel channel);
    void LoadSettings();
    void SaveSettings();
    // Brings the window whole onto the available area of its screen: a size
    // and place remembered on a larger screen, or at a smaller scale, would
    // leave Connect or the status bar out of reach.
    void KeepOnScreen();
    void RefreshFromImage();

    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, 7> dockPanels_{};
    std::array<QScrollArea*, 8> scrollers_{};
    CaptionPanel* panelMicVol_ = nullptr;
    CaptionPanel* panelMusicVol_ = nullptr;
    CaptionPanel* panelEffectVol_ = nullptr;
    QSlider* trackBarMicVol_ = nullptr;
    QSlider* trackBarMusicVol_ = nullptr;
    QSlider* trackBarEffectVol_ = nullptr;
    QCheckBox* checkBoxAuto_ = nullptr;
    QPushButton* connectBtn_ = nullptr;
    std::array<QPushButton*, 2> slotButtons_{};
    TSystemPage* system_ = nullptr;
    QLabel* linkedBoxPanel_ = nullptr;
    QLabel* statusCompare_ = nullptr;
    int startTab_ = 0;
    std::array<QLabel*, 3> statusPanels_{};

    FileDialogs files_{this};
    ConnectionControl* connection_ = nullptr;
    HistoryControl* history_ = nullptr;
    PresetControl* presets_ = nullptr;
    InteropControl* interop_ = nullptr;

    TFormPEQA* editor_ = nullptr;
    TAboutBox* about_ = nullptr;
    THelpBox* help_ = nullptr;
    FormInterface interface_{*this};
    bool shown_ = false;
    bool painted_ = false;
    bool closed_ = false;
};

} // namespace ktv

#pragma once
// TFormMain: the main window. It builds the application's parts in order,
// hosts the one channel editor inside the channel tabs, carries the master
// and maximum volumes, the SYSTEM page and the status bar, and is the
// application's UserInterface (message boxes, status panels, busy cursor).

#include "base/UserInterface.h"

#include <QFrame>
#include <QMainWindow>

#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QTabWidget;

namespace ktv {

class TAboutBox;
class TFormPEQA;

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

class TFormMain : public QMainWindow, public UserInterface {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    TFormPEQA* FormPEQA() const { return editor_; }
    TAboutBox* AboutBox() const { return about_; }
    QTabWidget* PageControl1() const { return pages_; }
    QString StatusText(int panel) const;

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

    // UserInterface
    void ShowMessage(std::string_view text) override;
    void SetStatus(StatusPanel panel, std::string_view text) override;
    void SetBusyCursor(bool busy) override;
    void Sleep(int milliseconds) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    QWidget* BuildStrip();
    QWidget* BuildSystemPage();
    void BuildStatusBar();
    void DockEditor(QWidget* panel);
    void FillFileList();

    QTabWidget* pages_ = nullptr;
    std::array<QWidget*, 7> dockPanels_{};
    CaptionPanel* panelMicVol_ = nullptr;
    CaptionPanel* panelMusicVol_ = nullptr;
    CaptionPanel* panelEffectVol_ = nullptr;
    QSlider* trackBarMicVol_ = nullptr;
    QSlider* trackBarMusicVol_ = nullptr;
    QSlider* trackBarEffectVol_ = nullptr;
    QSlider* trackBarMicMaxVol_ = nullptr;
    QSlider* trackBarMusicMaxVol_ = nullptr;
    QLabel* labelMicMaxVol_ = nullptr;
    QLabel* labelMusicMaxVol_ = nullptr;
    QCheckBox* checkBoxAuto_ = nullptr;
    QPushButton* connectBtn_ = nullptr;
    QListWidget* fileList_ = nullptr;
    std::array<QLabel*, 3> statusPanels_{};

    TFormPEQA* editor_ = nullptr;
    TAboutBox* about_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    int busyDepth_ = 0;
};

} // namespace ktv

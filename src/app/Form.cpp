#include "app/Form.h"

#include "app/About.h"
#include "app/Help.h"
#include "app/CoreTexts.h"
#include "app/Settings.h"
#include "app/SystemPage.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#ifdef _WIN32
#include "device/platform/WindowsDeviceWatcher.h"
#else
#include "device/platform/DeviceWatcher.h"
#endif
#include "dsp/StepTables.h"
#include "editor/FitPanel.h"
#include "editor/Peqa.h"
#include "editor/SettingsPages.h"
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QSocketNotifier>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace ktv {

CaptionPanel::CaptionPanel(const QString& name, const QString& caption, int width, QWidget* parent) : QFrame(parent)
{
    setObjectName(name);
    setFixedSize(width, 18);
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(2, 0, 2, 0);
    h->setSpacing(4);
    caption_ = new QLabel(caption, this);
    caption_->setMinimumWidth(62);
    bar_ = new QSlider(Qt::Horizontal, this);
    h->addWidget(caption_);
    h->addWidget(bar_, 1);
}

QString CaptionPanel::Caption() const { return caption_->text(); }
void CaptionPanel::SetCaption(const QString& caption) { caption_->setText(caption); }

TFormMain::TFormMain(QWidget* parent, DeviceWatcher* watcher) : QMainWindow(parent), watcher_(watcher)
{
    setObjectName("FormMain");
    setWindowTitle(ProductName);
    resize(1120, 650);
    move(146, 55);

    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    pages_->setUsesScrollButtons(false);
    // Styled on the tab bar only: a style sheet on the tab control would
    // override the palette of every page, the sky-blue ones included.
    pages_->tabBar()->setStyleSheet("QTabBar::tab { height: 25px; padding: 0 5px; }");
    static const char* captions[] = {QT_TR_NOOP("MIC"),    QT_TR_NOOP("MUSIC"), QT_TR_NOOP("EFECT"), QT_TR_NOOP("MAIN"),
                                     QT_TR_NOOP("CENTER"), QT_TR_NOOP("SUB"),   QT_TR_NOOP("SRS")};
    static const char* panels[] = {"PanelPeqMic",  "PanelPeqMusic", "PanelRev",   "PanelPeqMain",
                                   "PanelPeqCenter", "PanelPeqSub", "PanelPeqSrs"};
    for (int t = 0; t < 7; ++t) {
        auto* page = new QWidget(pages_);
        page->setObjectName(QStringLiteral("TabSheet%1").arg(t + 1));
        auto* pl = new QVBoxLayout(page);
        pl->setContentsMargins(0, 0, 0, 0);
        auto* panel = new QWidget(page);
        panel->setObjectName(panels[t]);
        auto* dock = new QVBoxLayout(panel);
        dock->setContentsMargins(0, 0, 0, 0);
        pl->addWidget(panel);
        dockPanels_[std::size_t(t)] = panel;
        if (t == 5 || t == 6)
            PaintSkyBlue(page);
        pages_->addTab(page, tr(captions[t]));
    }
    system_ = new TSystemPage(pages_);
    // The file list shows the directory we were started in until a folder is chosen.
    system_->ShowFolder(QDir::currentPath());
    pages_->addTab(system_, tr("SYSTEM"));
    pages_->setCornerWidget(BuildStrip(), Qt::TopRightCorner);
    // A window made smaller than its content scrolls it.
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName("ScrollBoxMain");
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setWidget(pages_);
    setCentralWidget(scroller);
    BuildMenu();
    BuildStatusBar();

    // Device arrival and removal reach us through the event loop: the
    // watcher's descriptor becomes readable, no thread involved.
#ifdef Q_OS_WIN
    StartWatching();
#else
    if (watcher_ && watcher_->Register([this](const DeviceEvent& e) { DeviceChange(e.Kind, e.Path); })) {
        notifier_ = new QSocketNotifier(watcher_->Fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (watcher_ && watcher_->Registered())
                watcher_->ProcessPendingEvents();
        });
    }
#endif
    BuildStepTables();
    LoadDefaults();

    editor_ = new TFormPEQA(nullptr);
    editor_->hide();
    StartHistory();

    connect(trackBarMicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMicVolChange);
    connect(trackBarMusicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMusicVolChange);
    connect(trackBarEffectVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarEffectVolChange);
    connect(pages_, &QTabWidget::currentChanged, this, &TFormMain::PageControl1Change);
    connect(connectBtn_, &QPushButton::clicked, this, &TFormMain::ConnectBitBtnClick);
    ConnectSystemPage();

    const QString filter = tr("DAP files (*.dap)");
    ChooseOpenFile = [this, filter] {
        return QFileDialog::getOpenFileName(this, tr("Open"), DialogFolder("Open"), filter);
    };
    ChooseSaveFile = [this, filter] {
        return QFileDialog::getSaveFileName(this, tr("Save"), DialogFolder("Save"), filter);
    };
    ChooseFolder = [this] { return QFileDialog::getExistingDirectory(this, tr("Preset folder"), PresetDirectory()); };
    ChooseBox = [this](const QStringList& identifiers) {
        bool ok = false;
        const QString chosen = QInputDialog::getItem(this, tr("Connect"), tr("Several boxes are present. Link to:"),
                                                     identifiers, 0, false, &ok);
        return ok ? int(identifiers.indexOf(chosen)) : -1;
    };

    // Scrolling over the window scrolls it; a control takes the wheel only
    // once it holds the keyboard focus.
    GuardWheel(this);
    GuardWheel(editor_);

    BoxLink& link = Link();
    link.ReadFromBox = [this] {
        UpdateDsp2PcClick();
        ReleaseAfterQuestion();
    };
    link.BoxGone = [this] {
        // A box that stopped answering for good is gone, whether or not its
        // removal was ever reported.
        Unlink();
        Ui().ShowMessage("DSP USB Plugout!");
    };
    link.AskUnread = [this] {
        if (QGuiApplication::mouseButtons() != Qt::NoButton)
            pressedAtQuestion_ = QApplication::widgetAt(QCursor::pos());
        const int answer = Ui().Ask(tr("KTV Tune has not read this box's settings yet. Read them first?").toStdString(),
                                    {tr("Read from box").toStdString(), tr("Send my change").toStdString()});
        if (answer == AnswerSendChange)
            ReleaseAfterQuestion(); // otherwise after the read and its message
        return answer;
    };
    LoadSettings();
}

TFormMain::~TFormMain()
{
    StopHistory();
    BoxLink& link = Link();
    link.ReadFromBox = nullptr;
    link.BoxGone = nullptr;
    link.AskUnread = nullptr;
    // The editor may sit in a tab or float; delete it while the window exists.
    delete editor_;
}

QWidget* TFormMain::BuildStrip()
{
    auto* strip = new QWidget(this);
    strip->setObjectName("PanelStrip");
    auto* h = new QHBoxLayout(strip);
    h->setContentsMargins(0, 1, 4, 0);
    h->setSpacing(6);
    panelMicVol_ = new CaptionPanel("PanelMicVol", tr("Mic:%1").arg(0), 160, strip);
    panelMusicVol_ = new CaptionPanel("PanelMusicVol", tr("Music:%1").arg(0), 168, strip);
    panelEffectVol_ = new CaptionPanel("PanelEffectVol", tr("Effect:%1").arg(0), 168, strip);
    trackBarMicVol_ = panelMicVol_->Bar();
    trackBarMusicVol_ = panelMusicVol_->Bar();
    trackBarEffectVol_ = panelEffectVol_->Bar();
    for (auto [bar, name] : {std::pair{trackBarMicVol_, "TrackBarMicVol"}, std::pair{trackBarMusicVol_, "TrackBarMusicVol"},
                             std::pair{trackBarEffectVol_, "TrackBarEffectVol"}}) {
        bar->setObjectName(name);
        bar->setRange(0, 100);
        bar->setSingleStep(1);
        bar->setPageStep(10);
        bar->setValue(0);
    }
    checkBoxAuto_ = new QCheckBox(tr("AUTO"), strip);
    checkBoxAuto_->setObjectName("CheckBoxAuto");
    connectBtn_ = new QPushButton(QIcon(ConnectGlyph(0)), tr("Connect"), strip);
    connectBtn_->setObjectName("ConnectBitBtn");
    connectBtn_->setFixedSize(86, 24);
    h->addWidget(panelMicVol_);
    h->addWidget(panelMusicVol_);
    h->addWidget(panelEffectVol_);
    for (int slot = 0; slot < 2; ++slot) {
        auto* b = new QPushButton(slot == 0 ? tr("A") : tr("B"), strip);
        b->setObjectName(slot == 0 ? "ButtonCompareA" : "ButtonCompareB");
        b->setCheckable(true);
        b->setFixedSize(26, 24);
        b->setToolTip(tr("Compare: switch the window and the box to setting %1").arg(b->text()));
        connect(b, &QPushButton::clicked, this, [this, slot] { CompareSlotClick(slot); });
        slotButtons_[std::size_t(slot)] = b;
    }
    h->addWidget(checkBoxAuto_);
    h->addWidget(slotButtons_[0]);
    h->addWidget(slotButtons_[1]);
    h->addWidget(connectBtn_);
    return strip;
}

void TFormMain::ConnectSystemPage()
{
    connect(system_, &TSystemPage::micMaxVolChanged, this, &TFormMain::TrackBarMicMaxVolChange);
    connect(system_, &TSystemPage::musicMaxVolChanged, this, &TFormMain::TrackBarMusicMaxVolChange);
    connect(system_, &TSystemPage::writeClicked, this, &TFormMain::UpdatePc2DspClick);
    connect(system_, &TSystemPage::readClicked, this, &TFormMain::UpdateDsp2PcClick);
    connect(system_, &TSystemPage::storeClicked, this, &TFormMain::BitBtnSaveClick);
    connect(system_, &TSystemPage::recallClicked, this, &TFormMain::BitBtnRecallClick);
    connect(system_, &TSystemPage::refreshClicked, this, &TFormMain::ButtonReshClick);
    connect(system_, &TSystemPage::saveFileClicked, this, &TFormMain::Button1Click);
    connect(system_, &TSystemPage::recallFileClicked, this, &TFormMain::Button2Click);
    connect(system_, &TSystemPage::folderClicked, this, &TFormMain::ButtonFolderClick);
    // A slider moved from press to release is one undo step.
    connect(system_, &TSystemPage::built, this, [this] {
        WatchSliders({system_->MicMaxVolBar(), system_->MusicMaxVolBar()});
    });
}

void TFormMain::FinishBuilding() { system_->Build(); }

QString TFormMain::PresetDirectory() const { return system_->Folder(); }

void TFormMain::BuildMenu()
{
    QMenu* file = menuBar()->addMenu(tr("File"));
    file->setObjectName("File1");
    QAction* open = file->addAction(tr("Open"));
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, &TFormMain::Open1Click);
    QAction* save = file->addAction(tr("Save"));
    save->setObjectName("Save1");
    save->setShortcut(QKeySequence::Save);
    connect(save, &QAction::triggered, this, &TFormMain::Save1Click);
    BuildInteropMenus(file);
    file->addSeparator();
    QAction* comparePreset = file->addAction(tr("Compare with preset..."));
    comparePreset->setObjectName("ComparePreset1");
    connect(comparePreset, &QAction::triggered, this, &TFormMain::ComparePreset1Click);
    QAction* compareBox = file->addAction(tr("Compare with box"));
    compareBox->setObjectName("CompareBox1");
    connect(compareBox, &QAction::triggered, this, &TFormMain::CompareBox1Click);
    QAction* restoreState = file->addAction(tr("Restore box state…"));
    restoreState->setObjectName("RestoreBoxState1");
    connect(restoreState, &QAction::triggered, this, &TFormMain::RestoreBoxState1Click);
    file->addSeparator();
    QAction* exit = file->addAction(tr("Exit"));
    exit->setObjectName("Exit1");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &TFormMain::Exit1Click);

    BuildEditMenu();
    BuildViewMenu();

    QMenu* eq = menuBar()->addMenu(tr("EQ"));
    eq->setObjectName("Eq1");
    QAction* fit = eq->addAction(tr("Fit to measurement…"));
    fit->setObjectName("FitToMeasurement1");
    connect(fit, &QAction::triggered, this, &TFormMain::FitToMeasurementClick);

    QMenu* measure = menuBar()->addMenu(tr("Measure"));
    measure->setObjectName("Measure1");
    QAction* sweep = measure->addAction(tr("Sweep…"));
    sweep->setObjectName("MeasureSweep1");
    connect(sweep, &QAction::triggered, this, &TFormMain::MeasureSweepClick);
    QAction* analyser = measure->addAction(tr("Live analyser"));
    analyser->setObjectName("LiveAnalyser1");
    connect(analyser, &QAction::triggered, this, &TFormMain::LiveAnalyserClick);

    QMenu* help = menuBar()->addMenu(tr("Help"));
    help->setObjectName("Help1");
    QAction* helpItem = help->addAction(tr("Help"));
    helpItem->setObjectName("Help2");
    helpItem->setShortcut(QKeySequence::HelpContents);
    connect(helpItem, &QAction::triggered, this, &TFormMain::HelpClick);
    QAction* about = help->addAction(tr("About"));
    about->setObjectName("About1");
    connect(about, &QAction::triggered, this, &TFormMain::About1Click);
}

void TFormMain::BuildStatusBar()
{
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    static const char* texts[] = {QT_TR_NOOP("No Connect!"), QT_TR_NOOP("Commution State:"), QT_TR_NOOP("Device ID:1")};
    static const int widths[] = {200, 200, 50};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(tr(texts[i]), bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        // Panel 2 is 50 pixels by design; its text must still fit.
        label->setMinimumWidth(std::max(widths[i], label->sizeHint().width() + 8));
        label->setMaximumWidth(i == 2 ? label->minimumWidth() : widths[i]);
        statusPanels_[std::size_t(i)] = label;
        bar->addWidget(label);
    }
    statusCompare_ = new QLabel(bar);
    statusCompare_->setObjectName("StatusCompare");
    statusCompare_->setFrameShape(QFrame::Panel);
    statusCompare_->setFrameShadow(QFrame::Sunken);
    statusCompare_->hide(); // until the first A/B switch
    bar->addWidget(statusCompare_);
    // Names the linked box: with several boxes present, which one is tuned.
    linkedBoxPanel_ = new QLabel(bar);
    linkedBoxPanel_->setObjectName("StatusPanelBox");
    linkedBoxPanel_->setFrameShape(QFrame::Panel);
    linkedBoxPanel_->setFrameShadow(QFrame::Sunken);
    bar->addWidget(linkedBoxPanel_, 1);
    setStatusBar(bar);
}

QString TFormMain::StatusText(int panel) const { return statusPanels_[std::size_t(panel)]->text(); }

// ---- volumes ----

void TFormMain::TrackBarMicVolChange()
{
    DspParams.MicVol = std::uint8_t(trackBarMicVol_->value());
    if (DspParams.MaxVol[0] < DspParams.MicVol) {
        DspParams.MicVol = DspParams.MaxVol[0];
        // Runs this handler again with the clamped value before we go on.
        trackBarMicVol_->setValue(DspParams.MicVol);
    }
    panelMicVol_->SetCaption(tr("Mic:%1").arg(DspParams.MicVol));
    SendMasterVolume();
}

void TFormMain::TrackBarMusicVolChange()
{
    DspParams.MusicVol = std::uint8_t(trackBarMusicVol_->value());
    if (DspParams.MaxVol[1] < DspParams.MusicVol) {
        DspParams.MusicVol = DspParams.MaxVol[1];
        trackBarMusicVol_->setValue(DspParams.MusicVol);
    }
    panelMusicVol_->SetCaption(tr("Music:%1").arg(DspParams.MusicVol));
    SendMasterVolume();
}

void TFormMain::TrackBarEffectVolChange()
{
    DspParams.EffectVol = std::uint8_t(trackBarEffectVol_->value());
    panelEffectVol_->SetCaption(tr("Effect:%1").arg(DspParams.EffectVol));
    SendMasterVolume();
}

void TFormMain::TrackBarMicMaxVolChange()
{
    DspParams.MaxVol[0] = std::uint8_t(system_->MicMaxVolBar()->value());
    SendMaxVolume();
    if (DspParams.MaxVol[0] < DspParams.MicVol) {
        DspParams.MicVol = DspParams.MaxVol[0];
        trackBarMicVol_->setValue(DspParams.MicVol);
    }
}

void TFormMain::TrackBarMusicMaxVolChange()
{
    DspParams.MaxVol[1] = std::uint8_t(system_->MusicMaxVolBar()->value());
    SendMaxVolume();
    if (DspParams.MaxVol[1] < DspParams.MusicVol) {
        DspParams.MusicVol = DspParams.MaxVol[1];
        trackBarMusicVol_->setValue(DspParams.MusicVol);
    }
}

void TFormMain::RefreshVolumeControls()
{
    trackBarMicVol_->setValue(DspParams.MicVol);
    trackBarMusicVol_->setValue(DspParams.MusicVol);
    trackBarEffectVol_->setValue(DspParams.EffectVol);
    system_->MicMaxVolBar()->setValue(DspParams.MaxVol[0]);
    system_->MusicMaxVolBar()->setValue(DspParams.MaxVol[1]);
}

// ---- channel tabs ----

void TFormMain::ShowChannel(EqChannel channel)
{
    editor_->ShowChannel(channel);
    QWidget* panel = dockPanels_[std::size_t(channel)];
    if (editor_->parentWidget() != panel)
        panel->layout()->addWidget(editor_);
    editor_->show();
}

void TFormMain::PageControl1Change(int tab)
{
    if (tab < 0 || tab >= EqChannelCount)
        return; // SYSTEM leaves the editor where it is
    ShowChannel(EqChannel(tab));
    editor_->RefreshBands();
    editor_->LoadSettings();
}

void TFormMain::FitToMeasurementClick()
{
    if (!fitPanel_) {
        fitPanel_ = new TFitPanel(editor_, this);
        fitPanel_->RunStep = [this](const QString& name, const std::function<void()>& change) {
            RecordStep(name, false, change);
        };
        // After PageControl1Change (connected first) has moved the editor.
        connect(pages_, &QTabWidget::currentChanged, fitPanel_, &TFitPanel::ShowChannel);
    }
    fitPanel_->ShowChannel();
    fitPanel_->show();
    fitPanel_->raise();
}

void TFormMain::FormShow()
{
    ShowChannel(EqChannel::MIC);
    // Back to the tab of the last run, as if the user had clicked it.
    if (startTab_ > 0 && startTab_ < pages_->count())
        pages_->setCurrentIndex(startTab_);
    // Start with the tabs focused: an edit that held the focus would apply
    // itself when the user first leaves it.
    pages_->setFocus();
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFormMain::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    if (!painted_) {
        painted_ = true;
        QMetaObject::invokeMethod(this, &TFormMain::FinishBuilding, Qt::QueuedConnection);
    }
}

void TFormMain::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    SaveSettings();
    StopWatchingLink();
    CloseBoxLink();
    // The notifier goes before the descriptor it watches is closed.
    delete notifier_;
    notifier_ = nullptr;
#ifdef Q_OS_WIN
    StopWatching();
#else
    if (watcher_)
        watcher_->Unregister();
#endif
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TFormMain::Exit1Click() { close(); }

TAboutBox* TFormMain::AboutBox()
{
    if (!about_)
        about_ = new TAboutBox(this);
    return about_;
}

void TFormMain::About1Click() { AboutBox()->exec(); }

THelpBox* TFormMain::HelpBox()
{
    if (!help_)
        help_ = new THelpBox(this);
    return help_;
}

// Not modal: the guide can stay open beside the window.
void TFormMain::HelpClick()
{
    HelpBox()->show();
    HelpBox()->raise();
}

// ---- connection ----

void TFormMain::SetConnectGlyph(int index) { connectBtn_->setIcon(QIcon(ConnectGlyph(index))); }

void TFormMain::ConnectBitBtnClick()
{
    HidPro& hid = Hid();
    StopWatchingLink();
    if (hid.Linked) {
        CloseBoxLink();
    } else {
        const std::vector<HidInterface> boxes = hid.ListBoxes();
        std::size_t chosen = 0;
        if (boxes.size() > 1) {
            QStringList identifiers;
            for (const HidInterface& b : boxes)
                identifiers << QString::fromStdString(b.InstanceId);
            const int index = ChooseBox ? ChooseBox(identifiers) : 0;
            if (index < 0 || index >= identifiers.size())
                return; // cancelled: nothing was opened, nothing changes
            chosen = std::size_t(index);
        }
        (void)OpenBoxLink(boxes.empty() ? std::string() : boxes[chosen].Path);
    }

    ShowLinkedBox(hid.Linked ? QString::fromStdString(hid.OpenedId) : QString());
    if (hid.Linked) {
        Link().LinkMade();
        WatchLink();
        Ui().SetStatus(StatusPanel::Connection, "Connect:ok!");
        SetConnectGlyph(1);
        if (checkBoxAuto_->isChecked())
            UpdateDsp2PcClick();
    } else {
        Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
        SetConnectGlyph(0);
    }
}

void TFormMain::DeviceChange(DeviceEventKind kind, const std::string& path)
{
    if (path.find(BoxIdentifier) == std::string::npos)
        return;
    if (kind == DeviceEventKind::Arrival) {
        Ui().ShowMessage("DSP USB Plugin!");
        return;
    }
    Ui().ShowMessage("DSP USB Plugout!");
    // A second box of the same kind leaving does not end the link.
    if (Hid().Linked && path != Hid().OpenedId)
        return;
    Unlink();
}

void TFormMain::WatchLink()
{
    StopWatchingLink();
    HidPlatform* platform = Hid().Platform();
    const int fd = platform ? platform->WatchFd(Hid().Handle) : -1;
    if (fd < 0)
        return;
    linkNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(linkNotifier_, &QSocketNotifier::activated, this, &TFormMain::LinkActivity);
}

void TFormMain::StopWatchingLink()
{
    if (!linkNotifier_)
        return;
    // It may be the notifier whose signal is running.
    linkNotifier_->setEnabled(false);
    linkNotifier_->deleteLater();
    linkNotifier_ = nullptr;
}

void TFormMain::LinkActivity()
{
    HidPro& hid = Hid();
    if (!hid.Linked || !hid.Platform()) {
        StopWatchingLink();
        return;
    }
    if (hid.Platform()->HungUp(hid.Handle)) {
        Unlink();
        Ui().ShowMessage("DSP USB Plugout!");
        return;
    }
    // Connected again to a box that had closed the connection.
    if (linkNotifier_ && hid.Platform()->WatchFd(hid.Handle) != int(linkNotifier_->socket()))
        WatchLink();
}

void TFormMain::Unlink()
{
    StopWatchingLink();
    Hid().Linked = false;
    Hid().CloseDevice();
    Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
    SetConnectGlyph(0);
    ShowLinkedBox(QString());
}

void TFormMain::ShowLinkedBox(const QString& identifier) { linkedBoxPanel_->setText(identifier); }

// ---- whole image and slots ----

void TFormMain::UpdatePc2DspClick()
{
    Ui().SetBusyCursor(true);
    KeepBoxState(QStringLiteral("Write to dsp"));
    const bool ok = WriteAllToDevice();
    Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
    Ui().SetBusyCursor(false);
}

void TFormMain::UpdateDsp2PcClick()
{
    bool read = false;
    RecordStep(tr("Read from dsp"), true, [this, &read] {
        Ui().SetBusyCursor(true);
        read = ReadAllFromDevice();
        if (read) {
            RefreshFromImage();
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
        StartBoxHistory();
}

bool TFormMain::SlotNumber(QComboBox* box, int& slot)
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

void TFormMain::BitBtnSaveClick()
{
    int slot = 0;
    if (!SlotNumber(system_->SaveSlotBox(), slot))
        return;
    if (slot < 1 || slot > 8) {
        Ui().ShowMessage("Set factory mode error!");
        return;
    }
    Ui().SetBusyCursor(true);
    const SlotOutcome outcome = StoreSlot(std::uint8_t(slot));
    Ui().ShowMessage(outcome == SlotOutcome::Ok ? "Set factory mode ok!" : "Set factory mode fault!");
    Ui().SetBusyCursor(false);
}

void TFormMain::BitBtnRecallClick()
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
    RecordStep(tr("Recall slot %1").arg(slot), true, [this, slot] {
        Ui().SetBusyCursor(true);
        KeepBoxState(QStringLiteral("Recall slot %1").arg(slot));
        const SlotOutcome outcome = RecallSlot(std::uint8_t(slot));
        if (outcome == SlotOutcome::Ok)
            RefreshFromImage();
        Ui().ShowMessage(outcome == SlotOutcome::Ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
        Ui().SetBusyCursor(false);
    });
}

// ---- presets ----

void TFormMain::LoadTail(bool keepState)
{
    {
        // The write-all below sends everything; the controls taking the image
        // over must not send their parts first.
        HoldSends hold;
        RefreshFromImage();
    }
    Ui().SetBusyCursor(true);
    if (keepState)
        KeepBoxState(QStringLiteral("Load preset"));
    const bool ok = WriteAllToDevice();
    Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
    Ui().SetBusyCursor(false);
}

bool TFormMain::LoadPreset(const QString& path)
{
    DapReadError error = DapReadError::None;
    bool read = false;
    RecordStep(tr("Open %1").arg(QFileInfo(path).fileName()), true, [&] {
        read = ReadDapFile(path.toStdString(), &error);
        if (read)
            LoadTail();
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

bool TFormMain::SavePreset(const QString& path)
{
    FileWriteError error = FileWriteError::None;
    if (WriteDapFile(path.toStdString(), &error))
        return true;
    Ui().ShowMessage(tr("Preset not saved: %1: %2.")
                         .arg(QDir::toNativeSeparators(path), CoreText(FileWriteErrorText(error)))
                         .toStdString());
    return false;
}

void TFormMain::Open1Click()
{
    const QString path = ChooseOpenFile ? ChooseOpenFile() : QString();
    if (path.isEmpty())
        return;
    RememberDialogFolder("Open", path);
    LoadPreset(QFileInfo(path).absoluteFilePath());
}

void TFormMain::Save1Click()
{
    QString path = ChooseSaveFile ? ChooseSaveFile() : QString();
    if (path.isEmpty())
        return;
    RememberDialogFolder("Save", path);
    if (!path.endsWith(".dap", Qt::CaseInsensitive))
        path += ".dap";
    SavePreset(path);
}

void TFormMain::ButtonFolderClick()
{
    const QString folder = ChooseFolder ? ChooseFolder() : QString();
    if (folder.isEmpty())
        return;
    system_->ShowFolder(QFileInfo(folder).absoluteFilePath());
}

QString TFormMain::DialogFolder(const QString& dialog) const
{
    const auto it = dialogFolders_.find(dialog);
    return it == dialogFolders_.end() ? QString() : it->second;
}

void TFormMain::RememberDialogFolder(const QString& dialog, const QString& file)
{
    dialogFolders_[dialog] = QFileInfo(file).absolutePath();
}

// ---- remembered between runs ----

void TFormMain::LoadSettings()
{
    const auto settings = OpenSettings();
    if (settings->contains("window/geometry"))
        restoreGeometry(settings->value("window/geometry").toByteArray());
    startTab_ = settings->value("window/tab", 0).toInt();
    // Unticked on the very first run: reading a box at once must be asked for.
    checkBoxAuto_->setChecked(settings->value("connect/auto", false).toBool());
    settings->beginGroup("dialogs");
    for (const QString& dialog : settings->childKeys())
        dialogFolders_[dialog] = settings->value(dialog).toString();
    settings->endGroup();
    const QString folder = settings->value("presets/folder").toString();
    // A folder removed since the last run falls back to where we started.
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        system_->ShowFolder(folder);
}

void TFormMain::SaveSettings()
{
    const auto settings = OpenSettings();
    settings->setValue("window/geometry", saveGeometry());
    settings->setValue("window/tab", pages_->currentIndex());
    settings->setValue("connect/auto", checkBoxAuto_->isChecked());
    settings->beginGroup("dialogs");
    for (const auto& [dialog, folder] : dialogFolders_)
        settings->setValue(dialog, folder);
    settings->endGroup();
    settings->setValue("presets/folder", PresetDirectory());
}

void TFormMain::ButtonReshClick() { system_->ShowFolder(PresetDirectory()); }

void TFormMain::Button1Click()
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

void TFormMain::Button2Click()
{
    const QString name = system_->SelectedFile();
    if (name.isEmpty()) {
        Ui().ShowMessage("File name error!");
        return;
    }
    LoadPreset(QDir(PresetDirectory()).filePath(name));
}

// ---- questions and the status bar ----

void TFormMain::ReleaseAfterQuestion()
{
    // The control pressed when the question came up never saw its release,
    // which went to the question: a slider would go on stepping. Its press
    // handler is still running under us and starts that stepping when it
    // returns; the posted release arrives after it, as no modal box follows.
    QWidget* pressed = pressedAtQuestion_;
    pressedAtQuestion_ = nullptr;
    if (!pressed)
        return;
    const QPoint at = QCursor::pos();
    QCoreApplication::postEvent(pressed, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(pressed->mapFromGlobal(at)),
                                                         QPointF(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

void TFormMain::SetExchangeWarning(bool on)
{
    QLabel* panel = statusPanels_[std::size_t(StatusPanel::Exchange)];
    panel->setStyleSheet(on ? QStringLiteral("QLabel { background: #f5c542; color: black; }") : QString());
    panel->setToolTip(on ? tr("An edit did not reach the box: the box may not hold what the window shows. "
                              "\"Write to dsp\" sends everything.")
                         : QString());
}

void TFormMain::SetStatus(StatusPanel panel, std::string_view text)
{
    statusPanels_[std::size_t(panel)]->setText(CoreText(text));
}

} // namespace ktv

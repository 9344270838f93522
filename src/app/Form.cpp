#include "app/Form.h"

#include "app/About.h"
#include "app/Help.h"
#include "app/CoreTexts.h"
#include "app/Settings.h"
#include "app/SystemPage.h"
#include "app/Theme.h"
#include "dsp/StepTables.h"
#include "editor/Peqa.h"
#include "params/Commands.h"
#include "params/BoxLink.h"
#include "params/Gloable.h"
#include "params/ImageDiff.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace ktv {

CaptionPanel::CaptionPanel(const QString& name, const QString& caption, int width, QWidget* parent) : QFrame(parent)
{
    setObjectName(name);
    setFixedHeight(18);
    setMaximumWidth(width);
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(2, 0, 2, 0);
    h->setSpacing(4);
    caption_ = new QLabel(caption, this);
    caption_->setMinimumWidth(62);
    bar_ = new QSlider(Qt::Horizontal, this);
    bar_->setMinimumWidth(40);
    h->addWidget(caption_);
    h->addWidget(bar_, 1);
}

QSize CornerStrip::sizeHint() const
{
    const QSize full = QWidget::sizeHint();
    const auto* tabs = qobject_cast<const QTabWidget*>(parentWidget());
    if (!tabs)
        return full;
    const int room = tabs->width() - tabs->tabBar()->sizeHint().width();
    return {std::clamp(room, std::min(minimumSizeHint().width(), full.width()), full.width()), full.height()};
}

QString CaptionPanel::Caption() const { return caption_->text(); }
void CaptionPanel::SetCaption(const QString& caption) { caption_->setText(caption); }

TFormMain::TFormMain(QWidget* parent, DeviceWatcher* watcher) : QMainWindow(parent)
{
    setObjectName("FormMain");
    setWindowTitle(ProductName);
    resize(1120, 650);
    move(146, 55);

    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    // A window too narrow for every tab beside the strip, even with its bars
    // shortened, scrolls the tabs, never the strip.
    pages_->setUsesScrollButtons(true);
    pages_->setElideMode(Qt::ElideNone);
    // Styled on the tab bar only: a style sheet on the tab control would
    // override the palette of every page, the sky-blue ones included.
    pages_->tabBar()->setStyleSheet("QTabBar::tab { height: 25px; padding: 0 5px; }");
    static const char* captions[] = {QT_TR_NOOP("MIC"),    QT_TR_NOOP("MUSIC"), QT_TR_NOOP("EFECT"), QT_TR_NOOP("MAIN"),
                                     QT_TR_NOOP("CENTER"), QT_TR_NOOP("SUB"),   QT_TR_NOOP("SRS")};
    static const char* panels[] = {"PanelPeqMic",  "PanelPeqMusic", "PanelRev",   "PanelPeqMain",
                                   "PanelPeqCenter", "PanelPeqSub", "PanelPeqSrs"};
    // Each page scrolls its own content when the window is made smaller:
    // the tabs and the strip over them stay where they are.
    auto scrolled = [this](QWidget* page, QWidget* content, int tab) {
        auto* scroller = new QScrollArea(page);
        scroller->setObjectName(QStringLiteral("ScrollBoxMain%1").arg(tab + 1));
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidgetResizable(true);
        scroller->setWidget(content);
        scrollers_[std::size_t(tab)] = scroller;
        return scroller;
    };
    for (int t = 0; t < 7; ++t) {
        auto* page = new QWidget(pages_);
        page->setObjectName(QStringLiteral("TabSheet%1").arg(t + 1));
        auto* pl = new QVBoxLayout(page);
        pl->setContentsMargins(0, 0, 0, 0);
        auto* panel = new QWidget;
        panel->setObjectName(panels[t]);
        auto* dock = new QVBoxLayout(panel);
        dock->setContentsMargins(0, 0, 0, 0);
        pl->addWidget(scrolled(page, panel, t));
        dockPanels_[std::size_t(t)] = panel;
        if (t == 5 || t == 6)
            PaintSkyBlue(page);
        pages_->addTab(page, tr(captions[t]));
    }
    system_ = new TSystemPage(nullptr);
    // The file list shows the directory we were started in until a folder is chosen.
    system_->ShowFolder(QDir::currentPath());
    pages_->addTab(scrolled(pages_, system_, 7), tr("SYSTEM"));
    pages_->setCornerWidget(BuildStrip(), Qt::TopRightCorner);
    setCentralWidget(pages_);
    BuildStatusBar();

    connection_ = new ConnectionControl(this, watcher, {connectBtn_, checkBoxAuto_, linkedBoxPanel_},
                                        [this] { UpdateDsp2PcClick(); });
    connection_->WatchDevices();
    BuildStepTables();
    LoadDefaults();

    editor_ = new TFormPEQA(nullptr);
    editor_->hide();
    const auto refresh = [this] { RefreshFromImage(); };
    history_ = new HistoryControl(this, editor_, files_, {slotButtons_, statusCompare_}, refresh);
    history_->Start();
    connection_->ReadKeepingEdit = [this] { history_->ReadKeepingEdit([this] { UpdateDsp2PcClick(); }); };
    connection_->TakeEditBack = [this] { history_->TakeEditBack(); };
    presets_ = new PresetControl(this, system_, *history_, files_, refresh);
    interop_ = new InteropControl(this, pages_, editor_, *history_, files_);
    BuildMenu();

    connect(trackBarMicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMicVolChange);
    connect(trackBarMusicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMusicVolChange);
    connect(trackBarEffectVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarEffectVolChange);
    connect(pages_, &QTabWidget::currentChanged, this, &TFormMain::PageControl1Change);
    connect(connectBtn_, &QPushButton::clicked, this, &TFormMain::ConnectBitBtnClick);
    ConnectSystemPage();

    // Scrolling over the window scrolls it; a control takes the wheel only
    // once it holds the keyboard focus.
    GuardWheel(this);
    GuardWheel(editor_);

    LoadSettings();
}

TFormMain::~TFormMain()
{
    // The controllers let go of the core's hooks while the editor they
    // reach still exists.
    delete interop_;
    delete presets_;
    delete history_;
    delete connection_;
    // The editor may sit in a tab or float; delete it while the window exists.
    delete editor_;
}

QWidget* TFormMain::BuildStrip()
{
    auto* strip = new CornerStrip(this);
    strip->setObjectName("PanelStrip");
    auto* h = new QHBoxLayout(strip);
    // The tab control gives its corner the tab row's height above its base
    // line, 23 pixels: the buttons take all of it and no more, so none is
    // cut off at the bottom.
    h->setContentsMargins(0, 0, 4, 0);
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
    connectBtn_->setFixedSize(86, 23);
    h->addWidget(panelMicVol_);
    h->addWidget(panelMusicVol_);
    h->addWidget(panelEffectVol_);
    for (int slot = 0; slot < 2; ++slot) {
        auto* b = new QPushButton(slot == 0 ? tr("A") : tr("B"), strip);
        b->setObjectName(slot == 0 ? "ButtonCompareA" : "ButtonCompareB");
        b->setCheckable(true);
        b->setFixedSize(26, 23);
        b->setToolTip(tr("Compare: switch the window and the box to setting %1").arg(b->text()));
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
    connect(system_, &TSystemPage::folderClicked, presets_, &PresetControl::ButtonFolderClick);
    // A slider moved from press to release is one undo step.
    connect(system_, &TSystemPage::built, this, [this] {
        history_->WatchSliders({system_->MicMaxVolBar(), system_->MusicMaxVolBar()});
    });
}

void TFormMain::FinishBuilding() { system_->Build(); }

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
    interop_->BuildFileItems(file);
    file->addSeparator();
    QAction* comparePreset = file->addAction(tr("Compare with preset..."));
    comparePreset->setObjectName("ComparePreset1");
    connect(comparePreset, &QAction::triggered, history_, &HistoryControl::ComparePreset1Click);
    QAction* compareBox = file->addAction(tr("Compare with box"));
    compareBox->setObjectName("CompareBox1");
    connect(compareBox, &QAction::triggered, history_, &HistoryControl::CompareBox1Click);
    QAction* restoreState = file->addAction(tr("Restore box state…"));
    restoreState->setObjectName("RestoreBoxState1");
    connect(restoreState, &QAction::triggered, presets_, &PresetControl::RestoreBoxState1Click);
    file->addSeparator();
    QAction* exit = file->addAction(tr("Exit"));
    exit->setObjectName("Exit1");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &TFormMain::Exit1Click);

    history_->BuildEditMenu(menuBar());
    interop_->BuildViewItems(history_->BuildViewMenu(menuBar()));
    interop_->BuildMenus(menuBar());

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
        // Once more when the window has its frame: the title bar counts.
        QMetaObject::invokeMethod(this, &TFormMain::KeepOnScreen, Qt::QueuedConnection);
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
    connection_->Close();
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

// ---- remembered between runs ----

void TFormMain::LoadSettings()
{
    const auto settings = OpenSettings();
    if (settings->contains("window/geometry"))
        restoreGeometry(settings->value("window/geometry").toByteArray());
    startTab_ = settings->value("window/tab", 0).toInt();
    // Unticked on the very first run: reading a box at once must be asked for.
    checkBoxAuto_->setChecked(settings->value("connect/auto", false).toBool());
    files_.Load(*settings);
    const QString folder = settings->value("presets/folder").toString();
    // A folder removed since the last run falls back to where we started.
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        system_->ShowFolder(folder);
    KeepOnScreen();
}

void TFormMain::KeepOnScreen()
{
    if (isMaximized() || isFullScreen())
        return;
    QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!screen)
        screen = this->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect client = geometry();
    const QRect frame = frameGeometry();
    QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                     frame.bottom() - client.bottom());
    // Before it is shown a window has no frame yet: leave room for a title bar.
    if (margins.isNull() && !isVisible())
        margins.setTop(style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    const QSize room(area.width() - margins.left() - margins.right(), area.height() - margins.top() - margins.bottom());
    const QSize size = client.size().boundedTo(room).expandedTo(minimumSize());
    const QSize outer(size.width() + margins.left() + margins.right(), size.height() + margins.top() + margins.bottom());
    // Top and left win when the window cannot fit: the menu stays reachable.
    const QPoint at(std::max(area.left(), std::min(frame.left(), area.right() + 1 - outer.width())),
                    std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - outer.height())));
    if (size != client.size())
        resize(size);
    if (at != frame.topLeft())
        move(at); // a window's position is its frame's
}

void TFormMain::SaveSettings()
{
    const auto settings = OpenSettings();
    settings->setValue("window/geometry", saveGeometry());
    settings->setValue("window/tab", pages_->currentIndex());
    settings->setValue("connect/auto", checkBoxAuto_->isChecked());
    files_.Store(*settings);
    settings->setValue("presets/folder", PresetDirectory());
}

void TFormMain::RefreshFromImage()
{
    editor_->RefreshBands();
    editor_->LoadSettings();
    RefreshVolumeControls();
}

// ---- the status bar ----

void TFormMain::SetExchangeWarning(bool on)
{
    QLabel* panel = statusPanels_[std::size_t(StatusPanel::Exchange)];
    panel->setStyleSheet(on ? QStringLiteral("QLabel { background: #f5c542; color: black; }") : QString());
    QString tip;
    if (on) {
        tip = tr("An edit did not reach the box: the box may not hold what the window shows. "
                 "\"Write to dsp\" sends everything.");
        // Named one by one: whichever way the box went missing, the user
        // sees what it lacks until a write or a read makes them equal.
        QStringList names;
        for (const BoxLink::Carried& c : Link().Unsent())
            for (const std::string& name : CarriedNames(c.Command, c.Index))
                names << QString::fromStdString(name);
        if (!names.isEmpty())
            tip += '\n' + tr("Not on the box: %1").arg(names.join(QStringLiteral(", ")));
    }
    panel->setToolTip(tip);
    if (editor_)
        editor_->ShowUnsentBands();
}

void TFormMain::SetStatus(StatusPanel panel, std::string_view text)
{
    statusPanels_[std::size_t(panel)]->setText(CoreText(text));
}

} // namespace ktv

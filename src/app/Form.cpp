#include "app/Form.h"

#include "app/About.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#include "dsp/StepTables.h"
#include "editor/Peqa.h"
#include "editor/SettingsPages.h"
#include "params/Commands.h"
#include "params/Gloable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

namespace ktv {

namespace {

QSlider* MakeBar(const QString& name, int value, QWidget* parent)
{
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setRange(0, 100);
    bar->setSingleStep(1);
    bar->setPageStep(10);
    bar->setTickPosition(QSlider::NoTicks);
    bar->setValue(value);
    return bar;
}

QPushButton* MakeButton(const QString& name, const QString& caption, QRect geometry, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    return b;
}

QComboBox* MakeSlotCombo(const QString& name, QRect geometry, QWidget* parent)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= 8; ++i)
        c->addItem(QString::number(i));
    c->setCurrentIndex(0);
    c->lineEdit()->setMaxLength(1);
    c->setGeometry(geometry);
    return c;
}

} // namespace

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

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent)
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
    static const char* captions[] = {"MIC", "MUSIC", "EFECT", "MAIN", "CENTER", "SUB", "SRS"};
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
        pages_->addTab(page, captions[t]);
    }
    pages_->addTab(BuildSystemPage(), "SYSTEM");
    pages_->setCornerWidget(BuildStrip(), Qt::TopRightCorner);
    setCentralWidget(pages_);
    BuildMenu();
    BuildStatusBar();

    // Device-interface notifications come from the device watcher once it is
    // part of the build; until then the window only talks to Hid().
    BuildStepTables();
    LoadDefaults();

    editor_ = new TFormPEQA(nullptr);
    editor_->hide();
    about_ = new TAboutBox(this);

    connect(trackBarMicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMicVolChange);
    connect(trackBarMusicVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMusicVolChange);
    connect(trackBarEffectVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarEffectVolChange);
    connect(trackBarMicMaxVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMicMaxVolChange);
    connect(trackBarMusicMaxVol_, &QSlider::valueChanged, this, &TFormMain::TrackBarMusicMaxVolChange);
    connect(pages_, &QTabWidget::currentChanged, this, &TFormMain::PageControl1Change);
}

TFormMain::~TFormMain()
{
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
    panelMicVol_ = new CaptionPanel("PanelMicVol", "Mic:0", 160, strip);
    panelMusicVol_ = new CaptionPanel("PanelMusicVol", "Music:0", 168, strip);
    panelEffectVol_ = new CaptionPanel("PanelEffectVol", "Effect:0", 168, strip);
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
    checkBoxAuto_ = new QCheckBox("AUTO", strip);
    checkBoxAuto_->setObjectName("CheckBoxAuto");
    connectBtn_ = new QPushButton(QIcon(ConnectGlyph(0)), "Connect", strip);
    connectBtn_->setObjectName("ConnectBitBtn");
    connectBtn_->setFixedSize(86, 24);
    h->addWidget(panelMicVol_);
    h->addWidget(panelMusicVol_);
    h->addWidget(panelEffectVol_);
    h->addWidget(checkBoxAuto_);
    h->addWidget(connectBtn_);
    return strip;
}

QWidget* TFormMain::BuildSystemPage()
{
    auto* page = new QWidget(pages_);
    page->setObjectName("TabSheet8");

    auto* system = new QGroupBox("System", page);
    system->setObjectName("GroupBoxSystem");
    system->setGeometry(38, 24, 595, 169);
    auto* micCaption = new QLabel("Mic MAX Vol:", system);
    micCaption->setGeometry(20, 28, 110, 20);
    labelMicMaxVol_ = new QLabel("100", system);
    labelMicMaxVol_->setObjectName("LabelMicMaxVol");
    labelMicMaxVol_->setGeometry(135, 28, 60, 20);
    trackBarMicMaxVol_ = MakeBar("TrackBarMicMaxVol", 100, system);
    trackBarMicMaxVol_->setGeometry(20, 52, 550, 24);
    auto* musicCaption = new QLabel("Music MAX Vol:", system);
    musicCaption->setGeometry(20, 92, 110, 20);
    labelMusicMaxVol_ = new QLabel("100", system);
    labelMusicMaxVol_->setObjectName("LabelMusicMaxVol");
    labelMusicMaxVol_->setGeometry(135, 92, 60, 20);
    trackBarMusicMaxVol_ = MakeBar("TrackBarMusicMaxVol", 100, system);
    trackBarMusicMaxVol_->setGeometry(20, 116, 550, 24);

    auto* mode = new QGroupBox("Mode", page);
    mode->setObjectName("GroupBoxMode");
    mode->setGeometry(38, 216, 595, 265);
    MakeButton("ButtonResh", "Refresh", QRect(14, 18, 66, 25), mode);
    MakeButton("Button1", "Save to file", QRect(84, 18, 92, 25), mode);
    MakeButton("Button2", "Recall from file", QRect(180, 18, 114, 25), mode);
    fileList_ = new QListWidget(mode);
    fileList_->setObjectName("FileListBox1");
    fileList_->setGeometry(14, 47, 250, 202);
    MakeButton("UpdatePc2Dsp", "Write to dsp", QRect(300, 47, 150, 28), mode);
    MakeButton("UpdateDsp2Pc", "Read from dsp", QRect(300, 87, 150, 28), mode);
    MakeButton("BitBtnSave", "Set   factory   mode:", QRect(300, 147, 170, 28), mode);
    MakeSlotCombo("ComboBoxSave", QRect(478, 147, 56, 28), mode);
    MakeButton("BitBtnRecall", "Reset factory mode:", QRect(300, 187, 170, 28), mode);
    MakeSlotCombo("ComboBoxRecall", QRect(478, 187, 56, 28), mode);
    FillFileList();
    return page;
}

void TFormMain::FillFileList()
{
    fileList_->clear();
    const QIcon glyph = style()->standardIcon(QStyle::SP_FileIcon);
    for (const QString& name : QDir::current().entryList({"*.dap"}, QDir::Files, QDir::Name))
        fileList_->addItem(new QListWidgetItem(glyph, name));
}

void TFormMain::BuildMenu()
{
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("File1");
    QAction* open = file->addAction("Open");
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    QAction* save = file->addAction("Save");
    save->setObjectName("Save1");
    save->setShortcut(QKeySequence::Save);
    file->addSeparator();
    QAction* exit = file->addAction("Exit");
    exit->setObjectName("Exit1");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &TFormMain::Exit1Click);

    QMenu* help = menuBar()->addMenu("Help");
    help->setObjectName("Help1");
    QAction* helpItem = help->addAction("Help");
    helpItem->setObjectName("Help2");
    QAction* about = help->addAction("About");
    about->setObjectName("About1");
    connect(about, &QAction::triggered, this, &TFormMain::About1Click);
}

void TFormMain::BuildStatusBar()
{
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    static const char* texts[] = {"No Connect!", "Commution State:", "Device ID:1"};
    static const int widths[] = {200, 200, 50};
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(texts[i], bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        // Panel 2 is 50 pixels by design; its text must still fit.
        label->setMinimumWidth(std::max(widths[i], label->sizeHint().width() + 8));
        label->setMaximumWidth(i == 2 ? label->minimumWidth() : widths[i]);
        statusPanels_[std::size_t(i)] = label;
        bar->addWidget(label);
    }
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
    panelMicVol_->SetCaption(QStringLiteral("Mic:%1").arg(DspParams.MicVol));
    SendMasterVolume();
}

void TFormMain::TrackBarMusicVolChange()
{
    DspParams.MusicVol = std::uint8_t(trackBarMusicVol_->value());
    if (DspParams.MaxVol[1] < DspParams.MusicVol) {
        DspParams.MusicVol = DspParams.MaxVol[1];
        trackBarMusicVol_->setValue(DspParams.MusicVol);
    }
    panelMusicVol_->SetCaption(QStringLiteral("Music:%1").arg(DspParams.MusicVol));
    SendMasterVolume();
}

void TFormMain::TrackBarEffectVolChange()
{
    DspParams.EffectVol = std::uint8_t(trackBarEffectVol_->value());
    panelEffectVol_->SetCaption(QStringLiteral("Effect:%1").arg(DspParams.EffectVol));
    SendMasterVolume();
}

void TFormMain::TrackBarMicMaxVolChange()
{
    DspParams.MaxVol[0] = std::uint8_t(trackBarMicMaxVol_->value());
    labelMicMaxVol_->setText(QString::number(DspParams.MaxVol[0]));
    SendMaxVolume();
    if (DspParams.MaxVol[0] < DspParams.MicVol) {
        DspParams.MicVol = DspParams.MaxVol[0];
        trackBarMicVol_->setValue(DspParams.MicVol);
    }
}

void TFormMain::TrackBarMusicMaxVolChange()
{
    DspParams.MaxVol[1] = std::uint8_t(trackBarMusicMaxVol_->value());
    labelMusicMaxVol_->setText(QString::number(DspParams.MaxVol[1]));
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
    trackBarMicMaxVol_->setValue(DspParams.MaxVol[0]);
    trackBarMusicMaxVol_->setValue(DspParams.MaxVol[1]);
}

// ---- channel tabs ----

void TFormMain::DockEditor(QWidget* panel)
{
    if (editor_->parentWidget() != panel)
        panel->layout()->addWidget(editor_);
}

void TFormMain::PageControl1Change(int tab)
{
    if (tab < 0 || tab >= EqChannelCount)
        return; // SYSTEM leaves the editor where it is
    const BandGroup group = BandGroups[std::size_t(tab)];
    editor_->ConfigureBands(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount));
    const auto channel = EqChannel(tab);
    if (channel >= EqChannel::MAIN)
        editor_->PageControlSet()->ShowRightLine(channel == EqChannel::MAIN || channel == EqChannel::SRS);
    editor_->PageControlSet()->ShowPageFor(channel);
    editor_->Channel = std::uint8_t(tab);
    DockEditor(dockPanels_[std::size_t(tab)]);
    editor_->show();
    editor_->RefreshBands();
    editor_->LoadSettings();
}

void TFormMain::FormShow()
{
    editor_->ConfigureBands(0, 7);
    editor_->PageControlSet()->ShowPageFor(EqChannel::MIC);
    editor_->Channel = std::uint8_t(EqChannel::MIC);
    DockEditor(dockPanels_[0]);
    editor_->show();
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

void TFormMain::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    if (Hid().Linked) {
        SendLink(0);
        Hid().Linked = false;
    }
    Hid().CloseDevice();
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TFormMain::Exit1Click() { close(); }

void TFormMain::About1Click() { about_->exec(); }

// ---- UserInterface ----

void TFormMain::ShowMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Information, ProductName, QString::fromUtf8(text.data(), qsizetype(text.size())),
                    QMessageBox::Ok, this);
    box.exec();
}

void TFormMain::SetStatus(StatusPanel panel, std::string_view text)
{
    statusPanels_[std::size_t(panel)]->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

void TFormMain::SetBusyCursor(bool busy)
{
    if (busy) {
        if (busyDepth_++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void TFormMain::Sleep(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

} // namespace ktv

#include "app/SystemPage.h"

#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QStyle>

#include <algorithm>

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

TSystemPage::TSystemPage(QWidget* parent) : QWidget(parent)
{
    setObjectName("TabSheet8");
    // The groups stand at fixed places: a smaller window scrolls the page.
    setMinimumSize(640, 490);
}

void TSystemPage::Build()
{
    if (IsBuilt())
        return;
    auto* system = new QGroupBox(tr("System"), this);
    system->setObjectName("GroupBoxSystem");
    system->setGeometry(38, 24, 595, 169);
    auto* micCaption = new QLabel(tr("Mic MAX Vol:"), system);
    micCaption->setGeometry(20, 28, 110, 20);
    micMaxVolLabel_ = new QLabel("100", system);
    micMaxVolLabel_->setObjectName("LabelMicMaxVol");
    micMaxVolLabel_->setGeometry(135, 28, 60, 20);
    micMaxVol_ = MakeBar("TrackBarMicMaxVol", 100, system);
    micMaxVol_->setGeometry(20, 52, 550, 24);
    auto* musicCaption = new QLabel(tr("Music MAX Vol:"), system);
    musicCaption->setGeometry(20, 92, 110, 20);
    musicMaxVolLabel_ = new QLabel("100", system);
    musicMaxVolLabel_->setObjectName("LabelMusicMaxVol");
    musicMaxVolLabel_->setGeometry(135, 92, 60, 20);
    musicMaxVol_ = MakeBar("TrackBarMusicMaxVol", 100, system);
    musicMaxVol_->setGeometry(20, 116, 550, 24);

    auto* mode = new QGroupBox(tr("Mode"), this);
    mode->setObjectName("GroupBoxMode");
    mode->setGeometry(38, 216, 595, 265);
    auto* refresh = MakeButton("ButtonResh", tr("Refresh"), QRect(14, 18, 66, 25), mode);
    auto* saveFile = MakeButton("Button1", tr("Save to file"), QRect(84, 18, 92, 25), mode);
    auto* recallFile = MakeButton("Button2", tr("Recall from file"), QRect(180, 18, 114, 25), mode);
    auto* folder = MakeButton("ButtonFolder", tr("Preset folder..."), QRect(300, 18, 150, 25), mode);
    fileList_ = new QListWidget(mode);
    fileList_->setObjectName("FileListBox1");
    fileList_->setGeometry(14, 47, 250, 202);
    auto* write = MakeButton("UpdatePc2Dsp", tr("Write to dsp"), QRect(300, 47, 150, 28), mode);
    auto* read = MakeButton("UpdateDsp2Pc", tr("Read from dsp"), QRect(300, 87, 150, 28), mode);
    auto* store = MakeButton("BitBtnSave", tr("Set   factory   mode:"), QRect(300, 147, 170, 28), mode);
    saveSlot_ = MakeSlotCombo("ComboBoxSave", QRect(478, 147, 56, 28), mode);
    auto* recall = MakeButton("BitBtnRecall", tr("Reset factory mode:"), QRect(300, 187, 170, 28), mode);
    recallSlot_ = MakeSlotCombo("ComboBoxRecall", QRect(478, 187, 56, 28), mode);

    connect(micMaxVol_, &QSlider::valueChanged, this, [this](int value) {
        micMaxVolLabel_->setText(QString::number(value));
        emit micMaxVolChanged();
    });
    connect(musicMaxVol_, &QSlider::valueChanged, this, [this](int value) {
        musicMaxVolLabel_->setText(QString::number(value));
        emit musicMaxVolChanged();
    });
    connect(refresh, &QPushButton::clicked, this, &TSystemPage::refreshClicked);
    connect(saveFile, &QPushButton::clicked, this, &TSystemPage::saveFileClicked);
    connect(recallFile, &QPushButton::clicked, this, &TSystemPage::recallFileClicked);
    connect(folder, &QPushButton::clicked, this, &TSystemPage::folderClicked);
    connect(write, &QPushButton::clicked, this, &TSystemPage::writeClicked);
    connect(read, &QPushButton::clicked, this, &TSystemPage::readClicked);
    connect(store, &QPushButton::clicked, this, &TSystemPage::storeClicked);
    connect(recall, &QPushButton::clicked, this, &TSystemPage::recallClicked);

    // Typed keys arrive at the combo box, which holds the focus for its edit
    // and hands them on without passing the edit's filters: watch both.
    saveSlot_->installEventFilter(this);
    saveSlot_->lineEdit()->installEventFilter(this);
    // Pasting by menu or middle button never leaves anything but a slot there.
    saveSlot_->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[1-8]?")), saveSlot_));

    FillFileList();
    emit built();
}

QSlider* TSystemPage::MicMaxVolBar()
{
    Build();
    return micMaxVol_;
}

QSlider* TSystemPage::MusicMaxVolBar()
{
    Build();
    return musicMaxVol_;
}

QComboBox* TSystemPage::SaveSlotBox()
{
    Build();
    return saveSlot_;
}

QComboBox* TSystemPage::RecallSlotBox()
{
    Build();
    return recallSlot_;
}

QListWidget* TSystemPage::FileList()
{
    Build();
    return fileList_;
}

void TSystemPage::ShowFolder(const QString& folder)
{
    folder_ = folder;
    if (IsBuilt())
        FillFileList();
}

QString TSystemPage::SelectedFile()
{
    const QListWidgetItem* item = FileList()->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void TSystemPage::FillFileList()
{
    fileList_->clear();
    fileList_->setToolTip(QDir::toNativeSeparators(folder_));
    if (fileGlyph_.isNull())
        fileGlyph_ = style()->standardIcon(QStyle::SP_FileIcon);
    QStringList names = QDir(folder_).entryList({"*.dap"}, QDir::Files, QDir::NoSort);
    // In the order a person reads names: case and accents aside, numbers by
    // value. The C locale would order by code point ("Zed" before "émile"),
    // so it reads in the neutral order of English instead.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        const int order = collator.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    for (const QString& name : names)
        fileList_->addItem(new QListWidgetItem(fileGlyph_, name));
}

void TSystemPage::showEvent(QShowEvent* event)
{
    Build();
    QWidget::showEvent(event);
}

bool TSystemPage::eventFilter(QObject* watched, QEvent* event)
{
    if (saveSlot_ && (watched == saveSlot_ || watched == saveSlot_->lineEdit()) && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        QLineEdit* edit = saveSlot_->lineEdit();
        if (key->matches(QKeySequence::Paste)) {
            // Pasted characters pass the filter as if typed one by one.
            for (const QChar c : QGuiApplication::clipboard()->text())
                if (SlotKey(c)) {
                    edit->selectAll();
                    edit->insert(QString(c));
                }
            return true;
        }
        const QString text = key->text();
        const bool typed = key->key() == Qt::Key_Backspace || (text.size() == 1 && text[0].isPrint());
        if (typed) {
            if (!SlotKey(key->key() == Qt::Key_Backspace ? QChar(8) : text[0]))
                return true;
            // The list drops down as the user types.
            edit->selectAll();
            edit->insert(text);
            saveSlot_->showPopup();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ktv

#pragma once
// TSystemPage: the SYSTEM tab. The maximum volumes, the preset file list with
// its buttons and the whole-box commands. The page reports its buttons and
// bars through its own signals; the main window does the work.
//
// Its controls are made the first time the page is shown or asked for
// (Build), so that the window appears without them.

#include <QIcon>
#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QSlider;

namespace ktv {

class TSystemPage : public QWidget {
    Q_OBJECT
public:
    explicit TSystemPage(QWidget* parent = nullptr);

    // Makes the controls, once; the file list then shows Folder().
    void Build();
    [[nodiscard]] bool IsBuilt() const { return fileList_ != nullptr; }

    // The controls; each call builds the page first.
    QSlider* MicMaxVolBar();
    QSlider* MusicMaxVolBar();
    QComboBox* SaveSlotBox();
    QComboBox* RecallSlotBox();
    QListWidget* FileList();

    // The folder whose presets the list shows; listed again when built.
    void ShowFolder(const QString& folder);
    QString Folder() const { return folder_; }
    // The selected preset's file name; empty when none is selected.
    QString SelectedFile();

    // Whether a typed key may stand in the save slot's box.
    [[nodiscard]] static bool SlotKey(QChar key) { return key >= u'1' && key <= u'8'; }

signals:
    void built();
    void micMaxVolChanged();
    void musicMaxVolChanged();
    void refreshClicked();
    void saveFileClicked();
    void recallFileClicked();
    void folderClicked();
    void writeClicked();
    void readClicked();
    void storeClicked();
    void recallClicked();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillFileList();

    QString folder_;
    QIcon fileGlyph_;
    QSlider* micMaxVol_ = nullptr;
    QSlider* musicMaxVol_ = nullptr;
    QLabel* micMaxVolLabel_ = nullptr;
    QLabel* musicMaxVolLabel_ = nullptr;
    QListWidget* fileList_ = nullptr;
    QComboBox* saveSlot_ = nullptr;
    QComboBox* recallSlot_ = nullptr;
};

} // namespace ktv

#pragma once
// The main window's presets and slots: "Write to dsp" and "Read from dsp",
// the box's factory slots, .dap files through the menu and the SYSTEM
// page's list, and writing a kept state of the box back to it.

#include "presets/BoxJournal.h"

#include <QCoreApplication>
#include <QObject>

#include <functional>
#include <vector>

class QComboBox;

namespace ktv {

class FileDialogs;
class HistoryControl;
class TSystemPage;

// Part of the main window: its texts are the window's.
class PresetControl : public QObject {
    Q_DECLARE_TR_FUNCTIONS(ktv::TFormMain)

public:
    // `refresh` shows the image in every control of the window.
    PresetControl(QWidget* window, TSystemPage* system, HistoryControl& history, FileDialogs& files,
                  std::function<void()> refresh);

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
    void ButtonFolderClick();
    QString PresetDirectory() const;

    // File > Restore box state: the states kept before each whole change of
    // the linked box; the chosen one is written back.
    void RestoreBoxState1Click();
    // Which one (the index, -1: none); tests put their own choice in.
    std::function<int(const std::vector<JournalEntry>& entries)> ChooseBoxState;

private:
    // Converts a slot box's text; false after telling the user.
    bool SlotNumber(QComboBox* box, int& slot);
    bool LoadPreset(const QString& path);
    // Shows the loaded image and writes it all to the box, its state kept
    // first as the state before `keepAs` (empty: the caller kept it).
    void LoadTail(const QString& keepAs);
    bool SavePreset(const QString& path);
    int AskBoxState(const std::vector<JournalEntry>& entries);

    QWidget* window_;
    TSystemPage* system_;
    HistoryControl& history_;
    FileDialogs& files_;
    std::function<void()> refresh_;
};

} // namespace ktv

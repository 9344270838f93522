#pragma once
// The state of a box before each whole change, kept per box in the user's
// data folder so that a write, a recall or a preset sent by mistake can be
// taken back: the last few as .dap files named by the time they were taken.

#include <cstddef>
#include <string>
#include <vector>

namespace ktv {

// KTV Tune's own folder among the user's data: $XDG_DATA_HOME/ktvtune, else
// ~/.local/share/ktvtune; on Windows %LOCALAPPDATA%\ktvtune. Empty when no
// such folder can be named.
std::string DataDirectory();

struct JournalEntry {
    std::string Path;  // the .dap file
    std::string Time;  // "2026-12-10 23:25:07", local time
    std::string After; // what was done to the box next: "write", "recall 3", "Load preset club.dap", ...
};

class BoxJournal {
public:
    static constexpr std::size_t Keep = 50;
    // The longest step name kept whole (bytes of its UTF-8 text, as stored in
    // the file name): longer ones are cut, at a character, and end in "…".
    static constexpr std::size_t StepBytes = 96;

    // The step of loading the preset file `fileName` (a name, no folder).
    static std::string LoadPresetStep(const std::string& fileName);
    // The steps of a switch between two settings the window holds (A/B):
    // "Compare A" and "Compare B".
    static std::string SwitchStep(int slot);
    static bool IsSwitch(const std::string& after);

    // The journal of the box named `boxIdentifier` under `root` (empty: the
    // "journal" folder of DataDirectory()).
    explicit BoxJournal(const std::string& boxIdentifier, std::string root = {});

    // Keeps DspParams as the state before `after`; forgets the oldest
    // beyond Keep. A switch right after another switch replaces that one's
    // entry: comparing by ear must not push the states before real changes
    // out. False with the reason in `why`.
    bool Save(const std::string& after, std::string* why = nullptr);
    // Newest first.
    std::vector<JournalEntry> List() const;

    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
};

} // namespace ktv

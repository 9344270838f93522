#pragma once
// What a command runs with instead of the process's globals: where its
// output goes, the platform its boxes are found on, the box --device names
// and the quiet flag. main() makes one for the console; tests make one over
// an in-process box and read back what was printed.

#include "base/UserInterface.h"
#include "device/HidPlatform.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"
#include "presets/PresetIo.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ktv::cli {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1; // no box, or an exchange failed
constexpr int ExitUsage = 2;  // wrong usage or a bad file

// Messages and status texts on the error stream, as the window would show them.
class ConsoleUi final : public UserInterface {
public:
    explicit ConsoleUi(std::FILE* err) : err_(err) {}
    bool Quiet = false;
    // The exchanges that went well ("Write:ok!", "Read:Ok!") are said only
    // when asked: the window's texts, but on a console a read that prints
    // "Write:ok!" seems to have written something.
    bool Verbose = false;
    bool ShownMessage = false;
    std::string LastExchangeStatus;
    void ShowMessage(std::string_view text) override;
    void SetStatus(StatusPanel panel, std::string_view text) override;
    void SetBusyCursor(bool) override {}
    void Sleep(int milliseconds) override;

private:
    std::FILE* err_;
};

struct Context {
    Context(std::FILE* out, std::FILE* err, HidPlatform& platform) : Out(out), Err(err), Platform(platform), Ui(err) {}
    std::FILE* Out;
    std::FILE* Err;
    std::FILE* In = stdin;  // answers to the prompts of a measurement
    bool Terminal = false;  // In is a terminal: prompts wait for Enter
    bool ErrTerminal = false; // Err is a terminal: progress is shown on it
    HidPlatform& Platform;
    // Where virtual boxes are looked for, so that list can say why none was
    // trusted; empty where the platform has no such folder.
    std::string VirtualBoxDir;
    std::string WantedBox; // --device; empty: the first box
    std::string VenueFile; // --venue: boxes are the venue's rooms, through their agents
    // Set on a venue's room: sends an imported channel (its bands in `image`)
    // to the room's agent as one whole change, which the agent journals with
    // the user's name before it writes the box; the exit status.
    std::function<int(EqChannel channel, const DapBytes& image)> ImportOnRoom;
    ConsoleUi Ui;

    // gnu_printf: on Windows the C++ library prints through MinGW's own
    // printf, which knows %zu, not the system's.
    void Print(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    void Say(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
};

// Says what is wrong with the command line and shows the usage; ExitUsage.
int UsageError(Context& cx, const std::string& usage, const std::string& what);

// Opens the box --device names (or the first box) and links to it, as the
// window's Connect does; runs `work` and closes the link again whatever it
// gave.
int WithBox(Context& cx, const std::function<int()>& work);

// The identifier of the box --device names, or of the first box, without
// opening it; a --device that is no box present is taken as an identifier.
// Nothing when no box is present and none was named.
std::optional<std::string> ChosenIdentifier(Context& cx);

// Says why `path` could not be written, before the work whose result goes there.
bool OutputWritable(Context& cx, const std::string& path);

// Says why a file was not saved.
bool Saved(Context& cx, const std::string& path, FileWriteError error);
bool SaveImage(Context& cx, const std::string& path);

// Reads the linked box and keeps its state before `after`; the image is
// then the box's.
void ReadAndJournal(Context& cx, const std::string& after);
// Keeps the state just read from the linked box (DspParams) in the box's
// journal before `after` changes it.
void Journal(Context& cx, const std::string& after);

// The whole content of a preset file, volumes and reserved fields included.
bool LoadFileAsStored(Context& cx, const std::string& path, DspParamsImage& image);
// Loads a preset as the window does, saying why it could not.
bool LoadPresetOrSay(Context& cx, const std::string& path);
// The same, keeping the file's bytes for SaveChannel.
bool LoadPresetOrSay(Context& cx, const std::string& path, DapBytes& bytes);
// Writes the result of a command that changed one channel's bands: from a
// preset, that preset with only those bands changed; otherwise the whole image.
bool SaveChannel(Context& cx, const std::string& out, const DapBytes* preset, const BandGroup& group);

std::optional<std::uint8_t> ParseSlot(const std::string& text);
std::optional<double> ParseNumber(std::string_view text);
std::string Decimal(double v, int places);

} // namespace ktv::cli

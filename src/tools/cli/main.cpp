// ktvtune-cli: the tuning core for scripts. Lists boxes, reads or writes the
// whole image through .dap files, stores and recalls the box's slots, and
// shows a .dap as JSON. Messages and status texts are the window's, on stderr.

#include "base/UserInterface.h"
#include "common/ToolText.h"
#include "device/HidPro.h"
#include "device/platform/LinuxHidPlatform.h"
#include "device/platform/PlatformHelpers.h"
#include "dsp/StepTables.h"
#include "fit/Fit.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "interop/Measurement.h"
#include "measure/Measure.h"
#include "measure/portaudio/PortAudioDevice.h"
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "params/ImageDiff.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"
#include "presets/PresetIo.h"
#include "protocol/DapLayout.h"

#include "PresetJson.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include <unistd.h>
#include <vector>

using namespace ktv;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1; // no box, or an exchange failed
constexpr int ExitUsage = 2;  // wrong usage or a bad file

constexpr const char* MainUsage =
    "Usage: ktvtune-cli [--quiet] [--device BOX] COMMAND [ARGS]\n"
    "\n"
    "Talks to the first KTV DSP box found (real boxes first, then virtual\n"
    "boxes run by ktvtune-box), or to the one --device names.\n"
    "\n"
    "Commands:\n"
    "  list               list every box found: number, identifier and path\n"
    "  read -o FILE.dap   read the whole state of the box into FILE.dap\n"
    "  write FILE.dap     send the preset in FILE.dap to the box (--all: to every box)\n"
    "  store N            make the box store its current settings in slot N (1..8)\n"
    "  recall N           make the box recall slot N (1..8) and read it back\n"
    "  history            list the box's states saved before each whole change\n"
    "  restore N          write the N-th state that 'history' lists back to the box\n"
    "  dump FILE.dap      print the preset as JSON (no box needed)\n"
    "  dump --box         print the box's state as JSON\n"
    "  diff A.dap B.dap   print every field that differs between two presets\n"
    "  import FILE --channel NAME [--preset IN.dap] [-o OUT.dap]\n"
    "                     put a REW/Equalizer APO/AutoEq filter file onto a channel\n"
    "  export IN.dap --channel NAME [-o FILE]\n"
    "                     write a channel's bands as REW/Equalizer APO filter text\n"
    "  fit MEASUREMENT --channel NAME -o OUT.dap [options]\n"
    "                     fit a channel's bands to a measured response (no box needed)\n"
    "  measure -o OUT.txt [options]\n"
    "                     measure the room with a sweep through the sound card\n"
    "  devices            list the audio devices 'measure' can use\n"
    "\n"
    "Options:\n"
    "  -q, --quiet        do not print the status texts of each exchange\n"
    "  -d, --device BOX   the box to talk to: its identifier, its path or its\n"
    "                     number, as 'list' shows them\n"
    "  -h, --help         show this help ('ktvtune-cli COMMAND --help' for one command)\n"
    "\n"
    "Exit status: 0 success, 1 box missing or an exchange failed,\n"
    "2 wrong usage or a bad file; diff exits 1 when the presets differ.\n";

// Messages and status texts on stderr, as the window would show them.
class ConsoleUi final : public UserInterface {
public:
    bool Quiet = false;
    bool ShownMessage = false;
    std::string LastExchangeStatus;
    void ShowMessage(std::string_view text) override
    {
        ShownMessage = true;
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
    void SetStatus(StatusPanel panel, std::string_view text) override
    {
        if (panel == StatusPanel::Exchange)
            LastExchangeStatus = text;
        if (!Quiet)
            std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
    void SetBusyCursor(bool) override {}
    void Sleep(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

ConsoleUi ui;
std::string wantedBox; // --device; empty: the first box

LinuxHidPlatform& Platform()
{
    static LinuxHidPlatform platform;
    return platform;
}

int UsageError(const char* usage, const std::string& what)
{
    std::fprintf(stderr, "ktvtune-cli: %s\n\n%s", what.c_str(), usage);
    return ExitUsage;
}

// What the command line gave a command, as typed: each command checks its
// own and words its own refusals.
struct Arguments {
    std::vector<std::string> Free; // the arguments that are no option
    std::string Out, Channel, Preset, Target, Range, Tilt, MaxBoost, MaxCut, MaxLevelDrop;
    std::string OutDevice, InDevice, Level, Length, Calibration, Average, Gate;
    bool All = false, Box = false;
    const CLI::App* Command = nullptr;
    bool Given(const char* option) const { return Command->count(option) > 0; }
};

// Opens the box --device names (or the first box) and links to it, as the
// window's Connect does; runs `work` and closes the link again whatever it
// gave.
int WithBox(const std::function<int()>& work)
{
    HidPro& hid = Hid();
    hid.SetPlatform(&Platform());
    std::string path;
    if (!wantedBox.empty()) {
        const std::vector<HidInterface> boxes = hid.ListBoxes();
        const HidInterface* box = SelectBox(boxes, wantedBox);
        if (!box) {
            std::fprintf(stderr, "ktvtune-cli: no box '%s' (see 'ktvtune-cli list')\n", wantedBox.c_str());
            return ExitFailed;
        }
        path = box->Path;
    }
    if (!OpenBoxLink(path)) {
        Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
        // Quiet hides the status texts, but a failure still says what failed.
        if (ui.Quiet && !ui.ShownMessage)
            std::fprintf(stderr, "ktvtune-cli: the box did not answer the link request (%s)\n",
                         ui.LastExchangeStatus.c_str());
        return ExitFailed;
    }
    Ui().SetStatus(StatusPanel::Connection, "Connect:ok!");
    const int status = work();
    CloseBoxLink();
    return status;
}

// Says why a file was not saved.
bool Saved(const std::string& path, FileWriteError error)
{
    if (error == FileWriteError::None)
        return true;
    std::fprintf(stderr, "ktvtune-cli: cannot write %s: %s\n", path.c_str(), FileWriteErrorText(error));
    return false;
}

bool SaveImage(const std::string& path)
{
    FileWriteError error = FileWriteError::None;
    return WriteDapFile(path, &error) || Saved(path, error);
}

// Keeps the state just read from the linked box (DspParams) in the box's
// journal before `after` changes it. A journal that cannot be written is
// said but never stops the command.
void Journal(const std::string& after)
{
    std::string why;
    if (!BoxJournal(Hid().OpenedId).Save(after, &why))
        std::fprintf(stderr, "ktvtune-cli: the box's state was not saved: %s\n", why.c_str());
}

// Reads the linked box and keeps its state before `after`; the image is
// then the box's.
void ReadAndJournal(const std::string& after)
{
    LoadDefaults();
    if (ReadAllFromDevice())
        Journal(after);
    else
        std::fprintf(stderr, "ktvtune-cli: the box's state was not saved: it could not be read\n");
}

std::optional<std::uint8_t> ParseSlot(const std::string& text)
{
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + SlotCount)
        return std::nullopt;
    return std::uint8_t(text[0] - '0');
}

// ---- list ----

constexpr const char* ListUsage =
    "Usage: ktvtune-cli list\n\n"
    "Lists every box found (real and virtual), one a line: its number, its\n"
    "identifier and its path, separated by tabs. Any of the three picks the box\n"
    "for --device.\n";

int RunList(const Arguments& a)
{
    if (!a.Free.empty())
        return UsageError(ListUsage, "list takes no arguments");
    Hid().SetPlatform(&Platform());
    const std::vector<HidInterface> boxes = Hid().ListBoxes();
    for (std::size_t n = 0; n < boxes.size(); ++n)
        std::printf("%zu\t%s\t%s\n", n + 1, boxes[n].InstanceId.c_str(), boxes[n].Path.c_str());
    if (boxes.empty()) {
        std::fprintf(stderr, "no box found\n");
        // Virtual boxes in a directory others could tamper with are ignored;
        // say so, or the user is left guessing why a running box is missing.
        std::string why;
        if (!platform::EnsureVirtualBoxDirectory(Platform().VirtualBoxDir(), &why))
            std::fprintf(stderr, "ktvtune-cli: virtual boxes ignored: %s\n", why.c_str());
        return ExitFailed;
    }
    return ExitOk;
}

// ---- read ----

constexpr const char* ReadUsage =
    "Usage: ktvtune-cli read -o FILE.dap\n\n"
    "Reads the whole state of the box (nine exchanges) into a default image\n"
    "and writes it as a preset file.\n";

int RunRead(const Arguments& a)
{
    if (!a.Free.empty())
        return UsageError(ReadUsage, "unexpected argument '" + a.Free[0] + "'");
    const std::string& out = a.Out;
    if (out.empty())
        return UsageError(ReadUsage, "read needs -o FILE.dap");
    LoadDefaults();
    return WithBox([&] {
        if (!ReadAllFromDevice()) {
            Ui().ShowMessage("Read dsp fault!");
            return ExitFailed;
        }
        Ui().ShowMessage("Read dsp ok!");
        if (!SaveImage(out))
            return ExitUsage;
        return ExitOk;
    });
}

// ---- write ----

constexpr const char* WriteUsage =
    "Usage: ktvtune-cli write FILE.dap [--all]\n\n"
    "Reads the box, puts the preset over what it read and sends the whole\n"
    "image back (nine requests): the master volumes, mute, pitch and input,\n"
    "which a preset does not carry, keep the box's values. A box that cannot\n"
    "be read is left alone. A file that is missing or not a valid preset is\n"
    "reported and nothing is sent.\n"
    "With --all, does so for every box found, one after the other, and prints\n"
    "one line per box: number, identifier and outcome; the exit status is 1\n"
    "if any box failed.\n";

int RunWrite(const Arguments& a)
{
    const std::vector<std::string>& files = a.Free;
    const bool all = a.All;
    if (files.size() != 1)
        return UsageError(WriteUsage, "write needs exactly one FILE.dap");
    if (all && !wantedBox.empty())
        return UsageError(WriteUsage, "--all and --device exclude each other");
    DapBytes preset{};
    if (const DapReadError error = LoadDapFile(files[0], preset); error != DapReadError::None) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", files[0].c_str(), DapReadErrorText(error));
        return ExitUsage;
    }
    std::string outcome;
    auto writeAll = [&] {
        // The preset goes over what this box holds, never over the defaults:
        // those would mute the room.
        LoadDefaults();
        if (!ReadAllFromDevice()) {
            outcome = "Read dsp fault!";
            std::fprintf(stderr, "ktvtune-cli: the box could not be read, so nothing was written to it\n");
            return ExitFailed;
        }
        Journal("write");
        (void)ApplyDap(preset.data(), preset.size());
        const bool ok = WriteAllToDevice();
        outcome = ok ? "Write dsp ok!" : "Write dsp fault!";
        Ui().ShowMessage(outcome);
        return ok ? ExitOk : ExitFailed;
    };
    if (!all)
        return WithBox(writeAll);

    // The list is taken once: a box that arrives meanwhile waits for the next run.
    Hid().SetPlatform(&Platform());
    const std::vector<HidInterface> boxes = Hid().ListBoxes();
    if (boxes.empty()) {
        std::fprintf(stderr, "no box found\n");
        return ExitFailed;
    }
    int status = ExitOk;
    for (std::size_t n = 0; n < boxes.size(); ++n) {
        // Every box gets the same image; what the previous one answered stays out.
        outcome = "Connect:no!";
        wantedBox = boxes[n].Path;
        if (WithBox(writeAll) != ExitOk)
            status = ExitFailed;
        std::printf("%zu\t%s\t%s\n", n + 1, boxes[n].InstanceId.c_str(), outcome.c_str());
        std::fflush(stdout);
    }
    return status;
}

// ---- store / recall ----

constexpr const char* StoreUsage =
    "Usage: ktvtune-cli store N\n\n"
    "Makes the box store its current settings in slot N (1..8).\n";

int RunStore(const Arguments& a)
{
    const std::vector<std::string>& args = a.Free;
    if (args.size() != 1)
        return UsageError(StoreUsage, "store needs one slot number");
    const auto slot = ParseSlot(args[0]);
    if (!slot)
        return UsageError(StoreUsage, "the slot must be 1..8, not '" + args[0] + "'");
    return WithBox([&] {
        const bool ok = SendFactoryMode(FactoryStore, *slot);
        Ui().ShowMessage(ok ? "Set factory mode ok!" : "Set factory mode fault!");
        return ok ? ExitOk : ExitFailed;
    });
}

constexpr const char* RecallUsage =
    "Usage: ktvtune-cli recall N [-o FILE.dap]\n\n"
    "Makes the box recall slot N (1..8) into its current settings, waits\n"
    "100 ms and reads the whole state back; with -o, writes it to FILE.dap.\n";

int RunRecall(const Arguments& a)
{
    if (a.Free.size() > 1)
        return UsageError(RecallUsage, "unexpected argument '" + a.Free[1] + "'");
    const std::string slotText = a.Free.empty() ? "" : a.Free[0];
    const std::string& out = a.Out;
    const auto slot = ParseSlot(slotText);
    if (!slot)
        return UsageError(RecallUsage, slotText.empty() ? "recall needs one slot number"
                                                        : "the slot must be 1..8, not '" + slotText + "'");
    LoadDefaults();
    return WithBox([&] {
        ReadAndJournal("recall " + slotText);
        const bool ok = RecallSlot(*slot) == SlotOutcome::Ok;
        Ui().ShowMessage(ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
        if (!ok)
            return ExitFailed;
        if (!out.empty() && !SaveImage(out))
            return ExitUsage;
        return ExitOk;
    });
}

// ---- history / restore ----

constexpr const char* HistoryUsage =
    "Usage: ktvtune-cli history\n\n"
    "Lists the states of the box (--device, or the first box) saved before each\n"
    "whole change, newest first, one a line: number, time, what came after it,\n"
    "and the file. --device may also name by its identifier a box not present.\n";

constexpr const char* RestoreUsage =
    "Usage: ktvtune-cli restore N\n\n"
    "Writes the N-th state that 'history' lists back to the box, volumes and\n"
    "input included; the state the box held is saved first, as before any\n"
    "whole change.\n";

// The identifier of the box --device names, or of the first box; a
// --device that is no box present is taken as an identifier.
std::optional<std::string> ChosenIdentifier()
{
    Hid().SetPlatform(&Platform());
    const std::vector<HidInterface> boxes = Hid().ListBoxes();
    if (wantedBox.empty()) {
        if (boxes.empty())
            return std::nullopt;
        return boxes.front().InstanceId;
    }
    const HidInterface* box = SelectBox(boxes, wantedBox);
    return box ? box->InstanceId : wantedBox;
}

int RunHistory(const Arguments& a)
{
    if (!a.Free.empty())
        return UsageError(HistoryUsage, "history takes no arguments");
    const auto id = ChosenIdentifier();
    if (!id) {
        std::fprintf(stderr, "no box found\n");
        return ExitFailed;
    }
    const std::vector<JournalEntry> entries = BoxJournal(*id).List();
    if (entries.empty())
        std::fprintf(stderr, "no saved states of %s\n", id->c_str());
    for (std::size_t n = 0; n < entries.size(); ++n)
        std::printf("%zu\t%s\t%s\t%s\n", n + 1, entries[n].Time.c_str(), entries[n].After.c_str(),
                    entries[n].Path.c_str());
    return ExitOk;
}

bool LoadFileAsStored(const std::string& path, DspParamsImage& image);

int RunRestore(const Arguments& a)
{
    if (a.Free.size() != 1)
        return UsageError(RestoreUsage, "restore needs one number from 'history'");
    std::size_t n = 0;
    const std::string& text = a.Free[0];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1)
        return UsageError(RestoreUsage, "the number must be 1 or more, not '" + text + "'");
    return WithBox([&] {
        // The list as 'history' showed it, before this restore adds to it.
        const std::vector<JournalEntry> entries = BoxJournal(Hid().OpenedId).List();
        if (n > entries.size()) {
            std::fprintf(stderr, "ktvtune-cli: the box has %zu saved states, no %zu\n", entries.size(), n);
            return ExitUsage;
        }
        DspParamsImage saved;
        if (!LoadFileAsStored(entries[n - 1].Path, saved))
            return ExitUsage;
        ReadAndJournal("restore");
        DspParams = saved;
        const bool ok = WriteAllToDevice();
        Ui().ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
        return ok ? ExitOk : ExitFailed;
    });
}

// ---- dump ----

constexpr const char* DumpUsage =
    "Usage: ktvtune-cli dump FILE.dap\n"
    "       ktvtune-cli dump --box\n\n"
    "Prints the preset, or with --box the state read from the box, as JSON on\n"
    "stdout: every field by its name, and the 39 bands with channel, type, Fc,\n"
    "Q, gain and on/off. A file needs no box; --box writes no file.\n";

// The whole content of a preset file. A load leaves the volumes, Mute,
// Pitch, Input and the reserved fields alone; here they are taken as stored,
// so a dump or a diff shows what the file holds.
bool LoadFileAsStored(const std::string& path, DspParamsImage& image)
{
    LoadDefaults();
    DapBytes bytes{};
    const DapReadError error = LoadDapFile(path, bytes);
    if (error != DapReadError::None || !ApplyDapWhole(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
        return false;
    }
    image = DspParams;
    return true;
}

void PrintJson(const DspParamsImage& image) { std::fputs(cli::PresetJson(image).c_str(), stdout); }

int RunDump(const Arguments& a)
{
    if (a.Free.size() != (a.Box ? 0u : 1u))
        return UsageError(DumpUsage, "dump needs exactly one FILE.dap, or --box");
    if (a.Box) {
        LoadDefaults();
        return WithBox([] {
            if (!ReadAllFromDevice()) {
                Ui().ShowMessage("Read dsp fault!");
                return ExitFailed;
            }
            PrintJson(DspParams);
            return ExitOk;
        });
    }
    DspParamsImage image;
    if (!LoadFileAsStored(a.Free[0], image))
        return ExitUsage;
    PrintJson(image);
    return ExitOk;
}

// ---- diff ----

constexpr const char* DiffUsage =
    "Usage: ktvtune-cli diff A.dap B.dap\n\n"
    "Prints one line per field that differs between the two presets: its\n"
    "name, the value in A and the value in B, separated by tabs. No box is\n"
    "needed. Exit status: 0 equal, 1 different, 2 a file is missing or bad.\n";

int RunDiff(const Arguments& given)
{
    const std::vector<std::string>& args = given.Free;
    if (args.size() != 2)
        return UsageError(DiffUsage, "diff needs exactly two .dap files");
    DspParamsImage a, b;
    if (!LoadFileAsStored(args[0], a) || !LoadFileAsStored(args[1], b))
        return ExitUsage;
    const std::vector<ImageDifference> rows = DiffImages(a, b);
    for (const ImageDifference& row : rows)
        std::printf("%s\t%s\t%s\n", row.Name.c_str(), row.Before.c_str(), row.After.c_str());
    return rows.empty() ? ExitOk : ExitFailed;
}

// ---- import / export of filter text ----

constexpr const char* ImportUsage =
    "Usage: ktvtune-cli import FILE --channel NAME [--preset IN.dap] [-o OUT.dap]\n\n"
    "Puts the filters of a REW, Equalizer APO or AutoEq filter file onto the\n"
    "channel's bands (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB, SRS) and\n"
    "prints on stderr what became of every filter line. The image starts from\n"
    "IN.dap, or from the defaults. With -o the result is written to OUT.dap and\n"
    "no box is needed; without it the channel's bands are sent to the box.\n";

constexpr const char* ExportUsage =
    "Usage: ktvtune-cli export IN.dap --channel NAME [-o FILE]\n\n"
    "Writes the channel's bands of the preset as REW/Equalizer APO filter text\n"
    "to FILE, or to stdout.\n";

// The one file and the channel that import, export and fit work on; a
// refusal is reported and its exit status left in `status`.
bool FileAndChannel(const Arguments& a, const char* usage, const char* noFile, std::optional<EqChannel>& channel,
                    int& status)
{
    std::string why;
    if (a.Free.size() > 1)
        why = "unexpected argument '" + a.Free[1] + "'";
    else if (a.Given("--channel") && !(channel = ChannelFromName(a.Channel)))
        why = "unknown channel '" + a.Channel + "'";
    else if (a.Free.empty() || !channel)
        why = a.Free.empty() ? noFile : "--channel NAME is needed";
    if (why.empty())
        return true;
    status = UsageError(usage, why);
    return false;
}

bool LoadPresetOrSay(const std::string& path)
{
    DapReadError error = DapReadError::None;
    if (ReadDapFile(path, &error))
        return true;
    std::fprintf(stderr, "ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
    return false;
}

// Loads the preset and keeps its bytes, for SaveChannel.
bool LoadPresetOrSay(const std::string& path, DapBytes& bytes)
{
    const DapReadError error = LoadDapFile(path, bytes);
    if (error == DapReadError::None && ApplyDap(bytes.data(), bytes.size()))
        return true;
    std::fprintf(stderr, "ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
    return false;
}

// Writes the result of a command that changed one channel's bands: from a
// preset, that preset with only those bands changed (its volumes, input and
// every other byte as they were); otherwise the whole image.
bool SaveChannel(const std::string& out, const DapBytes* preset, const BandGroup& group)
{
    if (!preset)
        return SaveImage(out);
    const DapBytes bytes = WithBandsOf(*preset, group.FirstBand, group.BandCount);
    return Saved(out, ReplaceFile(out, bytes.data(), bytes.size()));
}

int RunImport(const Arguments& a)
{
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FileAndChannel(a, ImportUsage, "a file is needed", channel, status))
        return status;
    const std::string &file = a.Free[0], &preset = a.Preset, &out = a.Out;
    LoadDefaults();
    DapBytes presetBytes{};
    if (!preset.empty() && !LoadPresetOrSay(preset, presetBytes))
        return ExitUsage;
    FilterFile filters;
    ImportPlan plan;
    std::string why;
    if (!ReadFilterFile(file, filters, &why) || !PlanFilterImport(filters, *channel, plan, &why)) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", file.c_str(), why.c_str());
        return ExitUsage;
    }
    for (const std::string& line : plan.Report)
        std::fprintf(stderr, "%s\n", line.c_str());
    ApplyFilterImport(plan);
    const BandGroup group = GroupOf(*channel);
    if (!out.empty())
        return SaveChannel(out, preset.empty() ? nullptr : &presetBytes, group) ? ExitOk : ExitUsage;
    const DspParamsImage imported = DspParams;
    return WithBox([&] {
        ReadAndJournal("import");
        DspParams = imported;
        return SendBandRun(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount)) ? ExitOk : ExitFailed;
    });
}

int RunExport(const Arguments& a)
{
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FileAndChannel(a, ExportUsage, "a file is needed", channel, status))
        return status;
    const std::string &preset = a.Free[0], &out = a.Out;
    LoadDefaults();
    if (!LoadPresetOrSay(preset))
        return ExitUsage;
    const std::string text = ExportFilterText(*channel);
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
        return ExitOk;
    }
    return Saved(out, ReplaceFile(out, text)) ? ExitOk : ExitUsage;
}

// ---- fit ----

constexpr const char* FitUsage =
    "Usage: ktvtune-cli fit MEASUREMENT --channel NAME [--target FILE | --tilt DB_PER_OCT]\n"
    "                       [--range LO-HI] [--max-boost DB] [--max-cut DB] [--max-level-drop DB]\n"
    "                       [--preset IN.dap] -o OUT.dap\n\n"
    "Fits the bands of the channel (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB,\n"
    "SRS) to a measured response (REW text export, .frd or CSV) of the room\n"
    "without the channel's EQ, on the box's own Fc and Q steps, and writes the\n"
    "preset with the fitted bands to OUT.dap. Bypassed bands are left alone.\n"
    "Prints the bands and the error with the bands before and after the fit (RMS\n"
    "and largest, around the mean level, over the range). No box is needed.\n\n"
    "  --target FILE      target curve in a measurement format (default: flat)\n"
    "  --tilt DB_PER_OCT  a straight target falling or rising by this much per octave\n"
    "  --range LO-HI      frequency range in Hz (default 40-16000; SUB 20-250)\n"
    "  --max-boost DB     largest boost, 0..12 (default 0: cuts only)\n"
    "  --max-cut DB       largest cut, -24..0 (default -12)\n"
    "  --max-level-drop DB\n"
    "                     the most the fit may lower the channel's level (default:\n"
    "                     no limit; a cuts-only fit of a headphone can cost 8 dB)\n"
    "  --preset IN.dap    start from this preset instead of the defaults\n";

std::optional<double> ParseNumber(std::string_view text)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string Decimal(double v, int places)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, v);
    return text;
}

int RunFit(const Arguments& a)
{
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FileAndChannel(a, FitUsage, "a measurement file is needed", channel, status))
        return status;
    if (a.Out.empty())
        return UsageError(FitUsage, "-o OUT.dap is needed");
    const std::string &measurementFile = a.Free[0], &targetFile = a.Target, &preset = a.Preset, &out = a.Out;
    FitTarget target;
    FitOptions options;
    const FitRange range = FitRangeOf(*channel);
    options.LowHz = range.LowHz;
    options.HighHz = range.HighHz;
    if (a.Given("--range")) {
        const std::string_view r = a.Range;
        const auto dash = r.find('-', 1);
        const auto lo = ParseNumber(r.substr(0, dash));
        const auto hi = dash == std::string::npos ? std::nullopt : ParseNumber(r.substr(dash + 1));
        if (!lo || !hi)
            return UsageError(FitUsage, "the range must be LO-HI in Hz, not '" + a.Range + "'");
        options.LowHz = *lo;
        options.HighHz = *hi;
    }
    const struct {
        const char* Option;
        const std::string& Text;
        double* Value;
    } numbers[] = {{"--tilt", a.Tilt, &target.TiltDbPerOctave},
                   {"--max-boost", a.MaxBoost, &options.MaxBoostDb},
                   {"--max-cut", a.MaxCut, &options.MaxCutDb},
                   {"--max-level-drop", a.MaxLevelDrop, &options.MaxLevelDropDb}};
    for (const auto& n : numbers) {
        if (!a.Given(n.Option))
            continue;
        const auto v = ParseNumber(n.Text);
        if (!v)
            return UsageError(FitUsage, std::string(n.Option) + " needs a number, not '" + n.Text + "'");
        *n.Value = *v;
    }
    if (a.Given("--tilt"))
        target.Kind = FitTargetKind::Tilt;
    if (!targetFile.empty() && target.Kind == FitTargetKind::Tilt)
        return UsageError(FitUsage, "give either --target or --tilt, not both");

    Measurement measured;
    std::string why;
    if (!ReadMeasurementFile(measurementFile, measured, &why)) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", measurementFile.c_str(), why.c_str());
        return ExitUsage;
    }
    if (!targetFile.empty()) {
        Measurement curve;
        if (!ReadMeasurementFile(targetFile, curve, &why)) {
            std::fprintf(stderr, "ktvtune-cli: %s: %s\n", targetFile.c_str(), why.c_str());
            return ExitUsage;
        }
        target = {FitTargetKind::Curve, 0.0, curve.Hz, curve.Db};
    }
    LoadDefaults();
    DapBytes presetBytes{};
    if (!preset.empty() && !LoadPresetOrSay(preset, presetBytes))
        return ExitUsage;
    BuildStepTables();

    const BandGroup group = GroupOf(*channel);
    const std::span<PeqBand> bands(DspParams.Band.data() + group.FirstBand, std::size_t(group.BandCount));
    FitResult fit;
    if (!FitChannel(measured.Hz, measured.Db, target, options, bands, fit, &why)) {
        std::fprintf(stderr, "ktvtune-cli: cannot fit: %s\n", why.c_str());
        return ExitUsage;
    }
    std::copy(fit.Bands.begin(), fit.Bands.end(), bands.begin());
    if (!SaveChannel(out, preset.empty() ? nullptr : &presetBytes, group))
        return ExitUsage;

    std::string text = std::string(tools::ChannelName(*channel)) + " over " + Decimal(fit.LowHz, 0) + "-" +
                       Decimal(fit.HighHz, 0) + " Hz\nband  type        Fc (Hz)     Q  gain (dB)\n";
    for (std::size_t k = 0; k < fit.Bands.size(); ++k) {
        const PeqBand& b = fit.Bands[k];
        char line[128];
        std::snprintf(line, sizeof line, "%4zu  %-10s %8s %5s %10s%s\n", k + 1, tools::FilterTypeName(b.Flags),
                      Decimal(b.Fc, b.Fc < 100 ? 1 : 0).c_str(), Decimal(b.Q, 2).c_str(), Decimal(b.Gain, 1).c_str(),
                      fit.Fitted[k] ? "" : (b.Flags & FlagBandOn) ? "  (left alone)" : "  (bypassed, left alone)");
        text += line;
    }
    text += "error before: RMS " + Decimal(fit.Before.RmsDb, 2) + " dB, largest " + Decimal(fit.Before.LargestDb, 2) +
            " dB\nerror after:  RMS " + Decimal(fit.After.RmsDb, 2) + " dB, largest " +
            Decimal(fit.After.LargestDb, 2) + " dB\n";
    // The error is taken around the mean level: what the fit costs in level
    // is said apart, or a channel would grow quieter without a word.
    if (fit.LevelChangeDb <= -0.05)
        text += "the fit lowers the level by " + Decimal(-fit.LevelChangeDb, 1) + " dB\n";
    else if (fit.LevelChangeDb >= 0.05)
        text += "the fit raises the level by " + Decimal(fit.LevelChangeDb, 1) + " dB\n";
    std::fputs(text.c_str(), stdout);
    return ExitOk;
}

// ---- measure, devices ----

constexpr const char* MeasureUsage =
    "Usage: ktvtune-cli measure -o OUT.txt [--out DEVICE] [--in DEVICE] [--level DBFS]\n"
    "                           [--length SECONDS] [--range LO-HI] [--calibration FILE]\n"
    "                           [--average N] [--gate MS]\n\n"
    "Plays a sine sweep on the output (default: the system's), records the\n"
    "microphone on the input, and writes the room's response to OUT.txt as\n"
    "REW text, which 'fit' and the window read. --level is the sweep's peak\n"
    "(default -20 dBFS), --length 1..10 s (default 3), --range the sweep's\n"
    "range (default 20-20000 Hz), --calibration the microphone's calibration\n"
    "file, --average N measures N positions and averages them (on a terminal\n"
    "it waits for Enter between them), --gate the window after the impulse\n"
    "(default 500 ms). Device names are those 'ktvtune-cli devices' lists.\n";

constexpr const char* DevicesUsage =
    "Usage: ktvtune-cli devices\n\n"
    "Lists the audio devices by the names 'measure' takes, marking inputs,\n"
    "outputs and the system's defaults.\n";

int RunDevices(const Arguments& a)
{
    if (!a.Free.empty())
        return UsageError(DevicesUsage, "unexpected argument '" + a.Free[0] + "'");
    measure::PortAudioDevice audio;
    std::string why;
    if (!audio.Ready(&why)) {
        std::fprintf(stderr, "ktvtune-cli: %s\n", why.c_str());
        return ExitFailed;
    }
    for (const auto& e : audio.Endpoints())
        std::printf("%-6s %s%s\n", e.Input && e.Output ? "in+out" : e.Input ? "in" : "out", e.Name.c_str(),
                    e.Default ? "  (default)" : "");
    return ExitOk;
}

int RunMeasure(const Arguments& a)
{
    if (!a.Free.empty())
        return UsageError(MeasureUsage, "unexpected argument '" + a.Free[0] + "'");
    if (a.Out.empty())
        return UsageError(MeasureUsage, "measure needs -o OUT.txt");
    measure::MeasureSettings s;
    s.OutName = a.OutDevice;
    s.InName = a.InDevice;
    const auto number = [&](const std::string& text, const char* option, double& into) {
        if (!a.Given(option))
            return true;
        const auto v = ParseNumber(text);
        if (!v)
            return false;
        into = *v;
        return true;
    };
    double positions = 1;
    if (!number(a.Level, "--level", s.Sweep.LevelDbfs) || !number(a.Length, "--length", s.Sweep.Seconds) ||
        !number(a.Gate, "--gate", s.GateMs) || !number(a.Average, "--average", positions))
        return UsageError(MeasureUsage, "--level, --length, --gate and --average take numbers");
    if (positions != std::floor(positions) || positions < 1 || positions > 64)
        return UsageError(MeasureUsage, "--average takes a whole number of positions, 1..64");
    s.Positions = int(positions);
    if (!(s.GateMs >= 10 && s.GateMs <= 5000))
        return UsageError(MeasureUsage, "--gate must be 10..5000 ms");
    if (a.Given("--range")) {
        const auto dash = a.Range.find('-');
        const auto lo = ParseNumber(a.Range.substr(0, dash));
        const auto hi = dash == std::string::npos ? std::nullopt : ParseNumber(a.Range.substr(dash + 1));
        if (!lo || !hi)
            return UsageError(MeasureUsage, "--range takes LO-HI in Hz, as 20-20000");
        s.Sweep.LoHz = *lo;
        s.Sweep.HiHz = *hi;
    }
    std::string why;
    if (!measure::CheckSweepPlan(s.Sweep, &why))
        return UsageError(MeasureUsage, why);
    if (a.Given("--calibration")) {
        measure::Calibration cal;
        if (!measure::ReadCalibrationFile(a.Calibration, cal, &why)) {
            std::fprintf(stderr, "ktvtune-cli: %s\n", why.c_str());
            return ExitUsage;
        }
        s.Cal = cal;
    }
    measure::PortAudioDevice audio;
    const bool terminal = isatty(0);
    measure::Response r;
    const bool ok = measure::MeasureSweep(audio, s, r, &why, [&](int p) {
        std::fprintf(stderr, "Move the microphone to position %d%s\n", p + 1,
                     terminal ? " and press Enter." : ".");
        if (terminal) {
            int c;
            while ((c = std::getchar()) != '\n' && c != EOF) {
            }
        }
        return true;
    });
    if (!ok) {
        std::fprintf(stderr, "ktvtune-cli: %s\n", why.c_str());
        return ExitFailed;
    }
    const std::string note = "Sweep " + Decimal(s.Sweep.LoHz, 0) + "-" + Decimal(s.Sweep.HiHz, 0) + " Hz, " +
                             Decimal(s.Sweep.Seconds, 1) + " s, " + Decimal(s.Sweep.LevelDbfs, 1) + " dBFS, gate " +
                             Decimal(s.GateMs, 0) + " ms" +
                             (s.Positions > 1 ? ", " + std::to_string(s.Positions) + " positions averaged" : "");
    std::FILE* f = std::fopen(a.Out.c_str(), "wb");
    const std::string text = measure::RewText(r, note);
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "ktvtune-cli: cannot write %s\n", a.Out.c_str());
        return ExitUsage;
    }
    return ExitOk;
}

// The options each command takes besides its free arguments.
enum Takes : unsigned {
    TakesOutput = 1,
    TakesAll = 2,
    TakesBox = 4,
    TakesChannel = 8,
    TakesPreset = 16,
    TakesFitOptions = 32,
    TakesMeasureOptions = 64,
};

struct Command {
    const char* Name;
    const char* Usage;
    unsigned Options;
    int (*Run)(const Arguments& a);
};

constexpr Command Commands[] = {
    {"list", ListUsage, 0, RunList},
    {"read", ReadUsage, TakesOutput, RunRead},
    {"write", WriteUsage, TakesAll, RunWrite},
    {"store", StoreUsage, 0, RunStore},
    {"recall", RecallUsage, TakesOutput, RunRecall},
    {"history", HistoryUsage, 0, RunHistory},
    {"restore", RestoreUsage, 0, RunRestore},
    {"dump", DumpUsage, TakesBox, RunDump},
    {"diff", DiffUsage, 0, RunDiff},
    {"import", ImportUsage, TakesChannel | TakesPreset | TakesOutput, RunImport},
    {"export", ExportUsage, TakesChannel | TakesOutput, RunExport},
    {"fit", FitUsage, TakesChannel | TakesPreset | TakesOutput | TakesFitOptions, RunFit},
    {"measure", MeasureUsage, TakesOutput | TakesMeasureOptions, RunMeasure},
    {"devices", DevicesUsage, 0, RunDevices},
};

// A help word where a value was due still asks for help, as anywhere else.
void HelpWord(const std::string& value)
{
    if (value == "-h" || value == "--help")
        throw CLI::CallForHelp();
}

void Declare(CLI::App& command, unsigned options, Arguments& a)
{
    // Values are kept as typed: the commands check them and say what is wrong.
    command.add_option("free", a.Free);
    auto value = [&](const char* names, std::string& into) { command.add_option(names, into)->each(HelpWord); };
    if (options & TakesOutput)
        value("-o,--output", a.Out);
    if (options & TakesAll)
        command.add_flag("--all", a.All);
    if (options & TakesBox)
        command.add_flag("--box", a.Box);
    if (options & TakesChannel)
        value("--channel", a.Channel);
    if (options & TakesPreset)
        value("--preset", a.Preset);
    if (options & TakesFitOptions) {
        value("--target", a.Target);
        value("--tilt", a.Tilt);
        value("--range", a.Range);
        value("--max-boost", a.MaxBoost);
        value("--max-cut", a.MaxCut);
        value("--max-level-drop", a.MaxLevelDrop);
    }
    if (options & TakesMeasureOptions) {
        value("--out", a.OutDevice);
        value("--in", a.InDevice);
        value("--level", a.Level);
        value("--length", a.Length);
        value("--range", a.Range);
        value("--calibration", a.Calibration);
        value("--average", a.Average);
        value("--gate", a.Gate);
    }
}

// An option or word nobody takes: before the command, or the command's own.
std::string Unexpected(const std::string& arg, const char* word)
{
    return (arg.starts_with("-") ? "unknown option '" : std::string("unknown ") + word + " '") + arg + "'";
}

} // namespace

int main(int argc, char** argv)
{
    // Fresh for every call: the fuzz target runs main many times in one process.
    ui.Quiet = ui.ShownMessage = false;
    wantedBox.clear();
    Arguments given;

    CLI::App app;
    app.set_help_flag("-h,--help");
    app.allow_extras();
    app.require_subcommand(0, 1); // a later word that names a command stays an argument
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-q,--quiet", ui.Quiet);
    app.add_option("-d,--device", wantedBox)->each(HelpWord);
    std::vector<std::pair<const CLI::App*, const Command*>> commands;
    for (const Command& c : Commands) {
        CLI::App* command = app.add_subcommand(c.Name);
        command->allow_extras();
        Declare(*command, c.Options, given);
        commands.emplace_back(command, &c);
    }
    app.add_subcommand("help")->allow_extras();

    auto chosen = [&]() -> const Command* {
        for (const auto& [command, c] : commands)
            if (command->parsed())
                return c;
        return nullptr;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const Command* c = app.get_help_ptr()->count() ? nullptr : chosen();
        std::fputs(c ? c->Usage : MainUsage, stdout);
        return ExitOk;
    } catch (const CLI::ParseError& e) {
        // An option without its value: CLI11 names it before a colon, by its
        // long name; the message names it as typed, which is the last word.
        const std::string what = e.what();
        std::string option = what.substr(0, what.find(':'));
        const Command* c = chosen();
        if (e.get_name() != "ArgumentMismatch" || !option.starts_with("-"))
            return UsageError(c ? c->Usage : MainUsage, what);
        const std::string typed = argv[argc - 1];
        const CLI::App* where = c ? app.get_subcommand(c->Name) : &app;
        for (const CLI::App* scope : {where, static_cast<const CLI::App*>(&app)}) {
            const CLI::Option* named = scope->get_option_no_throw(option);
            if (named && named == scope->get_option_no_throw(typed))
                option = typed;
        }
        return UsageError(c ? c->Usage : MainUsage,
                          option + (option == "--device" || option == "-d" ? " needs a box" : " needs a value"));
    }
    if (!app.remaining().empty())
        return UsageError(MainUsage, Unexpected(app.remaining().front(), "command"));
    if (app.count("--device") && wantedBox.empty())
        return UsageError(MainUsage, "--device needs a box");
    if (app.got_subcommand("help")) {
        std::fputs(MainUsage, stdout);
        return ExitOk;
    }
    const Command* c = chosen();
    if (!c)
        return UsageError(MainUsage, "no command given");
    given.Command = app.get_subcommand(c->Name);
    if (const std::vector<std::string> rest = given.Command->remaining(); !rest.empty())
        return UsageError(c->Usage, Unexpected(rest.front(), "argument"));
    SetUserInterface(&ui);
    return c->Run(given);
}

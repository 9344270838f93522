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
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "params/ImageDiff.h"
#include "presets/DapFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
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
    "  dump FILE.dap      print the preset as JSON (no box needed)\n"
    "  dump --box         print the box's state as JSON\n"
    "  diff A.dap B.dap   print every field that differs between two presets\n"
    "  import FILE --channel NAME [--preset IN.dap] [-o OUT.dap]\n"
    "                     put a REW/Equalizer APO/AutoEq filter file onto a channel\n"
    "  export IN.dap --channel NAME [-o FILE]\n"
    "                     write a channel's bands as REW/Equalizer APO filter text\n"
    "  fit MEASUREMENT --channel NAME -o OUT.dap [options]\n"
    "                     fit a channel's bands to a measured response (no box needed)\n"
    "\n"
    "Options:\n"
    "  -q, --quiet        do not print the status texts of each exchange\n"
    "  -d, --device BOX   the box to talk to: its identifier, its path or its\n"
    "                     number, as 'list' shows them\n"
    "  -h, --help         show this help ('ktvtune-cli COMMAND --help' for one command)\n"
    "\n"
    "Exit status: 0 success, 1 box missing or an exchange failed,\n"
    "2 wrong usage or a bad file; diff exits 1 when the presets differ.\n";

struct Command {
    const char* Name;
    const char* Usage;
    int (*Run)(const std::vector<std::string>& args);
};

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

bool IsHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

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

bool SaveImage(const std::string& path)
{
    FileWriteError error = FileWriteError::None;
    if (WriteDapFile(path, &error))
        return true;
    std::fprintf(stderr, "ktvtune-cli: cannot write %s: %s\n", path.c_str(), FileWriteErrorText(error));
    return false;
}

std::optional<std::uint8_t> ParseSlot(const std::string& text)
{
    if (text.size() != 1 || text[0] < '1' || text[0] > '8')
        return std::nullopt;
    return std::uint8_t(text[0] - '0');
}

// ---- list ----

constexpr const char* ListUsage =
    "Usage: ktvtune-cli list\n\n"
    "Lists every box found (real and virtual), one a line: its number, its\n"
    "identifier and its path, separated by tabs. Any of the three picks the box\n"
    "for --device.\n";

int RunList(const std::vector<std::string>& args)
{
    if (!args.empty())
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

int RunRead(const std::vector<std::string>& args)
{
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size())
            out = args[++i];
        else
            return UsageError(ReadUsage, "unexpected argument '" + args[i] + "'");
    }
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
    "Loads the preset into a default image and sends the whole image to the\n"
    "box (nine requests). A file that is missing or not a valid preset is\n"
    "reported and nothing is sent.\n"
    "With --all, sends it to every box found, one after the other, and prints\n"
    "one line per box: number, identifier and outcome; the exit status is 1\n"
    "if any box failed.\n";

int RunWrite(const std::vector<std::string>& args)
{
    std::vector<std::string> files;
    bool all = false;
    for (const std::string& a : args) {
        if (a == "--all")
            all = true;
        else if (!a.empty() && a[0] == '-')
            return UsageError(WriteUsage, "unknown option '" + a + "'");
        else
            files.push_back(a);
    }
    if (files.size() != 1)
        return UsageError(WriteUsage, "write needs exactly one FILE.dap");
    if (all && !wantedBox.empty())
        return UsageError(WriteUsage, "--all and --device exclude each other");
    LoadDefaults();
    DapReadError error = DapReadError::None;
    if (!ReadDapFile(files[0], &error)) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", files[0].c_str(), DapReadErrorText(error));
        return ExitUsage;
    }
    std::string outcome;
    auto writeAll = [&] {
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

int RunStore(const std::vector<std::string>& args)
{
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

int RunRecall(const std::vector<std::string>& args)
{
    std::string slotText, out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size())
            out = args[++i];
        else if (slotText.empty())
            slotText = args[i];
        else
            return UsageError(RecallUsage, "unexpected argument '" + args[i] + "'");
    }
    const auto slot = ParseSlot(slotText);
    if (!slot)
        return UsageError(RecallUsage, slotText.empty() ? "recall needs one slot number"
                                                        : "the slot must be 1..8, not '" + slotText + "'");
    LoadDefaults();
    return WithBox([&] {
        const bool ok = RecallSlot(*slot) == SlotOutcome::Ok;
        Ui().ShowMessage(ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
        if (!ok)
            return ExitFailed;
        if (!out.empty() && !SaveImage(out))
            return ExitUsage;
        return ExitOk;
    });
}

// ---- dump ----

constexpr const char* DumpUsage =
    "Usage: ktvtune-cli dump FILE.dap\n"
    "       ktvtune-cli dump --box\n\n"
    "Prints the preset, or with --box the state read from the box, as JSON on\n"
    "stdout: every field by its name, and the 39 bands with channel, type, Fc,\n"
    "Q, gain and on/off. A file needs no box; --box writes no file.\n";

// Band values come from tenths: one decimal shows them exactly (six
// significant digits would round a 123456.7 Hz corner to 123457).
std::string JsonNumber(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", v);
    std::string s = text;
    if (s.ends_with(".0"))
        s.resize(s.size() - 2);
    if (s == "-0")
        s = "0";
    return s;
}

template <typename T, std::size_t N>
std::string JsonArray(const std::array<T, N>& values)
{
    std::string text = "[";
    for (std::size_t i = 0; i < N; ++i)
        text += (i ? ", " : "") + std::to_string(values[i]);
    return text + "]";
}

// The whole content of a preset file. A load leaves the volumes, Mute,
// Pitch, Input and the reserved fields alone; here they are taken as stored,
// so a dump or a diff shows what the file holds.
bool LoadFileAsStored(const std::string& path, DspParamsImage& image)
{
    LoadDefaults();
    DapBytes bytes{};
    const DapReadError error = LoadDapFile(path, bytes);
    if (error != DapReadError::None || !ApplyDap(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
        return false;
    }
    DspParamsImage& p = DspParams;
    p.MicVol = bytes[1];
    p.MusicVol = bytes[2];
    p.EffectVol = bytes[3];
    p.Mute = bytes[4];
    p.Pitch = std::int8_t(bytes[17]);
    p.Input = bytes[19];
    p.ReservedWord = GetU16(&bytes[20]);
    for (std::size_t i = 0; i < p.ReservedBytes.size(); ++i)
        p.ReservedBytes[i] = bytes[29 + i];
    image = p;
    return true;
}

void PrintJson(const DspParamsImage& p)
{
    std::string j = "{\n";
    auto field = [&](const char* name, const std::string& value, bool last = false) {
        j += std::string("  \"") + name + "\": " + value + (last ? "\n" : ",\n");
    };
    field("MicVol", std::to_string(p.MicVol));
    field("MusicVol", std::to_string(p.MusicVol));
    field("EffectVol", std::to_string(p.EffectVol));
    field("Mute", std::to_string(p.Mute));
    field("Delay", JsonArray(p.Delay));
    field("Pitch", std::to_string(p.Pitch));
    field("Fbx", std::to_string(p.Fbx));
    field("Input", std::to_string(p.Input));
    field("ReservedWord", std::to_string(p.ReservedWord));
    field("MaxVol", JsonArray(p.MaxVol));
    field("ReservedBytes", JsonArray(p.ReservedBytes));
    field("NoiseGate", JsonArray(p.NoiseGate));

    std::string mix = "[";
    for (std::size_t g = 0; g < p.OutMix.size(); ++g) {
        const OutputMixParams& m = p.OutMix[g];
        mix += std::string(g ? ",\n" : "\n") + "    {\"MicVol\": " + std::to_string(m.MicVol) +
               ", \"MusicVol\": " + std::to_string(m.MusicVol) + ", \"EchoVol\": " + std::to_string(m.EchoVol) +
               ", \"ReverbVol\": " + std::to_string(m.ReverbVol) + "}";
    }
    field("OutMix", mix + "\n  ]");

    std::string dyn = "[";
    for (std::size_t d = 0; d < p.Dyn.size(); ++d) {
        const DynamicsParams& x = p.Dyn[d];
        dyn += std::string(d ? ",\n" : "\n") + "    {\"Threshold\": " + std::to_string(x.Threshold) +
               ", \"Attack\": " + std::to_string(x.Attack) + ", \"Release\": " + std::to_string(x.Release) +
               ", \"Ratio\": " + std::to_string(x.Ratio) + "}";
    }
    field("Dyn", dyn + "\n  ]");

    const ReverbParams& r = p.Reverb;
    field("Reverb", "{\"Word1\": " + std::to_string(r.Word1) + ", \"Word2\": " + std::to_string(r.Word2) +
                        ", \"EarlyLate\": " + std::to_string(r.EarlyLate) + ", \"Byte1\": " + std::to_string(r.Byte1) +
                        ", \"PreDelay\": " + std::to_string(r.PreDelay) + ", \"Byte2\": " + std::to_string(r.Byte2) +
                        ", \"Time\": " + std::to_string(r.Time) + ", \"Damp\": " + std::to_string(r.Damp) +
                        ", \"Byte3\": " + std::to_string(r.Byte3) + "}");
    const EchoParams& e = p.Echo;
    field("Echo", "{\"Word1\": " + std::to_string(e.Word1) + ", \"Word2\": " + std::to_string(e.Word2) +
                      ", \"PreDelay\": " + std::to_string(e.PreDelay) + ", \"Byte1\": " + std::to_string(e.Byte1) +
                      ", \"Delay\": " + std::to_string(e.Delay) + ", \"Word3\": " + std::to_string(e.Word3) +
                      ", \"Repeat\": " + std::to_string(e.Repeat) + ", \"Byte2\": " + std::to_string(e.Byte2) +
                      ", \"Damp\": " + std::to_string(e.Damp) + ", \"Byte3\": " + std::to_string(e.Byte3) +
                      ", \"Byte4\": " + std::to_string(e.Byte4) + ", \"Byte5\": " + std::to_string(e.Byte5) + "}");

    std::string bands = "[";
    for (int k = 0; k < BandTotal; ++k) {
        const PeqBand& b = p.Band[std::size_t(k)];
        bands += std::string(k ? ",\n" : "\n") + "    {\"Band\": " + std::to_string(k) + ", \"Channel\": \"" +
                 tools::ChannelName(tools::ChannelOfBand(k)) + "\", \"Type\": \"" + tools::FilterTypeName(b.Flags) +
                 "\", \"Fc\": " + JsonNumber(double(b.Fc)) + ", \"Q\": " + JsonNumber(double(b.Q)) +
                 ", \"Gain\": " + JsonNumber(double(b.Gain)) + ", \"On\": " + ((b.Flags & FlagBandOn) ? "true" : "false") +
                 ", \"ChannelEqOn\": " + ((b.Flags & FlagChannelEqOn) ? "true" : "false") +
                 ", \"Flags\": " + std::to_string(b.Flags) + "}";
    }
    field("Band", bands + "\n  ]", true);
    j += "}\n";
    std::fputs(j.c_str(), stdout);
}

int RunDump(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return UsageError(DumpUsage, "dump needs exactly one FILE.dap, or --box");
    if (args[0] == "--box") {
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
    if (!LoadFileAsStored(args[0], image))
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

int RunDiff(const std::vector<std::string>& args)
{
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

// Reads "--channel NAME", "--preset FILE" and "-o FILE" out of args; the one
// free argument goes to *file.
bool FilterArguments(const std::vector<std::string>& args, const char* usage, std::string& file,
                     std::optional<EqChannel>& channel, std::string* preset, std::string& out, int& status)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--channel" && hasValue) {
            channel = ChannelFromName(args[++i]);
            if (!channel) {
                status = UsageError(usage, "unknown channel '" + args[i] + "'");
                return false;
            }
        } else if (preset && a == "--preset" && hasValue) {
            *preset = args[++i];
        } else if ((a == "-o" || a == "--output") && hasValue) {
            out = args[++i];
        } else if (file.empty() && !a.starts_with("-")) {
            file = a;
        } else {
            status = UsageError(usage, "unexpected argument '" + a + "'");
            return false;
        }
    }
    if (file.empty() || !channel) {
        status = UsageError(usage, file.empty() ? "a file is needed" : "--channel NAME is needed");
        return false;
    }
    return true;
}

bool LoadPresetOrSay(const std::string& path)
{
    DapReadError error = DapReadError::None;
    if (ReadDapFile(path, &error))
        return true;
    std::fprintf(stderr, "ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
    return false;
}

int RunImport(const std::vector<std::string>& args)
{
    std::string file, preset, out;
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FilterArguments(args, ImportUsage, file, channel, &preset, out, status))
        return status;
    LoadDefaults();
    if (!preset.empty() && !LoadPresetOrSay(preset))
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
    if (!out.empty()) {
        if (!WriteDapFile(out)) {
            std::fprintf(stderr, "ktvtune-cli: cannot write %s\n", out.c_str());
            return ExitUsage;
        }
        return ExitOk;
    }
    const BandGroup group = GroupOf(*channel);
    return WithBox([&] {
        return SendBandRun(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount)) ? ExitOk : ExitFailed;
    });
}

int RunExport(const std::vector<std::string>& args)
{
    std::string preset, out;
    std::optional<EqChannel> channel;
    int status = ExitOk;
    if (!FilterArguments(args, ExportUsage, preset, channel, nullptr, out, status))
        return status;
    LoadDefaults();
    if (!LoadPresetOrSay(preset))
        return ExitUsage;
    const std::string text = ExportFilterText(*channel);
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
        return ExitOk;
    }
    std::ofstream f(out, std::ios::binary);
    if (!(f << text) || !f.flush()) {
        std::fprintf(stderr, "ktvtune-cli: cannot write %s\n", out.c_str());
        return ExitUsage;
    }
    return ExitOk;
}

// ---- fit ----

constexpr const char* FitUsage =
    "Usage: ktvtune-cli fit MEASUREMENT --channel NAME [--target FILE | --tilt DB_PER_OCT]\n"
    "                       [--range LO-HI] [--max-boost DB] [--max-cut DB] [--preset IN.dap] -o OUT.dap\n\n"
    "Fits the bands of the channel (NAME: MIC, MUSIC, EFFECT, MAIN, CENTER, SUB,\n"
    "SRS) to a measured response (REW text export, .frd or CSV) of the room\n"
    "without the channel's EQ, on the box's own Fc and Q steps, and writes the\n"
    "preset with the fitted bands to OUT.dap. Bypassed bands are left alone.\n"
    "Prints the bands and the error with the bands before and after the fit (RMS\n"
    "and largest, around the mean level, over the range). No box is needed.\n\n"
    "  --target FILE      target curve in a measurement format (default: flat)\n"
    "  --tilt DB_PER_OCT  a straight target falling or rising by this much per octave\n"
    "  --range LO-HI      frequency range in Hz (default 40-16000)\n"
    "  --max-boost DB     largest boost, 0..12 (default 0: cuts only)\n"
    "  --max-cut DB       largest cut, -24..0 (default -12)\n"
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

int RunFit(const std::vector<std::string>& args)
{
    std::string measurementFile, targetFile, preset, out;
    std::optional<EqChannel> channel;
    FitTarget target;
    FitOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size() && a.starts_with("-"))
            return UsageError(FitUsage, a + " needs a value");
        if (a == "--channel") {
            channel = ChannelFromName(args[++i]);
            if (!channel)
                return UsageError(FitUsage, "unknown channel '" + args[i] + "'");
        } else if (a == "--target") {
            targetFile = args[++i];
        } else if (a == "--preset") {
            preset = args[++i];
        } else if (a == "-o" || a == "--output") {
            out = args[++i];
        } else if (a == "--range") {
            const std::string& r = args[++i];
            const auto dash = r.find('-', 1);
            const auto lo = ParseNumber(std::string_view(r).substr(0, dash));
            const auto hi = dash == std::string::npos ? std::nullopt : ParseNumber(std::string_view(r).substr(dash + 1));
            if (!lo || !hi)
                return UsageError(FitUsage, "the range must be LO-HI in Hz, not '" + r + "'");
            options.LowHz = *lo;
            options.HighHz = *hi;
        } else if (a == "--tilt" || a == "--max-boost" || a == "--max-cut") {
            const auto v = ParseNumber(args[++i]);
            if (!v)
                return UsageError(FitUsage, a + " needs a number, not '" + args[i] + "'");
            if (a == "--tilt") {
                target.Kind = FitTargetKind::Tilt;
                target.TiltDbPerOctave = *v;
            } else {
                (a == "--max-boost" ? options.MaxBoostDb : options.MaxCutDb) = *v;
            }
        } else if (measurementFile.empty() && !a.starts_with("-")) {
            measurementFile = a;
        } else {
            return UsageError(FitUsage, "unexpected argument '" + a + "'");
        }
    }
    if (measurementFile.empty() || !channel || out.empty())
        return UsageError(FitUsage, measurementFile.empty() ? "a measurement file is needed"
                                    : !channel              ? "--channel NAME is needed"
                                                            : "-o OUT.dap is needed");
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
    DapReadError error = DapReadError::None;
    if (!preset.empty() && !ReadDapFile(preset, &error)) {
        std::fprintf(stderr, "ktvtune-cli: %s: %s\n", preset.c_str(), DapReadErrorText(error));
        return ExitUsage;
    }
    BuildStepTables();

    const BandGroup group = GroupOf(*channel);
    const std::span<PeqBand> bands(DspParams.Band.data() + group.FirstBand, std::size_t(group.BandCount));
    FitResult fit;
    if (!FitChannel(measured.Hz, measured.Db, target, options, bands, fit, &why)) {
        std::fprintf(stderr, "ktvtune-cli: cannot fit: %s\n", why.c_str());
        return ExitUsage;
    }
    std::copy(fit.Bands.begin(), fit.Bands.end(), bands.begin());
    if (!WriteDapFile(out)) {
        std::fprintf(stderr, "ktvtune-cli: cannot write %s\n", out.c_str());
        return ExitUsage;
    }

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
    std::fputs(text.c_str(), stdout);
    return ExitOk;
}

constexpr Command Commands[] = {
    {"list", ListUsage, RunList},       {"read", ReadUsage, RunRead},     {"write", WriteUsage, RunWrite},
    {"store", StoreUsage, RunStore},    {"recall", RecallUsage, RunRecall}, {"dump", DumpUsage, RunDump},
    {"diff", DiffUsage, RunDiff},
    {"import", ImportUsage, RunImport}, {"export", ExportUsage, RunExport},
    {"fit", FitUsage, RunFit},
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t at = 0;
    for (; at < args.size() && !args[at].empty() && args[at][0] == '-'; ++at) {
        if (IsHelp(args[at])) {
            std::fputs(MainUsage, stdout);
            return ExitOk;
        }
        if (args[at] == "-q" || args[at] == "--quiet")
            ui.Quiet = true;
        else if (args[at] == "-d" || args[at] == "--device" || args[at].starts_with("--device=")) {
            const bool joined = args[at].size() > 8;
            if (!joined && at + 1 == args.size())
                return UsageError(MainUsage, args[at] + " needs a box");
            wantedBox = joined ? args[at].substr(9) : args[++at];
            if (wantedBox.empty())
                return UsageError(MainUsage, "--device needs a box");
        } else
            return UsageError(MainUsage, "unknown option '" + args[at] + "'");
    }
    if (at == args.size())
        return UsageError(MainUsage, "no command given");
    const std::string name = args[at++];
    if (name == "help") {
        std::fputs(MainUsage, stdout);
        return ExitOk;
    }
    for (const Command& c : Commands) {
        if (name != c.Name)
            continue;
        std::vector<std::string> rest(args.begin() + std::ptrdiff_t(at), args.end());
        for (const std::string& a : rest)
            if (IsHelp(a)) {
                std::fputs(c.Usage, stdout);
                return ExitOk;
            }
        SetUserInterface(&ui);
        return c.Run(rest);
    }
    return UsageError(MainUsage, "unknown command '" + name + "'");
}

#include "Context.h"

#include "device/HidPro.h"
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "presets/BoxJournal.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <thread>

namespace ktv::cli {

void ConsoleUi::ShowMessage(std::string_view text)
{
    ShownMessage = true;
    std::fprintf(err_, "%.*s\n", int(text.size()), text.data());
}

void ConsoleUi::SetStatus(StatusPanel panel, std::string_view text)
{
    if (panel == StatusPanel::Exchange)
        LastExchangeStatus = text;
    const bool wentWell = panel == StatusPanel::Exchange && (text == "Write:ok!" || text == "Read:Ok!");
    if (!Quiet && (Verbose || !wentWell))
        std::fprintf(err_, "%.*s\n", int(text.size()), text.data());
}

void ConsoleUi::Sleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void Context::Print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(Out, format, args);
    va_end(args);
}

void Context::Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(Err, format, args);
    va_end(args);
}

int UsageError(Context& cx, const std::string& usage, const std::string& what)
{
    cx.Say("ktvtune-cli: %s\n\n%s", what.c_str(), usage.c_str());
    return ExitUsage;
}

int WithBox(Context& cx, const std::function<int()>& work)
{
    HidPro& hid = Hid();
    hid.SetPlatform(&cx.Platform);
    std::string path;
    if (!cx.WantedBox.empty()) {
        const std::vector<HidInterface> boxes = hid.ListBoxes();
        const HidInterface* box = SelectBox(boxes, cx.WantedBox);
        if (!box) {
            cx.Say("ktvtune-cli: no box '%s' (see 'ktvtune-cli list')\n", cx.WantedBox.c_str());
            return ExitFailed;
        }
        path = box->Path;
    }
    if (!OpenBoxLink(path)) {
        Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
        // Quiet hides the status texts, but a failure still says what failed.
        if (cx.Ui.Quiet && !cx.Ui.ShownMessage)
            cx.Say("ktvtune-cli: the box did not answer the link request (%s)\n", cx.Ui.LastExchangeStatus.c_str());
        return ExitFailed;
    }
    Ui().SetStatus(StatusPanel::Connection, "Connect:ok!");
    const int status = work();
    CloseBoxLink();
    return status;
}

std::optional<std::string> ChosenIdentifier(Context& cx)
{
    Hid().SetPlatform(&cx.Platform);
    const std::vector<HidInterface> boxes = Hid().ListBoxes();
    if (cx.WantedBox.empty()) {
        if (boxes.empty())
            return std::nullopt;
        return boxes.front().InstanceId;
    }
    const HidInterface* box = SelectBox(boxes, cx.WantedBox);
    return box ? box->InstanceId : cx.WantedBox;
}

bool OutputWritable(Context& cx, const std::string& path) { return Saved(cx, path, CheckWritable(path)); }

bool Saved(Context& cx, const std::string& path, FileWriteError error)
{
    if (error == FileWriteError::None)
        return true;
    cx.Say("ktvtune-cli: cannot write %s: %s\n", path.c_str(), FileWriteErrorText(error));
    return false;
}

bool SaveImage(Context& cx, const std::string& path)
{
    FileWriteError error = FileWriteError::None;
    return WriteDapFile(path, &error) || Saved(cx, path, error);
}

// A journal that cannot be written is said but never stops the command.
void Journal(Context& cx, const std::string& after)
{
    std::string why;
    if (!BoxJournal(Hid().OpenedId).Save(after, &why))
        cx.Say("ktvtune-cli: the box's state was not saved: %s\n", why.c_str());
}

void ReadAndJournal(Context& cx, const std::string& after)
{
    LoadDefaults();
    if (ReadAllFromDevice())
        Journal(cx, after);
    else
        cx.Say("ktvtune-cli: the box's state was not saved: it could not be read\n");
}

// A load leaves the volumes, Mute, Pitch, Input and the reserved fields
// alone; here they are taken as stored, so a dump or a diff shows what the
// file holds.
bool LoadFileAsStored(Context& cx, const std::string& path, DspParamsImage& image)
{
    LoadDefaults();
    DapBytes bytes{};
    const DapReadError error = LoadDapFile(path, bytes);
    if (error != DapReadError::None || !ApplyDapWhole(bytes.data(), bytes.size())) {
        cx.Say("ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
        return false;
    }
    image = DspParams;
    return true;
}

bool LoadPresetOrSay(Context& cx, const std::string& path)
{
    DapReadError error = DapReadError::None;
    if (ReadDapFile(path, &error))
        return true;
    cx.Say("ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
    return false;
}

bool LoadPresetOrSay(Context& cx, const std::string& path, DapBytes& bytes)
{
    const DapReadError error = LoadDapFile(path, bytes);
    if (error == DapReadError::None && ApplyDap(bytes.data(), bytes.size()))
        return true;
    cx.Say("ktvtune-cli: %s: %s\n", path.c_str(), DapReadErrorText(error));
    return false;
}

bool SaveChannel(Context& cx, const std::string& out, const DapBytes* preset, const BandGroup& group)
{
    if (!preset)
        return SaveImage(cx, out);
    const DapBytes bytes = WithBandsOf(*preset, group.FirstBand, group.BandCount);
    return Saved(cx, out, ReplaceFile(out, bytes.data(), bytes.size()));
}

std::optional<std::uint8_t> ParseSlot(const std::string& text)
{
    if (text.size() != 1 || text[0] < '1' || text[0] > '0' + SlotCount)
        return std::nullopt;
    return std::uint8_t(text[0] - '0');
}

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

} // namespace ktv::cli

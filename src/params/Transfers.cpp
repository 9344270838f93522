#include "params/Commands.h"

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/BoxLink.h"
#include "params/Gloable.h"

#include <array>

namespace ktv {
namespace {

constexpr int ReadPauseMs = 10;
constexpr int WritePauseMs = 20;
constexpr int RecallPauseMs = 100;

// Bands go in runs of six; the last run holds the three that are left.
constexpr int FullBandRuns = BandTotal / MaxBandsPerRequest;
constexpr std::uint8_t LastRunFirst = FullBandRuns * MaxBandsPerRequest;
constexpr std::uint8_t LastRunCount = BandTotal % MaxBandsPerRequest;

// Writes a read request and takes a valid reply of the length and first
// byte the command's reply has (`bands` records for a band read). The
// transport has already left its own text in panel 1.
bool Request(const std::uint8_t* payload, std::size_t length, std::size_t bands = 0)
{
    const DspCommand command = DspCommand(payload[0]);
    HidPro& hid = Hid();
    if (!hid.WriteReport(payload, length) ||
        hid.ReadReport(ReplyBytes(ReplyLength(command, bands))) != ReadResult::Ok) {
        Link().ExchangeFailed();
        return false;
    }
    return hid.ReplyByte(0) == Code(Info(command).Reply);
}

bool ReadBands(std::uint8_t first, std::uint8_t count, DspParamsImage& image)
{
    const std::array<std::uint8_t, RequestLength(DspCommand::ReadPeqBands)> request{
        Code(DspCommand::ReadPeqBands), first, count};
    if (!Request(request.data(), request.size(), count))
        return false;

    // The box names the run it answers with. A run reaching past band 38, or
    // claiming more records than the reply holds, is refused as a bad reply
    // so nothing is written outside Band or read from beyond the payload.
    const std::uint8_t* p = Hid().ReplyPayload();
    const std::size_t k0 = p[RunFirstAt], c = p[RunCountAt];
    if (c > count || k0 + c > std::size_t(BandTotal))
        return false;
    for (std::size_t j = 0; j < c; ++j)
        DecodeBandRecord(p + RunDataAt + BandRecordSize * j, image.Band[k0 + j]);
    return true;
}

bool WriteAllRequests()
{
    if (!SendSystem())
        return false;
    Ui().Sleep(WritePauseMs);
    if (!SendEffects())
        return false;
    for (int i = 0; i < FullBandRuns; ++i) {
        Ui().Sleep(WritePauseMs);
        if (!SendPeqBands(std::uint8_t(MaxBandsPerRequest * i), MaxBandsPerRequest))
            return false;
    }
    Ui().Sleep(WritePauseMs);
    return SendPeqBands(LastRunFirst, LastRunCount);
}

} // namespace

bool ReadBoxImage(DspParamsImage& image)
{
    const BoxLink::Whole transfer;
    const std::uint8_t readSystem = Code(DspCommand::ReadSystem);
    if (!Request(&readSystem, 1))
        return false;
    DecodeSystemReply(Hid().ReplyPayload(), image);

    Ui().Sleep(ReadPauseMs);
    const std::uint8_t readEffects = Code(DspCommand::ReadEffects);
    if (!Request(&readEffects, 1))
        return false;
    DecodeEffectsReply(Hid().ReplyPayload(), image);

    for (int i = 0; i < FullBandRuns; ++i) {
        Ui().Sleep(ReadPauseMs);
        if (!ReadBands(std::uint8_t(MaxBandsPerRequest * i), MaxBandsPerRequest, image))
            return false;
    }
    Ui().Sleep(ReadPauseMs);
    return ReadBands(LastRunFirst, LastRunCount, image);
}

bool ReadAllFromDevice()
{
    // The replies fill a scratch copy: a read failing half-way must not
    // leave a mix of box and window settings behind. Fields no reply
    // carries keep the image's values.
    DspParamsImage scratch = DspParams;
    if (!ReadBoxImage(scratch))
        return false;
    DspParams = scratch;
    Link().ImageMatchesBox();
    return true;
}

bool WriteAllToDevice()
{
    const BoxLink::Whole transfer;
    if (!WriteAllRequests())
        return false;
    Link().ImageMatchesBox();
    return true;
}

SlotOutcome StoreSlot(std::uint8_t slot)
{
    const BoxLink::Whole transfer;
    // The box stores what it holds, so first make it hold exactly the image.
    if (!WriteAllToDevice())
        return SlotOutcome::WriteAllFailed;
    return SendFactoryMode(FactoryStore, slot) ? SlotOutcome::Ok : SlotOutcome::CommandFailed;
}

SlotOutcome RecallSlot(std::uint8_t slot)
{
    const BoxLink::Whole transfer;
    if (!SendFactoryMode(FactoryRecall, slot))
        return SlotOutcome::CommandFailed;
    Ui().Sleep(RecallPauseMs);
    return ReadAllFromDevice() ? SlotOutcome::Ok : SlotOutcome::ReadAllFailed;
}

} // namespace ktv

// Reply validation, read-all, write-all and the slot commands against a
// device whose every reply (and every stale report waiting before a request)
// comes from the fuzzer's input.

#include "device/HidPro.h"
#include "dsp/StepTables.h"
#include "fuzz/FuzzSupport.h"
#include "params/Commands.h"
#include "params/Gloable.h"

#include <algorithm>
#include <cstdlib>

using namespace ktv;

namespace {

// Each read takes one piece of input: a header byte, then the report. Header
// bit 7: the report is already waiting (a late reply); bit 6: frame it
// properly (marker, address, length and checksum filled in, the request's
// command echoed) so the fuzzer gets past the checks; bits 0..5 with one
// more byte: the report's length or payload length.
class FedPlatform final : public HidPlatform {
public:
    explicit FedPlatform(fuzz::Input& in) : in_(in) {}

    std::vector<HidInterface> ListInterfaces() override { return {{"HID\\VID_2B5E&PID_61D3\\fuzz", "fuzz"}}; }
    PlatformHandle Open(const std::string&) override { return 1; }
    bool Write(PlatformHandle, const Report& report) override
    {
        std::copy(report, report + ReportSize, lastRequest_);
        // A write fails now and then, when the input says so.
        return !in_.Empty() && (in_.Byte() & 0x0F) != 0;
    }
    bool Read(PlatformHandle, Report& report, std::size_t& bytesRead, int timeoutMs) override
    {
        bytesRead = 0;
        if (!pending_) {
            if (in_.Empty())
                return false;
            header_ = in_.Byte();
            pending_ = true;
        }
        // A read that does not wait sees only a report already waiting; the
        // piece then stays for the next read.
        if (timeoutMs == 0 && !(header_ & 0x80))
            return false;
        pending_ = false;
        Deliver(header_, report, bytesRead);
        return true;
    }
    void Close(PlatformHandle) override {}
    std::uint32_t LastError() override { return PlatformError::Timeout; }

private:
    void Deliver(std::uint8_t header, Report& report, std::size_t& bytesRead)
    {
        std::fill(report, report + ReportSize, std::uint8_t(0));
        if (header & 0x40) {
            const std::size_t m = 1 + in_.Byte() % 60;
            report[1] = 0xAA;
            report[2] = 1;
            report[3] = std::uint8_t(m);
            report[4] = lastRequest_[4];
            in_.Take(report + 5, m - 1);
            report[4 + m] = Checksum(report + 4, m);
            bytesRead = ReportSize;
        } else {
            bytesRead = in_.Take(report, std::min<std::size_t>(ReportSize, 1 + (header & 0x3F) + in_.Byte()));
        }
    }

    fuzz::Input& in_;
    Report lastRequest_{};
    bool pending_ = false;
    std::uint8_t header_ = 0;
};

fuzz::SilentUi ui;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        SetUserInterface(&ui);
        BuildStepTables();
        return true;
    }();
    (void)ready;
    fuzz::Input in(data, size);
    FedPlatform platform(in);
    DspParams = {};
    LoadDefaults();
    Hid() = HidPro{};
    Hid().SetPlatform(&platform);
    Hid().OpenDevice();
    for (int step = 0; step < 16 && !in.Empty(); ++step) {
        const std::uint8_t op = in.Byte();
        const std::uint8_t slot = std::uint8_t(op >> 4); // 0..15: also slots outside 1..8
        switch (op % 6) {
        case 0: (void)ReadAllFromDevice(); break;
        case 1: (void)WriteAllToDevice(); break;
        case 2: (void)StoreSlot(slot); break;
        case 3: (void)RecallSlot(slot); break;
        case 4: (void)SendLink(op >> 7); break;
        case 5: (void)SendPeqBands(slot, std::uint8_t(1 + op % 6)); break;
        }
    }
    Hid().CloseDevice();
    Hid().SetPlatform(nullptr);
    return 0;
}

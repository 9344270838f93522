#pragma once
// The USB HID transport: finds and opens the box, frames a payload into a
// 65-byte output report with its checksum, reads the reply and validates it.
// It knows nothing of what the payloads mean.

#include "device/HidPlatform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ktv {

// Identifies the box in an instance identifier or interface path
// (exact, case-sensitive).
inline constexpr std::string_view BoxIdentifier = "VID_2B5E&PID_61D3";

enum class ReadResult : int { Ok = 0, BadChecksum = 2, ReadError = 3, BadLength = 4, BadDeviceId = 8 };

class HidPro {
public:
    virtual ~HidPro() = default;

    PlatformHandle Handle = InvalidHandle;
    Report InReport{};
    Report OutReport{};
    bool Opened = false;
    bool Linked = false;
    std::uint8_t DeviceId = BoxAddress;
    // The instance identifier of the interface opened last.
    std::string OpenedId;

    // The services used from now on (not owned). nullptr: every open finds
    // no box and every write fails.
    void SetPlatform(HidPlatform* platform);
    HidPlatform* Platform() const { return platform_; }

    // The boxes among the present interfaces, in enumeration order.
    std::vector<HidInterface> ListBoxes() const;
    // Opens the box listed under DevicePath, or the first box found when it
    // is empty.
    void OpenDevice();
    std::string DevicePath;
    // L must be 1..60. Input reports still waiting from earlier exchanges
    // are discarded first.
    [[nodiscard]] bool WriteReport(const std::uint8_t* payload, std::size_t length);
    [[nodiscard]] ReadResult ReadReport(std::size_t replySize);
    void CloseDevice();
    // Whether the last failed write or read found the device gone.
    [[nodiscard]] bool DeviceGone() const { return gone_; }

    // Reply payload byte i (InReport[4 + i]); valid after ReadReport gave Ok.
    std::uint8_t ReplyByte(std::size_t i) const { return InReport[FramePayloadAt + i]; }
    const std::uint8_t* ReplyPayload() const { return InReport + FramePayloadAt; }

private:
    static constexpr int MaxStaleReports = 64;
    // Discards the input reports already waiting, without blocking.
    void DrainStaleInput();

    HidPlatform* platform_ = nullptr;
    bool gone_ = false;
};

// Picks a box by its identifier, its path, its position in `boxes`
// (1-based, as `ktvtune-cli list` numbers them) or, for a virtual box, the
// name ktvtune-box --name gave it; nullptr when none fits.
const HidInterface* SelectBox(const std::vector<HidInterface>& boxes, std::string_view wanted);

// The one transport of the run.
HidPro& Hid();

} // namespace ktv

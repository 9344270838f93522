#include "device/HidPro.h"

#include "base/UserInterface.h"

#include <algorithm>
#include <string>

namespace ktv {

void HidPro::SetPlatform(HidPlatform* platform) { platform_ = platform; }

std::vector<HidInterface> HidPro::ListBoxes() const
{
    std::vector<HidInterface> boxes;
    if (!platform_)
        return boxes;
    for (HidInterface& i : platform_->ListInterfaces())
        if (i.InstanceId.find(BoxIdentifier) != std::string::npos)
            boxes.push_back(std::move(i));
    return boxes;
}

namespace {

// A virtual box by the name ktvtune-box --name gave it: its identifier ends
// in \box-NAME.sock.
const HidInterface* VirtualBoxNamed(const std::vector<HidInterface>& boxes, std::string_view name)
{
    if (name.empty() || name.find_first_of("/\\") != std::string_view::npos)
        return nullptr;
    const std::string ending = "\\box-" + std::string(name) + ".sock";
    for (const HidInterface& i : boxes)
        if (i.InstanceId.starts_with("VIRTUAL\\") && i.InstanceId.ends_with(ending))
            return &i;
    return nullptr;
}

} // namespace

const HidInterface* SelectBox(const std::vector<HidInterface>& boxes, std::string_view wanted)
{
    for (const HidInterface& i : boxes)
        if (i.InstanceId == wanted || i.Path == wanted)
            return &i;
    // A position only when the whole text is digits: "2x" is no box.
    std::size_t position = 0;
    if (wanted.empty() || wanted.size() > 4)
        return VirtualBoxNamed(boxes, wanted);
    for (char c : wanted) {
        if (c < '0' || c > '9')
            return VirtualBoxNamed(boxes, wanted);
        position = position * 10 + std::size_t(c - '0');
    }
    return position >= 1 && position <= boxes.size() ? &boxes[position - 1] : VirtualBoxNamed(boxes, wanted);
}

void HidPro::OpenDevice()
{
    if (Handle != InvalidHandle) {
        if (platform_)
            platform_->Close(Handle);
        Handle = InvalidHandle;
    }
    Opened = false;
    gone_ = false;

    if (!platform_) {
        Ui().ShowMessage("no usb device 2");
        return;
    }

    const std::vector<HidInterface> boxes = ListBoxes();
    // Without a chosen box the first one wins, as with a single box.
    const auto box = std::find_if(boxes.begin(), boxes.end(),
                                  [this](const HidInterface& i) { return DevicePath.empty() || i.Path == DevicePath; });
    if (box == boxes.end()) {
        Ui().ShowMessage("no usb device 2");
        return;
    }

    Handle = platform_->Open(box->Path);
    Opened = Handle != InvalidHandle;
    OpenedId = Opened ? box->InstanceId : std::string();
    if (!Opened && platform_->LastError() == PlatformError::AccessDenied) {
        // Without this the user sees only "Connect:no!" and cannot tell a
        // missing box from a missing permission.
#ifdef _WIN32
        // Windows needs no rule: the box is held by another program, or it
        // is another user's virtual box.
        Ui().ShowMessage("The DSP box was found but cannot be opened: access denied.\n"
                         "Close any other program that uses the box, then plug the box in again.");
#else
        Ui().ShowMessage("The DSP box was found but cannot be opened: permission denied.\n"
                         "Install the udev rule 70-ktvtune.rules (see README), then plug the box in again.");
#endif
    }
}

bool HidPro::WriteReport(const std::uint8_t* payload, std::size_t length)
{
    if (length < 1 || length > MaxPayloadLength) {
        // Never reached by the commands; refusing keeps the frame inside the report.
        Ui().SetStatus(StatusPanel::Exchange, "Write:error!");
        return false;
    }
    // Byte 0 and the bytes after the checksum keep what earlier reports left.
    PutFrame(OutReport, DeviceId, payload, length);

    DrainStaleInput();
    const bool ok = platform_ && platform_->Write(Handle, OutReport);
    gone_ = !ok && platform_ && platform_->LastError() == PlatformError::NotConnected;
    Ui().SetStatus(StatusPanel::Exchange, ok ? "Write:ok!" : "Write:error!");
    return ok;
}

void HidPro::DrainStaleInput()
{
    // A reply that came after its wait ran out would otherwise be taken as
    // the answer to this request, and every later exchange would be off by
    // one. The bound keeps a babbling device from holding us here.
    if (!platform_)
        return;
    Report stale;
    std::size_t bytesRead = 0;
    for (int i = 0; i < MaxStaleReports && platform_->Read(Handle, stale, bytesRead, 0); ++i) {
    }
}

ReadResult HidPro::ReadReport(std::size_t n)
{
    std::size_t bytesRead = 0;
    if (!platform_ || !platform_->Read(Handle, InReport, bytesRead, ReadTimeoutMs)) {
        const std::uint32_t code = platform_ ? platform_->LastError() : PlatformError::InvalidHandle;
        gone_ = code == PlatformError::NotConnected;
        Ui().SetStatus(StatusPanel::Exchange, "ReadFile:error!" + std::to_string(code & 0xFFFF));
        return ReadResult::ReadError;
    }
    // A reply size beyond the report can never be met; treat it as a length fault.
    if (n < FramePayloadAt || n >= ReportSize || bytesRead < n + 1 || InReport[FrameLengthAt] != n - FramePayloadAt)
        return ReadResult::BadLength;
    if (Checksum(InReport + FramePayloadAt, n - FramePayloadAt) != InReport[n]) {
        Ui().SetStatus(StatusPanel::Exchange, "CheckSum:error!" + std::to_string(n));
        return ReadResult::BadChecksum;
    }
    if (InReport[FrameAddressAt] != DeviceId)
        return ReadResult::BadDeviceId;
    return ReadResult::Ok;
}

void HidPro::CloseDevice()
{
    Opened = false;
    OpenedId.clear();
    if (Handle != InvalidHandle) {
        if (platform_)
            platform_->Close(Handle);
        Handle = InvalidHandle;
    }
}

HidPro& Hid()
{
    static HidPro transport;
    return transport;
}

} // namespace ktv

#include "venue/RemotePlatform.h"

#include "venue/Roles.h"

namespace ktv::venue {

RemoteHidPlatform::RemoteHidPlatform(RoomClient& client, std::string room, std::function<void(const std::string&)> say)
    : client_(client), room_(std::move(room)), say_(std::move(say))
{
}

std::vector<HidInterface> RemoteHidPlatform::ListInterfaces()
{
    const auto state = client_.State(room_);
    if (!state) {
        say_("no room '" + room_ + "' is known to the broker (see 'venue list')");
        return {};
    }
    if (!state->value("online", false)) {
        say_("room " + room_ + " is offline");
        return {};
    }
    if (!state->value("boxPresent", false)) {
        say_("room " + room_ + ": box gone (its agent is online, the box is not)");
        return {};
    }
    return {{state->value("box", std::string()), "venue:" + room_}};
}

PlatformHandle RemoteHidPlatform::Open(const std::string& path)
{
    if (path != "venue:" + room_) {
        lastError_ = PlatformError::NotConnected;
        return InvalidHandle;
    }
    lastError_ = 0;
    refused_ = false;
    return 1;
}

bool RemoteHidPlatform::Write(PlatformHandle handle, const Report& report)
{
    hasReply_ = false;
    if (handle != 1) {
        lastError_ = PlatformError::InvalidHandle;
        return false;
    }
    std::string why;
    const auto answer = client_.Call(room_, {{"op", "exchange"}, {"report", Hex(report, ReportSize)}}, why);
    if (!answer) {
        // Said once: the transport may try again, and each try waits its own time.
        if (!saidSilent_)
            say_(why);
        saidSilent_ = true;
        lastError_ = PlatformError::Timeout;
        return false;
    }
    if (answer->contains("refused")) {
        refused_ = true;
        say_("room " + room_ + " refused the request: " + answer->value("refused", std::string()) +
             " (nothing was sent to the box)");
        lastError_ = PlatformError::AccessDenied;
        return false;
    }
    lastError_ = answer->value("error", 0u);
    if (!answer->value("written", false))
        return false;
    // The box's answer travels with the request's; a read that failed there fails here.
    const std::string hex = answer->value("report", std::string());
    replyBytes_ = answer->value("read", std::size_t(0));
    hasReply_ = !hex.empty() && FromHex(hex, reply_, ReportSize);
    return true;
}

bool RemoteHidPlatform::Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int)
{
    if (handle != 1 || !hasReply_) {
        // Nothing waiting: the stale-input drain, or a read whose box was silent.
        lastError_ = handle != 1 ? PlatformError::InvalidHandle : lastError_ ? lastError_ : PlatformError::Timeout;
        return false;
    }
    std::copy(reply_, reply_ + ReportSize, report);
    bytesRead = replyBytes_;
    hasReply_ = false;
    lastError_ = 0;
    return true;
}

void RemoteHidPlatform::Close(PlatformHandle) { hasReply_ = false; }

} // namespace ktv::venue

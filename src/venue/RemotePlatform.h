#pragma once
// A room's box as platform services: each output report goes to the room's
// agent as one request and its input report comes back in the answer, so
// the transport, the commands and their outputs are those of a USB box.

#include "device/HidPlatform.h"
#include "venue/RoomClient.h"

#include <functional>
#include <string>
#include <vector>

namespace ktv::venue {

class RemoteHidPlatform final : public HidPlatform {
public:
    // `say` gets what the user must know beyond the status texts: a refusal
    // and its reason, a room that is offline or silent.
    RemoteHidPlatform(RoomClient& client, std::string room, std::function<void(const std::string&)> say);

    std::vector<HidInterface> ListInterfaces() override;
    PlatformHandle Open(const std::string& path) override;
    bool Write(PlatformHandle handle, const Report& report) override;
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override;
    void Close(PlatformHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }

    const std::string& Room() const { return room_; }
    // Whether the agent refused a request (the box got nothing of it).
    bool Refused() const { return refused_; }

private:
    RoomClient& client_;
    std::string room_;
    std::function<void(const std::string&)> say_;
    std::uint32_t lastError_ = 0;
    bool refused_ = false;
    bool saidSilent_ = false;
    Report reply_{};
    std::size_t replyBytes_ = 0;
    bool hasReply_ = false;
};

} // namespace ktv::venue

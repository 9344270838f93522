#pragma once
// A laptop's side of the venue: one connection to the broker, the rooms'
// retained states, and requests to a room's agent that wait for the answer
// at most a bounded time.

#include "venue/Mqtt.h"

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace ktv::venue {

using Json = nlohmann::json;

// A fresh request id: every request carries one, so a request delivered
// twice is carried out once.
std::string NewRequestId();

class RoomClient {
public:
    explicit RoomClient(const VenueAccess& access);
    ~RoomClient();

    // Connects and takes in every room's state; false with why.
    bool Connect(std::string& why, int timeoutMs = RemoteTimeoutMs);

    // Sends `request` (its id and client are filled in) to the room's agent
    // and waits for the answer. nullopt with why when none came in time.
    std::optional<Json> Call(const std::string& room, Json request, std::string& why,
                             int timeoutMs = RemoteTimeoutMs);
    // Sends a request without waiting (the answer is dropped).
    bool Send(const std::string& room, Json request);

    // The rooms' states as retained on the broker, by room name.
    std::map<std::string, Json> States() const;
    std::optional<Json> State(const std::string& room) const;

    const VenueAccess& Access() const { return access_; }

private:
    VenueAccess access_;
    std::string clientId_;
    std::unique_ptr<MqttClient> mqtt_;
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::map<std::string, Json> states_;
    std::map<std::string, Json> answers_; // by request id
    bool synced_ = false;
};

} // namespace ktv::venue

#include "venue/RoomClient.h"

#include "venue/Topics.h"

#include <atomic>
#include <chrono>
#include <random>

namespace ktv::venue {

std::string NewRequestId()
{
    static std::atomic<unsigned> counter{0};
    static const std::string prefix = [] {
        std::random_device device;
        char text[24];
        std::snprintf(text, sizeof text, "%08x%08x", device(), device());
        return std::string(text);
    }();
    return prefix + "-" + std::to_string(++counter);
}

RoomClient::RoomClient(const VenueAccess& access) : access_(access)
{
    const std::string id = NewRequestId();
    clientId_ = "cli-" + id.substr(0, id.find('-'));
    mqtt_ = std::make_unique<MqttClient>(access_, clientId_);
    mqtt_->OnMessage = [this](const std::string& topic, const std::string& payload, bool) {
        if (topic == SyncTopic(access_.User, clientId_)) {
            std::lock_guard lock(mutex_);
            synced_ = true;
            answered_.notify_all();
            return;
        }
        // ktv/<site>/<room>/state or ktv/<site>/<room>/reply/<user>/<client>
        const std::string head = "ktv/" + access_.Site + "/";
        if (!topic.starts_with(head))
            return;
        const std::string rest = topic.substr(head.size());
        const std::size_t slash = rest.find('/');
        if (slash == std::string::npos)
            return;
        const std::string room = rest.substr(0, slash), kind = rest.substr(slash + 1);
        Json j = Json::parse(payload, nullptr, false);
        std::lock_guard lock(mutex_);
        if (kind == "state") {
            if (payload.empty() || !j.is_object())
                states_.erase(room);
            else
                states_[room] = std::move(j);
        } else if (kind.starts_with("reply/") && j.is_object() && j.contains("id") && j["id"].is_string()) {
            const std::string id = j["id"];
            answers_[id] = std::move(j);
            answered_.notify_all();
        }
    };
}

RoomClient::~RoomClient() { mqtt_->Stop(); }

bool RoomClient::Connect(std::string& why, int timeoutMs)
{
    if (!mqtt_->Start(&why) || !mqtt_->WaitConnected(timeoutMs, &why))
        return false;
    if (!mqtt_->SubscribeAndWait(ReplyFilter(access_.Site, access_.User, clientId_), timeoutMs) ||
        !mqtt_->SubscribeAndWait(AllStatesTopic(access_.Site), timeoutMs) ||
        !mqtt_->SubscribeAndWait(SyncTopic(access_.User, clientId_), timeoutMs)) {
        why = "the broker did not take the subscriptions in time";
        return false;
    }
    // The echo comes back behind the retained states: then every room is known.
    mqtt_->Publish(SyncTopic(access_.User, clientId_), "sync", false, 1);
    std::unique_lock lock(mutex_);
    if (!answered_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return synced_; })) {
        why = "the broker did not send the rooms' states in time";
        return false;
    }
    return true;
}

bool RoomClient::Send(const std::string& room, Json request)
{
    if (!request.contains("id"))
        request["id"] = NewRequestId();
    request["client"] = clientId_;
    return mqtt_->Publish(RequestTopic(access_.Site, room, access_.Role, access_.User), request.dump());
}

std::optional<Json> RoomClient::Call(const std::string& room, Json request, std::string& why, int timeoutMs)
{
    if (!request.contains("id"))
        request["id"] = NewRequestId();
    const std::string id = request["id"];
    if (!Send(room, request)) {
        why = "the request could not be sent to the broker";
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    if (!answered_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return answers_.count(id) > 0; })) {
        why = "room " + room + " did not answer within " + std::to_string(timeoutMs / 1000) + " s" +
              (mqtt_->Connected() ? "" : " (the connection to the broker was lost)");
        return std::nullopt;
    }
    Json answer = std::move(answers_[id]);
    answers_.erase(id);
    return answer;
}

std::map<std::string, Json> RoomClient::States() const
{
    std::lock_guard lock(mutex_);
    return states_;
}

std::optional<Json> RoomClient::State(const std::string& room) const
{
    std::lock_guard lock(mutex_);
    const auto it = states_.find(room);
    if (it == states_.end())
        return std::nullopt;
    return it->second;
}

} // namespace ktv::venue

#pragma once
// ktvtune-agent's work: it holds the box's link, keeps the room's state
// retained on the broker (with a last will that says offline), and carries
// out the requests of the venue's users one at a time, each checked against
// the requester's role, each id carried out once.

#include "device/HidPlatform.h"
#include "venue/Mqtt.h"
#include "venue/Roles.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <optional>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace ktv::agent {

using Json = nlohmann::json;

struct AgentOptions {
    venue::VenueAccess Access;
    std::string Room;
    std::string Device;  // --device: the box to serve (empty: the first one found)
    std::string DataDir; // the room's journal, limits and changes
    // A technician's hold on the room lapses after this long without a change.
    std::chrono::seconds HoldIdle{300};
};

class Agent {
public:
    Agent(AgentOptions options, HidPlatform& platform);
    // Serves until `stop` is set; the exit status.
    int Run(const std::atomic<bool>& stop);

    // A request as it came, with who sent it (from its topic, which the
    // broker lets each user publish only under its own role and name).
    struct Request {
        std::string Role, User;
        Json Body;
    };

private:
    void Receive(const std::string& topic, const std::string& payload);
    bool Next(Request& request, int waitMs);
    void Serve(const Request& request);
    Json Handle(const Request& request);
    Json Exchange(const Request& request);
    Json Whole(const Request& request);
    Json SetLimits(const Request& request);
    Json History();

    void OpenBox();
    void CheckBox();
    void BoxGone();
    void PublishState();
    Json StateJson(bool online) const;
    void Changed(const Request& request, const std::string& what);
    void LoadLimits();
    // Empty when `request` may change the box now (a technician's first
    // change takes the hold); otherwise who holds the room.
    std::optional<std::string> HoldRefusal(const Request& request);
    void CheckHold();
    Json TakeOver(const Request& request);
    Json Release(const Request& request);
    Json LimitsJson() const;
    // Keeps the box's state (DspParams, just read) in the journal before
    // `after`, with who asked.
    bool SaveState(const std::string& after, const Request& request, std::string* why);
    void RecordChange(const Request& request, const std::string& what);
    std::string savedFile_; // the journal file of the change under way

    // A whole change under way is marked on disk beside the journal, so that
    // an agent killed in the middle of one says so when it starts again.
    void BeginWhole(const Request& request, const std::string& step);
    void WholeWriting(bool read); // the state before is journalled (or could not be); the box is written next
    void EndWhole();
    void LoadInterrupted();
    void AnnounceInterrupted();
    std::string InterruptedText() const; // with stateMutex_ held
    // Notes each request of the change under way before it goes to the box,
    // so that a report of it names what the box may have got.
    void Sending(const Report& report);
    std::unique_ptr<HidPlatform> watched_; // platform_, through Sending
    Json underway_;    // the mark of the change under way
    Json interrupted_; // the mark an earlier agent left unfinished
    bool announced_ = false;

    AgentOptions options_;
    HidPlatform& platform_;
    venue::MqttClient mqtt_;

    std::mutex queueMutex_;
    std::condition_variable queued_;
    // One queue per user, served in turn: a user who floods the agent waits
    // behind itself, not in front of the others.
    std::map<std::string, std::deque<Request>> queues_;
    std::deque<std::string> turn_;

    // Answers already given, by request id: a request delivered again is
    // answered again, never carried out again.
    std::map<std::string, std::string> answered_;
    std::deque<std::string> answeredOrder_;

    mutable std::mutex stateMutex_;
    bool boxPresent_ = false;
    std::string boxId_;
    std::string since_;
    Json lastChange_;
    std::string preset_;
    venue::VolumeLimits limits_;
    std::string holder_, holdSince_;
    std::chrono::steady_clock::time_point holdLast_;
};

// "2026-12-11 13:05:07", local time, as the journal names its states.
std::string Now();

} // namespace ktv::agent

#pragma once
// A venue client of the broker over libmosquitto: MQTT 5 over TLS with the
// venue's CA, the user and password of a .venue file, a network thread of its
// own, and reconnection with back-off when the broker goes away.

#include "venue/VenueFile.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <atomic>
#include <string>
#include <thread>

struct mosquitto;

namespace ktv::venue {

// The longest anything waits on the broker or an agent: a silent one ends
// a command with a clear error, never a hang.
inline constexpr int RemoteTimeoutMs = 5000;
// The broker takes a client whose keep-alive lapses (1.5 times this) as dead,
// and publishes its last will: an agent shows offline well within 15 s.
inline constexpr int KeepAliveSeconds = 5;

class MqttClient {
public:
    MqttClient(const VenueAccess& access, std::string clientId);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Before Start: what the broker publishes when this client dies.
    void SetWill(const std::string& topic, const std::string& payload, bool retain);
    // Called on the network thread after every (re)connection, before any
    // message of it: subscriptions and retained state go out from here.
    std::function<void()> OnConnected;
    // Called on the network thread for every message received.
    std::function<void(const std::string& topic, const std::string& payload, bool retained)> OnMessage;

    // Starts connecting (and reconnecting, with back-off, for as long as
    // the client lives). False only when the client could not be set up.
    bool Start(std::string* why = nullptr);
    // Waits until connected; false after timeoutMs or a refusal, with why.
    bool WaitConnected(int timeoutMs, std::string* why);
    bool Connected() const;

    bool Publish(const std::string& topic, const std::string& payload, bool retain = false, int qos = 1);
    bool Subscribe(const std::string& filter, int qos = 1);
    // Subscribes and waits for the broker's acknowledgement, which comes
    // after the retained messages of that filter.
    bool SubscribeAndWait(const std::string& filter, int timeoutMs, int qos = 1);
    // Waits at most timeoutMs for the messages published so far to leave.
    void Flush(int timeoutMs);
    // Disconnects cleanly (no last will) and stops the network thread.
    void Stop();

    const std::string& ClientId() const { return clientId_; }
    const VenueAccess& Access() const { return access_; }

private:
    static void ConnectCallback(mosquitto*, void* self, int rc, int flags, const void* props);
    static void DisconnectCallback(mosquitto*, void* self, int rc, const void* props);
    static void MessageCallback(mosquitto*, void* self, const void* message);
    static void PublishCallback(mosquitto*, void* self, int mid);
    static void SubscribeCallback(mosquitto*, void* self, int mid);

    VenueAccess access_;
    std::string clientId_;
    std::string caFile_;
    mosquitto* mosq_ = nullptr;
    bool started_ = false;
    // The network thread: libmosquitto's own one gives up after a TLS
    // connection breaks, this one reconnects with back-off until stopped.
    std::thread network_;
    std::atomic<bool> stopping_{false};
    void Network();
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::string refusal_; // why the last connection was refused or lost
    int outstanding_ = 0; // QoS 1 messages not yet acknowledged
    int lastSubscribed_ = 0;
};

} // namespace ktv::venue

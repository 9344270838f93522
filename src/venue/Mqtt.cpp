#include "venue/Mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktv::venue {

namespace {

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
    });
}

// libmosquitto reads the CA from a file: the venue file's copy goes to a
// file named by its content in a folder of the user's own, written once and
// shared by every client of that venue (a CA certificate is no secret, and a
// client killed outright leaves nothing new behind).
std::string WriteCaFile(const std::string& pem)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime == '/' ? std::string(runtime) + "/ktvtune-venue"
                                                       : "/tmp/ktvtune-venue-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077))
        return {};
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (const char c : pem)
        hash = (hash ^ std::uint8_t(c)) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "/ca-%016llx.pem", static_cast<unsigned long long>(hash));
    const std::string path = dir + name;
    if (access(path.c_str(), R_OK) == 0)
        return path;
    const std::string temp = path + "." + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    const bool ok = write(fd, pem.data(), pem.size()) == ssize_t(pem.size());
    close(fd);
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return {};
    }
    return path;
}

} // namespace

MqttClient::MqttClient(const VenueAccess& access, std::string clientId)
    : access_(access), clientId_(std::move(clientId))
{
    InitLibrary();
    mosq_ = mosquitto_new(clientId_.c_str(), true, this);
    if (!mosq_)
        return;
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A request and its answer are small and waited for: no Nagle delay.
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(mosq_, [](mosquitto* m, void* self, int rc, int flags, const mosquitto_property* p) {
        ConnectCallback(m, self, rc, flags, p);
    });
    mosquitto_disconnect_v5_callback_set(mosq_, [](mosquitto* m, void* self, int rc, const mosquitto_property* p) {
        DisconnectCallback(m, self, rc, p);
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto* m, void* self, const mosquitto_message* msg) {
        MessageCallback(m, self, msg);
    });
    mosquitto_publish_callback_set(mosq_, [](mosquitto* m, void* self, int mid) { PublishCallback(m, self, mid); });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto* m, void* self, int mid, int, const int*) {
        SubscribeCallback(m, self, mid);
    });
}

MqttClient::~MqttClient()
{
    Stop();
    if (mosq_)
        mosquitto_destroy(mosq_);
}

void MqttClient::SetWill(const std::string& topic, const std::string& payload, bool retain)
{
    if (mosq_)
        mosquitto_will_set_v5(mosq_, topic.c_str(), int(payload.size()), payload.data(), 1, retain, nullptr);
}

bool MqttClient::Start(std::string* why)
{
    auto fail = [&](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    if (!mosq_)
        return fail("the MQTT library could not be set up");
    caFile_ = WriteCaFile(access_.CaPem);
    if (caFile_.empty())
        return fail("the venue's CA could not be written to a file of the user's own");
    if (mosquitto_tls_set(mosq_, caFile_.c_str(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        return fail("the venue file's CA is not a certificate");
    mosquitto_tls_opts_set(mosq_, 1, "tlsv1.2", nullptr);
    mosquitto_username_pw_set(mosq_, access_.User.c_str(), access_.Password.c_str());
    mosquitto_threaded_set(mosq_, true);
    started_ = true;
    stopping_ = false;
    network_ = std::thread([this] { Network(); });
    return true;
}

void MqttClient::Network()
{
    using namespace std::chrono;
    int rc = mosquitto_connect_async(mosq_, access_.Host.c_str(), access_.Port, KeepAliveSeconds);
    int delayMs = 1000;
    while (!stopping_) {
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(mosq_, 100, 1);
            if (rc == MOSQ_ERR_SUCCESS && Connected())
                delayMs = 1000;
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            if (refusal_.empty() || refusal_ == "the connection was lost")
                refusal_ = mosquitto_strerror(rc);
        }
        changed_.notify_all();
        // The broker is away: try again after 1 s, 2 s, 4 s ... at most 10 s.
        const auto until = steady_clock::now() + milliseconds(delayMs);
        while (!stopping_ && steady_clock::now() < until)
            std::this_thread::sleep_for(milliseconds(50));
        delayMs = std::min(delayMs * 2, 10000);
        if (!stopping_)
            rc = mosquitto_reconnect_async(mosq_);
    }
}

bool MqttClient::WaitConnected(int timeoutMs, std::string* why)
{
    std::unique_lock lock(mutex_);
    const bool ok = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return connected_ || refusal_.find("authori") != std::string::npos;
    }) && connected_;
    if (!ok && why) {
        const std::string where = access_.Host + ":" + std::to_string(access_.Port);
        *why = refusal_.find("authori") != std::string::npos
                   ? "the broker at " + where + " refused user '" + access_.User + "': " + refusal_
                   : "no broker answered at " + where + " within " + std::to_string(timeoutMs / 1000) + " s" +
                         (refusal_.empty() ? "" : " (" + refusal_ + ")");
    }
    return ok;
}

bool MqttClient::Connected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain, int qos)
{
    if (!mosq_)
        return false;
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), int(payload.size()), payload.data(), qos, retain,
                                        nullptr);
    if (rc == MOSQ_ERR_SUCCESS && qos > 0) {
        std::lock_guard lock(mutex_);
        ++outstanding_;
    }
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::Subscribe(const std::string& filter, int qos)
{
    return mosq_ && mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), qos, 0, nullptr) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::SubscribeAndWait(const std::string& filter, int timeoutMs, int qos)
{
    int mid = 0;
    if (!mosq_ || mosquitto_subscribe_v5(mosq_, &mid, filter.c_str(), qos, 0, nullptr) != MOSQ_ERR_SUCCESS)
        return false;
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return lastSubscribed_ == mid; });
}

void MqttClient::Flush(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return outstanding_ <= 0 || !connected_; });
}

void MqttClient::Stop()
{
    if (!started_)
        return;
    started_ = false;
    mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    // The disconnect goes out with the thread's next turns.
    for (int i = 0; i < 5 && Connected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopping_ = true;
    if (network_.joinable())
        network_.join();
}

void MqttClient::ConnectCallback(mosquitto*, void* self, int rc, int, const void*)
{
    auto* c = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(c->mutex_);
        c->connected_ = rc == 0;
        c->refusal_ = rc == 0 ? "" : mosquitto_reason_string(rc);
    }
    if (rc == 0 && c->OnConnected)
        c->OnConnected();
    c->changed_.notify_all();
}

void MqttClient::DisconnectCallback(mosquitto*, void* self, int rc, const void*)
{
    auto* c = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(c->mutex_);
        c->connected_ = false;
        c->outstanding_ = 0;
        if (rc != 0 && c->refusal_.empty())
            c->refusal_ = "the connection was lost";
    }
    c->changed_.notify_all();
}

void MqttClient::MessageCallback(mosquitto*, void* self, const void* m)
{
    auto* c = static_cast<MqttClient*>(self);
    const auto* msg = static_cast<const mosquitto_message*>(m);
    if (c->OnMessage)
        c->OnMessage(msg->topic, std::string(static_cast<const char*>(msg->payload), std::size_t(msg->payloadlen)),
                     msg->retain);
}

void MqttClient::PublishCallback(mosquitto*, void* self, int)
{
    auto* c = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(c->mutex_);
        --c->outstanding_;
    }
    c->changed_.notify_all();
}

void MqttClient::SubscribeCallback(mosquitto*, void* self, int mid)
{
    auto* c = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(c->mutex_);
        c->lastSubscribed_ = mid;
    }
    c->changed_.notify_all();
}

} // namespace ktv::venue

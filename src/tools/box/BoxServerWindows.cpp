// The box's server on Windows: a named pipe in message mode, one instance
// per client, served from one thread with overlapped I/O. The exchange and
// its limits are BoxExchange's, as on Linux.
#include "box/BoxServer.h"

#include "base/WinText.h"
#include "box/BoxExchange.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/WindowsPipes.h"

#include <algorithm>

#include <windows.h>

#include <sddl.h>

namespace ktv::tools {
namespace {

// A wait takes at most 64 handles: the stop, the waiting instance and one
// per client. Beyond this the client idle the longest makes room, as the
// Linux box does when it runs out of descriptors.
constexpr std::size_t MaxClients = MAXIMUM_WAIT_OBJECTS - 2;
// The pipe's buffers: the system treats them as a hint.
constexpr DWORD BufferSize = 4096;

} // namespace

struct BoxServer::Client {
    HANDLE Pipe = INVALID_HANDLE_VALUE;
    // Signalled when the connection, a read or a write completes; which one
    // is told by the OVERLAPPEDs themselves.
    HANDLE Event = nullptr;
    OVERLAPPED ReadWait{}, WriteWait{};
    bool Reading = false, Writing = false;
    // One byte more than a report, so a longer message shows as one.
    std::uint8_t Request[ReportSize + 1] = {};
    std::deque<std::vector<std::uint8_t>> Pending; // replies not taken yet; the front may be on its way
    std::chrono::steady_clock::time_point LastActive;

    ~Client()
    {
        if (Pipe != INVALID_HANDLE_VALUE) {
            // Nothing of ours may be written into after it is gone.
            CancelIoEx(Pipe, nullptr);
            DWORD done;
            if (Reading)
                GetOverlappedResult(Pipe, &ReadWait, &done, TRUE);
            if (Writing)
                GetOverlappedResult(Pipe, &WriteWait, &done, TRUE);
            DisconnectNamedPipe(Pipe);
            CloseHandle(Pipe);
        }
        if (Event)
            CloseHandle(Event);
    }
};

BoxServer::BoxServer(VirtualBox& box, Options options)
    : box_(box)
    , options_(std::move(options))
    , fileName_("box-" + options_.Name + ".sock")
{
}

BoxServer::~BoxServer() { Close(); }

bool BoxServer::StartListening(std::string& error)
{
    auto client = std::make_unique<Client>();
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(win::Wide(sddl_).c_str(), SDDL_REVISION_1, &sd,
                                                              nullptr)) {
        error = "cannot make the pipe's security descriptor";
        return false;
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    // Only the first instance may make the pipe: a pipe of that name made by
    // anyone else first is not ours to serve.
    const DWORD first = waiting_ || !clients_.empty() ? 0 : FILE_FLAG_FIRST_PIPE_INSTANCE;
    client->Pipe = CreateNamedPipeW(win::Wide(path_).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                    PIPE_UNLIMITED_INSTANCES, BufferSize, BufferSize, 0, &sa);
    const DWORD err = GetLastError();
    LocalFree(sd);
    if (client->Pipe == INVALID_HANDLE_VALUE) {
        error = err == ERROR_ACCESS_DENIED ? "another program already holds " + path_
                                           : "cannot make the pipe " + path_ + " (error " + std::to_string(err) + ")";
        return false;
    }
    client->Event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    client->ReadWait.hEvent = client->Event;
    if (!client->Event) {
        error = "cannot make an event";
        return false;
    }
    // The connection is waited for with ReadWait; Reading marks it pending.
    if (!ConnectNamedPipe(client->Pipe, &client->ReadWait)) {
        const DWORD why = GetLastError();
        if (why == ERROR_IO_PENDING)
            client->Reading = true;
        else if (why == ERROR_PIPE_CONNECTED) // came between the two calls
            SetEvent(client->Event);
        else {
            error = "cannot wait for clients on " + path_ + " (error " + std::to_string(why) + ")";
            return false;
        }
    }
    waiting_ = std::move(client);
    return true;
}

bool BoxServer::Listen(std::string& error)
{
    if (!platform::EnsureVirtualBoxDirectory(options_.Dir, &error))
        return false;
    path_ = platform::VirtualBoxPipe(options_.Dir, fileName_);
    sddl_ = platform::CurrentUserOnlySddl();
    if (path_.empty() || sddl_.empty()) {
        error = "no pipe name for " + fileName_ + " in " + options_.Dir + " (name too long?)";
        return false;
    }
    marker_ = options_.Dir + "\\" + fileName_;
    if (platform::SomeoneListensOn(path_)) {
        error = "another box is already listening on " + path_ + " (try --name)";
        return false;
    }
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stop_) {
        error = "cannot make an event";
        return false;
    }
    if (!StartListening(error))
        return false;

    // The file tells listers and watchers the box is there; it goes when the
    // box's last handle closes, even when the box is killed.
    const std::wstring marker = win::Wide(marker_);
    if (Log && GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES)
        Log("replacing stale file " + marker_);
    markerFile_ = CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (markerFile_ == INVALID_HANDLE_VALUE) {
        markerFile_ = nullptr;
        error = "cannot create " + marker_ + " (error " + std::to_string(GetLastError()) + ")";
        waiting_.reset();
        return false;
    }
    return true;
}

void BoxServer::Stop()
{
    if (stop_)
        SetEvent(stop_);
}

void BoxServer::Close()
{
    clients_.clear();
    waiting_.reset();
    if (markerFile_)
        CloseHandle(markerFile_);
    markerFile_ = nullptr;
    if (stop_)
        CloseHandle(stop_);
    stop_ = nullptr;
}

void BoxServer::CloseClient(std::size_t i) { clients_.erase(clients_.begin() + std::ptrdiff_t(i)); }

void BoxServer::TakeConnection()
{
    Client& c = *waiting_;
    if (c.Reading) {
        DWORD done;
        const bool ok = GetOverlappedResult(c.Pipe, &c.ReadWait, &done, FALSE) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (!ok && GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        c.Reading = false;
        if (!ok) {
            // The client left before it was taken: the instance waits again.
            std::string error;
            waiting_.reset();
            StartListening(error);
            return;
        }
    }
    c.ReadWait = {};
    c.ReadWait.hEvent = c.WriteWait.hEvent = c.Event;
    // Its first read starts on the next round.
    SetEvent(c.Event);
    c.LastActive = std::chrono::steady_clock::now();
    if (clients_.size() >= MaxClients) {
        const auto oldest = std::min_element(clients_.begin(), clients_.end(), [](const auto& a, const auto& b) {
            return a->LastActive < b->LastActive;
        });
        clients_.erase(oldest);
    }
    clients_.push_back(std::move(waiting_));
    std::string error;
    if (!StartListening(error) && Log)
        Log(LogTime() + " " + error);
}

bool BoxServer::Flush(Client& c)
{
    if (c.Writing) {
        DWORD done;
        if (!GetOverlappedResult(c.Pipe, &c.WriteWait, &done, FALSE))
            return GetLastError() == ERROR_IO_INCOMPLETE;
        c.Writing = false;
        c.Pending.pop_front();
    }
    while (!c.Pending.empty()) {
        const std::vector<std::uint8_t>& reply = c.Pending.front();
        c.WriteWait = {};
        c.WriteWait.hEvent = c.Event;
        if (!WriteFile(c.Pipe, reply.data(), DWORD(reply.size()), nullptr, &c.WriteWait)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return false;
            c.Writing = true; // the pipe is full: the client is not reading
            return true;
        }
        c.Pending.pop_front();
    }
    return true;
}

bool BoxServer::Serve(Client& c)
{
    for (int round = 0; round < RequestsPerRound; ++round) {
        DWORD n = 0;
        if (!c.Reading) {
            c.ReadWait = {};
            c.ReadWait.hEvent = c.Event;
            if (!ReadFile(c.Pipe, c.Request, sizeof c.Request, nullptr, &c.ReadWait)) {
                const DWORD err = GetLastError();
                if (err != ERROR_IO_PENDING && err != ERROR_MORE_DATA)
                    return false; // the client left
            }
            c.Reading = true;
        }
        if (!GetOverlappedResult(c.Pipe, &c.ReadWait, &n, FALSE)) {
            const DWORD err = GetLastError();
            if (err == ERROR_IO_INCOMPLETE)
                return true; // nothing more for now
            if (err != ERROR_MORE_DATA)
                return false;
            // A longer message: the rest is read and dropped; the byte more
            // than a report that was kept shows the box it was too long.
            c.Reading = false;
            std::uint8_t rest[512];
            for (;;) {
                OVERLAPPED ov{};
                win::Owned<HANDLE, CloseHandle> event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
                ov.hEvent = event.get();
                DWORD got = 0;
                const BOOL ok = ReadFile(c.Pipe, rest, sizeof rest, nullptr, &ov);
                if (!ok && GetLastError() == ERROR_IO_PENDING) {
                    if (GetOverlappedResult(c.Pipe, &ov, &got, TRUE))
                        break;
                } else if (ok)
                    break;
                if (GetLastError() != ERROR_MORE_DATA)
                    return false;
            }
            n = DWORD(sizeof c.Request);
        }
        c.Reading = false;
        if (n == 0) // an empty message: the client is done, as on Linux
            return false;
        c.LastActive = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> reply = Exchange(box_, c.Request, std::min<std::size_t>(n, sizeof c.Request), Log,
                                                   AfterRequest);
        if (reply.empty())
            continue;
        if (!QueueReply(c.Pending, std::move(reply), Log))
            return false;
        if (!Flush(c))
            return false;
    }
    // Requests may be waiting still: come back on the next round.
    SetEvent(c.Event);
    return true;
}

int BoxServer::WaitTimeoutMs() const
{
    if (clients_.empty() || options_.IdleLimit.count() <= 0)
        return -1;
    auto oldest = clients_.front()->LastActive;
    for (const auto& c : clients_)
        oldest = std::min(oldest, c->LastActive);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(oldest + options_.IdleLimit -
                                                                   std::chrono::steady_clock::now());
    return int(std::max<std::int64_t>(left.count(), 0) + 1);
}

int BoxServer::Run(int, std::string& error)
{
    std::vector<HANDLE> handles;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = clients_.size(); i-- > 0;)
            if (options_.IdleLimit.count() > 0 && now - clients_[i]->LastActive > options_.IdleLimit)
                CloseClient(i);

        handles.assign({stop_});
        if (waiting_)
            handles.push_back(waiting_->Event);
        for (const auto& c : clients_)
            handles.push_back(c->Event);
        const int timeout = WaitTimeoutMs();
        const DWORD woke = WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE,
                                                  timeout < 0 ? INFINITE : DWORD(timeout));
        if (woke == WAIT_FAILED) {
            error = "waiting for clients failed (error " + std::to_string(GetLastError()) + ")";
            return -1;
        }
        // A stop ends the loop once this round is served.
        const bool stopped = WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0;

        // Every client whose event is set gets its turn, not only the first
        // the wait names, so none is starved by those before it.
        for (std::size_t i = clients_.size(); i-- > 0;) {
            Client& c = *clients_[i];
            if (WaitForSingleObject(c.Event, 0) != WAIT_OBJECT_0)
                continue;
            ResetEvent(c.Event);
            if (!Flush(c) || !Serve(c))
                CloseClient(i);
        }
        if (stopped)
            return 0;
        if (waiting_ && WaitForSingleObject(waiting_->Event, 0) == WAIT_OBJECT_0)
            TakeConnection();
        if (!waiting_) {
            std::string why;
            if (!StartListening(why)) {
                error = why;
                return -1;
            }
        }
    }
}

} // namespace ktv::tools

#include "box/BoxServer.h"

#include "box/BoxExchange.h"
#include "device/platform/PlatformHelpers.h"
#include "device/platform/UnixSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ktv::tools {
namespace {

int OpenSpare() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

} // namespace

BoxServer::BoxServer(VirtualBox& box, Options options)
    : box_(box)
    , options_(std::move(options))
    , fileName_("box-" + options_.Name + ".sock")
    , path_(options_.Dir + "/" + fileName_)
{
}

BoxServer::~BoxServer() { Close(); }

bool BoxServer::Listen(std::string& error)
{
    if (!platform::EnsureVirtualBoxDirectory(options_.Dir, &error))
        return false;
    const std::string temp = options_.Dir + "/.box-" + options_.Name + ".sock." + std::to_string(getpid());
    sockaddr_un addr;
    if (!platform::FillAddress(addr, temp)) {
        error = "socket path too long: " + path_;
        return false;
    }
    struct stat st{};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path_ + " exists and is not a socket";
            return false;
        }
        if (platform::SomeoneListens(path_)) {
            error = "another box is already listening on " + path_ + " (try --name)";
            return false;
        }
        if (Log)
            Log("replacing stale socket " + path_);
    }

    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    unlink(temp.c_str());
    // Bound and listening under a temporary name, then renamed into place: a
    // client that sees the name can connect at once, and a stale socket is
    // replaced in one step.
    if (stopFd_ < 0 || listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_, SOMAXCONN) != 0 || rename(temp.c_str(), path_.c_str()) != 0) {
        error = "cannot listen on " + path_ + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    struct stat ours{};
    lstat(path_.c_str(), &ours);
    inode_ = ours.st_ino;
    device_ = ours.st_dev;
    // Kept open so that, with every descriptor taken, one can be freed to
    // accept and drop a connection instead of polling a listener that stays
    // readable for ever.
    spareFd_ = OpenSpare();
    return true;
}

void BoxServer::Stop()
{
    const std::uint64_t one = 1;
    if (stopFd_ >= 0 && write(stopFd_, &one, sizeof one) < 0) {
        // The counter is already set: Run ends anyway.
    }
}

void BoxServer::Close()
{
    if (spareFd_ >= 0)
        close(spareFd_);
    spareFd_ = -1;
    for (const Client& c : clients_)
        close(c.Fd);
    clients_.clear();
    if (listener_ >= 0) {
        close(listener_);
        listener_ = -1;
        // Only our own socket: a box started after us under the same name keeps its.
        struct stat now{};
        if (lstat(path_.c_str(), &now) == 0 && now.st_ino == inode_ && now.st_dev == device_)
            unlink(path_.c_str());
    }
    if (stopFd_ >= 0)
        close(stopFd_);
    stopFd_ = -1;
}

void BoxServer::CloseClient(std::size_t i)
{
    close(clients_[i].Fd);
    clients_.erase(clients_.begin() + std::ptrdiff_t(i));
}

void BoxServer::AcceptClients()
{
    for (;;) {
        const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c >= 0) {
            clients_.push_back({c, {}, std::chrono::steady_clock::now()});
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EMFILE && errno != ENFILE)
            return;
        // Out of descriptors: the connection idle the longest makes room.
        if (!clients_.empty()) {
            const auto oldest = std::min_element(clients_.begin(), clients_.end(), [](const Client& a, const Client& b) {
                return a.LastActive < b.LastActive;
            });
            CloseClient(std::size_t(oldest - clients_.begin()));
            continue;
        }
        if (spareFd_ < 0)
            return;
        close(spareFd_);
        const int dropped = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (dropped >= 0)
            close(dropped);
        spareFd_ = OpenSpare();
        return;
    }
}

namespace {

// Sends what the client has pending without blocking; false when the
// connection is broken.
bool Flush(int fd, std::deque<std::vector<std::uint8_t>>& pending)
{
    while (!pending.empty()) {
        const std::vector<std::uint8_t>& reply = pending.front();
        const ssize_t n = send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        pending.pop_front();
    }
    return true;
}

} // namespace

bool BoxServer::Serve(Client& c)
{
    for (int round = 0; round < RequestsPerRound; ++round) {
        // One byte more than a report, so a longer datagram shows as one
        // (MSG_TRUNC gives its real length).
        std::uint8_t request[ReportSize + 1] = {};
        const ssize_t n = recv(c.Fd, request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (n == 0) // the client left, or sent an empty datagram
            return false;
        c.LastActive = std::chrono::steady_clock::now();
        const std::size_t size = std::min(std::size_t(n), sizeof request);
        std::vector<std::uint8_t> reply = Exchange(box_, request, size, Log, AfterRequest);
        if (reply.empty())
            continue;
        if (!QueueReply(c.Pending, std::move(reply), Log))
            return false;
        if (!Flush(c.Fd, c.Pending))
            return false;
    }
    return true;
}

int BoxServer::PollTimeoutMs() const
{
    if (clients_.empty() || options_.IdleLimit.count() <= 0)
        return -1;
    auto oldest = clients_.front().LastActive;
    for (const Client& c : clients_)
        oldest = std::min(oldest, c.LastActive);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(oldest + options_.IdleLimit -
                                                                   std::chrono::steady_clock::now());
    return int(std::max<std::int64_t>(left.count(), 0) + 1);
}

int BoxServer::Run(int signalFd, std::string& error)
{
    // The stop, the signals and the listener come first; then the clients.
    constexpr std::size_t First = 3;
    std::vector<pollfd> fds;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = clients_.size(); i-- > 0;)
            if (options_.IdleLimit.count() > 0 && now - clients_[i].LastActive > options_.IdleLimit)
                CloseClient(i);

        fds.assign({{stopFd_, POLLIN, 0}, {signalFd, POLLIN, 0}, {listener_, POLLIN, 0}});
        for (const Client& c : clients_)
            fds.push_back({c.Fd, short(POLLIN | (c.Pending.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), PollTimeoutMs()) < 0) {
            if (errno == EINTR)
                continue;
            error = std::string("poll: ") + std::strerror(errno);
            return -1;
        }
        // A stop or a signal ends the loop once this round is served.
        int ended = -1;
        if (fds[0].revents & POLLIN)
            ended = 0;
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == ssize_t(sizeof info))
                ended = int(info.ssi_signo);
        }

        // Clients polled this round sit at the front in poll order; closing
        // goes backwards so the indices stay valid.
        for (std::size_t i = fds.size() - First; i-- > 0;) {
            const short revents = fds[i + First].revents;
            if (!revents)
                continue;
            Client& c = clients_[i];
            bool keep = true;
            if (revents & POLLIN)
                keep = Serve(c);
            else if (revents & (POLLERR | POLLHUP | POLLNVAL))
                keep = false;
            if (keep && (revents & POLLOUT))
                keep = Flush(c.Fd, c.Pending);
            if (!keep)
                CloseClient(i);
        }
        if (ended >= 0)
            return ended;
        if (fds[2].revents & POLLIN)
            AcceptClients();
    }
}

} // namespace ktv::tools

#pragma once
// The virtual box behind a SOCK_SEQPACKET socket in the virtual-box
// directory, where ktvtune and ktvtune-cli find it like a plugged-in box:
// it takes clients, answers each 65-byte report through the box and logs
// one line per exchange. ktvtune-box runs one; tests run one in-process.

#include "sim/VirtualBox.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ktv::tools {

class BoxServer {
public:
    struct Options {
        std::string Dir;        // the socket directory
        std::string Name = "1"; // listens on box-NAME.sock
        // A connection quiet for this long is closed; zero: never, as a real
        // box keeps its link however long the user reads the screen. Forgotten
        // connections still give way when the descriptors run out.
        std::chrono::milliseconds IdleLimit{0};
    };

    BoxServer(VirtualBox& box, Options options);
    ~BoxServer();
    BoxServer(const BoxServer&) = delete;
    BoxServer& operator=(const BoxServer&) = delete;

    // Each line of the log, without its newline.
    std::function<void(const std::string& line)> Log;
    // After each request, whatever became of it (the box may have changed).
    std::function<void()> AfterRequest;

    // Makes the directory, replaces a stale socket and listens. False with
    // the reason in `error` when another box listens there already or the
    // socket cannot be made.
    [[nodiscard]] bool Listen(std::string& error);
    const std::string& Path() const { return path_; }
    const std::string& FileName() const { return fileName_; }

    // Serves until Stop() is called or a signal arrives on `signalFd` (a
    // signalfd; -1 for none). Returns the signal's number, 0 after Stop(),
    // -1 when polling failed (`error` says why).
    int Run(int signalFd, std::string& error);
    // Ends Run; may be called from any thread.
    void Stop();
    // Closes every connection and removes the socket if it is still ours.
    // Run may not be called after it.
    void Close();

private:
    struct Client {
        int Fd = -1;
        std::deque<std::vector<std::uint8_t>> Pending; // replies not taken yet
        std::chrono::steady_clock::time_point LastActive;
    };

    void CloseClient(std::size_t i);
    void AcceptClients();
    // Takes the client's requests; false when it is to be closed.
    bool Serve(Client& client);
    int PollTimeoutMs() const;

    VirtualBox& box_;
    Options options_;
    std::string fileName_, path_;
    int listener_ = -1;
    int stopFd_ = -1;
    int spareFd_ = -1;
    ino_t inode_ = 0;
    dev_t device_ = 0;
    std::vector<Client> clients_;
};

} // namespace ktv::tools

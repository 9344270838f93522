#pragma once
// Shared test fixtures: a user interface that records what the core shows,
// a fresh image with the in-process virtual box behind the transport, and a
// temporary folder.

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/Gloable.h"
#include "sim/InProcessBox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ktv::test {

class RecordingUi final : public UserInterface {
public:
    struct Event {
        enum Kind { Message, Status, Busy, Sleep, Question } kind;
        std::string text; // message, status text or question
        int value = 0;    // panel, busy flag or milliseconds
    };

    std::vector<Event> events;
    std::vector<std::string> messages;
    std::string status[3];
    std::vector<int> sleeps;
    // Questions asked, each with its answers, and the answers the test
    // scripts: taken from the front, -1 (closed) once none is left.
    std::vector<std::vector<std::string>> questions;
    std::deque<int> answers;
    // Runs while a question is open, before it is answered.
    std::function<void()> whileAsking;
    bool exchangeWarning = false;

    void ShowMessage(std::string_view text) override;
    void SetStatus(StatusPanel panel, std::string_view text) override;
    void SetBusyCursor(bool busy) override;
    void Sleep(int milliseconds) override;
    int Ask(std::string_view question, const std::vector<std::string>& choices) override;
    void SetExchangeWarning(bool on) override { exchangeWarning = on; }
    void Clear();
};

using Bytes = std::vector<std::uint8_t>;

// The core's shared state for one test, undone when it ends: `ui` receives
// what the core shows, the image and the link start empty, and the
// in-process virtual box is opened behind the transport.
class BoxSession {
public:
    explicit BoxSession(UserInterface& ui);
    ~BoxSession();
    BoxSession(const BoxSession&) = delete;
    BoxSession& operator=(const BoxSession&) = delete;

    // Payloads of the valid requests the box received since the last call.
    std::vector<Bytes> TakeRequests();
    // The box fails from the n-th request on (1: the next one).
    void FailFrom(int requestsFromNow, VirtualBox::Fault kind = VirtualBox::Fault::Silent)
    {
        box.Box.Faults = {kind, box.Box.RequestCount + requestsFromNow, std::nullopt};
    }

    InProcessBox box;

private:
    std::size_t seen_ = 0;
};

// Each test starts from a fresh default image, built step tables, a recording
// interface and an opened in-process virtual box.
class CoreFixture : public ::testing::Test {
protected:
    void SetUp() override;

    std::vector<Bytes> TakeRequests() { return session.TakeRequests(); }

    RecordingUi ui;
    BoxSession session{ui};
    InProcessBox& box = session.box;
};

// A fresh folder under /tmp, removed with everything in it at the end.
// Enter makes it the working folder until then; Runtime makes it
// XDG_RUNTIME_DIR, where programs look for virtual boxes.
class TempDir {
public:
    enum Use { Plain = 0, Enter = 1, Runtime = 2 };
    explicit TempDir(int use = Plain);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_; // working folder to return to; empty: none
    bool runtime_ = false;
};

// A well-formed 65-byte report (request or reply) carrying `payload`.
Bytes Frame(const Bytes& payload);

// Whether two bands agree in every field that travels (not the coefficients).
inline bool SameBand(const PeqBand& a, const PeqBand& b)
{
    return a.Flags == b.Flags && a.Fc == b.Fc && a.Q == b.Q && a.Gain == b.Gain;
}

} // namespace ktv::test

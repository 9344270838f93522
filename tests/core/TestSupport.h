#pragma once
// Shared test fixtures: a user interface that records what the core shows,
// and a fresh image with the in-process virtual box behind the transport.

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "device/InProcessBox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
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

// Each test starts from a fresh default image, built step tables, a recording
// interface and an opened in-process virtual box.
class CoreFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Payloads of the valid requests the box received since the last call.
    std::vector<std::vector<std::uint8_t>> TakeRequests();

    RecordingUi ui;
    InProcessBox box;
    std::size_t seen = 0;
};

using Bytes = std::vector<std::uint8_t>;

// A well-formed 65-byte report (request or reply) carrying `payload`.
Bytes Frame(const Bytes& payload);

} // namespace ktv::test

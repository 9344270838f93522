#include "core/TestSupport.h"

#include <algorithm>

#include "dsp/StepTables.h"
#include "params/BoxLink.h"
#include "params/Gloable.h"

namespace ktv::test {

void RecordingUi::ShowMessage(std::string_view text)
{
    events.push_back({Event::Message, std::string(text), 0});
    messages.emplace_back(text);
}

void RecordingUi::SetStatus(StatusPanel panel, std::string_view text)
{
    events.push_back({Event::Status, std::string(text), int(panel)});
    status[int(panel)] = std::string(text);
}

void RecordingUi::SetBusyCursor(bool busy) { events.push_back({Event::Busy, {}, busy ? 1 : 0}); }

void RecordingUi::Sleep(int milliseconds)
{
    events.push_back({Event::Sleep, {}, milliseconds});
    sleeps.push_back(milliseconds);
}

int RecordingUi::Ask(std::string_view question, const std::vector<std::string>& choices)
{
    events.push_back({Event::Question, std::string(question), 0});
    std::vector<std::string> asked{std::string(question)};
    asked.insert(asked.end(), choices.begin(), choices.end());
    questions.push_back(std::move(asked));
    if (whileAsking)
        whileAsking();
    if (answers.empty())
        return -1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingUi::Clear()
{
    events.clear();
    messages.clear();
    questions.clear();
    sleeps.clear();
    for (auto& s : status)
        s.clear();
}

void CoreFixture::SetUp()
{
    SetUserInterface(&ui);
    BuildStepTables();
    DspParams = {};
    LoadDefaults();
    Hid() = HidPro{};
    Link() = BoxLink{};
    Hid().SetPlatform(&box);
    Hid().OpenDevice();
    ASSERT_TRUE(Hid().Opened);
    ui.Clear();
}

void CoreFixture::TearDown()
{
    Hid().CloseDevice();
    Hid().SetPlatform(nullptr);
    SetUserInterface(nullptr);
}

Bytes Frame(const Bytes& payload)
{
    Bytes r(ReportSize, 0);
    r[1] = 0xAA;
    r[2] = 1;
    r[3] = std::uint8_t(payload.size());
    std::copy(payload.begin(), payload.end(), r.begin() + 4);
    r[4 + payload.size()] = Checksum(payload.data(), payload.size());
    return r;
}

std::vector<std::vector<std::uint8_t>> CoreFixture::TakeRequests()
{
    auto all = box.Box.ReceivedPayloads();
    std::vector<std::vector<std::uint8_t>> fresh(all.begin() + std::ptrdiff_t(seen), all.end());
    seen = all.size();
    return fresh;
}

} // namespace ktv::test

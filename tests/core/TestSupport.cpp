#include "core/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

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

BoxSession::BoxSession(UserInterface& ui)
{
    SetUserInterface(&ui);
    DspParams = {};
    Hid() = HidPro{};
    Link() = BoxLink{};
    Hid().SetPlatform(&box);
    Hid().OpenDevice();
}

BoxSession::~BoxSession()
{
    Hid().CloseDevice();
    Hid().SetPlatform(nullptr);
    SetUserInterface(nullptr);
}

std::vector<Bytes> BoxSession::TakeRequests()
{
    auto all = box.Box.ReceivedPayloads();
    std::vector<Bytes> fresh(all.begin() + std::ptrdiff_t(seen_), all.end());
    seen_ = all.size();
    return fresh;
}

void CoreFixture::SetUp()
{
    ASSERT_TRUE(Hid().Opened);
    BuildStepTables();
    LoadDefaults();
    ui.Clear();
}

TempDir::TempDir(int use)
{
#if defined(_WIN32)
    // No mkdtemp: a random name in the system's temporary folder, created
    // only where nothing is yet.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("ktv-test-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error))
            path_ = candidate.string();
    }
    if (path_.empty()) {
        ADD_FAILURE() << "no temporary folder";
        return;
    }
#else
    char base[] = "/tmp/ktv-test-XXXXXX";
    if (!mkdtemp(base)) {
        ADD_FAILURE() << "no temporary folder: " << std::strerror(errno);
        return;
    }
    path_ = base;
#endif
    if (use & Enter) {
        previous_ = std::filesystem::current_path().string();
        std::filesystem::current_path(path_);
    }
    if (use & Runtime) {
        runtime_ = true;
#if defined(_WIN32)
        _putenv_s("XDG_RUNTIME_DIR", path_.c_str());
#else
        setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
#endif
    }
}

TempDir::~TempDir()
{
    if (runtime_)
#if defined(_WIN32)
        _putenv_s("XDG_RUNTIME_DIR", "");
#else
        unsetenv("XDG_RUNTIME_DIR");
#endif
    if (!previous_.empty())
        std::filesystem::current_path(previous_);
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
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

} // namespace ktv::test

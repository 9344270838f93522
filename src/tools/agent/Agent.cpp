#include "Agent.h"

#include "device/HidPro.h"
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "params/ImageDiff.h"
#include "base/UserInterface.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"
#include "protocol/CommandTable.h"
#include "venue/Topics.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <thread>

namespace ktv::agent {

namespace fs = std::filesystem;
using namespace venue;

namespace {

constexpr std::size_t RememberedAnswers = 4096;
constexpr std::size_t MostQueuedPerUser = 256;

// The box's platform, telling the agent of each report before it is written.
class SendingWatch final : public HidPlatform {
public:
    SendingWatch(HidPlatform& inner, std::function<void(const Report&)> sending)
        : inner_(inner), sending_(std::move(sending))
    {
    }
    std::vector<HidInterface> ListInterfaces() override { return inner_.ListInterfaces(); }
    PlatformHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool Write(PlatformHandle handle, const Report& report) override
    {
        sending_(report);
        return inner_.Write(handle, report);
    }
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override
    {
        return inner_.Read(handle, report, bytesRead, timeoutMs);
    }
    void Close(PlatformHandle handle) override { inner_.Close(handle); }
    std::uint32_t LastError() override { return inner_.LastError(); }
    LinkWatch WatchLink(PlatformHandle handle) override { return inner_.WatchLink(handle); }
    bool HungUp(PlatformHandle handle) override { return inner_.HungUp(handle); }

private:
    HidPlatform& inner_;
    std::function<void(const Report&)> sending_;
};

} // namespace

std::string Now()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

Agent::Agent(AgentOptions options, HidPlatform& platform)
    : options_(std::move(options)), platform_(platform), mqtt_(options_.Access, "agent-" + options_.Room)
{
    watched_ = std::make_unique<SendingWatch>(platform_, [this](const Report& report) { Sending(report); });
    since_ = Now();
    LoadLimits();
    LoadInterrupted();
    mqtt_.SetWill(StateTopic(options_.Access.Site, options_.Room), StateJson(false).dump(), true);
    mqtt_.OnConnected = [this] {
        mqtt_.Subscribe(RequestFilter(options_.Access.Site, options_.Room));
        PublishState();
        AnnounceInterrupted();
    };
    mqtt_.OnMessage = [this](const std::string& topic, const std::string& payload, bool) { Receive(topic, payload); };
}

Json Agent::StateJson(bool online) const
{
    std::lock_guard lock(stateMutex_);
    Json j = {{"room", options_.Room}, {"online", online}, {"since", since_}, {"box", boxId_},
              {"boxPresent", online && boxPresent_}, {"agent", options_.Access.User}, {"limits", LimitsJson()},
              {"seen", Now()}};
    if (!lastChange_.is_null())
        j["lastChange"] = lastChange_;
    if (online && !holder_.empty())
        j["tuner"] = {{"user", holder_}, {"since", holdSince_}};
    if (!preset_.empty())
        j["preset"] = preset_;
    if (!interrupted_.is_null())
        j["interrupted"] = InterruptedText();
    return j;
}

void Agent::PublishState()
{
    mqtt_.Publish(StateTopic(options_.Access.Site, options_.Room), StateJson(true).dump(), true);
}

void Agent::Receive(const std::string& topic, const std::string& payload)
{
    // ktv/<site>/<room>/req/<role>/<user>
    const std::string head = RequestFilter(options_.Access.Site, options_.Room);
    const std::string prefix = head.substr(0, head.size() - 1);
    if (!topic.starts_with(prefix))
        return;
    const std::string rest = topic.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return;
    Request r{rest.substr(0, slash), rest.substr(slash + 1), Json::parse(payload, nullptr, false)};
    if (!IsPlainName(r.Role) || !IsPlainName(r.User) || !r.Body.is_object() || !r.Body.contains("id") ||
        !r.Body["id"].is_string() || !IsPlainName(r.Body.value("client", std::string())))
        return; // no one to answer
    std::lock_guard lock(queueMutex_);
    std::deque<Request>& mine = queues_[r.User];
    if (mine.size() >= MostQueuedPerUser)
        return; // a flood: the sender times out, the others are served
    if (mine.empty())
        turn_.push_back(r.User);
    mine.push_back(std::move(r));
    queued_.notify_one();
}

bool Agent::Next(Request& request, int waitMs)
{
    std::unique_lock lock(queueMutex_);
    if (!queued_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return !turn_.empty(); }))
        return false;
    const std::string user = turn_.front();
    turn_.pop_front();
    std::deque<Request>& mine = queues_[user];
    request = std::move(mine.front());
    mine.pop_front();
    if (!mine.empty())
        turn_.push_back(user);
    else
        queues_.erase(user);
    return true;
}

void Agent::Serve(const Request& r)
{
    const std::string id = r.Body["id"];
    const std::string reply = ReplyTopic(options_.Access.Site, options_.Room, r.User, r.Body["client"]);
    // The id is the sender's: the same id from another user is another request.
    const std::string key = r.User + "/" + id;
    if (const auto it = answered_.find(key); it != answered_.end()) {
        mqtt_.Publish(reply, it->second);
        return;
    }
    Json answer = Handle(r);
    answer["id"] = id;
    const std::string text = answer.dump();
    answered_[key] = text;
    answeredOrder_.push_back(key);
    if (answeredOrder_.size() > RememberedAnswers) {
        answered_.erase(answeredOrder_.front());
        answeredOrder_.pop_front();
    }
    mqtt_.Publish(reply, text);
}

Json Agent::Handle(const Request& r)
{
    const std::string op = r.Body.value("op", std::string());
    if (op == "exchange")
        return Exchange(r);
    if (op == "history") {
        if (auto why = WholeRefusal(r.Role, op))
            return {{"refused", *why}};
        return History();
    }
    if (op == "limits") // not the box's settings: no hold needed
        return SetLimits(r);
    if (op == "take-over")
        return TakeOver(r);
    if (op == "release")
        return Release(r);
    if (op == "write" || op == "recall" || op == "restore" || op == "import")
        return Whole(r);
    return {{"refused", "the agent does not know '" + op + "'"}};
}

void Agent::OpenBox()
{
    HidPro& hid = Hid();
    const std::vector<HidInterface> boxes = hid.ListBoxes();
    const HidInterface* box = options_.Device.empty() ? (boxes.empty() ? nullptr : &boxes.front())
                                                      : SelectBox(boxes, options_.Device);
    if (!box)
        return;
    hid.DevicePath = box->Path;
    hid.OpenDevice();
    if (!hid.Opened)
        return;
    {
        std::lock_guard lock(stateMutex_);
        boxPresent_ = true;
        boxId_ = hid.OpenedId;
    }
    std::fprintf(stderr, "ktvtune-agent: room %s: serving %s\n", options_.Room.c_str(), hid.OpenedId.c_str());
    PublishState();
}

void Agent::BoxGone()
{
    Hid().CloseDevice();
    {
        std::lock_guard lock(stateMutex_);
        if (!boxPresent_)
            return;
        boxPresent_ = false;
    }
    std::fprintf(stderr, "ktvtune-agent: room %s: box gone\n", options_.Room.c_str());
    PublishState();
}

void Agent::CheckBox()
{
    HidPro& hid = Hid();
    if (!hid.Opened) {
        OpenBox();
        return;
    }
    const LinkWatch watch = platform_.WatchLink(hid.Handle);
    if (watch == NoLinkWatch)
        return;
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && platform_.HungUp(hid.Handle))
        BoxGone();
}

Json Agent::Exchange(const Request& r)
{
    Report report{};
    if (!FromHex(r.Body.value("report", std::string()), report, ReportSize))
        return {{"refused", "the request carries no report"}};
    if (auto why = Refusal(r.Role, report, limits_))
        return {{"refused", *why}};
    // The room stays in use while it is tuned: staff still set its volumes.
    const bool volume = report[FramePayloadAt] == Code(DspCommand::MasterVolume) && r.Role == "staff";
    if (!OnlyReads(report) && !volume)
        if (auto why = HoldRefusal(r))
            return {{"refused", *why}};
    HidPro& hid = Hid();
    if (!hid.Opened) {
        CheckBox();
        if (!hid.Opened)
            return {{"written", false}, {"error", PlatformError::NotConnected}, {"gone", true}};
    }
    // Answers left over from a request whose reader gave up belong to no one.
    Report junk;
    std::size_t n = 0;
    for (int i = 0; i < 64 && platform_.Read(hid.Handle, junk, n, 0); ++i) {
    }
    if (!platform_.Write(hid.Handle, report)) {
        const std::uint32_t error = platform_.LastError();
        if (error == PlatformError::NotConnected || platform_.HungUp(hid.Handle))
            BoxGone();
        return {{"written", false}, {"error", error}};
    }
    if (!OnlyReads(report))
        Changed(r, CommandName(report[FramePayloadAt]));
    Report reply{};
    std::size_t read = 0;
    if (!platform_.Read(hid.Handle, reply, read, ReadTimeoutMs)) {
        const std::uint32_t error = platform_.LastError();
        if (error == PlatformError::NotConnected)
            BoxGone();
        return {{"written", true}, {"error", error}};
    }
    return {{"written", true}, {"report", Hex(reply, ReportSize)}, {"read", read}};
}

void Agent::Changed(const Request& r, const std::string& what)
{
    Json change = {{"user", r.User}, {"role", r.Role}, {"client", r.Body.value("client", std::string())},
                   {"when", Now()}, {"what", what}};
    {
        std::lock_guard lock(stateMutex_);
        lastChange_ = change;
    }
    mqtt_.Publish(AuditTopic(options_.Access.Site, options_.Room), change.dump());
    PublishState();
}

namespace {

// What the core shows while the agent carries out a whole change, kept in
// order so that the asking client shows the same texts as over USB.
class CapturingUi final : public UserInterface {
public:
    Json Events = Json::array();
    void ShowMessage(std::string_view text) override { Events.push_back({{"message", std::string(text)}}); }
    void SetStatus(StatusPanel panel, std::string_view text) override
    {
        Events.push_back({{"status", std::string(text)}, {"panel", int(panel)}});
    }
    void SetBusyCursor(bool) override {}
    void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void Say(const std::string& text) { Events.push_back({{"say", text}}); }
};

} // namespace

bool Agent::SaveState(const std::string& after, const Request& r, std::string* why)
{
    BoxJournal journal(boxId_, options_.DataDir + "/journal");
    if (!journal.Save(after + " by " + r.User, why))
        return false;
    const std::vector<JournalEntry> entries = journal.List();
    savedFile_ = entries.empty() ? std::string() : fs::path(entries.front().Path).filename().string();
    return true;
}

void Agent::RecordChange(const Request& r, const std::string& what)
{
    // The journal file names the state; this names who changed it, from
    // where, and what changed.
    Json record = {{"file", savedFile_}, {"user", r.User}, {"role", r.Role},
                   {"client", r.Body.value("client", std::string())}, {"time", Now()}, {"what", what}};
    std::ofstream(options_.DataDir + "/changes.jsonl", std::ios::app) << record.dump() << "\n";
    savedFile_.clear();
}

namespace {

std::string UnderwayFile(const std::string& dataDir) { return dataDir + "/underway.json"; }
std::string InterruptedFile(const std::string& dataDir) { return dataDir + "/interrupted.json"; }

// Replaced whole or not at all: an agent killed while writing it leaves the
// mark from before.
void WriteMark(const std::string& path, const Json& mark)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << mark.dump() << "\n";
        if (!out.flush())
            return;
    }
    fs::rename(temp, path, ec);
}

} // namespace

void Agent::BeginWhole(const Request& r, const std::string& step)
{
    underway_ = {{"what", step}, {"user", r.User}, {"role", r.Role}, {"client", r.Body.value("client", std::string())},
                 {"time", Now()}, {"box", boxId_}, {"stage", "reading"}};
    WriteMark(UnderwayFile(options_.DataDir), underway_);
}

void Agent::WholeWriting(bool read)
{
    underway_["stage"] = "writing";
    underway_["file"] = savedFile_;
    WriteMark(UnderwayFile(options_.DataDir), underway_);
    if (!read)
        return;
    // The box's state was read again: a change left unfinished earlier is
    // now part of that state, journalled before this one.
    std::error_code ec;
    fs::remove(InterruptedFile(options_.DataDir), ec);
    std::lock_guard lock(stateMutex_);
    interrupted_ = nullptr;
}

void Agent::Sending(const Report& report)
{
    if (!underway_.is_object() || underway_.value("stage", std::string()) != "writing" || OnlyReads(report))
        return;
    const char* name = CommandName(report[FramePayloadAt]);
    underway_["sent"].push_back(name ? std::string(name) : Hex(&report[FramePayloadAt], 1));
    WriteMark(UnderwayFile(options_.DataDir), underway_);
}

void Agent::EndWhole()
{
    std::error_code ec;
    fs::remove(UnderwayFile(options_.DataDir), ec);
    underway_ = nullptr;
}

void Agent::LoadInterrupted()
{
    // A mark still there at start-up is a change the last agent did not finish.
    std::error_code ec;
    if (fs::exists(UnderwayFile(options_.DataDir), ec))
        fs::rename(UnderwayFile(options_.DataDir), InterruptedFile(options_.DataDir), ec);
    std::ifstream in(InterruptedFile(options_.DataDir));
    const Json mark = Json::parse(in, nullptr, false);
    if (mark.is_object())
        interrupted_ = mark;
}

std::string Agent::InterruptedText() const
{
    const Json& m = interrupted_;
    const std::string head =
        m.value("what", std::string()) + " by " + m.value("user", std::string()) + " at " + m.value("time", std::string()) +
        " interrupted";
    const Json sent = m.value("sent", Json::array());
    if (m.value("stage", std::string()) != "writing" || !sent.is_array() || sent.empty())
        return head + " before it changed the box";
    const std::string file = m.value("file", std::string());
    std::size_t n = 0;
    if (!file.empty()) {
        const std::vector<JournalEntry> entries =
            BoxJournal(m.value("box", std::string()), options_.DataDir + "/journal").List();
        for (std::size_t i = 0; i < entries.size() && n == 0; ++i)
            if (fs::path(entries[i].Path).filename().string() == file)
                n = i + 1;
    }
    std::string names;
    for (const Json& name : sent)
        names += (names.empty() ? "" : ", ") + (name.is_string() ? name.get<std::string>() : std::string("?"));
    return head + ": the box may hold part of it; " +
           (n ? "the state before is journal entry " + std::to_string(n) : std::string("its state before was not saved")) +
           "; sent to the box before the agent stopped: " + names;
}

void Agent::AnnounceInterrupted()
{
    Json change;
    {
        std::lock_guard lock(stateMutex_);
        if (interrupted_.is_null() || announced_)
            return;
        announced_ = true;
        change = {{"user", interrupted_.value("user", std::string())}, {"role", interrupted_.value("role", std::string())},
                  {"client", interrupted_.value("client", std::string())}, {"when", Now()},
                  {"what", InterruptedText()}, {"interrupted", true}};
    }
    mqtt_.Publish(AuditTopic(options_.Access.Site, options_.Room), change.dump());
}

Json Agent::Whole(const Request& r)
{
    const std::string op = r.Body.value("op", std::string());
    if (auto why = WholeRefusal(r.Role, op))
        return {{"refused", *why}};
    if (auto why = HoldRefusal(r))
        return {{"refused", *why}};
    HidPro& hid = Hid();
    if (!hid.Opened)
        CheckBox();
    if (!hid.Opened)
        return {{"written", false}, {"gone", true}, {"error", PlatformError::NotConnected}};

    // What the step needs is checked before anything reaches the box.
    DapBytes preset{};
    DspParamsImage saved{};
    std::uint8_t slot = 0;
    std::optional<BandGroup> group; // an import's channel
    std::string step = op;
    if (op == "write") {
        const auto bytes = HexBytes(r.Body.value("dap", std::string()));
        if (!bytes || bytes->size() != preset.size())
            return {{"refused", "the request carries no preset"}};
        std::copy(bytes->begin(), bytes->end(), preset.begin());
        LoadDefaults();
        if (!ApplyDap(preset.data(), preset.size()))
            return {{"refused", "the preset is not valid"}};
    } else if (op == "import") {
        // The client has put the filter file onto the channel's bands; only that
        // channel's band run goes to the box, the rest of the image is the box's.
        const std::string channel = r.Body.value("channel", std::string());
        for (int c = 0; c < EqChannelCount; ++c)
            if (channel == EqChannelName(EqChannel(c)))
                group = GroupOf(EqChannel(c));
        if (!group)
            return {{"refused", "the request names no channel"}};
        const auto bytes = HexBytes(r.Body.value("dap", std::string()));
        if (!bytes || bytes->size() != preset.size())
            return {{"refused", "the request carries no bands"}};
        std::copy(bytes->begin(), bytes->end(), preset.begin());
        LoadDefaults();
        if (!ApplyDapWhole(preset.data(), preset.size()))
            return {{"refused", "the bands are not valid"}};
        saved = DspParams;
        step = "import " + channel;
    } else if (op == "recall") {
        const int n = r.Body.value("slot", 0);
        if (n < 1 || n > SlotCount)
            return {{"refused", "the slot must be 1..8"}};
        slot = std::uint8_t(n);
        step = "recall " + std::to_string(n);
    } else if (op == "restore") {
        const std::size_t n = r.Body.value("n", std::size_t(0));
        const std::vector<JournalEntry> entries = BoxJournal(boxId_, options_.DataDir + "/journal").List();
        if (n < 1 || n > entries.size())
            return {{"say", "the box has " + std::to_string(entries.size()) + " saved states, no " + std::to_string(n)},
                    {"status", 2}};
        DapBytes bytes{};
        LoadDefaults();
        if (LoadDapFile(entries[n - 1].Path, bytes) != DapReadError::None || !ApplyDapWhole(bytes.data(), bytes.size()))
            return {{"say", entries[n - 1].Path + ": not a valid preset"}, {"status", 2}};
        saved = DspParams;
    } else {
        return {{"refused", "the agent does not know '" + op + "'"}};
    }

    CapturingUi ui;
    UserInterface* before = SetUserInterface(&ui);
    int status = 0;
    Json extra;
    // As the USB commands do: Link on, the work, Link off.
    hid.Linked = SendLink(1);
    if (!hid.Linked) {
        ui.SetStatus(StatusPanel::Connection, "Connect:no!");
        status = 1;
    } else {
        ui.SetStatus(StatusPanel::Connection, "Connect:ok!");
        BeginWhole(r, step);
        LoadDefaults();
        const bool read = ReadAllFromDevice();
        std::string why;
        const DspParamsImage was = DspParams;
        if (!read && op == "write") {
            ui.Say("the box could not be read, so nothing was written to it");
            ui.ShowMessage("Read dsp fault!");
            status = 1;
        } else {
            if (!read)
                ui.Say("the box's state was not saved: it could not be read");
            else if (!SaveState(step, r, &why))
                ui.Say("the box's state was not saved: " + why);
            WholeWriting(read);
            bool ok = false;
            if (op == "write") {
                (void)ApplyDap(preset.data(), preset.size());
                ok = WriteAllToDevice();
                ui.ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
            } else if (op == "restore") {
                DspParams = saved;
                ok = WriteAllToDevice();
                ui.ShowMessage(ok ? "Write dsp ok!" : "Write dsp fault!");
            } else if (op == "import") {
                // As over USB: the channel's bands, a request per run of them, no message box.
                for (int k = group->FirstBand; k < group->FirstBand + group->BandCount; ++k)
                    DspParams.Band[std::size_t(k)] = saved.Band[std::size_t(k)];
                ok = SendBandRun(std::uint8_t(group->FirstBand), std::uint8_t(group->BandCount));
            } else {
                ok = RecallSlot(slot) == SlotOutcome::Ok;
                ui.ShowMessage(ok ? "Reset factory mode Ok!" : "Reset factory mode fault!");
                if (ok) {
                    const DapBytes image = EncodeDap();
                    extra["dap"] = Hex(image.data(), image.size());
                }
            }
            status = ok ? 0 : 1;
            if (ok || read) {
                const std::string diff = read ? DescribeChange(was, DspParams) : std::string();
                RecordChange(r, step + (diff.empty() ? "" : ": " + diff));
                Changed(r, step + (diff.empty() ? "" : ": " + diff));
                if (ok && op == "write") {
                    std::lock_guard lock(stateMutex_);
                    preset_ = r.Body.value("name", std::string());
                }
            }
        }
        EndWhole();
        (void)SendLink(0);
        hid.Linked = false;
    }
    SetUserInterface(before);
    if (hid.DeviceGone())
        BoxGone();
    Json answer = {{"events", ui.Events}, {"status", status}};
    for (auto& [key, value] : extra.items())
        answer[key] = value;
    PublishState();
    return answer;
}

std::optional<std::string> Agent::HoldRefusal(const Request& r)
{
    CheckHold();
    std::lock_guard lock(stateMutex_);
    if (!holder_.empty() && holder_ != r.User)
        return "room " + options_.Room + " is being tuned by " + holder_ + " since " + holdSince_ +
               " (a technician may take it over: 'venue take-over')";
    if (r.Role == "technician") {
        if (holder_.empty())
            holdSince_ = Now();
        holder_ = r.User;
        holdLast_ = std::chrono::steady_clock::now();
    }
    return std::nullopt;
}

void Agent::CheckHold()
{
    {
        std::lock_guard lock(stateMutex_);
        if (holder_.empty() || std::chrono::steady_clock::now() - holdLast_ < options_.HoldIdle)
            return;
        holder_.clear();
    }
    PublishState();
}

Json Agent::TakeOver(const Request& r)
{
    if (r.Role != "technician")
        return {{"refused", "only a technician takes over a room"}};
    CheckHold();
    std::string from;
    {
        std::lock_guard lock(stateMutex_);
        from = holder_;
        holder_ = r.User;
        holdSince_ = Now();
        holdLast_ = std::chrono::steady_clock::now();
    }
    const std::string what = from.empty() || from == r.User ? "took the room" : "took the room over from " + from;
    RecordChange(r, what);
    Changed(r, what);
    return {{"status", 0}, {"from", from}};
}

Json Agent::Release(const Request& r)
{
    {
        std::lock_guard lock(stateMutex_);
        if (holder_ != r.User)
            return {{"refused", holder_.empty() ? "nobody holds room " + options_.Room
                                                : "room " + options_.Room + " is held by " + holder_}};
        holder_.clear();
    }
    PublishState();
    return {{"status", 0}};
}

Json Agent::SetLimits(const Request& r)
{
    if (r.Role != "technician")
        return {{"refused", "only a technician sets the staff's volume limits"}};
    VolumeLimits l = limits_;
    for (auto [key, field] : {std::pair{"mic", &l.Mic}, {"music", &l.Music}, {"effect", &l.Effect}}) {
        if (!r.Body.contains(key))
            continue;
        const int v = r.Body.value(key, -1);
        if (v < 0 || v > 255)
            return {{"refused", std::string("the ") + key + " limit must be 0..255"}};
        *field = std::uint8_t(v);
    }
    limits_ = l;
    std::error_code ec;
    fs::create_directories(options_.DataDir, ec);
    std::ofstream(options_.DataDir + "/limits.json") << LimitsJson().dump() << "\n";
    Changed(r, "staff volume limits");
    return {{"limits", LimitsJson()}, {"status", 0}};
}

Json Agent::LimitsJson() const { return {{"mic", limits_.Mic}, {"music", limits_.Music}, {"effect", limits_.Effect}}; }

void Agent::LoadLimits()
{
    std::ifstream in(options_.DataDir + "/limits.json");
    const Json j = Json::parse(in, nullptr, false);
    if (!j.is_object())
        return;
    limits_.Mic = std::uint8_t(j.value("mic", 255));
    limits_.Music = std::uint8_t(j.value("music", 255));
    limits_.Effect = std::uint8_t(j.value("effect", 255));
}

Json Agent::History()
{
    // Who made each change, from the agent's own record of them.
    std::map<std::string, Json> who;
    std::ifstream in(options_.DataDir + "/changes.jsonl");
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line, nullptr, false);
        if (j.is_object())
            who[j.value("file", std::string())] = j;
    }
    Json entries = Json::array();
    for (const JournalEntry& e : BoxJournal(boxId_, options_.DataDir + "/journal").List()) {
        const Json& w = who[fs::path(e.Path).filename().string()];
        entries.push_back({{"time", e.Time}, {"after", w.is_object() ? w.value("what", e.After) : e.After},
                           {"user", w.is_object() ? w.value("user", "") : ""},
                           {"client", w.is_object() ? w.value("client", "") : ""}});
    }
    Json answer = {{"entries", entries}, {"box", boxId_}, {"status", 0}};
    std::lock_guard lock(stateMutex_);
    if (!interrupted_.is_null())
        answer["interrupted"] = InterruptedText();
    return answer;
}

int Agent::Run(const std::atomic<bool>& stop)
{
    Hid().SetPlatform(watched_.get());
    OpenBox();
    if (!Hid().Opened)
        std::fprintf(stderr, "ktvtune-agent: room %s: no box yet; waiting for one\n", options_.Room.c_str());
    std::string why;
    if (!mqtt_.Start(&why)) {
        std::fprintf(stderr, "ktvtune-agent: %s\n", why.c_str());
        return 1;
    }
    if (!mqtt_.WaitConnected(RemoteTimeoutMs, &why))
        std::fprintf(stderr, "ktvtune-agent: %s; trying again\n", why.c_str());
    else
        std::fprintf(stderr, "ktvtune-agent: room %s: online\n", options_.Room.c_str());
    auto lastCheck = std::chrono::steady_clock::now(), lastSeen = lastCheck;
    while (!stop) {
        Request r;
        if (Next(r, 200))
            Serve(r);
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck > std::chrono::milliseconds(500)) {
            CheckBox();
            CheckHold();
            lastCheck = now;
        }
        // The state says when the agent was last seen: once it is offline,
        // that is about when it went.
        if (now - lastSeen > std::chrono::seconds(30)) {
            PublishState();
            lastSeen = now;
        }
    }
    // A clean stop says offline itself (and since when); the last will is for a dead agent.
    {
        std::lock_guard lock(stateMutex_);
        since_ = Now();
    }
    mqtt_.Publish(StateTopic(options_.Access.Site, options_.Room), StateJson(false).dump(), true);
    mqtt_.Flush(2000);
    mqtt_.Stop();
    if (Hid().Opened)
        Hid().CloseDevice();
    return 0;
}

} // namespace ktv::agent

// ktvtune-cli's commands run in the test's own process, each over virtual
// boxes that live here too: what a command prints, its exit status, the
// requests each box received (in the lines ktvtune-box would log) and the
// files written. CliBoxE2eTest keeps the cases that need the real programs.

#include "CliTestSupport.h"
#include "Cli.h"
#include "common/ToolText.h"
#include "core/TestSupport.h"
#include "device/HidPro.h"
#include "device/platform/PlatformHelpers.h"
#include "dsp/Filter.h"
#include "dsp/StepTables.h"
#include "Command.h"
#include "interop/FilterDialects.h"
#include "interop/FilterImport.h"
#include "interop/FilterText.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"
#include "sim/InProcessBox.h"
#include "sim/VirtualBox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ktv {
namespace {

namespace fs = std::filesystem;

// Boxes side by side under the paths and identifiers ktvtune-box would give
// them, listed in path order as the sockets are; one link at a time.
class BoxShelf final : public HidPlatform {
public:
    std::map<std::string, std::unique_ptr<InProcessBox>> Boxes; // by path

    std::vector<HidInterface> ListInterfaces() override
    {
        std::vector<HidInterface> list;
        for (const auto& [path, box] : Boxes)
            for (HidInterface& i : box->ListInterfaces())
                list.push_back(std::move(i));
        return list;
    }
    PlatformHandle Open(const std::string& path) override
    {
        const auto it = Boxes.find(path);
        current_ = it == Boxes.end() ? nullptr : it->second.get();
        return current_ ? current_->Open(path) : InvalidHandle;
    }
    bool Write(PlatformHandle handle, const Report& report) override
    {
        return current_ && current_->Write(handle, report);
    }
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override
    {
        bytesRead = 0;
        return current_ && current_->Read(handle, report, bytesRead, timeoutMs);
    }
    void Close(PlatformHandle handle) override
    {
        if (current_)
            current_->Close(handle);
    }
    std::uint32_t LastError() override { return current_ ? current_->LastError() : PlatformError::NotConnected; }
    void Remove(const std::string& path)
    {
        if (current_ == Boxes[path].get())
            current_ = nullptr;
        Boxes.erase(path);
    }

private:
    InProcessBox* current_ = nullptr;
};

// The same calls as the process-level fixture, with the boxes and the
// command in this process.
class CliInProcess : public ::testing::Test {
protected:
    // The boxes' saved states go to the test's own folder, not the user's.
    void SetUp() override { setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1); }
    void TearDown() override { Hid().SetPlatform(nullptr); }

    // A box as ktvtune-box ARGS would start it: --state, --fault, --from, --only.
    void StartBox(const std::vector<std::string>& args = {}) { StartOtherBox("1", args); }
    void StartOtherBox(const std::string& name, const std::vector<std::string>& args = {})
    {
        auto box = std::make_unique<InProcessBox>();
        box->Path = PathOf(name);
        box->InstanceId = "VIRTUAL\\VID_2B5E&PID_61D3\\box-" + name + ".sock";
        VirtualBox::FaultPlan& faults = box->Box.Faults;
        for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
            const std::string& option = args[i];
            const std::string& value = args[i + 1];
            if (option == "--state" && fs::exists(value))
                ASSERT_TRUE(box->Box.LoadState(ReadBytes(value))) << value;
            else if (option == "--state")
                continue;
            else if (option == "--fault" && VirtualBox::FaultByName(value))
                faults.Kind = *VirtualBox::FaultByName(value);
            else if (option == "--from")
                faults.FromRequest = std::stoi(value);
            else if (option == "--only" && tools::ParseCommand(value))
                faults.OnlyCommand = tools::ParseCommand(value);
            else
                FAIL() << "no such box option here: " << option << " " << value;
        }
        shelf.Boxes[box->Path] = std::move(box);
    }
    void StopBox() { shelf.Remove(socketPath); }

    CliRun Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), "ktvtune-cli");
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        DspParams = {}; // as a fresh process starts
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        cli::Context cx(out, err, shelf);
        const auto start = Clock::now();
        CliRun run;
        run.Status = cli::RunCommandLine(cx, int(argv.size()), argv.data());
        run.Took = Clock::now() - start;
        run.Out = Slurp(out);
        run.Err = Slurp(err);
        return run;
    }

    // The box's log as ktvtune-box writes it, one line per request.
    std::string LogOf(const std::string& name)
    {
        const auto it = shelf.Boxes.find(PathOf(name));
        if (it == shelf.Boxes.end())
            return "";
        std::string log;
        int n = 0;
        for (const VirtualBox::Exchange& e : it->second->Box.Log)
            log += "inproc #" + std::to_string(++n) + " " + tools::DescribeRequest(e.Request.data(), e.Request.size()) +
                   " | " + VirtualBox::Describe(e) + "\n";
        return log;
    }
    std::string BoxLog() { return LogOf("1"); }
    std::vector<Bytes> Requests() { return LoggedRequests(BoxLog()); }
    std::vector<Bytes> RequestsOf(const std::string& name) { return LoggedRequests(LogOf(name)); }
    std::string File(const std::string& name) { return runtime.File(name); }
    std::string PathOf(const std::string& name) { return dir + "/box-" + name + ".sock"; }

    static std::string Slurp(std::FILE* f)
    {
        std::string text;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;)
            text += char(c);
        std::fclose(f);
        return text;
    }

    test::TempDir runtime{test::TempDir::Runtime};
    const std::string root = runtime.Path();
    const std::string dir = platform::VirtualBoxDirectory(root.c_str(), 0);
    const std::string socketPath = dir + "/box-1.sock";
    BoxShelf shelf;
};

TEST_F(CliInProcess, DefaultBandsReachTheBoxAsTheyAreShown)
{
    // Every default band has Q 0.7 (0.7f lies just below 0.7): the box's log
    // shows Q0.7 for all 39, and reading the box back into a file gives the
    // very bytes that went in.
    StartBox();
    LoadDefaults();
    ASSERT_TRUE(WriteDapFile(File("defaults.dap")));
    const CliRun run = Cli({"write", File("defaults.dap")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string log = BoxLog();
    std::size_t shown = 0;
    for (std::size_t at = log.find(" Q0.7 "); at != std::string::npos; at = log.find(" Q0.7 ", at + 1))
        ++shown;
    EXPECT_EQ(shown, std::size_t(BandTotal)) << log;
    EXPECT_EQ(log.find(" Q0.6 "), std::string::npos) << log;
    ASSERT_EQ(Cli({"read", "-o", File("back.dap")}).Status, 0);
    EXPECT_EQ(ReadText(File("back.dap")), ReadText(File("defaults.dap")));
}

TEST_F(CliInProcess, ReadWritesTheBoxStateAsDap)
{
    // A box whose settings differ from the defaults everywhere.
    VirtualBox box;
    auto& s = box.Current;
    s.System[1] = 33;  // MicVol
    s.System[4] = 0x05; // Mute
    s.System[10] = 0x34; // Delay[0]
    s.System[22] = 0xFE; // Pitch -2
    s.System[27] = 88;  // MaxVol[0]
    s.System[44] = 0x83; // OutMix[0].MicVol
    s.Effects[1] = 0x9C; // Dyn[0].Threshold
    s.Effects[40] = 7;   // reverb byte
    s.Effects[57] = 9;   // echo byte
    for (int k = 0; k < BandTotal; ++k) {
        std::uint8_t* r = &s.Bands[BandRecordSize * std::size_t(k)];
        r[0] = std::uint8_t(0x80 | (k % 7));
        PutU32(r + 1, std::uint32_t(12340 + 10 * k)); // whole Hz, exact through float
        PutU16(r + 5, 20);                            // Q 2.0
        PutU16(r + 7, std::uint16_t(std::int16_t(-35)));
    }
    WriteBytes(File("state.bin"), box.SaveState());
    StartBox({"--state", File("state.bin")});

    const CliRun run = Cli({"read", "-o", File("read.dap")});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Err.find("Read dsp ok!"), std::string::npos) << run.Err;

    LoadDefaults();
    DecodeSystemReply(s.System.data());
    DecodeEffectsReply(s.Effects.data());
    for (int k = 0; k < BandTotal; ++k)
        DecodeBandRecord(&s.Bands[BandRecordSize * std::size_t(k)], DspParams.Band[std::size_t(k)]);
    const DapBytes expected = EncodeDap();
    const Bytes file = ReadBytes(File("read.dap"));
    ASSERT_EQ(file.size(), DapFileSize);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), expected.begin()));
    // The band records and the effects block travel byte for byte.
    EXPECT_TRUE(std::equal(s.Bands.begin(), s.Bands.end(), file.begin() + 112));
    EXPECT_TRUE(std::equal(s.Effects.begin() + 1, s.Effects.end(), file.begin() + 55));
    EXPECT_EQ(file[1], 33);
    EXPECT_EQ(file[17], 0xFE);

    const std::vector<Bytes> requests = Requests();
    ASSERT_EQ(requests.size(), 11u) << BoxLog();
    EXPECT_EQ(PayloadOf(requests.front()), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(requests.back()), (Bytes{0x2A, 0}));
    const std::vector<Bytes> reads = {{0x81}, {0x82}, {0xA0, 0, 6}, {0xA0, 6, 6}, {0xA0, 12, 6},
                                      {0xA0, 18, 6}, {0xA0, 24, 6}, {0xA0, 30, 6}, {0xA0, 36, 3}};
    for (std::size_t i = 0; i < reads.size(); ++i)
        EXPECT_EQ(PayloadOf(requests[1 + i]), reads[i]);

    // A file that cannot be written is a bad file, found out before the
    // box is read (or, for recall, changed): nothing reaches the box.
    const std::pair<std::string, std::string> unwritable[] = {
        {File("no-such-dir/read.dap"), "no file can be created in its folder"},
        {root, "it is a directory"},
    };
    for (const auto& [path, why] : unwritable)
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"read", "-o", path}, {"recall", "2", "-o", path}}) {
            SCOPED_TRACE(args[0] + " " + path);
            const CliRun run = Cli(args);
            EXPECT_EQ(run.Status, 2);
            EXPECT_EQ(run.Err, "ktvtune-cli: cannot write " + path + ": " + why + "\n");
            EXPECT_EQ(Requests().size(), 11u) << BoxLog();
        }
    EXPECT_FALSE(fs::exists(File("no-such-dir")));
}

// What a command says on stderr is what happened: a read sends requests but
// writes nothing, so "Write:ok!" (the window's text for a request sent)
// comes only with --verbose, where every exchange is told.
TEST_F(CliInProcess, StatusTextsSayOnlyWhatHappened)
{
    StartBox();
    const std::string preset = WritePreset(File("a.dap"), 1);
    struct Case {
        std::vector<std::string> Args;
        std::string Err;
    };
    const Case cases[] = {
        {{"dump", "--box"}, "Connect:ok!\n"},
        {{"read", "-o", File("r.dap")}, "Connect:ok!\nRead dsp ok!\n"},
        {{"write", preset}, "Connect:ok!\nWrite dsp ok!\n"},
        {{"store", "2"}, "Connect:ok!\nSet factory mode ok!\n"},
        {{"recall", "2"}, "Connect:ok!\nReset factory mode Ok!\n"},
        {{"history"}, ""},
        {{"restore", "1"}, "Connect:ok!\nWrite dsp ok!\n"},
        {{"dump", "--box", "-q"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args[0]);
        const CliRun run = Cli(c.Args);
        EXPECT_EQ(run.Status, 0);
        EXPECT_EQ(run.Err, c.Err);
    }

    // The link's exchanges each say both; the nine reads of the state
    // each say the request went out.
    const std::string exchange = "Write:ok!\nRead:Ok!\n";
    std::string reads;
    for (int i = 0; i < 9; ++i)
        reads += "Write:ok!\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--verbose", "dump", "--box"}, {"dump", "--box", "-v"}}) {
        const CliRun verbose = Cli(args);
        EXPECT_EQ(verbose.Status, 0);
        EXPECT_EQ(verbose.Err, exchange + "Connect:ok!\n" + reads + exchange);
    }
    const CliRun both = Cli({"-q", "dump", "--box", "--verbose"});
    EXPECT_EQ(both.Status, 2);
    EXPECT_EQ(both.Err.substr(0, both.Err.find('\n') + 1), "ktvtune-cli: --quiet and --verbose exclude each other\n");
}

// restore checks its number against the box's history before it opens the
// box: a number beyond it sends nothing.
TEST_F(CliInProcess, RestoreChecksTheNumberBeforeTheBoxIsOpened)
{
    StartBox();
    const CliRun none = Cli({"restore", "1"});
    EXPECT_EQ(none.Status, 2);
    EXPECT_EQ(none.Err, "ktvtune-cli: the box has 0 saved states, no 1\n");
    EXPECT_TRUE(Requests().empty()) << BoxLog();

    ASSERT_EQ(Cli({"write", WritePreset(File("a.dap"), 2)}).Status, 0);
    const std::size_t sent = Requests().size();
    const CliRun beyond = Cli({"--device", "1", "restore", "2"});
    EXPECT_EQ(beyond.Status, 2);
    EXPECT_EQ(beyond.Err, "ktvtune-cli: the box has 1 saved states, no 2\n");
    EXPECT_EQ(Requests().size(), sent) << BoxLog();

    // The one saved state (the defaults, before the write) goes back.
    const CliRun restore = Cli({"restore", "1"});
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    const std::vector<Bytes> requests = Requests();
    ASSERT_EQ(requests.size(), sent + 20) << BoxLog(); // link, nine reads, nine writes, link
}


TEST_F(CliInProcess, EachMisbehaviourEndsInAClearFailure)
{
    const std::string preset = WritePreset(File("a.dap"), 0);
    const std::vector<std::string> readArgs = {"read", "-o", File("out.dap")};
    struct Case {
        std::vector<std::string> BoxArgs;
        std::vector<std::string> CliArgs;
        const char* Expected; // on stderr
    };
    const Case cases[] = {
        {{"--fault", "silent", "--from", "2"}, readArgs, "ReadFile:error!1460"},
        {{"--fault", "bad-checksum", "--from", "2"}, readArgs, "CheckSum:error!64"},
        {{"--fault", "wrong-address", "--from", "2"}, readArgs, "Read dsp fault!"},
        {{"--fault", "short-report", "--from", "2"}, readArgs, "Read dsp fault!"},
        {{"--fault", "wrong-length", "--from", "2"}, readArgs, "Read dsp fault!"},
        {{"--fault", "wrong-reply-code", "--only", "ReadEffects"}, readArgs, "Read dsp fault!"},
        {{"--fault", "foreign-band-run", "--only", "ReadPeqBands"}, readArgs, "Read dsp fault!"},
        {{"--fault", "foreign-band-count", "--only", "ReadPeqBands"}, readArgs, "Read dsp fault!"},
        {{"--fault", "silent", "--only", "Link"}, readArgs, "Connect:no!"},
        {{"--fault", "silent", "--from", "4"}, {"write", preset}, "could not be read, so nothing was written"},
        {{"--fault", "silent", "--from", "13"}, {"write", preset}, "Write dsp fault!"},
        {{"--fault", "bad-checksum", "--only", "FactoryMode"}, {"store", "2"}, "Set factory mode fault!"},
        {{"--fault", "silent", "--only", "FactoryMode"}, {"recall", "2"}, "Reset factory mode fault!"},
        {{"--fault", "wrong-address", "--only", "ReadSystem"}, {"recall", "2"}, "Reset factory mode fault!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.BoxArgs[1] + " " + c.BoxArgs[2] + " " + c.BoxArgs[3] + " / " + c.CliArgs[0]);
        StartBox(c.BoxArgs);
        const CliRun run = Cli(c.CliArgs);
        EXPECT_EQ(run.Status, 1) << run.Err;
        EXPECT_NE(run.Err.find(c.Expected), std::string::npos) << run.Err;
        EXPECT_FALSE(fs::exists(File("out.dap")));
        StopBox();
    }
}

TEST_F(CliInProcess, BadFilesAndUsageAreRefusedBeforeAnythingIsSent)
{
    StartBox();
    Bytes damaged(ReadBytes(WritePreset(File("good.dap"), 0)));
    damaged[200] ^= 1;
    WriteBytes(File("damaged.dap"), damaged);
    WriteBytes(File("short.dap"), Bytes(464, 0x53));

    struct Case {
        std::vector<std::string> Args;
        int Status;
        const char* Expected;
    };
    const Case cases[] = {
        {{"write", File("missing.dap")}, 2, "cannot be opened"},
        {{"write", File("damaged.dap")}, 2, "checksum"},
        {{"write", File("short.dap")}, 2, "shorter than 465"},
        {{"dump", File("damaged.dap")}, 2, "checksum"},
        {{"store", "9"}, 2, "1..8"},
        {{"recall", "0"}, 2, "1..8"},
        {{"read"}, 2, "-o FILE.dap"},
        {{"frobnicate"}, 2, "unknown command"},
        {{}, 2, "no command"},
    };
    for (const Case& c : cases) {
        const CliRun run = Cli(c.Args);
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_NE(run.Err.find(c.Expected), std::string::npos) << run.Err;
    }
    EXPECT_TRUE(Requests().empty()) << BoxLog();

    for (const std::vector<std::string>& help :
         {std::vector<std::string>{"--help"}, {"list", "--help"}, {"read", "--help"}, {"write", "-h"},
          {"store", "--help"}, {"recall", "--help"}, {"dump", "--help"}}) {
        const CliRun run = Cli(help);
        EXPECT_EQ(run.Status, 0);
        EXPECT_NE(run.Out.find("Usage: ktvtune-cli"), std::string::npos);
    }
}

TEST_F(CliInProcess, DumpIsValidJsonWithEveryFieldByName)
{
    LoadDefaults();
    DspParamsImage& p = DspParams;
    // Fields a preset load leaves alone still show as the file holds them.
    p.MicVol = 11;
    p.MusicVol = 12;
    p.EffectVol = 13;
    p.Mute = 0x21;
    p.Pitch = -3;
    p.Input = 4;
    p.ReservedWord = 0xBEEF;
    p.ReservedBytes = {1, 2, 3, 4, 5, 6};
    p.Delay = {1, 2, 3, 4, 5, 2205};
    p.Fbx = 2;
    p.MaxVol = {90, 91, 92, 93, 94, 95, 96};
    p.NoiseGate = {-72, -66};
    p.OutMix[3] = {0x85, 6, 7, 8};
    p.Dyn[2] = {-300, 100, 7, 9};
    p.Reverb = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    p.Echo = {1, 2, 3, 4, 300, 6, 7, 8, 9, 10, 11, 12};
    for (int k = 0; k < BandTotal; ++k) {
        PeqBand& b = p.Band[std::size_t(k)];
        b.Flags = std::uint8_t((k % 2 ? 0 : FlagBandOn) | FlagChannelEqOn | (k % 7));
        b.Fc = float(100 + k);
        b.Q = 1.5f;
        b.Gain = -3.3f; // filed as -33 tenths, though the float lies just above
    }
    p.Band[20].Fc = 123456.7f;
    ASSERT_TRUE(WriteDapFile(File("d.dap")));

    const CliRun run = Cli({"dump", File("d.dap")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::optional<Json> doc = ParseJson(run.Out);
    ASSERT_TRUE(doc && doc->is_object()) << run.Out;
    const Json& j = *doc;

    for (const char* name : {"MicVol", "MusicVol", "EffectVol", "Mute", "Delay", "NoiseGate", "Pitch", "Fbx", "Input",
                             "ReservedWord", "MaxVol", "ReservedBytes", "Dyn", "OutMix", "Reverb", "Echo", "Band"})
        EXPECT_TRUE(j.contains(name)) << name;
    EXPECT_EQ(j.size(), 17u);

    struct Scalar {
        const char* Name;
        double Value;
    };
    for (const Scalar& f : {Scalar{"MicVol", 11}, {"MusicVol", 12}, {"EffectVol", 13}, {"Mute", 0x21}, {"Pitch", -3},
                            {"Fbx", 2}, {"Input", 4}, {"ReservedWord", 0xBEEF}})
        EXPECT_EQ(j.at(f.Name).get<double>(), f.Value) << f.Name;
    auto numbers = [](const Json& a) { return a.get<std::vector<double>>(); };
    EXPECT_EQ(numbers(j.at("Delay")), (std::vector<double>{1, 2, 3, 4, 5, 2205}));
    EXPECT_EQ(numbers(j.at("MaxVol")), (std::vector<double>{90, 91, 92, 93, 94, 95, 96}));
    EXPECT_EQ(numbers(j.at("ReservedBytes")), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(numbers(j.at("NoiseGate")), (std::vector<double>{-72, -66}));

    auto fields = [](const Json& o) {
        std::vector<std::pair<std::string, double>> v;
        for (const auto& [k, m] : o.items())
            v.emplace_back(k, m.get<double>());
        return v;
    };
    using Fields = std::vector<std::pair<std::string, double>>;
    ASSERT_EQ(j.at("OutMix").size(), 4u);
    EXPECT_EQ(fields(j.at("OutMix")[3]), (Fields{{"MicVol", 0x85}, {"MusicVol", 6}, {"EchoVol", 7}, {"ReverbVol", 8}}));
    ASSERT_EQ(j.at("Dyn").size(), 5u);
    EXPECT_EQ(fields(j.at("Dyn")[2]), (Fields{{"Threshold", -300}, {"Attack", 100}, {"Release", 7}, {"Ratio", 9}}));
    EXPECT_EQ(fields(j.at("Reverb")), (Fields{{"Word1", 1}, {"Word2", 2}, {"EarlyLate", 3}, {"Byte1", 4}, {"PreDelay", 5},
                                           {"Byte2", 6}, {"Time", 7}, {"Damp", 8}, {"Byte3", 9}}));
    EXPECT_EQ(fields(j.at("Echo")), (Fields{{"Word1", 1}, {"Word2", 2}, {"PreDelay", 3}, {"Byte1", 4}, {"Delay", 300},
                                         {"Word3", 6}, {"Repeat", 7}, {"Byte2", 8}, {"Damp", 9}, {"Byte3", 10},
                                         {"Byte4", 11}, {"Byte5", 12}}));

    // Bands in array order, each with its channel by band group.
    const char* channelOf[BandTotal];
    struct Group {
        const char* Name;
        int First, Count;
    };
    for (const Group& g : {Group{"MIC", 0, 7}, {"MUSIC", 7, 7}, {"MAIN", 14, 5}, {"SRS", 19, 5}, {"SUB", 24, 5},
                           {"CENTER", 29, 5}, {"EFFECT", 34, 5}})
        for (int k = g.First; k < g.First + g.Count; ++k)
            channelOf[k] = g.Name;
    const char* typeNames[] = {"LowPass", "HighPass", "Bell", "LowShelf", "HighShelf", "BandPass", "Notch"};
    const Json& bands = j.at("Band");
    ASSERT_EQ(bands.size(), std::size_t(BandTotal));
    for (int k = 0; k < BandTotal; ++k) {
        SCOPED_TRACE("band " + std::to_string(k));
        const Json& b = bands[std::size_t(k)];
        EXPECT_EQ(b.at("Band").get<double>(), k);
        EXPECT_EQ(b.at("Channel").get<std::string>(), channelOf[k]);
        EXPECT_EQ(b.at("Type").get<std::string>(), typeNames[k % 7]);
        EXPECT_EQ(b.at("Fc").get<double>(), k == 20 ? 123456.7 : 100 + k);
        EXPECT_EQ(b.at("Q").get<double>(), 1.5);
        EXPECT_EQ(b.at("Gain").get<double>(), -3.3);
        EXPECT_TRUE(b.at("On").is_boolean());
        EXPECT_EQ(b.at("On").get<bool>(), k % 2 == 0);
        EXPECT_TRUE(b.at("ChannelEqOn").get<bool>());
    }
}

TEST_F(CliInProcess, DiffPrintsTheFieldsThatDifferAndExitsByTheOutcome)
{
    DspParams = {};
    LoadDefaults();
    ASSERT_TRUE(WriteDapFile(File("base.dap")));
    WriteBytes(File("short.dap"), Bytes(100, 0x53));

    struct Case {
        const char* what;
        std::function<void(DspParamsImage&)> change; // nullptr: compare with a bad file
        std::string out;
        int status;
    };
    const std::vector<Case> cases{
        {"equal", [](DspParamsImage&) {}, "", 0},
        {"a band", [](DspParamsImage& p) { p.Band[15].Fc = 1234.5f; }, "MAIN band 2 Fc\t125\t1234.5\n", 1},
        {"mute and echo", [](DspParamsImage& p) { p.Mute = 0x01, p.Echo.Delay = 120; },
         "Mute MAIN L\tno\tyes\nEcho delay\t0\t120\n", 1},
        // A load would leave the volume alone; a diff shows what the file holds.
        {"a volume", [](DspParamsImage& p) { p.MicVol = 42; }, "Mic volume\t0\t42\n", 1},
        {"type and bypass", [](DspParamsImage& p) { p.Band[34].Flags = FlagChannelEqOn | 0x03; },
         "EFFECT band 1 type\tBell\tLow Shelf\nEFFECT band 1 bypass\tno\tyes\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DspParams = {}; // LoadDefaults leaves Mute as it was
        LoadDefaults();
        c.change(DspParams);
        ASSERT_TRUE(WriteDapFile(File("other.dap")));
        const CliRun run = Cli({"diff", File("base.dap"), File("other.dap")});
        EXPECT_EQ(run.Status, c.status) << run.Err;
        EXPECT_EQ(run.Out, c.out);
    }
    for (const auto& [a, b] : {std::pair{"base.dap", "short.dap"}, {"missing.dap", "base.dap"}}) {
        const CliRun run = Cli({"diff", File(a), File(b)});
        EXPECT_EQ(run.Status, 2) << a << " " << b;
        EXPECT_TRUE(run.Out.empty());
        EXPECT_FALSE(run.Err.empty());
    }
    EXPECT_EQ(Cli({"diff", File("base.dap")}).Status, 2);
    EXPECT_TRUE(Requests().empty()); // no box needed
}

TEST_F(CliInProcess, DumpBoxPrintsTheBoxStateWithoutWritingAFile)
{
    StartBox();
    ASSERT_EQ(Cli({"write", WritePreset(File("a.dap"), 3)}).Status, 0);
    const auto filesBefore = std::distance(fs::directory_iterator(root), fs::directory_iterator());
    const std::size_t requestsBefore = Requests().size();

    const CliRun run = Cli({"dump", "--box"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::optional<Json> doc = ParseJson(run.Out);
    ASSERT_TRUE(doc && doc->is_object()) << run.Out;
    EXPECT_EQ(doc->at("Echo").at("Delay").get<double>(), 300);
    EXPECT_EQ(doc->at("MaxVol").at(3).get<double>(), 80);
    EXPECT_EQ(doc->at("Band").at(38).at("Fc").get<double>(), 3903);

    const std::vector<Bytes> requests = Requests();
    std::vector<Bytes> sent;
    for (std::size_t i = requestsBefore; i < requests.size(); ++i)
        sent.push_back(PayloadOf(requests[i]));
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x2A, 1}, {0x81}, {0x82}, {0xA0, 0, 6}, {0xA0, 6, 6}, {0xA0, 12, 6},
                                        {0xA0, 18, 6}, {0xA0, 24, 6}, {0xA0, 30, 6}, {0xA0, 36, 3}, {0x2A, 0}}));
    // cli.out and cli.err existed already; nothing else appears.
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), filesBefore);
}

TEST_F(CliInProcess, QuietFailureStillSaysWhatFailedInOneLine)
{
    const std::string preset = WritePreset(File("a.dap"), 0);
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };

    const CliRun noBox = Cli({"--quiet", "write", preset});
    EXPECT_EQ(noBox.Status, 1);
    EXPECT_EQ(lines(noBox.Err), 1) << noBox.Err;

    StartBox({"--fault", "silent", "--only", "Link"});
    const CliRun silent = Cli({"--quiet", "write", preset});
    EXPECT_EQ(silent.Status, 1);
    EXPECT_EQ(lines(silent.Err), 1) << silent.Err;
    EXPECT_NE(silent.Err.find("did not answer"), std::string::npos) << silent.Err;
}

TEST_F(CliInProcess, DeviceChoosesAmongBoxesByNumberPathIdentifierOrName)
{
    StartBox();
    StartOtherBox("2");
    StartOtherBox("studio");
    const std::string id1 = "VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock";
    const std::string id2 = "VIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock";
    const std::string idStudio = "VIRTUAL\\VID_2B5E&PID_61D3\\box-studio.sock";
    const std::string path2 = dir + "/box-2.sock";
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "1\t" + id1 + "\t" + socketPath + "\n2\t" + id2 + "\t" + path2 + "\n3\t" + idStudio + "\t" +
                            dir + "/box-studio.sock\n");

    // The global options before the command's name or after it.
    struct Case {
        std::vector<std::string> Before, After;
        std::string Box;
    };
    const Case cases[] = {
        {{}, {}, "1"}, // no choice: the first box, as with one box
        {{"--device", "2"}, {}, "2"},
        {{"--device", path2}, {}, "2"},
        {{"--device=" + id2}, {}, "2"},
        {{"-d", "1"}, {}, "1"},
        {{"--device", id1}, {}, "1"},
        {{"--device", "studio"}, {}, "studio"}, // a virtual box by its --name
        {{}, {"--device", "studio"}, "studio"},
        {{}, {"-d", "2"}, "2"},
        {{}, {"--device=" + id2, "-q"}, "2"},
        {{"-q"}, {"-d", "3"}, "studio"},
        {{"--device", "1"}, {"--device", "2"}, "2"}, // the last one given
    };
    std::map<std::string, std::size_t> seen{{"1", 0}, {"2", 0}, {"studio", 0}};
    for (const Case& c : cases) {
        std::vector<std::string> args = c.Before;
        args.insert(args.end(), {"store", "3"});
        args.insert(args.end(), c.After.begin(), c.After.end());
        std::string typed;
        for (const std::string& a : args)
            typed += a + " ";
        SCOPED_TRACE(typed);
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 0) << run.Err;
        const bool quiet = std::find(args.begin(), args.end(), "-q") != args.end();
        EXPECT_EQ(run.Err, quiet ? "Set factory mode ok!\n" : "Connect:ok!\nSet factory mode ok!\n");
        for (auto& [name, count] : seen) {
            const std::vector<Bytes> got = RequestsOf(name);
            if (name != c.Box) {
                EXPECT_EQ(got.size(), count) << "box " << name << " was touched";
                continue;
            }
            ASSERT_EQ(got.size(), count + 3);
            EXPECT_EQ(PayloadOf(got[count]), (Bytes{0x2A, 1}));
            EXPECT_EQ(PayloadOf(got[count + 1]), (Bytes{0x28, 1, 3}));
            EXPECT_EQ(PayloadOf(got[count + 2]), (Bytes{0x2A, 0}));
            count = got.size();
        }
    }

    // A choice that fits no box reaches no box.
    for (const std::string& wanted :
         std::vector<std::string>{"4", "0", "box-2.sock", dir + "/box-9.sock", "stu", "studio.sock", "VIRTUAL\\studio"}) {
        const CliRun run = Cli({"--device", wanted, "store", "3"});
        EXPECT_EQ(run.Status, 1) << wanted;
        EXPECT_EQ(run.Err, "ktvtune-cli: no box '" + wanted + "' (see 'ktvtune-cli list')\n");
    }
    for (auto& [name, count] : seen)
        EXPECT_EQ(RequestsOf(name).size(), count) << name;
    const std::pair<std::vector<std::string>, std::string> missing[] = {
        {{"--device"}, "--device"}, {{"store", "3", "--device"}, "--device"}, {{"store", "3", "-d"}, "-d"}};
    for (const auto& [args, option] : missing) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Err.substr(0, run.Err.find('\n') + 1), "ktvtune-cli: " + option + " needs a box\n");
    }
}

TEST_F(CliInProcess, WriteAllSendsThePresetToEveryBoxAndReportsEach)
{
    StartBox();
    StartOtherBox("2");
    const std::string preset = WritePreset(File("a.dap"), 3);
    const std::vector<Bytes> expected = ExpectedWriteAll(preset);
    auto checkWriteAll = [&](const std::vector<Bytes>& requests, const char* box) {
        ASSERT_EQ(requests.size(), 20u) << box;
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(PayloadOf(requests[10 + i]), expected[i]) << box << " request " << i + 1;
    };

    CliRun run = Cli({"write", preset, "--all"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "1\tVIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock\tWrite dsp ok!\n"
                       "2\tVIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock\tWrite dsp ok!\n");
    checkWriteAll(Requests(), "box 1");
    checkWriteAll(RequestsOf("2"), "box 2");

    // A box that fails first in the list: the others are still written, each
    // has its line, and the exit status says that one failed.
    StartOtherBox("0", {"--fault", "bad-checksum", "--from", "2"});
    run = Cli({"--quiet", "write", "--all", preset});
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_EQ(run.Out, "1\tVIRTUAL\\VID_2B5E&PID_61D3\\box-0.sock\tRead dsp fault!\n"
                       "2\tVIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock\tWrite dsp ok!\n"
                       "3\tVIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock\tWrite dsp ok!\n");
    EXPECT_EQ(Requests().size(), 40u);
    EXPECT_EQ(RequestsOf("2").size(), 40u);
    // The box that could not be read was sent no write.
    for (const Bytes& frame : RequestsOf("0"))
        EXPECT_NE(PayloadOf(frame)[0], 0x20) << "bands written to an unread box";

    const CliRun both = Cli({"--device", "1", "write", preset, "--all"});
    EXPECT_EQ(both.Status, 2);
    EXPECT_NE(both.Err.find("exclude each other"), std::string::npos) << both.Err;
}

// A preset carries no master volumes and no input: a box keeps its own
// across write and write --all, and a box that cannot be read is not written.
TEST_F(CliInProcess, WriteKeepsEachBoxsVolumesAndInput)
{
    VirtualBox held;
    held.Current.System[SystemBlock::MicVol] = 45;
    held.Current.System[SystemBlock::MusicVol] = 30;
    held.Current.System[SystemBlock::EffectVol] = 20;
    held.Current.System[SystemBlock::Input] = 2;
    WriteBytes(File("state1"), held.SaveState());
    WriteBytes(File("state2"), held.SaveState());
    StartBox({"--state", File("state1")});
    const std::string preset = WritePreset(File("a.dap"), 0);
    auto checkBox = [&](const std::vector<std::string>& device) {
        std::vector<std::string> args = device;
        args.insert(args.end(), {"dump", "--box"});
        const CliRun dump = Cli(args);
        ASSERT_EQ(dump.Status, 0) << dump.Err;
        const auto json = ParseJson(dump.Out);
        ASSERT_TRUE(json) << dump.Out;
        EXPECT_EQ((*json)["MicVol"], 45) << dump.Out;
        EXPECT_EQ((*json)["MusicVol"], 30);
        EXPECT_EQ((*json)["EffectVol"], 20);
        EXPECT_EQ((*json)["Input"], 2);
        EXPECT_EQ((*json)["Delay"][5], 60); // and the preset arrived
    };
    const CliRun one = Cli({"write", preset});
    EXPECT_EQ(one.Status, 0) << one.Err;
    checkBox({});

    StartOtherBox("2", {"--state", File("state2")});
    const CliRun all = Cli({"write", "--all", preset});
    EXPECT_EQ(all.Status, 0) << all.Err;
    checkBox({"--device", "1"});
    checkBox({"--device", "2"});

    // The read fails: nothing is written, exit 1, one line why.
    StartOtherBox("3", {"--fault", "silent", "--only", "ReadEffects"});
    const std::size_t before = RequestsOf("3").size();
    const CliRun unread = Cli({"--quiet", "--device", dir + "/box-3.sock", "write", preset});
    EXPECT_EQ(unread.Status, 1);
    EXPECT_EQ(std::count(unread.Err.begin(), unread.Err.end(), '\n'), 1) << unread.Err;
    EXPECT_NE(unread.Err.find("nothing was written"), std::string::npos) << unread.Err;
    const std::vector<Bytes> got = RequestsOf("3");
    for (std::size_t i = before; i < got.size(); ++i)
        EXPECT_TRUE(PayloadOf(got[i])[0] == 0x2A || PayloadOf(got[i])[0] >= 0x80) << "a write reached it";
}

TEST_F(CliInProcess, ImportPutsAFilterFileOnAChannelAndExportWritesItBack)
{
    const std::string filters = File("room.txt");
    std::ofstream(filters) << "Filter Settings file\n"
                              "Room EQ V5.20.13\n"
                              "Preamp: -4.0 dB\n"
                              "Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\n"
                              "Filter  2: ON  LSC      Fc    101 Hz  Gain   3.0 dB  Q  0.70\n"
                              "Filter  3: ON  AP       Fc    500 Hz  Q  0.70\n";
    // What the MIC channel must become: the plan over a default image.
    LoadDefaults();
    ImportPlan plan;
    ASSERT_TRUE(PlanFilterImport(ParseFilterText(ReadText(filters)), EqChannel::MIC, plan));
    ApplyFilterImport(plan);
    auto run = [](int first, int count) {
        Bytes p{0x20, std::uint8_t(first), std::uint8_t(count)};
        for (int k = first; k < first + count; ++k) {
            std::uint8_t record[BandRecordSize];
            EncodeBandRecord(DspParams.Band[std::size_t(k)], record);
            p.insert(p.end(), record, record + BandRecordSize);
        }
        return p;
    };
    const Bytes first = run(0, 6), second = run(6, 1);

    StartBox();
    const CliRun sent = Cli({"import", filters, "--channel", "mic"});
    EXPECT_EQ(sent.Status, 0) << sent.Err;
    EXPECT_NE(sent.Err.find("Line 4 \"Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\": band 1 Bell 63.2 Hz"),
              std::string::npos) << sent.Err;
    EXPECT_NE(sent.Err.find("Line 6 \"Filter  3: ON  AP       Fc    500 Hz  Q  0.70\": not applied"), std::string::npos);
    EXPECT_NE(sent.Err.find("Preamp -4.0 dB: not applied"), std::string::npos);
    EXPECT_NE(sent.Err.find("Largest difference from the file's response"), std::string::npos);
    const std::vector<Bytes> requests = Requests();
    // The box's state is read and kept first.
    ASSERT_EQ(requests.size(), 13u) << BoxLog();
    EXPECT_EQ(PayloadOf(requests[0]), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(requests[1]), (Bytes{0x81}));
    EXPECT_EQ(PayloadOf(requests[10]), first);
    EXPECT_EQ(PayloadOf(requests[11]), second);
    EXPECT_EQ(PayloadOf(requests[12]), (Bytes{0x2A, 0}));

    // Offline: from a preset into a preset, then out as filter text.
    const std::string preset = WritePreset(File("a.dap"), 0);
    const CliRun offline = Cli({"import", filters, "--channel", "SUB", "--preset", preset, "-o", File("b.dap")});
    EXPECT_EQ(offline.Status, 0) << offline.Err;
    EXPECT_EQ(Requests().size(), 13u); // nothing more sent
    LoadDefaults();
    ASSERT_TRUE(ReadDapFile(File("b.dap")));
    EXPECT_FLOAT_EQ(DspParams.Band[24].Fc, 63.2f);
    EXPECT_EQ(DspParams.Band[0].Fc, 100.0f); // MIC kept the preset's bands
    {
        // Every byte of the preset but the SUB records (bands 25..29) stays,
        // its mic volume among them.
        Bytes in = ReadBytes(preset), out = ReadBytes(File("b.dap"));
        ASSERT_EQ(in.size(), out.size());
        for (std::size_t i = 0; i + 2 < in.size(); ++i)
            if (i < Dap::Bands + 24 * BandRecordSize || i >= Dap::Bands + 29 * BandRecordSize) {
                EXPECT_EQ(out[i], in[i]) << "byte " << i;
            }
        Bytes mic = in;
        mic[Dap::MicVol] = 99;
        mic[Dap::ChecksumAt] = std::uint8_t(mic[Dap::ChecksumAt] + 99 - in[Dap::MicVol]);
        WriteBytes(File("mic99.dap"), mic);
        ASSERT_EQ(Cli({"import", filters, "--channel", "SUB", "--preset", File("mic99.dap"), "-o", File("c.dap")}).Status, 0);
        EXPECT_EQ(ReadBytes(File("c.dap"))[Dap::MicVol], 99);
    }
    const CliRun exported = Cli({"export", File("b.dap"), "--channel", "sub"});
    EXPECT_EQ(exported.Status, 0) << exported.Err;
    EXPECT_EQ(exported.Out.substr(0, exported.Out.find('\n')), "# KTV Tune: SUB channel, 5 bands");
    // The preset keeps the tenths the box would: Q 4.1 is filed as 41.
    EXPECT_NE(exported.Out.find("Filter  1: ON  PK       Fc  63.2 Hz  Gain  -6.0 dB  Q  4.1\n"), std::string::npos)
        << exported.Out;
    EXPECT_EQ(Cli({"export", File("b.dap"), "--channel", "SUB", "-o", File("sub.txt")}).Status, 0);
    EXPECT_EQ(ReadText(File("sub.txt")), exported.Out);
    // The user picks the dialect; rew is the default.
    EXPECT_EQ(Cli({"export", File("b.dap"), "--channel", "SUB", "--format", "rew"}).Out, exported.Out);
    const CliRun autoEq = Cli({"export", File("b.dap"), "--channel", "SUB", "--format", "autoeq"});
    EXPECT_EQ(autoEq.Status, 0) << autoEq.Err;
    EXPECT_EQ(autoEq.Out.substr(0, autoEq.Out.find('\n')), "Preamp: -3.0 dB");
    EXPECT_NE(autoEq.Out.find("Filter  1: ON  PK       Fc  63.2 Hz  Gain  -6.0 dB  Q  4.1\n"), std::string::npos)
        << autoEq.Out;
    const CliRun apo = Cli({"export", File("b.dap"), "--channel", "SUB", "--format", "apo"});
    EXPECT_EQ(apo.Out.substr(0, apo.Out.find("Filter")), "# KTV Tune: SUB channel, 5 bands\nPreamp: -3.0 dB\n");

    // Refusals: exit 2 and nothing sent.
    std::ofstream(File("none.txt")) << "Preamp: -3 dB\n# nothing\n";
    struct Case {
        std::vector<std::string> Args;
        const char* Expected;
    };
    const Case cases[] = {
        {{"import", File("none.txt"), "--channel", "MIC"}, "no filter line that can be used"},
        {{"import", File("missing.txt"), "--channel", "MIC"}, "Cannot open"},
        {{"import", filters, "--channel", "LEFT"}, "unknown channel 'LEFT'"},
        {{"import", filters}, "--channel NAME is needed"},
        {{"import", filters, "--channel", "MIC", "--preset", File("missing.dap")}, "cannot be opened"},
        {{"export", File("missing.dap"), "--channel", "MIC"}, "cannot be opened"},
        {{"export", "--channel", "MIC"}, "a file is needed"},
        {{"export", File("b.dap"), "--channel", "MIC", "--format", "wav"}, "--format takes rew, apo or autoeq, not 'wav'"},
    };
    for (const Case& c : cases) {
        const CliRun r = Cli(c.Args);
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_NE(r.Err.find(c.Expected), std::string::npos) << r.Err;
    }
    EXPECT_EQ(Requests().size(), 13u) << BoxLog();
}

// `fit` works on files alone: the measurement in a REW-like text export, the
// preset in, the preset with the channel's fitted bands out; everything else
// in the preset, and the bypassed band, as it was.
TEST_F(CliInProcess, FitWritesTheChannelFittedToAMeasurement)
{
    StartBox();
    // A room with two resonances, 96 points per octave, as REW exports it.
    std::string text = "* Measurement data measured by REW V5.20\n* Freq(Hz) SPL(dB) Phase(degrees)\n";
    for (double f = 20.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 96)) {
        const double a = std::log2(f / 63.0), b = std::log2(f / 2500.0);
        const double db = 80.0 + 7.0 * std::exp(-a * a * 18.0) + 4.0 * std::exp(-b * b * 6.0);
        char line[64];
        std::snprintf(line, sizeof line, "%.3f %.3f %.1f\n", f, db, 0.0);
        text += line;
    }
    std::ofstream(File("room.txt")) << text;

    WritePreset(File("in.dap"), 0);
    LoadDefaults();
    ASSERT_TRUE(ReadDapFile(File("in.dap")));
    // The measurement was taken through flat MUSIC bands but for band 3,
    // which is bypassed.
    for (int k = 7; k < 14; ++k)
        SetDefaultBand(DspParams.Band[std::size_t(k)], k - 7);
    DspParams.Band[9] = {std::uint8_t(FlagChannelEqOn | 4), 1234.0f, 2.0f, -3.5f, {}};
    ASSERT_TRUE(WriteDapFile(File("in.dap")));
    const DspParamsImage before = DspParams;

    const CliRun run = Cli({"fit", File("room.txt"), "--channel", "MUSIC", "--preset", File("in.dap"), "--range",
                            "40-16000", "-o", File("out.dap")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string third = run.Out.substr(run.Out.find("\n   3  "), run.Out.find("\n   4  ") - run.Out.find("\n   3  "));
    EXPECT_NE(third.find("HighShelf      1234   2.0       -3.5  (bypassed, left alone)"), std::string::npos) << run.Out;
    double rmsBefore = 0, rmsAfter = 0;
    ASSERT_EQ(std::sscanf(run.Out.c_str() + run.Out.find("error before: RMS"), "error before: RMS %lf", &rmsBefore), 1);
    ASSERT_EQ(std::sscanf(run.Out.c_str() + run.Out.find("error after:  RMS"), "error after:  RMS %lf", &rmsAfter), 1);
    EXPECT_GT(rmsBefore, 1.0);
    EXPECT_LT(rmsAfter, rmsBefore / 4);
    // Cutting the room's peaks costs level, and the output says how much.
    EXPECT_NE(run.Out.find("\nthe fit lowers the level by "), std::string::npos) << run.Out;
    double lowered = 0;
    ASSERT_EQ(std::sscanf(run.Out.c_str() + run.Out.find("the fit lowers"), "the fit lowers the level by %lf", &lowered), 1);
    ASSERT_GT(lowered, 0.5);
    // A room that one band undoes: Q 1.1, which no Q step is (1.08 and 1.13
    // both travel as 1.1), is printed as the preset holds it.
    {
        std::string one = "Freq(Hz) SPL(dB)\n";
        PeqBand cut{std::uint8_t(FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell)), 1000.0f, 1.1f, -6.0f, {}};
        DesignBand(cut);
        for (double f = 20.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 48)) {
            char line[64];
            std::snprintf(line, sizeof line, "%.4f %.6f\n", f, 80.0 - MagnitudeDb(cut.Coef, float(f)));
            one += line;
        }
        std::ofstream(File("one.txt")) << one;
        const CliRun fitted = Cli({"fit", File("one.txt"), "--channel", "SRS", "-o", File("one.dap")});
        ASSERT_EQ(fitted.Status, 0) << fitted.Err;
        LoadDefaults();
        ASSERT_TRUE(ReadDapFile(File("one.dap")));
        const BandGroup srs = GroupOf(EqChannel::SRS);
        std::istringstream lines(fitted.Out);
        std::string line;
        std::getline(lines, line);
        std::getline(lines, line);
        for (int k = 0; k < srs.BandCount; ++k) {
            ASSERT_TRUE(std::getline(lines, line));
            SCOPED_TRACE(line);
            const PeqBand& b = DspParams.Band[std::size_t(srs.FirstBand + k)];
            char expected[96];
            std::snprintf(expected, sizeof expected, "%4d  Bell       %8.*f %5.1f %10.1f", k + 1, b.Fc < 100 ? 1 : 0,
                          double(b.Fc), double(b.Q), double(b.Gain));
            EXPECT_EQ(line, expected);
        }
    }
    // A limit on it holds the level there.
    const CliRun held = Cli({"fit", File("room.txt"), "--channel", "MUSIC", "--max-level-drop", "0.3", "-o", File("held.dap")});
    ASSERT_EQ(held.Status, 0) << held.Err;
    EXPECT_NE(held.Out.find("\nthe fit lowers the level by 0.3 dB\n"), std::string::npos) << held.Out;
    // The subwoofer is fitted below 250 Hz unless told otherwise.
    const CliRun sub = Cli({"fit", File("room.txt"), "--channel", "SUB", "-o", File("sub.dap")});
    ASSERT_EQ(sub.Status, 0) << sub.Err;
    EXPECT_EQ(sub.Out.substr(0, sub.Out.find('\n')), "SUB over 20-250 Hz") << sub.Out;

    LoadDefaults();
    ASSERT_TRUE(ReadDapFile(File("out.dap")));
    BuildStepTables();
    // What is printed is what the preset holds, to the last digit printed;
    // the fitted bands in rising frequency.
    {
        std::istringstream lines(run.Out);
        std::string line;
        std::getline(lines, line);
        std::getline(lines, line);
        float lastFc = 0;
        for (int k = 7; k < 14; ++k) {
            ASSERT_TRUE(std::getline(lines, line));
            SCOPED_TRACE(line);
            int number = 0;
            char type[16] = {};
            double fc = 0, q = 0, gain = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%d %15s %lf %lf %lf", &number, type, &fc, &q, &gain), 5);
            const PeqBand& b = DspParams.Band[std::size_t(k)];
            EXPECT_EQ(number, k - 6);
            EXPECT_EQ(float(fc), b.Fc);
            EXPECT_EQ(float(q), b.Q);
            EXPECT_EQ(float(gain), b.Gain);
            if (k != 9) {
                EXPECT_GE(b.Fc, lastFc);
                lastFc = b.Fc;
            }
        }
    }
    for (int k = 0; k < BandTotal; ++k) {
        const PeqBand& b = DspParams.Band[std::size_t(k)];
        const PeqBand& was = before.Band[std::size_t(k)];
        if (k < 7 || k >= 14 || k == 9) {
            EXPECT_EQ(b.Flags, was.Flags) << k;
            EXPECT_EQ(b.Fc, was.Fc) << k;
            EXPECT_EQ(b.Gain, was.Gain) << k;
            continue;
        }
        EXPECT_EQ(b.Flags, FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell)) << k;
        // On a step as the box holds it (steps travel as tenths).
        EXPECT_NEAR(b.Fc, FcSteps[std::size_t(FcStepIndex(b.Fc + 0.1f))], 0.1) << k;
        EXPECT_LE(b.Gain, 0.0f) << k;
        EXPECT_GE(b.Gain, -12.0f) << k;
    }
    EXPECT_EQ(DspParams.Delay, before.Delay);
    EXPECT_EQ(DspParams.Echo.Delay, before.Echo.Delay);
    {
        // Every byte but the MUSIC records (bands 8..14) as the preset had it.
        const Bytes in = ReadBytes(File("in.dap")), out = ReadBytes(File("out.dap"));
        for (std::size_t i = 0; i + 2 < in.size(); ++i)
            if (i < Dap::Bands + 7 * BandRecordSize || i >= Dap::Bands + 14 * BandRecordSize) {
                EXPECT_EQ(out[i], in[i]) << "byte " << i;
            }
    }
    EXPECT_TRUE(Requests().empty()) << BoxLog(); // no box needed

    struct Case {
        std::vector<std::string> Args;
        const char* Expected;
    };
    const Case cases[] = {
        {{"fit", File("room.txt"), "--channel", "MUSIC"}, "-o OUT.dap is needed"},
        {{"fit", File("room.txt"), "--channel", "BASS", "-o", File("x.dap")}, "unknown channel"},
        {{"fit", File("room.txt"), "-o", File("x.dap")}, "--channel NAME is needed"},
        {{"fit", File("room.txt"), "--channel", "MIC", "--tilt", "-1", "--target", File("room.txt"), "-o", File("x.dap")},
         "either --target or --tilt"},
        {{"fit", File("room.txt"), "--channel", "MIC", "--range", "40", "-o", File("x.dap")}, "LO-HI"},
        {{"fit", File("room.txt"), "--channel", "MIC", "--max-boost", "lots", "-o", File("x.dap")}, "needs a number"},
        {{"fit", File("room.txt"), "--channel", "MIC", "--max-cut", "6", "-o", File("x.dap")}, "-24 to 0 dB"},
        {{"fit", File("room.txt"), "--channel", "MIC", "--max-level-drop", "-1", "-o", File("x.dap")}, "0 dB or more"},
        {{"fit", File("missing.txt"), "--channel", "MIC", "-o", File("x.dap")}, "missing.txt"},
        {{"fit", File("in.dap"), "--channel", "MIC", "-o", File("x.dap")}, "in.dap"},
    };
    for (const Case& c : cases) {
        const CliRun bad = Cli(c.Args);
        EXPECT_EQ(bad.Status, 2) << bad.Err;
        EXPECT_NE(bad.Err.find(c.Expected), std::string::npos) << bad.Err;
    }
    EXPECT_FALSE(fs::exists(File("x.dap")));
}

} // namespace
} // namespace ktv

namespace ktv {
// The help texts are written out as prose, so a dialect or measurement format
// registered later must be named there too: each command that reads or writes
// them names exactly what the registry holds for it.
TEST(CliHelpTexts, NameEachRegisteredDialectAndFormat)
{
    auto usage = [](std::string_view name) {
        for (const cli::Command* c : cli::Commands())
            if (name == c->Name)
                return cli::Usage(*c);
        ADD_FAILURE() << "no command " << name;
        return std::string();
    };
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    const std::string import = usage("import"), exportHelp = usage("export"), fit = lower(usage("fit"));
    for (const FilterDialect& d : FilterDialects()) {
        EXPECT_NE(import.find(d.Name), std::string::npos) << "import's help leaves out " << d.Name;
        EXPECT_EQ(exportHelp.find(d.Name) != std::string::npos, d.Export != nullptr)
            << "export's help and what export can write disagree on " << d.Name;
    }
    for (const MeasurementFormat& f : MeasurementFormats())
        EXPECT_NE(fit.find(lower(f.Name)), std::string::npos) << "fit's help leaves out " << f.Name;
}

} // namespace ktv

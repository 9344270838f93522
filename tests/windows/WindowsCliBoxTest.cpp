// ktvtune-cli.exe against ktvtune-box.exe: each started as its own process
// with the virtual-box folder in a temporary folder, assertions on the
// requests the box logged, the files written and what the programs printed.
#include "core/TestSupport.h"
#include "device/platform/WindowsHidPlatform.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace ktv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path U8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The programs sit in the build tree beside the tests' own folder.
fs::path Program(const char* folder, const char* name)
{
    wchar_t self[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, self, DWORD(std::size(self)));
    return fs::path(self).parent_path().parent_path().parent_path() / "src" / "tools" / folder / name;
}

std::wstring Quote(const std::wstring& arg)
{
    // The rules CommandLineToArgvW reads back: backslashes double only before a quote.
    std::wstring out = L"\"";
    int slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(std::size_t(c == L'"' ? slashes * 2 + 1 : slashes), L'\\');
        slashes = 0;
        out += c;
    }
    out.append(std::size_t(slashes * 2), L'\\');
    return out + L"\"";
}

struct Process {
    HANDLE Handle = nullptr;
    bool Running() const { return Handle && WaitForSingleObject(Handle, 0) == WAIT_TIMEOUT; }
};

Process Start(const fs::path& exe, const std::vector<std::string>& args, const fs::path& out, const fs::path& err)
{
    std::wstring line = Quote(exe.wstring());
    for (const std::string& a : args)
        line += L" " + Quote(U8(a).wstring());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE o = CreateFileW(out.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    const HANDLE e = CreateFileW(err.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = o;
    si.hStdError = e;
    PROCESS_INFORMATION pi{};
    const BOOL ok = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(o);
    CloseHandle(e);
    EXPECT_TRUE(ok) << exe.string() << " error " << GetLastError();
    if (!ok)
        return {};
    CloseHandle(pi.hThread);
    return {pi.hProcess};
}

// The exit code, or -1 when the program outlived the hang limit.
int Finish(Process& p, DWORD limitMs = 30000)
{
    if (!p.Handle)
        return -2;
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(p.Handle, limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(p.Handle, 99);
        WaitForSingleObject(p.Handle, INFINITE);
    } else {
        GetExitCodeProcess(p.Handle, &code);
    }
    CloseHandle(p.Handle);
    p.Handle = nullptr;
    return int(code);
}

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

// The request frames (marker, address, length, payload, checksum) of the box log.
std::vector<Bytes> LoggedRequests(const std::string& log)
{
    std::vector<Bytes> requests;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const auto from = line.find("> ");
        const auto to = line.find("  <");
        if (line.find(" #") == std::string::npos || from == std::string::npos || to == std::string::npos)
            continue;
        std::istringstream hex(line.substr(from + 2, to - from - 2));
        Bytes frame;
        unsigned v;
        while (hex >> std::hex >> v)
            frame.push_back(std::uint8_t(v));
        requests.push_back(frame);
    }
    return requests;
}

Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + 3, frame.begin() + 3 + frame.at(2)); }

class WindowsCliAndBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The programs started here find their boxes' folder and keep their
        // journal below this one, not the user's.
        SetEnvironmentVariableW(L"LOCALAPPDATA", U8(root).c_str());
    }
    void TearDown() override
    {
        for (Process& box : boxes)
            if (box.Handle) {
                TerminateProcess(box.Handle, 0);
                Finish(box);
            }
    }

    std::string File(const std::string& name) const { return root + "\\" + name; }

    // A box named `name` logging to box-NAME.log; up once it says where it listens.
    void StartBox(const std::string& name = "1", std::vector<std::string> args = {})
    {
        args.insert(args.begin(), {"--name", name});
        boxes.push_back(Start(Program("box", "ktvtune-box.exe"), args, U8(File("box-" + name + ".log")),
                              U8(File("box-" + name + ".err"))));
        for (int i = 0; i < 2000 && boxes.back().Running(); ++i) {
            if (BoxLog(name).find("listening on") != std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "box " << name << " did not say it listens: " << BoxLog(name) << ReadText(U8(File("box-" + name + ".err")));
    }
    std::string BoxLog(const std::string& name = "1") const { return ReadText(U8(File("box-" + name + ".log"))); }
    std::vector<Bytes> Requests(const std::string& name = "1") const { return LoggedRequests(BoxLog(name)); }

    CliRun Cli(const std::vector<std::string>& args)
    {
        Process p = Start(Program("cli", "ktvtune-cli.exe"), args, U8(File("cli.out")), U8(File("cli.err")));
        CliRun run;
        run.Status = Finish(p);
        run.Out = ReadText(U8(File("cli.out")));
        run.Err = ReadText(U8(File("cli.err")));
        return run;
    }

    test::TempDir temp;
    const std::string root = temp.Path();
    std::vector<Process> boxes;
};

// A preset unlike the defaults in every block.
void WritePreset(const std::string& path, int variant)
{
    LoadDefaults();
    DspParams.Delay = {10, 20, 30, 40, 50, std::uint16_t(60 + variant)};
    DspParams.MaxVol[3] = std::uint8_t(77 + variant);
    DspParams.Reverb.Time = 9;
    for (int k = 0; k < BandTotal; ++k)
        DspParams.Band[std::size_t(k)] = {std::uint8_t(FlagBandOn | FlagChannelEqOn | (k % 7)),
                                          float(100 * (k + 1) + variant), 2.0f, -3.5f, {}};
    ASSERT_TRUE(WriteDapFile(path));
}

TEST_F(WindowsCliAndBox, HelpUsageAndMissingBoxKeepTheirExitCodes)
{
    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage: ktvtune-cli", 0), 0u) << help.Out;
    // Lines end as on Linux, whoever reads them: a pipe, a file or the console.
    EXPECT_EQ(help.Out.find('\r'), std::string::npos);
    EXPECT_EQ(Cli({}).Status, 2);
    EXPECT_EQ(Cli({"store", "9"}).Status, 2);
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.Status, 1);
    EXPECT_NE(list.Err.find("no box found"), std::string::npos) << list.Err;
    WritePreset(File("a.dap"), 0);
    const CliRun write = Cli({"write", File("a.dap")});
    EXPECT_EQ(write.Status, 1);
    EXPECT_NE(write.Err.find("no usb device 2"), std::string::npos) << write.Err;
#ifdef KTV_CLI_HAS_SOUND
    // Whatever sound devices the system has are listed, one a line.
    const CliRun devices = Cli({"devices"});
    EXPECT_EQ(devices.Status, 0) << devices.Err;
    std::istringstream lines(devices.Out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("in ") || line.starts_with("out ") || line.starts_with("in+out ")) << line;
#else
    // Measuring needs the sound card support this build has not.
    EXPECT_EQ(Cli({"devices"}).Status, 1);
#endif
}

TEST_F(WindowsCliAndBox, WriteReadStoreAndRecallThroughThePipeWithNonAsciiNames)
{
    StartBox();
    const CliRun list = Cli({"list"});
    ASSERT_EQ(list.Status, 0) << list.Err;
    EXPECT_EQ(list.Out.rfind("1\tVIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock\t\\\\.\\pipe\\ktvtune-", 0), 0u) << list.Out;

    const std::string preset = File("预设 Übung.dap");
    WritePreset(preset, 1);
    const CliRun write = Cli({"write", preset});
    ASSERT_EQ(write.Status, 0) << write.Err;
    EXPECT_NE(write.Err.find("Write dsp ok!"), std::string::npos) << write.Err;
    // Read first (nine requests), then the nine of the write between Link on and off.
    const std::vector<Bytes> requests = Requests();
    ASSERT_EQ(requests.size(), 20u) << BoxLog();
    EXPECT_EQ(PayloadOf(requests.front()), (Bytes{0x2A, 1}));
    EXPECT_EQ(PayloadOf(requests.back()), (Bytes{0x2A, 0}));
    Bytes system(SystemPayloadSize);
    DspParams = {};
    LoadDefaults();
    ASSERT_TRUE(ReadDapFile(preset));
    BuildSystemPayload(system.data());
    EXPECT_EQ(PayloadOf(requests[10]), system);

    const std::string back = File("读回 ß.dap");
    ASSERT_EQ(Cli({"read", "-o", back}).Status, 0);
    EXPECT_TRUE(fs::is_regular_file(U8(back)));
    EXPECT_EQ(ReadText(U8(back)).size(), ReadText(U8(preset)).size());
    ASSERT_EQ(Cli({"store", "3"}).Status, 0);
    const CliRun recall = Cli({"recall", "3", "-o", File("槽 3.dap")});
    ASSERT_EQ(recall.Status, 0) << recall.Err;
    EXPECT_EQ(ReadText(U8(File("槽 3.dap"))), ReadText(U8(back)));
}

TEST_F(WindowsCliAndBox, WriteAllReachesEveryBox)
{
    StartBox("1");
    StartBox("2");
    WritePreset(File("a.dap"), 2);
    const CliRun run = Cli({"write", "--all", File("a.dap")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Requests("1").size(), 20u) << BoxLog("1");
    EXPECT_EQ(Requests("2").size(), 20u) << BoxLog("2");
    // --device picks one by its identifier.
    const CliRun one = Cli({"--device", "VIRTUAL\\VID_2B5E&PID_61D3\\box-2.sock", "store", "1"});
    EXPECT_EQ(one.Status, 0) << one.Err;
    EXPECT_EQ(Requests("1").size(), 20u);
    EXPECT_GT(Requests("2").size(), 20u);
}

TEST_F(WindowsCliAndBox, DumpDiffAndExportPrintUtf8WithBareNewlines)
{
    WritePreset(File("a.dap"), 0);
    WritePreset(File("b.dap"), 3);
    const CliRun dump = Cli({"dump", File("a.dap")});
    ASSERT_EQ(dump.Status, 0) << dump.Err;
    EXPECT_EQ(dump.Out.find('\r'), std::string::npos);
    EXPECT_NO_THROW((void)nlohmann::json::parse(dump.Out));
    const CliRun diff = Cli({"diff", File("a.dap"), File("b.dap")});
    EXPECT_EQ(diff.Status, 1);
    EXPECT_NE(diff.Out.find("Delay"), std::string::npos) << diff.Out;
    EXPECT_EQ(diff.Out.find('\r'), std::string::npos);
    EXPECT_EQ(Cli({"diff", File("a.dap"), File("a.dap")}).Status, 0);
    const CliRun text = Cli({"export", File("a.dap"), "--channel", "MIC"});
    ASSERT_EQ(text.Status, 0) << text.Err;
    EXPECT_NE(text.Out.find("Filter  1: ON"), std::string::npos) << text.Out;
    EXPECT_EQ(text.Out.find('\r'), std::string::npos);
}

TEST_F(WindowsCliAndBox, ImportAndFitReadFilesWithNonAsciiNames)
{
    const std::string filters = File("滤波器 é.txt");
    std::ofstream(U8(filters), std::ios::binary) << "Filter Settings file\n"
                                                    "Room EQ V5.20.13\n"
                                                    "Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\n";
    const CliRun import = Cli({"import", filters, "--channel", "MIC", "-o", File("导入.dap")});
    EXPECT_EQ(import.Status, 0) << import.Err;
    EXPECT_NE(import.Err.find("band 1 Bell 63.2 Hz"), std::string::npos) << import.Err;
    // The file name comes back as it was given, in UTF-8.
    const CliRun missing = Cli({"import", File("没有 ü.txt"), "--channel", "MIC", "-o", File("x.dap")});
    EXPECT_EQ(missing.Status, 2);
    EXPECT_NE(missing.Err.find("没有 ü.txt"), std::string::npos) << missing.Err;

    std::string text = "* Measurement data measured by REW V5.20\n* Freq(Hz) SPL(dB) Phase(degrees)\n";
    for (double f = 20.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 48)) {
        const double a = std::log2(f / 63.0);
        char line[64];
        std::snprintf(line, sizeof line, "%.3f %.3f %.1f\n", f, 80.0 + 7.0 * std::exp(-a * a * 18.0), 0.0);
        text += line;
    }
    const std::string room = File("房间 ö.txt");
    std::ofstream(U8(room), std::ios::binary) << text;
    const CliRun fit = Cli({"fit", room, "--channel", "MUSIC", "-o", File("拟合.dap")});
    EXPECT_EQ(fit.Status, 0) << fit.Err;
    EXPECT_TRUE(fs::is_regular_file(U8(File("拟合.dap"))));
}

// Device names and pipes in place of a filter file or a measurement: each
// refused at once with the reason, never opened and waited on.
TEST_F(WindowsCliAndBox, ImportAndFitRefuseDevicesAndPipesWithoutWaiting)
{
    const std::wstring pipeName = L"\\\\.\\pipe\\ktv-cli-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const std::string pipePath = "\\\\.\\pipe\\ktv-cli-test-" + std::to_string(GetCurrentProcessId());
    for (const std::string& device : {std::string("CON"), std::string("NUL"), std::string("COM1"), pipePath}) {
        const std::vector<std::string> commands[] = {
            {"import", device, "--channel", "MIC", "-o", File("x.dap")},
            {"fit", device, "--channel", "MUSIC", "-o", File("x.dap")},
        };
        for (const std::vector<std::string>& command : commands) {
            Process p = Start(Program("cli", "ktvtune-cli.exe"), command, U8(File("cli.out")), U8(File("cli.err")));
            const int status = Finish(p, 20000);
            EXPECT_EQ(status, 2) << command[0] << " " << device << (status == -1 ? ": waited on it" : "");
            const std::string err = ReadText(U8(File("cli.err")));
            EXPECT_NE(err.find("Cannot open " + device + ": it is not a regular file."), std::string::npos)
                << command[0] << " " << device << ": " << err;
        }
    }
    CloseHandle(pipe);
    EXPECT_FALSE(fs::exists(U8(File("x.dap"))));
}

TEST_F(WindowsCliAndBox, TheBoxLogsEachExchangeAsItHappens)
{
    StartBox(); // waits for its first line while it runs
    ASSERT_EQ(Cli({"store", "2"}).Status, 0);
    // Still running, and every exchange of the store is in the log already.
    ASSERT_TRUE(boxes.back().Running());
    const std::vector<Bytes> requests = Requests();
    ASSERT_FALSE(requests.empty()) << BoxLog();
    EXPECT_EQ(PayloadOf(requests.back()), (Bytes{0x2A, 0}));
    EXPECT_EQ(BoxLog().find('\r'), std::string::npos);
}

TEST_F(WindowsCliAndBox, AKilledBoxIsSeenAtOnceThroughItsProcess)
{
    StartBox();
    WindowsHidPlatform platform; // the boxes' folder below LOCALAPPDATA
    std::string path;
    for (const HidInterface& i : platform.ListInterfaces())
        if (i.InstanceId.starts_with("VIRTUAL\\"))
            path = i.Path;
    const PlatformHandle h = platform.Open(path);
    ASSERT_NE(h, InvalidHandle) << path;
    const LinkWatch watch = platform.WatchLink(h);
    ASSERT_NE(watch, NoLinkWatch);
    EXPECT_EQ(WaitForSingleObject(watch, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_FALSE(platform.HungUp(h));

    // Killed: nothing comes down the pipe, the process says it is over.
    TerminateProcess(boxes.back().Handle, 1);
    EXPECT_EQ(WaitForSingleObject(watch, 5000), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(platform.HungUp(h));
    platform.Close(h);
}

} // namespace
} // namespace ktv

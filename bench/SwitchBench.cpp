// An A/B switch: only the commands whose fields differ go to the box. Timed
// for a difference of one band, one output channel (its five bands, mix,
// limiter, delay and mute) and everything, against the in-process virtual
// box and against ktvtune-box over its socket; a write-all for reference.
// The "requests" counter is the number of requests per switch.

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "device/platform/LinuxHidPlatform.h"
#include "params/Commands.h"
#include "params/Gloable.h"
#include "params/ImageDiff.h"
#include "sim/InProcessBox.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace ktv;

class QuietUi final : public UserInterface {
public:
    void ShowMessage(std::string_view) override {}
    void SetStatus(StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

enum Difference { OneBand, OneChannel, Everything };

DspParamsImage Defaults()
{
    DspParams = {};
    LoadDefaults();
    return DspParams;
}

DspParamsImage Other(Difference what)
{
    DspParamsImage d = Defaults();
    if (what == OneBand) {
        d.Band[16].Gain = 3.5f;
    } else if (what == OneChannel) {
        for (int k = 14; k < 19; ++k)
            d.Band[std::size_t(k)].Gain = float(k - 13);
        d.OutMix[0] = {10, 20, 30, 40};
        d.Dyn[1].Threshold = -60;
        d.Delay[0] = d.Delay[1] = 441;
        d.Mute = 0x02;
    } else {
        d.MicVol = d.MusicVol = d.EffectVol = 50;
        d.MaxVol.fill(90);
        d.Mute = 0x3F;
        d.Delay.fill(100);
        d.Pitch = 2;
        d.Fbx = 1;
        d.Input = 3;
        d.NoiseGate = {-72, -78};
        for (auto& dyn : d.Dyn)
            dyn = {-100, 10, 5, 4};
        for (auto& mix : d.OutMix)
            mix = {5, 6, 7, 8};
        d.Echo.Delay = 200;
        d.Reverb.Time = 50;
        for (auto& b : d.Band)
            b.Gain = -2.0f;
    }
    return d;
}

// Switches back and forth between the defaults and the other image.
void Switch(benchmark::State& state, int (*requestCount)())
{
    const DspParamsImage a = Defaults();
    const DspParamsImage b = Other(Difference(state.range(0)));
    DspParams = a;
    if (!WriteAllToDevice()) {
        state.SkipWithError("no box");
        return;
    }
    bool toB = true;
    const int before = requestCount();
    for (auto _ : state) {
        const DspParamsImage& from = toB ? a : b;
        DspParams = toB ? b : a;
        if (!SendChanges(from)) {
            state.SkipWithError("a request failed");
            return;
        }
        toB = !toB;
    }
    state.counters["requests"] = double(requestCount() - before) / double(state.iterations());
}

// ---- in-process box ----

InProcessBox* inProcess = nullptr;

int InProcessRequests() { return inProcess->Box.RequestCount; }

void BM_SwitchInProcess(benchmark::State& state)
{
    QuietUi ui;
    SetUserInterface(&ui);
    InProcessBox box;
    inProcess = &box;
    Hid() = HidPro{};
    Hid().SetPlatform(&box);
    Hid().OpenDevice();
    Switch(state, InProcessRequests);
    Hid().CloseDevice();
    Hid().SetPlatform(nullptr);
    SetUserInterface(nullptr);
}
BENCHMARK(BM_SwitchInProcess)->Arg(OneBand)->Arg(OneChannel)->Arg(Everything)->Unit(benchmark::kMicrosecond);

// ---- ktvtune-box over its socket ----

int socketRequests = 0;
int SocketRequests() { return socketRequests; }

// A ktvtune-box in a private directory for the length of one benchmark.
class SocketBox {
public:
    SocketBox()
    {
        char base[] = "/tmp/ktv-bench-XXXXXX";
        if (!mkdtemp(base))
            return;
        dir_ = base;
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen("/dev/null", "w", stdout);
            execl(KTV_BOX_EXE, KTV_BOX_EXE, "--dir", dir_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 400 && !std::filesystem::exists(dir_ + "/box-1.sock"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        platform_ = std::make_unique<LinuxHidPlatform>(dir_);
        platform_->UseHidapi = false;
    }
    ~SocketBox()
    {
        platform_.reset();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    LinuxHidPlatform* Platform() { return platform_.get(); }

private:
    std::string dir_;
    pid_t pid_ = -1;
    std::unique_ptr<LinuxHidPlatform> platform_;
};

// Counts what the transport writes, as the socket box's count is in its log.
class CountingPlatform final : public HidPlatform {
public:
    explicit CountingPlatform(HidPlatform& inner) : inner_(inner) {}
    std::vector<HidInterface> ListInterfaces() override { return inner_.ListInterfaces(); }
    PlatformHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool Write(PlatformHandle h, const Report& r) override
    {
        ++socketRequests;
        return inner_.Write(h, r);
    }
    bool Read(PlatformHandle h, Report& r, std::size_t& n, int t) override { return inner_.Read(h, r, n, t); }
    void Close(PlatformHandle h) override { inner_.Close(h); }
    std::uint32_t LastError() override { return inner_.LastError(); }

private:
    HidPlatform& inner_;
};

template <class Body>
void WithSocketBox(benchmark::State& state, Body body)
{
    QuietUi ui;
    SetUserInterface(&ui);
    SocketBox box;
    if (!box.Platform()) {
        state.SkipWithError("ktvtune-box did not start");
        return;
    }
    CountingPlatform counting(*box.Platform());
    Hid() = HidPro{};
    Hid().SetPlatform(&counting);
    Hid().OpenDevice();
    body();
    Hid().CloseDevice();
    Hid().SetPlatform(nullptr);
    SetUserInterface(nullptr);
}

void BM_SwitchSocket(benchmark::State& state)
{
    WithSocketBox(state, [&] { Switch(state, SocketRequests); });
}
BENCHMARK(BM_SwitchSocket)->Arg(OneBand)->Arg(OneChannel)->Arg(Everything)->Unit(benchmark::kMicrosecond);

void BM_WriteAllSocket(benchmark::State& state)
{
    WithSocketBox(state, [&] {
        DspParams = Other(Everything);
        const int before = socketRequests;
        for (auto _ : state)
            if (!WriteAllToDevice())
                state.SkipWithError("a request failed");
        state.counters["requests"] = double(socketRequests - before) / double(state.iterations());
    });
}
BENCHMARK(BM_WriteAllSocket)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

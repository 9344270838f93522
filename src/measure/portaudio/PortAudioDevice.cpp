#include "measure/portaudio/PortAudioDevice.h"

#include "measure/Dropout.h"
#include "measure/portaudio/SoundLibraryMessages.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <thread>

#include <portaudio.h>

namespace ktv::measure {

namespace {
std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool Fail(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
    return false;
}

// The device a name means: the default when empty, else the one of that
// exact name, else the only one whose name contains it.
PaDeviceIndex Find(const std::string& name, bool input, std::string* why)
{
    const auto fits = [&](const PaDeviceInfo* d) {
        return d && (input ? d->maxInputChannels : d->maxOutputChannels) > 0;
    };
    if (name.empty()) {
        const PaDeviceIndex d = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        if (d == paNoDevice)
            Fail(why, input ? "There is no default audio input; choose one." : "There is no default audio output; "
                                                                                 "choose one.");
        return d;
    }
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i)
        if (fits(Pa_GetDeviceInfo(i)) && Pa_GetDeviceInfo(i)->name == name)
            return i;
    PaDeviceIndex found = paNoDevice;
    for (int i = 0; i < count; ++i)
        if (fits(Pa_GetDeviceInfo(i)) && Lower(Pa_GetDeviceInfo(i)->name).find(Lower(name)) != std::string::npos) {
            if (found != paNoDevice) {
                Fail(why, "More than one audio " + std::string(input ? "input" : "output") + " is called '" + name +
                              "'; give more of the name.");
                return paNoDevice;
            }
            found = i;
        }
    if (found == paNoDevice)
        Fail(why, "There is no audio " + std::string(input ? "input" : "output") + " called '" + name + "'.");
    return found;
}

// A sweep needs no low latency: large buffers ride out the moments a busy
// computer leaves the audio thread waiting. The live analyser's meter is no
// worse for them either.
constexpr double kLatencySeconds = 0.25;

PaStreamParameters Mono(PaDeviceIndex d, bool input)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
    PaStreamParameters p{};
    p.device = d;
    p.channelCount = 1;
    p.sampleFormat = paFloat32;
    p.suggestedLatency =
        std::max(kLatencySeconds, input ? info->defaultHighInputLatency : info->defaultHighOutputLatency);
    return p;
}
} // namespace

struct PortAudioDevice::State {
    PaError init = paNoError;
    PaStream* outStream = nullptr;
    PaStream* inStream = nullptr;
    Fill fill;
    Take take;
};

PortAudioDevice::PortAudioDevice() : state_(std::make_unique<State>())
{
    // The sound libraries talk on the error stream as they probe (ALSA's
    // plugins, a JACK server that is not running); the user sees only ours.
    RouteSoundLibraryMessages();
    state_->init = Pa_Initialize();
}

PortAudioDevice::~PortAudioDevice()
{
    StopStream();
    if (state_->init == paNoError)
        Pa_Terminate();
}

bool PortAudioDevice::Ready(std::string* why) const
{
    if (state_->init == paNoError)
        return true;
    return Fail(why, std::string("The sound system could not start: ") + Pa_GetErrorText(state_->init));
}

std::vector<AudioEndpoint> PortAudioDevice::Endpoints()
{
    std::vector<AudioEndpoint> out;
    if (!Ready())
        return out;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
        if (!d)
            continue;
        AudioEndpoint e{d->name, d->maxInputChannels > 0, d->maxOutputChannels > 0,
                        i == Pa_GetDefaultInputDevice() || i == Pa_GetDefaultOutputDevice()};
        out.push_back(std::move(e));
    }
    return out;
}

namespace {
// One take, shared with the callbacks. They copy samples and note each
// block's count and flags: nothing that allocates, locks or waits.
struct Job {
    Job(const std::vector<float>& o, std::vector<float>& i, std::size_t n, double rate)
        : out(&o), in(&i), frames(n), played(rate), recorded(rate)
    {
    }
    const std::vector<float>* out;
    std::vector<float>* in;
    std::size_t frames;
    StreamWatch played, recorded;
    std::atomic<float> peak{0};
};

int PlayCallback(const void*, void* output, unsigned long n, const PaStreamCallbackTimeInfo*,
                 PaStreamCallbackFlags flags, void* user)
{
    auto* job = static_cast<Job*>(user);
    auto* o = static_cast<float*>(output);
    std::size_t at = job->played.Frames();
    for (unsigned long i = 0; i < n; ++i, ++at)
        o[i] = at < job->out->size() ? (*job->out)[at] : 0.0f;
    job->played.Block(n, flags);
    return paContinue;
}

int RecordCallback(const void* input, void*, unsigned long n, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags flags, void* user)
{
    auto* job = static_cast<Job*>(user);
    const auto* x = static_cast<const float*>(input);
    std::size_t at = job->recorded.Frames();
    float peak = 0;
    const auto take = static_cast<unsigned long>(std::min<std::size_t>(n, job->frames - std::min(at, job->frames)));
    for (unsigned long i = 0; i < take; ++i, ++at) {
        const float v = x ? x[i] : 0.0f;
        (*job->in)[at] = v;
        peak = std::max(peak, std::abs(v));
    }
    if (peak > job->peak.load(std::memory_order_relaxed))
        job->peak.store(peak, std::memory_order_relaxed);
    job->recorded.Block(take, flags);
    return at < job->frames ? paContinue : paComplete;
}

int FillCallback(const void*, void* output, unsigned long n, const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                 void* user)
{
    (*static_cast<AudioDevice::Fill*>(user))(static_cast<float*>(output), n);
    return paContinue;
}

int TakeCallback(const void* input, void*, unsigned long n, const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                 void* user)
{
    if (input)
        (*static_cast<AudioDevice::Take*>(user))(static_cast<const float*>(input), n);
    return paContinue;
}

void Close(PaStream*& s)
{
    if (!s)
        return;
    Pa_StopStream(s);
    Pa_CloseStream(s);
    s = nullptr;
}
} // namespace

bool PortAudioDevice::PlayRecord(const std::string& outName, const std::string& inName, double rate,
                                 const std::vector<float>& out, std::size_t frames, std::vector<float>& in,
                                 std::optional<Dropout>& dropout, const TakeProgress& progress, std::string* why)
{
    dropout.reset();
    if (!Ready(why))
        return false;
    const PaDeviceIndex o = Find(outName, false, why), i = Find(inName, true, why);
    if (o == paNoDevice || i == paNoDevice)
        return false;
    in.assign(frames, 0.0f);
    Job job(out, in, frames, rate);
    const PaStreamParameters op = Mono(o, false), ip = Mono(i, true);
    PaStream *os = nullptr, *is = nullptr;
    PaError e = Pa_OpenStream(&is, &ip, nullptr, rate, paFramesPerBufferUnspecified, paClipOff, RecordCallback, &job);
    if (e == paNoError)
        e = Pa_OpenStream(&os, nullptr, &op, rate, paFramesPerBufferUnspecified, paClipOff, PlayCallback, &job);
    // The recording runs before the sweep starts so that it holds all of
    // it: some hosts take a while to deliver the first input block.
    if (e == paNoError)
        e = Pa_StartStream(is);
    bool ok = e == paNoError;
    if (ok) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (job.recorded.Frames() == 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (job.recorded.Frames() == 0)
            ok = Fail(why, "The audio input delivers no sound; check the input device.");
    }
    if (ok) {
        e = Pa_StartStream(os);
        ok = e == paNoError;
    }
    if (ok) {
        const auto limit = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<long long>(frames / rate * 1000) + 5000);
        auto report = std::chrono::steady_clock::now();
        while (job.recorded.Frames() < frames) {
            if (std::chrono::steady_clock::now() > limit) {
                ok = Fail(why, "The audio input stopped delivering sound; check the input device.");
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (progress && std::chrono::steady_clock::now() >= report) {
                report += std::chrono::milliseconds(100);
                progress(job.recorded.Frames(), job.peak.exchange(0));
            }
        }
    } else if (e != paNoError) {
        Fail(why, std::string("The audio devices could not be opened at ") + std::to_string(int(rate)) +
                      " Hz: " + Pa_GetErrorText(e));
    }
    // The counts are taken before the output stops: it plays on into the tail.
    const std::size_t played = job.played.Frames(), recorded = job.recorded.Frames();
    Close(os);
    Close(is);
    if (!ok)
        return false;
    if (progress)
        progress(recorded, job.peak.exchange(0));
    // The input's breaks spoil the take wherever they fall; the output's only
    // while it still had sweep to play (after that it plays silence).
    dropout = job.recorded.First();
    if (!dropout && job.played.FirstFrame() < out.size())
        dropout = job.played.First();
    if (!dropout)
        dropout = CheckCounts(played, out.size(), recorded, frames, rate);
    return true;
}

bool PortAudioDevice::StartStream(const std::string& outName, const std::string& inName, double rate, Fill fill,
                                  Take take, std::string* why)
{
    StopStream();
    if (!Ready(why))
        return false;
    const PaDeviceIndex o = Find(outName, false, why), i = Find(inName, true, why);
    if (o == paNoDevice || i == paNoDevice)
        return false;
    state_->fill = std::move(fill);
    state_->take = std::move(take);
    const PaStreamParameters op = Mono(o, false), ip = Mono(i, true);
    PaError e = Pa_OpenStream(&state_->inStream, &ip, nullptr, rate, paFramesPerBufferUnspecified, paClipOff,
                              TakeCallback, &state_->take);
    if (e == paNoError)
        e = Pa_OpenStream(&state_->outStream, nullptr, &op, rate, paFramesPerBufferUnspecified, paClipOff,
                          FillCallback, &state_->fill);
    if (e == paNoError)
        e = Pa_StartStream(state_->inStream);
    if (e == paNoError)
        e = Pa_StartStream(state_->outStream);
    if (e != paNoError) {
        StopStream();
        return Fail(why, std::string("The audio devices could not be opened: ") + Pa_GetErrorText(e));
    }
    return true;
}

void PortAudioDevice::StopStream()
{
    Close(state_->outStream);
    Close(state_->inStream);
}

} // namespace ktv::measure

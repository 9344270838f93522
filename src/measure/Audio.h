#pragma once
// The sound card as the measurement sees it. The real one is PortAudio's;
// tests use a simulated room.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ktv::measure {

struct AudioEndpoint {
    std::string Name;
    bool Input = false, Output = false;
    bool Default = false; // the system's default for its direction
};

class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    virtual std::vector<AudioEndpoint> Endpoints() = 0;
    // Plays `out` (mono) on the output while recording `frames` samples from
    // the input, both at `rate`; blocks until done. Not for the window thread.
    virtual bool PlayRecord(const std::string& outName, const std::string& inName, double rate,
                            const std::vector<float>& out, std::size_t frames, std::vector<float>& in,
                            std::string* why) = 0;
    // Streams until StopStream: `fill` gives the output's next samples,
    // `take` receives the input's. Both are called on the audio thread.
    using Fill = std::function<void(float* out, std::size_t frames)>;
    using Take = std::function<void(const float* in, std::size_t frames)>;
    virtual bool StartStream(const std::string& outName, const std::string& inName, double rate, Fill fill, Take take,
                             std::string* why) = 0;
    virtual void StopStream() = 0;
};

} // namespace ktv::measure

#pragma once
// The sound card as the measurement sees it. The real one is PortAudio's;
// tests use a simulated room.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ktv::measure {

struct AudioEndpoint {
    std::string Name;
    bool Input = false, Output = false;
    bool Default = false; // the system's default for its direction
};

// A break in a take's sound: blocks the card dropped or frames that went
// missing. Such a take is measured again, never reported.
struct Dropout {
    double AtSeconds = 0; // into the recording
    std::string What;     // what gave it away, as "the output ran dry"
};

// Called on the measuring thread a few times a second while a take runs:
// frames recorded so far and the input's peak (linear) since the last call.
using TakeProgress = std::function<void(std::size_t recorded, float peak)>;

class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    virtual std::vector<AudioEndpoint> Endpoints() = 0;
    // Plays `out` (mono) on the output while recording `frames` samples from
    // the input, both at `rate`; blocks until done. Not for the window thread.
    // False with the reason when the devices could not be used; a take that
    // ran but dropped out is true, with `dropout` set.
    virtual bool PlayRecord(const std::string& outName, const std::string& inName, double rate,
                            const std::vector<float>& out, std::size_t frames, std::vector<float>& in,
                            std::optional<Dropout>& dropout, const TakeProgress& progress, std::string* why) = 0;
    // Streams until StopStream: `fill` gives the output's next samples,
    // `take` receives the input's. Both are called on the audio thread.
    using Fill = std::function<void(float* out, std::size_t frames)>;
    using Take = std::function<void(const float* in, std::size_t frames)>;
    virtual bool StartStream(const std::string& outName, const std::string& inName, double rate, Fill fill, Take take,
                             std::string* why) = 0;
    virtual void StopStream() = 0;
};

} // namespace ktv::measure

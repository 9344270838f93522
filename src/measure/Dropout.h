#pragma once
// Telling a spoilt take from a clean one: what the sound card's callbacks
// say (their flags), whether the frame counts add up, and whether the
// recording holds the whole sweep without a break.

#include "measure/Audio.h"
#include "measure/Sweep.h"

#include <atomic>
#include <cstddef>
#include <optional>
#include <vector>

namespace ktv::measure {

// The stream callback's status flags, numbered as PortAudio numbers them.
enum StreamFlag : unsigned {
    kInputUnderflow = 0x1,
    kInputOverflow = 0x2,
    kOutputUnderflow = 0x4,
    kOutputOverflow = 0x8,
};

// Watches one stream's callbacks. Block() is made for the audio thread: it
// allocates nothing and takes no lock; Frames() and First() may be asked
// from another thread meanwhile. (The blocks' times are no evidence: over
// PulseAudio's ALSA plugin single blocks come tens of milliseconds off
// their place with no frame lost.)
class StreamWatch {
public:
    explicit StreamWatch(double rate) : rate_(rate) {}

    // One callback of `frames` frames with the host's flags.
    void Block(std::size_t frames, unsigned flags) noexcept;

    std::size_t Frames() const noexcept { return frames_.load(std::memory_order_acquire); }
    // The first dropout seen, if any, and the frame its block started at
    // (or npos).
    std::optional<Dropout> First() const;
    std::size_t FirstFrame() const noexcept;

private:
    double rate_;
    std::atomic<std::size_t> frames_{0}, at_{0};
    std::atomic<int> kind_{0};
};

// The counts of one take: by the time the recording holds `frames` frames
// the output must have played all `sweepFrames`.
[[nodiscard]] std::optional<Dropout> CheckCounts(std::size_t played, std::size_t sweepFrames, std::size_t recorded,
                                                 std::size_t frames, double rate);

// A break in the recording that no stream reported: `ir` is Deconvolve's
// answer for `recording`. Looks for a stretch where the sweep should sound
// and the recording is silent (the output ran dry), a stretch the sweep
// through that response does not explain (a jump in time longer than the
// gate), and a sweep that runs past the recording's end.
[[nodiscard]] std::optional<Dropout> FindBreak(const std::vector<float>& recording, const std::vector<double>& ir,
                                               const SweepPlan& plan, double gateMs);

} // namespace ktv::measure

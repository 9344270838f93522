#pragma once
// A room in software: the output passes through a few resonances, a delay and
// a gain, and noise is added at a set signal-to-noise ratio. Stands in for
// the sound card in tests and in the window's tests.

#include "measure/Audio.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace ktv::measure {

struct Resonance {
    double Hz, GainDb, Q;
};

struct RoomModel {
    std::vector<Resonance> Resonances;
    double DelayMs = 0;
    double GainDb = 0;
    double SnrDb = 200;   // noise RMS this far below the recorded signal's RMS
    std::uint32_t Seed = 7;
    // The first DroppedTakes takes drop out, as a card that missed its
    // deadline: DropAtSeconds into the sweep the output goes silent for
    // DropMs and plays the rest late. With DropReported the card says so
    // (an output underflow); without, only the recording shows it.
    int DroppedTakes = 0;
    double DropAtSeconds = 1.0, DropMs = 30;
    bool DropReported = true;
    // Takes last as long as on a real card (for the window's progress).
    bool RealTime = false;
};

class SimulatedRoom final : public AudioDevice {
public:
    explicit SimulatedRoom(RoomModel model) : model_(std::move(model)) {}
    ~SimulatedRoom() override { StopStream(); }

    // The room's true magnitude at `hz` (resonances and gain), for comparison.
    double TrueDb(double hz, double rate) const;
    // What the room makes of `out`, `frames` long.
    std::vector<float> Pass(const std::vector<float>& out, std::size_t frames, double rate) const;

    std::vector<AudioEndpoint> Endpoints() override;
    bool PlayRecord(const std::string& outName, const std::string& inName, double rate, const std::vector<float>& out,
                    std::size_t frames, std::vector<float>& in, std::optional<Dropout>& dropout,
                    const TakeProgress& progress, std::string* why) override;
    bool StartStream(const std::string& outName, const std::string& inName, double rate, Fill fill, Take take,
                     std::string* why) override;
    void StopStream() override;

    int PlayRecordCalls() const { return calls_; }

private:
    RoomModel model_;
    int calls_ = 0;
    std::thread stream_;
    std::atomic<bool> stop_{false};
};

} // namespace ktv::measure

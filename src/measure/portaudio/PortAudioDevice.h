#pragma once
// The sound card through PortAudio: mono float streams on the devices named
// as PortAudio names them, the system's defaults when no name is given.

#include "measure/Audio.h"

#include <memory>

namespace ktv::measure {

class PortAudioDevice final : public AudioDevice {
public:
    PortAudioDevice();
    ~PortAudioDevice() override;

    // False with the reason when PortAudio could not start.
    bool Ready(std::string* why = nullptr) const;

    std::vector<AudioEndpoint> Endpoints() override;
    bool PlayRecord(const std::string& outName, const std::string& inName, double rate, const std::vector<float>& out,
                    std::size_t frames, std::vector<float>& in, std::optional<Dropout>& dropout,
                    const TakeProgress& progress, std::string* why) override;
    bool StartStream(const std::string& outName, const std::string& inName, double rate, Fill fill, Take take,
                     std::string* why) override;
    void StopStream() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace ktv::measure

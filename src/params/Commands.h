#pragma once
// One send operation per write command: each copies its fields out of
// DspParams, hands the payload to the transport, reads the reply and leaves
// "Read:Ok!", "Read:fault!" or "Write:fault!" in status panel 1.

#include "params/Gloable.h"
#include "protocol/CommandTable.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ktv {

// The payloads as the box receives them, built from DspParams. The read-all
// decodes the box's replies with the matching Decode functions.
void BuildSystemPayload(std::uint8_t* payload);   // SystemPayloadSize bytes
void BuildEffectsPayload(std::uint8_t* payload);  // EffectsPayloadSize bytes
void DecodeSystemReply(const std::uint8_t* payload, DspParamsImage& image = DspParams);
void DecodeEffectsReply(const std::uint8_t* payload, DspParamsImage& image = DspParams);

// The command that carries settings fields (params/ImageFields), with the
// element `index` picks for an indexed one; System and Effects send their block.
bool SendFieldCommand(DspCommand command, std::uint8_t index = 0);
[[nodiscard]] bool SendSystem();
[[nodiscard]] bool SendEffects();
bool SendMute();
bool SendMasterVolume();
bool SendPeqBands(std::uint8_t first, std::uint8_t count);
// A run of bands longer than one request takes: PeqBands requests of at most
// six bands, in order, stopping at the first that fails.
bool SendBandRun(std::uint8_t first, std::uint8_t count);
bool SendFbx();
bool SendPitch();
bool SendInput();
bool SendNoiseGate(std::uint8_t i);
bool SendEqBypass(std::uint8_t first, std::uint8_t count);
bool SendDelay();
bool SendDynamics(std::uint8_t i);
bool SendFactoryMode(std::uint8_t mode, std::uint8_t slot);
bool SendLink(std::uint8_t on);
bool SendOutputMix(std::uint8_t group);
bool SendMaxVolume();
bool SendEcho();
bool SendReverb();

// Runs after every write request, whatever its outcome: the window gathers
// the edits between two returns to its event loop into one undo step.
void SetSendListener(std::function<void()> listener);

// While one lives, write commands send nothing and report success: the
// window reloads its controls from a restored image, and their reactions
// must not reach the box (the restore sends what it needs itself).
class HoldSends {
public:
    HoldSends();
    ~HoldSends();
    HoldSends(const HoldSends&) = delete;
    HoldSends& operator=(const HoldSends&) = delete;
};

// Reads the whole state of the box into DspParams: nine exchanges, 10 ms
// apart. False at the first failed exchange or unexpected reply; DspParams
// changes only when all nine went through.
[[nodiscard]] bool ReadAllFromDevice();
// The same nine exchanges into `image` only, for a look at the box that
// leaves the window's image alone: fields no reply carries keep their value,
// and a failure leaves `image` part read.
[[nodiscard]] bool ReadBoxImage(DspParamsImage& image);
// Sends the whole image: nine requests, 20 ms apart. False at the first
// failed request; nothing after it is sent.
[[nodiscard]] bool WriteAllToDevice();

// "Set factory mode": write-all, then FactoryMode (1, slot).
enum class SlotOutcome { Ok, WriteAllFailed, CommandFailed, ReadAllFailed };
[[nodiscard]] SlotOutcome StoreSlot(std::uint8_t slot);
// "Reset factory mode": FactoryMode (2, slot), 100 ms, read-all.
[[nodiscard]] SlotOutcome RecallSlot(std::uint8_t slot);

} // namespace ktv

#pragma once
// Every command the box knows: its name, how long its request is and what
// its reply carries. The PC's send operations, the virtual box and the
// tools' logs take lengths and names from here.

#include "protocol/Wire.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ktv {

struct CommandInfo {
    DspCommand Command;
    const char* Name;
    // Request payload length, code included; for a band run, without its bands.
    std::size_t Length;
    // What each band of a run adds to the request (0: a fixed length).
    std::size_t BandBytes;
    // The command whose payload shape the reply has: a write is answered
    // with its own payload, a read with the block it asks for.
    DspCommand Reply;
};

inline constexpr std::array<CommandInfo, 21> CommandTable{{
    {DspCommand::System, "System", SystemBlock::Size, 0, DspCommand::System},
    {DspCommand::Effects, "Effects", EffectsBlock::Size, 0, DspCommand::Effects},
    {DspCommand::Mute, "Mute", 2, 0, DspCommand::Mute},
    {DspCommand::MasterVolume, "MasterVolume", 4, 0, DspCommand::MasterVolume},
    {DspCommand::PeqBands, "PeqBands", RunDataAt, BandRecordSize, DspCommand::PeqBands},
    {DspCommand::Fbx, "Fbx", 2, 0, DspCommand::Fbx},
    {DspCommand::Pitch, "Pitch", 2, 0, DspCommand::Pitch},
    {DspCommand::Input, "Input", 2, 0, DspCommand::Input},
    {DspCommand::NoiseGate, "NoiseGate", IndexedDataAt + 2, 0, DspCommand::NoiseGate},
    {DspCommand::EqBypass, "EqBypass", RunDataAt, 1, DspCommand::EqBypass},
    {DspCommand::Delay, "Delay", 1 + 2 * OutputLineCount, 0, DspCommand::Delay},
    {DspCommand::Dynamics, "Dynamics", IndexedDataAt + DynamicsWireSize, 0, DspCommand::Dynamics},
    {DspCommand::FactoryMode, "FactoryMode", 3, 0, DspCommand::FactoryMode},
    {DspCommand::Link, "Link", 2, 0, DspCommand::Link},
    {DspCommand::OutputMix, "OutputMix", IndexedDataAt + OutputMixWireSize, 0, DspCommand::OutputMix},
    {DspCommand::MaxVolume, "MaxVolume", 1 + MaxVolumeCount, 0, DspCommand::MaxVolume},
    {DspCommand::Echo, "Echo", 1 + EchoWireSize, 0, DspCommand::Echo},
    {DspCommand::Reverb, "Reverb", 1 + ReverbWireSize, 0, DspCommand::Reverb},
    {DspCommand::ReadSystem, "ReadSystem", 1, 0, DspCommand::System},
    {DspCommand::ReadEffects, "ReadEffects", 1, 0, DspCommand::Effects},
    {DspCommand::ReadPeqBands, "ReadPeqBands", RunDataAt, 0, DspCommand::PeqBands},
}};

// The entry of a code the box knows; nullptr for any other byte.
constexpr const CommandInfo* FindCommand(std::uint8_t code)
{
    for (const CommandInfo& c : CommandTable)
        if (Code(c.Command) == code)
            return &c;
    return nullptr;
}

constexpr const CommandInfo& Info(DspCommand command) { return *FindCommand(Code(command)); }

// Request payload length; `bands` counts the bands of a run.
constexpr std::size_t RequestLength(DspCommand command, std::size_t bands = 0)
{
    const CommandInfo& c = Info(command);
    return c.Length + c.BandBytes * bands;
}

// Reply payload length, for a band read the length of `bands` records.
constexpr std::size_t ReplyLength(DspCommand command, std::size_t bands = 0)
{
    return RequestLength(Info(command).Reply, bands);
}

// "PeqBands", "Link", ...; nullptr for an unknown code.
const char* CommandName(std::uint8_t code);
// A command by its name, compared without regard to case.
std::optional<DspCommand> CommandByName(std::string_view name);

} // namespace ktv

#pragma once
// The box's side of the protocol, without hardware: takes a 65-byte output
// report and answers with the input report a real box would send. It keeps
// its own settings (system block, effects block, 39 band records) and eight
// preset slots, logs every exchange, and can be told to misbehave.

#include "protocol/Wire.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktv {

class VirtualBox {
public:
    static constexpr int SlotCount = ktv::SlotCount;
    static constexpr std::size_t SystemBlockSize = SystemBlock::Size;
    static constexpr std::size_t EffectsBlockSize = EffectsBlock::Size;
    static constexpr std::size_t BandBlockSize = ktv::BandBlockSize;

    struct Settings {
        std::array<std::uint8_t, SystemBlockSize> System{};   // byte 0 = the System code
        std::array<std::uint8_t, EffectsBlockSize> Effects{}; // byte 0 = the Effects code
        std::array<std::uint8_t, BandBlockSize> Bands{};      // 39 band records
        bool operator==(const Settings&) const = default;
    };

    enum class Fault {
        None,
        Silent,          // no reply at all
        BadChecksum,     // reply checksum off by one
        WrongAddress,    // reply device address 2
        WrongLength,     // reply length byte off by one
        WrongReplyCode,  // first reply payload byte changed
        ShortReport,     // reply datagram cut to 10 bytes
        ForeignBandRun,  // band replies name first band + 1
        ForeignBandCount, // band replies name count + 1 (more records than they hold)
    };
    struct FaultPlan {
        Fault Kind = Fault::None;
        int FromRequest = 1;                      // 1-based request number it starts at
        std::optional<std::uint8_t> OnlyCommand;  // only requests with this command byte
        int UntilRequest = std::numeric_limits<int>::max(); // last request it strikes

        // Whether the plan bends the reply to request number `request`.
        bool Strikes(int request, std::uint8_t command) const;
    };
    // "silent", "bad-checksum", ...: the faults as ktvtune-box's --fault names them.
    static const char* FaultName(Fault kind);
    static std::optional<Fault> FaultByName(std::string_view name);

    struct Exchange {
        std::vector<std::uint8_t> Request; // the 65 bytes received
        std::vector<std::uint8_t> Reply;   // what was sent back (empty when silent)
        bool Valid = false;                // request passed the box's checks
        std::string Note;                  // why it was refused, or the fault applied
    };

    VirtualBox();

    // The settings of a box fresh from the factory: the encoding of the
    // default parameter image.
    static Settings DefaultSettings();

    // Handles one output report; returns the input report to send back (empty:
    // stay silent). A request that fails the box's checks gets no answer.
    std::vector<std::uint8_t> Handle(const std::uint8_t* report, std::size_t size);

    Settings Current;
    std::array<Settings, SlotCount> Slots{};
    bool Linked = false;
    FaultPlan Faults;
    std::vector<Exchange> Log;
    int RequestCount = 0;

    // Payloads (bytes 4..3+L) of the valid requests received, in order.
    std::vector<std::vector<std::uint8_t>> ReceivedPayloads() const;

    // One line for a log: request and reply in hex, and what the box made of it.
    static std::string Describe(const Exchange& exchange);

    // Settings and slots as bytes, for --state files.
    std::vector<std::uint8_t> SaveState() const;
    bool LoadState(const std::vector<std::uint8_t>& bytes);
};

} // namespace ktv

#include "sim/VirtualBoxFaults.h"

#include <array>

namespace ktv {
namespace {

using Fault = VirtualBox::Fault;
using Bytes = std::vector<std::uint8_t>;

// A reply shorter than any valid one.
constexpr std::size_t ShortReportSize = 10;

struct FaultEntry {
    Fault Kind;
    const char* Name; // as --fault takes it
    const char* Note; // as the log shows it
    bool BandReadsOnly;
    void (*Bend)(Bytes& reply);
};

std::uint8_t& LengthByte(Bytes& r) { return r[FrameLengthAt]; }
std::uint8_t& ChecksumByte(Bytes& r) { return r[FramePayloadAt + LengthByte(r)]; }
// After a change to the payload, so only the content is wrong.
void Resum(Bytes& r) { ChecksumByte(r) = Checksum(&r[FramePayloadAt], LengthByte(r)); }

constexpr std::array<FaultEntry, 8> FaultTable{{
    {Fault::Silent, "silent", "fault: silent", false, [](Bytes& r) { r.clear(); }},
    {Fault::BadChecksum, "bad-checksum", "fault: bad checksum", false, [](Bytes& r) { ++ChecksumByte(r); }},
    {Fault::WrongAddress, "wrong-address", "fault: address 2", false,
     [](Bytes& r) { r[FrameAddressAt] = BoxAddress + 1; }},
    {Fault::WrongLength, "wrong-length", "fault: length byte + 1", false, [](Bytes& r) { ++LengthByte(r); }},
    {Fault::WrongReplyCode, "wrong-reply-code", "fault: reply code changed", false,
     [](Bytes& r) {
         r[FramePayloadAt] ^= 0x80;
         Resum(r);
     }},
    {Fault::ShortReport, "short-report", "fault: short report", false, [](Bytes& r) { r.resize(ShortReportSize); }},
    {Fault::ForeignBandRun, "foreign-band-run", "fault: first band + 1", true,
     [](Bytes& r) {
         ++r[FramePayloadAt + RunFirstAt];
         Resum(r);
     }},
    {Fault::ForeignBandCount, "foreign-band-count", "fault: count + 1", true,
     [](Bytes& r) {
         ++r[FramePayloadAt + RunCountAt];
         Resum(r);
     }},
}};

const FaultEntry* Find(Fault kind)
{
    for (const FaultEntry& f : FaultTable)
        if (f.Kind == kind)
            return &f;
    return nullptr;
}

} // namespace

std::string InjectFault(Fault kind, std::uint8_t command, std::vector<std::uint8_t>& reply)
{
    const FaultEntry* f = Find(kind);
    if (!f || (f->BandReadsOnly && command != Code(DspCommand::ReadPeqBands)))
        return {};
    f->Bend(reply);
    return f->Note;
}

bool VirtualBox::FaultPlan::Strikes(int request, std::uint8_t command) const
{
    return Kind != Fault::None && request >= FromRequest && request <= UntilRequest &&
           (!OnlyCommand || *OnlyCommand == command);
}

const char* VirtualBox::FaultName(Fault kind)
{
    const FaultEntry* f = Find(kind);
    return f ? f->Name : "none";
}

std::optional<Fault> VirtualBox::FaultByName(std::string_view name)
{
    for (const FaultEntry& f : FaultTable)
        if (name == f.Name)
            return f.Kind;
    return std::nullopt;
}

} // namespace ktv

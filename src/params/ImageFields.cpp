#include "params/ImageFields.h"

#include "protocol/DapLayout.h"

#include <algorithm>
#include <optional>

namespace ktv {
namespace {

using namespace fields;
// ---- checked while compiling: the table against the blocks and the commands ----

// Every element is as wide as its members, every field has a name per element.
constexpr bool RowsAreWhole()
{
    for (const ImageField& f : Table) {
        if (WireSize(f.Members) != f.Stride || f.Names.size() != std::size_t(f.Count))
            return false;
        std::size_t covered = 0;
        for (const FieldMember& m : f.Members)
            covered += m.Width;
        if (covered != f.Stride) // members overlap or leave a hole
            return false;
    }
    return true;
}
static_assert(RowsAreWhole(), "each element's members tile its wire form, each element has a name");

// The fields of a block cover it from byte 1 to its end without overlap,
// but for the System block's unused bytes.
constexpr bool Tiles(ImageBlock block, std::size_t size, std::size_t gapAt, std::size_t gapSize)
{
    std::array<int, MaxPayloadLength> uses{};
    for (const ImageField& f : Table)
        if (f.Block == block)
            for (std::size_t i = 0; i < f.Stride * std::size_t(f.Count); ++i) {
                if (f.At + i >= size)
                    return false;
                ++uses[f.At + i];
            }
    for (std::size_t i = 1; i < size; ++i)
        if (uses[i] != ((i >= gapAt && i < gapAt + gapSize) ? 0 : 1))
            return false;
    return uses[0] == 0;
}
static_assert(Tiles(ImageBlock::System, SystemBlock::Size, SystemBlock::Mute + 1, Dap::SystemGap));
static_assert(Tiles(ImageBlock::Effects, EffectsBlock::Size, 0, 0));

// What a field-carrying command sends is as long as its request.
constexpr bool SpansMatchRequests()
{
    for (std::size_t i = 0; i < CommandTable.size(); ++i) {
        const auto& s = Spans[i];
        if (s && RequestLength(CommandTable[i].Command) != (s->Indexed ? IndexedDataAt : 1) + s->Length)
            return false;
    }
    return true;
}
static_assert(SpansMatchRequests(), "each command's request carries exactly its fields");

void Put(const FieldMember& m, void* element, std::uint8_t* at)
{
    const auto v = std::uint16_t(ReadValue(m.Ref(element)));
    at[m.At] = std::uint8_t(v);
    if (m.Width == 2)
        at[m.At + 1] = std::uint8_t(v >> 8);
}

void Take(const FieldMember& m, const std::uint8_t* at, void* element)
{
    WriteValue(m.Ref(element), m.Width == 2 ? int(GetU16(at + m.At)) : int(at[m.At]));
}

// Reading an element through the table's accessors, which take it writable.
void* Element(const ImageField& f, const DspParamsImage& image, int i)
{
    return f.Element(const_cast<DspParamsImage&>(image), i);
}

void PutRecord(std::span<const FieldMember> members, const void* record, std::uint8_t* p)
{
    for (const FieldMember& m : members)
        Put(m, const_cast<void*>(record), p);
}

void TakeRecord(std::span<const FieldMember> members, const std::uint8_t* p, void* record)
{
    for (const FieldMember& m : members)
        Take(m, p, record);
}

} // namespace


int FieldValue(const ImageField& f, const FieldMember& m, const DspParamsImage& image, int i)
{
    return ReadValue(m.Ref(Element(f, image, i)));
}

ValueRef MemberRef(const ImageField& f, const FieldMember& m, DspParamsImage& image, int i)
{
    return m.Ref(f.Element(image, i));
}

void PutField(const ImageField& f, const DspParamsImage& image, std::uint8_t* first)
{
    for (int i = 0; i < f.Count; ++i)
        PutRecord(f.Members, Element(f, image, i), first + f.Stride * std::size_t(i));
}

void TakeField(const ImageField& f, const std::uint8_t* first, DspParamsImage& image)
{
    for (int i = 0; i < f.Count; ++i)
        TakeRecord(f.Members, first + f.Stride * std::size_t(i), f.Element(image, i));
}


// ---- the records' codecs, from their members ----

void EncodeDynamics(const DynamicsParams& d, std::uint8_t* p) { PutRecord(DynamicsMembers, &d, p); }
void DecodeDynamics(const std::uint8_t* p, DynamicsParams& d) { TakeRecord(DynamicsMembers, p, &d); }
void EncodeReverb(const ReverbParams& r, std::uint8_t* p) { PutRecord(ReverbMembers, &r, p); }
void DecodeReverb(const std::uint8_t* p, ReverbParams& r) { TakeRecord(ReverbMembers, p, &r); }
void EncodeEcho(const EchoParams& e, std::uint8_t* p) { PutRecord(EchoMembers, &e, p); }
void DecodeEcho(const std::uint8_t* p, EchoParams& e) { TakeRecord(EchoMembers, p, &e); }
void EncodeOutputMix(const OutputMixParams& m, std::uint8_t* p) { PutRecord(OutputMixMembers, &m, p); }
void DecodeOutputMix(const std::uint8_t* p, OutputMixParams& m) { TakeRecord(OutputMixMembers, p, &m); }

} // namespace ktv

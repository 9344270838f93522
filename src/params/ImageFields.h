#pragma once
// Every settings field of the parameter image, a row each: its key (the
// image member, the name `dump` prints), where its bytes sit in the System or
// Effects block, the command that carries it alone, which loads restore it,
// and the names and display of its values in the compare window. The block
// codecs, the .dap codec, the single-field sends, the virtual box's stores,
// the image comparison and the JSON dump all walk this table; the band
// records have their own codec (EncodeBandRecord).

#include "params/Gloable.h"
#include "protocol/CommandTable.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <variant>

namespace ktv {

// A value of the image, whatever its width and sign.
using ValueRef = std::variant<std::uint8_t*, std::int8_t*, std::uint16_t*, std::int16_t*>;

[[nodiscard]] inline int ReadValue(ValueRef v)
{
    return std::visit([](auto* f) { return int(*f); }, v);
}
inline void WriteValue(ValueRef v, int value)
{
    std::visit([value](auto* f) { *f = std::remove_pointer_t<decltype(f)>(value); }, v);
}

enum class ImageBlock : std::uint8_t { System, Effects };

// How the compare window and `ktvtune-cli diff` show a value.
enum class Shown : std::uint8_t { Number, Decimal, Type, YesNo, Mix, Input };

// One value of a field's element: the field itself for a plain value, a
// member for a record (dynamics, output mix, reverb, echo).
struct FieldMember {
    const char* Key = nullptr;  // JSON key inside the record; none for a plain value
    std::size_t At = 0;         // byte in the element's wire form
    std::size_t Width = 1;      // 1 or 2 bytes, little-endian
    const char* What = nullptr; // the compare window's name ("pre-delay"); none: the element's own
    bool Spare = false;         // a word or byte with no known use: compared after the named ones
    Shown Show = Shown::Number;
    int Min = 0, Max = 0;       // the range the window offers
    ValueRef (*Ref)(void* element) = nullptr;
};

// A bit group of a plain value shown on its own ("Mute MAIN L").
struct FieldBits {
    const char* What;
    int Shift;
    int Bits;
    Shown Show;
};

// The compare window's name of one element: "Mic" "max volume", "Delay" "MAIN L".
struct ElementName {
    const char* Owner;
    const char* What = "";
};

struct ImageField {
    const char* Key; // "MicVol", "Dyn": the image member and the JSON key
    ImageBlock Block;
    std::size_t At;     // first byte in the block
    int Count;          // elements: 1 for a single value or record
    std::size_t Stride; // wire bytes per element
    // The command that sends the field on its own. Its request carries the
    // code, then (for an indexed command) the element's index and that
    // element, or else the block's bytes of every field it carries.
    DspCommand Command;
    bool Indexed;
    bool Preset;  // restored by loading a preset (volumes, mute, pitch, input are not)
    bool Replied; // refreshed by the ReadSystem / ReadEffects reply
    void* (*Element)(DspParamsImage& image, int i);
    std::span<const FieldMember> Members;
    std::span<const ElementName> Names; // Count names; a record's names are its owners
    std::span<const FieldBits> Bits;    // when compared bit group by bit group
};


// The value of a field's element member in an image the caller may only read.
[[nodiscard]] int FieldValue(const ImageField& f, const FieldMember& m, const DspParamsImage& image, int i);
[[nodiscard]] ValueRef MemberRef(const ImageField& f, const FieldMember& m, DspParamsImage& image, int i);

// Writes or reads the field's elements from `first` on: in a block (the
// System or Effects payload, code in byte 0) that is block + f.At.
void PutField(const ImageField& f, const DspParamsImage& image, std::uint8_t* first);
void TakeField(const ImageField& f, const std::uint8_t* first, DspParamsImage& image);

// Where a field-carrying command's bytes sit: the block, the first byte, how
// many bytes, and for an indexed command the size of one element.
struct CommandSpan {
    ImageBlock Block;
    std::size_t At;
    std::size_t Length;
    bool Indexed;
    int Count; // elements an index may pick
};

// ---- the table ----
namespace fields {

template <class> struct RecordOf;
template <class T, class Record> struct RecordOf<T Record::*> {
    using Type = Record;
    using Value = T;
};

// A plain value of type T: the element itself.
template <class T>
inline constexpr FieldMember Plain(Shown show, int min, int max)
{
    return {.Width = sizeof(T), .Show = show, .Min = min, .Max = max,
            .Ref = [](void* e) -> ValueRef { return static_cast<T*>(e); }};
}

// A member of a record, at byte `at` of the record's wire form.
template <auto M>
inline constexpr FieldMember Member(const char* key, std::size_t at, const char* what, int min, int max,
                             Shown show = Shown::Number)
{
    using R = typename RecordOf<decltype(M)>::Type;
    return {.Key = key, .At = at, .Width = sizeof(typename RecordOf<decltype(M)>::Value), .What = what,
            .Show = show, .Min = min, .Max = max,
            .Ref = [](void* e) -> ValueRef { return &(static_cast<R*>(e)->*M); }};
}

// A word or byte whose use is not known: kept, compared and dumped, never shown on a page.
template <auto M>
inline constexpr FieldMember Spare(const char* key, std::size_t at, const char* what)
{
    FieldMember m = Member<M>(key, at, what, 0, sizeof(typename RecordOf<decltype(M)>::Value) == 1 ? 0xFF : 0xFFFF);
    m.Spare = true;
    return m;
}

// ---- the records' members, in the image's member order (the JSON order) ----

inline constexpr FieldMember DynamicsMembers[]{
    Member<&DynamicsParams::Threshold>("Threshold", 0, "threshold", -300, 0),
    Member<&DynamicsParams::Attack>("Attack", 2, "attack", 1, 100),
    Member<&DynamicsParams::Release>("Release", 4, "release", 1, 100),
    Member<&DynamicsParams::Ratio>("Ratio", 5, "ratio", 1, 100),
};

inline constexpr FieldMember OutputMixMembers[]{
    Member<&OutputMixParams::MicVol>("MicVol", 0, "mic level", 0, 100, Shown::Mix),
    Member<&OutputMixParams::MusicVol>("MusicVol", 1, "music level", 0, 100, Shown::Mix),
    Member<&OutputMixParams::EchoVol>("EchoVol", 2, "echo level", 0, 100, Shown::Mix),
    Member<&OutputMixParams::ReverbVol>("ReverbVol", 3, "reverb level", 0, 100, Shown::Mix),
};

// PreDelay travels before EarlyLate.
inline constexpr FieldMember ReverbMembers[]{
    Spare<&ReverbParams::Word1>("Word1", 0, "word 1"), Spare<&ReverbParams::Word2>("Word2", 2, "word 2"),
    Member<&ReverbParams::EarlyLate>("EarlyLate", 5, "early/late", 0, 100),
    Spare<&ReverbParams::Byte1>("Byte1", 6, "byte 1"),
    Member<&ReverbParams::PreDelay>("PreDelay", 4, "pre-delay", 0, 100),
    Spare<&ReverbParams::Byte2>("Byte2", 7, "byte 2"),
    Member<&ReverbParams::Time>("Time", 8, "time", 0, 100), Member<&ReverbParams::Damp>("Damp", 9, "damp", 0, 100),
    Spare<&ReverbParams::Byte3>("Byte3", 10, "byte 3"),
};

inline constexpr FieldMember EchoMembers[]{
    Spare<&EchoParams::Word1>("Word1", 0, "word 1"), Spare<&EchoParams::Word2>("Word2", 2, "word 2"),
    Member<&EchoParams::PreDelay>("PreDelay", 4, "pre-delay", 0, 100), Spare<&EchoParams::Byte1>("Byte1", 5, "byte 1"),
    Member<&EchoParams::Delay>("Delay", 6, "delay", 0, 300), Spare<&EchoParams::Word3>("Word3", 8, "word 3"),
    Member<&EchoParams::Repeat>("Repeat", 10, "repeat", 0, 90), Spare<&EchoParams::Byte2>("Byte2", 11, "byte 2"),
    Member<&EchoParams::Damp>("Damp", 12, "damp", 0, 100), Spare<&EchoParams::Byte3>("Byte3", 13, "byte 3"),
    Spare<&EchoParams::Byte4>("Byte4", 14, "byte 4"), Spare<&EchoParams::Byte5>("Byte5", 15, "byte 5"),
};

// ---- plain values ----

inline constexpr FieldMember Volume[]{Plain<std::uint8_t>(Shown::Number, 0, 100)};
inline constexpr FieldMember MuteByte[]{Plain<std::uint8_t>(Shown::Number, 0, 0xFF)};
inline constexpr FieldMember DelaySamples[]{Plain<std::uint16_t>(Shown::Number, 0, 2205)};
inline constexpr FieldMember PitchStep[]{Plain<std::int8_t>(Shown::Number, -4, 4)};
inline constexpr FieldMember FbxLevel[]{Plain<std::uint8_t>(Shown::Number, 0, 3)};
inline constexpr FieldMember InputIndex[]{Plain<std::uint8_t>(Shown::Input, 0, int(InputNames.size()) - 1)};
inline constexpr FieldMember GateThreshold[]{Plain<std::int16_t>(Shown::Number, -84, -66)};
inline constexpr FieldMember SpareWord[]{Plain<std::uint16_t>(Shown::Number, 0, 0xFFFF)};
inline constexpr FieldMember SpareByte[]{Plain<std::uint8_t>(Shown::Number, 0, 0xFF)};

// ---- the compare window's names ----

inline constexpr ElementName MicVolName[]{{"Mic", "volume"}};
inline constexpr ElementName MusicVolName[]{{"Music", "volume"}};
inline constexpr ElementName EffectVolName[]{{"Effect", "volume"}};
inline constexpr ElementName MaxVolNames[]{{"Mic", "max volume"}, {"Music", "max volume"}, {"Max volume", "3"},
                                    {"Max volume", "4"},   {"Max volume", "5"},     {"Max volume", "6"},
                                    {"Max volume", "7"}};
inline constexpr ElementName MuteName[]{{"Mute"}};
inline constexpr FieldBits MuteBits[]{{"MAIN L", 0, 1, Shown::YesNo}, {"MAIN R", 1, 1, Shown::YesNo},
                               {"CENTER", 2, 1, Shown::YesNo}, {"SUB", 3, 1, Shown::YesNo},
                               {"SRS L", 4, 1, Shown::YesNo},  {"SRS R", 5, 1, Shown::YesNo},
                               {"bits 6-7", 6, 2, Shown::Number}};
inline constexpr ElementName DelayNames[]{{"Delay", "MAIN L"}, {"Delay", "MAIN R"}, {"Delay", "CENTER"},
                                   {"Delay", "SUB"},    {"Delay", "SRS L"},  {"Delay", "SRS R"}};
inline constexpr ElementName PitchName[]{{"Pitch"}};
inline constexpr ElementName FbxName[]{{"Feedback suppression"}};
inline constexpr ElementName InputName[]{{"Music", "input"}};
inline constexpr ElementName NoiseGateNames[]{{"MIC", "noise gate"}, {"Noise gate", "2"}};
inline constexpr ElementName DynamicsNames[]{{"MIC limiter"}, {"MAIN limiter"}, {"CENTER limiter"}, {"SUB limiter"},
                                      {"SRS limiter"}};
inline constexpr ElementName OutputMixNames[]{{"MAIN"}, {"CENTER"}, {"SUB"}, {"SRS"}};
inline constexpr ElementName EchoName[]{{"Echo"}};
inline constexpr ElementName ReverbName[]{{"Reverb"}};
inline constexpr ElementName ReservedWordName[]{{"Reserved", "word"}};
inline constexpr ElementName ReservedByteNames[]{{"Reserved", "byte 1"}, {"Reserved", "byte 2"}, {"Reserved", "byte 3"},
                                          {"Reserved", "byte 4"}, {"Reserved", "byte 5"}, {"Reserved", "byte 6"}};

// The element accessors: a single member, or element i of an array member.
template <auto M>
void* Single(DspParamsImage& p, int)
{
    return &(p.*M);
}
template <auto M>
void* Indexed(DspParamsImage& p, int i)
{
    return &(p.*M)[std::size_t(i)];
}

constexpr std::size_t WireSize(std::span<const FieldMember> members)
{
    std::size_t end = 0;
    for (const FieldMember& m : members)
        end = std::max(end, m.At + m.Width);
    return end;
}

using C = DspCommand;
using S = ImageBlock;

// Keys, blocks and offsets of the image's settings, in the compare window's order.
inline constexpr ImageField Table[]{
    {"MicVol", S::System, SystemBlock::MicVol, 1, 1, C::MasterVolume, false, false, true,
     Single<&DspParamsImage::MicVol>, Volume, MicVolName, {}},
    {"MusicVol", S::System, SystemBlock::MusicVol, 1, 1, C::MasterVolume, false, false, true,
     Single<&DspParamsImage::MusicVol>, Volume, MusicVolName, {}},
    {"EffectVol", S::System, SystemBlock::EffectVol, 1, 1, C::MasterVolume, false, false, true,
     Single<&DspParamsImage::EffectVol>, Volume, EffectVolName, {}},
    {"MaxVol", S::System, SystemBlock::MaxVol, MaxVolumeCount, 1, C::MaxVolume, false, true, true,
     Indexed<&DspParamsImage::MaxVol>, Volume, MaxVolNames, {}},
    {"Mute", S::System, SystemBlock::Mute, 1, 1, C::Mute, false, false, true, Single<&DspParamsImage::Mute>,
     MuteByte, MuteName, MuteBits},
    {"Delay", S::System, SystemBlock::Delay, OutputLineCount, 2, C::Delay, false, true, true,
     Indexed<&DspParamsImage::Delay>, DelaySamples, DelayNames, {}},
    {"Pitch", S::System, SystemBlock::Pitch, 1, 1, C::Pitch, false, false, true, Single<&DspParamsImage::Pitch>,
     PitchStep, PitchName, {}},
    {"Fbx", S::System, SystemBlock::Fbx, 1, 1, C::Fbx, false, true, true, Single<&DspParamsImage::Fbx>, FbxLevel,
     FbxName, {}},
    {"Input", S::System, SystemBlock::Input, 1, 1, C::Input, false, false, true, Single<&DspParamsImage::Input>,
     InputIndex, InputName, {}},
    {"NoiseGate", S::System, SystemBlock::NoiseGate, NoiseGateCount, 2, C::NoiseGate, true, true, true,
     Indexed<&DspParamsImage::NoiseGate>, GateThreshold, NoiseGateNames, {}},
    {"Dyn", S::Effects, EffectsBlock::Dynamics, DynamicsCount, DynamicsWireSize, C::Dynamics, true, true, true,
     Indexed<&DspParamsImage::Dyn>, DynamicsMembers, DynamicsNames, {}},
    {"OutMix", S::System, SystemBlock::OutMix, OutputGroupCount, OutputMixWireSize, C::OutputMix, true, true, true,
     Indexed<&DspParamsImage::OutMix>, OutputMixMembers, OutputMixNames, {}},
    {"Echo", S::Effects, EffectsBlock::Echo, 1, EchoWireSize, C::Echo, false, true, true,
     Single<&DspParamsImage::Echo>, EchoMembers, EchoName, {}},
    {"Reverb", S::Effects, EffectsBlock::Reverb, 1, ReverbWireSize, C::Reverb, false, true, true,
     Single<&DspParamsImage::Reverb>, ReverbMembers, ReverbName, {}},
    // The reserved fields travel only inside the System block; its reply
    // does not carry the reserved bytes back.
    {"ReservedWord", S::System, SystemBlock::ReservedWord, 1, 2, C::System, false, false, true,
     Single<&DspParamsImage::ReservedWord>, SpareWord, ReservedWordName, {}},
    {"ReservedBytes", S::System, SystemBlock::ReservedBytes, ReservedByteCount, 1, C::System, false, false, false,
     Indexed<&DspParamsImage::ReservedBytes>, SpareByte, ReservedByteNames, {}},
};

constexpr bool WholeBlock(DspCommand c) { return c == DspCommand::System || c == DspCommand::Effects; }

constexpr std::optional<CommandSpan> SpanFor(DspCommand command)
{
    std::optional<CommandSpan> span;
    for (const ImageField& f : Table) {
        if (f.Command != command || WholeBlock(command))
            continue;
        const std::size_t end = f.At + f.Stride * std::size_t(f.Count);
        if (!span) {
            span = CommandSpan{f.Block, f.At, end - f.At, f.Indexed, f.Count};
            if (f.Indexed)
                span->Length = f.Stride;
            continue;
        }
        // Several fields of one command sit side by side in one block.
        if (f.Indexed || span->Indexed || f.Block != span->Block || f.At != span->At + span->Length)
            throw "a command's fields must be adjacent in one block";
        span->Length = end - span->At;
    }
    return span;
}

inline constexpr auto Spans = [] {
    std::array<std::optional<CommandSpan>, CommandTable.size()> spans{};
    for (std::size_t i = 0; i < CommandTable.size(); ++i)
        spans[i] = SpanFor(CommandTable[i].Command);
    return spans;
}();

} // namespace fields

// The settings fields, in the compare window's order.
constexpr std::span<const ImageField> ImageFields() { return fields::Table; }

// The field of a key ("Dyn"); nullptr when none has it.
constexpr const ImageField* FieldByKey(std::string_view key)
{
    for (const ImageField& f : fields::Table)
        if (f.Key == key)
            return &f;
    return nullptr;
}

// Whether the command carries settings fields. Asked without taking an
// address, so compile-time checks hold in instrumented builds too.
constexpr bool HasSpan(DspCommand command)
{
    for (std::size_t i = 0; i < CommandTable.size(); ++i)
        if (CommandTable[i].Command == command)
            return fields::Spans[i].has_value();
    return false;
}

// nullptr for a command that carries no settings field (bands, reads, slots).
constexpr const CommandSpan* SpanOf(DspCommand command)
{
    for (std::size_t i = 0; i < CommandTable.size(); ++i)
        if (CommandTable[i].Command == command)
            return fields::Spans[i] ? &*fields::Spans[i] : nullptr;
    return nullptr;
}

} // namespace ktv

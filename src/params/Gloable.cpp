#include "params/Gloable.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ktv {

const char* EqChannelName(EqChannel channel)
{
    static constexpr std::array<const char*, EqChannelCount> names{"MIC", "MUSIC", "EFFECT", "MAIN", "CENTER", "SUB", "SRS"};
    return names.at(std::size_t(channel));
}

void SetDefaultBand(PeqBand& band, int position)
{
    band.Flags = DefaultBandFlags;
    band.Fc = float(DefaultFcTable[std::size_t(position)]);
    band.Q = 0.7f;
    band.Gain = 0.0f;
}

void LoadDefaults()
{
    DspParamsImage& p = DspParams;
    // Array order of the groups: MIC, MUSIC, MAIN, SRS, SUB, CENTER, EFFECT.
    for (const BandGroup& group : BandGroups)
        for (int i = 0; i < group.BandCount; ++i)
            SetDefaultBand(p.Band[std::size_t(group.FirstBand + i)], i);
    p.MicVol = p.MusicVol = p.EffectVol = 0;
    p.MaxVol.fill(100);
    p.Pitch = 0;
    p.Fbx = 0;
    p.Input = 0;
    p.OutMix.fill({});
    p.NoiseGate = {-84, -84};
    p.Dyn.fill({.Threshold = 0, .Attack = 1, .Release = 1, .Ratio = 1});
    p.Delay.fill(0);
    p.Reverb = {};
    p.Echo = {};
}

std::int32_t Tenths(float value)
{
    // The product is formed in double so it keeps every bit of the float,
    // then rounded to the nearest tenth, halves away from zero: 0.7f is
    // 6.9999999 tenths and must travel as 7, and a value read as n tenths
    // goes back as n.
    const double t = std::round(double(value) * 10.0);
    // An Fc near the edge of the 32-bit range (a box reply or preset file can
    // carry one) rounds to a float whose tenths no longer fit: saturate rather
    // than let the conversion overflow and flip the sign on the way back.
    if (std::isnan(t))
        return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return std::int32_t(std::clamp(t, lo, hi));
}

void EncodeBandRecord(const PeqBand& band, std::uint8_t* r)
{
    r[0] = band.Flags;
    PutU32(r + 1, std::uint32_t(Tenths(band.Fc)));
    PutU16(r + 5, std::uint16_t(Tenths(band.Q)));
    PutU16(r + 7, std::uint16_t(Tenths(band.Gain)));
}

void DecodeBandRecord(const std::uint8_t* r, PeqBand& band)
{
    band.Flags = r[0];
    band.Fc = float(double(GetI32(r + 1)) / 10.0);
    band.Q = float(double(GetI16(r + 5)) / 10.0);
    band.Gain = float(double(GetI16(r + 7)) / 10.0);
}

PeqBand BoxHeld(const PeqBand& band)
{
    std::array<std::uint8_t, BandRecordSize> record{};
    EncodeBandRecord(band, record.data());
    PeqBand held = band;
    DecodeBandRecord(record.data(), held);
    return held;
}

} // namespace ktv

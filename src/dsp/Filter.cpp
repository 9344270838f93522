#include "dsp/Filter.h"
#include "dsp/Math.h"

#include <cmath>
#include <limits>

namespace ktv {

namespace {

bool IsActive(std::uint8_t flags)
{
    return (flags & FlagBandOn) != 0 && (flags & FlagChannelEqOn) != 0;
}

} // namespace

void SetUnity(Coefficients& coef) { coef = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f}; }

void DesignBand(PeqBand& band)
{
    Coefficients& c = band.Coef;
    SetUnity(c);

    // Every intermediate is kept as float32; each expression runs in double.
    const double fc = band.Fc;
    const double q = band.Q;
    const double gain = band.Gain;
    const float w0 = float(TwoPi * fc / SampleRate);
    const double sine = Sin(double(w0));
    const float sn = float(sine);
    const float cs = float(Cos(double(w0)));
    const float alpha = float(sine / (2.0 * q));
    const float k = float(Pow10(gain / 20.0));
    const float a = float(Pow10(gain / 40.0));
    const float beta = float(std::sqrt(double(a)) / q);

    if (!IsActive(band.Flags))
        return;

    const double S = sn, C = cs, Al = alpha, K = k, A = a, B = beta;
    float a0 = 0;
    switch (band.Flags & FlagTypeMask) {
    case std::uint8_t(FilterType::LowPass):
        a0 = float(1.0 + Al);
        c[1] = float(K * (1.0 - C) / a0);
        c[0] = float(double(c[1]) / 2.0);
        c[2] = float(double(c[1]) / 2.0);
        c[3] = float(-2.0 * C / a0);
        c[4] = float((1.0 - Al) / a0);
        break;
    case std::uint8_t(FilterType::HighPass):
        a0 = float(1.0 + Al);
        c[1] = float(-K * (1.0 + C) / a0);
        c[0] = float(-double(c[1]) / 2.0);
        c[2] = float(-double(c[1]) / 2.0);
        c[3] = float(-2.0 * C / a0);
        c[4] = float((1.0 - Al) / a0);
        break;
    case std::uint8_t(FilterType::Bell):
        a0 = float(1.0 + Al / A);
        c[0] = float((1.0 + Al * A) / a0);
        c[1] = float(-2.0 * C / a0);
        c[2] = float((1.0 - Al * A) / a0);
        c[3] = float(-2.0 * C / a0);
        c[4] = float((1.0 - Al / A) / a0);
        break;
    case std::uint8_t(FilterType::LowShelf):
        a0 = float((A + 1.0) + (A - 1.0) * C + B * S);
        c[0] = float(A * ((A + 1.0) - (A - 1.0) * C + B * S) / a0);
        c[1] = float(2.0 * A * ((A - 1.0) - (A + 1.0) * C) / a0);
        c[2] = float(A * ((A + 1.0) - (A - 1.0) * C - B * S) / a0);
        c[3] = float(-2.0 * ((A - 1.0) + (A + 1.0) * C) / a0);
        c[4] = float(((A + 1.0) + (A - 1.0) * C - B * S) / a0);
        break;
    case std::uint8_t(FilterType::HighShelf):
        a0 = float((A + 1.0) - (A - 1.0) * C + B * S);
        c[0] = float(A * ((A + 1.0) + (A - 1.0) * C + B * S) / a0);
        c[1] = float(-2.0 * A * ((A - 1.0) + (A + 1.0) * C) / a0);
        c[2] = float(A * ((A + 1.0) + (A - 1.0) * C - B * S) / a0);
        c[3] = float(2.0 * ((A - 1.0) - (A + 1.0) * C) / a0);
        c[4] = float(((A + 1.0) - (A - 1.0) * C - B * S) / a0);
        break;
    case std::uint8_t(FilterType::BandPass):
        a0 = float(1.0 + Al);
        c[0] = float(K * Al / a0);
        c[1] = 0.0f;
        c[2] = -c[0];
        c[3] = float(-2.0 * C / a0);
        c[4] = float((1.0 - Al) / a0);
        break;
    case std::uint8_t(FilterType::Notch):
        a0 = float(1.0 + Al);
        c[0] = float(K / a0);
        c[1] = float(-2.0 * K * C / a0);
        c[2] = c[0];
        c[3] = float(-2.0 * C / a0);
        c[4] = float((1.0 - Al) / a0);
        break;
    default:
        // Codes 7..15 have no design: the band stays a straight wire.
        break;
    }
}

double MagnitudeDb(const Coefficients& coef, float frequency)
{
    const double b0 = coef[0], b1 = coef[1], b2 = coef[2], a1 = coef[3], a2 = coef[4];
    const double w = TwoPi * double(frequency) / SampleRate;
    const double c1 = Cos(-w), s1 = Sin(-w);
    const double c2 = Cos(-2.0 * w), s2 = Sin(-2.0 * w);

    const double nr = b0 + b1 * c1 + b2 * c2;
    const double ni = b1 * s1 + b2 * s2;
    const double dr = 1.0 + a1 * c1 + a2 * c2;
    const double di = a1 * s1 + a2 * s2;

    const double d2 = dr * dr + di * di;
    const double hr = (nr * dr + ni * di) / d2;
    const double hi = (ni * dr - nr * di) / d2;
    const double mag = std::sqrt(hr * hr + hi * hi);
    if (!(mag > 0.0))
        return MagnitudeFloorDb; // an exact zero (or a degenerate set) would give -inf or NaN
    return 20.0 * Log10(mag);
}

} // namespace ktv

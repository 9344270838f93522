#include "dsp/Curves.h"

#include "dsp/Filter.h"
#include "dsp/StepTables.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ktv {

namespace {

constexpr std::uint8_t PlateauFlags = 0xC2; // on, channel EQ on, Bell, bits 4-5 clear

bool IsUnity(const Coefficients& c)
{
    return c[0] == 1.0f && c[1] == 0.0f && c[2] == 0.0f && c[3] == 0.0f && c[4] == 0.0f;
}

// An active bell sits exactly on its gain across its own Fc step, so dragging
// it shows the point on the curve instead of a hair beside it.
bool OnPlateau(const PeqBand& band, int fcPos)
{
    return band.Flags == PlateauFlags && band.Fc == FcSteps[std::size_t(fcPos)];
}

void EnsureSize(std::vector<double>& v, std::size_t n)
{
    if (v.size() < n)
        v.resize(n, 0.0);
}

} // namespace

void FrequencyGrid::Build(std::span<const std::int32_t> freq10)
{
    const std::size_t n = std::min(freq10.size(), std::size_t(MaxGridColumns));
    freq10_.assign(freq10.begin(), freq10.begin() + std::ptrdiff_t(n));
    fcPos_.resize(n);
    freq_.resize(n);
    cos1_.resize(n);
    sin1_.resize(n);
    cos2_.resize(n);
    sin2_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float f = float(double(freq10_[i]) / 10.0);
        freq_[i] = f;
        fcPos_[i] = FcStepIndex(f);
        // The very values MagnitudeDb forms for this frequency, so the fast
        // curves match it to the last few bits.
        const double w = TwoPi * double(f) / SampleRate;
        cos1_[i] = std::cos(-w);
        sin1_[i] = std::sin(-w);
        cos2_[i] = std::cos(-2.0 * w);
        sin2_[i] = std::sin(-2.0 * w);
    }
}

void ComputeCurves(const FrequencyGrid& grid, std::span<const PeqBand> bands, std::span<std::vector<double>> bandCurves,
                   std::vector<double>& sumCurve)
{
    const std::size_t n = std::size_t(grid.Count());
    EnsureSize(sumCurve, n);
    double* sum = sumCurve.data();
    std::fill(sum, sum + n, 0.0);

    const double* c1 = grid.cos1_.data();
    const double* s1 = grid.sin1_.data();
    const double* c2 = grid.cos2_.data();
    const double* s2 = grid.sin2_.data();
    const std::int32_t* fcPos = grid.fcPos_.data();

    std::array<double, MaxGridColumns> scratch;
    std::array<double, MaxGridColumns> ratio;

    for (std::size_t r = 0; r < bands.size(); ++r) {
        const PeqBand& band = bands[r];
        double* out = scratch.data();
        if (r < bandCurves.size()) {
            EnsureSize(bandCurves[r], n);
            out = bandCurves[r].data();
        }

        if (IsUnity(band.Coef)) {
            std::fill(out, out + n, 0.0);
        } else {
            const double b0 = band.Coef[0], b1 = band.Coef[1], b2 = band.Coef[2];
            const double a1 = band.Coef[3], a2 = band.Coef[4];
            // |H|^2 = |N|^2 / |D|^2: plain multiply-adds the compiler vectorises.
            for (std::size_t i = 0; i < n; ++i) {
                const double nr = b0 + b1 * c1[i] + b2 * c2[i];
                const double ni = b1 * s1[i] + b2 * s2[i];
                const double dr = 1.0 + a1 * c1[i] + a2 * c2[i];
                const double di = a1 * s1[i] + a2 * s2[i];
                ratio[i] = (nr * nr + ni * ni) / (dr * dr + di * di);
            }
            // One logarithm per point: 10 * log10(|H|^2) dB, times 10 for tenths.
            for (std::size_t i = 0; i < n; ++i) {
                const double h2 = ratio[i];
                out[i] = h2 > 0.0 ? 100.0 * std::log10(h2) : MagnitudeFloorDb * 10.0;
            }
        }

        if (band.Flags == PlateauFlags) {
            const double plateau = double(band.Gain) * 10.0;
            for (std::size_t i = 0; i < n; ++i)
                if (OnPlateau(band, fcPos[i]))
                    out[i] = plateau;
        }

        for (std::size_t i = 0; i < n; ++i)
            sum[i] += out[i];
    }
}

void ComputeCurvesReference(const FrequencyGrid& grid, std::span<const PeqBand> bands,
                            std::span<std::vector<double>> bandCurves, std::vector<double>& sumCurve)
{
    const int n = grid.Count();
    EnsureSize(sumCurve, std::size_t(n));
    for (std::size_t r = 0; r < bands.size() && r < bandCurves.size(); ++r)
        EnsureSize(bandCurves[r], std::size_t(n));

    const auto fcPos = grid.FcPos();
    for (int i = 0; i < n; ++i) {
        const float f = grid.Frequency(i);
        double sum = 0.0;
        for (std::size_t r = 0; r < bands.size(); ++r) {
            const PeqBand& band = bands[r];
            double v = MagnitudeDb(band.Coef, f) * 10.0;
            if (OnPlateau(band, fcPos[std::size_t(i)]))
                v = double(band.Gain) * 10.0;
            if (r < bandCurves.size())
                bandCurves[r][std::size_t(i)] = v;
            sum += v;
        }
        sumCurve[std::size_t(i)] = sum;
    }
}

} // namespace ktv

#include "dsp/Curves.h"

#include "dsp/Filter.h"
#include "dsp/StepTables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

// SLEEF's natural logarithm (within 3.5 ulp) under the GNU vector ABI: the
// vectoriser calls its 2-, 4- and 8-wide forms in libsleefgnuabi, and
// VectorLog.cpp holds the scalar form for code it leaves alone.
#if defined(__clang__) || defined(KTV_SCALAR_CURVES)
extern "C" double log_u35(double); // clang does not know the simd attribute
#else
extern "C" [[gnu::simd("notinbranch"), gnu::const]] double log_u35(double);
#endif

namespace ktv {

namespace {

constexpr std::uint8_t PlateauFlags = 0xC2; // on, channel EQ on, Bell, bits 4-5 clear

// The curve step runs over blocks of this many columns: a fixed trip count
// lets the compiler turn every loop below into whole vectors, and a block's
// scratch stays in the first-level cache.
constexpr std::size_t Block = 64;

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

constexpr double TenthsPerLn = 100.0 / 2.30258509299404568402; // dB x 10 per neper of |H|^2

// The biased exponent plus one, masked: zero exactly when x (never negative
// here) is zero, subnormal, infinite or not a number, which the curve takes
// from the plain formula and its floor instead.
inline std::uint64_t UsualTag(double x)
{
    return ((std::bit_cast<std::uint64_t>(x) >> 52) + 1) & 0x7FE;
}

struct BandCoefficients {
    double b0, b1, b2, a1, a2;
};

struct BandBlockArgs {
    BandCoefficients c;
    float plateauFc; // not a number unless the band is an active bell
    double plateau;
};

struct GridBlock {
    const double *c1, *s1, *c2, *s2;
    const float* fcStep;
};

// One band over one block of columns: out[i] = the response in dB x 10,
// plateau included, and sumOut[i] = sumIn[i] + out[i]. Built for the plain
// instruction set and, where the processor has them, for wider vectors; the
// clones form the same ratio bit for bit (nothing is contracted into fused
// multiply-adds) and differ only within the logarithm's 3.5 ulp. True when a
// column needs FixUnusual.
#if defined(KTV_SCALAR_CURVES)
#define KTV_CURVE_CLONES // no ifunc to pick a clone at load time
#else
#define KTV_CURVE_CLONES [[gnu::target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")]]
#endif
KTV_CURVE_CLONES bool BandBlock(
    const BandBlockArgs& a, const GridBlock& g, const double* __restrict sumIn, double* __restrict sumOut,
    double* __restrict out)
{
    const BandCoefficients c = a.c;
    const double* __restrict c1 = g.c1;
    const double* __restrict s1 = g.s1;
    const double* __restrict c2 = g.c2;
    const double* __restrict s2 = g.s2;
    const float* __restrict fcStep = g.fcStep;
    const std::uint64_t plateau = std::bit_cast<std::uint64_t>(a.plateau);
    std::uint64_t unusual = 0;
    // |N|^2 / |D|^2 first, so that the loop around the logarithm's call has
    // few values to keep across it.
    for (std::size_t i = 0; i < Block; ++i) {
        const double nr = c.b0 + c.b1 * c1[i] + c.b2 * c2[i];
        const double ni = c.b1 * s1[i] + c.b2 * s2[i];
        const double dr = 1.0 + c.a1 * c1[i] + c.a2 * c2[i];
        const double di = c.a1 * s1[i] + c.a2 * s2[i];
        const double n2 = nr * nr + ni * ni;
        const double d2 = dr * dr + di * di;
        const double h2 = n2 / d2;
        unusual |= (UsualTag(h2) - 1) >> 63;
        out[i] = h2;
    }
    for (std::size_t i = 0; i < Block; ++i) {
        // Masks rather than a select, which the compiler would leave as a branch.
        const std::uint64_t on = -std::uint64_t(fcStep[i] == a.plateauFc);
        const double db = TenthsPerLn * log_u35(out[i]);
        const double v = std::bit_cast<double>((std::bit_cast<std::uint64_t>(db) & ~on) | (plateau & on));
        out[i] = v;
        sumOut[i] = sumIn[i] + v;
    }
    return unusual != 0;
}

// A block where |N|^2 / |D|^2 is zero, subnormal or not finite somewhere: the
// plain formula there, with the floor for an exact zero.
void FixUnusual(const BandBlockArgs& a, const GridBlock& g, const double* sumIn, double* sumOut, double* out)
{
    const BandCoefficients& c = a.c;
    for (std::size_t i = 0; i < Block; ++i) {
        const double nr = c.b0 + c.b1 * g.c1[i] + c.b2 * g.c2[i];
        const double ni = c.b1 * g.s1[i] + c.b2 * g.s2[i];
        const double dr = 1.0 + c.a1 * g.c1[i] + c.a2 * g.c2[i];
        const double di = c.a1 * g.s1[i] + c.a2 * g.s2[i];
        const double n2 = nr * nr + ni * ni;
        const double d2 = dr * dr + di * di;
        const double h2 = n2 / d2;
        if (g.fcStep[i] != a.plateauFc && UsualTag(h2) == 0)
            out[i] = h2 > 0.0 ? 100.0 * std::log10(h2) : MagnitudeFloorDb * 10.0;
        sumOut[i] = sumIn[i] + out[i];
    }
}

} // namespace

void FrequencyGrid::Build(std::span<const std::int32_t> freq10, int capacity)
{
    const std::size_t n = std::min(freq10.size(), std::size_t(std::max(capacity, 0)));
    const std::size_t padded = (n + Block - 1) / Block * Block;
    freq10_.assign(freq10.begin(), freq10.begin() + std::ptrdiff_t(n));
    fcPos_.resize(n);
    freq_.resize(n);
    cos1_.resize(padded);
    sin1_.resize(padded);
    cos2_.resize(padded);
    sin2_.resize(padded);
    fcStep_.resize(padded);
    for (std::size_t i = 0; i < n; ++i) {
        const float f = float(double(freq10_[i]) / 10.0);
        freq_[i] = f;
        fcPos_[i] = FcStepIndex(f);
        fcStep_[i] = FcSteps[std::size_t(fcPos_[i])];
        // The very values MagnitudeDb forms for this frequency, so the fast
        // curves match it to the last few bits.
        const double w = TwoPi * double(f) / SampleRate;
        cos1_[i] = std::cos(-w);
        sin1_[i] = std::sin(-w);
        cos2_[i] = std::cos(-2.0 * w);
        sin2_[i] = std::sin(-2.0 * w);
    }
    for (std::size_t i = n; i < padded; ++i) {
        cos1_[i] = cos1_[n - 1];
        sin1_[i] = sin1_[n - 1];
        cos2_[i] = cos2_[n - 1];
        sin2_[i] = sin2_[n - 1];
        fcStep_[i] = fcStep_[n - 1];
    }
}

void ComputeCurves(const FrequencyGrid& grid, std::span<const PeqBand> bands, std::span<std::vector<double>> bandCurves,
                   std::vector<double>& sumCurve)
{
    const std::size_t n = std::size_t(grid.Count());
    EnsureSize(sumCurve, n);
    for (std::size_t r = 0; r < bands.size() && r < bandCurves.size(); ++r)
        EnsureSize(bandCurves[r], n);
    if (bands.empty()) {
        std::fill_n(sumCurve.begin(), n, 0.0);
        return;
    }

    std::vector<BandBlockArgs> args(bands.size());
    for (std::size_t r = 0; r < bands.size(); ++r) {
        const PeqBand& band = bands[r];
        args[r].c = {band.Coef[0], band.Coef[1], band.Coef[2], band.Coef[3], band.Coef[4]};
        args[r].plateauFc = band.Flags == PlateauFlags ? band.Fc : std::numeric_limits<float>::quiet_NaN();
        args[r].plateau = double(band.Gain) * 10.0;
    }

    // The running sum goes back and forth between two buffers, so a block
    // that needs FixUnusual can add its band again.
    alignas(64) std::array<double, Block> sums[2];
    alignas(64) std::array<double, Block> scratch;
    const std::array<double, Block> zero{};
    for (std::size_t start = 0; start < n; start += Block) {
        const bool whole = n - start >= Block;
        const GridBlock g{grid.cos1_.data() + start, grid.sin1_.data() + start, grid.cos2_.data() + start,
                          grid.sin2_.data() + start, grid.fcStep_.data() + start};
        const double* sumIn = zero.data();
        for (std::size_t r = 0; r < bands.size(); ++r) {
            const bool last = r + 1 == bands.size();
            double* sumOut = last && whole ? sumCurve.data() + start : sums[r % 2].data();
            double* out = r < bandCurves.size() && whole ? bandCurves[r].data() + start : scratch.data();
            if (IsUnity(bands[r].Coef)) {
                for (std::size_t i = 0; i < Block; ++i) {
                    out[i] = g.fcStep[i] == args[r].plateauFc ? args[r].plateau : 0.0;
                    sumOut[i] = sumIn[i] + out[i];
                }
            } else if (BandBlock(args[r], g, sumIn, sumOut, out)) {
                FixUnusual(args[r], g, sumIn, sumOut, out);
            }
            if (!whole && r < bandCurves.size())
                std::copy_n(out, n - start, bandCurves[r].begin() + std::ptrdiff_t(start));
            sumIn = sumOut;
        }
        if (!whole)
            std::copy_n(sumIn, n - start, sumCurve.begin() + std::ptrdiff_t(start));
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

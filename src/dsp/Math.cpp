#include "dsp/Math.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// The classic argument reductions and polynomials of the freely
// distributable fdlibm, in C++. Built with -ffp-contract=off: a fused
// multiply-add would change the bits, and break the exact product below.
//
// fdlibm's notice, which its permission asks to keep:
//   Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
//   Developed at SunSoft, a Sun Microsystems, Inc. business.
//   Permission to use, copy, modify, and distribute this
//   software is freely granted, provided that this notice
//   is preserved.

namespace ktv {

namespace {

std::int32_t High(double x) { return std::int32_t(std::bit_cast<std::uint64_t>(x) >> 32); }

double WithHigh(double x, std::uint32_t high)
{
    const std::uint64_t low = std::bit_cast<std::uint64_t>(x) & 0xFFFFFFFFu;
    return std::bit_cast<double>((std::uint64_t(high) << 32) | low);
}

// 2^k for k in [-1022, 1023].
double TwoTo(int k) { return std::bit_cast<double>(std::uint64_t(k + 1023) << 52); }

// x * 2^k in two exact steps where one would leave the normal range.
double Scale(double x, int k)
{
    if (k > 1023)
        return x * TwoTo(1023) * TwoTo(std::min(k - 1023, 1023));
    if (k < -1022)
        return x * TwoTo(-1022) * TwoTo(std::max(k + 1022, -1022));
    return x * TwoTo(k);
}

// --- sine and cosine

constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                 S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                 S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                 C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                 C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;

// sin(x + y) for |x| <= pi/4, y the tail of x.
double KernelSin(double x, double y)
{
    const double z = x * x;
    const double v = z * x;
    const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

double KernelCos(double x, double y)
{
    const std::int32_t ix = High(x) & 0x7FFFFFFF;
    const double z = x * x;
    const double r = z * (C1 + z * (C2 + z * (C3 + z * (C4 + z * (C5 + z * C6)))));
    if (ix < 0x3FD33333) // |x| < 0.3
        return 1.0 - (0.5 * z - (z * r - x * y));
    // 1 - z/2 loses bits here: take a quarter of x out first, exactly.
    const double qx = ix > 0x3FE90000 ? 0.28125 : std::bit_cast<double>(std::uint64_t(ix - 0x00200000) << 32);
    const double hz = 0.5 * z - qx;
    const double a = 1.0 - qx;
    return a - (hz - (z * r - x * y));
}

// Beyond this the three-part reduction runs out of bits; nothing here comes near.
constexpr double ReduceLimit = 823549.6; // 2^19 * pi/2

// x = n * pi/2 + (y0 + y1) with |y0| <= about pi/4; returns n.
int Reduce(double x, double& y0, double& y1)
{
    constexpr double InvPio2 = 6.36619772367581382433e-01;
    constexpr double Pio2_1 = 1.57079632673412561417e+00, Pio2_1t = 6.07710050650619224932e-11;
    constexpr double Pio2_2 = 6.07710050630396597660e-11, Pio2_2t = 2.02226624879595063154e-21;
    constexpr double Pio2_3 = 2.02226624871116645580e-21, Pio2_3t = 8.47842766036889956997e-32;
    const double t = std::fabs(x);
    const int n = int(t * InvPio2 + 0.5);
    const double fn = n;
    double r = t - fn * Pio2_1; // exact: Pio2_1 has 33 bits, n at most 20
    double w = fn * Pio2_1t;
    y0 = r - w;
    const int j = (High(t) >> 20) & 0x7FF;
    if (j - ((High(y0) >> 20) & 0x7FF) > 16) { // close to a multiple of pi/2: more bits
        double t2 = r;
        w = fn * Pio2_2;
        r = t2 - w;
        w = fn * Pio2_2t - ((t2 - r) - w);
        y0 = r - w;
        if (j - ((High(y0) >> 20) & 0x7FF) > 49) {
            t2 = r;
            w = fn * Pio2_3;
            r = t2 - w;
            w = fn * Pio2_3t - ((t2 - r) - w);
            y0 = r - w;
        }
    }
    y1 = (r - y0) - w;
    if (x < 0) {
        y0 = -y0;
        y1 = -y1;
        return -n;
    }
    return n;
}

// --- logarithms

constexpr double Ln2Hi = 6.93147180369123816490e-01, Ln2Lo = 1.90821492927058770002e-10;
constexpr double Lg1 = 6.666666666666735130e-01, Lg2 = 3.999999999940941908e-01, Lg3 = 2.857142874366239149e-01,
                 Lg4 = 2.222219843214978396e-01, Lg5 = 1.818357216161805012e-01, Lg6 = 1.531383769920937332e-01,
                 Lg7 = 1.479819860511658591e-01;

// x = 2^k * m with m in [sqrt(2)/2, sqrt(2)), for finite x > 0. False (and
// the answer in special) for zero, negatives, infinities and NaN.
bool Split(double x, double& m, int& k, double& special)
{
    std::int32_t hx = High(x);
    k = 0;
    if (hx < 0x00100000) {
        if ((std::bit_cast<std::uint64_t>(x) & 0x7FFFFFFFFFFFFFFFu) == 0) {
            special = -std::numeric_limits<double>::infinity();
            return false;
        }
        if (hx < 0) {
            special = std::numeric_limits<double>::quiet_NaN();
            return false;
        }
        k -= 54; // subnormal: bring it up first
        x *= 18014398509481984.0; // 2^54
        hx = High(x);
    }
    if (hx >= 0x7FF00000) {
        special = x + x;
        return false;
    }
    k += (hx >> 20) - 1023;
    hx &= 0x000FFFFF;
    const std::int32_t i = (hx + 0x95F64) & 0x100000; // mantissa at or above sqrt(2)?
    m = WithHigh(x, std::uint32_t(hx | (i ^ 0x3FF00000)));
    k += i >> 20;
    return true;
}

// log(m) + k * ln 2 for m from Split.
double LogReduced(double m, int k)
{
    const std::int32_t hx = High(m) & 0x000FFFFF;
    const double f = m - 1.0;
    const double dk = k;
    if ((0x000FFFFF & (2 + hx)) < 3) { // |f| < 2^-20
        if (f == 0.0)
            return k == 0 ? 0.0 : dk * Ln2Hi + dk * Ln2Lo;
        const double r = f * f * (0.5 - 0.33333333333333333 * f);
        return k == 0 ? f - r : dk * Ln2Hi - ((r - dk * Ln2Lo) - f);
    }
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double w = z * z;
    const double t1 = w * (Lg2 + w * (Lg4 + w * Lg6));
    const double t2 = z * (Lg1 + w * (Lg3 + w * (Lg5 + w * Lg7)));
    const double r = t2 + t1;
    if (((hx - 0x6147A) | (0x6B851 - hx)) > 0) {
        const double hfsq = 0.5 * f * f;
        return k == 0 ? f - (hfsq - s * (hfsq + r)) : dk * Ln2Hi - ((hfsq - (s * (hfsq + r) + dk * Ln2Lo)) - f);
    }
    return k == 0 ? f - s * (f - r) : dk * Ln2Hi - ((s * (f - r) - dk * Ln2Lo) - f);
}

// --- exponential

constexpr double Ln2 = 6.93147180559945286227e-01;

// e^r for |r| <= ln(2)/2.
double ExpSmall(double r)
{
    constexpr double P1 = 1.66666666666666019037e-01, P2 = -2.77777777770155933842e-03,
                     P3 = 6.61375632143793436117e-05, P4 = -1.65339022054652515390e-06,
                     P5 = 4.13813679705723846039e-08;
    const double t = r * r;
    const double c = r - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))));
    return 1.0 - ((r * c) / (c - 2.0) - r);
}

// 2^(whole + part) with whole a whole number and |part| <= about 1/2.
double Exp2Parts(double whole, double part)
{
    return Scale(ExpSmall(part * Ln2), int(whole));
}

// a * b as hi + lo exactly (Dekker's product, for arithmetic without fma).
void ExactProduct(double a, double b, double& hi, double& lo)
{
    constexpr double Splitter = 134217729.0; // 2^27 + 1
    const double ca = Splitter * a, cb = Splitter * b;
    const double ah = ca - (ca - a), al = a - ah;
    const double bh = cb - (cb - b), bl = b - bh;
    hi = a * b;
    lo = ((ah * bh - hi) + ah * bl + al * bh) + al * bl;
}

} // namespace

double Sin(double x)
{
    if (!(std::fabs(x) <= ReduceLimit))
        return std::sin(x); // NaN, infinities and arguments far beyond any frequency here
    if (std::fabs(x) <= 0.785398163397448279)
        return KernelSin(x, 0.0);
    double y0 = 0, y1 = 0;
    switch (Reduce(x, y0, y1) & 3) {
    case 0: return KernelSin(y0, y1);
    case 1: return KernelCos(y0, y1);
    case 2: return -KernelSin(y0, y1);
    default: return -KernelCos(y0, y1);
    }
}

double Cos(double x)
{
    if (!(std::fabs(x) <= ReduceLimit))
        return std::cos(x);
    if (std::fabs(x) <= 0.785398163397448279)
        return KernelCos(x, 0.0);
    double y0 = 0, y1 = 0;
    switch (Reduce(x, y0, y1) & 3) {
    case 0: return KernelCos(y0, y1);
    case 1: return -KernelSin(y0, y1);
    case 2: return -KernelCos(y0, y1);
    default: return KernelSin(y0, y1);
    }
}

double Log(double x)
{
    double m = 0, special = 0;
    int k = 0;
    return Split(x, m, k, special) ? LogReduced(m, k) : special;
}

double Log2(double x)
{
    constexpr double InvLn2 = 1.44269504088896338700e+00;
    double m = 0, special = 0;
    int k = 0;
    return Split(x, m, k, special) ? double(k) + LogReduced(m, 0) * InvLn2 : special;
}

double Log10(double x)
{
    constexpr double InvLn10 = 4.34294481903251816668e-01;
    constexpr double Log10Of2Hi = 3.01029995663611771306e-01, Log10Of2Lo = 3.69423907715893078616e-13;
    double m = 0, special = 0;
    int k = 0;
    if (!Split(x, m, k, special))
        return special;
    const double dk = k;
    return (dk * Log10Of2Lo + InvLn10 * LogReduced(m, 0)) + dk * Log10Of2Hi;
}

double Exp2(double x)
{
    if (x != x)
        return x;
    if (x > 1024.0)
        return std::numeric_limits<double>::infinity();
    if (x < -1076.0)
        return 0.0;
    const double whole = std::floor(x + 0.5);
    return Exp2Parts(whole, x - whole); // the difference is exact
}

double Pow10(double x)
{
    // 10^x = 2^(x log2 10), the product kept to twice the precision so its
    // rounding does not grow with x.
    constexpr double Log2Of10Hi = 3.321928094887362, Log2Of10Lo = 1.661617516973592e-16;
    if (x != x)
        return x;
    if (x > 310.0)
        return std::numeric_limits<double>::infinity();
    if (x < -330.0)
        return 0.0;
    double hi = 0, lo = 0;
    ExactProduct(x, Log2Of10Hi, hi, lo);
    lo += x * Log2Of10Lo;
    const double whole = std::floor(hi + 0.5);
    return Exp2Parts(whole, (hi - whole) + lo);
}

} // namespace ktv

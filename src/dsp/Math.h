#pragma once
// The elementary functions behind band design, the fit and the import's
// matching, written out in plain double arithmetic (adds, multiplies,
// divides, no fused multiply-add), so every build on every system gives the
// same bits for the same argument. The C library's functions round their
// last bit differently from one system to another, and an optimiser that
// follows those bits settles on other bands. Each is within two units
// in the last place of the true value.

namespace ktv {

[[nodiscard]] double Sin(double x);
[[nodiscard]] double Cos(double x);
// Natural, binary and decimal logarithms: NaN below zero, -inf at zero; exact
// at one, and Log2 exact at every power of two.
[[nodiscard]] double Log(double x);
[[nodiscard]] double Log2(double x);
[[nodiscard]] double Log10(double x);
// 2^x, exact at every whole x in range; overflows to +inf, underflows to 0.
[[nodiscard]] double Exp2(double x);
// 10^x, the level factor of a gain in dB; exactly 1 at x = 0.
[[nodiscard]] double Pow10(double x);

} // namespace ktv

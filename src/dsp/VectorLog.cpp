#include <cmath>

// The scalar form of the logarithm the curve step takes from SLEEF's vector
// library, for builds and loops that are not vectorised (an unoptimised
// build, a compiler without the simd attribute).
extern "C" double log_u35(double x)
{
    return std::log(x);
}

#include "measure/Fft.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include <fftw3.h>

namespace ktv::measure {

namespace {
// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& PlannerLock()
{
    static std::mutex m;
    return m;
}
} // namespace

RealFft::RealFft(std::size_t n) : n_(n)
{
    std::lock_guard lock(PlannerLock());
    real_ = fftw_alloc_real(n);
    auto* c = fftw_alloc_complex(n / 2 + 1);
    complex_ = c;
    forward_ = fftw_plan_dft_r2c_1d(static_cast<int>(n), real_, c, FFTW_ESTIMATE);
    inverse_ = fftw_plan_dft_c2r_1d(static_cast<int>(n), c, real_, FFTW_ESTIMATE);
}

RealFft::~RealFft()
{
    std::lock_guard lock(PlannerLock());
    fftw_destroy_plan(static_cast<fftw_plan>(forward_));
    fftw_destroy_plan(static_cast<fftw_plan>(inverse_));
    fftw_free(real_);
    fftw_free(complex_);
}

std::vector<std::complex<double>> RealFft::Forward(const std::vector<double>& x)
{
    const std::size_t m = std::min(x.size(), n_);
    std::copy_n(x.begin(), m, real_);
    std::fill(real_ + m, real_ + n_, 0.0);
    fftw_execute(static_cast<fftw_plan>(forward_));
    auto* c = static_cast<fftw_complex*>(complex_);
    std::vector<std::complex<double>> out(n_ / 2 + 1);
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = {c[k][0], c[k][1]};
    return out;
}

std::vector<double> RealFft::Inverse(const std::vector<std::complex<double>>& X)
{
    auto* c = static_cast<fftw_complex*>(complex_);
    for (std::size_t k = 0; k < n_ / 2 + 1; ++k) {
        const auto v = k < X.size() ? X[k] : std::complex<double>{};
        c[k][0] = v.real();
        c[k][1] = v.imag();
    }
    fftw_execute(static_cast<fftw_plan>(inverse_));
    std::vector<double> out(real_, real_ + n_);
    for (auto& v : out)
        v /= static_cast<double>(n_);
    return out;
}

} // namespace ktv::measure

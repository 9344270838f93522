#pragma once
// A real-to-complex FFT of one size through FFTW; plans are made once per object.

#include <complex>
#include <cstddef>
#include <vector>

namespace ktv::measure {

class RealFft {
public:
    explicit RealFft(std::size_t n);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    std::size_t Size() const { return n_; }
    // n real samples in (shorter input is zero-padded), n/2+1 bins out.
    std::vector<std::complex<double>> Forward(const std::vector<double>& x);
    // n/2+1 bins in, n samples out, scaled so Inverse(Forward(x)) == x.
    std::vector<double> Inverse(const std::vector<std::complex<double>>& X);

private:
    std::size_t n_;
    double* real_;
    void* complex_;
    void* forward_;
    void* inverse_;
};

} // namespace ktv::measure

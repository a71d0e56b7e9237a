// fft.cpp: Fft, radix 2, and Hann.
#include "fft.h"

#include <cmath>
#include <utility>

namespace ksspeech {

void Fft(std::vector<std::complex<double>>& a, bool inverse)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    const double pi = std::acos(-1.0);
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<double> step = std::polar(1.0, (inverse ? 2 : -2) * pi / (double)len);
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; k++, w *= step) {
                std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

std::vector<double> Hann(size_t n)
{
    const double pi = std::acos(-1.0);
    std::vector<double> w(n);
    for (size_t i = 0; i < n; i++) w[i] = 0.5 - 0.5 * std::cos(2 * pi * (double)i / (double)n);
    return w;
}

} // namespace ksspeech

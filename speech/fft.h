// fft.h: the discrete Fourier transform of a power-of-two length, for the
// spectral checks and the dereverberation.
#ifndef KSBNFC_SPEECH_FFT_H
#define KSBNFC_SPEECH_FFT_H

#include <complex>
#include <cstddef>
#include <vector>

namespace ksspeech {

// Transforms a (its size a power of two) in place: forward, or inverse
// without the 1/n scale.
void Fft(std::vector<std::complex<double>>& a, bool inverse = false);

// The periodic Hann window of n points (0 at the first, 1 in the middle).
std::vector<double> Hann(size_t n);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_FFT_H

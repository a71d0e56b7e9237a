// fft.h: the discrete Fourier transform of a power-of-two length, for the
// spectral checks and the dereverberation.
#ifndef KSBNFC_SPEECH_FFT_H
#define KSBNFC_SPEECH_FFT_H

#include <complex>
#include <vector>

namespace ksspeech {

// Transforms a (its size a power of two) in place: forward, or inverse
// without the 1/n scale.
void Fft(std::vector<std::complex<double>>& a, bool inverse = false);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_FFT_H

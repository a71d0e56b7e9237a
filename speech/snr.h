// snr.h: how loud and how noisy a recording is, and how hard the denoiser
// should work on it. Needs no audio library, so the tests reach it
// without one.
#ifndef KSBNFC_SPEECH_SNR_H
#define KSBNFC_SPEECH_SNR_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ksspeech {

// The mean energy of n samples in dB (0 for digital silence).
double FrameEnergyDb(const int16_t* samples, size_t n);

// The signal-to-noise ratio of samples in dB, as loud as its loudest
// frames of 20 ms (the 98th percentile of their FrameEnergyDb) over its
// quietest (the 10th percentile); 0 for less than 10 frames.
double EstimateSnr(const int16_t* samples, size_t n, int rate);

// Where the speech of a recording lies, as samples [begin, end): from the
// first to the last stretch of at least 50 ms whose 10 ms frames all stand
// out from the quietest tenth of them by kSpeechRise of the way to the
// loudest (the 98th percentile), then `before` samples earlier and `after`
// later. The whole recording where it is too short (under 200 ms) or too
// even (less than 10 dB between those two) to tell.
constexpr double kSpeechRise = 0.7;
struct Span {
    size_t begin, end;
};
Span SpeechSpan(const int16_t* samples, size_t n, int rate, size_t before, size_t after);

// The magnitude of a sample, -32768 included.
inline int Magnitude(int16_t x) { return x < 0 ? -(int)x : (int)x; }

// The suppression Clean chooses for a recording of that ratio: speex's
// -15 dB down to 22 dB, then 2 dB more for each dB less, to at most -40.
int SuppressionFor(double snr);

// The denoisers judge noise by its level, not by its ratio to the speech:
// a clean but quiet recording (peaks 35 dB below full scale, as a distant
// or turned-down microphone gives) lost the start of its words to speex.
// Normalise raises a recording whose loudest sample is below kNormalPeak
// (-3 dB full scale) towards it, by at most kMostGain (40 dB), and returns
// the gain (1: left as it was, digital silence included).
constexpr int kNormalPeak = 23197;
constexpr double kMostGain = 100;
double Normalise(std::vector<int16_t>& samples);
// The gain Normalise applies to audio whose loudest sample is `peak`.
double NormalGain(int peak);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_SNR_H

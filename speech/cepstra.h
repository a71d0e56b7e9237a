// cepstra.h: restoring the spread of cepstra that noise has narrowed.
// Works on plain frames of floats, so the tests reach it without the
// recogniser.
#ifndef KSBNFC_SPEECH_CEPSTRA_H
#define KSBNFC_SPEECH_CEPSTRA_H

#include <cstddef>
#include <vector>

namespace ksspeech {

// The mean of each of the width values of `frames` frames laid out one
// after the other (all 0 for no frames).
std::vector<double> Means(const float* cep, size_t frames, int width);

// The standard deviation of each of the width values of `frames` frames
// laid out one after the other (all 0 for fewer than 2 frames).
std::vector<double> Deviations(const float* cep, size_t frames, int width);

// Noise fills the valleys between speech and pauses, and the low cepstra
// (c0 the loudness, c1 the tilt) of a noisy recording vary less than the
// acoustic model learned them on. For each dimension d below target.size()
// and width, this widens the spread back: every value moves away from the
// dimension's mean by the gain target[d] / its deviation, clamped to
// 1..max_gain, so a spread is never narrowed and never blown up from near
// nothing. The gains are returned (1 where nothing changed).
std::vector<double> RestoreSpread(float* cep, size_t frames, int width, const std::vector<double>& target,
                                  double max_gain);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_CEPSTRA_H

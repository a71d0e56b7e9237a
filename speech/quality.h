// quality.h: faults of a recording that cost recognition and that only
// the person recording can mend: clipped peaks (the input gain too high)
// and no sound above 4 kHz (an 8 kHz telephone or headset link). Needs no
// audio library, so the tests reach it without one.
#ifndef KSBNFC_SPEECH_QUALITY_H
#define KSBNFC_SPEECH_QUALITY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ksspeech {

// The share of samples (0 to 1) that lie in runs of at least three at the
// recording's loudest magnitude, as a converter or a gain stage flattens
// the peaks it cannot reach; speech that was not clipped seldom holds its
// peak for two samples running. 0 for a recording quieter than 1/8 of
// full scale, whose peaks were not at any limit.
double ClippedShare(const int16_t* samples, size_t n);

// The power of a recording's loudest fifth of 32 ms frames above 4.3 kHz
// (to 7 kHz) over its power from 300 Hz to 3.4 kHz, in dB; 0 when it is
// too short (under 10 frames) or silent, or its rate too low to tell.
// People's recordings at 16 kHz keep -38 dB and more up there (those of
// pocketsphinx-testdata), synthesised voices -49 at the least; speech
// resampled from 8 kHz has -60 and less.
double HighBandDb(const int16_t* samples, size_t n, int rate);
constexpr double kNarrowBand = -55;

// Clipping on more than kClippedWarn of the samples costs the recogniser.
// The benchmark's voices (144 orders, clean) made 6 dB too loud had a
// quarter of a percent clipped and lost nothing; 12 dB, 3% clipped, lost
// 4 points; 24 dB, 19% clipped, lost 16. Their speech cut off above 4
// kHz lost 8 points.
constexpr double kClippedWarn = 0.01;

// What is wrong with a recording, a sentence each, to tell the person who
// made it: none for a sound one.
std::vector<std::string> AudioWarnings(const int16_t* samples, size_t n, int rate);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_QUALITY_H

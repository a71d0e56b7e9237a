// confidence.h: how sure the speech tool is that it heard a sentence of the
// grammar, from the margin between the grammar search and a free phone
// decoding of the same frames.
#ifndef KSBNFC_SPEECH_CONFIDENCE_H
#define KSBNFC_SPEECH_CONFIDENCE_H

#include "recogniser.h"

namespace ksspeech {

// The score of h above its free phone decoding, per frame of speech (<= 0
// but for search error: the phone loop can follow anything the grammar can).
double Margin(const Hypothesis& h);

// The lowest margin of a word of h, its acoustic score above the phone
// loop's over the same frames, per frame (Margin without word spans).
double WordMargin(const Hypothesis& h);

// The confidence in [0, 1] of a complete hypothesis: a logistic function
// of Margin and WordMargin, fitted on the noise benchmark (bench/speech_noise.py) with
// in-domain results that were right against out-of-domain speech.
double Confidence(const Hypothesis& h);

// The confidence below which a result is "not understood", chosen on the
// same benchmark's curve: the lowest at which at least 90% of the
// out-of-domain recordings of every voice set, clean and noisy together,
// are not understood (tuning 94.8%, held-out 95.3%, real 90.8%). It costs
// the in-domain results of the tuning voices 0.2 points over the noise
// levels, the real recordings none, the held-out voices 4.4.
constexpr double kDefaultThreshold = 0.10;

} // namespace ksspeech

#endif // KSBNFC_SPEECH_CONFIDENCE_H

// confidence.cpp: Margin and Confidence. A speaker who says something the
// grammar does not cover is followed closely by the phone loop and badly by
// the grammar search, so the grammar's score falls far below the loop's; a
// sentence of the grammar keeps the two close. Normalising by the frame
// count makes long and short recordings comparable.
#include "confidence.h"

#include <cmath>

namespace ksspeech {
namespace {

// Logistic fit of P(right | margin) on the benchmark's tuning voices.
const double kBias = 5.34, kSlope = 0.165;

} // namespace

double Margin(const Hypothesis& h)
{
    int n = h.speech_frames > 0 ? h.speech_frames : h.frames;
    return n > 0 ? (double)(h.score - h.loop_score) / n : 0.0;
}

double Confidence(const Hypothesis& h)
{
    if (!h.complete || h.frames <= 0) return 0.0;
    return 1.0 / (1.0 + std::exp(-(kBias + kSlope * Margin(h))));
}

} // namespace ksspeech

// confidence.cpp: Margin, WordMargin and Confidence. A speaker who says something the
// grammar does not cover is followed closely by the phone loop and badly by
// the grammar search, so the grammar's score falls far below the loop's; a
// sentence of the grammar keeps the two close. Normalising by the frame
// count makes long and short recordings comparable. A sentence that shares
// words with the grammar keeps the average close; its other words stand
// out in the lowest margins of its words.
#include "confidence.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace ksspeech {
namespace {

// Logistic fit of P(right | margin, word margin) on the benchmark's tuning
// voices (bench/speech_confidence_fit.py --words), with the recogniser
// scoring 8 Gaussians a mixture and taking noise fillers with probability
// 0.1. The word margin catches out-of-domain sentences that share a few
// words with the grammar: on the real recordings, with the margin alone
// 85.8% of them were not understood, with both 90.8% (first fit, 4
// Gaussians, at its threshold of 0.15).
const double kBias = 6.0254, kSlope = 0.15423, kWordSlope = 0.03261;

// WordMargin averages this many of the lowest word margins. One short word
// heard badly is common in noise; several words far below the phone loop
// are what speech outside the grammar gives. With the lowest word alone, at
// the same threshold, the held-out voices lost 7.5 points in domain instead
// of 4.8, for the same out-of-domain rejection (first fit of the three).
const int kLowWords = 3;

} // namespace

double Margin(const Hypothesis& h)
{
    int n = h.speech_frames > 0 ? h.speech_frames : h.frames;
    return n > 0 ? (double)(h.score - h.loop_score) / n : 0.0;
}

double WordMargin(const Hypothesis& h)
{
    std::vector<double> margins;
    for (const Hypothesis::Word& w : h.spans) {
        int n = w.last - w.first + 1;
        if (n > 0) margins.push_back((double)(w.score - w.loop) / n);
    }
    if (margins.empty()) return Margin(h);
    size_t k = std::min(margins.size(), (size_t)kLowWords);
    std::partial_sort(margins.begin(), margins.begin() + (long)k, margins.end());
    return std::accumulate(margins.begin(), margins.begin() + (long)k, 0.0) / (double)k;
}

double Confidence(const Hypothesis& h)
{
    if (!h.complete || h.frames <= 0) return 0.0;
    return 1.0 / (1.0 + std::exp(-(kBias + kSlope * Margin(h) + kWordSlope * WordMargin(h))));
}

} // namespace ksspeech

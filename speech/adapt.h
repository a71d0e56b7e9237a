// adapt.h: a linear transform of one recording's cepstra that makes them
// likelier under the acoustic model's Gaussians, fitted to that recording
// alone. Noise and a new voice or microphone bend the cepstra away from
// what the model learned; the transform bends them back without knowing
// what was said. Works on plain frames of floats and on the model's
// Gaussians as read from its files, so the tests reach it without the
// recogniser.
#ifndef KSBNFC_SPEECH_ADAPT_H
#define KSBNFC_SPEECH_ADAPT_H

#include <cstddef>
#include <string>
#include <vector>

namespace ksspeech {

// The Gaussians of an acoustic model whose feature is the cepstra, their
// deltas and their second deltas, each a stream of `dims` values. Stream s
// holds `count` Gaussians (every codebook's, pooled); values are laid out
// dimension-major, [s][d][g], so that a frame is scored against all the
// Gaussians of a dimension in one pass.
struct Codebooks {
    int dims = 0;
    int streams = 0;
    size_t count = 0;
    size_t densities = 0; // Gaussians of one codebook: codebook c holds c*densities on
    std::vector<float> mean;  // [s][d][g]
    std::vector<float> ivar;  // [s][d][g]: 1 / variance
    std::vector<float> norm;  // [s][g]: log of the Gaussian's normalising constant
    bool Empty() const { return count == 0; }
};

// Reads the model folder's "means" and "variances". Returns empty
// Codebooks when the model is laid out otherwise than three streams of
// equal width (the transform then does nothing); throws SpeechError on a
// file that is missing, truncated or inconsistent.
Codebooks ReadCodebooks(const std::string& model);

// The model's base phones in the order of its phone definitions ("mdef",
// in the binary layout), which is the order of the codebooks where each
// base phone has its own; empty when the file is laid out otherwise.
// Throws SpeechError on a binary file that is truncated.
std::vector<std::string> ReadPhones(const std::string& model);

// A stretch of frames said to hold the codebooks `phones`, in order: a
// word of a hypothesis and its pronunciation.
struct Stretch {
    size_t first = 0, last = 0;
    std::vector<int> phones;
};

// For each of the `frames` frames of `width` cepstra at `cep`, the codebook
// its Gaussians come from: within each stretch, the likeliest left-to-right
// passage through its phones, `states` frames or more each where the
// stretch is long enough; `rest` outside the stretches, and -1 (any
// Gaussian) in a stretch too short for its phones.
std::vector<int> AlignPhones(const float* cep, size_t frames, int width, const Codebooks& books,
                             const std::vector<Stretch>& words, int rest, int states = 3);

struct AdaptOptions {
    int iterations = 2; // posteriors computed again on the transformed cepstra
    int top = 4;        // Gaussians of each stream a frame is shared among
    // Frames' worth of evidence for the unchanged cepstra, pulling a short
    // recording's transform towards the identity.
    double prior = 0;
};

// Fits, to the `frames` frames of `width` static cepstra at `cep`, the
// width x width matrix A (row-major) for which A (x - mean) + mean, with
// its deltas, is likeliest under the Gaussians (a constrained linear
// regression: the Jacobian term keeps the cepstra from collapsing onto a
// mean). The identity when the widths differ or there is too little to fit.
// With `labels` (one a frame, as AlignPhones gives them), a frame is shared
// only among the Gaussians of its codebook.
std::vector<double> FitTransform(const float* cep, size_t frames, int width, const Codebooks& books,
                                 const AdaptOptions& options, const std::vector<int>& labels = {});

// Applies A as above, in place.
void ApplyTransform(float* cep, size_t frames, int width, const std::vector<double>& a);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_ADAPT_H

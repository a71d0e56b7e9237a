// recogniser.h: what the speech tool needs from a speech recogniser. The
// one implementation (recogniser_pocketsphinx.cpp) is the only file that
// knows which recogniser it drives.
#ifndef KSBNFC_SPEECH_RECOGNISER_H
#define KSBNFC_SPEECH_RECOGNISER_H

#include "fsg_export.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ksspeech {

// Settings of the grammar search; 0 (or a negative beam) leaves the
// recogniser's own default. Beams are probabilities relative to the best
// path (1e-48: keep paths within a factor 1e-48 of it).
struct Search {
    double beam = 0, pbeam = 0, wbeam = 0; // states, phone transitions, word exits
    double lw = 0;                          // language weight
    double wip = 0, pip = 0;                // word and phone insertion probabilities
    double fillprob = 0;                    // of a noise filler (breath, click) between words
    int maxhmmpf = 0;                       // at most this many HMMs a frame; -1 unlimited
    int topn = 0;                           // Gaussians scored a frame in each mixture
};

struct RecogniserConfig {
    std::string model;      // acoustic model folder
    std::string dictionary; // pronunciation dictionary
    bool verbose = false;   // the recogniser's own log on standard error
    Search search;          // the search settings
    bool retry = true;      // a second try when the search ends before the grammar does,
    Search wide;            // with these beams (its language weight and penalties are search's)
    bool remove_noise = true; // the recogniser's own spectral noise removal
    bool phone_loop = false; // also decode with a free phone loop, for the confidence
    // The deviations the lowest cepstra (c0, c1, ...) of a recording are
    // widened back to when noise has narrowed them (RestoreSpread, by at
    // most spread_gain); empty: the cepstra as computed.
    std::vector<double> spread;
    double spread_gain = 3;
    // Each recording's cepstra transformed to fit the model's Gaussians
    // better (FitTransform), with this prior for the unchanged cepstra in
    // frames; below 0: not transformed.
    double adapt = -1;
    // With adapt: Refit can fit the transform again to the first
    // hypothesis, each frame to the Gaussians of the phone it is aligned
    // to, and decode the recording again with it.
    bool refit = false;
};

struct Hypothesis {
    std::string words; // space-separated, as the dictionary spells them
    int32_t score = 0;
    bool complete = true; // false: the search ended before the end of the grammar
    bool wide = false;    // found by the second try with the wide settings
    int frames = 0;       // frames of the recording (100 a second)
    int speech_frames = 0; // of those, the frames of words (not silence or noise), when complete
    // With RecogniserConfig::phone_loop: the score of a free phone decoding
    // of the same frames, the competitor for the confidence.
    int32_t loop_score = 0;
    // Of the best hypothesis, with the phone loop: for each word (not
    // silence or noise), its frames and its acoustic score, and the phone
    // loop's acoustic score over the same frames.
    struct Word {
        int first = 0, last = 0;
        int32_t score = 0, loop = 0;
    };
    std::vector<Word> spans;
};

class Recogniser {
public:
    virtual ~Recogniser() = default;
    // Sample rate the model expects, in Hz.
    virtual int SampleRate() const = 0;
    // The word's pronunciation in the dictionary (as given: the dictionary's
    // case; "word(2)" for its second), or "" when it has none.
    virtual std::string Pronunciation(const std::string& word) = 0;
    bool HasWord(const std::string& word) { return !Pronunciation(word).empty(); }
    // Adds pronunciations (word, space-separated phones); throws on a phone
    // the model lacks.
    virtual void AddWords(const std::vector<std::pair<std::string, std::string>>& words) = 0;
    // The network to search: part 0 of the graph, its words in dictionary case.
    virtual void SetGrammar(const ksexport::Graph& graph, const std::string& name) = 0;
    // Decodes one recording; up to nbest hypotheses, best first. When the
    // search reaches no end of the grammar, it tries again with the wide
    // settings, and failing that returns the best partial path alone
    // (complete false); none when nothing matched at all.
    virtual std::vector<Hypothesis> Decode(const std::vector<int16_t>& samples, int nbest) = 0;
    // With RecogniserConfig::refit, after a Decode whose best hypothesis was
    // complete: that recording decoded again, its cepstra transformed to
    // fit the Gaussians of the phones the hypothesis aligns to its frames.
    // The hypotheses keep the first one's scores (so its confidence); none
    // when there is nothing to fit again. Once a Decode.
    virtual std::vector<Hypothesis> Refit(int nbest) = 0;

    // A live search while the audio arrives, for the best words so far:
    // Begin, Feed any number of times, Stop. The answer for the utterance
    // is Decode's of all of it (the spread restoration and the mean
    // normalisation need the whole). Throw SpeechError as Decode does.
    virtual void Begin() = 0;
    virtual void Feed(const int16_t* samples, size_t n) = 0;
    // The best hypothesis so far, "" before there is one.
    virtual std::string Partial() = 0;
    virtual void Stop() = 0;
    // Forgets what earlier utterances taught it (the channel's average), so
    // that the next one is decoded as if it came first.
    virtual void Forget() = 0;
};

// Opens the recogniser; throws SpeechError naming a missing model or
// dictionary, or the recogniser's refusal.
std::unique_ptr<Recogniser> OpenRecogniser(const RecogniserConfig& config);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_RECOGNISER_H

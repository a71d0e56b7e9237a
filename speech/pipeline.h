// pipeline.h: the speech tool's path from samples to meaning, set up once
// and used for every recording or utterance: the grammar compiled in memory
// (engine FSG for the search, translation FSG for the meaning), a
// pronunciation for every word, and the recogniser searching the network.
#ifndef KSBNFC_SPEECH_PIPELINE_H
#define KSBNFC_SPEECH_PIPELINE_H

#include "fsg_export.h"
#include "intent.h"
#include "ksbnfc_inner.h"
#include "preprocess.h"
#include "recogniser.h"
#include "speech_main.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace ksspeech {

// What one stretch of audio gave.
struct Result {
    std::string words;
    bool recognised = false; // the search reached an end of the grammar
    bool complete = false;   // the words make a whole path of the search (else a partial guess)
    bool accepted = false;   // the grammar accepts the words
    double confidence = 0;   // in [0, 1]; 0 for words the grammar does not accept
    bool understood = false; // accepted, with a confidence at the threshold or above
    bool has_translation = false;
    std::string translation;
    // The intent and slots the grammar's tags give the accepted words
    // (docs/intents.md); none for a grammar without tags.
    std::string intent;
    std::vector<std::pair<std::string, ksintent::Value>> slots;
    int rank = 0; // which of the n best hypotheses, from 1
    // Faults of the recording that cost recognition and that only the
    // person recording can mend (AudioWarnings): none for a sound one.
    std::vector<std::string> warnings;
    double audio = 0, decode = 0; // seconds of audio, seconds spent decoding
};

class Pipeline {
public:
    // Compiles the grammar, finds the pronunciations and opens the
    // recogniser; warnings go to err. Throws SpeechError, ksexport::Error or
    // ksbnfc::Failure.
    Pipeline(const SpeechRequest& r, std::FILE* err);
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Sample rate the recogniser expects, in Hz.
    int SampleRate() const { return rec_->SampleRate(); }
    // Decodes samples at SampleRate() and matches the hypotheses against
    // the meaning of the grammar.
    Result Recognise(const std::vector<int16_t>& samples);
    // An utterance as it arrives: Begin, Feed the samples, End for the
    // result Recognise gives the whole of it; after a Feed that throws, the
    // next call is Begin. With `live`, a search runs while it is spoken and
    // Partial gives its best words so far ("" without).
    void Begin(bool live);
    void Feed(const int16_t* samples, size_t n);
    std::string Partial() { return live_ ? rec_->Partial() : std::string(); }
    Result End();
    // The next utterance is decoded as if it came first (see Recogniser::Forget).
    void Forget() { rec_->Forget(); }
    // What a text means, as if heard: its words, lowercased and without
    // punctuation, matched against the grammar.
    Result Understand(const std::string& text);
    // The grammar that gives acceptance and translation.
    const ksbnfc::Grammar& Meaning() const { return *meaning_; }

private:
    void Extern(const std::string& name, const std::string& file);
    void ChooseCodePage();
    void PrepareGrammar();
    void Pronounce();
    // Fills res from the hypotheses, best first: the first the grammar
    // accepts, else the best.
    Result Interpret(const std::vector<Hypothesis>& hyps, Result res);

    const SpeechRequest& r_;
    std::FILE* err_;
    std::unique_ptr<ksbnfc::Grammar> engine_, translation_;
    const ksbnfc::Grammar* meaning_ = nullptr;
    // The meaning grammar of a translation FSG, with its intents if tagged.
    std::unique_ptr<ksintent::Understander> intents_;
    bool translates_ = false;
    std::string name_;
    ksexport::Graph graph_;
    std::unique_ptr<Recogniser> rec_;
    Cleaning cleaning_;
    double threshold_ = 0;
    double refit_below_ = 1; // a second search for a confidence below this
    bool dereverb_ = true;
    // Only the speech found in a recording is decoded, with these margins
    // in seconds (SpeechSpan).
    bool trim_ = false;
    double trim_before_ = 0, trim_after_ = 0;
    // The utterance under way: its samples as they came; for the live
    // search, the cleaner and what it cleaned of the last Feed.
    std::vector<int16_t> utterance_, cleaned_;
    std::unique_ptr<Cleaner> cleaner_;
    bool live_ = false;
    double feed_time_ = 0;
};

// s as a JSON string; texts of single-byte code pages are taken as Latin-1.
std::string Json(const std::string& s);
// The members `"intent": ...|null, "slots": {...}` of a result's JSON object.
std::string IntentMembers(const Result& r);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_PIPELINE_H

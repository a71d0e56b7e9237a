// pipeline.h: the speech tool's path from samples to meaning, set up once
// and used for every recording or utterance: the grammar compiled in memory
// (engine FSG for the search, translation FSG for the meaning), a
// pronunciation for every word, and the recogniser searching the network.
#ifndef KSBNFC_SPEECH_PIPELINE_H
#define KSBNFC_SPEECH_PIPELINE_H

#include "fsg_export.h"
#include "preprocess.h"
#include "ksbnfc_inner.h"
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
    int rank = 0; // which of the n best hypotheses, from 1
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
    // The grammar that gives acceptance and translation.
    const ksbnfc::Grammar& Meaning() const { return *meaning_; }

private:
    void Extern(const std::string& name, const std::string& file);
    void PrepareGrammar();
    void Pronounce();

    const SpeechRequest& r_;
    std::FILE* err_;
    std::unique_ptr<ksbnfc::Grammar> engine_, translation_;
    const ksbnfc::Grammar* meaning_ = nullptr;
    bool translates_ = false;
    std::string name_;
    ksexport::Graph graph_;
    std::unique_ptr<Recogniser> rec_;
    Cleaning cleaning_;
    double threshold_ = 0;
};

// s as a JSON string; texts of single-byte code pages are taken as Latin-1.
std::string Json(const std::string& s);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_PIPELINE_H

// speech_main.h: the work of the speech tool apart from its argument
// parsing: the request and the function that carries it out.
#ifndef KSBNFC_SPEECH_SPEECH_MAIN_H
#define KSBNFC_SPEECH_SPEECH_MAIN_H

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct SpeechRequest {
    std::string grammar;     // a grammar to compile, or a compiled .fsg / .fst
    std::string translation; // a compiled .fst for the meaning (with a compiled grammar)
    std::vector<std::string> recordings; // "-": standard input
    std::string root;        // root rule of a grammar with several
    std::string model = "/usr/share/pocketsphinx/model/en-us/en-us";
    std::string model_dict = "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict";
    std::vector<std::string> dicts; // pronunciations of words the model's dictionary lacks
    bool espeak = true;      // letter-to-sound fallback
    std::vector<std::pair<std::string, std::string>> externs; // NAME, FILE
    int nbest = 1;
    bool json = false;
    bool raw = false;        // recordings without a WAV header are raw samples, whatever their names
    bool verbose = false;
    // Streams: --listen, --serve.
    bool listen = false;
    std::string device;      // a capture device to listen to instead of standard input
    bool partial = false;
    int max_utterance = 15;  // seconds
    std::string serve;       // tcp://HOST:PORT
    int decoders = 2;
    int max_clients = 32;
    std::string language = "en";
    // Search settings; 0 takes the default for the grammar's size.
    double beam = 0, pbeam = 0, wbeam = 0, lw = 0, wip = 0, pip = 0;
    double fillprob = 0; // 0: kDefaultFillProb
    int topn = 0; // 0: kDefaultTopN
    bool retry = true;        // again with wide beams when the search ends short of the grammar
    int remove_noise = -1;    // the recogniser's own noise removal: 1 on, 0 off, -1 where no denoiser runs
    std::string denoise = "default"; // noise suppression before the recogniser: none, speex, webrtc
    bool agc = false;         // with the denoiser's gain control
    int suppress = 0;         // speex: the most the noise is lowered, in dB; 0: the default
    double threshold = -1;    // below this confidence "not understood"; <0: the default
    bool spread_set = false;  // spread given: the deviations c0, c1, ... are restored to (empty: none)
    std::vector<double> spread;
    double adapt = -2;        // prior of the cepstral transform in frames; -1: none, -2: the default
    bool dereverb = true;     // the room's late echo taken out first (Dereverb)
    bool refit = true;        // the transform fitted again to the first hypothesis, and a second search,
    double refit_below = -1;  // for a confidence below this (and at the threshold or above); <0: the default
    bool trim = true;         // the recording cut to the speech found in it, with margins:
    double trim_before = -1, trim_after = -1; // seconds kept before and after; <0: the default
};

// Results go to out, warnings and errors to err. Returns 0 when every
// recording was understood, 1 when any was not, 2 after any error.
int SpeechMain(const SpeechRequest& r, std::FILE* out, std::FILE* err);

// --listen: one JSON line a heard utterance on out until the stream ends or
// SIGINT/SIGTERM. --serve: the voice service until SIGINT/SIGTERM.
// stream_main.cpp. Return 0, or 2 after an error said on err.
int ListenMain(const SpeechRequest& r, std::FILE* out, std::FILE* err);
int ServeMain(const SpeechRequest& r, std::FILE* err);

// Runs work, saying on err why the grammar, the model or the recogniser
// could not be set up when it throws; returns its status, or 2 then.
int SetUp(const SpeechRequest& r, std::FILE* err, const std::function<int()>& work);

#endif // KSBNFC_SPEECH_SPEECH_MAIN_H

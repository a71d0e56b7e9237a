// speech_main.h: the work of the speech tool apart from its argument
// parsing: the request and the function that carries it out.
#ifndef KSBNFC_SPEECH_SPEECH_MAIN_H
#define KSBNFC_SPEECH_SPEECH_MAIN_H

#include <cstdio>
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
    // Search settings; 0 takes the default for the grammar's size.
    double beam = 0, pbeam = 0, wbeam = 0, lw = 0, wip = 0, pip = 0;
    bool retry = true;        // again with wide beams when the search ends short of the grammar
    bool remove_noise = true; // the recogniser's own noise removal
    std::string denoise = "default"; // noise suppression before the recogniser: none, speex, webrtc
    bool agc = false;         // with the denoiser's gain control
    double threshold = -1;    // below this confidence "not understood"; <0: the default
};

// Results go to out, warnings and errors to err. Returns 0 when every
// recording was understood, 1 when any was not, 2 after any error.
int SpeechMain(const SpeechRequest& r, std::FILE* out, std::FILE* err);

#endif // KSBNFC_SPEECH_SPEECH_MAIN_H

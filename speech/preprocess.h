// preprocess.h: cleaning a recording before the recogniser hears it: noise
// suppression, gain control and a high-pass filter from the audio
// processing libraries found at build time.
#ifndef KSBNFC_SPEECH_PREPROCESS_H
#define KSBNFC_SPEECH_PREPROCESS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ksspeech {

struct Cleaning {
    std::string denoise = "none"; // "none", "speex" or "webrtc"
    bool agc = false;             // automatic gain control of the same library
    // speex: the most the noise is lowered, in dB (< 0). 0: chosen by Clean
    // from the recording's signal-to-noise ratio (snr.h), speex's -15 in a
    // stream.
    int suppress = 0;
};

// Whether this build has the library `denoise` names ("none" always).
bool CleaningAvailable(const std::string& denoise);

// Cleans a stream at rate Hz as it arrives, 10 ms at a time, starting with
// a fresh noise estimate. With `raise`, a quiet stream is raised as
// Normalise raises a recording: each piece given to Process by the gain
// that brings the loudest sample so far to kNormalPeak (at most kMostGain),
// so the gain only falls and nothing clips. Throws SpeechError when the
// library is not built in or refuses the rate.
class Cleaner {
public:
    Cleaner(const Cleaning& c, int rate, bool raise = false);
    ~Cleaner();
    Cleaner(const Cleaner&) = delete;
    Cleaner& operator=(const Cleaner&) = delete;
    // Takes n samples; appends to out the whole frames cleaned so far.
    void Process(const int16_t* samples, size_t n, std::vector<int16_t>& out);
    // Appends the rest, less than a frame, as it is.
    void Flush(std::vector<int16_t>& out);

private:
    struct State;
    std::unique_ptr<State> st_;
};

// Cleans a whole recording in place (a last partial frame is left as it
// is): raised by Normalise (snr.h), then cleaned with the noise estimated
// over all of it first. Returns the suppression used in dB (0 for none).
int Clean(const Cleaning& c, int rate, std::vector<int16_t>& samples);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_PREPROCESS_H

// preprocess.h: cleaning a recording before the recogniser hears it: noise
// suppression, gain control and a high-pass filter from the audio
// processing libraries found at build time.
#ifndef KSBNFC_SPEECH_PREPROCESS_H
#define KSBNFC_SPEECH_PREPROCESS_H

#include <cstdint>
#include <string>
#include <vector>

namespace ksspeech {

struct Cleaning {
    std::string denoise = "none"; // "none", "speex" or "webrtc"
    bool agc = false;             // automatic gain control of the same library
};

// Whether this build has the library `denoise` names ("none" always).
bool CleaningAvailable(const std::string& denoise);

// Cleans samples at rate Hz in place, 10 ms at a time (a last partial frame
// is left as it is). Each call starts with a fresh noise estimate. Throws
// SpeechError when the library is not built in or refuses the rate.
void Clean(const Cleaning& c, int rate, std::vector<int16_t>& samples);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_PREPROCESS_H

// audio.h: recordings for the recogniser: 16-bit mono PCM from a WAV file
// or from raw samples, checked against the rate the model needs.
#ifndef KSBNFC_SPEECH_AUDIO_H
#define KSBNFC_SPEECH_AUDIO_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ksspeech {

struct SpeechError : std::runtime_error {
    explicit SpeechError(const std::string& text) : std::runtime_error(text) {}
};

// The samples of one recording. A RIFF/WAVE image must be uncompressed
// 16-bit mono at `rate` Hz; anything else is taken as raw little-endian
// 16-bit mono samples at that rate, which a file named *.wav may not be.
// Throws SpeechError for a wrong format or rate and for an empty recording.
std::vector<int16_t> ParseRecording(const std::string& bytes, const std::string& name, int rate);

// Reads the file ("-": standard input) and parses it.
std::vector<int16_t> ReadRecording(const std::string& path, int rate);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_AUDIO_H

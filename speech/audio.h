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
// 16-bit mono at `rate` Hz. Raw little-endian 16-bit mono samples at that
// rate are taken from a file named *.raw or *.pcm, or with raw set; anything
// else (a text, a compressed file) is refused, saying what is expected.
// Throws SpeechError for a wrong format or rate and for an empty recording.
std::vector<int16_t> ParseRecording(const std::string& bytes, const std::string& name, int rate, bool raw = false);

// Reads the file ("-": standard input) and parses it.
std::vector<int16_t> ReadRecording(const std::string& path, int rate, bool raw = false);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_AUDIO_H

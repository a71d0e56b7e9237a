// capture.h: where a listening session's audio comes from: a byte stream
// (standard input: raw samples, or a WAV stream recognised by its header)
// or a capture device through ALSA or PulseAudio, where built with them.
#ifndef KSBNFC_SPEECH_CAPTURE_H
#define KSBNFC_SPEECH_CAPTURE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ksspeech {

class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Up to n samples, 16-bit mono at the rate asked for when opened. 0 at
    // the end of the stream; -1 when a signal interrupted the wait. Throws
    // SpeechError when the stream or the device fails.
    virtual long Read(int16_t* samples, size_t n) = 0;
};

// The stream on fd (not closed here); `name` for messages. A stream that
// opens with a RIFF/WAVE header must hold 16-bit mono PCM at `rate`; any
// other stream is raw 16-bit little-endian mono samples at `rate`.
std::unique_ptr<AudioSource> OpenStream(int fd, const std::string& name, int rate);

// A capture device: "alsa", "alsa:NAME" (an ALSA PCM such as "default" or
// "hw:1"), "pulse" or "pulse:SOURCE". Throws SpeechError naming what is
// missing: the device, or the support for it in this build.
std::unique_ptr<AudioSource> OpenDevice(const std::string& device, int rate);

// The device kinds this build can open, e.g. "alsa, pulse", or "".
std::string DeviceKinds();

} // namespace ksspeech

#endif // KSBNFC_SPEECH_CAPTURE_H

// convert.h: PCM of any common shape brought to what the recogniser takes:
// little-endian samples of 1 (unsigned), 2, 3 or 4 bytes and any number of
// interleaved channels to 16-bit mono, and a change of sample rate.
#ifndef KSBNFC_SPEECH_CONVERT_H
#define KSBNFC_SPEECH_CONVERT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ksspeech {

struct PcmFormat {
    int rate = 16000;
    int width = 2; // bytes per sample
    int channels = 1;
};

// "" when samples of this shape can be converted, else why not.
std::string Unsupported(const PcmFormat& f);

// Appends the frames of bytes, averaged over the channels, to out as 16-bit
// samples. Returns false when bytes is not a whole number of frames.
bool AppendMono16(const std::string& bytes, const PcmFormat& f, std::vector<int16_t>& out);

// The samples at rate `to`: linear interpolation, after a moving average as
// long as the step when going down.
std::vector<int16_t> Resample(const std::vector<int16_t>& in, int from, int to);

} // namespace ksspeech

#endif // KSBNFC_SPEECH_CONVERT_H

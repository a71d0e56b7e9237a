// audio.cpp: ParseRecording and ReadRecording: the WAV chunk walk and raw
// samples, read byte by byte as little-endian so that the host's byte order
// and word size don't matter.
#include "audio.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ksspeech {
namespace {

uint32_t U32(const std::string& b, size_t at)
{
    return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8 |
           (uint32_t)(unsigned char)b[at + 2] << 16 | (uint32_t)(unsigned char)b[at + 3] << 24;
}

unsigned U16(const std::string& b, size_t at)
{
    return (unsigned)(unsigned char)b[at] | (unsigned)(unsigned char)b[at + 1] << 8;
}

bool EndsWith(const std::string& s, const char* tail)
{
    size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower((unsigned char)s[s.size() - n + i]) != tail[i]) return false;
    return true;
}

std::vector<int16_t> Samples(const std::string& b, size_t from, size_t bytes, const std::string& name)
{
    if (bytes % 2) throw SpeechError(name + ": odd number of bytes for 16-bit samples");
    if (bytes == 0) throw SpeechError(name + ": the recording is empty");
    std::vector<int16_t> s(bytes / 2);
    for (size_t i = 0; i < s.size(); i++) s[i] = (int16_t)U16(b, from + 2 * i);
    return s;
}

std::vector<int16_t> Wav(const std::string& b, const std::string& name, int rate)
{
    bool have_fmt = false;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        std::string id = b.substr(at, 4);
        uint32_t size = U32(b, at + 4);
        size_t body = at + 8;
        size_t left = b.size() - body;
        if (id == "fmt ") {
            if (size < 16 || left < 16) throw SpeechError(name + ": truncated WAV format chunk");
            unsigned tag = U16(b, body), channels = U16(b, body + 2), bits = U16(b, body + 14);
            uint32_t hz = U32(b, body + 4);
            // WAVE_FORMAT_EXTENSIBLE names its sample format in a GUID whose
            // first two bytes are the plain format tag.
            if (tag == 0xFFFE && size >= 26 && left >= 26) tag = U16(b, body + 24);
            if (tag != 1) throw SpeechError(name + ": WAV format " + std::to_string(tag) + " is not uncompressed PCM");
            if (channels != 1)
                throw SpeechError(name + ": " + std::to_string(channels) + " channels; the recogniser needs mono");
            if (bits != 16)
                throw SpeechError(name + ": " + std::to_string(bits) + "-bit samples; the recogniser needs 16-bit");
            if ((int)hz != rate)
                throw SpeechError(name + ": sample rate " + std::to_string(hz) + " Hz; the model needs " +
                                  std::to_string(rate) + " Hz (resample it, e.g. sox IN -r " + std::to_string(rate) +
                                  " OUT.wav)");
            have_fmt = true;
        } else if (id == "data") {
            if (!have_fmt) throw SpeechError(name + ": WAV data before its format chunk");
            // Streamed files leave the size unset: the data runs to the end.
            size_t n = size == 0xFFFFFFFFu || size > left ? left - left % 2 : size;
            return Samples(b, body, n, name);
        }
        if (size > left) break;
        at = body + size + (size & 1);
    }
    throw SpeechError(name + ": WAV file without " + (have_fmt ? "a data chunk" : "a format chunk"));
}

} // namespace

std::vector<int16_t> ParseRecording(const std::string& bytes, const std::string& name, int rate, bool raw)
{
    if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0)
        return Wav(bytes, name, rate);
    if (EndsWith(name, ".wav")) throw SpeechError(name + ": not a WAV file (no RIFF/WAVE header)");
    if (!raw && !EndsWith(name, ".raw") && !EndsWith(name, ".pcm"))
        throw SpeechError(name + ": not a recording ksspeech reads: expected a WAV file (RIFF/WAVE, 16-bit mono " +
                          std::to_string(rate) + " Hz), or raw 16-bit mono samples in a .raw or .pcm file or "
                          "with --raw");
    return Samples(bytes, 0, bytes.size(), name);
}

std::vector<int16_t> ReadRecording(const std::string& path, int rate, bool raw)
{
    bool in = path == "-";
    std::string name = in ? "standard input" : path;
    std::FILE* f = in ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) throw SpeechError("can't open '" + path + "' (" + std::strerror(errno) + ")");
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    bool bad = std::ferror(f);
    int e = errno;
    if (!in) std::fclose(f);
    if (bad) throw SpeechError("can't read '" + name + "' (" + std::strerror(e) + ")");
    return ParseRecording(bytes, name, rate, raw);
}

} // namespace ksspeech

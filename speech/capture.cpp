// capture.cpp: the AudioSource of a byte stream (header walk of a WAV
// stream, then samples as they arrive, an odd byte kept for the next read)
// and of the capture devices, each compiled in where CMake found it
// (KSSPEECH_ALSA, KSSPEECH_PULSE).
#include "capture.h"

#include "audio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#ifdef KSSPEECH_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef KSSPEECH_PULSE
#include <pulse/error.h>
#include <pulse/simple.h>
#endif

namespace ksspeech {

namespace {

uint32_t Le(const unsigned char* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | p[i];
    return v;
}

class StreamSource : public AudioSource {
public:
    StreamSource(int fd, const std::string& name, int rate) : fd_(fd), name_(name), rate_(rate) {}

    long Read(int16_t* samples, size_t n) override
    {
        if (!started_) {
            started_ = true;
            Header();
        }
        if (limited_ && left_ < 2) return 0;
        size_t want = n * 2 - (have_ ? 1 : 0);
        if (limited_ && want > left_) want = (size_t)left_;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(buf_);
        if (want > sizeof buf_ - 1) want = sizeof buf_ - 1;
        if (have_) bytes[0] = odd_;
        long got = RawRead(bytes + (have_ ? 1 : 0), want);
        if (got < 0) return -1;
        if (got == 0) return 0; // a last odd byte is no sample
        if (limited_) left_ -= (uint64_t)got;
        size_t total = (size_t)got + (have_ ? 1 : 0);
        size_t count = total / 2;
        for (size_t i = 0; i < count; i++) samples[i] = (int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
        have_ = total % 2;
        if (have_) odd_ = bytes[total - 1];
        return count == 0 ? Read(samples, n) : (long)count;
    }

private:
    long RawRead(unsigned char* p, size_t n)
    {
        if (pending_pos_ < pending_n_) {
            size_t k = std::min(n, pending_n_ - pending_pos_);
            std::memcpy(p, pending_ + pending_pos_, k);
            pending_pos_ += k;
            return (long)k;
        }
        ssize_t got = ::read(fd_, p, n);
        if (got < 0) {
            if (errno == EINTR) return -1;
            throw SpeechError("can't read " + name_ + " (" + std::strerror(errno) + ")");
        }
        return (long)got;
    }

    // Reads exactly n bytes; false at the end of the stream.
    bool Exact(unsigned char* p, size_t n)
    {
        while (n > 0) {
            long got = RawRead(p, n);
            if (got == 0) return false;
            if (got < 0) continue;
            p += got;
            n -= (size_t)got;
        }
        return true;
    }

    void Header()
    {
        unsigned char h[12];
        size_t got = 0;
        while (got < sizeof h) {
            long r = RawRead(h + got, sizeof h - got);
            if (r == 0) break;
            if (r > 0) got += (size_t)r;
        }
        if (got < 12 || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) {
            // Raw samples: what was read is the first of them.
            std::memcpy(pending_, h, got);
            pending_n_ = got;
            return;
        }
        bool fmt = false;
        uint64_t skipped = 0;
        for (;;) {
            unsigned char c[8];
            if (!Exact(c, 8)) throw SpeechError(name_ + ": WAV stream ends before its data");
            uint32_t size = Le(c + 4, 4);
            if (std::memcmp(c, "data", 4) == 0) {
                if (!fmt) throw SpeechError(name_ + ": WAV data before its format chunk");
                // A stream written before its length was known says 0 or
                // the largest size; its data runs to the end.
                limited_ = size != 0 && size < 0x7FFF0000u;
                left_ = size;
                return;
            }
            uint32_t body = size + (size & 1);
            skipped += body;
            if (skipped > (1u << 20)) throw SpeechError(name_ + ": WAV header chunks longer than 1 MB");
            std::string b(body, '\0');
            if (!Exact(reinterpret_cast<unsigned char*>(&b[0]), body))
                throw SpeechError(name_ + ": WAV stream ends before its data");
            if (std::memcmp(c, "fmt ", 4) != 0) continue;
            if (size < 16) throw SpeechError(name_ + ": truncated WAV format chunk");
            const unsigned char* f = reinterpret_cast<const unsigned char*>(b.data());
            uint32_t tag = Le(f, 2), channels = Le(f + 2, 2), hz = Le(f + 4, 4), bits = Le(f + 14, 2);
            if (tag == 0xFFFE && size >= 26) tag = Le(f + 24, 2);
            if (tag != 1 || channels != 1 || bits != 16 || (int)hz != rate_)
                throw SpeechError(name_ + ": a WAV stream of format " + std::to_string(tag) + ", " +
                                  std::to_string(channels) + " channel(s), " + std::to_string(bits) + " bits, " +
                                  std::to_string(hz) + " Hz; listening needs 16-bit mono PCM at " +
                                  std::to_string(rate_) + " Hz (convert it, e.g. sox IN -t wav -r " +
                                  std::to_string(rate_) + " -c 1 -b 16 -)");
            fmt = true;
        }
    }

    int fd_;
    std::string name_;
    int rate_;
    bool started_ = false;
    bool limited_ = false;
    uint64_t left_ = 0;
    bool have_ = false;
    unsigned char odd_ = 0;
    int16_t buf_[4096];
    unsigned char pending_[12]; // raw bytes read looking for a header, handed out first
    size_t pending_n_ = 0, pending_pos_ = 0;
};

#ifdef KSSPEECH_ALSA
// The library's own messages repeat what the errors below say.
void AlsaQuiet(const char*, int, const char*, int, const char*, ...) {}

class AlsaSource : public AudioSource {
public:
    AlsaSource(const std::string& name, int rate) : name_(name), chunk_((size_t)rate / 50)
    {
        snd_lib_error_set_handler(AlsaQuiet);
        int rc = snd_pcm_open(&pcm_, name.c_str(), SND_PCM_STREAM_CAPTURE, 0);
        if (rc < 0) throw SpeechError("can't open the ALSA device '" + name + "' (" + snd_strerror(rc) + ")");
        rc = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, (unsigned)rate, 1,
                                100000);
        if (rc < 0) {
            snd_pcm_close(pcm_);
            throw SpeechError("the ALSA device '" + name + "' can't give 16-bit mono at " + std::to_string(rate) +
                              " Hz (" + snd_strerror(rc) + ")");
        }
    }
    ~AlsaSource() override { snd_pcm_close(pcm_); }

    long Read(int16_t* samples, size_t n) override
    {
        snd_pcm_sframes_t got = snd_pcm_readi(pcm_, samples, std::min(n, chunk_));
        if (got >= 0) return (long)got;
        if (got == -EINTR) return -1;
        // An overrun is recovered from; a device that has gone is not.
        if (snd_pcm_recover(pcm_, (int)got, 1) == 0) return -1;
        throw SpeechError("the ALSA device '" + name_ + "' failed (" + snd_strerror((int)got) + ")");
    }

private:
    snd_pcm_t* pcm_ = nullptr;
    std::string name_;
    size_t chunk_;
};
#endif

#ifdef KSSPEECH_PULSE
class PulseSource : public AudioSource {
public:
    PulseSource(const std::string& name, int rate) : name_(name.empty() ? "the default source" : name), chunk_((size_t)rate / 50)
    {
        pa_sample_spec ss;
        ss.format = PA_SAMPLE_S16LE;
        ss.rate = (uint32_t)rate;
        ss.channels = 1;
        pa_buffer_attr attr;
        std::memset(&attr, 0xFF, sizeof attr); // the server's defaults
        attr.fragsize = (uint32_t)(chunk_ * 2);
        int err = 0;
        pa_ = pa_simple_new(nullptr, "ksspeech", PA_STREAM_RECORD, name.empty() ? nullptr : name.c_str(), "listen",
                            &ss, nullptr, &attr, &err);
        if (!pa_) throw SpeechError("can't record from PulseAudio " + name_ + " (" + pa_strerror(err) + ")");
    }
    ~PulseSource() override { pa_simple_free(pa_); }

    long Read(int16_t* samples, size_t n) override
    {
        n = std::min(n, chunk_);
        int err = 0;
        if (pa_simple_read(pa_, samples, n * 2, &err) < 0)
            throw SpeechError("recording from PulseAudio " + name_ + " failed (" + pa_strerror(err) + ")");
        return (long)n;
    }

private:
    pa_simple* pa_ = nullptr;
    std::string name_;
    size_t chunk_; // 20 ms, so that a signal is seen soon
};
#endif

} // namespace

std::unique_ptr<AudioSource> OpenStream(int fd, const std::string& name, int rate)
{
    return std::unique_ptr<AudioSource>(new StreamSource(fd, name, rate));
}

std::unique_ptr<AudioSource> OpenDevice(const std::string& device, int rate)
{
    size_t colon = device.find(':');
    std::string kind = device.substr(0, colon), name = colon == std::string::npos ? "" : device.substr(colon + 1);
    if (kind == "alsa") {
#ifdef KSSPEECH_ALSA
        return std::unique_ptr<AudioSource>(new AlsaSource(name.empty() ? "default" : name, rate));
#else
        throw SpeechError("this ksspeech was built without ALSA (package libasound2-dev)");
#endif
    }
    if (kind == "pulse") {
#ifdef KSSPEECH_PULSE
        return std::unique_ptr<AudioSource>(new PulseSource(name, rate));
#else
        throw SpeechError("this ksspeech was built without PulseAudio (package libpulse-dev)");
#endif
    }
    throw SpeechError("unknown device '" + device + "': expected alsa[:NAME] or pulse[:SOURCE]");
}

std::string DeviceKinds()
{
    std::string k;
#ifdef KSSPEECH_ALSA
    k += "alsa";
#endif
#ifdef KSSPEECH_PULSE
    k += k.empty() ? "pulse" : ", pulse";
#endif
    return k;
}

} // namespace ksspeech

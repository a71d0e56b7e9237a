// listen.cpp: Listen: the read loop, and the segment sink that gives each
// utterance to the pipeline (its live search, for partial words, while it
// is spoken) and prints its line when it ends. Memory is the segmenter's
// and one utterance's, whose length the segmenter caps.
#include "listen.h"

#include "audio.h"
#include "report.h"

#include <cerrno>
#include <cstring>

namespace ksspeech {

namespace {

class Listener : public SegmentSink {
public:
    Listener(Pipeline& p, const ListenOptions& o, std::FILE* out, std::FILE* err)
        : p_(p), o_(o), out_(out), err_(err), rate_(p.SampleRate())
    {
    }

    bool Failed() const { return failed_; }

    void Start(int64_t at) override
    {
        start_ = at;
        since_partial_ = 0;
        partial_.clear();
        ok_ = Try([&] { p_.Begin(o_.partial); });
    }

    void Audio(const int16_t* samples, size_t n) override
    {
        if (!ok_) return;
        ok_ = Try([&] { p_.Feed(samples, n); });
        if (!ok_ || !o_.partial) return;
        since_partial_ += n;
        if (since_partial_ < (size_t)rate_ * 3 / 10) return;
        since_partial_ = 0;
        std::string words = p_.Partial();
        if (words.empty() || words == partial_) return;
        partial_ = words;
        Print("{\"partial\": " + Json(words) + ", \"start\": " + Seconds(start_) + "}");
    }

    void End(int64_t at, bool) override
    {
        if (!ok_) return;
        ok_ = false;
        Result r;
        if (!Try([&] { r = p_.End(); })) return;
        if ((at - start_) * 1000 < (int64_t)o_.min_speech_ms * rate_) return;
        Print("{\"start\": " + Seconds(start_) + ", \"end\": " + Seconds(at) + ", " + ResultMembers(r) + "}");
    }

private:
    template <class F> bool Try(F f)
    {
        try {
            f();
            return true;
        } catch (const SpeechError& e) {
            std::fprintf(err_, "ksspeech: utterance at %s s: %s\n", Seconds(start_).c_str(), e.what());
            return false;
        }
    }

    std::string Seconds(int64_t at) const
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", (double)at / rate_);
        return buf;
    }

    void Print(const std::string& line)
    {
        if (failed_) return;
        std::fprintf(out_, "%s\n", line.c_str());
        if (std::fflush(out_) != 0 || std::ferror(out_)) {
            std::fprintf(err_, "ksspeech: can't write the results (%s)\n", std::strerror(errno));
            failed_ = true;
        }
    }

    Pipeline& p_;
    const ListenOptions& o_;
    std::FILE* out_;
    std::FILE* err_;
    int rate_;
    int64_t start_ = 0;
    bool ok_ = false;
    bool failed_ = false;
    size_t since_partial_ = 0;
    std::string partial_;
};

} // namespace

int Listen(Pipeline& pipeline, AudioSource& src, const ListenOptions& o, std::FILE* out, std::FILE* err,
           volatile std::sig_atomic_t* stop)
{
    SegmenterOptions so = o.segments;
    so.rate = pipeline.SampleRate();
    Segmenter seg(so);
    Listener sink(pipeline, o, out, err);
    int16_t buf[1600];
    int status = 0;
    while (!*stop && !sink.Failed()) {
        long n;
        try {
            n = src.Read(buf, sizeof buf / sizeof buf[0]);
        } catch (const SpeechError& e) {
            std::fprintf(err, "ksspeech: %s\n", e.what());
            status = 2;
            break;
        }
        if (n < 0) continue;
        if (n == 0) break;
        seg.Feed(buf, (size_t)n, sink);
    }
    seg.Flush(sink);
    return sink.Failed() ? 2 : status;
}

} // namespace ksspeech

// speech_test.cpp: the speech tool's parts that need no recogniser: the
// recording reader (WAV chunks, raw samples, every refusal) and the
// pronunciation helpers (espeak-ng mnemonics, tests/data/pronounce.txt;
// dictionary files); the segmenter and the denoiser's strength on synthetic
// signals; the event reader of
// the voice service (tests/data/wyoming_events.txt); the restoration of the
// cepstra's spread.
#include "adapt.h"
#include "audio.h"
#include "cepstra.h"
#include "dereverb.h"
#include "confidence.h"
#include "convert.h"
#include "snr.h"
#include "pronounce.h"
#include "quality.h"
#include "segmenter.h"
#include "wyoming.h"

#include "cases.h"
#include "ks_api.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace {

using ksspeech::ParseRecording;
using ksspeech::SpeechError;

// The message f fails with, or "(no error)".
template <class F> std::string Failure(F&& f)
{
    try {
        f();
    } catch (const SpeechError& e) {
        return e.what();
    }
    return "(no error)";
}

std::string LE(uint32_t v, int n)
{
    std::string s;
    for (int i = 0; i < n; i++) s += (char)(v >> (8 * i) & 0xFF);
    return s;
}

// A WAV image: format chunk of the given shape, then the data bytes.
std::string Wav(unsigned tag, unsigned channels, uint32_t rate, unsigned bits, const std::string& data,
                uint32_t data_size = 0xFFFFFFFEu, bool extensible = false)
{
    std::string fmt = LE(extensible ? 0xFFFE : tag, 2) + LE(channels, 2) + LE(rate, 4) + LE(rate * channels * bits / 8, 4) +
                      LE(channels * bits / 8, 2) + LE(bits, 2);
    if (extensible) fmt += LE(22, 2) + LE(bits, 2) + LE(4, 4) + LE(tag, 2) + std::string(14, 'g');
    std::string body = "WAVE" + std::string("fmt ") + LE((uint32_t)fmt.size(), 4) + fmt + "LIST" + LE(3, 4) + "abc" +
                       std::string(1, 0) + "data" + LE(data_size == 0xFFFFFFFEu ? (uint32_t)data.size() : data_size, 4) +
                       data;
    return "RIFF" + LE((uint32_t)body.size(), 4) + body;
}

const std::string kTwo = LE(0x1234, 2) + LE(0xFFFF, 2); // samples 0x1234, -1

struct AudioCase {
    const char* name;
    std::string bytes;
    const char* file;
    const char* error; // null: samples kTwo
};

TEST(Audio, Formats)
{
    const AudioCase cases[] = {
        {"raw", kTwo, "a.raw", nullptr},
        {"pcm", kTwo, "a.PCM", nullptr},
        {"text or flac", "fLaC", "a.flac", "expected a WAV file (RIFF/WAVE, 16-bit mono 16000 Hz), or raw 16-bit"},
        {"wav, odd chunk padded", Wav(1, 1, 16000, 16, kTwo), "a.wav", nullptr},
        {"extensible", Wav(1, 1, 16000, 16, kTwo, 0xFFFFFFFEu, true), "a.wav", nullptr},
        {"streamed size", Wav(1, 1, 16000, 16, kTwo, 0xFFFFFFFFu), "a.wav", nullptr},
        {"size past the end", Wav(1, 1, 16000, 16, kTwo, 1000), "a.wav", nullptr},
        {"wrong rate", Wav(1, 1, 22050, 16, kTwo), "a.wav", "sample rate 22050 Hz; the model needs 16000 Hz"},
        {"stereo", Wav(1, 2, 16000, 16, kTwo), "a.wav", "2 channels"},
        {"8-bit", Wav(1, 1, 16000, 8, kTwo), "a.wav", "8-bit samples"},
        {"compressed", Wav(3, 1, 16000, 16, kTwo), "a.wav", "WAV format 3 is not uncompressed PCM"},
        {"extensible float", Wav(3, 1, 16000, 16, kTwo, 0xFFFFFFFEu, true), "a.wav", "WAV format 3"},
        {"empty wav", Wav(1, 1, 16000, 16, ""), "a.wav", "the recording is empty"},
        {"empty raw", "", "a.raw", "the recording is empty"},
        {"odd raw", "abc", "a.raw", "odd number of bytes"},
        {"wav name, no header", kTwo, "a.WAV", "not a WAV file"},
        {"header only", Wav(1, 1, 16000, 16, "").substr(0, 20), "a.wav", "truncated WAV format chunk"},
        {"no data chunk", "RIFF" + LE(4, 4) + "WAVE", "a.wav", "without a format chunk"},
    };
    for (const AudioCase& c : cases) {
        std::vector<int16_t> s;
        std::string err = Failure([&] { s = ParseRecording(c.bytes, c.file, 16000); });
        if (c.error) {
            EXPECT_NE(err.find(c.error), std::string::npos) << c.name << ": " << err;
            EXPECT_EQ(err.find(c.file), 0u) << c.name << ": names the file: " << err;
        } else {
            EXPECT_EQ(s, (std::vector<int16_t>{0x1234, -1})) << c.name << ": " << err;
        }
    }
}

TEST(Audio, UnreadableFile)
{
    std::string err = Failure([] { ksspeech::ReadRecording("/nonexistent/x.raw", 16000); });
    EXPECT_NE(err.find("can't open '/nonexistent/x.raw'"), std::string::npos) << err;
}

TEST(Pronounce, EspeakMnemonics)
{
    for (const cases::Case& c : cases::Read("pronounce.txt"))
        EXPECT_EQ(ksspeech::EspeakToPhones(c[0] == "-" ? "" : c[0]), c[1]) << c.at;
}

using SpeechFiles = ks_api::Scratch;

TEST_F(SpeechFiles, Dictionary)
{
    // Variants count for their word; a line without phones is warned about.
    std::string text = "Lattes L AA T EY Z\n\n;; comment\nlattes(2) L AE T EY Z\nokafor  OW K AA F ER \nbroken\n";
    ksspeech::Dictionary d;
    std::vector<std::string> warnings;
    ksspeech::ReadDictionary(Write("dict", text), d, warnings);
    EXPECT_EQ(d, (ksspeech::Dictionary{{"lattes", {"L AA T EY Z", "L AE T EY Z"}}, {"okafor", {"OW K AA F ER"}}}));
    EXPECT_EQ(warnings, std::vector<std::string>{Path("dict") + ":6: 'broken' has no pronunciation; line ignored"});
}

// Utterances as "START-END" in ms, "!" after a forced end.
class Segments : public ksspeech::SegmentSink {
public:
    std::string found;
    size_t audio = 0;
    void Start(int64_t at) override { found += (found.empty() ? "" : " ") + std::to_string(at / 16) + "-"; }
    void Audio(const int16_t*, size_t n) override { audio += n; }
    void End(int64_t at, bool forced) override { found += std::to_string(at / 16) + (forced ? "!" : ""); }
};

struct SegmentCase {
    const char* name;
    int noise;                                 // amplitude of the background noise throughout
    std::vector<std::pair<int, int>> signal;   // (ms, amplitude of a 440 Hz tone), in turn
    int max_ms;
    const char* found;                         // each time within 30 ms
};

TEST(Segmenter, SyntheticSignals)
{
    const SegmentCase cases[] = {
        {"two bursts", 100, {{500, 0}, {800, 8000}, {600, 0}, {700, 8000}, {500, 0}}, 15000, "500-1300 1900-2600"},
        {"a short gap joins", 100, {{500, 0}, {800, 8000}, {150, 0}, {700, 8000}, {500, 0}}, 15000, "500-2150"},
        {"a click is no speech", 100, {{500, 0}, {40, 20000}, {1000, 0}}, 15000, ""},
        {"loud steady noise", 3000, {{1000, 0}, {600, 30000}, {500, 0}}, 15000, "1000-1600"},
        {"digital silence", 0, {{300, 0}, {600, 2000}, {400, 0}}, 15000, "300-900"},
        {"a quiet microphone", 2, {{500, 0}, {800, 40}, {600, 0}, {700, 40}, {500, 0}}, 15000, "500-1300 1900-2600"},
        {"forced ends", 100, {{200, 0}, {2500, 8000}, {400, 0}}, 1000, "200-1000! 1000-2000! 2000-2700"},
        {"stream ends in speech", 100, {{300, 0}, {500, 8000}}, 15000, "300-800"},
    };
    for (const SegmentCase& c : cases) {
        ksspeech::SegmenterOptions o;
        o.max_ms = c.max_ms;
        ksspeech::Segmenter seg(o);
        Segments sink;
        uint32_t lcg = 1;
        size_t total = 0;
        for (const auto& part : c.signal) {
            std::vector<int16_t> s((size_t)part.first * 16);
            for (size_t i = 0; i < s.size(); i++, total++) {
                lcg = lcg * 1664525u + 1013904223u;
                double noise = ((double)(lcg >> 16) / 32768.0 - 1) * c.noise;
                s[i] = (int16_t)(noise + part.second * std::sin(2 * M_PI * 440 * (double)total / 16000));
            }
            seg.Feed(s.data(), s.size(), sink);
        }
        seg.Flush(sink);
        // Compare with a tolerance: the numbers in turn.
        std::vector<long> got, want;
        for (auto* v : {&got, &want}) {
            const std::string& text = v == &got ? sink.found : std::string(c.found);
            for (size_t i = 0; i < text.size();)
                if (std::isdigit((unsigned char)text[i])) {
                    size_t n;
                    v->push_back(std::stol(text.substr(i), &n));
                    i += n;
                } else {
                    i++;
                }
        }
        bool close = got.size() == want.size();
        for (size_t i = 0; close && i < got.size(); i++) close = std::labs(got[i] - want[i]) <= 30;
        EXPECT_TRUE(close && std::count(sink.found.begin(), sink.found.end(), '!') ==
                                 std::count(c.found, c.found + std::strlen(c.found), '!'))
            << c.name << ": found " << sink.found << ", expected " << c.found;
        EXPECT_EQ(seg.InUtterance(), false) << c.name;
    }
}

TEST(Convert, WidthsChannelsRates)
{
    using ksspeech::PcmFormat;
    struct {
        PcmFormat f;
        std::string bytes;
        std::vector<int16_t> want; // empty: refused
    } cases[] = {
        {{16000, 1, 1}, std::string("\x00\x80\xff", 3), {-32768, 0, 32512}},
        {{16000, 2, 1}, LE(0x8000, 2) + LE(0x7fff, 2), {-32768, 32767}},
        {{16000, 3, 1}, LE(0x123456, 3) + LE(0xfedcba, 3), {0x1234, -0x124}},
        {{16000, 4, 1}, LE(0x12345678, 4) + LE(0x80000000u, 4), {0x1234, -32768}},
        {{16000, 2, 2}, LE(1000, 2) + LE(3000, 2) + LE(-1000 & 0xffff, 2) + LE(-3001 & 0xffff, 2), {2000, -2000}},
        {{16000, 2, 2}, LE(1000, 2), {}},
    };
    for (const auto& c : cases) {
        std::vector<int16_t> got;
        EXPECT_EQ(ksspeech::AppendMono16(c.bytes, c.f, got), !c.want.empty()) << c.f.width << "x" << c.f.channels;
        EXPECT_EQ(got, c.want) << c.f.width << "x" << c.f.channels;
    }
    EXPECT_EQ(ksspeech::Unsupported(PcmFormat{96000, 2, 1}), "a rate of 96000 Hz (4000 to 48000 are taken)");
    // A steady level stays steady and the length follows the rate, both ways.
    std::vector<int16_t> level(4800, 1234);
    EXPECT_EQ(ksspeech::Resample(level, 48000, 16000), std::vector<int16_t>(1600, 1234));
    EXPECT_EQ(ksspeech::Resample(level, 8000, 16000), std::vector<int16_t>(9600, 1234));
}

// The events read from bytes, n bytes a read, in the notation of
// wyoming_events.txt.
std::string ReadEvents(const std::string& bytes, size_t n)
{
    size_t at = 0;
    ksspeech::EventReader reader([&](char* buf, size_t max) {
        size_t k = std::min({n, max, bytes.size() - at});
        std::memcpy(buf, bytes.data() + at, k);
        at += k;
        return (long)k;
    });
    std::string out;
    for (;;) {
        ksspeech::Event e;
        std::string error;
        ksspeech::EventReader::Status s = reader.Next(e, error);
        if (s == ksspeech::EventReader::kClosed) return out + "closed";
        if (s == ksspeech::EventReader::kError) return out + "error: " + error;
        out += e.type + "{";
        for (size_t i = 0; i < e.data.members.size(); i++) {
            const ksspeech::JsonValue& v = e.data.members[i].second;
            char num[32];
            std::snprintf(num, sizeof num, "%g", v.n);
            out += (i ? " " : "") + e.data.members[i].first + "=" +
                   (v.kind == v.String ? v.s : v.kind == v.Number ? num : v.kind == v.Bool ? (v.b ? "true" : "false")
                                        : v.kind == v.Null ? "null" : v.kind == v.Array ? "[]" : "{}");
        }
        out += "}+" + std::to_string(e.payload.size()) + " ";
    }
}

// Words of a hypothesis with the given margins a frame over the phone loop
// (each word 10 frames long).
ksspeech::Hypothesis WithWordMargins(const std::vector<int>& margins)
{
    ksspeech::Hypothesis h;
    h.frames = h.speech_frames = 10 * (int)margins.size();
    for (size_t i = 0; i < margins.size(); i++) {
        int first = 10 * (int)i;
        h.spans.push_back({first, first + 9, 10 * (margins[i] - 50), -500});
        h.score += 10 * (margins[i] - 50);
        h.loop_score -= 500;
    }
    return h;
}

TEST(Confidence, LowestWordMargins)
{
    using ksspeech::WordMargin;
    // The three lowest, wherever they are in the sentence.
    EXPECT_DOUBLE_EQ(WordMargin(WithWordMargins({-2, -40, -5, -1, -30, -20, -3})), -30.0);
    EXPECT_DOUBLE_EQ(WordMargin(WithWordMargins({-40, -30, -20, -1, -2})), -30.0);
    EXPECT_DOUBLE_EQ(WordMargin(WithWordMargins({-1, -2, -20, -30, -40})), -30.0);
    // Fewer words: all of them; none: the sentence's margin.
    EXPECT_DOUBLE_EQ(WordMargin(WithWordMargins({-4, -8})), -6.0);
    ksspeech::Hypothesis none = WithWordMargins({-4, -8});
    none.spans.clear();
    EXPECT_DOUBLE_EQ(WordMargin(none), ksspeech::Margin(none));

    // A sentence whose words stray further from the phone loop is less
    // sure; an incomplete one is not sure at all.
    double good = ksspeech::Confidence(WithWordMargins({-5, -10, -8, -6}));
    double bad = ksspeech::Confidence(WithWordMargins({-5, -60, -8, -70}));
    EXPECT_GT(good, bad);
    EXPECT_GT(good, 0.0);
    EXPECT_LE(good, 1.0);
    ksspeech::Hypothesis partial = WithWordMargins({-5, -10});
    partial.complete = false;
    EXPECT_EQ(ksspeech::Confidence(partial), 0.0);
}

// Speech-like bursts of a tone over white noise `db` below them, at 16 kHz.
std::vector<int16_t> BurstsInNoise(double db)
{
    std::vector<int16_t> s(16000 * 3);
    uint32_t lcg = 7;
    double tone = 8000, noise = tone / std::pow(10, db / 20) * std::sqrt(3.0 / 2);
    for (size_t i = 0; i < s.size(); i++) {
        lcg = lcg * 1664525u + 1013904223u;
        double v = ((double)(lcg >> 16) / 32768.0 - 1) * noise;
        if ((i / 8000) % 2 == 1) v += tone * std::sin(2 * M_PI * 300 * (double)i / 16000);
        s[i] = (int16_t)std::max(-32768.0, std::min(32767.0, v));
    }
    return s;
}

TEST(Cleaning, SuppressionFollowsTheNoise)
{
    // The estimate is the ratio of the loud parts (tone and noise) to the
    // quiet ones (noise), the noise's rms being the tone's less db.
    for (double db : {30.0, 20.0, 10.0, 5.0}) {
        std::vector<int16_t> s = BurstsInNoise(db);
        EXPECT_NEAR(ksspeech::EstimateSnr(s.data(), s.size(), 16000), 10 * std::log10(1 + std::pow(10, db / 10)), 1)
            << db << " dB";
    }
    std::vector<int16_t> quiet(16000, 0);
    EXPECT_GT(ksspeech::EstimateSnr(quiet.data(), quiet.size(), 16000), -1e-9);
    EXPECT_EQ(ksspeech::EstimateSnr(quiet.data(), 100, 16000), 0.0); // too short to tell

    // Clean speech keeps the denoiser's usual strength; the worse the noise,
    // the harder it is suppressed, within a bound.
    EXPECT_EQ(ksspeech::SuppressionFor(60), -15);
    EXPECT_EQ(ksspeech::SuppressionFor(22), -15);
    int last = -15;
    for (double snr = 21; snr > -20; snr -= 1) {
        int d = ksspeech::SuppressionFor(snr);
        EXPECT_LT(d, -15) << snr;
        EXPECT_LE(d, last) << snr;
        last = d;
    }
    EXPECT_GE(last, -40);
}

TEST(Cleaning, SpeechFoundByItsLoudness)
{
    // Two bursts of a tone 0.2 s apart in a second and a half of faint
    // noise either side, with two clicks too short to be speech: the span
    // runs from the first burst to the last, widened by the margins, which
    // stop at the ends of the recording.
    const size_t rate = 16000;
    std::vector<int16_t> s(rate * 5);
    uint32_t lcg = 11;
    for (size_t i = 0; i < s.size(); i++) {
        lcg = lcg * 1664525u + 1013904223u;
        double v = ((double)(lcg >> 16) / 32768.0 - 1) * 40;
        bool burst = (i >= rate * 3 / 2 && i < rate * 23 / 10) || (i >= rate * 25 / 10 && i < rate * 35 / 10);
        bool click = (i >= rate / 2 && i < rate / 2 + 480) || (i >= rate * 4 && i < rate * 4 + 320);
        if (burst || click) v += 8000 * std::sin(2 * M_PI * 300 * (double)i / rate);
        s[i] = (int16_t)v;
    }
    ksspeech::Span sp = ksspeech::SpeechSpan(s.data(), s.size(), rate, rate * 3 / 10, rate * 6 / 10);
    EXPECT_EQ(sp.begin, rate * 12 / 10);
    EXPECT_EQ(sp.end, rate * 41 / 10);
    sp = ksspeech::SpeechSpan(s.data(), s.size(), rate, rate * 2, rate * 2);
    EXPECT_EQ(sp.begin, 0u);
    EXPECT_EQ(sp.end, s.size());

    // Nothing to tell speech from pauses by: the whole recording.
    std::vector<int16_t> even(rate, 1000), short_burst(rate / 10, 8000);
    for (const std::vector<int16_t>* v : {&even, &short_burst}) {
        sp = ksspeech::SpeechSpan(v->data(), v->size(), rate, 0, 0);
        EXPECT_EQ(sp.begin, 0u);
        EXPECT_EQ(sp.end, v->size());
    }
    sp = ksspeech::SpeechSpan(nullptr, 0, rate, 100, 100);
    EXPECT_EQ(sp.end, 0u);
}

TEST(Cleaning, QuietRecordingsRaised)
{
    // A quiet recording comes up to the normal peak, its shape kept; one
    // already loud, or silent, is left; the gain has a bound.
    std::vector<int16_t> loud = BurstsInNoise(20), quiet(loud.size());
    for (size_t i = 0; i < loud.size(); i++) quiet[i] = (int16_t)(loud[i] / 16);
    std::vector<int16_t> raised = quiet;
    double gain = ksspeech::Normalise(raised);
    int peak = 0;
    for (int16_t x : raised) peak = std::max(peak, std::abs((int)x));
    EXPECT_NEAR(peak, ksspeech::kNormalPeak, 1);
    for (size_t i = 0; i < quiet.size(); i += 997) EXPECT_NEAR(raised[i], quiet[i] * gain, 0.5) << i;
    EXPECT_NEAR(ksspeech::EstimateSnr(raised.data(), raised.size(), 16000),
                ksspeech::EstimateSnr(loud.data(), loud.size(), 16000), 1);

    std::vector<int16_t> extremes = {-32768, 32767, 0, 5}, kept = extremes;
    EXPECT_EQ(ksspeech::Normalise(kept), 1);
    EXPECT_EQ(kept, extremes);
    std::vector<int16_t> silence(1600, 0);
    EXPECT_EQ(ksspeech::Normalise(silence), 1);
    EXPECT_EQ(silence, std::vector<int16_t>(1600, 0));
    std::vector<int16_t> faint = {1, -2, 2, 0};
    EXPECT_EQ(ksspeech::Normalise(faint), ksspeech::kMostGain);
    EXPECT_EQ(faint, (std::vector<int16_t>{100, -200, 200, 0}));
}

// A buzz at 16 kHz: harmonics of 125 Hz up to `top` Hz, falling 6 dB an
// octave, its peak `peak`, a second of it sounding and a second silent.
std::vector<int16_t> Buzz(double top, double peak)
{
    std::vector<double> v(16000 * 4);
    double most = 0;
    for (size_t i = 0; i < v.size(); i++) {
        if ((i / 16000) % 2 == 1) continue;
        for (int k = 1; 125 * k <= top; k++) v[i] += std::sin(2 * M_PI * 125 * k * (double)i / 16000 + k) / k;
        most = std::max(most, std::fabs(v[i]));
    }
    std::vector<int16_t> s(v.size());
    for (size_t i = 0; i < v.size(); i++) s[i] = (int16_t)std::lround(v[i] * peak / most);
    return s;
}

TEST(Quality, ClippedAndNarrowRecordingsTold)
{
    std::vector<int16_t> sound = Buzz(7000, 20000);
    EXPECT_EQ(ksspeech::ClippedShare(sound.data(), sound.size()), 0);
    EXPECT_GT(ksspeech::HighBandDb(sound.data(), sound.size(), 16000), -30);
    EXPECT_TRUE(ksspeech::AudioWarnings(sound.data(), sound.size(), 16000).empty());

    // Made 12 dB louder, its peaks flattened at full scale, or inside it
    // where a gain stage clipped them (more of them there).
    double shares[2];
    for (int limit : {32767, 24000}) {
        std::vector<int16_t> loud(sound.size());
        for (size_t i = 0; i < sound.size(); i++) loud[i] = (int16_t)std::max(-limit, std::min(limit, sound[i] * 4));
        double share = ksspeech::ClippedShare(loud.data(), loud.size());
        shares[limit == 32767] = share;
        EXPECT_GT(share, ksspeech::kClippedWarn) << limit;
        std::vector<std::string> w = ksspeech::AudioWarnings(loud.data(), loud.size(), 16000);
        ASSERT_EQ(w.size(), 1u) << limit;
        EXPECT_NE(w[0].find("% of the samples are clipped: lower the microphone's input gain"), std::string::npos);
    }
    EXPECT_GT(shares[0], shares[1]);
    // Flat runs in a quiet recording are no clipping; a lone sample at the
    // limit is a peak that just reached it.
    std::vector<int16_t> quiet(16000, 3000), lone = sound;
    EXPECT_EQ(ksspeech::ClippedShare(quiet.data(), quiet.size()), 0);
    for (size_t i = 0; i < lone.size(); i += 400) lone[i] = 32767;
    EXPECT_EQ(ksspeech::ClippedShare(lone.data(), lone.size()), 0);

    // Nothing above 3.4 kHz, as from an 8 kHz link.
    std::vector<int16_t> narrow = Buzz(3400, 20000);
    EXPECT_LT(ksspeech::HighBandDb(narrow.data(), narrow.size(), 16000), ksspeech::kNarrowBand);
    std::vector<std::string> w = ksspeech::AudioWarnings(narrow.data(), narrow.size(), 16000);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].rfind("no sound above 4 kHz", 0), 0u);
    // Too short, silent, or at a rate with no band above 4 kHz: no verdict.
    std::vector<int16_t> silence(16000, 0);
    EXPECT_EQ(ksspeech::HighBandDb(silence.data(), silence.size(), 16000), 0);
    EXPECT_EQ(ksspeech::HighBandDb(narrow.data(), 4000, 16000), 0);
    EXPECT_EQ(ksspeech::HighBandDb(narrow.data(), narrow.size(), 8000), 0);
    EXPECT_TRUE(ksspeech::AudioWarnings(nullptr, 0, 16000).empty());
}

// Energy in dB of samples [from, to) of s.
double EnergyDb(const std::vector<int16_t>& s, size_t from, size_t to)
{
    return ksspeech::FrameEnergyDb(s.data() + from, to - from);
}

TEST(Dereverb, RoomEchoTakenOutSoundKept)
{
    // Bursts of noise of 150 ms every 600 ms, as a voice's sounds (no more
    // predictable from 16 ms before than they are), and the same in a
    // room: four echoing paths of 30 to 44 ms round trip (a reverberator's
    // parallel combs), their echo dying away by 60 dB in 0.4 s.
    const size_t rate = 16000, n = rate * 4;
    std::vector<double> dry(n, 0), wet(n, 0);
    uint32_t lcg = 5;
    for (size_t i = 0; i < n; i++) {
        lcg = lcg * 1664525u + 1013904223u;
        if (i % (rate * 6 / 10) < rate * 15 / 100) dry[i] = 8000 * ((double)(lcg >> 16) / 32768.0 - 1);
    }
    for (size_t d : {475u, 594u, 658u, 699u}) {
        double g = std::pow(10, -3.0 * (double)d / (0.4 * rate));
        std::vector<double> comb(n, 0);
        for (size_t i = d; i < n; i++) comb[i] = dry[i - d] + g * comb[i - d];
        for (size_t i = 0; i < n; i++) wet[i] += 0.3 * comb[i];
    }
    std::vector<int16_t> clean(n), room(n);
    for (size_t i = 0; i < n; i++) {
        clean[i] = (int16_t)dry[i];
        room[i] = (int16_t)std::max(-32768.0, std::min(32767.0, dry[i] + wet[i]));
    }
    std::vector<int16_t> out = room;
    ksspeech::Dereverb(out);
    // The echo in the pauses, from 100 to 350 ms after each burst, falls
    // (by some 4 dB: the paths' delays are no whole number of frames); the
    // bursts keep their loudness.
    double echo_in = 0, echo_out = 0, burst_in = 0, burst_out = 0;
    for (size_t b = rate * 6 / 10; b + rate * 6 / 10 <= n; b += rate * 6 / 10) {
        size_t end = b + rate * 15 / 100;
        echo_in += EnergyDb(room, end + rate / 10, end + rate * 35 / 100);
        echo_out += EnergyDb(out, end + rate / 10, end + rate * 35 / 100);
        burst_in += EnergyDb(clean, b, end);
        burst_out += EnergyDb(out, b, end);
    }
    EXPECT_LT(echo_out, echo_in - 2.5 * 5) << echo_in / 5 << " " << echo_out / 5;
    EXPECT_NEAR(burst_out / 5, burst_in / 5, 2);

    // Without a room there is little to take: the recording keeps its
    // loudness.
    std::vector<int16_t> kept = clean;
    ksspeech::Dereverb(kept);
    EXPECT_NEAR(EnergyDb(kept, 0, n), EnergyDb(clean, 0, n), 1);
    // Too short to tell, silence and full scale: left as they are, or
    // within range.
    std::vector<int16_t> short_one(1000, 1234), silence(rate, 0), full(rate);
    for (size_t i = 0; i < full.size(); i++) full[i] = i % 2 ? 32767 : -32768;
    ksspeech::Dereverb(short_one);
    EXPECT_EQ(short_one, std::vector<int16_t>(1000, 1234));
    ksspeech::Dereverb(silence);
    EXPECT_EQ(silence, std::vector<int16_t>(rate, 0));
    ksspeech::Dereverb(full);
    std::vector<int16_t> none;
    ksspeech::Dereverb(none);
}

TEST(Cepstra, SpreadRestoredNeverNarrowed)
{
    // Four dimensions over 200 frames: c0 narrow (deviation 6), c1 wider
    // than its target, c2 nearly flat, c3 not targeted.
    const int width = 4;
    const size_t frames = 200;
    std::vector<float> cep(frames * width);
    for (size_t f = 0; f < frames; f++) {
        double s = f % 2 ? 1 : -1; // deviation 1 about the mean
        cep[f * width + 0] = (float)(40 + 6 * s);
        cep[f * width + 1] = (float)(-3 + 30 * s);
        cep[f * width + 2] = (float)(5 + 0.5 * s);
        cep[f * width + 3] = (float)(2 + 4 * s);
    }
    std::vector<float> was = cep;
    std::vector<double> gain = ksspeech::RestoreSpread(cep.data(), frames, width, {18, 24, 20}, 3);
    ASSERT_EQ(gain.size(), 3u);
    EXPECT_NEAR(gain[0], 3, 1e-9);   // 18 / 6
    EXPECT_EQ(gain[1], 1);           // already wide: left alone
    EXPECT_NEAR(gain[2], 3, 1e-9);   // 40 wanted, the bound holds it to 3
    std::vector<double> sd = ksspeech::Deviations(cep.data(), frames, width);
    EXPECT_NEAR(sd[0], 18, 1e-4);
    EXPECT_NEAR(sd[2], 1.5, 1e-4);
    for (size_t f = 0; f < frames; f++) {
        EXPECT_NEAR(cep[f * width + 0] - 40, 3 * (was[f * width + 0] - 40), 1e-4) << f; // about the mean
        EXPECT_EQ(cep[f * width + 1], was[f * width + 1]) << f;
        EXPECT_EQ(cep[f * width + 3], was[f * width + 3]) << f;
    }

    // Nothing to measure a spread on, or nothing to restore: unchanged.
    std::vector<float> flat(frames * width, 7.0f), one = {1, 2, 3, 4};
    ksspeech::RestoreSpread(flat.data(), frames, width, {18, 24}, 3);
    ksspeech::RestoreSpread(one.data(), 1, width, {18, 24}, 3);
    EXPECT_EQ(flat, std::vector<float>(frames * width, 7.0f));
    EXPECT_EQ(one, (std::vector<float>{1, 2, 3, 4}));
    // A gain bound below 1 still never narrows.
    cep = was;
    EXPECT_EQ(ksspeech::RestoreSpread(cep.data(), frames, width, {18}, 0.5), std::vector<double>{1});
    EXPECT_EQ(cep, was);
    // More targets than dimensions: only the dimensions there are.
    EXPECT_EQ(ksspeech::RestoreSpread(cep.data(), frames, 1, {18, 24, 30}, 3).size(), 1u);
}

// One Gaussian a stream, of mean 0 and the variances that white cepstra of
// variance 1 give: 1 for the statics, 2 for the deltas (c[t+2] - c[t-2]), 4
// for the second deltas.
ksspeech::Codebooks WhiteModel(int dims)
{
    ksspeech::Codebooks b;
    b.dims = dims;
    b.streams = 3;
    b.count = 1;
    for (int s = 0; s < 3; s++) {
        double var = 1 << s;
        for (int d = 0; d < dims; d++) {
            b.mean.push_back(0);
            b.ivar.push_back((float)(1 / var));
        }
        b.norm.push_back((float)(-0.5 * dims * std::log(2 * M_PI * var)));
    }
    return b;
}

std::vector<float> WhiteFrames(size_t frames, int dims, double sd, double mean)
{
    uint32_t state = 12345;
    auto uniform = [&] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0 + 1e-9;
    };
    std::vector<float> cep(frames * (size_t)dims);
    for (float& v : cep) // Box-Muller
        v = (float)(mean + sd * std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform()));
    return cep;
}

TEST(Adapt, TransformUndoesANarrowedSpread)
{
    const int dims = 3;
    const size_t frames = 4000;
    ksspeech::Codebooks model = WhiteModel(dims);
    // Cepstra of half the model's spread, about a mean the transform keeps.
    std::vector<float> cep = WhiteFrames(frames, dims, 0.5, 40);
    ksspeech::AdaptOptions options;
    options.prior = 0;
    std::vector<double> a = ksspeech::FitTransform(cep.data(), frames, dims, model, options);
    ASSERT_EQ(a.size(), (size_t)dims * dims);
    for (int r = 0; r < dims; r++)
        for (int c = 0; c < dims; c++) EXPECT_NEAR(a[(size_t)r * dims + c], r == c ? 2 : 0, 0.1) << r << "," << c;
    ksspeech::ApplyTransform(cep.data(), frames, dims, a);
    std::vector<double> sd = ksspeech::Deviations(cep.data(), frames, dims);
    double mean = 0;
    for (size_t t = 0; t < frames; t++) mean += cep[t * dims];
    EXPECT_NEAR(mean / frames, 40, 0.05);
    for (double v : sd) EXPECT_NEAR(v, 1, 0.05);

    // A prior of many frames holds a short recording near the identity.
    options.prior = 1e6;
    a = ksspeech::FitTransform(cep.data(), 300, dims, model, options);
    EXPECT_NEAR(a[0], 1, 0.01);
    // Too few frames, or cepstra of another width: the identity.
    EXPECT_EQ(ksspeech::FitTransform(cep.data(), 5, dims, model, options), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(ksspeech::FitTransform(cep.data(), 300, 1, model, options), std::vector<double>{1});
}

TEST(Adapt, ModelFiles)
{
    char dir[] = "/tmp/ksadaptXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    // Two codebooks of one density in three streams of 2 values.
    auto file = [&](const char* name, float base, size_t drop) {
        std::string s = "s3\nversion 1.0\nendhdr\n" + LE(0x11223344u, 4) + LE(2, 4) + LE(3, 4) + LE(1, 4) + LE(2, 4) +
                        LE(2, 4) + LE(2, 4) + LE(12, 4);
        for (int i = 0; i < 12; i++) {
            float f = base + (float)i;
            uint32_t u;
            std::memcpy(&u, &f, 4);
            s += LE(u, 4);
        }
        FILE* f = std::fopen((d + "/" + name).c_str(), "wb");
        std::fwrite(s.data(), 1, s.size() - drop, f);
        std::fclose(f);
    };
    file("means", 0, 0);
    file("variances", 1, 0);
    ksspeech::Codebooks b = ksspeech::ReadCodebooks(d);
    ASSERT_EQ(b.count, 2u);
    ASSERT_EQ(b.dims, 2);
    // File order [codebook][stream][dim]; ours [stream][dim][gaussian].
    EXPECT_EQ(b.mean[(1 * 2 + 1) * 2 + 1], 6 + 2 + 1);    // codebook 1, stream 1, dim 1
    EXPECT_FLOAT_EQ(b.ivar[(2 * 2 + 0) * 2 + 0], 1 / 5.0f); // codebook 0, stream 2, dim 0
    EXPECT_NEAR(b.norm[0], -0.5 * (std::log(2 * M_PI * 1) + std::log(2 * M_PI * 2)), 1e-5);

    file("variances", 1, 2);
    EXPECT_NE(Failure([&] { ksspeech::ReadCodebooks(d); }).find("variances' is inconsistent or truncated"),
              std::string::npos);
    std::remove((d + "/means").c_str());
    EXPECT_NE(Failure([&] { ksspeech::ReadCodebooks(d); }).find("cannot open the acoustic model's"), std::string::npos);
    std::remove((d + "/variances").c_str());
    rmdir(dir);
}

// Codebooks of one Gaussian each in one dimension, at the given static
// means, all of variance v; deltas of mean 0 and variance 1.
ksspeech::Codebooks PointModel(const std::vector<float>& means, double v)
{
    ksspeech::Codebooks b;
    b.dims = 1;
    b.streams = 3;
    b.count = means.size();
    b.densities = 1;
    for (int s = 0; s < 3; s++)
        for (float m : means) {
            double var = s == 0 ? v : 1;
            b.mean.push_back(s == 0 ? m : 0);
            b.ivar.push_back((float)(1 / var));
            b.norm.push_back((float)(-0.5 * std::log(2 * M_PI * var)));
        }
    return b;
}

TEST(Adapt, PhoneAlignmentAndLabelledFit)
{
    // Frames 0-19 at -2, 20-39 at +2: codebook 0 and then codebook 1.
    ksspeech::Codebooks model = PointModel({-2, 2, 0}, 0.5);
    std::vector<float> cep(40);
    for (size_t t = 0; t < cep.size(); t++) cep[t] = (t < 20 ? -2.0f : 2.0f) + 0.01f * (float)(t % 3);
    std::vector<int> labels = ksspeech::AlignPhones(cep.data(), cep.size(), 1, model, {{5, 34, {0, 1}}}, 2);
    ASSERT_EQ(labels.size(), cep.size());
    for (size_t t = 0; t < cep.size(); t++) EXPECT_EQ(labels[t], t < 5 || t > 34 ? 2 : t < 20 ? 0 : 1) << t;
    // Even against the evidence, each phone keeps its states' frames.
    labels = ksspeech::AlignPhones(cep.data(), cep.size(), 1, model, {{10, 19, {0, 1, 0}}}, 2);
    EXPECT_EQ(std::count(labels.begin() + 10, labels.begin() + 20, 1), 3);
    EXPECT_EQ(labels[19], 0);
    // A stretch shorter than its phones, or with a phone the model lacks,
    // or past the end: no codebook where they are.
    labels = ksspeech::AlignPhones(cep.data(), cep.size(), 1, model,
                                   {{0, 1, {0, 1, 0}}, {2, 9, {0, 7}}, {38, 90, {1}}, {50, 60, {1}}}, 2);
    EXPECT_EQ(labels[0], -1);
    EXPECT_EQ(labels[9], -1);
    EXPECT_EQ(labels[10], 2);
    EXPECT_EQ(labels[39], 1);

    // Frames at -0.25 and +0.25 sit on the near pair of Gaussians (the still
    // deltas pull a little wider); labelled with the far pair, they are
    // stretched four times out to them.
    ksspeech::Codebooks pairs = PointModel({-1, 1, -0.25f, 0.25f}, 0.01);
    for (size_t t = 0; t < cep.size(); t++) cep[t] = t < 20 ? -0.25f : 0.25f;
    ksspeech::AdaptOptions options;
    options.prior = 0;
    std::vector<int> far(cep.size());
    for (size_t t = 0; t < cep.size(); t++) far[t] = t < 20 ? 0 : 1;
    EXPECT_LT(ksspeech::FitTransform(cep.data(), cep.size(), 1, pairs, options)[0], 1.5);
    EXPECT_NEAR(ksspeech::FitTransform(cep.data(), cep.size(), 1, pairs, options, far)[0], 4, 0.2);
}

TEST(Adapt, BasePhones)
{
    char dir[] = "/tmp/ksphonesXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/mdef";
    auto write = [&](const std::string& s) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(s.data(), 1, s.size(), f);
        std::fclose(f);
    };
    std::string counts = LE(3, 4);
    for (int i = 0; i < 9; i++) counts += LE(1, 4);
    std::string binary = "BMDF" + LE(1, 4) + LE(8, 4) + "layout\n" + std::string(1, '\0') + counts;
    binary += std::string("AA\0B\0SIL\0", 9) + "tree";
    write(binary);
    EXPECT_EQ(ksspeech::ReadPhones(dir), (std::vector<std::string>{"AA", "B", "SIL"}));
    write(binary.substr(0, binary.size() - 9));
    EXPECT_NE(Failure([&] { ksspeech::ReadPhones(dir); }).find("mdef' is truncated"), std::string::npos);
    write("0.3\n3 n_base\n# base phones first\nAA - - - n/a 0 0 1 2 N\nB - - - n/a 1 3 4 5 N\n"
          "AA B B b n/a 0 6 7 8 N\nSIL - - - n/a 2 9 10 11 N\n");
    EXPECT_EQ(ksspeech::ReadPhones(dir), (std::vector<std::string>{"AA", "B"}));
    std::remove(path.c_str());
    EXPECT_NE(Failure([&] { ksspeech::ReadPhones(dir); }).find("cannot open"), std::string::npos);
    rmdir(dir);
}

TEST(Wyoming, EventReader)
{
    for (const cases::Case& c : cases::Read("wyoming_events.txt"))
        for (size_t n : {1, 4096}) {
            std::string got = ReadEvents(cases::Unescape(c[0]), n);
            EXPECT_EQ(got.substr(0, c[1].size()), cases::Unescape(c[1])) << c.at << " (" << n << " bytes a read)";
        }
}

TEST(Wyoming, LongHeaderAndDeepNesting)
{
    EXPECT_EQ(ReadEvents(std::string(70000, 'x'), 4096), "error: header line longer than 65536 bytes");
    EXPECT_EQ(ReadEvents(std::string(5000, '[') + "\n", 4096).substr(0, 49), "error: header is not JSON: JSON nested too deeply");
    EXPECT_EQ(ksspeech::EventBytes("ping", "{\"text\": \"a\"}", "xy"),
              "{\"type\": \"ping\", \"version\": \"1.7.0\", \"data_length\": 13, \"payload_length\": 2}\n{\"text\": \"a\"}xy");
}

} // namespace

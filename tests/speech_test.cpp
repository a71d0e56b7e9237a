// speech_test.cpp: the speech tool's parts that need no recogniser: the
// recording reader (WAV chunks, raw samples, every refusal) and the
// pronunciation helpers (espeak-ng mnemonics, tests/data/pronounce.txt;
// dictionary files).
#include "audio.h"
#include "pronounce.h"

#include "cases.h"
#include "ks_api.h"

#include <map>

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

} // namespace

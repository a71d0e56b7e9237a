// speech_test.cpp: the speech tool's parts that need no recogniser: the
// recording reader (WAV chunks, raw samples, every refusal) and the
// pronunciation helpers (espeak-ng mnemonics, dictionary files).
#include "audio.h"
#include "pronounce.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

using ksspeech::ParseRecording;
using ksspeech::SpeechError;

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
        SCOPED_TRACE(c.name);
        try {
            std::vector<int16_t> s = ParseRecording(c.bytes, c.file, 16000);
            ASSERT_FALSE(c.error) << "accepted";
            ASSERT_EQ(s.size(), 2u);
            EXPECT_EQ(s[0], 0x1234);
            EXPECT_EQ(s[1], -1);
        } catch (const SpeechError& e) {
            ASSERT_TRUE(c.error) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find(c.file), 0u) << "names the file: " << e.what();
        }
    }
}

TEST(Audio, UnreadableFile)
{
    try {
        ksspeech::ReadRecording("/nonexistent/x.raw", 16000);
        FAIL();
    } catch (const SpeechError& e) {
        EXPECT_NE(std::string(e.what()).find("can't open '/nonexistent/x.raw'"), std::string::npos) << e.what();
    }
}

TEST(Pronounce, EspeakMnemonics)
{
    const struct {
        const char* espeak;
        const char* phones;
    } cases[] = {
        {"l'A:t2eIz", "L AA T EY Z"},                  // lattes
        {"k,apu:tS'i:noUz", "K AE P UW CH IY N OW Z"}, // cappuccinos
        {"'0kaf3", "AA K AE F ER"},                    // okafor
        {"dZ'VdZ", "JH AH JH"},
        {"T'O:t", "TH AO T"},
        {"s'IN3", "S IH NG ER"},
        {"m'EZ3", "M EH ZH ER"},
        {"h@l'oU", "HH AH L OW"},
        {"f'A@m", "F AA R M"},
        {"w'3:r", "W ER"}, // the r of an r-coloured vowel is not doubled
        {"l'A:t|eIz", "L AA T EY Z"},
        {"kaf\xc3\xa9", ""}, // a mnemonic without counterpart: no guess
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ksspeech::EspeakToPhones(c.espeak), c.phones) << c.espeak;
}

TEST(Pronounce, Dictionary)
{
    char path[] = "/tmp/ksspeech_dict_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text = "Lattes L AA T EY Z\n\n;; comment\nlattes(2) L AE T EY Z\nokafor  OW K AA F ER \n";
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    std::map<std::string, std::string> d;
    ksspeech::ReadDictionary(path, d);
    EXPECT_EQ(d, (std::map<std::string, std::string>{{"lattes", "L AA T EY Z"}, {"okafor", "OW K AA F ER"}}));

    std::FILE* f = std::fopen(path, "a");
    std::fputs("broken\n", f);
    std::fclose(f);
    try {
        ksspeech::ReadDictionary(path, d);
        FAIL();
    } catch (const SpeechError& e) {
        EXPECT_NE(std::string(e.what()).find(std::string(path) + ":6: 'broken' has no pronunciation"), std::string::npos)
            << e.what();
    }
    unlink(path);
}

} // namespace

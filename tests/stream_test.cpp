// Tests of TStream: opening files (with the default-extension retry and the
// failures), reading in pieces, escape decoding, two-byte characters
// and line/column positions in error messages.
#include "cases.h"
#include "graph_dump.h"

#include <unistd.h>

namespace {

const std::string kData = KSBNFC_TEST_DATA;

class Stream : public ::testing::Test {
protected:
    void TearDown() override { ks_set_cp(1252); }
};

using graph_dump::Thrown;

// Every code the stream yields up to the end of its text.
std::vector<mbchar> Codes(const std::string& text)
{
    TStream s(text.data(), (int)text.size());
    std::vector<mbchar> r;
    while (!s.End()) r.push_back(s.Next());
    return r;
}

const mbchar E = KS_ESCAPED;

// The codes of each text of tests/data/escapes.txt, or where it is invalid.
TEST_F(Stream, EscapeDecoding)
{
    for (const cases::Case& c : cases::Read("escapes.txt")) {
        std::string text = cases::Unescape(c[0]), got;
        if (c[1].rfind("column ", 0) == 0) {
            EXPECT_EQ("invalid escape sequence in \"<buffer>\", line 1, " + c[1], Thrown([&] { Codes(text); })) << c.at;
            continue;
        }
        for (mbchar m : Codes(text)) got += (got.empty() ? "" : " ") + std::string(m & E ? "e" : "") + std::to_string(m & ~E);
        EXPECT_EQ(got, c[1]) << c.at;
    }
}

TEST_F(Stream, DbcsCharactersAreOneCode)
{
    ks_set_cp(932);
    // 0x95 0x5C: the trail byte looks like a backslash but starts no escape.
    const std::string text = "a\x95\\\x82\xA0" "b\x82";
    EXPECT_EQ((std::vector<mbchar>{'a', 0x955C, 0x82A0, 'b', 0x82}), Codes(text));
    TStream s(text.data(), (int)text.size());
    while (s.Keep()) {}
    EXPECT_STREQ(text.c_str(), s.GetKept().s);
    int l, c;
    s.Where(l, c);
    EXPECT_EQ(6, c);
}

TEST_F(Stream, LinesAndColumns)
{
    const char text[] = "ab\ncd\\\nefg\n\nh";
    TStream s(text, (int)sizeof text - 1);
    const int at[][3] = {{0, 1, 1}, {2, 1, 3}, {3, 2, 1}, {5, 2, 3}, {6, 3, 1}, {9, 3, 4}, {10, 4, 1}, {11, 5, 1}, {12, 5, 2}};
    int done = 0;
    for (const auto& a : at) {
        while (done < a[0]) s.Next(), done++;
        int l = 0, c = 0;
        s.Where(l, c);
        EXPECT_EQ(a[1] * 100 + a[2], l * 100 + c) << a[0];
    }
    EXPECT_EQ("syntax error in \"<buffer>\", line 5, column 2", Thrown([&] { s.SyntaxError(); }));
}

TEST_F(Stream, OpeningFiles)
{
    const std::string base = kData + "/stream_retry";
    TStream s(base.c_str(), "bnf");
    EXPECT_EQ(base + ".bnf", s.fn);
    while (s.Peek() != (mbchar)'y') s.Next();
    EXPECT_EQ("syntax error in \"" + base + ".bnf\", line 3, column 2", Thrown([&] { s.SyntaxError(); }));
    EXPECT_EQ(base + ".bnf", TStream(base.c_str(), ".bnf").fn);
    EXPECT_EQ(base + ".bnf", TStream((base + ".bnf").c_str(), "bnf").fn); // taken as it is

    const std::string missing = kData + "/stream_missing";
    EXPECT_EQ("can't open '" + missing + "' (No such file or directory)",
              Thrown([&] { TStream t(missing.c_str(), "bnf"); }));
    // A directory opens but cannot be read.
    EXPECT_EQ("Is a directory", Thrown([&] { TStream t(kData.c_str(), nullptr); }));
}

TEST_F(Stream, ReadsWholePipe)
{
    // A pipe has no size and delivers its text in pieces.
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    std::string text;
    for (int i = 0; i < 3000; i++) text += "line " + std::to_string(i) + "\n";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        for (size_t off = 0; off < text.size(); off += 1000) {
            size_t n = std::min<size_t>(1000, text.size() - off);
            if (write(fds[1], text.data() + off, n) != (ssize_t)n) _exit(1);
            usleep(1000);
        }
        _exit(0);
    }
    close(fds[1]);
    const std::string name = "/proc/self/fd/" + std::to_string(fds[0]);
    TStream s(name.c_str(), nullptr);
    close(fds[0]);
    EXPECT_EQ(text, std::string(s.stream.s, s.end.s - s.stream.s));
}

} // namespace

// Tests of TStream: opening files (with the default-extension retry and the
// failures), escape decoding, literal matching, the kept buffer and pooled
// tokens, and line/column positions in error messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "common.h"

namespace {

const std::string kData = KSBNFC_TEST_DATA;

class Stream : public ::testing::Test {
protected:
    void SetUp() override { ks_set_cp(1252); }
    void TearDown() override { ks_set_cp(1252); }
};

// The message a stream operation throws, or "" when it throws nothing.
template <class F> std::string Thrown(F&& f)
{
    try {
        f();
    } catch (char* msg) {
        return msg;
    }
    return "";
}

// Every code the stream yields up to the end of its text.
std::vector<mbchar> Codes(const std::string& text)
{
    TStream s(text.data(), (int)text.size());
    std::vector<mbchar> r;
    while (!s.End()) r.push_back(s.Next());
    return r;
}

const mbchar E = KS_ESCAPED;

TEST_F(Stream, EscapeDecoding)
{
    struct Case {
        const char* text;
        std::vector<mbchar> codes;
    } cases[] = {
        {"a\\101b", {'a', 'A' | E, 'b'}},
        {"\\0x41", {'A' | E}},
        {"\\0X7e1", {(0x7E1 & 0xFF) | E}},
        {"\\x41", {'x' | E, '4', '1'}},
        {"\\0", {'0' | E}},
        {"\\400", {'4' | E, '0', '0'}},
        {"\\1011", {(01011 & 0xFF) | E}},
        {"\\n\\.", {'n' | E, '.' | E}},
        {"\\\\", {'\\' | E}},
        {"\\ 5", {' ' | E, '5'}},
        {"a\\\nb", {'a', E, 'b'}},
        {"\\\xC4", {0xC4 | E}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.codes, Codes(c.text));
    }
}

TEST_F(Stream, InvalidEscapesNamePosition)
{
    const char* bad[][2] = {
        {"ab\n c\\0x00", "invalid escape sequence in \"<buffer>\", line 2, column 3"},
        {"\\0x", "invalid escape sequence in \"<buffer>\", line 1, column 1"},
        {"x\\0xg", "invalid escape sequence in \"<buffer>\", line 1, column 2"},
        {"abc\\", "invalid escape sequence in \"<buffer>\", line 1, column 4"},
    };
    for (auto& b : bad) {
        SCOPED_TRACE(b[0]);
        EXPECT_EQ(b[1], Thrown([&] { Codes(b[0]); }));
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
    EXPECT_EQ(1, l);
    EXPECT_EQ(6, c);
}

TEST_F(Stream, LiteralsMatchRawText)
{
    const char text[] = "->x \\| y";
    TStream s(text, (int)sizeof text - 1);
    EXPECT_TRUE(s.Peek("->"));
    EXPECT_FALSE(s.Next("-x"));
    EXPECT_TRUE(s.Keep("->"));
    EXPECT_FALSE(s.Peek("->x"));
    EXPECT_EQ((mbchar)'x', s.Keep());
    EXPECT_EQ((mbchar)' ', s.Next());
    EXPECT_FALSE(s.Peek("|"));
    EXPECT_EQ('|' | E, s.Keep());
    EXPECT_STREQ("->x|", s.GetKept().s);
    EXPECT_FALSE(s.HaveKept());
    EXPECT_FALSE(s.Peek(" y!"));
    EXPECT_TRUE(s.Next(" y"));
    EXPECT_TRUE(s.End());
    EXPECT_EQ(0u, s.Next());
    EXPECT_EQ(0u, s.Keep());
    EXPECT_FALSE(s.HaveKept());
}

TEST_F(Stream, KeptBufferAndPool)
{
    const char text[] = "ab\\ \t\\\n";
    TStream s(text, (int)sizeof text - 1);
    while (!s.End()) s.Keep();
    s.PutKept(" \r\n");
    s.StripTrailingKeptSpaces();
    mbstring first = s.GetKept();
    EXPECT_STREQ("ab", first.s);
    EXPECT_STREQ("", s.GetKept().s);
    s.PutKept("xy");
    s.ClearKept();
    s.PutKept("z");
    EXPECT_STREQ("z", s.GetKept().s);
    EXPECT_STREQ("ab", first.s); // pooled tokens stay valid
    EXPECT_EQ(3, s.pool.length);
}

TEST_F(Stream, LinesAndColumns)
{
    const char text[] = "ab\ncd\\\nefg\n\nh";
    TStream s(text, (int)sizeof text - 1);
    struct At {
        int consumed, line, col;
    } at[] = {{0, 1, 1}, {2, 1, 3}, {3, 2, 1}, {5, 2, 3}, {6, 3, 1}, {9, 3, 4}, {10, 4, 1}, {11, 5, 1}, {12, 5, 2}};
    int done = 0;
    for (const At& a : at) {
        while (done < a.consumed) s.Next(), done++;
        int l = 0, c = 0;
        s.Where(l, c);
        EXPECT_EQ(a.line, l) << a.consumed;
        EXPECT_EQ(a.col, c) << a.consumed;
    }
    EXPECT_EQ("syntax error in \"<buffer>\", line 5, column 2", Thrown([&] { s.SyntaxError(); }));
}

TEST_F(Stream, EmptyFileAndBuffer)
{
    char tmpl[] = "/tmp/stream_emptyXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        TStream s(tmpl, nullptr);
        EXPECT_TRUE(s.End());
        EXPECT_EQ(0u, s.Peek());
        EXPECT_STREQ("", s.stream.s);
        EXPECT_STREQ(tmpl, s.fn);
    }
    unlink(tmpl);
    TStream b("", 0);
    EXPECT_TRUE(b.End());
    EXPECT_EQ(0u, b.Peek());
}

TEST_F(Stream, DefaultExtensionRetry)
{
    const std::string base = kData + "/stream_retry";
    TStream s(base.c_str(), "bnf");
    EXPECT_EQ(base + ".bnf", s.fn);
    EXPECT_TRUE(s.Next("<<a>>"));
    while (s.Peek() != (mbchar)'y') s.Next();
    EXPECT_EQ("syntax error in \"" + base + ".bnf\", line 3, column 2", Thrown([&] { s.SyntaxError(); }));

    TStream dotted(base.c_str(), ".bnf");
    EXPECT_EQ(base + ".bnf", dotted.fn);
    // An existing name is taken as it is.
    TStream exact((base + ".bnf").c_str(), "bnf");
    EXPECT_EQ(base + ".bnf", exact.fn);
}

TEST_F(Stream, OpenAndReadFailures)
{
    const std::string missing = kData + "/stream_missing";
    EXPECT_EQ("can't open '" + missing + "' (No such file or directory)",
              Thrown([&] { TStream s(missing.c_str(), "bnf"); }));
    EXPECT_EQ("can't open '" + missing + "' (No such file or directory)",
              Thrown([&] { TStream s(missing.c_str(), nullptr); }));
    // A directory opens but cannot be read.
    EXPECT_EQ("Is a directory", Thrown([&] { TStream s(kData.c_str(), nullptr); }));
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

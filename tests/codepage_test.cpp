// Tests of the code-page state: choice from number and environment, the
// 1252/850 tables, DBCS stepping and searching, and comparison and casing
// in the single-byte, two-byte and UTF-8 code pages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "nlsfunc.h"

namespace {

// Restores code page 1252 and a clean environment after each test.
class CodePage : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("SPCH_CODEPAGE");
        unsetenv("LANG");
        ks_set_cp(1252);
    }
};

TEST_F(CodePage, ChoiceFromEnvironment)
{
    struct Case {
        const char *spch, *lang; // null: unset
        unsigned long cp;
    } cases[] = {
        {nullptr, nullptr, 1252}, {nullptr, "ja_JP.sjis", 932}, {nullptr, "ja_JP", 1252}, {nullptr, "Ja_JP", 932},
        {nullptr, "Zh_CN", 936},  {nullptr, "Zh_TW", 950},      {nullptr, "Ko_KR", 949},  {nullptr, "Ko_KR.UTF-8", 1252},
        {"850", "Ja_JP", 850},    {"936", nullptr, 936},        {"utf8", "Ko_KR", 949},   {"", nullptr, 1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.spch ? c.spch : "-") + " / " + (c.lang ? c.lang : "-"));
        if (c.spch) setenv("SPCH_CODEPAGE", c.spch, 1); else unsetenv("SPCH_CODEPAGE");
        if (c.lang) setenv("LANG", c.lang, 1); else unsetenv("LANG");
        EXPECT_EQ(c.cp == 1252 || c.cp == 850 ? 1 : 2, ks_set_cp(0));
        EXPECT_EQ(c.cp, ks_get_cp());
    }
    setenv("SPCH_CODEPAGE", "850", 1);
    EXPECT_EQ(1, ks_set_cp(437)); // an explicit number wins
    EXPECT_EQ(437u, ks_get_cp());
}

TEST_F(CodePage, ConversionTablesAreInversePermutations)
{
    for (int b = 0; b < 256; b++) {
        EXPECT_EQ(b, c850to1252[c1252to850[b]]) << b;
        EXPECT_EQ(b, c1252to850[c850to1252[b]]) << b;
    }
    const int pairs[][2] = {
        {0x00, 0x00}, {0x41, 0x41}, {0x1A, 0x7F}, {0x1C, 0x1A}, {0x7F, 0x1C}, {0x1B, 0x1B},
        {0xAF, 0xD1}, {0xD0, 0xEE}, {0x80, 0xBA}, {0x81, 0xCD}, {0x83, 0x9F}, {0x8B, 0xDF},
        {0x8E, 0xFE}, {0x9E, 0xD5}, {0x9F, 0xBB}, {0xE9, 0x82}, {0xC4, 0x8E}, {0xFC, 0x81},
        {0xA0, 0xFF}, {0xE4, 0x84}, {0xDF, 0xE1}, {0xFF, 0x98}, {0xD7, 0x9E}, {0xA4, 0xCF},
    };
    for (const auto& p : pairs) EXPECT_EQ(p[1], c1252to850[p[0]]) << std::hex << p[0];
    // Lower-casing commutes with the conversion for every shared capital.
    int shared = 0;
    for (int b = 0xC0; b <= 0xDE; b++) {
        unsigned char d = c1252to850[b];
        if (ks_tolower_850[d] == d) continue;
        shared++;
        EXPECT_EQ(c1252to850[ks_tolower_1252[b]], ks_tolower_850[d]) << b;
    }
    EXPECT_EQ(29, shared); // every 1252 capital but 0xD0, which the table sends to 0xEE
}

TEST_F(CodePage, LeadBytesAndStepping)
{
    ks_set_cp(932);
    for (int b = 0; b < 256; b++)
        EXPECT_EQ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC), dbcsleadbyte(b)) << b;
    ks_set_cp(936);
    for (int b = 0; b < 256; b++) EXPECT_EQ(b >= 0x81 && b <= 0xFE, dbcsleadbyte(b)) << b;

    const unsigned char s[] = {0x82, 0xA0, 'a', 0x82, 0};
    EXPECT_EQ(0x82A0, _mbsnextc(s));
    EXPECT_EQ(s + 2, _mbsinc(s));
    // A lead byte before the terminator stands alone; stepping stops at the NUL.
    EXPECT_EQ(0x82, _mbsnextc(s + 3));
    EXPECT_EQ(s + 4, _mbsinc(s + 3));
    ks_set_cp(1252);
    EXPECT_EQ(0, dbcsleadbyte(0x82));
    EXPECT_EQ(s + 1, _mbsinc(s));
}

// ks_stricmp, or ks_strnicmp of n bytes (n >= 0): the sign of the result.
TEST_F(CodePage, Comparison)
{
    const struct {
        unsigned long cp;
        const char *a, *b;
        int n, sign;
    } cases[] = {
        {1252, "\xC4" "BC", "\xE4" "bc", -1, 0}, {1252, "\x82" "AX", "\x82" "ax", -1, 0},
        {1252, "abc", "abd", -1, -1}, {1252, "abcd", "ABC", -1, 1}, {1252, "abcX", "ABCy", 4, -1},
        // Trail bytes compare exactly, even when they look like ASCII letters;
        // a size may end between lead and trail byte.
        {932, "\xC4" "BC", "\xE4" "bc", -1, -1}, {932, "\x82" "AX", "\x82" "ax", -1, -1},
        {932, "\x82" "AX", "\x82" "Ax", -1, 0},  {932, "\x82" "AX", "\x82" "ax", 1, 0},
        {936, "\xC4" "BC", "\xE4" "bc", -1, -1}, {936, "\x82" "AX", "\x82" "ax", -1, -1},
        {936, "\x82" "AX", "\x82" "Ax", -1, 0},  {936, "\x82" "AX", "\x82" "ax", 1, 0},
        {65001, "Über", "über", -1, 0}, {65001, "ÉLÈVE", "élève", -1, 0}, {65001, "ПРИВЕТ", "привет", -1, 0},
        {65001, "ΣΟΦΟΣ", "σοφος", -1, 0}, {65001, "ΣΟΦΟΣ", "σοφοσ", -1, 0},
        {65001, "\xE2\x84\xAA", "k", -1, 0}, // Kelvin sign
        // Turkish letters keep their distinction; simple folding never makes
        // two characters of one.
        {65001, "ılık", "ILIK", -1, 1}, {65001, "İstanbul", "istanbul", -1, 1}, {65001, "straße", "STRASSE", -1, 1},
        {65001, "a", "б", -1, -1}, {65001, "б", "a", -1, 1}, {65001, "з", "\xD0", -1, -1},
        {65001, "\xFF", "\xFF", -1, 0}, {65001, "\xFF", "\xFE", -1, 1},
        // The size counts the bytes of the first text; a character that
        // starts within them is compared whole.
        {65001, "ПРИВЕТ", "приВЕТ!", 12, 0}, {65001, "ПРИВЕТ", "приВЕТ!", 13, -1},
        {65001, "пр", "пж", 3, 1}, {65001, "пр", "пж", 2, 0},
    };
    for (const auto& c : cases) {
        ks_set_cp(c.cp);
        int r = c.n < 0 ? ks_stricmp(c.a, c.b) : ks_strnicmp(c.a, c.b, c.n);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.cp << ": " << c.a << " / " << c.b << " " << c.n;
    }
}

TEST_F(CodePage, CasingInPlace)
{
    const struct {
        unsigned long cp;
        const char *in, *lower, *upper;
    } cases[] = {
        {1252, "Ab\xC4\xD7\x8A\x9F", "ab\xE4\xD7\x9A\xFF", "AB\xC4\xD7\x8A\x9F"},
        {932, "A\x82" "aB\x82", "a\x82" "ab\x82", "A\x82" "aB\x82"}, // a trail byte keeps its case
        {936, "A\x82" "aB\x82", "a\x82" "ab\x82", "A\x82" "aB\x82"},
        {65001, "ÜBER Straße", "über straße", "ÜBER STRAßE"},
        {65001, "ПРИВЕТ ΣΟΦΟΣ", "привет σοφοσ", "ПРИВЕТ ΣΟΦΟΣ"},
        {65001, "I İ ı", "i İ ı", "I İ ı"},
        {65001, "\xE2\x84\xAA\xC8\xBA", "k\xC8\xBA", "\xE2\x84\xAA\xC8\xBA"}, // Kelvin shrinks; U+023A would grow
        {65001, "a\xFF\xD0Z", "a\xFF\xD0z", "A\xFF\xD0Z"},
    };
    for (const auto& c : cases) {
        ks_set_cp(c.cp);
        std::string l = c.in, u = c.in;
        EXPECT_STREQ(c.lower, ks_strlwr(&l[0])) << c.cp << ": " << c.in;
        EXPECT_STREQ(c.upper, ks_strupr(&u[0])) << c.cp << ": " << c.in;
    }
}

TEST_F(CodePage, SearchAndTokenizeSkipTrailBytes)
{
    ks_set_cp(932);
    // 0x95 0x5C: the trail byte is a backslash and must not be found.
    const char* s = "x\x95\\y\x95\\";
    EXPECT_EQ(nullptr, ks_strchr("\x95\\", '\\'));
    EXPECT_EQ(nullptr, ks_strrchr("\x95\\", '\\'));
    EXPECT_EQ(s + 3, ks_strrchr(s, 'y'));
    EXPECT_EQ(nullptr, ks_strpbrk(s, "\\"));
    EXPECT_EQ(s + 1, ks_strpbrk(s, "\\\x95\\y"));
    EXPECT_EQ(3, ks_strspn(s, "\x95\\x"));
    EXPECT_EQ(6, ks_strcspn(s, "\\"));
    EXPECT_EQ(1, ks_strcspn(s, "\x95\\"));
    // A lead byte without a trail ends the text: it is never counted or found.
    EXPECT_EQ(1, ks_strcspn("a\x95", ","));
    EXPECT_EQ(nullptr, ks_strchr("a\x95", 0x95));
    // Two-byte delimiters are skipped whole; a trail byte equal to a delimiter
    // byte does not split a character.
    char t[] = ",a\x81\x40" "b\x95\\c";
    EXPECT_STREQ("a", ks_strtok(t, ",\x81\x40\\"));
    EXPECT_STREQ("b\x95\\c", ks_strtok(nullptr, ",\x81\x40\\"));
    EXPECT_EQ(nullptr, ks_strtok(nullptr, ",\x81\x40\\"));
    ks_set_cp(1252);
    EXPECT_EQ(s + 5, ks_strrchr(s, '\\'));
    EXPECT_EQ(2, ks_strcspn(s, "\\"));
}

} // namespace

// Tests of the code-page state: choice from number and environment, the
// 1252/850 tables, DBCS stepping and searching, and comparison and casing
// in the single-byte, two-byte and UTF-8 code pages (tests/data/codepages.txt).
#include "cases.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
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

TEST_F(CodePage, ComparisonAndCasing)
{
    for (const cases::Case& c : cases::Read("codepages.txt")) {
        std::istringstream head(c[0]);
        std::string kind;
        unsigned long cp;
        int n = -1;
        head >> kind >> cp >> n;
        ks_set_cp(cp);
        std::string a = cases::Unescape(c[1]), b = cases::Unescape(c[2]), l = a, u = a;
        if (kind == "case") {
            EXPECT_EQ(ks_strlwr(&l[0]) + std::string(" ") + ks_strupr(&u[0]), b + " " + cases::Unescape(c[3])) << c.at;
            continue;
        }
        int r = kind == "cmp" ? ks_stricmp(a.c_str(), b.c_str()) : ks_strnicmp(a.c_str(), b.c_str(), n);
        EXPECT_EQ(std::to_string((r > 0) - (r < 0)), c[3]) << c.at;
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

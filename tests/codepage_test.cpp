// Tests of the code pages: choice, the 1252/850 tables, DBCS stepping,
// comparison, casing and UTF-8 sequences (tests/data/codepages.txt), simple
// case folding against the Unicode data, and grammars under code page 65001.
#include "cases.h"
#include "fsg_build.h"
#include "ks_api.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "nlsfunc.h"

namespace {

const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

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
    for (const cases::Case& c : cases::Read("codepages.txt")) {
        if (c[0] != "env") continue;
        SCOPED_TRACE(c.at);
        for (auto [name, value] : {std::make_pair("SPCH_CODEPAGE", c[1]), std::make_pair("LANG", c[2])})
            if (value == "-") unsetenv(name); else setenv(name, value.c_str(), 1);
        unsigned long cp = std::stoul(c[3]);
        EXPECT_EQ(cp == 1252 || cp == 850 ? 1 : 2, ks_set_cp(0));
        EXPECT_EQ(cp, ks_get_cp());
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
    for (const cases::Case& c : cases::Read("codepages.txt")) {
        if (c[0] != "850") continue;
        EXPECT_EQ(std::stoi(c[2], nullptr, 16), c1252to850[std::stoi(c[1], nullptr, 16)]) << c.at;
    }
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

TEST_F(CodePage, ComparisonCasingAndUtf8Sequences)
{
    for (const cases::Case& c : cases::Read("codepages.txt")) {
        if (c[0] == "env" || c[0] == "850") continue;
        std::istringstream head(c[0]);
        std::string kind;
        unsigned long cp = 65001;
        int n = -1;
        if (head >> kind && kind != "utf8") head >> cp >> n;
        ks_set_cp(cp);
        std::string a = cases::Unescape(c[1]), b = cases::Unescape(c[2]), l = a, u = a;
        if (kind == "utf8") {
            unsigned code = 0, len = (unsigned)Utf8Decode(U(a.c_str()), nullptr, &code);
            char got[32];
            std::snprintf(got, sizeof got, len ? "%u %X" : "%u", len, code);
            EXPECT_EQ(got, c[2]) << c.at;
            // Stepping takes the sequence, or the stray byte alone; the
            // sequence encodes back to its bytes.
            const unsigned char* p = U(a.c_str());
            EXPECT_EQ(p + (len ? len : 1), _mbsinc(p)) << c.at;
            EXPECT_EQ(len ? code : kUtf8Stray + p[0], (unsigned)_mbsnextc(p)) << c.at;
            unsigned char out[4];
            EXPECT_EQ(len ? std::string(a, 0, len) : "", std::string((char*)out, len ? (size_t)Utf8Encode(code, out) : 0)) << c.at;
            continue;
        }
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

TEST_F(CodePage, Utf8BoundsAndLeadBytes)
{
    // A bound ends a sequence as the terminator does.
    unsigned code;
    EXPECT_EQ(0, Utf8Decode(U("\xD0\xB7"), U("\xD0\xB7") + 1, &code));
    unsigned char b[4];
    EXPECT_EQ(1, Utf8Encode(kUtf8Stray + 0xB7, b));
    EXPECT_EQ(0xB7, b[0]);
    EXPECT_EQ(4, ks_set_cp(65001));
    for (int c = 0; c < 256; c++) EXPECT_EQ(0, dbcsleadbyte(c)) << c;
}

// Every code point folds as CaseFolding.txt says under statuses C and S, and
// every other code point is left alone.
TEST_F(CodePage, FoldingIsTheUnicodeSimpleFolding)
{
    ks_set_cp(65001);
    std::ifstream f("/usr/share/unicode/CaseFolding.txt");
    if (!f) GTEST_SKIP() << "unicode-data is not installed";
    std::vector<unsigned> want(0x110000);
    for (unsigned c = 0; c < want.size(); c++) want[c] = c;
    std::string line;
    int n = 0;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        unsigned from, to;
        char status;
        if (std::sscanf(line.c_str(), "%x; %c; %x", &from, &status, &to) != 3) continue;
        if (status == 'C' || status == 'S') {
            want[from] = to;
            n++;
        }
    }
    EXPECT_GT(n, 1000);
    int wrong = 0;
    for (unsigned c = 0; c < want.size(); c++)
        if (FoldCase(c) != want[c] && wrong++ < 10) ADD_FAILURE() << std::hex << "U+" << c;
    EXPECT_EQ(0, wrong);
}

// A continuation byte never stands for a character of a search set.
TEST_F(CodePage, Utf8SearchesStepOverWholeCharacters)
{
    ks_set_cp(65001);
    const char s[] = "за·зе"; // D0 B7 D0 B0 C2 B7 D0 B7 D0 B5
    EXPECT_EQ(s + 4, ks_strchr(s, 0xB7));
    EXPECT_EQ(s + 4, ks_strrchr(s, 0xB7));
    EXPECT_EQ(nullptr, ks_strchr("\xD0\xB7", 0xB7));
    EXPECT_EQ(nullptr, ks_strpbrk("зз", "\xB7"));
    EXPECT_EQ(4, ks_strspn(s, "аз"));
    std::string t = s;
    std::vector<std::string> tokens;
    for (char* p = ks_strtok(&t[0], "·"); p; p = ks_strtok(nullptr, "·")) tokens.push_back(p);
    EXPECT_EQ((std::vector<std::string>{"за", "зе"}), tokens);
}

class Utf8Grammar : public ks_api::Scratch {
protected:
    void TearDown() override
    {
        ks_api::Scratch::TearDown();
        ks_set_cp(1252);
    }
    // Compiles text in the given mode and code page into dir/g.<ext>; the
    // library's result code, the message in msg.
    int Compile(const std::string& text, bool tr, long cp, std::string& out)
    {
        out = Path(tr ? "g.fst" : "g.fsg");
        int rc = ks_api::Compile({{"bnfFile", Write("g.bnf", text)}, {"fsgFile", out}, {tr ? "trMode" : "enMode", 1},
                                  {"codePage", cp}, {"warnings", 0}});
        msg = ks_api::Message();
        return rc;
    }
    std::string msg;
};

// Word strings that are not UTF-8 match nothing, in a state large enough to
// be indexed and in the sub-string search; valid ones fold as UTF-8.
TEST_F(Utf8Grammar, InvalidWordsMatchNothing)
{
    std::string g = "<<g>> = {<w>} -> {1} .\n<w> = ";
    for (int i = 0; i < 12; i++) g += (i ? " | з" : "з") + std::to_string(i) + " -> " + std::to_string(i);
    g += " | з -> з .\n";
    std::string file;
    ASSERT_EQ(0, Compile(g, true, 65001, file)) << msg;
    // Loaded and matched in 932: the file's record makes the state's index
    // and every comparison UTF-8 all the same, and the two-byte state returns.
    ks_set_cp(932);
    void* fsg = Load(file);
    for (const char* w : {"\xD0", "\xB7", "\xD0\xB7\xB7", "з\xFF", "\xC0\xB7", "\xED\xA0\x80"}) {
        EXPECT_EQ(ks_api::Translate(fsg, w), "<rejected>") << w;
        void* h = nullptr;
        ASSERT_EQ(0, KsFindSubStrs(ks_api::Sentence(w).get(), fsg, &h));
        EXPECT_EQ(nullptr, KsGetNextSubStr(h)) << w;
        KsFreeSubStrs(h);
    }
    EXPECT_EQ(ks_api::Translate(fsg, "З11"), "11");
    EXPECT_EQ(932u, ks_get_cp());
    EXPECT_EQ(1, dbcsleadbyte(0x81));
    EXPECT_EQ(2, _mbsinc(U("\x82\xA0")) - U("\x82\xA0"));
    KsUnloadFSG(fsg);
}

// A UTF-8 file ends in the code-page record, counted in lPrivateData; a file
// of any other code page has none and no other byte differs.
TEST_F(Utf8Grammar, OnlyUtf8FilesRecordTheirCodePage)
{
    const char ascii[] = "<<g>> = {<w>} -> {1} .\n<w> = yes -> ja | no -> nein .\n";
    std::string file;
    ASSERT_EQ(0, Compile(ascii, true, 1252, file)) << msg;
    auto text = [&] { fsg_build::Bytes b = fsg_build::Slurp(file); return std::string(b.begin(), b.end()); };
    std::string plain = text();
    ASSERT_EQ(0, Compile(ascii, true, 65001, file)) << msg;
    std::string utf8 = text();
    ASSERT_EQ(plain.size() + 8, utf8.size());
    EXPECT_EQ(plain[4] + 8, utf8[4]); // lPrivateData, small here
    EXPECT_EQ(plain.substr(5), utf8.substr(5, plain.size() - 5));
    EXPECT_EQ(std::string("KSCP\xE9\xFD\0\0", 8), utf8.substr(plain.size()));
    ASSERT_EQ(0, Compile(ascii, true, 850, file)) << msg;
    EXPECT_EQ(plain, text());
}

} // namespace

// Tests of code page 65001: UTF-8 sequences, simple case folding against the
// Unicode data, searches, invalid words and the code-page record of a file
// (grammars in five languages are in tests/data/sentences.txt, invalid
// sequences in messages.txt, comparison and casing in codepage_test).
#include "fsg_build.h"
#include "ks_api.h"

namespace {

class Utf8 : public ::testing::Test {
protected:
    void SetUp() override { ks_set_cp(kCodePageUTF8); }
    void TearDown() override { ks_set_cp(1252); }
};

const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

TEST_F(Utf8, SequencesDecodeOrAreStray)
{
    struct Case {
        const char* bytes;
        int len;       // 0: no valid sequence at the start
        unsigned code;
    } cases[] = {
        {"A", 1, 0x41},          {"\xC3\xBC", 2, 0xFC},       {"\xD0\xB7", 2, 0x437},
        {"\xE2\x82\xAC", 3, 0x20AC}, {"\xF0\x9F\x98\x80", 4, 0x1F600}, {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"\xB7", 0, 0},          {"\xC0\x80", 0, 0},          {"\xC1\xBF", 0, 0},   // stray, overlong
        {"\xE0\x9F\xBF", 0, 0},  {"\xF0\x8F\xBF\xBF", 0, 0},  {"\xED\xA0\x80", 0, 0}, // overlong, surrogate
        {"\xF4\x90\x80\x80", 0, 0}, {"\xF5\x80\x80\x80", 0, 0}, {"\xE2\x82", 0, 0},   // too big, cut short
        {"\xD0", 0, 0},          {"\xC3\x41", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        unsigned code = 0;
        EXPECT_EQ(c.len, Utf8Decode(U(c.bytes), nullptr, &code));
        const unsigned char* p = U(c.bytes);
        const int step = c.len ? c.len : 1;
        EXPECT_EQ(p + step, _mbsinc(p));
        EXPECT_EQ(c.len ? c.code : kUtf8Stray + p[0], (unsigned)_mbsnextc(p));
        if (c.len) {
            unsigned char out[4];
            ASSERT_EQ(c.len, Utf8Encode(code, out));
            EXPECT_EQ(0, memcmp(out, c.bytes, (size_t)c.len));
        }
    }
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
TEST_F(Utf8, FoldingIsTheUnicodeSimpleFolding)
{
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
TEST_F(Utf8, SearchesStepOverWholeCharacters)
{
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

// Tests of the FSG file writer: the exact bytes of small files, ids and
// their ranges, log-probabilities, code-page conversion, the size limits,
// long texts and the clean-up after a failed write.
#include "tfsg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

typedef std::vector<unsigned char> Bytes;

// Little-endian image of expected file contents.
struct LE {
    Bytes b;
    LE& i32(long v)
    {
        for (int k = 0; k < 4; k++) b.push_back((unsigned char)((unsigned long)v >> (8 * k)));
        return *this;
    }
    LE& u16(long v)
    {
        b.push_back((unsigned char)v);
        b.push_back((unsigned char)((unsigned long)v >> 8));
        return *this;
    }
    LE& str(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    LE& z(const std::string& s) { return str(s).str(std::string(1, '\0')); }
};

int32_t At32(const Bytes& b, size_t off)
{
    return (int32_t)((uint32_t)b[off] | (uint32_t)b[off + 1] << 8 | (uint32_t)b[off + 2] << 16 |
                     (uint32_t)b[off + 3] << 24);
}
unsigned At16(const Bytes& b, size_t off)
{
    return (unsigned)b[off] | (unsigned)b[off + 1] << 8;
}

class WriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ksbnfc_write_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        warnings = 0;
        KsMsgBuf[0] = 0;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
        warnings = 0;
        KsMsgBuf[0] = 0;
    }
    std::string Path(const char* name) { return dir + "/" + name; }

    // A normalised grammar built by hand, code page 850 unless changed.
    TFSG* NewFSG()
    {
        TFSG* g = new TFSG(mbstring("t"), TSubFSG::EqNorm);
        g->codepage = 850;
        g->normalized = 1;
        fsgs.emplace_back(g);
        return g;
    }

    Bytes WriteAndLoad(TFSG* g, const char* name = "out.fsg")
    {
        std::string p = Path(name);
        g->WriteFile(p.c_str());
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string ErrorOf(TFSG* g, const std::string& path)
    {
        try {
            g->WriteFile(path.c_str());
        } catch (char* msg) {
            return msg;
        }
        return "";
    }

    std::string dir;
    std::vector<std::unique_ptr<TFSG>> fsgs;
};

TEST_F(WriteTest, EmptyGrammarIs117Bytes)
{
    TFSG* g = NewFSG();
    g->flags = 0;
    LE want;
    want.i32(92).i32(25).str("SACOKV01").i32(64).i32(6).i32(4).i32(1);
    want.i32(24).i32(1).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
    want.i32(0);                                   // flags
    want.i32(2).i32(0).i32(0).i32(0).i32(1).i32(0); // the one intern block
    want.str("02 GB   ").i32(24).i32(1).i32(0).i32(0).z("");
    EXPECT_EQ(WriteAndLoad(g), want.b);
    EXPECT_EQ(want.b.size(), 117u);
}

// The file of a grammar whose one rule is the word yes with the annotation y.
Bytes OneWordFile()
{
    LE want;
    want.i32(108).i32(29).str("SACOKV01").i32(64).i32(6).i32(4).i32(1);
    want.i32(36).i32(1).i32(0).i32(0).i32(4).i32(1).i32(0).i32(0);
    want.i32(0x410);
    want.i32(2).i32(0).i32(1).i32(1);
    want.u16(1).u16(1).u16(0).u16(1);
    want.i32(2).i32(0).i32(1);
    want.z("yes");
    want.str("02 GB   ").i32(24).i32(5).i32(0).i32(0);
    want.z("").z("&y.");
    return want.b;
}

TEST_F(WriteTest, OneWordGrammarIs137Bytes)
{
    TFSG* g = NewFSG();
    g->flags = 0x410;
    TWord* yes = g->words.Add(mbstring("yes"));
    TWord* y = g->annos.Add(mbstring("y"));
    ASSERT_EQ(yes->id, 1);
    ASSERT_EQ(y->id, 1);
    g->Initial()->AddArcX(nullptr, 1.0f, yes, y, OpNone);

    Bytes got = WriteAndLoad(g);
    EXPECT_EQ(got, OneWordFile());
    EXPECT_EQ(got.size(), 137u);
    // The records in memory describe the file just written.
    EXPECT_EQ(g->fh.lEngineData, 108);
    EXPECT_EQ(g->ph.AnnotSize, 5);
}

TEST_F(WriteTest, LogProbabilities)
{
    TFSG* g = NewFSG();
    const struct {
        float p;
        int logp;
    } table[] = {
        {1.0f, 0}, {0.5f, -77}, {0.25f, -154}, {0.1f, -256}, {1.0f / 3, -122}, {0.01f, -512},
    };
    for (const auto& t : table) EXPECT_EQ(g->prob2logp(t.p), t.logp) << t.p;

    EXPECT_NEAR(g->logp2prob(-77), 0.50029f, 1e-5);
    EXPECT_NEAR(g->logp2prob(-256), 0.1f, 1e-7);
    EXPECT_EQ(g->logp2prob(0), 1.0f);
    // -11559 is the last value that still reads back as a positive float.
    EXPECT_EQ(g->logp2prob(-11559), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(g->logp2prob(-11560), 0.0f);
    // Every positive float has a log-probability that reads back positive.
    float tiny = std::numeric_limits<float>::denorm_min();
    EXPECT_GT(g->logp2prob(g->prob2logp(tiny)), 0.0f);
}

TEST_F(WriteTest, ZeroAndNaNProbabilitiesAreStoredAsTheSmallestAndWarned)
{
    TFSG* g = NewFSG();
    warnings = 1;
    for (float p : {0.0f, std::nanf(""), -0.5f}) {
        KsMsgBuf[0] = 0;
        int l = g->prob2logp(p);
        EXPECT_EQ(l, -11559) << p;
        EXPECT_GT(g->logp2prob(l), 0.0f);
        EXPECT_NE(std::string(KsMsgBuf).find("smallest positive probability"), std::string::npos);
    }

    // In a file: the arc survives a write and a read.
    TWord* w = g->words.Add(mbstring("a"));
    g->Initial()->AddArcX(nullptr, 0.0f, w, nullptr, OpNone);
    Bytes b = WriteAndLoad(g);
    EXPECT_EQ((int16_t)At16(b, 68 + 16 + 4), -11559);
}

// Interns, externs, words and annotations in one file: the ids, the
// order of the intern blocks and the names area.
TEST_F(WriteTest, IdRangesAndSections)
{
    TFSG* g = NewFSG();
    const int K = 2;
    for (int k = 0; k < K; k++) {
        TSubFSG* sub = new TSubFSG(mbstring(k ? "i1" : "i0"), g);
        sub->AddRef();
        g->intern_fsgs.Add(sub);
    }
    // Intern k has id 0xFFFF - k, extern j 0xFFFF - K - j.
    TWord* i0 = g->with.Add(mbstring("<i0>"));
    TWord* i1 = g->without.Add(mbstring("<i1>"));
    i0->id = 0xFFFF;
    i1->id = 0xFFFE;
    const char* names[] = {"<abcd>", "<e>", "<fg>"};
    TWord* ext[3];
    for (int j = 0; j < 3; j++) {
        ext[j] = g->externs.Add(mbstring(names[j]));
        ext[j]->id = 0xFFFF - K - j;
    }
    EXPECT_EQ(ext[0]->id, 0xFFFD);
    EXPECT_EQ(ext[2]->id, 0xFFFB);
    TWord* a = g->words.Add(mbstring("a"));
    TWord* b = g->words.Add(mbstring("b"));
    TWord* an = g->annos.Add(mbstring("x"));

    TState* s0 = g->Initial();
    TState* s1 = g->AddState();
    s1->id = 1;
    s0->AddArcX(s1, 0.5f, i0, nullptr, OpNone);
    s0->AddArcX(s1, 0.5f, ext[1], an, OpNone);
    s1->AddArcX(nullptr, 1.0f, a, nullptr, OpNone);
    g->normalized = 1;
    // Intern 0: one word arc; intern 1: no arcs at all.
    g->intern_fsgs[0]->Initial()->AddArcX(nullptr, 1.0f, b, nullptr, OpNone);

    Bytes f = WriteAndLoad(g);
    EXPECT_EQ(At32(f, 36), K + 1);              // nInterns
    EXPECT_EQ(At32(f, 44), 3);                  // nExterns
    EXPECT_EQ(At32(f, 40), 5 + 2 + 3);          // lExterns
    EXPECT_EQ(At32(f, 52), 2);                  // nWords
    const int main_len = 16 + 4 * 2 + 8 * 3 + 4 * 2;
    const int i0_len = 16 + 4 + 8, i1_len = 16 + 4;
    EXPECT_EQ(At32(f, 32), main_len + i0_len + i1_len);
    // The main block: state 0's arcs first, in stored order.
    size_t arcs = 68 + 12 + 4 * 2;
    EXPECT_EQ(At16(f, arcs), 0xFFFFu);
    EXPECT_EQ(At16(f, arcs + 2), 1u);
    EXPECT_EQ(At16(f, arcs + 8), 0xFFFCu);
    EXPECT_EQ(At16(f, arcs + 14), 1u);
    EXPECT_EQ(At16(f, arcs + 16), (unsigned)a->id);
    EXPECT_EQ(At16(f, arcs + 18), 2u); // the end state S
    // Intern 0's block follows directly, then intern 1's.
    size_t b0 = 68 + main_len;
    EXPECT_EQ(At32(f, b0), 2);
    EXPECT_EQ(At16(f, b0 + 16), (unsigned)b->id);
    EXPECT_EQ(At32(f, b0 + 24), 0); // an intern carries no annotation table
    size_t b1 = b0 + i0_len;
    EXPECT_EQ(At32(f, b1), 2);
    EXPECT_EQ(At32(f, b1 + 12), 0);
    size_t ex = 68 + (size_t)At32(f, 32);
    EXPECT_EQ(std::string((const char*)&f[ex], 10), std::string("abcd\0e\0fg\0", 10));
    EXPECT_EQ(std::string((const char*)&f[ex + 10], 4), std::string("a\0b\0", 4));
}

TEST_F(WriteTest, CodePage1252WordsAndExternsAreStoredIn850)
{
    for (int cp : {1252, 850}) {
        TFSG* g = NewFSG();
        g->codepage = cp;
        TWord* w = g->words.Add(mbstring("\xE9"));
        TWord* e = g->externs.Add(mbstring("<\xC4>"));
        e->id = 0xFFFF;
        TWord* an = g->annos.Add(mbstring("\xE9"));
        g->Initial()->AddArcX(nullptr, 1.0f, w, an, OpNone);
        Bytes f = WriteAndLoad(g);
        size_t ex = 68 + (size_t)At32(f, 32);
        unsigned char want_e = cp == 1252 ? 0x8E : 0xC4, want_w = cp == 1252 ? 0x82 : 0xE9;
        EXPECT_EQ(f[ex], want_e) << cp;
        EXPECT_EQ(f[ex + 2], want_w) << cp;
        // Annotations are always written unchanged.
        EXPECT_EQ(f[f.size() - 3], 0xE9) << cp;
    }
}

TEST_F(WriteTest, TextsOfAnyLength)
{
    TFSG* g = NewFSG();
    std::string word(5000, 'w'), ext(3000, 'e'), anno(4000, 'n');
    TWord* w = g->words.Add(mbstring(word.c_str()));
    TWord* e = g->externs.Add(mbstring(("<" + ext + ">").c_str()));
    e->id = 0xFFFF;
    TWord* an = g->annos.Add(mbstring(anno.c_str()));
    g->Initial()->AddArcX(nullptr, 0.5f, w, an, OpNone);
    g->Initial()->AddArcX(nullptr, 0.5f, e, nullptr, OpNone);
    Bytes f = WriteAndLoad(g);
    EXPECT_EQ(At32(f, 40), 3001);
    EXPECT_EQ(At32(f, 48), 5001);
    size_t ex = 68 + (size_t)At32(f, 32);
    EXPECT_EQ(std::string((const char*)&f[ex]), ext);
    EXPECT_EQ(std::string((const char*)&f[ex + 3001]), word);
    EXPECT_EQ(f.size(), (size_t)At32(f, 0) + At32(f, 4));
    EXPECT_EQ(std::string((const char*)&f[f.size() - 4003]), "&" + anno + ".");
}

TEST_F(WriteTest, LimitsAre65530AndNoFileIsCreated)
{
    struct Case {
        const char* what;
        void (*grow)(TFSG*, int);
        const char* error;
    } cases[] = {
        {"annotations",
         [](TFSG* g, int n) {
             char t[16];
             while (g->annos.length < n) {
                 std::snprintf(t, sizeof t, "a%d", g->annos.length);
                 g->annos.Add(mbstring(t));
             }
         },
         "more than 64K annotations"},
        {"words",
         [](TFSG* g, int n) {
             char t[16];
             while (g->words.length < n - 1) {
                 std::snprintf(t, sizeof t, "w%d", g->words.length);
                 g->words.Add(mbstring(t));
             }
             g->externs.Add(mbstring("<x>"))->id = 0xFFFF;
         },
         "more than 64K words and externs"},
        {"states",
         [](TFSG* g, int n) {
             while (g->states.length < n) g->AddState()->id = g->states.length - 1;
         },
         "more than 64K states"},
    };
    for (const Case& c : cases) {
        TFSG* g = NewFSG();
        c.grow(g, 65530);
        std::string p = Path(c.what);
        EXPECT_EQ(ErrorOf(g, p), "") << c.what;
        c.grow(g, 65531);
        unlink(p.c_str());
        EXPECT_EQ(ErrorOf(g, p), c.error) << c.what;
        EXPECT_NE(access(p.c_str(), F_OK), 0) << c.what;
    }
}

TEST_F(WriteTest, FailuresReportTheSystemTextAndLeaveNoFile)
{
    TFSG* g = NewFSG();
    std::string p = Path("no/such/dir.fsg");
    EXPECT_EQ(ErrorOf(g, p), "can't open '" + p + "' (No such file or directory)");

    // A device that is always full: the write fails part way; the partial
    // "file" (here a link to the device) is removed.
    if (access("/dev/full", W_OK) == 0) {
        std::string link = Path("full.fsg");
        ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
        EXPECT_EQ(ErrorOf(g, link), "No space left on device");
        struct stat st;
        EXPECT_NE(lstat(link.c_str(), &st), 0);
        EXPECT_EQ(access("/dev/full", F_OK), 0);
    }
}

TEST_F(WriteTest, NullAnnotationTextIsWrittenEmpty)
{
    TFSG* g = NewFSG();
    g->annos.Add(1, mbstring(), 1);
    TWord* w = g->words.Add(mbstring("a"));
    g->Initial()->AddArcX(nullptr, 1.0f, w, g->annos.elements[1], OpNone);
    Bytes f = WriteAndLoad(g);
    EXPECT_EQ(Bytes(f.end() - 4, f.end()), (Bytes{0, '&', '.', 0}));
}

TEST(WriteHelpers, WritelongIsLittleEndianFourBytes)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    writelong(fds[1], -2L);
    writelong(fds[1], 0x01020304L);
    unsigned char b[8];
    ASSERT_EQ(read(fds[0], b, 8), 8);
    EXPECT_EQ(Bytes(b, b + 8), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1}));
    close(fds[0]);
    close(fds[1]);
}

// The whole road from grammar text to file: the one-rule grammar "yes" with
// the annotation "y" gives exactly the same 137 bytes.
TEST_F(WriteTest, CompiledOneWordGrammarIs137Bytes)
{
    std::string bnf = Path("yes.bnf"), fsg = Path("yes.fsg");
    std::ofstream(bnf) << "<<yes>> = yes:y .\n";
    KsArg args[] = {{const_cast<char*>("bnfFile"), reinterpret_cast<long>(bnf.c_str())},
                    {const_cast<char*>("fsgFile"), reinterpret_cast<long>(fsg.c_str())},
                    {const_cast<char*>("codePage"), 850}};
    ASSERT_EQ(KsCompileGrammar(3, args), 0) << KsMsgBuf;
    std::ifstream in(fsg, std::ios::binary);
    Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, OneWordFile());
}

} // namespace

// Tests of the FSG file writer: the exact bytes of small files, ids and
// their ranges, log-probabilities, code-page conversion, the size limits
// and the clean-up after a failed write.
#include "fsg_build.h"
#include "ks_api.h"

#include <cmath>
#include <limits>
#include <memory>
#include <sys/stat.h>

namespace {

using namespace fsg_build;

class WriteTest : public ks_api::Scratch {
protected:
    // A normalised grammar in the graph_dump notation, code page 850.
    TFSG* New(const std::string& text = "", const std::vector<std::string>& interns = {})
    {
        TFSG* g = Make(text, interns, kForFile);
        g->codepage = 850;
        fsgs.emplace_back(g);
        return g;
    }
    Bytes Written(TFSG* g)
    {
        g->WriteFile(Path("out.fsg").c_str());
        return Slurp(Path("out.fsg"));
    }
    std::string ErrorOf(TFSG* g, const std::string& path)
    {
        return fsg_build::Thrown([&] { g->WriteFile(path.c_str()); });
    }
    std::vector<std::unique_ptr<TFSG>> fsgs;
};

TEST_F(WriteTest, SmallFilesByteForByte)
{
    TFSG* g = New();
    g->flags = 0;
    LE want;
    want.i32(92).i32(25).str("SACOKV01").i32(64).i32(6).i32(4).i32(1);
    want.i32(24).i32(1).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
    want.i32(2).i32(0).i32(0).i32(0).i32(1).i32(0); // the one intern block
    want.str("02 GB   ").i32(24).i32(1).i32(0).i32(0).z("");
    EXPECT_EQ(want.b.size(), 117u);
    EXPECT_EQ(Written(g), want.b);

    // The one-word file, field by field as tests/data/fsg_file.txt lists it.
    Bytes fields;
    for (const Field& f : OneWordFields()) {
        EXPECT_EQ(f.at, fields.size()) << f.name;
        fields.insert(fields.end(), f.bytes.begin(), f.bytes.end());
    }
    g = New("0: yes/y->*");
    g->flags = 0x410;
    Bytes one = Written(g);
    EXPECT_EQ(one, fields);
    EXPECT_EQ(Image(OneWord()), fields);
    EXPECT_EQ(g->fh.lEngineData, 108); // the records in memory describe the file
    EXPECT_EQ(g->ph.AnnotSize, 5);

    // The whole road from grammar text to file gives the same bytes.
    std::string fsg = Path("yes.fsg");
    ASSERT_EQ(ks_api::Compile({{"bnfFile", Write("yes.bnf", "<<y>>=yes:y.")}, {"fsgFile", fsg}, {"codePage", 850}}), 0) << KsMsgBuf;
    EXPECT_EQ(Slurp(fsg), one);
}

TEST_F(WriteTest, LogProbabilities)
{
    TFSG* g = New();
    const std::pair<float, int> table[] = {{1.0f, 0}, {0.5f, -77}, {0.25f, -154}, {0.1f, -256}, {1.0f / 3, -122}, {0.01f, -512}};
    for (const auto& t : table) EXPECT_EQ(g->prob2logp(t.first), t.second) << t.first;
    EXPECT_NEAR(g->logp2prob(-77), 0.50029f, 1e-5);
    EXPECT_NEAR(g->logp2prob(-256), 0.1f, 1e-7);
    // -11559 is the last value that still reads back as a positive float.
    EXPECT_EQ(g->logp2prob(-11559), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(g->logp2prob(-11560), 0.0f);
    EXPECT_GT(g->logp2prob(g->prob2logp(std::numeric_limits<float>::denorm_min())), 0.0f);

    // Zero, NaN and negative probabilities are stored as the smallest and warned.
    graph_dump::WarningsCollected w;
    for (float p : {0.0f, std::nanf(""), -0.5f}) {
        KsMsgBuf[0] = 0;
        EXPECT_EQ(g->prob2logp(p), -11559) << p;
        EXPECT_NE(std::string(KsMsgBuf).find("smallest positive probability"), std::string::npos);
    }
    g = New("0: a->*@0");
    Bytes b = Written(g);
    EXPECT_EQ(b[88] | b[89] << 8, 0x10000 - 11559);
}

// Interns, externs, words and annotations in one file: the ids, the order of
// the intern blocks and the names area.
TEST_F(WriteTest, IdRangesAndSections)
{
    // Intern k has id 0xFFFF - k, extern j 0xFFFF - K - j.
    TFSG* g = New("0: <0>->1@0.5, $<e>/x->1@0.5; 1: a->*, $<abcd>->*, $<fg>->*", {"0: b->*", "0: _->*"});
    Bytes f = Written(g);
    EXPECT_EQ(At32(f, 36), 3);      // nInterns
    EXPECT_EQ(At32(f, 44), 3);      // nExterns
    EXPECT_EQ(At32(f, 40), 2 + 5 + 3); // lExterns
    EXPECT_EQ(At32(f, 52), 2);      // nWords
    const int main_len = 16 + 4 * 2 + 8 * 5 + 4 * 2, i0_len = 16 + 4 + 8, i1_len = 16 + 4 + 8;
    EXPECT_EQ(At32(f, 32), main_len + i0_len + i1_len);
    // The main block: state 0's arcs first, in stored order; then intern 0's.
    const size_t arcs = 68 + 12 + 4 * 2, b0 = 68 + main_len, ex = 68 + (size_t)At32(f, 32);
    auto at16 = [&](size_t off) { return (unsigned)f[off] | (unsigned)f[off + 1] << 8; };
    EXPECT_EQ(at16(arcs), 0xFFFFu);
    EXPECT_EQ(at16(arcs + 8), 0xFFFDu);
    EXPECT_EQ(at16(arcs + 14), 1u);                 // annotation x
    EXPECT_EQ(at16(arcs + 18), 2u);                 // the end state
    EXPECT_EQ(at16(b0 + 16), 2u);                   // word b
    EXPECT_EQ(At32(f, b0 + 24), 0);                 // an intern carries no annotation table
    EXPECT_EQ(std::string((const char*)&f[ex], 14), std::string("e\0abcd\0fg\0a\0b\0", 14));
}

TEST_F(WriteTest, CodePagesAndLongTexts)
{
    for (int cp : {1252, 850}) {
        TFSG* g = New("0: \xE9/\xE9->*, $<\xC4>->*");
        g->codepage = cp;
        Bytes f = Written(g);
        size_t ex = 68 + (size_t)At32(f, 32);
        // Words and externs are stored in 850; annotations unchanged.
        EXPECT_EQ(f[ex], cp == 1252 ? 0x8E : 0xC4) << cp;
        EXPECT_EQ(f[ex + 2], cp == 1252 ? 0x82 : 0xE9) << cp;
        EXPECT_EQ(f[f.size() - 3], 0xE9) << cp;
    }
    std::string word(5000, 'w'), ext(3000, 'e'), anno(4000, 'n');
    Bytes f = Written(New("0: " + word + "/" + anno + "->*, $<" + ext + ">->*"));
    size_t ex = 68 + (size_t)At32(f, 32);
    EXPECT_EQ(std::string((const char*)&f[ex]), ext);
    EXPECT_EQ(std::string((const char*)&f[ex + 3001]), word);
    EXPECT_EQ(std::string((const char*)&f[f.size() - 4003]), "&" + anno + ".");
    EXPECT_EQ(f.size(), (size_t)At32(f, 0) + At32(f, 4));

    TFSG* g = New("0: a->*");
    g->annos.Add(1, mbstring(), 1);
    g->Initial()->arcs[0]->anno = g->annos.elements[1];
    f = Written(g);
    EXPECT_EQ(Bytes(f.end() - 4, f.end()), (Bytes{0, '&', '.', 0})); // a null text is written empty
}

TEST_F(WriteTest, LimitsAre65530AndFailuresLeaveNoFile)
{
    struct Case {
        const char* what;
        void (*grow)(TFSG*, int);
        const char* error;
    } cases[] = {
        {"annotations", [](TFSG* g, int n) { while (g->annos.length < n) g->annos.Add(mbstring(("a" + std::to_string(g->annos.length)).c_str())); },
         "more than 64K annotations"},
        {"words",
         [](TFSG* g, int n) {
             while (g->words.length < n - 1) g->words.Add(mbstring(("w" + std::to_string(g->words.length)).c_str()));
             if (!g->externs.length) g->externs.Add(mbstring("<x>"))->id = 0xFFFF;
         },
         "more than 64K words and externs"},
        {"states", [](TFSG* g, int n) { while (g->states.length < n) g->AddState()->id = g->states.length - 1; },
         "more than 64K states"},
    };
    for (const Case& c : cases) {
        TFSG* g = New();
        c.grow(g, 65530);
        std::string p = Path(c.what);
        EXPECT_EQ(ErrorOf(g, p), "(no error)") << c.what;
        c.grow(g, 65531);
        unlink(p.c_str());
        EXPECT_EQ(ErrorOf(g, p), c.error) << c.what;
        EXPECT_NE(access(p.c_str(), F_OK), 0) << c.what;
    }
    std::string p = Path("no/such/dir.fsg");
    EXPECT_EQ(ErrorOf(New(), p), "can't open '" + p + "' (No such file or directory)");
    // A device that is always full: the write fails part way; the partial
    // "file" (here a link to the device) is removed.
    if (access("/dev/full", W_OK) == 0) {
        std::string link = Path("full.fsg");
        ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
        EXPECT_EQ(ErrorOf(New(), link), "No space left on device");
        struct stat st;
        EXPECT_NE(lstat(link.c_str(), &st), 0);
    }
}

} // namespace

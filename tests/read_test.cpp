// Tests of the FSG file reader: hand-made files, the WordId ranges, zero
// probabilities, annotation texts, round trips through the writer, the
// rejection of truncated and inconsistent files, and the extern cache.
#include "tfsg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

typedef std::vector<unsigned char> Bytes;

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

void Put32(Bytes& b, size_t off, long v)
{
    for (int k = 0; k < 4; k++) b[off + k] = (unsigned char)((unsigned long)v >> (8 * k));
}
void Put16(Bytes& b, size_t off, long v)
{
    b[off] = (unsigned char)v;
    b[off + 1] = (unsigned char)((unsigned long)v >> 8);
}

struct Arc {
    unsigned w, next;
    int logp;
    unsigned anno;
};
struct Block {
    std::vector<long> first; // nStates entries
    std::vector<Arc> arcs;
};
// The pieces of a file; Build computes every length and count.
struct FileSpec {
    int flags = 0x410;
    std::vector<Block> blocks;        // the main grammar first
    std::vector<std::string> externs; // bare names
    std::vector<std::string> words;   // without the null word
    std::vector<std::string> annos;   // as stored ("" for annotation 0)
    bool private_area = true;
};

Bytes Build(const FileSpec& s)
{
    LE in, ex, wd, an;
    for (size_t k = 0; k < s.blocks.size(); k++) {
        const Block& b = s.blocks[k];
        in.i32((long)b.first.size());
        for (long f : b.first) in.i32(f);
        in.i32((long)b.arcs.size());
        for (const Arc& a : b.arcs) in.u16(a.w).u16(a.next).u16(a.logp).u16(a.anno);
        if (k == 0) {
            in.i32((long)s.annos.size());
            long off = 0;
            for (const std::string& t : s.annos) {
                in.i32(off);
                off += (long)t.size() + 1;
            }
        } else {
            in.i32(0);
        }
    }
    for (const std::string& e : s.externs) ex.z(e);
    for (const std::string& w : s.words) wd.z(w);
    for (const std::string& a : s.annos) an.z(a);
    long lengine = 64 + 4 + (long)in.b.size() + (long)ex.b.size() + (long)wd.b.size();
    long lprivate = s.private_area ? 24 + (long)an.b.size() : 0;
    LE f;
    f.i32(lengine).i32(lprivate).str("SACOKV01").i32(64).i32(6).i32(4).i32(1);
    f.i32((long)in.b.size()).i32((long)s.blocks.size()).i32((long)ex.b.size()).i32((long)s.externs.size());
    f.i32((long)wd.b.size()).i32((long)s.words.size()).i32(0).i32(0);
    f.i32(s.flags);
    f.str(std::string(in.b.begin(), in.b.end()));
    f.str(std::string(ex.b.begin(), ex.b.end()));
    f.str(std::string(wd.b.begin(), wd.b.end()));
    if (s.private_area) {
        f.str("02 GB   ").i32(24).i32((long)an.b.size()).i32(0).i32(0);
        f.str(std::string(an.b.begin(), an.b.end()));
    }
    return f.b;
}

// The one-word grammar: "yes" with the annotation "y".
FileSpec OneWord()
{
    FileSpec s;
    s.blocks = {{{0, 1}, {{1, 1, 0, 1}}}};
    s.words = {"yes"};
    s.annos = {"", "&y."};
    return s;
}

// One line per state and arc, with word and annotation ids and texts.
std::string Dump(TSubFSG* sub)
{
    std::ostringstream o;
    for (int i = 0; i < sub->states.length; i++) {
        TState* s = sub->states.elements[i];
        o << "s" << s->id << ":";
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            o << " " << a->word->id << "'" << (a->word->word.s ? a->word->word.s : "(null)") << "'";
            o << "->" << (a->state ? std::to_string(a->state->id) : std::string("end"));
            o << " a" << a->anno->id << (a->anno->word.s ? std::string("'") + a->anno->word.s + "'" : "");
            o << " p" << a->p;
        }
        o << "\n";
    }
    return o.str();
}

std::string Texts(TWordList& l)
{
    std::ostringstream o;
    for (int i = 0; i < l.length; i++) {
        TWord* w = l.elements[i];
        o << i << ":" << (w ? std::to_string(w->id) : "-") << ":" << (w && w->word.s ? w->word.s : "(null)")
          << " ";
    }
    return o.str();
}

int OpenDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) n++;
        closedir(d);
    }
    return n;
}

class ReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ksbnfc_read_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        codepage_before = ks_get_cp();
        ks_set_cp(850);
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
        ks_set_cp(codepage_before);
    }
    std::string Path(const std::string& name) { return dir + "/" + name; }
    std::string Save(const Bytes& b, const std::string& name = "in.fsg")
    {
        std::string p = Path(name);
        std::ofstream(p, std::ios::binary).write((const char*)b.data(), (std::streamsize)b.size());
        return p;
    }
    TFSG* Fresh(const char* name = "t")
    {
        TFSG* g = new TFSG(mbstring(name), TSubFSG::EqNorm);
        fsgs.emplace_back(g);
        return g;
    }
    TFSG* Load(const Bytes& b, int dbg = 0)
    {
        std::string p = Save(b);
        TFSG* g = Fresh();
        g->ReadFile(p.c_str(), dbg);
        return g;
    }
    // The error text of reading b, "" when it loads.
    std::string ErrorOf(const Bytes& b)
    {
        std::string p = Save(b);
        std::unique_ptr<TFSG> g(new TFSG(mbstring("t"), TSubFSG::EqNorm));
        try {
            g->ReadFile(p.c_str(), 0);
        } catch (char* msg) {
            return msg;
        }
        return "";
    }

    std::string dir;
    unsigned long codepage_before = 0;
    std::vector<std::unique_ptr<TFSG>> fsgs;
};

TEST_F(ReadTest, OneWordFile)
{
    Bytes b = Build(OneWord());
    ASSERT_EQ(b.size(), 137u);
    TFSG* g = Load(b);
    EXPECT_EQ(g->flags, 0x410);
    EXPECT_EQ(g->normalized, 1);
    EXPECT_EQ(Dump(g), "s0: 1'yes'->end a1'y' p1\n");
    EXPECT_EQ(Texts(g->words), "0:0: 1:1:yes ");
    EXPECT_EQ(Texts(g->annos), "0:0:(null) 1:1:y ");
    EXPECT_EQ(g->intern_fsgs.length, 0);
    EXPECT_EQ(std::string(g->ph.Signature, 8), "02 GB   ");
}

TEST_F(ReadTest, DumpListsTheFile)
{
    testing::internal::CaptureStdout();
    Load(Build(OneWord()), 1);
    std::string out = testing::internal::GetCapturedStdout();
    for (const char* line : {"version       SACOKV01\n", "nInterns      1\n", "lPrivateData  29\n",
                             "parameters[ 0]  0x410\n  PV_PHRASE_NO_INSERTIONS\n  PV_PHRASE_ALLOW_SILENCES\n\n",
                             "    state   1: first arc   1\n",
                             "    arc   0: WordId     1, NextState   1, LogProb    0, AnnotationI   1\n",
                             "    annotation 1: 1\n", "word     1: 'yes'\n", "annotation     1: '&y.'\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}

// nWords 10, nInterns 3, nExterns 2: 0..10 words, 65532/65533 externs 1/0,
// 65534/65535 interns 1/0, everything between is rejected.
TEST_F(ReadTest, WordIdRanges)
{
    const struct {
        unsigned w;
        const char* list; // which list the arc's word comes from, or the error
        int index;
    } cases[] = {
        {0, "words", 0},           {10, "words", 10},         {11, "bad WordId 11", 0},
        {65531, "bad WordId 65531", 0}, {65532, "externs", 1}, {65533, "externs", 0},
        {65534, "interns", 1},     {65535, "interns", 0},
    };
    for (const auto& c : cases) {
        FileSpec s;
        s.blocks = {{{0, 1}, {{c.w, 1, 0, 0}}}, {{0, 0}, {}}, {{0, 0}, {}}};
        s.words = {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10"};
        s.externs = {"e0", "e1"};
        s.annos = {""};
        std::string err = ErrorOf(Build(s));
        if (std::string(c.list).find("bad") == 0) {
            EXPECT_EQ(err, c.list);
            continue;
        }
        ASSERT_EQ(err, "") << c.w;
        TFSG* g = Load(Build(s));
        TWord* w = g->Initial()->arcs.elements[0]->word;
        TWordList& l = std::string(c.list) == "words" ? g->words : std::string(c.list) == "externs" ? g->externs : g->interns;
        ASSERT_LT(c.index, l.length) << c.w;
        EXPECT_EQ(w, l.elements[c.index]) << c.w;
        if (&l == &g->externs) {
            EXPECT_EQ(w->id, (int)c.w);
            EXPECT_EQ(std::string(w->word.s), c.index ? "<e1>" : "<e0>");
        }
        if (&l == &g->interns) {
            EXPECT_EQ(w->id, c.index);
            EXPECT_EQ(w->kind, TWord::Intern);
        }
        EXPECT_EQ(g->intern_fsgs.length, 2);
        EXPECT_STREQ(g->intern_fsgs[1]->name.s, "intern #1");
        EXPECT_EQ(g->intern_fsgs[1]->fsg, g);
    }
}

TEST_F(ReadTest, ZeroProbabilityIsRejected)
{
    FileSpec s = OneWord();
    s.blocks[0].arcs[0].logp = -11559;
    TFSG* g = Load(Build(s));
    EXPECT_GT(g->Initial()->arcs.elements[0]->p, 0.0f);
    s.blocks[0].arcs[0].logp = -11560;
    EXPECT_EQ(ErrorOf(Build(s)), "arc 0 has zero probability");
}

TEST_F(ReadTest, AnnotationTexts)
{
    FileSpec s = OneWord();
    s.annos = {"", "&y.", "&.", "&x..", "plain", "", "&"};
    s.blocks[0].arcs[0].anno = 6;
    TFSG* g = Load(Build(s));
    // The last "." goes, then a leading "&"; "&." is an empty text, not null.
    EXPECT_EQ(Texts(g->annos), "0:0:(null) 1:1:y 2:2: 3:3:x. 4:4:plain 5:5: 6:6: ");
}

TEST_F(ReadTest, AnnotationsAreConvertedFrom1252In850)
{
    FileSpec s = OneWord();
    s.annos = {"", "&\xE9."};
    s.words = {"\x82"};
    ks_set_cp(850);
    TFSG* g = Load(Build(s));
    EXPECT_EQ(std::string(g->annos.elements[1]->word.s), "\x82");
    EXPECT_EQ(std::string(g->words.elements[1]->word.s), "\x82");
    ks_set_cp(1252);
    g = Load(Build(s));
    EXPECT_EQ(std::string(g->annos.elements[1]->word.s), "\xE9");
    EXPECT_EQ(std::string(g->words.elements[1]->word.s), "\xE9");
}

TEST_F(ReadTest, WithoutPrivateDataAnnotationsHaveNoText)
{
    FileSpec s = OneWord();
    s.private_area = false;
    TFSG* g = Load(Build(s));
    EXPECT_EQ(Texts(g->annos), "0:0:(null) 1:1:(null) ");
    EXPECT_EQ(Dump(g), "s0: 1'yes'->end a1 p1\n");
}

// Written by the writer, read back: the same states, arcs, words, externs,
// interns and annotations, whatever the code page.
TEST_F(ReadTest, WriteThenReadGivesTheSameGrammar)
{
    for (unsigned long cp : {850ul, 1252ul}) {
        ks_set_cp(cp);
        TFSG* g = Fresh();
        g->codepage = (int)cp;
        TSubFSG* sub = new TSubFSG(mbstring("inner"), g);
        sub->AddRef();
        g->intern_fsgs.Add(sub);
        TWord* in = g->with.Add(mbstring("<inner>"));
        in->id = 0xFFFF;
        TWord* ext = g->externs.Add(mbstring("<other>"));
        ext->id = 0xFFFE;
        TWord* a = g->words.Add(mbstring("caf\xE9"));
        TWord* b = g->words.Add(mbstring("b"));
        TWord* x = g->annos.Add(mbstring("x"));
        TWord* dot = g->annos.Add(mbstring("ends."));
        TState* s0 = g->Initial();
        TState* s1 = g->AddState();
        TState* s2 = g->AddState();
        s0->AddArcX(s1, 0.5f, a, x, OpNone);
        s0->AddArcX(s2, 0.25f, in, nullptr, OpNone);
        s0->AddArcX(s2, 0.25f, ext, dot, OpNone);
        s1->AddArcX(nullptr, 1.0f, nullptr, nullptr, OpNone);
        s2->AddArcX(s1, 1.0f / 3, b, nullptr, OpNone);
        s2->AddArcX(nullptr, 2.0f / 3, nullptr, dot, OpNone);
        TState* t1 = sub->AddState();
        sub->Initial()->AddArcX(t1, 1.0f, b, x, OpNone);
        t1->AddArcX(nullptr, 1.0f, nullptr, nullptr, OpNone);
        g->normalized = 1;
        std::string p = Path("rt.fsg");
        g->WriteFile(p.c_str());

        TFSG* r = Fresh();
        r->ReadFile(p.c_str(), 0);
        // Probabilities pass through 1/256-decade steps.
        for (TSubFSG* n : {(TSubFSG*)g, sub})
            for (int i = 0; i < n->states.length; i++)
                for (int j = 0; j < n->states.elements[i]->arcs.length; j++) {
                    TArc* arc = n->states.elements[i]->arcs.elements[j];
                    arc->p = r->logp2prob(r->prob2logp(arc->p));
                }
        // Intern calls come back as intern 0 of the `interns` list.
        std::string want = Dump(g);
        size_t at = want.find("65535'<inner>'");
        ASSERT_NE(at, std::string::npos);
        want.replace(at, 14, "0'(null)'");
        EXPECT_EQ(Dump(r), want) << cp;
        EXPECT_EQ(Dump(r->intern_fsgs[0]), Dump(sub)) << cp;
        EXPECT_EQ(Texts(r->words), Texts(g->words)) << cp;
        EXPECT_EQ(Texts(r->externs), Texts(g->externs)) << cp;
        EXPECT_EQ(Texts(r->annos), Texts(g->annos)) << cp;
        EXPECT_EQ(r->interns.length, 1);
    }
}

// Every check on untrusted input: each damaged file is refused with an error
// naming it, nothing is read out of bounds, and the descriptor is closed.
TEST_F(ReadTest, DamagedFilesAreRejected)
{
    // Offsets in the one-word file.
    const size_t kBlock = 68, kFirst = 72, kArcs = 80, kArc0 = 84, kNAnnos = 92, kWords = 104,
                 kPrivate = 108;
    const struct {
        const char* what;
        void (*damage)(Bytes&);
        const char* error; // part of the message
    } cases[] = {
        {"first arc decreases", [](Bytes& b) { Put32(b, kFirst + 4, 0), Put32(b, kFirst, 1); }, "decreases"},
        {"first arc beyond nArcs", [](Bytes& b) { Put32(b, kFirst + 4, 2); }, "exceeds"},
        {"negative first arc", [](Bytes& b) { Put32(b, kFirst, -1); }, "first arc"},
        {"NextState beyond the states", [](Bytes& b) { Put16(b, kArc0 + 2, 2); }, "leads to state 2"},
        {"annotation beyond nAnnotations", [](Bytes& b) { Put16(b, kArc0 + 6, 2); }, "annotation"},
        {"annotation beyond the area",
         [](Bytes& b) {
             Put32(b, kPrivate + 12, 1);
             Put32(b, 4, 25);
         },
         "beyond the annotation area"},
        {"huge nStates", [](Bytes& b) { Put32(b, kBlock, 0x7FFFFFFF); }, "truncated"},
        {"no states", [](Bytes& b) { Put32(b, kBlock, 0); }, "no states"},
        {"huge nArcs", [](Bytes& b) { Put32(b, kArcs, 0x10000000); }, "truncated"},
        {"huge nAnnotations", [](Bytes& b) { Put32(b, kNAnnos, 0x40000000); }, "truncated"},
        {"block past its section", [](Bytes& b) { Put32(b, 32, 20); }, "past the end of its section"},
        {"no main grammar", [](Bytes& b) { Put32(b, 36, 0); }, "no main grammar"},
        {"intern block missing", [](Bytes& b) { Put32(b, 36, 2); }, "'"},
        {"words past the end", [](Bytes& b) { Put32(b, 48, 400); }, "truncated"},
        {"negative length", [](Bytes& b) { Put32(b, 40, -8); }, "out of range"},
        {"more externs than names", [](Bytes& b) { Put32(b, 44, 1); }, "extern names"},
        {"unterminated word", [](Bytes& b) { b[kWords + 3] = 'x'; }, "word texts"},
        {"more words than texts", [](Bytes& b) { Put32(b, 52, 2); }, "word texts"},
        {"ids overlap", [](Bytes& b) { Put32(b, 52, 65536); }, "overlap"},
        {"annotation area outside", [](Bytes& b) { Put32(b, kPrivate + 12, 6); }, "outside the private area"},
        {"annotation offset negative", [](Bytes& b) { Put32(b, kPrivate + 8, -30); }, "outside"},
        {"private area past the end", [](Bytes& b) { Put32(b, 4, 30); }, "truncated"},
        {"private area too short", [](Bytes& b) { Put32(b, 4, 10); }, "shorter than its record"},
        {"unterminated annotation", [](Bytes& b) { b.back() = '.'; }, "runs past the annotation area"},
        {"parameters too long", [](Bytes& b) { Put32(b, 28, 2); }, "parameters"},
        {"bad magic", [](Bytes& b) { b[8] = 'X'; }, "does not appear to be a valid .fsg file"},
    };
    const Bytes good = Build(OneWord());
    int fds = OpenDescriptors();
    for (const auto& c : cases) {
        Bytes b = good;
        c.damage(b);
        std::string err = ErrorOf(b);
        EXPECT_NE(err.find(c.error), std::string::npos) << c.what << ": " << err;
        EXPECT_NE(err.find(Path("in.fsg")), std::string::npos) << c.what << ": " << err;
    }
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(ReadTest, EveryTruncationIsRejected)
{
    FileSpec s = OneWord();
    s.blocks.push_back({{0, 1}, {{1, 1, -77, 0}}});
    s.externs = {"ext"};
    const Bytes good = Build(s);
    ASSERT_EQ(ErrorOf(good), "");
    int fds = OpenDescriptors();
    for (size_t n = 0; n < good.size(); n++) {
        std::string err = ErrorOf(Bytes(good.begin(), good.begin() + (long)n));
        EXPECT_NE(err, "") << n;
        EXPECT_NE(err.find(Path("in.fsg")), std::string::npos) << n << ": " << err;
    }
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(ReadTest, MissingFile)
{
    std::string p = Path("absent.fsg");
    std::unique_ptr<TFSG> g(new TFSG(mbstring("t"), TSubFSG::EqNorm));
    try {
        g->ReadFile(p.c_str(), 0);
        FAIL();
    } catch (char* msg) {
        EXPECT_EQ(std::string(msg), "can't open '" + p + "' (No such file or directory)");
    }
    try {
        g->ReadFile(dir.c_str(), 0);
        FAIL();
    } catch (char* msg) {
        EXPECT_EQ(std::string(msg), "can't open '" + dir + "' (Is a directory)");
    }
}

TEST_F(ReadTest, LongVocabularyNames)
{
    FileSpec s = OneWord();
    std::string name(5000, 'v');
    s.words = {name};
    s.externs = {name};
    TFSG* g = Load(Build(s));
    EXPECT_EQ(std::string(g->words.elements[1]->word.s), name);
    EXPECT_EQ(std::string(g->externs.elements[0]->word.s), "<" + name + ">");
}

// The cache is process-wide, so each test uses its own grammar names.
TEST_F(ReadTest, ExternCacheByPlainAndBracketedName)
{
    std::string p = Save(Build(OneWord()), "cached.fsg");
    EXPECT_EQ(TFSG::Extern("cacheA", nullptr), nullptr);
    TFSG* a = TFSG::Extern("cacheA", p.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name.s, "cacheA");
    unlink(p.c_str()); // a second load would fail now
    EXPECT_EQ(TFSG::Extern("cacheA", p.c_str()), a);
    EXPECT_EQ(TFSG::Extern("<cacheA>", nullptr), a);
    EXPECT_EQ(TFSG::Extern("cacheB", nullptr), nullptr);

    // A failed load registers nothing.
    try {
        TFSG::Extern("cacheB", p.c_str());
        ADD_FAILURE();
    } catch (char*) {
    }
    EXPECT_EQ(TFSG::Extern("cacheB", nullptr), nullptr);
    std::string q = Save(Build(OneWord()), "other.fsg");
    TFSG* b = TFSG::Extern("cacheB", q.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(TFSG::Extern("<cacheB>", nullptr), b);
}

// Grammars that call each other as externs: the walk loads each once and ends.
TEST_F(ReadTest, LoadExternsFollowsCyclesOnce)
{
    auto calling = [](std::vector<std::string> externs) {
        FileSpec s = OneWord();
        s.externs = externs;
        return Build(s);
    };
    Save(calling({"cycB", "cycSelf"}), "cycA.fst");
    Save(calling({"cycA"}), "cycB.fst");
    Save(calling({"cycSelf"}), "cycSelf.fst");
    TFSG* root = Fresh();
    root->ReadFile(Path("cycA.fst").c_str(), 0);
    root->LoadExterns(Path("cycA.fst").c_str(), 0);
    TFSG* b = TFSG::Extern("cycB", nullptr);
    TFSG* a = TFSG::Extern("cycA", nullptr);
    TFSG* self = TFSG::Extern("cycSelf", nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(std::string(b->externs.elements[0]->word.s), "<cycA>");

    // The extension comes from the file name, not from a dotted directory.
    std::string sub = Path("d.x");
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    Save(calling({"dotB"}), "d.x/top");
    Save(calling({}), "d.x/dotB.fst");
    TFSG* top = Fresh();
    top->ReadFile((sub + "/top").c_str(), 0);
    top->LoadExterns((sub + "/top").c_str(), 0);
    EXPECT_NE(TFSG::Extern("dotB", nullptr), nullptr);
}

TEST(ReadHelpers, FlagAndReadlong)
{
    char buf[512] = "";
    Flag(buf, 0x410, 0x400, "PV_PHRASE_NO_INSERTIONS");
    Flag(buf, 0x410, 0x100, "PV_PHRASE_ALLOW_INSERTIONS");
    EXPECT_STREQ(buf, "  PV_PHRASE_NO_INSERTIONS\n");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    unsigned char b[5] = {0xFE, 0xFF, 0xFF, 0xFF, 7};
    ASSERT_EQ(write(fds[1], b, 5), 5);
    close(fds[1]);
    EXPECT_EQ(readlong(fds[0]), -2L);
    EXPECT_THROW(readlong(fds[0]), char*); // one byte left: truncated
    close(fds[0]);
}

} // namespace

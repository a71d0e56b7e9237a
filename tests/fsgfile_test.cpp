// Tests of the FSG files: the writer's bytes (the one-word file of
// tests/data/fsg_file.txt), limits and clean-up, and the reader on
// hand-made, round-tripped, truncated and damaged files and the extern cache.
#include "fsg_build.h"
#include "ks_api.h"

#include <algorithm>
#include <cmath>
#include <dirent.h>
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

// ---- the reader ----


using graph_dump::Dump;

// The ids and texts of a word list.
std::string Texts(TWordList& l)
{
    std::ostringstream o;
    for (int i = 0; i < l.length; i++) o << l.elements[i]->id << ":" << (l.elements[i]->word.s ? l.elements[i]->word.s : "(null)") << " ";
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

class ReadTest : public ks_api::Scratch {
protected:
    void SetUp() override
    {
        ks_api::Scratch::SetUp();
        ks_set_cp(850);
    }
    void TearDown() override
    {
        ks_api::Scratch::TearDown();
        ks_set_cp(1252);
    }
    TFSG* Fresh()
    {
        fsgs.emplace_back(new TFSG(mbstring("t"), TSubFSG::EqNorm));
        return fsgs.back().get();
    }
    TFSG* Load(const FileSpec& s)
    {
        Save(Image(s), Path("in.fsg"));
        TFSG* g = Fresh();
        g->ReadFile(Path("in.fsg").c_str(), 0);
        return g;
    }
    // The error text of reading b, "" when it loads; the same bytes read
    // from memory, by a grammar named as the file, fail alike.
    std::string ErrorOf(const Bytes& b)
    {
        Save(b, Path("in.fsg"));
        std::unique_ptr<TFSG> g(new TFSG(mbstring("t"), TSubFSG::EqNorm));
        std::string err = Thrown([&] { g->ReadFile(Path("in.fsg").c_str(), 0); });
        g.reset(new TFSG(mbstring(Path("in.fsg").c_str()), TSubFSG::EqNorm));
        EXPECT_EQ(Thrown([&] { g->ReadBytes((const char*)b.data(), b.size(), 0); }), err);
        return err == "(no error)" ? "" : err;
    }
    std::vector<std::unique_ptr<TFSG>> fsgs;
};

TEST_F(ReadTest, OneWordFileAndAnnotationTexts)
{
    TFSG* g = Load(OneWord());
    EXPECT_EQ(g->flags, 0x410);
    EXPECT_EQ(g->normalized, 1);
    EXPECT_EQ(Dump(g), "0: yes/y->*@1\n");
    EXPECT_EQ(Texts(g->words), "0: 1:yes ");

    FileSpec s = OneWord();
    s.annos = {"", "&y.", "&.", "&x..", "plain", "", "&"};
    // The last "." goes, then a leading "&"; "&." is an empty text, not null.
    EXPECT_EQ(Texts(Load(s)->annos), "0:(null) 1:y 2: 3:x. 4:plain 5: 6: ");
    s.private_area = false; // lPrivateData 0: no texts at all
    s.annos = {"", "&y."};
    EXPECT_EQ(Dump(Load(s)), "0: yes/#1->*@1\n");

    // Words (and annotations) are converted from 1252 in code page 850.
    s = OneWord();
    s.annos = {"", "&\xE9."};
    s.words = {"\x82"};
    g = Load(s);
    EXPECT_EQ(std::string(g->annos.elements[1]->word.s) + g->words.elements[1]->word.s, "\x82\x82");
    ks_set_cp(1252);
    g = Load(s);
    EXPECT_EQ(std::string(g->annos.elements[1]->word.s) + g->words.elements[1]->word.s, "\xE9\xE9");
}

// nWords 10, nInterns 3, nExterns 2: 0..10 words, 65532/65533 externs 1/0,
// 65534/65535 interns 1/0, everything between is rejected; -11560 is zero.
TEST_F(ReadTest, WordIdRangesAndZeroProbability)
{
    const struct {
        unsigned w;
        const char* want; // the arc's word, or the error
    } cases[] = {
        {0, "0:"},        {10, "10:w10"},      {11, "bad WordId 11"}, {65531, "bad WordId 65531"},
        {65532, "65532:<e1>"}, {65533, "65533:<e0>"}, {65534, "1:(null)"},    {65535, "0:(null)"},
    };
    FileSpec s;
    s.blocks = {{{0, 1}, {{0, 1, 0, 0}}}, {{0, 0}, {}}, {{0, 0}, {}}};
    s.words = {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10"};
    s.externs = {"e0", "e1"};
    s.annos = {""};
    for (const auto& c : cases) {
        s.blocks[0].arcs[0].w = c.w;
        std::string err = ErrorOf(Image(s));
        if (!err.empty()) {
            EXPECT_EQ(err, c.want);
            continue;
        }
        TWord* w = Load(s)->Initial()->arcs.elements[0]->word;
        EXPECT_EQ(std::to_string(w->id) + ":" + (w->word.s ? w->word.s : "(null)"), c.want);
        EXPECT_EQ(w->kind == TWord::Intern, c.w > 65533) << c.w;
    }
    EXPECT_STREQ(fsgs.back()->intern_fsgs[1]->name.s, "intern #1");

    s = OneWord();
    s.blocks[0].arcs[0].logp = -11559;
    EXPECT_GT(Load(s)->Initial()->arcs.elements[0]->p, 0.0f);
    s.blocks[0].arcs[0].logp = -11560;
    EXPECT_EQ(ErrorOf(Image(s)), "arc 0 has zero probability");
}

// Written by the writer, read back: the same states, arcs, words, externs,
// interns and annotations, whatever the code page.
TEST_F(ReadTest, WriteThenReadGivesTheSameGrammar)
{
    for (unsigned long cp : {850ul, 1252ul}) {
        ks_set_cp(cp);
        std::string inner(3000, 'i');
        TFSG* g = Make("0: caf\xE9/x->1@0.5, <0>->2@0.25, $<other>/ends.->2@0.25; 1: _->*; "
                       "2: b->1@0.3333, _/ends.->*@0.6667",
                       {"0: " + inner + "/x->1; 1: _->*"}, kForFile);
        fsgs.emplace_back(g);
        g->codepage = (int)cp;
        g->WriteFile(Path("rt.fsg").c_str());
        TFSG* r = Fresh();
        std::string listed = graph_dump::Captured([&] { r->ReadFile(Path("rt.fsg").c_str(), 1); });
        std::string bytes; // the same file in memory, and read from there
        g->WriteBytes(bytes);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Slurp(Path("rt.fsg")));
        TFSG* m = Fresh();
        EXPECT_EQ(graph_dump::Captured([&] { m->ReadBytes(bytes.data(), bytes.size(), 1); }), listed);
        EXPECT_EQ(Dump(m) + Dump(m->intern_fsgs[0]) + Texts(m->words) + Texts(m->annos),
                  Dump(r) + Dump(r->intern_fsgs[0]) + Texts(r->words) + Texts(r->annos));
        // Probabilities pass through 1/256-decade steps.
        for (TSubFSG* n : {(TSubFSG*)g, g->intern_fsgs[0]})
            for (int i = 0; i < n->states.length; i++)
                for (int j = 0; j < n->states.elements[i]->arcs.length; j++) {
                    TArc* arc = n->states.elements[i]->arcs.elements[j];
                    arc->p = r->logp2prob(r->prob2logp(arc->p));
                }
        // Intern calls come back as intern 0 of the `interns` list.
        std::string want = Dump(g);
        size_t at = want.find("<0>->");
        ASSERT_NE(at, std::string::npos) << want;
        want.replace(at, 3, "#0");
        EXPECT_EQ(Dump(r), want) << cp;
        EXPECT_EQ(Dump(r->intern_fsgs[0]), Dump(g->intern_fsgs[0])) << cp;
        EXPECT_EQ(Texts(r->words), Texts(g->words)) << cp;
        EXPECT_EQ(Texts(r->externs), Texts(g->externs)) << cp;
        EXPECT_EQ(Texts(r->annos), Texts(g->annos)) << cp;
    }
}

// Every check on untrusted input: each damaged file (tests/data/fsg_file.txt)
// and every cut of a whole one is refused with an error naming it, nothing
// is read out of bounds, and the descriptor is closed.
TEST_F(ReadTest, DamagedFilesAreRejected)
{
    const Bytes good = Image(OneWord());
    int fds = OpenDescriptors();
    auto check = [&](const Bytes& b, const std::string& error) {
        std::string err = ErrorOf(b);
        EXPECT_NE(err.find(error), std::string::npos) << error << ": " << err;
        EXPECT_NE(err.find(Path("in.fsg")), std::string::npos) << error << ": " << err;
    };
    const std::vector<Field> fields = OneWordFields();
    for (const cases::Case& c : cases::Read("fsg_file.txt")) {
        std::istringstream set(c[0]);
        std::string kind, to;
        Bytes b = good;
        for (set >> kind; kind == "damage" && set >> to;) {
            auto f = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return f.name == to.substr(0, to.find('=')); });
            ASSERT_NE(f, fields.end()) << c.at;
            unsigned long v = (unsigned long)std::stol(to.substr(to.find('=') + 1), nullptr, 0);
            for (size_t k = 0; k < f->bytes.size(); k++) b[f->at + k] = (unsigned char)(v >> (8 * k));
        }
        if (kind == "damage") check(b, c[1]);
    }

    FileSpec s = OneWord();
    s.blocks.push_back({{0, 1}, {{1, 1, -77, 0}}});
    s.externs = {"ext"};
    const Bytes whole = Image(s);
    ASSERT_EQ(ErrorOf(whole), "");
    for (size_t n = 0; n < whole.size(); n++) check(Bytes(whole.begin(), whole.begin() + (long)n), "");
    EXPECT_EQ(OpenDescriptors(), fds);

    std::unique_ptr<TFSG> g(new TFSG(mbstring("t"), TSubFSG::EqNorm));
    EXPECT_EQ(Thrown([&] { g->ReadFile(Path("absent.fsg").c_str(), 0); }),
              "can't open '" + Path("absent.fsg") + "' (No such file or directory)");
    EXPECT_EQ(Thrown([&] { g->ReadFile(dir.c_str(), 0); }), "can't open '" + dir + "' (Is a directory)");
}

// The cache is process-wide, so each test uses its own grammar names.
TEST_F(ReadTest, ExternCacheByPlainAndBracketedName)
{
    std::string p = Path("cached.fsg"), q = Path("other.fsg");
    Save(Image(OneWord()), p);
    EXPECT_EQ(TFSG::Extern("cacheA", nullptr), nullptr);
    TFSG* a = TFSG::Extern("cacheA", p.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name.s, "cacheA");
    unlink(p.c_str()); // a second load would fail now
    EXPECT_EQ(TFSG::Extern("cacheA", p.c_str()), a);
    EXPECT_EQ(TFSG::Extern("<cacheA>", nullptr), a);
    // A failed load registers nothing.
    EXPECT_NE(Thrown([&] { TFSG::Extern("cacheB", p.c_str()); }), "(no error)");
    EXPECT_EQ(TFSG::Extern("cacheB", nullptr), nullptr);
    Save(Image(OneWord()), q);
    TFSG* b = TFSG::Extern("cacheB", q.c_str());
    EXPECT_NE(a, b);
    EXPECT_EQ(TFSG::Extern("<cacheB>", nullptr), b);
}

// Grammars that call each other as externs: the walk loads each once and ends.
TEST_F(ReadTest, LoadExternsFollowsCyclesOnce)
{
    auto calling = [&](std::vector<std::string> externs, const std::string& name) {
        FileSpec s = OneWord();
        s.externs = externs;
        Save(Image(s), Path(name));
    };
    calling({"cycB", "cycSelf"}, "cycA.fst");
    calling({"cycA"}, "cycB.fst");
    calling({"cycSelf"}, "cycSelf.fst");
    TFSG* root = Fresh();
    root->ReadFile(Path("cycA.fst").c_str(), 0);
    root->LoadExterns(Path("cycA.fst").c_str(), 0);
    ASSERT_NE(TFSG::Extern("cycA", nullptr), nullptr);
    ASSERT_NE(TFSG::Extern("cycSelf", nullptr), nullptr);
    ASSERT_NE(TFSG::Extern("cycB", nullptr), nullptr);
    EXPECT_EQ(std::string(TFSG::Extern("cycB", nullptr)->externs.elements[0]->word.s), "<cycA>");

    // The extension comes from the file name, not from a dotted directory.
    ASSERT_EQ(mkdir(Path("d.x").c_str(), 0777), 0);
    calling({"dotB"}, "d.x/top");
    calling({}, "d.x/dotB.fst");
    TFSG* top = Fresh();
    top->ReadFile(Path("d.x/top").c_str(), 0);
    top->LoadExterns(Path("d.x/top").c_str(), 0);
    EXPECT_NE(TFSG::Extern("dotB", nullptr), nullptr);
}

} // namespace

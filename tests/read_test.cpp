// Tests of the FSG file reader: a hand-made file, the WordId ranges, zero
// probabilities, annotation texts, round trips through the writer, the
// rejection of truncated and inconsistent files, and the extern cache.
#include "fsg_build.h"
#include "ks_api.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

using namespace fsg_build;

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

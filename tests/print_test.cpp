// Tests of the listings (Print), sentence enumeration and random sentences.
#include "fsg_build.h"
#include "graph_dump.h"

#include <thread>

namespace {

using graph_dump::Captured;
using graph_dump::Thrown;

// The texts of a list, each followed by "|".
std::string Listed(TStringList& l)
{
    std::string out;
    for (int i = 0; i < l.length; i++) out += (l[i].s ? l[i].s : "(null)") + std::string("|");
    return out;
}

std::vector<std::string> Lines(const std::string& s)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Main grammar with a word arc carrying an annotation, a final null arc, an
// optional word and a rule reference; one intern sub-FSG with a starred loop.
class Listing : public ::testing::Test {
protected:
    TFSG g{"g", TSubFSG::EqNorm};
    TSubFSG* sub = nullptr;
    void SetUp() override
    {
        graph_dump::Build(&g, "0: hello/X->1@0.5, _->*@0.5; 1: to?->*@1, <r>->*@1");
        sub = new TSubFSG("<r>", &g);
        graph_dump::Build(sub, "0: a*->0@0.25");
        sub->AddRef();
        g.intern_fsgs.Add(sub);
    }
};

TEST_F(Listing, LevelOneListsStatesAndArcs)
{
    std::vector<std::string> expect = {
        "--- fsg g --- final",
        "",
        "state 0",
        "         hello  -> state 1    p=0.50     'X'",
        "                -> state *    p=0.50        ",
        "state 1",
        "         to   ? -> state *    p=1.0         ",
        "         #40000 <r>  -> state *    p=1.0         ",
        "state *",
        "",
        "--- fsg <r> --- final",
        "",
        "state 0",
        "         a    * -> state 0    p=0.25        ",
        "state *",
        "",
    };
    EXPECT_EQ(Lines(Captured([&] { g.Print(1, "final"); })), expect);
    EXPECT_EQ(Captured([&] { g.Print(0, "x"); }), "");
}

TEST_F(Listing, LevelTwoAddsIdsAndSharedTables)
{
    std::vector<std::string> expect = {
        "--- fsg g --- t",
        "",
        "state 0",
        "         hello  -> state 1    p=0.50     'X'   w=1     a=1   X",
        "                -> state *    p=0.50           w=0     ",
        "state 1",
        "         to   ? -> state *    p=1.0            w=2     ",
        "         #40000 <r>  -> state *    p=1.0            w=40000 ",
        "state *",
        "",
        "--- fsg <r> --- t",
        "",
        "state 0",
        "         a    * -> state 0    p=0.25           w=3     ",
        "state *",
        "",
        "--- shared",
        "",
        "word   0: ''",
        "word   1: 'hello'",
        "word   2: 'to'",
        "word   3: 'a'",
        "",
        "annotation     1: 'X'",
        "",
    };
    EXPECT_EQ(Lines(Captured([&] { g.Print(2, "t"); })), expect);
}

// A scope sends this thread's listing to its stream, not to standard output,
// and gives back the stream it replaced.
TEST_F(Listing, ScopeSendsTheListingToItsStream)
{
    std::string listing = Captured([&] { g.Print(1, "final"); });
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Captured([&] {
                  TListingScope scope(f);
                  g.Print(1, "final");
                  std::thread([] { Debug("other thread\n"); }).join();
                  {
                      TListingScope inner(nullptr);
                      Debug("inner\n");
                  }
                  Debug("end\n");
              }),
              "other thread\ninner\n");
    EXPECT_EQ(KsListing(), stdout);
    std::string got(listing.size() + 10, 0);
    std::rewind(f);
    got.resize(std::fread(&got[0], 1, got.size(), f));
    std::fclose(f);
    EXPECT_EQ(got, listing + "end\n");
}

struct EnumCase {
    const char* graph;
    int anno, showpr, full, max_loops, max_words;
    const char* out;
};

TEST(Enumerate, Table)
{
    EnumCase cases[] = {
        // Only the first arc to each target is followed unless full is set.
        {"0: a->1, b->1; 1: c->*", 0, 0, 0, 1, 10, "a c \n"},
        {"0: a->1, b->1; 1: c->*", 0, 0, 1, 1, 10, "a c \nb c \n"},
        // max_loops bounds how often a state may be on the path.
        {"0: a->0, b->*", 0, 0, 1, 1, 10, "b \n"},
        {"0: a->0, b->*", 0, 0, 1, 2, 10, "a b \nb \n"},
        // Annotations, and a null word that carries one.
        {"0: _/X->1; 1: a/Y->*", 1, 0, 1, 1, 10, ":X a:Y \n"},
        {"0: _/X->1; 1: a/Y->*", 0, 0, 1, 1, 10, "a \n"},
        // Probabilities.
        {"0: a->1@0.5, b->*@0.5; 1: c->*@0.25", 0, 1, 1, 1, 10, "0.12     a c \n0.50     b \n"},
        // max_words bounds the arcs that have a target; ending arcs remain.
        {"0: a->1, _->*; 1: b->*", 0, 0, 1, 1, 1, "a b \n\n"},
        {"0: a->1, _->*; 1: b->*", 0, 0, 1, 1, 0, "\n"},
    };
    for (const EnumCase& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        graph_dump::Build(&g, c.graph);
        g.normalized = 1;
        EXPECT_EQ(Captured([&] { g.Enumerate(c.anno, c.showpr, c.full, c.max_loops, c.max_words); }), c.out)
            << c.graph << " anno " << c.anno << " full " << c.full << " loops " << c.max_loops;
        for (int i = 0; i < g.states.length; i++) EXPECT_EQ(g.states[i]->flag, 0); // path counts unwound
    }
}

TEST(Enumerate, SentenceBufferBound)
{
    // 9997 letters and a blank plus the terminator fit exactly; a longer
    // sentence is an error before anything is printed.
    TFSG g("g", TSubFSG::EqNorm);
    std::string w(9997, 'x');
    g.Initial()->AddArc(nullptr, 1, w.c_str(), mbstring(), OpNone);
    EXPECT_EQ(Thrown([&] { g.Enumerate(0, 0, 1, 1, 10); }), "fsg not normalized");
    g.normalized = 1;
    EXPECT_EQ(Captured([&] { g.Enumerate(0, 0, 1, 1, 10); }), w + " \n");

    TFSG h("h", TSubFSG::EqNorm);
    std::string big(6000, 'w');
    TState* s1 = h.AddState();
    h.Initial()->AddArc(s1, 1, big.c_str(), mbstring(), OpNone);
    s1->AddArc(nullptr, 1, big.c_str(), mbstring(), OpNone);
    h.normalized = 1;
    std::string err;
    EXPECT_EQ(Captured([&] { err = Thrown([&] { h.Enumerate(0, 0, 1, 1, 10); }); }), "");
    EXPECT_EQ(err, "sentence longer than 9999 bytes in fsg h");
}

TEST(Enumerate, LongPathsDoNotExhaustTheStack)
{
    TFSG g("g", TSubFSG::EqNorm);
    const int n = 200000;
    TState* s = g.Initial();
    for (int i = 0; i < n; i++) {
        TState* t = g.AddState();
        s->AddNullArc(t, 1, mbstring());
        s = t;
    }
    s->AddArc(nullptr, 1, "end", mbstring(), OpNone);
    g.normalized = 1;
    EXPECT_EQ(Captured([&] { g.Enumerate(0, 0, 1, 1, n + 1); }), "end \n");
}

// A damaged file may hold a network that calls itself, or one that calls it,
// through empty paths: counting words, such a walk would never end.
TEST(Sentences, CallCyclesThroughEmptyPathsAreCut)
{
    for (const std::vector<std::string>& interns :
         {std::vector<std::string>{"0: <0>->*, x->*"}, {"0: _->1, y->*; 1: <1>->*", "0: <0>->*, z->*"}}) {
        std::unique_ptr<TFSG> g(fsg_build::Make("0: <0>->*", interns));
        g->normalized = 1;
        TSentenceLimits limits;
        limits.words_only = 1;
        limits.max_words = 4;
        TSentenceReport report;
        std::string found;
        g->Sentences(limits, report, [&](const std::string& s, double) { found += s + "|"; });
        EXPECT_EQ(found, interns.size() == 1 ? "x |" : "z |y |");
        EXPECT_GT(report.loops_cut, 0);
    }
}

TEST(Random, CollectsWordsAndAnnotationsAndStopsWithoutArcs)
{
    TFSG g("g", TSubFSG::EqNorm), h("h", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: a/X->1@0.5; 1: _->*@0.5");
    graph_dump::Build(&h, "0: c->1@0.5; 1:");
    TStringList words, annos, stop;
    EXPECT_FLOAT_EQ(g.Random(&words, &annos), 0.25f);
    EXPECT_EQ(Listed(words) + Listed(annos), "a||X|(null)|");
    EXPECT_FLOAT_EQ(h.Random(&stop, nullptr), 0.5f);
    EXPECT_EQ(Listed(stop), "c|");
}

TEST(Random, ChoosesByTheRandomNumber)
{
    TFSG g("g", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: a->*@0.5, b->*@0.25, c->*@0.25");
    for (unsigned seed = 1; seed < 20; seed++) {
        std::srand(seed);
        double r = std::rand() / 2147483648.0;
        const char* expect = r < 0.5 ? "a" : r < 0.75 ? "b" : "c";
        std::srand(seed);
        TStringList words;
        g.Random(&words, nullptr);
        EXPECT_EQ(Listed(words), expect + std::string("|")) << seed;
    }
}

} // namespace

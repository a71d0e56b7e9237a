// Tests of the listings (Print, expected in tests/data/listing*.txt), the
// listing stream, sentence enumeration (its cases are in passes.txt), the
// sentence walk's cut of call cycles, and random sentences.
#include "fsg_build.h"
#include "graph_dump.h"

#include <fstream>
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

std::string Expected(const std::string& name)
{
    std::ifstream in(std::string(KSBNFC_TEST_DATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

// Level 1 lists states and arcs; level 2 adds ids and the shared tables.
TEST_F(Listing, Levels)
{
    EXPECT_EQ(Captured([&] { g.Print(0, "x"); }), "");
    EXPECT_EQ(Captured([&] { g.Print(1, "final"); }), Expected("listing1.txt"));
    EXPECT_EQ(Captured([&] { g.Print(2, "t"); }), Expected("listing2.txt"));
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

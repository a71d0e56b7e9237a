// Tests of the graph data model: word lists, arc building, orderings,
// Accepting, TFSG construction/destruction and the trace lines.
#include "tfsg.h"

#include "graph_dump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

std::string Thrown(const std::function<void()>& f)
{
    try {
        f();
    } catch (char* msg) {
        return msg;
    }
    return "(no error)";
}

struct DbgLevel {
    int saved;
    explicit DbgLevel(int v) : saved(dbglevel) { dbglevel = v; }
    ~DbgLevel() { dbglevel = saved; }
};

TEST(TFSG, NewGrammarHasItsConventionalLists)
{
    TFSG g("root", TSubFSG::EqNorm);
    ASSERT_EQ(g.words.length, 1);
    EXPECT_STREQ(g.words[0]->word.s, "");
    EXPECT_EQ(g.words[0]->id, 0);
    ASSERT_EQ(g.annos.length, 1);
    EXPECT_EQ(g.annos[0]->word.s, nullptr);
    EXPECT_EQ(g.annos[0]->id, 0);
    for (TWordList* l : {&g.externs, &g.interns, &g.with, &g.without}) EXPECT_EQ(l->length, 0);

    struct {
        TWordList* list;
        int base;
        TWord::Kind kind;
    } lists[] = {{&g.words, 0, TWord::Word},        {&g.externs, 50000, TWord::Extern},
                 {&g.annos, 0, TWord::Extern},      {&g.interns, 40000, TWord::Intern},
                 {&g.with, 20000, TWord::Intern},   {&g.without, 30000, TWord::Intern}};
    for (auto& l : lists) {
        EXPECT_EQ(l.list->base, l.base);
        EXPECT_EQ(l.list->kind, l.kind);
    }

    EXPECT_EQ(g.fsg, &g);
    EXPECT_STREQ(g.name.s, "root");
    ASSERT_EQ(g.states.length, 1);
    EXPECT_EQ(g.Initial()->id, 0);
    EXPECT_EQ(g.nextid, 1);
    EXPECT_EQ(g.normalized, 0);
    EXPECT_EQ(g.refcnt, 0);
    EXPECT_EQ(g.intern_fsgs.length, 0);
    EXPECT_FLOAT_EQ(g.scale, 111.17939f);
}

TEST(TFSG, DestructorReleasesInternReferences)
{
    TFSG* g = new TFSG("root", TSubFSG::EqNorm);
    TSubFSG* sub = new TSubFSG("<r>", g);
    sub->AddRef(); // the grammar's cache
    sub->AddRef(); // the FSG's intern entry
    g->intern_fsgs.Add(sub);
    delete g;
    EXPECT_EQ(sub->refcnt, 1);
    sub->DelRef();
}

TEST(TWordList, AddAlwaysAppendsAndLookupFindsTheFirst)
{
    TFSG g("g", TSubFSG::EqNorm);
    TWord* a1 = g.externs.Add("a");
    TWord* a2 = g.externs.Add("a");
    EXPECT_EQ(a1->id, 50000);
    EXPECT_EQ(a2->id, 50001);
    EXPECT_EQ(a1->kind, TWord::Extern);
    EXPECT_EQ(g.externs.Lookup("a", 0), a1);
    EXPECT_NE(a1->word.s, a2->word.s); // each word owns its copy
}

TEST(TWordList, LookupWithoutAddLeavesTheListAlone)
{
    TFSG g("g", TSubFSG::EqNorm);
    g.externs.Add("a");
    EXPECT_EQ(g.externs.Lookup("b", 0), nullptr);
    EXPECT_EQ(g.externs.length, 1);
    TWord* b = g.externs.Lookup("b", 1);
    EXPECT_EQ(b->id, 50001);
    EXPECT_EQ(g.externs.Lookup("b", 0), b);
    EXPECT_EQ(g.externs.length, 2);
}

TEST(TWordList, NullTextGivesEntryZero)
{
    TWordList l(7, TWord::Word);
    EXPECT_EQ(l.Lookup(mbstring(), 1), nullptr);
    EXPECT_EQ(l.length, 1); // extended by one empty slot
    TFSG g("g", TSubFSG::EqNorm);
    EXPECT_EQ(g.annos.Lookup(mbstring(), 1), g.annos[0]);
    EXPECT_EQ(g.annos.length, 1);
}

TEST(TWordList, IndexedAddPlacesRenamesAndChecksIds)
{
    TWordList l(0, TWord::Intern);
    TWord* x = l.Add(3, "x", 7);
    ASSERT_EQ(l.length, 4);
    for (int i = 0; i < 3; i++) EXPECT_EQ(l[i], nullptr);
    EXPECT_EQ(x->id, 7);
    EXPECT_EQ(x->kind, TWord::Intern);
    EXPECT_EQ(l.Add(3, "y", 7), x);
    EXPECT_STREQ(x->word.s, "y");
    EXPECT_EQ(l.Lookup("y", 0), x);
    EXPECT_EQ(l.Lookup("x", 0), nullptr); // the old text is gone
    EXPECT_EQ(Thrown([&] { l.Add(3, "z", 8); }), "id changed (id 8 w->id 7)");
    EXPECT_STREQ(x->word.s, "z"); // the new text is kept
    EXPECT_EQ(l.length, 4);
}

TEST(TWordList, IndexedAddWithoutTextThenNamed)
{
    // The reader creates entries without text and names them later.
    TWordList l(0, TWord::Word);
    TWord* w = l.Add(2, mbstring(), 2);
    EXPECT_EQ(w->word.s, nullptr);
    EXPECT_EQ(l.Add(2, "late", 2), w);
    EXPECT_EQ(l.Lookup("late", 0), w);
}

TEST(TWordList, SortOrdersByTextThenIdAndRepointsTheMap)
{
    TWordList l(0, TWord::Word);
    TWord* b1 = l.Add("b");
    TWord* a = l.Add("a");
    TWord* b2 = l.Add("b");
    TWord* e = l.Add("");
    l.Sort();
    ASSERT_EQ(l.length, 4);
    EXPECT_EQ(l[0], e);
    EXPECT_EQ(l[1], a);
    EXPECT_EQ(l[2], b1);
    EXPECT_EQ(l[3], b2);
    EXPECT_EQ(b1->id, 0); // ids are untouched
    EXPECT_EQ(l.Lookup("b", 0), b2); // the map ends at the last duplicate
    EXPECT_EQ(l.Lookup("a", 0), a);
}

TEST(TWordList, SortToleratesEmptySlotsAndMissingTexts)
{
    TWordList l(0, TWord::Word);
    l.Add(3, "c", 3);
    l.Add(1, mbstring(), 1);
    l.Sort();
    EXPECT_EQ(l[0], nullptr);
    EXPECT_EQ(l[1], nullptr);
    EXPECT_EQ(l[2]->word.s, nullptr);
    EXPECT_STREQ(l[3]->word.s, "c");
}

TEST(TState, ArcBuildingUsesTheOwningListsAndDefaults)
{
    TFSG g("g", TSubFSG::EqNorm);
    TState* s0 = g.Initial();
    TState* s1 = g.AddState();
    EXPECT_EQ(s1->id, 1);
    EXPECT_EQ(s1->sub, &g);

    TArc* a = s0->AddArc(s1, 0.5f, "hello", mbstring(), OpOpt);
    EXPECT_EQ(a->state, s1);
    EXPECT_EQ(a->word, g.words.Lookup("hello", 0));
    EXPECT_EQ(a->anno, g.annos[0]);
    EXPECT_EQ(a->p, 0.5f);
    EXPECT_EQ(a->op, OpOpt);
    EXPECT_EQ(a->needtr, 0);

    TArc* n = s0->AddNullArc(nullptr, 0.25f, "X");
    EXPECT_EQ(n->word, g.words[0]);
    EXPECT_EQ(n->anno, g.annos.Lookup("X", 0));
    EXPECT_EQ(n->op, OpNone);

    TArc* e = s1->AddExternArc(nullptr, 1, "<city>", "{}", OpNone);
    EXPECT_EQ(e->word->kind, TWord::Extern);
    EXPECT_EQ(e->word->id, 50000);
    TArc* r = s1->AddInternArc(nullptr, 1, "<rule>", mbstring(), OpStar);
    EXPECT_EQ(r->word->kind, TWord::Intern);
    EXPECT_EQ(r->word->id, 40000);

    EXPECT_EQ(graph_dump::Dump(&g), "0: hello?->1@0.5, _/X->*@0.25\n1: $<city>/{}->*@1, <rule>*->*@1\n");
}

TEST(TState, ArcIntoANetworkClearsItsNormalizedFlag)
{
    TFSG g("g", TSubFSG::EqNorm);
    TSubFSG other("<o>", &g);
    g.normalized = 1;
    other.normalized = 1;
    g.Initial()->AddArc(nullptr, 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 1); // leaving the network changes nothing
    g.Initial()->AddArc(other.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 1);
    EXPECT_EQ(other.normalized, 0);
    g.Initial()->AddArc(g.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 0);
}

TEST(TState, DelArcsClosesTheGapInOrder)
{
    TFSG g("g", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: a->*, b->*, c->*, d->*, e->*");
    TState* s = g.Initial();
    s->DelArcs(1, 2);
    EXPECT_EQ(graph_dump::Dump(&g, false), "0: a->*, d->*, e->*\n");
    s->DelArcs(2, 5); // clipped at the end
    EXPECT_EQ(graph_dump::Dump(&g, false), "0: a->*, d->*\n");
    s->DelArcs(0, 0);
    EXPECT_EQ(s->arcs.length, 2);
}

TEST(TState, Accepting)
{
    TFSG g("g", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: _->*@0.25, a->1;1: a->*@0.5, _->*@0.5");
    EXPECT_EQ(g.states[0]->Accepting(), 0.25f);
    EXPECT_EQ(g.states[1]->Accepting(), 0.0f); // only the first arc counts
    EXPECT_EQ(TState::Accepting(nullptr), 1.0f);
    TState* bare = g.AddState();
    EXPECT_EQ(bare->Accepting(), 0.0f);
    EXPECT_EQ(bare->arcs.length, 0);
}

// Arc orderings: build arcs with given word/anno/target ids directly.
struct ArcSpec {
    int word, anno, target; // target -1: no target
    float p;
};

class ArcOrder : public ::testing::Test {
protected:
    TFSG g{"g", TSubFSG::EqNorm};
    TWordList w{0, TWord::Word};
    TArc* Make(const ArcSpec& s)
    {
        TWord* word = w.Add(4 + w.length, "w", s.word);
        TWord* anno = w.Add(4 + w.length, "n", s.anno);
        TState* to = s.target < 0 ? nullptr : graph_dump::StateAt(&g, s.target);
        return g.Initial()->AddArcX(to, s.p, word, anno, OpNone);
    }
};

TEST_F(ArcOrder, CompareTable)
{
    struct Case {
        ArcSpec a, b;
        int sign, sign2;
    } cases[] = {
        {{3, 9, 7, 1}, {5, 0, 2, 1}, -1, -1},          // word first
        {{5, 0, 2, 1}, {5, 0, -1, 1}, -1, -1},         // no target counts as 1000000
        {{5, 1, 2, 1}, {5, 2, 1, 1}, -1, 1},           // compare: anno before target; compare2: target first
        {{5, 1, 2, 0.3f}, {5, 2, 2, 0.7f}, -1, 1},     // compare2: different annos, higher p first
        {{5, 2, 2, 0.3f}, {5, 2, 2, 0.7f}, 0, 0},      // same annos: equal whatever p
        {{5, 1, 2, 0.5f}, {5, 2, 2, 0.5f}, -1, 0},     // compare2: different annos, equal p
        {{0, 0, -1, 1}, {0, 0, -1, 1}, 0, 0},
    };
    for (auto& c : cases) {
        TArc* a = Make(c.a);
        TArc* b = Make(c.b);
        auto sign = [](int v) { return (v > 0) - (v < 0); };
        EXPECT_EQ(sign(TArrayX<TArc*>::compare(a, b)), c.sign) << c.a.word << "/" << c.b.word;
        EXPECT_EQ(sign(TArrayX<TArc*>::compare(b, a)), -c.sign);
        EXPECT_EQ(sign(TArrayX<TArc*>::compare2(a, b)), c.sign2) << c.a.word << "/" << c.b.word;
        EXPECT_EQ(sign(TArrayX<TArc*>::compare2(b, a)), -c.sign2);
    }
}

TEST(TStateSort, ArcsSortByWordAnnoTargetAndStably)
{
    TFSG g("g", TSubFSG::EqNorm);
    // Word ids follow creation: c 1, a 2, b 3.
    graph_dump::Build(&g, "0: c->*, a->2@0.1, a->*, b/X->5, a->2@0.9");
    g.Initial()->arcs.Sort();
    EXPECT_EQ(graph_dump::Dump(&g), "0: c->*@1, a->2@0.1, a->2@0.9, a->*@1, b/X->5@1\n1:\n2:\n3:\n4:\n5:\n");
}

TEST(TArc, EqComparesIdentityAndOptionallyP)
{
    TFSG g("g", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: a->1@0.5, a->1@0.25, a!->1@0.5, a?->1@0.5, a/X->1@0.5, a->*@0.5");
    TArc** arcs = g.Initial()->arcs.elements;
    EXPECT_TRUE(arcs[0]->eq(arcs[0], 0));
    EXPECT_FALSE(arcs[0]->eq(arcs[1], 0));
    EXPECT_TRUE(arcs[0]->eq(arcs[1], 1));
    for (int i = 2; i < 6; i++) EXPECT_FALSE(arcs[0]->eq(arcs[i], 1)) << i;
}

TEST(TSubFSG, ConstructionAndStateFlags)
{
    TFSG g("g", TSubFSG::EqNorm);
    TSubFSG sub("<r>", &g);
    EXPECT_STREQ(sub.name.s, "<r>");
    EXPECT_EQ(sub.fsg, &g);
    EXPECT_EQ(sub.states.length, 1);
    EXPECT_EQ(sub.Initial()->id, 0);
    EXPECT_EQ(sub.intern + sub.busy + sub.pass + sub.normalized, 0);
    EXPECT_EQ(sub.mixes, nullptr);
    EXPECT_EQ(sub.opts, nullptr);
    EXPECT_EQ(sub.rlist_next, nullptr);
    sub.AddState()->flag = 5;
    sub.Initial()->flag = 3;
    sub.ClearStateFlags();
    EXPECT_EQ(sub.states[0]->flag + sub.states[1]->flag, 0);
}

TEST(TSubFSG, TraceLines)
{
    TFSG g("g", TSubFSG::EqNorm);
    graph_dump::Build(&g, "0: a->1; 1: _->*");
    {
        DbgLevel d(0);
        testing::internal::CaptureStdout();
        g.Enter("Compress");
        g.Exit("Compress");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    {
        DbgLevel d(1);
        testing::internal::CaptureStdout();
        g.Enter("Compress");
        g.Exit("Compress");
        g.Stats("Mid", "Compress", 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Enter Compress                  for g                  2 states\n"
                  "Exit  Compress                  for g                  2 states\n"
                  "Mid   Compress                  for g                  2 states\n");
    }
    {
        DbgLevel d(2);
        testing::internal::CaptureStdout();
        g.Exit("Compress");
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.substr(0, out.find('\n', out.find("---")) + 1),
                  "Exit  Compress                  for g                  2 states\n"
                  "\n"
                  "--- fsg g --- after Compress\n");
        EXPECT_EQ(out.find("--- shared"), std::string::npos); // listing level 1
    }
}

TEST(GraphDump, BuildAndDumpRoundTrip)
{
    TFSG g("g", TSubFSG::EqNorm);
    const char* text = "0: a->1@0.5, b!/{1} x->2@0.5\n1: <r>?->2@1, $<city>+->*@1\n2: _/Y->*@1, c*->0@0.125\n";
    graph_dump::Build(&g, text);
    EXPECT_EQ(graph_dump::Dump(&g), text);
}

} // namespace

// Tests of the graph data model: word lists, arc building, orderings,
// Accepting and the trace lines.
#include "graph_dump.h"

namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(TWordList, BasesKindsLookupAndIndexedAdd)
{
    TFSG g("g", TSubFSG::EqNorm);
    struct {
        TWordList* list;
        int base;
        TWord::Kind kind;
    } lists[] = {{&g.words, 0, TWord::Word},      {&g.externs, 50000, TWord::Extern},
                 {&g.interns, 40000, TWord::Intern}, {&g.with, 20000, TWord::Intern},
                 {&g.without, 30000, TWord::Intern}};
    for (auto& l : lists) {
        TWord* w = l.list->Add("a");
        EXPECT_EQ(w->id, l.base + l.list->length - 1);
        EXPECT_EQ(w->kind, l.kind);
    }

    // Add always appends; Lookup finds the first and adds only when asked.
    TWord* a2 = g.externs.Add("a");
    EXPECT_EQ(a2->id, 50001);
    EXPECT_EQ(g.externs.Lookup("a", 0), g.externs[0]);
    EXPECT_EQ(g.externs.Lookup("b", 0), nullptr);
    EXPECT_EQ(g.externs.length, 2);
    TWord* b = g.externs.Lookup("b", 1);
    EXPECT_EQ(b->id, 50002);
    EXPECT_EQ(g.externs.Lookup("b", 0), b);
    EXPECT_EQ(g.annos.Lookup(mbstring(), 1), g.annos[0]);
    EXPECT_EQ(g.annos.length, 1);

    // Indexed Add places, renames (the map follows) and checks the id.
    TWordList l(0, TWord::Intern);
    TWord* x = l.Add(3, "x", 7);
    ASSERT_EQ(l.length, 4);
    EXPECT_EQ(l[2], nullptr);
    EXPECT_EQ(x->id, 7);
    EXPECT_EQ(l.Add(3, "y", 7), x);
    EXPECT_EQ(l.Lookup("y", 0), x);
    EXPECT_EQ(l.Lookup("x", 0), nullptr);
    EXPECT_EQ(graph_dump::Thrown([&] { l.Add(3, "z", 8); }), "id changed (id 8 w->id 7)");
    EXPECT_EQ(l.length, 4);
}

TEST(TState, ArcBuildingAndEditing)
{
    TFSG g("g", TSubFSG::EqNorm);
    const char* text = "0: a->1@0.5, b!/{1} x->2@0.5\n1: <r>?->2@1, $<city>+->*@1\n2: _/Y->*@1, c*->0@0.125\n";
    Build(&g, text);
    EXPECT_EQ(Dump(&g), text);
    EXPECT_EQ(g.states[1]->arcs[0]->word->id, 40000);
    EXPECT_EQ(g.states[1]->arcs[1]->word->id, 50000);

    g.states[2]->DelArcs(0, 0);
    g.Initial()->DelArcs(0, 1);
    g.states[1]->DelArcs(1, 5); // clipped at the end
    EXPECT_EQ(Dump(&g, false), "0: b!/{1} x->2\n1: <r>?->2\n2: _/Y->*, c*->0\n");

    // Only an arc into a network clears that network's normalized flag.
    TSubFSG other("<o>", &g);
    g.normalized = other.normalized = 1;
    g.Initial()->AddArc(nullptr, 1, "a", mbstring(), OpNone);
    g.Initial()->AddArc(other.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 1);
    EXPECT_EQ(other.normalized, 0);
    g.Initial()->AddArc(g.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 0);
}

TEST(TState, Accepting)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: _->*@0.25, a->1;1: a->*@0.5, _->*@0.5");
    EXPECT_EQ(g.states[0]->Accepting(), 0.25f);
    EXPECT_EQ(g.states[1]->Accepting(), 0.0f); // only the first arc counts
    EXPECT_EQ(TState::Accepting(nullptr), 1.0f);
    EXPECT_EQ(g.AddState()->Accepting(), 0.0f);
}

TEST(TArc, Orderings)
{
    // Arcs with given word, annotation and target ids (target -1: none).
    struct ArcCase {
        int word, anno, target;
        float p;
    };
    struct Case {
        ArcCase a, b;
        int sign, sign2;
    } cases[] = {
        {{3, 9, 7, 1}, {5, 0, 2, 1}, -1, -1},      // word first
        {{5, 0, 2, 1}, {5, 0, -1, 1}, -1, -1},     // no target counts as 1000000
        {{5, 1, 2, 1}, {5, 2, 1, 1}, -1, 1},       // compare: anno before target; compare2: target first
        {{5, 1, 2, 0.3f}, {5, 2, 2, 0.7f}, -1, 1}, // compare2: different annos, higher p first
        {{5, 2, 2, 0.3f}, {5, 2, 2, 0.7f}, 0, 0},  // same annos: equal whatever p
        {{5, 1, 2, 0.5f}, {5, 2, 2, 0.5f}, -1, 0}, // compare2: different annos, equal p
    };
    TFSG g("g", TSubFSG::EqNorm);
    TWordList w(0, TWord::Word);
    auto make = [&](const ArcCase& s) {
        TWord* word = w.Add(w.length, "w", s.word);
        TWord* anno = w.Add(w.length, "n", s.anno);
        TState* to = s.target < 0 ? nullptr : graph_dump::StateAt(&g, s.target);
        return g.Initial()->AddArcX(to, s.p, word, anno, OpNone);
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (auto& c : cases) {
        TArc* a = make(c.a);
        TArc* b = make(c.b);
        EXPECT_EQ(sign(TArrayX<TArc*>::compare(a, b)), c.sign) << c.a.word << "/" << c.b.word;
        EXPECT_EQ(sign(TArrayX<TArc*>::compare(b, a)), -c.sign);
        EXPECT_EQ(sign(TArrayX<TArc*>::compare2(a, b)), c.sign2) << c.a.word << "/" << c.b.word;
        EXPECT_EQ(sign(TArrayX<TArc*>::compare2(b, a)), -c.sign2);
    }

    // Sorting is stable; word ids follow creation: c 1, a 2, b 3.
    TFSG s("s", TSubFSG::EqNorm);
    Build(&s, "0: c->*, a->2@0.1, a->*, b/X->2, a->2@0.9");
    s.Initial()->arcs.Sort();
    EXPECT_EQ(Dump(&s), "0: c->*@1, a->2@0.1, a->2@0.9, a->*@1, b/X->2@1\n1:\n2:\n");

    // eq: same word, annotation, target, needtr and op; p only when asked.
    TFSG e("e", TSubFSG::EqNorm);
    Build(&e, "0: a->1@0.5, a->1@0.25, a!->1@0.5, a?->1@0.5, a/X->1@0.5, a->*@0.5");
    TArc** arcs = e.Initial()->arcs.elements;
    EXPECT_FALSE(arcs[0]->eq(arcs[1], 0));
    EXPECT_TRUE(arcs[0]->eq(arcs[1], 1));
    for (int i = 2; i < 6; i++) EXPECT_FALSE(arcs[0]->eq(arcs[i], 1)) << i;
}

TEST(TSubFSG, TraceLines)
{
    struct DbgLevel {
        int saved = dbglevel;
        explicit DbgLevel(int v) { dbglevel = v; }
        ~DbgLevel() { dbglevel = saved; }
    };
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: a->1, b->2; 1: c->*; 2: c->*");
    {
        DbgLevel d(0);
        EXPECT_EQ(graph_dump::Captured([&] { g.Enter("Compress"); }), "");
    }
    {
        DbgLevel d(1);
        EXPECT_EQ(graph_dump::Captured([&] { g.Optimize(); }),
                  "Enter Optimize                  for g                  3 states\n"
                  "g opts: 64 entries, 2 in use, 3 searches, 0 extras\n"
                  "Enter Compress                  for g                  3 states\n"
                  "Exit  Compress                  for g                  2 states\n"
                  "Exit  Optimize                  for g                  2 states\n");
    }
    {
        DbgLevel d(2); // and a listing at level 1
        std::string out = graph_dump::Captured([&] { g.Exit("Compress"); });
        EXPECT_EQ(out.substr(0, out.find("state 0")), "Exit  Compress                  for g                  2 states\n"
                                                      "\n--- fsg g --- after Compress\n\n");
        EXPECT_EQ(out.find("--- shared"), std::string::npos);
    }
}

} // namespace

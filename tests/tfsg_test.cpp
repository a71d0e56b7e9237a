// Tests of the graph data model: word lists, arc building and Accepting
// (the orderings of arcs are in tests/data/passes.txt).
#include "graph_dump.h"

namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(TWordList, LookupAndIndexedAdd)
{
    TFSG g("g", TSubFSG::EqNorm);
    // Add always appends; Lookup finds the first and adds only when asked.
    TWord* a = g.externs.Add("a");
    EXPECT_NE(g.externs.Add("a"), a);
    EXPECT_EQ(g.externs.Lookup("a", 0), a);
    EXPECT_EQ(g.externs.Lookup("b", 0), nullptr);
    TWord* b = g.externs.Lookup("b", 1);
    EXPECT_EQ(b->id, a->id + 2);
    EXPECT_EQ(b->kind, TWord::Extern);
    EXPECT_EQ(g.externs.Lookup("b", 0), b);
    EXPECT_EQ(g.annos.Lookup(mbstring(), 1), g.annos[0]);
    EXPECT_EQ(g.annos.length, 1);

    // Indexed Add places, renames (the map follows) and checks the id.
    TWordList l(0, TWord::Intern);
    TWord* x = l.Add(3, "x", 7);
    ASSERT_EQ(l.length, 4);
    EXPECT_EQ(l[2], nullptr);
    EXPECT_EQ(l.Add(3, "y", 7), x);
    EXPECT_EQ(l.Lookup("y", 0), x);
    EXPECT_EQ(l.Lookup("x", 0), nullptr);
    EXPECT_EQ(graph_dump::Thrown([&] { l.Add(3, "z", 8); }), "id changed (id 8 w->id 7)");
}

TEST(TState, ArcBuildingAndEditing)
{
    TFSG g("g", TSubFSG::EqNorm);
    const char* text = "0: a->1@0.5, b!/{1} x->2@0.5\n1: <r>?->2@1, $<city>+->*@1\n2: _/Y->*@1, c*->0@0.125\n";
    Build(&g, text);
    EXPECT_EQ(Dump(&g), text);

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

} // namespace

// Tests of the initial-state split (EngineBug) on networks written in the
// graph_dump notation.
#include "graph_dump.h"

namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(EngineBug, Splits)
{
    const char* cases[][3] = { // what, network, after the split
    {"a self-loop on the initial state moves to the copy", "0: a->0@0.5, _->*@0.5",
     "0: a->1@0.5, _->*@0.5\n1: a->1@0.5, _->*@0.5\n"},
    {"a network nobody re-enters is left alone", "0: a->1, b->*; 1: c->*", "0: a->1@1, b->*@1\n1: c->*@1\n"},
    {"every arc back to the start shares one copy", "0: a->1@0.5, b->2@0.5; 1: c->0; 2: d->0@0.5, _->*@0.5",
     "0: a->1@0.5, b->2@0.5\n1: c->3@1\n2: d->3@0.5, _->*@0.5\n3: a->1@0.5, b->2@0.5\n"},
    {"the copy is taken before the arc that triggered it is redirected", "0: a->1, b->0; 1: c->0",
     "0: a->1@1, b->2@1\n1: c->2@1\n2: a->1@1, b->2@1\n"},
    {"annotations, needtr and ops are copied", "0: a?!/X->0@0.5, _->*@0.5",
     "0: a?!/X->1@0.5, _->*@0.5\n1: a?!/X->1@0.5, _->*@0.5\n"},
    };
    for (auto& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c[1]);
        g.EngineBug();
        EXPECT_EQ(Dump(&g), c[2]) << c[0];
        EXPECT_EQ(g.nextid, g.states.length) << c[0];
        for (int i = 0; i < g.states.length; i++)
            for (int j = 0; j < g.states[i]->arcs.length; j++) EXPECT_NE(g.states[i]->arcs[j]->state, g.Initial()) << c[0];
    }
}

// The state array grows while it is walked; many states entering the start
// make the walk outlive the storage it began with.
TEST(EngineBug, SurvivesStateArrayGrowth)
{
    TFSG g("g", TSubFSG::EqNorm);
    const int n = 39; // states 0..39 fill a capacity of 40 exactly
    for (int i = 1; i <= n; i++) {
        TState* s = g.AddState();
        g.Initial()->AddArc(s, 1.0f / n, "w", mbstring(), OpNone);
        s->AddArc(g.Initial(), 1.0f, "back", mbstring(), OpNone);
    }
    ASSERT_EQ(g.states.nelements, g.states.length);
    g.EngineBug();
    ASSERT_EQ(g.states.length, n + 2);
    TState* i1 = g.states[n + 1];
    for (int i = 1; i <= n; i++) EXPECT_EQ(g.states[i]->arcs[0]->state, i1);
    EXPECT_EQ(i1->arcs.length, n);
}

} // namespace

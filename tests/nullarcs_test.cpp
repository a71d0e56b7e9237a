// Tests of null-arc elimination and of AddArcsFromState, on networks written
// in the graph_dump notation.
#include "graph_dump.h"

namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(EliminateNullArcs, Eliminates)
{
    const char* cases[][3] = { // what, network, without null arcs
    {"a null arc is replaced by its target's arcs, scaled, then normalised",
     "0: _->1@0.5, b->2@0.25; 1: a->2@1; 2: _->*", "0: b->1@0.333333, a->1@0.666667\n1: _->*@1\n"},
    {"a second null arc to the same target contributes nothing", "0: _->1@0.5, _->1@0.5; 1: a->*",
     "0: a->*@1\n"},
    {"null arcs reached through null arcs are replaced in turn", "0: _->1@0.5; 1: _->2@0.5, a->*@0.5; 2: b->*",
     "0: a->*@0.5, b->*@0.5\n"},
    {"a null cycle back to the state itself is cut",
     "0: _->1@0.5, a->*@0.5; 1: _->0@0.5, b->*@0.5", "0: a->*@0.666667, b->*@0.333333\n"},
    {"a state whose arcs all vanish in a null cycle keeps no arcs", "0: _->1; 1: _->2; 2: _->0", "0:\n"},
    {"final arcs stay; a state reaching one by null arcs becomes final",
     "0: a->1; 1: _->2@0.5, b->2@0.5; 2: _->*", "0: a->1@1\n1: b->2@0.5, _->*@0.5\n2: _->*@1\n"},
    {"states reached only by null arcs go; the rest keep their order",
     "0: _->1, x->2; 1: y->3; 2: _->3; 3: z->*", "0: x->1@0.5, y->2@0.5\n1: z->*@1\n2: z->*@1\n"},
    {"a null arc's annotation runs before the copied arc's own", "0: _/x->1; 1: c/f({1})->*, d->*",
     "0: c/f(x)->*@0.5, d/x->*@0.5\n"},
    {"annotations of a chain of null arcs apply in path order", "0: _/p->1; 1: _/q{1}->2; 2: c/[{1}]->*",
     "0: c/[qp]->*@1\n"},
    {"needtr on a bare null arc applies the empty action", "0: _!->1; 1: b->*, c/f({1})->*",
     "0: b/->*@0.5, c/f()->*@0.5\n"},
    {"without needtr a bare null arc leaves annotations alone", "0: _->1; 1: b->*, c/f({1})->*",
     "0: b->*@0.5, c/f({1})->*@0.5\n"},
    {"copies keep needtr and op", "0: _->1; 1: c?!->*", "0: c?!->*@1\n"},
    };
    for (auto& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c[1]);
        g.EliminateNullArcs();
        EXPECT_EQ(Dump(&g), c[2]) << c[0];
        EXPECT_EQ(g.nextid, g.states.length) << c[0];
    }
}

TEST(AddArcsFromState, AppendsScaledCopiesBehindExistingArcs)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: z->*@0.5; 1: a->2@0.5, b/B->*@0.25; 2: _->*");
    g.states[0]->AddArcsFromState(g.states[1], 0.5f, mbstring("pre"));
    EXPECT_EQ(Dump(&g), "0: z->*@0.5, a/pre->2@0.25, b/B->*@0.125\n"
                        "1: a->2@0.5, b/B->*@0.25\n2: _->*@1\n");
    EXPECT_EQ(g.states[1]->flag, 1);

    // From itself: the arcs it had at the call, once.
    TFSG h("h", TSubFSG::EqNorm);
    Build(&h, "0: a->0@0.5, b->*@0.5");
    h.Initial()->AddArcsFromState(h.Initial(), 0.5f, mbstring());
    EXPECT_EQ(Dump(&h), "0: a->0@0.5, b->*@0.5, a->0@0.25, b->*@0.25\n");
}

} // namespace

// Tests of state merging (Optimize), compaction (Compress) and the
// reachability counts, on networks written in the graph_dump notation.
#include "graph_dump.h"


namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(Optimize, Merges)
{
    const struct {
        const char* what;
        TSubFSG::Eq eq;
        const char* in;
        const char* out;
    } cases[] = {
    {"equal states merge and their entering arcs meet", TSubFSG::EqNorm,
     "0: a->1, b->2; 1: c->3; 2: c->3; 3: _->*",
     "0: a->1@1, b->1@1\n1: c->2@1\n2: _->*@1\n"},
    {"different probabilities keep states apart under EqNorm", TSubFSG::EqNorm,
     "0: a->1@0.5, b->2@0.5; 1: c->3@0.4, d->*@0.6; 2: c->3@0.6, d->*@0.4; 3: _->*",
     "0: a->1@0.5, b->2@0.5\n1: c->3@0.4, d->*@0.6\n2: c->3@0.6, d->*@0.4\n3: _->*@1\n"},
    {"probabilities are ignored under EqArcProb; the first finished survives", TSubFSG::EqArcProb,
     "0: a->1@0.5, b->2@0.5; 1: c->3@0.4, d->*@0.6; 2: c->3@0.6, d->*@0.4; 3: _->*",
     "0: a->1@0.5, b->1@0.5\n1: c->2@0.4, d->*@0.6\n2: _->*@1\n"},
    {"arcs are sorted before states are compared", TSubFSG::EqNorm,
     "0: a->1, b->2; 1: c->3, d->3; 2: d->3, c->3; 3: _->*",
     "0: a->1@1, b->1@1\n1: c->2@1, d->2@1\n2: _->*@1\n"},
    {"annotation, needtr and op distinguish otherwise equal states", TSubFSG::EqNorm,
     "0: a->1, b->2, c->3, d->4; 1: x->*; 2: x/X->*; 3: x!->*; 4: x?->*",
     "0: a->1@1, b->2@1, c->3@1, d->4@1\n1: x->*@1\n2: x/X->*@1\n3: x!->*@1\n4: x?->*@1\n"},
    {"states equivalent only through their own cycle stay apart", TSubFSG::EqNorm,
     "0: a->1, b->2; 1: x->2, _->*; 2: x->1, _->*",
     "0: a->1@1, b->2@1\n1: _->*@1, x->2@1\n2: _->*@1, x->1@1\n"},
    {"self-loops keep equal-looking states apart", TSubFSG::EqNorm,
     "0: a->1, b->2; 1: x->1, _->*; 2: x->2, _->*",
     "0: a->1@1, b->2@1\n1: _->*@1, x->1@1\n2: _->*@1, x->2@1\n"},
    {"states behind a cycle still merge", TSubFSG::EqNorm,
     "0: a->1, b->2; 1: x->0, y->3; 2: y->4; 3: _->*; 4: _->*",
     "0: a->1@1, b->2@1\n1: x->0@1, y->3@1\n2: y->3@1\n3: _->*@1\n"},
    {"an initial state equal to a later state is replaced by it", TSubFSG::EqNorm,
     "0: a->1; 1: a->1", "0: a->0@1\n"},
    {"unreachable states are dropped", TSubFSG::EqNorm, "0: a->2; 1: a->2; 2: _->*",
     "0: a->1@1\n1: _->*@1\n"},
    };
    for (const auto& c : cases) {
        TFSG g("g", c.eq);
        Build(&g, c.in);
        g.Optimize();
        EXPECT_EQ(Dump(&g), c.out) << c.what;
        EXPECT_EQ(g.nextid, g.states.length) << c.what;
        for (int i = 0; i < g.states.length; i++) EXPECT_EQ(g.states[i]->optimized, g.states[i]) << c.what;
    }
}

TEST(Optimize, ReachableCountsEnteringArcs)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: a->1, b->1; 1: c->2, d->*; 2: e->0, f->2; 3: g->1");
    g.states[3]->flag = 7;
    g.Reachable();
    int expect[] = {2, 2, 2, 0};
    for (int i = 0; i < 4; i++) EXPECT_EQ(g.states[i]->flag, expect[i]) << "state " << i;
}

// The passes walk iteratively; these recursive forms are the reference for
// their visiting order.
void RefReachable(TState* s)
{
    if (!s || s->flag++ > 0) return;
    for (int i = 0; i < s->arcs.length; i++) RefReachable(s->arcs[i]->state);
}

TState* RefOptimize(TState* s)
{
    if (!s) return nullptr;
    if (s->optimized) return s->optimized;
    s->optimized = s;
    for (int i = 0; i < s->arcs.length; i++) s->arcs[i]->state = RefOptimize(s->arcs[i]->state);
    s->arcs.Sort();
    TState* e = s->sub->opts->Add(s);
    if (e != s) s->optimized = e;
    return e;
}

void RefOptimize(TSubFSG* g)
{
    g->opts = new THashTable<TState>;
    for (int i = 0; i < g->states.length; i++) g->states[i]->optimized = nullptr;
    TState* r = RefOptimize(g->Initial());
    int ri = r->id;
    g->states[ri] = g->states[0];
    g->states[0] = r;
    delete g->opts;
    g->opts = nullptr;
    g->Compress();
}

TEST(Optimize, IterativeWalksFollowTheRecursiveOrder)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 500; round++) {
        std::string text = graph_dump::RandomNetwork(rng, 2 + round % 9, {"a", "b", "_", "a/X"}, true);
        TFSG g("g", TSubFSG::EqNorm), ref("g", TSubFSG::EqNorm);
        Build(&g, text);
        Build(&ref, text);

        g.Reachable();
        ref.ClearStateFlags();
        RefReachable(ref.Initial());
        for (int i = 0; i < g.states.length; i++)
            ASSERT_EQ(g.states[i]->flag, ref.states[i]->flag) << text << " state " << i;

        // Flags left negative by another pass (sentence counting) are walked
        // as the recursion walks them.
        for (int i = 0; i < g.states.length; i++) g.states[i]->flag = ref.states[i]->flag = -1;
        g.Initial()->Reachable();
        RefReachable(ref.Initial());
        for (int i = 0; i < g.states.length; i++)
            ASSERT_EQ(g.states[i]->flag, ref.states[i]->flag) << text << " state " << i;

        g.Optimize();
        RefOptimize(&ref);
        ASSERT_EQ(Dump(&g), Dump(&ref)) << text;
    }
}

} // namespace

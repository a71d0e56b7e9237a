// Tests of determinisation: mixture keys and merging, and the runs that
// EliminateDuplicateArcs merges or keeps apart.
#include "graph_dump.h"

namespace {

using graph_dump::Build;
using graph_dump::Dump;

TEST(TMix, FlattensMixtureStatesAndReusesStatesWhateverTheWeights)
{
    TFSG g("g", TSubFSG::EqNorm);
    TState* t1 = graph_dump::StateAt(&g, 1);
    TState* t2 = graph_dump::StateAt(&g, 2);
    TState* t3 = graph_dump::StateAt(&g, 3);
    TMix* m1 = new TMix();
    m1->Add(t1, 0.5f);
    m1->Add(t2, 0.5f);
    TMix* m2 = new TMix();
    m2->Add(t3, 0.5f);
    m2->Add(t2, 0.5f);
    m2->Sort();
    TState* s1 = g.GetMix(m1);
    TState* s2 = g.GetMix(m2);
    ASSERT_NE(s1, s2);

    // Members of mixture states are added in their place; Sort sums shares.
    TMix m;
    m.Add(s1, 0.5f);
    m.Add(s2, 0.5f);
    m.Sort();
    ASSERT_EQ(m.length, 3);
    EXPECT_EQ(m[0].state, t1);
    EXPECT_EQ(m[1].state, t2);
    EXPECT_EQ(m[2].state, t3);
    EXPECT_EQ(m[0].p, 0.25f);
    EXPECT_EQ(m[1].p, 0.5f);
    EXPECT_EQ(m[2].p, 0.25f);

    // The end of the network sorts last.
    TMix e;
    e.Add(nullptr, 0.5f);
    e.Add(t2, 0.5f);
    e.Sort();
    EXPECT_EQ(e[1].state, nullptr);

    TMix* b = new TMix();
    b->Add(t1, 0.1f);
    b->Add(t2, 0.9f);
    EXPECT_TRUE(*m1 == *b);
    EXPECT_EQ(g.GetMix(b), s1); // b is consumed
    EXPECT_EQ(s1->mix, m1);
    g.EliminateDuplicateArcs(); // releases the mixtures
}

TEST(EliminateDuplicateArcs, RunIntoTwoTargetsBuildsAWeightedMixture)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: a->1@0.3, a->2@0.1, b->*@0.6; 1: x->*; 2: y->*");
    g.EliminateDuplicateArcs();
    // The former targets are unreachable now and compacted away.
    EXPECT_EQ(Dump(&g), "0: b->*@0.6, a->1@0.4\n1: x->*@0.75, y->*@0.25\n");
    EXPECT_EQ(g.states[1]->arcs[0]->p, 0.3f / (0.3f + 0.1f));
    EXPECT_EQ(g.states[1]->arcs[1]->p, 0.1f / (0.3f + 0.1f));
    EXPECT_EQ(g.states[1]->mix, nullptr);
    EXPECT_EQ(g.mixes, nullptr);
}

TEST(EliminateDuplicateArcs, Runs)
{
    struct Case {
        const char* what;
        const char* in;
        const char* out;
    } cases[] = {
        {"a later run over the same targets reuses the state unchanged",
         "0: a->1@0.3, a->2@0.1, b->1@0.1, b->2@0.5; 1: x->*; 2: y->*",
         "0: a->1@0.4, b->1@0.6\n1: x->*@0.75, y->*@0.25\n"},
        {"duplicate arcs give a one-member mixture", "0: a->1@0.5, a->1@0.5; 1: x->*", "0: a->1@1\n1: x->*@1\n"},
        {"final runs merge without a mixture, so nothing is compacted",
         "0: _->*@0.3, _->*@0.2, a->1@0.5; 1: _->*; 2:", "0: a->1@0.5, _->*@0.5\n1: _->*@1\n2:\n"},
        {"mixture states are determinised in the same pass",
         "0: a->1@0.5, a->2@0.5; 1: x->3; 2: x->4; 3: y->*; 4: z->*",
         "0: a->1@1\n1: x->2@1\n2: y->*@0.5, z->*@0.5\n"},
        {"annotation splits a run", "0: a->1@0.5, a/X->2@0.5; 1: x->*; 2: y->*",
         "0: a->1@0.5, a/X->2@0.5\n1: x->*@1\n2: y->*@1\n"},
        {"operator splits a run", "0: a->1@0.5, a*->2@0.5; 1: x->*; 2: y->*",
         "0: a->1@0.5, a*->2@0.5\n1: x->*@1\n2: y->*@1\n"},
        {"needtr splits a run", "0: a->1@0.5, a!->2@0.5; 1: x->*; 2: y->*",
         "0: a->1@0.5, a!->2@0.5\n1: x->*@1\n2: y->*@1\n"},
        {"finality splits a run", "0: _->1@0.5, _->*@0.5; 1: x->*; 2: y->*",
         "0: _->1@0.5, _->*@0.5\n1: x->*@1\n2: y->*@1\n"},
    };
    for (const Case& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c.in);
        g.EliminateDuplicateArcs();
        EXPECT_EQ(Dump(&g), c.out) << c.what;
    }
}

} // namespace

// Tests of determinisation: mixture keys and merging, and the runs that
// EliminateDuplicateArcs merges or keeps apart.
#include "tfsg.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One line per state: "id: word/anno p >target, ..." (">$" leaves the network).
std::string Dump(TSubFSG& n)
{
    std::string out;
    char buf[200];
    for (int i = 0; i < n.states.length; i++) {
        TState* s = n.states[i];
        std::snprintf(buf, sizeof buf, "%d:", s->id);
        out += buf;
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs[k];
            std::snprintf(buf, sizeof buf, "%s %s%s%s %g >", k ? "," : "", a->word->word.s,
                          a->anno->word.s ? "/" : "", a->anno->word.s ? a->anno->word.s : "", (double)a->p);
            out += buf;
            if (a->state) {
                std::snprintf(buf, sizeof buf, "%d", a->state->id);
                out += buf;
            } else {
                out += "$";
            }
        }
        out += "\n";
    }
    return out;
}

struct Net {
    TFSG g{mbstring("<<g>>"), TSubFSG::EqNorm};
    TState* S(int i)
    {
        while (g.states.length <= i) g.AddState();
        return g.states[i];
    }
};

TEST(MixTest, AddFlattensMixtureStatesAndSortSumsSharedMembers)
{
    Net n;
    TState* t1 = n.S(1);
    TState* t2 = n.S(2);
    TState* t3 = n.S(3);
    TMix* m1 = new TMix();
    m1->Add(t1, 0.5f);
    m1->Add(t2, 0.5f);
    TMix* m2 = new TMix();
    m2->Add(t3, 0.5f);
    m2->Add(t2, 0.5f);
    m2->Sort();
    TState* s1 = n.g.GetMix(m1);
    TState* s2 = n.g.GetMix(m2);
    ASSERT_NE(s1, s2);

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

    // The end of the network sorts last and keys as 100000.
    TMix e;
    e.Add(nullptr, 0.5f);
    e.Add(t2, 0.5f);
    e.Sort();
    EXPECT_EQ(e[1].state, nullptr);
    EXPECT_EQ(e.Key(), (unsigned long)((2u * 17u) * 48923u + 17u * 100000u));
    EXPECT_EQ(TMix().Key(), 0ul);
    n.g.EliminateDuplicateArcs(); // releases the mixtures
}

TEST(MixTest, EqualityIgnoresWeightsAndGetMixReusesTheFirstState)
{
    Net n;
    TMix* a = new TMix();
    a->Add(n.S(1), 0.75f);
    a->Add(n.S(2), 0.25f);
    TMix* b = new TMix();
    b->Add(n.S(1), 0.1f);
    b->Add(n.S(2), 0.9f);
    EXPECT_TRUE(*a == *b);
    EXPECT_EQ(a->Key(), b->Key());
    TState* first = n.g.GetMix(a);
    EXPECT_EQ(n.g.GetMix(b), first); // b is consumed
    EXPECT_EQ(first->mix, a);
    n.g.EliminateDuplicateArcs();
}

TEST(DeterminizeTest, RunIntoTwoTargetsBuildsWeightedMixture)
{
    Net n;
    n.S(0)->AddArc(n.S(1), 0.3f, "a", nullptr, OpNone);
    n.S(0)->AddArc(n.S(2), 0.1f, "a", nullptr, OpNone);
    n.S(0)->AddArc(nullptr, 0.6f, "b", nullptr, OpNone);
    n.S(1)->AddArc(nullptr, 1.0f, "x", nullptr, OpNone);
    n.S(2)->AddArc(nullptr, 1.0f, "y", nullptr, OpNone);
    n.g.EliminateDuplicateArcs();
    // t1 and t2 are now unreachable and compacted away.
    EXPECT_EQ(Dump(n.g), "0: b 0.6 >$, a 0.4 >1\n1: x 0.75 >$, y 0.25 >$\n");
    const float P = 0.3f + 0.1f;
    EXPECT_EQ(n.g.states[1]->arcs[0]->p, 0.3f / P);
    EXPECT_EQ(n.g.states[1]->arcs[1]->p, 0.1f / P);
    EXPECT_EQ(n.g.states[1]->mix, nullptr);
    EXPECT_EQ(n.g.mixes, nullptr);
}

TEST(DeterminizeTest, LaterRunOverSameTargetsReusesStateUnchanged)
{
    Net n;
    n.S(0)->AddArc(n.S(1), 0.3f, "a", nullptr, OpNone);
    n.S(0)->AddArc(n.S(2), 0.1f, "a", nullptr, OpNone);
    n.S(0)->AddArc(n.S(1), 0.1f, "b", nullptr, OpNone);
    n.S(0)->AddArc(n.S(2), 0.5f, "b", nullptr, OpNone);
    n.S(1)->AddArc(nullptr, 1.0f, "x", nullptr, OpNone);
    n.S(2)->AddArc(nullptr, 1.0f, "y", nullptr, OpNone);
    n.g.EliminateDuplicateArcs();
    EXPECT_EQ(Dump(n.g), "0: a 0.4 >1, b 0.6 >1\n1: x 0.75 >$, y 0.25 >$\n");
}

TEST(DeterminizeTest, DuplicateArcsGiveOneMemberMixture)
{
    Net n;
    n.S(0)->AddArc(n.S(1), 0.5f, "a", nullptr, OpNone);
    n.S(0)->AddArc(n.S(1), 0.5f, "a", nullptr, OpNone);
    n.S(1)->AddArc(nullptr, 1.0f, "x", nullptr, OpNone);
    n.g.EliminateDuplicateArcs();
    EXPECT_EQ(Dump(n.g), "0: a 1 >1\n1: x 1 >$\n");
}

TEST(DeterminizeTest, FinalRunsMergeWithoutMixtureOrCompaction)
{
    Net n;
    n.S(0)->AddArc(nullptr, 0.3f, "", nullptr, OpNone);
    n.S(0)->AddArc(nullptr, 0.2f, "", nullptr, OpNone);
    n.S(0)->AddArc(n.S(1), 0.5f, "a", nullptr, OpNone);
    n.S(1)->AddArc(nullptr, 1.0f, "", nullptr, OpNone);
    n.S(2); // unreachable: survives because nothing was mixed
    n.g.EliminateDuplicateArcs();
    EXPECT_EQ(Dump(n.g), "0: a 0.5 >1,  0.5 >$\n1:  1 >$\n2:\n");
}

// Arcs with one word that differ in one other respect stay apart.
TEST(DeterminizeTest, RunsSplitOnAnnotationOpNeedtrAndFinality)
{
    struct Case {
        const char* name;
        const char* anno2;
        Op op2;
        int needtr2;
        bool final2;
    } cases[] = {
        {"annotation", "X", OpNone, 0, false},
        {"operator", nullptr, OpStar, 0, false},
        {"needtr", nullptr, OpNone, 1, false},
        {"finality", nullptr, OpNone, 0, true},
    };
    for (const Case& c : cases) {
        Net n;
        const char* w = c.final2 ? "" : "a";
        n.S(0)->AddArc(n.S(1), 0.5f, w, nullptr, OpNone);
        TArc* b = n.S(0)->AddArc(c.final2 ? nullptr : n.S(2), 0.5f, w, c.anno2, c.op2);
        b->needtr = (unsigned char)c.needtr2;
        n.S(1)->AddArc(nullptr, 1.0f, "x", nullptr, OpNone);
        n.S(2)->AddArc(nullptr, 1.0f, "y", nullptr, OpNone);
        n.g.EliminateDuplicateArcs();
        EXPECT_EQ(n.g.states.length, 3) << c.name;
        EXPECT_EQ(n.g.states[0]->arcs.length, 2) << c.name;
    }
}

TEST(DeterminizeTest, MixtureStatesAreDeterminisedInTheSamePass)
{
    // a leads to t1 and t2, which both continue with x: the mixture state's
    // two x arcs are merged in turn.
    Net n;
    n.S(0)->AddArc(n.S(1), 0.5f, "a", nullptr, OpNone);
    n.S(0)->AddArc(n.S(2), 0.5f, "a", nullptr, OpNone);
    n.S(1)->AddArc(n.S(3), 1.0f, "x", nullptr, OpNone);
    n.S(2)->AddArc(n.S(4), 1.0f, "x", nullptr, OpNone);
    n.S(3)->AddArc(nullptr, 1.0f, "y", nullptr, OpNone);
    n.S(4)->AddArc(nullptr, 1.0f, "z", nullptr, OpNone);
    n.g.EliminateDuplicateArcs();
    EXPECT_EQ(Dump(n.g), "0: a 1 >1\n1: x 1 >2\n2: y 0.5 >$, z 0.5 >$\n");
}

} // namespace

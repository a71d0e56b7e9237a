// Tests of the arc probability passes on small hand-built networks.
#include "graph_dump.h"

#include <cstdint>

namespace {

using graph_dump::Build;
using Probs = std::vector<float>;

Probs Of(TState* s)
{
    Probs out;
    for (int i = 0; i < s->arcs.length; i++) out.push_back(s->arcs[i]->p);
    return out;
}

TEST(Probs, StateNormalisation)
{
    const float third = 1.0f / 3.0f;
    struct Case {
        const char* in;
        Probs out;
    } cases[] = {
        {"0: w->*@0.2, w->*@0.2, w->*@0.6", {0.2f, 0.2f, 0.6f}},
        {"0: w->*@1, w->*@3", {0.25f, 0.75f}},
        {"0: w->*@2, w->*@2, w->*@2", {third, third, third}},
        {"0: w->*@0, w->*@0", {0.0f, 0.0f}}, // nothing to scale: left alone, no NaN
        {"0: w->*@1, w->*@-1", {1.0f, -1.0f}},
        {"0:", {}},
    };
    for (const Case& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c.in);
        g.Initial()->NormalizeArcProbabilities();
        EXPECT_EQ(Of(g.Initial()), c.out) << c.in;
    }
}

TEST(Probs, NetworkPassesVisitEveryState)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: w->1@1, w->2@3; 1: w->*@0; 2: _->*@4, w->0@4");
    g.NormalizeArcProbabilities();
    EXPECT_EQ(Of(g.states[0]), (Probs{0.25f, 0.75f}));
    EXPECT_EQ(Of(g.states[1]), (Probs{0.0f}));
    EXPECT_EQ(Of(g.states[2]), (Probs{0.5f, 0.5f}));

    Build(&g, "1: w->2@0, w->0@0");
    g.EqualizeArcProbabilities();
    EXPECT_EQ(Of(g.states[0]), (Probs{0.5f, 0.5f}));
    EXPECT_EQ(Of(g.states[1]), (Probs{1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f}));

    g.UniformArcWeights(1.0f);
    for (int s = 0; s < 3; s++)
        for (float p : Of(g.states[s])) EXPECT_EQ(p, 1.0f);
}

TEST(Probs, EqualSentenceProbabilities)
{
    const float q = 1.0f / 3.0f, h = 0.5f / 3.0f;
    struct Case {
        const char* in;
        std::vector<int> counts;
        std::vector<Probs> out;
    } cases[] = {
        // Three sentences: a c, a d, b.
        {"0: a->1, b->*; 1: c->*, d->*", {3, 2}, {{q * 2.0f, q}, {0.5f, 0.5f}}},
        // Arcs into a cycle share one half.
        {"0: w->0, _->*", {1}, {{0.5f, 0.5f}}},
        // ... as do dead ends (state 2).
        {"0: w->1, w->2, w->*, _->*; 1: w->0, _->*; 2:", {3, 1, 0}, {{h, 0.5f, h, h}, {0.5f, 0.5f}, {}}},
        {"0: w->1; 1: w->0, w->1", {0, 0}, {{0.5f}, {0.25f, 0.25f}}},
    };
    for (const Case& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c.in);
        g.EqualizeSentenceProbabilities();
        for (size_t s = 0; s < c.out.size(); s++) {
            EXPECT_EQ(g.states[(int)s]->flag, c.counts[s]) << c.in << " state " << s;
            EXPECT_EQ(Of(g.states[(int)s]), c.out[s]) << c.in << " state " << s;
        }
    }
}

// Straight from the definition: recursive, on the same flags.
int ReferenceCount(TState* s)
{
    if (!s) return 1;
    if (s->flag >= 0) return s->flag;
    s->flag = 0;
    int total = 0, zeros = 0;
    for (int i = 0; i < s->arcs.length; i++) {
        int k = ReferenceCount(s->arcs[i]->state);
        if (k)
            total += k;
        else
            zeros++;
    }
    float pz = zeros > 0 ? 0.5f / zeros : 0.0f;
    float q = zeros > 0 ? 0.5f / total : 1.0f / total;
    for (int i = 0; i < s->arcs.length; i++) {
        int k = ReferenceCount(s->arcs[i]->state);
        s->arcs[i]->p = k ? q * k : pz;
    }
    s->flag = total;
    return total;
}

// The iterative walk must visit in the same order as the recursive
// definition: on cyclic networks the shares depend on it.
TEST(Probs, SentenceSharesMatchTheRecursiveDefinition)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; round++) {
        const int n = 1 + round % 8;
        std::string text = graph_dump::RandomNetwork(rng, n, {"w"}, false);
        TFSG a("a", TSubFSG::EqNorm), b("b", TSubFSG::EqNorm);
        Build(&a, text);
        Build(&b, text);
        a.EqualizeSentenceProbabilities();
        for (int s = 0; s < n; s++) b.states[s]->flag = -1;
        ReferenceCount(b.Initial());
        for (int s = 0; s < n; s++) {
            ASSERT_EQ(a.states[s]->flag, b.states[s]->flag) << text << " state " << s;
            ASSERT_EQ(Of(a.states[s]), Of(b.states[s])) << text << " state " << s;
        }
    }
}

// A sequence of two-way choices: layer i has 2^(layers - i) sentences.
TEST(Probs, HugeSentenceCountsDoNotWrap)
{
    for (int layers : {40, 2000}) {
        TFSG g("g", TSubFSG::EqNorm);
        std::string text;
        for (int s = 0; s < layers; s++) {
            std::string next = std::to_string(s + 1);
            text += std::to_string(s) + ": w->" + next + ", w->" + next + ";";
        }
        Build(&g, text + std::to_string(layers) + ": _->*");
        g.EqualizeSentenceProbabilities();
        EXPECT_EQ(g.Initial()->flag, INT32_MAX) << layers;
        EXPECT_EQ(g.states[layers - 3]->flag, 8) << layers;
        for (int s = 0; s < layers; s++) ASSERT_EQ(Of(g.states[s]), (Probs{0.5f, 0.5f})) << layers << " " << s;
    }
}

} // namespace

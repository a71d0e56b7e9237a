// Tests of annotation merging on arcs (pre/post actions, MergeArcActions) and
// of PropagateAnnotations, on networks written in the graph_dump notation.
#include "graph_dump.h"

namespace {

using graph_dump::ArcText;
using graph_dump::Build;
using graph_dump::Dump;

enum Where { Pre, Post };

TEST(Annotations, PreAndPostActionsMerge)
{
    const struct {
        const char* what;
        const char* arc; // the network "0: <arc>" built first
        Where where;
        const char* action; // null: no action
        const char* out;    // the arc afterwards
    } cases[] = {
    {"a plain needtr word translates to itself first", "hello!->*", Post, "<{1}>", "hello!/<hello>->*@1"},
    {"without needtr the action stands alone", "hello->*", Post, "<{1}>", "hello/<{1}>->*@1"},
    {"a pre-action meets the word made explicit", "hello!->*", Pre, "x", "hello!/hello->*@1"},
    {"a null action changes nothing", "hello!/Y->*", Pre, nullptr, "hello!/Y->*@1"},
    {"a null post-action changes nothing", "hello!->*", Post, nullptr, "hello!->*@1"},
    {"pre: the action runs before the annotation", "w/f({1})->*", Pre, "g({1})", "w/f(g({1}))->*@1"},
    {"post: the action runs after the annotation", "w/f({1})->*", Post, "g({1})", "w/g(f({1}))->*@1"},
    {"a null arc with needtr translates to the empty text", "_!->*", Post, "<{1}>", "_!/<>->*@1"},
    {"an arc with an operator has no word translation", "w?!->*", Post, "<{1}>", "w?!/<{1}>->*@1"},
    {"a rule reference has no word translation", "<r>!->*", Post, "<{1}>", "<r>!/<{1}>->*@1"},
    {"an annotated needtr arc merges with its annotation", "w!/Y->*", Post, "<{1}>", "w!/<Y>->*@1"},
    };
    for (const auto& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, std::string("0: ") + c.arc);
        TState* s = g.Initial();
        if (c.where == Pre)
            s->AddArcPreAction(s->arcs[0], mbstring(c.action));
        else
            s->AddArcPostAction(s->arcs[0], mbstring(c.action));
        EXPECT_EQ(ArcText(s->arcs[0], true), c.out) << c.what;
    }
}

// An action handed in straight from an earlier merge lives in the merge's
// own result buffer; the new merge must not read it while overwriting it.
TEST(Annotations, ActionFromAnEarlierMergeSurvives)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: w/h({1})->*, v/h({1})->*");
    TState* s = g.Initial();
    s->AddArcPreAction(s->arcs[0], MergeActions("g({1})", "f({1})"));
    EXPECT_STREQ(s->arcs[0]->anno->word.s, "h(f(g({1})))");
    s->AddArcPostAction(s->arcs[1], MergeActions("g({1})", "f({1})"));
    EXPECT_STREQ(s->arcs[1]->anno->word.s, "f(g(h({1})))");
}

TEST(Annotations, PropagateMoves)
{
    const struct {
        const char* what;
        const char* in;
        int moved;
        const char* out;
    } cases[] = {
    {"an annotation moves onto the only arc entering its state", "0: a->1; 1: b/X->*", 1,
     "0: a/X->1\n1: b->*\n"},
    {"a second entering arc blocks the move", "0: a->1, c->1; 1: b/X->*", 0, "0: a->1, c->1\n1: b/X->*\n"},
    {"an arc with needtr receives nothing", "0: a!->1; 1: b/X->*", 0, "0: a!->1\n1: b/X->*\n"},
    {"a null arc receives nothing", "0: _->1; 1: b/X->*", 0, "0: _->1\n1: b/X->*\n"},
    {"an annotated arc receives nothing", "0: a/Y->1; 1: b/X->*", 0, "0: a/Y->1\n1: b/X->*\n"},
    {"a branching state keeps its annotations", "0: a->1; 1: b/X->*, c->*", 0, "0: a->1\n1: b/X->*, c->*\n"},
    {"the initial state counts one extra entry", "0: b/X->1; 1: a->0", 0, "0: b/X->1\n1: a->0\n"},
    {"an annotation moves one arc per call", "0: a->1; 1: b->2; 2: c/X->*", 1, "0: a->1\n1: b/X->2\n2: c->*\n"},
    {"arcs are sorted while they are visited", "0: a->*, a->1; 1: c/X->*", 1, "0: a/X->1, a->*\n1: c->*\n"},
    };
    for (const auto& c : cases) {
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c.in);
        EXPECT_EQ(g.PropagateAnnotations(), c.moved) << c.what;
        EXPECT_EQ(Dump(&g, false), c.out) << c.what;
    }
}

} // namespace

// Tests of matching and translation: probabilities and the prefix flag,
// first path in arc order, action lists after backtracking, sub-grammars and
// externs, very long inputs, and the word index checked against a plain
// recursive matcher on random grammars.
#include "tfsg.h"

#include "fsg_build.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using fsg_build::Fill;
using fsg_build::Make;
using fsg_build::Thrown;
using Words = std::vector<const char*>;
using Strings = std::vector<std::string>;

struct Result {
    double p;
    int prefix;
    Strings actions; // "-" for a null entry
};

Result MatchWords(TFSG* g, const Words& words, const Words* tags = nullptr)
{
    TStringList in, tl, out;
    Fill(in, words);
    if (tags) Fill(tl, *tags);
    Result r{0, 0, {}};
    r.p = g->Match(in, tags ? &tl : nullptr, out, &r.prefix);
    for (int i = 0; i < out.length; i++) r.actions.push_back(out[i].s ? out[i].s : "-");
    return r;
}

std::string Translate(TFSG* g, const Words& words)
{
    TStringList in;
    Fill(in, words);
    mbstring out("untouched");
    int prefix = 0;
    g->Match(in, nullptr, out, &prefix);
    if (out.s && std::strcmp(out.s, "untouched") == 0) return "untouched";
    std::string s = out.s ? out.s : "(null)";
    delete[] out.s;
    return s;
}

TEST(Match, ProbabilityPrefixAndArcOrder)
{
    struct Case {
        const char* grammar;
        Words words;
        double p;
        int prefix;
        Strings actions;
    } cases[] = {
        {"0: hello->1@0.5; 1: world->2@0.5; 2: _->*@1", {"hello", "WORLD"}, 0.25, 0, {"-", "-", "-"}},
        {"0: hello->1@0.5; 1: world->2@0.5; 2: _->*@1", {"hello"}, 0, 1, {}},
        {"0: hello->1@0.5; 1: world->2@0.5; 2: _->*@1", {"hello", "world", "again"}, 0, 0, {}},
        {"0: hello->1@0.5; 1: world->2@0.5; 2: _->*@1", {"hello", "word"}, 0, 0, {}},
        // Empty input: null arcs before the first word arc are tried, later ones never.
        {"0: _->1@0.5, a->*@0.5; 1: <2>->2; 2: _->*", {}, 0.5, 0, {"-", "-", "-", "-"}},
        {"0: a->*@0.5, _->*@0.5", {}, 0, 1, {}},
        // The first accepting path in arc order wins, not the most probable.
        {"0: a/low->1@0.1, a/high->2@0.9; 1: b->*; 2: b->*", {"a", "b"}, 0.1, 0, {"low", "-"}},
        // A failed branch through a sub-grammar leaves no actions behind.
        {"0: <0>/I0->1, <1>/I1->2; 1: c/C->*; 2: d/D->*", {"a", "b", "d"}, 1, 0, {"A2", "B2", "I1", "D"}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TFSG> g(Make(c.grammar, {"0: a/A->1; 1: b/B->*", "0: a/A2->1; 1: b/B2->*", "0: _->*"}));
        Result r = MatchWords(g.get(), c.words);
        EXPECT_FLOAT_EQ(r.p, c.p) << c.grammar;
        EXPECT_EQ(r.prefix, c.prefix) << c.grammar;
        if (r.p > 0) {
            EXPECT_EQ(r.actions, c.actions) << c.grammar;
        }
    }
}

TEST(Match, ExternWordsByTagOrByName)
{
    std::unique_ptr<TFSG> g(Make("0: go->1; 1: $<nocity>/to {}->2; 2: _->*"));
    Words city = {"-", "<nocity>"}, town = {"-", "<town>"}, short_tags = {"-"};
    struct Case {
        const char* word;
        Words* tags;
        bool accepted;
    } cases[] = {
        {"Paris", &city, true},      {"Paris", &town, false},         {"<NoCity>", &town, true},
        {"<nocity>", nullptr, true}, {"Paris", nullptr, false},       {"Paris", &short_tags, false},
        {"<nocity>", &short_tags, true},
    };
    for (const Case& c : cases) {
        Result r = MatchWords(g.get(), {"go", c.word}, c.tags);
        EXPECT_EQ(r.p > 0, c.accepted) << c.word;
        // "{}" in the annotation: the word goes first, for "{}" to take.
        if (c.accepted) {
            EXPECT_EQ(r.actions, (Strings{"-", c.word, "to {}", "-"}));
        }
    }
    TStringList in, tags;
    Fill(in, {"go", "Oslo"});
    Fill(tags, {"<verb>", "<nocity>"});
    mbstring out;
    int prefix = 0;
    EXPECT_EQ(g->Match(in, &tags, out, &prefix), 1.0);
    ASSERT_NE(out.s, nullptr);
    EXPECT_STREQ(out.s, "to Oslo");
    delete[] out.s;
}

TEST(Match, LoadedExternReturnsToTheCallersInterns)
{
    // The extern grammar has an intern of its own at index 0; after it ends,
    // the caller's intern 0 must be the one entered.
    fsg_build::TempFile ext;
    fsg_build::Write("0: x->1@0.5, w->1@0.5; 1: <0>->2; 2: _->*", {"0: z->*"}, ext);
    ASSERT_NE(TFSG::Extern("match_ext", ext.c_str()), nullptr);
    std::unique_ptr<TFSG> g(Make("0: $<match_ext>/E->1@0.5, y->*@0.5; 1: <0>/I->2; 2: _->*", {"0: y/Y->*"}));
    Result r = MatchWords(g.get(), {"x", "z", "y"});
    EXPECT_NEAR(r.p, 0.25, 0.001); // 0.5 read back from a 16-bit log-probability
    EXPECT_EQ(r.actions, (Strings{"E", "Y", "I", "-"}));
    EXPECT_EQ(MatchWords(g.get(), {"x", "y", "y"}).p, 0);
    EXPECT_EQ(MatchWords(g.get(), {"<match_ext>", "y"}).p, 0);

    std::unique_ptr<TFSG> missing(Make("0: a->1; 1: <3>->*"));
    EXPECT_EQ(Thrown([&] { MatchWords(missing.get(), {"a", "b"}); }), "Can't open an intern fsg: 3!\n");
    std::unique_ptr<TFSG> bad_action(Make("0: a/{}->*"));
    EXPECT_NE(Thrown([&] { Translate(bad_action.get(), {"a"}); }), "(no error)");
}

TEST(Match, HundredThousandWords)
{
    Words words(100000, "a");
    std::unique_ptr<TFSG> loop(Make("0: _->*@0.5, a/A->0@0.5"));
    Result r = MatchWords(loop.get(), words);
    EXPECT_GT(r.p, 0); // the product underflows; the string is accepted all the same
    EXPECT_EQ(r.actions.size(), words.size() + 1);
    std::unique_ptr<TFSG> via_intern(Make("0: <0>->0, _->*", {"0: _->1; 1: a->*"}));
    EXPECT_EQ(MatchWords(via_intern.get(), words).p, 1.0);
    words.push_back("b");
    r = MatchWords(via_intern.get(), words);
    EXPECT_EQ(r.p, 0);
}

TEST(Match, IndexedStatesFollowCaseAndChanges)
{
    std::string text = "0: ";
    for (int i = 0; i < 20; i++) text += "w" + std::to_string(i) + "/" + std::to_string(i) + "->*, ";
    std::unique_ptr<TFSG> g(Make(text + "Hello/first->*, _->1, hello/second->*; 1: HELLO/third->*"));
    EXPECT_EQ(Translate(g.get(), {"hELLO"}), "first");
    EXPECT_EQ(Translate(g.get(), {"W7"}), "7");
    EXPECT_EQ(Translate(g.get(), {"w20"}), "untouched");
    // An arc added after a match is found by the next one.
    g->states[0]->AddArc(nullptr, 1, mbstring("w20"), mbstring("new"), OpNone);
    EXPECT_EQ(Translate(g.get(), {"w20"}), "new");
}

// The matcher as a plain recursion of the steps it is defined by, for
// grammars without externs.
double Reference(TFSG* g, TStringList& input, int in, TState* state, TSubFSG::Ctx* ctx, TStringList& out, int* prefix)
{
    if (!state) {
        if (!ctx) return in == input.length ? 1.0 : 0;
        g->add(out, ctx->next, ctx->arc->anno->word);
        double p = Reference(g, input, in, ctx->arc->state, ctx->next, out, prefix);
        if (p == 0) g->remove(out, ctx->next);
        return p;
    }
    for (int i = 0; i < state->arcs.length; i++) {
        TArc* a = state->arcs[i];
        TWord* w = a->word;
        double p = 0;
        if (w->kind == TWord::Intern) {
            TSubFSG::Ctx c{a, !ctx || ctx->needtr, ctx};
            p = Reference(g, input, in, g->intern_fsgs[w->id]->states[0], &c, out, prefix);
            if (p > 0) return p * a->p;
            continue;
        }
        if (w->id != 0 && in == input.length) {
            *prefix = 1;
            return 0;
        }
        if (w->id != 0 && ks_stricmp(input[in].s, w->word.s) != 0) continue;
        g->add(out, ctx, a->anno->word);
        p = Reference(g, input, in + (w->id != 0), a->state, ctx, out, prefix);
        if (p > 0) return p * a->p;
        g->remove(out, ctx);
    }
    return 0;
}

// Random grammars with large states (so that the index is used), mixed
// case duplicates, null arcs (forward only, so that no cycle consumes
// nothing) and calls of two sub-grammars.
std::string RandomNetwork(std::mt19937& rng, int states, int arcs, bool calls)
{
    const char* vocab[] = {"a", "A", "b", "B", "c"};
    std::string t;
    for (int s = 0; s < states; s++) {
        t += std::to_string(s) + ": ";
        for (int k = 0, n = 1 + (int)(rng() % (unsigned)arcs); k < n; k++) {
            int kind = (int)(rng() % 10), to = (int)(rng() % (unsigned)(states + 1));
            int fwd = s + 1 + (int)(rng() % (unsigned)(states - s));
            std::string forward = fwd >= states ? "*" : std::to_string(fwd);
            std::string tail = "/x" + std::to_string(rng() % 4) + "->";
            std::string p = "@" + std::to_string(0.125 * (1 + (int)(rng() % 8)));
            if (kind == 0) t += "_" + tail + forward + p;
            else if (kind == 1 && calls) t += "<" + std::to_string(rng() % 2) + ">" + tail + forward + p;
            else t += vocab[rng() % 5] + tail + (to == states ? "*" : std::to_string(to)) + p;
            t += k + 1 < n ? ", " : "\n";
        }
    }
    return t;
}

TEST(Match, AgreesWithThePlainRecursionOnRandomGrammars)
{
    std::mt19937 rng(12345);
    const char* vocab[] = {"a", "b", "c", "A"};
    int accepted = 0;
    for (int round = 0; round < 150; round++) {
        std::unique_ptr<TFSG> g(Make(RandomNetwork(rng, 4, 14, true),
                                     {RandomNetwork(rng, 2, 12, false), RandomNetwork(rng, 2, 3, false)}));
        for (int trial = 0; trial < 20; trial++) {
            TStringList in, got, want;
            for (int k = 0, len = (int)(rng() % 5); k < len; k++) in.Add(mbstring(vocab[rng() % 4]));
            int gp = 0, wp = 0;
            double p = g->Match(in, nullptr, got, &gp);
            ASSERT_EQ(p, Reference(g.get(), in, 0, g->states[0], nullptr, want, &wp)) << round << "/" << trial;
            ASSERT_EQ(gp, wp) << round << "/" << trial;
            ASSERT_EQ(got.length, want.length);
            for (int i = 0; i < got.length; i++) ASSERT_TRUE(got[i] == want[i]);
            accepted += p > 0;
        }
    }
    EXPECT_GT(accepted, 100);
}

} // namespace

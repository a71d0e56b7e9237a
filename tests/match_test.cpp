// Tests of matching and translation: probabilities and the prefix flag,
// first path in arc order, action lists after backtracking, sub-grammars and
// externs, the listing mode, very long inputs, and the word index checked
// against a plain recursive matcher on random grammars.
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

struct Result {
    double p;
    int prefix;
    std::vector<std::string> actions; // "-" for a null entry
};

Result MatchWords(TFSG* g, const std::vector<const char*>& words, const std::vector<const char*>* tags = nullptr)
{
    TStringList in, tl, out;
    Fill(in, words);
    if (tags) Fill(tl, *tags);
    Result r{0, 0, {}};
    r.p = g->Match(in, tags ? &tl : nullptr, out, &r.prefix);
    for (int i = 0; i < out.length; i++) r.actions.push_back(out[i].s ? out[i].s : "-");
    return r;
}

std::string Translate(TFSG* g, const std::vector<const char*>& words, double* p = nullptr)
{
    TStringList in;
    Fill(in, words);
    mbstring out("untouched");
    int prefix = 0;
    double q = g->Match(in, nullptr, out, &prefix);
    if (p) *p = q;
    if (out.s && std::strcmp(out.s, "untouched") == 0) return "untouched";
    std::string s = out.s ? out.s : "(null)";
    delete[] out.s;
    return s;
}

TEST(Match, HelloWorld)
{
    std::unique_ptr<TFSG> g(Make("0: hello->1@0.5; 1: world->2@0.5; 2: _->*@1"));
    struct Case {
        std::vector<const char*> words;
        double p;
        int prefix;
    } cases[] = {
        {{"hello", "WORLD"}, 0.25, 0},
        {{"hello"}, 0, 1},
        {{}, 0, 1},
        {{"hello", "world", "again"}, 0, 0},
        {{"hello", "word"}, 0, 0},
    };
    for (const Case& c : cases) {
        Result r = MatchWords(g.get(), c.words);
        EXPECT_EQ(r.p, c.p) << c.words.size();
        EXPECT_EQ(r.prefix, c.prefix) << c.words.size();
    }
}

TEST(Match, EmptyInputStopsAtTheFirstWordArc)
{
    std::unique_ptr<TFSG> nulls_first(Make("0: _->1@0.5, a->*@0.5; 1: <0>->2; 2: _->*", {"0: _->*"}));
    Result r = MatchWords(nulls_first.get(), {});
    EXPECT_EQ(r.p, 0.5);
    EXPECT_EQ(r.prefix, 0);

    // The null arc after the first word arc is never tried.
    std::unique_ptr<TFSG> word_first(Make("0: a->*@0.5, _->*@0.5"));
    r = MatchWords(word_first.get(), {});
    EXPECT_EQ(r.p, 0);
    EXPECT_EQ(r.prefix, 1);
}

TEST(Match, FirstAcceptingPathInArcOrderWins)
{
    std::unique_ptr<TFSG> g(Make("0: a/low->1@0.1, a/high->2@0.9; 1: b->*; 2: b->*"));
    double p = 0;
    EXPECT_EQ(Translate(g.get(), {"a", "b"}, &p), "low");
    EXPECT_FLOAT_EQ(p, 0.1);
    EXPECT_EQ(Translate(g.get(), {"a", "c"}, &p), "untouched");
    EXPECT_EQ(p, 0);
}

TEST(Match, FailedBranchThroughSubGrammarLeavesNoActions)
{
    std::unique_ptr<TFSG> g(Make("0: <0>/I0->1, <1>/I1->2; 1: c/C->*; 2: d/D->*",
                                 {"0: a/A->1; 1: b/B->*", "0: a/A2->1; 1: b/B2->*"}));
    Result r = MatchWords(g.get(), {"a", "b", "d"});
    EXPECT_GT(r.p, 0);
    EXPECT_EQ(r.actions, (std::vector<std::string>{"A2", "B2", "I1", "D"}));

    // The list form appends to what the caller's list holds.
    TStringList in, out;
    Fill(in, {"a", "b", "c"});
    out.Add(mbstring("before"));
    int prefix = 0;
    EXPECT_GT(g->Match(in, nullptr, out, &prefix), 0);
    ASSERT_EQ(out.length, 5);
    EXPECT_STREQ(out[0].s, "before");
    EXPECT_STREQ(out[3].s, "I0");
}

TEST(Match, UnloadedExternMatchesByTagOrByItsName)
{
    std::unique_ptr<TFSG> g(Make("0: go->1; 1: $<nocity>/to {}->2; 2: _->*"));
    std::vector<const char*> city = {"-", "<nocity>"};
    std::vector<const char*> town = {"-", "<town>"};
    std::vector<const char*> short_tags = {"-"};
    struct Case {
        const char* word;
        std::vector<const char*>* tags;
        bool accepted;
    } cases[] = {
        {"Paris", &city, true},
        {"Paris", &town, false},
        {"<NoCity>", &town, true},
        {"<nocity>", nullptr, true},
        {"Paris", nullptr, false},
        {"Paris", &short_tags, false}, // no tag for the second word
        {"<nocity>", &short_tags, true},
    };
    for (const Case& c : cases) {
        Result r = MatchWords(g.get(), {"go", c.word}, c.tags);
        EXPECT_EQ(r.p > 0, c.accepted) << c.word;
        if (c.accepted) {
            // "{}" in the annotation: the word goes first, for "{}" to take.
            EXPECT_EQ(r.actions, (std::vector<std::string>{"-", c.word, "to {}", "-"}));
        }
    }

    std::unique_ptr<TFSG> plain(Make("0: $<nocity>/CITY->*"));
    std::vector<const char*> tags = {"<nocity>"};
    EXPECT_EQ(MatchWords(plain.get(), {"Rome"}, &tags).actions, std::vector<std::string>{"CITY"});
}

TEST(Match, TranslationWithExternWord)
{
    std::unique_ptr<TFSG> g(Make("0: fly->1; 1: $<nocity>/to {}->*"));
    TStringList in, tags;
    Fill(in, {"fly", "Oslo"});
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
    // 0.5 is stored as a 16-bit log-probability and reads back a little larger.
    EXPECT_NEAR(r.p, 0.25, 0.001);
    EXPECT_EQ(r.actions, (std::vector<std::string>{"E", "Y", "I", "-"}));
    EXPECT_EQ(MatchWords(g.get(), {"x", "y", "y"}).p, 0);
    // The extern's word, not its tag, and not the extern's name.
    EXPECT_EQ(MatchWords(g.get(), {"<match_ext>", "y"}).p, 0);
    // Inside the extern, annotations count only when its annotation takes "{}".
    fsg_build::TempFile ext2;
    fsg_build::Write("0: q/Q->*", {}, ext2);
    ASSERT_NE(TFSG::Extern("match_ext2", ext2.c_str()), nullptr);
    std::unique_ptr<TFSG> k(Make("0: $<match_ext2>/K->*, $<match_ext2>/({})->*"));
    EXPECT_EQ(Translate(k.get(), {"q"}), "K");
}

TEST(Match, MissingInternSubGrammarIsAnError)
{
    std::unique_ptr<TFSG> g(Make("0: a->1; 1: <3>->*"));
    EXPECT_EQ(Thrown([&] { MatchWords(g.get(), {"a", "b"}); }), "Can't open an intern fsg: 3!\n");
    // Not reached: no error.
    EXPECT_EQ(MatchWords(g.get(), {"b"}).p, 0);
}

TEST(Match, ActionErrorsReachTheCaller)
{
    std::unique_ptr<TFSG> g(Make("0: a/{}->*"));
    EXPECT_NE(Thrown([&] { Translate(g.get(), {"a"}); }), "(no error)");
}

TEST(Match, ListingModePrintsEveryAcceptingPath)
{
    std::unique_ptr<TFSG> g(Make("0: a/X->1@0.5, a/Y->1@0.5, b->1; 1: _->*"));
    TStringList in;
    Fill(in, {"A"});
    int prefix = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(g->Match(in, nullptr, 0, &prefix), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "    parse 0 (0.500000)  A:X\n    parse 1 (0.500000)  A:Y\n");
    EXPECT_EQ(print_num, 2);
    testing::internal::CaptureStdout();
    g->Match(in, nullptr, 1, &prefix);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "    parse 0 (0.500000)  X\n    parse 1 (0.500000)  Y\n");
    // The translating forms leave the listing mode.
    EXPECT_EQ(Translate(g.get(), {"a"}), "X");
    EXPECT_EQ(print_all, 0);
}

TEST(Match, HundredThousandWords)
{
    const int n = 100000;
    std::vector<const char*> words(n, "a");

    std::unique_ptr<TFSG> loop(Make("0: _->*@0.5, a/A->0@0.5"));
    Result r = MatchWords(loop.get(), words);
    // The product underflows; the string is accepted all the same.
    EXPECT_GT(r.p, 0);
    EXPECT_EQ((int)r.actions.size(), n + 1);

    std::unique_ptr<TFSG> needs_b(Make("0: a->0, b->*"));
    r = MatchWords(needs_b.get(), words);
    EXPECT_EQ(r.p, 0);
    EXPECT_EQ(r.prefix, 1);

    std::unique_ptr<TFSG> via_intern(Make("0: <0>->0, _->*", {"0: _->1; 1: a->*"}));
    words.push_back("b");
    r = MatchWords(via_intern.get(), words);
    EXPECT_EQ(r.p, 0);
    words.pop_back();
    EXPECT_EQ(MatchWords(via_intern.get(), words).p, 1.0);
}

TEST(Match, IndexedStatesFollowCaseAndChanges)
{
    std::string text = "0: ";
    for (int i = 0; i < 20; i++) text += "w" + std::to_string(i) + "/" + std::to_string(i) + "->*, ";
    text += "Hello/first->*, _->1, hello/second->*; 1: HELLO/third->*";
    std::unique_ptr<TFSG> g(Make(text));
    EXPECT_EQ(Translate(g.get(), {"hELLO"}), "first");
    EXPECT_EQ(Translate(g.get(), {"W7"}), "7");
    EXPECT_EQ(Translate(g.get(), {"w20"}), "untouched");
    // An arc added after a match is found by the next one.
    g->states[0]->AddArc(nullptr, 1, mbstring("w20"), mbstring("new"), OpNone);
    EXPECT_EQ(Translate(g.get(), {"w20"}), "new");
}

// The matcher as a plain recursion of the steps it is defined by, for
// grammars without externs.
double Reference(TFSG* g, TStringList& input, int in, double pin, TState* state, TSubFSG::Ctx* ctx,
                 TStringList& out, int* prefix)
{
    if (!state) {
        if (ctx) {
            g->add(out, ctx->next, ctx->arc->anno->word);
            double p = Reference(g, input, in, pin, ctx->arc->state, ctx->next, out, prefix);
            if (p == 0) g->remove(out, ctx->next);
            return p;
        }
        return in == input.length ? 1.0 : 0;
    }
    for (int i = 0; i < state->arcs.length; i++) {
        TArc* a = state->arcs[i];
        TWord* w = a->word;
        double q = a->p;
        if (w->kind == TWord::Intern) {
            TSubFSG::Ctx c{a, !ctx || ctx->needtr, ctx};
            double p = Reference(g, input, in, pin * q, g->intern_fsgs[w->id]->states[0], &c, out, prefix);
            if (p > 0) return p * q;
            continue;
        }
        if (w->id == 0) {
            g->add(out, ctx, a->anno->word);
            double p = Reference(g, input, in, pin * q, a->state, ctx, out, prefix);
            if (p > 0) return p * q;
            g->remove(out, ctx);
            continue;
        }
        if (in == input.length) {
            *prefix = 1;
            return 0;
        }
        if (ks_stricmp(input[in].s, w->word.s) != 0) continue;
        g->add(out, ctx, a->anno->word);
        double p = Reference(g, input, in + 1, pin * q, a->state, ctx, out, prefix);
        if (p > 0) return p * q;
        g->remove(out, ctx);
    }
    return 0;
}

// Random grammars with large states (so that the index is used), mixed
// case duplicates, null arcs (forward only) and calls of two sub-grammars.
std::string RandomNetwork(std::mt19937& rng, int states, int arcs, bool calls)
{
    const char* vocab[] = {"a", "A", "b", "B", "c"};
    std::string t;
    for (int s = 0; s < states; s++) {
        t += std::to_string(s) + ": ";
        int n = 1 + (int)(rng() % (unsigned)arcs);
        for (int k = 0; k < n; k++) {
            int kind = (int)(rng() % 10);
            int to = (int)(rng() % (unsigned)(states + 1));
            std::string target = to == states ? "*" : std::to_string(to);
            // Arcs that may consume nothing only lead forward, so that no
            // cycle consumes nothing.
            int fwd = s + 1 + (int)(rng() % (unsigned)(states - s));
            std::string forward = fwd >= states ? std::string("*") : std::to_string(fwd);
            char p[16];
            std::snprintf(p, sizeof p, "@%g", 0.125 * (1 + (int)(rng() % 8)));
            std::string anno = "/x" + std::to_string(rng() % 4);
            if (kind == 0) {
                t += "_" + anno + "->" + forward + p;
            } else if (kind == 1 && calls) {
                t += "<" + std::to_string(rng() % 2) + ">" + anno + "->" + forward + p;
            } else {
                t += std::string(vocab[rng() % 5]) + anno + "->" + target + p;
            }
            t += k + 1 < n ? ", " : "";
        }
        t += "\n";
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
            TStringList in;
            int len = (int)(rng() % 5);
            for (int k = 0; k < len; k++) in.Add(mbstring(vocab[rng() % 4]));
            TStringList got, want;
            int gp = 0, wp = 0;
            double p = g->Match(in, nullptr, got, &gp);
            double q = Reference(g.get(), in, 0, 1.0, g->states[0], nullptr, want, &wp);
            ASSERT_EQ(p, q) << round << "/" << trial;
            ASSERT_EQ(gp, wp) << round << "/" << trial;
            ASSERT_EQ(got.length, want.length);
            for (int i = 0; i < got.length; i++) ASSERT_TRUE(got[i] == want[i]);
            accepted += p > 0;
        }
    }
    EXPECT_GT(accepted, 100);
}

} // namespace

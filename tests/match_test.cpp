// Tests of matching and translation: probabilities and the prefix flag,
// first path in arc order, action lists after backtracking, sub-grammars and
// externs, very long inputs, and the word index checked against a plain
// recursive matcher on random grammars.
#include "fsg_build.h"
#include "grammar_gen.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

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
        // Empty input: a word arc sets the prefix flag, and the null arcs
        // after it are still tried.
        {"0: _->1@0.5, a->*@0.5; 1: <2>->2; 2: _->*", {}, 0.5, 0, {"-", "-", "-", "-"}},
        {"0: a->*@0.5, _->*@0.5", {}, 0.5, 1, {"-"}},
        {"0: a->*@0.5, b->*@0.5", {}, 0, 1, {}},
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
// grammars without externs: every path in arc order, exponential in the
// worst case. A configuration already on the path (a loop that consumes
// nothing) and a call of an arc already open at the same position end
// their branch, which is where the plain recursion would go round forever.
// A call that is the last item of its network is no part of where the walk
// is: after it the caller ends as well.
struct Reference {
    TFSG* g;
    TStringList& input;
    TStringList& out;
    int* prefix;
    std::vector<std::pair<TArc*, int>> calls; // open calls and their positions
    std::set<std::tuple<int, TState*, std::vector<std::pair<TArc*, int>>>> path;

    double Walk(int in, TState* state, TSubFSG::Ctx* ctx)
    {
        if (!state) {
            if (!ctx) return in == input.length ? 1.0 : 0;
            g->add(out, ctx->next, ctx->arc->anno->word);
            std::pair<TArc*, int> top = calls.back();
            calls.pop_back();
            double p = Walk(in, ctx->arc->state, ctx->next);
            calls.push_back(top);
            if (p == 0) g->remove(out, ctx->next);
            return p;
        }
        // Positions of the calls are not part of where the walk is, only
        // whether they were made here.
        std::vector<std::pair<TArc*, int>> chain;
        for (auto& c : calls)
            if (c.first->state) chain.emplace_back(c.first, c.second == in);
        auto key = std::make_tuple(in, state, chain);
        if (!path.insert(key).second) return 0;
        double p = Arcs(in, state, ctx);
        path.erase(key);
        return p;
    }

    double Arcs(int in, TState* state, TSubFSG::Ctx* ctx)
    {
        for (int i = 0; i < state->arcs.length; i++) {
            TArc* a = state->arcs[i];
            TWord* w = a->word;
            double p = 0;
            if (w->kind == TWord::Intern) {
                if (a->state && std::find(calls.begin(), calls.end(), std::make_pair(a, in)) != calls.end())
                    continue;
                TSubFSG::Ctx c{a, !ctx || ctx->needtr, ctx};
                calls.emplace_back(a, in);
                p = Walk(in, g->intern_fsgs[w->id]->states[0], &c);
                calls.pop_back();
                if (p > 0) return p * a->p;
                continue;
            }
            if (w->id != 0 && in == input.length) {
                *prefix = 1;
                continue;
            }
            if (w->id != 0 && ks_stricmp(input[in].s, w->word.s) != 0) continue;
            g->add(out, ctx, a->anno->word);
            p = Walk(in + (w->id != 0), a->state, ctx);
            if (p > 0) return p * a->p;
            g->remove(out, ctx);
        }
        return 0;
    }
};

// Whether the matcher and the plain recursion give the same probability,
// prefix flag and actions for the input; counts the accepted inputs.
bool AgreesWithReference(TFSG* g, TStringList& in, int& accepted)
{
    TStringList got, want;
    int gp = 0, wp = 0;
    double p = g->Match(in, nullptr, got, &gp);
    Reference r{g, in, want, &wp, {}, {}};
    bool same = p == r.Walk(0, g->states[0], nullptr) && gp == wp && got.length == want.length;
    for (int i = 0; same && i < got.length; i++) same = got[i] == want[i];
    accepted += p > 0;
    return same;
}

// Random grammars with large states (so that the index is used), mixed
// case duplicates, null arcs and calls of two sub-grammars. With loops set,
// null arcs may go back and the sub-grammars call each other, so that
// loops and recursions that consume nothing occur.
std::string RandomNetwork(std::mt19937& rng, int states, int arcs, bool calls, bool loops = false)
{
    const char* vocab[] = {"a", "A", "b", "B", "c"};
    std::string t;
    for (int s = 0; s < states; s++) {
        t += std::to_string(s) + ": ";
        for (int k = 0, n = 1 + (int)(rng() % (unsigned)arcs); k < n; k++) {
            int kind = (int)(rng() % 10), to = (int)(rng() % (unsigned)(states + 1));
            int fwd = loops ? to : s + 1 + (int)(rng() % (unsigned)(states - s));
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
    for (int round = 0; round < 300; round++) {
        bool loops = round % 2;
        std::unique_ptr<TFSG> g(Make(RandomNetwork(rng, 4, loops ? 6 : 14, true, loops),
                                     {RandomNetwork(rng, 2, loops ? 4 : 12, loops, loops),
                                      RandomNetwork(rng, 2, 3, loops, loops)}));
        // Every other round with the word classes and arc index a loaded grammar has.
        if (round % 4 < 2) BuildMatchIndex(g.get());
        for (int trial = 0; trial < 20; trial++) {
            TStringList in;
            for (int k = 0, len = (int)(rng() % 5); k < len; k++) in.Add(mbstring(vocab[rng() % 4]));
            ASSERT_TRUE(AgreesWithReference(g.get(), in, accepted)) << round << "/" << trial;
        }
    }
    EXPECT_GT(accepted, 200);
}

// Random grammars compiled in both modes, written and read back: the matcher
// accepts what the notation means, and whatever paths the compiler leaves,
// its first one is the plain recursion's.
TEST(Match, CompiledGrammarsMeanWhatTheNotationSays)
{
    using namespace grammar_gen;
    int accepted = 0;
    for (unsigned seed = 1; seed <= 300; seed++) {
        Grammar gr = Generator(seed).Make();
        std::string text = Text(gr);
        for (const Mode& m : kModes) {
            std::string err = Thrown([&] {
                Compiled comp(text, m);
                fsg_build::TempFile file;
                comp.fsgs[0]->WriteFile(file.c_str());
                std::unique_ptr<TFSG> g(new TFSG(mbstring("loaded"), TSubFSG::EqNorm));
                g->ReadFile(file.c_str(), 0);
                for (const auto& s : Sentences()) {
                    TStringList in;
                    for (const std::string& w : s) in.Add(mbstring(w.c_str()));
                    int before = accepted;
                    ASSERT_TRUE(AgreesWithReference(g.get(), in, accepted)) << m.name << " " << seed << "\n" << text;
                    ASSERT_EQ(accepted > before, Meaning(gr, s).Accepts()) << m.name << " " << seed << "\n" << text;
                }
            });
            EXPECT_EQ(err, "(no error)") << m.name << " " << seed << "\n" << text;
        }
    }
    EXPECT_GT(accepted, 1200);
}

} // namespace

// Tests of matching and the sub-string search (tests/data/match.txt), very
// long inputs, and the matcher against a plain recursion on random grammars.
#include "cases.h"
#include "fsg_build.h"
#include "grammar_gen.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

namespace {

using fsg_build::Make;
using fsg_build::Thrown;
using Words = std::vector<std::string>;
using Strings = std::vector<std::string>;

struct Result {
    double p;
    int prefix;
    Strings actions; // "-" for a null entry
};

Result MatchWords(TFSG* g, const Words& words, const Words* tags = nullptr)
{
    TStringList in, tl, out;
    for (const std::string& w : words) in.Add(mbstring(w.c_str()));
    for (size_t i = 0; tags && i < tags->size(); i++) tl.Add(mbstring((*tags)[i].c_str()));
    Result r{0, 0, {}};
    r.p = g->Match(in, tags ? &tl : nullptr, out, &r.prefix);
    for (int i = 0; i < out.length; i++) r.actions.push_back(out[i].s ? out[i].s : "-");
    return r;
}

// The search from every start position (or only from one), its results as
// read back: "start-end@prob".
std::string Search(TFSG* g, const Words& words, int only_start = -1)
{
    TStringList in;
    for (const std::string& w : words) in.Add(mbstring(w.c_str()));
    SubStrsHandler h;
    for (int s = 0; s < in.length; s++)
        if (only_start < 0 || s == only_start) g->SubStrs(in, &h, s, s, 1.0, g->Initial(), nullptr);
    std::string out;
    while (MySubStrTuple* t = h.getNext()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%d-%d@%g", out.empty() ? "" : " ", t->start_index, t->end_index, t->prob);
        out += buf;
    }
    return out;
}

TEST(Match, Table)
{
    std::vector<std::string> interns;
    for (const cases::Case& c : cases::Read("match.txt")) {
        SCOPED_TRACE(c.at);
        if (c[0] == "interns") {
            std::string rest = c[1] + " | ";
            interns.clear();
            for (size_t at; (at = rest.find(" | ")) != std::string::npos; rest.erase(0, at + 3)) interns.push_back(rest.substr(0, at));
            continue;
        }
        std::unique_ptr<TFSG> g(Make(c[1], interns));
        if (c[0] == "search") {
            EXPECT_EQ(Search(g.get(), graph_dump::Words(c[2])), c[3]);
            continue;
        }
        Words tags = graph_dump::Words(c[3]);
        Result r = MatchWords(g.get(), graph_dump::Words(c[2]), c[0] == "tags" ? &tags : nullptr);
        char head[64];
        std::snprintf(head, sizeof head, "%g %d", r.p, r.prefix);
        std::string got = head;
        for (size_t i = 0; r.p > 0 && i < r.actions.size(); i++) got += " " + r.actions[i];
        EXPECT_EQ(got, c.fields.back());
    }
}

TEST(Match, ExternsReturnToTheCallersInterns)
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
    testing::internal::CaptureStdout();
    std::string found = Search(g.get(), {"x", "z", "y"}, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "To load extern fsg: <match_ext>\nLoad extern fsg: <match_ext>\n");
    EXPECT_EQ(found.substr(0, found.find('@')), "0-2");
}

TEST(Match, Errors)
{
    std::unique_ptr<TFSG> missing(Make("0: a->1; 1: <3>->*"));
    EXPECT_EQ(Thrown([&] { MatchWords(missing.get(), {"a", "b"}); }), "Can't open an intern fsg: 3!\n");
    EXPECT_EQ(Thrown([&] { Search(missing.get(), {"a"}); }), "Can't open an intern fsg: 3!\n");
    std::unique_ptr<TFSG> null_path(Make("0: a->*, _->*"));
    EXPECT_EQ(Thrown([&] { Search(null_path.get(), {"b"}); }), "Warning: check if there is null path in fsg!\n");
    // An extern that is not loaded is one word, its bracketed name, as in matching.
    std::unique_ptr<TFSG> ext(Make("0: a->1, $<match_never>->1; 1: _->*"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(Search(ext.get(), {"<Match_Never>", "a", "match_never"}), "1-1@1 0-0@1");
    std::string lines;
    for (int i = 0; i < 3; i++) lines += "To load extern fsg: <match_never>\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), lines);
    std::unique_ptr<TFSG> bad_action(Make("0: a/{}->*"));
    TStringList in;
    in.Add(mbstring("a"));
    mbstring out;
    int prefix = 0;
    EXPECT_NE(Thrown([&] { bad_action->Match(in, nullptr, out, &prefix); }), "(no error)");
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
    std::string found = Search(std::unique_ptr<TFSG>(Make("0: a->1; 1: _->*, a->1")).get(), words, 0);
    EXPECT_EQ(std::count(found.begin(), found.end(), ' '), 99999);
    EXPECT_EQ(found.substr(0, 10), "0-99999@1 ");
    words.push_back("b");
    EXPECT_EQ(MatchWords(via_intern.get(), words).p, 0);
}

// An arc added after a match is found by the next one, in an indexed state.
TEST(Match, IndexedStatesFollowChanges)
{
    std::string text = "0: ";
    for (int i = 0; i < 20; i++) text += "w" + std::to_string(i) + "/" + std::to_string(i) + "->*, ";
    std::unique_ptr<TFSG> g(Make(text + "_->*"));
    EXPECT_EQ(MatchWords(g.get(), {"w20"}).p, 0);
    g->states[0]->AddArc(nullptr, 1, mbstring("w20"), mbstring("new"), OpNone);
    EXPECT_EQ(MatchWords(g.get(), {"w20"}).actions, Strings{"new"});
}

// A word list's arcs are taken through one of them only while they differ in
// their word alone: the indexed grammar answers as the plain one.
TEST(Match, IndexedWordListsKeepEachArc)
{
    for (const char* odd : {"w5->1", "w5/X->1", "w5->2", "w5->1@0.5"}) {
        std::string text = "0: ";
        for (int i = 0; i < 10; i++) text += (i == 5 ? std::string(odd) : "w" + std::to_string(i) + "->1") + ", ";
        text += "_->*; 1: _->*; 2: b->*";
        std::unique_ptr<TFSG> plain(Make(text)), indexed(Make(text));
        BuildMatchIndex(indexed.get());
        for (const Words& words : {Words{"w5"}, Words{"w5", "b"}, Words{"W4"}}) {
            SCOPED_TRACE(text + " / " + words[0]);
            Result want = MatchWords(plain.get(), words), got = MatchWords(indexed.get(), words);
            EXPECT_EQ(got.p, want.p);
            EXPECT_EQ(got.prefix, want.prefix);
            EXPECT_EQ(got.actions, want.actions);
        }
    }
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

TEST(Match, AgreesWithThePlainRecursionOnRandomGrammars)
{
    std::mt19937 rng(12345);
    const char* vocab[] = {"a", "b", "c", "A"};
    int accepted = 0;
    for (int round = 0; round < 300; round++) {
        bool loops = round % 2;
        std::unique_ptr<TFSG> g(Make(graph_dump::RandomNetwork(rng, 4, loops ? 6 : 14, true, loops),
                                     {graph_dump::RandomNetwork(rng, 2, loops ? 4 : 12, loops, loops),
                                      graph_dump::RandomNetwork(rng, 2, 3, loops, loops)}));
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

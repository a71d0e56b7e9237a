// Tests of the graph data model and the passes on networks in the
// graph_dump notation (tests/data/passes.txt), normalisation's numbering,
// and the iterative walks against their recursive definitions.
#include "cases.h"
#include "graph_dump.h"

#include <cstdint>
#include <map>

namespace {

using graph_dump::Build;
using graph_dump::Dump;
using graph_dump::Line;
using graph_dump::WarningsCollected;

std::string Flags(TSubFSG* g)
{
    std::string out;
    for (int i = 0; i < g->states.length; i++) out += (i ? " " : "") + std::to_string(g->states[i]->flag);
    return out;
}

// Resolves intern names to networks it owns, recording each request.
class Interns : public TFSGDictionary {
public:
    std::map<std::string, TSubFSG*> subs;
    std::vector<std::string> calls;
    TFSG* self = nullptr; // returned for the name "<self>"

    TSubFSG* Add(TFSG* f, const char* name, const char* graph)
    {
        TSubFSG* s = new TSubFSG(name, f);
        s->intern = 1;
        s->AddRef();
        Build(s, graph);
        return subs[name] = s;
    }
    TSubFSG* GetFSG(mbstring name, int needtr, TFSG* fsg) override
    {
        EXPECT_EQ(fsg, nullptr);
        calls.push_back(std::string(name.s) + (needtr ? "+" : "-"));
        if (self && std::string(name.s) == "<self>") return self;
        return subs.at(name.s);
    }
    ~Interns()
    {
        for (auto& e : subs) e.second->DelRef();
    }
};

// The texts of a list, then the word ids of every state's arcs.
std::string Listed(const TWordList& l, TSubFSG* n = nullptr)
{
    std::string out;
    for (int i = 0; i < l.length; i++) {
        out += l[i]->word.s ? "'" + std::string(l[i]->word.s) + "'" : "null";
        out += "=" + std::to_string(l[i]->id) + " ";
    }
    for (int i = 0; n && i < n->states.length; i++) {
        out += "|";
        for (int j = 0; j < n->states[i]->arcs.length; j++) out += " " + std::to_string(n->states[i]->arcs[j]->word->id);
    }
    return out;
}

TEST(Passes, Table)
{
    const std::map<std::string, std::function<std::string(TFSG&, const std::string&)>> passes = {
        {"nullarcs", [](TFSG& g, const std::string&) { return g.EliminateNullArcs(), ""; }},
        {"determinize", [](TFSG& g, const std::string&) { return g.EliminateDuplicateArcs(), ""; }},
        {"sort", [](TFSG& g, const std::string&) { return g.Initial()->arcs.Sort(), ""; }},
        {"sort2", [](TFSG& g, const std::string&) { return g.Initial()->arcs.Sort2(), ""; }},
        {"optimize",
         [](TFSG& g, const std::string& arg) {
             g.eq = arg == "arcprob" ? TSubFSG::EqArcProb : TSubFSG::EqNorm;
             g.Optimize();
             for (int i = 0; i < g.states.length; i++) EXPECT_EQ(g.states[i]->optimized, g.states[i]);
             return "";
         }},
        {"reachable",
         [](TFSG& g, const std::string&) {
             for (int i = 0; i < g.states.length; i++) g.states[i]->flag = 7; // cleared first
             return g.Reachable(), Flags(&g);
         }},
        {"split", [](TFSG& g, const std::string&) { return g.EngineBug(), ""; }},
        {"ops",
         [](TFSG& g, const std::string& arg) {
             g.use_null_arcs = arg == "null";
             return g.ExpandOps(), "";
         }},
        {"pre",
         [](TFSG& g, const std::string& arg) {
             return g.Initial()->AddArcPreAction(g.Initial()->arcs[0], arg.empty() ? mbstring() : arg.c_str()), "";
         }},
        {"post",
         [](TFSG& g, const std::string& arg) {
             return g.Initial()->AddArcPostAction(g.Initial()->arcs[0], arg.empty() ? mbstring() : arg.c_str()), "";
         }},
        {"propagate", [](TFSG& g, const std::string&) { return std::to_string(g.PropagateAnnotations()); }},
        {"duplicates",
         [](TFSG& g, const std::string&) {
             testing::internal::CaptureStderr();
             int n = g.DeleteAmbiguousArcs();
             std::string printed = testing::internal::GetCapturedStderr();
             return std::to_string(n) + (printed.empty() ? "" : " " + printed);
         }},
        {"normalize",
         [](TFSG& g, const std::string& arg) {
             graph_dump::WarningsCollected w;
             g.use_null_arcs = arg == "null";
             g.Normalize();
             EXPECT_EQ(g.normalized, 1);
             return Listed(g.words, &g) + "; " + Listed(g.annos) + w.Text();
         }},
        {"probs", [](TFSG& g, const std::string&) { return g.NormalizeArcProbabilities(), ""; }},
        {"equalize", [](TFSG& g, const std::string&) { return g.EqualizeArcProbabilities(), ""; }},
        {"uniform", [](TFSG& g, const std::string&) { return g.UniformArcWeights(1.0f), ""; }},
        {"sentences", [](TFSG& g, const std::string&) { return g.EqualizeSentenceProbabilities(), Flags(&g); }},
        {"enumerate",
         [](TFSG& g, const std::string& arg) {
             int o[5];
             std::sscanf(arg.c_str(), "%d %d %d %d %d", &o[0], &o[1], &o[2], &o[3], &o[4]);
             g.normalized = 1;
             std::string out = graph_dump::Captured([&] { g.Enumerate(o[0], o[1], o[2], o[3], o[4]); });
             EXPECT_EQ(Flags(&g).find_first_not_of("0 "), std::string::npos); // path counts unwound
             return out;
         }},
    };
    for (const cases::Case& c : cases::Read("passes.txt")) {
        SCOPED_TRACE(c.at);
        std::string name = c[0].substr(0, c[0].find(' '));
        std::string arg = name.size() < c[0].size() ? c[0].substr(name.size() + 1) : "";
        ASSERT_EQ(passes.count(name), 1u) << name;
        TFSG g("g", TSubFSG::EqNorm);
        Build(&g, c[1]);
        std::string result = passes.at(name)(g, arg);
        EXPECT_EQ((result.empty() ? "" : "[" + result + "] ") + Line(&g), cases::Unescape(c[2]));
        EXPECT_EQ(g.nextid, g.states.length);
    }
}

TEST(TWordList, LookupAndIndexedAdd)
{
    TFSG g("g", TSubFSG::EqNorm);
    // Add always appends; Lookup finds the first and adds only when asked.
    TWord* a = g.externs.Add("a");
    EXPECT_NE(g.externs.Add("a"), a);
    EXPECT_EQ(g.externs.Lookup("a", 0), a);
    EXPECT_EQ(g.externs.Lookup("b", 0), nullptr);
    TWord* b = g.externs.Lookup("b", 1);
    EXPECT_EQ(b->id, a->id + 2);
    EXPECT_EQ(b->kind, TWord::Extern);
    EXPECT_EQ(g.externs.Lookup("b", 0), b);
    EXPECT_EQ(g.annos.Lookup(mbstring(), 1), g.annos[0]);
    EXPECT_EQ(g.annos.length, 1);

    // Indexed Add places, renames (the map follows) and checks the id.
    TWordList l(0, TWord::Intern);
    TWord* x = l.Add(3, "x", 7);
    ASSERT_EQ(l.length, 4);
    EXPECT_EQ(l[2], nullptr);
    EXPECT_EQ(l.Add(3, "y", 7), x);
    EXPECT_EQ(l.Lookup("y", 0), x);
    EXPECT_EQ(l.Lookup("x", 0), nullptr);
    EXPECT_EQ(graph_dump::Thrown([&] { l.Add(3, "z", 8); }), "id changed (id 8 w->id 7)");
}

TEST(TState, ArcBuildingAndEditing)
{
    TFSG g("g", TSubFSG::EqNorm);
    const char* text = "0: a->1@0.5, b!/{1} x->2@0.5\n1: <r>?->2@1, $<city>+->*@1\n2: _/Y->*@1, c*->0@0.125\n";
    Build(&g, text);
    EXPECT_EQ(Dump(&g), text);

    g.states[2]->DelArcs(0, 0);
    g.Initial()->DelArcs(0, 1);
    g.states[1]->DelArcs(1, 5); // clipped at the end
    EXPECT_EQ(Dump(&g, false), "0: b!/{1} x->2\n1: <r>?->2\n2: _/Y->*, c*->0\n");

    // Only an arc into a network clears that network's normalized flag.
    TSubFSG other("<o>", &g);
    g.normalized = other.normalized = 1;
    g.Initial()->AddArc(nullptr, 1, "a", mbstring(), OpNone);
    g.Initial()->AddArc(other.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 1);
    EXPECT_EQ(other.normalized, 0);
    g.Initial()->AddArc(g.Initial(), 1, "a", mbstring(), OpNone);
    EXPECT_EQ(g.normalized, 0);
}

TEST(TState, Accepting)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: _->*@0.25, a->1;1: a->*@0.5, _->*@0.5");
    EXPECT_EQ(g.states[0]->Accepting(), 0.25f);
    EXPECT_EQ(g.states[1]->Accepting(), 0.0f); // only the first arc counts
    EXPECT_EQ(TState::Accepting(nullptr), 1.0f);
    EXPECT_EQ(g.AddState()->Accepting(), 0.0f);
}

// Annotations left unused (by a deleted arc, or never placed) go, and the
// rest are numbered again.
TEST(Normalize, KeepsOnlyUsedAnnotations)
{
    TFSG g("<<g>>", TSubFSG::EqNorm);
    Build(&g, "0: a/A->1, b/B->*\n1: c/C->*");
    g.annos.Lookup("unused", 1);
    Build(&g, "1: d/D->*");
    g.Initial()->DelArcs(1, 1);
    g.Normalize();
    EXPECT_EQ(Listed(g.annos), "null=0 'A'=1 'C'=2 'D'=3 ");
    EXPECT_EQ(g.annos.Lookup("C", 0), g.annos[2]);
    EXPECT_EQ(g.annos.Lookup("B", 0), nullptr);
}

TEST(Normalize, InternsCountDownFromTopAndExternsContinueBelow)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Interns d;
    f.dictionary = &d;
    TSubFSG* a = d.Add(&f, "<a>", "0: x->*");
    TSubFSG* b = d.Add(&f, "<b>", "0: y->*");
    TSubFSG* c = d.Add(&f, "<c>", "0: z->*");
    TState* t = f.AddState();
    f.Initial()->AddArcX(t, 1.0f, f.with.Lookup("<b>", 1), nullptr, OpNone);
    f.Initial()->AddArcX(t, 1.0f, f.with.Lookup("<a>", 1), nullptr, OpNone);
    f.Initial()->AddArcX(t, 1.0f, f.without.Lookup("<c>", 1), nullptr, OpNone);
    Build(&f, "1: $<x>->*, $<w>->*");
    f.Normalize();

    EXPECT_EQ(d.calls, (std::vector<std::string>{"<b>+", "<a>+", "<c>-"}));
    EXPECT_EQ(Listed(f.with), "'<b>'=65535 '<a>'=65534 ");
    EXPECT_EQ(Listed(f.without), "'<c>'=65533 ");
    EXPECT_EQ(Listed(f.externs), "'<w>'=65532 '<x>'=65531 ");
    EXPECT_EQ(std::vector<TSubFSG*>(f.intern_fsgs.elements, f.intern_fsgs.elements + f.intern_fsgs.length),
              (std::vector<TSubFSG*>{b, a, c}));
    // The intern networks were normalised too; their words share the table.
    EXPECT_EQ(Listed(f.words, c), "''=0 'x'=1 'y'=2 'z'=3 | 3");

    // A second run replaces its references instead of adding to them.
    EXPECT_EQ(a->refcnt, 2);
    f.Normalize();
    EXPECT_EQ(a->refcnt, 2);
    EXPECT_EQ(f.intern_fsgs.length, 3);

    TFSG s("<<g>>", TSubFSG::EqNorm);
    d.self = &s;
    s.dictionary = &d;
    s.Initial()->AddArcX(nullptr, 1.0f, s.with.Lookup("<self>", 1), nullptr, OpNone);
    EXPECT_EQ(graph_dump::Thrown([&] { s.Normalize(); }), "<self> cannot be an intern sub-grammar of itself");
}

// The build pass over a grammar without references: the annotation level
// decides whether ambiguous arcs are deleted. Each deletion is printed on
// standard error whatever the warning switch; the count is a warning.
TEST(Compile, AnnotationLevelDecidesAboutAmbiguousArcs)
{
    Interns d;
    const char* deleted = "\tDeleted 1 ambiguous arcs (differed only in annotations)\n\n";
    for (int level = 0; level < 3; level++)
        for (int switched : {0, 1}) {
            WarningsCollected w;
            warnings = switched;
            TFSG f("<<g>>", TSubFSG::EqNorm);
            Build(&f, "0: w/a->*@0.3, w/b->*@0.7");
            testing::internal::CaptureStderr();
            f.Compile(&d, 1, level);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), level ? "Deleting duplicate arc 'w' : a\n" : "") << level;
            EXPECT_EQ(w.Text(), level && switched ? deleted : "") << level;
            EXPECT_EQ(Dump(&f), level ? "0: w/b->*@0.7\n" : "0: w/a->*@0.3, w/b->*@0.7\n") << level;
        }
}

TEST(Passes, AddArcsFromStateAppendsScaledCopies)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: z->*@0.5; 1: a->2@0.5, b/B->*@0.25; 2: _->*");
    g.states[0]->AddArcsFromState(g.states[1], 0.5f, mbstring("pre"));
    EXPECT_EQ(Line(&g), "0: z->*@0.5, a/pre->2@0.25, b/B->*@0.125; 1: a->2@0.5, b/B->*@0.25; 2: _->*");
    EXPECT_EQ(g.states[1]->flag, 1);
    // From itself: the arcs it had at the call, once.
    TFSG h("h", TSubFSG::EqNorm);
    Build(&h, "0: a->0@0.5, b->*@0.5");
    h.Initial()->AddArcsFromState(h.Initial(), 0.5f, mbstring());
    EXPECT_EQ(Line(&h), "0: a->0@0.5, b->*@0.5, a->0@0.25, b->*@0.25");
}

// An action handed in straight from an earlier merge lives in the merge's
// own result buffer; the new merge must not read it while overwriting it.
TEST(Passes, ActionFromAnEarlierMergeSurvives)
{
    TFSG g("g", TSubFSG::EqNorm);
    Build(&g, "0: w/h({1})->*, v/h({1})->*");
    TState* s = g.Initial();
    s->AddArcPreAction(s->arcs[0], MergeActions("g({1})", "f({1})"));
    s->AddArcPostAction(s->arcs[1], MergeActions("g({1})", "f({1})"));
    EXPECT_EQ(Line(&g), "0: w/h(f(g({1})))->*, v/f(g(h({1})))->*");
}

// The state array grows while the split walks it; many states entering the
// start make the walk outlive the storage it began with.
TEST(Passes, SplitSurvivesStateArrayGrowth)
{
    TFSG g("g", TSubFSG::EqNorm);
    const int n = 39; // states 0..39 fill a capacity of 40 exactly
    for (int i = 1; i <= n; i++) {
        TState* s = g.AddState();
        g.Initial()->AddArc(s, 1.0f / n, "w", mbstring(), OpNone);
        s->AddArc(g.Initial(), 1.0f, "back", mbstring(), OpNone);
    }
    ASSERT_EQ(g.states.nelements, g.states.length);
    g.EngineBug();
    ASSERT_EQ(g.states.length, n + 2);
    for (int i = 1; i <= n; i++) EXPECT_EQ(g.states[i]->arcs[0]->state, g.states[n + 1]);
    EXPECT_EQ(g.states[n + 1]->arcs.length, n);
}

// ---- the iterative walks against their recursive definitions ----

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
    g->states[r->id] = g->states[0];
    g->states[0] = r;
    delete g->opts;
    g->opts = nullptr;
    g->Compress();
}

int RefSentences(TState* s)
{
    if (!s) return 1;
    if (s->flag >= 0) return s->flag;
    s->flag = 0;
    int total = 0, zeros = 0;
    for (int i = 0; i < s->arcs.length; i++) {
        int k = RefSentences(s->arcs[i]->state);
        total += k;
        zeros += !k;
    }
    for (int i = 0; i < s->arcs.length; i++) {
        int k = RefSentences(s->arcs[i]->state);
        s->arcs[i]->p = k ? (zeros ? 0.5f / total : 1.0f / total) * k : 0.5f / zeros;
    }
    return s->flag = total;
}

// On cyclic networks the counts, the representatives and the sentence
// shares depend on the visiting order.
TEST(Passes, IterativeWalksFollowTheRecursiveOrder)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 500; round++) {
        int n = 2 + round % 9;
        std::string text = graph_dump::RandomNetwork(rng, n, 3, false, true);
        TFSG g("g", TSubFSG::EqNorm), ref("g", TSubFSG::EqNorm);
        Build(&g, text);
        Build(&ref, text);
        g.Reachable();
        ref.ClearStateFlags();
        RefReachable(ref.Initial());
        ASSERT_EQ(Flags(&g), Flags(&ref)) << text;
        // Flags left negative by another pass are walked as the recursion walks them.
        for (int i = 0; i < g.states.length; i++) g.states[i]->flag = ref.states[i]->flag = -1;
        g.Initial()->Reachable();
        RefReachable(ref.Initial());
        ASSERT_EQ(Flags(&g), Flags(&ref)) << text;

        TFSG s("s", TSubFSG::EqNorm), sref("s", TSubFSG::EqNorm);
        Build(&s, text);
        Build(&sref, text);
        s.EqualizeSentenceProbabilities();
        for (int i = 0; i < sref.states.length; i++) sref.states[i]->flag = -1;
        RefSentences(sref.Initial());
        ASSERT_EQ(Flags(&s) + Dump(&s), Flags(&sref) + Dump(&sref)) << text;

        g.Optimize();
        RefOptimize(&ref);
        ASSERT_EQ(Dump(&g), Dump(&ref)) << text;
    }
}

// A sequence of two-way choices: layer i has 2^(layers - i) sentences.
TEST(Passes, HugeSentenceCountsDoNotWrap)
{
    for (int layers : {40, 2000}) {
        TFSG g("g", TSubFSG::EqNorm);
        std::string text;
        for (int s = 0; s < layers; s++) text += std::to_string(s) + ": w->" + std::to_string(s + 1) + ", w->" + std::to_string(s + 1) + ";";
        Build(&g, text + std::to_string(layers) + ": _->*");
        g.EqualizeSentenceProbabilities();
        EXPECT_EQ(g.Initial()->flag, INT32_MAX) << layers;
        EXPECT_EQ(g.states[layers - 3]->flag, 8) << layers;
        std::string want;
        for (int s = 0; s < layers; s++) want += std::to_string(s) + ": w->" + std::to_string(s + 1) + "@0.5, w->" + std::to_string(s + 1) + "@0.5; ";
        EXPECT_EQ(Line(&g), want + std::to_string(layers) + ": _->*") << layers;
    }
}

} // namespace

// Tests of expansion: the recursion check, both passes over hand-built rule
// networks, copying a rule into the state that refers to it, and walks over
// very long or deeply nested grammars (the operators are in passes.txt).
#include "graph_dump.h"

#include <map>

namespace {

using graph_dump::Build;
using graph_dump::Dump;

// A rule set resolved by name. A rule body is alternatives separated by '|',
// items separated by blanks; "<name>" is a reference and a trailing '?', '+'
// or '*' sets the item's operator. Each alternative's first arc carries
// 1/(number of alternatives), as rule compilation gives it.
class Rules : public TFSGDictionary {
public:
    TFSG root{mbstring("<<g>>"), TSubFSG::EqNorm};
    std::map<std::string, TSubFSG*> subs;

    explicit Rules(int use_null_arcs = 0)
    {
        root.use_null_arcs = use_null_arcs;
        root.dictionary = this;
    }
    ~Rules()
    {
        for (auto& e : subs) e.second->DelRef();
    }

    TSubFSG* GetFSG(mbstring name, int, TFSG*) override
    {
        auto it = subs.find(name.s);
        if (it == subs.end()) Error("%s is undefined", name.s);
        return it->second;
    }

    TSubFSG* Rule(const std::string& name, const std::string& body, int intern = 0)
    {
        TSubFSG* n = &root;
        if (name != "<<g>>") {
            n = new TSubFSG(mbstring(name.c_str()), &root);
            n->AddRef();
            subs[name] = n;
        }
        n->intern = intern;
        std::vector<std::vector<std::string>> alts(1);
        for (const std::string& t : graph_dump::Words(body)) {
            if (t == "|")
                alts.emplace_back();
            else
                alts.back().push_back(t);
        }
        for (auto& alt : alts) {
            TState* from = n->Initial();
            float p = 1.0f / (float)alts.size();
            for (size_t i = 0; i < alt.size(); i++, p = 1.0f) {
                std::string w = alt[i];
                Op op = OpNone;
                char last = w.back();
                if (w.size() > 1 && (last == '?' || last == '+' || last == '*')) {
                    op = last == '?' ? OpOpt : last == '+' ? OpPlus : OpStar;
                    w.pop_back();
                }
                TState* to = i + 1 < alt.size() ? n->AddState() : nullptr;
                if (w[0] == '<')
                    from->AddInternArc(to, p, mbstring(w.c_str()), mbstring(), op);
                else
                    from->AddArc(to, p, mbstring(w.c_str()), mbstring(), op);
                from = to;
            }
        }
        return n;
    }

};

TEST(CheckRecursion, OnlyTailCyclesPass)
{
    const char* cases[][3] = { // the rules <a> and <b>, the error
        {"x <a> | y", "q", "(no error)"},
        {"<a> x | y", "q", "illegal recursive use of <a>"},
        {"x <a>? | y", "q", "illegal recursive use of <a>"},
        {"x <a>* | y", "q", "illegal recursive use of <a>"},
        {"x <b> | y", "z <a>", "(no error)"},
        {"x <b> w | y", "z <a>", "illegal recursive use of <a>"},
        {"x <b> | y", "z <a> w", "illegal recursive use of <a>"},
        {"<b> <b>", "z", "(no error)"},
        // <b> is met again, finished, through a reference that is not a tail.
        {"x <b> | y <b> z", "w <a>", "illegal recursive use of <b>"},
        {"x <b> | y <b> z", "w", "(no error)"},
    };
    for (auto& c : cases) {
        Rules r;
        r.Rule("<<g>>", "<a>");
        r.Rule("<a>", c[0]);
        r.Rule("<b>", c[1]);
        EXPECT_EQ(graph_dump::Thrown([&] { r.root.CheckRecursion(&r.root); }), c[2]) << c[0] << " / " << c[1];
        if (c[2][0] == '(') {
            EXPECT_FALSE(r.root.busy);
            EXPECT_EQ(r.subs["<a>"]->rlist_next, nullptr);
        }
    }
}

TEST(Expand, TailRecursionBecomesANullArcToTheRuleStart)
{
    Rules r(1);
    TSubFSG* a = r.Rule("<a>", "x <a> | y");
    a->states[1]->arcs[0]->anno = r.root.annos.Lookup("A", 1);
    a->Expand(1);
    EXPECT_EQ(Dump(a), "0: x->1@0.5, y->*@0.5\n1: _/A->0@1\n");
    EXPECT_EQ(a->pass, 1);
    EXPECT_FALSE(a->busy);
}

TEST(Expand, InternReferencesStayAndAreRelabelled)
{
    Rules r;
    r.Rule("<<g>>", "x <a> | <b>");
    r.Rule("<a>", "y", 1);
    r.Rule("<b>", "z", 1);
    r.root.states[1]->arcs[0]->needtr = 1; // <a>: the translation variant
    r.root.Expand(1);
    r.root.Expand(2);
    EXPECT_EQ(Dump(&r.root), "0: x->1@0.5, <b>->*@0.5\n1: <a>!->*@1\n");
    EXPECT_EQ(r.root.states[1]->arcs[0]->word, r.root.with.Lookup("<a>", 0));
    EXPECT_EQ(r.root.Initial()->arcs[1]->word, r.root.without.Lookup("<b>", 0));

    // A second reference re-walks a finished intern network that refers to
    // itself.
    Rules t;
    t.Rule("<<g>>", "<a> <a>");
    t.Rule("<a>", "x <a> | y", 1);
    t.root.CheckRecursion(&t.root);
    t.root.Expand(1);
    t.root.Expand(2);
    EXPECT_EQ(t.subs["<a>"]->pass, 2);
}

TEST(Copy, ScalesInitialArcsAndPlacesTheReferenceAnnotation)
{
    const char* dumps[] = {"0: q->1@1\n1:\n2: x->3@0.125, y->3@0.125\n3: z/A->1@1\n",
                           "0: q->1@1\n1:\n2: x->3@0.125, y->3@0.125\n3: z->4@1\n4: _/A->1@1\n"};
    for (int null_arcs = 0; null_arcs <= 1; null_arcs++) {
        Rules r(null_arcs);
        TSubFSG* src = r.Rule("<r>", "");
        Build(src, "0: x->1@0.5, y->1@0.5; 1: z->*");
        Build(&r.root, "0: q->1; 2:");
        src->Copy(&r.root, r.root.states[2], r.root.states[1], "A", 0.25f);
        EXPECT_EQ(Dump(&r.root), dumps[null_arcs]) << null_arcs;
        EXPECT_EQ(src->states[0]->copy, nullptr);
    }

    // Arcs into the start lead to a copy of the start with the rule's own
    // weights; only the start itself is scaled.
    Rules r;
    TSubFSG* src = r.Rule("<r>", "");
    Build(src, "0: y->*@0.5, x->0@0.5");
    Build(&r.root, "0: q->*");
    src->Copy(&r.root, r.root.Initial(), nullptr, mbstring(), 0.5f);
    EXPECT_EQ(Dump(&r.root), "0: q->*@1, y->*@0.25, x->1@0.25\n1: y->*@0.5, x->1@0.5\n");
}

// The depth of the graph and of rule nesting must not reach the call stack:
// a 200000-state rule copied twice (expansion merges the copies), then
// walked, counted and merged again.
TEST(ExpandSize, LongPathThroughThePasses)
{
    const int n = 200000;
    Rules r;
    r.Rule("<<g>>", "a <r> | b <r>");
    TSubFSG* src = r.Rule("<r>", "y");
    TState* s = src->Initial();
    for (int i = 0; i < n; i++) {
        TState* t = src->AddState();
        s->AddArc(t, 1.0f, "w", mbstring(), OpNone);
        s = t;
    }
    s->AddArc(nullptr, 1.0f, "y", mbstring(), OpNone);
    // Too long for a file; the passes must cope all the same.
    EXPECT_EQ(graph_dump::Thrown([&] { r.root.CheckRecursion(&r.root); }), "more than 64K states");
    r.root.Expand(1);
    r.root.Expand(2);
    ASSERT_EQ(r.root.states.length, n + 2);
    TState* i = r.root.Initial();
    ASSERT_EQ(i->arcs.length, 2);
    EXPECT_EQ(i->arcs[0]->state, i->arcs[1]->state);
    TArc* y = i->arcs[1]->state->arcs[0]; // the rule's first arc: "b y" is a sentence
    EXPECT_EQ(graph_dump::ArcText(y, false), "y->*");

    r.root.Reachable();
    EXPECT_EQ(r.root.states[n + 1]->flag, 1);
    r.root.EqualizeSentenceProbabilities();
    EXPECT_EQ(i->flag, 4);
    r.root.Optimize();
    EXPECT_EQ(r.root.states.length, n + 2);
}

TEST(ExpandSize, DeeplyNestedRuleReferences)
{
    const int kDepth = 10000;
    Rules r;
    r.Rule("<<g>>", "<r0>");
    for (int i = 0; i < kDepth; i++) {
        std::string next = i + 1 < kDepth ? "<r" + std::to_string(i + 1) + ">" : "y";
        r.Rule("<r" + std::to_string(i) + ">", "x " + next, 1);
    }
    r.root.CheckRecursion(&r.root);
    r.root.Expand(1);
    r.root.Expand(2);
    EXPECT_EQ(r.subs["<r9999>"]->pass, 2);
    EXPECT_EQ(r.root.without.length, kDepth);
    EXPECT_EQ(r.subs["<r0>"]->states[1]->arcs[0]->word, r.root.without.Lookup("<r1>", 0));
}

} // namespace

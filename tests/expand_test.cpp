// Tests of expansion: the recursion check, both passes over hand-built rule
// networks, copying a rule into the state that refers to it, the rewriting of
// repetition operators, and walks over very long or deeply nested grammars.
#include "tfsg.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

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

// A rule set resolved by name. Rules are written as alternatives separated
// by '|', items separated by blanks; "<name>" is a reference and a trailing
// '?', '+' or '*' sets the item's operator. Each alternative's first arc
// carries 1/(number of alternatives), like rule compilation does.
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
        TSubFSG* n = name == "<<g>>" ? &root : new TSubFSG(mbstring(name.c_str()), &root);
        if (n != &root) {
            n->AddRef();
            subs[name] = n;
        }
        n->intern = intern;
        std::vector<std::vector<std::string>> alts(1);
        std::istringstream in(body);
        for (std::string t; in >> t;) {
            if (t == "|")
                alts.emplace_back();
            else
                alts.back().push_back(t);
        }
        float p = 1.0f / (float)alts.size();
        for (auto& alt : alts) {
            TState* from = n->Initial();
            float q = p;
            for (size_t i = 0; i < alt.size(); i++) {
                std::string w = alt[i];
                Op op = OpNone;
                char last = w.back();
                if (w.size() > 1 && (last == '?' || last == '+' || last == '*')) {
                    op = last == '?' ? OpOpt : last == '+' ? OpPlus : OpStar;
                    w.pop_back();
                }
                TState* to = i + 1 < alt.size() ? n->AddState() : nullptr;
                if (w[0] == '<')
                    from->AddInternArc(to, q, mbstring(w.c_str()), mbstring(), op);
                else
                    from->AddArc(to, q, mbstring(w.c_str()), mbstring(), op);
                from = to;
                q = 1.0f;
            }
        }
        return n;
    }

    // The build pass up to determinisation, as the compiler runs it.
    void Compile()
    {
        root.CheckRecursion(&root);
        root.Expand(1);
        root.Expand(2);
        if (!root.use_null_arcs) {
            root.EliminateNullArcs();
            root.EliminateDuplicateArcs();
            root.Optimize();
        }
    }
};

// Whether the network accepts the words, following null arcs.
bool Accepts(TSubFSG& n, const std::string& sentence)
{
    std::vector<std::string> words;
    std::istringstream in(sentence);
    for (std::string w; in >> w;) words.push_back(w);
    std::set<std::pair<TState*, size_t>> seen;
    std::vector<std::pair<TState*, size_t>> todo{{n.Initial(), 0}};
    while (!todo.empty()) {
        auto cur = todo.back();
        todo.pop_back();
        if (!seen.insert(cur).second) continue;
        for (int k = 0; k < cur.first->arcs.length; k++) {
            TArc* a = cur.first->arcs[k];
            size_t pos = cur.second;
            if (a->word->id != 0) {
                if (a->word->kind != TWord::Word || pos >= words.size() || words[pos] != a->word->word.s)
                    continue;
                pos++;
            }
            if (!a->state) {
                if (pos == words.size()) return true;
            } else {
                todo.push_back({a->state, pos});
            }
        }
    }
    return false;
}

// True when every arc stays inside the network's own states.
bool SelfContained(TSubFSG& n)
{
    std::set<TState*> own;
    for (int i = 0; i < n.states.length; i++) own.insert(n.states[i]);
    for (int i = 0; i < n.states.length; i++)
        for (int k = 0; k < n.states[i]->arcs.length; k++) {
            TState* t = n.states[i]->arcs[k]->state;
            if (t && !own.count(t)) return false;
        }
    return true;
}

std::string ErrorOf(Rules& r)
{
    try {
        r.root.CheckRecursion(&r.root);
    } catch (char* msg) {
        return msg;
    }
    return "";
}

TEST(CheckRecursionTest, OnlyAllTailCyclesPass)
{
    struct Case {
        const char* a;
        const char* b;
        const char* error;
    } cases[] = {
        {"x <a> | y", "q", ""},
        {"<a> x | y", "q", "illegal recursive use of <a>"},
        {"x <a>? | y", "q", "illegal recursive use of <a>"},
        {"x <a>* | y", "q", "illegal recursive use of <a>"},
        {"x <b> | y", "z <a>", ""},
        {"x <b> w | y", "z <a>", "illegal recursive use of <a>"},
        {"x <b> | y", "z <a> w", "illegal recursive use of <a>"},
        {"<b> <b>", "z", ""},
    };
    for (const Case& c : cases) {
        Rules r;
        r.Rule("<<g>>", "<a>");
        r.Rule("<a>", c.a);
        r.Rule("<b>", c.b);
        EXPECT_EQ(ErrorOf(r), c.error) << c.a << " / " << c.b;
        if (!*c.error) {
            EXPECT_FALSE(r.root.busy);
            EXPECT_EQ(r.subs["<a>"]->rlist_next, nullptr);
        }
    }
}

TEST(ExpandTest, TailRecursionBecomesNullArcToRuleStart)
{
    Rules r(1);
    TSubFSG* a = r.Rule("<a>", "x <a> | y");
    a->states[1]->arcs[0]->anno = r.root.annos.Lookup("A", 1);
    a->Expand(1);
    // The state after x loops back by a null arc that carries the reference's
    // annotation; the network stays self-contained.
    EXPECT_EQ(Dump(*a), "0: x 0.5 >1, y 0.5 >$\n1: /A 1 >0\n");
    EXPECT_EQ(a->pass, 1);
    EXPECT_FALSE(a->busy);
}

TEST(ExpandTest, InternReferencesStayAndAreRelabelled)
{
    Rules r;
    r.Rule("<<g>>", "x <a> | <b>");
    r.Rule("<a>", "y", 1);
    r.Rule("<b>", "z", 1);
    r.root.states[1]->arcs[0]->needtr = 1; // <a>: the translation variant
    r.root.Expand(1);
    r.root.Expand(2);
    std::set<std::string> with, without;
    for (int i = 0; i < r.root.states.length; i++)
        for (int k = 0; k < r.root.states[i]->arcs.length; k++) {
            TWord* w = r.root.states[i]->arcs[k]->word;
            if (w->kind != TWord::Intern) continue;
            if (r.root.with.Lookup(w->word, 0) == w) with.insert(w->word.s);
            if (r.root.without.Lookup(w->word, 0) == w) without.insert(w->word.s);
        }
    EXPECT_EQ(with, std::set<std::string>{"<a>"});
    EXPECT_EQ(without, std::set<std::string>{"<b>"});
}

TEST(ExpandTest, InternRecursionReferencedTwiceTerminates)
{
    // The second reference re-walks a finished intern network whose own
    // reference leads back to it.
    Rules r;
    r.Rule("<<g>>", "<a> <a>");
    r.Rule("<a>", "x <a> | y", 1);
    r.Compile();
    EXPECT_EQ(r.subs["<a>"]->pass, 2);
    EXPECT_FALSE(r.subs["<a>"]->busy);
}

// Sentences each grammar must accept and reject, compiled with and without
// null arcs. The first two would be over-accepted if loops through a copied
// rule's start reached the referring state's other arcs.
TEST(ExpandTest, ExpandedGrammarsAcceptExactlyTheirLanguage)
{
    struct Case {
        std::vector<std::pair<const char*, const char*>> rules;
        std::vector<const char*> accept, reject;
    } cases[] = {
        {{{"<<g>>", "<r>? z"}, {"<r>", "x* y"}},
         {"z", "y z", "x y z", "x x y z"},
         {"x z", "x x z", "y", "x y", "x z z"}},
        {{{"<<g>>", "<r> | q"}, {"<r>", "x <r> | y"}},
         {"q", "y", "x y", "x x y"},
         {"x q", "x x q", "x", "q y"}},
        {{{"<<g>>", "<a> | <b>"}, {"<a>", "x <b> | y"}, {"<b>", "z <a>"}},
         {"y", "x z y", "z y", "z x z y"},
         {"x", "z", "x y", "z z y", "x z"}},
        {{{"<<g>>", "w <a> v"}, {"<a>", "<b> | y"}, {"<b>", "x+ y"}},
         {"w y v", "w x y v", "w x x y v"},
         {"w v", "w x v", "w y y v"}},
    };
    for (int null_arcs = 0; null_arcs <= 1; null_arcs++)
        for (const Case& c : cases) {
            Rules r(null_arcs);
            for (auto& rule : c.rules) r.Rule(rule.first, rule.second);
            r.Compile();
            std::string name = std::string(c.rules[0].second) + (null_arcs ? " (null arcs)" : "");
            EXPECT_TRUE(SelfContained(r.root)) << name;
            for (const char* s : c.accept) EXPECT_TRUE(Accepts(r.root, s)) << name << ": " << s;
            for (const char* s : c.reject) EXPECT_FALSE(Accepts(r.root, s)) << name << ": " << s;
        }
}

TEST(CopyTest, ScalesInitialArcsAndPlacesReferenceAnnotation)
{
    struct Case {
        int null_arcs;
        const char* dump;
    } cases[] = {
        {0, "0: q 1 >1\n1:\n2: x 0.125 >3, y 0.125 >3\n3: z/A 1 >1\n"},
        {1, "0: q 1 >1\n1:\n2: x 0.125 >3, y 0.125 >3\n3: z 1 >4\n4: /A 1 >1\n"},
    };
    for (const Case& c : cases) {
        Rules r(c.null_arcs);
        TSubFSG* src = r.Rule("<r>", "");
        TState* mid = src->AddState();
        src->Initial()->AddArc(mid, 0.5f, "x", nullptr, OpNone);
        src->Initial()->AddArc(mid, 0.5f, "y", nullptr, OpNone);
        mid->AddArc(nullptr, 1.0f, "z", nullptr, OpNone);
        r.root.Initial()->AddArc(r.root.AddState(), 1.0f, "q", nullptr, OpNone);
        TState* s = r.root.AddState();
        src->Copy(&r.root, s, r.root.states[1], "A", 0.25f);
        EXPECT_EQ(Dump(r.root), c.dump) << c.null_arcs;
        EXPECT_EQ(src->states[0]->copy, nullptr);
    }
}

TEST(CopyTest, LoopThroughStartGetsSeparateStartCopy)
{
    Rules r;
    TSubFSG* src = r.Rule("<r>", "y");
    src->Initial()->AddArc(src->Initial(), 0.5f, "x", nullptr, OpNone);
    src->Initial()->arcs[0]->p = 0.5f;
    TState* s = r.root.Initial();
    s->AddArc(nullptr, 1.0f, "q", nullptr, OpNone);
    src->Copy(&r.root, s, nullptr, mbstring(), 0.5f);
    // Arcs into the start lead to state 1, a copy of the start with the
    // rule's own weights; only the start itself is scaled.
    EXPECT_EQ(Dump(r.root), "0: q 1 >$, y 0.25 >$, x 0.25 >1\n1: y 0.5 >$, x 0.5 >1\n");
}

// Operators on one arc a/A (0 -> 1), rewritten with and without null arcs.
TEST(ExpandOpsTest, OperatorsBecomeArcsAndLoops)
{
    struct Case {
        Op op;
        int null_arcs;
        const char* dump;
    } cases[] = {
        {OpOpt, 0, "0: a/A 1 >1,  1 >1\n1:\n"},
        {OpPlus, 0, "0: a/A 1 >2\n1:\n2: a/A 0.5 >2,  0.5 >1\n"},
        {OpStar, 0, "0: a/A 0.5 >2,  0.5 >1\n1:\n2: a/A 0.5 >2,  0.5 >1\n"},
        {OpOpt, 1, "0: a/A 1 >1, /A 1 >1\n1:\n"},
        {OpPlus, 1, "0: a 1 >2\n1:\n2: a 0.5 >2, /A 0.5 >1\n"},
        {OpStar, 1, "0: a 0.5 >2, /A 0.5 >1\n1:\n2: a 0.5 >2, /A 0.5 >1\n"},
    };
    for (const Case& c : cases) {
        Rules r(c.null_arcs);
        r.root.Initial()->AddArc(r.root.AddState(), 1.0f, "a", "A", c.op);
        r.root.ExpandOps();
        EXPECT_EQ(Dump(r.root), c.dump) << (int)c.op << " null arcs " << c.null_arcs;
    }
}

TEST(ExpandOpsTest, TranslatedLoopCollectsRepetitions)
{
    Rules r(1);
    TArc* a = r.root.Initial()->AddArc(r.root.AddState(), 1.0f, "a", nullptr, OpPlus);
    a->needtr = 1;
    r.root.ExpandOps();
    TState* n = r.root.states[2];
    EXPECT_EQ(n->arcs[0]->needtr, 1);
    EXPECT_NE(n->arcs[0]->anno->word.s, nullptr);
    EXPECT_EQ(r.root.states[0]->arcs[0]->anno, r.root.annos[0]);
}

// Depth of the graph and of rule nesting must not reach the call stack.
TEST(ExpandSizeTest, LongPathInReferencedRule)
{
    const int kStates = 200000;
    Rules r;
    r.Rule("<<g>>", "<r> z");
    TSubFSG* src = r.Rule("<r>", "y");
    TState* s = src->Initial();
    for (int i = 0; i < kStates; i++) {
        TState* t = src->AddState();
        s->AddArc(t, 1.0f, "w", nullptr, OpNone);
        s = t;
    }
    s->AddArc(nullptr, 1.0f, "y", nullptr, OpNone);
    r.root.CheckRecursion(&r.root);
    r.root.Expand(1);
    r.root.Expand(2);
    EXPECT_GE(r.root.states.length, kStates);
    EXPECT_TRUE(Accepts(r.root, "y z"));
}

TEST(ExpandSizeTest, DeeplyNestedRuleReferences)
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

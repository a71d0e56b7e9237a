// Tests of the grammar front end: the BNF parser (tests/data/bnf.txt), rule
// compilation (rules.txt) and its caches, and expansion (the recursion
// check, both passes, copies, very long or deeply nested grammars).
#include "trule.h"

#include "cases.h"
#include "grammar_gen.h"
#include "graph_dump.h"
#include "ks_api.h"

#include <cstdio>
#include <map>

namespace {

using grammar_gen::Parsed;
using graph_dump::Build;
using graph_dump::Dump;
using graph_dump::Thrown;

// The dictionary in the form of tests/data/bnf.txt.
std::string Dump(TArray<TGrammar*>& grammars)
{
    TDictionary* d = grammars[0]->dictionary;
    std::string out;
    for (int i = 0; i < d->length; i++) {
        TDictionaryEntry* e = d->elements[i];
        out += e->name.s;
        if (!e->defined) out += "(undef)";
        else if (!e->value) out += "(extern)";
        else if (e->intermediate) out += "(i)";
        if (e->value) {
            out += " =";
            for (int r = 0; r < e->value->length; r++) {
                TRule* rule = e->value->elements[r];
                if (r) out += " |";
                if (rule->weight != 1.0f) {
                    char w[32];
                    snprintf(w, sizeof w, " +%g", rule->weight);
                    out += w;
                }
                for (int k = 0; k < rule->phrase.length; k++) {
                    TPhraseItem* it = rule->phrase.elements[k];
                    out += " ";
                    out += it->terminal && !it->word.s[0] ? "\"\"" : it->word.s;
                    if (it->anno.s) out += std::string(":") + it->anno.s;
                    if (it->needtr) out += "!";
                    if (it->op) out += "?+*"[it->op - 1];
                }
                if (rule->translation.s) out += std::string(" -> [") + rule->translation.s + "]";
                if (rule->dollar) out += "$";
                out += " @" + std::to_string(rule->line) + ":" + std::to_string(rule->col);
            }
            out += " .";
        }
        out += "\n";
    }
    out += "roots:";
    for (int i = 0; i < grammars.length; i++) {
        EXPECT_EQ(grammars[i]->dictionary, d);
        out += std::string(" ") + grammars[i]->root->name.s;
    }
    return out;
}

// Compiles the stream; returns the dump, or the error text. The generated
// names start at <_rule0>.
std::string Compile(TBNFStream& s)
{
    ruleno = 0;
    TArray<TGrammar*> grammars;
    try {
        s.Compile(grammars);
    } catch (char* msg) {
        EXPECT_EQ(grammars.length, 0);
        return msg;
    }
    std::string out = Dump(grammars);
    for (int i = 0; i < grammars.length; i++) {
        EXPECT_EQ(grammars[i]->roottr, s.NeedTr());
        delete grammars[i];
    }
    return out;
}

std::string Parse(const std::string& text, int annotations = 1, int numonly = 0)
{
    TBNFStream s(text.c_str(), (int)text.size());
    s.Annotations(annotations);
    s.NumOnly(numonly);
    return Compile(s);
}

TEST(BnfParse, Table)
{
    for (const cases::Case& c : cases::Read("bnf.txt")) {
        std::string text = cases::Unescape(c[1]);
        EXPECT_EQ(Parse(text, c[0] != "plain", c[0] == "numonly"), cases::Unescape(c[2])) << c.at;
    }
    const std::string deep(100000, '(');
    for (const std::string& text : {"<a> = " + deep + "b .", "<a> = b -> " + deep + " ."})
        EXPECT_EQ(Parse(text).rfind("groups nested more than", 0), 0u);
    std::string nested = Parse("<a> = " + std::string(50, '(') + "b" + std::string(50, ')') + " .");
    EXPECT_NE(nested.find("<_rule49>(i) = b @1:57 ."), std::string::npos) << nested;
}

TEST(BnfParse, GeneratedNamesCountAcrossCompiles)
{
    ruleno = 0;
    for (int round = 0; round < 2; round++) {
        const char text[] = "<a> = {b} (c) .";
        TBNFStream s(text, (int)sizeof text - 1);
        TArray<TGrammar*> grammars;
        s.Compile(grammars);
        EXPECT_STREQ(grammars[0]->dictionary->elements[2]->name.s, round ? "<_rule3>" : "<_rule1>");
        delete grammars[0];
    }
}

using BnfInclude = ks_api::Scratch;

// Includes are read in place, found beside the including file, with the
// default extension; each file is checked on its own for annotations, and
// translations count for all.
TEST_F(BnfInclude, ReadInPlace)
{
    Write("main.bnf", "<<a>> = <x> .\ninclude sub.\n<<c>> = <y> .");
    Write("sub.bnf", "<x> = x .\n<<b>> = include2 .\ninclude \"deeper/more.bnf\"\n");
    Write("deeper/more.bnf", "<y> = {y} .");
    Write("abs.bnf", "<a> = <x> .\ninclude \"" + dir + "/lib.bnf\"");
    Write("lib.bnf", "<l> = m .");
    Write("a.bnf", "include b\n<a> = w:1 <b> .");
    Write("b.bnf", "<b> = v -> x .");
    const char* cases[][2] = {
        {"main.bnf", "<<a>> = <x> @1:8 .\n<x> = x @1:6 .\n<<b>> = include2 @2:8 .\n<y> = <_rule0>! @1:6 .\n"
                     "<_rule0>(i) = y @1:8 .\n<<c>> = <y> @3:8 .\nroots: <<a>> <<b>> <<c>>"},
        {"abs.bnf", "<a> = <x> @1:6 .\n<l> = m @1:6 .\nroots: <a>"},
        {"a.bnf", "<b> = v -> [x] @1:6 .\n<a> = w:1 <b> @2:6 .\nroots: <a>"},
    };
    for (auto& c : cases) {
        TBNFStream s(Path(c[0]).c_str(), nullptr);
        EXPECT_EQ(Compile(s), c[1]) << c[0];
    }
}

// ---- rule compilation ----


// The translation of the first alternative of <r> after DefaultTranslation
// and the items' needtr flags.
std::string Defaulted(TRule* r, TFSG* f)
{
    EXPECT_EQ(Thrown([&] { r->DefaultTranslation(f); }), "(no error)");
    std::string marks;
    for (int i = 0; i < r->phrase.length; i++) marks += r->phrase.elements[i]->needtr ? '1' : '0';
    return std::string(r->translation.s ? r->translation.s : "(none)") + " " + marks;
}

TEST(RuleCompile, Table)
{
    for (const cases::Case& c : cases::Read("rules.txt")) {
        SCOPED_TRACE(c.at);
        ruleno = 0;
        TFSG f("<<g>>", TSubFSG::EqNorm);
        if (c[0] == "recursion") continue;
        if (c[0] == "default") {
            Parsed p("<r> = " + c[1] + " .\n<p> = p .\n<q> = q .");
            TRule* r = p.list("<r>")->elements[0];
            EXPECT_EQ(Defaulted(r, &f), c[2]);
            EXPECT_EQ(Defaulted(r, &f), c[2]); // compiled again: nothing changes
            continue;
        }
        Parsed p(cases::Unescape(c[1]));
        TSubFSG* sub = new TSubFSG("<r>", &f);
        sub->AddRef();
        graph_dump::WarningsCollected quiet;
        p.list("<r>")->Compile(p.dict(), c[0] == "list 1", sub);
        EXPECT_EQ(graph_dump::Line(sub), c[2]);
        sub->DelRef();
    }
}

// ---- whole roots ----

// Engine roots keep no network cached; in translation mode the intern
// networks stay cached for normalisation, but not the root's own network.
TEST(GrammarCompile, OnlyInternNetworksStayCached)
{
    Parsed e("<<g>> = a <r> <s>? .\n<r> = b | c .\n<s> = d .", 0);
    TFSG* f = e.grammars.elements[0]->Compile(0, 0, 0, 0, TSubFSG::EqArcProb);
    EXPECT_EQ(f->refcnt, 0);
    f->AddRef();
    for (const char* name : {"<<g>>", "<r>", "<s>"})
        EXPECT_EQ(e.list(name)->fsg_tr == nullptr && e.list(name)->fsg_no_tr == nullptr, true) << name;
    f->DelRef();

    Parsed p("<<g>> = a {<r>} .\n<r> = b | c .");
    TFSG* t = p.grammars.elements[0]->Compile(1, 1, 0, 1, TSubFSG::EqNorm);
    t->AddRef();
    TSubFSG* r = p.list("<r>")->fsg_tr;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->intern, 1);
    EXPECT_EQ(r->fsg, t);
    EXPECT_EQ(p.list("<<g>>")->fsg_tr, nullptr);
    t->Normalize();
    EXPECT_EQ(t->intern_fsgs.length, 2);
    t->DelRef();
}

// A failure (messages.txt has the texts) releases every network cached.
TEST(GrammarCompile, ErrorsReleaseEveryCachedNetwork)
{
    for (const char* text : {"<<g>> = a <r> .\n<r> = <missing> .", "<<g>> = <r> .\n<r> = a <s> | c .\n<s> = (b <r>) d ."}) {
        Parsed p(text);
        EXPECT_NE(Thrown([&] { p.grammars.elements[0]->Compile(0, 0, 0, 0, TSubFSG::EqNorm); }), "(no error)");
        EXPECT_EQ(p.list("<<g>>")->fsg_no_tr, nullptr);
        EXPECT_EQ(p.list("<r>")->fsg_no_tr, nullptr);
        EXPECT_EQ(p.grammars.elements[0]->rootfsg, nullptr);
    }
}

// Asked to compile into a given FSG, GetFSG never hands back a network that
// was cached for another one.
TEST(GrammarCompile, GetFSGIntoAnFSGReplacesAStaleCache)
{
    Parsed p("<<g>> = a <r> .\n<r> = b | c .");
    TGrammar* g = p.grammars.elements[0];
    TFSG* f = g->Compile(1, 1, 0, 1, TSubFSG::EqNorm);
    f->AddRef();
    ASSERT_NE(p.list("<r>")->fsg_no_tr, nullptr);
    TFSG* h = new TFSG("<r>", TSubFSG::EqNorm);
    h->AddRef();
    g->rootfsg = h;
    EXPECT_EQ(g->GetFSG("<r>", 0, h), h);
    EXPECT_EQ(p.list("<r>")->fsg_no_tr, h);
    EXPECT_EQ(Dump(h), "0: b->*@0.5, c->*@0.5\n");
    h->DelRef();
    f->DelRef();
}

// ---- expansion ----


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
    for (const cases::Case& c : cases::Read("rules.txt")) {
        if (c[0] != "recursion") continue;
        Rules r;
        r.Rule("<<g>>", "<a>");
        r.Rule("<a>", c[1]);
        r.Rule("<b>", c[2]);
        EXPECT_EQ(graph_dump::Thrown([&] { r.root.CheckRecursion(&r.root); }), c[3]) << c.at;
        if (c[3][0] == '(') {
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

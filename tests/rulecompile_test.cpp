// Tests of rule compilation: the network of each rule list, default and
// written translations with their renumbering and errors, and what
// TGrammar::Compile reports and keeps cached across roots.
#include "grammar_gen.h"
#include "graph_dump.h"

#include <cstring>

namespace {

using graph_dump::Dump;
using graph_dump::Thrown;
using graph_dump::WarningsCollected;

using grammar_gen::Parsed;

TEST(RuleListCompile, OnePathPerAlternativeWithWeightShares)
{
    const struct {
        const char* grammar;
        int needtr;
        const char* network; // the rule list <r> compiled alone
    } cases[] = {
        {"<r> = a .", 0, "0: a->*@1\n"},
        {"<r> = a b | +3 c .", 0, "0: a->1@0.25, c->*@0.75\n1: b->*@1\n"},
        {"<r> = a b? c* .", 0, "0: a->1@1\n1: b?->2@1\n2: c*->*@1\n"},
        {"<r> = +2 a <s> | b . <s> = x .", 0, "0: a->1@0.666667, b->*@0.333333\n1: <s>->*@1\n"},
        {"extern <e>. <r> = x <e> .", 0, "0: x->1@1\n1: $<e>->*@1\n"},
        // The extern is the single needed item: it passes its own translation.
        {"extern <e>. <r> = <e> .", 1, "0: $<e>!/{}->*@1\n"},
        {"<r> = \"\" | a .", 0, "0: _->*@0.5, a->*@0.5\n"},
        // Only the braced group is needed; the translation rides on the last
        // arc. Without translations nothing is marked and nothing attached.
        {"<r> = a {b} c -> x {1} y .", 1, "0: a->1@1\n1: <_rule0>!->2@1\n2: c/x {1} y->*@1\n"},
        {"<r> = a {b} c -> x {1} y .", 0, "0: a->1@1\n1: <_rule0>->2@1\n2: c->*@1\n"},
    };
    for (const auto& c : cases) {
        ruleno = 0;
        Parsed p(c.grammar);
        TFSG f("<<g>>", TSubFSG::EqNorm);
        TSubFSG* sub = new TSubFSG("<r>", &f);
        sub->AddRef();
        p.list("<r>")->Compile(p.dict(), c.needtr, sub);
        EXPECT_EQ(Dump(sub), c.network) << c.grammar;
        sub->DelRef();
    }
}

TEST(RuleListCompile, EmptyAlternativeWarnsAndStillCountsInTheTotal)
{
    WarningsCollected w;
    Parsed p("<r> =\n  | a .");
    TFSG f("<<g>>", TSubFSG::EqNorm);
    p.list("<r>")->Compile(p.dict(), 0, &f);
    EXPECT_EQ(Dump(&f), "0: a->*@0.5\n");
    EXPECT_EQ(w.Text(), "\tempty rule ignored; use \"\" for empty rule in \"<buffer>\", line 1, column 6\n");
}

// The translation of the first alternative of <r> after DefaultTranslation
// and the items' needtr flags, or the message it fails with.
std::string Defaulted(TRule* r, TFSG* f)
{
    std::string err = Thrown([&] { r->DefaultTranslation(f); }), marks;
    for (int i = 0; i < r->phrase.length; i++) marks += r->phrase.elements[i]->needtr ? '1' : '0';
    return err != "(no error)" ? err : std::string(r->translation.s ? r->translation.s : "(none)") + " " + marks;
}

TEST(DefaultTranslation, SettlesTranslationAndMarks)
{
    const char* cases[][2] = { // the alternatives of <r> (<p> and <q> are defined), the result
        {"a b c", "{1} {2} {3} 111"},
        {"a {b} c", "(none) 010"},
        {"{a} b {c}", "{1} {2} 101"},
        {"a", "(none) 1"},
        {"{<p>} b {<q>} -> f({2})", "f({1}) 001"},
        {"<p> and <q> -> $2 before $1", "{2} before {1} 101"},
        {"<p> and <q> -> g $2", "g {1} 001"},
        {"a b -> t {2}", "t {1} 01"},
        {"a b -> plain", "plain 00"},
        {"a b -> {3}", "too many args in rule in \"<buffer>\", line 1, column 6"},
        {"{a} b -> x", "too many marks in rule in \"<buffer>\", line 1, column 6"},
        {"{a} b -> {1} {2}", "too few marks in rule in \"<buffer>\", line 1, column 6"},
        {"<p> -> $1 $2", "too many args in rule in \"<buffer>\", line 1, column 6"},
        {"<p> x -> $1 $2", "too few marks in rule in \"<buffer>\", line 1, column 6"},
    };
    for (auto& c : cases) {
        Parsed p(std::string("<r> = ") + c[0] + " .\n<p> = p .\n<q> = q .");
        TRule* r = p.list("<r>")->elements[0];
        TFSG f("<<g>>", TSubFSG::EqNorm);
        EXPECT_EQ(Defaulted(r, &f), c[1]) << c[0];
        EXPECT_EQ(Defaulted(r, &f), c[1]) << c[0]; // compiled again: nothing changes
    }
}

// ---- whole roots ----

TEST(GrammarCompile, UnusedDefinitionsAreReportedOnlyForTheLastRoot)
{
    WarningsCollected w;
    Parsed p("<<a>> = x (p | q) .\n<<b>> = y <used> .\n<used> = u .\n<lost> = z .\nextern <ext>.");
    ASSERT_EQ(p.grammars.length, 2);
    TFSG* a = p.grammars.elements[0]->Compile(0, 0, 0, 0, TSubFSG::EqNorm);
    a->AddRef();
    EXPECT_EQ(w.Text(), "");
    TFSG* b = p.grammars.elements[1]->Compile(0, 0, 1, 0, TSubFSG::EqNorm);
    b->AddRef();
    EXPECT_EQ(w.Text(), "\t<lost> defined but not used in \"<buffer>\", line 4, column 1\n\t<ext> defined but not used\n");
    a->DelRef();
    b->DelRef();
}

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

TEST(GrammarCompile, ErrorsReleaseEveryCachedNetwork)
{
    // The messages point at the first reference of an undefined name (in
    // the source, not in the order of compiling) and at the recursive one.
    const char* cases[][2] = {
        {"<<g>> = a <r> .\n<r> = <missing> .", "<missing> is not defined in \"<buffer>\", line 2, column 7"},
        {"<<g>> = a <r> .\n<q> = x <missing> .\n<r> = <missing> .",
         "<missing> is not defined in \"<buffer>\", line 2, column 9"},
        {"<<g>> = <r> .\n<r> = a <r> b | c .", "illegal recursive use of <r> in \"<buffer>\", line 2, column 9"},
        {"<<g>> = <r> .\n<r> = a <s> | c .\n<s> = (b <r>) d .",
         "illegal recursive use of <r> in \"<buffer>\", line 3, column 10"}};
    for (auto& c : cases) {
        Parsed p(c[0]);
        EXPECT_EQ(Thrown([&] { p.grammars.elements[0]->Compile(0, 0, 0, 0, TSubFSG::EqNorm); }), c[1]);
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

} // namespace

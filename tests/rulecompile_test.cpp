// Tests of rule compilation: the network of each rule list, default and
// written translations with their renumbering (tests/data/rules.txt), and
// what TGrammar::Compile keeps cached across roots.
#include "cases.h"
#include "grammar_gen.h"
#include "graph_dump.h"

namespace {

using graph_dump::Dump;
using graph_dump::Thrown;

using grammar_gen::Parsed;

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

} // namespace

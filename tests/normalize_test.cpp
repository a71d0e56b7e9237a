// Tests of the normalisation pipeline: final word, intern, extern and
// annotation numbering, duplicate words, deletion of ambiguous arcs and the
// annotation levels of the build pass.
#include "graph_dump.h"
#include "tfsg.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using graph_dump::Build;

// Collects warnings in KsMsgBuf for the life of the object.
struct WarningsCollected {
    int saved = warnings;
    WarningsCollected()
    {
        warnings = 1;
        KsMsgBuf[0] = 0;
    }
    ~WarningsCollected() { warnings = saved; }
    std::string Text() const { return KsMsgBuf; }
};

// Resolves intern names to networks it owns, recording each request.
class Interns : public TFSGDictionary {
public:
    std::map<std::string, TSubFSG*> subs;
    std::vector<std::string> calls;
    TFSG* self = nullptr; // returned for the name "<self>"

    TSubFSG* Add(TFSG* f, const char* name)
    {
        TSubFSG* s = new TSubFSG(name, f);
        s->intern = 1;
        s->AddRef();
        subs[name] = s;
        return s;
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

std::vector<std::string> Texts(const TWordList& l)
{
    std::vector<std::string> out;
    for (int i = 0; i < l.length; i++) out.push_back(l.elements[i]->word.s ? l.elements[i]->word.s : "(null)");
    return out;
}

TEST(Normalize, KeepsOnlyTheNullAnnotationWhenNoArcCarriesOne)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: a->1, b->*\n1: c->*");
    f.Normalize();
    ASSERT_EQ(f.annos.length, 1);
    EXPECT_EQ(f.annos.elements[0]->id, 0);
    EXPECT_EQ(f.annos.elements[0]->word.s, nullptr);
    EXPECT_EQ(f.normalized, 1);
}

TEST(Normalize, DropsUnusedAnnotationsAndRenumbersTheRest)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: a/A->1, b/B->*\n1: c/C->*");
    f.annos.Lookup("unused", 1);
    Build(&f, "1: d/D->*");
    // B is created but its arc goes away before normalisation.
    f.states.elements[0]->DelArcs(1, 1);
    f.Normalize();
    EXPECT_EQ(Texts(f.annos), (std::vector<std::string>{"(null)", "A", "C", "D"}));
    for (int i = 0; i < f.annos.length; i++) EXPECT_EQ(f.annos.elements[i]->id, i);
    // The text map still finds the kept annotations.
    EXPECT_EQ(f.annos.Lookup("C", 0), f.annos.elements[2]);
    EXPECT_EQ(f.annos.Lookup("B", 0), nullptr);
}

TEST(Normalize, SortsWordsByTextAndKeepsTheNullWordFirst)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: b->1, a->1, A->1\n1: _->*");
    f.Normalize();
    EXPECT_EQ(Texts(f.words), (std::vector<std::string>{"", "A", "a", "b"}));
    for (int i = 0; i < f.words.length; i++) EXPECT_EQ(f.words.elements[i]->id, i);
    // Arcs are ordered by the new word ids.
    EXPECT_EQ(graph_dump::Dump(&f, false), "0: A->1, a->1, b->1\n1: _->*\n");
}

TEST(Normalize, RepeatedWordsGetACopyChainSharedByAllStates)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: w->1, w->2, w->3\n1: w->*, w->3, x->*\n2: _->*\n3: _->*");
    f.Normalize();
    ASSERT_EQ(Texts(f.words), (std::vector<std::string>{"", "w", "w", "w", "x"}));
    TState* s0 = f.states.elements[0];
    TState* s1 = f.states.elements[1];
    ASSERT_EQ(s0->arcs.length, 3);
    EXPECT_EQ(s0->arcs.elements[0]->word->id, 1);
    EXPECT_EQ(s0->arcs.elements[1]->word->id, 2);
    EXPECT_EQ(s0->arcs.elements[2]->word->id, 3);
    // The second state reuses w and its first copy.
    ASSERT_EQ(s1->arcs.length, 3);
    EXPECT_EQ(s1->arcs.elements[0]->word->id, 1);
    EXPECT_EQ(s1->arcs.elements[1]->word->id, 2);
    EXPECT_EQ(s1->arcs.elements[2]->word->id, 4);
}

TEST(Normalize, DuplicateNullWordIsReported)
{
    WarningsCollected w;
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: a->1\n1: _/x->*, _/y->*");
    f.Normalize();
    EXPECT_NE(w.Text().find("added duplicate null word"), std::string::npos) << w.Text();
    EXPECT_EQ(f.words.length, 3);
}

TEST(Normalize, NullArcGrammarsKeepRepeatedWords)
{
    WarningsCollected w;
    TFSG f("<<g>>", TSubFSG::EqNorm);
    f.use_null_arcs = 1;
    Build(&f, "0: w->1, w->2\n1: _/x->*, _/y->*\n2: _->*");
    f.Normalize();
    EXPECT_EQ(Texts(f.words), (std::vector<std::string>{"", "w"}));
    EXPECT_EQ(w.Text(), "");
}

TEST(Normalize, InternsCountDownFromTopAndExternsContinueBelow)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Interns d;
    f.dictionary = &d;
    TSubFSG* a = d.Add(&f, "<a>");
    TSubFSG* b = d.Add(&f, "<b>");
    TSubFSG* c = d.Add(&f, "<c>");
    Build(a, "0: x->*");
    Build(b, "0: y->*");
    Build(c, "0: z->*");
    TState* s = f.Initial();
    TState* t = f.AddState();
    s->AddArcX(t, 1.0f, f.with.Lookup("<b>", 1), nullptr, OpNone);
    s->AddArcX(t, 1.0f, f.with.Lookup("<a>", 1), nullptr, OpNone);
    s->AddArcX(t, 1.0f, f.without.Lookup("<c>", 1), nullptr, OpNone);
    Build(&f, "1: $<x>->*, $<w>->*");
    f.Normalize();

    EXPECT_EQ(d.calls, (std::vector<std::string>{"<b>+", "<a>+", "<c>-"}));
    EXPECT_EQ(f.with.elements[0]->id, 0xFFFF);
    EXPECT_EQ(f.with.elements[1]->id, 0xFFFE);
    EXPECT_EQ(f.without.elements[0]->id, 0xFFFD);
    ASSERT_EQ(f.intern_fsgs.length, 3);
    EXPECT_EQ(f.intern_fsgs.elements[0], b);
    EXPECT_EQ(f.intern_fsgs.elements[1], a);
    EXPECT_EQ(f.intern_fsgs.elements[2], c);
    EXPECT_EQ(Texts(f.externs), (std::vector<std::string>{"<w>", "<x>"}));
    EXPECT_EQ(f.externs.elements[0]->id, 0xFFFC);
    EXPECT_EQ(f.externs.elements[1]->id, 0xFFFB);
    // The intern networks were normalised too; their words share the table.
    EXPECT_EQ(Texts(f.words), (std::vector<std::string>{"", "x", "y", "z"}));
    EXPECT_EQ(c->Initial()->arcs.elements[0]->word->id, 3);

    // A second run replaces its references instead of adding to them.
    EXPECT_EQ(a->refcnt, 2);
    f.Normalize();
    EXPECT_EQ(a->refcnt, 2);
    EXPECT_EQ(f.intern_fsgs.length, 3);
}

TEST(Normalize, AnInternThatIsTheGrammarItselfIsAnError)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Interns d;
    d.self = &f;
    f.dictionary = &d;
    f.Initial()->AddArcX(nullptr, 1.0f, f.with.Lookup("<self>", 1), nullptr, OpNone);
    try {
        f.Normalize();
        FAIL() << "no error";
    } catch (char* m) {
        EXPECT_STREQ(m, "<self> cannot be an intern sub-grammar of itself");
    }
}

TEST(Normalize, WordArcsNeedingATranslationCarryTheirText)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: a!->1, b!/B->1, c->1\n1: $<e>!->*");
    f.Normalize();
    TState* s = f.states.elements[0];
    EXPECT_STREQ(s->arcs.elements[0]->anno->word.s, "a");
    EXPECT_STREQ(s->arcs.elements[1]->anno->word.s, "B");
    EXPECT_EQ(s->arcs.elements[2]->anno->id, 0);
    EXPECT_EQ(f.states.elements[1]->arcs.elements[0]->anno->id, 0);
    EXPECT_EQ(Texts(f.annos), (std::vector<std::string>{"(null)", "B", "a"}));
}

struct AmbiguousCase {
    const char* graph;
    int deleted;
    const char* after;
    const char* stderr_text;
};

TEST(DeleteAmbiguousArcs, KeepsTheMostProbableOfEachWordAndTarget)
{
    const AmbiguousCase cases[] = {
        {"0: w/a->*@0.3, w/b->*@0.7", 1, "0: w/b->*@0.7\n", "Deleting duplicate arc 'w' : a\n"},
        {"0: w->*@0.2, w/b->*@0.8", 1, "0: w/b->*@0.8\n", "Deleting duplicate arc 'w' : \n"},
        {"0: w/a->*@0.5, w/b->1@0.5\n1: _->*", 0, "0: w/b->1@0.5, w/a->*@0.5\n1: _->*@1\n", ""},
        {"0: w/a->*@0.1, v/c->*@0.5, w/b->*@0.2, w/d->*@0.3", 2, "0: w/d->*@0.3, v/c->*@0.5\n",
         "Deleting duplicate arc 'w' : b\nDeleting duplicate arc 'w' : a\n"},
        // Equal annotations count as equal: the earlier arc stays.
        {"0: w/a->*@0.1, w/a->*@0.9", 1, "0: w/a->*@0.1\n", "Deleting duplicate arc 'w' : a\n"},
    };
    for (const AmbiguousCase& c : cases) {
        TFSG f("<<g>>", TSubFSG::EqNorm);
        Build(&f, c.graph);
        testing::internal::CaptureStderr();
        int n = f.DeleteAmbiguousArcs();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(n, c.deleted) << c.graph;
        EXPECT_EQ(graph_dump::Dump(&f), c.after) << c.graph;
        EXPECT_EQ(err, c.stderr_text) << c.graph;
    }
}

TEST(DeleteAmbiguousArcs, LongArcArraysAreCompactedInOneSweep)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    TState* s = f.Initial();
    const int n = 100000;
    for (int i = 0; i < n; i++) {
        std::string anno = "a" + std::to_string(i);
        s->AddArc(nullptr, (float)(i + 1) / n, "w", anno.c_str(), OpNone);
    }
    s->AddArc(nullptr, 1.0f, "v", nullptr, OpNone);
    testing::internal::CaptureStderr();
    EXPECT_EQ(f.DeleteAmbiguousArcs(), n - 1);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(s->arcs.length, 2);
    EXPECT_STREQ(s->arcs.elements[0]->anno->word.s, "a99999");
    EXPECT_EQ(err.compare(0, 35, "Deleting duplicate arc 'w' : a99998"), 0);
}

// The build pass over a grammar without references: the annotation level
// decides whether ambiguous arcs are deleted and reported.
TEST(Compile, AnnotationLevelDecidesAboutAmbiguousArcs)
{
    Interns d;
    for (int level : {0, 1, 2}) {
        WarningsCollected w;
        TFSG f("<<g>>", TSubFSG::EqNorm);
        Build(&f, "0: w/a->*@0.3, w/b->*@0.7");
        testing::internal::CaptureStderr();
        f.Compile(&d, 1, level);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(f.use_null_arcs, 1);
        EXPECT_EQ(f.dictionary, &d);
        if (level == 0) {
            EXPECT_EQ(err, "");
            EXPECT_EQ(w.Text(), "");
            EXPECT_EQ(f.Initial()->arcs.length, 2);
        } else {
            EXPECT_EQ(err, "Deleting duplicate arc 'w' : a\n") << level;
            EXPECT_EQ(w.Text(), "\tDeleted 1 ambiguous arcs (differed only in annotations)\n\n") << level;
            ASSERT_EQ(f.Initial()->arcs.length, 1);
            EXPECT_STREQ(f.Initial()->arcs.elements[0]->anno->word.s, "b");
        }
    }
}

TEST(Settings, FlagsCodePageAndConvert)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    f.Flags(0x420);
    EXPECT_EQ(f.flags, 0x420);
    f.CodePage(1252);
    f.CodePage();
    EXPECT_EQ(f.codepage, 1252);
    TFSG g("<<g>>", TSubFSG::EqNorm);
    g.CodePage();
    EXPECT_EQ(g.codepage, (int)ks_get_cp());

    char text[] = "a\xe9z";
    Convert(text, c1252to850);
    EXPECT_EQ((unsigned char)text[1], c1252to850[0xe9]);
    Convert(text, c850to1252);
    EXPECT_STREQ(text, "a\xe9z");
}

} // namespace

// Tests of the normalisation pipeline: word, intern, extern and annotation
// numbering, duplicate words and the annotation levels of the build pass
// (the deletion of ambiguous arcs is in passes.txt).
#include "graph_dump.h"

#include <map>

namespace {

using graph_dump::Build;
using graph_dump::Dump;
using graph_dump::WarningsCollected;

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

TEST(Normalize, NumbersWordsAndKeepsOnlyUsedAnnotations)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: b->1, a->1, A->1\n1: _->*");
    f.Normalize();
    EXPECT_EQ(Listed(f.annos), "null=0 ");
    EXPECT_EQ(Listed(f.words), "''=0 'A'=1 'a'=2 'b'=3 ");
    EXPECT_EQ(Dump(&f, false), "0: A->1, a->1, b->1\n1: _->*\n");
    EXPECT_EQ(f.normalized, 1);

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

TEST(Normalize, RepeatedWordsGetACopyChainSharedByAllStates)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: w->1, w->2, w->3\n1: w->*, w->3, x->*\n2: _->*\n3: _->*");
    f.Normalize();
    EXPECT_EQ(Listed(f.words, &f), "''=0 'w'=1 'w'=2 'w'=3 'x'=4 | 1 2 3| 1 2 4| 0| 0");

    WarningsCollected w;
    TFSG g("<<g>>", TSubFSG::EqNorm);
    Build(&g, "0: a->1\n1: _/x->*, _/y->*");
    g.Normalize();
    EXPECT_NE(w.Text().find("added duplicate null word"), std::string::npos) << w.Text();
    EXPECT_EQ(g.words.length, 3);

    // Grammars that keep null arcs keep repeated words as they are.
    KsMsgBuf[0] = 0;
    TFSG h("<<g>>", TSubFSG::EqNorm);
    h.use_null_arcs = 1;
    Build(&h, "0: w->1, w->2\n1: _/x->*, _/y->*\n2: _->*");
    h.Normalize();
    EXPECT_EQ(Listed(h.words), "''=0 'w'=1 ");
    EXPECT_EQ(w.Text(), "");
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

TEST(Normalize, WordArcsNeedingATranslationCarryTheirText)
{
    TFSG f("<<g>>", TSubFSG::EqNorm);
    Build(&f, "0: a!->1, b!/B->1, c->1\n1: $<e>!->*");
    f.Normalize();
    EXPECT_EQ(Dump(&f, false), "0: a!/a->1, b!/B->1, c->1\n1: $<e>!->*\n");
    EXPECT_EQ(Listed(f.annos), "null=0 'B'=1 'a'=2 ");
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

} // namespace

// Tests of the grammar model: dictionary entry order and flags, the root
// check, and the reference counting between grammars and their dictionary.
#include "trule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Flags(TDictionaryEntry* e)
{
    return std::string(e->name.s) + (e->value ? " rules" : "") + (e->referenced ? " ref" : "") +
           (e->defined ? " def" : "") + (e->intermediate ? " int" : "");
}

TEST(Grammar, DictionaryEntriesKeepOrderOfFirstMention)
{
    TDictionary d("global");
    TRuleList* rl = reinterpret_cast<TRuleList*>(1);
    EXPECT_EQ(d.Lookup("<b>", rl, 1), 0);
    EXPECT_EQ(rl, nullptr);
    d.AddExtern("<x>");
    d.Add("<a>", new TRule, 0);
    d.Add("<b>", new TRule, 1);
    d.Add("<b>", new TRule, 1);
    EXPECT_EQ(d.Lookup("<zz>", rl, 0), 0);
    EXPECT_EQ(d.Lookup("<x>", rl, 1), 1);
    EXPECT_EQ(d.Lookup("<a>", rl, 0), 1);
    EXPECT_EQ(rl, d.elements[2]->value);
    ASSERT_EQ(d.length, 4);
    EXPECT_EQ(Flags(d.elements[0]) + "|" + Flags(d.elements[1]) + "|" + Flags(d.elements[2]) + "|" +
                  Flags(d.elements[3]),
              "<b> rules ref def int|<x> ref def|<a> rules def|<zz>");
    EXPECT_EQ(d.elements[0]->value->length, 2);
    try {
        d.AddExtern("<a>");
        ADD_FAILURE() << "extern of a name with rules";
    } catch (char* msg) {
        EXPECT_STREQ(msg, "extern <a> already defined");
    }
}

// Counts destructions to prove the dictionary dies exactly once.
int destroyed = 0;
struct CountedDictionary : TDictionary {
    CountedDictionary() : TDictionary("global") {}
    ~CountedDictionary() override { destroyed++; }
};

TEST(Grammar, RootsAndDictionaryLifetime)
{
    CountedDictionary* d = new CountedDictionary;
    d->Add("<a>", new TRule, 0);
    d->AddExtern("<x>");
    d->AddRef(); // a failed SetDictionary holds a reference the grammar drops
    for (const char* root : {(const char*)nullptr, "<undefined>", "<x>"}) {
        TGrammar g(0);
        try {
            g.SetDictionary(d, root);
            ADD_FAILURE() << (root ? root : "null");
        } catch (char* msg) {
            EXPECT_STREQ(msg, "no root");
        }
    }
    EXPECT_EQ(d->refcnt, 1);
    TGrammar* g1 = new TGrammar(1);
    TGrammar* g2 = new TGrammar(0);
    g1->SetDictionary(d, "<a>");
    g2->SetDictionary(d, "<a>");
    EXPECT_EQ(g1->root, d->elements[0]->value);
    d->DelRef();
    CountedDictionary* top = new CountedDictionary;
    g2->PushDictionary(top);
    EXPECT_EQ(top->next, d);
    delete g1;
    EXPECT_EQ(destroyed, 0);
    delete g2;
    EXPECT_EQ(destroyed, 2);
}

} // namespace

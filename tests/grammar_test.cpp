// Tests of the grammar model: phrase items, rules, dictionaries (entry order,
// flags, externs, look-ups) and the reference counting between grammars and
// their dictionary.
#include "trule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Grammar, PhraseItemsOwnCopiesOfTheirTexts)
{
    char word[] = "w", anno[] = "7", name[] = "<n>";
    TPhrase phrase;
    TPhraseItem* t = phrase.AddTerminal(word, anno);
    TPhraseItem* n = phrase.AddNonterminal(name);
    word[0] = anno[0] = name[1] = 'X';
    ASSERT_EQ(phrase.length, 2);
    EXPECT_EQ(phrase.elements[0], t);
    EXPECT_STREQ(t->word.s, "w");
    EXPECT_STREQ(t->anno.s, "7");
    EXPECT_EQ(t->terminal, 1);
    EXPECT_STREQ(n->word.s, "<n>");
    EXPECT_EQ(n->anno.s, nullptr);
    EXPECT_EQ(n->terminal, 0);
    for (TPhraseItem* it : {t, n}) {
        EXPECT_EQ(it->needtr, 0);
        EXPECT_EQ(it->op, OpNone);
    }
    EXPECT_EQ(phrase.AddTerminal("x", mbstring())->anno.s, nullptr);
}

TEST(Grammar, RuleDefaultsAndTranslation)
{
    TRule r;
    EXPECT_EQ(r.weight, 1.0f);
    EXPECT_EQ(r.dollar, 0);
    EXPECT_EQ(r.translation.s, nullptr);
    char t[] = "{1} x";
    r.Translation(t);
    t[0] = 'X';
    EXPECT_STREQ(r.translation.s, "{1} x");
    r.Translation(r.translation); // replacing by its own text must not read freed memory
    EXPECT_STREQ(r.translation.s, "{1} x");
    r.Translation(mbstring());
    EXPECT_EQ(r.translation.s, nullptr);
    r.Where(3, 9);
    EXPECT_EQ(r.line, 3);
    EXPECT_EQ(r.col, 9);
}

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
    TRule* second = new TRule;
    d.Add("<b>", new TRule, 1);
    d.Add("<b>", second, 1);
    d.AddExtern("<x>"); // repeated declaration is harmless
    EXPECT_EQ(d.Lookup("<zz>", rl, 0), 0);

    ASSERT_EQ(d.length, 4);
    EXPECT_EQ(Flags(d.elements[0]), "<b> rules ref def int");
    EXPECT_EQ(Flags(d.elements[1]), "<x> def");
    EXPECT_EQ(Flags(d.elements[2]), "<a> rules def");
    EXPECT_EQ(Flags(d.elements[3]), "<zz>");
    EXPECT_EQ(d.elements[0]->value->length, 2);
    EXPECT_EQ(d.elements[0]->value->elements[1], second);
    EXPECT_STREQ(d.elements[0]->value->name.s, "<b>");

    EXPECT_EQ(d.Lookup("<x>", rl, 1), 1);
    EXPECT_EQ(rl, nullptr);
    EXPECT_EQ(Flags(d.elements[1]), "<x> ref def");
    EXPECT_EQ(d.Lookup("<a>", rl, 0), 1);
    EXPECT_EQ(rl, d.elements[2]->value);
    EXPECT_EQ(d.elements[2]->referenced, 0);
    EXPECT_EQ(d.Find("<a>"), d.elements[2]);
    EXPECT_EQ(d.Find("<none>"), nullptr);
    EXPECT_EQ(d.length, 4);
}

TEST(Grammar, ExternOfANameWithRulesFails)
{
    TDictionary d("global");
    d.Add("<a>", new TRule, 0);
    try {
        d.AddExtern("<a>");
        FAIL() << "no error";
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

TEST(Grammar, LastGrammarDestroysTheDictionary)
{
    destroyed = 0;
    CountedDictionary* d = new CountedDictionary;
    d->Add("<a>", new TRule, 0);
    d->Add("<<b>>", new TRule, 0);
    TGrammar* g1 = new TGrammar(1);
    TGrammar* g2 = new TGrammar(0);
    g1->SetDictionary(d, "<a>");
    g2->SetDictionary(d, "<<b>>");
    EXPECT_EQ(g1->roottr, 1);
    EXPECT_EQ(g1->root, d->elements[0]->value);
    EXPECT_EQ(g2->root, d->elements[1]->value);
    EXPECT_EQ(d->refcnt, 2);
    delete g1;
    EXPECT_EQ(destroyed, 0);
    delete g2;
    EXPECT_EQ(destroyed, 1);
    delete new TGrammar(0); // no dictionary, nothing to release
    EXPECT_EQ(destroyed, 1);
}

TEST(Grammar, PushedDictionariesAreReleasedWithTheGrammar)
{
    destroyed = 0;
    CountedDictionary* base = new CountedDictionary;
    CountedDictionary* top = new CountedDictionary;
    base->Add("<a>", new TRule, 0);
    TGrammar* g = new TGrammar(0);
    g->SetDictionary(base, "<a>");
    g->PushDictionary(top);
    EXPECT_EQ(g->dictionary, top);
    EXPECT_EQ(top->next, base);
    EXPECT_EQ(top->refcnt, 1);
    delete g;
    EXPECT_EQ(destroyed, 2);
}

TEST(Grammar, NoRoot)
{
    TDictionary* d = new TDictionary("global");
    d->AddExtern("<x>");
    d->AddRef();
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
    d->DelRef();
}

} // namespace

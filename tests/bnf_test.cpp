// Tests of the BNF parser: tokens, statements, groups, translations, roots
// and includes, checked on a compact dump of the dictionary; the table is
// tests/data/bnf.txt, the failures of whole files are in messages.txt.
#include "trule.h"

#include "cases.h"
#include "ks_api.h"

#include <cstdio>

namespace {

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

} // namespace

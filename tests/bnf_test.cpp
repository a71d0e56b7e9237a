// Tests of the BNF parser: tokens, statements, groups, translations, roots,
// includes and the failures, checked on a compact dump of the dictionary.
#include "trule.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// One line per dictionary entry, in entry order:
//   name[(i)|(extern)|(undef)] = alt | alt .
// An alternative: "+w " when the weight is not 1, items separated by blanks
// (a word with ":anno", a name; "!" needtr, then ?, + or * for op), then
// " -> [translation]" and "$" when dollar is set. "@l:c" follows each
// alternative when positions are asked for.
std::string Dump(TDictionary* d, bool positions = false)
{
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
                if (positions) out += " @" + std::to_string(rule->line) + ":" + std::to_string(rule->col);
            }
            out += " .";
        }
        out += "\n";
    }
    return out;
}

struct Parsed {
    std::string dump;   // dictionary dump, empty on error
    std::string roots;  // grammar roots separated by blanks
    std::string error;  // message thrown, empty on success
    int needtr = 0, sawanno = 0;
};

// Parses text from a buffer with the given settings; the generated names
// start at <_rule0>.
Parsed ParseText(const std::string& text, int annotations = 1, int numonly = 0)
{
    Parsed p;
    ruleno = 0;
    TBNFStream s(text.c_str(), (int)text.size());
    s.Annotations(annotations);
    s.NumOnly(numonly);
    TArray<TGrammar*> grammars;
    try {
        s.Compile(grammars);
    } catch (char* msg) {
        p.error = msg;
        EXPECT_EQ(grammars.length, 0);
        return p;
    }
    p.needtr = s.NeedTr();
    p.sawanno = s.sawanno;
    p.dump = Dump(grammars[0]->dictionary);
    for (int i = 0; i < grammars.length; i++) {
        EXPECT_EQ(grammars[i]->dictionary, grammars[0]->dictionary);
        EXPECT_EQ(grammars[i]->roottr, p.needtr);
        if (i) p.roots += " ";
        p.roots += grammars[i]->root->name.s;
    }
    for (int i = 0; i < grammars.length; i++) delete grammars[i];
    return p;
}

TEST(BnfParse, WorkedExample)
{
    const char* text =
        "<<order>> = +2 i want {<drink>} -> order $1 | <drink> please? .\n"
        "<drink> = coffee -> coffee | tea -> tea .  ; the drinks\n";
    ruleno = 0;
    TBNFStream s(text, (int)strlen(text));
    TArray<TGrammar*> grammars;
    s.Compile(grammars);
    EXPECT_EQ(s.roots.length, 1);
    EXPECT_STREQ(s.roots[0].s, "<<order>>");
    EXPECT_STREQ(s.first.s, "<<order>>");
    EXPECT_EQ(s.NeedTr(), 1);
    EXPECT_EQ(s.sawanno, 0);
    ASSERT_EQ(grammars.length, 1);
    TGrammar* g = grammars[0];
    EXPECT_EQ(g->roottr, 1);
    EXPECT_STREQ(g->root->name.s, "<<order>>");
    EXPECT_EQ(g->dictionary->refcnt, 1);
    EXPECT_STREQ(g->dictionary->name.s, "global");
    EXPECT_EQ(Dump(g->dictionary, true),
              "<<order>> = +2 i want <_rule0>! -> [order {1}]$ @1:12 | <drink> please? @1:46 .\n"
              "<_rule0>(i) = <drink> @1:24 .\n"
              "<drink> = coffee -> [coffee] @2:10 | tea -> [tea] @2:29 .\n");
    delete g;
}

TEST(BnfParse, Accepted)
{
    struct Case {
        const char* text;
        const char* dump;
    } cases[] = {
        // Empty alternatives, the explicit empty word, a missing last "." of an extern.
        {"<a> = | b | \"\" .", "<a> = | b | \"\" .\n"},
        {"extern <x>, <y>\n<a> = <x> .", "<x>(extern)\n<y>(extern)\n<a> = <x> .\n"},
        {"EXTERN <x>. extern <x> <a> = b .", "<x>(extern)\n<a> = b .\n"},
        // Suffixes bind to the item before them, blanks or not.
        {"<a> = a?b c ? d+ <e>* .", "<a> = a? b c? d+ <e>* .\n"},
        {"<a> = x->y .", "<a> = x -> [y] .\n"},
        {"<a> = \"x->y\" .", "<a> = x->y .\n"},
        // Weights.
        {"<a> = +0.5 w | + 3 v .", "<a> = +0.5 w | +3 v .\n"},
        // Annotations: unquoted, quoted (kept with the quotes), numeric.
        {"<a> = w:12 v : \"x y\" .", "<a> = w:12 v:\"x y\" .\n"},
        // Names may contain blanks and anything but a line feed.
        {"<<a b>> = <c d> .", "<<a b>> = <c d> .\n"},
        // Comments of both kinds and blanks between any tokens.
        {"// c\n<a> ; c\n = ; c\n w // c\n . ; c", "<a> = w .\n"},
        // Translations: parenthesised head, balanced groups, "$" arguments,
        // escaped terminators, trailing blanks dropped.
        {"<a> = w -> (a . b) c .", "<a> = w -> [a . b c] .\n"},
        {"<a> = w -> f({x} | y) .", "<a> = w -> [f({x} | y)] .\n"},
        {"<a> = w -> {a.\"}\"} .", "<a> = w -> [{a.\"}\"}] .\n"},
        {"<a> = w v -> $2 \\. $1   .", "<a> = w v -> [{2} . {1}]$ .\n"},
        {"<a> = w -> .", "<a> = w -> [] .\n"},
        // Parenthesised groups need a translation only when they hold a braced
        // one; an inner group's list is complete, and so entered, first.
        {"<a> = (b | c) ({d}) .",
         "<a> = <_rule0> <_rule1>! .\n<_rule0>(i) = b | c .\n<_rule2>(i) = d .\n"
         "<_rule1>(i) = <_rule2>! .\n"},
        // Escapes make special characters plain.
        {"<a> = a\\:b \\<c .", "<a> = a:b <c .\n"},
    };
    for (const Case& c : cases) {
        Parsed p = ParseText(c.text);
        EXPECT_EQ(p.error, "") << c.text;
        EXPECT_EQ(p.dump, c.dump) << c.text;
    }
}

TEST(BnfParse, Rejected)
{
    struct Case {
        const char* text;
        const char* error; // expected prefix of the message
        int numonly;
    } cases[] = {
        {"<a> = b", "syntax error in", 0},
        {"<a> = b\n<c> = d .", "syntax error in", 0},
        {"<a> b .", "syntax error in", 0},
        {"<a> = +0 b .", "syntax error in", 0},
        {"<a> = +-1 b .", "syntax error in", 0},
        {"<a> = +inf b .", "syntax error in", 0},
        {"<a> = (b .", "syntax error in", 0},
        {"<a> = {b) .", "syntax error in", 0},
        {"<a> = \"b\nc\" .", "syntax error in", 0},
        {"<a\n> = b .", "syntax error in", 0},
        {"<a> = b -> $x .", "syntax error in", 0},
        {"<a> = b -> (x", "syntax error in", 0},
        {"<a> = b -> x", "syntax error in", 0},
        {"<a> = b: .", "syntax error in", 0},
        {"extern .", "syntax error in", 0},
        {"<a> = w:x1 .", "non-numeric annotation in", 1},
        {"<a> = w:\"1\" .", "non-numeric annotation in", 1},
        {"<a> = w:1 .  <b> = v -> x .", "cannot use both annotations and translations", 0},
        {"<a> = w:1 {v} .", "cannot use both annotations and translations", 0},
        {"<a> = b . <a> = c .", "<a> is multiply defined in", 0},
        {"extern <a>. <a> = c .", "<a> is multiply defined in", 0},
        {"<a> = b . extern <a>.", "extern <a> already defined in", 0},
        {"extern <a>.", "no root", 0},
        {"", "no root", 0},
    };
    for (const Case& c : cases) {
        Parsed p = ParseText(c.text, 1, c.numonly);
        EXPECT_EQ(p.error.rfind(c.error, 0), 0u) << c.text << " gave: " << p.error;
    }
}

TEST(BnfParse, ErrorPositions)
{
    EXPECT_EQ(ParseText("<a> = b .\n<a> = c .").error, "<a> is multiply defined in \"<buffer>\", line 2, column 1");
    EXPECT_EQ(ParseText("<a> = b\n  c -> $x .").error, "syntax error in \"<buffer>\", line 2, column 10");
}

TEST(BnfParse, NumericAnnotations)
{
    Parsed p = ParseText("<a> = w:0123 v .", 1, 1);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.dump, "<a> = w:0123 v .\n");
    EXPECT_EQ(p.sawanno, 1);
    EXPECT_EQ(p.needtr, 0);
}

TEST(BnfParse, AnnotationsOffDropsAnnotationsAndTranslations)
{
    Parsed p = ParseText("<a> = w:1 {v} -> x .", 0);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.dump, "<a> = w <_rule0>! .\n<_rule0>(i) = v .\n");
    EXPECT_EQ(p.needtr, 0);
    EXPECT_EQ(p.sawanno, 1);
}

TEST(BnfParse, NewlineInQuotedAnnotationWarns)
{
    int saved = warnings;
    warnings = 1;
    KsMsgBuf[0] = 0;
    Parsed p = ParseText("<a> = w:\"x\ny\" .");
    warnings = saved;
    EXPECT_EQ(p.dump, "<a> = w:\"x\ny\" .\n");
    EXPECT_STREQ(KsMsgBuf, "\tnewline in annotation, line 2, column 1\n");
    KsMsgBuf[0] = 0;
}

TEST(BnfParse, Roots)
{
    EXPECT_EQ(ParseText("<a> = <b> . <b> = c .").roots, "<a>");
    EXPECT_EQ(ParseText("<x> = y . <<a>> = <x> . <<b>> = <x> .").roots, "<<a>> <<b>>");
}

TEST(BnfParse, GeneratedNamesCountAcrossCompiles)
{
    ruleno = 0;
    for (int round = 0; round < 2; round++) {
        const char text[] = "<a> = {b} (c) .";
        TBNFStream s(text, (int)strlen(text));
        TArray<TGrammar*> grammars;
        s.Compile(grammars);
        TDictionary* d = grammars[0]->dictionary;
        EXPECT_STREQ(d->elements[1]->name.s, round ? "<_rule2>" : "<_rule0>");
        EXPECT_STREQ(d->elements[2]->name.s, round ? "<_rule3>" : "<_rule1>");
        delete grammars[0];
    }
}

TEST(BnfParse, DeepNestingIsAnErrorNotACrash)
{
    std::string deep = "<a> = " + std::string(100000, '(') + "b" + std::string(100000, ')') + " .";
    EXPECT_EQ(ParseText(deep).error.rfind("groups nested more than", 0), 0u);
    std::string tr = "<a> = b -> " + std::string(100000, '{') + " .";
    EXPECT_EQ(ParseText(tr).error.rfind("groups nested more than", 0), 0u);
    std::string ok = "<a> = " + std::string(50, '(') + "b" + std::string(50, ')') + " .";
    EXPECT_EQ(ParseText(ok).error, "");
}

// Random texts over the notation's own characters either parse or fail with
// a message; nothing else may happen (run under the sanitizers).
TEST(BnfParse, RandomTextParsesOrFailsCleanly)
{
    const char alphabet[] = "<<>>=|.:;{}()?+*\"\\$-> \nab1/\x92";
    unsigned int seed = 12345;
    int parsed = 0;
    for (int round = 0; round < 3000; round++) {
        std::string text = round % 2 ? "<a> = " : "";
        int n = 1 + round % 40;
        for (int i = 0; i < n; i++) {
            seed = seed * 1103515245u + 12345u;
            text += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
        }
        Parsed p = ParseText(text, round % 3 != 0, round % 5 == 0);
        if (p.error.empty()) parsed++;
    }
    EXPECT_GT(parsed, 0);
}

// ---- include files ----

class BnfInclude : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/bnf_testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    void Write(const std::string& name, const std::string& text)
    {
        std::system(("mkdir -p \"$(dirname '" + dir + "/" + name + "')\"").c_str());
        std::ofstream(dir + "/" + name) << text;
    }
    // Parses the file; returns the dump and the roots, or the error text.
    std::string Parse(const std::string& name, std::string* roots = nullptr)
    {
        ruleno = 0;
        std::string path = dir + "/" + name;
        TArray<TGrammar*> grammars;
        try {
            TBNFStream s(path.c_str(), nullptr);
            s.Compile(grammars);
        } catch (char* msg) {
            std::string m = msg;
            for (size_t at; (at = m.find(dir)) != std::string::npos;) m.replace(at, dir.size(), "DIR");
            return m;
        }
        std::string out = Dump(grammars[0]->dictionary);
        if (roots) {
            roots->clear();
            for (int i = 0; i < grammars.length; i++) *roots += std::string(grammars[i]->root->name.s) + " ";
        }
        for (int i = 0; i < grammars.length; i++) delete grammars[i];
        return out;
    }
};

TEST_F(BnfInclude, RootsFollowIncludeOrderAndBnfIsAppended)
{
    Write("main.bnf", "<<a>> = <x> .\ninclude sub.\n<<c>> = <y> .");
    Write("sub.bnf", "<x> = x .\n<<b>> = include2 .\ninclude \"deeper/more.bnf\"\n");
    Write("deeper/more.bnf", "<y> = {y} .");
    std::string roots;
    EXPECT_EQ(Parse("main.bnf", &roots),
              "<<a>> = <x> .\n<x> = x .\n<<b>> = include2 .\n<y> = <_rule0>! .\n<_rule0>(i) = y .\n"
              "<<c>> = <y> .\n");
    EXPECT_EQ(roots, "<<a>> <<b>> <<c>> ");
}

TEST_F(BnfInclude, AbsolutePathsAreTakenAsWritten)
{
    Write("lib/abs.bnf", "<x> = y .");
    Write("sub/main.bnf", "<a> = <x> .\ninclude \"" + dir + "/lib/abs.bnf\"");
    EXPECT_EQ(Parse("sub/main.bnf"), "<a> = <x> .\n<x> = y .\n");
}

TEST_F(BnfInclude, IncludedFileChecksItsOwnAnnotationsAndTranslations)
{
    // Each file is checked on its own; sawanno flows up, needtr does not.
    Write("a.bnf", "include b\n<a> = w:1 <b> .");
    Write("b.bnf", "<b> = v -> x .");
    EXPECT_EQ(Parse("a.bnf"), "<b> = v -> [x] .\n<a> = w:1 <b> .\n");
    Write("c.bnf", "include d\n<a> = <b> -> x .");
    Write("d.bnf", "<b> = w:1 .");
    EXPECT_EQ(Parse("c.bnf"), "cannot use both annotations and translations");
}

TEST_F(BnfInclude, NoRootWhenTheTopFileDefinesNothing)
{
    Write("top.bnf", "include lib.");
    Write("lib.bnf", "<x> = y .");
    EXPECT_EQ(Parse("top.bnf"), "no root");
}

TEST_F(BnfInclude, MissingFile)
{
    Write("top.bnf", "<a> = b .\ninclude nothere .");
    EXPECT_EQ(Parse("top.bnf").rfind("can't open 'DIR/nothere' (", 0), 0u);
}

TEST_F(BnfInclude, CyclesAreReportedAtTheClosingInclude)
{
    Write("self.bnf", "<a> = b .\n  include self .");
    EXPECT_EQ(Parse("self.bnf"),
              "include cycle: 'DIR/self.bnf' is already being read in \"DIR/self.bnf\", line 2, column 3");
    Write("one.bnf", "<a> = b .\ninclude sub/two .");
    Write("sub/two.bnf", "<c> = d .\n\ninclude \"../one.bnf\"");
    EXPECT_EQ(Parse("one.bnf"),
              "include cycle: 'DIR/sub/../one.bnf' is already being read in \"DIR/sub/two.bnf\", line 3, column 1");
    // Including one file twice side by side is not a cycle, but defines twice.
    Write("twice.bnf", "<a> = b .\ninclude lib\ninclude lib\n");
    Write("lib.bnf", "<l> = m .");
    EXPECT_EQ(Parse("twice.bnf").rfind("<l> is multiply defined in \"DIR/lib.bnf\"", 0), 0u);
}

} // namespace

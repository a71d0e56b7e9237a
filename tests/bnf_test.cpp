// Tests of the BNF parser: tokens, statements, groups, translations, roots,
// includes and the failures, checked on a compact dump of the dictionary.
#include "trule.h"

#include "ks_api.h"

#include <cstdio>

namespace {

// One line per dictionary entry, in entry order:
//   name[(i)|(extern)|(undef)] = alt | alt .
// An alternative: "+w " when the weight is not 1, items separated by blanks
// (a word with ":anno", a name; "!" needtr, then ?, + or * for op), then
// " -> [translation]" and "$" when dollar is set. "@l:c" follows each
// alternative when positions are asked for. A last line lists the roots.
std::string Dump(TArray<TGrammar*>& grammars, bool positions = false)
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
                if (positions) out += " @" + std::to_string(rule->line) + ":" + std::to_string(rule->col);
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
std::string Compile(TBNFStream& s, bool positions = false)
{
    ruleno = 0;
    TArray<TGrammar*> grammars;
    try {
        s.Compile(grammars);
    } catch (char* msg) {
        EXPECT_EQ(grammars.length, 0);
        return msg;
    }
    std::string out = Dump(grammars, positions);
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

TEST(BnfParse, WorkedExample)
{
    const std::string text = "<<order>> = +2 i want {<drink>} -> order $1 | <drink> please? .\n"
                             "<drink> = coffee -> coffee | tea -> tea .  ; the drinks\n";
    TBNFStream s(text.c_str(), (int)text.size());
    EXPECT_EQ(Compile(s, true),
              "<<order>> = +2 i want <_rule0>! -> [order {1}]$ @1:12 | <drink> please? @1:46 .\n"
              "<_rule0>(i) = <drink> @1:24 .\n"
              "<drink> = coffee -> [coffee] @2:10 | tea -> [tea] @2:29 .\n"
              "roots: <<order>>");
    EXPECT_EQ(s.NeedTr(), 1);
    EXPECT_EQ(s.sawanno, 0);
}

TEST(BnfParse, Accepted)
{
    struct Case {
        std::string text;
        const char* dump; // without the roots line
        int annotations, numonly;
    } cases[] = {
        // Empty alternatives, the explicit empty word, a missing last "." of an extern.
        {"<a> = | b | \"\" .", "<a> = | b | \"\" .", 1, 0},
        {"extern <x>, <y>\n<a> = <x> .", "<x>(extern)\n<y>(extern)\n<a> = <x> .", 1, 0},
        {"EXTERN <x>. extern <x> <a> = b .", "<x>(extern)\n<a> = b .", 1, 0},
        // Suffixes bind to the item before them, blanks or not.
        {"<a> = a?b c ? d+ <e>* .", "<a> = a? b c? d+ <e>* .", 1, 0},
        {"<a> = x->y .", "<a> = x -> [y] .", 1, 0},
        {"<a> = \"x->y\" .", "<a> = x->y .", 1, 0},
        {"<a> = +0.5 w | + 3 v .", "<a> = +0.5 w | +3 v .", 1, 0},
        // Annotations: unquoted, quoted (kept with the quotes), numeric-only.
        {"<a> = w:12 v : \"x y\" .", "<a> = w:12 v:\"x y\" .", 1, 0},
        {"<a> = w:0123 v .", "<a> = w:0123 v .", 1, 1},
        // With annotations off, both annotations and translations go.
        {"<a> = w:1 {v} -> x .", "<a> = w <_rule0>! .\n<_rule0>(i) = v .", 0, 0},
        {"<<a b>> = <c d> .", "<<a b>> = <c d> .", 1, 0},
        {"// c\n<a> ; c\n = ; c\n w // c\n . ; c", "<a> = w .", 1, 0},
        // Translations: parenthesised head, balanced groups, "$" arguments,
        // escaped terminators, trailing blanks dropped.
        {"<a> = w -> (a . b) c .", "<a> = w -> [a . b c] .", 1, 0},
        {"<a> = w -> f({x} | y) .", "<a> = w -> [f({x} | y)] .", 1, 0},
        {"<a> = w -> {a.\"}\"} .", "<a> = w -> [{a.\"}\"}] .", 1, 0},
        {"<a> = w v -> $2 \\. $1   .", "<a> = w v -> [{2} . {1}]$ .", 1, 0},
        {"<a> = w -> .", "<a> = w -> [] .", 1, 0},
        // Parenthesised groups need a translation only when they hold a braced
        // one; an inner group's list is complete, and so entered, first.
        {"<a> = (b | c) ({d}) .",
         "<a> = <_rule0> <_rule1>! .\n<_rule0>(i) = b | c .\n<_rule2>(i) = d .\n<_rule1>(i) = <_rule2>! .", 1, 0},
        {"<a> = a\\:b \\<c .", "<a> = a:b <c .", 1, 0},
    };
    for (const Case& c : cases) {
        std::string got = Parse(c.text, c.annotations, c.numonly);
        EXPECT_EQ(got.substr(0, got.find("\nroots:")), c.dump) << c.text;
    }
    EXPECT_EQ(Parse("<a> = <b> . <b> = c ."), "<a> = <b> .\n<b> = c .\nroots: <a>");
    std::string two = Parse("<x> = y . <<a>> = <x> . <<b>> = <x> .");
    EXPECT_EQ(two.substr(two.find("roots:")), "roots: <<a>> <<b>>");
    std::string deep = Parse("<a> = " + std::string(50, '(') + "b" + std::string(50, ')') + " .");
    EXPECT_NE(deep.find("<_rule49>(i) = b ."), std::string::npos) << deep;
}

TEST(BnfParse, Rejected)
{
    const std::string deep = std::string(100000, '(');
    struct Case {
        std::string text;
        const char* error; // expected prefix of the message
        int numonly;
    } cases[] = {
        {"<a> = b", "syntax error", 0},
        {"<a> = b\n  c -> $x .", "syntax error in \"<buffer>\", line 2, column 10", 0},
        // The message points at the offending token and says what was expected.
        {"<<g>> = a <b .", "syntax error, expected '>' to close the name in \"<buffer>\", line 1, column 11", 0},
        {"<a> = x\n \"b c .", "syntax error, unterminated quote in \"<buffer>\", line 2, column 2", 0},
        {"<a> = \"b", "syntax error, unterminated quote in \"<buffer>\", line 1, column 7", 0},
        {"<a> = b = c .", "syntax error, expected a word, a <name>, a group, '->', '|' or '.' in \"<buffer>\", line 1, column 9", 0},
        {"<a> b .", "syntax error, expected '=' after the rule name in \"<buffer>\", line 1, column 5", 0},
        {"<a> = (b .", "syntax error, expected ')' to close the group in \"<buffer>\", line 1, column 10", 0},
        {"<a> b .", "syntax error", 0}, {"<a> = +0 b .", "syntax error", 0},
        {"<a> = +-1 b .", "syntax error", 0}, {"<a> = +inf b .", "syntax error", 0},
        {"<a> = (b .", "syntax error", 0}, {"<a> = {b) .", "syntax error", 0},
        {"<a> = \"b\nc\" .", "syntax error", 0}, {"<a\n> = b .", "syntax error", 0},
        {"<a> = b -> (x", "syntax error", 0}, {"<a> = b -> x", "syntax error", 0},
        {"<a> = b: .", "syntax error", 0}, {"extern .", "syntax error", 0},
        {"<a> = w:x1 .", "non-numeric annotation in", 1}, {"<a> = w:\"1\" .", "non-numeric annotation in", 1},
        {"<a> = w:1 .  <b> = v -> x .", "cannot use both annotations and translations", 0},
        {"<a> = w:1 {v} .", "cannot use both annotations and translations", 0},
        {"<a> = b .\n<a> = c .", "<a> is multiply defined in \"<buffer>\", line 2, column 1", 0},
        {"extern <a>. <a> = c .", "<a> is multiply defined in", 0},
        {"<a> = b . extern <a>.", "extern <a> already defined in", 0}, {"extern <a>.", "no root", 0},
        {"", "no root", 0}, {"<a> = " + deep + "b .", "groups nested more than", 0},
        {"<a> = b -> " + deep + " .", "groups nested more than", 0},
    };
    for (const Case& c : cases) {
        std::string got = Parse(c.text, 1, c.numonly);
        EXPECT_EQ(got.rfind(c.error, 0), 0u) << c.text.substr(0, 40) << " gave: " << got;
    }
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

TEST_F(BnfInclude, OrderRetryAndFailures)
{
    Write("main.bnf", "<<a>> = <x> .\ninclude sub.\n<<c>> = <y> .");
    Write("sub.bnf", "<x> = x .\n<<b>> = include2 .\ninclude \"deeper/more.bnf\"\n");
    Write("deeper/more.bnf", "<y> = {y} .");
    Write("abs.bnf", "<a> = <x> .\ninclude \"" + dir + "/lib.bnf\"");
    Write("lib.bnf", "<l> = m .");
    // Each file is checked on its own; sawanno flows up, needtr does not.
    Write("a.bnf", "include b\n<a> = w:1 <b> .");
    Write("b.bnf", "<b> = v -> x .");
    Write("c.bnf", "include d\n<a> = <b> -> x .");
    Write("d.bnf", "<b> = w:1 .");
    Write("top.bnf", "include lib.");
    Write("missing.bnf", "<a> = b .\ninclude nothere .");
    Write("self.bnf", "<a> = b .\n  include self .");
    Write("one.bnf", "<a> = b .\ninclude s2/two .");
    Write("s2/two.bnf", "<c> = d .\n\ninclude \"../one.bnf\"");
    Write("twice.bnf", "<a> = b .\ninclude lib\ninclude lib\n");
    const char* cases[][2] = {
        {"main.bnf", "<<a>> = <x> .\n<x> = x .\n<<b>> = include2 .\n<y> = <_rule0>! .\n<_rule0>(i) = y .\n"
                     "<<c>> = <y> .\nroots: <<a>> <<b>> <<c>>"},
        {"abs.bnf", "<a> = <x> .\n<l> = m .\nroots: <a>"},
        {"a.bnf", "<b> = v -> [x] .\n<a> = w:1 <b> .\nroots: <a>"},
        {"c.bnf", "cannot use both annotations and translations"},
        {"top.bnf", "no root"},
        {"missing.bnf", "can't open 'DIR/nothere' ("},
        {"self.bnf", "include cycle: 'DIR/self.bnf' is already being read in \"DIR/self.bnf\", line 2, column 3"},
        {"one.bnf", "include cycle: 'DIR/s2/../one.bnf' is already being read in \"DIR/s2/two.bnf\", line 3, column 1"},
        // Including one file twice side by side is not a cycle, but defines twice.
        {"twice.bnf", "<l> is multiply defined in \"DIR/lib.bnf\""},
    };
    for (auto& c : cases) {
        std::string path = dir + "/" + c[0], got;
        try {
            TBNFStream s(path.c_str(), nullptr);
            got = Compile(s);
        } catch (char* msg) {
            got = msg;
        }
        for (size_t at; (at = got.find(dir)) != std::string::npos;) got.replace(at, dir.size(), "DIR");
        EXPECT_EQ(got.rfind(c[1], 0), 0u) << c[0] << " gave: " << got;
    }
}

} // namespace

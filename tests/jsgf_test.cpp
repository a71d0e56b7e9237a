// Tests of the JSGF front end through KsCompileGrammar and the run time:
// tags translated on compiled grammars, the language kept in engine and
// translation mode, imports, encodings, and the messages for bad grammars.
#include "common.h"
#include "ks_api.h"

namespace {

using ks_api::Message;
using ks_api::Translate;

class JsgfTest : public ks_api::Scratch {
protected:
    // Compiles the file in translation (tr) or engine mode into out; the
    // return code of KsCompileGrammar.
    int Compile(const std::string& path, bool tr, const std::string& out, const char* syntax = nullptr)
    {
        std::vector<ks_api::Param> p = {{"bnfFile", path}, {"fsgFile", out}, {tr ? "trMode" : "enMode", 1}, {"warnings", 1}};
        if (syntax) p.push_back({"syntax", std::string(syntax)});
        return ks_api::Compile(p);
    }
};

struct TagCase {
    const char* rules; // after the header and "grammar t;"
    std::vector<std::pair<const char*, const char*>> sentences; // sentence, translation
};

// The translation is the tags met along the path, in order, joined by single
// blanks; a group's tag comes after the group's own; parts that may or may
// not carry tags leave no stray blanks; repetitions repeat their tags.
TEST_F(JsgfTest, TagsBecomeTranslations)
{
    const TagCase cases[] = {
        {"public <order> = [please] i want <drink> {ORDER} [with <extra>+];\n"
         "<drink> = coffee {COFFEE} | tea {TEA} | water;\n"
         "<extra> = milk {MILK} | sugar {SUGAR} | ice;\n",
         {{"i want coffee", "COFFEE ORDER"},
          {"please i want water", "ORDER"},
          {"i want tea with milk ice sugar", "TEA ORDER MILK SUGAR"},
          {"i want water with ice ice", "ORDER"},
          {"i want with milk", "<rejected>"}}},
        {"public <t> = (a {A} | b)* {STAR} c {C} | <NULL> {EMPTY} | d;\n",
         {{"c", "STAR C"}, {"a b a c", "A A STAR C"}, {"b b c", "STAR C"}, {"d", ""}}},
        {"public <t> = (x {X})+ y | [p {P}] [q {Q}] [r {R}] z {Z} {Z2};\n",
         {{"x x x y", "X X X"}, {"z", "Z Z2"}, {"p r z", "P R Z Z2"}, {"q z", "Q Z Z2"}}},
        {"public <list> = <item> | <item> and <list>;\n"
         "<item> = (red | green) {COLOUR} | blue;\n",
         {{"red", "COLOUR"}, {"blue and green and red", "COLOUR COLOUR"}, {"blue and blue", ""}}},
        {"public <w> = /3/ one {1} | /1/ two {  spaced   tag  } | /1/ \"three\" {3 \n\t three \r\n};\n",
         {{"one", "1"}, {"two", "spaced   tag"}, {"three", "3 three"}}},
        {"public <n> = <d> <d> {pair};\n<d> = (zero {0} | oh) ;\n",
         {{"zero oh", "0 pair"}, {"oh oh", "pair"}, {"oh zero", "0 pair"}}},
    };
    int i = 0;
    for (const TagCase& c : cases) {
        std::string src = Write("t" + std::to_string(i) + ".gram", std::string("#JSGF V1.0;\ngrammar t;\n") + c.rules);
        std::string out = dir + "/t" + std::to_string(i++) + ".fst";
        ASSERT_LT(Compile(src, true, out), 1000) << c.rules << Message();
        void* fsg = Load(out);
        for (const auto& s : c.sentences) EXPECT_EQ(Translate(fsg, s.first), s.second) << c.rules << s.first;
        KsUnloadFSG(fsg);
    }
}

// Splitting rules by their tags must not change what they accept: every
// sentence accepted in engine mode is accepted in translation mode, and the
// reverse, on a grammar whose parts may or may not carry tags.
TEST_F(JsgfTest, TranslationModeKeepsTheLanguage)
{
    std::string src = Write("l.gram", "#JSGF V1.0;\ngrammar l;\n"
                                      "public <s> = [<a>] (b {B} | c)* <a> (d {D})+ | e <s>;\n"
                                      "<a> = x {X} | y | <NULL>;\n");
    ASSERT_LT(Compile(src, false, dir + "/l.fsg"), 1000) << Message();
    ASSERT_LT(Compile(src, true, dir + "/l.fst"), 1000) << Message();
    void* en = Load(dir + "/l.fsg");
    void* tr = Load(dir + "/l.fst");
    const char* words[] = {"x", "y", "b", "c", "d", "e"};
    // Every string of up to four words over the vocabulary.
    for (int n = 0; n <= 4; n++) {
        int total = 1;
        for (int k = 0; k < n; k++) total *= 6;
        for (int code = 0; code < total; code++) {
            std::string s;
            for (int k = 0, v = code; k < n; k++, v /= 6) s += std::string(k ? " " : "") + words[v % 6];
            bool in_en = Translate(en, s) != "<rejected>";
            bool in_tr = Translate(tr, s) != "<rejected>";
            EXPECT_EQ(in_en, in_tr) << "'" << s << "'";
        }
    }
    EXPECT_EQ(Translate(tr, "e x b c b d d"), "X B B D D");
    KsUnloadFSG(en);
    KsUnloadFSG(tr);
}

TEST_F(JsgfTest, ImportsResolveBesideTheGrammar)
{
    Write("com/acme/colours.gram", "#JSGF V1.0;\ngrammar com.acme.colours;\n"
                                   "public <colour> = red {R} | green {G};\npublic <shade> = dark | light;\n"
                                   "<secret> = hidden;\n");
    Write("sizes.jsgf", "#JSGF V1.0;\ngrammar sizes;\npublic <size> = big | small;\n");
    std::string main = Write("main.gram", "#JSGF V1.0;\ngrammar main;\n"
                                          "import <com.acme.colours.*>;\nimport <sizes.size>;\n"
                                          "public <thing> = <size> <shade> <colour> box {BOX}\n"
                                          "  | <colours.colour> <com.acme.colours.shade> <main.ball>;\n"
                                          "<ball> = ball;\n");
    ASSERT_LT(Compile(main, true, dir + "/m.fst"), 1000) << Message();
    void* fsg = Load(dir + "/m.fst");
    EXPECT_EQ(Translate(fsg, "big dark red box"), "R BOX");
    EXPECT_EQ(Translate(fsg, "green light ball"), "G");
    KsUnloadFSG(fsg);
}

TEST_F(JsgfTest, BadGrammarsAreReportedWithTheirPlace)
{
    Write("lib.gram", "#JSGF V1.0;\ngrammar lib;\npublic <open> = yes;\n<closed> = no;\n");
    setenv("JSGF_PATH", "/no/such/dir", 1);
    const char* cases[][2] = { // the whole of bad.gram, a part of the message
        {"grammar x;\npublic <a> = b;\n", "expected the header '#JSGF V1.0;' in \"DIR/bad.gram\", line 1, column 1"},
        {"#JSGF V2.0;\ngrammar x;\n", "unsupported JSGF version 'V2.0'"},
        {"#JSGF V1.0 KOI8-R;\ngrammar x;\npublic <a> = b;\n", "unsupported encoding 'KOI8-R' in \"DIR/bad.gram\", line 1"},
        {"#JSGF V1.0;\npublic <a> = b;\n", "expected the grammar declaration"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b c\n", "unterminated rule <a>: expected ';' before the end of the file in \"DIR/bad.gram\", line 3, column 8"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b c\n<d> = e;\n", "unterminated rule <a>: expected ';', found '=' in \"DIR/bad.gram\", line 4, column 5"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = (b | c;\n", "expected ')' to close the group"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b {tag;\n", "unterminated tag in \"DIR/bad.gram\", line 3, column 16"},
        {"#JSGF V1.0;\ngrammar x;\n/* open\npublic <a> = b;\n", "unterminated comment in \"DIR/bad.gram\", line 3, column 1"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b | ;\n", "expected a token, <rule>, ( ) or [ ], found ';' in \"DIR/bad.gram\", line 3, column 18"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = <b>;\n", "<b> is not defined in \"DIR/bad.gram\", line 3, column 14"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b;\n<a> = c;\n", "<a> is defined twice (first on line 3) in \"DIR/bad.gram\", line 4, column 1"},
        {"#JSGF V1.0;\ngrammar x;\nimport <nowhere.rule>;\npublic <a> = b;\n", "unknown import: grammar nowhere not found (looked for DIR/nowhere.gram, DIR/nowhere.jsgf, /no/such/dir/nowhere.gram, /no/such/dir/nowhere.jsgf)"},
        {"#JSGF V1.0;\ngrammar x;\nimport <lib.missing>;\npublic <a> = b;\n", "unknown import: grammar lib has no rule <missing> in \"DIR/bad.gram\", line 3, column 8"},
        {"#JSGF V1.0;\ngrammar x;\nimport <lib.closed>;\npublic <a> = b;\n", "cannot import <lib.closed>: the rule is not public"},
        {"#JSGF V1.0;\ngrammar x;\nimport <lib.*>;\npublic <a> = <closed>;\n", "<closed> is not defined"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = <a> b | c;\n", "recursive reference to <a> is not at the end of rule <a>: only right recursion is allowed in \"DIR/bad.gram\", line 3, column 14"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b <c> d;\n<c> = (e <a>)* ;\n", "recursive reference to <c> is not at the end of rule <a>"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = /2/ b | c;\n", "either every alternative has a weight or none has in \"DIR/bad.gram\", line 3, column 22"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = /0/ b | /1/ c;\n", "weight /0/ is not a number greater than 0"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b {x{y};\n", "a tag cannot hold '{'"},
        {"#JSGF V1.0;\ngrammar x;\npublic <a> = b <VOID> | <VOID>;\n", "public rule <a> matches nothing (<VOID>)"},
        {"#JSGF V1.0;\ngrammar x;\n<a> = b;\n", "grammar x has no public rule"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Compile(Write("bad.gram", c[0]), false, dir + "/bad.fsg"), 1000) << c[0];
        std::string want = c[1];
        for (size_t at; (at = want.find("DIR")) != std::string::npos;) want.replace(at, 3, dir);
        EXPECT_NE(Message().find(want), std::string::npos) << c[0] << "\n got: " << Message();
    }
    unsetenv("JSGF_PATH");
}

TEST_F(JsgfTest, VoidAndNullAndUnusedRules)
{
    std::string src = Write("v.gram", "#JSGF V1.0;\ngrammar v;\n"
                                      "public <a> = b <VOID> | <NULL> c <NULL> | <dead> d;\n"
                                      "<dead> = <VOID>;\n<unused> = u;\n");
    EXPECT_EQ(Compile(src, false, dir + "/v.fsg"), 1) << Message();
    EXPECT_NE(Message().find("<unused> defined but not used in \"" + dir + "/v.gram\", line 5, column 1"),
              std::string::npos)
        << Message();
    void* fsg = Load(dir + "/v.fsg");
    EXPECT_EQ(Translate(fsg, "c"), "");
    EXPECT_EQ(Translate(fsg, "b"), "<rejected>");
    EXPECT_EQ(Translate(fsg, "d"), "<rejected>");
    KsUnloadFSG(fsg);
}

// The header's encoding selects the code page: a Latin-1 word matches in
// any case as code page 1252 folds it.
TEST_F(JsgfTest, EncodingSelectsTheCodePage)
{
    unsigned long before = ks_get_cp();
    std::string src = Write("e.gram", "#JSGF V1.0 ISO-8859-1 fr;\ngrammar e;\npublic <a> = caf\xE9 {CAFE};\n");
    ASSERT_LT(Compile(src, true, dir + "/e.fst"), 1000) << Message();
    EXPECT_EQ(ks_get_cp(), 1252u);
    void* fsg = Load(dir + "/e.fst");
    EXPECT_EQ(Translate(fsg, "CAF\xC9"), "CAFE");
    KsUnloadFSG(fsg);
    ks_set_cp(before);
}

TEST_F(JsgfTest, SyntaxIsChosenByExtensionOrParameter)
{
    std::string jsgf = "#JSGF V1.0;\ngrammar s;\npublic <a> = hello;\n";
    EXPECT_LT(Compile(Write("s.txt", jsgf), false, dir + "/s.fsg", "jsgf"), 1000) << Message();
    EXPECT_EQ(Compile(Write("s2.txt", jsgf), false, dir + "/s2.fsg"), 1000);
    EXPECT_EQ(Compile(Write("b.gram", "<a> = hello .\n"), false, dir + "/b.fsg"), 1000);
    EXPECT_LT(Compile(Write("b2.gram", "<a> = hello .\n"), false, dir + "/b2.fsg", "bnf"), 1000) << Message();
    EXPECT_EQ(Compile(Write("s3.gram", jsgf), false, dir + "/s3.fsg", "abnf"), 1000);
    EXPECT_NE(Message().find("unknown syntax 'abnf' (bnf or jsgf)"), std::string::npos) << Message();
}

} // namespace

// export_test.cpp: ksexport on hand-built grammars: the exact text of each
// format, splicing of intern networks (one copy per call), the guards
// against recursion, missing networks and size, probability scaling, the
// texts a format can't hold, and lowering in the grammar's code page.
#include "fsg_build.h"
#include "fsg_export.h"
#include "ksbnfc_inner.h"

namespace {

TEST(Export, Text)
{
    const struct {
        const char* name;
        const char* main;
        std::vector<std::string> interns;
        ksexport::Format format;
        bool splice;
        const char* want;  // whole output, or
        const char* error; // a text the error must contain
    } cases[] = {
    {"sphinx plain", "0: hello->1@0.5, hi->*@0.5\n1: world->*", {}, ksexport::Format::Sphinx, true,
     "FSG_BEGIN test\nNUM_STATES 3\nSTART_STATE 0\nFINAL_STATE 2\n"
     "TRANSITION 0 1 0.5 hello\nTRANSITION 0 2 0.5 hi\nTRANSITION 1 2 1 world\nFSG_END\n",
     nullptr},
    // Each call gets its own copy; the copy's exits return after the call.
    {"sphinx spliced twice", "0: <0>->1\n1: <0>->*", {"0: a->*@0.5, _->*@0.5"}, ksexport::Format::Sphinx, true,
     "FSG_BEGIN test\nNUM_STATES 5\nSTART_STATE 0\nFINAL_STATE 2\n"
     "TRANSITION 0 3 1\nTRANSITION 1 4 1\nTRANSITION 3 1 0.5 a\nTRANSITION 3 1 0.5\n"
     "TRANSITION 4 2 0.5 a\nTRANSITION 4 2 0.5\nFSG_END\n",
     nullptr},
    {"sphinx no splice", "0: <0>->*", {"0: a->*"}, ksexport::Format::Sphinx, false,
     "FSG_BEGIN test\nNUM_STATES 2\nSTART_STATE 0\nFINAL_STATE 1\nTRANSITION 0 1 1 <intern#0>\nFSG_END\n", nullptr},
    // Rounded stored probabilities may add up to more than 1.
    {"sphinx scaled", "0: a->*@0.75, b->*@0.75", {}, ksexport::Format::Sphinx, true,
     "FSG_BEGIN test\nNUM_STATES 2\nSTART_STATE 0\nFINAL_STATE 1\n"
     "TRANSITION 0 1 0.49999995 a\nTRANSITION 0 1 0.49999995 b\nFSG_END\n",
     nullptr},
    // Null arcs to the end are final weights; symbols in byte order.
    {"openfst", "0: zed->1@0.5, _->*@0.5\n1: abc->*", {}, ksexport::Format::OpenFst, true,
     "0 1 zed 0.693147181\n0 0.693147181\n1 2 abc 0\n2\n", nullptr},
    {"dot", "0: say/\"x\"->*@0.5, _/a&b->*@0.5", {}, ksexport::Format::Dot, true,
     "digraph \"test\" {\n  rankdir=LR;\n  charset=\"latin1\";\n  node [shape=circle, fontsize=10];\n"
     "  edge [fontsize=9];\n  start0 [shape=point];\n  start0 -> 0;\n  0 [label=\"0\"];\n"
     "  1 [label=\"1\", shape=doublecircle];\n  0 -> 1 [label=\"say 0.5\\n\\\"x\\\"\"];\n"
     "  0 -> 1 [label=\"&epsilon; 0.5\\na&amp;b\"];\n}\n",
     nullptr},
    {"recursive intern", "0: <0>->*", {"0: a->*@0.5, <0>->*@0.5"}, ksexport::Format::Sphinx, true, nullptr,
     "intern #0 calls itself"},
    {"missing intern", "0: <1>->*", {"0: a->*"}, ksexport::Format::Sphinx, true, nullptr,
     "calls intern #1, which the file does not hold"},
    {"missing extern", "0: $<city>->*", {}, ksexport::Format::Sphinx, true, nullptr,
     "extern grammar <city> not found; name its file with --extern city=FILE"},
    // A quoted multi-word token ('~' stands for a blank here): quoted for
    // the recogniser, '_' in the toolkit's symbol, which must stay unique.
    {"word with space", "0: two~words->*", {}, ksexport::Format::Sphinx, true,
     "FSG_BEGIN test\nNUM_STATES 2\nSTART_STATE 0\nFINAL_STATE 1\nTRANSITION 0 1 1 \"two words\"\nFSG_END\n", nullptr},
    {"word with space", "0: two~words->*", {}, ksexport::Format::OpenFst, true, "0 1 two_words 0\n1\n", nullptr},
    {"word with space", "0: a_b->*@0.5, a~b->*@0.5", {}, ksexport::Format::OpenFst, true, nullptr,
     "would both be the openfst symbol 'a_b'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ksbnfc::Grammar g(fsg_build::Make(c.main, c.interns), true);
        for (int i = 1; i < g.Handle()->words.length; i++)
            for (char* p = g.Handle()->words[i]->word.s; *p; p++)
                if (*p == '~') *p = ' ';
        g.Handle()->codepage = 1252;
        ksexport::Options o;
        o.splice = c.splice;
        o.name = "test";
        std::string symbols;
        try {
            std::string text = ksexport::Export(g, c.format, o, &symbols);
            ASSERT_TRUE(c.want) << "no error, output:\n" << text;
            EXPECT_EQ(text, c.want);
        } catch (const ksexport::Error& e) {
            ASSERT_TRUE(c.error) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        if (c.format == ksexport::Format::OpenFst && c.want) {
            EXPECT_EQ(symbols, c.main[3] == 't' ? "<eps> 0\ntwo_words 1\n" : "<eps> 0\nabc 1\nzed 2\n");
        }
    }
}

// Words are lowered in their grammar's code page, whatever the process's,
// which stays as it was.
TEST(Export, LowerInTheGrammarsCodePage)
{
    ksbnfc::Grammar g(fsg_build::Make("0: \xC3\x89" "COLE->*"), true);
    g.Handle()->codepage = 65001;
    unsigned long was = ks_get_cp();
    ks_set_cp(1252);
    ksexport::Options o;
    o.lower = true;
    EXPECT_EQ(ksexport::Flatten(g, o).words, std::vector<std::string>{"\xC3\xA9" "cole"});
    EXPECT_EQ(ks_get_cp(), 1252u);
    ks_set_cp(was);
}

// Splicing a network called at every level of a deep chain stays within the
// bound and reports it instead of growing without end.
TEST(ExportLimits, StateBound)
{
    std::vector<std::string> interns;
    for (int k = 0; k < 20; k++) interns.push_back("0: <" + std::to_string(k + 1) + ">->1\n1: <" + std::to_string(k + 1) + ">->*");
    interns.push_back("0: a->*");
    ksbnfc::Grammar g(fsg_build::Make("0: <0>->*", interns), true);
    ksexport::Options o;
    o.max_states = 100000;
    try {
        ksexport::Flatten(g, o);
        FAIL() << "2^20 copies spliced";
    } catch (const ksexport::Error& e) {
        EXPECT_NE(std::string(e.what()).find("more than 100000 states"), std::string::npos) << e.what();
    }
    o.splice = false; // each network drawn once
    ksexport::Graph flat = ksexport::Flatten(g, o);
    EXPECT_EQ(flat.parts.size(), 22u);
}

} // namespace

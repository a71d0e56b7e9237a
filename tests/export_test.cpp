// export_test.cpp: ksexport on hand-built grammars: the exact text of each
// format, splicing, the guards, the texts a format can't hold and multi-word
// tokens (tests/data/export.txt), lowering in the grammar's code page, and
// the bound on the size of a splice.
#include "cases.h"
#include "fsg_build.h"
#include "fsg_export.h"
#include "ksbnfc_inner.h"

#include <map>

namespace {

TEST(Export, Text)
{
    const std::map<std::string, ksexport::Format> formats = {
        {"sphinx", ksexport::Format::Sphinx}, {"openfst", ksexport::Format::OpenFst}, {"dot", ksexport::Format::Dot}};
    for (const cases::Case& c : cases::Read("export.txt")) {
        SCOPED_TRACE(c.at);
        std::vector<std::string> interns;
        std::string rest = c[2] == "-" ? "" : c[2] + " | ";
        for (size_t at; (at = rest.find(" | ")) != std::string::npos; rest.erase(0, at + 3)) interns.push_back(rest.substr(0, at));
        ksbnfc::Grammar g(fsg_build::Make(c[1], interns), true);
        for (int i = 1; i < g.Handle()->words.length; i++)
            for (char* p = g.Handle()->words[i]->word.s; *p; p++)
                if (*p == '~') *p = ' ';
        g.Handle()->codepage = 1252;
        ksexport::Options o;
        o.splice = c[0].find("nosplice") == std::string::npos;
        o.name = "test";
        std::string symbols, got;
        try {
            got = ksexport::Export(g, formats.at(c[0].substr(0, c[0].find(' '))), o, &symbols);
            if (c[0] == "openfst") got += "symbols: " + symbols;
        } catch (const ksexport::Error& e) {
            got = std::string("error: ") + e.what();
        }
        std::string want = cases::Unescape(c[3]);
        if (want.rfind("error: ", 0) == 0) {
            EXPECT_NE(got.find(want.substr(7)), std::string::npos) << got;
        } else {
            EXPECT_EQ(got, want);
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
// bounds (states, arcs) and reports it instead of growing without end.
TEST(ExportLimits, StateBound)
{
    std::vector<std::string> interns;
    for (int k = 0; k < 20; k++) interns.push_back("0: <" + std::to_string(k + 1) + ">->1\n1: <" + std::to_string(k + 1) + ">->*");
    interns.push_back("0: a->*");
    ksbnfc::Grammar g(fsg_build::Make("0: <0>->*", interns), true);
    ksexport::Options o;
    auto stops = [&](const std::string& why) {
        try {
            ksexport::Flatten(g, o);
            ADD_FAILURE() << "2^20 copies spliced";
        } catch (const ksexport::Error& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
    };
    o.max_states = 100000;
    stops("more than 100000 states");
    o.max_arcs = 1000; // the arcs are bounded before the states
    stops("more than 1000 arcs");
    o.splice = false; // each network drawn once
    ksexport::Graph flat = ksexport::Flatten(g, o);
    EXPECT_EQ(flat.parts.size(), 22u);
}

} // namespace

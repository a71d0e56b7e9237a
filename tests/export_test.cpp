// export_test.cpp: ksexport on hand-built grammars: the exact text of each
// format, splicing, the guards and the texts a format can't hold
// (tests/data/export.txt), and the bound on the size of a splice.
#include "cases.h"
#include "fsg_build.h"
#include "fsg_export.h"

#include <map>
#include <memory>

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
        std::unique_ptr<TFSG> g(fsg_build::Make(c[1], interns));
        g->codepage = 1252;
        ksexport::Options o;
        o.splice = c[0].find("nosplice") == std::string::npos;
        o.name = "test";
        std::string symbols, got;
        try {
            got = ksexport::Export(g.get(), formats.at(c[0].substr(0, c[0].find(' '))), o, &symbols);
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

// Splicing a network called at every level of a deep chain stays within the
// bound and reports it instead of growing without end.
TEST(ExportLimits, StateBound)
{
    std::vector<std::string> interns;
    for (int k = 0; k < 20; k++) interns.push_back("0: <" + std::to_string(k + 1) + ">->1\n1: <" + std::to_string(k + 1) + ">->*");
    interns.push_back("0: a->*");
    std::unique_ptr<TFSG> g(fsg_build::Make("0: <0>->*", interns));
    ksexport::Options o;
    o.max_states = 100000;
    try {
        ksexport::Flatten(g.get(), o);
        FAIL() << "2^20 copies spliced";
    } catch (const ksexport::Error& e) {
        EXPECT_NE(std::string(e.what()).find("more than 100000 states"), std::string::npos) << e.what();
    }
    o.splice = false; // each network drawn once
    ksexport::Graph flat = ksexport::Flatten(g.get(), o);
    EXPECT_EQ(flat.parts.size(), 22u);
}

} // namespace

// Tests of the compile parameters: every name reaching its field, flag
// fix-up and modes, the look-up order and the failures.
#include "common.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

long Str(const char* s) { return reinterpret_cast<long>(s); }

// Runs ArgsToParms over args from defaults; returns the error text, or "".
std::string Parse(std::vector<KsArg>& args, parms& p)
{
    p.SetDefaults();
    try {
        ArgsToParms((int)args.size(), args.data(), p);
    } catch (char* msg) {
        return msg;
    }
    return "";
}

TEST(ParamsTest, EveryNameReachesItsField)
{
    std::vector<KsArg> a = {
        {(char*)"bnfFile", Str("g.bnf")}, {(char*)"fsgFile", Str("g.fsg")}, {(char*)"fsgDirectory", Str("out")},
        {(char*)"equalizeArcProbabilities", 1}, {(char*)"fsgFlags", 0x820}, {(char*)"warnings", -1},
        {(char*)"useNullArcs", 1}, {(char*)"emitAnnotations", 0}, {(char*)"dbglevel", 3},
        {(char*)"equalizeSentenceProbabilities", 1}, {(char*)"time", 1}, {(char*)"codePage", 932},
    };
    parms p;
    ASSERT_EQ(Parse(a, p), "");
    std::ostringstream fields;
    fields << p.bnf_file << " " << p.fsg_file << " " << p.fsg_directory << " " << std::hex << p.flags << std::dec << " "
           << p.warnings << " " << p.use_null_arcs << p.annotations << p.dbglevel << p.eq_sentences << p.time << " " << p.codepage;
    EXPECT_EQ(fields.str(), "g.bnf g.fsg out c20 -1 10311 932");
    for (const KsArg& r : a) EXPECT_EQ(r.name, nullptr); // all consumed
}

TEST(ParamsTest, FlagFixUpAndModes)
{
    struct Case {
        std::vector<KsArg> args;
        int flags, use_null_arcs, annotations, intern_all;
        const char* ext;
    } cases[] = {
        {{}, 0x410, 0, 1, 0, ".fsg"},
        {{{(char*)"fsgFlags", 0x20}}, 0x420, 0, 1, 0, ".fsg"},
        {{{(char*)"fsgFlags", 0x100}}, 0x110, 0, 1, 0, ".fsg"},
        {{{(char*)"equalizeArcProbabilities", 0}}, 0x1410, 0, 1, 0, ".fsg"},
        {{{(char*)"trMode", 1}}, 0x410, 1, 1, 1, ".fst"},
        {{{(char*)"useNullArcs", 0}, {(char*)"trMode", 1}}, 0x410, 0, 1, 1, ".fst"},
        {{{(char*)"enMode", 1}}, 0x410, 0, 0, 0, ".fsg"},
        {{{(char*)"emitAnnotations", 1}, {(char*)"enMode", 1}}, 0x410, 0, 1, 0, ".fsg"},
    };
    int row = 0;
    for (Case& c : cases) {
        parms p;
        ASSERT_EQ(Parse(c.args, p), "") << row;
        EXPECT_EQ(p.flags, c.flags) << row;
        EXPECT_EQ(p.use_null_arcs, c.use_null_arcs) << row;
        EXPECT_EQ(p.annotations, c.annotations) << row;
        EXPECT_EQ(p.intern_all, c.intern_all) << row;
        EXPECT_STREQ(p.default_extension, c.ext) << row++;
    }
}

TEST(ParamsTest, DuplicatesAndUnknownNamesFailInLookUpOrder)
{
    std::vector<KsArg> dup = {{(char*)"dbglevel", 1}, {(char*)"fsgFlags", 0x20}, {(char*)"fsgFlags", 0x40}};
    parms p;
    EXPECT_EQ(Parse(dup, p), "duplicate parameter fsgFlags");
    EXPECT_NE(dup[0].name, nullptr); // dbglevel comes later in the look-up order
    EXPECT_EQ(p.dbglevel, 0);

    std::vector<KsArg> unk = {{(char*)"bnffile", Str("g.bnf")}, {(char*)"time", 1}, {(char*)"other", 0}};
    EXPECT_EQ(Parse(unk, p), "unknown parameter bnffile");
    EXPECT_EQ(p.time, 1); // known names are taken first
    unk[0].name = nullptr;
    EXPECT_EQ(Parse(unk, p), "unknown parameter other"); // the list was consumed

    KsArg a[] = {{(char*)"x", 1}, {(char*)"x", 2}};
    int v = 0;
    EXPECT_EQ(KsBoundary([&] { KsGetArg(2, a, "x", v); }), 1000);
    char* m = nullptr;
    EXPECT_EQ(KsGetMessage(&m), 0);
    EXPECT_STREQ(m, "duplicate parameter x");
}

} // namespace

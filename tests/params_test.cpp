// Tests of the compile parameters: look-up and consumption, the order in
// which ArgsToParms reads them, flag fix-up, modes and the failures.
#include "common.h"

#include <gtest/gtest.h>

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

TEST(ParamsTest, EmptyListKeepsDefaults)
{
    std::vector<KsArg> none;
    parms p;
    EXPECT_EQ(Parse(none, p), "");
    EXPECT_EQ(p.bnf_file, nullptr);
    EXPECT_EQ(p.eq_arcs, 1);
    EXPECT_EQ(p.flags, 0x410);
    EXPECT_EQ(p.annotations, 1);
    EXPECT_EQ(p.use_null_arcs, 0);
    EXPECT_EQ(p.intern_all, 0);
    EXPECT_STREQ(p.default_extension, ".fsg");
}

TEST(ParamsTest, EveryNameReachesItsField)
{
    std::vector<KsArg> a = {
        {(char*)"bnfFile", Str("g.bnf")}, {(char*)"fsgFile", Str("g.fsg")},
        {(char*)"fsgDirectory", Str("out")}, {(char*)"equalizeArcProbabilities", 1},
        {(char*)"fsgFlags", 0x820}, {(char*)"warnings", -1},
        {(char*)"useNullArcs", 1}, {(char*)"emitAnnotations", 0},
        {(char*)"dbglevel", 3}, {(char*)"equalizeSentenceProbabilities", 1},
        {(char*)"time", 1}, {(char*)"codePage", 932},
    };
    parms p;
    ASSERT_EQ(Parse(a, p), "");
    EXPECT_STREQ(p.bnf_file, "g.bnf");
    EXPECT_STREQ(p.fsg_file, "g.fsg");
    EXPECT_STREQ(p.fsg_directory, "out");
    EXPECT_EQ(p.flags, 0xC20);
    EXPECT_EQ(p.warnings, -1);
    EXPECT_EQ(p.use_null_arcs, 1);
    EXPECT_EQ(p.annotations, 0);
    EXPECT_EQ(p.dbglevel, 3);
    EXPECT_EQ(p.eq_sentences, 1);
    EXPECT_EQ(p.time, 1);
    EXPECT_EQ(p.codepage, 932);
    for (const KsArg& r : a) EXPECT_EQ(r.name, nullptr);
}

TEST(ParamsTest, FlagFixUpAndModes)
{
    struct Case {
        std::vector<KsArg> args;
        int flags, use_null_arcs, annotations, intern_all;
        const char* ext;
    } cases[] = {
        {{{(char*)"fsgFlags", 0}}, 0x410, 0, 1, 0, ".fsg"},
        {{{(char*)"fsgFlags", 0x20}}, 0x420, 0, 1, 0, ".fsg"},
        {{{(char*)"fsgFlags", 0x100}}, 0x110, 0, 1, 0, ".fsg"},
        {{{(char*)"equalizeArcProbabilities", 0}}, 0x1410, 0, 1, 0, ".fsg"},
        {{{(char*)"trMode", 1}}, 0x410, 1, 1, 1, ".fst"},
        {{{(char*)"trMode", 0}}, 0x410, 0, 1, 0, ".fsg"},
        {{{(char*)"useNullArcs", 0}, {(char*)"trMode", 1}}, 0x410, 0, 1, 1, ".fst"},
        {{{(char*)"enMode", 1}}, 0x410, 0, 0, 0, ".fsg"},
        {{{(char*)"emitAnnotations", 1}, {(char*)"enMode", 1}}, 0x410, 0, 1, 0, ".fsg"},
    };
    for (Case& c : cases) {
        parms p;
        std::string what = c.args[0].name;
        ASSERT_EQ(Parse(c.args, p), "") << what;
        EXPECT_EQ(p.flags, c.flags) << what;
        EXPECT_EQ(p.use_null_arcs, c.use_null_arcs) << what;
        EXPECT_EQ(p.annotations, c.annotations) << what;
        EXPECT_EQ(p.intern_all, c.intern_all) << what;
        EXPECT_STREQ(p.default_extension, c.ext) << what;
    }
}

TEST(ParamsTest, DuplicateFailsBeforeLaterNamesAreRead)
{
    std::vector<KsArg> a = {
        {(char*)"dbglevel", 1}, {(char*)"fsgFlags", 0x20}, {(char*)"fsgFlags", 0x40}};
    parms p;
    EXPECT_EQ(Parse(a, p), "duplicate parameter fsgFlags");
    EXPECT_NE(a[0].name, nullptr); // dbglevel comes later in the look-up order
    EXPECT_EQ(p.dbglevel, 0);
}

TEST(ParamsTest, UnknownNameFailsAfterKnownOnesAreTaken)
{
    std::vector<KsArg> a = {
        {(char*)"bnffile", Str("g.bnf")}, {(char*)"time", 1}, {(char*)"other", 0}};
    parms p;
    EXPECT_EQ(Parse(a, p), "unknown parameter bnffile");
    EXPECT_EQ(a[1].name, nullptr);
    EXPECT_EQ(p.time, 1);
    // The list is consumed: a second reading of it finds only the leftovers.
    a[0].name = nullptr;
    EXPECT_EQ(Parse(a, p), "unknown parameter other");
}

TEST(ParamsTest, KsGetArgForms)
{
    KsArg a[] = {{nullptr, 7}, {(char*)"n", 42}, {(char*)"s", Str("text")}};
    int n = -1;
    char* s = nullptr;
    EXPECT_EQ(KsGetArg(3, a, "absent", n), 0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(KsGetArg(3, a, "n", n), 1);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(KsGetArg(3, a, "n", n), 0); // consumed
    EXPECT_EQ(KsGetArg(3, a, "s", s), 1);
    EXPECT_STREQ(s, "text");
    EXPECT_EQ(KsGetArg(0, a, "s", s), 0);
}

TEST(ParamsTest, KsGetMessageHandsOutTheBuffer)
{
    char* m = nullptr;
    EXPECT_EQ(KsGetMessage(&m), 0);
    EXPECT_EQ(m, KsMsgBuf);
    KsArg a[] = {{(char*)"x", 1}, {(char*)"x", 2}};
    int v = 0;
    EXPECT_EQ(KsBoundary([&] { KsGetArg(2, a, "x", v); }), 1000);
    EXPECT_STREQ(m, "duplicate parameter x");
}

} // namespace

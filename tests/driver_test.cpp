// Tests of the compile driver through KsCompileGrammar: the checks between
// the steps and their messages, the names of the output files, warnings,
// the time figure, and makefn.
#include "common.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A fresh directory per test, removed afterwards.
class DriverTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/ksbnfc_driver.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string Write(const std::string& name, const std::string& text)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    void MakeDir(const std::string& name) { ASSERT_EQ(mkdir((dir + "/" + name).c_str(), 0755), 0); }
    bool Exists(const std::string& name)
    {
        struct stat st;
        return stat((dir + "/" + name).c_str(), &st) == 0;
    }
    // The file names in dir, sorted, blank-separated (subdirectories as name/).
    std::string Listing(const std::string& sub = "")
    {
        std::string cmd = "cd '" + dir + "/" + sub + "' && ls -p | tr '\\n' ' '";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
        return out;
    }
};

// Parameters with owned texts; the list is consumed by the call as callers
// expect.
struct Args {
    std::deque<std::string> texts; // push_back keeps earlier texts in place
    std::vector<KsArg> list;
    Args& Text(const char* name, const std::string& v)
    {
        texts.push_back(v);
        list.push_back(KsArg{const_cast<char*>(name), reinterpret_cast<long>(texts.back().c_str())});
        return *this;
    }
    Args& Int(const char* name, long v)
    {
        list.push_back(KsArg{const_cast<char*>(name), v});
        return *this;
    }
    int Run() { return KsCompileGrammar((int)list.size(), list.data()); }
};

std::string Message()
{
    char* m = nullptr;
    KsGetMessage(&m);
    return m;
}

std::string Magic(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char buf[16] = {};
    in.read(buf, sizeof buf);
    return std::string(buf + 8, 8);
}

const char kOneRoot[] = "<main> = hello world | good morning .\n";
const char kTwoRoots[] = "<<a>> = yes | yeah .\n<<b>> = no | nope .\n";
const char kTranslated[] = "<<order>> = i want {<drink>} -> order $1 .\n"
                           "<drink> = coffee -> coffee | tea -> tea .\n";

TEST_F(DriverTest, NoParametersAtAll)
{
    EXPECT_EQ(KsCompileGrammar(0, nullptr), 1000);
    EXPECT_EQ(Message(), "no .bnf file specified");
}

// Failures found before any file is written; nothing may be left behind.
TEST_F(DriverTest, ChecksBetweenSteps)
{
    struct Case {
        const char* what;
        const char* grammar;
        bool fsg_file, fsg_dir, tr, en;
        const char* message; // a prefix of the message
    } cases[] = {
        {"translations need a mode", kTranslated, false, false, false, false,
         "please specify -tr for translation fsg or -en for engine fsg"},
        {"multiple roots and -o", kTwoRoots, true, false, false, false,
         "your grammar has multiple roots - please use -d instead of -o"},
        {"multiple roots, -o and -d", kTwoRoots, true, true, false, false,
         "your grammar has multiple roots - please use -d instead of -o"},
        {"one root, -o and -d", kOneRoot, true, true, false, false, "please specify only one of -d and -o"},
        {"parse errors pass through", "<main> = a b\n", false, false, false, false, "syntax error in \""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string g = Write("g.bnf", c.grammar);
        Args a;
        a.Text("bnfFile", g);
        if (c.fsg_file) a.Text("fsgFile", dir + "/x.fsg");
        if (c.fsg_dir) a.Text("fsgDirectory", dir);
        if (c.tr) a.Int("trMode", 1);
        if (c.en) a.Int("enMode", 1);
        EXPECT_EQ(a.Run(), 1000);
        EXPECT_EQ(Message().rfind(c.message, 0), 0u) << Message();
        EXPECT_EQ(Listing(), "g.bnf ");
    }
}

TEST_F(DriverTest, MissingSourceAndParameterErrorsPassThrough)
{
    EXPECT_EQ(Args().Text("bnfFile", dir + "/none.bnf").Run(), 1000);
    EXPECT_EQ(Message().rfind("can't open '" + dir + "/none.bnf' (", 0), 0u) << Message();

    Args a;
    a.Text("bnfFile", Write("g.bnf", kOneRoot)).Int("bnffile", 1);
    EXPECT_EQ(a.Run(), 1000);
    EXPECT_EQ(Message(), "unknown parameter bnffile");
    EXPECT_EQ(a.list[0].name, nullptr); // consumed before the failure
}

// Where each root's file goes, for every combination of -o and -d.
TEST_F(DriverTest, OutputNames)
{
    struct Case {
        const char* what;
        const char* grammar;
        const char* fsg_file;  // relative to dir
        const char* fsg_dir;   // relative to dir; "/" suffix kept
        bool tr;
        const char* listing;   // of dir after the run
        const char* out_listing; // of dir/out, if made
    } cases[] = {
        {"one root next to its source", kOneRoot, nullptr, nullptr, false, "g.bnf g.fsg out/ ", ""},
        {"translation extension", kOneRoot, nullptr, nullptr, true, "g.bnf g.fst out/ ", ""},
        {"exact name", kOneRoot, "main.bin", nullptr, false, "g.bnf main.bin out/ ", ""},
        {"one root in a directory", kOneRoot, nullptr, "out", false, "g.bnf out/ ", "main.fsg "},
        {"directory with slash", kOneRoot, nullptr, "out/", true, "g.bnf out/ ", "main.fst "},
        {"two roots in a directory", kTwoRoots, nullptr, "out", false, "g.bnf out/ ", "a.fsg b.fsg "},
        {"two roots next to the source", kTwoRoots, nullptr, nullptr, false, "a.fsg b.fsg g.bnf out/ ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -rf '" + dir + "'/*").c_str());
        MakeDir("out");
        Args a;
        a.Text("bnfFile", Write("g.bnf", c.grammar));
        if (c.fsg_file) a.Text("fsgFile", dir + "/" + c.fsg_file);
        if (c.fsg_dir) a.Text("fsgDirectory", dir + "/" + c.fsg_dir);
        a.Int(c.tr ? "trMode" : "enMode", 1);
        ASSERT_EQ(a.Run(), 0) << Message();
        EXPECT_EQ(Listing(), c.listing);
        EXPECT_EQ(Listing("out"), c.out_listing);
    }
    EXPECT_EQ(Magic(dir + "/a.fsg"), "SACOKV01");
}

// The output name is taken from the FSG, not the source: a relative source
// without a directory part gives a name in the current directory.
TEST_F(DriverTest, SourceWithoutDirectory)
{
    Write("g.bnf", kTwoRoots);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    int rc = Args().Text("bnfFile", "g.bnf").Int("enMode", 1).Run();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(rc, 0) << Message();
    EXPECT_EQ(Listing(), "a.fsg b.fsg g.bnf ");
}

TEST_F(DriverTest, WarningsAreCollectedOrDiscarded)
{
    std::string g = Write("g.bnf", "<main> = a | b .\n<spare> = c .\n");
    EXPECT_EQ(Args().Text("bnfFile", g).Int("warnings", 1).Run(), 1);
    EXPECT_EQ(Message(), "\t<spare> defined but not used\n");
    EXPECT_TRUE(Exists("g.fsg"));

    EXPECT_EQ(Args().Text("bnfFile", g).Int("warnings", 0).Run(), 0);
    EXPECT_EQ(Message(), "");
}

// A later root that fails leaves the earlier root's file, and the run cleans
// up after itself (checked under the sanitizers).
TEST_F(DriverTest, LaterRootFailsEarlierFileStays)
{
    std::string g = Write("g.bnf", "<<a>> = yes .\n<<b>> = x <r> .\n<r> = <r> y | z .\n");
    EXPECT_EQ(Args().Text("bnfFile", g).Int("enMode", 1).Run(), 1000);
    EXPECT_EQ(Message(), "illegal recursive use of <r>");
    EXPECT_TRUE(Exists("a.fsg"));
    EXPECT_FALSE(Exists("b.fsg"));

    // The process is fit for the next run.
    EXPECT_EQ(Args().Text("bnfFile", Write("h.bnf", kOneRoot)).Int("enMode", 1).Run(), 0) << Message();
    EXPECT_TRUE(Exists("h.fsg"));
}

TEST_F(DriverTest, TranslationGrammarInBothModes)
{
    std::string g = Write("g.bnf", kTranslated);
    EXPECT_EQ(Args().Text("bnfFile", g).Int("trMode", 1).Run(), 0) << Message();
    EXPECT_EQ(Magic(dir + "/g.fst"), "SACOKV01");
    EXPECT_EQ(Args().Text("bnfFile", g).Int("enMode", 1).Run(), 0) << Message();
    EXPECT_EQ(Magic(dir + "/g.fsg"), "SACOKV01");
}

TEST_F(DriverTest, TimeIsPrintedInSeconds)
{
    std::string g = Write("g.bnf", kOneRoot);
    ::testing::internal::CaptureStderr();
    int rc = Args().Text("bnfFile", g).Int("time", 1).Run();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0) << Message();
    double t = -1;
    char nl = 0;
    ASSERT_EQ(std::sscanf(err.c_str(), "%lf%c", &t, &nl), 2) << err;
    EXPECT_EQ(nl, '\n');
    EXPECT_GE(t, 0.001);
    EXPECT_LT(t, 10.0); // a tiny grammar: seconds, not milliseconds
    EXPECT_EQ(err.size(), err.find('.') + 5) << err; // three decimals
}

TEST(MakeFn, Examples)
{
    splitpath("g/x.bnf");
    struct Case {
        const char* dir;
        const char* name;
        const char* ext;
        const char* want;
    } cases[] = {
        {"out", "<main>", ".fsg", "out/main.fsg"},
        {"out/", "<<top>>", ".fst", "out/top.fst"},
        {"out\\", "<a>", ".fsg", "out\\a.fsg"},
        {nullptr, "<main>", ".fsg", "g/main.fsg"},
        {"", "<main>", ".fsg", "main.fsg"},
        {"d", "<a b>", "", "d/a b"},
    };
    for (const Case& c : cases) {
        char* got = makefn(c.dir, c.name, c.ext);
        EXPECT_STREQ(got, c.want);
        delete[] got;
    }
    splitpath("x.bnf");
    char* got = makefn(nullptr, "<main>", ".fsg");
    EXPECT_STREQ(got, "main.fsg");
    delete[] got;
}

// In code page 932 the trail byte of a two-byte character may be 0x5C, the
// backslash; it does not end the directory name, so the separator is added.
TEST(MakeFn, TwoByteDirectory)
{
    unsigned long cp = ks_get_cp();
    ks_set_cp(932);
    char* got = makefn("d\x95\x5C", "<a>", ".fsg");
    EXPECT_STREQ(got, "d\x95\x5C/a.fsg");
    delete[] got;
    ks_set_cp(cp);
}

} // namespace

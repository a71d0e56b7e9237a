// Tests of the compile driver through KsCompileGrammar: the names of the
// output files, warnings, a later root's failure and bounded work.
#include "cases.h"
#include "common.h"
#include "fsg_build.h"
#include "ks_api.h"

#include <regex>

namespace {

using ks_api::Message;

class DriverTest : public ks_api::Scratch {
protected:
    // The file names in dir and dir/out, sorted, blank-separated.
    std::string Listing()
    {
        std::string cmd = "cd '" + dir + "' && ls -p . out | tr '\\n' ' '";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
        return out;
    }
    // Runs KsCompileGrammar on g.bnf holding text with the given options:
    // "o" and "d" name a file or directory relative to dir; "tr", "en",
    // "warnings" and "time" are integers.
    int Compile(const std::string& text, std::vector<std::pair<const char*, std::string>> opts)
    {
        (void)std::system(("rm -rf '" + dir + "'/* && mkdir '" + dir + "/out'").c_str());
        std::vector<ks_api::Param> args = {{"bnfFile", Write("g.bnf", text)}};
        for (auto& o : opts) {
            std::string n = o.first;
            if (n == "o" || n == "d")
                args.push_back({n == "o" ? "fsgFile" : "fsgDirectory", Path(o.second)});
            else if (n == "syntax")
                args.push_back({"syntax", o.second});
            else
                args.push_back({n == "tr" ? "trMode" : n == "en" ? "enMode" : o.first, std::atol(o.second.c_str())});
        }
        return ks_api::Compile(args);
    }
};

// Where each root's file goes, for every combination of -o and -d
// (tests/data/output_names.txt).
TEST_F(DriverTest, OutputNames)
{
    for (const cases::Case& c : cases::Read("output_names.txt")) {
        std::vector<std::pair<const char*, std::string>> opts;
        std::istringstream in(c[1]);
        for (std::string o; in >> o;) opts.push_back({o[0] == 't' ? "tr" : o[0] == 'e' ? "en" : o[0] == 'o' ? "o" : "d", o.substr(o.find('=') + 1)});
        ASSERT_EQ(Compile(cases::Unescape(c[0]), opts), 0) << c.at << Message();
        EXPECT_EQ(Listing(), c[2]) << c.at;
    }
    fsg_build::Bytes a = fsg_build::Slurp(Path("a.fsg"));
    EXPECT_EQ(std::string(a.begin() + 8, a.begin() + 16), "SACOKV01");

    // The output name is taken from the FSG, not the source: a relative source
    // without a directory part gives a name in the current directory.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    KsArg args[] = {{(char*)"bnfFile", reinterpret_cast<long>("g.bnf")}, {(char*)"enMode", 1}};
    std::system("rm -f a.fsg b.fsg");
    int rc = KsCompileGrammar(2, args);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(rc, 0) << Message();
    EXPECT_EQ(Listing(), ".: a.fsg b.fsg g.bnf out/  out: ");
}

// The checks between the steps and their messages are in tests/data/messages.txt.
TEST_F(DriverTest, WarningsAndLaterFailures)
{
    EXPECT_EQ(KsCompileGrammar(0, nullptr), 1000);
    EXPECT_EQ(Message(), "no .bnf file specified");
    EXPECT_EQ(Compile("<main> = a | b .\n<spare> = c .\n", {{"warnings", "0"}}), 0);
    EXPECT_EQ(Message(), "");
    // A later root that fails leaves the earlier root's file.
    EXPECT_EQ(Compile("<<a>> = yes .\n<<b>> = x <r> .\n<r> = <r> y | z .\n", {{"en", "1"}}), 1000);
    EXPECT_EQ(Message(), "illegal recursive use of <r>");
    EXPECT_EQ(LastErrorPlace().file + ":" + std::to_string(LastErrorPlace().line) + ":" + std::to_string(LastErrorPlace().col),
              Path("g.bnf") + ":3:7");
    EXPECT_EQ(Listing(), ".: a.fsg g.bnf out/  out: ");
    // Deleting a duplicate arc is no warning: it is printed on standard error.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Compile("<<g>> = w:1 | w:2 .\n", {{"tr", "1"}}), 0) << Message();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Deleting duplicate arc 'w' : 2\n");
}

// Rule k refers to rule k+1 twice (doubling: 2^n sentences, exponential
// work for a walk that re-examines a rule at every reference), or is "a"
// followed by rule k+1 (a path of n words in n rules).
std::string Chain(int n, bool doubling)
{
    std::string g;
    for (int k = 0; k < n; k++) {
        std::string name = "<r" + std::to_string(k) + ">", next = "<r" + std::to_string(k + 1) + ">";
        g += (k ? name : "<" + name + ">") + " = ";
        if (doubling)
            g += (k + 1 < n ? next + " " + next + " | " : "") + "x" + std::to_string(k) + " .\n";
        else
            g += "a" + (k + 1 < n ? " " + next : "") + " .\n";
    }
    return g;
}

// Rule k repeats a choice of rule k+1 or a word: <rk> = (<rk+1> | wk)* .
std::string StarChain(int n)
{
    std::string g;
    for (int k = 0; k < n; k++) {
        std::string name = "<r" + std::to_string(k) + ">";
        g += (k ? name : "<" + name + ">") + " = ";
        g += (k + 1 < n ? "(<r" + std::to_string(k + 1) + "> | w" + std::to_string(k) + ")*" : "w" + std::to_string(k)) + " .\n";
    }
    return g;
}

// Grammars whose cost used to grow exponentially or with the square of their
// size: each must end quickly with its result or the writer's limit.
TEST_F(DriverTest, BoundedWork)
{
    fsg_build::Bytes b = fsg_build::Slurp(KSBNFC_TEST_DATA "/exploding.gram");
    const std::string exploding(b.begin(), b.end());
    struct Case {
        std::string grammar;
        const char* mode;
        int rc;
        const char* message;
        long states; // of the written file, when it succeeds
    } cases[] = {
        {Chain(31, true), "tr", 0, "", 0},
        {Chain(31, true), "en", 1000, "more than 64K states", 0},
        {Chain(22, true), "en", 1000, "more than 64K states", 0},
        {Chain(16, true), "en", 0, "", 0},
        {Chain(3000, false), "en", 0, "", 3001},
        {Chain(70000, false), "en", 1000, "more than 64K states", 0},
        // Copies of copies that loop: exponential before any merging.
        {std::regex_replace(Chain(31, true), std::regex("(x[0-9]+) \\."), "$1+ ."), "en", 1000,
         "more than 64K states", 0},
        // A random JSGF grammar (tests/jsgf_peer.py's generator with operators
        // after any item) whose determinisation grows without end.
        {exploding, "en", 1000, "more than 64K states", 0},
        {exploding, "tr", 0, "", 0},
        // Mixtures of mixtures: determinisation builds thousands of states
        // from members with hundreds of arcs each.
        {StarChain(12), "en", 0, "", 108},
        {StarChain(12), "tr", 0, "", 3},
        // Past the limit: its sets of states are counted before null arcs go
        // (they would make four million arcs) and the compile stops there.
        {StarChain(36), "en", 1000, "more than 64K states", 0},
        // Nested one-or-more: the language is a+ however deep the nesting.
        {"#JSGF V1.0; grammar g; public <r> = ((a)" + std::string(40, '+') + ")+;", "en", 0, "", 3},
        {std::regex_replace(Chain(40, false), std::regex("a (<r[0-9]+>) \\."), "$1+ ."), "en", 0, "", 3},
        // Nested optional references: each rule used to keep a copy of the rest.
        {std::regex_replace(Chain(3000, false), std::regex("(<r[0-9]+>) \\."), "$1? ."), "en", 0, "", 3001},
        // The same chain in JSGF: its rule flags took one sweep per level.
        {"#JSGF V1.0; grammar g;\n" +
             std::regex_replace(std::regex_replace(Chain(3000, false), std::regex("<<r0>>"), "public <r0>"),
                                std::regex(" \\.\n"), ";\n"),
         "en", 0, "", 3001},
    };
    for (const Case& c : cases) {
        const char* syntax = c.grammar[0] == '#' ? "jsgf" : "bnf";
        EXPECT_EQ(Compile(c.grammar, {{c.mode, "1"}, {"o", "g.out"}, {"syntax", syntax}}), c.rc)
            << c.grammar.substr(0, 40) << c.mode;
        EXPECT_EQ(Message(), c.message);
        if (c.states) {
            EXPECT_EQ(fsg_build::At32(fsg_build::Slurp(Path("g.out")), 68), c.states); // the main network's
        }
    }
}

// In code page 932 a trail byte 0x5C does not end the directory name.
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

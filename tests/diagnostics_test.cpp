// Tests of error and warning reporting: the messages of compiling grammar
// files (tests/data/messages.txt), the warning modes at the exported-call
// boundary, and over-long messages truncated within their buffers.
#include "cases.h"
#include "common.h"
#include "ks_api.h"
#include "ksbnfc_inner.h"


namespace {

// Each case compiles a file through KsCompileGrammar, for the return code
// and the C text, and through the inner interface, for the place of each
// warning and of the error, and what the parser expected there. Nothing is
// written when the compile fails.
class Messages : public ks_api::Scratch {
protected:
    std::string Relative(std::string s)
    {
        for (size_t at; (at = s.find(dir)) != std::string::npos;) s.replace(at, dir.size(), "DIR");
        return s;
    }
    std::string Place(const ksbnfc::Diagnostic& d)
    {
        if (!d.line) return "-";
        std::string at = Relative(d.file) + ":" + std::to_string(d.line) + ":" + std::to_string(d.column);
        return at + (d.expected.empty() ? "" : " " + d.expected);
    }
};

TEST_F(Messages, Table)
{
    setenv("JSGF_PATH", "/no/such/dir", 1);
    for (const cases::Case& c : cases::Read("messages.txt")) {
        SCOPED_TRACE(c.at);
        std::istringstream head(c[0]);
        std::string name, opt;
        head >> name;
        std::string path = Write(name, cases::Unescape(c[1]));
        if (c.fields.size() == 2) continue; // a file for the cases after it
        std::vector<ks_api::Param> params = {{"bnfFile", path}, {"warnings", 1L}};
        ksbnfc::CompileOptions o;
        while (head >> opt) {
            std::string key = opt.substr(0, opt.find('=')), value = opt.substr(key.size() + (key != opt));
            if (key == "en" || key == "tr") {
                params.push_back({key == "en" ? "enMode" : "trMode", 1L});
                o.mode = key == "en" ? ksbnfc::Mode::Engine : ksbnfc::Mode::Translation;
            } else if (key == "syntax") {
                params.push_back({"syntax", value});
                o.syntax = value == "jsgf" ? ksbnfc::Syntax::Jsgf : ksbnfc::Syntax::Bnf;
            } else if (key == "codePage") {
                params.push_back({"codePage", std::atol(value.c_str())});
                o.code_page = std::atoi(value.c_str());
            } else {
                params.push_back({key == "o" ? "fsgFile" : "fsgDirectory", Path(value)});
                (key == "o" ? o.output_file : o.output_directory) = Path(value);
            }
        }
        int rc = ks_api::Compile(params);
        std::string message = Relative(ks_api::Message());
        EXPECT_EQ(std::to_string(rc) + " " + message, cases::Unescape(c[2]));
        if (rc == 1000) {
            EXPECT_NE(std::system(("ls -d '" + dir + "'/*.fs? '" + dir + "'/out/* 2>/dev/null | grep -q .").c_str()), 0);
        }
        std::string places;
        try {
            ksbnfc::Compile(path, o, [&](const ksbnfc::Diagnostic& d) { places += " / " + Place(d); });
        } catch (const ksbnfc::Failure& f) {
            EXPECT_EQ(rc, 1000);
            EXPECT_EQ(Relative(f.what()), message);
            places += " / " + Place(f.diagnostic());
        }
        EXPECT_EQ(places.empty() ? "-" : places.substr(3), c[3]);
        (void)std::system(("cd '" + dir + "' && rm -rf *.fsg *.fst out/*").c_str());
        ks_set_cp(1252);
    }
    unsetenv("JSGF_PATH");
}

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = warnings; }
    void TearDown() override { warnings = saved_; }
    int saved_ = 0;
};

TEST_F(DiagnosticsTest, BoundaryFollowsWarningModeAndErrorsReplaceWarnings)
{
    struct Case {
        int mode, rc;
        const char *buf, *out;
    } cases[] = {
        {0, 0, "", ""},
        {1, 1, "\ta\n\tb\n", ""},
        {-1, 0, "", "Warning: \ta\nWarning: \tb\n"},
    };
    for (const Case& c : cases) {
        warnings = c.mode;
        testing::internal::CaptureStdout();
        int rc = KsBoundary([] {
            Warning("a");
            Warning("%c", 'b');
        });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.mode;
        EXPECT_EQ(rc, c.rc) << c.mode;
        EXPECT_STREQ(KsMsgBuf, c.buf) << c.mode;
    }
    warnings = 1;
    EXPECT_EQ(KsBoundary([] {
                  Warning("first");
                  Error("%s in \"%s\", line %d", "bad", "g.bnf", 3);
              }),
              1000);
    EXPECT_STREQ(KsMsgBuf, "bad in \"g.bnf\", line 3");
    EXPECT_EQ(KsBoundary([] {}), 0);
    EXPECT_STREQ(KsMsgBuf, "");
}

TEST_F(DiagnosticsTest, OverlongMessagesAreTruncatedSafely)
{
    std::string big(5000, 'e');
    EXPECT_EQ(KsBoundary([&] { Error("%s!", big.c_str()); }), 1000);
    EXPECT_EQ(std::string(KsMsgBuf), std::string(999, 'e'));

    static char huge[4000];
    std::memset(huge, 'h', sizeof huge - 1);
    EXPECT_EQ(KsBoundary([] { throw static_cast<char*>(huge); }), 1000);
    EXPECT_EQ(std::strlen(KsMsgBuf), sizeof KsMsgBuf - 1);

    warnings = 1;
    KsBoundary([] { Warning("%s", std::string(3000, 'z').c_str()); });
    std::string one(KsMsgBuf);
    ASSERT_EQ(one.size(), 999u); // tab + 997 + newline, within 1000 with NUL
    EXPECT_EQ(one.front(), '\t');
    EXPECT_EQ(one.back(), '\n');

    std::string w900(900, 'w');
    KsBoundary([&] {
        Warning("%s", w900.c_str());                  // 902 bytes
        Warning("%s", w900.c_str());                  // 1804
        Warning("%s", w900.c_str());                  // would be 2706: dropped whole
        Warning("%s", std::string(193, 's').c_str()); // 1999 exactly: fits
        Warning("x");                                 // no room left
    });
    std::string all(KsMsgBuf);
    EXPECT_EQ(all.size(), 1999u);
    EXPECT_EQ(all.substr(1804), "\t" + std::string(193, 's') + "\n");
}

} // namespace

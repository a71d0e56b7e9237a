// inner_test.cpp: the inner interface: errors and warnings keep the C
// interface's texts while their places and expectations travel beside them,
// and files compiled in memory equal the files written.
#include "ksbnfc_inner.h"
#include "ks_api.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using ksbnfc::CompileOptions;
using ksbnfc::Diagnostic;

CompileOptions InMode(ksbnfc::Mode mode)
{
    CompileOptions o;
    o.mode = mode;
    return o;
}

Diagnostic FailureOf(const std::string& text, const CompileOptions& o = InMode(ksbnfc::Mode::Translation))
{
    try {
        ksbnfc::CompileText(text, "g.bnf", o);
    } catch (const ksbnfc::Failure& f) {
        return f.diagnostic();
    }
    ADD_FAILURE() << "compiled: " << text;
    return Diagnostic();
}

// The texts and places are in tests/data/messages.txt; what a tool prints
// drops the place from the text and names what the parser expected.
TEST(Inner, LocatedFailures)
{
    const char* cases[][3] = {
        {"<<g>> = a b", "syntax error in \"g.bnf\", line 1, column 12",
         "g.bnf:1:12: error: syntax error, expected a word, a <name>, a group, '->', '|' or '.'"},
        {"<<g>> = a b -> {3} .", "too many args in rule, line 1, column 8", "g.bnf:1:8: error: too many args in rule"},
        {"<<g>> = a .\n<<g>> = b .", "<<g>> is multiply defined", "g.bnf:2:1: error: <<g>> is multiply defined"},
    };
    for (auto& c : cases) {
        Diagnostic d = FailureOf(c[0]);
        EXPECT_EQ(d.text, c[1]) << c[0];
        EXPECT_EQ(d.Located("ksbnfc"), c[2]) << c[0];
    }
    // A failure without a place goes under the fallback name.
    EXPECT_EQ(FailureOf("<<g>> = a -> x .", CompileOptions()).Located("t"),
              "t: error: please specify -tr for translation fsg or -en for engine fsg");
}

TEST(Inner, WarningsReachTheSinkInOrderWithTheirPlaces)
{
    std::vector<std::string> got;
    ksbnfc::CompileText("<<g>> = a | .\n<spare> = b .", "g.bnf", InMode(ksbnfc::Mode::Engine),
                        [&](const Diagnostic& d) { got.push_back(d.text + " | " + d.Located("x")); });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "empty rule ignored; use \"\" for empty rule, line 1, column 12 | "
                      "g.bnf:1:12: warning: empty rule ignored; use \"\" for empty rule");
    EXPECT_EQ(got[1], "<spare> defined but not used | g.bnf:2:1: warning: <spare> defined but not used");
    // The lowest debug level is no level at all (its arithmetic once overflowed).
    CompileOptions low = InMode(ksbnfc::Mode::Translation);
    low.debug_level = INT_MIN;
    EXPECT_EQ(ksbnfc::CompileText("<<g>> = a <r> . <r> = b .", "g.bnf", low).size(), 1u);
    CompileOptions quiet = InMode(ksbnfc::Mode::Engine);
    quiet.warnings = 0;
    got.clear();
    ksbnfc::CompileText("<<g>> = a | .", "g.bnf", quiet, [&](const Diagnostic& d) { got.push_back(d.text); });
    EXPECT_TRUE(got.empty());
}

class InnerFiles : public ks_api::Scratch {
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(InnerFiles, InMemoryEqualTheFilesWritten)
{
    const std::string grammar = "<<a>> = x <n> . <<b>> = y:1 | z:2 . <n> = one | two .";
    std::string path = Write("two.bnf", grammar);
    for (ksbnfc::Mode mode : {ksbnfc::Mode::Engine, ksbnfc::Mode::Translation}) {
        CompileOptions o;
        o.mode = mode;
        std::vector<ksbnfc::CompiledFile> text = ksbnfc::CompileText(grammar, path, o);
        std::vector<ksbnfc::CompiledFile> file = ksbnfc::Compile(path, o);
        o.write_files = true;
        o.output_directory = Path("out");
        Write("out/.keep", "");
        std::vector<ksbnfc::CompiledFile> written = ksbnfc::Compile(path, o);
        ASSERT_EQ(text.size(), 2u);
        ASSERT_EQ(written.size(), 2u);
        for (size_t i = 0; i < 2; i++) {
            EXPECT_EQ(text[i].root, i ? "<<b>>" : "<<a>>");
            EXPECT_EQ(text[i].bytes, file[i].bytes);
            EXPECT_EQ(text[i].path, file[i].path);
            EXPECT_EQ(written[i].bytes, "");
            EXPECT_EQ(ReadAll(written[i].path), text[i].bytes);
            // And loaded back from the bytes, the grammar accepts what it should.
            auto g = ksbnfc::Grammar::FromBytes(text[i].bytes, text[i].path);
            EXPECT_EQ(g->Match(i ? ksbnfc::Words{"z"} : ksbnfc::Words{"x", "two"}).accepted, 2);
            EXPECT_EQ(g->Match(ksbnfc::Words{"x"}).accepted, i ? 0 : 1);
        }
    }
}

} // namespace

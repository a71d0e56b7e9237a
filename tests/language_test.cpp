// Language tests of the whole compile pipeline: grammars compiled in engine
// mode (null arcs eliminated, everything inlined) and translation mode (null
// arcs kept, every rule an intern network), loaded and matched, from the
// table of tests/data/sentences.txt; the JSGF front end keeping the language
// in both modes, its encodings and the syntax parameter. Random grammars
// are checked against the notation's meaning in match_test.
#include "cases.h"
#include "common.h"
#include "ks_api.h"

namespace {

using ks_api::Message;
using ks_api::Translate;
using Sentences = ks_api::Scratch;

TEST_F(Sentences, Table)
{
    std::vector<std::pair<std::string, void*>> loaded; // mode, grammar
    auto unload = [&] {
        for (auto& l : loaded) KsUnloadFSG(l.second);
        loaded.clear();
    };
    for (const cases::Case& c : cases::Read("sentences.txt")) {
        SCOPED_TRACE(c.at);
        if (c[0].rfind("file ", 0) == 0) {
            Write(c[0].substr(5), cases::Unescape(c[1]));
        } else if (c[0].rfind("== ", 0) == 0) {
            unload();
            std::istringstream head(c[0].substr(3));
            std::string name, opt, root;
            std::vector<std::string> modes;
            long cp = 0;
            for (head >> name; head >> opt;) {
                if (opt.rfind("codePage=", 0) == 0) cp = std::atol(opt.c_str() + 9);
                else if (opt.rfind("root=", 0) == 0) root = opt.substr(5);
                else modes.push_back(opt);
            }
            std::string src = Write(name, cases::Unescape(c[1]));
            for (const std::string& mode : modes) {
                std::vector<ks_api::Param> p = {{"bnfFile", src}, {mode == "tr" ? "trMode" : "enMode", 1L}, {"warnings", 0L}};
                p.push_back(root.empty() ? ks_api::Param("fsgFile", Path(mode + ".out")) : ks_api::Param("fsgDirectory", dir));
                if (cp) p.push_back({"codePage", cp});
                ASSERT_LT(ks_api::Compile(p), 1000) << ks_api::Message();
                ks_set_cp(1252);
                loaded.push_back({mode, Load(root.empty() ? Path(mode + ".out") : Path(root + (mode == "tr" ? ".fst" : ".fsg")))});
            }
        } else {
            std::string want = cases::Unescape(c[1]);
            for (auto& l : loaded) {
                std::string got = ks_api::Translate(l.second, c[0] == "\"\"" ? "" : c[0]);
                EXPECT_EQ(got.rfind("<error", 0), std::string::npos) << got;
                if (l.first == "tr" && want != "*") {
                    EXPECT_EQ(got, want) << c[0];
                } else {
                    EXPECT_EQ(got == "<rejected>", want == "<rejected>") << l.first << ": " << c[0] << " gave " << got;
                }
            }
            EXPECT_EQ(ks_get_cp(), 1252u); // matching leaves the process code page alone
        }
    }
    unload();
}

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

TEST_F(JsgfTest, UnknownSyntax)
{
    EXPECT_EQ(Compile(Write("s3.gram", "#JSGF V1.0;\ngrammar s;\npublic <a> = hello;\n"), false, dir + "/s3.fsg", "abnf"), 1000);
    EXPECT_EQ(Message(), "unknown syntax 'abnf' (bnf or jsgf)");
}

} // namespace

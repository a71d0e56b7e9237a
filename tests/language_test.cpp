// Language tests of the whole compile pipeline: grammars compiled in engine
// mode (null arcs eliminated, everything inlined) and translation mode (null
// arcs kept, every rule an intern network), loaded and matched, from the
// table of tests/data/sentences.txt. Random grammars are checked against the
// notation's meaning in match_test.
#include "cases.h"
#include "ks_api.h"

namespace {


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

} // namespace

// Tests of the sub-string search: the results of every start position,
// newest first, duplicates, the errors, externs and their callers' interns,
// and a very long input.
#include "fsg_build.h"

#include <memory>

namespace {

using fsg_build::Make;
using fsg_build::Thrown;
using Results = std::vector<std::string>;

// Runs the search from every start position (or only from one) and lists
// the results as read back: "start-end@prob".
Results Search(TFSG* g, const std::vector<const char*>& words, int only_start = -1)
{
    TStringList in;
    fsg_build::Fill(in, words);
    SubStrsHandler h;
    for (int s = 0; s < in.length; s++)
        if (only_start < 0 || s == only_start) g->SubStrs(in, &h, s, s, 1.0, g->Initial(), nullptr);
    Results out;
    while (MySubStrTuple* t = h.getNext()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d-%d@%g", t->start_index, t->end_index, t->prob);
        out.push_back(buf);
    }
    return out;
}

TEST(SubStrs, ResultsNewestFirst)
{
    std::string big = "0: ";
    for (int i = 0; i < 30; i++) big += "w" + std::to_string(i) + "->1, ";
    struct Case {
        std::string grammar;
        std::vector<const char*> words;
        Results want;
    } cases[] = {
        {"0: a->1; 1: _->*, b->2; 2: _->*", {"a", "b"}, {"0-1@1", "0-0@1"}},
        {"0: b->*", {"a", "b", "B"}, {"2-2@1", "1-1@1"}},
        // two paths for the same stretch
        {"0: a->*@0.5, a->1@0.5; 1: _->*@0.5", {"a"}, {"0-0@0.25", "0-0@0.5"}},
        // the input ends at a word arc: later arcs of the state are not tried
        {"0: a->1; 1: b->*, _->*", {"a"}, {}},
        // an indexed state and a sub-grammar
        {big + "<0>->1@0.5; 1: _->*", {"w3", "w4", "W29"}, {"2-2@1", "1-1@1", "0-1@0.5", "0-0@1"}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TFSG> g(Make(c.grammar, {"0: W3->1; 1: w4->*"}));
        EXPECT_EQ(Search(g.get(), c.words), c.want) << c.grammar.substr(0, 40);
    }
    Results r = Search(std::unique_ptr<TFSG>(Make("0: a->1; 1: _->*, a->1")).get(), std::vector<const char*>(100000, "a"), 0);
    ASSERT_EQ(r.size(), 100000u);
    EXPECT_EQ(r.front(), "0-99999@1");
}

TEST(SubStrs, ErrorsAndExterns)
{
    std::unique_ptr<TFSG> null_path(Make("0: a->*, _->*"));
    EXPECT_EQ(Thrown([&] { Search(null_path.get(), {"b"}); }), "Warning: check if there is null path in fsg!\n");
    std::unique_ptr<TFSG> missing(Make("0: a->1; 1: <2>->*"));
    EXPECT_EQ(Thrown([&] { Search(missing.get(), {"a"}); }), "Can't open an intern fsg: 2!\n");
    // An extern that is not loaded is one word, its bracketed name, as in matching.
    std::unique_ptr<TFSG> ext(Make("0: a->1, $<substrs_never>->1; 1: _->*"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(Search(ext.get(), {"<Substrs_Never>", "a", "substrs_never"}), (Results{"1-1@1", "0-0@1"}));
    std::string lines;
    for (int i = 0; i < 3; i++) lines += "To load extern fsg: <substrs_never>\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), lines);

    // After the extern's own intern 0, the caller's intern 0 is entered.
    fsg_build::TempFile file;
    fsg_build::Write("0: x->1; 1: <0>->*", {"0: z->*"}, file);
    ASSERT_NE(TFSG::Extern("substrs_ext", file.c_str()), nullptr);
    std::unique_ptr<TFSG> g(Make("0: $<substrs_ext>->1; 1: <0>->*", {"0: y->*"}));
    testing::internal::CaptureStdout();
    Results r = Search(g.get(), {"x", "z", "y"}, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "To load extern fsg: <substrs_ext>\nLoad extern fsg: <substrs_ext>\n");
    EXPECT_EQ(r, Results{"0-2@1"});
}

} // namespace

// Tests of the annotation action language: running actions on a stack,
// merging two actions (tests/data/actions.txt) and renumbering arguments.
#include "cases.h"
#include "graph_dump.h"

#include <cstring>

namespace {

using Items = std::vector<std::string>;
const std::string sep = "\xB7";

mbstring M(const std::string& s) { return mbstring(const_cast<char*>(s.c_str())); }

Items Dump(TStringList& list)
{
    Items out;
    for (int i = 0; i < list.length; i++) out.push_back(list[i].s ? list[i].s : "<null>");
    return out;
}

// Runs the actions in turn on a stack holding items; returns the stack or
// the error text.
Items Stack(const Items& items, const std::vector<std::string>& actions)
{
    TStringList stack;
    for (const std::string& s : items) stack.Add(M(s));
    try {
        for (const std::string& a : actions) DoActions(stack, M(a));
    } catch (const char* msg) {
        return {std::string("error: ") + msg};
    }
    return Dump(stack);
}

std::string Joined(const Items& items)
{
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : " | ") + (s.empty() ? "\"\"" : s);
    return out;
}

TEST(Actions, Table)
{
    for (const cases::Case& c : cases::Read("actions.txt")) {
        std::string a = cases::Unescape(c[1]), b = cases::Unescape(c[2]);
        if (c[0] == "max") {
            EXPECT_EQ(std::to_string(MaxActionArg(M(a))), c[2]) << c.at;
        } else if (c[0].rfind("run ", 0) != 0) {
            std::string merged = MergeActions(M(a), M(b)).s;
            if (c[3] != "*") {
                EXPECT_EQ(merged, c[3]) << c.at;
            }
            Items stack = {"a", "b", "c", "d"};
            if (c[0] == "merge") {
                EXPECT_EQ(Stack(stack, {merged}), Stack(stack, {a, b})) << c.at;
            }
        } else {
            Items stack = graph_dump::Words(c[0].substr(4));
            if (stack == Items{"-"}) stack.clear();
            EXPECT_EQ(Joined(Stack(stack, {a})), b) << c.at;
        }
    }
}

TEST(Actions, TwoByteCharactersAreNeverSplit)
{
    ks_set_cp(932);
    // The trail byte of 0x81 0x7B is the code of '{': it must stay literal.
    EXPECT_EQ(Stack({"a"}, {"\x81\x7B" "1}"}), (Items{"a", "\x81\x7B" "1}"}));
    // 0xB7 is a single byte under 932 and still separates.
    EXPECT_EQ(Stack({"a"}, {"[{1}]\xB7<{1}>"}), (Items{"<[a]>"}));
    // A lead byte cut off by the terminator is a character of its own.
    EXPECT_EQ(Stack({"a"}, {"{1}\x81"}), (Items{"a\x81"}));
    ks_set_cp(936);
    // 0xB7 leads a two-byte character here, so there is no separator.
    EXPECT_EQ(Stack({"a"}, {"[{1}]\xB7" "A{1}"}), (Items{"[a]\xB7" "Aa"}));
    ks_set_cp(1252);
    EXPECT_EQ(Stack({"a"}, {"{1}\xB7"}), (Items{"a", ""}));
}

TEST(Actions, ActionListWorkedExampleAndFailures)
{
    TStringList actions;
    for (const char* a : {"twenty", (const char*)nullptr, "three", "{1}-{2}", "num({})"}) actions.Add(mbstring(a));
    mbstring r = DoActions(actions);
    ASSERT_FALSE(!r);
    EXPECT_STREQ(r.s, "num(twenty-three)");
    delete[] r.s;

    TStringList nulls;
    nulls.Add(mbstring());
    EXPECT_TRUE(!DoActions(nulls));
    TStringList two;
    two.Add(mbstring("a"));
    two.Add(mbstring("b"));
    testing::internal::CaptureStdout();
    EXPECT_THROW(DoActions(two), const char*);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "stack has 2 elements\n");
}

TEST(Actions, MergeReusesItsResultAndWarnsWhenNothingMerges)
{
    // The previous result may be passed back in.
    mbstring once = MergeActions(mbstring("x"), mbstring("[{1}]"));
    EXPECT_STREQ(MergeActions(once, mbstring("({1})")).s, "([x])");
    graph_dump::WarningsCollected w;
    EXPECT_STREQ(MergeActions(mbstring("a"), mbstring("b")).s, "b");
    EXPECT_EQ(w.Text(), "\tmerging 'a' and 'b'\n");
}

TEST(Actions, RemapArgs)
{
    int map[9];
    for (int& m : map) m = -7;
    EXPECT_STREQ(RemapArgs(mbstring("{3} and {7}"), 7, map).s, "{1} and {2}");
    EXPECT_EQ(std::vector<int>(map, map + 9), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 2, -7}));
    for (int& m : map) m = -7;
    EXPECT_STREQ(RemapArgs(mbstring("f({a2},{2},{}) {1"), 2, map).s, "f({1},{1},{}) {1");
    EXPECT_EQ(std::vector<int>(map, map + 4), (std::vector<int>{0, 0, 1, -7}));
    // A later segment may name arguments above max: they have no slot in map
    // and are kept as written.
    EXPECT_EQ(std::string(RemapArgs(M("{2}" + sep + "{5}"), 2, map).s), "{1}" + sep + "{5}");
    EXPECT_EQ(map[3], -7);
}

TEST(Actions, ResultsNeverOutgrowTheirBuffers)
{
    std::string fits = std::string(1996, 'a') + "{1}";
    int map[2];
    EXPECT_EQ(strlen(RemapArgs(M(fits), 1, map).s), 1999u);
    EXPECT_EQ(strlen(MergeActions(mbstring(""), M(fits)).s), 1996u);
    std::string big(1500, 'a');
    try {
        MergeActions(M(big), M(big + "{1}"));
        ADD_FAILURE() << "a 3000-byte merge must fail";
    } catch (const char* msg) {
        EXPECT_NE(strstr(msg, "1999 bytes"), nullptr) << msg;
    }
    // The input may be longer than the buffer as long as the result fits.
    std::string many;
    for (int i = 0; i < 500; i++) many += "{a1}";
    EXPECT_EQ(strlen(RemapArgs(M(many), 1, map).s), 1500u);
    EXPECT_THROW(RemapArgs(M(many + many), 1, map), const char*);
}

} // namespace

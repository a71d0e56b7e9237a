// Tests of the annotation action language: running actions on a stack,
// merging two actions and renumbering arguments.
#include "common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Items = std::vector<std::string>;

const char kSep[] = "\xB7";

void Fill(TStringList& list, const Items& items) {
  for (const std::string& s : items) list.Add(mbstring(const_cast<char*>(s.c_str())));
}

Items Dump(TStringList& list) {
  Items out;
  for (int i = 0; i < list.length; i++) out.push_back(list[i].s ? list[i].s : "<null>");
  return out;
}

// Runs action on a stack holding items; returns the stack or the error text.
Items RunAction(const Items& items, const std::string& action) {
  TStringList stack;
  Fill(stack, items);
  try {
    DoActions(stack, mbstring(const_cast<char*>(action.c_str())));
  } catch (const char* msg) {
    return {std::string("error: ") + msg};
  }
  return Dump(stack);
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ks_set_cp(1252); }
  void TearDown() override { ks_set_cp(1252); }
};

TEST_F(ActionsTest, GetActionArgReadsOneReference) {
  struct Case {
    const char* text;
    int ok, k, consumed;
  } cases[] = {
      {"{1}x", 1, 1, 3},   {"{12}", 1, 12, 4},  {"{a2}", 1, 2, 4}, {"{1a2}", 1, 12, 5},
      {"{x}", 1, 0, 3},    {"{}", 0, 0, 0},     {"{12", 0, 0, 0},  {"x{1}", 0, 0, 0},
      {"{1\xB7}", 0, 0, 0}, {"", 0, 0, 0},
  };
  for (const Case& c : cases) {
    mbstring s(const_cast<char*>(c.text));
    int k = -1;
    EXPECT_EQ(GetActionArg(s, k), c.ok) << c.text;
    EXPECT_EQ(s.s - c.text, c.consumed) << c.text;
    if (c.ok) {
      EXPECT_EQ(k, c.k) << c.text;
    }
  }
}

TEST_F(ActionsTest, MaxActionArgLooksAtFirstSegmentOnly) {
  struct Case {
    std::string text;
    int max;
  } cases[] = {
      {"", 0}, {"plain", 0}, {"{}", 0}, {"{3}{5}{2}", 5}, {"f({1},{a7})", 7},
      {"{2}" + std::string(kSep) + "{9}", 2}, {"{x}", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MaxActionArg(mbstring(const_cast<char*>(c.text.c_str()))), c.max) << c.text;
  EXPECT_EQ(MaxActionArg(mbstring()), 0);
}

TEST_F(ActionsTest, OneActionOnAStack) {
  const std::string sep(kSep);
  struct Case {
    Items stack;
    std::string action;
    Items result;
  } cases[] = {
      {{"x", "y", "z"}, "{2}", {"x", "z"}},
      {{"x"}, "[{1}]" + sep + "({1})", {"([x])"}},
      {{"a", "b"}, "{1}" + sep + "{1}-{2}", {"a-b"}},
      {{}, "yes", {"yes"}},
      {{"old"}, "", {"old", ""}},
      {{"a", "b"}, "{1}+{}", {"a+b"}},
      {{"a", "b"}, "{}{}", {"a", "bb"}},
      {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}, "<{12}>", {"<12>"}},
      {{"p", "q"}, "{a2}", {"q"}},
      {{}, "{abc", {"{abc"}},
      {{"x"}, "{1" + sep + "{1}{2}", {"x{1"}},
      // A brace group without digits names the item below the consumed ones.
      {{"below", "top"}, "{x}{1}", {"below", "belowtop"}},
      {{"a"}, "{1}", {"a"}},
      {{}, "{1}", {"error: need 1 items on stack, have 0"}},
      {{}, "{}", {"error: need 1 items on stack, have 0"}},
      {{"a"}, "{3}", {"error: need 3 items on stack, have 1"}},
      {{"a"}, "ok" + sep + "{3}", {"error: need 3 items on stack, have 2"}},
      {{}, "{x}", {"error: need 1 items on stack, have 0"}},
      {{"a"}, "{x}{1}", {"error: need 2 items on stack, have 1"}},
      {{"a"}, "{99999999999999999999}", {"error: need 536870911 items on stack, have 1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(RunAction(c.stack, c.action), c.result) << c.action;
  TStringList stack;
  DoActions(stack, mbstring());
  EXPECT_EQ(stack.length, 0);
}

TEST_F(ActionsTest, TwoByteCharactersAreNeverSplit) {
  ks_set_cp(932);
  // The trail byte of 0x81 0x7B is the code of '{': it must stay literal.
  EXPECT_EQ(RunAction({"a"}, "\x81\x7B" "1}"), (Items{"a", "\x81\x7B" "1}"}));
  EXPECT_EQ(RunAction({"a"}, "{1}" "\x82\xA0"), (Items{"a\x82\xA0"}));
  // 0xB7 is a single byte under 932 and still separates.
  EXPECT_EQ(RunAction({"a"}, "[{1}]\xB7<{1}>"), (Items{"<[a]>"}));
  // A lead byte cut off by the terminator is a character of its own.
  EXPECT_EQ(RunAction({"a"}, "{1}\x81"), (Items{"a\x81"}));

  ks_set_cp(936);
  // 0xB7 leads a two-byte character here, so there is no separator.
  EXPECT_EQ(RunAction({"a"}, "[{1}]\xB7" "A{1}"), (Items{"[a]\xB7" "Aa"}));
  EXPECT_EQ(RunAction({"a"}, "{1}\xB7"), (Items{"a\xB7"}));
  ks_set_cp(1252);
  EXPECT_EQ(RunAction({"a"}, "{1}\xB7"), (Items{"a", ""}));
}

TEST_F(ActionsTest, ActionListWorkedExample) {
  TStringList actions;
  actions.Add(mbstring("twenty"));
  actions.Add(mbstring());
  actions.Add(mbstring("three"));
  actions.Add(mbstring("{1}-{2}"));
  actions.Add(mbstring("num({})"));
  mbstring r = DoActions(actions);
  ASSERT_FALSE(!r);
  EXPECT_STREQ(r.s, "num(twenty-three)");
  delete[] r.s;
  EXPECT_EQ(actions.length, 5);
}

TEST_F(ActionsTest, ActionListFailures) {
  TStringList nulls;
  nulls.Add(mbstring());
  nulls.Add(mbstring());
  EXPECT_TRUE(!DoActions(nulls));

  TStringList two;
  Fill(two, {"a", "b"});
  testing::internal::CaptureStdout();
  try {
    DoActions(two);
    ADD_FAILURE() << "two items left must fail";
  } catch (const char* msg) {
    EXPECT_STREQ(msg, "internal error: stack has 2 elements");
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "stack has 2 elements\n");
  EXPECT_EQ(Dump(two), (Items{"a", "b"}));

  TStringList shortList;
  Fill(shortList, {"a", "{1}{2}"});
  try {
    DoActions(shortList);
    ADD_FAILURE() << "short stack must fail";
  } catch (const char* msg) {
    EXPECT_STREQ(msg, "need 2 items on stack, have 1");
  }
}

TEST_F(ActionsTest, MergeActions) {
  EXPECT_STREQ(MergeActions(mbstring("x{1}"),
                            mbstring("f({1},{2})")).s,
               "f({1},x{2})");
  EXPECT_STREQ(MergeActions(mbstring("g({a1})"),
                            mbstring("{b1}{}")).s,
               "g({1}){}");

  int saved = warnings;
  warnings = 1;
  KsMsgBuf[0] = 0;
  EXPECT_STREQ(MergeActions(mbstring("a"),
                            mbstring("b")).s, "b");
  EXPECT_STREQ(KsMsgBuf, "\tmerging 'a' and 'b'\n");
  KsMsgBuf[0] = 0;
  warnings = saved;

  // The previous result may be passed back in.
  mbstring once = MergeActions(mbstring("x"), mbstring("[{1}]"));
  EXPECT_STREQ(MergeActions(once, mbstring("({1})")).s, "([x])");
}

// Running the merged action must equal running first and then second.
TEST_F(ActionsTest, MergedActionRunsLikeBoth) {
  struct Case {
    const char* first;
    const char* second;
    Items stack;
  } cases[] = {
      {"x{1}", "f({1},{2})", {"a", "b"}},
      {"g({1},{2})", "f({1},{2},{3})", {"a", "b", "c", "d"}},
      {"lit", "<{1}>", {"bottom"}},
      {"{2}{1}", "{1}:{2}", {"a", "b", "c"}},
      {"h({1})", "{2}", {"a", "b"}},
  };
  for (const Case& c : cases) {
    std::string merged = MergeActions(mbstring(const_cast<char*>(c.first)),
                                      mbstring(const_cast<char*>(c.second))).s;
    TStringList twice;
    Fill(twice, c.stack);
    DoActions(twice, mbstring(const_cast<char*>(c.first)));
    DoActions(twice, mbstring(const_cast<char*>(c.second)));
    EXPECT_EQ(RunAction(c.stack, merged), Dump(twice)) << c.first << " then " << c.second;
  }
}

TEST_F(ActionsTest, RemapArgs) {
  int map[9];
  for (int& m : map) m = -7;
  EXPECT_STREQ(RemapArgs(mbstring("{3} and {7}"), 7, map).s, "{1} and {2}");
  EXPECT_EQ(std::vector<int>(map, map + 9), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 2, -7}));

  for (int& m : map) m = -7;
  EXPECT_STREQ(RemapArgs(mbstring("f({a2},{2},{}) {1"), 2, map).s,
               "f({1},{1},{}) {1");
  EXPECT_EQ(std::vector<int>(map, map + 4), (std::vector<int>{0, 0, 1, -7}));

  // A later segment may name arguments above max: they have no slot in map
  // and are kept as written.
  std::string multi = "{2}" + std::string(kSep) + "{5}";
  EXPECT_EQ(std::string(RemapArgs(mbstring(const_cast<char*>(multi.c_str())), 2, map).s),
            "{1}" + std::string(kSep) + "{5}");
  EXPECT_EQ(map[3], -7);
}

TEST_F(ActionsTest, ResultsNeverOutgrowTheirBuffers) {
  std::string fits(1999 - 3, 'a');
  fits += "{1}";
  int map[2];
  EXPECT_EQ(strlen(RemapArgs(mbstring(const_cast<char*>(fits.c_str())), 1, map).s), 1999u);
  EXPECT_EQ(strlen(MergeActions(mbstring(""),
                                mbstring(const_cast<char*>(fits.c_str()))).s), 1996u);

  std::string big(1500, 'a');
  std::string second = big + "{1}";
  try {
    MergeActions(mbstring(const_cast<char*>(big.c_str())), mbstring(const_cast<char*>(second.c_str())));
    ADD_FAILURE() << "a 3000-byte merge must fail";
  } catch (const char* msg) {
    EXPECT_NE(strstr(msg, "1999 bytes"), nullptr) << msg;
  }
  // The input may be longer than the buffer as long as the result fits.
  std::string many;
  for (int i = 0; i < 500; i++) many += "{a1}";
  EXPECT_EQ(strlen(RemapArgs(mbstring(const_cast<char*>(many.c_str())), 1, map).s), 1500u);
  std::string longer = many + many;
  EXPECT_THROW(RemapArgs(mbstring(const_cast<char*>(longer.c_str())), 1, map), const char*);
}

TEST_F(ActionsTest, PutArgAndStartsWith) {
  char buf[16];
  memset(buf, '#', sizeof buf);
  mbstring out(buf);
  PutArg(out, 42);
  EXPECT_EQ(out.s - buf, 4);
  EXPECT_EQ(std::string(buf, 5), "{42}#");

  char text[] = "prefix-rest";
  EXPECT_EQ(starts_with(text, "prefix-"), text + 7);
  EXPECT_EQ(starts_with(text, ""), text);
  EXPECT_EQ(starts_with(text, "prefiX"), nullptr);
  EXPECT_EQ(starts_with(text, "prefix-rest-more"), nullptr);
}

} // namespace

// Tests of ksintent: reading the marks of the intent network's translation,
// which values are numbers, and the JSON writer's escapes. That the tool,
// Python and C++ agree on the examples is tested in python/tests.
#include "intent.h"

#include <gtest/gtest.h>

namespace {

using ksintent::Understanding;
using ksintent::Value;

// ReadMarks' result as "INTENT slot=value slot=number# ...".
std::string Read(const std::string& marked)
{
    Understanding u;
    ksintent::ReadMarks(marked, u);
    std::string s = u.intent;
    for (const auto& kv : u.slots)
        s += " " + kv.first + "=" + kv.second.text + (kv.second.kind == Value::Kind::Number ? "#" : "");
    return s;
}

TEST(Marks, SlotsAndIntents)
{
    const struct {
        const char* marked;
        const char* want;
    } cases[] = {
        {"turn \1state\2on\3 the light\5SetLight\6", "SetLight state=on"},
        // A value keeps the values of the slots written into it, as they
        // are, not those only carried along (hidden); its blanks at the
        // ends go.
        {"\1a\2x \1b\2 7 \3 y\3", " b=7# a=x  7  y"},
        {"\1a\2x\4b\2y\3z\3", " b=y a=xz"},
        {"\4\2\1c\2v\3\3", " c=v"},
        // The innermost intent names the sentence.
        {"\5Outer\6\4\2\5Inner\6\3", "Inner"},
        // An empty value fills no slot; a slot filled again keeps the last.
        {"\1a\2 \3\1b\2p\3\1b\2q\3", " b=q"},
        // Marks out of order are passed over.
        {"\3\2x\1a\2v", ""},
        {"\5Broken", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Read(c.marked), c.want) << c.marked;
}

TEST(Values, NumbersAreWhatJsonReadsBackAsWritten)
{
    for (const char* n : {"21", "0", "-3", "2.5", "-0.25"})
        EXPECT_EQ(Value::Of(n).kind, Value::Kind::Number) << n;
    for (const char* t : {"021", "-", "1.", ".5", "1e3", "+1", "", "twenty", "1 2", "00"})
        EXPECT_EQ(Value::Of(t).kind, Value::Kind::Text) << t;
}

TEST(Json, AlwaysWellFormed)
{
    EXPECT_EQ(ksintent::JsonString("a\"b\\c\n\x01\x7f"), "\"a\\\"b\\\\c\\n\\u0001\x7f\"");
    EXPECT_EQ(ksintent::JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    EXPECT_EQ(ksintent::JsonString("caf\xe9 \xc3"), "\"caf\\ufffd \\ufffd\"");
    EXPECT_EQ(ksintent::JsonString("\xf8\x80\x80 \xff\xbf\xbf"), "\"\\ufffd\\ufffd\\ufffd \\ufffd\\ufffd\\ufffd\"");
    EXPECT_EQ(ksintent::JsonString("\xed\xa0\x80\xf4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\"")
        << "surrogates and code points past U+10FFFF";
    EXPECT_EQ(ksintent::JsonString("caf\xe9", false), "\"caf\\u00e9\"");
    Understanding u;
    u.text = "set it";
    u.understood = true;
    u.slots = {{"n", Value::Of("021")}, {"m", Value::Of("21")}};
    EXPECT_EQ(ksintent::ToJson(u),
              "{\"text\": \"set it\", \"understood\": true, \"intent\": null, \"slots\": {\"n\": \"021\", \"m\": 21}}");
}

} // namespace

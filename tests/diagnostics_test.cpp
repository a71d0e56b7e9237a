// Tests of error, warning and debug reporting, the exported-call boundary
// convention and the Copy duplicators.
#include "common.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = warnings;
        KsMsgBuf[0] = 0;
    }
    void TearDown() override { warnings = saved_; }
    int saved_ = 0;
};

TEST_F(DiagnosticsTest, ErrorThrowsFormattedText)
{
    try {
        Error("%s in \"%s\", line %d, column %d", "syntax error", "g.bnf", 3, 7);
        FAIL() << "Error returned";
    } catch (char* msg) {
        EXPECT_STREQ(msg, "syntax error in \"g.bnf\", line 3, column 7");
    }
}

TEST_F(DiagnosticsTest, LongErrorIsTruncatedToItsBuffer)
{
    std::string big(5000, 'e');
    try {
        Error("%s!", big.c_str());
    } catch (char* msg) {
        EXPECT_EQ(std::string(msg), std::string(999, 'e'));
    }
}

TEST_F(DiagnosticsTest, BoundaryFollowsWarningMode)
{
    struct Case {
        int mode;
        int rc;
        const char* buf;
        const char* out;
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
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, c.rc) << c.mode;
        EXPECT_STREQ(KsMsgBuf, c.buf) << c.mode;
        EXPECT_EQ(out, c.out) << c.mode;
    }
}

TEST_F(DiagnosticsTest, ErrorReplacesCollectedWarnings)
{
    warnings = 1;
    int rc = KsBoundary([] {
        Warning("first");
        Error("bad %d", 42);
    });
    EXPECT_EQ(rc, 1000);
    EXPECT_STREQ(KsMsgBuf, "bad 42");
    // The next call starts with an empty buffer.
    EXPECT_EQ(KsBoundary([] {}), 0);
    EXPECT_STREQ(KsMsgBuf, "");
}

TEST_F(DiagnosticsTest, CollectedWarningsNeverExceedTheBuffer)
{
    warnings = 1;
    std::string w900(900, 'w');
    KsBoundary([&] {
        Warning("%s", w900.c_str()); // 902 bytes
        Warning("%s", w900.c_str()); // 1804
        Warning("%s", w900.c_str()); // would be 2706: dropped whole
        Warning("%s", std::string(193, 's').c_str()); // 1999 exactly: fits
        Warning("x");                                 // no room left
    });
    std::string buf(KsMsgBuf);
    EXPECT_EQ(buf.size(), 1999u);
    EXPECT_EQ(buf.substr(1804), "\t" + std::string(193, 's') + "\n");
}

TEST_F(DiagnosticsTest, LongWarningIsTruncatedButKeepsItsShape)
{
    warnings = 1;
    KsBoundary([] { Warning("%s", std::string(3000, 'z').c_str()); });
    std::string buf(KsMsgBuf);
    ASSERT_EQ(buf.size(), 999u); // tab + 997 + newline, within 1000 with NUL
    EXPECT_EQ(buf.front(), '\t');
    EXPECT_EQ(buf.back(), '\n');
}

TEST_F(DiagnosticsTest, BoundaryCopiesOverlongMessagesSafely)
{
    static char huge[4000];
    std::memset(huge, 'h', sizeof huge - 1);
    EXPECT_EQ(KsBoundary([] { throw static_cast<char*>(huge); }), 1000);
    EXPECT_EQ(std::strlen(KsMsgBuf), sizeof KsMsgBuf - 1);
}

TEST_F(DiagnosticsTest, DebugPrintsAndFlushes)
{
    testing::internal::CaptureStdout();
    Debug("state %d -> %s\n", 4, "end");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "state 4 -> end\n");
}

TEST(CopyTest, Forms)
{
    EXPECT_EQ(Copy(nullptr), nullptr);
    EXPECT_EQ(Copy(nullptr, 3), nullptr);
    struct Case {
        const char* s;
        int n;
        const char* want;
    } cases[] = {{"abcdef", 3, "abc"}, {"ab", 5, "ab"}, {"ab", 0, ""}, {"ab", -4, ""}};
    for (const Case& c : cases) {
        char* r = Copy(c.s, c.n);
        EXPECT_STREQ(r, c.want) << c.s << "/" << c.n;
        delete[] r;
    }
    const char* src = "hello";
    char* r = Copy(src);
    EXPECT_NE(r, src);
    EXPECT_STREQ(r, "hello");
    delete[] r;
}

} // namespace

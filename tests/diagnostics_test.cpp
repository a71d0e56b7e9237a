// Tests of error and warning reporting at the exported-call boundary: the
// warning modes, and over-long messages truncated within their buffers.
#include "common.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

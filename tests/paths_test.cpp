// Tests of file-name splitting and joining, with the process-wide buffers and
// with the caller's, including names too long for the buffers.
#include <gtest/gtest.h>

#include <string>

#include "common.h"

namespace {

std::string Joined(const char* drive, const char* dir, const char* fname, const char* ext)
{
    char* p = makepath(drive, dir, fname, ext);
    std::string r(p);
    delete[] p;
    return r;
}

TEST(Paths, Split)
{
    struct Case {
        const char *full, *dir, *fname, *ext;
    } cases[] = {
        {"a/b/c.x.bnf", "a/b/", "c.x", ".bnf"},
        {"grammar", "", "grammar", ""},
        {"/g/", "/g/", "", ""},
        {".hidden", "", "", ".hidden"},
        {"dir.d/name", "dir.d/", "name", ""},
        {"/abs/x.", "/abs/", "x", "."},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.full);
        splitpath(c.full);
        EXPECT_STREQ("", Drive);
        EXPECT_STREQ(c.dir, Dir);
        EXPECT_STREQ(c.fname, Fname);
        EXPECT_STREQ(c.ext, Ext);

        char d[KS_PATH_BUF] = "junk", dir[KS_PATH_BUF], fn[KS_PATH_BUF], ext[KS_PATH_BUF];
        _splitpath(c.full, d, dir, fn, ext);
        EXPECT_STREQ("", d);
        EXPECT_STREQ(c.dir, dir);
        EXPECT_STREQ(c.fname, fn);
        EXPECT_STREQ(c.ext, ext);
    }
}

TEST(Paths, JoinWithDefaults)
{
    splitpath("a/b/c.x.bnf");
    EXPECT_EQ("a/b/c.x.fsg", Joined(nullptr, nullptr, nullptr, ".fsg"));
    EXPECT_EQ("a/b/", Joined(nullptr, nullptr, "", ""));
    EXPECT_EQ("out/main.fst", Joined(nullptr, "out", "main", "fst"));
    EXPECT_EQ("out/main.fst", Joined("C:", "out/", "main", ".fst"));
    EXPECT_EQ("main", Joined(nullptr, "", "main", ""));
    EXPECT_EQ("c.x.bnf", Joined("", "", nullptr, nullptr));
    EXPECT_EQ("a/b/c.x.bnf", Joined(nullptr, nullptr, nullptr, nullptr));
    // A split of the process-wide buffers themselves reads them before writing.
    splitpath("d/p.q.r");
    splitpath(Fname);
    EXPECT_STREQ("", Dir);
    EXPECT_STREQ("p", Fname);
    EXPECT_STREQ(".q", Ext);
}

TEST(Paths, JoinIntoCallerBuffer)
{
    char out[KS_PATH_BUF];
    _makepath(out, nullptr, "d", "f", "e");
    EXPECT_STREQ("d/f.e", out);
    _makepath(out, nullptr, nullptr, "f", nullptr);
    EXPECT_STREQ("f", out);
    _makepath(out, nullptr, "/", nullptr, ".e");
    EXPECT_STREQ("/.e", out);
}

TEST(Paths, TooLongIsAnErrorNotATruncation)
{
    const std::string longest(KS_PATH_BUF - 1, 'n'), over(KS_PATH_BUF, 'n');
    splitpath(("d/" + longest).c_str());
    EXPECT_EQ(longest, Fname);
    EXPECT_EQ(longest, Joined(nullptr, "", longest.c_str(), ""));

    splitpath("keep/me.x");
    const std::string bad[] = {"d/" + over, over + "/f", "d/f." + over};
    for (const std::string& full : bad) {
        try {
            splitpath(full.c_str());
            ADD_FAILURE() << "no error for a part of " << full.size() << " bytes";
        } catch (char* msg) {
            EXPECT_EQ(0, std::strncmp(msg, "path too long: '", 16)) << msg;
        }
        EXPECT_STREQ("keep/", Dir);
        EXPECT_STREQ("me", Fname);
    }
    EXPECT_THROW(Joined(nullptr, "d", longest.c_str(), ""), char*);
    EXPECT_THROW(Joined(nullptr, "", longest.c_str(), "x"), char*);
    char out[KS_PATH_BUF];
    EXPECT_THROW(_makepath(out, nullptr, longest.c_str(), "f", nullptr), char*);
}

} // namespace

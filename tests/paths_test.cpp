// Tests of file-name splitting and joining, including names too long for
// the buffers.
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

TEST(Paths, SplitAndJoin)
{
    const char* cases[][4] = {
        {"a/b/c.x.bnf", "a/b/", "c.x", ".bnf"}, {"grammar", "", "grammar", ""}, {"/g/", "/g/", "", ""},
        {".hidden", "", "", ".hidden"},         {"dir.d/name", "dir.d/", "name", ""}, {"/abs/x.", "/abs/", "x", "."},
    };
    for (auto& c : cases) {
        char d[KS_PATH_BUF] = "junk", dir[KS_PATH_BUF], fn[KS_PATH_BUF], ext[KS_PATH_BUF];
        _splitpath(c[0], d, dir, fn, ext);
        EXPECT_EQ(std::string(d) + "|" + dir + "|" + fn + "|" + ext, std::string("|") + c[1] + "|" + c[2] + "|" + c[3]);
        splitpath(c[0]);
        EXPECT_EQ(std::string(Dir) + "|" + Fname + "|" + Ext, std::string(c[1]) + "|" + c[2] + "|" + c[3]);
    }
    splitpath("a/b/c.x.bnf"); // null parts come from the last split
    EXPECT_EQ("a/b/c.x.fsg", Joined(nullptr, nullptr, nullptr, ".fsg"));
    EXPECT_EQ("out/main.fst", Joined(nullptr, "out", "main", "fst"));
    EXPECT_EQ("out/main.fst", Joined("C:", "out/", "main", ".fst"));
    EXPECT_EQ("c.x.bnf", Joined("", "", nullptr, nullptr));
    // A split of the process-wide buffers themselves reads them before writing.
    splitpath("d/p.q.r");
    splitpath(Fname);
    EXPECT_EQ(std::string(Dir) + "|" + Fname + "|" + Ext, "|p|.q");
}

TEST(Paths, TooLongIsAnErrorNotATruncation)
{
    const std::string longest(KS_PATH_BUF - 1, 'n'), over(KS_PATH_BUF, 'n');
    splitpath(("d/" + longest).c_str());
    EXPECT_EQ(longest, Fname);
    EXPECT_EQ(longest, Joined(nullptr, "", longest.c_str(), ""));

    splitpath("keep/me.x");
    for (const std::string& full : {"d/" + over, over + "/f", "d/f." + over}) {
        try {
            splitpath(full.c_str());
            ADD_FAILURE() << "no error for a part of " << full.size() << " bytes";
        } catch (char* msg) {
            EXPECT_EQ(0, std::strncmp(msg, "path too long: '", 16)) << msg;
        }
        EXPECT_EQ(std::string(Dir) + Fname, "keep/me");
    }
    EXPECT_THROW(Joined(nullptr, "d", longest.c_str(), ""), char*);
    EXPECT_THROW(Joined(nullptr, "", longest.c_str(), "x"), char*);
    char out[KS_PATH_BUF];
    EXPECT_THROW(_makepath(out, nullptr, longest.c_str(), "f", nullptr), char*);
}

} // namespace

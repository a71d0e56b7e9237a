// Tests of the run-time entry points through their C interface: loading,
// KsTest results, translations and their ownership, vocabulary tags, the
// sub-string handle, extern registration and the failure convention.
#include "ksbnfc.h"

#include "fsg_build.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A null-terminated word array over string literals.
struct Words {
    std::vector<char*> v;
    Words(std::initializer_list<const char*> w)
    {
        for (const char* s : w) v.push_back(const_cast<char*>(s));
        v.push_back(nullptr);
    }
    char** get() { return v.data(); }
};

std::string Message()
{
    char* m = nullptr;
    KsGetMessage(&m);
    return m;
}

// A grammar file loaded through KsLoadFSG, unloaded at the end.
class Loaded {
public:
    Loaded(const std::string& main, const std::vector<std::string>& interns = {})
    {
        fsg_build::Write(main, interns, file);
        rc = KsLoadFSG(file.c_str(), &fsg);
    }
    ~Loaded() { KsUnloadFSG(fsg); }
    fsg_build::TempFile file;
    void* fsg = nullptr;
    int rc = -1;
};

TEST(Runtime, LoadingAMissingFileStoresNothing)
{
    void* fsg = &fsg;
    EXPECT_EQ(KsLoadFSG("/nonexistent/dir/g.fsg", &fsg), 1000);
    EXPECT_EQ(fsg, &fsg);
    EXPECT_EQ(Message(), std::string("can't open '/nonexistent/dir/g.fsg' (") + std::strerror(ENOENT) + ")");
    EXPECT_EQ(KsUnloadFSG(nullptr), 0);
}

TEST(Runtime, TestResults)
{
    Loaded g("0: a->1; 1: b->*");
    ASSERT_EQ(g.rc, 0) << Message();
    struct Case {
        Words words;
        int want;
    } cases[] = {
        {{"a", "b"}, 2}, {{"A", "B"}, 2}, {{"a"}, 1}, {{"a", "c"}, 0}, {{}, 1}, {{"a", "b", "b"}, 0},
    };
    for (Case& c : cases) {
        int result = -1;
        EXPECT_EQ(KsTest(g.fsg, c.words.get(), &result), 0);
        EXPECT_EQ(result, c.want) << c.words.v.size();
    }
    int result = -1;
    EXPECT_EQ(KsTest(nullptr, Words{"a"}.get(), &result), 1000);
    EXPECT_EQ(result, -1);
}

TEST(Runtime, Translations)
{
    Loaded g("0: hello/hi->1; 1: world/{} there->*, $<rt_person>/{1} greet({})->*");
    ASSERT_EQ(g.rc, 0) << Message();
    char* t = nullptr;
    EXPECT_EQ(KsGetTranslation(g.fsg, Words{"hello", "WORLD"}.get(), &t), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "hi there");
    std::free(t);

    t = reinterpret_cast<char*>(&t);
    EXPECT_EQ(KsGetTranslation(g.fsg, Words{"hello", "moon"}.get(), &t), 0);
    EXPECT_EQ(t, nullptr);

    // The vocabulary names the word's class, in any length.
    std::string longname(500, 'v');
    Words words{"hello", "Ann"};
    char* vocabs[] = {const_cast<char*>("greeting"), const_cast<char*>("rt_person"), nullptr};
    t = nullptr;
    EXPECT_EQ(KsGetTranslation2(g.fsg, words.get(), vocabs, &t), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "hi greet(Ann)");
    std::free(t);
    char* other[] = {const_cast<char*>("greeting"), const_cast<char*>(longname.c_str()), nullptr};
    t = reinterpret_cast<char*>(&t);
    EXPECT_EQ(KsGetTranslation2(g.fsg, words.get(), other, &t), 0);
    EXPECT_EQ(t, nullptr);
    // A vocabulary list that ends early: no tags for the rest of the words.
    char* early[] = {const_cast<char*>("greeting"), nullptr};
    t = reinterpret_cast<char*>(&t);
    EXPECT_EQ(KsGetTranslation2(g.fsg, words.get(), early, &t), 0);
    EXPECT_EQ(t, nullptr);
    t = nullptr;
    EXPECT_EQ(KsGetTranslation2(g.fsg, Words{"hello", "<RT_PERSON>"}.get(), early, &t), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "hi greet(<RT_PERSON>)");
    std::free(t);
}

TEST(Runtime, ActionErrorsAreReported)
{
    Loaded g("0: a/{}->*");
    ASSERT_EQ(g.rc, 0) << Message();
    char* t = reinterpret_cast<char*>(&t);
    EXPECT_EQ(KsGetTranslation(g.fsg, Words{"a"}.get(), &t), 1000);
    EXPECT_NE(Message(), "");
    EXPECT_EQ(t, reinterpret_cast<char*>(&t));
    // KsTest runs the actions too.
    int result = -1;
    EXPECT_EQ(KsTest(g.fsg, Words{"a"}.get(), &result), 1000);
}

TEST(Runtime, SubStrings)
{
    Loaded g("0: a->1@0.5, b->*@0.5; 1: _->*, b->*");
    ASSERT_EQ(g.rc, 0) << Message();
    void* h = nullptr;
    ASSERT_EQ(KsFindSubStrs(Words{"a", "b", "b"}.get(), g.fsg, &h), 0);
    std::vector<std::string> got;
    while (void* r = KsGetNextSubStr(h))
        got.push_back(std::to_string(KsGetSubStrStart(r)) + "-" + std::to_string(KsGetSubStrEnd(r)) + "@" +
                      std::to_string(KsGetSubStrProb(r) > 0.49 && KsGetSubStrProb(r) < 0.51));
    EXPECT_EQ(got, (std::vector<std::string>{"2-2@1", "1-1@1", "0-1@1", "0-0@1"}));
    KsFreeSubStrs(h);

    ASSERT_EQ(KsFindSubStrs(Words{}.get(), g.fsg, &h), 0);
    EXPECT_EQ(KsGetNextSubStr(h), nullptr);
    KsFreeSubStrs(h);
    KsFreeSubStrs(nullptr);

    Loaded bad("0: a->*, _->*");
    h = &h;
    EXPECT_EQ(KsFindSubStrs(Words{"b"}.get(), bad.fsg, &h), 1000);
    EXPECT_EQ(Message(), "Warning: check if there is null path in fsg!\n");
    EXPECT_EQ(h, &h);
}

TEST(Runtime, ExternRegistration)
{
    fsg_build::TempFile file;
    fsg_build::Write("0: oslo/OSL->*, rome/ROM->*", {}, file);
    void* a = &a;
    EXPECT_EQ(KsLoadExternFSG("rt_city", nullptr, &a), 0);
    EXPECT_EQ(a, nullptr);
    ASSERT_EQ(KsLoadExternFSG("rt_city", file.c_str(), &a), 0);
    ASSERT_NE(a, nullptr);
    void* b = nullptr;
    EXPECT_EQ(KsLoadExternFSG("<rt_city>", nullptr, &b), 0);
    EXPECT_EQ(a, b);

    Loaded g("0: to->1; 1: $<rt_city>/dest={}->*");
    ASSERT_EQ(g.rc, 0) << Message();
    char* t = nullptr;
    ASSERT_EQ(KsGetTranslation(g.fsg, Words{"to", "Rome"}.get(), &t), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "dest=ROM");
    std::free(t);

    // Unloading a cached extern grammar leaves it in the cache, usable.
    EXPECT_EQ(KsUnloadFSG(a), 0);
    t = nullptr;
    ASSERT_EQ(KsGetTranslation(g.fsg, Words{"to", "oslo"}.get(), &t), 0);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "dest=OSL");
    std::free(t);

    EXPECT_EQ(KsLoadExternFSG("rt_broken", "/nonexistent/x.fsg", &b), 1000);
    EXPECT_NE(Message().find("can't open"), std::string::npos);
}

TEST(Runtime, HundredThousandWords)
{
    Loaded g("0: _->*, a->0");
    ASSERT_EQ(g.rc, 0) << Message();
    std::vector<char*> words(100000, const_cast<char*>("a"));
    words.push_back(nullptr);
    int result = -1;
    EXPECT_EQ(KsTest(g.fsg, words.data(), &result), 0);
    EXPECT_EQ(result, 2);
}

TEST(Runtime, Trivia)
{
    EXPECT_EQ(KsMemStats(), 0);
    int x = 7;
    KsDelete(&x);
    KsDelete(nullptr);
    EXPECT_EQ(x, 7);
    EXPECT_EQ(KsGetNextSubStr(nullptr), nullptr);
}

} // namespace

// Tests of the run-time entry points through their C interface: loading,
// KsTest results, translations and their ownership, vocabulary tags, the
// sub-string handle, extern registration and the failure convention.
#include "fsg_build.h"
#include "ks_api.h"

#include <cerrno>
#include <cstring>

namespace {

using ks_api::Message;
using Words = ks_api::Sentence;

// A grammar file loaded through KsLoadFSG, unloaded at the end.
struct Loaded {
    Loaded(const std::string& main)
    {
        fsg_build::Write(main, {}, file);
        EXPECT_EQ(KsLoadFSG(file.c_str(), &fsg), 0) << Message();
    }
    ~Loaded() { KsUnloadFSG(fsg); }
    fsg_build::TempFile file;
    void* fsg = nullptr;
};

// The translation of words (with vocabulary tags if given), "(none)" for
// none, or "error <rc>"; the result is the caller's to free.
std::string Translation(void* fsg, const std::string& sentence, char** vocabs = nullptr)
{
    Words words(sentence);
    char* t = reinterpret_cast<char*>(&t);
    int rc = vocabs ? KsGetTranslation2(fsg, words.get(), vocabs, &t) : KsGetTranslation(fsg, words.get(), &t);
    if (rc) return "error " + std::to_string(rc) + (t == reinterpret_cast<char*>(&t) ? "" : " (result set)");
    std::string s = t ? t : "(none)";
    std::free(t);
    return s;
}

TEST(Runtime, LoadTestAndFailureConvention)
{
    void* fsg = &fsg;
    EXPECT_EQ(KsLoadFSG("/nonexistent/dir/g.fsg", &fsg), 1000);
    EXPECT_EQ(fsg, &fsg);
    EXPECT_EQ(Message(), std::string("can't open '/nonexistent/dir/g.fsg' (") + std::strerror(ENOENT) + ")");
    EXPECT_EQ(KsUnloadFSG(nullptr), 0);

    Loaded g("0: a->1; 1: b->*");
    const std::pair<const char*, int> cases[] = {{"A B", 2}, {"a", 1}, {"", 1}, {"a c", 0}, {"a b b", 0}};
    for (const auto& c : cases) {
        int result = -1;
        EXPECT_EQ(KsTest(g.fsg, Words(c.first).get(), &result), 0);
        EXPECT_EQ(result, c.second) << c.first;
    }
    int result = -1;
    EXPECT_EQ(KsTest(nullptr, Words("a").get(), &result), 1000);
    EXPECT_EQ(result, -1);

    Loaded bad("0: a/{}->*");
    EXPECT_EQ(Translation(bad.fsg, "a"), "error 1000");
    EXPECT_NE(Message(), "");
    EXPECT_EQ(KsTest(bad.fsg, Words("a").get(), &result), 1000); // KsTest runs the actions too
}

TEST(Runtime, TranslationsAndVocabularies)
{
    Loaded g("0: hello/hi->1; 1: world/{} there->*, $<rt_person>/{1} greet({})->*");
    EXPECT_EQ(Translation(g.fsg, "hello WORLD"), "hi there");
    EXPECT_EQ(Translation(g.fsg, "hello moon"), "(none)");
    std::string longname(500, 'v');
    char* person[] = {(char*)"greeting", (char*)"rt_person", nullptr};
    char* other[] = {(char*)"greeting", (char*)longname.c_str(), nullptr};
    char* early[] = {(char*)"greeting", nullptr}; // no tags for the rest of the words
    EXPECT_EQ(Translation(g.fsg, "hello Ann", person), "hi greet(Ann)");
    EXPECT_EQ(Translation(g.fsg, "hello Ann", other), "(none)");
    EXPECT_EQ(Translation(g.fsg, "hello Ann", early), "(none)");
    EXPECT_EQ(Translation(g.fsg, "hello <RT_PERSON>", early), "hi greet(<RT_PERSON>)");
}

TEST(Runtime, SubStrings)
{
    Loaded g("0: a->1@0.5, b->*@0.5; 1: _->*, b->*");
    void* h = nullptr;
    ASSERT_EQ(KsFindSubStrs(Words("a b b").get(), g.fsg, &h), 0);
    std::string got;
    while (void* r = KsGetNextSubStr(h))
        got += std::to_string(KsGetSubStrStart(r)) + "-" + std::to_string(KsGetSubStrEnd(r)) +
               (std::abs(KsGetSubStrProb(r) - 0.5) < 0.01 ? " " : "? ");
    EXPECT_EQ(got, "2-2 1-1 0-1 0-0 ");
    KsFreeSubStrs(h);
    KsFreeSubStrs(nullptr);
    EXPECT_EQ(KsGetNextSubStr(nullptr), nullptr);

    Loaded bad("0: a->*, _->*");
    h = &h;
    EXPECT_EQ(KsFindSubStrs(Words("b").get(), bad.fsg, &h), 1000);
    EXPECT_EQ(Message(), "Warning: check if there is null path in fsg!\n");
    EXPECT_EQ(h, &h);
}

TEST(Runtime, ExternRegistration)
{
    fsg_build::TempFile file;
    fsg_build::Write("0: oslo/OSL->*, rome/ROM->*", {}, file);
    void *a = &a, *b = nullptr;
    EXPECT_EQ(KsLoadExternFSG("rt_city", nullptr, &a), 0);
    EXPECT_EQ(a, nullptr);
    ASSERT_EQ(KsLoadExternFSG("rt_city", file.c_str(), &a), 0);
    EXPECT_EQ(KsLoadExternFSG("<rt_city>", nullptr, &b), 0);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);

    Loaded g("0: to->1; 1: $<rt_city>/dest={}->*");
    EXPECT_EQ(Translation(g.fsg, "to Rome"), "dest=ROM");
    // Unloading a cached extern grammar leaves it in the cache, usable.
    EXPECT_EQ(KsUnloadFSG(a), 0);
    EXPECT_EQ(Translation(g.fsg, "to oslo"), "dest=OSL");
    EXPECT_EQ(KsLoadExternFSG("rt_broken", "/nonexistent/x.fsg", &b), 1000);
    EXPECT_NE(Message().find("can't open"), std::string::npos);
}

} // namespace

// Tests of the run-time entry points through their C interface, and that
// matching and the search finish on hostile input, each case counting the
// steps it may take by its result, not by the clock.
#include "cases.h"
#include "fsg_build.h"
#include "ks_api.h"

#include <cerrno>
#include <cstring>

namespace {

using fsg_build::Bytes;
using fsg_build::TempFile;
using ks_api::Calls;
using ks_api::Loaded;
using ks_api::Message;
using ks_api::Sentence;
using ks_api::Stretches;
using Words = ks_api::Sentence;

// A grammar in the graph_dump notation written to a file and loaded
// through KsLoadFSG, unloaded at the end.
struct Built {
    explicit Built(const std::string& main)
    {
        fsg_build::Write(main, {}, file);
        EXPECT_EQ(KsLoadFSG(file.c_str(), &fsg), 0) << Message();
    }
    ~Built() { KsUnloadFSG(fsg); }
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

    Built g("0: a->1; 1: b->*");
    const std::pair<const char*, int> cases[] = {{"A B", 2}, {"a", 1}, {"", 1}, {"a c", 0}, {"a b b", 0}};
    for (const auto& c : cases) {
        int result = -1;
        EXPECT_EQ(KsTest(g.fsg, Words(c.first).get(), &result), 0);
        EXPECT_EQ(result, c.second) << c.first;
    }
    int result = -1;
    EXPECT_EQ(KsTest(nullptr, Words("a").get(), &result), 1000);
    EXPECT_EQ(result, -1);

    Built bad("0: a/{}->*");
    EXPECT_EQ(Translation(bad.fsg, "a"), "error 1000");
    EXPECT_NE(Message(), "");
    EXPECT_EQ(KsTest(bad.fsg, Words("a").get(), &result), 1000); // KsTest runs the actions too
}

TEST(Runtime, TranslationsAndVocabularies)
{
    Built g("0: hello/hi->1; 1: world/{} there->*, $<rt_person>/{1} greet({})->*");
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
    Built g("0: a->1@0.5, b->*@0.5; 1: _->*, b->*");
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

    Built bad("0: a->*, _->*");
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

    Built g("0: to->1; 1: $<rt_city>/dest={}->*");
    EXPECT_EQ(Translation(g.fsg, "to Rome"), "dest=ROM");
    // Unloading a cached extern grammar leaves it in the cache, usable.
    EXPECT_EQ(KsUnloadFSG(a), 0);
    EXPECT_EQ(Translation(g.fsg, "to oslo"), "dest=OSL");
    EXPECT_EQ(KsLoadExternFSG("rt_broken", "/nonexistent/x.fsg", &b), 1000);
    EXPECT_NE(Message().find("can't open"), std::string::npos);
}

// Compiles grammar text (or a file of the examples when text starts with
// '@') in engine or translation mode into out.
void Compile(const std::string& text, bool tr, const TempFile& out, int null_arcs = -1)
{
    TempFile src("bnf");
    std::string path = src.path;
    if (text[0] == '@')
        path = std::string(KSBNFC_SOURCE_DIR) + "/examples/" + text.substr(1);
    else
        fsg_build::Save(Bytes(text.begin(), text.end()), path);
    std::vector<ks_api::Param> params = {{"bnfFile", path}, {"fsgFile", out.path}, {tr ? "trMode" : "enMode", 1L}};
    if (null_arcs >= 0) params.push_back({"useNullArcs", (long)null_arcs});
    ASSERT_LT(ks_api::Compile(params), 1000) << Message();
}

// The words, with "w*N" for N times the word w.
std::string Expanded(const std::string& words)
{
    std::istringstream in(words);
    std::string out;
    for (std::string w; in >> w;) {
        size_t star = w.find('*');
        int n = star == std::string::npos ? 1 : std::atoi(w.c_str() + star + 1);
        for (int i = 0; i < n; i++) out += w.substr(0, star) + " ";
    }
    return out;
}

// Grammars on which a walk could take exponential time or go round without
// a word (tests/data/bounded.txt): each call ends, with the results of the
// paths that neither go round a loop nor call an arc again at the position
// where it is already open; the sub-string search counts each such path.
TEST(Bounded, AmbiguousAndLoopingGrammars)
{
    for (const cases::Case& c : cases::Read("bounded.txt")) {
        std::istringstream opts(c[1]);
        std::string mode, search;
        int null_arcs = -1;
        opts >> mode >> search >> null_arcs;
        TempFile f;
        Compile(cases::Unescape(c[0]), mode == "tr", f, null_arcs);
        Loaded g(f.path);
        EXPECT_EQ(Calls(g.fsg, Expanded(c[2]), search == "substrs" ? Stretches::Count : Stretches::None), c[3]) << c.at;
    }
}

// Bytes of compiled examples changed so that a network gets a null arc that
// leads back where it came from: the file still loads, and every call on it
// returns.
TEST(Bounded, DamagedFilesWithLoopsOfNullArcs)
{
    TempFile contact, order;
    Compile("@contacts.bnf", false, contact);
    Compile("@coffee.bnf", true, order);
    struct Damage {
        const TempFile* file;
        size_t at;
        std::vector<unsigned char> bytes;
        std::string words;
    };
    const Damage cases[] = {
        {&contact, 104, {0, 0, 0, 0}, "anna berg"},
        {&order, 494, {0}, "two large lattes please"},
        {&order, 88, {8}, "two large lattes please"},
    };
    for (const Damage& d : cases) {
        Bytes b = fsg_build::Slurp(d.file->path);
        ASSERT_GT(b.size(), d.at + d.bytes.size());
        std::copy(d.bytes.begin(), d.bytes.end(), b.begin() + (long)d.at);
        TempFile damaged;
        fsg_build::Save(b, damaged.path);
        void* fsg = nullptr;
        if (KsLoadFSG(damaged.c_str(), &fsg) != 0) continue; // refused: fine as well
        // Every prefix of the words, the empty one first.
        for (size_t end = 0;; end = d.words.find(' ', end + 1)) {
            EXPECT_FALSE(Calls(fsg, d.words.substr(0, end)).empty()) << d.at;
            if (end == std::string::npos) break;
        }
        KsUnloadFSG(fsg);
    }
}

// A looping grammar accepts every stretch of a long string: the search
// stops with an error once it holds the most results it may.
TEST(Bounded, SubStringResultsAreCapped)
{
    TempFile f;
    Compile("<<w>> = w1+ .\n", false, f);
    Loaded g(f.path);
    Sentence many(Expanded("w1*100000"));
    void* h = reinterpret_cast<void*>(&h);
    EXPECT_EQ(KsFindSubStrs(many.get(), g.fsg, &h), 1000);
    EXPECT_EQ(h, reinterpret_cast<void*>(&h)); // nothing stored
    EXPECT_EQ(Message(), "the search found more than 1000000 stretches and stops there");
    Sentence few(Expanded("w1*1000")); // 500,500 results: within the bound
    ASSERT_EQ(KsFindSubStrs(few.get(), g.fsg, &h), 0) << Message();
    long n = 0;
    while (KsGetNextSubStr(h)) n++;
    EXPECT_EQ(n, 500500);
    KsFreeSubStrs(h);
}

} // namespace

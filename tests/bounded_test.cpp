// Tests that matching and the sub-string search finish on hostile input:
// an ambiguous translation grammar against long rejected strings, files
// damaged into loops that consume no word, loops the compiler writes itself,
// and a search whose results would grow quadratically. Each case counts the
// steps it may take by its result, not by the clock.
#include "ksbnfc.h"

#include "fsg_build.h"
#include "ks_api.h"


namespace {

using fsg_build::Bytes;
using fsg_build::TempFile;
using ks_api::Calls;
using ks_api::Loaded;
using ks_api::Message;
using ks_api::Sentence;
using ks_api::Stretches;

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

// n times the word, then last.
std::string Repeat(const std::string& word, int n, const std::string& last = "")
{
    std::string s;
    for (int i = 0; i < n; i++) s += word + " ";
    return s + last;
}

// Every 'a' can be taken two ways: a walk that explored each way again
// would take 2^1000 steps before rejecting.
TEST(Bounded, AmbiguousTranslationOnLongStrings)
{
    TempFile f;
    Compile("<<g>> = {<x>}* b -> {1} .\n<x> = a -> 1 | a -> 2 .\n", true, f);
    Loaded g(f.path);
    // Every path is a sub-string result: 2^3 + 2^2 + 2 + 1 for a a a b.
    const struct {
        std::string words;
        bool substrs;
        std::string want;
    } cases[] = {
        {Repeat("a", 1000, "c"), true, "0 - 0"},
        {Repeat("a", 1000), true, "1 - 0"},
        {Repeat("a", 3, "b"), true, "2 111 15"},
        {Repeat("a", 1000, "b"), false, "2 " + std::string(1000, '1')},
    };
    for (const auto& c : cases) EXPECT_EQ(Calls(g.fsg, c.words, c.substrs ? Stretches::Count : Stretches::None), c.want) << c.words.substr(0, 20);
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

// Grammars from which the compiler writes networks that can go round
// without a word: a rule that may be only itself, and a repetition of a
// repetition. The results are those of the paths that neither go round a
// loop nor call an arc again at the position where it is already open; the
// sub-string search counts each such path.
TEST(Bounded, CompiledLoopsThatConsumeNothing)
{
    const char* self = "<<t>> = <u> .\n<u> = x <u> | y | <u> .\n";
    const char* stars = "<<t>> = {{a}*}* b .\n";
    const struct {
        const char* grammar;
        bool tr;
        int null_arcs;
        std::string words;
        bool substrs;
        std::string want;
    } cases[] = {
        {self, true, -1, "x x y", true, "2 - 3"},
        {self, true, -1, Repeat("x", 300, "z"), true, "0 - 0"},
        {self, false, 1, "x y", true, "2 - 4"},
        {self, false, 1, Repeat("x", 300, "z"), true, "0 - 0"},
        {stars, true, -1, "a a b", true, "2 aa 8"},
        {stars, true, -1, Repeat("a", 300, "c"), true, "0 - 0"},
        {stars, false, 1, Repeat("a", 300, "b"), false, "2 -"},
        {stars, false, 1, Repeat("a", 300, "c"), true, "0 - 0"},
    };
    for (const auto& c : cases) {
        TempFile f;
        Compile(c.grammar, c.tr, f, c.null_arcs);
        Loaded g(f.path);
        EXPECT_EQ(Calls(g.fsg, c.words, c.substrs ? Stretches::Count : Stretches::None), c.want) << c.grammar << " " << c.words.substr(0, 20);
    }
}

// A looping grammar accepts every stretch of a long string: the search
// stops with an error once it holds the most results it may.
TEST(Bounded, SubStringResultsAreCapped)
{
    TempFile f;
    Compile("<<w>> = w1+ .\n", false, f);
    Loaded g(f.path);
    Sentence many(Repeat("w1", 100000));
    void* h = reinterpret_cast<void*>(&h);
    EXPECT_EQ(KsFindSubStrs(many.get(), g.fsg, &h), 1000);
    EXPECT_EQ(h, reinterpret_cast<void*>(&h)); // nothing stored
    EXPECT_EQ(Message(), "the search found more than 1000000 stretches and stops there");
    Sentence few(Repeat("w1", 1000)); // 500,500 results: within the bound
    ASSERT_EQ(KsFindSubStrs(few.get(), g.fsg, &h), 0) << Message();
    long n = 0;
    while (KsGetNextSubStr(h)) n++;
    EXPECT_EQ(n, 500500);
    KsFreeSubStrs(h);
}

} // namespace

// Tests of what common.h provides: the containers, the compile parameters
// (tests/data/params.txt) and file-name splitting and joining.
#include "common.h"
#include "cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Ordering for the sort tests: by the first member only, so that ties exist.
using Pair = std::pair<int, int>;
template <> int TArrayX<Pair>::compare(const Pair& a, const Pair& b) { return a.first - b.first; }
template <> int TArrayX<Pair>::compare2(const Pair& a, const Pair& b) { return b.first - a.first; }

namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    return std::vector<std::string>(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

TEST(ArrayTest, GrowthEditingAndStableSorts)
{
    TArrayX<int> b;
    for (int i = 0; i < 100; i++) b.Add(i);
    b.Del(1, 97);
    EXPECT_EQ(std::vector<int>(b.elements, b.elements + b.length), (std::vector<int>{0, 98, 99}));
    TArrayX<int> a;
    EXPECT_EQ(a[5], 0); // indexing past the end grows and zero-fills
    EXPECT_EQ(a.length, 6);

    TArrayX<Pair> p;
    for (const Pair& x : {Pair{3, 0}, {1, 1}, {3, 2}, {2, 3}, {1, 4}, {3, 5}}) p.Add(x);
    p.Sort();
    std::vector<Pair> got(p.elements, p.elements + p.length);
    EXPECT_EQ(got, (std::vector<Pair>{{1, 1}, {1, 4}, {2, 3}, {3, 0}, {3, 2}, {3, 5}}));
    p.Sort2();
    got = std::vector<Pair>(p.elements, p.elements + p.length); // assign() trips a false -Wstringop-overflow with -m32
    EXPECT_EQ(got, (std::vector<Pair>{{3, 0}, {3, 2}, {3, 5}, {2, 3}, {1, 1}, {1, 4}}));
}

TEST(ArrayTest, StableSortOfANonTransitiveOrdering)
{
    // The arcs' compare2 in small: a different annotation (letter) with a
    // higher probability (digit) goes first, the same annotation is equal
    // (the orders, worked through by hand, are in tests/data/sorts.txt).
    auto less = [](const std::string& x, const std::string& y) { return x[0] != y[0] && x[1] > y[1]; };
    for (const cases::Case& c : cases::Read("sorts.txt")) {
        std::vector<std::string> in = Words(c[0]);
        KsStableSort(in.data(), (int)in.size(), less);
        EXPECT_EQ(in, Words(c[1])) << c.at;
    }

    // A strict weak order gets its one stable order, at every size.
    uint32_t seed = 1;
    for (int n = 0; n < 300; n += 1 + n / 10) {
        std::vector<Pair> v; // (key, position)
        for (int i = 0; i < n; i++) {
            seed = seed * 1103515245u + 12345u;
            v.push_back(Pair{(int)(seed >> 16) % 10, i});
        }
        KsStableSort(v.data(), n, [](const Pair& a, const Pair& b) { return a.first < b.first; });
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << n;
    }
}

TEST(ArrayTest, CharArrayAndStringList)
{
    TCharArray b;
    b.Add(0x41u);
    b.Add(0x82A0u); // two-byte codes go high byte first
    b.Add(mbstring("xy"));
    b.Add(mbstring());
    EXPECT_EQ(std::string(b.elements, b.length), std::string("A\x82\xA0xy"));

    TStringList l;
    char src[] = "abcdef";
    mbstring a = l.Add(mbstring(src));
    src[0] = 'X';
    EXPECT_STREQ(a.s, "abcdef");
    EXPECT_STREQ(l.Add(src, 3).s, "Xbc");
    EXPECT_STREQ(l.Add("ab", 5).s, "ab");
    EXPECT_TRUE(!l.Add(nullptr, 3));
    l.Length(2);
    EXPECT_EQ(l.length, 2);
    EXPECT_STREQ(l[1].s, "Xbc");
}

// Hash-set member with a chosen key, to control collisions.
struct Item {
    unsigned long key;
    int id;
    unsigned long Key() { return key; }
    int operator==(Item& o) { return id == o.id; }
};

TEST(HashTableTest, CollisionsAndGrowthKeepEveryMember)
{
    THashTable<Item> g;
    std::vector<Item> items(200);
    for (int i = 0; i < 200; i++) items[i] = Item{(unsigned long)i * 64 + 63, i}; // all share the last slot
    for (int i = 0; i < 200; i++) EXPECT_EQ(g.Add(&items[i]), &items[i]);
    Item again{63, 0}, missing{63, 999};
    EXPECT_EQ(g.Add(&again), &items[0]); // an equal member is returned, nothing inserted
    EXPECT_EQ(g.Find(&missing), nullptr);
    for (int i = 0; i < 200; i++) ASSERT_EQ(g.Find(&items[i]), &items[i]) << i;
}

TEST(MapTest, StringHashValuesAndAddOrGet)
{
    EXPECT_EQ(KsStringHash("\xff"), 255ul); // bytes are unsigned
    uint32_t want = 0; // wraps in 32 bits on every platform
    for (const char* p = "abcdefghij"; *p; p++) want = want * 65553u + (unsigned char)*p;
    EXPECT_EQ(KsStringHash("abcdefghij"), (unsigned long)want);

    TMap m;
    char key[] = "x";
    EXPECT_EQ(m.Add(key, 5), 5);
    key[0] = 'y'; // the map holds its own copy
    EXPECT_EQ(m.Add("x", 9), 5);
    m.Update("x", 9);
    m.Update("absent", 3); // never inserts
    EXPECT_EQ(m.Add("x", 1), 9);
    EXPECT_EQ(m.Add("absent", 4), 4);
}

// ---- parameters ----

long Str(const char* s) { return reinterpret_cast<long>(s); }

// Runs ArgsToParms over args from defaults; returns the error text, or "".
std::string Parse(std::vector<KsArg>& args, parms& p)
{
    p.SetDefaults();
    try {
        ArgsToParms((int)args.size(), args.data(), p);
    } catch (char* msg) {
        return msg;
    }
    return "";
}

TEST(ParamsTest, EveryNameReachesItsField)
{
    std::vector<KsArg> a = {
        {(char*)"bnfFile", Str("g.bnf")}, {(char*)"fsgFile", Str("g.fsg")}, {(char*)"fsgDirectory", Str("out")},
        {(char*)"equalizeArcProbabilities", 1}, {(char*)"fsgFlags", 0x820}, {(char*)"warnings", -1},
        {(char*)"useNullArcs", 1}, {(char*)"emitAnnotations", 0}, {(char*)"dbglevel", 3},
        {(char*)"equalizeSentenceProbabilities", 1}, {(char*)"time", 1}, {(char*)"codePage", 932},
    };
    parms p;
    ASSERT_EQ(Parse(a, p), "");
    std::ostringstream fields;
    fields << p.bnf_file << " " << p.fsg_file << " " << p.fsg_directory << " " << std::hex << p.flags << std::dec << " "
           << p.warnings << " " << p.use_null_arcs << p.annotations << p.dbglevel << p.eq_sentences << p.time << " " << p.codepage;
    EXPECT_EQ(fields.str(), "g.bnf g.fsg out c20 -1 10311 932");
    for (const KsArg& r : a) EXPECT_EQ(r.name, nullptr); // all consumed
}

TEST(ParamsTest, FlagFixUpAndModes)
{
    for (const cases::Case& c : cases::Read("params.txt")) {
        std::vector<std::string> names; // KsArg points into them
        std::vector<KsArg> args;
        std::istringstream in(c[0]);
        for (std::string a; in >> a;) names.push_back(a.substr(0, a.find('=')));
        in = std::istringstream(c[0]);
        for (std::string a; in >> a;) args.push_back({&names[args.size()][0], std::stol(a.substr(a.find('=') + 1), nullptr, 0)});
        parms p;
        ASSERT_EQ(Parse(args, p), "") << c.at;
        std::ostringstream got;
        got << std::hex << "0x" << p.flags << std::dec << " " << p.use_null_arcs << p.annotations << p.intern_all << " " << p.default_extension;
        EXPECT_EQ(got.str(), c[1]) << c.at;
    }
}

TEST(ParamsTest, DuplicatesAndUnknownNamesFailInLookUpOrder)
{
    std::vector<KsArg> dup = {{(char*)"dbglevel", 1}, {(char*)"fsgFlags", 0x20}, {(char*)"fsgFlags", 0x40}};
    parms p;
    EXPECT_EQ(Parse(dup, p), "duplicate parameter fsgFlags");
    EXPECT_NE(dup[0].name, nullptr); // dbglevel comes later in the look-up order
    EXPECT_EQ(p.dbglevel, 0);

    std::vector<KsArg> unk = {{(char*)"bnffile", Str("g.bnf")}, {(char*)"time", 1}, {(char*)"other", 0}};
    EXPECT_EQ(Parse(unk, p), "unknown parameter bnffile");
    EXPECT_EQ(p.time, 1); // known names are taken first
    unk[0].name = nullptr;
    EXPECT_EQ(Parse(unk, p), "unknown parameter other"); // the list was consumed

    KsArg a[] = {{(char*)"x", 1}, {(char*)"x", 2}};
    int v = 0;
    EXPECT_EQ(KsBoundary([&] { KsGetArg(2, a, "x", v); }), 1000);
    char* m = nullptr;
    EXPECT_EQ(KsGetMessage(&m), 0);
    EXPECT_STREQ(m, "duplicate parameter x");
}

// ---- paths ----

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

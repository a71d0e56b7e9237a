// Tests of the containers: array growth and editing, stable sorting, byte
// buffers, string lists, hash-set probing and growth and the string map.
#include "common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

// Ordering for the sort tests: by the first member only, so that ties exist.
using Pair = std::pair<int, int>;
template <> int TArrayX<Pair>::compare(const Pair& a, const Pair& b) { return a.first - b.first; }
template <> int TArrayX<Pair>::compare2(const Pair& a, const Pair& b) { return b.first - a.first; }

namespace {

TEST(ArrayTest, GrowthEditingAndStableSorts)
{
    TArrayX<int> a;
    a[5]; // indexing past the end grows and zero-fills
    EXPECT_EQ(a.length, 6);
    for (int i = 0; i < 6; i++) EXPECT_EQ(a.elements[i], 0) << i;

    TArrayX<int> b;
    for (int i = 0; i < 100; i++) b.Add(i);
    b.Del(1, 97);
    EXPECT_EQ(b.length, 3);
    EXPECT_EQ(b[1], 98);
    EXPECT_EQ(b[2], 99);

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
    // higher probability (digit) goes first, the same annotation is equal.
    // Each order follows from the sort's steps, worked through by hand: an
    // even count merges the halves from the front, an odd one from the back;
    // halves of more than 7 are runs of 7 merged through the buffer.
    auto less = [](const std::string& x, const std::string& y) { return x[0] != y[0] && x[1] > y[1]; };
    struct Case {
        std::vector<std::string> in, want;
    } cases[] = {
        {{"c2", "b2", "a3", "b3"}, {"a3", "b3", "c2", "b2"}},
        {{"c1", "a1", "b1", "b2", "a2"}, {"b2", "c1", "a1", "a2", "b1"}},
        {{"b1", "a2", "a1", "b1", "b1", "b1", "b2", "a1", "b2", "a1", "a1", "b2", "b1", "b2", "a1"},
         {"a2", "b1", "a1", "b1", "b1", "b1", "b2", "b2", "b2", "a1", "a1", "b1", "b2", "a1", "a1"}},
        {{"b1", "b2", "b1", "a1", "b1", "a2", "b1", "b2", "b2", "a1", "b1", "b2", "b1", "b1", "b1", "b1"},
         {"a2", "b1", "b2", "b1", "b2", "b2", "a1", "b1", "b1", "a1", "b1", "b2", "b1", "b1", "b1", "b1"}},
    };
    for (Case& c : cases) {
        KsStableSort(c.in.data(), (int)c.in.size(), less);
        EXPECT_EQ(c.in, c.want) << c.want.size();
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

TEST(HashTableTest, ProbingWrapsAndGrowthKeepsEveryMember)
{
    THashTable<Item> h;
    Item a{5, 1}, b{5, 2}, a2{5, 1}, w1{63, 4}, w2{63, 5}, missing{5, 9};
    h.Add(&a);
    h.Add(&b);
    EXPECT_EQ(h.entries[6].value, &b); // collides at 5, probes on
    EXPECT_EQ(h.Add(&a2), &a);         // equal member returned, nothing inserted
    h.Add(&w1);
    h.Add(&w2);
    EXPECT_EQ(h.entries[0].value, &w2); // probing wraps around
    EXPECT_EQ(h.Find(&missing), nullptr);

    THashTable<Item> g;
    std::vector<Item> items(200);
    for (int i = 0; i < 200; i++) items[i] = Item{(unsigned long)i * 64, i}; // all share slot 0
    for (int i = 0; i < 200; i++) g.Add(&items[i]);
    EXPECT_EQ(g.mask, g.nentries - 1);
    EXPECT_GE(g.nentries, 400); // at most half full
    for (int i = 0; i < 200; i++) ASSERT_EQ(g.Find(&items[i]), &items[i]) << i;
}

TEST(MapTest, StringHashValuesAndAddOrGet)
{
    EXPECT_EQ(KsStringHash(""), 0ul);
    EXPECT_EQ(KsStringHash(nullptr), 0xFFFFFFFFul);
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

} // namespace

// Tests of the containers: array editing, stable sorting, byte buffers,
// string lists, the hash set across collisions and growth, the string map.
#include "common.h"

#include <gtest/gtest.h>

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

} // namespace

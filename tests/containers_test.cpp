// Tests of the containers: array growth and editing, stable sorting, byte
// buffers, string lists, hash-set probing and growth, the string map and
// reference counting.
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

TEST(ArrayTest, IndexingPastEndGrowsAndZeroFills)
{
    TArrayX<int> a;
    EXPECT_EQ(a.elements, nullptr);
    a[5];
    EXPECT_EQ(a.nelements, 6);
    EXPECT_EQ(a.length, 6);
    for (int i = 0; i < 6; i++) EXPECT_EQ(a.elements[i], 0) << i;
}

TEST(ArrayTest, AppendCapacities)
{
    TArrayX<int> a;
    std::vector<int> caps;
    for (int i = 0; i < 100; i++) {
        int before = a.nelements;
        a.Add(i);
        if (a.nelements != before) caps.push_back(a.nelements);
    }
    EXPECT_EQ(caps, (std::vector<int>{1, 2, 4, 7, 11, 17, 26, 40, 61, 92, 139}));
    for (int i = 0; i < 100; i++) ASSERT_EQ(a[i], i);
    EXPECT_EQ(a.length, 100);
}

TEST(ArrayTest, DelShiftsTailAndClearKeepsStorage)
{
    TArrayX<char> a;
    for (char c : std::string("abcde")) a.Add(c);
    a.Del(1, 2);
    ASSERT_EQ(a.length, 3);
    EXPECT_EQ(std::string(a.elements, 3), "ade");
    int cap = a.nelements;
    a.Clear();
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(a.nelements, cap);
    a.Add('z');
    EXPECT_EQ(a[0], 'z');
}

TEST(ArrayTest, SortIsStableForBothOrderings)
{
    TArrayX<Pair> a;
    a.Sort(); // empty: nothing to do, nothing allocated
    EXPECT_EQ(a.elements, nullptr);
    const Pair in[] = {{3, 0}, {1, 1}, {3, 2}, {2, 3}, {1, 4}, {3, 5}};
    for (const Pair& p : in) a.Add(p);
    a.Sort();
    std::vector<Pair> got(a.elements, a.elements + a.length);
    EXPECT_EQ(got, (std::vector<Pair>{{1, 1}, {1, 4}, {2, 3}, {3, 0}, {3, 2}, {3, 5}}));
    a.Sort2();
    got = std::vector<Pair>(a.elements, a.elements + a.length); // assign() trips a false -Wstringop-overflow with -m32
    EXPECT_EQ(got, (std::vector<Pair>{{3, 0}, {3, 2}, {3, 5}, {2, 3}, {1, 1}, {1, 4}}));
}

struct Counted : TCounted {
    static int alive;
    Counted() { alive++; }
    ~Counted() override { alive--; }
};
int Counted::alive = 0;

TEST(ArrayTest, DeleteElementsFreesPointeesAndSkipsNull)
{
    TArray<Counted*> a;
    a.Add(new Counted);
    a.Add(nullptr);
    a.Add(new Counted);
    EXPECT_EQ(Counted::alive, 2);
    a.DeleteElements();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(a.length, 0);
    EXPECT_GT(a.nelements, 0);
}

TEST(CharArrayTest, CodesGoHighByteFirst)
{
    TCharArray b;
    b.Add(0x41u);
    b.Add(0x82A0u);
    b.Add(mbstring("xy"));
    b.Add(mbstring()); // null text adds nothing
    ASSERT_EQ(b.length, 5);
    EXPECT_EQ(std::string(b.elements, 5), std::string("A\x82\xA0xy"));
}

TEST(MbstringTest, HandleSemantics)
{
    char text[] = "ab";
    mbstring m(text), n(text);
    EXPECT_FALSE(!m);
    EXPECT_TRUE(!mbstring());
    mbstring fromNull = nullptr, fromZero = 0; // must convert without ambiguity
    EXPECT_TRUE(!fromNull && !fromZero);
    EXPECT_FALSE(!mbstring("")); // an empty text is not null
    EXPECT_EQ(*m, 'a');
    mbstring old = m++;
    EXPECT_EQ(old.s, text);
    EXPECT_EQ(*m, 'b');
    EXPECT_TRUE(n < m);
    EXPECT_FALSE(m < n);
    m++;
    EXPECT_EQ(*m, 0u);
    EXPECT_TRUE(mbstring("ab") == mbstring(text));
    EXPECT_FALSE(mbstring("ab") == mbstring());
    EXPECT_TRUE(mbstring() == mbstring());
}

TEST(StringListTest, AddCopiesAndLengthFrees)
{
    TStringList l;
    char src[] = "abcdef";
    mbstring a = l.Add(mbstring(src));
    EXPECT_NE(a.s, src);
    EXPECT_STREQ(a.s, "abcdef");
    EXPECT_STREQ(l.Add(src, 3).s, "abc");
    EXPECT_TRUE(!l.Add(nullptr, 3));
    EXPECT_TRUE(!l.Add(mbstring()));
    EXPECT_STREQ(l.Add("ab", 5).s, "ab");
    EXPECT_EQ(l.length, 5);
    l.Length(2);
    EXPECT_EQ(l.length, 2);
    EXPECT_STREQ(l[1].s, "abc");
    l.DeleteElements();
    EXPECT_EQ(l.length, 0);
}

// Hash-set member with a chosen key, to control collisions.
struct Item {
    unsigned long key;
    int id;
    unsigned long Key() { return key; }
    int operator==(Item& o) { return id == o.id; }
};

TEST(HashTableTest, AddFindAndLinearProbing)
{
    THashTable<Item> h;
    Item a{5, 1}, b{5, 2}, c{6, 3}, a2{5, 1};
    EXPECT_EQ(h.Add(&a), &a);
    EXPECT_EQ(h.Add(&b), &b); // collides at slot 5, goes to 6
    EXPECT_EQ(h.Add(&c), &c); // slot 6 taken, goes to 7
    EXPECT_EQ(h.entries[5].value, &a);
    EXPECT_EQ(h.entries[6].value, &b);
    EXPECT_EQ(h.entries[7].value, &c);
    EXPECT_EQ(h.Add(&a2), &a); // equal member returned, nothing inserted
    EXPECT_EQ(h.inuse, 3);
    EXPECT_EQ(h.searches, 4);
    EXPECT_EQ(h.extras, 2);
    EXPECT_EQ(h.Find(&c), &c);
    Item missing{5, 9};
    EXPECT_EQ(h.Find(&missing), nullptr);
    Item wraps{63, 4}, wraps2{63, 5};
    h.Add(&wraps);
    h.Add(&wraps2); // probing wraps around to slot 0
    EXPECT_EQ(h.entries[0].value, &wraps2);
}

TEST(HashTableTest, DoublesAtTheThirtyThirdMember)
{
    THashTable<Item> h;
    std::vector<Item> items(200);
    for (int i = 0; i < 200; i++) items[i] = Item{(unsigned long)i * 64, i}; // all share slot 0
    for (int i = 0; i < 32; i++) h.Add(&items[i]);
    EXPECT_EQ(h.nentries, 64);
    h.Add(&items[32]);
    EXPECT_EQ(h.inuse, 33);
    EXPECT_EQ(h.nentries, 128);
    EXPECT_EQ(h.mask, 127);
    for (int i = 33; i < 200; i++) h.Add(&items[i]);
    EXPECT_EQ(h.nentries, 512);
    EXPECT_LE(h.inuse * 2, h.nentries);
    for (int i = 0; i < 200; i++) ASSERT_EQ(h.Find(&items[i]), &items[i]) << i;
}

TEST(HashTableTest, DeleteElementsDeletesMembers)
{
    struct Owned : Counted {
        int k;
        explicit Owned(int k) : k(k) {}
        unsigned long Key() { return (unsigned long)k; }
        int operator==(Owned& o) { return k == o.k; }
    };
    THashTable<Owned> h;
    for (int i = 0; i < 40; i++) h.Add(new Owned(i));
    EXPECT_EQ(Counted::alive, 40);
    h.DeleteElements();
    EXPECT_EQ(Counted::alive, 0);
}

TEST(MapTest, StringHashValues)
{
    EXPECT_EQ(KsStringHash("a"), 97ul);
    EXPECT_EQ(KsStringHash("ab"), 6358739ul);
    EXPECT_EQ(KsStringHash(""), 0ul);
    EXPECT_EQ(KsStringHash(nullptr), 0xFFFFFFFFul);
    EXPECT_EQ(KsStringHash("\xff"), 255ul); // bytes are unsigned
    // Wraps in 32 bits on every platform.
    uint32_t h = 0;
    for (const char* p = "abcdefghij"; *p; p++) h = h * 65553u + (unsigned char)*p;
    EXPECT_EQ(KsStringHash("abcdefghij"), (unsigned long)h);
}

TEST(MapTest, AddIsAddOrGetAndUpdateNeverInserts)
{
    TMap m;
    char key[] = "x";
    EXPECT_EQ(m.Add(key, 5), 5);
    key[0] = 'y'; // the map holds its own copy
    EXPECT_EQ(m.Add("x", 9), 5);
    EXPECT_EQ(m.table.inuse, 1);
    m.Update("x", 9);
    EXPECT_EQ(m.Add("x", 1), 9);
    m.Update("absent", 3);
    EXPECT_EQ(m.table.inuse, 1);
    EXPECT_EQ(m.Add("absent", 4), 4);
    EXPECT_EQ(m.table.inuse, 2);
    for (int i = 0; i < 100; i++) m.Add(std::to_string(i).c_str(), i);
    for (int i = 0; i < 100; i++) ASSERT_EQ(m.Add(std::to_string(i).c_str(), -5), i);
}

TEST(CountedTest, DelRefDeletesAtZeroSubRefNever)
{
    Counted* c = new Counted;
    c->AddRef();
    c->AddRef();
    c->SubRef();
    c->SubRef();
    EXPECT_EQ(c->refcnt, 0);
    EXPECT_EQ(Counted::alive, 1);
    c->AddRef();
    c->DelRef();
    EXPECT_EQ(Counted::alive, 0);
}

} // namespace

// common.h: shared declarations of the library: containers and the string
// handle, error/warning/debug reporting, compile parameters, file names and
// paths, the character stream and the annotation action language.
#ifndef KSBNFC_COMMON_H
#define KSBNFC_COMMON_H

#include "ksbnfc.h"
#include "nlsfunc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// ---- diagnostics ----
// Fatal errors are thrown as a char* pointing at a static buffer; only the
// exported functions (and a few owners that clean up and rethrow) catch them.
// Texts longer than the 1000-byte buffers are truncated, never overrun.

#if defined(__GNUC__)
#define KSBNFC_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KSBNFC_PRINTF(f, a)
#endif

// Formats the message and throws it (payload: char* to the error buffer,
// valid until the next Error).
[[noreturn]] void Error(const char* fmt, ...) KSBNFC_PRINTF(1, 2);
// Emits "\t<message>\n" according to the global `warnings` switch.
void Warning(const char* fmt, ...) KSBNFC_PRINTF(1, 2);
// Prints on KsListing() and flushes; callers test `dbglevel` themselves.
void Debug(const char* fmt, ...) KSBNFC_PRINTF(1, 2);

// Where the library prints listings, traces and debug output (and negative
// `warnings`): this thread's stream, standard output unless a TListingScope
// has set another.
std::FILE* KsListing();
// Sets this thread's listing stream (null: standard output) for its
// lifetime and restores the previous one after; scopes nest.
class TListingScope {
public:
    explicit TListingScope(std::FILE* f);
    ~TListingScope();
    TListingScope(const TListingScope&) = delete;
    TListingScope& operator=(const TListingScope&) = delete;

private:
    std::FILE* saved;
};
// Heap copies (free with delete[]); null in gives null out. The second form
// copies at most n bytes and always terminates at byte n.
char* Copy(const char* s);
char* Copy(const char* s, int n);

// Stores msg in KsMsgBuf, truncated to fit.
void KsSetMessage(const char* msg);

// Where the fault of a message lies, and what the parser expected there.
// The message texts are those the C interface gives; the place travels
// beside them to the inner interface (ksbnfc_inner.h), for the tools'
// FILE:LINE:COLUMN form. The texts are copied when recorded.
struct TPlace {
    const char* file = nullptr;
    int line = 0, col = 0;
    const char* expected = nullptr;
};
// The same, owning its texts: what is recorded for the inner interface,
// with the message as it reads without the position its text may end in.
struct TRecordedPlace {
    std::string file;
    int line = 0, col = 0;
    std::string expected;
    std::string message;
    void Set(const TPlace& at);
};

// Error with the fault's place recorded beside the text.
[[noreturn]] void ErrorAt(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
// Error "<message> in \"FILE\", line L, column C", the form of every parse
// error, with the place recorded too.
[[noreturn]] void ErrorIn(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
// Error and warning "<message>, line L, column C", the form of the rule
// compiler's messages, with the place recorded too.
[[noreturn]] void ErrorLine(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
void WarningLine(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
void WarningIn(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
// Error whose text is given whole, with the place and the message recorded.
[[noreturn]] void ErrorText(const TPlace& at, const char* message, const char* text);
// The place recorded with the last error thrown on this thread; empty after
// an Error that named none.
const TRecordedPlace& LastErrorPlace();
// Warning with the place recorded beside the text.
void WarningAt(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);
// A line the C interface always prints on standard error, whatever the
// warning switch; a sink gets it as a warning (unless warnings are off).
void Notice(const char* fmt, ...) KSBNFC_PRINTF(1, 2);
// How a grammar was probably meant where it reads otherwise: a warning for
// a sink only (the C interface's messages stay as they always were).
void Hint(const TPlace& at, const char* fmt, ...) KSBNFC_PRINTF(2, 3);

// Takes the warnings of this thread, in place of the message buffer and the
// printing that the `warnings` switch selects, while a TWarningScope holds it.
class TWarningSink {
public:
    virtual void Warn(const char* text, const TRecordedPlace& at, bool hint) = 0;

protected:
    ~TWarningSink() = default;
};
class TWarningScope {
public:
    explicit TWarningScope(TWarningSink* sink);
    ~TWarningScope();
    TWarningScope(const TWarningScope&) = delete;
    TWarningScope& operator=(const TWarningScope&) = delete;

private:
    TWarningSink* saved_;
};

// The text of a failed allocation, in the C interface and the inner one.
extern const char kOutOfMemory[];

// The failure convention of every exported entry point: empties KsMsgBuf,
// runs work(), and returns 1000 with the error text in KsMsgBuf if work threw
// a char* message, else 1 when warnings were collected, else 0. A failed
// allocation is an error like any other (kOutOfMemory): an exception leaving
// a C interface would end the caller. Other exceptions pass through.
template <class F> int KsBoundary(F&& work)
{
    // Written only when it holds text: calls that succeed on several
    // threads at once then only read the buffer.
    if (KsMsgBuf[0]) KsMsgBuf[0] = 0;
    try {
        work();
    } catch (char* msg) {
        KsSetMessage(msg);
        return 1000;
    } catch (const std::bad_alloc&) {
        KsSetMessage(kOutOfMemory);
        return 1000;
    }
    return KsMsgBuf[0] ? 1 : 0;
}

// ---- containers ----
// Minimal header-only containers: no iterators, no bounds checks, no
// exceptions of their own. Growth rules and hash functions are fixed because
// they decide memory use and the storage order of hash-set members.

// Handle on a NUL-terminated byte text in the current code page. Never owns
// or frees the text; copying copies the pointer.
struct mbstring {
    char* s;

    mbstring() : s(nullptr) {}
    // One constructor for char* and const char*, so that null and 0 convert unambiguously.
    mbstring(const char* p) : s(const_cast<char*>(p)) {}

    bool operator!() const { return s == nullptr; }
    // Current character: lead*256 + trail for a DBCS pair, the code point under
    // UTF-8, else the byte; 0 at the end.
    unsigned int operator*() const { return (unsigned int)_mbsnextc((const unsigned char*)s); }
    mbstring operator++(int)
    {
        mbstring old = *this;
        s = (char*)_mbsinc((const unsigned char*)s);
        return old;
    }
    mbstring& operator++()
    {
        s = (char*)_mbsinc((const unsigned char*)s);
        return *this;
    }
    // Position order within one buffer, not text order.
    bool operator<(const mbstring& o) const { return s < o.s; }
    // Byte-wise text equality; two nulls are equal, null never equals a text.
    int operator==(const mbstring& o) const
    {
        if (s == o.s) return 1;
        if (!s || !o.s) return 0;
        return std::strcmp(s, o.s) == 0;
    }
    int operator!=(const mbstring& o) const { return !(*this == o); }
};

// ---- sorting ----

namespace ks_sort {

// The steps of KsStableSort, each the counterpart of one step of the
// library sort it follows; `less` is only ever called with the arguments
// in the order given there.

// Insertion sort of [first, last): an element that goes before the first
// moves to the front at once, any other moves down past the elements it
// goes before.
template <class T, class Less> void Insertion(T* first, T* last, Less& less)
{
    if (first == last) return;
    for (T* i = first + 1; i != last; ++i) {
        T v = std::move(*i);
        if (less(v, *first)) {
            std::move_backward(first, i, i + 1);
            *first = std::move(v);
            continue;
        }
        // Stops at first at the latest, where less(v, *first) is false.
        T* hole = i;
        for (T* prev = i - 1; less(v, *prev); --prev) {
            *hole = std::move(*prev);
            hole = prev;
            if (prev == first) break;
        }
        *hole = std::move(v);
    }
}

// Merges the runs [a, a_end) and [b, b_end) into out, an element of b
// first only when it goes before the element of a; returns the end.
template <class T, class Less> T* Merge(T* a, T* a_end, T* b, T* b_end, T* out, Less& less)
{
    while (a != a_end && b != b_end) *out++ = less(*b, *a) ? std::move(*b++) : std::move(*a++);
    out = std::move(a, a_end, out);
    return std::move(b, b_end, out);
}

// Merges neighbouring runs of `step` elements of [first, last) into out.
template <class T, class Less> void MergeRuns(T* first, T* last, T* out, std::ptrdiff_t step, Less& less)
{
    const std::ptrdiff_t two = 2 * step;
    for (; last - first >= two; first += two) out = Merge(first, first + step, first + step, first + two, out, less);
    const std::ptrdiff_t rest = std::min(last - first, step);
    Merge(first, first + rest, first + rest, last, out, less);
}

// Sorts [first, last) with a buffer of as many elements: runs of 7 by
// insertion, then merged pairwise into the buffer and back.
template <class T, class Less> void SortHalf(T* first, T* last, T* buf, Less& less)
{
    const std::ptrdiff_t len = last - first;
    std::ptrdiff_t step = 7;
    T* run = first;
    for (; last - run >= step; run += step) Insertion(run, run + step, less);
    Insertion(run, last, less);
    while (step < len) {
        MergeRuns(first, last, buf, step, less);
        step *= 2;
        MergeRuns(buf, buf + len, first, step, less);
        step *= 2;
    }
}

} // namespace ks_sort

// Sorts the n elements at first stably by less(a, b) ("a goes before b").
// O(n log n) comparisons, and one allocation of (n + 1) / 2 elements when
// n > 1.
//
// Written out instead of calling std::stable_sort because the arcs' compare2
// is not a strict weak order (it is not transitive), and the order it leaves
// is written to the FSG files. For such an ordering std::stable_sort is
// undefined: its result depends on the library's algorithm and even on the
// memory it manages to get. This sort makes exactly the comparisons and
// moves of the buffered path of GCC 12's std::stable_sort, with which the
// files were first written, so its result is that one, for any ordering and
// on any platform: the first (n + 1) / 2 elements and the rest each sorted
// by SortHalf, then the halves merged, for an even n through a copy of the
// first half from the front, for an odd n through a copy of the second half
// from the back. For a strict weak order the result is the one stable order.
template <class T, class Less> void KsStableSort(T* first, int n, Less less)
{
    if (n < 2) return;
    const int half = (n + 1) / 2;
    std::unique_ptr<T[]> buffer(new T[half]);
    T* buf = buffer.get();
    T* mid = first + half;
    T* last = first + n;
    ks_sort::SortHalf(first, mid, buf, less);
    ks_sort::SortHalf(mid, last, buf, less);
    if (half <= n - half) {
        T* buf_end = std::move(first, mid, buf);
        T* out = first;
        while (buf != buf_end && mid != last) *out++ = less(*mid, *buf) ? std::move(*mid++) : std::move(*buf++);
        std::move(buf, buf_end, out);
        return;
    }
    // Both parts hold at least one element here.
    T* a = mid - 1;                          // the last of the first half
    T* b = std::move(mid, last, buf) - 1;    // the last of the second, in the buffer
    for (T* out = last;;) {
        if (less(*b, *a)) {
            *--out = std::move(*a);
            if (a == first) {
                std::move_backward(buf, b + 1, out);
                return;
            }
            --a;
        } else {
            *--out = std::move(*b);
            if (b == buf) return;
            --b;
        }
    }
}

// Growable array. Indexing at or past the end grows the storage (capacity
// *3/2+1, or the index+1 if larger) and extends `length`; new slots are zero
// bytes. Elements are never destroyed by the array.
//
// Sort/Sort2 use the orderings compare/compare2, which each element type
// supplies as an explicit specialisation, e.g.
//   template <> int TArrayX<TArc*>::compare(TArc* const& a, TArc* const& b);
// The sort is KsStableSort, so equal elements keep their insertion order and
// the result never depends on the platform's sort routine, not even for an
// ordering that is not transitive; for orderings without ties it equals what
// qsort gives.
template <class T> class TArrayX {
    template <class I>
    using if_index = typename std::enable_if<std::is_integral<I>::value, int>::type;

public:
    int length;
    T* elements;
    int nelements;

    TArrayX() : length(0), elements(nullptr), nelements(0) {}
    ~TArrayX() { delete[] elements; }
    TArrayX(const TArrayX&) = delete;
    TArrayX& operator=(const TArrayX&) = delete;

    template <class I, if_index<I> = 0> T* operator+(I idx)
    {
        int i = (int)idx;
        if (i >= nelements) expand(i + 1);
        if (i >= length) length = i + 1;
        return elements + i;
    }
    template <class I, if_index<I> = 0> T& operator[](I idx) { return *(*this + idx); }
    // Read access without growth, for const holders; the index must be < length.
    template <class I, if_index<I> = 0> const T& operator[](I idx) const { return elements[(int)idx]; }
    operator T*() { return elements; }

    void Add(const T& x) { (*this)[length] = x; }
    // Removes n elements at i by shifting the tail down; the caller frees pointees first.
    void Del(int i, int n)
    {
        length -= n;
        for (int j = i; j < length; j++) elements[j] = elements[j + n];
    }
    // Appends from's elements from first on and leaves from empty. When from
    // holds more, ours go in front of its in its storage instead, so that a
    // chain of moves into ever smaller holders costs a copy of pointers,
    // not a new array and a copy element by element, at every step.
    void TakeTail(TArrayX& from, int first)
    {
        int n = from.length - first;
        if (n > 0 && n > length && from.nelements >= length + n) {
            if (length > first)
                std::copy_backward(from.elements + first, from.elements + from.length, from.elements + length + n);
            else if (length < first)
                std::copy(from.elements + first, from.elements + from.length, from.elements + length);
            std::copy(elements, elements + length, from.elements);
            std::swap(elements, from.elements);
            std::swap(nelements, from.nelements);
            length += n;
        } else if (n > 0) {
            // Room to spare for when this array is the one taken from.
            if (length + n > nelements) expand(n > length ? (length + n) / 2 * 3 : length + n);
            std::copy(from.elements + first, from.elements + from.length, elements + length);
            length += n;
        }
        from.length = 0;
    }
    void Clear() { length = 0; }
    // Gives back the storage beyond length, for an array that has stopped
    // growing: growth leaves up to half as much again unused.
    void Fit()
    {
        if (nelements == length) return;
        if (length == 0) {
            Release();
            return;
        }
        T* fresh = new T[length];
        for (int i = 0; i < length; i++) fresh[i] = elements[i];
        delete[] elements;
        elements = fresh;
        nelements = length;
    }
    // Empties the array and gives its storage back.
    void Release()
    {
        delete[] elements;
        elements = nullptr;
        length = nelements = 0;
    }

    // The passes sort the same arrays again and again. For an ordering that
    // is a strict weak order (every compare of the containers is) a stable
    // sort leaves an ordered array as it is, so the linear check only saves
    // the sort's buffer and merge passes. Sort2 gets no such shortcut: the
    // arcs' compare2 is not transitive, and the sort may move elements of an
    // array whose neighbours are in order.
    void Sort()
    {
        auto less = [](const T& a, const T& b) { return compare(a, b) < 0; };
        if (length > 1 && !std::is_sorted(elements, elements + length, less))
            KsStableSort(elements, length, less);
    }
    void Sort2()
    {
        KsStableSort(elements, length, [](const T& a, const T& b) { return compare2(a, b) < 0; });
    }
    static int compare(const T& a, const T& b);
    static int compare2(const T& a, const T& b);
    static int _compare(const void* a, const void* b)
    {
        return compare(*static_cast<const T*>(a), *static_cast<const T*>(b));
    }
    static int _compare2(const void* a, const void* b)
    {
        return compare2(*static_cast<const T*>(a), *static_cast<const T*>(b));
    }

    void expand(int n)
    {
        int cap = nelements * 3 / 2 + 1;
        if (n > cap) cap = n;
        T* fresh = new T[cap];
        std::memset(static_cast<void*>(fresh), 0, sizeof(T) * (size_t)cap);
        for (int i = 0; i < nelements; i++) fresh[i] = elements[i];
        delete[] elements;
        elements = fresh;
        nelements = cap;
    }
};

// Array of pointers whose owner frees the pointees with DeleteElements (the
// destructor does not).
template <class T> class TArray : public TArrayX<T> {
public:
    void DeleteElements()
    {
        for (int i = 0; i < this->length; i++)
            if (this->elements[i]) delete this->elements[i];
        this->length = 0;
    }
};

// Byte buffer for assembling texts; callers add the terminator themselves.
class TCharArray : public TArrayX<char> {
public:
    // The character's bytes in the current code page (CharBytes): one byte,
    // two (high byte first) when bits 8-15 of code are set, UTF-8 under 65001.
    void Add(unsigned int code)
    {
        unsigned char b[4];
        int n = CharBytes(code, b);
        for (int i = 0; i < n; i++) TArrayX<char>::Add((char)b[i]);
    }
    void Add(mbstring m)
    {
        if (!m) return;
        for (unsigned int c; (c = *m) != 0; m++) Add(c);
    }
};

// List of heap strings owned by the list.
class TStringList : public TArrayX<mbstring> {
public:
    TStringList() = default;
    ~TStringList() { Length(0); }

    // Appends a heap copy of m (null stays null) and returns it.
    mbstring Add(mbstring m)
    {
        mbstring c(Copy(m.s));
        (*this)[length] = c;
        return c;
    }
    // Appends a copy of at most n bytes of p (null stays null) and returns it.
    mbstring Add(const char* p, int n)
    {
        mbstring c(Copy(p, n));
        (*this)[length] = c;
        return c;
    }
    // Frees the strings at n..length-1 and shrinks to n entries (n <= length).
    void Length(int n)
    {
        for (int i = n; i < length; i++) {
            delete[] elements[i].s;
            elements[i].s = nullptr;
        }
        if (n < length) length = n;
    }
    void DeleteElements() { Length(0); }
};

// Open-addressing hash set with linear probing, load factor at most one half.
// T offers `unsigned long Key()` and `int operator==(T&)`; equal elements must
// have equal keys. The set does not own its members (see DeleteElements).
template <class T> class THashTable {
public:
    struct Entry {
        unsigned long key;
        T* value; // null: empty slot
    };
    Entry* entries;
    int nentries;
    int mask;
    int inuse;
    int searches; // insertions and look-ups started
    int extras;   // probe steps past occupied, non-matching slots

    THashTable() : entries(new Entry[64]()), nentries(64), mask(63), inuse(0), searches(0), extras(0) {}
    ~THashTable() { delete[] entries; }
    THashTable(const THashTable&) = delete;
    THashTable& operator=(const THashTable&) = delete;

    // The member equal to x if any, else inserts x and returns it.
    T* Add(T* x)
    {
        unsigned long key = x->Key();
        int i = Probe(x, key);
        if (entries[i].value) return entries[i].value;
        entries[i].key = key;
        entries[i].value = x;
        inuse++;
        if (inuse > nentries / 2) enlarge();
        return x;
    }
    // The member equal to x, or null.
    T* Find(T* x) { return entries[Probe(x, x->Key())].value; }
    // Deletes every member in slot order; the slots keep their (now dangling)
    // pointers, so the set must not be used afterwards except to destroy it.
    void DeleteElements()
    {
        for (int i = 0; i < nentries; i++)
            if (entries[i].value) delete entries[i].value;
    }
    void Stats()
    {
        std::fprintf(KsListing(), "%d entries, %d in use, %d searches, %d extras\n", nentries, inuse, searches,
                     extras);
    }
    // Forgets every member (without deleting them); the size stays.
    void Clear()
    {
        for (int i = 0; i < nentries; i++) entries[i] = Entry();
        inuse = 0;
    }

    void enlarge()
    {
        Entry* old = entries;
        int oldn = nentries;
        nentries *= 2;
        mask = nentries - 1;
        entries = new Entry[nentries]();
        for (int j = 0; j < oldn; j++) {
            if (!old[j].value) continue;
            int i = (int)(old[j].key & (unsigned long)mask);
            while (entries[i].value) i = (i + 1) & mask;
            entries[i] = old[j];
        }
        delete[] old;
    }

private:
    // Linear probing from the key's home slot: the slot holding the member
    // equal to x, or the empty slot where x belongs. Counts one search and
    // every occupied slot passed over.
    int Probe(T* x, unsigned long key)
    {
        searches++;
        int i = (int)(key & (unsigned long)mask);
        while (entries[i].value) {
            if (entries[i].key == key && *entries[i].value == *x) return i;
            extras++;
            i = (i + 1) & mask;
        }
        return i;
    }
};

// String hash of the maps: h = h*65553 + byte over the text, in unsigned
// 32-bit arithmetic; a null text hashes to 0xFFFFFFFF.
inline unsigned long KsStringHash(const char* s)
{
    if (!s) return 0xFFFFFFFFul;
    uint32_t h = 0;
    for (const unsigned char* p = (const unsigned char*)s; *p; p++) h = h * 65553u + *p;
    return h;
}

// Bump allocator for many small objects that die together: nothing is freed
// one by one, every block goes at once with the arena. Blocks grow from
// 256 bytes to 64 KB, so a small owner costs little and a large one makes
// one allocation per few thousand objects. Only trivially destructible
// objects belong here.
class TArena {
public:
    TArena() : head(nullptr), next(nullptr), left(0), grow(256) {}
    ~TArena()
    {
        while (head) {
            Block* b = head;
            head = b->prev;
            ::operator delete(b);
        }
    }
    TArena(const TArena&) = delete;
    TArena& operator=(const TArena&) = delete;

    // n bytes aligned for any object the arena holds.
    void* Alloc(size_t n)
    {
        n = (n + kAlign - 1) & ~(kAlign - 1);
        if (n > left) Refill(n);
        void* p = next;
        next += n;
        left -= n;
        return p;
    }
    // Arena copy of s; null gives null.
    char* Copy(const char* s)
    {
        if (!s) return nullptr;
        size_t n = std::strlen(s) + 1;
        return static_cast<char*>(std::memcpy(Alloc(n), s, n));
    }

private:
    struct Block {
        Block* prev;
    };
    static const size_t kAlign = alignof(void*) > alignof(double) ? alignof(void*) : alignof(double);
    static const size_t kHeader = (sizeof(Block) + kAlign - 1) & ~(kAlign - 1);
    Block* head;
    char* next;
    size_t left;
    size_t grow;

    void Refill(size_t n)
    {
        size_t size = grow;
        if (grow < 65536) grow *= 2;
        if (n > size - kHeader) size = n + kHeader;
        Block* b = static_cast<Block*>(::operator new(size));
        b->prev = head;
        head = b;
        next = reinterpret_cast<char*>(b) + kHeader;
        left = size - kHeader;
    }
};

// String-to-int map (add-or-get). Keys are copied; the map owns the copies.
// Entries and key copies live in the map's arena: a word list of 65,000
// words would otherwise make and free 130,000 small blocks.
class TMap {
public:
    struct Entry {
        int value;
        char* s; // not owned
        Entry() : value(-1), s(nullptr) {}
        unsigned long Key() { return KsStringHash(s); }
        int operator==(Entry& o)
        {
            if (s == o.s) return 1;
            if (!s || !o.s) return 0;
            return std::strcmp(s, o.s) == 0;
        }
    };
    TArena arena;
    Entry* ex; // spare entry: the probe key, donated to the table on insertion
    THashTable<Entry> table;

    TMap() : ex(New()) {}
    ~TMap() = default;
    TMap(const TMap&) = delete;
    TMap& operator=(const TMap&) = delete;

    // The value stored with key if present (unchanged), else inserts
    // (copy of key, value) and returns value.
    int Add(const char* key, int value)
    {
        ex->s = const_cast<char*>(key);
        ex->value = value;
        Entry* e = table.Add(ex);
        if (e != ex) {
            ex->s = nullptr;
            return e->value;
        }
        e->s = arena.Copy(key);
        ex = New();
        return e->value;
    }
    // The value stored with key, or -1.
    int Find(const char* key)
    {
        ex->s = const_cast<char*>(key);
        Entry* e = table.Find(ex);
        ex->s = nullptr;
        return e ? e->value : -1;
    }
    // Sets the value of a present key; an absent key is ignored.
    void Update(const char* key, int value)
    {
        ex->s = const_cast<char*>(key);
        ex->value = value;
        Entry* e = table.Find(ex);
        ex->s = nullptr;
        if (e) e->value = value;
    }

private:
    Entry* New() { return new (arena.Alloc(sizeof(Entry))) Entry; }
};

// Intrusive reference count. Holders AddRef when they take a reference and
// DelRef when they drop it; the last DelRef deletes the object. SubRef drops
// a reference without ever deleting.
class TCounted {
public:
    int refcnt;
    TCounted() : refcnt(0) {}
    virtual ~TCounted() {}
    void AddRef() { refcnt++; }
    void SubRef() { refcnt--; }
    void DelRef()
    {
        if (--refcnt == 0) delete this;
    }
};

// ---- compile parameters ----

// The settings of one compile run. A fresh record holds the defaults.
struct parms {
    char* bnf_file;
    char* fsg_file;
    char* fsg_directory;
    int eq_arcs;
    int flags;
    int use_null_arcs;
    int annotations;
    int numonly;
    int intern_all;
    const char* default_extension;
    int dbglevel;
    int eq_sentences;
    int time;
    int codepage;
    int warnings;
    char* syntax; // "bnf" or "jsgf"; null: by the extension (".gram" is JSGF)

    parms() { SetDefaults(); }
    // All fields zero, then eq_arcs 1, flags 0x410, annotations 1, ".fsg".
    void SetDefaults();
    // Engine FSG: no annotations.
    void do_en_mode();
    // Translation FSG: keep null arcs, every rule list intern, ".fst".
    void do_tr_mode();
};

// Reads a caller's parameter list into p, consuming (nulling the names of)
// the records it takes. Throws "duplicate parameter %s" or
// "unknown parameter %s". Call it on a record holding the defaults.
void ArgsToParms(int nargs, KsArg* args, parms& p);

// ksbnfc.cpp: the compile driver. Parses p.bnf_file and compiles,
// normalises and writes one FSG file per root; throws the first failure.
// With del != 0 everything the run made is destroyed before it returns;
// with del == 0 the grammars' last FSG and its grammar stay alive (a
// debugging aid: they are not reachable afterwards).
//
// With files, each FSG is recorded there (root, output name) in root order;
// with files->in_memory its bytes are kept there instead of being written.
struct TCompiledFile {
    std::string root, path, bytes;
};
struct TCompiledFiles {
    bool in_memory = false;
    std::vector<TCompiledFile> files;
};
void Compile(parms& p, int del, TCompiledFiles* files = nullptr);
// The list of slot values in `file` ("-": standard input) as grammar text of
// one root named after the file, line for line, with each value as its
// entry's translation when `translations` is set. Empty and duplicate lines
// are warned about; an entry without words or value, or whose words are on
// an earlier line with another value, is an error.
std::string ListGrammar(const char* file, bool translations);
// dir (null: the directory of the last splitpath), '/' when dir lacks one,
// s without its angle brackets, then ext as given. Heap string (delete[]).
char* makefn(const char* dir, const char* s, const char* ext);

// ---- file names and paths ----
// Only '/' separates directories; there are no drive letters (drive arguments
// are ignored, drive parts come out empty). Every part and every joined name
// must fit KS_PATH_BUF bytes with its terminator: a longer one is an Error
// naming the path, never a silent truncation.

const int KS_PATH_BUF = 4095;

// Parts of the last splitpath, read by makepath for null arguments.
extern char Drive[2];
extern char Dir[KS_PATH_BUF];   // directory with its trailing '/', or empty
extern char Fname[KS_PATH_BUF]; // base name without extension
extern char Ext[KS_PATH_BUF];   // extension with its leading '.', or empty

// Splits full into Drive, Dir, Fname and Ext.
void splitpath(const char* full);
// Joins dir, fname and ext (null: the part of the last splitpath), adding '/'
// after a non-empty dir and '.' before a non-empty ext that lacks one.
// Returns a heap string the caller frees with delete[].
char* makepath(const char* drive, const char* dir, const char* fname, const char* ext);
// As splitpath into the caller's buffers of KS_PATH_BUF bytes each (drive: at
// least 1 byte); a null buffer skips its part.
void _splitpath(const char* full, char* drive, char* dir, char* fn, char* ext);
// As makepath into the caller's buffer of KS_PATH_BUF bytes; null parts are
// left out.
void _makepath(char* full, const char* drive, const char* dir, const char* fn, const char* ext);

// ---- character stream ----

// A character code: a byte, or lead*256 + trail for a two-byte character.
// KS_ESCAPED marks a character written with a backslash escape, so that it
// never equals a plain one; KS_ESCAPED alone is an escaped line end (no
// character). 0 is the end of the text.
typedef unsigned int mbchar;
const mbchar KS_ESCAPED = 0x80000000u;

// Character source of the BNF parser: holds one grammar text, walks it one
// character at a time decoding escapes, collects the token being read in
// `kept`, and turns failures into messages naming file, line and column.
// Tokens handed out by GetKept belong to the stream and die with it.
class TStream {
public:
    TArena pool;           // every token handed out
    char* fn;              // file name in messages (owned)
    mbstring stream;       // the whole text, NUL-terminated for files
    mbstring pos;          // next character
    mbstring end;          // one past the last byte of the text
    TArrayX<unsigned int> kept; // codes of the token being built, unmarked
    int line, col;         // position of the character at `where`, from 1
    mbstring where;        // how far line/col have been counted (lags pos)
    bool owns_text;        // stream was loaded here (false over a caller's buffer)

    // Loads the file _fn whole (or the text a TSourceScope gives for that
    // name); if it cannot be opened and ext is not null,
    // retries _fn with ext appended. Throws "can't open '%s' (%s)". Pass
    // nullptr, not 0, for no extension: 0 selects the buffer constructor.
    TStream(const char* _fn, const char* ext);
    // Scans the l bytes at s in place; the caller keeps them alive and owns
    // them. Messages name the file "<buffer>".
    TStream(const char* s, int l);
    virtual ~TStream();
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // The next code, escapes decoded (0 at the end), and the position after it.
    mbstring peek(mbchar& c);
    mbchar Peek();
    mbchar Next();
    // Whether the raw text at pos starts with the one-byte literal s; Next and
    // Keep consume it on success (Keep also keeps its bytes).
    int Peek(const char* s);
    int Next(const char* s);
    int Keep(const char* s);
    // Consumes one character and keeps it unless it decodes to nothing;
    // returns its code with the escape mark, 0 at the end.
    mbchar Keep();
    void PutKept(const char* s);
    int HaveKept() { return kept.length > 0; }
    // The kept characters as a pooled string; empties `kept`.
    mbstring GetKept();
    void ClearKept() { kept.Clear(); }
    void StripTrailingKeptSpaces();
    int End() { return pos.s >= end.s; }
    // Line and column (from 1) of the next character.
    void Where(int& l, int& c);
    // Throws "<msg> in \"<fn>\", line <l>, column <c>" for the next character,
    // with what the parser expected there recorded beside it.
    [[noreturn]] void ErrorMsg(const char* msg, const char* expected = nullptr);
    [[noreturn]] void SyntaxError();

private:
    void count_to_pos();
};

// Grammar text in memory that stands for the file `name` on this thread
// while the scope lives: a stream opened under that name reads the text.
class TSourceScope {
public:
    TSourceScope(const char* name, const std::string& text);
    ~TSourceScope();
    TSourceScope(const TSourceScope&) = delete;
    TSourceScope& operator=(const TSourceScope&) = delete;
    // The text given for name, or null.
    static const std::string* Find(const char* name);

private:
    const char* name_;
    const std::string* text_;
    TSourceScope* saved_;
};

// ---- annotation actions ----
// An action is text in the current code page made of segments split by the
// separator character (the code of the one-byte text 0xB7; under UTF-8 the
// character U+00B7, bytes C2 B7, so that the byte 0xB7 inside a character such
// as Cyrillic ze, D0 B7, separates nothing). In a segment "{}"
// is the top stack item, "{k}" argument k (digits only count), the rest literal.

// If an argument reference starts at s: sets k, moves s past its '}' and
// returns 1. Otherwise returns 0 with s unchanged (k may be overwritten).
int GetActionArg(mbstring& s, int& k);
int GetActionArg(const TCodePage& cp, mbstring& s, int& k);
// Largest argument number in the first segment of s; 0 if none.
int MaxActionArg(mbstring s);
// Runs one action on the stack: each segment pops the items it names and
// pushes its result. A null action does nothing. Throws when the stack is short.
void DoActions(TStringList& stack, mbstring action);
void DoActions(TStringList& stack, mbstring action, const TCodePage& cp);
// Runs an action list (null entries allowed) on a fresh stack. Returns the
// single result as a heap string the caller frees with delete[], or null when
// nothing was pushed. Throws if more than one item is left.
mbstring DoActions(TStringList& actions);
// The same in the given code page (a grammar's, at run time); the forms
// without one use the process code page.
mbstring DoActions(TStringList& actions, const TCodePage& cp);
// One action equivalent to first followed by second. The result lives in a
// static buffer until the next call; throws if it would exceed 1999 bytes.
mbstring MergeActions(mbstring first, mbstring second);
// Renumbers the arguments of s densely from 1. map needs max + 1 entries and
// receives the new number of each old argument (0 when unused). Static result
// buffer as MergeActions.
mbstring RemapArgs(mbstring s, int max, int* map);
// Writes "{k}" at out without a terminator and advances out past it; the
// caller provides room (at most 13 bytes).
void PutArg(mbstring& out, int k);
// s just after prefix when s starts with it, else null.
char* starts_with(char* s, const char* prefix);

#endif // KSBNFC_COMMON_H

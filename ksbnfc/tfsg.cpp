// tfsg.cpp: the graph data model: word lists, arc and state building, the
// arc and word orderings, how the walks take call arcs (CallOf), TSubFSG/TFSG
// construction and destruction, and the Enter/Exit/Stats trace lines that
// every pass prints.
#include "tfsg.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/mman.h>

// ---- words ----

int TWord::operator==(mbstring text) const
{
    return word == text;
}

TWordList::TWordList(int base_, TWord::Kind kind_) : base(base_), kind(kind_)
{
}

TWord* TWordList::Add(mbstring text)
{
    int i = length;
    TWord* w = new (arena.Alloc(sizeof(TWord))) TWord(arena.Copy(text.s), base + i, kind);
    (*this)[i] = w;
    // The map never holds a null key: null texts are found through index 0.
    if (w->word.s) map.Add(w->word.s, i);
    return w;
}

TWord* TWordList::Add(int i, mbstring text, int id)
{
    TWord*& slot = (*this)[i];
    if (slot) {
        slot->word = mbstring(arena.Copy(text.s));
        if (slot->word.s) map.Add(slot->word.s, i);
        if (slot->id != id) Error("id changed (id %d w->id %d)", id, slot->id);
        return slot;
    }
    slot = new (arena.Alloc(sizeof(TWord))) TWord(arena.Copy(text.s), id, kind);
    if (slot->word.s) map.Add(slot->word.s, i);
    return slot;
}

TWord* TWordList::Lookup(mbstring text, int add)
{
    if (!text) return (*this)[0];
    int i = map.Find(text.s);
    if (i >= 0 && i < length && elements[i] && *elements[i] == text) return elements[i];
    if (i >= 0) {
        // The word at the mapped index was renamed by an indexed Add: find
        // the first word that still carries the text.
        for (int j = 0; j < length; j++)
            if (elements[j] && *elements[j] == text) {
                map.Update(text.s, j);
                return elements[j];
            }
    }
    return add ? Add(text) : nullptr;
}

void TWordList::Sort()
{
    TArray<TWord*>::Sort();
    for (int i = 0; i < length; i++)
        if (elements[i] && elements[i]->word.s) map.Update(elements[i]->word.s, i);
}

template <> int TArrayX<TWord*>::compare(TWord* const& a, TWord* const& b)
{
    // Empty slots and missing texts (possible in lists filled by index) sort
    // first instead of faulting.
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    const char* x = a->word.s;
    const char* y = b->word.s;
    if (x != y) {
        if (!x || !y) return (x != nullptr) - (y != nullptr);
        int c = std::strcmp(x, y);
        if (c) return c;
    }
    return (a->id > b->id) - (a->id < b->id);
}

// ---- arcs ----

int TArc::eq(TArc* b, int ignore_p)
{
    return word == b->word && anno == b->anno && needtr == b->needtr && state == b->state && op == b->op &&
           (ignore_p || p == b->p);
}

namespace {

const int kEndId = 1000000; // target id of an arc that leaves the network

inline int TargetId(const TArc* a)
{
    return a->state ? a->state->id : kEndId;
}

inline int Cmp(int x, int y)
{
    return (x > y) - (x < y);
}

} // namespace

template <> int TArrayX<TArc*>::compare(TArc* const& a, TArc* const& b)
{
    if (int c = Cmp(a->word->id, b->word->id)) return c;
    if (int c = Cmp(a->anno->id, b->anno->id)) return c;
    return Cmp(TargetId(a), TargetId(b));
}

template <> int TArrayX<TArc*>::compare2(TArc* const& a, TArc* const& b)
{
    if (int c = Cmp(a->word->id, b->word->id)) return c;
    if (int c = Cmp(TargetId(a), TargetId(b))) return c;
    if (a->anno->id == b->anno->id) return 0;
    if (a->p > b->p) return -1;
    if (a->p < b->p) return 1;
    return 0;
}

// ---- calls ----

TCallee CallOf(TFSG* g, const TArc* a)
{
    TCallee c;
    TWord* w = a->word;
    if (!w) return c;
    if (w->kind == TWord::Intern) {
        TArray<TSubFSG*>& subs = g->intern_fsgs;
        TSubFSG* s = w->id >= 0 && w->id < subs.length ? subs.elements[w->id] : nullptr;
        if (!s || s->states.length == 0) Error("Can't open an intern fsg: %d!\n", w->id);
        c.g = g;
        c.net = s;
        c.start = s->states.elements[0];
    } else if (w->kind == TWord::Extern) {
        TFSG* x = w->word.s ? TFSG::Extern(w->word.s, nullptr) : nullptr;
        if (x && x->states.length > 0) {
            c.g = x;
            c.net = x;
            c.start = x->states.elements[0];
        } else {
            c.word = w->word.s;
        }
    }
    return c;
}

// ---- arc pools ----

namespace {

const size_t kMaxArcBlock = 4096; // arcs; the first blocks are small

} // namespace

TArcPool::~TArcPool()
{
    while (blocks) {
        Block* b = blocks;
        blocks = b->prev;
        ::operator delete(b);
    }
}

void TArcPool::Allocate(size_t n)
{
    // The arcs start after a header rounded up to their alignment.
    const size_t head = (sizeof(Block) + alignof(TArc) - 1) / alignof(TArc) * alignof(TArc);
    // A reader's count can exceed what a 32-bit address space holds.
    if (n > (SIZE_MAX - head) / sizeof(TArc)) throw std::bad_alloc();
    const size_t bytes = head + n * sizeof(TArc);
    Block* b = static_cast<Block*>(::operator new(bytes));
#ifdef MADV_HUGEPAGE
    // The reader's block of a large network is filled at once: in huge
    // pages where the system offers them, not a page fault per 4 KB (a
    // third of the time of loading 2 million arcs).
    const uintptr_t huge = (uintptr_t)2 << 20;
    if (bytes >= 4 * huge) {
        uintptr_t from = ((uintptr_t)b + huge - 1) & ~(huge - 1), to = ((uintptr_t)b + bytes) & ~(huge - 1);
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#endif
    b->prev = blocks;
    blocks = b;
    next = reinterpret_cast<TArc*>(reinterpret_cast<char*>(b) + head);
    left = n;
}

void TArcPool::Refill()
{
    Allocate(grow);
    if (grow < kMaxArcBlock) grow *= 2;
}

void TArcPool::Reserve(size_t n)
{
    if (n > left) Allocate(n);
}

namespace {

// Joins two singly linked lists, walking them side by side only as far as
// the shorter one goes, and returns the head. A chain of rules in which each
// takes over the pool of the next would otherwise walk the blocks of the
// whole rest of the chain at every level. The order of the blocks and free
// slots matters to nothing but their release.
template <class T> T* Join(T* a, T* b, T* T::*link)
{
    if (!a) return b;
    if (!b) return a;
    T* x = a;
    T* y = b;
    while (x->*link && y->*link) {
        x = x->*link;
        y = y->*link;
    }
    if (!(x->*link)) {
        x->*link = b;
        return a;
    }
    y->*link = a;
    return b;
}

} // namespace

void TArcPool::Take(TArcPool& other)
{
    // Other's unused tail is dropped (at most one block's worth); our newest
    // block keeps serving New, wherever it ends up in the list.
    blocks = Join(blocks, other.blocks, &Block::prev);
    free_list = Join(free_list, other.free_list, &Slot::next);
    other.blocks = nullptr;
    other.free_list = nullptr;
    other.next = nullptr;
    other.left = 0;
}

// ---- states ----

TState::TState(TSubFSG* sub_)
    : sub(sub_), id(-1), mix(nullptr), flag(0), optimized(nullptr), copy(nullptr)
{
}

TState::~TState()
{
    for (int i = 0; i < arcs.length; i++) sub->FreeArc(arcs.elements[i]);
}

TArc* TState::AddArc(TState* to, float p, mbstring word, mbstring anno, Op op)
{
    TFSG* f = sub->fsg;
    return AddArcX(to, p, f->words.Lookup(word, 1), f->annos.Lookup(anno, 1), op);
}

TArc* TState::AddExternArc(TState* to, float p, mbstring word, mbstring anno, Op op)
{
    TFSG* f = sub->fsg;
    return AddArcX(to, p, f->externs.Lookup(word, 1), f->annos.Lookup(anno, 1), op);
}

TArc* TState::AddInternArc(TState* to, float p, mbstring word, mbstring anno, Op op)
{
    TFSG* f = sub->fsg;
    return AddArcX(to, p, f->interns.Lookup(word, 1), f->annos.Lookup(anno, 1), op);
}

TArc* TState::AddNullArc(TState* to, float p, mbstring anno)
{
    return AddArcX(to, p, nullptr, sub->fsg->annos.Lookup(anno, 1), OpNone);
}

TArc* TState::AddArcX(TState* to, float p, TWord* word, TWord* anno, Op op)
{
    if (to) to->sub->normalized = 0;
    TFSG* f = sub->fsg;
    TArc* a = ::new (sub->arcpool.New()) TArc;
    a->state = to;
    a->word = word ? word : f->words[0];
    a->anno = anno ? anno : f->annos[0];
    a->p = p;
    a->op = op;
    a->needtr = 0;
    arcs.Add(a);
    return a;
}

void TState::DelArcs(int i, int n)
{
    // Out-of-range requests are clipped rather than shifting garbage in.
    if (i < 0) {
        n += i;
        i = 0;
    }
    if (n > arcs.length - i) n = arcs.length - i;
    if (n <= 0) return;
    for (int j = i; j < i + n; j++) sub->FreeArc(arcs.elements[j]);
    arcs.Del(i, n);
}

prob TState::Accepting()
{
    if (arcs.length == 0) return 0.0f;
    TArc* a = arcs.elements[0];
    return a->word->id == 0 ? a->p : 0.0f;
}

// ---- networks ----

TSubFSG::TSubFSG(mbstring name_, TFSG* fsg_)
    : intern(0), name(::Copy(name_.s)), mixes(nullptr), opts(nullptr), fsg(fsg_), normalized(0), nextid(0),
      busy(0), rlist_next(nullptr), pass(0), settled(0), uses(-1)
{
    AddState();
}

TSubFSG::~TSubFSG()
{
    delete[] name.s;
    // Tables left behind by an interrupted pass; their members are owned by
    // the pass's own bookkeeping (mixtures) or are our states.
    delete mixes;
    delete opts;
    states.DeleteElements();
}

TState* TSubFSG::AddState()
{
    TState* s = new TState(this);
    s->id = nextid++;
    states.Add(s);
    return s;
}

TState* TSubFSG::Initial()
{
    return states[0];
}

void TSubFSG::ClearStateFlags()
{
    for (int i = 0; i < states.length; i++) states.elements[i]->flag = 0;
}

void TSubFSG::Enter(const char* what)
{
    Stats("Enter", what, 0);
}

void TSubFSG::Exit(const char* what)
{
    Stats("Exit", what, 1);
}

void TSubFSG::Stats(const char* tag, const char* what, int print)
{
    if (!what) what = "";
    if (dbglevel > 0)
        std::fprintf(KsListing(), "%-5s %-25s for %-15s %4d states\n", tag ? tag : "", what,
                     name.s ? name.s : "", states.length);
    if (print && dbglevel > 1) {
        std::fprintf(KsListing(), "\n");
        char title[300];
        std::snprintf(title, sizeof title, "after %s", what);
        Print(dbglevel - 1, title);
    }
    std::fflush(KsListing());
}

// ---- the whole grammar ----

TFSG::TFSG(mbstring name_, Eq eq_)
    : TSubFSG(name_, this), flags(0), codepage(0), use_null_arcs(0), eq(eq_),
      scale((float)(256.0 / std::log(10.0))), dictionary(nullptr), words(0, TWord::Word),
      externs(50000, TWord::Extern), annos(0, TWord::Extern), interns(40000, TWord::Intern),
      with(20000, TWord::Intern), without(30000, TWord::Intern)
{
    std::memset(&fh, 0, sizeof fh);
    std::memset(&ph, 0, sizeof ph);
    words.Add(0, mbstring(""), 0);
    annos.Add(0, mbstring(), 0);
}

TFSG::~TFSG()
{
    for (int i = 0; i < intern_fsgs.length; i++)
        if (intern_fsgs.elements[i]) intern_fsgs.elements[i]->DelRef();
    intern_fsgs.length = 0;
    // The word lists go in reverse order of declaration (without ... words),
    // then the states and arcs of this network in ~TSubFSG.
}

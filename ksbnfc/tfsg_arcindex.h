// tfsg_arcindex.h: private to the matcher and the sub-string search. Finds
// the arcs of a state that the next input word can take, in stored arc
// order, without comparing the word with every arc of a large state (the
// word's class is looked up once per call); and records the configurations
// a walk has been through.
#ifndef KSBNFC_TFSG_ARCINDEX_H
#define KSBNFC_TFSG_ARCINDEX_H

#include "tfsg.h"

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

// The case-folded form of a word in code page cp: equal keys exactly for
// texts that cp.StrICmp finds equal (one-byte characters through the
// lower-casing table, two-byte characters as they are, UTF-8 by simple case
// folding). A null text gives an empty key. Returns false when s is not
// valid text of the code page (invalid UTF-8), which the callers let match
// nothing.
bool FoldWordKey(const TCodePage& cp, const char* s, std::string& key);

// Whether an arc consumes a word compared by text (not null, intern or extern).
inline bool IsPlainWordArc(const TArc* a)
{
    return a->word->kind != TWord::Intern && a->word->kind != TWord::Extern && a->word->id != 0;
}

// The code page a grammar is matched in: the one its word index was built
// in, else its own (0: the process code page).
TCodePage MatchCodePage(const TFSG* g);

// The input words of one call as the grammars it enters see them: each
// word folded and looked up once per grammar, giving its word class there.
// Owned by the call; the grammars are only read.
class TInputWords {
public:
    struct View {
        const TFSG* g;
        const TWordIndex* index; // null: the grammar has none, texts are compared
        TCodePage cp;
        std::vector<int> cls;     // with an index: each word's class, -1 for none
        std::vector<char> valid;  // whole characters of cp: a word that is not matches nothing
    };

    explicit TInputWords(const TStringList& input) : input(input) {}
    // The view of the grammar that owns the word lists of state s's arcs.
    const View& Of(const TState* s)
    {
        const TFSG* g = s->sub->fsg;
        if (last && last->g == g) return *last;
        for (View& v : views)
            if (v.g == g) return *(last = &v);
        return *(last = &Add(g));
    }
    // Whether input word k equals the text of plain word w of v's grammar.
    bool Is(const View& v, int k, const TWord* w) const;
    // The same for any word text (extern names), compared in v's code page.
    bool TextIs(const View& v, int k, const char* text) const;

private:
    View& Add(const TFSG* g);
    const TStringList& input;
    std::deque<View> views; // the main grammar and the externs it calls; stay in place
    View* last = nullptr;
};

// Visits the arc indices of one state that can be taken with one input word:
// every arc that is not a plain word arc, and the plain word arcs of the
// word's class (Matched() is then true: no comparison is needed). With no
// word (the input is exhausted) it visits the arcs that are not plain word
// arcs up to the first plain word arc, then that arc, which the callers
// treat as the end of the state. Indices come in ascending order.
//
// States with more than a handful of arcs have an index (TArcIndex) built
// at load; smaller ones, states whose arcs changed since, and grammars
// without a word index are scanned whole, the callers comparing the words.
class TArcCursor {
public:
    // k: the input position, or -1 for no word.
    void Start(TState* s, const TInputWords::View& v, int k);
    // The next index, or -1 when none is left.
    int Next()
    {
        matched = false;
        if (all) return i < n ? i++ : -1;
        if (ia < na && (ib >= nb || a[ia] < b[ib])) return a[ia++];
        if (ib < nb) {
            matched = by_class;
            return b[ib++];
        }
        return -1;
    }
    // Whether the arc Next returned is a plain word arc of the word's class.
    bool Matched() const { return matched; }
    // Arc i of s, which Next has just returned. For an arc of the word's
    // class it may be another arc of s that differs from it in the word
    // alone (the callers read no word of a matched arc).
    TArc* Arc(const TState* s, int i) const { return matched && single_arc ? single_arc : s->arcs.elements[i]; }

private:
    int all = 1;              // scan every arc
    int i = 0, n = 0;         // scan position and arc count
    const int* a = nullptr;   // arcs that are not plain words
    int na = 0, ia = 0;
    const int* b = nullptr;   // plain word arcs of the word's class
    int nb = 0, ib = 0;
    int single = 0;           // b when the class has one arc
    TArc* single_arc = nullptr; // and that arc
    bool by_class = false;    // b holds arcs of the word's class
    bool matched = false;
};

// The configurations of one walk of the matcher or the sub-string search:
// where the walk is (input position, state, grammar), the chain of open
// calls that decides how it goes on when a network ends, and how many of
// those calls were made at the current position ("fresh": a call of an arc
// already among them would recurse without consuming a word, and is not
// made; see Enter for calls that are the last item of a network). What a
// configuration leads to does not depend on how it was
// reached, so one that has failed is not explored again, and one that is
// reached again while it is still being explored (a loop that consumes no
// word) is cut there. Both keep the first accepting path in arc order: a
// skipped or cut branch holds no accepting path that the walk has not
// already ruled out. Chains are numbered as they first appear, so that a
// configuration is a few words.
class Configurations {
public:
    enum Status : unsigned char { kUnseen = 0, kOpen = 1, kFailed = 2 };
    // What is known of a configuration; for an open one, the depth of its
    // step on the walk's stack.
    struct Mark {
        unsigned char status;
        int depth;
    };

    // Chain 0 is the empty chain.
    Configurations() : chains(1, Chain{0, nullptr, nullptr}) {}

    // The chain and fresh count inside a call through arc a (in grammar g)
    // made from chain / fresh. A call that is the last item of its network
    // (its arc leaves the network) changes nothing: when the callee ends,
    // the caller ends too, so what follows is the same as without the call.
    // This keeps chains of tail calls, which recursion builds, from growing.
    void Enter(const TArc* a, const TFSG* g, int& chain, int& fresh)
    {
        if (!a->state) return;
        ChainKey k{chain, a, g};
        auto it = chain_ids.find(k);
        if (it != chain_ids.end()) {
            chain = it->second;
        } else {
            chain = (int)chains.size();
            chains.push_back(Chain{k.parent, a, g});
            chain_ids.emplace(k, chain);
        }
        fresh++;
    }
    // The same when a network called through arc a ends.
    void Leave(const TArc* a, int& chain, int& fresh) const
    {
        if (!a->state) return;
        chain = chains[(size_t)chain].parent;
        if (fresh > 0) fresh--;
    }

    // Whether a call through arc a would repeat one of the innermost
    // `fresh` calls of ctx that are not tail calls (a tail call that repeats
    // itself comes back to an open configuration).
    static bool Recurses(const TSubFSG::Ctx* ctx, int fresh, const TArc* a)
    {
        if (!a->state) return false;
        for (; ctx && fresh > 0; ctx = ctx->next) {
            if (!ctx->arc->state) continue;
            if (ctx->arc == a) return true;
            fresh--;
        }
        return false;
    }

    // Recurses for a walk that keeps chains instead of contexts.
    bool RecursesIn(int chain, int fresh, const TArc* a) const
    {
        if (!a->state) return false;
        for (; chain && fresh > 0; chain = chains[(size_t)chain].parent, fresh--)
            if (chains[(size_t)chain].arc == a) return true;
        return false;
    }
    // The innermost call of a chain that is not empty, and the grammar it was made in.
    const TArc* CallArc(int chain) const { return chains[(size_t)chain].arc; }
    const TFSG* CallerOf(int chain) const { return chains[(size_t)chain].g; }

    // The mark of a configuration, created unseen.
    Mark& At(const TState* s, const TFSG* g, int chain, int fresh, int in)
    {
        if (used * 2 >= slots.size()) Grow();
        size_t i = Find(s, g, chain, fresh, in);
        if (!slots[i].state) {
            slots[i] = Slot{s, g, chain, fresh, in, {kUnseen, 0}};
            used++;
        }
        return slots[i].mark;
    }

private:
    struct Chain {
        int parent;
        const TArc* arc;
        const TFSG* g;
    };
    struct ChainKey {
        int parent;
        const TArc* arc;
        const TFSG* g;
        bool operator==(const ChainKey& o) const { return parent == o.parent && arc == o.arc && g == o.g; }
    };
    struct ChainHash {
        size_t operator()(const ChainKey& k) const
        {
            return std::hash<const void*>()(k.arc) * 31 + std::hash<const void*>()(k.g) + (size_t)k.parent * 1000003u;
        }
    };
    struct Slot {
        const TState* state; // null: free
        const TFSG* g;
        int chain;
        int fresh;
        int in;
        Mark mark;
    };

    static size_t Hash(const TState* s, const TFSG* g, int chain, int fresh, int in)
    {
        uint64_t h = (uint64_t)(uintptr_t)s ^ (uint64_t)(uintptr_t)g * 0x9E3779B97F4A7C15ull ^
                     (uint64_t)(uint32_t)chain * 0xC2B2AE3D27D4EB4Full ^ (uint64_t)(uint32_t)fresh << 40 ^
                     (uint64_t)(uint32_t)in * 0x165667B19E3779F9ull;
        h ^= h >> 33; // the finaliser of MurmurHash3
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 33;
        return (size_t)h;
    }
    size_t Find(const TState* s, const TFSG* g, int chain, int fresh, int in) const
    {
        size_t mask = slots.size() - 1;
        size_t i = Hash(s, g, chain, fresh, in) & mask;
        while (slots[i].state && !(slots[i].state == s && slots[i].g == g && slots[i].chain == chain &&
                                   slots[i].fresh == fresh && slots[i].in == in))
            i = (i + 1) & mask;
        return i;
    }
    void Grow()
    {
        std::vector<Slot> old;
        old.swap(slots);
        slots.assign(old.empty() ? 64 : old.size() * 2, Slot{nullptr, nullptr, 0, 0, 0, {kUnseen, 0}});
        for (const Slot& o : old)
            if (o.state) slots[Find(o.state, o.g, o.chain, o.fresh, o.in)] = o;
    }

    std::vector<Chain> chains;
    std::unordered_map<ChainKey, int, ChainHash> chain_ids;
    std::vector<Slot> slots; // open addressing, a power of two
    size_t used = 0;
};

#endif // KSBNFC_TFSG_ARCINDEX_H

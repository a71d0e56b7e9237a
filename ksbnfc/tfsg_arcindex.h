// tfsg_arcindex.h: private to the matcher and the sub-string search. Finds
// the arcs of a state that the next input word can take, in stored arc
// order, without comparing the word with every arc of a large state.
#ifndef KSBNFC_TFSG_ARCINDEX_H
#define KSBNFC_TFSG_ARCINDEX_H

#include "tfsg.h"

#include <string>
#include <unordered_map>
#include <vector>

// The case-folded form of a word: equal keys for texts that ks_stricmp finds
// equal in the current code page (one-byte characters through ks_tolower_,
// two-byte characters as they are, UTF-8 by simple case folding). A null text
// gives an empty key. Returns false when s is not valid text of the code page
// (invalid UTF-8), which the callers let match nothing.
bool FoldWordKey(const char* s, std::string& key);

// Whether an arc consumes a word compared by text (not null, intern or extern).
inline bool IsPlainWordArc(const TArc* a)
{
    return a->word->kind != TWord::Intern && a->word->kind != TWord::Extern && a->word->id != 0;
}

// Visits the arc indices of one state that can be taken with one input word:
// every arc that is not a plain word arc, and the plain word arcs whose key
// equals the word's key (callers still confirm with ks_stricmp). With no word
// (the input is exhausted) it visits the arcs that are not plain word arcs up
// to the first plain word arc, then that arc, which the callers treat as the
// end of the state. Indices come in ascending order.
//
// States with more than a handful of arcs get an index (TArcIndex) on first
// use, kept in the state; smaller ones are scanned whole. The cursor points
// into the index, which stays valid while the state's arcs are unchanged.
class TArcCursor {
public:
    void Start(TState* s, const std::string* key);
    // The next index, or -1 when none is left.
    int Next()
    {
        if (all) return i < n ? i++ : -1;
        if (ia < na && (ib >= nb || a[ia] < b[ib])) return a[ia++];
        if (ib < nb) return b[ib++];
        return -1;
    }

private:
    int all = 1;              // scan every arc
    int i = 0, n = 0;         // scan position and arc count
    const int* a = nullptr;   // arcs that are not plain words
    int na = 0, ia = 0;
    const int* b = nullptr;   // plain word arcs with the word's key
    int nb = 0, ib = 0;
};

#endif // KSBNFC_TFSG_ARCINDEX_H

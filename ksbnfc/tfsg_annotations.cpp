// tfsg_annotations.cpp: moving and merging arc annotations. Entry points:
// TState::AddArcPreAction / AddArcPostAction / MergeArcActions (put an action
// before or after an arc's translation, or set it to two actions in sequence)
// and TSubFSG::PropagateAnnotations (move annotations one arc towards the
// start along unbranched stretches).
#include "tfsg.h"

#include <string>
#include <utility>

namespace {

// What the arc translates to before anything is added: a plain word arc that
// needs a translation but carries no annotation translates to its own word
// text, so that text must become explicit before an action joins it.
mbstring BaseTranslation(const TArc* a)
{
    if (a->needtr && !a->anno->word && a->op == OpNone && a->word->kind == TWord::Word)
        return a->word->word;
    return a->anno->word;
}

// The action texts handed in may live in the result buffer of MergeActions
// (a caller merging the result of an earlier merge), which the merge
// overwrites while reading; merging from private copies avoids that.
mbstring Merge(mbstring first, mbstring second)
{
    std::string x(first.s), y(second.s);
    return MergeActions(mbstring(x.c_str()), mbstring(y.c_str()));
}

void SetAnno(TState* owner, TArc* a, mbstring text)
{
    a->anno = owner->sub->fsg->annos.Lookup(text, 1);
}

const char* Shown(mbstring m)
{
    return m.s ? m.s : "(null)";
}

} // namespace

void TState::AddArcPreAction(TArc* a, mbstring action)
{
    if (!action) return;
    mbstring b = BaseTranslation(a);
    SetAnno(this, a, !b ? action : Merge(action, b));
}

void TState::AddArcPostAction(TArc* a, mbstring action)
{
    if (!action) return;
    mbstring b = BaseTranslation(a);
    SetAnno(this, a, !b ? action : Merge(b, action));
}

void TState::MergeArcActions(TArc* a, mbstring x, mbstring y)
{
    SetAnno(this, a, !x ? y : !y ? x : Merge(x, y));
}

// One step per call: an annotation that moved can move further only in a
// later call, after the caller has determinised and merged states again.
// The incoming counts are computed once; a move changes no topology.
int TSubFSG::PropagateAnnotations()
{
    Enter("PropagateAnnotations");
    Reachable();
    int moved = 0;
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        s->arcs.Sort();
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            TState* t = a->state;
            if (dbglevel > 1)
                std::fprintf(KsListing(),
                             "  Arc %d word %p '%s' anno %p %p '%s' next %p (%d) has %d arcs out %d in\n", j,
                             (void*)a->word, Shown(a->word->word), (void*)a->anno, (void*)a->anno,
                             Shown(a->anno->word), (void*)t, t ? t->id : -1, t ? t->arcs.length : 0,
                             t ? t->flag : 0);
            if (a->word->id == 0 || !t || a->needtr || !!a->anno->word || t->arcs.length != 1 || t->flag != 1)
                continue;
            TArc* b = t->arcs.elements[0];
            if (!b->anno->word) continue;
            if (dbglevel > 1)
                std::fprintf(KsListing(), "     moving anno %p %p '%s'\n", (void*)b->anno, (void*)b->anno,
                             b->anno->word.s);
            // a carries the no-annotation entry, so exchanging leaves b bare.
            std::swap(a->anno, b->anno);
            moved = 1;
        }
    }
    std::fflush(KsListing());
    Exit("PropagateAnnotations");
    return moved;
}

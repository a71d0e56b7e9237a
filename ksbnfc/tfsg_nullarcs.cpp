// tfsg_nullarcs.cpp: null-arc elimination. Entry points:
// TSubFSG::EliminateNullArcs (replace every null arc with a target by the
// arcs of that target, then compact) and TState::AddArcsFromState (append a
// scaled, pre-annotated copy of another state's arcs), which determinisation
// and the initial-state split build on as well.
#include "tfsg.h"

#include <unordered_map>

// `from` may be this state only if the caller accepts copies of the copies:
// the loop reads the arc count once, so it terminates either way.
void TState::AddArcsFromState(TState* from, float p, mbstring action)
{
    from->flag = 1;
    int n = from->arcs.length;
    for (int i = 0; i < n; i++) {
        TArc* a = from->arcs.elements[i];
        TArc* c = AddArcX(a->state, p * a->p, a->word, a->anno, a->op);
        c->needtr = a->needtr;
        AddArcPreAction(c, action);
    }
}

// Each state is processed once, in index order. Targets already merged into
// the current state are remembered, so a null cycle (or a second null arc to
// the same target) contributes nothing the second time and the loop ends.
//
// Cost: linear in the arcs read and written. A target is marked with the
// number of the state it was merged into, and the surviving arcs are moved
// down over the deleted null arcs in one sweep, so the replacements still
// come out behind all the original arcs in the order they were appended.
void TSubFSG::EliminateNullArcs()
{
    Enter("EliminateNullArcs");
    std::unordered_map<TState*, int> merged_into; // target -> state index + 1
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        merged_into[s] = i + 1;
        int w = 0;
        // AddArcsFromState appends behind the arcs still to be read (never
        // to s itself, which is marked), so the sweep sees every arc once.
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            TState* t = a->state;
            if (!t || a->word->id != 0) {
                s->arcs.elements[w++] = a;
                continue;
            }
            int& mark = merged_into[t];
            if (mark != i + 1) {
                mark = i + 1;
                mbstring action = a->anno->word;
                if (!action && a->needtr) action = mbstring("");
                s->AddArcsFromState(t, a->p, action);
            }
            s->sub->FreeArc(a);
        }
        s->arcs.length = w;
        // The array held the null arcs and their replacements side by side;
        // on a long chain of optional items that is most of the memory.
        s->arcs.Fit();
        s->NormalizeArcProbabilities();
    }
    Compress();
    Exit("EliminateNullArcs");
}

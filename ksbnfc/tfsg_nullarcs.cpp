// tfsg_nullarcs.cpp: null-arc elimination. Entry points:
// TSubFSG::EliminateNullArcs (replace every null arc with a target by the
// arcs of that target, then compact) and TState::AddArcsFromState (append a
// scaled, pre-annotated copy of another state's arcs), which determinisation
// and the initial-state split build on as well.
#include "tfsg.h"

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
void TSubFSG::EliminateNullArcs()
{
    Enter("EliminateNullArcs");
    TArrayX<TState*> merged; // reused for every state
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        merged.Clear();
        merged.Add(s);
        for (int j = 0; j < s->arcs.length;) {
            TArc* a = s->arcs.elements[j];
            TState* t = a->state;
            if (!t || a->word->id != 0) {
                j++;
                continue;
            }
            bool seen = false;
            for (int k = 0; k < merged.length && !seen; k++) seen = merged.elements[k] == t;
            if (!seen) {
                merged.Add(t);
                mbstring action = a->anno->word;
                if (!action && a->needtr) action = mbstring("");
                s->AddArcsFromState(t, a->p, action);
            }
            // The replacements were appended behind the null arc, so it is
            // still arc j.
            s->DelArcs(j, 1);
        }
        s->NormalizeArcProbabilities();
    }
    Compress();
    Exit("EliminateNullArcs");
}

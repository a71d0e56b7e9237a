// tfsg_initial.cpp: the initial-state split. Entry point: TSubFSG::EngineBug,
// which redirects every arc entering the initial state to one new copy of it,
// because the recogniser cannot start in a state that has incoming arcs.
#include "tfsg.h"

// The copy is made at the first arc found entering the initial state, from the
// initial state's arcs as they are then. It is appended last and visited like
// any other state, so its own arcs back to the start (copied self-loops and
// arcs not yet redirected) end up pointing at the copy itself. Costs one pass
// over all arcs; no compaction follows.
void TSubFSG::EngineBug()
{
    Enter("EngineBug");
    TState* i0 = Initial();
    TState* i1 = nullptr;
    for (int i = 0; i < states.length; i++) {
        // AddState may move the state array; fetch by index every time.
        TState* s = states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            if (a->state != i0) continue;
            if (!i1) {
                i1 = AddState();
                i1->AddArcsFromState(i0, 1.0f, mbstring());
            }
            a->state = i1;
        }
    }
    Exit("EngineBug");
}

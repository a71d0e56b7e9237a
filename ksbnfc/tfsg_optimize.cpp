// tfsg_optimize.cpp: state merging and compaction of one network.
// Entry points: TSubFSG::Optimize (merge equivalent states, then compact),
// TSubFSG::Compress (drop unreachable states, renumber), the reachability
// walk TState/TSubFSG::Reachable, and the state key and equality of `opts`.
//
// Both graph walks keep an explicit stack of (state, next arc) frames: the
// depth of a recursive walk would follow the longest path of the grammar,
// which user input can make arbitrarily long. The frames reproduce the
// recursive visiting order exactly, so counts and representatives are the
// same as a depth-first recursion would give.
#include "tfsg.h"

#include <vector>

namespace {

struct Frame {
    TState* state;
    int next; // index of the next arc to follow
};

const uint32_t kKeyMul = 48923u;
const uint32_t kEndKeyId = 100000u; // key id of an arc that leaves the network

} // namespace

unsigned long TState::Key()
{
    uint32_t h = 0;
    for (int i = 0; i < arcs.length; i++) {
        TArc* a = arcs.elements[i];
        h = h * kKeyMul + 17u * (uint32_t)a->word->id;
        h = h * kKeyMul + 17u * (a->state ? (uint32_t)a->state->id : kEndKeyId);
    }
    return h;
}

// Probabilities count only when the FSG keeps them as the passes made them;
// under an equalising policy they are recomputed later anyway.
int TState::operator==(TState& other)
{
    if (arcs.length != other.arcs.length) return 0;
    int ignore_p = sub->fsg->eq != TSubFSG::EqNorm;
    for (int i = 0; i < arcs.length; i++)
        if (!arcs.elements[i]->eq(other.arcs.elements[i], ignore_p)) return 0;
    return 1;
}

// Each state's flag ends as the number of arcs from reachable states that
// enter it, plus one for the state the walk starts at.
void TState::Reachable()
{
    if (flag++ > 0) return;
    std::vector<Frame> stack;
    stack.push_back(Frame{this, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.state->arcs.length) {
            stack.pop_back();
            continue;
        }
        TState* t = f.state->arcs.elements[f.next++]->state;
        if (t && t->flag++ <= 0) stack.push_back(Frame{t, 0});
    }
}

void TSubFSG::Reachable()
{
    ClearStateFlags();
    TState::Reachable(Initial());
}

void TSubFSG::Compress()
{
    Enter("Compress");
    Reachable();
    int k = 0;
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        if (s->flag) {
            states.elements[k] = s;
            s->id = k++;
        } else {
            delete s;
        }
    }
    states.length = k;
    nextid = k;
    Exit("Compress");
}

// Returns the representative of this state. States are finished in
// depth-first post-order: a state's arcs are redirected to their targets'
// representatives, sorted, and the state is offered to `opts`. A state met
// again while it is still open answers itself provisionally, so states that
// are equivalent only by way of a cycle through them stay apart.
TState* TState::Optimize()
{
    if (optimized) return optimized;
    optimized = this;
    std::vector<Frame> stack;
    stack.push_back(Frame{this, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        TState* s = f.state;
        if (f.next < s->arcs.length) {
            TArc* a = s->arcs.elements[f.next];
            TState* t = a->state;
            if (t && !t->optimized) {
                // Descend; this arc is redirected once t is finished.
                t->optimized = t;
                stack.push_back(Frame{t, 0});
                continue;
            }
            if (t) a->state = t->optimized;
            f.next++;
            continue;
        }
        s->arcs.Sort();
        TState* e = s->sub->opts->Add(s);
        if (e != s) s->optimized = e;
        stack.pop_back();
    }
    return optimized;
}

void TSubFSG::Optimize()
{
    Enter("Optimize");
    opts = new THashTable<TState>;
    for (int i = 0; i < states.length; i++) states.elements[i]->optimized = nullptr;
    TState* r = Initial()->Optimize();
    // Ids equal indices after every compaction; should a pass have left them
    // apart, the representative is looked up by position instead of moving
    // the wrong state into the initial slot.
    int ri = r->id;
    if (ri < 0 || ri >= states.length || states.elements[ri] != r)
        for (ri = 0; ri < states.length && states.elements[ri] != r; ri++) {
        }
    if (ri < states.length) {
        states.elements[ri] = states.elements[0];
        states.elements[0] = r;
    }
    if (dbglevel > 0) {
        std::fprintf(KsListing(), "%s opts: ", name.s ? name.s : "");
        opts->Stats();
        std::fflush(KsListing());
    }
    delete opts;
    opts = nullptr;
    Compress();
    Exit("Optimize");
}

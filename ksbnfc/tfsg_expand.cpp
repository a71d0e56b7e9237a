// tfsg_expand.cpp: turns the root network and the rule networks it refers to
// into one self-contained network. Entry points: TSubFSG::CheckRecursion,
// TSubFSG::Expand (passes 1 and 2), TSubFSG::Copy and TSubFSG::ExpandOps.
//
// Rule nesting is user input, so both walks over rule references keep their
// open networks on an explicit stack instead of the call stack; the visiting
// order is that of a depth-first recursion.
#include "tfsg.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

TFSGDictionary* DictionaryOf(TSubFSG* n)
{
    TFSGDictionary* d = n->fsg ? n->fsg->dictionary : nullptr;
    if (!d) Error("no dictionary to resolve rule references of %s", n->name.s ? n->name.s : "");
    return d;
}

bool IsReference(const TArc* a)
{
    return a->word->kind == TWord::Intern && a->op == OpNone;
}

// The network a reference arc of n calls. The root's own network is the main
// network of the file, which the arcs of other networks cannot lead into: an
// intern network that refers back to the root (tail recursion through the
// root) calls the root's intern twin instead, compiled from the same rules.
TSubFSG* Callee(TSubFSG* n, const TArc* a)
{
    TFSGDictionary* d = DictionaryOf(n);
    TSubFSG* r = d->GetFSG(a->word->word, a->needtr, nullptr);
    if (r == n->fsg && r != n && n->intern) r = d->GetRootTwin(a->word->word, a->needtr, true);
    return r;
}

// Makes sure list has the text of w, as list.Lookup(w->word, 1) does. A word
// of the list itself (its id is its index in the words and annotations
// lists) needs no look-up: its text is present and mapped to an index
// holding that text, so Lookup would neither add nor re-map anything. The
// look-up is skipped because its probing is fixed and slow on clustered keys.
void EnsureText(TWordList& list, TWord* w)
{
    if (w->id >= 0 && w->id < list.length && list.elements[w->id] == w) return;
    list.Lookup(w->word, 1);
}

// The plain references that an arc calling a network stands for once the
// repetition operators are expanded: x and x? one, x+ and x* two.
int UseWeight(const TArc* a)
{
    if (a->word->kind != TWord::Intern) return 0;
    return a->op == OpPlus || a->op == OpStar ? 2 : 1;
}

// Adds delta to `uses` of each network that a reference of n calls, by
// UseWeight.
void CountUses(TSubFSG* n, int delta)
{
    for (int i = 0; i < n->states.length; i++) {
        TState* s = n->states.elements[i];
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs.elements[k];
            int w = UseWeight(a);
            if (!w) continue;
            TSubFSG* r = Callee(n, a);
            if (r->uses >= 0) r->uses += delta * w;
        }
    }
}

// Everything of n that a pass could change: the states in order, and each
// arc's fields and target.
void Fingerprint(TSubFSG* n, std::vector<uintptr_t>& out)
{
    out.push_back((uintptr_t)n->states.length);
    out.push_back((uintptr_t)n->nextid);
    for (int i = 0; i < n->states.length; i++) {
        TState* s = n->states.elements[i];
        out.push_back((uintptr_t)s);
        out.push_back((uintptr_t)s->id);
        out.push_back((uintptr_t)s->arcs.length);
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs.elements[k];
            uint32_t pbits;
            std::memcpy(&pbits, &a->p, sizeof pbits);
            out.push_back((uintptr_t)a);
            out.push_back((uintptr_t)a->state);
            out.push_back((uintptr_t)a->word);
            out.push_back((uintptr_t)a->anno);
            out.push_back((uintptr_t)pbits);
            out.push_back((uintptr_t)a->op << 8 | a->needtr);
        }
    }
}

// Whether every network that a reference of n calls is settled in pass p.
bool CalleesSettled(TSubFSG* n, int p)
{
    for (int i = 0; i < n->states.length; i++) {
        TState* s = n->states.elements[i];
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs.elements[k];
            if (IsReference(a) && Callee(n, a)->settled != p)
                return false;
        }
    }
    return true;
}

// Frees the states of a network that nothing will copy again; it keeps an
// empty start so that it stays a valid network until its owner drops it.
// Without this every rule of a deep chain would keep its expanded copy of
// the rest of the chain, and memory would grow with the square of the depth.
void Release(TSubFSG* r)
{
    r->states.DeleteElements();
    r->states.Release();
    r->nextid = 0;
    r->AddState();
}

// Below, with the copying.
bool MoveOne(TSubFSG* r, TSubFSG* to, TState* initial, TState* final_state, mbstring action, prob p,
             bool closed);

} // namespace

// ---- recursion check ----

namespace {

// Per-network record of one recursion check: Tarjan's strongly connected
// components over the reference graph, so that each network is examined once
// however often it is referred to. A cycle of references is legal only when
// every reference on it is a tail reference, and every reference inside a
// component lies on a cycle: so a component is illegal exactly when one of
// its references is not a tail reference.
struct Node {
    int index = -1, low = -1;
    bool on_stack = false;
    bool cyclic = false;   // on a cycle of references (itself included)
    int calls = 0;         // references to it, by UseWeight
    long long longest = 0; // see LongestPath; -1: no complete path
};

// Longest path saturates here: anything above the limit is just "too long".
const long long kLongCap = (long long)kMaxIds + 1;

// The most arcs that consume a word or call an intern network on one path
// from n's start to its end, each call of an inlined network counting as the
// longest path through that network. A finite language with a sentence of k
// such arcs needs k states in any network that accepts it. Sets `finite` to
// false on a loop operator, or on an arc that does not lead to a later state
// (rule compilation builds each network in topological order, so a backward
// arc means the network is not as compiled). -1: n has no complete path.
long long LongestPath(TSubFSG* n, std::unordered_map<TSubFSG*, Node>& info, bool& finite)
{
    std::vector<long long> L((size_t)n->states.length, -1);
    for (int i = n->states.length - 1; i >= 0; i--) {
        TState* s = n->states.elements[i];
        if (s->id != i) {
            finite = false;
            return 0;
        }
        long long best = -1;
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs.elements[k];
            if (a->op == OpPlus || a->op == OpStar) finite = false;
            long long rest = 0;
            if (a->state) {
                if (a->state->sub != n || a->state->id <= i) {
                    finite = false;
                    return 0;
                }
                rest = L[(size_t)a->state->id];
                if (rest < 0) continue;
            }
            long long w = a->word->id == 0 && a->word->kind != TWord::Intern ? 0 : 1;
            if (a->word->kind == TWord::Intern) {
                TSubFSG* r = Callee(n, a);
                long long lr = info[r].longest;
                w = lr < 0 ? -1 : r->intern ? 1 : lr;
            }
            if (a->op == OpOpt && w < 0) w = 0;
            if (w < 0) continue;
            best = std::max(best, std::min(w + rest, kLongCap));
        }
        L[(size_t)i] = best;
    }
    return L.empty() ? -1 : L[0];
}

} // namespace

void TSubFSG::CheckRecursion(TSubFSG* rlist)
{
    struct Frame {
        TSubFSG* net;
        int i, j;        // next arc to examine
        TSubFSG* called; // network entered from the last arc examined
        bool tail;       // whether that arc was a tail reference
    };
    std::vector<Frame> stack;
    std::unordered_map<TSubFSG*, Node> info;
    std::vector<TSubFSG*> visited; // in order of first visit
    std::vector<TSubFSG*> component; // Tarjan's stack
    int counter = 0;
    bool finite = true; // no loops of any kind: every language is finite

    // The message points at the reference in the calling rule where known.
    auto illegal = [](TSubFSG* n, TSubFSG* from) {
        TPlace at = from ? DictionaryOf(from)->ReferencePlace(from->name, n->name) : TPlace();
        ErrorAt(at, "illegal recursive use of %s", n->name.s ? n->name.s : "");
    };

    // Follows a reference from `from` (null for the start) to n; true when n
    // is entered and must be examined.
    auto open = [&](TSubFSG* n, TSubFSG* chain, TSubFSG* from, bool tail) -> bool {
        Node& x = info[n];
        if (n->busy) {
            // Back to a network still open: legal only if the tail-reference
            // chain from here leads back to it.
            TSubFSG* r = chain;
            while (r && r != n) r = r->rlist_next;
            if (!r) illegal(n, from);
            x.cyclic = true;
            Node& f = info[from];
            f.low = std::min(f.low, x.index);
            return false;
        }
        if (x.index >= 0) {
            // Finished. Still on Tarjan's stack means in the component of
            // `from`, where only tail references are allowed.
            if (x.on_stack) {
                if (!tail) illegal(n, from);
                Node& f = info[from];
                f.low = std::min(f.low, x.index);
            }
            return false;
        }
        x.index = x.low = counter++;
        x.on_stack = true;
        component.push_back(n);
        visited.push_back(n);
        n->busy = 1;
        n->rlist_next = chain;
        n->Enter("check recursion loop");
        stack.push_back(Frame{n, 0, 0, nullptr, false});
        return true;
    };

    open(this, rlist, nullptr, true);
    while (!stack.empty()) {
        size_t top = stack.size() - 1;
        TSubFSG* n = stack[top].net;
        bool descended = false;
        while (!descended && stack[top].i < n->states.length) {
            TState* s = n->states.elements[stack[top].i];
            if (stack[top].j >= s->arcs.length) {
                stack[top].i++;
                stack[top].j = 0;
                continue;
            }
            TArc* a = s->arcs.elements[stack[top].j++];
            if (a->word->kind != TWord::Intern) continue;
            TSubFSG* r = Callee(n, a);
            Node& x = info[r];
            x.calls += UseWeight(a);
            bool tail = !a->state && a->op == OpNone;
            descended = open(r, tail ? n : nullptr, n, tail);
            if (descended) {
                stack[top].called = r;
                stack[top].tail = tail;
            }
        }
        if (descended) continue;

        Node& x = info[n];
        if (finite) x.longest = LongestPath(n, info, finite);
        if (x.low == x.index) {
            // n is the root of its component: the component is complete.
            TSubFSG* m;
            bool several = component.back() != n;
            do {
                m = component.back();
                component.pop_back();
                Node& y = info[m];
                y.on_stack = false;
                if (several) y.cyclic = true;
            } while (m != n);
        }
        n->Exit("check recursion loop");
        n->busy = 0;
        n->rlist_next = nullptr;
        stack.pop_back();
        if (stack.empty()) break;
        Frame& up = stack.back();
        Node& u = info[up.net];
        u.low = std::min(u.low, x.low);
        if (x.on_stack && !up.tail) illegal(n, up.net);
    }

    for (TSubFSG* n : visited) {
        const Node& x = info[n];
        if (x.cyclic) finite = false;
        n->uses = n == fsg || n->intern || x.cyclic ? -1 : x.calls;
    }

    // Only a grammar whose networks all have finite, non-empty languages
    // gives a certain lower bound: then every reference lies on a complete
    // path, the root and each intern network it reaches are written, and the
    // passes after expansion keep the language. The bound is checked before
    // expansion builds the networks, which may be very large by then.
    if (this != fsg || !finite) return;
    for (TSubFSG* n : visited)
        if (info[n].longest < 0) return;
    for (TSubFSG* n : visited)
        if ((n == fsg || n->intern) && info[n].longest > kMaxIds) {
            if (TooManyWordsAndExterns(fsg)) Error("%s", kTooManyWordsAndExterns);
            Error("more than 64K states");
        }
}

// ---- networks the clean-up would leave as they are ----

namespace {

// Arc ordering counts an arc that leaves the network as one to this id.
const int kEndSortId = 1000000;

// A network that merging duplicate arcs and then merging states would leave
// exactly as it is: ids equal indices and nextid the count, every state is
// reachable from the start, each state's arcs are in order with no run that
// would merge, and no two states are equal. Moved into a tail position such
// a network stays so inside its caller, which then need only check its own
// states instead of cleaning up the whole rest of a chain of rules at every
// level of it.
struct Clean {
    int exits = 0;      // states besides the start with no arc into the network
    bool closed = true; // no arc returns to the start or leads to another network
    // An arc of the start leads to a state that no other state enters: no
    // state of the network has the arcs of the start among its own.
    bool start_private = false;
};

// States [lo, hi) of a network, brought in by one move; clean when the moved
// network was clean and the move left its arcs as they were.
struct Region {
    int lo, hi;
    bool clean;
    Clean was;
};

// A state that received the arcs of a moved network's start. Alone: the
// reference was its only arc and neither an action nor a probability that
// counts set the copies apart, so its arcs equal those of that start.
struct Splice {
    TState* at;
    bool alone;
};

// Whether duplicate-arc merging would merge a and b, its neighbour.
bool Merges(const TArc* a, const TArc* b)
{
    auto final_arc = [](const TArc* x) { return x->word->id == 0 && !x->state; };
    return b->word == a->word && b->anno == a->anno && b->op == a->op && b->needtr == a->needtr &&
           final_arc(a) == final_arc(b);
}

// Whether n is clean when its states from c on are the regions, in order.
// Only the first c states are read: a moved state can equal no other state
// but through its targets, which lie in its own region or outside the
// network, so states of different parts can be equal only when both have no
// arc into the network (at most one part may have such states), or when a
// state of the first c has arcs into one region only (it must then be a
// lone splice, equal to the start of the moved network and so to none of
// the others), or a splice whose region's start is private: its arcs
// include one into a state that no state of the region enters. Cost: linear
// in the first c states and their arcs.
bool CheckClean(TSubFSG* n, int c, const std::vector<Region>& regions, const std::vector<Splice>& splices,
                Clean& out)
{
    int len = n->states.length;
    if (dbglevel > 0 || c < 1 || n->nextid != len || len >= kEndSortId) return false;
    out = Clean();
    int at = c;
    int parts_with_exits = 0;
    for (const Region& g : regions) {
        if (!g.clean || g.lo != at || !g.was.closed) return false;
        if (g.hi > g.lo && (n->states.elements[g.lo]->id != g.lo || n->states.elements[g.hi - 1]->id != g.hi - 1))
            return false;
        at = g.hi;
        out.exits += g.was.exits;
        if (g.was.exits) parts_with_exits++;
    }
    if (at != len) return false;

    std::unordered_map<TState*, int> lone; // splice count, negative once one is not alone
    std::unordered_map<TState*, int> private_start; // splice count, negative once one is not private
    for (size_t i = 0; i < splices.size(); i++) {
        const Splice& x = splices[i];
        int& k = lone[x.at];
        k = k == 0 && x.alone ? 1 : -1;
        int& q = private_start[x.at];
        q = q == 0 && regions[i].was.start_private ? 1 : -1;
    }
    std::vector<int> entered((size_t)c, 0); // arcs into each of the first c states
    auto less = [](TArc* const& a, TArc* const& b) { return TArrayX<TArc*>::compare(a, b) < 0; };
    std::unordered_map<unsigned long, std::vector<TState*>> seen;
    int own_exits = 0;
    for (int i = 0; i < c; i++) {
        TState* s = n->states.elements[i];
        TArc** e = s->arcs.elements;
        int k = s->arcs.length;
        if (s->id != i || !std::is_sorted(e, e + k, less)) return false;
        bool inside = false, moved = false;
        for (int j = 0; j < k; j++) {
            if (j > 0 && Merges(e[j - 1], e[j])) return false;
            TState* t = e[j]->state;
            if (!t) continue;
            if (t->sub != n) return false;
            if (t->id == 0) out.closed = false;
            (t->id < c ? inside : moved) = true;
            if (t->id < c) entered[(size_t)t->id]++;
        }
        if (!inside && !moved) {
            own_exits++;
            if (i > 0) out.exits++;
        }
        if (moved && !inside && lone[s] != 1 && private_start[s] != 1) return false;
        std::vector<TState*>& same_key = seen[s->Key()];
        for (TState* o : same_key)
            if (*o == *s) return false;
        same_key.push_back(s);
    }
    if (own_exits) parts_with_exits++;
    if (parts_with_exits > 1) return false;
    // Moved states enter only their own region, so the counts of the first c
    // states are complete; a region's states are entered only from inside
    // it and from its one splice.
    TState* s0 = n->states.elements[0];
    for (int j = 0; j < s0->arcs.length && !out.start_private; j++) {
        TState* t = s0->arcs.elements[j]->state;
        if (t && t->id > 0 && t->id < c && entered[(size_t)t->id] == 1) out.start_private = true;
    }
    if (private_start[s0] == 1) out.start_private = true;

    // Every one of the first c states is reachable without passing through a
    // region: no moved arc leads back.
    std::vector<char> reached((size_t)c, 0);
    std::vector<int> todo(1, 0);
    reached[0] = 1;
    int count = 1;
    while (!todo.empty()) {
        TState* s = n->states.elements[todo.back()];
        todo.pop_back();
        for (int j = 0; j < s->arcs.length; j++) {
            TState* t = s->arcs.elements[j]->state;
            if (t && t->id < c && !reached[(size_t)t->id]) {
                reached[(size_t)t->id] = 1;
                count++;
                todo.push_back(t->id);
            }
        }
    }
    return count == c;
}

} // namespace

// ---- expansion ----

void TSubFSG::Expand(int p)
{
    struct Frame {
        TSubFSG* net;
        int i, j;        // the arc being examined
        TSubFSG* called; // network referenced by that arc, once it is expanded
        std::vector<uintptr_t> before; // a re-walk: the network as it was
        int own;         // states when the substitution loop began
        std::vector<Region> moved; // states brought in by moves, in order
        size_t passed;   // moved regions the walk has jumped over
        std::vector<Splice> splices;
        bool clean_moves; // every replacement so far was a clean move
    };
    std::vector<Frame> stack;
    // Networks of this pass that the clean-up would leave as they are; an
    // entry stays valid until the network is opened again or moved.
    std::unordered_map<TSubFSG*, Clean> clean;

    // A network is busy from the start of its cleaning to the end of its
    // substitution loop, also when it only re-walks a finished pass: a
    // reference cycle through intern networks re-enters a finished network,
    // and without the mark that re-walk would never end.
    //
    // Every reference re-walks a finished network and its callees, which
    // costs exponential time on a grammar whose rules refer twice to the
    // next one. A re-walk can only repeat the clean-up; once one has left
    // the network as it was, and its callees are settled too, the next one
    // would change nothing either, and the network is skipped.
    auto open = [&stack, &clean, p](TSubFSG* n) -> bool {
        if (n->busy || n->settled == p) return false;
        n->busy = 1;
        clean.erase(n);
        std::vector<uintptr_t> before;
        if (n->pass >= p) Fingerprint(n, before);
        if (n->pass < p) {
            // The clean-up may copy or drop references; `uses` follows.
            CountUses(n, -1);
            if (p == 2) n->ExpandOps();
            n->EliminateDuplicateArcs();
            n->Optimize();
            CountUses(n, 1);
        }
        n->Enter("substitution loop");
        stack.push_back(Frame{n, 0, 0, nullptr, std::move(before), n->states.length, {}, 0, {}, true});
        return true;
    };

    open(this);
    while (!stack.empty()) {
        size_t top = stack.size() - 1;
        TSubFSG* n = stack[top].net;
        TFSG* f = n->fsg;
        bool descended = false;
        while (!descended && stack[top].i < n->states.length) {
            Frame& fr = stack[top];
            // The states of a finished network hold nothing to substitute.
            if (fr.passed < fr.moved.size() && fr.i >= fr.moved[fr.passed].lo) {
                fr.i = std::max(fr.i, fr.moved[fr.passed++].hi);
                fr.j = 0;
                continue;
            }
            TState* s = n->states.elements[fr.i];
            int j = fr.j;
            if (j >= s->arcs.length) {
                fr.i++;
                fr.j = 0;
                continue;
            }
            TArc* a = s->arcs.elements[j];
            TWord* w = a->word;
            if (!IsReference(a)) {
                fr.j++;
                if (w->kind == TWord::Word && a->op == OpNone) {
                    EnsureText(f->words, w);
                    EnsureText(f->annos, a->anno);
                }
                continue;
            }
            TSubFSG* r = fr.called;
            if (!r) {
                r = Callee(n, a);
                fr.called = r;
                if (open(r)) {
                    descended = true;
                    continue;
                }
            }
            // r is expanded, or is open further up (a tail recursion).
            fr.called = nullptr;
            if (r->intern) {
                a->word = (a->needtr ? f->with : f->without).Lookup(w->word, 1);
                fr.j++;
            } else if (r->busy) {
                s->AddNullArc(r->Initial(), a->p, a->anno->word);
                s->DelArcs(j, 1);
                fr.clean_moves = false;
            } else {
                if (r->uses == 1) {
                    auto known = clean.find(r);
                    bool was_clean = known != clean.end();
                    Region g{n->states.length, 0, false, was_clean ? known->second : Clean()};
                    bool alone = s->arcs.length == 1 && (f->eq != EqNorm || a->p == 1.0f);
                    g.clean = was_clean && g.was.closed && !a->state && !f->use_null_arcs && !a->anno->word;
                    if (MoveOne(r, n, s, a->state, a->anno->word, a->p, g.clean)) {
                        r->uses = 0;
                        clean.erase(r);
                        g.hi = n->states.length;
                        fr.moved.push_back(g);
                        fr.splices.push_back(Splice{s, alone});
                        fr.clean_moves = fr.clean_moves && g.clean;
                        s->DelArcs(j, 1);
                        // Pass 2 moves what the operators' references
                        // call, which copies of copies used to bring in:
                        // the same limit as for copies below.
                        if (p == 2 && n->states.length > kMaxIds) Error("more than 64K states");
                        continue;
                    }
                }
                r->Copy(n, s, a->state, a->anno->word, a->p);
                if (r->uses > 0 && --r->uses == 0) Release(r);
                s->DelArcs(j, 1);
                fr.clean_moves = false;
                // Copies of copies grow exponentially on a looping grammar
                // that doubles at every level; stop once they pass what a
                // file can number.
                if (n->states.length > kMaxIds) Error("more than 64K states");
            }
        }
        if (descended) continue;
        n->Exit("substitution loop");
        Frame& fr = stack[top];
        Clean c;
        if (fr.clean_moves && CheckClean(n, fr.own, fr.moved, fr.splices, c)) {
            // What merging would do here is nothing at all.
            clean[n] = c;
        } else {
            // After pass 1 references with operators are left, which the
            // clean-up may merge or drop.
            if (p == 1) CountUses(n, -1);
            n->EliminateDuplicateArcs();
            n->Optimize();
            if (p == 1) CountUses(n, 1);
            if (n->uses == 1 && CheckClean(n, n->states.length, {}, {}, c)) clean[n] = c;
        }
        if (!fr.before.empty()) {
            std::vector<uintptr_t> after;
            Fingerprint(n, after);
            if (after == fr.before && CalleesSettled(n, p)) n->settled = p;
        }
        n->pass = p;
        n->busy = 0;
        stack.pop_back();
    }
}

// ---- copying a rule network into the network that refers to it ----

namespace {

struct CopyJob {
    TSubFSG* src;
    TState* initial;
    TState* final_state;
    mbstring action;
    prob p;
};

// Upper bound on the networks one Copy may pull in through finished
// recursion arcs; far above any real grammar, it only guards the loop.
const size_t kMaxCopyJobs = 1000000;

void CopyOne(const CopyJob& job, TSubFSG* to, std::vector<CopyJob>& jobs)
{
    TSubFSG* r = job.src;
    TState* init0 = r->states.elements[0];
    int use_null_arcs = r->fsg->use_null_arcs;

    // Arcs that return to the start of r must not reach the other arcs of
    // the referring state: they get their own copy of r's initial state.
    bool reentered = false;
    for (int i = 0; i < r->states.length && !reentered; i++) {
        TState* s = r->states.elements[i];
        for (int k = 0; k < s->arcs.length; k++)
            if (s->arcs.elements[k]->state == init0) {
                reentered = true;
                break;
            }
    }

    init0->copy = job.initial;
    for (int i = 1; i < r->states.length; i++) r->states.elements[i]->copy = to->AddState();
    TState* restart = reentered ? to->AddState() : nullptr;

    TState* final_state = job.final_state;
    if (use_null_arcs) {
        TState* x = to->AddState();
        x->AddNullArc(final_state, 1.0f, job.action);
        final_state = x;
    }

    auto copy_arcs = [&](TState* src, TState* dst, prob f) {
        for (int k = 0; k < src->arcs.length; k++) {
            TArc* a = src->arcs.elements[k];
            TState* t = a->state;
            bool exits = !t;
            TSubFSG* finished = nullptr;
            if (exits)
                t = final_state;
            else if (t == init0 && restart)
                t = restart;
            else if (t->copy)
                t = t->copy;
            else if (t->sub != to && !t->sub->busy && t == t->sub->states.elements[0]) {
                // A recursion arc into a network whose expansion is over: the
                // loop it stood for can no longer close by inlining, so that
                // network is copied here, ending where this copy ends.
                finished = t->sub;
                t = to->AddState();
            }
            TArc* c = dst->AddArcX(t, f * a->p, a->word, a->anno, a->op);
            c->needtr = a->needtr;
            // A reference with an operator, left by pass 1, is one use more.
            if (int w = UseWeight(c)) {
                TSubFSG* callee = Callee(to, c);
                if (callee->uses >= 0) callee->uses += w;
            }
            if (exits && !!job.action && !use_null_arcs) dst->AddArcPostAction(c, job.action);
            if (finished) {
                if (jobs.size() >= kMaxCopyJobs)
                    Error("rule %s: too many nested recursive rule copies", r->name.s ? r->name.s : "");
                jobs.push_back(CopyJob{finished, t, job.final_state, job.action, 1.0f});
            }
        }
    };

    for (int i = 0; i < r->states.length; i++) {
        TState* s = r->states.elements[i];
        copy_arcs(s, s->copy, i == 0 ? job.p : 1.0f);
    }
    if (restart) copy_arcs(init0, restart, 1.0f);

    for (int i = 0; i < r->states.length; i++) r->states.elements[i]->copy = nullptr;
}

// What CopyOne builds from r, made out of r's own states when r is never
// needed again: every state but the start changes owner instead of being
// copied, so a chain of rules that each call the next once costs moves, not
// copies. The states, their arcs and annotations come out exactly as a copy
// would make them, in the same order. False (nothing done) when an arc of r
// leaves r for another network.
bool MoveOne(TSubFSG* r, TSubFSG* to, TState* initial, TState* final_state, mbstring action, prob p,
             bool closed)
{
    TState* init0 = r->states.elements[0];
    int use_null_arcs = r->fsg->use_null_arcs;
    bool reentered = false;
    for (int i = 0; i < r->states.length && !closed; i++) {
        TState* s = r->states.elements[i];
        for (int k = 0; k < s->arcs.length; k++) {
            TState* t = s->arcs.elements[k]->state;
            if (t && t->sub != r) return false;
            if (t == init0) reentered = true;
        }
    }

    // A chain of moves passes every state through this loop once per level,
    // so the array, its length and the next id are held in locals: the
    // stores into the states would otherwise make the compiler read them
    // again at every turn.
    TState** moving = r->states.elements;
    const int count = r->states.length;
    int next = to->nextid;
    for (int i = 1; i < count; i++) {
        TState* s = moving[i];
        s->sub = to;
        s->id = next++;
        s->mix = nullptr;
        s->flag = 0;
        s->optimized = nullptr;
        s->copy = nullptr;
        s->match_index.reset();
    }
    to->nextid = next;
    int first = to->states.length, moved = r->states.length - 1;
    to->states.TakeTail(r->states, 1);
    TState* restart = reentered ? to->AddState() : nullptr;
    TState* exit_to = final_state;
    if (use_null_arcs) {
        TState* x = to->AddState();
        x->AddNullArc(final_state, 1.0f, action);
        exit_to = x;
    }
    bool post = !!action && !use_null_arcs;

    auto copy_start = [&](TState* dst, prob f) {
        for (int k = 0; k < init0->arcs.length; k++) {
            TArc* a = init0->arcs.elements[k];
            TState* t = !a->state ? exit_to : a->state == init0 ? restart : a->state;
            TArc* c = dst->AddArcX(t, f * a->p, a->word, a->anno, a->op);
            c->needtr = a->needtr;
            if (!a->state && post) dst->AddArcPostAction(c, action);
        }
    };

    copy_start(initial, p);
    // A closed network moved into a tail position keeps its arcs as they
    // are; the copied start arcs have already cleared `normalized`.
    bool unchanged = closed && !exit_to && !post;
    for (int i = first; i < first + moved && !unchanged; i++) {
        TState* s = to->states.elements[i];
        for (int k = 0; k < s->arcs.length; k++) {
            TArc* a = s->arcs.elements[k];
            bool exits = !a->state;
            if (exits)
                a->state = exit_to;
            else if (a->state == init0)
                a->state = restart;
            if (a->state) to->normalized = 0;
            if (exits && post) s->AddArcPostAction(a, action);
        }
    }
    if (restart) copy_start(restart, 1.0f);

    // r keeps an empty start, as Release leaves it.
    r->states.Release();
    r->states.Add(init0);
    r->nextid = 1;
    init0->DelArcs(0, init0->arcs.length);
    init0->arcs.Release();
    to->arcpool.Take(r->arcpool);
    return true;
}

} // namespace

void TSubFSG::Copy(TSubFSG* to, TState* initial, TState* final_state, mbstring action, prob p)
{
    std::vector<CopyJob> jobs;
    jobs.push_back(CopyJob{this, initial, final_state, action, p});
    for (size_t k = 0; k < jobs.size(); k++) {
        CopyJob job = jobs[k];
        CopyOne(job, to, jobs);
    }
}

// ---- repetition operators ----

namespace {

// Nested repeats of fewer levels than this are expanded level by level as
// they always were, which keeps their files as they were; the expansion
// doubles at every level, so from here on it would take seconds and
// gigabytes.
const int kCollapseLevels = 8;

// The arc that a repeated reference x stands for when x is a network made of
// one repeated item (or null): x's start has one arc, an operator + or * on
// a word or a reference, to the end. The network is still as the rule
// compiled it (a network called with an operator is not opened before
// pass 2).
TArc* RepeatedItem(TSubFSG* n, TArc* a)
{
    TFSG* f = n->fsg;
    if ((a->op != OpPlus && a->op != OpStar) || a->needtr || !!a->anno->word || a->word->kind != TWord::Intern)
        return nullptr;
    TSubFSG* r = Callee(n, a);
    if (r == f || r == n || r->intern || r->states.length != 1) return nullptr;
    TState* s0 = r->states.elements[0];
    if (s0->arcs.length != 1) return nullptr;
    TArc* b = s0->arcs.elements[0];
    if (b->state || (b->op != OpPlus && b->op != OpStar) || b->needtr || !!b->anno->word ||
        (b->word->id == 0 && b->word->kind != TWord::Intern))
        return nullptr;
    return b;
}

// A repeat of a repeat, as in (x+)+, (x*)+ or a chain of rules <a> = <b>+;
// <b> = <c>+; ..., nested kCollapseLevels deep or more becomes the innermost
// item repeated once: the language is the same, and expanding the operator
// at every level would copy the level below twice, 2^k copies for k levels.
// Only where nothing but the language reaches the file: no null arcs, no
// translation or annotation, and probabilities that are equalised later.
// Rule references form no cycle here (CheckRecursion), so every step goes
// one rule deeper.
void CollapseNestedRepeats(TSubFSG* n, TArc* a)
{
    TFSG* f = n->fsg;
    if (f->use_null_arcs || f->eq == TSubFSG::EqNorm) return;
    int levels = 0;
    TArc at = *a;
    for (TArc* b; levels < kCollapseLevels && (b = RepeatedItem(n, &at)); levels++) {
        at.word = b->word;
        if (b->op == OpStar) at.op = OpStar;
    }
    if (levels < kCollapseLevels) return;
    for (TArc* b; (b = RepeatedItem(n, a));) {
        a->word = b->word;
        if (b->op == OpStar) a->op = OpStar;
    }
}

} // namespace

void TSubFSG::ExpandOps()
{
    Enter("ExpandOps");
    TFSG* f = fsg;
    int null_arcs = f->use_null_arcs;
    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        int j = 0;
        while (j < s->arcs.length) {
            TArc* a = s->arcs.elements[j];
            CollapseNestedRepeats(this, a);
            TState* t = a->state;
            TWord* w = a->word;
            mbstring x = a->anno->word;
            if (a->op == OpOpt) {
                TArc* skip = s->AddArcX(t, a->p, nullptr, nullptr, OpNone);
                a->op = OpNone;
                j++;
                if (null_arcs) {
                    a->anno = f->annos.elements[0];
                    s->AddArcPostAction(a, x);
                    skip->needtr = a->needtr;
                    s->AddArcPostAction(skip, x);
                }
            } else if (a->op == OpPlus || a->op == OpStar) {
                bool star = a->op == OpStar;
                TState* n = AddState();
                if (null_arcs) {
                    TArc* in = s->AddArcX(n, a->p, w, nullptr, OpNone);
                    in->needtr = a->needtr;
                    TArc* loop = n->AddArcX(n, 0.5f, w, nullptr, OpNone);
                    loop->needtr = a->needtr;
                    if (a->needtr) n->AddArcPostAction(loop, "{1}{2}");
                    n->AddArcX(t, 0.5f, nullptr, f->annos.Lookup(x, 1), OpNone);
                    if (star) {
                        TArc* skip = s->AddArcX(t, a->p, nullptr, nullptr, OpNone);
                        skip->needtr = a->needtr;
                        s->AddArcPostAction(skip, x);
                    }
                } else {
                    s->AddArcX(n, a->p, w, a->anno, OpNone);
                    n->AddArcX(n, 0.5f, w, a->anno, OpNone);
                    n->AddArcX(t, 0.5f, nullptr, nullptr, OpNone);
                    if (star) s->AddArcX(t, a->p, nullptr, nullptr, OpNone);
                }
                s->DelArcs(j, 1);
                s->NormalizeArcProbabilities();
            } else {
                j++;
            }
        }
    }
    Exit("ExpandOps");
}

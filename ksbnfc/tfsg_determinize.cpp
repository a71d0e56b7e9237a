// tfsg_determinize.cpp: determinisation by state mixtures, a probabilistic
// subset construction. Entry points: TSubFSG::EliminateDuplicateArcs and
// TSubFSG::GetMix, plus the TMix operations that key the mixture set.
#include "tfsg.h"

#include <algorithm>
#include <vector>

// ---- mixtures ----

void TMix::Add(TState* s, prob p)
{
    if (s && s->mix) {
        TMix* m = s->mix;
        for (int i = 0; i < m->length; i++) {
            TMixState ms;
            ms.p = p * m->elements[i].p;
            ms.state = m->elements[i].state;
            TArrayX<TMixState>::Add(ms);
        }
        return;
    }
    TMixState ms;
    ms.p = p;
    ms.state = s;
    TArrayX<TMixState>::Add(ms);
}

static int MixId(const TMixState& m)
{
    return m.state ? m.state->id : 100000;
}

template <> int TArrayX<TMixState>::compare(const TMixState& a, const TMixState& b)
{
    int x = MixId(a), y = MixId(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

void TMix::Sort()
{
    TArrayX<TMixState>::Sort();
    // Members with equal ids lie together after the sort. States of another
    // network (reached by a recursion arc) may share an id with one of ours,
    // so members merge by state identity within each run of equal ids.
    int k = 0;
    for (int i = 0; i < length; i++) {
        TMixState m = elements[i];
        int merged = 0;
        for (int r = k - 1; r >= 0 && MixId(elements[r]) == MixId(m); r--) {
            if (elements[r].state == m.state) {
                elements[r].p = elements[r].p + m.p;
                merged = 1;
                break;
            }
        }
        if (!merged) elements[k++] = m;
    }
    length = k;
}

int TMix::operator==(TMix& other)
{
    if (length != other.length) return 0;
    for (int i = 0; i < length; i++)
        if (elements[i].state != other.elements[i].state) return 0;
    return 1;
}

unsigned long TMix::Key()
{
    uint32_t h = 0;
    for (int i = 0; i < length; i++) h = h * 48923u + 17u * (uint32_t)MixId(elements[i]);
    return h;
}

// ---- the pass ----

namespace {

// The state ids of mixture members run below this one; the end sorts last.
const int kEndMixId = 100000;
// The target id by which arcs sort: an arc that leaves the network last.
const int kEndTargetId = 1000000;

// The scratch of one run of EliminateDuplicateArcs. A new mixture state is
// left without arcs ("deferred") until the loop reaches it; its arcs are then
// read from its members into one reused buffer, in the order copies made at
// once would have had, and only the merged result is stored. A member the
// loop had processed when the mixture was made keeps its arcs from then on;
// one it had not yet reached is read as it was before processing, from a
// snapshot taken just before the loop reaches it; the state being merged in
// place when the mixture was made, as it was then. A deferred state thus
// costs its mixture and, once processed, one arc per run: memory follows the
// states a file can number, not the arcs of their members.
class Subsets {
public:
    explicit Subsets(TSubFSG* n) : net(n), first_mix(n->states.length), dense(first_mix <= kEndMixId)
    {
        if (dense) {
            acc.resize((size_t)first_mix);
            stamp.assign((size_t)first_mix, 0);
        }
    }
    ~Subsets() { delete scratch; }
    Subsets(const Subsets&) = delete;
    Subsets& operator=(const Subsets&) = delete;

    TSubFSG* net;
    const int first_mix;
    int current = 0;        // the state the loop is processing
    bool in_place = false;  // ... by MergeRunsInPlace

    bool Deferred(int si) const
    {
        return si >= first_mix && si - first_mix < (int)made_at.size() && made_at[(size_t)(si - first_mix)] >= 0;
    }
    // The state of mixture m: an existing one, or a new state. Takes m over.
    TState* Get(TMix* m);
    // Before the loop processes own state si: keeps its arcs as they are, if
    // a deferred mixture has it as a member.
    void Snapshot(int si);
    // Processes the deferred state si: its arcs become the kept single arcs
    // of the runs of its members' arcs, then one merged arc per longer run.
    void Build(int si);

private:
    // One arc of a deferred state as a copy would have held it.
    struct Copied {
        TWord* word;
        TWord* anno;
        TState* state;
        prob p;
        int wid, aid, tid; // sort key
        int seq;           // 0; at the start of a run of n > 1 arcs, -n
        Op op;
        unsigned char needtr;
        bool Final() const { return wid == 0 && !state; }
    };
    // The order of the arcs' sort (TArrayX<TArc*>::compare).
    static bool KeyLess(const Copied& x, const Copied& y);
    std::vector<Copied> arcs;
    // By state index - first_mix: the state the loop was processing when the
    // mixture was made; -1: its arcs were copied then.
    std::vector<int> made_at;
    // By own state index: where its snapshot lies in `raw`; raw_from -1: the
    // state needs one once the loop reaches it, -2: it needs none.
    std::vector<int> raw_from, raw_to;
    // By state index - first_mix: where the snapshot of the member made_at
    // lies in `raw`, for a mixture made while that member was merged in place.
    std::vector<int> self_from, self_to;
    std::vector<Copied> raw;
    // By own state index: its arcs once processed, sorted (frozen_from -1:
    // not read yet); those of other networks' members and the end.
    std::vector<int> frozen_from, frozen_to;
    std::vector<Copied> frozen, extra;
    // One member's sorted arcs during the merge of a deferred state.
    struct Cursor {
        uint64_t hi, lo; // the key of *at, then the member's index
        const Copied* at;
        const Copied* end;
        prob p;
        int member;
        bool operator<(const Cursor& o) const { return hi != o.hi ? hi < o.hi : lo < o.lo; }
        void Key()
        {
            const uint32_t flip = 0x80000000u; // signed order as unsigned
            hi = (uint64_t)((uint32_t)at->wid ^ flip) << 32 | ((uint32_t)at->aid ^ flip);
            lo = (uint64_t)((uint32_t)at->tid ^ flip) << 32 | (uint32_t)member;
        }
    };
    std::vector<Cursor> heap;
    int Own(TState* q) const
    {
        int id = q ? q->id : -1;
        return q && q->sub == net && id >= 0 && id < first_mix && net->states.elements[id] == q ? id : -1;
    }
    void Append(TState* q, prob p);
    // Appends q's arcs to v, stably sorted; returns where they start.
    size_t AppendSorted(std::vector<Copied>& v, TState* q);
    // Weights of a mixture under construction by member id (dense form).
    const bool dense;
    std::vector<prob> acc;
    std::vector<int> stamp;
    std::vector<int> touched;
    int round = 0;
    TMix* scratch = nullptr;

    TState* Lookup(const Copied* b, const Copied* e, prob P);
    void Contribute(TState* x, const prob* q, int n, const prob* w, prob& end_p, bool& end_seen, bool& ok);
    std::vector<prob> quotients;
};

TState* Subsets::Get(TMix* m)
{
    if (current < first_mix) {
        // A member of this network that cannot be found by its id cannot
        // be snapshotted: copy its arcs now.
        for (int i = 0; i < m->length; i++) {
            TState* q = m->elements[i].state;
            if (q && q->sub == net && Own(q) < 0) return net->GetMix(m);
        }
    }
    if (!net->mixes) net->mixes = new THashTable<TMix>();
    TMix* found = net->mixes->Add(m);
    if (found != m) {
        // Kept for the next mixture, so that finding one allocates nothing.
        delete scratch;
        scratch = m;
        return found->state;
    }
    TState* s = net->AddState();
    m->state = s;
    s->mix = m;
    int k = net->states.length - 1 - first_mix;
    if ((int)made_at.size() <= k) made_at.resize((size_t)k + 1, -1);
    made_at[(size_t)k] = current;
    if (current < first_mix) {
        if (raw_from.empty()) raw_from.assign((size_t)first_mix, -2), raw_to.assign((size_t)first_mix, 0);
        for (int i = 0; i < m->length; i++) {
            int q = Own(m->elements[i].state);
            if (q > current) raw_from[(size_t)q] = -1;
            if (q == current && in_place) {
                if ((int)self_from.size() <= k) self_from.resize((size_t)k + 1, -1), self_to.resize((size_t)k + 1, -1);
                self_from[(size_t)k] = (int)AppendSorted(raw, m->elements[i].state);
                self_to[(size_t)k] = (int)raw.size();
            }
        }
    }
    return s;
}

bool Subsets::KeyLess(const Copied& x, const Copied& y)
{
    if (x.wid != y.wid) return x.wid < y.wid;
    if (x.aid != y.aid) return x.aid < y.aid;
    return x.tid < y.tid;
}

size_t Subsets::AppendSorted(std::vector<Copied>& v, TState* q)
{
    size_t from = v.size();
    std::swap(arcs, v);
    Append(q, 1);
    std::swap(arcs, v);
    std::stable_sort(v.begin() + (long)from, v.end(), KeyLess);
    return from;
}

void Subsets::Snapshot(int si)
{
    if (raw_from.empty() || raw_from[(size_t)si] != -1) return;
    raw_from[(size_t)si] = (int)AppendSorted(raw, net->states.elements[si]);
    raw_to[(size_t)si] = (int)raw.size();
}

// Appends the arcs that a copy of q's arcs scaled by p would have, as q is
// now, with seq 0.
void Subsets::Append(TState* q, prob p)
{
    for (int j = 0; j < q->arcs.length; j++) {
        TArc* a = q->arcs.elements[j];
        if (a->state) a->state->sub->normalized = 0;
        Copied c{a->word, a->anno, a->state, p * a->p, a->word->id, a->anno->id,
                 a->state ? a->state->id : kEndTargetId, 0, a->op, a->needtr};
        arcs.push_back(c);
    }
}

// Adds to member x's weight, in order, q[k] * w for each of the n quotients
// (q[k] itself when w is null).
void Subsets::Contribute(TState* x, const prob* q, int n, const prob* w, prob& end_p, bool& end_seen, bool& ok)
{
    prob* to;
    if (!x) {
        to = &end_p;
        if (!end_seen) {
            end_seen = true;
            end_p = w ? q[0] * *w : q[0];
            q++;
            n--;
        }
    } else {
        int id = x->id;
        if (x->sub != net || id < 0 || id >= first_mix || net->states.elements[id] != x) {
            ok = false;
            return;
        }
        to = &acc[(size_t)id];
        if (stamp[(size_t)id] != round) {
            stamp[(size_t)id] = round;
            *to = w ? q[0] * *w : q[0];
            touched.push_back(id);
            q++;
            n--;
        }
    }
    if (w) {
        for (int k = 0; k < n; k++) {
            prob v = q[k] * *w;
            *to = *to + v;
        }
    } else {
        for (int k = 0; k < n; k++) *to = *to + q[k];
    }
}

// The state of the mixture of the run [b, e) of total probability P, built
// as TMix::Add and TMix::Sort would build it: weights summed in the order of
// the run, members ordered by id.
TState* Subsets::Lookup(const Copied* b, const Copied* e, prob P)
{
    bool ok = dense;
    prob end_p = 0;
    bool end_seen = false;
    if (ok) {
        round++;
        touched.clear();
        // Arcs to one target lie together; a member's weight gets their
        // shares one after the other, as it would in run order.
        for (const Copied* c = b; c < e && ok;) {
            TState* t = c->state;
            quotients.clear();
            for (; c < e && c->state == t; c++) quotients.push_back(c->p / P);
            const prob* q = quotients.data();
            int n = (int)quotients.size();
            if (t && t->mix) {
                TMix* m = t->mix;
                for (int i = 0; i < m->length && ok; i++)
                    Contribute(m->elements[i].state, q, n, &m->elements[i].p, end_p, end_seen, ok);
            } else {
                Contribute(t, q, n, nullptr, end_p, end_seen, ok);
            }
        }
    }
    TMix* m = scratch ? scratch : new TMix();
    scratch = nullptr;
    m->Clear();
    if (ok) {
        std::sort(touched.begin(), touched.end());
        for (int id : touched) {
            TMixState ms;
            ms.p = acc[(size_t)id];
            ms.state = net->states.elements[id];
            m->TArrayX<TMixState>::Add(ms);
        }
        if (end_seen) {
            TMixState ms;
            ms.p = end_p;
            ms.state = nullptr;
            m->TArrayX<TMixState>::Add(ms);
        }
    } else {
        for (const Copied* c = b; c < e; c++) m->Add(c->state, c->p / P);
        m->Sort();
    }
    return Get(m);
}

void Subsets::Build(int si)
{
    TState* s = net->states.elements[si];
    TMix* mix = s->mix;
    TFSG* f = net->fsg;
    const int made = made_at[(size_t)(si - first_mix)];
    const int k = si - first_mix;
    // A stable sort of the copies is a merge of each member's sorted arcs,
    // the earlier member first among equal keys. The sources are filled
    // before any pointer into them is taken.
    extra.clear();
    if (frozen_from.empty()) frozen_from.assign((size_t)first_mix, -1), frozen_to.assign((size_t)first_mix, 0);
    for (int i = 0; i < mix->length; i++) {
        TState* q = mix->elements[i].state;
        int own = Own(q);
        if (!q) {
            Copied c{f->words[0], f->annos[0], nullptr, 1, f->words[0]->id, f->annos[0]->id, kEndTargetId, 0,
                     OpNone, 0};
            extra.push_back(c);
        } else if (own < 0) {
            AppendSorted(extra, q);
        } else if (own < made && frozen_from[(size_t)own] < 0) {
            frozen_from[(size_t)own] = (int)AppendSorted(frozen, q);
            frozen_to[(size_t)own] = (int)frozen.size();
        }
    }
    heap.clear();
    size_t next_extra = 0;
    for (int i = 0; i < mix->length; i++) {
        TState* q = mix->elements[i].state;
        int own = Own(q);
        const Copied *b, *e;
        if (own < 0) {
            size_t from = next_extra;
            if (!q) {
                next_extra++;
            } else {
                next_extra += (size_t)q->arcs.length;
            }
            b = extra.data() + from;
            e = extra.data() + next_extra;
        } else if (own < made) {
            b = frozen.data() + frozen_from[(size_t)own];
            e = frozen.data() + frozen_to[(size_t)own];
        } else if (own == made) {
            b = raw.data() + self_from[(size_t)k];
            e = raw.data() + self_to[(size_t)k];
        } else {
            b = raw.data() + raw_from[(size_t)own];
            e = raw.data() + raw_to[(size_t)own];
        }
        if (b < e) {
            Cursor c{0, 0, b, e, mix->elements[i].p, i};
            c.Key();
            heap.push_back(c);
        }
    }
    // A binary heap of the members by their next arc, least on top.
    auto sift = [this](size_t i) {
        const size_t n = heap.size();
        Cursor c = heap[i];
        for (;;) {
            size_t l = 2 * i + 1;
            if (l >= n) break;
            if (l + 1 < n && heap[l + 1] < heap[l]) l++;
            if (!(heap[l] < c)) break;
            heap[i] = heap[l];
            i = l;
        }
        heap[i] = c;
    };
    for (size_t i = heap.size() / 2; i-- > 0;) sift(i);
    arcs.clear();
    while (!heap.empty()) {
        Cursor& c = heap[0];
        Copied a = *c.at;
        a.p = c.p * a.p;
        arcs.push_back(a);
        if (++c.at == c.end) {
            heap[0] = heap.back();
            heap.pop_back();
            if (heap.empty()) break;
        } else {
            c.Key();
        }
        sift(0);
    }
    // Kept arcs first in sorted order, then the merged arcs in run order.
    const int n = (int)arcs.size();
    int runs = 0;
    for (int i = 0; i < n;) {
        const Copied& a = arcs[(size_t)i];
        int j = i + 1;
        while (j < n) {
            const Copied& c = arcs[(size_t)j];
            if (c.word != a.word || c.anno != a.anno || c.op != a.op || c.needtr != a.needtr || c.Final() != a.Final())
                break;
            j++;
        }
        if (j - i == 1) {
            TArc* k = s->AddArcX(a.state, a.p, a.word, a.anno, a.op);
            k->needtr = a.needtr;
        } else {
            // Marked for the second sweep by the run's length.
            arcs[(size_t)i].seq = -(j - i);
            runs++;
        }
        i = j;
    }
    for (int i = 0; i < n && runs;) {
        if (arcs[(size_t)i].seq >= 0) {
            i++;
            continue;
        }
        int j = i - arcs[(size_t)i].seq;
        const Copied& a = arcs[(size_t)i];
        prob P = a.p;
        for (int k = i + 1; k < j; k++) P = P + arcs[(size_t)k].p;
        TState* T = a.Final() ? nullptr : Lookup(&arcs[(size_t)i], &arcs[(size_t)j], P);
        TArc* merged = s->AddArcX(T, P, a.word, a.anno, a.op);
        merged->needtr = a.needtr;
        runs--;
        i = j;
    }
}

bool IsFinal(const TArc* a)
{
    return a->word->id == 0 && !a->state;
}

// Whether building a mixture from the arcs of s might read the arcs of s
// itself: one of them leads to s, or to a mixture that has s as a member.
bool MixMayReadSelf(TState* s)
{
    for (int i = 0; i < s->arcs.length; i++) {
        TState* t = s->arcs.elements[i]->state;
        if (t == s) return true;
        if (t && t->mix)
            for (int k = 0; k < t->mix->length; k++)
                if (t->mix->elements[k].state == s) return true;
    }
    return false;
}

// End of the run of arcs of the sorted state s that starts at i and ends
// before n: arcs that differ only in target and probability. Their summed
// probability is left in P.
int RunEnd(TState* s, int i, int n, prob& P)
{
    TArc* a = s->arcs.elements[i];
    P = a->p;
    int j = i + 1;
    for (; j < n; j++) {
        TArc* b = s->arcs.elements[j];
        if (b->word != a->word || b->anno != a->anno || b->op != a->op || b->needtr != a->needtr ||
            IsFinal(b) != IsFinal(a))
            break;
        P = P + b->p;
    }
    return j;
}

// Appends to s the one arc that replaces the run [i, j) of total probability
// P: final runs stay final, others lead to the state of their mixture.
void AddMergedArc(Subsets& sets, TState* s, int i, int j, prob P)
{
    TArc* a = s->arcs.elements[i];
    TState* T = nullptr;
    if (!IsFinal(a)) {
        TMix* m = new TMix();
        for (int k = i; k < j; k++) {
            TArc* b = s->arcs.elements[k];
            m->Add(b->state, b->p / P);
        }
        m->Sort();
        T = sets.Get(m);
    }
    TArc* merged = s->AddArcX(T, P, a->word, a->anno, a->op);
    merged->needtr = a->needtr;
}

// Merges each run of arcs of the sorted state s into one arc appended at the
// end. Runs are deleted as they are found and the gap closed at once, so the
// state's arcs stay exactly as a mixture built from s must see them.
void MergeRunsInPlace(Subsets& sets, TState* s)
{
    int n = s->arcs.length;
    int i = 0;
    while (i < n - 1) {
        prob P;
        int j = RunEnd(s, i, n, P);
        if (j - i == 1) {
            i++;
            continue;
        }
        AddMergedArc(sets, s, i, j, P);
        s->DelArcs(i, j - i);
        n -= j - i;
    }
}

// Frees the mixtures of a pass and their marks on the states.
void DropMixes(TSubFSG* n)
{
    if (!n->mixes) return;
    n->mixes->DeleteElements();
    delete n->mixes;
    n->mixes = nullptr;
    for (int k = 0; k < n->states.length; k++) n->states.elements[k]->mix = nullptr;
}

// ---- counting before null arcs go ----

// Determinisation builds one mixture for each distinct set of two or more
// targets that the arcs of one word and annotation lead to, in a state of
// the network or of a mixture, and it does so over and over; which sets
// those are depends only on the states, never on the weights. Once null arcs
// are gone, the arcs of a state are those of every state its null arcs reach
// (itself included), so the sets can be found on the network as it is,
// before that step has made a single arc.
//
// The count is a lower bound: a run of several arcs into one state also
// builds a mixture, which this leaves out, so a count past the limit means
// the passes would stop at it. It holds where runs are decided by the word
// and the annotation alone: every arc without an operator and all with the
// same needtr, as in an engine network. Elsewhere it does not answer.
class NullFreeCount {
public:
    explicit NullFreeCount(TSubFSG* n) : net(n), count((size_t)n->states.length) {}
    // Whether the arcs after null arcs go would number more than `arcs`.
    bool Large(long arcs);
    // Whether more than limit mixtures are sure to be built.
    bool Beyond(long limit);

private:
    TSubFSG* net;
    const size_t count;
    std::vector<int> stamp; // by state: the closure it was last reached in
    int walk = 0;
    long visits = 0;        // states and arcs the closures went through
    // The network in flat arrays, by state: the targets of its null arcs,
    // and the key and target (-1: the end) of each other arc but the final.
    std::vector<int> null_from, null_to, word_from;
    std::vector<std::pair<int, int>> word_arcs;
    std::vector<int> todo;
    // Keys by word and annotation.
    std::vector<std::pair<const TWord*, const TWord*>> key_of;
    std::vector<int> key_table;
    std::vector<int> key_stamp;
    std::vector<std::vector<int>> key_targets;
    std::vector<int> touched;
    // By key and target (the end first): the round that saw the pair, where
    // the keys are few enough for the table.
    std::vector<int> pair_stamp;
    // The sets found, in one pool, and a table of them by content.
    std::vector<int> pool, set_from;
    std::vector<int> table;
    size_t table_used = 0;
    std::vector<char> state_seen;
    // Sets to expand, and states: states first, as their closures are the
    // smaller; any order finds the same sets in the end.
    std::vector<int> queue, states_queue;

    bool Usable() const;
    void Flatten();
    int Key(const TWord* w, const TWord* a);
    // Calls each on every arc but null and final ones of the states that
    // the null arcs of the members [b, e) reach, themselves included.
    template <class F> void Closure(const int* b, const int* e, F each);
    // Adds set to those found; true when it is new.
    bool Intern(const std::vector<int>& set);
    void See(int s);
};

bool NullFreeCount::Usable() const
{
    int needtr = -1;
    for (size_t i = 0; i < count; i++) {
        TState* s = net->states.elements[i];
        if (s->id != (int)i || s->sub != net) return false;
        for (int j = 0; j < s->arcs.length; j++) {
            const TArc* a = s->arcs.elements[j];
            if (a->op != OpNone) return false;
            if (needtr < 0) needtr = a->needtr;
            if (a->needtr != needtr) return false;
            const TState* t = a->state;
            if (t && (t->sub != net || t->id < 0 || (size_t)t->id >= count || net->states.elements[t->id] != t))
                return false;
        }
    }
    return true;
}

template <class F> void NullFreeCount::Closure(const int* b, const int* e, F each)
{
    if (++walk == 0) {
        std::fill(stamp.begin(), stamp.end(), 0);
        walk = 1;
    }
    todo.clear();
    for (const int* m = b; m < e; m++)
        if (*m >= 0 && stamp[(size_t)*m] != walk) {
            stamp[(size_t)*m] = walk;
            todo.push_back(*m);
        }
    while (!todo.empty()) {
        size_t q = (size_t)todo.back();
        todo.pop_back();
        for (int x = null_from[q]; x < null_from[q + 1]; x++) {
            int t = null_to[(size_t)x];
            if (stamp[(size_t)t] != walk) {
                stamp[(size_t)t] = walk;
                todo.push_back(t);
            }
        }
        visits += 1 + word_from[q + 1] - word_from[q];
        for (int x = word_from[q]; x < word_from[q + 1]; x++) each(word_arcs[(size_t)x]);
    }
}

void NullFreeCount::Flatten()
{
    null_from.assign(count + 1, 0);
    word_from.assign(count + 1, 0);
    const TWord* last_w = nullptr;
    const TWord* last_a = nullptr;
    int last_k = -1;
    for (size_t i = 0; i < count; i++) {
        TState* s = net->states.elements[i];
        null_from[i] = (int)null_to.size();
        word_from[i] = (int)word_arcs.size();
        for (int j = 0; j < s->arcs.length; j++) {
            const TArc* a = s->arcs.elements[j];
            if (a->word->id == 0) {
                if (a->state) null_to.push_back(a->state->id);
                continue; // a final arc builds no mixture
            }
            if (a->word != last_w || a->anno != last_a) {
                last_w = a->word;
                last_a = a->anno;
                last_k = Key(a->word, a->anno);
            }
            word_arcs.emplace_back(last_k, a->state ? a->state->id : -1);
        }
    }
    null_from[count] = (int)null_to.size();
    word_from[count] = (int)word_arcs.size();
}

bool NullFreeCount::Large(long arcs)
{
    if (count == 0 || !Usable()) return false;
    Flatten();
    stamp.assign(count, 0);
    long total = 0;
    // Long chains of null arcs make closures as long as the network: the
    // look stops after a while, and the passes run as they would.
    for (size_t i = 0; i < count && total <= arcs && visits <= kMixCountVisits; i++) {
        int s = (int)i;
        Closure(&s, &s + 1, [&total](const std::pair<int, int>&) { total++; });
    }
    return total > arcs;
}

int NullFreeCount::Key(const TWord* w, const TWord* a)
{
    auto hash = [](const TWord* x, const TWord* y) {
        return (size_t)(((uintptr_t)x * 0x9E3779B9u) ^ ((uintptr_t)y * 0x85EBCA6Bu) ^ ((uintptr_t)x >> 7));
    };
    if (key_table.empty()) key_table.assign(64, -1);
    size_t mask = key_table.size() - 1;
    size_t h = hash(w, a);
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        int k = key_table[i];
        if (k < 0) break;
        if (key_of[(size_t)k].first == w && key_of[(size_t)k].second == a) return k;
    }
    int k = (int)key_of.size();
    key_of.emplace_back(w, a);
    key_stamp.push_back(0);
    key_targets.emplace_back();
    if (key_of.size() * 2 > key_table.size()) {
        key_table.assign(key_table.size() * 2, -1);
        mask = key_table.size() - 1;
        for (size_t x = 0; x < key_of.size(); x++) {
            size_t i = hash(key_of[x].first, key_of[x].second) & mask;
            while (key_table[i] >= 0) i = (i + 1) & mask;
            key_table[i] = (int)x;
        }
    } else {
        size_t i = h & mask;
        while (key_table[i] >= 0) i = (i + 1) & mask;
        key_table[i] = k;
    }
    return k;
}

bool NullFreeCount::Intern(const std::vector<int>& set)
{
    auto hash = [](const int* b, const int* e) {
        uint32_t h = 2166136261u;
        for (const int* p = b; p < e; p++) h = (h ^ (uint32_t)*p) * 16777619u;
        return (size_t)h;
    };
    if (table.empty()) table.assign(1024, -1);
    size_t mask = table.size() - 1;
    const int* b = set.data();
    const int* e = b + set.size();
    size_t i = hash(b, e) & mask;
    for (; table[i] >= 0; i = (i + 1) & mask) {
        int k = table[i];
        const int* x = pool.data() + set_from[(size_t)k];
        if ((size_t)(set_from[(size_t)k + 1] - set_from[(size_t)k]) == set.size() && std::equal(b, e, x))
            return false;
    }
    int k = (int)set_from.size() - 1;
    pool.insert(pool.end(), b, e);
    set_from.push_back((int)pool.size());
    table[i] = k;
    if (++table_used * 2 > table.size()) {
        table.assign(table.size() * 2, -1);
        mask = table.size() - 1;
        for (int q = 0; q <= k; q++) {
            size_t j = hash(pool.data() + set_from[(size_t)q], pool.data() + set_from[(size_t)q + 1]) & mask;
            while (table[j] >= 0) j = (j + 1) & mask;
            table[j] = q;
        }
    }
    queue.push_back(k);
    return true;
}

void NullFreeCount::See(int s)
{
    if (s >= 0 && !state_seen[(size_t)s]) {
        state_seen[(size_t)s] = 1;
        states_queue.push_back(s);
    }
}

bool NullFreeCount::Beyond(long limit)
{
    state_seen.assign(count, 0);
    set_from.assign(1, 0);
    See(0);
    std::vector<int> members, set;
    long found = 0;
    int round = 0;
    // Flatten has met every key: the table is sized once, where it is small.
    size_t pairs = key_of.size() * (count + 1);
    if (pairs <= ((size_t)1 << 24)) pair_stamp.assign(pairs, 0);
    visits = 0;
    size_t next_set = 0, next_state = 0;
    while (visits <= kMixCountVisits) {
        members.clear();
        if (next_state < states_queue.size()) {
            members.push_back(states_queue[next_state++]);
        } else if (next_set < queue.size()) {
            int node = queue[next_set++];
            members.assign(pool.begin() + set_from[(size_t)node], pool.begin() + set_from[(size_t)node + 1]);
        } else {
            break;
        }
        round++;
        touched.clear();
        Closure(members.data(), members.data() + members.size(), [&](const std::pair<int, int>& arc) {
            int k = arc.first;
            if (key_stamp[(size_t)k] != round) {
                key_stamp[(size_t)k] = round;
                key_targets[(size_t)k].clear();
                touched.push_back(k);
            }
            int t = arc.second;
            size_t at = (size_t)k * (count + 1) + (size_t)(t + 1);
            if (at < pair_stamp.size()) {
                if (pair_stamp[at] == round) return;
                pair_stamp[at] = round;
            }
            key_targets[(size_t)k].push_back(t);
        });
        for (int k : touched) {
            set.assign(key_targets[(size_t)k].begin(), key_targets[(size_t)k].end());
            // Ids order the members, the end last, as a mixture sorts them.
            std::sort(set.begin(), set.end(), [](int x, int y) { return (unsigned)x < (unsigned)y; });
            set.erase(std::unique(set.begin(), set.end()), set.end());
            for (int t : set) See(t);
            if (set.size() >= 2 && Intern(set) && ++found > limit) return true;
        }
    }
    return false;
}

} // namespace

TState* TSubFSG::GetMix(TMix* m)
{
    if (!mixes) mixes = new THashTable<TMix>();
    TMix* found = mixes->Add(m);
    if (found != m) {
        delete m;
        return found->state;
    }
    TState* s = AddState();
    for (int i = 0; i < m->length; i++) {
        TMixState ms = m->elements[i];
        if (ms.state)
            s->AddArcsFromState(ms.state, ms.p, mbstring());
        else
            s->AddArcX(nullptr, ms.p, nullptr, nullptr, OpNone);
    }
    m->state = s;
    s->mix = m;
    return s;
}

void TSubFSG::EliminateDuplicateArcs()
{
    Enter("EliminateDuplicateArcs");
    // States built for mixtures are appended and handled by the same loop.
    // The subset construction may build exponentially many; once it has
    // built more than a file can number it stops, before memory runs out.
    Subsets sets(this);
    const int first_mix = sets.first_mix;
    for (int si = 0; si < states.length; si++) {
        if (states.length - first_mix > kMaxIds) {
            DropMixes(this);
            Error("more than 64K states");
        }
        sets.current = si;
        if (sets.Deferred(si)) {
            sets.Build(si);
            continue;
        }
        if (si < first_mix) sets.Snapshot(si);
        TState* s = states.elements[si];
        s->arcs.Sort();
        if (MixMayReadSelf(s)) {
            sets.in_place = true;
            MergeRunsInPlace(sets, s);
            sets.in_place = false;
            continue;
        }
        // No mixture built here reads the arcs of s, so the runs can be
        // dropped lazily: the kept arcs move down to w in one sweep, and the
        // merged arcs, appended behind the n sorted ones, follow them. The
        // order is the one deleting each run on the spot would give.
        int n = s->arcs.length;
        int w = 0;
        int i = 0;
        while (i < n) {
            prob P;
            int j = RunEnd(s, i, n, P);
            if (j - i == 1) {
                s->arcs.elements[w++] = s->arcs.elements[i];
                i++;
                continue;
            }
            AddMergedArc(sets, s, i, j, P);
            for (int k = i; k < j; k++) s->sub->FreeArc(s->arcs.elements[k]);
            i = j;
        }
        int added = s->arcs.length - n;
        for (int k = 0; k < added; k++) s->arcs.elements[w + k] = s->arcs.elements[n + k];
        s->arcs.length = w + added;
    }
    if (mixes) {
        if (dbglevel > 1) Print(dbglevel - 1, "in elim.dup.arcs before compress");
        Compress();
        if (dbglevel > 0) {
            std::fprintf(KsListing(), "%s mixes: ", name.s ? name.s : "");
            mixes->Stats();
        }
        DropMixes(this);
    }
    Exit("EliminateDuplicateArcs");
}

bool TSubFSG::MixturesBeyond(long limit)
{
    NullFreeCount c(this);
    return c.Large(kMixCountArcs) && c.Beyond(limit);
}

// tfsg_determinize.cpp: determinisation by state mixtures, a probabilistic
// subset construction. Entry points: TSubFSG::EliminateDuplicateArcs and
// TSubFSG::GetMix, plus the TMix operations that key the mixture set.
#include "tfsg.h"

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

static bool IsFinal(const TArc* a)
{
    return a->word->id == 0 && !a->state;
}

// Whether building a mixture from the arcs of s might read the arcs of s
// itself: one of them leads to s, or to a mixture that has s as a member.
static bool MixMayReadSelf(TState* s)
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
static int RunEnd(TState* s, int i, int n, prob& P)
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
static void AddMergedArc(TSubFSG* sub, TState* s, int i, int j, prob P)
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
        T = sub->GetMix(m);
    }
    TArc* merged = s->AddArcX(T, P, a->word, a->anno, a->op);
    merged->needtr = a->needtr;
}

// Merges each run of arcs of the sorted state s into one arc appended at the
// end. Runs are deleted as they are found and the gap closed at once, so the
// state's arcs stay exactly as a mixture built from s must see them.
static void MergeRunsInPlace(TSubFSG* sub, TState* s)
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
        AddMergedArc(sub, s, i, j, P);
        s->DelArcs(i, j - i);
        n -= j - i;
    }
}

// Frees the mixtures of a pass and their marks on the states.
static void DropMixes(TSubFSG* n)
{
    if (!n->mixes) return;
    n->mixes->DeleteElements();
    delete n->mixes;
    n->mixes = nullptr;
    for (int k = 0; k < n->states.length; k++) n->states.elements[k]->mix = nullptr;
}

void TSubFSG::EliminateDuplicateArcs()
{
    Enter("EliminateDuplicateArcs");
    // States built for mixtures are appended and handled by the same loop.
    // The subset construction may build exponentially many; once it has
    // built more than a file can number it stops, before memory runs out.
    const int first_mix = states.length;
    for (int si = 0; si < states.length; si++) {
        if (states.length - first_mix > kMaxIds) {
            DropMixes(this);
            Error("more than 64K states");
        }
        TState* s = states.elements[si];
        s->arcs.Sort();
        if (MixMayReadSelf(s)) {
            MergeRunsInPlace(this, s);
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
            AddMergedArc(this, s, i, j, P);
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

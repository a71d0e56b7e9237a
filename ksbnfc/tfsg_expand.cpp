// tfsg_expand.cpp: turns the root network and the rule networks it refers to
// into one self-contained network. Entry points: TSubFSG::CheckRecursion,
// TSubFSG::Expand (passes 1 and 2), TSubFSG::Copy and TSubFSG::ExpandOps.
//
// Rule nesting is user input, so both walks over rule references keep their
// open networks on an explicit stack instead of the call stack; the visiting
// order is that of a depth-first recursion.
#include "tfsg.h"

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

} // namespace

// ---- recursion check ----

void TSubFSG::CheckRecursion(TSubFSG* rlist)
{
    struct Frame {
        TSubFSG* net;
        int i, j; // next arc to examine
    };
    std::vector<Frame> stack;

    // Opens n as the recursive call would; false when the reference closes a
    // legal (all-tail) cycle and there is nothing to examine.
    auto open = [&stack](TSubFSG* n, TSubFSG* chain) -> bool {
        if (n->busy) {
            TSubFSG* r = chain;
            while (r && r != n) r = r->rlist_next;
            if (!r) Error("illegal recursive use of %s", n->name.s ? n->name.s : "");
            return false;
        }
        n->busy = 1;
        n->rlist_next = chain;
        n->Enter("check recursion loop");
        stack.push_back(Frame{n, 0, 0});
        return true;
    };

    open(this, rlist);
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
            TSubFSG* r = DictionaryOf(n)->GetFSG(a->word->word, a->needtr, nullptr);
            bool tail = !a->state && a->op == OpNone;
            descended = open(r, tail ? n : nullptr);
        }
        if (descended) continue;
        n->Exit("check recursion loop");
        n->busy = 0;
        n->rlist_next = nullptr;
        stack.pop_back();
    }
}

// ---- expansion ----

void TSubFSG::Expand(int p)
{
    struct Frame {
        TSubFSG* net;
        int i, j;        // the arc being examined
        TSubFSG* called; // network referenced by that arc, once it is expanded
    };
    std::vector<Frame> stack;

    // A network is busy from the start of its cleaning to the end of its
    // substitution loop, also when it only re-walks a finished pass: a
    // reference cycle through intern networks re-enters a finished network,
    // and without the mark that re-walk would never end.
    auto open = [&stack, p](TSubFSG* n) -> bool {
        if (n->busy) return false;
        n->busy = 1;
        if (n->pass < p) {
            if (p == 2) n->ExpandOps();
            n->EliminateDuplicateArcs();
            n->Optimize();
        }
        n->Enter("substitution loop");
        stack.push_back(Frame{n, 0, 0, nullptr});
        return true;
    };

    open(this);
    while (!stack.empty()) {
        size_t top = stack.size() - 1;
        TSubFSG* n = stack[top].net;
        TFSG* f = n->fsg;
        bool descended = false;
        while (!descended && stack[top].i < n->states.length) {
            TState* s = n->states.elements[stack[top].i];
            int j = stack[top].j;
            if (j >= s->arcs.length) {
                stack[top].i++;
                stack[top].j = 0;
                continue;
            }
            TArc* a = s->arcs.elements[j];
            TWord* w = a->word;
            if (!IsReference(a)) {
                stack[top].j++;
                if (w->kind == TWord::Word && a->op == OpNone) {
                    EnsureText(f->words, w);
                    EnsureText(f->annos, a->anno);
                }
                continue;
            }
            TSubFSG* r = stack[top].called;
            if (!r) {
                r = DictionaryOf(n)->GetFSG(w->word, a->needtr, nullptr);
                stack[top].called = r;
                if (open(r)) {
                    descended = true;
                    continue;
                }
            }
            // r is expanded, or is open further up (a tail recursion).
            stack[top].called = nullptr;
            if (r->intern) {
                a->word = (a->needtr ? f->with : f->without).Lookup(w->word, 1);
                stack[top].j++;
            } else if (r->busy) {
                s->AddNullArc(r->Initial(), a->p, a->anno->word);
                s->DelArcs(j, 1);
            } else {
                r->Copy(n, s, a->state, a->anno->word, a->p);
                s->DelArcs(j, 1);
            }
        }
        if (descended) continue;
        n->Exit("substitution loop");
        n->EliminateDuplicateArcs();
        n->Optimize();
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

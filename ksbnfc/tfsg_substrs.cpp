// tfsg_substrs.cpp: the search for the stretches of a word string that a
// loaded FSG accepts. Entry points: TFSG::SubStrs (every accepting path from
// one start position) and SubStrsHandler, the chain of results it fills.
//
// The search enumerates every accepting path depth first in stored arc
// order. Its depth follows the length of the word string, so it runs on an
// explicit stack that visits exactly what a recursive search would visit.
#include "tfsg_arcindex.h"

#include <cstdio>
#include <deque>

// ---- results ----

SubStrsHandler::~SubStrsHandler()
{
    for (MySubStrTuple* t = tail; t;) {
        MySubStrTuple* pre = t->pre;
        delete t;
        t = pre;
    }
}

void SubStrsHandler::add(int start, int end, double prob)
{
    MySubStrTuple* t = new MySubStrTuple{start, end, prob, tail};
    if (!head) head = t;
    tail = t;
    current = t;
}

MySubStrTuple* SubStrsHandler::getNext()
{
    MySubStrTuple* t = current;
    if (t) current = t->pre;
    return t;
}

// ---- the search ----

namespace {

// One step of the search: a visit of `state` with the words before
// `position` consumed. `call` is the context record of a sub-grammar entered
// from here; the child steps point at it while they run.
struct Frame {
    TFSG* g; // the grammar whose intern sub-FSGs this step uses
    TState* state;
    int position;
    double prob;
    TSubFSG::Ctx* ctx;
    bool entered;
    TArcCursor cursor;
    TSubFSG::Ctx call;
};

} // namespace

void TFSG::SubStrs(TStringList& input, SubStrsHandler* handler, int start_index, int position, double prob,
                   TState* state, TSubFSG::Ctx* ctx)
{
    const int n = input.length;
    std::vector<std::string> keys((size_t)n);
    for (int k = 0; k < n; k++) FoldWordKey(input.elements[k].s, keys[(size_t)k]);

    // A deque keeps the frames in place as it grows.
    std::deque<Frame> stack;
    auto push = [&stack](TFSG* g, TState* s, int pos, double p, TSubFSG::Ctx* c) {
        stack.emplace_back();
        Frame& f = stack.back();
        f.g = g;
        f.state = s;
        f.position = pos;
        f.prob = p;
        f.ctx = c;
        f.entered = false;
    };
    push(this, state, position, prob, ctx);

    while (!stack.empty()) {
        Frame& f = stack.back();
        if (!f.entered) {
            // The end of a called grammar continues the caller after the
            // calling arc, whose probability was applied on entry.
            while (!f.state && f.ctx) {
                TSubFSG::Ctx* c = f.ctx;
                if (c->fsg) f.g = c->fsg;
                f.state = c->arc->state;
                f.ctx = c->next;
            }
            if (!f.state) {
                if (f.position <= start_index) Error("%s", "Warning: check if there is null path in fsg!\n");
                handler->add(start_index, f.position - 1, f.prob);
                stack.pop_back();
                continue;
            }
            f.entered = true;
            f.cursor.Start(f.state, f.position < n ? &keys[(size_t)f.position] : nullptr);
        }

        bool pushed = false;
        for (int i; !pushed && (i = f.cursor.Next()) >= 0;) {
            TArc* a = f.state->arcs.elements[i];
            TWord* w = a->word;
            double p = f.prob * a->p;
            if (w->kind == TWord::Intern) {
                TArray<TSubFSG*>& subs = f.g->intern_fsgs;
                TSubFSG* s = w->id >= 0 && w->id < subs.length ? subs.elements[w->id] : nullptr;
                if (!s || s->states.length == 0) Error("Can't open an intern fsg: %d!\n", w->id);
                f.call.arc = a;
                f.call.needtr = 0;
                f.call.next = f.ctx;
                f.call.fsg = f.g;
                push(f.g, s->states.elements[0], f.position, p, &f.call);
                pushed = true;
            } else if (w->id == 0) {
                push(f.g, a->state, f.position, p, f.ctx);
                pushed = true;
            } else if (w->kind == TWord::Extern) {
                const char* name = w->word.s ? w->word.s : "";
                std::printf("To load extern fsg: %s\n", name);
                TFSG* g = w->word.s ? TFSG::Extern(w->word.s, nullptr) : nullptr;
                if (!g || g->states.length == 0) Error("%s", "Can't load an extern fsg.\n");
                std::printf("Load extern fsg: %s\n", name);
                f.call.arc = a;
                f.call.needtr = 0;
                f.call.next = f.ctx;
                f.call.fsg = f.g;
                push(g, g->states.elements[0], f.position, p, &f.call);
                pushed = true;
            } else {
                // The input is used up: no later arc of this state is tried.
                if (f.position == n) break;
                const char* s = input.elements[f.position].s;
                if (s && w->word.s && TextIsValid(s) && ks_stricmp(s, w->word.s) == 0) {
                    push(f.g, a->state, f.position + 1, p, f.ctx);
                    pushed = true;
                }
            }
        }
        if (!pushed) stack.pop_back();
    }
}

// tfsg_substrs.cpp: the search for the stretches of a word string that a
// loaded FSG accepts. Entry points: TFSG::SubStrs (every accepting path from
// one start position) and SubStrsHandler, the chain of results it fills.
//
// The search enumerates every accepting path depth first in stored arc
// order, without exploring again what has led nowhere and without going
// round loops that consume no word (see Configurations in
// tfsg_arcindex.h); so its cost follows the results it records, which are
// bounded by kMaxSubStrs. Its depth follows the length of the word string,
// so it runs on an explicit stack.
#include "tfsg_arcindex.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <deque>
#include <queue>

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
    if (count >= kMaxSubStrs)
        Error("the search found more than %ld stretches and stops there", kMaxSubStrs);
    count++;
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
    int chain, fresh; // see Configurations
    bool entered;
    int depth;  // index on the stack
    long found; // results when the step began
    int low;    // the lowest depth a cut below this step went back to
    TArcCursor cursor;
    TSubFSG::Ctx call;
};

// What arc a of state s (taken by the cursor) does at input position pos:
// consume the word there, move without one, enter callee, nothing; or End:
// the input is used up and no later arc of s is tried.
enum class Move { Word, Null, Call, None, End };
Move MoveOf(TInputWords& words, const TArcCursor& cursor, TFSG* g, TState* s, TArc* a, int pos, int n,
            TCallee& callee)
{
    if (cursor.Matched()) return Move::Word;
    TWord* w = a->word;
    if (w->kind == TWord::Intern) {
        callee = CallOf(g, a);
        return callee.start ? Move::Call : Move::None;
    }
    if (w->id == 0) return Move::Null;
    if (w->kind == TWord::Extern) {
        callee = CallOf(g, a);
        if (callee.start) return Move::Call;
        // Not loaded: the extern stands for one word.
        return words.TextIs(words.Of(s), pos, callee.word) ? Move::Word : Move::None;
    }
    if (pos == n) return Move::End;
    return words.Is(words.Of(s), pos, w) ? Move::Word : Move::None;
}

// The depth-first walk behind both searches; record(end, prob) gets each
// accepting path. With `once`, a configuration explored to its end without a
// cut above it is not explored again even when it recorded something: a
// second visit could only reach ends it reached, so the ends still come in
// the order in which the full walk first finds them, each once at most.
// Returns whether some configuration was reached more than once (its paths
// then merge, and a result may have more than one path).
template <class Record>
bool Walk(TFSG* self, TInputWords& words, int n, int start_index, int position, double prob, TState* state,
          TSubFSG::Ctx* ctx, bool once, Record record)
{
    long recorded = 0;
    bool merged = false;

    // Every accepting path is recorded, so a configuration is skipped only
    // when it has been explored before without recording anything and
    // without a cut below it at a step above it: then what it found did not
    // depend on the path that led to it, and it cannot record anything now.
    Configurations seen;
    std::vector<TSubFSG::Ctx*> outer;
    for (TSubFSG::Ctx* c = ctx; c; c = c->next) outer.push_back(c);
    int chain0 = 0, fresh0 = 0;
    for (size_t k = outer.size(); k-- > 0;) seen.Enter(outer[k]->arc, outer[k]->fsg, chain0, fresh0);

    // A deque keeps the frames in place as it grows.
    std::deque<Frame> stack;
    auto push = [&](TFSG* g, TState* s, int pos, double p, TSubFSG::Ctx* c, int chain, int fresh) {
        stack.emplace_back();
        Frame& f = stack.back();
        f.g = g;
        f.state = s;
        f.position = pos;
        f.prob = p;
        f.ctx = c;
        f.chain = chain;
        f.fresh = fresh;
        f.entered = false;
        f.depth = (int)stack.size() - 1;
        f.found = recorded;
        f.low = INT_MAX;
    };
    push(self, state, position, prob, ctx, chain0, 0);
    auto pop = [&](Frame& f) {
        if (f.depth > 0 && f.low < stack[(size_t)f.depth - 1].low) stack[(size_t)f.depth - 1].low = f.low;
        stack.pop_back();
    };

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
                seen.Leave(c->arc, f.chain, f.fresh);
            }
            if (!f.state) {
                if (f.position <= start_index) Error("%s", "Warning: check if there is null path in fsg!\n");
                record(f.position - 1, f.prob);
                recorded++;
                pop(f);
                continue;
            }
            Configurations::Mark& m = seen.At(f.state, f.g, f.chain, f.fresh, f.position);
            if (m.status != Configurations::kUnseen) {
                merged = true;
                if (m.status == Configurations::kOpen) f.low = m.depth;
                pop(f);
                continue;
            }
            m.status = Configurations::kOpen;
            m.depth = f.depth;
            f.entered = true;
            f.cursor.Start(f.state, words.Of(f.state), f.position < n ? f.position : -1);
        }

        bool pushed = false;
        for (int i; !pushed && (i = f.cursor.Next()) >= 0;) {
            TArc* a = f.cursor.Arc(f.state, i);
            double p = f.prob * a->p;
            bool ext = !f.cursor.Matched() && a->word->kind == TWord::Extern;
            const char* name = ext && a->word->word.s ? a->word->word.s : "";
            if (ext) std::fprintf(KsListing(), "To load extern fsg: %s\n", name);
            TCallee callee;
            Move m = MoveOf(words, f.cursor, f.g, f.state, a, f.position, n, callee);
            if (m == Move::End) break;
            if (m == Move::None) continue;
            if (m != Move::Call) {
                bool word = m == Move::Word;
                push(f.g, a->state, f.position + word, p, f.ctx, f.chain, word ? 0 : f.fresh);
                pushed = true;
                continue;
            }
            if (ext) std::fprintf(KsListing(), "Load extern fsg: %s\n", name);
            // A call of an arc already open at this position would recurse
            // without consuming a word.
            if (Configurations::Recurses(f.ctx, f.fresh, a)) continue;
            f.call.arc = a;
            f.call.needtr = 0;
            f.call.next = f.ctx;
            f.call.fsg = f.g;
            int chain = f.chain, fresh = f.fresh;
            seen.Enter(a, f.g, chain, fresh);
            push(callee.g, callee.start, f.position, p, &f.call, chain, fresh);
            pushed = true;
        }
        if (pushed) continue;
        seen.At(f.state, f.g, f.chain, f.fresh, f.position).status =
            (once || f.found == recorded) && f.low >= f.depth ? Configurations::kFailed : Configurations::kUnseen;
        pop(f);
    }
    return merged;
}

} // namespace

void TFSG::SubStrs(TStringList& input, SubStrsHandler* handler, int start_index, int position, double prob,
                   TState* state, TSubFSG::Ctx* ctx)
{
    TInputWords words(input);
    Walk(this, words, input.length, start_index, position, prob, state, ctx, false,
         [&](int end, double p) { handler->add(start_index, end, p); });
}

void TFSG::SubStrsOnce(TStringList& input, std::vector<TStretch>& found)
{
    // The words are looked up once for all starts, and the tables by end
    // are cleared where they were written, so that a start costs what its
    // walk costs, not the length of the input.
    const int n = input.length;
    TInputWords words(input);
    std::vector<char> seen_end((size_t)n + 1, 0);
    std::vector<double> best((size_t)n + 1, -1.0); // by end + 1
    std::vector<int> order;
    for (int start = n; start-- > 0;) {
        order.clear();
        SubStrsFrom(words, n, start, seen_end, best, order);
        for (size_t k = order.size(); k-- > 0;) {
            if ((long)found.size() >= kMaxSubStrs)
                Error("the search found more than %ld stretches and stops there", kMaxSubStrs);
            found.push_back(TStretch{start, order[k], best[(size_t)order[k] + 1]});
        }
        for (int end : order) {
            seen_end[(size_t)end + 1] = 0;
            best[(size_t)end + 1] = -1.0;
        }
    }
}

void TFSG::SubStrsFrom(TInputWords& words, int n, int start, std::vector<char>& seen_end, std::vector<double>& best,
                       std::vector<int>& order)
{
    bool single = true;
    bool merged = Walk(this, words, n, start, start, 1.0, Initial(), nullptr, true, [&](int end, double p) {
        if (seen_end[(size_t)end + 1]) {
            single = false;
            return;
        }
        seen_end[(size_t)end + 1] = 1;
        order.push_back(end);
        best[(size_t)end + 1] = p;
    });
    // Without merged paths each end has the one path the walk went.
    if (!merged && single) return;
    for (int end : order) best[(size_t)end + 1] = -1.0;

    // The best probability of each configuration, position by position. A
    // path's probability is the product of its arcs in path order, as the
    // walk computes it, and every arc probability is at most 1, so the
    // configurations of one position are settled best first (Dijkstra).
    struct Node {
        TState* state;
        TFSG* g;
        int chain, fresh;
        double p;
        bool settled;
    };
    Configurations seen;
    std::vector<Node> cur, next;
    std::priority_queue<std::pair<double, size_t>> open;
    auto reach = [&](std::vector<Node>& at, int pos, TState* s, TFSG* g, int chain, int fresh, double p) {
        while (!s && chain) {
            const TArc* a = seen.CallArc(chain);
            g = const_cast<TFSG*>(seen.CallerOf(chain));
            s = a->state;
            seen.Leave(a, chain, fresh);
        }
        if (!s) {
            if (p > best[(size_t)pos]) best[(size_t)pos] = p;
            return;
        }
        Configurations::Mark& m = seen.At(s, g, chain, fresh, pos);
        if (m.status == Configurations::kUnseen) {
            m.status = Configurations::kOpen;
            m.depth = (int)at.size();
            at.push_back(Node{s, g, chain, fresh, p, false});
        } else if (p > at[(size_t)m.depth].p && !at[(size_t)m.depth].settled) {
            at[(size_t)m.depth].p = p;
        } else {
            return;
        }
        if (&at == &cur) open.emplace(p, (size_t)m.depth);
    };
    reach(cur, start, Initial(), this, 0, 0, 1.0);
    for (int pos = start; !cur.empty(); pos++) {
        while (!open.empty()) {
            std::pair<double, size_t> top = open.top();
            open.pop();
            Node x = cur[top.second];
            if (x.settled || top.first != x.p) continue;
            cur[top.second].settled = true;
            TArcCursor cursor;
            cursor.Start(x.state, words.Of(x.state), pos < n ? pos : -1);
            for (int i; (i = cursor.Next()) >= 0;) {
                TArc* a = cursor.Arc(x.state, i);
                double p = x.p * a->p;
                TCallee callee;
                Move m = MoveOf(words, cursor, x.g, x.state, a, pos, n, callee);
                if (m == Move::End) break;
                if (m == Move::Word) reach(next, pos + 1, a->state, x.g, x.chain, 0, p);
                if (m == Move::Null) reach(cur, pos, a->state, x.g, x.chain, x.fresh, p);
                if (m != Move::Call) continue;
                if (seen.RecursesIn(x.chain, x.fresh, a)) continue;
                int chain = x.chain, fresh = x.fresh;
                seen.Enter(a, x.g, chain, fresh);
                reach(cur, pos, callee.start, callee.g, chain, fresh, p);
            }
        }
        cur.swap(next);
        next.clear();
        for (size_t k = 0; k < cur.size(); k++) open.emplace(cur[k].p, k);
    }
}

// tfsg_sentences.cpp: the sentences a loaded grammar accepts, as the matcher
// reads it: calls of intern networks and of loaded extern grammars are
// followed into them, null arcs add nothing. Entry point:
// TSubFSG::Sentences; Enumerate (tfsg_print.cpp) prints what it finds.
#include "tfsg.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// One state on the current path.
struct Frame {
    TSubFSG* net;
    TState* s;
    size_t length;  // of the sentence text when the state was entered
    double p;
    int arcs;       // arcs (or with words_only, words) on the path so far
    int next;       // next arc to try
    int ctx;        // frame whose current arc is the call we are inside; -1 at the top
    std::vector<int> marked; // targets already explored from here (one arc per target)
};

} // namespace

void TSubFSG::Sentences(const TSentenceLimits& limits, TSentenceReport& report,
                        const std::function<void(const std::string&, double)>& emit)
{
    if (!normalized) Error("fsg not normalized");
    std::vector<Frame> stack;
    std::string text;
    // How often each state is on the path within each call.
    std::map<std::pair<const TState*, int>, int> on_path;

    // Enters state t of net inside call context ctx; at the end of a called
    // network the walk goes on after the call, at the end of the top one the
    // sentence is complete.
    auto enter = [&](TSubFSG* net, TState* t, int ctx, double p, int arcs) {
        while (!t) {
            if (ctx < 0) {
                report.sentences++;
                emit(text, p);
                return;
            }
            const Frame& c = stack[(size_t)ctx];
            t = c.s->arcs.elements[c.next - 1]->state;
            net = c.net;
            ctx = c.ctx;
        }
        // A state already on the path in the same call is a loop taken again.
        int& seen = on_path[std::make_pair(static_cast<const TState*>(t), ctx)];
        if (seen >= limits.max_loops) {
            report.loops_cut++;
            return;
        }
        seen++;
        stack.push_back(Frame{net, t, text.size(), p, arcs, 0, ctx, {}});
    };

    enter(this, Initial(), -1, 1.0, 0);
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.s->arcs.length) {
            on_path[std::make_pair(static_cast<const TState*>(f.s), f.ctx)]--;
            stack.pop_back();
            continue;
        }
        int here = (int)stack.size() - 1;
        TArc* a = f.s->arcs.elements[f.next++];
        if (!limits.full) {
            int t = a->state ? a->state->id : -1;
            bool seen = false;
            for (int m : f.marked) seen = seen || m == t;
            if (seen) {
                report.arcs_skipped++;
                continue;
            }
            f.marked.push_back(t);
        }
        TWord* w = a->word;
        bool word = w && w->id != 0 && w->kind != TWord::Intern && w->kind != TWord::Extern;
        // Counting arcs, the budget never stops the arc that ends the
        // sentence; counting words, null arcs and calls are free.
        bool counted = limits.words_only ? word : !(a->state == nullptr && f.ctx < 0);
        if (counted && f.arcs >= limits.max_words) {
            report.words_cut++;
            continue;
        }
        int arcs = f.arcs + (limits.words_only ? (word ? 1 : 0) : 1);
        text.resize(f.length);
        TCallee callee = CallOf(f.net->fsg, a);
        if (callee.word) {
            report.externs_missing++;
            continue;
        }
        double p = f.p * a->p;
        if (callee.start) {
            // A call of a network that is already open further out, with no
            // word counted since it was entered, recurses through empty
            // paths: a damaged file (a compiler writes no such cycle) would
            // otherwise be walked without end. It is cut as a loop is.
            // (Each open call entered its network with the count its caller had.)
            bool empty_cycle = limits.words_only && callee.net == stack[0].net && arcs == 0;
            for (int c = f.ctx; c >= 0 && !empty_cycle; c = stack[(size_t)c].ctx) {
                const Frame& cf = stack[(size_t)c];
                empty_cycle = limits.words_only && cf.arcs == arcs &&
                              CallOf(cf.net->fsg, cf.s->arcs.elements[cf.next - 1]).net == callee.net;
            }
            if (empty_cycle) {
                report.loops_cut++;
                continue;
            }
            // The annotation of a call arc belongs to the caller's text.
            if (limits.anno && a->anno && a->anno->word.s) text += std::string(":") + a->anno->word.s + " ";
            enter(callee.net, callee.start, here, p, arcs);
            continue;
        }
        const char* wt = w && w->word.s ? w->word.s : "";
        if (limits.anno && a->anno && a->anno->word.s) text += std::string(word ? wt : "") + ":" + a->anno->word.s + " ";
        else if (word) text += std::string(wt) + " ";
        if (text.size() >= kSentenceMax)
            Error("sentence longer than %d bytes in fsg %s", (int)kSentenceMax - 1, name.s ? name.s : "");
        TSubFSG* net = f.net;
        int ctx = f.ctx;
        enter(net, a->state, ctx, p, arcs);
    }
}

// ksfsg_view.cpp: ListFsg and InfoFsg, the listing and the summary of a
// loaded FSG. A file does not keep rule names, so a sub-network is known by
// its number and by the places that call it.
#include "ksfsg_view.h"

#include "tfsg.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const char* Text(const TWord* w)
{
    return w && w->word.s ? w->word.s : "";
}

// The networks of g in file order: the main one, then sub-network k.
std::vector<TSubFSG*> Networks(TFSG* g)
{
    std::vector<TSubFSG*> nets{g};
    for (int i = 0; i < g->intern_fsgs.length; i++) nets.push_back(g->intern_fsgs.elements[i]);
    return nets;
}

std::string NetName(TFSG* g, TSubFSG* n)
{
    if (n == g) return "main network";
    for (int i = 0; i < g->intern_fsgs.length; i++)
        if (g->intern_fsgs.elements[i] == n) return "sub-network #" + std::to_string(i);
    return n->name.s ? n->name.s : "?";
}

// What an arc reads, as the listing shows it.
std::string ArcLabel(const TArc* a)
{
    const TWord* w = a->word;
    if (!w || w->id == 0) return "<eps>";
    if (w->kind == TWord::Intern) return "call #" + std::to_string(w->id);
    if (w->kind == TWord::Extern) return std::string("call ") + Text(w);
    return Text(w);
}

bool IsFinal(const TState* s)
{
    for (int i = 0; i < s->arcs.length; i++)
        if (!s->arcs.elements[i]->state) return true;
    return false;
}

// States of n that cannot be reached from its start, and that cannot reach
// its end; a call arc leads on to its target like any other arc.
void Accessibility(TSubFSG* n, int& unreachable, int& dead)
{
    int ns = n->states.length;
    std::vector<char> from_start((size_t)ns, 0), to_end((size_t)ns, 0);
    std::vector<int> todo;
    if (ns > 0) {
        from_start[0] = 1;
        todo.push_back(0);
    }
    while (!todo.empty()) {
        TState* s = n->states.elements[todo.back()];
        todo.pop_back();
        for (int i = 0; i < s->arcs.length; i++) {
            TState* t = s->arcs.elements[i]->state;
            if (t && t->id >= 0 && t->id < ns && !from_start[(size_t)t->id]) {
                from_start[(size_t)t->id] = 1;
                todo.push_back(t->id);
            }
        }
    }
    // Backwards: a state reaches the end when one of its arcs does.
    std::vector<std::vector<int>> preds((size_t)ns);
    for (int i = 0; i < ns; i++) {
        TState* s = n->states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) {
            TState* t = s->arcs.elements[j]->state;
            if (!t) {
                if (!to_end[(size_t)i]) todo.push_back(i);
                to_end[(size_t)i] = 1;
            } else if (t->id >= 0 && t->id < ns) {
                preds[(size_t)t->id].push_back(i);
            }
        }
    }
    while (!todo.empty()) {
        int t = todo.back();
        todo.pop_back();
        for (int p : preds[(size_t)t])
            if (!to_end[(size_t)p]) {
                to_end[(size_t)p] = 1;
                todo.push_back(p);
            }
    }
    unreachable = dead = 0;
    for (int i = 0; i < ns; i++) {
        if (!from_start[(size_t)i]) unreachable++;
        if (!to_end[(size_t)i]) dead++;
    }
}

struct Counts {
    long states = 0, arcs = 0, null_arcs = 0, calls = 0, extern_calls = 0, final = 0;
};

Counts Count(TSubFSG* n)
{
    Counts c;
    c.states = n->states.length;
    for (int i = 0; i < n->states.length; i++) {
        TState* s = n->states.elements[i];
        if (IsFinal(s)) c.final++;
        for (int j = 0; j < s->arcs.length; j++) {
            const TWord* w = s->arcs.elements[j]->word;
            c.arcs++;
            if (!w || w->id == 0) c.null_arcs++;
            else if (w->kind == TWord::Intern) c.calls++;
            else if (w->kind == TWord::Extern) c.extern_calls++;
        }
    }
    return c;
}

// "main network state 3, sub-network #1 state 0": where sub-network k is called.
std::string Callers(TFSG* g, int k)
{
    std::string where;
    for (TSubFSG* n : Networks(g))
        for (int i = 0; i < n->states.length; i++) {
            TState* s = n->states.elements[i];
            for (int j = 0; j < s->arcs.length; j++) {
                const TWord* w = s->arcs.elements[j]->word;
                if (!w || w->kind != TWord::Intern || w->id != k) continue;
                if (!where.empty()) where += ", ";
                where += NetName(g, n) + " state " + std::to_string(s->id);
                break;
            }
        }
    return where.empty() ? "not called" : "called from " + where;
}

} // namespace

void ListFsg(TFSG* g, const std::string& file, int verbosity, std::FILE* out)
{
    if (verbosity <= 0) return;
    std::vector<TSubFSG*> nets = Networks(g);
    std::fprintf(out, "%s: %zu network%s, %d words, %d externs, %d annotations\n", file.c_str(), nets.size(),
                 nets.size() == 1 ? "" : "s", g->words.length - 1, g->externs.length,
                 g->annos.length > 0 ? g->annos.length - 1 : 0);
    size_t width = 5;
    for (TSubFSG* n : nets)
        for (int i = 0; i < n->states.length; i++)
            for (int j = 0; j < n->states.elements[i]->arcs.length; j++)
                width = std::max(width, ArcLabel(n->states.elements[i]->arcs.elements[j]).size());

    for (size_t k = 0; k < nets.size(); k++) {
        TSubFSG* n = nets[k];
        std::fprintf(out, "\n%s", NetName(g, n).c_str());
        if (k > 0) std::fprintf(out, " (%s)", Callers(g, (int)k - 1).c_str());
        std::fprintf(out, ": %d states\n", n->states.length);
        for (int i = 0; i < n->states.length; i++) {
            TState* s = n->states.elements[i];
            bool final = IsFinal(s);
            std::fprintf(out, "  state %d%s%s%s\n", s->id, i == 0 ? " (start" : "",
                         final ? (i == 0 ? ", final" : " (final") : "", i == 0 || final ? ")" : "");
            for (int j = 0; j < s->arcs.length; j++) {
                TArc* a = s->arcs.elements[j];
                std::string target = a->state ? std::to_string(a->state->id) : "end";
                std::string label = ArcLabel(a);
                char p[64];
                std::snprintf(p, sizeof p, " -> %-4s p=%-#8.3g", target.c_str(), (double)a->p);
                std::string text = "    " + label + std::string(width - label.size(), ' ') + p;
                if (a->anno && a->anno->word.s) text += std::string(" '") + a->anno->word.s + "'";
                if (verbosity > 1)
                    text += "   w=" + std::to_string(a->word ? a->word->id : 0) +
                            " a=" + std::to_string(a->anno ? a->anno->id : 0);
                while (!text.empty() && text.back() == ' ') text.pop_back();
                std::fprintf(out, "%s\n", text.c_str());
            }
        }
    }
    if (verbosity <= 1) return;
    std::fprintf(out, "\nwords\n");
    for (int i = 0; i < g->words.length; i++)
        if (TWord* w = g->words.elements[i]) std::fprintf(out, "  %5d %s\n", w->id, i == 0 ? "<eps>" : Text(w));
    if (g->externs.length) std::fprintf(out, "\nexterns\n");
    for (int i = 0; i < g->externs.length; i++)
        if (TWord* w = g->externs.elements[i]) std::fprintf(out, "  %5d %s\n", w->id, Text(w));
    if (g->annos.length > 1) std::fprintf(out, "\nannotations\n");
    for (int i = 1; i < g->annos.length; i++)
        if (TWord* w = g->annos.elements[i]) std::fprintf(out, "  %5d '%s'\n", w->id, Text(w));
}

void InfoFsg(TFSG* g, const std::string& file, std::FILE* out)
{
    std::vector<TSubFSG*> nets = Networks(g);
    Counts total;
    for (TSubFSG* n : nets) {
        Counts c = Count(n);
        total.states += c.states;
        total.arcs += c.arcs;
        total.null_arcs += c.null_arcs;
        total.calls += c.calls;
        total.extern_calls += c.extern_calls;
    }
    std::fprintf(out, "file            %s\n", file.c_str());
    std::fprintf(out, "flags           0x%x\n", (unsigned)g->flags);
    std::fprintf(out, "sub-networks    %zu\n", nets.size() - 1);
    std::fprintf(out, "states          %ld\n", total.states);
    std::fprintf(out, "arcs            %ld\n", total.arcs);
    std::fprintf(out, "null arcs       %ld\n", total.null_arcs);
    std::fprintf(out, "calls           %ld of sub-networks, %ld of externs\n", total.calls, total.extern_calls);
    std::fprintf(out, "words           %d\n", g->words.length - 1);
    std::string names;
    for (int i = 0; i < g->externs.length; i++) names += std::string(i ? ", " : " (") + Text(g->externs.elements[i]);
    if (!names.empty()) names += ")";
    std::fprintf(out, "externs         %d%s\n", g->externs.length, names.c_str());
    std::fprintf(out, "annotations     %d\n", g->annos.length > 0 ? g->annos.length - 1 : 0);
    std::fprintf(out, "\n%-16s %7s %7s %9s %7s %6s %12s %10s\n", "network", "states", "arcs", "null arcs", "calls",
                 "finals", "unreachable", "dead ends");
    int bad = 0;
    for (TSubFSG* n : nets) {
        Counts c = Count(n);
        int unreachable, dead;
        Accessibility(n, unreachable, dead);
        bad += unreachable + dead;
        std::string name = n == g ? "main" : NetName(g, n).substr(std::strlen("sub-network "));
        std::fprintf(out, "%-16s %7ld %7ld %9ld %7ld %6ld %12d %10d\n", name.c_str(), c.states, c.arcs, c.null_arcs,
                     c.calls + c.extern_calls, c.final, unreachable, dead);
    }
    std::fprintf(out, "\n%s\n",
                 bad ? "accessibility: some states cannot be reached from the start or cannot reach the end"
                     : "accessibility: every state is reachable from the start and reaches the end");
}

// ksfsg_view.cpp: ListFsg and InfoFsg, the listing and the summary of a
// loaded FSG. A file does not keep rule names, so a sub-network is known by
// its number and by the places that call it.
#include "ksfsg_view.h"

#include "tfsg.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
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

namespace {

// Parses "    state   3: first arc  12" and "    arc   4: WordId ..., NextState   5, ...".
bool StateLine(const std::string& l, int& state, int& first)
{
    return std::sscanf(l.c_str(), "    state %d: first arc %d", &state, &first) == 2;
}

bool ArcLine(const std::string& l, int& arc, unsigned& word, unsigned& next)
{
    return std::sscanf(l.c_str(), "    arc %d: WordId %u, NextState %u", &arc, &word, &next) == 3;
}

// The text of a word id of the file, resolved as the reader does.
std::string WordLabel(TFSG* g, unsigned id)
{
    int ni = g->fh.nInterns - 1, ne = g->fh.nExterns;
    if (id == 0) return "<eps>";
    if ((int)id <= g->fh.nWords) {
        TWord* w = (int)id < g->words.length ? g->words.elements[id] : nullptr;
        return "'" + std::string(Text(w)) + "'";
    }
    if ((int)id >= 65536 - ni) return "call #" + std::to_string(0xFFFF - id);
    int j = 0xFFFF - (int)id - ni;
    if ((int)id >= 65536 - ni - ne && j >= 0 && j < g->externs.length) return std::string("call ") + Text(g->externs.elements[j]);
    return "?";
}

// Rewrites one network's block of the reader's dump: the end state and the
// arcs to it named, start and final states marked, each arc's word shown.
void DumpBlock(TFSG* g, std::vector<std::string>& lines, size_t from, size_t to)
{
    std::vector<int> first;
    std::vector<size_t> state_line;
    for (size_t i = from; i < to; i++) {
        int s, f;
        if (StateLine(lines[i], s, f)) {
            first.push_back(f);
            state_line.push_back(i);
        }
    }
    if (first.empty()) return;
    int end = (int)first.size() - 1;
    std::vector<char> final((size_t)end + 1, 0);
    for (size_t i = from; i < to; i++) {
        int j;
        unsigned w, next;
        if (!ArcLine(lines[i], j, w, next)) continue;
        int owner = -1;
        for (int s = 0; s < end; s++)
            if (j >= first[(size_t)s] && j < first[(size_t)s + 1]) owner = s;
        if ((int)next >= end && owner >= 0) final[(size_t)owner] = 1;
        std::string& l = lines[i];
        size_t at = l.find("NextState");
        size_t comma = at == std::string::npos ? at : l.find(',', at);
        if ((int)next >= end && comma != std::string::npos) l.replace(at, comma - at, "NextState end");
        l += "   " + WordLabel(g, w);
    }
    for (int s = 0; s <= end; s++) {
        std::string& l = lines[state_line[(size_t)s]];
        if (s == end) l += "   (end of the network: holds no arcs)";
        else if (s == 0) l += final[0] ? "   (start, final)" : "   (start)";
        else if (final[(size_t)s]) l += "   (final)";
    }
}

} // namespace

void DumpFsg(const std::string& path, const std::string& file, std::FILE* out)
{
    // The reader prints its dump on standard output as it reads; it is
    // caught in a scratch file and rewritten.
    std::FILE* scratch = std::tmpfile();
    if (!scratch) Error("can't create a temporary file for the dump");
    std::fflush(stdout);
    int saved = dup(1);
    dup2(fileno(scratch), 1);
    TFSG g(mbstring(path.c_str()), TSubFSG::EqNorm);
    const char* failure = nullptr;
    std::string failure_text;
    try {
        g.ReadFile(path.c_str(), 1);
    } catch (char* msg) {
        failure_text = msg;
        failure = failure_text.c_str();
    }
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);

    std::vector<std::string> lines;
    std::rewind(scratch);
    std::string line;
    for (int c; (c = std::fgetc(scratch)) != EOF;) {
        if (c != '\n') {
            line += (char)c;
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    std::fclose(scratch);

    // Blocks start at "main grammar" and "intern N".
    std::vector<size_t> starts;
    for (size_t i = 0; i < lines.size(); i++) {
        int k;
        if (lines[i] == "main grammar") {
            lines[i] = "main network";
            starts.push_back(i);
        } else if (std::sscanf(lines[i].c_str(), "intern %d", &k) == 1 && lines[i].find(':') == std::string::npos) {
            lines[i] = "sub-network #" + std::to_string(k);
            starts.push_back(i);
        }
    }
    size_t tables = lines.size();
    for (size_t i = starts.empty() ? 0 : starts.back(); i < lines.size(); i++)
        if (lines[i].compare(0, 7, "extern ") == 0 || lines[i].compare(0, 5, "word ") == 0 ||
            lines[i].compare(0, 11, "annotation ") == 0) {
            tables = i;
            break;
        }
    if (!failure)
        for (size_t b = 0; b < starts.size(); b++) DumpBlock(&g, lines, starts[b], b + 1 < starts.size() ? starts[b + 1] : tables);

    std::fprintf(out, "file          %s\n", file.c_str());
    bool word0 = false;
    for (const std::string& l : lines) {
        if (!word0 && l.compare(0, 5, "word ") == 0) {
            std::fprintf(out, "word %5d: ''   (the null word)\n", 0);
            word0 = true;
        }
        std::fprintf(out, "%s\n", l.c_str());
    }
    std::fflush(out);
    if (failure) Error("%s", failure);
}

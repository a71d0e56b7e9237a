// ksfsg_view.cpp: ListFsg, InfoFsg and PrintDump, the listing, the summary
// and the readable dump of a loaded FSG, over the grammar's read-only graph
// view. A file does not keep rule names, so a sub-network is known by its
// number and by the places that call it.
#include "ksfsg_view.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

using ksbnfc::ArcKind;
using ksbnfc::ArcView;
using ksbnfc::GraphView;

namespace {

const char* Text(const char* s)
{
    return s ? s : "";
}

// Network 0 is the main one, network k + 1 is sub-network #k.
std::string NetName(int k)
{
    return k == 0 ? "main network" : "sub-network #" + std::to_string(k - 1);
}

// What an arc reads, as the listing shows it.
std::string ArcLabel(const ArcView& a)
{
    switch (a.kind) {
    case ArcKind::Null: return "<eps>";
    case ArcKind::Call: return "call #" + std::to_string(a.id);
    case ArcKind::Extern: return std::string("call ") + a.word;
    case ArcKind::Word: break;
    }
    return a.word;
}

bool IsFinal(const GraphView& g, int k, int s)
{
    for (int i = 0; i < g.Arcs(k, s); i++)
        if (g.Arc(k, s, i).target < 0) return true;
    return false;
}

// The word id of an extern as the file numbers it: the ids below 65536 are
// counted down from the top, sub-networks first.
int ExternId(const GraphView& g, int i)
{
    return 0xFFFF - i - (g.Networks() - 1);
}

// States of network k that cannot be reached from its start, and that cannot
// reach its end; a call arc leads on to its target like any other arc.
void Accessibility(const GraphView& g, int k, int& unreachable, int& dead)
{
    int ns = g.States(k);
    std::vector<char> from_start((size_t)ns, 0), to_end((size_t)ns, 0);
    std::vector<int> todo;
    if (ns > 0) {
        from_start[0] = 1;
        todo.push_back(0);
    }
    while (!todo.empty()) {
        int s = todo.back();
        todo.pop_back();
        for (int i = 0; i < g.Arcs(k, s); i++) {
            int t = g.Arc(k, s, i).target;
            if (t >= 0 && t < ns && !from_start[(size_t)t]) {
                from_start[(size_t)t] = 1;
                todo.push_back(t);
            }
        }
    }
    // Backwards: a state reaches the end when one of its arcs does.
    std::vector<std::vector<int>> preds((size_t)ns);
    for (int s = 0; s < ns; s++)
        for (int i = 0; i < g.Arcs(k, s); i++) {
            int t = g.Arc(k, s, i).target;
            if (t < 0) {
                if (!to_end[(size_t)s]) todo.push_back(s);
                to_end[(size_t)s] = 1;
            } else if (t < ns) {
                preds[(size_t)t].push_back(s);
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
    // A null arc to the end of a network is a final arc: an engine FSG, whose
    // null arcs are eliminated, still ends its networks with them.
    long states = 0, arcs = 0, null_arcs = 0, final_arcs = 0, calls = 0, extern_calls = 0, final = 0;
};

Counts Count(const GraphView& g, int k)
{
    Counts c;
    c.states = g.States(k);
    for (int s = 0; s < g.States(k); s++) {
        if (IsFinal(g, k, s)) c.final++;
        for (int i = 0; i < g.Arcs(k, s); i++) {
            ArcView a = g.Arc(k, s, i);
            ArcKind kind = a.kind;
            c.arcs++;
            if (kind == ArcKind::Null && a.target < 0) c.final_arcs++;
            else if (kind == ArcKind::Null) c.null_arcs++;
            else if (kind == ArcKind::Call) c.calls++;
            else if (kind == ArcKind::Extern) c.extern_calls++;
        }
    }
    return c;
}

// "main network state 3, sub-network #1 state 0": where sub-network n is called.
std::string Callers(const GraphView& g, int n)
{
    std::string where;
    for (int k = 0; k < g.Networks(); k++)
        for (int s = 0; s < g.States(k); s++)
            for (int i = 0; i < g.Arcs(k, s); i++) {
                ArcView a = g.Arc(k, s, i);
                if (a.kind != ArcKind::Call || a.id != n) continue;
                if (!where.empty()) where += ", ";
                where += NetName(k) + " state " + std::to_string(s);
                break;
            }
    return where.empty() ? "not called" : "called from " + where;
}

} // namespace

void ListFsg(const GraphView& g, const std::string& file, int verbosity, std::FILE* out)
{
    if (verbosity <= 0) return;
    const int nets = g.Networks();
    std::fprintf(out, "%s: %d network%s, %d words, %d externs, %d annotations\n", file.c_str(), nets,
                 nets == 1 ? "" : "s", g.Words() - 1, g.Externs(), g.Annotations() > 0 ? g.Annotations() - 1 : 0);
    size_t width = 5;
    for (int k = 0; k < nets; k++)
        for (int s = 0; s < g.States(k); s++)
            for (int i = 0; i < g.Arcs(k, s); i++) width = std::max(width, ArcLabel(g.Arc(k, s, i)).size());
    // The annotation ids, by the texts the arcs share with the table.
    std::unordered_map<const char*, int> anno_ids;
    for (int i = 1; i < g.Annotations(); i++)
        if (const char* t = g.Annotation(i)) anno_ids[t] = i;

    for (int k = 0; k < nets; k++) {
        std::fprintf(out, "\n%s", NetName(k).c_str());
        if (k > 0) std::fprintf(out, " (%s)", Callers(g, k - 1).c_str());
        std::fprintf(out, ": %d states\n", g.States(k));
        for (int s = 0; s < g.States(k); s++) {
            bool final = IsFinal(g, k, s);
            std::fprintf(out, "  state %d%s%s%s\n", s, s == 0 ? " (start" : "",
                         final ? (s == 0 ? ", final" : " (final") : "", s == 0 || final ? ")" : "");
            for (int i = 0; i < g.Arcs(k, s); i++) {
                ArcView a = g.Arc(k, s, i);
                std::string target = a.target >= 0 ? std::to_string(a.target) : "end";
                std::string label = ArcLabel(a);
                char p[64];
                std::snprintf(p, sizeof p, " -> %-4s p=%-#8.3g", target.c_str(), (double)a.p);
                std::string text = "    " + label + std::string(width - label.size(), ' ') + p;
                if (a.annotation) text += std::string(" '") + a.annotation + "'";
                if (verbosity > 1) {
                    auto anno = a.annotation ? anno_ids.find(a.annotation) : anno_ids.end();
                    text += "   w=" + std::to_string(a.id) +
                            " a=" + std::to_string(anno == anno_ids.end() ? 0 : anno->second);
                }
                while (!text.empty() && text.back() == ' ') text.pop_back();
                std::fprintf(out, "%s\n", text.c_str());
            }
        }
    }
    if (verbosity <= 1) return;
    std::fprintf(out, "\nwords\n");
    for (int i = 0; i < g.Words(); i++)
        if (const char* w = g.Word(i)) std::fprintf(out, "  %5d %s\n", i, i == 0 ? "<eps>" : w);
    if (g.Externs()) std::fprintf(out, "\nexterns\n");
    for (int i = 0; i < g.Externs(); i++)
        if (const char* w = g.Extern(i)) std::fprintf(out, "  %5d %s\n", ExternId(g, i), w);
    if (g.Annotations() > 1) std::fprintf(out, "\nannotations\n");
    for (int i = 1; i < g.Annotations(); i++)
        if (const char* w = g.Annotation(i)) std::fprintf(out, "  %5d '%s'\n", i, w);
}

void InfoFsg(const GraphView& g, const std::string& file, std::FILE* out)
{
    const int nets = g.Networks();
    Counts total;
    for (int k = 0; k < nets; k++) {
        Counts c = Count(g, k);
        total.states += c.states;
        total.arcs += c.arcs;
        total.null_arcs += c.null_arcs;
        total.final_arcs += c.final_arcs;
        total.calls += c.calls;
        total.extern_calls += c.extern_calls;
    }
    std::fprintf(out, "file            %s\n", file.c_str());
    std::fprintf(out, "flags           0x%x\n", (unsigned)g.Flags());
    std::fprintf(out, "sub-networks    %d\n", nets - 1);
    std::fprintf(out, "states          %ld\n", total.states);
    std::fprintf(out, "arcs            %ld\n", total.arcs);
    std::fprintf(out, "null arcs       %ld\n", total.null_arcs);
    std::fprintf(out, "final arcs      %ld (null arcs to the end of a network)\n", total.final_arcs);
    std::fprintf(out, "calls           %ld of sub-networks, %ld of externs\n", total.calls, total.extern_calls);
    std::fprintf(out, "words           %d\n", g.Words() - 1);
    std::string names;
    for (int i = 0; i < g.Externs(); i++) names += std::string(i ? ", " : " (") + Text(g.Extern(i));
    if (!names.empty()) names += ")";
    std::fprintf(out, "externs         %d%s\n", g.Externs(), names.c_str());
    std::fprintf(out, "annotations     %d\n", g.Annotations() > 0 ? g.Annotations() - 1 : 0);
    std::fprintf(out, "\n%-16s %7s %7s %9s %7s %6s %12s %10s\n", "network", "states", "arcs", "null arcs", "calls",
                 "finals", "unreachable", "dead ends");
    int bad = 0;
    for (int k = 0; k < nets; k++) {
        Counts c = Count(g, k);
        int unreachable, dead;
        Accessibility(g, k, unreachable, dead);
        bad += unreachable + dead;
        std::string name = k == 0 ? "main" : "#" + std::to_string(k - 1);
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
std::string WordLabel(const GraphView& g, unsigned id)
{
    int ni = g.Networks() - 1, ne = g.Externs();
    if (id == 0) return "<eps>";
    if ((int)id < g.Words()) return "'" + std::string(Text(g.Word((int)id))) + "'";
    if ((int)id >= 65536 - ni) return "call #" + std::to_string(0xFFFF - id);
    int j = 0xFFFF - (int)id - ni;
    if ((int)id >= 65536 - ni - ne && j >= 0 && j < ne) return std::string("call ") + Text(g.Extern(j));
    return "?";
}

// Rewrites one network's block of the reader's dump: the end state and the
// arcs to it named, start and final states marked, each arc's word shown.
void DumpBlock(const GraphView& g, std::vector<std::string>& lines, size_t from, size_t to)
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

void PrintDump(const std::string& dump, const GraphView* g, const std::string& file, std::FILE* out)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < dump.size();) {
        size_t end = dump.find('\n', at);
        if (end == std::string::npos) end = dump.size();
        lines.push_back(dump.substr(at, end - at));
        at = end + 1;
    }

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
    if (g)
        for (size_t b = 0; b < starts.size(); b++)
            DumpBlock(*g, lines, starts[b], b + 1 < starts.size() ? starts[b + 1] : tables);

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
}

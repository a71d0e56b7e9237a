// graph_dump.h: a compact text notation for networks, so that tests of the
// graph passes can build their input and check their output in one line per
// state; and the small helpers those tests share.
//
//   "0: a->1@0.5, b/X->*@0.5\n1: _->*"
//
// One line per state ("\n" or ";" separates them): its id, ":", then its arcs
// in stored order, separated by ", ". An arc is
//   word [op] [!] [/annotation] -> target [@p]
// word:   the text; "_" is the empty word; a text starting with "<" is a rule
//         reference (interns list); "$" followed by a text is an extern
//         reference ("$<city>"); a word without text is "#id".
// op:     "?", "+" or "*" (OpOpt, OpPlus, OpStar).
// "!":    needtr is set.
// target: a state id, or "*" when the arc leaves the network.
// @p:     the probability (%g); Build takes 1 when it is left out.
#ifndef KSBNFC_TESTS_GRAPH_DUMP_H
#define KSBNFC_TESTS_GRAPH_DUMP_H

#include "tfsg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace graph_dump {

inline std::string WordText(const TWord* w)
{
    if (!w) return "?";
    if (w->kind == TWord::Word && w->id == 0 && w->word.s && !*w->word.s) return "_";
    std::string t;
    if (w->word.s) {
        t = w->word.s;
    } else {
        t = "#" + std::to_string(w->id);
    }
    if (w->kind == TWord::Extern) t = "$" + t;
    return t;
}

inline std::string ArcText(const TArc* a, bool probs)
{
    std::string s = WordText(a->word);
    switch (a->op) {
    case OpOpt: s += "?"; break;
    case OpPlus: s += "+"; break;
    case OpStar: s += "*"; break;
    default: break;
    }
    if (a->needtr) s += "!";
    if (a->anno && (a->anno->word.s || a->anno->id != 0)) {
        s += "/";
        s += a->anno->word.s ? std::string(a->anno->word.s) : "#" + std::to_string(a->anno->id);
    }
    s += "->";
    s += a->state ? std::to_string(a->state->id) : std::string("*");
    if (probs) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "@%g", (double)a->p);
        s += buf;
    }
    return s;
}

// The network in the notation above, one line per state, each ending in "\n".
inline std::string Dump(TSubFSG* g, bool probs = true)
{
    std::string out;
    for (int i = 0; i < g->states.length; i++) {
        TState* st = g->states.elements[i];
        out += std::to_string(st->id) + ":";
        for (int j = 0; j < st->arcs.length; j++) {
            out += j ? ", " : " ";
            out += ArcText(st->arcs.elements[j], probs);
        }
        out += "\n";
    }
    return out;
}

// The network on one line, states separated by "; ", without "@1".
inline std::string Line(TSubFSG* g)
{
    std::string d = Dump(g), out;
    for (size_t i = 0; i < d.size(); i++) {
        bool end = i + 2 >= d.size() || d[i + 2] == ',' || d[i + 2] == '\n';
        if (d.compare(i, 2, "@1") == 0 && end) i++;
        else if (d[i] == '\n') out += i + 1 < d.size() ? "; " : "";
        else out += d[i];
    }
    return out;
}

// The state with id `id`, adding states to g until it exists. Meant for
// freshly built networks, where ids equal indices.
inline TState* StateAt(TSubFSG* g, int id)
{
    while (g->states.length <= id) g->AddState();
    return g->states.elements[id];
}

// Adds the states and arcs written in the notation to g (whose initial state
// already exists). Throws std::invalid_argument on malformed text.
inline void Build(TSubFSG* g, std::string text)
{
    for (char& c : text)
        if (c == ';') c = '\n';
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        size_t colon = line.find(':');
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (colon == std::string::npos) throw std::invalid_argument("no state id in: " + line);
        TState* from = StateAt(g, std::atoi(line.c_str()));
        std::string rest = line.substr(colon + 1) + ", ";
        for (size_t pos = 0, comma; (comma = rest.find(", ", pos)) != std::string::npos; pos = comma + 2) {
            std::string arc = rest.substr(pos, comma - pos);
            if (arc.find_first_not_of(' ') == std::string::npos) continue;
            size_t arrow = arc.find("->"), at = arc.find('@', arrow);
            if (arrow == std::string::npos) throw std::invalid_argument("no -> in arc: " + arc);
            std::string left = arc.substr(arc.find_first_not_of(' '), arrow - arc.find_first_not_of(' '));
            std::string right = arc.substr(arrow + 2, at == std::string::npos ? std::string::npos : at - arrow - 2);
            size_t slash = left.find('/', 1);
            std::string annotext = slash == std::string::npos ? "" : left.substr(slash + 1);
            mbstring anno = slash == std::string::npos ? mbstring() : mbstring(annotext.c_str());
            left = left.substr(0, slash);
            unsigned char needtr = left.size() > 1 && left.back() == '!';
            if (needtr) left.pop_back();
            const std::string ops = "?+*";
            Op op = left.size() > 1 && ops.find(left.back()) != std::string::npos
                        ? (Op)((int)OpOpt + (int)ops.find(left.back()))
                        : OpNone;
            if (op != OpNone) left.pop_back();
            float p = at == std::string::npos ? 1.0f : std::strtof(arc.c_str() + at + 1, nullptr);
            TState* to = right.find('*') != std::string::npos ? nullptr : StateAt(g, std::atoi(right.c_str()));
            TArc* made = left == "_"      ? from->AddNullArc(to, p, anno)
                         : left[0] == '$' ? from->AddExternArc(to, p, mbstring(left.c_str() + 1), anno, op)
                         : left[0] == '<' ? from->AddInternArc(to, p, mbstring(left.c_str()), anno, op)
                                          : from->AddArc(to, p, mbstring(left.c_str()), anno, op);
            made->op = op;
            made->needtr = needtr;
        }
    }
}

// A random network of the given number of states, each with up to `arcs`
// arcs: words with mixed-case duplicates, annotations, null arcs and, with
// calls, calls of two sub-grammars "<0>" and "<1>"; probabilities in
// eighths. Without loops every arc leads forward; with loops, anywhere, so
// that loops and recursions that consume nothing occur.
inline std::string RandomNetwork(std::mt19937& rng, int states, int arcs, bool calls, bool loops = false)
{
    const char* vocab[] = {"a", "A", "b", "B", "c"};
    std::string t;
    for (int s = 0; s < states; s++) {
        t += std::to_string(s) + ": ";
        for (int k = 0, n = 1 + (int)(rng() % (unsigned)arcs); k < n; k++) {
            int kind = (int)(rng() % 10), to = (int)(rng() % (unsigned)(states + 1));
            int fwd = loops ? to : s + 1 + (int)(rng() % (unsigned)(states - s));
            std::string forward = fwd >= states ? "*" : std::to_string(fwd);
            std::string tail = "/x" + std::to_string(rng() % 4) + "->";
            std::string p = "@" + std::to_string(0.125 * (1 + (int)(rng() % 8)));
            if (kind == 0) t += "_" + tail + forward + p;
            else if (kind == 1 && calls) t += "<" + std::to_string(rng() % 2) + ">" + tail + forward + p;
            else t += vocab[rng() % 5] + tail + (to == states ? "*" : std::to_string(to)) + p;
            t += k + 1 < n ? ", " : "\n";
        }
    }
    return t;
}

// The message f throws, or "(no error)".
inline std::string Thrown(const std::function<void()>& f)
{
    try {
        f();
    } catch (char* msg) {
        return msg;
    }
    return "(no error)";
}

// What f prints on standard output.
inline std::string Captured(const std::function<void()>& f)
{
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Collects warnings in KsMsgBuf for the life of the object.
struct WarningsCollected {
    int saved = warnings;
    WarningsCollected()
    {
        warnings = 1;
        KsMsgBuf[0] = 0;
    }
    ~WarningsCollected() { warnings = saved; }
    std::string Text() const { return KsMsgBuf; }
};

inline std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

} // namespace graph_dump

#endif // KSBNFC_TESTS_GRAPH_DUMP_H

// graph_dump.h: a compact text notation for networks, so that tests of the
// graph passes can build their input and check their output in one line per
// state.
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

#include <cstdio>
#include <cstdlib>
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

inline std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
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
inline void Build(TSubFSG* g, const std::string& text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n' || c == ';') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    lines.push_back(cur);
    for (const std::string& raw : lines) {
        std::string line = Trim(raw);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) throw std::invalid_argument("no state id in: " + line);
        TState* from = StateAt(g, std::atoi(line.substr(0, colon).c_str()));
        std::string rest = line.substr(colon + 1);
        size_t pos = 0;
        while (pos <= rest.size()) {
            size_t comma = rest.find(", ", pos);
            std::string arc = Trim(rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
            pos = comma == std::string::npos ? rest.size() + 1 : comma + 2;
            if (arc.empty()) continue;
            size_t arrow = arc.find("->");
            if (arrow == std::string::npos) throw std::invalid_argument("no -> in arc: " + arc);
            std::string left = arc.substr(0, arrow), right = arc.substr(arrow + 2);
            std::string anno;
            bool has_anno = false;
            size_t slash = left.find('/');
            if (slash != std::string::npos && slash > 0) {
                anno = left.substr(slash + 1);
                has_anno = true;
                left = left.substr(0, slash);
            }
            unsigned char needtr = 0;
            if (left.size() > 1 && left.back() == '!') {
                needtr = 1;
                left.pop_back();
            }
            Op op = OpNone;
            if (left.size() > 1) {
                char m = left.back();
                if (m == '?') op = OpOpt;
                if (m == '+') op = OpPlus;
                if (m == '*') op = OpStar;
                if (op != OpNone) left.pop_back();
            }
            float p = 1.0f;
            size_t at = right.find('@');
            if (at != std::string::npos) {
                p = std::strtof(right.substr(at + 1).c_str(), nullptr);
                right = right.substr(0, at);
            }
            right = Trim(right);
            TState* to = right == "*" ? nullptr : StateAt(g, std::atoi(right.c_str()));
            mbstring a = has_anno ? mbstring(anno.c_str()) : mbstring();
            TArc* made;
            if (left == "_")
                made = from->AddNullArc(to, p, a);
            else if (left[0] == '$')
                made = from->AddExternArc(to, p, mbstring(left.c_str() + 1), a, op);
            else if (left[0] == '<')
                made = from->AddInternArc(to, p, mbstring(left.c_str()), a, op);
            else
                made = from->AddArc(to, p, mbstring(left.c_str()), a, op);
            made->op = op;
            made->needtr = needtr;
        }
    }
}

} // namespace graph_dump

#endif // KSBNFC_TESTS_GRAPH_DUMP_H

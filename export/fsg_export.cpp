// fsg_export.cpp: the three writers of a flattened FSG (recogniser text
// FSG, finite-state acceptor with symbol table, Graphviz drawing) and the
// entry points that load, flatten and write.
#include "fsg_export.h"

#include "ksbnfc_inner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ksexport {
namespace {

std::string Num(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

bool HasSpace(const std::string& word)
{
    return word.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

// A word of the recogniser's text FSG: a quoted multi-word token such as
// "two words" is written in its double quotes; an empty word, one with a
// line end, or one with both white space and a double quote can't be.
std::string Token(const std::string& word)
{
    if (!HasSpace(word) && !word.empty()) return word;
    if (word.empty() || word.find_first_of("\r\n\"") != std::string::npos)
        throw Error("the word '" + word + "' can't be written as one sphinx token");
    return "\"" + word + "\"";
}

// The toolkit's symbol of a word: a symbol holds no white space, so each
// white-space character of a multi-word token becomes '_'.
std::string Symbol(const std::string& word)
{
    if (word.empty()) throw Error("the empty word can't be an openfst symbol");
    std::string s = word;
    for (char& c : s)
        if (std::strchr(" \t\r\n\v\f", c)) c = '_';
    return s;
}

std::string SafeName(const std::string& name)
{
    std::string n = name.empty() ? "grammar" : name;
    for (char& c : n)
        if (std::strchr(" \t\r\n\v\f\"", c)) c = '_';
    return n;
}

// The arcs of part 0 by source state, in stored order.
std::vector<std::vector<const Arc*>> BySource(const Graph& g, const Part& part)
{
    std::vector<std::vector<const Arc*>> out((size_t)part.count);
    for (const Arc& a : g.arcs)
        if (a.from >= part.first && a.from < part.first + part.count) out[(size_t)(a.from - part.first)].push_back(&a);
    return out;
}

// Probabilities are linear; a state whose stored (rounded) log-probabilities
// add up to more than 1 is scaled down so that they sum to at most 1.
std::string Sphinx(const Graph& g, const std::string& name)
{
    const Part& part = g.parts.at(0);
    std::string out = "FSG_BEGIN " + SafeName(name) + "\n";
    out += "NUM_STATES " + std::to_string(part.count) + "\n";
    out += "START_STATE " + std::to_string(part.start - part.first) + "\n";
    out += "FINAL_STATE " + std::to_string(part.final_state - part.first) + "\n";
    for (const auto& arcs : BySource(g, part)) {
        double sum = 0;
        for (const Arc* a : arcs) sum += a->p;
        double scale = sum > 1 ? (1 - 1e-7) / sum : 1;
        for (const Arc* a : arcs) {
            out += "TRANSITION " + std::to_string(a->from - part.first) + " " + std::to_string(a->to - part.first) +
                   " " + Num("%.8g", a->p * scale);
            if (a->word >= 0) out += " " + Token(g.words[(size_t)a->word]);
            out += "\n";
        }
    }
    out += "FSG_END\n";
    return out;
}

std::string Weight(double p)
{
    return p >= 1 ? "0" : Num("%.9g", -std::log(p));
}

// Null arcs into the final state become final weights of their source, so
// a grammar without null arcs inside gives an epsilon-free acceptor. The
// symbols are numbered in byte order of the words: two builds of the same
// vocabulary get the same table and can be compared label by label.
std::string OpenFst(const Graph& g, std::string* symbols)
{
    if (!symbols) throw Error("the openfst format needs a place for its symbol table");
    const Part& part = g.parts.at(0);
    std::vector<std::string> symbol;
    for (const std::string& w : g.words) {
        if (w == "<eps>") throw Error("the word '<eps>' is the acceptor's empty label");
        symbol.push_back(Symbol(w));
    }
    std::vector<size_t> order(g.words.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return symbol[a] < symbol[b]; });
    for (size_t i = 1; i < order.size(); i++)
        if (symbol[order[i]] == symbol[order[i - 1]])
            throw Error("the words '" + g.words[order[i - 1]] + "' and '" + g.words[order[i]] +
                        "' would both be the openfst symbol '" + symbol[order[i]] + "'");
    std::string out;
    bool final_entered = false;
    auto by_source = BySource(g, part);
    for (size_t s = 0; s < by_source.size(); s++) {
        double final_p = 0;
        for (const Arc* a : by_source[s]) {
            if (a->word < 0 && a->to == part.final_state) {
                final_p += a->p;
                continue;
            }
            if (a->to == part.final_state) final_entered = true;
            out += std::to_string(a->from - part.first) + " " + std::to_string(a->to - part.first) + " " +
                   (a->word < 0 ? std::string("<eps>") : symbol[(size_t)a->word]) + " " +
                   Weight(a->p) + "\n";
        }
        if (final_p > 0) out += std::to_string(s) + " " + Weight(final_p) + "\n";
    }
    if (final_entered) out += std::to_string(part.final_state - part.first) + "\n";
    *symbols = "<eps> 0\n";
    for (size_t i = 0; i < order.size(); i++) *symbols += symbol[order[i]] + " " + std::to_string(i + 1) + "\n";
    return out;
}

// A double-quoted Graphviz string; & starts an entity there.
std::string Quote(const std::string& s)
{
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        if (c == '\n') {
            q += "\\n";
            continue;
        }
        if (c == '&') {
            q += "&amp;";
            continue;
        }
        q += c;
    }
    return q + "\"";
}

std::string Dot(const Graph& g, const std::string& name)
{
    std::string out = "digraph " + Quote(SafeName(name)) + " {\n";
    out += "  rankdir=LR;\n";
    // Texts of single-byte code pages are not UTF-8.
    if (g.codepage != 65001) out += "  charset=\"latin1\";\n";
    out += "  node [shape=circle, fontsize=10];\n  edge [fontsize=9];\n";
    bool clusters = g.parts.size() > 1;
    for (size_t k = 0; k < g.parts.size(); k++) {
        const Part& part = g.parts[k];
        std::string indent = clusters ? "    " : "  ";
        if (clusters) out += "  subgraph cluster_" + std::to_string(k) + " {\n    label=" + Quote(part.name) + ";\n";
        out += indent + "start" + std::to_string(k) + " [shape=point];\n";
        out += indent + "start" + std::to_string(k) + " -> " + std::to_string(part.start) + ";\n";
        for (int s = part.first; s < part.first + part.count; s++)
            out += indent + std::to_string(s) + " [label=\"" + std::to_string(s - part.first) + "\"" +
                   (s == part.final_state ? ", shape=doublecircle" : "") + "];\n";
        for (const auto& arcs : BySource(g, part))
            for (const Arc* a : arcs) {
                std::string label = a->word < 0 ? "" : g.words[(size_t)a->word];
                label += " " + Num("%.3g", a->p);
                if (a->anno >= 0) label += "\n" + g.annos[(size_t)a->anno];
                std::string q = Quote(label);
                // An empty word shows as epsilon (an entity, so not escaped).
                if (a->word < 0) q.insert(1, "&epsilon;");
                out += indent + std::to_string(a->from) + " -> " + std::to_string(a->to) + " [label=" + q + "];\n";
            }
        if (clusters) out += "  }\n";
    }
    out += "}\n";
    return out;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = b.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? b : b.substr(0, dot);
}

} // namespace

bool ParseFormat(const std::string& name, ksexport::Format* format)
{
    if (name == "sphinx") *format = Format::Sphinx;
    else if (name == "openfst") *format = Format::OpenFst;
    else if (name == "dot") *format = Format::Dot;
    else return false;
    return true;
}

std::string Write(const Graph& g, Format format, const std::string& name, std::string* symbols)
{
    if (g.parts.empty()) throw Error("empty graph");
    switch (format) {
    case Format::Sphinx: return Sphinx(g, name);
    case Format::OpenFst: return OpenFst(g, symbols);
    case Format::Dot: return Dot(g, name);
    }
    throw Error("unknown format");
}

std::string Export(const ksbnfc::Grammar& g, Format format, const Options& options, std::string* symbols)
{
    std::string name = options.name.empty() ? BaseName(options.source) : options.name;
    return Write(Flatten(g, options), format, name, symbols);
}

std::string ExportFile(Format format, const Options& options, std::string* symbols)
{
    std::unique_ptr<ksbnfc::Grammar> g;
    try {
        g = ksbnfc::Grammar::Load(options.source);
    } catch (const ksbnfc::Failure& e) {
        throw Error(*e.what() ? e.what() : "can't load");
    }
    return Export(*g, format, options, symbols);
}

} // namespace ksexport

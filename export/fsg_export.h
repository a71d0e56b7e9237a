// fsg_export.h: writes a loaded FSG in the text formats other tools read:
// the recogniser's text FSG ("sphinx"), a finite-state toolkit acceptor with
// its symbol table ("openfst") and a Graphviz drawing ("dot"). Flatten, which
// the writers share, is also what the speech tool hands to the recogniser.
//
// Every entry point reports failure by throwing ksexport::Error with a text
// that names what went wrong (an unresolvable extern, a recursive
// sub-grammar, a word the format cannot hold).
#ifndef KSBNFC_EXPORT_FSG_EXPORT_H
#define KSBNFC_EXPORT_FSG_EXPORT_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ksbnfc {
class Grammar;
}

namespace ksexport {

struct Error : std::runtime_error {
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

enum class Format { Sphinx, OpenFst, Dot };

// "sphinx", "openfst" or "dot"; false for anything else.
bool ParseFormat(const std::string& name, Format* format);

struct Options {
    // Intern sub-FSGs and extern grammars are copied into the network in
    // place of the arcs that call them. Without splicing such an arc stays
    // one arc labelled "<NAME>" (externs) or "<intern#K>" (interns); the
    // drawing then also shows each intern network on its own.
    bool splice = true;
    // Words lower-cased (recogniser dictionaries), each in the code page of
    // the grammar it comes from; for that the process code page is switched
    // for the moment, so no other library call may run beside Flatten.
    bool lower = false;
    // Where the grammar was loaded from: externs not registered yet are read
    // from NAME plus this file's extension beside it, as the run time does.
    std::string source;
    // Extern grammars registered (name, file) before anything is looked up.
    std::vector<std::pair<std::string, std::string>> externs;
    // Name written into the output; empty: the source's base name.
    std::string name;
    // Splicing copies a sub-grammar for every call: bounds on the result,
    // checked before any arc is made.
    size_t max_states = 4000000;
    size_t max_arcs = 4000000;
    // A bound on the text written (the symbol table aside): the arcs are
    // bounded, but not the length of a word or an annotation.
    size_t max_bytes = 1000000000;
};

// Where exported text goes, a piece at a time; Put may throw.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void Put(const char* data, size_t size) = 0;
};

// One network flattened to numbered states. A word of -1 is a null arc.
struct Arc {
    int from;
    int to;
    int word;   // index into Graph::words, or -1
    int anno;   // index into Graph::annos, or -1 for none
    double p;   // linear probability as stored
};

// A network as drawn: part 0 is the grammar itself; further parts are intern
// networks kept apart by Options::splice = false. Each has one start and one
// final state without outgoing arcs; the states of a part are contiguous.
struct Part {
    std::string name;
    int first;    // first state
    int count;    // number of states, its final state included
    int start;
    int final_state;
};

struct Graph {
    std::vector<std::string> words; // distinct texts, in order of first use
    std::vector<std::string> annos; // distinct annotation texts
    std::vector<Arc> arcs;          // grouped by source state, in stored order
    std::vector<Part> parts;
    int states = 0;
    int codepage = 0;               // of the texts (the grammar's)
};

// Flattens a loaded grammar into a Graph.
Graph Flatten(const ksbnfc::Grammar& g, const Options& options);

// Flattens g and writes it in the format as the arcs are made, so that
// neither the arcs nor the text are ever held whole: memory follows the
// grammar, its vocabulary and the copies of sub-grammars waiting to be
// expanded, not the output. Every fault of the grammar is
// thrown before the first byte is put; only text beyond options.max_bytes
// (an Error), or a failing sink, stops the output part way. For OpenFst the
// symbol table goes to *symbols (required then), filled at the end. Only
// part 0 is written, except in a drawing.
void Export(const ksbnfc::Grammar& g, Format format, const Options& options, Sink& text,
            std::string* symbols = nullptr);

// The same, the text returned.
std::string Export(const ksbnfc::Grammar& g, Format format, const Options& options, std::string* symbols = nullptr);

// Loads options.source, exports it and releases it again.
void ExportFile(Format format, const Options& options, Sink& text, std::string* symbols = nullptr);

} // namespace ksexport

#endif // KSBNFC_EXPORT_FSG_EXPORT_H

// fsg_flatten.h: inside ksexport: the flattening of one grammar in two passes
// that share their tables, for Flatten and for the writers that stream.
#ifndef KSBNFC_EXPORT_FSG_FLATTEN_H
#define KSBNFC_EXPORT_FSG_FLATTEN_H

#include "fsg_export.h"

#include <functional>
#include <memory>

namespace ksexport {

class Flattener;

class Flattening {
public:
    Flattening(const ksbnfc::Grammar& g, const Options& options);
    ~Flattening();

    // Sizes the result by visiting each network once, without making an
    // arc: its states, parts, words and annotations (in the order the walk
    // meets them) become Shape(), and a result beyond a bound of the options
    // throws the bound's Error here. False when the grammar has a fault
    // (a recursive call, a missing network or extern, an arc into another
    // network) that Walk reports as it meets it; Shape() is then incomplete.
    bool Count();
    // The result without its arcs (after a Count that returned true).
    const Graph& Shape() const;
    // Part 0 uses the first this many words of Shape() and no others.
    size_t MainWords() const;
    // Makes the arcs of part 0, or of every part, and hands each source
    // state's arcs to emit, states in ascending order; throws as Flatten.
    // It holds the copies of sub-grammars still to expand, not the arcs.
    using Emit = std::function<void(const Arc* arcs, size_t n)>;
    void Walk(bool all_parts, const Emit& emit);
    // Walk over every part, kept whole.
    Graph Whole();

private:
    std::unique_ptr<Flattener> f_;
};

} // namespace ksexport

#endif // KSBNFC_EXPORT_FSG_FLATTEN_H

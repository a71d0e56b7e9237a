// ksfsg_view.h: the readable views of a loaded FSG that ksfsg prints: the
// listing of its networks (list), its counts and accessibility (info), and
// the reader's dump of its file made readable (dump).
#ifndef KSBNFC_TOOLS_KSFSG_VIEW_H
#define KSBNFC_TOOLS_KSFSG_VIEW_H

#include "ksbnfc_inner.h"

#include <cstdio>
#include <string>

// Every network's states and arcs: the file named once, sub-networks by
// their number with the places that call them, the start and final states
// marked, arcs to the end shown as "end", the null word as <eps>. With
// verbosity 2 each arc also shows its word and annotation ids, and the
// word, extern and annotation tables follow.
void ListFsg(const ksbnfc::GraphView& g, const std::string& file, int verbosity, std::FILE* out);

// The header, parameters, blocks and tables of a file as the reader dumped
// them (dump), the file named once; with the grammar read (g), each
// network's end state and the arcs to it are named, start and final states
// marked and each arc's word shown. The null word is listed.
void PrintDump(const std::string& dump, const ksbnfc::GraphView* g, const std::string& file, std::FILE* out);

// Counts of networks, states, arcs, null arcs, final arcs, calls, words, externs and
// annotations, and per network the states that cannot be reached from its
// start or cannot reach its end.
void InfoFsg(const ksbnfc::GraphView& g, const std::string& file, std::FILE* out);

#endif // KSBNFC_TOOLS_KSFSG_VIEW_H

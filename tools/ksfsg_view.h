// ksfsg_view.h: the readable views of a loaded FSG that ksfsg prints: the
// listing of its networks (list) and its counts and accessibility (info).
#ifndef KSBNFC_TOOLS_KSFSG_VIEW_H
#define KSBNFC_TOOLS_KSFSG_VIEW_H

#include <cstdio>
#include <string>

class TFSG;

// Every network's states and arcs: the file named once, sub-networks by
// their number with the places that call them, the start and final states
// marked, arcs to the end shown as "end", the null word as <eps>. With
// verbosity 2 each arc also shows its word and annotation ids, and the
// word, extern and annotation tables follow.
void ListFsg(TFSG* g, const std::string& file, int verbosity, std::FILE* out);

// The file's header, parameters, blocks and tables as the reader reads
// them, the file named once: each network's end state and the arcs to it
// named, start and final states marked, each arc's word shown, the null
// word listed. path is read; file is the name shown.
void DumpFsg(const std::string& path, const std::string& file, std::FILE* out);

// Counts of networks, states, arcs, null arcs, calls, words, externs and
// annotations, and per network the states that cannot be reached from its
// start or cannot reach its end.
void InfoFsg(TFSG* g, const std::string& file, std::FILE* out);

#endif // KSBNFC_TOOLS_KSFSG_VIEW_H

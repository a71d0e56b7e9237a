// ksbnfc_main.h: the work of the grammar compiler tool, apart from its
// argument parsing: the request it takes and the function that compiles.
#ifndef KSBNFC_TOOLS_KSBNFC_MAIN_H
#define KSBNFC_TOOLS_KSBNFC_MAIN_H

#include "ksbnfc_inner.h"

#include <cstdio>
#include <string>

// A compile request as the command line gave it.
struct CompileRequest {
    std::string grammar; // "-": the standard input
    // Settings and output names; "-o -" is output_file "-" with to_stdout.
    ksbnfc::CompileOptions options;
    bool to_stdout = false;
};

// The name messages give the grammar file: "<stdin>" for "-".
std::string MessageFileName(const std::string& grammar);

// Compiles as asked, creating the output directory first. Listings and
// traces go to err as they are made; warnings go to err as
// FILE:LINE:COLUMN: warning: TEXT, as they arise with a negative warning
// level, else after a successful compile; an error goes there in the same
// form. With to_stdout the one compiled file goes to out. Returns the
// process exit code: 0 on success (with or without warnings), 1 on error.
int CompileMain(const CompileRequest& r, std::FILE* out, std::FILE* err);

#endif // KSBNFC_TOOLS_KSBNFC_MAIN_H

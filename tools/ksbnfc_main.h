// ksbnfc_main.h: the work of the grammar compiler tool, apart from its
// argument parsing: the options it takes and the function that compiles.
#ifndef KSBNFC_TOOLS_KSBNFC_MAIN_H
#define KSBNFC_TOOLS_KSBNFC_MAIN_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A compile request as the command line gave it. Integer settings are kept
// as (parameter name, value) pairs in the order given, so that the library
// sees exactly what the user asked for and applies its own defaults to the
// rest.
struct CompileOptions {
    std::string bnf_file;
    std::string fsg_file;      // "-": write the FSG to standard output
    std::string fsg_directory;
    std::string syntax;        // "bnf", "jsgf", or empty: by the extension
    std::vector<std::pair<std::string, long>> ints;
};

// The name messages give the grammar file: "<stdin>" for "-".
std::string MessageFileName(const std::string& bnf_file);

// Compiles as asked: passes the options to KsCompileGrammar and prints the
// library's warnings and errors on err as FILE:LINE:COLUMN: KIND: TEXT.
// Creates the output directory. Returns the process exit code: 0 on success
// (with or without warnings), 1 on error.
// With library_output, that is finished before the messages are printed.
class ProductOutput;
int CompileMain(const CompileOptions& o, std::FILE* out, std::FILE* err, ProductOutput* library_output = nullptr);

#endif // KSBNFC_TOOLS_KSBNFC_MAIN_H

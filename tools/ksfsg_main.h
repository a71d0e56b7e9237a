// ksfsg_main.h: the work of the run-time tool, apart from its argument
// parsing: the request it takes and the function that carries it out.
#ifndef KSBNFC_TOOLS_KSFSG_MAIN_H
#define KSBNFC_TOOLS_KSFSG_MAIN_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// One run of the tool as the command line gave it.
struct FsgRequest {
    std::string command; // dump, list, info, test, translate, understand, substrs, enumerate, random
    std::string file;
    // test, translate, understand, substrs: one word string given as arguments; with
    // from_input, one word string per line of the input instead.
    std::vector<std::string> words;
    bool from_input = false;
    // Extern grammars to register before the run (name, file), and whether
    // to load every extern the grammar names from files beside it.
    std::vector<std::pair<std::string, std::string>> externs;
    bool load_externs = false;
    int verbosity = 1;  // list
    int max_words = 20; // enumerate: arcs per sentence
    int max_loops = 1;  // enumerate: times a state may be on the path
    bool full = true;   // enumerate: every arc, not only the first to a target
    bool annotations = false; // enumerate: word:annotation
    bool probabilities = false; // enumerate: probability before each sentence
    int count = 10;     // random
    unsigned seed = 1;  // random
};

// Carries out the request. Results, the dump included, go to out; notes,
// warnings and errors go to err. A file "-" is read from in. Returns the
// exit code as grep has it: 0 on success, 1 when test, translate or
// understand met a word string that was not accepted, 2 on an error.
int FsgMain(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err);

#endif // KSBNFC_TOOLS_KSFSG_MAIN_H

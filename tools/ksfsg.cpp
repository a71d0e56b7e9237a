// ksfsg.cpp: the run-time tool's command line. Parses the subcommand and
// its options into an FsgRequest and hands it to FsgMain (ksfsg_main.cpp).
#include "ksbnfc.h"
#include "ksfsg_main.h"
#include "ksfsg_export.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: ksfsg COMMAND [options] FILE [WORDS...]\n"
    "Loads a compiled FSG file (- for standard input) and works with it.\n"
    "\n"
    "commands:\n"
    "  dump FILE                  the file's header, blocks and tables as read\n"
    "  list FILE                  states and arcs of every network\n"
    "  info FILE                  counts of states, arcs, words, externs, ... and\n"
    "                             the accessibility of every network\n"
    "  test FILE [WORDS...]       accepted (2), incomplete (1) or rejected (0)\n"
    "  translate FILE [WORDS...]  the result, probability and translation\n"
    "  understand FILE [WORDS...] the intent and slots, one JSON object a line\n"
    "  substrs FILE [WORDS...]    the stretches of the words the grammar accepts\n"
    "  enumerate FILE             the accepted sentences\n"
    "  random FILE                random sentences with their probabilities\n"
    "  export --format F FILE     the FSG as recogniser, acceptor or Graphviz text\n"
    "\n"
    "Run 'ksfsg COMMAND --help' for the options of a command. Long options\n"
    "also take their value as --name=VALUE; --version prints the version.\n"
    "Exit status: 0 success (test, translate, understand: every word string\n"
    "accepted), 1 one of them found a word string rejected or incomplete,\n"
    "2 usage error or failure.\n";

struct Command {
    const char* name;
    const char* help;
};

const Command kCommands[] = {
    {"dump",
     "usage: ksfsg dump FILE\n"
     "Prints the header, parameters, networks, externs, words and annotations\n"
     "of an FSG file as they are read.\n"},
    {"list",
     "usage: ksfsg list [-v N] FILE\n"
     "Lists the states and arcs of the main network and of every sub-network\n"
     "(by number, with the states that call it). The start and final states are\n"
     "marked, an arc to the end of its network leads to \"end\", the null word\n"
     "is <eps>, a call reads \"call #N\" or \"call <EXTERN>\".\n"
     "  -v N           detail: 1 states and arcs (default), 2 also ids and the\n"
     "                 word, extern and annotation tables\n"},
    {"info",
     "usage: ksfsg info FILE\n"
     "Prints the flags and the counts of sub-networks, states, arcs, null arcs,\n"
     "calls, words, externs and annotations, then per network its counts, its\n"
     "final states (with an arc to the end) and the states that cannot be\n"
     "reached from its start (unreachable) or cannot reach its end (dead ends).\n"},
    {"test",
     "usage: ksfsg test [extern options] FILE [WORDS...|-]\n"
     "Tests a word string: prints \"2 accepted\", \"1 incomplete\" (the grammar\n"
     "accepts a continuation) or \"0 rejected\". Without words, or with -, tests\n"
     "each line of standard input as one word string.\n"},
    {"translate",
     "usage: ksfsg translate [extern options] FILE [WORDS...|-]\n"
     "Translates a word string: prints \"2 p=PROBABILITY TRANSLATION\" (\"-\" for\n"
     "an empty translation), or \"1 incomplete\" / \"0 rejected\". Without words,\n"
     "or with -, translates each line of standard input.\n"},
    {"understand",
     "usage: ksfsg understand [extern options] FILE [WORDS...|-]\n"
     "Prints what a translation FSG compiled from a grammar with intents and\n"
     "slots understands from a word string, as one JSON object a line:\n"
     "{\"text\": WORDS, \"understood\": true|false, \"intent\": NAME|null,\n"
     "\"slots\": {NAME: VALUE, ...}}; a value that is a number is a JSON number.\n"
     "Without words, or with -, reads each line of standard input.\n"},
    {"substrs",
     "usage: ksfsg substrs [extern options] FILE [WORDS...|-]\n"
     "Prints \"START-END p=PROBABILITY WORDS\" for every stretch of the words\n"
     "that the grammar accepts, last found first. Without words, or with -,\n"
     "searches each line of standard input, each result preceded by the\n"
     "line's number and a colon (\"3:1-2 p=...\"), as grep -n does.\n"},
    {"enumerate",
     "usage: ksfsg enumerate [options] [extern options] FILE\n"
     "Prints the sentences the grammar accepts, one per line, depth first in\n"
     "arc order; calls of sub-networks and of loaded extern grammars are\n"
     "followed. What the bounds leave out is counted on standard error.\n"
     "  --max N        at most N words per sentence (default 20)\n"
     "  --loops N      a state at most N times on a sentence's path (default 1)\n"
     "  --first        only the first arc from a state to each target: a sample\n"
     "  --full         every arc (the default)\n"
     "  --anno         show each word's annotation as WORD:ANNOTATION\n"
     "  --probs        print each sentence's probability before it\n"},
    {"random",
     "usage: ksfsg random [options] FILE\n"
     "Prints random sentences with the probabilities of their paths; calls of\n"
     "intern networks are followed, extern references print as <NAME>.\n"
     "  -n N           number of sentences (default 10)\n"
     "  --seed S       seed of the random numbers (default 1)\n"},
};

const char kExternHelp[] =
    "extern options:\n"
    "  -x NAME=FILE   register FILE as the extern grammar NAME first (repeatable);\n"
    "                 a .txt list of values is compiled for translation\n"
    "  --externs      load the grammar's externs from files beside FILE\n";

bool ParseInt(const char* s, long lo, long hi, long& v)
{
    errno = 0;
    char* end = nullptr;
    v = std::strtol(s, &end, 0);
    return errno == 0 && end != s && *end == 0 && v >= lo && v <= hi;
}

int Usage(const char* msg, const char* arg)
{
    std::fprintf(stderr, "ksfsg: %s%s%s\n", msg, arg ? " " : "", arg ? arg : "");
    std::fprintf(stderr, "Run 'ksfsg --help' for usage.\n");
    return 2;
}

bool WordsCommand(const std::string& c)
{
    return c == "test" || c == "translate" || c == "understand" || c == "substrs";
}

bool ExternsCommand(const std::string& c)
{
    return WordsCommand(c) || c == "enumerate";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage("no command given", nullptr);
    std::string cmd = argv[1];
    if (cmd == "-h" || cmd == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (cmd == "export") return ExportCommand(argc - 1, argv + 1, stdout, stderr);
    if (cmd == "--version") {
        std::printf("ksfsg %s\n", KSBNFC_VERSION);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& c : kCommands)
        if (cmd == c.name) command = &c;
    if (!command) return Usage("unknown command", argv[1]);

    FsgRequest r;
    r.command = cmd;
    bool have_file = false;
    bool words_follow = false; // after the file, everything is a word
    for (int i = 2; i < argc; i++) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long v = 0;
        if (words_follow) {
            r.words.push_back(a);
            continue;
        }
        // --name=value is --name value; the value then takes no argument.
        std::string split;
        const char* eq = a[0] == '-' && a[1] == '-' ? std::strchr(a, '=') : nullptr;
        if (eq) {
            split.assign(a, (size_t)(eq - a));
            a = split.c_str();
            next = eq + 1;
            i--; // the i++ below for the value
        }
        int before = i;
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            std::fputs(command->help, stdout);
            if (ExternsCommand(cmd)) std::fputs(kExternHelp, stdout);
            return 0;
        }
        if (cmd == "list" && std::strcmp(a, "-v") == 0) {
            if (!next || !ParseInt(next, 0, 10, v)) return Usage("-v needs a number from 0 to 10", nullptr);
            r.verbosity = (int)v;
            i++;
        } else if (cmd == "enumerate" && (std::strcmp(a, "--max") == 0 || std::strcmp(a, "--loops") == 0)) {
            if (!next || !ParseInt(next, 0, 100000, v)) return Usage(a, "needs a number from 0 to 100000");
            (a[2] == 'm' ? r.max_words : r.max_loops) = (int)v;
            i++;
        } else if (cmd == "enumerate" && std::strcmp(a, "--full") == 0) {
            r.full = true;
        } else if (cmd == "enumerate" && std::strcmp(a, "--first") == 0) {
            r.full = false;
        } else if (cmd == "enumerate" && std::strcmp(a, "--anno") == 0) {
            r.annotations = true;
        } else if (cmd == "enumerate" && std::strcmp(a, "--probs") == 0) {
            r.probabilities = true;
        } else if (cmd == "random" && std::strcmp(a, "-n") == 0) {
            if (!next || !ParseInt(next, 0, INT_MAX, v)) return Usage("-n needs a count", nullptr);
            r.count = (int)v;
            i++;
        } else if (cmd == "random" && std::strcmp(a, "--seed") == 0) {
            if (!next || !ParseInt(next, 0, INT_MAX, v))
                return Usage("--seed needs a non-negative number", nullptr);
            r.seed = (unsigned)v;
            i++;
        } else if (ExternsCommand(cmd) && std::strcmp(a, "-x") == 0) {
            const char* eq = next ? std::strchr(next, '=') : nullptr;
            if (!eq || eq == next || !eq[1]) return Usage("-x needs NAME=FILE", nullptr);
            r.externs.emplace_back(std::string(next, (size_t)(eq - next)), std::string(eq + 1));
            i++;
        } else if (ExternsCommand(cmd) && std::strcmp(a, "--externs") == 0) {
            r.load_externs = true;
        } else if (a[0] == '-' && a[1] != 0 && !have_file) {
            return Usage("unknown option", a);
        } else if (eq) {
            return Usage("option takes no value:", argv[i + 1]);
        } else if (!have_file) {
            r.file = a;
            have_file = true;
            words_follow = WordsCommand(cmd);
        } else {
            return Usage("unexpected argument", a);
        }
        if (eq && i == before) return Usage("option takes no value:", argv[i + 1]);
    }
    if (!have_file) return Usage("no FSG file given", nullptr);
    if (WordsCommand(cmd)) {
        if (r.words.empty() || (r.words.size() == 1 && r.words[0] == "-")) {
            r.words.clear();
            r.from_input = true;
        }
    }
    if (r.from_input && r.file == "-") return Usage("the FSG file and the word strings cannot both come from standard input", nullptr);
    return FsgMain(r, stdin, stdout, stderr);
}

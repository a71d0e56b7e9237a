// ksbnfc.cpp: the grammar compiler tool's command line. Parses the switches
// into CompileOptions and hands them to CompileMain (ksbnfc_main.cpp).
#include "ksbnfc_main.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char kUsage[] =
    "usage: ksbnfc [options] GRAMMAR.bnf\n"
    "Compiles each root of a BNF grammar into an FSG file.\n"
    "\n"
    "  -en, --engine            engine FSG (.fsg): no annotations, null arcs removed\n"
    "  -tr, --translation       translation FSG (.fst): null arcs, intern rules, translations\n"
    "  -o FILE                  output file (one root only; - for standard output)\n"
    "  -d DIR                   output directory; files are named after the roots\n"
    "  -w, --warnings N         warnings: 0 off, >0 on standard error (default 1),\n"
    "                           <0 printed by the compiler as they occur\n"
    "  -g, --debug N            debug level of the listings and traces (default 0)\n"
    "  -c, --codepage N         code page of the grammar: a number, or utf-8 for 65001\n"
    "                           (default: from the environment)\n"
    "  -f, --flags N            phrase flags of the FSG file (decimal or 0x..., default 0x410)\n"
    "      --eq-arcs N          equalise arc probabilities (default 1)\n"
    "      --eq-sentences N     equalise sentence probabilities when --eq-arcs is 0 (default 0)\n"
    "      --null-arcs N        keep null arcs (default 0; 1 with -tr)\n"
    "      --annotations N      keep annotations and translations (default 1; 0 with -en)\n"
    "  -t, --time               print the compile time in seconds on standard error\n"
    "  -h, --help               print this help\n"
    "\n"
    "Without -o or -d a grammar with one root is written next to its source\n"
    "with the extension of its mode; several roots are written next to it\n"
    "under their root names.\n";

// An integer switch: the spellings and the library parameter it sets.
struct IntSwitch {
    const char* shortname;
    const char* longname;
    const char* param;
};
const IntSwitch kIntSwitches[] = {
    {"-w", "--warnings", "warnings"},
    {"-g", "--debug", "dbglevel"},
    {"-c", "--codepage", "codePage"},
    {"-f", "--flags", "fsgFlags"},
    {nullptr, "--eq-arcs", "equalizeArcProbabilities"},
    {nullptr, "--eq-sentences", "equalizeSentenceProbabilities"},
    {nullptr, "--null-arcs", "useNullArcs"},
    {nullptr, "--annotations", "emitAnnotations"},
};

bool Is(const char* arg, const char* name)
{
    return name && std::strcmp(arg, name) == 0;
}

bool ParseInt(const char* s, long& v)
{
    errno = 0;
    char* end = nullptr;
    long long x = std::strtoll(s, &end, 0);
    if (errno || end == s || *end || x < INT_MIN || x > UINT_MAX) return false;
    v = (long)(int)(unsigned int)x; // flags may be given as 32-bit masks
    return true;
}

int UsageError(const char* fmt, const char* what)
{
    std::fprintf(stderr, "ksbnfc: ");
    std::fprintf(stderr, fmt, what);
    std::fprintf(stderr, "\n(ksbnfc --help lists the options)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    CompileOptions o;
    bool warnings_given = false;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (Is(a, "-h") || Is(a, "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (Is(a, "-en") || Is(a, "--engine")) {
            o.ints.emplace_back("enMode", 1);
        } else if (Is(a, "-tr") || Is(a, "--translation")) {
            o.ints.emplace_back("trMode", 1);
        } else if (Is(a, "-t") || Is(a, "--time")) {
            o.ints.emplace_back("time", 1);
        } else if (Is(a, "-o") || Is(a, "-d")) {
            const char* v = value();
            if (!v || !*v) return UsageError("%s needs a name", a);
            std::string& slot = Is(a, "-o") ? o.fsg_file : o.fsg_directory;
            if (!slot.empty()) return UsageError("%s given twice", a);
            slot = v;
        } else if (a[0] == '-' && a[1] != 0) {
            const IntSwitch* sw = nullptr;
            for (const IntSwitch& s : kIntSwitches)
                if (Is(a, s.shortname) || Is(a, s.longname)) sw = &s;
            if (!sw) return UsageError("unknown option %s", a);
            const char* v = value();
            long n;
            if (v && std::strcmp(sw->param, "codePage") == 0 &&
                (strcasecmp(v, "utf-8") == 0 || strcasecmp(v, "utf8") == 0))
                n = 65001;
            else if (!v || !ParseInt(v, n))
                return UsageError("%s needs an integer", a);
            if (std::strcmp(sw->param, "warnings") == 0) warnings_given = true;
            o.ints.emplace_back(sw->param, n);
        } else {
            if (!o.bnf_file.empty()) return UsageError("more than one grammar file: %s", a);
            o.bnf_file = a;
        }
    }
    // A missing grammar file is reported by the library, in its own words.
    // Warnings are shown unless turned off; the library alone would discard them.
    if (!warnings_given) o.ints.emplace_back("warnings", 1);
    return CompileMain(o, stdout, stderr);
}

// ksbnfc.cpp: the grammar compiler tool's command line. Parses the switches
// into a CompileRequest, refuses contradictory or repeated ones, and hands
// it to CompileMain (ksbnfc_main.cpp).
#include "ksbnfc_main.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <strings.h>
#include <vector>

namespace {

const char kUsage[] =
    "usage: ksbnfc [options] GRAMMAR.bnf|GRAMMAR.gram|LIST.txt\n"
    "Compiles each root of a BNF or JSGF grammar into an FSG file. GRAMMAR - reads the\n"
    "grammar from standard input (its includes are then found from the\n"
    "current directory). A .txt list of slot values (one a line, or\n"
    "'spoken words : value') compiles to one root named after the file.\n"
    "Includes not found beside their file are looked for in $KSBNFC_GRAMMARS\n"
    "(folders separated by ':') and in the shipped grammars.\n"
    "\n"
    "  -en, --engine            engine FSG (.fsg): no annotations, null arcs removed\n"
    "  -tr, --translation       translation FSG (.fst): null arcs, intern rules, translations\n"
    "  -o, --output FILE        output file (one root only; - for standard output)\n"
    "  -d, --directory DIR      output directory, created if missing; files are\n"
    "                           named after the roots\n"
    "      --syntax bnf|jsgf|list\n"
    "                           notation of the grammar (default: jsgf for .gram,\n"
    "                           list for .txt, else bnf)\n"
    "  -w, --warnings N         warnings: 0 off, >0 on standard error (default 1),\n"
    "                           <0 printed by the compiler as they occur\n"
    "  -g, --debug N            debug level (0 to 9) of the listings and traces on\n"
    "                           standard error (default 0)\n"
    "  -c, --codepage N         code page of the grammar: 1252, 850, 932, 936, 949,\n"
    "                           950 or 65001 (utf-8) (default: from the environment)\n"
    "  -f, --flags N            phrase flags of the FSG file (decimal or 0x..., default 0x410)\n"
    "      --eq-arcs N          equalise arc probabilities (default 1)\n"
    "      --eq-sentences N     equalise sentence probabilities when --eq-arcs is 0 (default 0)\n"
    "      --null-arcs N        keep null arcs (default 0; 1 with -tr)\n"
    "      --annotations N      keep annotations and translations (default 1; 0 with -en)\n"
    "  -t, --time               print the compile time in seconds on standard error\n"
    "  -h, --help               print this help\n"
    "      --version            print the version\n"
    "\n"
    "Long options also take their value as --name=VALUE. Without -o or -d a\n"
    "grammar with one root is written next to its source with the extension of\n"
    "its mode; several roots are written next to it under their root names.\n"
    "Messages read FILE:LINE:COLUMN: error: TEXT (or warning:). Exit status: 0\n"
    "compiled, 1 the grammar could not be compiled, 2 usage error.\n";

// A switch that takes a value: its spellings and the setting it gives.
enum class Setting { Output, Directory, Warnings, Debug, CodePage, Flags, EqArcs, EqSentences, NullArcs, Annotations };
struct ValueSwitch {
    const char* shortname;
    const char* longname;
    Setting setting;
};
const ValueSwitch kValueSwitches[] = {
    {"-o", "--output", Setting::Output},
    {"-d", "--directory", Setting::Directory},
    {"-w", "--warnings", Setting::Warnings},
    {"-g", "--debug", Setting::Debug},
    {"-c", "--codepage", Setting::CodePage},
    {"-f", "--flags", Setting::Flags},
    {nullptr, "--eq-arcs", Setting::EqArcs},
    {nullptr, "--eq-sentences", Setting::EqSentences},
    {nullptr, "--null-arcs", Setting::NullArcs},
    {nullptr, "--annotations", Setting::Annotations},
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

// At most one bit of each group of alternatives may be set.
bool Contradictory(long flags)
{
    auto bits = [flags](long mask) {
        int n = 0;
        for (long b = flags & mask; b; b &= b - 1) n++;
        return n;
    };
    return bits(PV_PHRASE_SILENCE_MASK) > 1 || bits(PV_PHRASE_INSERTION_MASK) > 1 ||
           bits(PV_PHRASE_NORMALIZE | PV_PHRASE_DONT_NORMALIZE) > 1;
}

// Stores the integer n of a switch in the options.
void Set(ksbnfc::CompileOptions& o, Setting setting, int n)
{
    switch (setting) {
    case Setting::Warnings: o.warnings = n; break;
    case Setting::Debug: o.debug_level = n; break;
    case Setting::CodePage: o.code_page = n; break;
    case Setting::Flags: o.fsg_flags = n; break;
    case Setting::EqArcs: o.equalize_arcs = n != 0; break;
    case Setting::EqSentences: o.equalize_sentences = n != 0; break;
    case Setting::NullArcs: o.use_null_arcs = n != 0; break;
    case Setting::Annotations: o.annotations = n; break;
    case Setting::Output:
    case Setting::Directory: break;
    }
}

} // namespace

int main(int argc, char** argv)
{
    // A compile allocates and frees millions of small parse and network
    // objects between larger blocks; glibc's fast bins then spend about a
    // tenth of the run merging freed chunks back together. Without them the
    // same memory is reused directly, at no cost in peak size.
    mallopt(M_MXFAST, 0);
    if (argc < 2) return UsageError("%s", "no grammar file given");
    CompileRequest r;
    ksbnfc::CompileOptions& o = r.options;
    bool en = false, tr = false, time_given = false;
    std::vector<Setting> given;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (Is(a, "-h") || Is(a, "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (Is(a, "--version")) {
            std::printf("ksbnfc %s\n", KSBNFC_VERSION);
            return 0;
        } else if (Is(a, "-en") || Is(a, "--engine")) {
            en = true;
        } else if (Is(a, "-tr") || Is(a, "--translation")) {
            tr = true;
        } else if (Is(a, "-t") || Is(a, "--time")) {
            if (time_given) return UsageError("%s given twice", a);
            o.time = time_given = true;
        } else if (Is(a, "--syntax") || std::strncmp(a, "--syntax=", 9) == 0) {
            const char* v = a[8] == '=' ? a + 9 : i + 1 < argc ? argv[++i] : nullptr;
            if (!v || (std::strcmp(v, "bnf") != 0 && std::strcmp(v, "jsgf") != 0 && std::strcmp(v, "list") != 0))
                return UsageError("%s needs bnf, jsgf or list", "--syntax");
            o.syntax = v[0] == 'b' ? ksbnfc::Syntax::Bnf : v[0] == 'j' ? ksbnfc::Syntax::Jsgf : ksbnfc::Syntax::List;
        } else if (a[0] == '-' && a[1] != 0) {
            // --name=value is --name value.
            std::string name = a;
            const char* v = nullptr;
            size_t eq = name.find('=');
            if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
                v = a + eq + 1;
                name.resize(eq);
            }
            const ValueSwitch* sw = nullptr;
            for (const ValueSwitch& s : kValueSwitches)
                if (Is(name.c_str(), s.shortname) || Is(name.c_str(), s.longname)) sw = &s;
            if (!sw) return UsageError("unknown option %s", a);
            if (!v) v = i + 1 < argc ? argv[++i] : nullptr;
            if (sw->setting == Setting::Output || sw->setting == Setting::Directory) {
                if (!v || !*v) return UsageError("%s needs a name", name.c_str());
                std::string& slot = sw->setting == Setting::Output ? o.output_file : o.output_directory;
                if (!slot.empty()) return UsageError("%s given twice", name.c_str());
                slot = v;
                continue;
            }
            long n;
            bool utf8 = v && sw->setting == Setting::CodePage && (!strcasecmp(v, "utf-8") || !strcasecmp(v, "utf8"));
            if (utf8) n = 65001;
            else if (!v || !ParseInt(v, n)) return UsageError("%s needs an integer", name.c_str());
            if (sw->setting == Setting::Debug && (n < 0 || n > 9))
                return UsageError("%s", (name + " takes a debug level from 0 to 9, not " + v).c_str());
            if (sw->setting == Setting::Flags && Contradictory(n))
                return UsageError("flags %s set contradictory bits (one silence, one insertion and one "
                                  "normalisation choice at most)", v);
            for (Setting s : given)
                if (s == sw->setting) return UsageError("%s given twice", name.c_str());
            given.push_back(sw->setting);
            Set(o, sw->setting, (int)n);
        } else {
            if (!r.grammar.empty()) return UsageError("more than one grammar file: %s", a);
            r.grammar = a;
        }
    }
    if (en && tr) return UsageError("%s", "-en and -tr exclude each other");
    if (en) o.mode = ksbnfc::Mode::Engine;
    if (tr) o.mode = ksbnfc::Mode::Translation;
    if (r.grammar.empty()) return UsageError("%s", "no grammar file given");
    if (!o.output_file.empty() && !o.output_directory.empty()) return UsageError("%s", "-o and -d exclude each other");
    if (r.grammar == "-" && o.output_file.empty() && o.output_directory.empty())
        return UsageError("%s", "a grammar read from standard input needs -o or -d");
    r.to_stdout = o.output_file == "-";
    return CompileMain(r, stdout, stderr);
}

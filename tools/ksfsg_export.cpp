// ksfsg_export.cpp: "ksfsg export": parses the command's options, exports
// the FSG file through ksexport and writes the text (and, for openfst, the
// symbol table) to the named files or to standard output.
#include "ksfsg_export.h"

#include "fsg_export.h"
#include "tool_options.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const char kHelp[] =
    "usage: ksfsg export --format F [options] FILE [-o OUT]\n"
    "Writes an engine or translation FSG in another tool's text format:\n"
    "  sphinx    the recogniser's text FSG (linear probabilities)\n"
    "  openfst   an acceptor for 'fstcompile --acceptor' (weights -ln p) and\n"
    "            its symbol table, written beside OUT with OUT's extension\n"
    "            replaced by .syms (-o order.txt: order.syms)\n"
    "  dot       a Graphviz drawing (word, probability, annotation per arc)\n"
    "Intern sub-FSGs and extern grammars are spliced in; externs are found\n"
    "beside FILE (NAME plus FILE's extension) unless named with --extern.\n"
    "  --format F        sphinx, openfst or dot\n"
    "  -o OUT            output file (default: standard output)\n"
    "  --symbols FILE    where the openfst symbol table goes\n"
    "  --extern NAME=FILE, -x NAME=FILE\n"
    "                    the extern grammar NAME is FILE (repeatable)\n"
    "  --no-splice       keep sub-grammar calls as arcs labelled <NAME>\n"
    "  --lower           lower-case the words\n"
    "  --name NAME       grammar name in the output (default: FILE's base name)\n";

int Usage(std::FILE* err, const std::string& msg)
{
    std::fprintf(err, "ksfsg export: %s\nRun 'ksfsg export --help' for usage.\n", msg.c_str());
    return 2;
}

bool WriteFile(const std::string& path, const std::string& text, std::FILE* out, std::FILE* err)
{
    std::FILE* f = path.empty() || path == "-" ? out : std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(err, "ksfsg export: can't write '%s' (%s)\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (f == out ? std::fflush(f) == 0 : std::fclose(f) == 0) && ok;
    if (!ok) std::fprintf(err, "ksfsg export: can't write '%s' (%s)\n", f == out ? "standard output" : path.c_str(), std::strerror(errno));
    return ok;
}

// OUT with its extension replaced by .syms.
std::string SymbolsBeside(const std::string& out)
{
    size_t slash = out.find_last_of('/');
    size_t dot = out.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return out + ".syms";
    return out.substr(0, dot) + ".syms";
}

} // namespace

int ExportCommand(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    ksexport::Options o;
    std::string format_name, output, symbols_file;
    OptionReader opt(argc, argv);
    while (opt.Next()) {
        const std::string& a = opt.Arg();
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, out);
            return 0;
        } else if (a == "--format" || a == "-f") {
            if (!opt.Value(format_name)) return Usage(err, "--format needs sphinx, openfst or dot");
        } else if (a == "-o") {
            if (!opt.Value(output)) return Usage(err, "-o needs a file");
        } else if (a == "--symbols") {
            if (!opt.Value(symbols_file)) return Usage(err, "--symbols needs a file");
        } else if (a == "--name") {
            if (!opt.Value(o.name)) return Usage(err, "--name needs a name");
        } else if (opt.IsExtern()) {
            if (!opt.Extern(o.externs)) return Usage(err, a + " needs NAME=FILE");
        } else if (a == "--no-splice") {
            o.splice = false;
        } else if (a == "--lower") {
            o.lower = true;
        } else if (opt.IsOption()) {
            return Usage(err, "unknown option " + a);
        } else if (o.source.empty()) {
            o.source = a;
        } else {
            return Usage(err, "unexpected argument " + a);
        }
    }
    ksexport::Format format;
    if (format_name.empty()) return Usage(err, "no --format given");
    if (!ksexport::ParseFormat(format_name, &format))
        return Usage(err, "unknown format '" + format_name + "' (sphinx, openfst or dot)");
    if (o.source.empty()) return Usage(err, "no FSG file given");
    bool to_stdout = output.empty() || output == "-";
    if (format == ksexport::Format::OpenFst && symbols_file.empty()) {
        if (to_stdout) return Usage(err, "openfst output to standard output needs --symbols FILE");
        symbols_file = SymbolsBeside(output);
    }

    std::string text, symbols;
    try {
        text = ksexport::ExportFile(format, o, format == ksexport::Format::OpenFst ? &symbols : nullptr);
    } catch (const ksexport::Error& e) {
        std::fprintf(err, "ksfsg export: %s: %s\n", o.source.c_str(), e.what());
        return 2;
    }
    // Every failure is 2, as for the other commands (1 is theirs for a
    // word string not accepted).
    if (!WriteFile(output, text, out, err)) return 2;
    if (!symbols_file.empty() && !WriteFile(symbols_file, symbols, out, err)) return 2;
    return 0;
}

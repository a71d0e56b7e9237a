// ksbnfc_main.cpp: the work of the grammar compiler tool. CompileMain
// compiles through the inner interface with the listing on standard error,
// prints the warnings and the error in the FILE:LINE:COLUMN form, and only
// then creates the output directory and writes the files (or the file of
// "-o -" to the product stream): a failed compile writes nothing.
#include "ksbnfc_main.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

// mkdir -p: every missing directory on the way to dir.
bool MakeDirectories(const std::string& dir, std::FILE* err)
{
    for (size_t i = 1; i <= dir.size(); i++) {
        if (i < dir.size() && dir[i] != '/') continue;
        std::string part = dir.substr(0, i);
        struct stat st;
        if (stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            std::fprintf(err, "ksbnfc: error: can't create directory '%s' (%s)\n", part.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    return true;
}

// One message on a line of its own. A warning text may end in a line end of
// its own: printed as it arises, that leaves an empty line after it, as the
// compiler has always printed it; printed after the compile it does not.
void Print(const ksbnfc::Diagnostic& d, const std::string& fallback, bool as_it_arises, std::FILE* err)
{
    std::fprintf(err, "%s\n", d.Located(fallback).c_str());
    if (as_it_arises && !d.text.empty() && d.text.back() == '\n') std::fputc('\n', err);
}

// Writes bytes to out, or to the file path when out is null.
bool WriteAll(const std::string& bytes, std::FILE* out, const std::string& path, std::FILE* err)
{
    std::FILE* f = out ? out : std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(err, "ksbnfc: error: can't open '%s' (%s)\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if ((out ? std::fflush(f) : std::fclose(f)) != 0) ok = false;
    if (!ok) {
        std::fprintf(err, "ksbnfc: error: can't write %s (%s)\n", out ? "standard output" : ("'" + path + "'").c_str(),
                     std::strerror(errno));
        if (!out) std::remove(path.c_str());
    }
    return ok;
}

// A grammar with translations given neither -en nor -tr: the switches are
// wanting, not the grammar.
bool ModeWanted(const CompileRequest& r, const std::string& text)
{
    return r.options.mode == ksbnfc::Mode::Plain &&
           text == "please specify -tr for translation fsg or -en for engine fsg";
}

} // namespace

std::string MessageFileName(const std::string& grammar)
{
    return grammar == "-" ? "<stdin>" : grammar;
}

int CompileMain(const CompileRequest& r, std::FILE* out, std::FILE* err)
{
    ksbnfc::CompileOptions o = r.options;
    o.write_files = false;
    o.listing = err;

    // Messages without a position of their own belong to the grammar.
    const std::string file = MessageFileName(r.grammar);
    std::vector<ksbnfc::Diagnostic> held;
    auto sink = [&](const ksbnfc::Diagnostic& d) {
        if (o.warnings < 0) Print(d, file, true, err);
        else held.push_back(d);
    };
    std::vector<ksbnfc::CompiledFile> files;
    try {
        files = ksbnfc::Compile(r.grammar, o, sink);
    } catch (const ksbnfc::Failure& f) {
        // "can't open" names its file, so it goes under the tool's name (an
        // include that cannot be opened has its place). A failed compile
        // shows its error alone.
        // A missing mode is a usage error. A hint about how the grammar was
        // meant goes before the error it explains.
        for (const ksbnfc::Diagnostic& h : held)
            if (h.hint) Print(h, file, false, err);
        const ksbnfc::Diagnostic& d = f.diagnostic();
        Print(d, d.text.compare(0, 10, "can't open") == 0 ? "ksbnfc" : file, false, err);
        return ModeWanted(r, d.text) ? 2 : 1;
    }
    for (const ksbnfc::Diagnostic& d : held) Print(d, file, false, err);
    if (!r.to_stdout && !o.output_directory.empty() && !MakeDirectories(o.output_directory, err)) return 1;
    for (const ksbnfc::CompiledFile& f : files)
        if (!WriteAll(f.bytes, r.to_stdout ? out : nullptr, f.path, err)) return 1;
    return 0;
}

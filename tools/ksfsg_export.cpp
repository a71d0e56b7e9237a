// ksfsg_export.cpp: "ksfsg export": parses the command's options, exports
// the FSG file through ksexport and writes the text as it is made (and, for
// openfst, the symbol table after it) to the named files or to standard
// output.
#include "ksfsg_export.h"

#include "fsg_export.h"
#include "tool_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
    "  --name NAME       grammar name in the output (default: FILE's base name)\n"
    "  --max-bytes N     stop with an error where the text would pass N bytes\n"
    "                    (default 1000000000); OUT is then left as it was\n";

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

struct CantWrite : std::runtime_error {
    CantWrite(const std::string& what, int error) : std::runtime_error(what), error(error) {}
    int error;
};

// The exported text as it comes, for standard output or a file. A file
// that is regular or new is written under a temporary name beside it,
// created at the first byte, and renamed over it by Commit: a failure
// leaves the file as it was. Anything else (a device, a pipe, a symbolic
// link) is written in place.
class Output : public ksexport::Sink {
public:
    Output(const std::string& path, std::FILE* out) : path_(path), out_(out) {}
    ~Output() { Discard(); }

    bool ToStdout() const { return path_.empty() || path_ == "-"; }
    std::string Where() const { return ToStdout() ? "standard output" : path_; }
    size_t Written() const { return written_; }

    void Put(const char* data, size_t size) override
    {
        if (!f_) Open();
        if (std::fwrite(data, 1, size, f_) != size) throw CantWrite(Where(), errno);
        written_ += size;
    }

    // Completes the output; false (with errno set) when that fails.
    bool Commit()
    {
        if (!f_) Open();
        if (f_ == out_) return std::fflush(out_) == 0;
        std::FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) return false;
        if (temp_.empty()) return true;
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) return false;
        temp_.clear();
        return true;
    }

    // What an error part way leaves, for its message; only the bound on the
    // text stops the output after its first bytes.
    std::string Cut() const
    {
        if (!written_) return "";
        if (ToStdout()) return "; standard output holds the text only in part";
        if (temp_.empty()) return "; " + path_ + " holds the text only in part";
        return "; the partial text was removed and " + path_ + " left as it was";
    }

    // Drops a file not yet committed.
    void Discard()
    {
        if (f_ && f_ != out_) std::fclose(f_);
        f_ = nullptr;
        if (!temp_.empty()) std::remove(temp_.c_str());
        temp_.clear();
    }

private:
    void Open()
    {
        if (ToStdout()) {
            f_ = out_;
            return;
        }
        struct stat st;
        bool exists = lstat(path_.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            f_ = std::fopen(path_.c_str(), "wb");
            if (!f_) throw CantWrite(path_, errno);
            return;
        }
        std::string name = path_ + ".XXXXXX";
        int fd = mkstemp(&name[0]);
        if (fd < 0) throw CantWrite(path_, errno);
        temp_ = name;
        // As fopen would make it, or as it was.
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
        f_ = fdopen(fd, "wb");
        if (!f_) {
            int e = errno;
            close(fd);
            throw CantWrite(path_, e);
        }
    }

    std::string path_;
    std::FILE* out_;
    std::FILE* f_ = nullptr;
    std::string temp_;
    size_t written_ = 0;
};

// A positive decimal count that fits size_t.
bool Bytes(const std::string& text, size_t* n)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno || v == 0 || v > SIZE_MAX) return false;
    *n = (size_t)v;
    return true;
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
        } else if (a == "--max-bytes") {
            std::string n;
            if (!opt.Value(n) || !Bytes(n, &o.max_bytes)) return Usage(err, "--max-bytes needs a number of bytes");
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

    // Every failure is 2, as for the other commands (1 is theirs for a
    // word string not accepted).
    Output text(output, out);
    std::string symbols;
    try {
        ksexport::ExportFile(format, o, text, format == ksexport::Format::OpenFst ? &symbols : nullptr);
    } catch (const ksexport::Error& e) {
        std::string cut = text.Cut();
        text.Discard();
        std::fprintf(err, "ksfsg export: %s: %s%s\n", o.source.c_str(), e.what(), cut.c_str());
        return 2;
    } catch (const CantWrite& e) {
        text.Discard();
        std::fprintf(err, "ksfsg export: can't write '%s' (%s)\n", e.what(), std::strerror(e.error));
        return 2;
    }
    if (!text.Commit()) {
        std::fprintf(err, "ksfsg export: can't write '%s' (%s)\n", text.Where().c_str(), std::strerror(errno));
        return 2;
    }
    if (!symbols_file.empty() && !WriteFile(symbols_file, symbols, out, err)) return 2;
    return 0;
}

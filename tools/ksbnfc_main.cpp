// ksbnfc_main.cpp: the work of the grammar compiler tool. CompileMain turns
// the parsed options into the library's parameter list, creates the output
// directory, runs KsCompileGrammar and reports its messages in the
// FILE:LINE:COLUMN form; "-o -" goes through a temporary file that is copied
// to the product stream.
#include "ksbnfc_main.h"

#include "ksbnfc.h"
#include "tool_messages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The parameter list points into o and tmp; both outlive the call.
std::vector<KsArg> MakeArgs(const CompileOptions& o, const std::string& fsg_file)
{
    std::vector<KsArg> args;
    auto add = [&](const char* name, long value) { args.push_back(KsArg{const_cast<char*>(name), value}); };
    auto add_text = [&](const char* name, const std::string& s) {
        if (!s.empty()) add(name, reinterpret_cast<long>(s.c_str()));
    };
    add_text("bnfFile", o.bnf_file);
    add_text("fsgFile", fsg_file);
    add_text("fsgDirectory", o.fsg_directory);
    add_text("syntax", o.syntax);
    for (const auto& kv : o.ints) add(kv.first.c_str(), kv.second);
    return args;
}

bool CopyToStream(const char* path, std::FILE* out, std::FILE* err)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        std::fprintf(err, "ksbnfc: error: can't read '%s' (%s)\n", path, std::strerror(errno));
        return false;
    }
    char buf[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
        if (std::fwrite(buf, 1, n, out) != n) {
            ok = false;
            break;
        }
    std::fclose(in);
    if (std::fflush(out) != 0) ok = false;
    if (!ok) std::fprintf(err, "ksbnfc: error: can't write standard output (%s)\n", std::strerror(errno));
    return ok;
}

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

} // namespace

std::string MessageFileName(const std::string& bnf_file)
{
    return bnf_file == "-" ? "<stdin>" : bnf_file;
}

int CompileMain(const CompileOptions& o, std::FILE* out, std::FILE* err, ProductOutput* library_output)
{
    if (!o.fsg_directory.empty() && !MakeDirectories(o.fsg_directory, err)) return 1;
    std::string fsg_file = o.fsg_file;
    std::string tmp;
    if (fsg_file == "-") {
        const char* dir = std::getenv("TMPDIR");
        tmp = std::string(dir && *dir ? dir : "/tmp") + "/ksbnfc.XXXXXX";
        int fd = mkstemp(&tmp[0]);
        if (fd < 0) {
            std::fprintf(err, "ksbnfc: error: can't create a temporary file (%s)\n", std::strerror(errno));
            return 1;
        }
        close(fd);
        fsg_file = tmp;
    }

    std::vector<KsArg> args = MakeArgs(o, fsg_file);
    int rc = KsCompileGrammar((int)args.size(), args.data());
    // The library's own printing comes before its messages.
    if (library_output) library_output->Finish();
    std::fflush(stdout);
    char* msg = nullptr;
    KsGetMessage(&msg);

    // Messages without a position of their own belong to the grammar, except
    // those about files the tool was asked to open or write.
    std::string file = MessageFileName(o.bnf_file);
    int status = 0;
    if (rc == 1000) {
        bool about_a_file = std::strncmp(msg, "can't open", 10) == 0 || o.bnf_file.empty();
        std::fprintf(err, "%s\n", FormatMessage(msg, "error", about_a_file ? "ksbnfc" : file).c_str());
        status = 1;
    } else if (rc == 1) {
        PrintWarnings(msg, file, err);
    }
    if (!tmp.empty()) {
        if (status == 0 && !CopyToStream(tmp.c_str(), out, err)) status = 1;
        unlink(tmp.c_str());
    }
    return status;
}

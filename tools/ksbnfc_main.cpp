// ksbnfc_main.cpp: the work of the grammar compiler tool. CompileMain turns
// the parsed options into the library's parameter list, runs
// KsCompileGrammar and reports its messages; "-o -" goes through a
// temporary file that is copied to standard output.
#include "ksbnfc_main.h"

#include "ksbnfc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
    for (const auto& kv : o.ints) add(kv.first.c_str(), kv.second);
    return args;
}

bool CopyToStream(const char* path, std::FILE* out, std::FILE* err)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        std::fprintf(err, "ksbnfc: can't read '%s' (%s)\n", path, std::strerror(errno));
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
    if (!ok) std::fprintf(err, "ksbnfc: can't write standard output (%s)\n", std::strerror(errno));
    return ok;
}

} // namespace

int CompileMain(const CompileOptions& o, std::FILE* out, std::FILE* err)
{
    std::string fsg_file = o.fsg_file;
    std::string tmp;
    if (fsg_file == "-") {
        const char* dir = std::getenv("TMPDIR");
        tmp = std::string(dir && *dir ? dir : "/tmp") + "/ksbnfc.XXXXXX";
        int fd = mkstemp(&tmp[0]);
        if (fd < 0) {
            std::fprintf(err, "ksbnfc: can't create a temporary file (%s)\n", std::strerror(errno));
            return 1;
        }
        close(fd);
        fsg_file = tmp;
    }

    std::vector<KsArg> args = MakeArgs(o, fsg_file);
    int rc = KsCompileGrammar((int)args.size(), args.data());
    char* msg = nullptr;
    KsGetMessage(&msg);

    int status = 0;
    if (rc == 1000) {
        std::fprintf(err, "ksbnfc: %s\n", msg);
        status = 1;
    } else if (rc == 1) {
        // Warnings arrive as tab-indented lines, each ending in a line feed.
        std::fprintf(err, "%s", msg);
    }
    if (!tmp.empty()) {
        if (status == 0 && !CopyToStream(tmp.c_str(), out, err)) status = 1;
        unlink(tmp.c_str());
    }
    return status;
}

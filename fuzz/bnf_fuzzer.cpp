// bnf_fuzzer.cpp: libFuzzer target for the BNF front end and the compiler.
// Each input is a grammar text, parsed from memory and compiled in engine and
// in translation mode through normalisation to a written file, which must
// read back. The library's errors (thrown as char*) are expected; crashes,
// leaks, out-of-bounds accesses and an unreadable file of our own are not.
#include "trule.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// Grammar compilation is superlinear in the text; longer inputs only slow
// the search down without reaching new code.
constexpr size_t kMaxInput = 4096;

const std::string& TempFile()
{
    static const std::string path = [] {
        char tmpl[] = "/tmp/bnf_fuzz_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(tmpl);
    }();
    return path;
}

// Same order of work and of release as the library's compile driver, from a
// buffer instead of a file.
void CompileText(const std::string& text, bool translation)
{
    parms p;
    if (translation)
        p.do_tr_mode();
    else
        p.do_en_mode();
    TSubFSG::Eq eq = p.eq_arcs ? TSubFSG::EqArcProb : p.eq_sentences ? TSubFSG::EqSentProb : TSubFSG::EqNorm;

    TBNFStream* stream = new TBNFStream(text.data(), (int)text.size());
    stream->Annotations(p.annotations);
    stream->NumOnly(p.numonly);
    TArray<TGrammar*> grammars;
    int next = 0;
    TFSG* fsg = nullptr;
    try {
        stream->Compile(grammars);
        if (stream->NeedTr() && p.annotations && !p.use_null_arcs) Error("needs a mode");
        for (int i = 0; i < grammars.length; i++) {
            fsg = grammars[i]->Compile(p.use_null_arcs, p.annotations, i == grammars.length - 1, p.intern_all, eq);
            fsg->AddRef();
            fsg->Flags(p.flags);
            fsg->Normalize();
            fsg->WriteFile(TempFile().c_str());

            TFSG back(mbstring("back"), TSubFSG::EqNorm);
            try {
                back.ReadFile(TempFile().c_str(), 0);
            } catch (char* msg) {
                std::fprintf(stderr, "a file just written does not read back: %s\n", msg);
                std::abort();
            }

            delete grammars[i];
            grammars[i] = nullptr;
            next = i + 1;
            fsg->DelRef();
            fsg = nullptr;
        }
    } catch (char*) {
    }
    delete stream;
    for (int i = next; i < grammars.length; i++) delete grammars[i];
    if (fsg) fsg->DelRef();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxInput) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    // An include of a device or a process file may block or never end.
    if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos) return 0;
    ::dbglevel = 0;
    ::warnings = 0;
    CompileText(text, false);
    CompileText(text, true);
    return 0;
}

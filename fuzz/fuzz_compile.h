// fuzz_compile.h: what the grammar fuzz targets share: a grammar text parsed
// from memory and compiled through normalisation to a written file, which
// must read back. The library's errors (thrown as char*) are expected.
#ifndef KSBNFC_FUZZ_COMPILE_H
#define KSBNFC_FUZZ_COMPILE_H

#include "trule.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "fuzz_files.h"

namespace {

// Grammar compilation is superlinear in the text; longer inputs only slow
// the search down without reaching new code.
constexpr size_t kMaxInput = 4096;

// Same order of work and of release as the library's compile driver, from a
// buffer instead of a file. check, if given, sees each file read back.
void CompileText(const std::string& text, bool translation, const std::function<void(TFSG&)>& check = {})
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
            fsg->WriteFile(ScratchFile().c_str());

            TFSG back(mbstring("back"), TSubFSG::EqNorm);
            try {
                back.ReadFile(ScratchFile().c_str(), 0);
            } catch (char* msg) {
                std::fprintf(stderr, "a file just written does not read back: %s\n", msg);
                std::abort();
            }
            if (check) check(back);

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

// The grammar text of a fuzz input, with the library's output turned off;
// false for an input to skip: one too long, or one naming a device or a
// process file, whose include may block or never end.
bool GrammarInput(const uint8_t* data, size_t size, std::string& text)
{
    if (size > kMaxInput) return false;
    text.assign(reinterpret_cast<const char*>(data), size);
    if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos) return false;
    ::dbglevel = 0;
    ::warnings = 0;
    return true;
}

} // namespace

#endif // KSBNFC_FUZZ_COMPILE_H

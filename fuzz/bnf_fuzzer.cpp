// bnf_fuzzer.cpp: libFuzzer target for the BNF front end and the compiler.
// Each input is a grammar text, parsed from memory and compiled in engine and
// in translation mode through normalisation to a written file, which must
// read back. The library's errors (thrown as char*) are expected; crashes,
// leaks, out-of-bounds accesses and an unreadable file of our own are not.
#include "fuzz_compile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (!GrammarInput(data, size, text)) return 0;
    CompileText(text, false);
    CompileText(text, true);
    return 0;
}

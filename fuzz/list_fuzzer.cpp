// list_fuzzer.cpp: libFuzzer target for slot lists. Each input is a list,
// turned into grammar text and compiled in translation mode. A list that is
// accepted must give a grammar that compiles: nothing in a list is notation,
// so an error of the parser or the compiler there is a fault of the
// conversion, and aborts.
#include "fuzz_compile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string list, text;
    if (!GrammarInput(data, size, list)) return 0;
    try {
        TSourceScope source("fuzz.txt", list);
        text = ListGrammar("fuzz.txt", true);
    } catch (char*) {
        return 0; // the list's own errors
    }
    TBNFStream stream(text.data(), (int)text.size());
    TArray<TGrammar*> grammars;
    try {
        stream.Compile(grammars);
    } catch (char* msg) {
        std::fprintf(stderr, "an accepted list gives a grammar that does not parse: %s\n%s", msg, text.c_str());
        std::abort();
    }
    for (int i = 0; i < grammars.length; i++) delete grammars[i];
    CompileText(text, true);
    return 0;
}

// bnf_utf8_fuzzer.cpp: libFuzzer target for grammar text under code page
// 65001. Besides what bnf_fuzzer checks, every step over the text covers
// whole characters that write back to the same bytes, lower-casing never
// grows a text nor changes how it compares, and a grammar that compiles holds
// only valid UTF-8 words and translations, whose actions keep characters
// whole and which the matcher takes without harm.
#include "fuzz_compile.h"

#include <cstring>

namespace {

void CheckStepping(const std::string& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    while (*p) {
        const unsigned char* next = _mbsinc(p);
        unsigned char b[4];
        int n = CharBytes((unsigned)_mbsnextc(p), b);
        if (next <= p || next - p != n || std::memcmp(b, p, (size_t)n) != 0) std::abort();
        p = next;
    }
    std::string lower = text.c_str();
    ks_strlwr(&lower[0]);
    if (std::strlen(lower.c_str()) > std::strlen(text.c_str())) std::abort();
    if (ks_stricmp(text.c_str(), lower.c_str()) != 0) std::abort();
}

// Words and translations of a compiled file are whole UTF-8.
void CheckTexts(TFSG& g)
{
    for (int i = 1; i < g.words.length; i++)
        if (!TextIsValid(g.words.elements[i]->word.s)) std::abort();
    for (int i = 1; i < g.annos.length; i++)
        if (!TextIsValid(g.annos.elements[i]->word.s)) std::abort();
}

// An engine file consumes a word on every arc, so matching its own words
// ends; whatever it does, it must not fault.
void CheckEngineFile(TFSG& g)
{
    CheckTexts(g);
    TStringList input;
    for (int i = 1; i < g.words.length && input.length < 8; i++) input.Add(g.words.elements[i]->word);
    mbstring out;
    int prefix = 0;
    try {
        g.Match(input, nullptr, out, &prefix);
    } catch (char*) {
    }
    delete[] out.s;
}

// Each action of a translation file, run on a stack of UTF-8 items, leaves
// only whole characters: no segment boundary falls inside one.
void CheckTranslationFile(TFSG& g)
{
    CheckTexts(g);
    for (int i = 1; i < g.annos.length; i++) {
        TStringList stack;
        for (int k = 0; k < 8; k++) stack.Add(mbstring(k % 2 ? "з·" : "ΣΟΦΙΑ"));
        try {
            DoActions(stack, g.annos.elements[i]->word);
        } catch (char*) {
            continue;
        }
        for (int k = 0; k < stack.length; k++)
            if (!TextIsValid(stack.elements[k].s)) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (!GrammarInput(data, size, text)) return 0;
    ks_set_cp(kCodePageUTF8);
    CheckStepping(text);
    CompileText(text, false, CheckEngineFile);
    CompileText(text, true, CheckTranslationFile);
    return 0;
}

// match_fuzzer.cpp: libFuzzer target for the run time on word strings. A
// small fixed grammar (translations, intern rules, repetition, a tail loop,
// empty words and an extern; no empty sentence, which the search refuses) is compiled once in translation and in
// engine mode; each input is split into words and tested, translated and
// searched for accepted stretches through the exported interface.
//
// Input: the first byte picks the grammar (bit 0) and whether the words
// carry vocabularies (bit 1); the rest are words separated by spaces or
// newlines, each optionally "word|vocabulary".
#include "ksbnfc.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "fuzz_files.h"

namespace {

constexpr size_t kMaxInput = 1024;

const char kGrammar[] =
    "extern <name>.\n"
    "<<cmd>> = <polite>? {<order>} {<more>}* please? -> {1}{2}\n"
    "        | call {<name>} ( at {<place>} )? -> call {1} {2}\n"
    "        | dial {<digit>}+ -> dial {1}\n"
    "        | +2 {<nest>} -> n{1} .\n"
    "<polite> = i'd like | can i have | give me .\n"
    "<order> = {<count>} {<size>} {<drink>} -> {1} {2} {3} .\n"
    "<more> = and {<order>} -> , {1} .\n"
    "<count> = a -> 1 | one -> 1 | two -> 2 | three -> 3 .\n"
    "<size> = small -> s | large -> l | \"\" -> r .\n"
    "<drink> = tea -> tea | flat white -> fw | latte -> latte | lattes -> latte .\n"
    "<place> = home -> h | work -> w .\n"
    "<digit> = oh -> 0 | zero -> 0 | one -> 1 | two -> 2 | double {<digit>} -> {1}{1} .\n"
    "<nest> = x {<nest>} -> x{1} | z -> z .\n";

const char kNames[] = "<<name>> = anna | anna berg | ben .\n";

void Fail(const char* what)
{
    char* msg = nullptr;
    KsGetMessage(&msg);
    std::fprintf(stderr, "%s: %s\n", what, msg ? msg : "");
    std::abort();
}

std::string WriteText(const std::string& dir, const char* name, const char* text)
{
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f || std::fputs(text, f) < 0 || std::fclose(f) != 0) Fail("cannot write the grammar");
    return path;
}

void CompileFile(const std::string& bnf, const std::string& out, const char* mode)
{
    KsArg args[] = {
        {const_cast<char*>("bnfFile"), (long)bnf.c_str()},
        {const_cast<char*>("fsgFile"), (long)out.c_str()},
        {const_cast<char*>(mode), 1},
        {const_cast<char*>("warnings"), 0},
    };
    if (KsCompileGrammar(4, args) >= 1000) Fail("cannot compile the fixed grammar");
}

struct Grammars {
    void* fsg[2] = {nullptr, nullptr}; // translation, engine
};

const Grammars& Loaded()
{
    static const Grammars g = [] {
        char tmpl[] = "/tmp/match_fuzz_XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        std::string dir = tmpl;
        std::string bnf = WriteText(dir, "cmd.bnf", kGrammar);
        std::string names = WriteText(dir, "name.bnf", kNames);
        CompileFile(bnf, dir + "/cmd.fst", "trMode");
        CompileFile(bnf, dir + "/cmd.fsg", "enMode");
        CompileFile(names, dir + "/name.fsg", "enMode");
        Grammars r;
        void* ext = nullptr;
        if (KsLoadExternFSG("name", (dir + "/name.fsg").c_str(), &ext) >= 1000 || !ext) Fail("extern");
        if (KsLoadFSG((dir + "/cmd.fst").c_str(), &r.fsg[0]) >= 1000) Fail("load cmd.fst");
        if (KsLoadFSG((dir + "/cmd.fsg").c_str(), &r.fsg[1]) >= 1000) Fail("load cmd.fsg");
        return r;
    }();
    return g;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > kMaxInput) return 0;
    const Grammars& g = Loaded();
    const int flags = data[0];
    void* fsg = g.fsg[flags & 1];

    std::vector<std::string> words, vocabs;
    std::string cur;
    bool tagged = false;
    auto flush = [&] {
        if (cur.empty()) return;
        size_t bar = cur.find('|');
        words.push_back(cur.substr(0, bar));
        vocabs.push_back(bar == std::string::npos ? std::string() : cur.substr(bar + 1));
        tagged |= bar != std::string::npos;
        cur.clear();
    };
    for (size_t i = 1; i < size; i++) {
        char c = (char)data[i];
        if (c == ' ' || c == '\n')
            flush();
        else
            cur += c; // a NUL byte ends the word early, as it would for a C caller
    }
    flush();

    std::vector<char*> w, v;
    for (size_t i = 0; i < words.size(); i++) {
        w.push_back(const_cast<char*>(words[i].c_str()));
        v.push_back(const_cast<char*>(vocabs[i].c_str()));
    }
    w.push_back(nullptr);
    v.push_back(nullptr);

    int result = -1;
    if (KsTest(fsg, w.data(), &result) >= 1000) return 0;
    if (result < 0 || result > 2) Fail("KsTest result out of range");

    char* tr = nullptr;
    if (KsGetTranslation(fsg, w.data(), &tr) < 1000) {
        if (tr && result != 2) Fail("a translation of words KsTest does not accept");
        std::free(tr);
    }
    if ((flags & 2) && tagged) {
        tr = nullptr;
        if (KsGetTranslation2(fsg, w.data(), v.data(), &tr) < 1000) std::free(tr);
    }

    void* subs = nullptr;
    if (KsFindSubStrs(w.data(), fsg, &subs) < 1000) {
        CheckStretches(subs, (int)words.size());
    }
    return 0;
}

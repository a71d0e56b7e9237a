// match_bench.cpp: per-call time of KsTest and KsGetTranslation on grammars
// of "call NAME" with 1,000 and with 65,000 alternative names, and the ratio
// of the two sizes: finding a word's arcs must not depend on how many
// alternatives a state has. Also the bundled examples, compiled from
// examples/: coffee orders translated, dialling commands tested.
#include "tfsg.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A loaded grammar of one size, its file and the word strings to match.
struct Grammar {
    void* fsg = nullptr;
    std::vector<std::string> names;
    std::vector<std::vector<char*>> strings;
};

Grammar& Get(int n)
{
    static std::map<int, Grammar> cache;
    Grammar& g = cache[n];
    if (g.fsg) return g;

    TFSG f(mbstring("call"), TSubFSG::EqNorm);
    TState* s1 = f.AddState();
    TState* s2 = f.AddState();
    f.Initial()->AddArc(s1, 1.0f, mbstring("call"), mbstring(), OpNone);
    for (int i = 0; i < n; i++) {
        std::string w = "Name" + std::to_string(i);
        s1->AddArc(s2, 1.0f / (float)n, mbstring(w.c_str()), mbstring(("person " + std::to_string(i)).c_str()),
                   OpNone);
    }
    s2->AddNullArc(nullptr, 1.0f, mbstring());
    f.normalized = 1;
    char path[] = "/tmp/ksbnfc_match_bench_XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    try {
        f.WriteFile(path);
    } catch (char* msg) {
        std::fprintf(stderr, "match_bench: %s\n", msg);
        std::exit(1);
    }
    if (KsLoadFSG(path, &g.fsg) != 0) {
        std::fprintf(stderr, "match_bench: %s\n", KsMsgBuf);
        std::exit(1);
    }
    unlink(path);

    // Names from all over the state's arc list, in lower case.
    for (int k = 0; k < 997; k++) g.names.push_back("name" + std::to_string((int)((k * 7919LL) % n)));
    for (std::string& name : g.names)
        g.strings.push_back({const_cast<char*>("call"), const_cast<char*>(name.c_str()), nullptr});
    return g;
}

void BM_KsTest(benchmark::State& state)
{
    Grammar& g = Get((int)state.range(0));
    size_t k = 0;
    for (auto _ : state) {
        int result = 0;
        KsTest(g.fsg, g.strings[k].data(), &result);
        if (result != 2) state.SkipWithError("not accepted");
        k = (k + 1) % g.strings.size();
    }
}
BENCHMARK(BM_KsTest)->Arg(1000)->Arg(65000);

void BM_KsGetTranslation(benchmark::State& state)
{
    Grammar& g = Get((int)state.range(0));
    size_t k = 0;
    for (auto _ : state) {
        char* t = nullptr;
        KsGetTranslation(g.fsg, g.strings[k].data(), &t);
        if (!t) state.SkipWithError("no translation");
        std::free(t);
        k = (k + 1) % g.strings.size();
    }
}
BENCHMARK(BM_KsGetTranslation)->Arg(1000)->Arg(65000);

// Compiles examples/<bnf> with the given mode switch into a temporary
// directory and loads root, with the externs it names; exits on failure.
void* LoadExample(const char* bnf, const char* mode, const char* root)
{
    static char dir[] = "/tmp/ksbnfc_match_bench_XXXXXX";
    static bool made = mkdtemp(dir) != nullptr;
    std::string src = std::string(KSBNFC_SOURCE_DIR "/examples/") + bnf;
    KsArg args[] = {{const_cast<char*>("bnfFile"), (long)src.c_str()},
                    {const_cast<char*>("fsgDirectory"), (long)dir},
                    {const_cast<char*>(mode), 1}};
    void* fsg = nullptr;
    std::string file = std::string(dir) + "/" + root;
    if (!made || KsCompileGrammar(3, args) >= 1000 || KsLoadFSG(file.c_str(), &fsg) != 0) {
        std::fprintf(stderr, "match_bench: %s: %s\n", bnf, KsMsgBuf);
        std::exit(1);
    }
    static_cast<TFSG*>(fsg)->LoadExterns(file.c_str(), 0);
    return fsg;
}

// Word strings, one per line of a text, split at blanks.
struct Sentences {
    std::vector<std::vector<std::string>> words;
    std::vector<std::vector<char*>> ptrs;
    explicit Sentences(const std::string& text)
    {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream in(line);
            words.emplace_back();
            for (std::string w; in >> w;) words.back().push_back(w);
        }
        for (auto& s : words) {
            ptrs.emplace_back();
            for (auto& w : s) ptrs.back().push_back(const_cast<char*>(w.c_str()));
            ptrs.back().push_back(nullptr);
        }
    }
};

void BM_CoffeeTranslation(benchmark::State& state)
{
    static void* fsg = LoadExample("coffee.bnf", "trMode", "order.fst");
    std::ifstream in(KSBNFC_SOURCE_DIR "/examples/coffee.txt");
    std::stringstream text;
    text << in.rdbuf();
    static Sentences orders(text.str());
    size_t k = 0;
    for (auto _ : state) {
        char* t = nullptr;
        KsGetTranslation(fsg, orders.ptrs[k].data(), &t);
        if (!t) state.SkipWithError("no translation");
        std::free(t);
        k = (k + 1) % orders.ptrs.size();
    }
}
BENCHMARK(BM_CoffeeTranslation);

void BM_DialerTest(benchmark::State& state)
{
    static void* contact = LoadExample("contacts.bnf", "enMode", "contact.fsg");
    static void* fsg = LoadExample("dialer.bnf", "enMode", "dial.fsg");
    static Sentences commands("call anna berg at home\ndial oh two double seven five\nredial\n");
    (void)contact;
    size_t k = 0;
    for (auto _ : state) {
        int result = 0;
        KsTest(fsg, commands.ptrs[k].data(), &result);
        if (result != 2) state.SkipWithError("not accepted");
        k = (k + 1) % commands.ptrs.size();
    }
}
BENCHMARK(BM_DialerTest);

// Prints as usual and keeps each run's processor time per call for the
// ratios (less disturbed by other load on the machine than wall time).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"BM_KsTest", "BM_KsGetTranslation"}) {
        auto small = reporter.times.find(std::string(name) + "/1000");
        auto large = reporter.times.find(std::string(name) + "/65000");
        if (small == reporter.times.end() || large == reporter.times.end() || small->second <= 0) continue;
        std::printf("%s: 65000 words / 1000 words = %.2f\n", name, large->second / small->second);
    }
    benchmark::Shutdown();
    return 0;
}

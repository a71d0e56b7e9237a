// match_bench.cpp: run-time speed through the exported interface only (so
// that the same file builds against an older library for comparison):
// KsTest and KsGetTranslation on flat word lists of 1,000 and 65,000 words,
// in steady state and over the first 10,000 calls after loading, with the
// ratios of the two sizes; the load time; the per-word time of 10- and
// 100-word strings on a looping grammar; the worst case of the bounded walk;
// and the bundled examples.
#include "bench_calls.h"
#include "ksbnfc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* Dir()
{
    static char dir[] = "/tmp/ksbnfc_match_bench_XXXXXX";
    static bool made = [] {
        if (!mkdtemp(dir)) {
            std::perror("match_bench: mkdtemp");
            std::exit(1);
        }
        std::atexit([] { std::system((std::string("rm -rf '") + dir + "'").c_str()); });
        return true;
    }();
    (void)made;
    return dir;
}

// Compiles a grammar file with the mode switch ("enMode", "trMode") into
// its own directory below the scratch one and returns the path of the FSG
// file of root (roots of different grammars may share a name).
std::string Compile(const std::string& bnf, const char* mode, const char* root)
{
    static int made = 0;
    std::string dir = std::string(Dir()) + "/" + std::to_string(made++);
    mkdir(dir.c_str(), 0700);
    KsArg args[] = {{const_cast<char*>("bnfFile"), (long)bnf.c_str()},
                    {const_cast<char*>("fsgDirectory"), (long)dir.c_str()},
                    {const_cast<char*>(mode), 1}};
    if (KsCompileGrammar(3, args) >= 1000) {
        std::fprintf(stderr, "match_bench: %s: %s\n", bnf.c_str(), KsMsgBuf);
        std::exit(1);
    }
    return dir + "/" + root;
}

// Writes text as the grammar file name in the scratch directory, compiles it.
std::string CompileText(const std::string& name, const std::string& text, const char* mode, const char* root)
{
    std::string bnf = std::string(Dir()) + "/" + name;
    std::ofstream(bnf) << text;
    return Compile(bnf, mode, root);
}

void* Load(const std::string& file)
{
    void* fsg = nullptr;
    if (KsLoadFSG(file.c_str(), &fsg) != 0) {
        std::fprintf(stderr, "match_bench: %s: %s\n", file.c_str(), KsMsgBuf);
        std::exit(1);
    }
    return fsg;
}

// Word strings of the given words, each ending with a null pointer.
struct Strings {
    std::vector<std::string> words;
    std::vector<std::vector<char*>> ptrs;
    void Add(const std::vector<size_t>& which)
    {
        ptrs.emplace_back();
        for (size_t w : which) ptrs.back().push_back(const_cast<char*>(words[w].c_str()));
        ptrs.back().push_back(nullptr);
    }
};

// The flat list `<<g>> = name0 | name1 | ... .` of n words, compiled -en,
// and one-word strings drawn at random from it.
struct FlatList {
    std::string file;
    Strings strings;
};

const int kFirstCalls = 10000;

FlatList& Flat(int n)
{
    static std::map<int, FlatList> cache;
    FlatList& f = cache[n];
    if (!f.file.empty()) return f;
    std::string text = "<<g>> =";
    for (int i = 0; i < n; i++) text += (i ? " | name" : " name") + std::to_string(i);
    text += " .\n";
    f.file = CompileText("flat" + std::to_string(n) + ".bnf", text, "enMode", "g.fsg");
    // Copies in call order: a caller's words are its own, not spread over a
    // table as large as the vocabulary.
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pick(0, n - 1);
    for (int k = 0; k < kFirstCalls; k++) f.strings.words.push_back("name" + std::to_string(pick(rng)));
    for (size_t k = 0; k < (size_t)kFirstCalls; k++) f.strings.Add({k});
    return f;
}

// Processor time of this thread in seconds.
double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// Steady state: one grammar loaded once, the strings over and over.
template <bool (*Call)(void*, char**)> void BM_Steady(benchmark::State& state)
{
    FlatList& f = Flat((int)state.range(0));
    static std::map<int, void*> loaded;
    void*& fsg = loaded[(int)state.range(0)];
    if (!fsg) fsg = Load(f.file);
    size_t k = 0;
    for (auto _ : state) {
        if (!Call(fsg, f.strings.ptrs[k].data())) state.SkipWithError("not accepted");
        k = (k + 1) % f.strings.ptrs.size();
    }
}

// The first 10,000 calls right after a load, timed per call (processor time
// of the calls only; the load is not counted).
template <bool (*Call)(void*, char**)> void BM_First(benchmark::State& state)
{
    FlatList& f = Flat((int)state.range(0));
    for (auto _ : state) {
        void* fsg = Load(f.file);
        double t0 = ThreadSeconds();
        for (int k = 0; k < kFirstCalls; k++)
            if (!Call(fsg, f.strings.ptrs[(size_t)k].data())) state.SkipWithError("not accepted");
        state.SetIterationTime((ThreadSeconds() - t0) / kFirstCalls);
        KsUnloadFSG(fsg);
    }
}

void BM_KsTest(benchmark::State& state) { BM_Steady<Test>(state); }
void BM_KsGetTranslation(benchmark::State& state) { BM_Steady<Translate>(state); }
void BM_KsTestFirst10000(benchmark::State& state) { BM_First<Test>(state); }
void BM_KsGetTranslationFirst10000(benchmark::State& state) { BM_First<Translate>(state); }
BENCHMARK(BM_KsTest)->Arg(1000)->Arg(65000);
BENCHMARK(BM_KsGetTranslation)->Arg(1000)->Arg(65000);
BENCHMARK(BM_KsTestFirst10000)->Arg(1000)->Arg(65000)->UseManualTime()->Iterations(8);
BENCHMARK(BM_KsGetTranslationFirst10000)->Arg(1000)->Arg(65000)->UseManualTime()->Iterations(8);

void BM_Load(benchmark::State& state)
{
    FlatList& f = Flat((int)state.range(0));
    for (auto _ : state) {
        void* fsg = Load(f.file);
        state.PauseTiming();
        KsUnloadFSG(fsg);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Load)->Arg(1000)->Arg(65000)->Unit(benchmark::kMillisecond);

// Strings of n words on `<<g>> = (w0 | ... | w999)+ .`; time per word.
void BM_LoopPerWord(benchmark::State& state)
{
    static std::string file;
    static Strings strings;
    if (file.empty()) {
        std::string text = "<<g>> = (";
        for (int i = 0; i < 1000; i++) {
            strings.words.push_back("w" + std::to_string(i));
            text += (i ? " | " : "") + strings.words.back();
        }
        file = CompileText("loop.bnf", text + ")+ .\n", "enMode", "g.fsg");
    }
    static void* fsg = Load(file);
    const size_t n = (size_t)state.range(0);
    Strings s;
    s.words = strings.words;
    std::mt19937 rng(777);
    std::uniform_int_distribution<size_t> pick(0, s.words.size() - 1);
    for (int k = 0; k < 500; k++) {
        std::vector<size_t> which;
        for (size_t i = 0; i < n; i++) which.push_back(pick(rng));
        s.Add(which);
    }
    size_t k = 0;
    for (auto _ : state) {
        if (!Test(fsg, s.ptrs[k].data())) state.SkipWithError("not accepted");
        k = (k + 1) % s.ptrs.size();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)n);
}
BENCHMARK(BM_LoopPerWord)->Arg(10)->Arg(100);

// The worst case of the bounded walk: every `a` of the string can be read
// two ways and the string fails only at its end, so a walk of paths would
// try 2^1000 of them.
void BM_BoundedWorstCase(benchmark::State& state)
{
    static void* fsg = Load(CompileText("bounded.bnf", "<<g>> = {<x>}* b -> {1} .\n<x> = a -> 1 | a -> 2 .\n",
                                        "trMode", "g.fst"));
    Strings s;
    s.words = {"a", "c"};
    s.Add(std::vector<size_t>(1000, 0));
    s.ptrs[0].insert(s.ptrs[0].end() - 1, const_cast<char*>(s.words[1].c_str()));
    for (auto _ : state) {
        char* t = nullptr;
        if (KsGetTranslation(fsg, s.ptrs[0].data(), &t) != 0 || t) state.SkipWithError("accepted");
        std::free(t);
    }
}
BENCHMARK(BM_BoundedWorstCase)->Unit(benchmark::kMillisecond);

// Word strings, one per line of a text, split at blanks.
Strings Lines(const std::string& text)
{
    Strings s;
    std::istringstream lines(text);
    std::vector<std::vector<size_t>> which;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        which.emplace_back();
        for (std::string w; in >> w;) {
            which.back().push_back(s.words.size());
            s.words.push_back(w);
        }
    }
    for (const auto& w : which) s.Add(w);
    return s;
}

void BM_CoffeeTranslation(benchmark::State& state)
{
    static void* fsg = Load(Compile(KSBNFC_SOURCE_DIR "/examples/coffee.bnf", "trMode", "order.fst"));
    std::ifstream in(KSBNFC_SOURCE_DIR "/examples/coffee.txt");
    std::stringstream text;
    text << in.rdbuf();
    Strings orders = Lines(text.str());
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
    static bool contacts = [] {
        std::string file = Compile(KSBNFC_SOURCE_DIR "/examples/contacts.bnf", "enMode", "contact.fsg");
        void* g = nullptr;
        return KsLoadExternFSG("contact", file.c_str(), &g) == 0 && g;
    }();
    static void* fsg = Load(Compile(KSBNFC_SOURCE_DIR "/examples/dialer.bnf", "enMode", "dial.fsg"));
    if (!contacts) state.SkipWithError("contacts not loaded");
    Strings commands = Lines("call anna berg at home\ndial oh two double seven five\nredial\n");
    size_t k = 0;
    for (auto _ : state) {
        if (!Test(fsg, commands.ptrs[k].data())) state.SkipWithError("not accepted");
        k = (k + 1) % commands.ptrs.size();
    }
}
BENCHMARK(BM_DialerTest);

// Prints as usual and keeps each run's time per call for the summary:
// processor time, or the manual time of the first-calls runs, which is
// processor time too (less disturbed by other load on the machine than
// wall time), and the wall time beside it. With --benchmark_repetitions the
// summary takes the median of the repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        std::vector<double> cpu, wall; // nanoseconds per iteration
    };
    std::map<std::string, Times> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
            std::string name = r.benchmark_name();
            size_t rep = name.find("/repeats:");
            if (rep != std::string::npos) name.erase(rep);
            bool manual = name.find("/manual_time") != std::string::npos;
            double cpu = manual ? r.real_accumulated_time : r.cpu_accumulated_time;
            // The wall time of the first-calls runs is that of the whole
            // iteration, the load included: not comparable, not kept.
            Times& t = times[name];
            t.cpu.push_back(cpu * 1e9 / (double)r.iterations);
            if (!manual) t.wall.push_back(r.real_accumulated_time * 1e9 / (double)r.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The median processor (or, with wall, wall) time of the runs whose
    // name is name or begins with name and '/'; -1 when there is none.
    double At(const std::string& name, bool wall = false) const
    {
        for (const auto& t : times)
            if (t.first.compare(0, name.size(), name) == 0 &&
                (t.first.size() == name.size() || t.first[name.size()] == '/')) {
                std::vector<double> v = wall ? t.second.wall : t.second.cpu;
                if (v.empty()) return -1;
                std::sort(v.begin(), v.end());
                return v[v.size() / 2];
            }
        return -1;
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nper call, ns                  cpu: 1,000 words  65,000 words  ratio"
                "   wall: 1,000 words  65,000 words  ratio\n");
    for (const char* name : {"BM_KsTest", "BM_KsTestFirst10000", "BM_KsGetTranslation",
                             "BM_KsGetTranslationFirst10000"}) {
        double small = reporter.At(std::string(name) + "/1000"), large = reporter.At(std::string(name) + "/65000");
        if (small <= 0 || large <= 0) continue;
        std::printf("%-30s %16.0f %13.0f %6.2f", name + 3, small, large, large / small);
        small = reporter.At(std::string(name) + "/1000", true);
        large = reporter.At(std::string(name) + "/65000", true);
        if (small > 0 && large > 0) std::printf(" %18.0f %13.0f %6.2f", small, large, large / small);
        std::printf("\n");
    }
    double load = reporter.At("BM_Load/65000");
    if (load > 0) std::printf("load of the 65,000-word list: %.1f ms\n", load / 1e6);
    double w10 = reporter.At("BM_LoopPerWord/10"), w100 = reporter.At("BM_LoopPerWord/100");
    if (w10 > 0 && w100 > 0)
        std::printf("looping grammar, per word: 10 words %.0f ns, 100 words %.0f ns, ratio %.2f\n", w10 / 10,
                    w100 / 100, (w100 / 100) / (w10 / 10));
    double bounded = reporter.At("BM_BoundedWorstCase");
    if (bounded > 0) std::printf("bounded worst case (1,000 a then c): %.2f ms\n", bounded / 1e6);
    benchmark::Shutdown();
    return 0;
}

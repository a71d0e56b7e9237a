// list_bench.cpp: compile time of a slot list (.txt, one value a line) of
// 10,000 entries for translation, in memory through the inner interface,
// beside its peer: the same entries written as a BNF grammar. Prints the
// median wall and CPU (user + sys) time per compile of each, and their ratio.
//
//   list_bench [ENTRIES [RUNS]]      (default 10000 entries, 15 runs)
#include "ksbnfc_inner.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The i-th of a family of distinct pronounceable words: syllables in base 60.
std::string Word(int i)
{
    static const char* const cons[] = {"b", "d", "f", "g", "k", "l", "m", "n", "p", "r", "s", "t"};
    static const char* const vows[] = {"a", "e", "i", "o", "u"};
    std::string w;
    do {
        w += cons[i % 60 / 5];
        w += vows[i % 5];
        i /= 60;
    } while (i > 0);
    return w;
}

double CpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Times {
    double wall, cpu; // medians, in seconds
};

Times Measure(const std::string& path, int runs)
{
    ksbnfc::CompileOptions o;
    o.mode = ksbnfc::Mode::Translation;
    o.warnings = 0;
    std::vector<double> wall, cpu;
    size_t bytes = 0;
    for (int r = 0; r < runs; r++) {
        auto start = std::chrono::steady_clock::now();
        double c = CpuSeconds();
        bytes = ksbnfc::Compile(path, o).at(0).bytes.size();
        cpu.push_back(CpuSeconds() - c);
        wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%-28s %8.1f ms wall %8.1f ms cpu %9zu bytes\n", path.substr(path.rfind('/') + 1).c_str(),
                wall[runs / 2] * 1e3, cpu[runs / 2] * 1e3, bytes);
    return Times{wall[runs / 2], cpu[runs / 2]};
}

} // namespace

int main(int argc, char** argv)
{
    int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    if (entries < 1 || runs < 1) {
        std::fprintf(stderr, "usage: list_bench [ENTRIES [RUNS]]\n");
        return 2;
    }
    std::string dir = "/tmp/list_bench." + std::to_string(getpid());
    std::string list = dir + "/contacts.txt", bnf = dir + "/contacts.bnf";
    if (std::system(("mkdir -p " + dir).c_str()) != 0) return 2;
    {
        // Half the entries give a value of their own ("first last : Last, First").
        std::ofstream l(list), b(bnf);
        b << "<<contacts>> =";
        for (int i = 0; i < entries; i++) {
            std::string first = Word(i % 997), last = Word(1000 + i);
            std::string value = i % 2 ? last + ", " + first : first + " " + last;
            l << first << ' ' << last << (i % 2 ? " : " + value : "") << '\n';
            b << (i ? "\n | " : " ") << first << ' ' << last << " -> (" << value << ")";
        }
        b << " .\n";
    }
    std::printf("%d entries, median of %d compiles for translation\n", entries, runs);
    try {
        Times l = Measure(list, runs);
        Times b = Measure(bnf, runs);
        std::printf("list / grammar: %.2f wall, %.2f cpu\n", l.wall / b.wall, l.cpu / b.cpu);
    } catch (const ksbnfc::Failure& f) {
        std::fprintf(stderr, "list_bench: %s\n", f.what());
        return 2;
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}

// load_bench.cpp: what loading a large FSG file costs beside compiling it.
// Compiles a grammar of about 2 million arcs (a chain of 2,000 positions, each
// a call of one rule of 1,000 words, which no pass can merge: a 16 MB file)
// in a child process, then loads the written file in other children, and
// prints the processor time (user + sys), wall time and peak resident memory
// of each child, with the ratios load / compile. Through the exported
// interface only, so that the same file builds against an older library.
//
//   load_bench [POSITIONS [WORDS [LOADS]]]   (default 2000 1000 5)
#include "ksbnfc.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Cost {
    double cpu = 0, wall = 0, peak_mb = 0;
    bool ok = false;
};

// Runs work in a child; its exit status says whether it succeeded.
Cost InChild(const std::function<bool()>& work)
{
    std::fflush(stdout);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(work() ? 0 : 1);
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    Cost c;
    c.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    c.cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
    c.peak_mb = u.ru_maxrss / 1024.0;
    c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return c;
}

// The fixed cost of a child that does nothing: the process and the library.
Cost Idle()
{
    return InChild([] { return true; });
}

void Print(const char* what, const Cost& c)
{
    std::printf("%-22s %8.3f %8.3f %9.1f  %s\n", what, c.cpu, c.wall, c.peak_mb, c.ok ? "ok" : "FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    const int positions = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int words = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int loads = argc > 3 ? std::atoi(argv[3]) : 5;
    if (positions < 1 || words < 1 || loads < 1) {
        std::fprintf(stderr, "usage: load_bench [POSITIONS [WORDS [LOADS]]]\n");
        return 2;
    }
    char tmpl[] = "/tmp/ksbnfc_load_bench_XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("load_bench: mkdtemp");
        return 2;
    }
    const std::string dir = tmpl, bnf = dir + "/chain.bnf", fsg = dir + "/chain.fsg";
    {
        std::ofstream out(bnf);
        out << "<<g>> =";
        for (int i = 0; i < positions; i++) out << " <w>";
        out << " .\n<w> =";
        for (int k = 0; k < words; k++) out << (k ? " | w" : " w") << k;
        out << " .\n";
    }

    std::printf("%-22s %8s %8s %9s\n", "child", "cpu s", "wall s", "peak MB");
    Cost idle = Idle();
    Print("nothing", idle);
    Cost compile = InChild([&] {
        KsArg args[] = {{const_cast<char*>("bnfFile"), (long)bnf.c_str()},
                        {const_cast<char*>("fsgFile"), (long)fsg.c_str()},
                        {const_cast<char*>("enMode"), 1}};
        return KsCompileGrammar(3, args) < 1000;
    });
    Print("compile", compile);
    struct stat st{};
    if (!compile.ok || stat(fsg.c_str(), &st) != 0) {
        std::fprintf(stderr, "load_bench: the compile failed\n");
        return 1;
    }
    // The median of several loads: the machine is shared.
    std::vector<Cost> runs;
    for (int k = 0; k < loads; k++) {
        runs.push_back(InChild([&] {
            void* g = nullptr;
            return KsLoadFSG(fsg.c_str(), &g) == 0 && g;
        }));
        Print("load", runs.back());
    }
    auto median = [&](double Cost::*field) {
        std::vector<double> v;
        for (const Cost& c : runs) v.push_back(c.*field);
        std::nth_element(v.begin(), v.begin() + (long)v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    Cost load;
    load.cpu = median(&Cost::cpu);
    load.wall = median(&Cost::wall);
    load.peak_mb = median(&Cost::peak_mb);
    std::printf("\nfile %.1f MB, %d positions of %d words\n", st.st_size / 1048576.0, positions, words);
    std::printf("load / compile: cpu %.3f / %.3f s = %.2f, wall %.3f / %.3f s = %.2f,"
                " peak %.1f / %.1f MB = %.2f\n",
                load.cpu, compile.cpu, load.cpu / compile.cpu, load.wall, compile.wall, load.wall / compile.wall,
                load.peak_mb, compile.peak_mb, load.peak_mb / compile.peak_mb);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}

// compile_bench.cpp: compile-time benchmark. Generates grammars of realistic
// size, compiles each in engine mode through KsCompileGrammar in a child
// process of its own (so that peak memory is per case) and prints the time,
// the size of the written FSG and the peak resident memory.
//
//   compile_bench [-k] [-o DIR] [CASE...]     (-k keeps the generated files)
#include "ksbnfc.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Deterministic pseudo-random numbers, the same on every platform.
struct Lcg {
    uint32_t s;
    explicit Lcg(uint32_t seed) : s(seed) {}
    uint32_t Next()
    {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
    int Below(int n) { return (int)(Next() % (uint32_t)n); }
};

// The i-th of a family of distinct pronounceable words: syllables in base 60.
std::string Word(int i)
{
    static const char* const cons[] = {"b", "d", "f", "g", "k", "l", "m", "n", "p", "r", "s", "t"};
    static const char* const vows[] = {"a", "e", "i", "o", "u"};
    std::string w;
    do {
        int syl = i % 60;
        w += cons[syl / 5];
        w += vows[syl % 5];
        i /= 60;
    } while (i > 0);
    return w;
}

std::string FlatList(int n)
{
    std::ostringstream g;
    g << "<<words>> =";
    for (int i = 0; i < n; i++) g << (i ? "\n | " : " ") << Word(i);
    g << " .\n";
    return g.str();
}

std::string Phrases(int n, int vocab)
{
    Lcg r(12345);
    std::ostringstream g;
    g << "<<phrases>> =";
    for (int i = 0; i < n; i++) {
        g << (i ? "\n | " : " ");
        int len = 2 + r.Below(4);
        for (int k = 0; k < len; k++) g << (k ? " " : "") << Word(r.Below(vocab));
    }
    g << " .\n";
    return g.str();
}

std::string Names(int first, int last)
{
    std::ostringstream g;
    g << "<<name>> = <first> <last> .\n<first> =";
    for (int i = 0; i < first; i++) g << (i ? " | " : " ") << Word(i) << "o";
    g << " .\n<last> =";
    for (int i = 0; i < last; i++) g << (i ? " | " : " ") << Word(i) << "son";
    g << " .\n";
    return g.str();
}

std::string Numbers()
{
    return "<<number>> = zero | <below1m> | one million .\n"
           "<below1m> = <below1000> | <below1000> thousand ( and? <below1000> )? .\n"
           "<below1000> = <below100> | <unit> hundred ( and? <below100> )? .\n"
           "<below100> = <unit> | <teen> | <ten> <unit>? .\n"
           "<unit> = one | two | three | four | five | six | seven | eight | nine .\n"
           "<teen> = ten | eleven | twelve | thirteen | fourteen | fifteen | sixteen\n"
           "       | seventeen | eighteen | nineteen .\n"
           "<ten> = twenty | thirty | forty | fifty | sixty | seventy | eighty | ninety .\n";
}

std::string Chain(int n)
{
    std::ostringstream g;
    for (int i = 0; i < n; i++) {
        g << (i ? "<r" : "<<r") << i << (i ? "> = " : ">> = ") << Word(i) << "?";
        if (i + 1 < n) g << " <r" << i + 1 << ">";
        else g << " end";
        g << " .\n";
    }
    return g.str();
}

struct Case {
    const char* name;
    std::function<std::string()> make;
    const char* expect_error; // null: must succeed
};

// Sizes of the main block of a written FSG: states (without the end state)
// and arcs, read from the file's first intern block.
bool FsgSize(const std::string& path, long& states, long& arcs)
{
    std::ifstream in(path, std::ios::binary);
    auto rd = [&](long off) -> long {
        unsigned char b[4];
        in.seekg(off);
        if (!in.read((char*)b, 4)) return -1;
        return (long)(int32_t)(b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24);
    };
    long ns = rd(64 + 4);
    if (ns <= 0) return false;
    states = ns - 1;
    arcs = rd(64 + 4 + 4 + 4 * ns);
    return arcs >= 0;
}

struct Result {
    double compile_s;
    int rc;
    char msg[200];
};

// Runs one case in a child; the parent reports wall time and peak memory.
void Run(const Case& c, const std::string& dir)
{
    std::string bnf = dir + "/" + c.name + ".bnf";
    std::ofstream(bnf) << c.make();
    std::string out = dir + "/" + c.name + ".fsg";
    unlink(out.c_str());

    int pfd[2];
    if (pipe(pfd) != 0) {
        perror("pipe");
        std::exit(1);
    }
    auto t0 = std::chrono::steady_clock::now();
    std::fflush(stdout); // the library flushes stdout in the child
    pid_t pid = fork();
    if (pid == 0) {
        close(pfd[0]);
        Result r{};
        KsArg args[] = {{(char*)"bnfFile", (long)bnf.c_str()}, {(char*)"fsgFile", (long)out.c_str()},
                        {(char*)"enMode", 1}};
        auto s = std::chrono::steady_clock::now();
        r.rc = KsCompileGrammar(3, args);
        r.compile_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - s).count();
        char* m = nullptr;
        KsGetMessage(&m);
        std::snprintf(r.msg, sizeof r.msg, "%s", m ? m : "");
        if (write(pfd[1], &r, sizeof r) != (ssize_t)sizeof r) _exit(2);
        _exit(0);
    }
    close(pfd[1]);
    Result r{};
    bool got = read(pfd[0], &r, sizeof r) == (ssize_t)sizeof r;
    close(pfd[0]);
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    long states = -1, arcs = -1;
    const char* verdict;
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        verdict = "CRASHED";
    } else if (c.expect_error) {
        verdict = r.rc == 1000 && std::strstr(r.msg, c.expect_error) ? "fails as expected" : "WRONG RESULT";
    } else {
        verdict = r.rc == 1000 ? "FAILED" : FsgSize(out, states, arcs) ? "ok" : "NO FILE";
    }
    double cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    std::printf("%-10s %9.3f %9.3f %9.3f %8ld %8ld %8.1f  %s%s%s\n", c.name, r.compile_s, wall, cpu, states,
                arcs, ru.ru_maxrss / 1024.0, verdict, r.rc == 1000 ? ": " : "", r.rc == 1000 ? r.msg : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const Case cases[] = {
        {"words65k", [] { return FlatList(65000); }, nullptr},
        {"words100k", [] { return FlatList(100000); }, "more than 64K words and externs"},
        {"phrases50k", [] { return Phrases(50000, 2000); }, nullptr},
        {"names2kx2k", [] { return Names(2000, 2000); }, nullptr},
        {"numbers", Numbers, nullptr},
        {"chain2k", [] { return Chain(2000); }, nullptr},
    };

    bool keep = false;
    std::string dir;
    std::vector<std::string> only;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "-k")) keep = true;
        else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) dir = argv[++i];
        else only.push_back(argv[i]);
    }
    if (dir.empty()) {
        char tmpl[] = "/tmp/ksbnfc_bench.XXXXXX";
        if (!mkdtemp(tmpl)) {
            perror("mkdtemp");
            return 1;
        }
        dir = tmpl;
    } else {
        mkdir(dir.c_str(), 0755);
        keep = true;
    }

    // compile s: the KsCompileGrammar call; process s: the child's wall
    // time; cpu s: the child's user + system time (steady when the machine
    // is busy).
    std::printf("%-10s %9s %9s %9s %8s %8s %8s  %s\n", "case", "compile s", "process s", "cpu s", "states",
                "arcs", "peak MB", "result");
    for (const Case& c : cases) {
        bool want = only.empty();
        for (const std::string& o : only) want |= o == c.name;
        if (want) Run(c, dir);
    }
    if (!keep) std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}

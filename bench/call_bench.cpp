// call_bench.cpp: the C interface's side of bench/python_call_bench.py:
// the per-call time of KsTest and KsGetTranslation on one FSG file, over
// one-word strings read from a file, one a line, called in turn for CALLS
// calls in all. Prints one line per call: its name, then the processor
// (user + sys) and wall nanoseconds per call.
//
//   call_bench FSG WORDS CALLS
#include "bench_calls.h"
#include "ksbnfc.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

double CpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Calls `call` over the strings in turn, calls times; false when one fails.
bool Time(const char* name, bool (*call)(void*, char**), void* fsg, std::vector<std::vector<char*>>& strings,
          long calls)
{
    for (auto& s : strings)
        if (!call(fsg, s.data())) return false;
    double cpu = CpuSeconds(), wall = WallSeconds();
    size_t k = 0;
    bool ok = true;
    for (long i = 0; i < calls; i++) {
        ok &= call(fsg, strings[k].data());
        if (++k == strings.size()) k = 0;
    }
    std::printf("%s %.1f %.1f\n", name, (CpuSeconds() - cpu) / calls * 1e9, (WallSeconds() - wall) / calls * 1e9);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    long calls = argc == 4 ? std::atol(argv[3]) : 0;
    if (calls < 1) {
        std::fprintf(stderr, "usage: call_bench FSG WORDS CALLS\n");
        return 2;
    }
    void* fsg = nullptr;
    if (KsLoadFSG(argv[1], &fsg) != 0) {
        std::fprintf(stderr, "call_bench: %s: %s\n", argv[1], KsMsgBuf);
        return 2;
    }
    std::ifstream in(argv[2]);
    std::vector<std::string> words;
    for (std::string w; std::getline(in, w);) words.push_back(w);
    if (words.empty()) {
        std::fprintf(stderr, "call_bench: %s: no words\n", argv[2]);
        return 2;
    }
    std::vector<std::vector<char*>> strings;
    for (std::string& w : words) strings.push_back({&w[0], nullptr});
    if (!Time("test", Test, fsg, strings, calls) || !Time("translate", Translate, fsg, strings, calls)) {
        std::fprintf(stderr, "call_bench: a word was not accepted\n");
        return 1;
    }
    KsUnloadFSG(fsg);
    return 0;
}

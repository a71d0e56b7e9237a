// fsg_match_fuzzer.cpp: libFuzzer target for the run time on damaged files.
// The input is an FSG file followed by a word string: everything up to the
// last newline is written to a file and loaded; the words after it are then
// tested, translated and searched for stretches through the exported
// interface. Errors are expected; crashes, hangs (libFuzzer's -timeout) and
// out-of-range results are not.
#include "ksbnfc.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_files.h"

namespace {

void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t split = size;
    while (split > 0 && data[split - 1] != '\n') split--;
    const size_t fileSize = split ? split - 1 : 0;

    const std::string& path = ScratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (fileSize) std::fwrite(data, 1, fileSize, f);
    std::fclose(f);

    std::vector<std::string> words;
    std::string cur;
    for (size_t i = split; i <= size; i++) {
        if (i == size || data[i] == ' ') {
            if (!cur.empty()) words.push_back(cur);
            cur.clear();
        } else {
            cur += (char)data[i];
        }
    }
    std::vector<char*> w;
    for (std::string& s : words) w.push_back(const_cast<char*>(s.c_str()));
    w.push_back(nullptr);

    void* fsg = nullptr;
    if (KsLoadFSG(path.c_str(), &fsg) >= 1000 || !fsg) return 0;

    int result = -1;
    if (KsTest(fsg, w.data(), &result) < 1000 && (result < 0 || result > 2))
        Fail("KsTest result out of range");

    char* tr = nullptr;
    if (KsGetTranslation(fsg, w.data(), &tr) < 1000) std::free(tr);

    void* subs = nullptr;
    if (!words.empty() && KsFindSubStrs(w.data(), fsg, &subs) < 1000) {
        CheckStretches(subs, (int)words.size());
    }
    KsUnloadFSG(fsg);
    return 0;
}

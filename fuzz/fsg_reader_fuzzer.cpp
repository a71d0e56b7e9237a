// fsg_reader_fuzzer.cpp: libFuzzer target for the FSG file reader. Each input
// is written to a temporary file and loaded; the library's error messages
// (thrown as char*) are expected, crashes and out-of-bounds reads are not.
#include "tfsg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = ScratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    TFSG* g = new TFSG(mbstring("fuzz"), TSubFSG::EqNorm);
    try {
        g->ReadFile(path.c_str(), 0);
    } catch (char*) {
    }
    delete g;
    return 0;
}

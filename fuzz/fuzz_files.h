// fuzz_files.h: what the fuzz targets share: one scratch file per process
// for the bytes they hand to the file readers, and the range check of the
// stretches a sub-string search returns.
#ifndef KSBNFC_FUZZ_FILES_H
#define KSBNFC_FUZZ_FILES_H

#include "ksbnfc.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

inline const std::string& ScratchFile()
{
    static const std::string path = [] {
        char tmpl[] = "/tmp/ksbnfc_fuzz_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(tmpl);
    }();
    return path;
}

// Walks and frees the stretches of a search over n words; aborts on one
// that lies outside the words or has no probability.
inline void CheckStretches(void* subs, int n)
{
    for (void* s; (s = KsGetNextSubStr(subs)) != nullptr;) {
        int start = KsGetSubStrStart(s), end = KsGetSubStrEnd(s);
        double p = KsGetSubStrProb(s);
        if (start < 0 || end < start - 1 || end >= n || !(p >= 0)) {
            std::fprintf(stderr, "a stretch out of range\n");
            std::abort();
        }
    }
    KsFreeSubStrs(subs);
}

#endif

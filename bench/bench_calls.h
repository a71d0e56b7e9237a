// bench_calls.h: the two run-time calls the benchmarks time, through the
// exported interface only, each reduced to "did it succeed".
#ifndef KSBNFC_BENCH_CALLS_H
#define KSBNFC_BENCH_CALLS_H

#include "ksbnfc.h"

#include <cstdlib>

// KsTest accepted the words as a whole sentence.
inline bool Test(void* fsg, char** words)
{
    int result = 0;
    return KsTest(fsg, words, &result) == 0 && result == 2;
}

// KsGetTranslation succeeded (its text is freed).
inline bool Translate(void* fsg, char** words)
{
    char* t = nullptr;
    bool ok = KsGetTranslation(fsg, words, &t) == 0;
    std::free(t);
    return ok;
}

#endif // KSBNFC_BENCH_CALLS_H

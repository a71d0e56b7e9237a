// runtime.cpp: the run-time half of the exported interface. Loads FSG files
// and extern grammars, tests and translates word strings, and searches them
// for accepted stretches (KsLoadFSG ... KsDelete): each entry point is a thin
// layer over the inner interface (ksbnfc_inner.h) that applies the failure
// convention.
#include "ksbnfc_inner.h"
#include "tfsg.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The failure convention over the inner interface: its Failure becomes the
// library's thrown text again, which KsBoundary puts in the message buffer.
template <class F> int Boundary(F&& work)
{
    return KsBoundary([&] {
        try {
            work();
        } catch (const ksbnfc::Failure& f) {
            Error("%s", f.what());
        }
    });
}

ksbnfc::Grammar Grammar(void* fsg, const char* who)
{
    if (!fsg) Error("%s: no FSG loaded", who);
    return ksbnfc::Grammar(static_cast<TFSG*>(fsg), false);
}

// The translation in memory the caller can release with free().
char* ForCaller(const ksbnfc::Grammar::Result& r)
{
    if (!r.has_translation) return nullptr;
    size_t n = r.translation.size() + 1;
    char* c = static_cast<char*>(std::malloc(n));
    if (!c) Error("out of memory for a translation of %u bytes", (unsigned)n);
    std::memcpy(c, r.translation.c_str(), n);
    return c;
}

int Translate(void* fsg, char** words, char** vocabs, char** translation, const char* who)
{
    return Boundary([&] {
        char* t = ForCaller(Grammar(fsg, who).Match(words, vocabs));
        if (translation)
            *translation = t;
        else
            std::free(t);
    });
}

} // namespace

int KsLoadFSG(const char* name, void** fsg)
{
    return Boundary([&] {
        if (!name) Error("KsLoadFSG: no file name");
        std::unique_ptr<ksbnfc::Grammar> g = ksbnfc::Grammar::Load(name);
        if (fsg) *fsg = g->Release();
    });
}

int KsUnloadFSG(void* fsg)
{
    // A grammar someone still holds a reference on (the extern cache holds
    // one on each of its grammars) stays: the holder would be left dangling.
    if (fsg) ksbnfc::Grammar(static_cast<TFSG*>(fsg), true);
    return 0;
}

int KsLoadExternFSG(const char* name, const char* filename, void** fsg)
{
    return Boundary([&] {
        if (!name) Error("KsLoadExternFSG: no grammar name");
        TFSG* g = TFSG::Extern(name, filename);
        if (fsg) *fsg = g;
    });
}

int KsTest(void* fsg, char** words, int* result)
{
    return Boundary([&] {
        int accepted = Grammar(fsg, "KsTest").Match(words, nullptr).accepted;
        if (result) *result = accepted;
    });
}

int KsGetTranslation(void* fsg, char** words, char** translation)
{
    return Translate(fsg, words, nullptr, translation, "KsGetTranslation");
}

int KsGetTranslation2(void* fsg, char** words, char** vocabs, char** translation)
{
    return Translate(fsg, words, vocabs, translation, "KsGetTranslation2");
}

int KsFindSubStrs(char** words, void* fsg, void** subStrsHandler)
{
    return Boundary([&] {
        std::unique_ptr<SubStrsHandler> h(new SubStrsHandler);
        Grammar(fsg, "KsFindSubStrs").SubStrings(words, *h);
        if (subStrsHandler) *subStrsHandler = h.release();
    });
}

void* KsGetNextSubStr(void* subStrsHandler)
{
    return subStrsHandler ? static_cast<SubStrsHandler*>(subStrsHandler)->getNext() : nullptr;
}

int KsGetSubStrStart(void* substr)
{
    return substr ? static_cast<MySubStrTuple*>(substr)->start_index : -1;
}

int KsGetSubStrEnd(void* substr)
{
    return substr ? static_cast<MySubStrTuple*>(substr)->end_index : -1;
}

double KsGetSubStrProb(void* substr)
{
    return substr ? static_cast<MySubStrTuple*>(substr)->prob : 0.0;
}

void KsFreeSubStrs(void* subStrsHandler)
{
    delete static_cast<SubStrsHandler*>(subStrsHandler);
}

int KsMemStats(void)
{
    return 0;
}

void KsDelete(void* x)
{
    (void)x;
}

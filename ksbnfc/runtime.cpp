// runtime.cpp: the run-time half of the exported interface. Loads FSG files
// and extern grammars, tests and translates word strings, and searches them
// for accepted stretches (KsLoadFSG ... KsDelete); each entry point converts
// the caller's arrays, runs the work and applies the failure convention.
#include "tfsg.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Copies a null-terminated array of words (null: no words) into list.
void ToList(char** words, TStringList& list)
{
    if (!words) return;
    for (int i = 0; words[i]; i++) list.Add(mbstring(words[i]));
}

TFSG* Grammar(void* fsg, const char* who)
{
    if (!fsg) Error("%s: no FSG loaded", who);
    return static_cast<TFSG*>(fsg);
}

// The translation in memory the caller can release with free().
char* ForCaller(mbstring t)
{
    if (!t.s) return nullptr;
    size_t n = std::strlen(t.s) + 1;
    char* c = static_cast<char*>(std::malloc(n));
    if (!c) {
        delete[] t.s;
        Error("out of memory for a translation of %u bytes", (unsigned)n);
    }
    std::memcpy(c, t.s, n);
    delete[] t.s;
    return c;
}

int Translate(void* fsg, char** words, char** vocabs, char** translation, const char* who)
{
    return KsBoundary([&] {
        TFSG* g = Grammar(fsg, who);
        TStringList list;
        ToList(words, list);
        TStringList tags;
        if (vocabs) {
            // One tag per word; a null entry ends the vocabularies early, and
            // the words after it have no tag.
            std::string tag;
            for (int i = 0; i < list.length && vocabs[i]; i++) {
                tag.assign("<").append(vocabs[i]).append(">");
                tags.Add(mbstring(tag.c_str()));
            }
        }
        int prefix = 0;
        mbstring out;
        g->Match(list, vocabs ? &tags : nullptr, out, &prefix);
        char* t = ForCaller(out);
        if (translation)
            *translation = t;
        else
            std::free(t);
    });
}

} // namespace

int KsLoadFSG(const char* name, void** fsg)
{
    return KsBoundary([&] {
        if (!name) Error("KsLoadFSG: no file name");
        TFSG* g = new TFSG(mbstring(name), TSubFSG::EqNorm);
        try {
            g->ReadFile(name, 0);
        } catch (char*) {
            delete g;
            throw;
        }
        if (fsg)
            *fsg = g;
        else
            delete g;
    });
}

int KsUnloadFSG(void* fsg)
{
    // A grammar someone still holds a reference on (the extern cache holds
    // one on each of its grammars) stays: the holder would be left dangling.
    TFSG* g = static_cast<TFSG*>(fsg);
    if (g && g->refcnt <= 0) delete g;
    return 0;
}

int KsLoadExternFSG(const char* name, const char* filename, void** fsg)
{
    return KsBoundary([&] {
        if (!name) Error("KsLoadExternFSG: no grammar name");
        TFSG* g = TFSG::Extern(name, filename);
        if (fsg) *fsg = g;
    });
}

int KsTest(void* fsg, char** words, int* result)
{
    return KsBoundary([&] {
        TFSG* g = Grammar(fsg, "KsTest");
        TStringList list;
        ToList(words, list);
        int prefix = 0;
        mbstring out;
        double p = g->Match(list, nullptr, out, &prefix);
        delete[] out.s;
        if (result) *result = p > 0 ? 2 : prefix ? 1 : 0;
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
    return KsBoundary([&] {
        TFSG* g = Grammar(fsg, "KsFindSubStrs");
        TStringList list;
        ToList(words, list);
        SubStrsHandler* h = new SubStrsHandler;
        try {
            for (int s = 0; s < list.length; s++) g->SubStrs(list, h, s, s, 1.0, g->Initial(), nullptr);
        } catch (char*) {
            delete h;
            throw;
        }
        if (subStrsHandler)
            *subStrsHandler = h;
        else
            delete h;
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

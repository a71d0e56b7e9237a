// fsg_build.h: run-time test grammars. Builds a TFSG in the graph_dump
// notation, numbers it as normalisation would, and either matches it in
// memory or writes it to a temporary .fsg file for the loaders.
//
// Intern references are written "<k>" and call intern network k (the k-th
// text passed to Make); extern references are "$<name>".
#ifndef KSBNFC_TESTS_FSG_BUILD_H
#define KSBNFC_TESTS_FSG_BUILD_H

#include "graph_dump.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fsg_build {

// How intern and extern references are numbered: as read from a file
// (intern k has id k) or as the writer expects them (0xFFFF - k).
enum Ids { kAsRead, kForFile };

inline TFSG* Make(const std::string& main, const std::vector<std::string>& interns = {}, Ids ids = kAsRead,
                  const char* name = "test")
{
    TFSG* g = new TFSG(mbstring(name), TSubFSG::EqNorm);
    for (size_t k = 0; k < interns.size(); k++) {
        TSubFSG* s = new TSubFSG(mbstring(("intern #" + std::to_string(k)).c_str()), g);
        s->AddRef();
        g->intern_fsgs.Add(s);
    }
    graph_dump::Build(g, main);
    for (size_t k = 0; k < interns.size(); k++) graph_dump::Build(g->intern_fsgs[(int)k], interns[k]);
    for (int i = 0; i < g->interns.length; i++) {
        TWord* w = g->interns[i];
        int k = std::atoi(w->word.s + 1);
        w->id = ids == kAsRead ? k : 0xFFFF - k;
    }
    for (int j = 0; j < g->externs.length; j++) g->externs[j]->id = 0xFFFF - j - g->intern_fsgs.length;
    g->normalized = 1;
    for (int k = 0; k < g->intern_fsgs.length; k++) g->intern_fsgs[k]->normalized = 1;
    return g;
}

// A temporary file removed with the object.
class TempFile {
public:
    explicit TempFile(const char* tag = "fsg")
    {
        std::string t = std::string("/tmp/ksbnfc_") + tag + "_XXXXXX";
        std::vector<char> buf(t.begin(), t.end());
        buf.push_back(0);
        int fd = mkstemp(buf.data());
        if (fd >= 0) close(fd);
        path = buf.data();
    }
    ~TempFile() { unlink(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* c_str() const { return path.c_str(); }
    std::string path;
};

// Writes the grammar to file and deletes it.
inline void Write(const std::string& main, const std::vector<std::string>& interns, const TempFile& file)
{
    TFSG* g = Make(main, interns, kForFile);
    try {
        g->WriteFile(file.c_str());
    } catch (...) {
        delete g;
        throw;
    }
    delete g;
}

inline std::string Thrown(const std::function<void()>& f)
{
    try {
        f();
    } catch (char* msg) {
        return msg;
    }
    return "(no error)";
}

inline void Fill(TStringList& l, const std::vector<const char*>& words)
{
    for (const char* w : words) l.Add(mbstring(w));
}

} // namespace fsg_build

#endif // KSBNFC_TESTS_FSG_BUILD_H

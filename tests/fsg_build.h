// fsg_build.h: run-time test grammars. Builds a TFSG in the graph_dump
// notation, numbers it as normalisation would, and either matches it in
// memory or writes it to a temporary .fsg file for the loaders; and builds
// .fsg file images byte by byte for the reader and writer tests.
//
// Intern references are written "<k>" and call intern network k (the k-th
// text passed to Make); extern references are "$<name>".
#ifndef KSBNFC_TESTS_FSG_BUILD_H
#define KSBNFC_TESTS_FSG_BUILD_H

#include "cases.h"
#include "graph_dump.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
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

using graph_dump::Thrown;

// ---- file images ----

using Bytes = std::vector<unsigned char>;

// Little-endian image of file contents.
struct LE {
    Bytes b;
    LE& i32(long v)
    {
        for (int k = 0; k < 4; k++) b.push_back((unsigned char)((unsigned long)v >> (8 * k)));
        return *this;
    }
    LE& u16(long v) { return b.push_back((unsigned char)v), b.push_back((unsigned char)((unsigned long)v >> 8)), *this; }
    LE& str(const std::string& s) { return b.insert(b.end(), s.begin(), s.end()), *this; }
    LE& z(const std::string& s) { return str(s).str(std::string(1, '\0')); }
    LE& bytes(const LE& o) { return b.insert(b.end(), o.b.begin(), o.b.end()), *this; }
};

inline int32_t At32(const Bytes& b, size_t off)
{
    return (int32_t)((uint32_t)b[off] | (uint32_t)b[off + 1] << 8 | (uint32_t)b[off + 2] << 16 | (uint32_t)b[off + 3] << 24);
}

struct FileArc {
    unsigned w, next;
    int logp;
    unsigned anno;
};
struct Block {
    std::vector<long> first; // nStates entries
    std::vector<FileArc> arcs;
};
// The pieces of a file; Image computes every length and count.
struct FileSpec {
    int flags = 0x410;
    std::vector<Block> blocks;        // the main grammar first
    std::vector<std::string> externs; // bare names
    std::vector<std::string> words;   // without the null word
    std::vector<std::string> annos;   // as stored ("" for annotation 0)
    bool private_area = true;
};

inline Bytes Image(const FileSpec& s)
{
    LE in, ex, wd, an, f;
    for (size_t k = 0; k < s.blocks.size(); k++) {
        in.i32((long)s.blocks[k].first.size());
        for (long first : s.blocks[k].first) in.i32(first);
        in.i32((long)s.blocks[k].arcs.size());
        for (const FileArc& a : s.blocks[k].arcs) in.u16(a.w).u16(a.next).u16(a.logp).u16(a.anno);
        in.i32(k ? 0 : (long)s.annos.size()); // only the main grammar has an annotation table
        long off = 0;
        for (size_t j = 0; k == 0 && j < s.annos.size(); off += (long)s.annos[j++].size() + 1) in.i32(off);
    }
    for (const std::string& e : s.externs) ex.z(e);
    for (const std::string& w : s.words) wd.z(w);
    for (const std::string& a : s.annos) an.z(a);
    f.i32(64 + 4 + (long)(in.b.size() + ex.b.size() + wd.b.size())).i32(s.private_area ? 24 + (long)an.b.size() : 0);
    f.str("SACOKV01").i32(64).i32(6).i32(4).i32(1);
    f.i32((long)in.b.size()).i32((long)s.blocks.size()).i32((long)ex.b.size()).i32((long)s.externs.size());
    f.i32((long)wd.b.size()).i32((long)s.words.size()).i32(0).i32(0).i32(s.flags);
    f.bytes(in).bytes(ex).bytes(wd);
    if (s.private_area) f.str("02 GB   ").i32(24).i32((long)an.b.size()).i32(0).i32(0).bytes(an);
    return f.b;
}

// The grammar whose one rule is the word "yes" with the annotation "y": 137 bytes.
inline FileSpec OneWord()
{
    FileSpec s;
    s.blocks = {{{0, 1}, {{1, 1, 0, 1}}}};
    s.words = {"yes"};
    s.annos = {"", "&y."};
    return s;
}

// The file of OneWord field by field, from tests/data/fsg_file.txt.
struct Field {
    std::string name;
    size_t at;
    Bytes bytes;
};
inline std::vector<Field> OneWordFields()
{
    std::vector<Field> out;
    for (const cases::Case& c : cases::Read("fsg_file.txt")) {
        if (c[0].rfind("damage ", 0) == 0) continue;
        out.push_back(Field{c[0], (size_t)std::stoul(c[1]), {}});
        std::istringstream hex(c[2]);
        for (unsigned v; hex >> std::hex >> v;) out.back().bytes.push_back((unsigned char)v);
    }
    return out;
}

inline Bytes Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void Save(const Bytes& b, const std::string& path)
{
    std::ofstream(path, std::ios::binary).write((const char*)b.data(), (std::streamsize)b.size());
}

} // namespace fsg_build

#endif // KSBNFC_TESTS_FSG_BUILD_H

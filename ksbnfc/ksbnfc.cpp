// ksbnfc.cpp: the compile entry of the library. KsCompileGrammar reads the
// caller's parameters and runs the driver Compile, which parses a BNF or JSGF
// file and compiles, normalises and writes one FSG file per root; makefn builds
// the output names of grammars with several roots.
#include "ksbnfc_inner.h"
#include "trule.h"

#include <cstdlib>
#include <ctime>
#include <strings.h>

namespace {

// Appends s a character at a time (a two-byte character as lead then trail
// byte) and returns the code of its last character, 0 for an empty text.
unsigned int AppendText(TCharArray& buf, mbstring s)
{
    unsigned int last = 0;
    for (unsigned int c; (c = *s) != 0; ++s) buf.Add(last = c);
    return last;
}

// Owns what one run of the driver has created and releases it on every way
// out: the BNF stream, the grammars not yet destroyed and the driver's
// reference on the FSG being worked on. With del == 0 the driver keeps its
// objects alive on success, as a debugging aid; on failure everything goes.
class DriverScope {
public:
    TBNFStream* stream = nullptr;
    TArray<TGrammar*> grammars;
    int next = 0;            // first grammar not yet destroyed
    TFSG* fsg = nullptr;     // holds one reference of the driver
    char* name = nullptr;    // output name made here (delete[])

    DriverScope() = default;
    DriverScope(const DriverScope&) = delete;
    DriverScope& operator=(const DriverScope&) = delete;

    void DropStream()
    {
        delete stream;
        stream = nullptr;
    }
    void DropName()
    {
        delete[] name;
        name = nullptr;
    }
    // Grammar i goes before the FSG: the grammar's dictionary may still
    // cache intern networks that the FSG refers to.
    void DropGrammar(int i, bool drop_fsg)
    {
        delete grammars[i];
        grammars[i] = nullptr;
        next = i + 1;
        if (drop_fsg && fsg) fsg->DelRef();
        if (drop_fsg) fsg = nullptr;
    }
    ~DriverScope()
    {
        DropName();
        DropStream();
        for (int i = next; i < grammars.length; i++) delete grammars[i];
        if (fsg) fsg->DelRef();
    }
};

// The notation of the grammar: as the caller says, else JSGF for the
// extension ".gram" and BNF for everything else.
bool IsJSGF(const parms& p)
{
    if (p.syntax) {
        if (std::strcmp(p.syntax, "jsgf") == 0) return true;
        if (std::strcmp(p.syntax, "bnf") == 0) return false;
        Error("unknown syntax '%s' (bnf or jsgf)", p.syntax);
    }
    size_t n = std::strlen(p.bnf_file);
    return n >= 5 && strcasecmp(p.bnf_file + n - 5, ".gram") == 0;
}

// The intent section after the file just written.
void AppendToFile(const char* path, const std::string& bytes)
{
    std::FILE* f = std::fopen(path, "ab");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) Error("can't write %s", path);
}

} // namespace

char* makefn(const char* dir, const char* s, const char* ext)
{
    char* tmpdir = nullptr;
    if (!dir) dir = tmpdir = makepath(nullptr, nullptr, "", "");
    TCharArray buf;
    if (*dir) {
        // The last character, not the last byte: in a two-byte code page a
        // trail byte may equal '\\' without ending the directory name.
        unsigned int last = AppendText(buf, dir);
        if (last != '/' && last != '\\') buf.TArrayX<char>::Add('/');
    }
    for (const char* p = s; p && *p; p++)
        if (*p != '<' && *p != '>') buf.TArrayX<char>::Add(*p);
    if (ext) AppendText(buf, ext);
    buf.TArrayX<char>::Add('\0');
    delete[] tmpdir;
    return Copy(buf.elements);
}

void Compile(parms& p, int del, TCompiledFiles* files)
{
    ::dbglevel = p.dbglevel;
    ::warnings = p.warnings;
    std::clock_t start = 0;
    if (p.time) start = std::clock();
    // A code page the library does not know would silently be read as
    // plain single-byte text; so would a misspelt one in the environment.
    if (p.codepage) {
        if (!KnownCodePage((unsigned long)p.codepage)) Error("unknown code page %d", p.codepage);
        ks_set_cp((unsigned long)p.codepage);
    } else if (::codepage == 0) {
        const char* env = std::getenv("SPCH_CODEPAGE");
        char* end = nullptr;
        unsigned long cp = env ? std::strtoul(env, &end, 10) : 0;
        if (env && *env && (*end || (cp != 0 && !KnownCodePage(cp))))
            Error("unknown code page '%s' in SPCH_CODEPAGE", env);
    }

    TSubFSG::Eq eq = p.eq_arcs ? TSubFSG::EqArcProb : p.eq_sentences ? TSubFSG::EqSentProb : TSubFSG::EqNorm;

    if (!p.bnf_file) Error("no .bnf file specified");

    DriverScope run;
    int needtr;
    if (IsJSGF(p)) {
        needtr = CompileJSGF(p.bnf_file, p.annotations, run.grammars);
    } else {
        run.stream = new TBNFStream(p.bnf_file, nullptr);
        run.stream->Annotations(p.annotations);
        run.stream->NumOnly(p.numonly);
        run.stream->Compile(run.grammars);
        needtr = run.stream->NeedTr();
    }

    if (needtr && p.annotations && !p.use_null_arcs)
        Error("please specify -tr for translation fsg or -en for engine fsg");
    // Intents are understood from translation FSGs only.
    const bool intents = p.annotations && p.use_null_arcs && run.grammars.length > 0 &&
                         HasTags(run.grammars[0]->dictionary);
    if (del) run.DropStream();

    const int n = run.grammars.length;
    if (n > 1 && p.fsg_file) Error("your grammar has multiple roots - please use -d instead of -o");
    if (n <= 1 && p.fsg_file && p.fsg_directory) Error("please specify only one of -d and -o");

    for (int i = 0; i < n; i++) {
        run.fsg = run.grammars[i]->Compile(p.use_null_arcs, p.annotations, i == n - 1, p.intern_all, eq);
        run.fsg->AddRef();
        // Normalisation only adds words, so a grammar already past the
        // writer's limit fails there for certain. Without intern networks to
        // resolve, listings or printed warnings, nothing between here and the
        // writer can report anything else, except the output name: so that
        // is made first, and the writer's error is raised now.
        bool doomed = TooManyWordsAndExterns(run.fsg) && ::dbglevel <= 0 && ::warnings >= 0 &&
                      run.fsg->with.length == 0 && run.fsg->without.length == 0;
        if (!doomed) {
            run.fsg->Flags(p.flags);
            run.fsg->Normalize();
            run.fsg->Print(::dbglevel, "final");
        }

        const char* out;
        if (p.fsg_directory) {
            out = run.name = makefn(p.fsg_directory, run.fsg->name.s, p.default_extension);
        } else if (n > 1) {
            splitpath(p.bnf_file);
            out = run.name = makefn(nullptr, run.fsg->name.s, p.default_extension);
        } else if (p.fsg_file) {
            out = p.fsg_file;
        } else {
            splitpath(p.bnf_file);
            out = run.name = makepath(nullptr, nullptr, nullptr, p.default_extension);
        }
        if (doomed) Error("%s", kTooManyWordsAndExterns);
        std::string section;
        if (intents) {
            section.assign(ksbnfc::kIntentSection, sizeof ksbnfc::kIntentSection);
            section += CompileIntents(run.grammars[i], p.use_null_arcs, p.intern_all, eq, p.flags);
        }
        if (files) {
            files->files.push_back(TCompiledFile{run.fsg->name.s ? run.fsg->name.s : "", out, std::string()});
            if (files->in_memory) {
                run.fsg->WriteBytes(files->files.back().bytes);
                files->files.back().bytes += section;
            }
        }
        if (!files || !files->in_memory) {
            run.fsg->WriteFile(out);
            if (!section.empty()) AppendToFile(out, section);
        }
        run.DropName();

        if (del) {
            run.DropGrammar(i, true);
        } else if (i < n - 1) {
            run.DropGrammar(i, false);
            run.fsg = nullptr; // the FSG keeps the driver's reference
        }
    }
    if (!del) {
        // Everything made by this run stays alive by request.
        run.next = n;
        run.fsg = nullptr;
        run.stream = nullptr;
    }

    if (p.time) {
        // One tick of a millisecond clock is added so that a very fast run
        // never reports zero; the figure is in seconds.
        double ms = (double)(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
        std::fprintf(stderr, "%.3f\n", ((long)ms + 1) * 0.001);
    }
}

int KsCompileGrammar(int nargs, KsArg* args)
{
    return KsBoundary([&] {
        parms p;
        ArgsToParms(nargs, args, p);
        Compile(p, 1);
    });
}

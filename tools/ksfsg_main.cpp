// ksfsg_main.cpp: the work of the run-time tool (FsgMain): loads an FSG file
// and dumps, lists, tests, translates, searches or enumerates with it.
// Word strings come from the request or, one per line, from the input.
#include "ksfsg_main.h"

#include "ksfsg_view.h"
#include "tfsg.h"
#include "tool_messages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <unistd.h>

namespace {

// The library's failures arrive as messages; the tool stops at the first.
struct Failed {
    std::string text;
};

void Check(int rc, std::FILE* err)
{
    if (rc == 1000) throw Failed{KsMsgBuf};
    if (rc == 1 && KsMsgBuf[0]) PrintWarnings(KsMsgBuf, "ksfsg", err);
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::strchr(" \t\r\n", line[i])) i++;
        size_t b = i;
        while (i < line.size() && !std::strchr(" \t\r\n", line[i])) i++;
        if (i > b) words.push_back(line.substr(b, i - b));
    }
    return words;
}

// One line of any length, without its line end; false at the end of input.
bool ReadLine(std::FILE* in, std::string& line)
{
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += (char)c;
    return c != EOF || !line.empty();
}

std::string Join(const std::vector<std::string>& words, size_t from = 0, size_t to = std::string::npos)
{
    std::string s;
    for (size_t i = from; i < words.size() && i < to; i++) {
        if (i > from) s += ' ';
        s += words[i];
    }
    return s;
}

// A null-terminated array over the words, as the C interface takes them.
std::vector<char*> CArray(const std::vector<std::string>& words)
{
    std::vector<char*> v;
    for (const std::string& w : words) v.push_back(const_cast<char*>(w.c_str()));
    v.push_back(nullptr);
    return v;
}

const char* Meaning(int result)
{
    return result == 2 ? "accepted" : result == 1 ? "incomplete" : "rejected";
}

bool Test(void* fsg, const std::vector<std::string>& words, std::FILE* out, std::FILE* err)
{
    std::vector<char*> v = CArray(words);
    int result = 0;
    Check(KsTest(fsg, v.data(), &result), err);
    std::fprintf(out, "%d %s\n", result, Meaning(result));
    return result == 2;
}

bool Translate(TFSG* g, const std::vector<std::string>& words, std::FILE* out)
{
    TStringList list;
    for (const std::string& w : words) list.Add(mbstring(w.c_str()));
    mbstring t;
    int prefix = 0;
    double p = g->Match(list, nullptr, t, &prefix);
    if (p > 0) {
        std::fprintf(out, "2 p=%.6g %s\n", p, t.s ? t.s : "-");
        delete[] t.s;
        return true;
    }
    std::fprintf(out, "%d %s\n", prefix ? 1 : 0, Meaning(prefix ? 1 : 0));
    return false;
}

bool SubStrings(void* fsg, const std::vector<std::string>& words, std::FILE* out, std::FILE* err)
{
    std::vector<char*> v = CArray(words);
    void* h = nullptr;
    Check(KsFindSubStrs(v.data(), fsg, &h), err);
    std::fflush(stdout);
    while (void* r = KsGetNextSubStr(h)) {
        int s = KsGetSubStrStart(r), e = KsGetSubStrEnd(r);
        std::fprintf(out, "%d-%d p=%.6g %s\n", s, e, KsGetSubStrProb(r), Join(words, (size_t)s, (size_t)e + 1).c_str());
    }
    KsFreeSubStrs(h);
    return true;
}

// Runs fn on the request's word string, or on each line of the input;
// true when fn was true for every one.
template <class F> bool EachWordString(const FsgRequest& r, std::FILE* in, F fn)
{
    if (!r.from_input) return fn(r.words);
    bool all = true;
    std::string line;
    while (ReadLine(in, line))
        if (!fn(Split(line))) all = false;
    return all;
}

// The extern names (with their brackets) of g and of every extern grammar
// it reaches that is loaded.
void ExternNames(TFSG* g, std::set<std::string>& names)
{
    std::vector<TFSG*> todo{g};
    while (!todo.empty()) {
        TFSG* f = todo.back();
        todo.pop_back();
        for (int i = 0; i < f->externs.length; i++) {
            TWord* w = f->externs[i];
            if (!w || !w->word.s || !names.insert(w->word.s).second) continue;
            if (TFSG* x = TFSG::Extern(w->word.s, nullptr)) todo.push_back(x);
        }
    }
}

// A word string that needs an extern grammar is rejected when that grammar
// is not loaded; and an -x the grammar has no use for is a slip.
void WarnAboutExterns(TFSG* g, const FsgRequest& r, std::FILE* err)
{
    std::set<std::string> names;
    ExternNames(g, names);
    for (const auto& x : r.externs)
        if (!names.count("<" + x.first + ">"))
            std::fprintf(err, "ksfsg: warning: -x %s=%s: %s does not use an extern grammar <%s>\n",
                         x.first.c_str(), x.second.c_str(), r.file.c_str(), x.first.c_str());
    for (const std::string& n : names)
        if (!TFSG::Extern(n.c_str(), nullptr))
            std::fprintf(err,
                         "ksfsg: warning: extern grammar %s is not loaded: word strings through it are "
                         "rejected (load it with -x %s=FILE or --externs)\n",
                         n.c_str(), n.substr(1, n.size() - 2).c_str());
}

// The accepted sentences, and on err what the bounds left out: a list that
// looks complete must be.
void Enumerate(TFSG* g, const FsgRequest& r, std::FILE* out, std::FILE* err)
{
    TSentenceLimits limits;
    limits.max_words = r.max_words;
    limits.words_only = 1;
    limits.max_loops = r.max_loops;
    limits.full = r.full;
    limits.anno = r.annotations;
    TSentenceReport report;
    g->Sentences(limits, report, [&](const std::string& s, double p) {
        size_t n = s.size();
        while (n > 0 && s[n - 1] == ' ') n--;
        if (r.probabilities) std::fprintf(out, "%-#8.2g ", p);
        std::fprintf(out, "%.*s\n", (int)n, s.c_str());
    });
    std::fflush(out);
    auto note = [&](long n, const char* what) {
        if (n) std::fprintf(err, "ksfsg: note: %ld %s\n", n, what);
    };
    note(report.words_cut, "paths cut at the word limit (--max)");
    note(report.loops_cut, "paths not followed round a loop again (--loops)");
    note(report.arcs_skipped, "arcs left out, only the first to each target was followed (--first)");
    note(report.externs_missing, "calls of extern grammars that are not loaded left out");
}

// A grammar read from standard input goes through a temporary file, since
// the reader needs a file it can measure and seek in.
class InputCopy {
public:
    std::string path;
    ~InputCopy()
    {
        if (!path.empty()) unlink(path.c_str());
    }
    void Make(std::FILE* in)
    {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/ksfsg.XXXXXX";
        int fd = mkstemp(&path[0]);
        if (fd < 0) {
            path.clear();
            throw Failed{std::string("can't create a temporary file (") + std::strerror(errno) + ")"};
        }
        char buf[65536];
        size_t n;
        bool ok = true;
        while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
            if (write(fd, buf, n) != (ssize_t)n) ok = false;
        if (close(fd) != 0 || !ok || std::ferror(in))
            throw Failed{std::string("can't copy standard input (") + std::strerror(errno) + ")"};
    }
};

void Random(TFSG* g, const FsgRequest& r, std::FILE* out)
{
    std::srand(r.seed);
    for (int i = 0; i < r.count; i++) {
        std::vector<std::string> words;
        double p = g->RandomSentence(words);
        std::fprintf(out, "%-#8.2g %s\n", p, Join(words).c_str());
    }
}

// Returns false when test or translate met a word string not accepted.
bool Run(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err, InputCopy& input)
{
    std::string file = r.file;
    if (file == "-") {
        input.Make(in);
        file = input.path;
    }
    if (r.command == "dump") {
        DumpFsg(file, r.file == "-" ? "<stdin>" : r.file, out);
        return true;
    }

    void* fsg = nullptr;
    Check(KsLoadFSG(file.c_str(), &fsg), err);
    bool all = true;
    TFSG* g = static_cast<TFSG*>(fsg);
    try {
        for (const auto& x : r.externs) {
            void* h = nullptr;
            Check(KsLoadExternFSG(x.first.c_str(), x.second.c_str(), &h), err);
        }
        if (r.load_externs) g->LoadExterns(r.file.c_str(), 0);
        if (r.command == "test" || r.command == "translate" || r.command == "substrs") WarnAboutExterns(g, r, err);

        if (r.command == "list") {
            ListFsg(g, r.file == "-" ? "<stdin>" : r.file, r.verbosity, out);
        } else if (r.command == "info") {
            InfoFsg(g, r.file == "-" ? "<stdin>" : r.file, out);
        } else if (r.command == "test") {
            all = EachWordString(r, in, [&](const std::vector<std::string>& w) { return Test(fsg, w, out, err); });
        } else if (r.command == "translate") {
            all = EachWordString(r, in, [&](const std::vector<std::string>& w) { return Translate(g, w, out); });
        } else if (r.command == "substrs") {
            EachWordString(r, in, [&](const std::vector<std::string>& w) { return SubStrings(fsg, w, out, err); });
        } else if (r.command == "enumerate") {
            WarnAboutExterns(g, r, err);
            Enumerate(g, r, out, err);
        } else if (r.command == "random") {
            Random(g, r, out);
        } else {
            throw Failed{"unknown command '" + r.command + "'"};
        }
    } catch (...) {
        KsUnloadFSG(fsg);
        throw;
    }
    KsUnloadFSG(fsg);
    return all;
}

// Library messages may end in a line end of their own; a grammar read from
// standard input is called so, not by its temporary name.
void Report(std::FILE* err, std::string text, const InputCopy& input)
{
    for (size_t at; !input.path.empty() && (at = text.find(input.path)) != std::string::npos;)
        text.replace(at, input.path.size(), "<stdin>");
    std::fflush(stdout);
    std::fprintf(err, "%s\n", FormatMessage(text, "error", "ksfsg").c_str());
}

} // namespace

int FsgMain(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err)
{
    // Warnings are collected so that they can be shown with the results.
    warnings = 1;
    int rc = 0;
    InputCopy input;
    try {
        if (!Run(r, in, out, err, input)) rc = 1;
    } catch (char* msg) {
        Report(err, msg, input);
        rc = 2;
    } catch (const Failed& f) {
        Report(err, f.text, input);
        rc = 2;
    }
    std::fflush(stdout);
    std::fflush(out);
    return rc;
}

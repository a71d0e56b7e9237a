// ksfsg_main.cpp: the work of the run-time tool (FsgMain): loads an FSG file
// through the inner interface and dumps, lists, tests, translates, searches
// or enumerates with it. Word strings come from the request or, one per
// line, from the input.
#include "ksfsg_main.h"

#include "intent.h"
#include "ksbnfc_inner.h"
#include "ksfsg_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// The tool's own failures; the library's arrive as ksbnfc::Failure.
struct Failed {
    std::string text;
};

typedef std::unique_ptr<ksbnfc::Grammar> GrammarPtr;

ksbnfc::Words Split(const std::string& line)
{
    ksbnfc::Words words;
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

std::string Join(const ksbnfc::Words& words, size_t from = 0, size_t to = std::string::npos)
{
    std::string s;
    for (size_t i = from; i < words.size() && i < to; i++) {
        if (i > from) s += ' ';
        s += words[i];
    }
    return s;
}

// The name a file is shown by: a grammar read from standard input is "<stdin>".
std::string ShownName(const std::string& file)
{
    return file == "-" ? "<stdin>" : file;
}

std::string ReadAll(std::FILE* in)
{
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) bytes.append(buf, n);
    if (std::ferror(in)) throw Failed{std::string("can't read standard input (") + std::strerror(errno) + ")"};
    return bytes;
}

// The request's FSG file, or the bytes of standard input for "-"; with
// dump, the reader lists there what it reads.
GrammarPtr Load(const FsgRequest& r, std::FILE* in, std::FILE* dump = nullptr)
{
    if (r.file == "-") return ksbnfc::Grammar::FromBytes(ReadAll(in), ShownName(r.file), dump);
    return ksbnfc::Grammar::Load(r.file, dump);
}

const char* Meaning(int result)
{
    return result == 2 ? "accepted" : result == 1 ? "incomplete" : "rejected";
}

bool Test(const ksbnfc::Grammar& g, const ksbnfc::Words& words, std::FILE* out)
{
    int result = g.Match(words).accepted;
    std::fprintf(out, "%d %s\n", result, Meaning(result));
    return result == 2;
}

bool Translate(const ksbnfc::Grammar& g, const ksbnfc::Words& words, std::FILE* out)
{
    ksbnfc::Grammar::Result m = g.Match(words);
    if (m.accepted == 2) {
        std::fprintf(out, "2 p=%.6g %s\n", m.p, m.has_translation ? m.translation.c_str() : "-");
        return true;
    }
    std::fprintf(out, "%d %s\n", m.accepted, Meaning(m.accepted));
    return false;
}

// With line (from 1, for word strings read from the input), each stretch is
// marked with the line it belongs to, as grep -n marks its lines.
bool SubStrings(const ksbnfc::Grammar& g, const ksbnfc::Words& words, long line, std::FILE* out)
{
    for (const ksbnfc::Stretch& s : g.SubStrings(words)) {
        if (line > 0) std::fprintf(out, "%ld:", line);
        std::fprintf(out, "%d-%d p=%.6g %s\n", s.start, s.end, s.p,
                     Join(words, (size_t)s.start, (size_t)s.end + 1).c_str());
    }
    return true;
}

// Runs fn on the request's word string, or on each line of the input;
// true when fn was true for every one.
// fn gets the word string and its line number in the input (0 for the
// words of the command line).
template <class F> bool EachWordString(const FsgRequest& r, std::FILE* in, F fn)
{
    if (!r.from_input) return fn(r.words, 0L);
    bool all = true;
    std::string line;
    for (long n = 1; ReadLine(in, line); n++)
        if (!fn(Split(line), n)) all = false;
    return all;
}

// An extern grammar that is not loaded passes only its own bracketed name,
// so the word strings that go through it are rejected; an -x the grammar
// has no use for is a slip.
void WarnAboutExterns(const ksbnfc::Grammar& g, const FsgRequest& r, std::FILE* err)
{
    std::vector<std::string> names = g.ExternNames();
    for (const auto& x : r.externs)
        if (!std::binary_search(names.begin(), names.end(), "<" + x.first + ">"))
            std::fprintf(err, "ksfsg: warning: -x %s=%s: %s does not use an extern grammar <%s>\n",
                         x.first.c_str(), x.second.c_str(), r.file.c_str(), x.first.c_str());
    for (const std::string& n : names)
        if (!ksbnfc::Grammar::Extern(n))
            std::fprintf(err,
                         "ksfsg: warning: extern grammar %s is not loaded: word strings through it are "
                         "rejected, but for the word %s itself (load it with -x %s=FILE or --externs)\n",
                         n.c_str(), n.c_str(), n.substr(1, n.size() - 2).c_str());
}

// An engine FSG keeps no annotations, so its translations are empty.
void WarnAboutEngineFsg(const ksbnfc::Grammar& g, const FsgRequest& r, std::FILE* err)
{
    if (g.Graph().Annotations() <= 1)
        std::fprintf(err,
                     "ksfsg: warning: %s carries no translations (an engine FSG, compiled with -en?): "
                     "translate shows only whether each word string is accepted; compile with -tr to "
                     "translate\n",
                     r.file.c_str());
}

// The accepted sentences, and on err what the bounds left out: a list that
// looks complete must be.
void Enumerate(const ksbnfc::Grammar& g, const FsgRequest& r, std::FILE* out, std::FILE* err)
{
    ksbnfc::SentenceLimits limits;
    limits.max_words = r.max_words;
    limits.max_loops = r.max_loops;
    limits.full = r.full;
    limits.annotations = r.annotations;
    ksbnfc::SentenceReport report = g.Sentences(limits, [&](const std::string& s, double p) {
        if (r.probabilities) std::fprintf(out, "%-#8.2g ", p);
        std::fprintf(out, "%s\n", s.c_str());
        return true;
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

void Random(const ksbnfc::Grammar& g, const FsgRequest& r, std::FILE* out)
{
    std::srand(r.seed);
    for (int i = 0; i < r.count; i++) {
        ksbnfc::Words words;
        double p = g.RandomSentence(words);
        std::fprintf(out, "%-#8.2g %s\n", p, Join(words).c_str());
    }
}

// The reader's listing of the file, gathered in memory and rewritten; a
// file that cannot be read is listed as far as the reader came, then its
// failure is thrown on.
void Dump(const FsgRequest& r, std::FILE* in, std::FILE* out)
{
    char* text = nullptr;
    size_t size = 0;
    std::FILE* listing = open_memstream(&text, &size);
    if (!listing) throw Failed{std::string("can't hold the dump (") + std::strerror(errno) + ")"};
    GrammarPtr g;
    std::exception_ptr failure;
    try {
        g = Load(r, in, listing);
    } catch (const ksbnfc::Failure&) {
        failure = std::current_exception();
    } catch (...) {
        std::fclose(listing);
        std::free(text);
        throw;
    }
    std::fclose(listing);
    std::string dump(text ? text : "", size);
    std::free(text);
    if (g) {
        ksbnfc::GraphView view = g->Graph();
        PrintDump(dump, &view, ShownName(r.file), out);
    } else {
        PrintDump(dump, nullptr, ShownName(r.file), out);
    }
    if (failure) std::rethrow_exception(failure);
}

// One JSON object a line for each word string; false when one was not
// understood.
bool Understand(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err)
{
    std::unique_ptr<ksintent::Understander> u =
        r.file == "-" ? ksintent::Understander::FromBytes(ReadAll(in), ShownName(r.file))
                      : ksintent::Understander::Load(r.file);
    for (const auto& x : r.externs) ksbnfc::Grammar::Extern(x.first, x.second);
    if (r.load_externs) u->Grammar().LoadExterns(r.file);
    WarnAboutExterns(u->Grammar(), r, err);
    if (!u->HasIntents())
        std::fprintf(err,
                     "ksfsg: warning: %s carries no intents or slots (compiled with -tr from a grammar "
                     "without tags?): understand shows only whether each word string is accepted\n",
                     r.file.c_str());
    return EachWordString(r, in, [&](const ksbnfc::Words& w, long) {
        ksintent::Understanding result = u->Understand(w);
        std::fprintf(out, "%s\n", ksintent::ToJson(result, u->Utf8()).c_str());
        return result.understood;
    });
}

// Returns false when test, translate or understand met a word string not
// accepted.
bool Run(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err)
{
    if (r.command == "dump") {
        Dump(r, in, out);
        return true;
    }
    if (r.command == "understand") return Understand(r, in, out, err);

    GrammarPtr loaded = Load(r, in);
    const ksbnfc::Grammar& g = *loaded;
    for (const auto& x : r.externs) ksbnfc::Grammar::Extern(x.first, x.second);
    if (r.load_externs) g.LoadExterns(r.file);
    if (r.command == "test" || r.command == "translate" || r.command == "substrs") WarnAboutExterns(g, r, err);

    bool all = true;
    if (r.command == "list") {
        ListFsg(g.Graph(), ShownName(r.file), r.verbosity, out);
    } else if (r.command == "info") {
        InfoFsg(g.Graph(), ShownName(r.file), out);
    } else if (r.command == "test") {
        all = EachWordString(r, in, [&](const ksbnfc::Words& w, long) { return Test(g, w, out); });
    } else if (r.command == "translate") {
        WarnAboutEngineFsg(g, r, err);
        all = EachWordString(r, in, [&](const ksbnfc::Words& w, long) { return Translate(g, w, out); });
    } else if (r.command == "substrs") {
        EachWordString(r, in, [&](const ksbnfc::Words& w, long n) { return SubStrings(g, w, n, out); });
    } else if (r.command == "enumerate") {
        WarnAboutExterns(g, r, err);
        Enumerate(g, r, out, err);
    } else if (r.command == "random") {
        Random(g, r, out);
    } else {
        throw Failed{"unknown command '" + r.command + "'"};
    }
    return all;
}

} // namespace

int FsgMain(const FsgRequest& r, std::FILE* in, std::FILE* out, std::FILE* err)
{
    // What the library traces (the extern look-ups of a search) stays off
    // the results.
    ksbnfc::ListingScope traces(err);
    int rc = 0;
    try {
        if (!Run(r, in, out, err)) rc = 1;
    } catch (const ksbnfc::Failure& f) {
        std::fflush(out);
        std::fprintf(err, "%s\n", f.diagnostic().Located("ksfsg").c_str());
        rc = 2;
    } catch (const Failed& f) {
        std::fflush(out);
        std::fprintf(err, "ksfsg: error: %s\n", f.text.c_str());
        rc = 2;
    }
    std::fflush(out);
    return rc;
}

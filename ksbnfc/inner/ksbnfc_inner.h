// ksbnfc_inner.h: the one interface for everything built on the library's
// core: the tools, the exporters, the speech tool and the Python module.
// It says in its types what a caller may do: compile options as a record,
// compiled files as bytes, diagnostics as records delivered to a sink, and
// a loaded grammar with its queries and a read-only view of its graph.
//
// The exported C interface (ksbnfc.h) is a thin layer over this one; its
// message texts and return codes are what its callers rely on, so the
// richer information (positions, what was expected) travels here, beside
// the text, and never inside it.
//
// Not exported from the shared library: programs link the static library.
// The library's process-wide state (code page, extern cache, debug and
// warning switches) is the same as for the C interface; a compile run must
// not overlap another call, while matching one loaded grammar may run on
// several threads at once (see ksbnfc.h).
#ifndef KSBNFC_INNER_H
#define KSBNFC_INNER_H

#include "ksbnfc.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class TFSG;
class TListingScope;
class SubStrsHandler;

namespace ksbnfc {

typedef std::vector<std::string> Words;

// ---- diagnostics ----

enum class Severity { Error, Warning };

// One message of the library. `text` is exactly what the C interface reports
// (a warning without the tab and the line end it is collected with; a line
// end of its own stays); the other fields say where the fault lies and what
// the parser expected there, when known.
struct Diagnostic {
    Severity severity = Severity::Error;
    std::string text;
    std::string file;     // the source at fault; empty when not known
    int line = 0;         // from 1; 0 when not known
    int column = 0;       // from 1; 0 when not known
    std::string expected; // "a word, a <name>, ..."; empty when nothing was expected
    // The text without the position it may end in ("syntax error"); empty
    // when the text has none to leave out.
    std::string message;
    // A warning that only this interface gives: how the grammar was probably
    // meant where it reads otherwise (a '.' that seems missing). A caller
    // shows it with the error that follows from it, if one does.
    bool hint = false;

    // The message without the position the C text may carry at its end,
    // with what was expected after it: "syntax error, expected '.' to end
    // the rule".
    std::string Explained() const;
    // "FILE:LINE:COLUMN: error: EXPLAINED", the form editors read; a message
    // without a position goes under `fallback` ("FALLBACK: warning: ...").
    std::string Located(const std::string& fallback) const;
};

// Sends this thread's listings and traces (the reader's dump, debug output,
// the extern look-ups SubStrings reports) to `to` while it lives, as
// CompileOptions::listing does for a compile; standard output otherwise.
// Scopes nest.
class ListingScope {
public:
    explicit ListingScope(std::FILE* to);
    ~ListingScope();
    ListingScope(const ListingScope&) = delete;
    ListingScope& operator=(const ListingScope&) = delete;

private:
    std::unique_ptr<TListingScope> scope_;
};

// Receives each warning as it is raised, in the order the C interface
// collects them.
typedef std::function<void(const Diagnostic&)> DiagnosticSink;

// Thrown by every call of this interface that fails: the error as a record,
// what() being its C text.
class Failure : public std::runtime_error {
public:
    explicit Failure(Diagnostic d);
    const Diagnostic& diagnostic() const { return diagnostic_; }

private:
    Diagnostic diagnostic_;
};

// ---- compiling ----

enum class Mode { Plain, Engine, Translation }; // -en, -tr, neither
// By extension: ".gram" is JSGF, ".txt" a list of slot values (one a line,
// or "spoken words : value"), which compiles to one root named after the
// file, each value its entry's translation.
enum class Syntax { ByExtension, Bnf, Jsgf, List };

// Compile settings. The fields left unset follow the mode, as the C
// interface's "useNullArcs" and "emitAnnotations" do when not given.
struct CompileOptions {
    Mode mode = Mode::Plain;
    Syntax syntax = Syntax::ByExtension;
    bool equalize_arcs = true;        // else the phrase flag "don't normalise" is set
    bool equalize_sentences = false;  // with equalize_arcs off
    int fsg_flags = PV_PHRASE_NO_INSERTIONS | PV_PHRASE_ALLOW_SILENCES; // fixed up as the C interface does
    std::optional<bool> use_null_arcs;
    // 0 drops annotations and translations, 1 keeps them, 2 also moves
    // annotations towards the start of the sentence.
    std::optional<int> annotations;
    int debug_level = 0;  // listings and traces go to `listing`
    // 0: warnings are dropped; otherwise each goes to the sink. A negative
    // value also lists the code page in use, as the C interface does when
    // it prints its warnings as they arise.
    int warnings = 1;
    bool time = false;    // the elapsed time in seconds on standard error
    int code_page = 0;    // 0: the process's
    // Where listings and traces go; null: standard output.
    std::FILE* listing = nullptr;
    // Where the files go. With write_files, each file is written as it is
    // made (one root: output_file or the source's name with the mode's
    // extension; several: output_directory or the source's folder, named
    // after the root), and files written before a failure stay. Without it
    // the files are only returned, named as they would have been written.
    bool write_files = false;
    std::string output_file;
    std::string output_directory;
};

struct CompiledFile {
    std::string root;  // "<name>" or "<<name>>"
    std::string path;  // where it was (or would have been) written
    std::string bytes; // the file; empty when written to disk
};

// Compiles the grammar file at `path` ("-" is the standard input), root by
// root. Warnings go to sink; an error throws Failure.
std::vector<CompiledFile> Compile(const std::string& path, const CompileOptions& options,
                                  const DiagnosticSink& sink = nullptr);
// The same for grammar text in memory; `name` stands for its file in
// messages and output names, and its folder is where includes and imports
// are looked for.
std::vector<CompiledFile> CompileText(const std::string& text, const std::string& name,
                                      const CompileOptions& options, const DiagnosticSink& sink = nullptr);

// ---- a loaded grammar ----

enum class ArcKind { Word, Null, Call, Extern };

// One arc as the read-only view shows it. Texts point into the grammar and
// live as long as it.
struct ArcView {
    int target;             // state index in the same network; -1: the end
    ArcKind kind;
    int id;                 // word id; the called network's index for Call
    const char* word;       // the word's text; "<name>" for Extern; "" for Null and Call
    const char* annotation; // null when the arc has none
    float p;
};

// The networks, states, arcs and tables of a grammar, read-only.
// Network 0 is the main one, network k + 1 is sub-network #k.
class GraphView {
public:
    explicit GraphView(const TFSG* g) : g_(g) {}
    int Networks() const;
    int States(int network) const;
    int Arcs(int network, int state) const;
    ArcView Arc(int network, int state, int i) const;
    // Word texts by id (0 is the empty word; a slot a file leaves empty is null).
    int Words() const;
    const char* Word(int id) const;
    // Extern names ("<name>") in file order.
    int Externs() const;
    const char* Extern(int i) const;
    // Annotation texts; entry 0 is the no-annotation entry.
    int Annotations() const;
    const char* Annotation(int i) const;
    int Flags() const;
    int CodePage() const; // the grammar's: 65001 for a UTF-8 file

private:
    const TFSG* g_;
};

struct Stretch {
    int start, end; // first and last word index
    double p;
};

struct SentenceLimits {
    int max_words = 20;  // words per sentence (null arcs and calls are free)
    bool words_only = true; // else max_words counts arcs, besides the one that ends the sentence
    int max_loops = 1;   // times a state may be on the path within one call
    bool full = true;    // every arc, not only the first to each target
    bool annotations = false; // WORD:ANNOTATION
};
struct SentenceReport {
    long sentences = 0, words_cut = 0, loops_cut = 0, arcs_skipped = 0, externs_missing = 0;
};

class Grammar {
public:
    // The FSG file at path; or a file's bytes, `name` standing for it in
    // messages and for the folder of its extern grammars. With dump, the
    // reader lists there, field by field, what it reads (also when it fails).
    static std::unique_ptr<Grammar> Load(const std::string& path, std::FILE* dump = nullptr);
    static std::unique_ptr<Grammar> FromBytes(const std::string& bytes, const std::string& name,
                                              std::FILE* dump = nullptr);
    // The extern grammar registered under name ("contact" or "<contact>"),
    // loading it from file when not registered yet (a ".txt" list is
    // compiled for translation); null when neither.
    // Registered grammars live as long as the process.
    static const Grammar* Extern(const std::string& name, const std::string& file = std::string());
    // The same with a compiled file: its bytes, or the file at its path when
    // it was written; `name` stands for it in messages.
    static const Grammar* Extern(const std::string& name, const CompiledFile& file);

    ~Grammar();
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;

    std::string Name() const;
    GraphView Graph() const { return GraphView(g_); }

    // Whether the words are accepted (2), a continuation of them would be
    // (1), or neither (0); with their probability and translation. vocabs,
    // when given, names the word class of each word, as KsGetTranslation2.
    struct Result {
        int accepted = 0;
        double p = 0;
        bool has_translation = false;
        std::string translation;
    };
    Result Match(const Words& words, const Words* vocabs = nullptr) const;
    // The same over null-terminated arrays, as the C interface takes them.
    Result Match(char* const* words, char* const* vocabs) const;
    // Every accepted stretch once, with the best probability of its paths,
    // in the order of the C interface's results (latest start first), each
    // where it last appears there; polynomial in the length.
    std::vector<Stretch> SubStrings(const Words& words) const;
    // The accepted sentences, depth first in arc order; emit returns false to stop.
    SentenceReport Sentences(const SentenceLimits& limits,
                             const std::function<bool(const std::string&, double)>& emit) const;
    // One random sentence (std::rand) and its probability.
    double RandomSentence(Words& words) const;

    // The names ("<name>") of the extern grammars this grammar calls, and
    // those called by the loaded ones, sorted.
    std::vector<std::string> ExternNames() const;
    // Registers every extern the grammar calls from the FSG files beside
    // `beside` (the grammar's own file by default).
    void LoadExterns(const std::string& beside = std::string()) const;

    // For the C interface: wraps a handle, owning it or not; gives it up;
    // records the stretches of null-terminated words in a search handle.
    explicit Grammar(TFSG* g, bool owned);
    TFSG* Handle() const { return g_; }
    TFSG* Release()
    {
        owned_ = false;
        return g_;
    }
    void SubStrings(char* const* words, SubStrsHandler& found) const;

private:
    TFSG* g_;
    bool owned_;
};

// ---- intents ----

// A translation FSG compiled from a grammar with intent or slot tags
// (docs/intents.md) carries a second FSG after the file proper, whose size
// the header gives: kIntentSection, then the intent network. Readers of the
// file proper never look past its end. The intent network's translation of a
// sentence is text in which these bytes (which no other translation holds)
// delimit the sentence's slots and intents; the text around them means
// nothing:
//   kSlot NAME kValue VALUE kEnd     a slot whose value is part of the
//                                    value of an enclosing slot
//   kHidden NAME kValue VALUE kEnd   one whose value is not (NAME may be
//                                    empty: then it only carries slots)
//   kIntent NAME kIntentEnd          an intent
namespace marks {
constexpr char kSlot = '\x01', kValue = '\x02', kEnd = '\x03', kHidden = '\x04', kIntent = '\x05',
               kIntentEnd = '\x06';
}
extern const char kIntentSection[8]; // "KSINTENT", no zero byte

// The intent network that the bytes of an FSG file carry; empty when none.
std::string IntentNetwork(const std::string& file_bytes);

} // namespace ksbnfc

#endif // KSBNFC_INNER_H

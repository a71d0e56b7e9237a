// inner.cpp: the inner interface (ksbnfc_inner.h) over the core: the compile
// driver run with options as a record and files as bytes, the library's
// thrown texts turned into Failure records with their places, warnings handed
// to a sink, and a loaded grammar with its queries and its graph view.
#include "ksbnfc_inner.h"

#include "tfsg.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace ksbnfc {

namespace {

Diagnostic Record(Severity severity, const char* text, const TRecordedPlace& at)
{
    Diagnostic d;
    d.severity = severity;
    d.text = text ? text : "";
    // An error's text stays exactly as the C interface gives it. So does a
    // warning's: a line end of its own (which the C interface prints as an
    // empty line after it) stays; Explained() leaves it out.
    d.file = at.file;
    d.line = at.line;
    d.column = at.col;
    d.expected = at.expected;
    d.message = at.message;
    return d;
}

// Runs work and turns the library's thrown texts into Failure.
template <class F> auto Guard(F&& work) -> decltype(work())
{
    try {
        return work();
    } catch (char* msg) {
        throw Failure(Record(Severity::Error, msg, LastErrorPlace()));
    } catch (const std::bad_alloc&) {
        throw Failure(Record(Severity::Error, kOutOfMemory, TRecordedPlace()));
    }
}

// Passes each warning the core raises on to the caller's sink.
class SinkAdapter : public TWarningSink {
public:
    explicit SinkAdapter(const DiagnosticSink& sink) : sink_(sink) {}
    void Warn(const char* text, const TRecordedPlace& at, bool hint) override
    {
        // Some warning texts carry line ends of their own.
        Diagnostic d = Record(Severity::Warning, text, at);
        d.hint = hint;
        if (sink_ && !d.text.empty()) sink_(d);
    }

private:
    const DiagnosticSink& sink_;
};

bool IsList(const std::string& path, Syntax syntax)
{
    return syntax == Syntax::List ||
           (syntax == Syntax::ByExtension && path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".txt") == 0);
}

// The parameter list that the C interface would get for these options, so
// that both read them by one set of rules. A list is read as the grammar
// text it stands for.
std::vector<CompiledFile> RunCompile(const char* path, const CompileOptions& o, const DiagnosticSink& sink)
{
    const bool list = IsList(path, o.syntax);
    std::vector<KsArg> args;
    auto add = [&](const char* name, long value) { args.push_back(KsArg{const_cast<char*>(name), value}); };
    auto add_text = [&](const char* name, const std::string& s) {
        if (!s.empty()) add(name, reinterpret_cast<long>(s.c_str()));
    };
    const std::string syntax = o.syntax == Syntax::Jsgf ? "jsgf" : o.syntax == Syntax::ByExtension && !list ? "" : "bnf";
    add("bnfFile", reinterpret_cast<long>(path));
    add_text("fsgFile", o.output_file);
    add_text("fsgDirectory", o.output_directory);
    add_text("syntax", syntax);
    add("equalizeArcProbabilities", o.equalize_arcs);
    add("fsgFlags", o.fsg_flags);
    add("warnings", o.warnings);
    if (o.mode == Mode::Engine) add("enMode", 1);
    if (o.mode == Mode::Translation) add("trMode", 1);
    if (o.use_null_arcs) add("useNullArcs", *o.use_null_arcs);
    if (o.annotations) add("emitAnnotations", *o.annotations);
    add("dbglevel", o.debug_level);
    add("equalizeSentenceProbabilities", o.equalize_sentences);
    add("time", o.time);
    add("codePage", o.code_page);

    SinkAdapter adapter(sink);
    TWarningScope warnings_to(&adapter);
    TListingScope listing(o.listing ? o.listing : stdout);
    TCompiledFiles files;
    files.in_memory = !o.write_files;
    Guard([&] {
        parms p;
        ArgsToParms((int)args.size(), args.data(), p);
        std::string text;
        std::unique_ptr<TSourceScope> source;
        if (list) {
            ::warnings = p.warnings; // as Compile sets it, for the list's warnings
            text = ListGrammar(path, o.mode == Mode::Translation);
            source.reset(new TSourceScope(path, text));
        }
        Compile(p, 1, &files);
    });
    std::vector<CompiledFile> out;
    for (TCompiledFile& f : files.files)
        out.push_back(CompiledFile{std::move(f.root), std::move(f.path), std::move(f.bytes)});
    return out;
}

std::mutex externs_lock;
std::map<const TFSG*, std::unique_ptr<Grammar>>& ExternViews()
{
    static std::map<const TFSG*, std::unique_ptr<Grammar>> views;
    return views;
}

} // namespace

// ---- diagnostics ----

std::string Diagnostic::Explained() const
{
    std::string base = message.empty() ? text : message;
    while (!base.empty() && (base.back() == '\n' || base.back() == '\r')) base.pop_back();
    if (!expected.empty()) base += ", expected " + expected;
    return base;
}

std::string Diagnostic::Located(const std::string& fallback) const
{
    const char* kind = severity == Severity::Error ? "error" : "warning";
    if (line > 0) {
        std::string where = file.empty() ? fallback : file;
        return where + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + kind + ": " + Explained();
    }
    return fallback + ": " + kind + ": " + Explained();
}

ListingScope::ListingScope(std::FILE* to) : scope_(new TListingScope(to)) {}

ListingScope::~ListingScope() = default;

Failure::Failure(Diagnostic d) : std::runtime_error(d.text), diagnostic_(std::move(d)) {}

// ---- compiling ----

std::vector<CompiledFile> Compile(const std::string& path, const CompileOptions& options, const DiagnosticSink& sink)
{
    return RunCompile(path.c_str(), options, sink);
}

std::vector<CompiledFile> CompileText(const std::string& text, const std::string& name,
                                      const CompileOptions& options, const DiagnosticSink& sink)
{
    TSourceScope source(name.c_str(), text);
    return RunCompile(name.c_str(), options, sink);
}

// ---- the graph view ----

namespace {

const TSubFSG* Network(const TFSG* g, int k)
{
    return k == 0 ? g : g->intern_fsgs.elements[k - 1];
}

} // namespace

int GraphView::Networks() const
{
    return 1 + g_->intern_fsgs.length;
}

int GraphView::States(int network) const
{
    const TSubFSG* n = Network(g_, network);
    return n ? n->states.length : 0;
}

int GraphView::Arcs(int network, int state) const
{
    return Network(g_, network)->states.elements[state]->arcs.length;
}

ArcView GraphView::Arc(int network, int state, int i) const
{
    const TArc* a = Network(g_, network)->states.elements[state]->arcs.elements[i];
    const TWord* w = a->word;
    ArcView v;
    v.target = a->state ? a->state->id : -1;
    v.id = w ? w->id : 0;
    // Intern network #0 has the id of the empty word: the kind decides first.
    v.kind = !w                         ? ArcKind::Null
             : w->kind == TWord::Intern ? ArcKind::Call
             : w->kind == TWord::Extern ? ArcKind::Extern
             : w->id == 0               ? ArcKind::Null
                                        : ArcKind::Word;
    v.word = v.kind == ArcKind::Null || v.kind == ArcKind::Call || !w->word.s ? "" : w->word.s;
    v.annotation = a->anno ? a->anno->word.s : nullptr;
    v.p = a->p;
    return v;
}

int GraphView::Words() const
{
    return g_->words.length;
}

const char* GraphView::Word(int id) const
{
    const TWord* w = id >= 0 && id < g_->words.length ? g_->words.elements[id] : nullptr;
    return w ? w->word.s : nullptr;
}

int GraphView::Externs() const
{
    return g_->externs.length;
}

const char* GraphView::Extern(int i) const
{
    const TWord* w = g_->externs.elements[i];
    return w ? w->word.s : nullptr;
}

int GraphView::Annotations() const
{
    return g_->annos.length;
}

const char* GraphView::Annotation(int i) const
{
    const TWord* w = g_->annos.elements[i];
    return w ? w->word.s : nullptr;
}

int GraphView::Flags() const
{
    return g_->flags;
}

int GraphView::CodePage() const
{
    return g_->codepage;
}

// ---- a loaded grammar ----

Grammar::Grammar(TFSG* g, bool owned) : g_(g), owned_(owned) {}

Grammar::~Grammar()
{
    // A grammar the extern cache also holds stays with the cache.
    if (owned_ && g_ && g_->refcnt <= 0) delete g_;
}

std::string Grammar::Name() const
{
    return g_->name.s ? g_->name.s : "";
}

std::unique_ptr<Grammar> Grammar::Load(const std::string& path, std::FILE* dump)
{
    TListingScope listing(dump ? dump : stdout);
    return Guard([&] {
        std::unique_ptr<TFSG> g(new TFSG(mbstring(path.c_str()), TSubFSG::EqNorm));
        g->ReadFile(path.c_str(), dump ? 1 : 0);
        return std::unique_ptr<Grammar>(new Grammar(g.release(), true));
    });
}

std::unique_ptr<Grammar> Grammar::FromBytes(const std::string& bytes, const std::string& name, std::FILE* dump)
{
    TListingScope listing(dump ? dump : stdout);
    return Guard([&] {
        std::unique_ptr<TFSG> g(new TFSG(mbstring(name.c_str()), TSubFSG::EqNorm));
        g->ReadBytes(bytes.data(), bytes.size(), dump ? 1 : 0);
        return std::unique_ptr<Grammar>(new Grammar(g.release(), true));
    });
}

namespace {

std::string Unbracketed(const std::string& name)
{
    return name.size() > 2 && name.front() == '<' && name.back() == '>' ? name.substr(1, name.size() - 2) : name;
}

// The one view of a cached extern grammar.
const Grammar* ExternView(TFSG* g)
{
    if (!g) return nullptr;
    std::lock_guard<std::mutex> hold(externs_lock);
    std::unique_ptr<Grammar>& view = ExternViews()[g];
    if (!view) view.reset(new Grammar(g, false));
    return view.get();
}

} // namespace

const Grammar* Grammar::Extern(const std::string& name, const std::string& file)
{
    if (IsList(file, Syntax::ByExtension) && !Extern(name)) {
        CompileOptions o;
        o.mode = Mode::Translation;
        o.warnings = 0;
        return Extern(name, Compile(file, o).at(0));
    }
    std::string bare = Unbracketed(name);
    return ExternView(Guard([&] { return TFSG::Extern(bare.c_str(), file.empty() ? nullptr : file.c_str()); }));
}

const Grammar* Grammar::Extern(const std::string& name, const CompiledFile& file)
{
    if (file.bytes.empty()) return Extern(name, file.path);
    std::string bare = Unbracketed(name);
    return ExternView(Guard([&] { return TFSG::ExternBytes(bare.c_str(), file.bytes); }));
}

Grammar::Result Grammar::Match(char* const* words, char* const* vocabs) const
{
    return Guard([&] {
        TStringList list;
        for (int i = 0; words && words[i]; i++) list.Add(mbstring(words[i]));
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
        Result r;
        r.p = g_->Match(list, vocabs ? &tags : nullptr, out, &prefix);
        r.accepted = r.p > 0 ? 2 : prefix ? 1 : 0;
        if (out.s) {
            r.has_translation = true;
            r.translation = out.s;
            delete[] out.s;
        }
        return r;
    });
}

Grammar::Result Grammar::Match(const Words& words, const Words* vocabs) const
{
    std::vector<char*> w, v;
    for (const std::string& s : words) w.push_back(const_cast<char*>(s.c_str()));
    w.push_back(nullptr);
    if (vocabs) {
        for (const std::string& s : *vocabs) v.push_back(const_cast<char*>(s.c_str()));
        v.push_back(nullptr);
    }
    return Match(w.data(), vocabs ? v.data() : nullptr);
}

void Grammar::SubStrings(char* const* words, SubStrsHandler& found) const
{
    Guard([&] {
        TStringList list;
        for (int i = 0; words && words[i]; i++) list.Add(mbstring(words[i]));
        for (int s = 0; s < list.length; s++) g_->SubStrs(list, &found, s, s, 1.0, g_->Initial(), nullptr);
    });
}

std::vector<Stretch> Grammar::SubStrings(const Words& words) const
{
    std::vector<Stretch> found;
    Guard([&] {
        TStringList list;
        for (const std::string& s : words) list.Add(mbstring(s.c_str()));
        std::vector<TStretch> all;
        g_->SubStrsOnce(list, all);
        for (const TStretch& t : all) found.push_back(Stretch{t.start, t.end, t.prob});
    });
    return found;
}

SentenceReport Grammar::Sentences(const SentenceLimits& limits,
                                  const std::function<bool(const std::string&, double)>& emit) const
{
    TSentenceLimits l;
    l.max_words = limits.max_words;
    l.words_only = limits.words_only;
    l.max_loops = limits.max_loops;
    l.full = limits.full;
    l.anno = limits.annotations;
    TSentenceReport report;
    struct Enough {};
    Guard([&] {
        try {
            g_->Sentences(l, report, [&](const std::string& s, double p) {
                size_t n = s.size();
                while (n > 0 && s[n - 1] == ' ') n--;
                if (!emit(s.substr(0, n), p)) throw Enough();
            });
        } catch (const Enough&) {
        }
    });
    SentenceReport r;
    r.sentences = report.sentences;
    r.words_cut = report.words_cut;
    r.loops_cut = report.loops_cut;
    r.arcs_skipped = report.arcs_skipped;
    r.externs_missing = report.externs_missing;
    return r;
}

double Grammar::RandomSentence(Words& words) const
{
    return Guard([&] { return g_->RandomSentence(words); });
}

std::vector<std::string> Grammar::ExternNames() const
{
    std::set<std::string> names;
    std::vector<TFSG*> todo{g_};
    while (!todo.empty()) {
        TFSG* f = todo.back();
        todo.pop_back();
        for (int i = 0; i < f->externs.length; i++) {
            TWord* w = f->externs.elements[i];
            if (!w || !w->word.s || !names.insert(w->word.s).second) continue;
            if (TFSG* x = TFSG::Extern(w->word.s, nullptr)) todo.push_back(x);
        }
    }
    return std::vector<std::string>(names.begin(), names.end());
}

void Grammar::LoadExterns(const std::string& beside) const
{
    Guard([&] { g_->LoadExterns(beside.empty() ? g_->name.s : beside.c_str(), 0); });
}

const char kIntentSection[8] = {'K', 'S', 'I', 'N', 'T', 'E', 'N', 'T'};

std::string IntentNetwork(const std::string& bytes)
{
    auto get32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; i--) v = v << 8 | (unsigned char)bytes[at + (size_t)i];
        return (long long)(int32_t)v;
    };
    if (bytes.size() < 64) return std::string();
    long long end = get32(0) + get32(4);
    if (get32(0) < 0 || get32(4) < 0 || end + (long long)sizeof kIntentSection > (long long)bytes.size())
        return std::string();
    if (bytes.compare((size_t)end, sizeof kIntentSection, kIntentSection, sizeof kIntentSection) != 0)
        return std::string();
    return bytes.substr((size_t)end + sizeof kIntentSection);
}

} // namespace ksbnfc

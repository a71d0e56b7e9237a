// _ksbnfc.cpp: the C++ half of the Python module: compiles grammars, loads
// FSG files and matches word strings against them, handing Python plain
// bytes, numbers and tuples. The Python half (ksbnfc/__init__.py) turns them
// into keyword arguments, text, named tuples and exceptions.
//
// The library keeps process-wide state (the code page, the message buffers,
// the extern cache, std::rand), so every call runs under one lock: exclusive
// for everything that writes that state, shared for matching. Matching runs
// with the GIL released; the lock is only ever taken after the GIL is let go
// or while it is held, never the GIL while holding the lock.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "fsg_export.h"
#include "tfsg.h"

#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// Whether matching may run on several threads at once: it needs matching to
// leave the loaded grammar (and the extern cache) untouched.
const bool kSharedMatching = true;

std::shared_mutex library;

// A library failure, with the library's text; ksbnfc.Error on the Python side.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& text) : std::runtime_error(text) {}
};

// Runs work and turns the library's thrown texts into Failure.
template <class F> auto Guard(F&& work) -> decltype(work())
{
    try {
        return work();
    } catch (char* msg) {
        std::string text(msg ? msg : "unknown error");
        while (!text.empty() && text.back() == '\n') text.pop_back();
        throw Failure(text);
    }
}

// The code page a call runs in; the previous one comes back afterwards.
class CodePageScope {
public:
    explicit CodePageScope(unsigned long cp) : saved(ks_get_cp())
    {
        if (cp && cp != saved) ks_set_cp(cp);
    }
    ~CodePageScope()
    {
        if (ks_get_cp() != saved) ks_set_cp(saved);
    }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;

private:
    unsigned long saved;
};

typedef std::vector<std::string> Words;

void ToList(const Words& words, TStringList& list)
{
    for (const std::string& w : words) list.Add(mbstring(w.c_str()));
}

py::object Bytes(const char* s)
{
    if (!s) return py::none();
    return py::bytes(s);
}

// A loaded grammar. Owns its TFSG unless the extern cache holds it too.
class Grammar {
public:
    // A grammar from the FSG file at path; from_file says whether the file
    // stays there (externs beside it can be found later).
    Grammar(const std::string& path, unsigned long cp, bool from_file) : path(path), from_file(from_file)
    {
        std::unique_lock<std::shared_mutex> hold(library);
        Guard([&] {
            if (cp) ks_set_cp(cp);
            TFSG* f = new TFSG(mbstring(path.c_str()), TSubFSG::EqNorm);
            try {
                f->ReadFile(path.c_str(), 0);
            } catch (char*) {
                delete f;
                throw;
            }
            g = f;
        });
    }
    ~Grammar()
    {
        std::unique_lock<std::shared_mutex> hold(library);
        if (g && g->refcnt <= 0) delete g;
    }
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;

    unsigned long CodePage() const { return (unsigned long)g->codepage; }
    int Flags() const { return g->flags; }

    // Registers every extern the grammar names from the files beside it.
    void LoadExterns()
    {
        py::gil_scoped_release nogil;
        std::unique_lock<std::shared_mutex> hold(library);
        CodePageScope cp(CodePage());
        Guard([&] { g->LoadExterns(path.c_str(), 0); });
    }

    // 2: accepted, 1: a continuation would be, 0: rejected.
    int Test(const Words& words)
    {
        int prefix = 0;
        double p = Matching([&] {
            TStringList list, actions;
            ToList(words, list);
            return Walk(list, nullptr, actions, &prefix);
        });
        return p > 0 ? 2 : prefix ? 1 : 0;
    }

    // (probability, translation or None); probability 0 when rejected.
    py::tuple Translate(const Words& words, const Words& vocabs)
    {
        std::string text;
        bool has_text = false;
        double p = Matching([&] {
            TStringList list, tags;
            ToList(words, list);
            for (const std::string& v : vocabs) tags.Add(mbstring(("<" + v + ">").c_str()));
            return MatchText(list, vocabs.empty() ? nullptr : &tags, text, has_text);
        });
        return py::make_tuple(p, has_text ? Bytes(text.c_str()) : py::none());
    }

    // (start, end, probability, translation or None) in the library's order:
    // the latest start first.
    py::list SubStrings(const Words& words)
    {
        struct Found {
            int start, end;
            double p;
            bool has_text;
            std::string text;
        };
        std::vector<Found> found;
        Matching([&] {
            TStringList list;
            ToList(words, list);
            SubStrsHandler h;
            for (int s = 0; s < list.length; s++) g->SubStrs(list, &h, s, s, 1.0, g->Initial(), nullptr);
            while (MySubStrTuple* t = h.getNext()) {
                Found f{t->start_index, t->end_index, t->prob, false, std::string()};
                TStringList part;
                for (int i = f.start; i <= f.end && i < list.length; i++) part.Add(list.elements[i]);
                MatchText(part, nullptr, f.text, f.has_text);
                found.push_back(std::move(f));
            }
            return 0.0;
        });
        py::list out;
        for (const Found& f : found)
            out.append(py::make_tuple(f.start, f.end, f.p, f.has_text ? Bytes(f.text.c_str()) : py::none()));
        return out;
    }

    // The accepted sentences as the library's enumeration lists them, at
    // most `limit` of them: the walk stops there. The enumeration only reads
    // the grammar, so it runs as a match does.
    py::list Sentences(int limit, int max_words, int max_loops, bool full)
    {
        TSentenceLimits limits;
        limits.full = full;
        limits.max_loops = max_loops;
        limits.max_words = max_words;
        struct Enough {};
        std::vector<std::string> found;
        Matching([&] {
            TSentenceReport report;
            try {
                g->Sentences(limits, report, [&](const std::string& text, double) {
                    found.push_back(text);
                    while (!found.back().empty() && found.back().back() == ' ') found.back().pop_back();
                    if ((int)found.size() >= limit) throw Enough();
                });
            } catch (const Enough&) {
            }
            return 0.0;
        });
        py::list lines;
        for (const std::string& s : found) lines.append(py::bytes(s));
        return lines;
    }

    // n random sentences drawn as `ksfsg random` draws them: std::rand
    // seeded with `seed`, an arc by its probability, calls followed.
    py::list Random(int n, unsigned seed)
    {
        std::vector<std::pair<double, Words>> drawn;
        {
            py::gil_scoped_release nogil;
            std::unique_lock<std::shared_mutex> hold(library);
            Guard([&] {
                std::srand(seed);
                for (int i = 0; i < n; i++) {
                    Words w;
                    double p = g->RandomSentence(w);
                    drawn.emplace_back(p, std::move(w));
                }
            });
        }
        py::list out;
        for (auto& d : drawn) {
            py::list w;
            for (const std::string& s : d.second) w.append(py::bytes(s));
            out.append(py::make_tuple(d.first, w));
        }
        return out;
    }

    // (text, symbol table or None) of the grammar in an export format.
    // Splicing may load extern grammars into the cache, so it runs alone.
    py::tuple Export(const std::string& format_name, bool splice, bool lower, const std::string& name)
    {
        ksexport::Format format;
        if (!ksexport::ParseFormat(format_name, &format))
            throw py::value_error("format must be 'sphinx', 'openfst' or 'dot', not '" + format_name + "'");
        std::string text, symbols;
        {
            py::gil_scoped_release nogil;
            std::unique_lock<std::shared_mutex> hold(library);
            CodePageScope cp(CodePage());
            ksexport::Options o;
            o.splice = splice;
            o.lower = lower;
            o.source = from_file ? path : std::string();
            o.name = name;
            try {
                Guard([&] { text = ksexport::Export(g, format, o, &symbols); });
            } catch (const ksexport::Error& e) {
                throw Failure(e.what());
            }
        }
        return py::make_tuple(py::bytes(text),
                              format == ksexport::Format::OpenFst ? py::object(py::bytes(symbols)) : py::none());
    }

    // Word texts by id (entry 0 is the empty word; a slot a file leaves
    // empty is None), and the extern names by position.
    py::list WordTexts(int which) const
    {
        std::shared_lock<std::shared_mutex> hold(library);
        const TWordList& list = which == 0 ? g->words : g->externs;
        py::list out;
        for (int i = 0; i < list.length; i++) {
            const TWord* w = list.elements[i];
            out.append(w ? Bytes(w->word.s) : py::none());
        }
        return out;
    }

    // The main network then each intern network: (name, states), a state
    // being its arcs (target or -1 for the end, word kind, word id, word
    // text, annotation text, probability).
    py::list Networks() const
    {
        std::shared_lock<std::shared_mutex> hold(library);
        py::list out;
        auto network = [&](TSubFSG* sub, const char* name) {
            py::list states;
            if (sub)
                for (int i = 0; i < sub->states.length; i++) {
                    TState* s = sub->states.elements[i];
                    py::list arcs;
                    for (int j = 0; j < s->arcs.length; j++) {
                        TArc* a = s->arcs.elements[j];
                        const char* kind = a->word->kind == TWord::Intern   ? "intern"
                                           : a->word->kind == TWord::Extern ? "extern"
                                           : a->word->id == 0               ? "null"
                                                                            : "word";
                        arcs.append(py::make_tuple(a->state ? a->state->id : -1, kind, a->word->id,
                                                   Bytes(a->word->word.s), Bytes(a->anno->word.s),
                                                   (double)a->p));
                    }
                    states.append(arcs);
                }
            out.append(py::make_tuple(name, states));
        };
        network(g, "main");
        for (int i = 0; i < g->intern_fsgs.length; i++) {
            std::string name = "intern #" + std::to_string(i);
            network(g->intern_fsgs.elements[i], name.c_str());
        }
        return out;
    }

private:
    // Runs a match with the GIL released, in the grammar's code page: shared
    // with other matches when that is safe and the code page is current,
    // else alone.
    template <class F> double Matching(F&& work)
    {
        py::gil_scoped_release nogil;
        if (kSharedMatching) {
            std::shared_lock<std::shared_mutex> hold(library);
            if (ks_get_cp() == CodePage()) return Guard(work);
        }
        std::unique_lock<std::shared_mutex> hold(library);
        CodePageScope cp(CodePage());
        return Guard(work);
    }

    // The walk of the first accepting path, through the form of Match that
    // leaves the listing switches alone (the other forms write them).
    double Walk(TStringList& list, TStringList* tags, TStringList& actions, int* prefix)
    {
        return g->Match(list, tags, 0, 1.0, g->Initial(), nullptr, &actions, prefix);
    }

    double MatchText(TStringList& list, TStringList* tags, std::string& text, bool& has_text)
    {
        int prefix = 0;
        TStringList actions;
        double p = Walk(list, tags, actions, &prefix);
        has_text = p > 0;
        if (!has_text) return p;
        mbstring out = DoActions(actions);
        if (out.s) text = out.s;
        delete[] out.s;
        return p;
    }

    std::string path;
    bool from_file;
    TFSG* g = nullptr;
};

// Registers an extern grammar in the process-wide cache (loading it from
// path unless the name is registered already).
void RegisterExtern(const std::string& name, const std::string& path, unsigned long cp)
{
    py::gil_scoped_release nogil;
    std::unique_lock<std::shared_mutex> hold(library);
    Guard([&] {
        if (cp) ks_set_cp(cp);
        TFSG::Extern(name.c_str(), path.c_str());
    });
}

bool ExternRegistered(const std::string& name)
{
    std::shared_lock<std::shared_mutex> hold(library);
    return TFSG::Extern(name.c_str(), nullptr) != nullptr;
}

// Compiles with KsCompileGrammar: the file names and the integer parameters
// in the given order. Returns the warnings text (tab-indented lines).
std::string CompileGrammar(const std::string& bnf_file, const std::string& fsg_directory,
                    const std::vector<std::pair<std::string, long>>& ints)
{
    py::gil_scoped_release nogil;
    std::unique_lock<std::shared_mutex> hold(library);
    std::vector<KsArg> args;
    args.push_back(KsArg{const_cast<char*>("bnfFile"), reinterpret_cast<long>(bnf_file.c_str())});
    args.push_back(KsArg{const_cast<char*>("fsgDirectory"), reinterpret_cast<long>(fsg_directory.c_str())});
    for (const auto& kv : ints) args.push_back(KsArg{const_cast<char*>(kv.first.c_str()), kv.second});
    // The compiler leaves its warning and debug switches set for the process;
    // the run time after it should not collect or print on their account.
    int saved_warnings = ::warnings, saved_debug = ::dbglevel;
    int rc = KsCompileGrammar((int)args.size(), args.data());
    ::warnings = saved_warnings;
    ::dbglevel = saved_debug;
    std::string text(KsMsgBuf);
    if (rc == 1000) {
        while (!text.empty() && text.back() == '\n') text.pop_back();
        throw Failure(text);
    }
    return rc == 1 ? text : std::string();
}

unsigned long GetCodePage()
{
    std::shared_lock<std::shared_mutex> hold(library);
    return ks_get_cp();
}

void SetCodePage(unsigned long cp)
{
    std::unique_lock<std::shared_mutex> hold(library);
    ks_set_cp(cp);
}

} // namespace

PYBIND11_MODULE(_ksbnfc, m)
{
    m.doc() = "C++ half of ksbnfc; use the ksbnfc package instead.";
    py::register_exception<Failure>(m, "Failure");
    m.attr("shared_matching") = kSharedMatching;

    m.def("compile", &CompileGrammar, py::arg("bnf_file"), py::arg("fsg_directory"), py::arg("ints"));
    m.def("register_extern", &RegisterExtern, py::arg("name"), py::arg("path"), py::arg("code_page"));
    m.def("extern_registered", &ExternRegistered, py::arg("name"));
    m.def("code_page", &GetCodePage);
    m.def("set_code_page", &SetCodePage, py::arg("code_page"));

    py::class_<Grammar>(m, "Grammar")
        .def(py::init<const std::string&, unsigned long, bool>(), py::arg("path"), py::arg("code_page"),
             py::arg("from_file"),
             py::call_guard<py::gil_scoped_release>())
        .def_property_readonly("code_page", &Grammar::CodePage)
        .def_property_readonly("flags", &Grammar::Flags)
        .def("load_externs", &Grammar::LoadExterns)
        .def("test", &Grammar::Test)
        .def("translate", &Grammar::Translate)
        .def("substrings", &Grammar::SubStrings)
        .def("sentences", &Grammar::Sentences)
        .def("random", &Grammar::Random)
        .def("export", &Grammar::Export)
        .def("word_texts", &Grammar::WordTexts)
        .def("networks", &Grammar::Networks);
}

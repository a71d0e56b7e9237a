// _ksbnfc.cpp: the C++ half of the Python module: compiles grammars, loads
// FSG files and matches word strings against them through the library's
// inner interface, handing Python plain bytes, numbers and tuples. The
// Python half (ksbnfc/__init__.py) turns them into keyword arguments, text,
// named tuples, warnings and exceptions.
//
// The library keeps process-wide state (the code page, the extern cache,
// the switches, std::rand), so every call runs under one lock: exclusive
// for everything that writes that state, shared for matching, which only
// reads the loaded grammar and matches it in its own code page. Calls that
// take the lock for long run with the GIL released; the lock is only ever
// taken after the GIL is let go or while it is held, never the GIL while
// holding the lock. test and translate take their words straight from
// Python and build the Python result themselves: they are called per
// utterance, where converting lists and tuples would cost more than the
// match.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "fsg_export.h"
#include "intent.h"
#include "ksbnfc_inner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// Whether matching may run on several threads at once: it needs matching to
// leave the loaded grammar (and the extern cache) untouched.
const bool kSharedMatching = true;

// The most words a match runs on without letting the GIL go.
const size_t kHeldWords = 8;

std::shared_mutex library;

// _ksbnfc.Failure, raised with (message, file, line, column); ksbnfc.Error
// on the Python side. Owned by the module.
PyObject* failure_type = nullptr;

// The text ksbnfc.Error and CompileWarning show: the library's text with what
// was expected, and the place from the record in the form parse errors end
// in (" in \"FILE\", line L, column C").
std::string Shown(const ksbnfc::Diagnostic& d)
{
    if (d.line <= 0) {
        std::string text = d.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return d.expected.empty() ? text : text + ", expected " + d.expected;
    }
    std::string text = d.Explained();
    if (!d.file.empty()) text += " in \"" + d.file + "\"";
    text += ", line " + std::to_string(d.line);
    if (d.column > 0) text += ", column " + std::to_string(d.column);
    return text;
}

py::object OrNone(const std::string& s)
{
    return s.empty() ? py::none() : py::object(py::str(s));
}

py::object OrNone(int n)
{
    return n > 0 ? py::object(py::int_(n)) : py::none();
}

// (message, file, line, column), None where the record names no place.
py::tuple Record(const ksbnfc::Diagnostic& d)
{
    return py::make_tuple(Shown(d), OrNone(d.file), OrNone(d.line), OrNone(d.column));
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

typedef ksbnfc::Words Words;

py::list BytesList(const Words& words)
{
    py::list out;
    for (const std::string& w : words) out.append(py::bytes(w));
    return out;
}

py::object BytesOrNone(const char* s)
{
    if (!s) return py::none();
    return py::bytes(s);
}

// An array of N elements on the stack, or on the heap when more are asked for.
template <class T, size_t N> class Scratch {
public:
    T* Get(size_t n)
    {
        if (n <= N) return local;
        heap.resize(n);
        return heap.data();
    }

private:
    T local[N];
    std::vector<T> heap;
};

// What Python gives as words, as the matcher takes them: NUL-terminated
// texts in the grammar's code page and a null pointer after the last.
// Points into the Python objects where they hold the text already, so it
// lives no longer than the call that made it.
class WordArray {
public:
    enum Status {
        kWords,    // Get() is the words
        kRejected, // a word the code page cannot hold, or holding a NUL: it matches nothing
        kUnusual,  // anything else: the caller encodes it first
    };

    // A str is split as str.split() splits it; a list or tuple holds str
    // or bytes words, and with `encoded` None for a word the encoder could
    // not encode. ascii_same: the codec writes ASCII as itself. Other
    // inputs, and other words, are kUnusual: the caller encodes them first.
    // Raises what encoding raises, other than UnicodeEncodeError.
    Status Read(py::handle words, const std::string& codec, bool ascii_same, bool encoded = false)
    {
        PyObject* w = words.ptr();
        n = 0;
        if (PyUnicode_CheckExact(w)) {
            if (!(ascii_same && PyUnicode_IS_ASCII(w))) {
                PyObject* split = PyUnicode_Split(w, nullptr, -1);
                if (!split) throw py::error_already_set();
                items = py::reinterpret_steal<py::object>(split);
                return ReadItems(codec, ascii_same, false);
            }
            return SplitAscii(static_cast<const char*>(PyUnicode_DATA(w)), (size_t)PyUnicode_GET_LENGTH(w));
        }
        if (PyList_CheckExact(w)) {
            // A copy that encoding (which may run Python code) cannot change.
            PyObject* copy = PyList_AsTuple(w);
            if (!copy) throw py::error_already_set();
            items = py::reinterpret_steal<py::object>(copy);
            return ReadItems(codec, ascii_same, encoded);
        }
        if (PyTuple_CheckExact(w)) {
            items = py::reinterpret_borrow<py::object>(words);
            return ReadItems(codec, ascii_same, encoded);
        }
        return kUnusual;
    }

    char* const* Get() const { return ptrs; }
    size_t Size() const { return n; }

private:
    // The ASCII white space of str.split().
    static bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f'); }

    Status SplitAscii(const char* s, size_t len)
    {
        if (std::memchr(s, 0, len)) return kRejected;
        char* copy = text.Get(len + 1);
        std::memcpy(copy, s, len + 1);
        ptrs = pointers.Get(len / 2 + 2);
        n = 0;
        bool in_word = false;
        for (size_t i = 0; i < len; i++) {
            if (Space(copy[i])) {
                copy[i] = 0;
                in_word = false;
            } else if (!in_word) {
                ptrs[n++] = copy + i;
                in_word = true;
            }
        }
        ptrs[n] = nullptr;
        return kWords;
    }

    // items: a list or tuple that nothing else changes while it is read.
    Status ReadItems(const std::string& codec, bool ascii_same, bool none_allowed)
    {
        size_t count = (size_t)PySequence_Fast_GET_SIZE(items.ptr());
        ptrs = pointers.Get(count + 1);
        bool rejected = false;
        for (n = 0; n < count; n++) {
            PyObject* item = PySequence_Fast_GET_ITEM(items.ptr(), n);
            const char* s = nullptr;
            Py_ssize_t len = 0;
            if (PyBytes_CheckExact(item)) {
                s = PyBytes_AS_STRING(item);
                len = PyBytes_GET_SIZE(item);
            } else if (!PyUnicode_CheckExact(item)) {
                if (item != Py_None || !none_allowed) return kUnusual;
            } else if (ascii_same && PyUnicode_IS_ASCII(item)) {
                s = static_cast<const char*>(PyUnicode_DATA(item));
                len = PyUnicode_GET_LENGTH(item);
            } else if (codec == "utf-8") {
                s = PyUnicode_AsUTF8AndSize(item, &len);
            } else {
                PyObject* b = PyUnicode_AsEncodedString(item, codec.c_str(), "strict");
                if (b) {
                    encoded.push_back(py::reinterpret_steal<py::object>(b));
                    s = PyBytes_AS_STRING(b);
                    len = PyBytes_GET_SIZE(b);
                }
            }
            if (!s && PyErr_Occurred()) {
                if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
                PyErr_Clear();
            }
            if (!s || std::memchr(s, 0, (size_t)len))
                rejected = true;
            else
                ptrs[n] = const_cast<char*>(s);
        }
        ptrs[n] = nullptr;
        return rejected ? kRejected : kWords;
    }

    Scratch<char, 256> text;      // a str's copy, split by NULs
    Scratch<char*, 32> pointers;  // the words, then a null pointer
    py::object items;             // the words, where read from a tuple or list
    std::vector<py::object> encoded; // the words encoded here
    char** ptrs = nullptr;
    size_t n = 0;
};

// A loaded grammar, with where it came from.
class Grammar {
public:
    // The FSG file at path.
    static std::unique_ptr<Grammar> Load(const std::string& path)
    {
        py::gil_scoped_release nogil;
        std::unique_lock<std::shared_mutex> hold(library);
        return std::unique_ptr<Grammar>(new Grammar(ksintent::Understander::Load(path), path, true));
    }
    // A file's bytes; name stands for the file in messages.
    static std::unique_ptr<Grammar> FromBytes(const py::bytes& data, const std::string& name)
    {
        std::string bytes = data;
        py::gil_scoped_release nogil;
        std::unique_lock<std::shared_mutex> hold(library);
        return std::unique_ptr<Grammar>(new Grammar(ksintent::Understander::FromBytes(bytes, name), name, false));
    }

    ~Grammar()
    {
        std::unique_lock<std::shared_mutex> hold(library);
        u.reset();
    }
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;

    unsigned long CodePage() const { return (unsigned long)g->Graph().CodePage(); }
    int Flags() const { return g->Graph().Flags(); }

    // Registers every extern the grammar names from the files beside it,
    // read in the grammar's code page.
    void LoadExterns()
    {
        py::gil_scoped_release nogil;
        std::unique_lock<std::shared_mutex> hold(library);
        CodePageScope cp(CodePage());
        g->LoadExterns();
    }

    // What test and translate take from the Python half: the codec of the
    // grammar's code page and whether it writes ASCII as itself; the
    // function (words, codec) -> [bytes or None] that encodes what
    // WordArray leaves; the Result members by value; the Translation type.
    void Bind(const std::string& codec, bool ascii_same, py::object encode, py::tuple results, py::type translation)
    {
        if (results.size() != 3) throw py::value_error("three results");
        half = PythonHalf{codec, ascii_same, std::move(encode), std::move(results), std::move(translation)};
    }

    // The Result member for the words (a str or a sequence of words):
    // REJECTED, without a match, where a word cannot be encoded.
    py::object Test(py::object words)
    {
        WordArray w;
        if (Read(words, w) == WordArray::kRejected) return half->results[0];
        int accepted = Matched(w.Size(), [&] { return g->Match(w.Get(), nullptr).accepted; });
        return half->results[accepted];
    }

    // Translation(text, probability), or None where the grammar rejects the
    // words; tags[i] names the word class of word i (none where empty).
    py::object Translate(py::object words, const std::optional<Words>& tags)
    {
        WordArray w;
        if (Read(words, w) == WordArray::kRejected) return py::none();
        std::vector<char*> v;
        if (tags && !tags->empty()) {
            for (const std::string& t : *tags) v.push_back(const_cast<char*>(t.c_str()));
            v.push_back(nullptr);
        }
        ksbnfc::Grammar::Result r =
            Matched(w.Size(), [&] { return g->Match(w.Get(), v.empty() ? nullptr : v.data()); });
        if (r.p <= 0) return py::none();
        py::object text = r.has_translation ? Decoded(r.translation) : py::str();
        py::float_ p(r.p);
        // As tuple.__new__(Translation, (text, p)) makes it, without the
        // call through Python.
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(half->translation.ptr());
        PyObject* t = type->tp_alloc(type, 2);
        if (!t) throw py::error_already_set();
        PyTuple_SET_ITEM(t, 0, text.release().ptr());
        PyTuple_SET_ITEM(t, 1, p.release().ptr());
        return py::reinterpret_steal<py::object>(t);
    }

    // None when the words are not understood, else (intent or None,
    // [(slot, is a number, value), ...]).
    py::object Understand(const Words& words)
    {
        ksintent::Understanding r;
        {
            py::gil_scoped_release nogil;
            Matching hold;
            r = u->Understand(words);
        }
        if (!r.understood) return py::none();
        py::list slots;
        for (const auto& s : r.slots)
            slots.append(py::make_tuple(py::bytes(s.first), s.second.kind == ksintent::Value::Kind::Number,
                                        py::bytes(s.second.text)));
        return py::make_tuple(r.intent.empty() ? py::object(py::none()) : py::object(py::bytes(r.intent)), slots);
    }

    // (start, end, probability, translation) in the library's order: the
    // latest start first. The translation is that of the stretch matched on
    // its own: bytes when it is accepted so, else None.
    py::list SubStrings(const Words& words)
    {
        struct Found {
            ksbnfc::Stretch at;
            ksbnfc::Grammar::Result r;
        };
        std::vector<Found> found;
        {
            py::gil_scoped_release nogil;
            Matching hold;
            for (const ksbnfc::Stretch& s : g->SubStrings(words)) {
                int end = std::min(s.end + 1, (int)words.size());
                Words part(words.begin() + std::min(s.start, end), words.begin() + end);
                found.push_back(Found{s, g->Match(part)});
            }
        }
        py::list out;
        for (const Found& f : found)
            out.append(py::make_tuple(f.at.start, f.at.end, f.at.p,
                                      f.r.p > 0 ? py::object(py::bytes(f.r.translation)) : py::none()));
        return out;
    }

    // The accepted sentences as the library's enumeration lists them, at
    // most `limit` of them: the walk stops there. max_words counts arcs.
    py::list Sentences(int limit, int max_words, int max_loops, bool full)
    {
        ksbnfc::SentenceLimits limits;
        limits.max_words = max_words;
        limits.words_only = false;
        limits.max_loops = max_loops;
        limits.full = full;
        Words found;
        {
            py::gil_scoped_release nogil;
            Matching hold;
            g->Sentences(limits, [&](const std::string& text, double) {
                found.push_back(text);
                return (int)found.size() < limit;
            });
        }
        return BytesList(found);
    }

    // n random sentences drawn as `ksfsg random` draws them: std::rand
    // seeded with `seed`, an arc by its probability, calls followed.
    py::list Random(int n, unsigned seed)
    {
        std::vector<std::pair<double, Words>> drawn;
        {
            py::gil_scoped_release nogil;
            std::unique_lock<std::shared_mutex> hold(library);
            std::srand(seed);
            for (int i = 0; i < n; i++) {
                Words w;
                double p = g->RandomSentence(w);
                drawn.emplace_back(p, std::move(w));
            }
        }
        py::list out;
        for (const auto& d : drawn) out.append(py::make_tuple(d.first, BytesList(d.second)));
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
            text = ksexport::Export(*g, format, o, &symbols);
        }
        return py::make_tuple(py::bytes(text),
                              format == ksexport::Format::OpenFst ? py::object(py::bytes(symbols)) : py::none());
    }

    // Word texts by id (entry 0 is the empty word; a slot a file leaves
    // empty is None), or with which = 1 the extern names by position.
    py::list WordTexts(int which) const
    {
        std::shared_lock<std::shared_mutex> hold(library);
        ksbnfc::GraphView v = g->Graph();
        py::list out;
        int n = which == 0 ? v.Words() : v.Externs();
        for (int i = 0; i < n; i++) out.append(BytesOrNone(which == 0 ? v.Word(i) : v.Extern(i)));
        return out;
    }

    // The main network then each intern network: (name, states), a state
    // being its arcs (target or -1 for the end, kind, word id, word text,
    // annotation text or None, probability).
    py::list Networks() const
    {
        std::shared_lock<std::shared_mutex> hold(library);
        ksbnfc::GraphView v = g->Graph();
        py::list out;
        for (int k = 0; k < v.Networks(); k++) {
            py::list states;
            for (int s = 0; s < v.States(k); s++) {
                py::list arcs;
                for (int i = 0; i < v.Arcs(k, s); i++) {
                    ksbnfc::ArcView a = v.Arc(k, s, i);
                    const char* kind = a.kind == ksbnfc::ArcKind::Call     ? "intern"
                                       : a.kind == ksbnfc::ArcKind::Extern ? "extern"
                                       : a.kind == ksbnfc::ArcKind::Null   ? "null"
                                                                           : "word";
                    arcs.append(py::make_tuple(a.target, kind, a.id, py::bytes(a.word), BytesOrNone(a.annotation),
                                               (double)a.p));
                }
                states.append(arcs);
            }
            out.append(py::make_tuple(k == 0 ? std::string("main") : "intern #" + std::to_string(k - 1), states));
        }
        return out;
    }

private:
    Grammar(std::unique_ptr<ksintent::Understander> u, std::string path, bool from_file)
        : u(std::move(u)), g(&this->u->Grammar()), path(std::move(path)), from_file(from_file)
    {
    }

    // The lock a match holds: shared with other matches when they may run
    // at once, else alone. Taken with the GIL released, or tried while it
    // is held.
    class Matching {
    public:
        Matching()
        {
            if (kSharedMatching)
                library.lock_shared();
            else
                library.lock();
        }
        explicit Matching(std::try_to_lock_t)
            : held(kSharedMatching ? library.try_lock_shared() : library.try_lock())
        {
        }
        ~Matching()
        {
            if (!held)
                return;
            else if (kSharedMatching)
                library.unlock_shared();
            else
                library.unlock();
        }
        Matching(const Matching&) = delete;
        Matching& operator=(const Matching&) = delete;
        bool Held() const { return held; }

    private:
        bool held = true;
    };

    // Runs a match of n words under the lock. Up to kHeldWords words match
    // in less time than letting the GIL go and taking it back costs, so
    // they keep it, unless another call holds the lock alone.
    template <class F> static auto Matched(size_t n, F&& match) -> decltype(match())
    {
        if (n <= kHeldWords) {
            Matching hold(std::try_to_lock);
            if (hold.Held()) return match();
        }
        py::gil_scoped_release nogil;
        Matching hold;
        return match();
    }

    // The words in the grammar's code page; what WordArray leaves is
    // encoded by the Python half, which raises TypeError where a word is
    // neither str nor bytes.
    WordArray::Status Read(const py::object& words, WordArray& w) const
    {
        if (!half) throw std::logic_error("_ksbnfc.Grammar: matched before bind()");
        WordArray::Status status = w.Read(words, half->codec, half->ascii_same);
        if (status == WordArray::kUnusual)
            status = w.Read(half->encode(words, half->codec), half->codec, half->ascii_same, true);
        if (status == WordArray::kUnusual) throw std::logic_error("_ksbnfc.Grammar: the encoder left words unusual");
        return status;
    }

    // A translation in the grammar's code page as text; bytes the codec
    // cannot read come back as lone surrogates.
    py::str Decoded(const std::string& b) const
    {
        bool ascii = std::all_of(b.begin(), b.end(), [](char c) { return (unsigned char)c < 0x80; });
        PyObject* s = ascii && half->ascii_same
                          ? PyUnicode_DecodeASCII(b.data(), (Py_ssize_t)b.size(), "strict")
                          : PyUnicode_Decode(b.data(), (Py_ssize_t)b.size(), half->codec.c_str(), "surrogateescape");
        if (!s) throw py::error_already_set();
        return py::reinterpret_steal<py::str>(s);
    }

    struct PythonHalf {
        std::string codec;
        bool ascii_same;
        py::object encode;
        py::tuple results;
        py::type translation;
    };
    std::optional<PythonHalf> half; // from Bind

    std::unique_ptr<ksintent::Understander> u; // the grammar and its intent network
    const ksbnfc::Grammar* g;
    std::string path; // the file, or the name standing for the bytes
    bool from_file;   // externs beside it can be found later
};

// Registers an extern grammar in the process-wide cache, loading it from
// path unless the name is registered already.
void RegisterExtern(const std::string& name, const std::string& path)
{
    py::gil_scoped_release nogil;
    std::unique_lock<std::shared_mutex> hold(library);
    ksbnfc::Grammar::Extern(name, path);
}

// The same from a file's bytes; `shown` stands for them in messages.
void RegisterExternBytes(const std::string& name, const py::bytes& data, const std::string& shown)
{
    ksbnfc::CompiledFile file;
    file.path = shown;
    file.bytes = data;
    py::gil_scoped_release nogil;
    std::unique_lock<std::shared_mutex> hold(library);
    // No bytes would name a file: they are refused as a load refuses them.
    if (file.bytes.empty()) ksbnfc::Grammar::FromBytes(file.bytes, shown);
    ksbnfc::Grammar::Extern(name, file);
}

bool ExternRegistered(const std::string& name)
{
    std::shared_lock<std::shared_mutex> hold(library);
    return ksbnfc::Grammar::Extern(name) != nullptr;
}

// Compiles the grammar file `name`, or `text` standing for it. Returns
// ([(root, bytes)], [warning record]) in root order; the unset options keep
// the library's defaults.
py::tuple Compile(const std::string& name, const std::optional<py::bytes>& text, const std::optional<std::string>& mode,
                  int code_page, std::optional<bool> equalize_arc_probabilities,
                  std::optional<bool> equalize_sentence_probabilities, std::optional<int> flags,
                  std::optional<bool> null_arcs, std::optional<bool> annotations, std::optional<int> debug_level,
                  std::optional<bool> time)
{
    ksbnfc::CompileOptions o;
    if (!mode)
        o.mode = ksbnfc::Mode::Plain;
    else if (*mode == "engine")
        o.mode = ksbnfc::Mode::Engine;
    else if (*mode == "translation")
        o.mode = ksbnfc::Mode::Translation;
    else
        throw py::value_error("mode must be 'engine', 'translation' or None, not '" + *mode + "'");
    o.code_page = code_page;
    if (equalize_arc_probabilities) o.equalize_arcs = *equalize_arc_probabilities;
    if (equalize_sentence_probabilities) o.equalize_sentences = *equalize_sentence_probabilities;
    if (flags) o.fsg_flags = *flags;
    o.use_null_arcs = null_arcs;
    o.annotations = annotations;
    if (debug_level) o.debug_level = *debug_level;
    if (time) o.time = *time;
    o.warnings = 1;

    std::optional<std::string> source;
    if (text) source = std::string(*text);
    std::vector<ksbnfc::CompiledFile> files;
    std::vector<ksbnfc::Diagnostic> warned;
    {
        py::gil_scoped_release nogil;
        std::unique_lock<std::shared_mutex> hold(library);
        auto sink = [&](const ksbnfc::Diagnostic& d) { warned.push_back(d); };
        files = source ? ksbnfc::CompileText(*source, name, o, sink) : ksbnfc::Compile(name, o, sink);
    }
    py::list made, warnings;
    for (const ksbnfc::CompiledFile& f : files) made.append(py::make_tuple(f.root, py::bytes(f.bytes)));
    for (const ksbnfc::Diagnostic& d : warned) warnings.append(Record(d));
    return py::make_tuple(made, warnings);
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

// Grammar.test(words) and Grammar.translate(words, tags=None) as methods
// the interpreter calls directly: pybind11's dispatch costs more than
// reading the words. They raise what pybind11 would raise.
template <class F> PyObject* Raw(PyObject* self, F&& call)
{
    try {
        return call(py::cast<Grammar&>(py::handle(self))).release().ptr();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const ksbnfc::Failure& e) {
        PyErr_SetObject(failure_type, Record(e.diagnostic()).ptr());
    } catch (const py::cast_error& e) {
        PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

PyObject* RawTest(PyObject* self, PyObject* const* args, Py_ssize_t n)
{
    if (n != 1) return PyErr_Format(PyExc_TypeError, "test() takes 1 argument (%zd given)", n);
    return Raw(self, [&](Grammar& g) { return g.Test(py::reinterpret_borrow<py::object>(args[0])); });
}

PyObject* RawTranslate(PyObject* self, PyObject* const* args, Py_ssize_t n)
{
    if (n != 1 && n != 2) return PyErr_Format(PyExc_TypeError, "translate() takes 1 or 2 arguments (%zd given)", n);
    return Raw(self, [&](Grammar& g) {
        std::optional<Words> tags;
        if (n == 2 && args[1] != Py_None) tags = py::cast<Words>(py::handle(args[1]));
        return g.Translate(py::reinterpret_borrow<py::object>(args[0]), tags);
    });
}

PyMethodDef raw_methods[] = {
    {"test", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(RawTest)), METH_FASTCALL,
     "test(words): the Result member"},
    {"translate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(RawTranslate)), METH_FASTCALL,
     "translate(words, tags=None): Translation or None"},
};

} // namespace

PYBIND11_MODULE(_ksbnfc, m)
{
    m.doc() = "C++ half of ksbnfc; use the ksbnfc package instead.";
    py::exception<ksbnfc::Failure> failure(m, "Failure");
    failure_type = failure.ptr();
    Py_INCREF(failure_type);
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const ksbnfc::Failure& e) {
            PyErr_SetObject(failure_type, Record(e.diagnostic()).ptr());
        } catch (const ksexport::Error& e) {
            ksbnfc::Diagnostic d;
            d.text = e.what();
            PyErr_SetObject(failure_type, Record(d).ptr());
        }
    });
    m.attr("shared_matching") = kSharedMatching;

    m.def("compile", &Compile, py::arg("name"), py::arg("text"), py::arg("mode"), py::arg("code_page"),
          py::arg("equalize_arc_probabilities"), py::arg("equalize_sentence_probabilities"), py::arg("flags"),
          py::arg("null_arcs"), py::arg("annotations"), py::arg("debug_level"), py::arg("time"));
    m.def("register_extern", &RegisterExtern, py::arg("name"), py::arg("path"));
    m.def("register_extern_bytes", &RegisterExternBytes, py::arg("name"), py::arg("data"), py::arg("shown"));
    m.def("extern_registered", &ExternRegistered, py::arg("name"));
    m.def("code_page", &GetCodePage);
    m.def("set_code_page", &SetCodePage, py::arg("code_page"));

    py::class_<Grammar> grammar(m, "Grammar");
    grammar
        .def_static("load", &Grammar::Load, py::arg("path"))
        .def_static("from_bytes", &Grammar::FromBytes, py::arg("data"), py::arg("name"))
        .def_property_readonly("code_page", &Grammar::CodePage)
        .def_property_readonly("flags", &Grammar::Flags)
        .def("load_externs", &Grammar::LoadExterns)
        .def("bind", &Grammar::Bind)
        .def("understand", &Grammar::Understand)
        .def("substrings", &Grammar::SubStrings)
        .def("sentences", &Grammar::Sentences)
        .def("random", &Grammar::Random)
        .def("export", &Grammar::Export)
        .def("word_texts", &Grammar::WordTexts)
        .def("networks", &Grammar::Networks);
    for (PyMethodDef& def : raw_methods) {
        PyObject* method = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(grammar.ptr()), &def);
        if (!method) throw py::error_already_set();
        grammar.attr(def.ml_name) = py::reinterpret_steal<py::object>(method);
    }
}

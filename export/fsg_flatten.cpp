// fsg_flatten.cpp: ksexport::Flatten, which turns a loaded FSG with its
// intern sub-FSGs and extern grammars into one numbered network, copying
// each called sub-grammar in place of its call (splicing) or keeping the
// calls as labelled arcs.
#include "fsg_export.h"

#include "ksbnfc_inner.h"

#include <deque>
#include <unistd.h>
#include <unordered_map>

namespace ksexport {
namespace {

// One copy of a network in the result: its states start at `base`; an arc
// that leaves the network goes to `ret`. `owner` is the grammar whose
// networks its calls name; `parent` is the copy that called it (-1: none).
struct Instance {
    const ksbnfc::Grammar* owner;
    int network;
    int base;
    int ret;
    int parent;
    std::string name;
};

// Runs a call into the library, turning its failures into Error.
template <class F> auto Library(F f) -> decltype(f())
{
    try {
        return f();
    } catch (const ksbnfc::Failure& e) {
        throw Error(e.what());
    }
}

// Lower-cases text in code page cp (0: the process's), leaving the process
// code page as it was.
std::string Lower(std::string text, int cp)
{
    unsigned long was = ks_get_cp();
    bool other = cp > 0 && (unsigned long)cp != was;
    if (other) ks_set_cp((unsigned long)cp);
    ks_strlwr(&text[0]);
    if (other) ks_set_cp(was);
    return text;
}

class Flattener {
public:
    Flattener(const ksbnfc::Grammar& root, const Options& o) : root_(root), o_(o) {}

    Graph Run()
    {
        for (const auto& x : o_.externs) {
            const ksbnfc::Grammar* e = nullptr;
            try {
                e = ksbnfc::Grammar::Extern(x.first, x.second);
            } catch (const ksbnfc::Failure& f) {
                throw Error("extern grammar " + x.first + ": " + f.what());
            }
            if (!e) throw Error("extern grammar " + x.first + ": not loaded");
        }
        ksbnfc::GraphView view = root_.Graph();
        g_.codepage = view.CodePage();
        AddPart("main", &root_, 0);
        if (!o_.splice)
            for (int k = 0; k + 1 < view.Networks(); k++) AddPart("intern #" + std::to_string(k), &root_, k + 1);
        return std::move(g_);
    }

private:
    int NewStates(int n)
    {
        if ((size_t)g_.states + (size_t)n > o_.max_states)
            throw Error("the flattened grammar would have more than " + std::to_string(o_.max_states) +
                        " states (splicing copies a sub-grammar for every call; try --no-splice)");
        int first = g_.states;
        g_.states += n;
        return first;
    }

    // Copies of networks are expanded from a queue, never by recursion: the
    // nesting of calls follows the grammar.
    void AddPart(const std::string& name, const ksbnfc::Grammar* owner, int network)
    {
        Part part;
        part.name = name;
        part.first = g_.states;
        part.start = NewStates(owner->Graph().States(network));
        part.final_state = NewStates(1);
        queue_.clear();
        copies_.clear();
        copies_.push_back(Instance{owner, network, part.start, part.final_state, -1, name});
        queue_.push_back(0);
        while (!queue_.empty()) {
            int c = queue_.front();
            queue_.pop_front();
            Emit(c);
        }
        part.count = g_.states - part.first;
        g_.parts.push_back(part);
    }

    // The copy of the network made for a call from copy `caller`, ending in `ret`.
    int Call(int caller, const ksbnfc::Grammar* owner, int network, const std::string& name, int ret)
    {
        for (int c = caller; c >= 0; c = copies_[(size_t)c].parent)
            if (copies_[(size_t)c].owner == owner && copies_[(size_t)c].network == network)
                throw Error("sub-grammar " + name + " calls itself; a recursive grammar can't be spliced "
                            "(use --no-splice)");
        int base = NewStates(owner->Graph().States(network));
        copies_.push_back(Instance{owner, network, base, ret, caller, name});
        queue_.push_back((int)copies_.size() - 1);
        return base;
    }

    void Emit(int c)
    {
        // copies_ may grow below: work on a copy of the record.
        Instance x = copies_[(size_t)c];
        ksbnfc::GraphView view = x.owner->Graph();
        int states = view.States(x.network);
        for (int i = 0; i < states; i++) {
            int arcs = view.Arcs(x.network, i);
            for (int j = 0; j < arcs; j++) {
                ksbnfc::ArcView a = view.Arc(x.network, i, j);
                int to = x.ret;
                if (a.target != -1) {
                    if (a.target < 0 || a.target >= states)
                        throw Error("state " + std::to_string(i) + " of " + x.name +
                                    " has an arc into another network");
                    to = x.base + a.target;
                }
                if (g_.arcs.size() >= o_.max_arcs)
                    throw Error("the flattened grammar would have more than " + std::to_string(o_.max_arcs) +
                                " arcs (splicing copies a sub-grammar for every call; try --no-splice)");
                AddArc(c, x, view, x.base + i, to, a);
            }
        }
    }

    void AddArc(int c, const Instance& x, const ksbnfc::GraphView& view, int from, int to, const ksbnfc::ArcView& a)
    {
        int anno = Anno(a.annotation);
        switch (a.kind) {
        case ksbnfc::ArcKind::Call: {
            std::string name = "intern #" + std::to_string(a.id);
            if (a.id < 0 || a.id + 1 >= view.Networks() || view.States(a.id + 1) == 0)
                throw Error(x.name + " calls " + name + ", which the file does not hold");
            if (!o_.splice) {
                g_.arcs.push_back(Arc{from, to, Word("<intern#" + std::to_string(a.id) + ">", false, 0), anno, a.p});
                return;
            }
            int entry = Call(c, x.owner, a.id + 1, name, to);
            g_.arcs.push_back(Arc{from, entry, -1, anno, a.p});
            return;
        }
        case ksbnfc::ArcKind::Extern: {
            std::string text = *a.word ? a.word : "<>";
            if (!o_.splice) {
                g_.arcs.push_back(Arc{from, to, Word(text, false, 0), anno, a.p});
                return;
            }
            const ksbnfc::Grammar* e = Extern(text);
            int entry = Call(c, e, 0, "extern " + text, to);
            g_.arcs.push_back(Arc{from, entry, -1, anno, a.p});
            return;
        }
        case ksbnfc::ArcKind::Null:
            g_.arcs.push_back(Arc{from, to, -1, anno, a.p});
            return;
        case ksbnfc::ArcKind::Word:
            g_.arcs.push_back(Arc{from, to, Word(a.word, o_.lower, view.CodePage()), anno, a.p});
            return;
        }
    }

    // The grammar of an extern reference "<NAME>": one registered already,
    // else NAME plus the source's extension beside the source.
    const ksbnfc::Grammar* Extern(const std::string& text)
    {
        const ksbnfc::Grammar* e = Library([&] { return ksbnfc::Grammar::Extern(text); });
        if (e) return e;
        std::string name = text.size() >= 2 ? text.substr(1, text.size() - 2) : text;
        std::string file;
        if (!o_.source.empty()) {
            const std::string& fn = o_.source;
            size_t slash = fn.find_last_of('\\');
            if (slash == std::string::npos) slash = fn.find_last_of('/');
            std::string dir = slash == std::string::npos ? "" : fn.substr(0, slash + 1);
            size_t dot = fn.find_last_of('.');
            std::string ext = dot == std::string::npos ? ".fst" : fn.substr(dot);
            file = dir + name + ext;
            if (access(file.c_str(), R_OK) == 0) {
                e = Library([&] { return ksbnfc::Grammar::Extern(name, file); });
                if (e) return e;
            }
        }
        throw Error("extern grammar " + text + " not found" + (file.empty() ? "" : " (no readable " + file + ")") +
                    "; name its file with --extern " + name + "=FILE");
    }

    int Word(const std::string& text, bool lower, int cp)
    {
        std::string t = lower ? Lower(text, cp) : text;
        auto it = words_.find(t);
        if (it != words_.end()) return it->second;
        g_.words.push_back(t);
        return words_[t] = (int)g_.words.size() - 1;
    }

    int Anno(const char* a)
    {
        if (!a) return -1;
        std::string t = a;
        auto it = annos_.find(t);
        if (it != annos_.end()) return it->second;
        g_.annos.push_back(t);
        return annos_[t] = (int)g_.annos.size() - 1;
    }

    const ksbnfc::Grammar& root_;
    const Options& o_;
    Graph g_;
    std::vector<Instance> copies_;
    std::deque<int> queue_;
    std::unordered_map<std::string, int> words_, annos_;
};

} // namespace

Graph Flatten(const ksbnfc::Grammar& g, const Options& options)
{
    Flattener f(g, options);
    return f.Run();
}

} // namespace ksexport

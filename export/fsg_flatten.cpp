// fsg_flatten.cpp: ksexport::Flatten, which turns a loaded FSG with its
// intern sub-FSGs and extern grammars into one numbered network, copying
// each called sub-grammar in place of its call (splicing) or keeping the
// calls as labelled arcs.
#include "fsg_export.h"

#include "tfsg.h"

#include <cstring>
#include <deque>
#include <unistd.h>
#include <unordered_map>

namespace ksexport {
namespace {

// One copy of a network in the result: its states start at `base`; an arc
// that leaves the network goes to `ret`. `owner` holds the intern sub-FSGs
// its intern arcs name; `parent` is the copy that called it (-1: none).
struct Instance {
    TSubFSG* sub;
    TFSG* owner;
    int base;
    int ret;
    int parent;
    std::string name;
};

// Runs a call into the library, turning its message exceptions into Error.
template <class F> auto Library(F f) -> decltype(f())
{
    try {
        return f();
    } catch (char* msg) {
        std::string text = msg ? msg : "error";
        while (!text.empty() && text.back() == '\n') text.pop_back();
        throw Error(text);
    }
}

class Flattener {
public:
    Flattener(TFSG* root, const Options& o) : root_(root), o_(o) {}

    Graph Run()
    {
        for (const auto& x : o_.externs) {
            void* h = nullptr;
            if (KsLoadExternFSG(x.first.c_str(), x.second.c_str(), &h) == 1000 || !h)
                throw Error("extern grammar " + x.first + ": " + Message());
        }
        g_.codepage = root_->codepage;
        AddPart("main", root_, root_);
        if (!o_.splice)
            for (int k = 0; k < root_->intern_fsgs.length; k++)
                AddPart("intern #" + std::to_string(k), root_->intern_fsgs[k], root_);
        return std::move(g_);
    }

private:
    static std::string Message()
    {
        char* m = nullptr;
        KsGetMessage(&m);
        std::string text = m && *m ? m : "not loaded";
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

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
    void AddPart(const std::string& name, TSubFSG* sub, TFSG* owner)
    {
        Part part;
        part.name = name;
        part.first = g_.states;
        part.start = NewStates(sub->states.length);
        part.final_state = NewStates(1);
        queue_.clear();
        copies_.clear();
        copies_.push_back(Instance{sub, owner, part.start, part.final_state, -1, name});
        queue_.push_back(0);
        while (!queue_.empty()) {
            int c = queue_.front();
            queue_.pop_front();
            Emit(c);
        }
        part.count = g_.states - part.first;
        g_.parts.push_back(part);
    }

    // The copy of sub made for a call from copy `caller`, ending in `ret`.
    int Call(int caller, TSubFSG* sub, TFSG* owner, const std::string& name, int ret)
    {
        for (int c = caller; c >= 0; c = copies_[(size_t)c].parent)
            if (copies_[(size_t)c].sub == sub)
                throw Error("sub-grammar " + name + " calls itself; a recursive grammar can't be spliced "
                            "(use --no-splice)");
        int base = NewStates(sub->states.length);
        copies_.push_back(Instance{sub, owner, base, ret, caller, name});
        queue_.push_back((int)copies_.size() - 1);
        return base;
    }

    void Emit(int c)
    {
        // copies_ may grow below: work on a copy of the record.
        Instance x = copies_[(size_t)c];
        for (int i = 0; i < x.sub->states.length; i++) {
            TState* s = x.sub->states[i];
            for (int j = 0; j < s->arcs.length; j++) {
                TArc* a = s->arcs[j];
                int to = x.ret;
                if (a->state) {
                    int t = a->state->id;
                    if (t < 0 || t >= x.sub->states.length || x.sub->states[t] != a->state)
                        throw Error("state " + std::to_string(x.sub->states[i]->id) + " of " + x.name +
                                    " has an arc into another network");
                    to = x.base + t;
                }
                AddArc(c, x, x.base + i, to, a);
            }
        }
    }

    void AddArc(int c, const Instance& x, int from, int to, TArc* a)
    {
        TWord* w = a->word;
        int anno = Anno(a->anno);
        if (w->kind == TWord::Intern) {
            TArray<TSubFSG*>& subs = x.owner->intern_fsgs;
            std::string name = "intern #" + std::to_string(w->id);
            if (w->id < 0 || w->id >= subs.length || !subs[w->id])
                throw Error(x.name + " calls " + name + ", which the file does not hold");
            if (!o_.splice) {
                g_.arcs.push_back(Arc{from, to, Word("<intern#" + std::to_string(w->id) + ">", false), anno, a->p});
                return;
            }
            int entry = Call(c, subs[w->id], x.owner, name, to);
            g_.arcs.push_back(Arc{from, entry, -1, anno, a->p});
            return;
        }
        if (w->kind == TWord::Extern) {
            std::string text = w->word.s ? w->word.s : "<>";
            if (!o_.splice) {
                g_.arcs.push_back(Arc{from, to, Word(text, false), anno, a->p});
                return;
            }
            TFSG* e = Extern(text);
            int entry = Call(c, e, e, "extern " + text, to);
            g_.arcs.push_back(Arc{from, entry, -1, anno, a->p});
            return;
        }
        if (w->id == 0) {
            g_.arcs.push_back(Arc{from, to, -1, anno, a->p});
            return;
        }
        g_.arcs.push_back(Arc{from, to, Word(w->word.s ? w->word.s : "", o_.lower), anno, a->p});
    }

    // The grammar of an extern reference "<NAME>": one registered already,
    // else NAME plus the source's extension beside the source.
    TFSG* Extern(const std::string& text)
    {
        TFSG* e = Library([&] { return TFSG::Extern(text.c_str(), nullptr); });
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
                e = Library([&] { return TFSG::Extern(name.c_str(), file.c_str()); });
                if (e) return e;
            }
        }
        throw Error("extern grammar " + text + " not found" + (file.empty() ? "" : " (no readable " + file + ")") +
                    "; name its file with --extern " + name + "=FILE");
    }

    int Word(const std::string& text, bool lower)
    {
        std::string t = text;
        if (lower) ks_strlwr(&t[0]);
        auto it = words_.find(t);
        if (it != words_.end()) return it->second;
        g_.words.push_back(t);
        return words_[t] = (int)g_.words.size() - 1;
    }

    int Anno(TWord* a)
    {
        if (!a || !a->word.s) return -1;
        std::string t = a->word.s;
        auto it = annos_.find(t);
        if (it != annos_.end()) return it->second;
        g_.annos.push_back(t);
        return annos_[t] = (int)g_.annos.size() - 1;
    }

    TFSG* root_;
    const Options& o_;
    Graph g_;
    std::vector<Instance> copies_;
    std::deque<int> queue_;
    std::unordered_map<std::string, int> words_, annos_;
};

} // namespace

Graph Flatten(void* fsg, const Options& options)
{
    if (!fsg) throw Error("no grammar");
    Flattener f(static_cast<TFSG*>(fsg), options);
    return f.Run();
}

} // namespace ksexport

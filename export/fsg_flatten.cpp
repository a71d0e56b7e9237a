// fsg_flatten.cpp: ksexport::Flatten and Flattening, which turn a loaded FSG
// with its intern sub-FSGs and extern grammars into one numbered network,
// copying each called sub-grammar in place of its call (splicing) or keeping
// the calls as labelled arcs. The result is counted network by network
// before it is made, then made copy by copy, a source state at a time.
#include "fsg_flatten.h"

#include "ksbnfc_inner.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <unistd.h>
#include <unordered_map>

namespace ksexport {
namespace {

// A network of some grammar, as Count sees it: what a spliced copy of it
// holds in all (its own states and arcs and those of the copies it calls).
struct Network {
    const ksbnfc::Grammar* owner;
    int network;
    std::vector<int> calls; // a Network per call arc, in arc order
    uint64_t network_states = 0; // its own
    uint64_t states = 0, arcs = 0;
    int mark = 0;           // the depth-first walk's: 0 new, 1 open, 2 done
};

// One copy of a network in the result: its states start at `base`; an arc
// that leaves the network goes to `ret`. `owner` is the grammar whose
// networks its calls name; `parent` is the copy that called it (-1: none);
// `name` indexes the names of the copies.
struct Instance {
    const ksbnfc::Grammar* owner;
    int network;
    int base;
    int ret;
    int parent;
    int name;
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

uint64_t Add(uint64_t a, uint64_t b)
{
    const uint64_t cap = (uint64_t)1 << 62;
    return a >= cap || b >= cap - a ? cap : a + b;
}

} // namespace

class Flattener {
public:
    Flattener(const ksbnfc::Grammar& root, const Options& o) : root_(root), o_(o) {}

    bool Count()
    {
        Register();
        ksbnfc::GraphView view = root_.Graph();
        g_.codepage = view.CodePage();
        std::vector<int> roots{NetworkOf(&root_, 0)};
        if (!o_.splice)
            for (int k = 0; k + 1 < view.Networks(); k++) roots.push_back(NetworkOf(&root_, k + 1));
        // The networks in the order the walk first copies them (breadth
        // first in arc order), so that words and annotations get the walk's
        // order: a copy that is not its network's first meets nothing new.
        for (size_t r = 0; r < roots.size(); r++) {
            std::vector<int> queue{roots[r]};
            for (size_t q = 0; q < queue.size(); q++) {
                Network& n = nets_[(size_t)queue[q]];
                if (n.mark) continue;
                n.mark = 1;
                if (!Visit(queue[q], queue)) return false;
            }
            if (r == 0) main_words_ = g_.words.size();
        }
        if (!Sum(roots)) return false;
        uint64_t states = 0, arcs = 0;
        for (size_t r = 0; r < roots.size(); r++) {
            const Network& n = nets_[(size_t)roots[r]];
            Part part;
            part.name = r == 0 ? "main" : "intern #" + std::to_string(r - 1);
            part.first = (int)std::min<uint64_t>(states, INT32_MAX);
            part.start = part.first;
            part.final_state = (int)std::min<uint64_t>(states + (uint64_t)n.network_states, INT32_MAX);
            part.count = (int)std::min<uint64_t>(n.states + 1, INT32_MAX);
            g_.parts.push_back(part);
            states = Add(states, n.states + 1);
            arcs = Add(arcs, n.arcs);
        }
        // Beyond both bounds, the arcs are named: with equal bounds they are
        // the first the walk would reach.
        if (arcs > o_.max_arcs) throw TooMany(o_.max_arcs, "arcs");
        if (states > o_.max_states) throw TooMany(o_.max_states, "states");
        g_.states = (int)states;
        verified_ = true;
        return true;
    }

    const Graph& Shape() const { return g_; }
    size_t MainWords() const { return main_words_; }

    void Walk(bool all_parts, const Flattening::Emit& emit)
    {
        if (!verified_) Register();
        ksbnfc::GraphView view = root_.Graph();
        g_.codepage = view.CodePage();
        walked_.clear();
        states_ = 0;
        arcs_ = 0;
        AddPart("main", &root_, 0, emit);
        if (all_parts && !o_.splice)
            for (int k = 0; k + 1 < view.Networks(); k++) AddPart("intern #" + std::to_string(k), &root_, k + 1, emit);
    }

    Graph Take()
    {
        g_.parts = std::move(walked_);
        g_.states = states_;
        return std::move(g_);
    }

private:
    void Register()
    {
        if (registered_) return;
        registered_ = true;
        for (const auto& x : o_.externs) {
            const ksbnfc::Grammar* e = nullptr;
            try {
                e = ksbnfc::Grammar::Extern(x.first, x.second);
            } catch (const ksbnfc::Failure& f) {
                throw Error("extern grammar " + x.first + ": " + f.what());
            }
            if (!e) throw Error("extern grammar " + x.first + ": not loaded");
        }
    }

    static Error TooMany(size_t bound, const char* what)
    {
        return Error("the flattened grammar would have more than " + std::to_string(bound) + " " + what +
                     " (splicing copies a sub-grammar for every call; try --no-splice)");
    }

    int NetworkOf(const ksbnfc::Grammar* owner, int network)
    {
        auto key = std::make_pair(owner, network);
        auto it = net_ids_.find(key);
        if (it != net_ids_.end()) return it->second;
        Network n;
        n.owner = owner;
        n.network = network;
        n.network_states = (uint64_t)owner->Graph().States(network);
        nets_.push_back(n);
        return net_ids_[key] = (int)nets_.size() - 1;
    }

    // Records the words, annotations and calls of one network, queueing the
    // networks it calls; false at a fault that the walk reports.
    bool Visit(int id, std::vector<int>& queue)
    {
        const ksbnfc::Grammar* owner = nets_[(size_t)id].owner;
        int network = nets_[(size_t)id].network;
        ksbnfc::GraphView view = owner->Graph();
        int states = view.States(network);
        uint64_t arcs = 0;
        std::vector<int> calls;
        for (int i = 0; i < states; i++) {
            int n = view.Arcs(network, i);
            arcs += (uint64_t)n;
            for (int j = 0; j < n; j++) {
                ksbnfc::ArcView a = view.Arc(network, i, j);
                if (a.target != -1 && (a.target < 0 || a.target >= states)) return false;
                Anno(a.annotation);
                int callee = -1;
                switch (a.kind) {
                case ksbnfc::ArcKind::Call:
                    if (a.id < 0 || a.id + 1 >= view.Networks() || view.States(a.id + 1) == 0) return false;
                    if (!o_.splice) Word("<intern#" + std::to_string(a.id) + ">", false, 0);
                    else callee = NetworkOf(owner, a.id + 1);
                    break;
                case ksbnfc::ArcKind::Extern: {
                    std::string text = *a.word ? a.word : "<>";
                    if (!o_.splice) {
                        Word(text, false, 0);
                        break;
                    }
                    const ksbnfc::Grammar* e;
                    try {
                        e = Extern(text);
                    } catch (const Error&) {
                        return false;
                    }
                    callee = NetworkOf(e, 0);
                    break;
                }
                case ksbnfc::ArcKind::Null:
                    break;
                case ksbnfc::ArcKind::Word:
                    Word(a.word, o_.lower, view.CodePage());
                    break;
                }
                if (callee >= 0) {
                    calls.push_back(callee);
                    queue.push_back(callee);
                }
            }
        }
        Network& n = nets_[(size_t)id];
        n.arcs = arcs;
        n.calls = std::move(calls);
        return true;
    }

    // Totals of each network from those of the networks it calls, depth
    // first with a stack of its own (calls nest as deep as the grammar);
    // false at a recursive call.
    bool Sum(const std::vector<int>& roots)
    {
        for (Network& n : nets_) n.mark = 0;
        std::vector<std::pair<int, size_t>> stack; // network, next call
        for (int r : roots) {
            if (nets_[(size_t)r].mark) continue;
            nets_[(size_t)r].mark = 1;
            stack.emplace_back(r, 0);
            while (!stack.empty()) {
                Network& n = nets_[(size_t)stack.back().first];
                size_t& next = stack.back().second;
                if (next < n.calls.size()) {
                    int id = n.calls[next++];
                    Network& c = nets_[(size_t)id];
                    if (c.mark == 1) return false;
                    if (c.mark == 0) {
                        c.mark = 1;
                        stack.emplace_back(id, 0);
                    }
                    continue;
                }
                n.states = n.network_states;
                for (int c : n.calls) {
                    n.states = Add(n.states, nets_[(size_t)c].states);
                    n.arcs = Add(n.arcs, nets_[(size_t)c].arcs);
                }
                n.mark = 2;
                stack.pop_back();
            }
        }
        return true;
    }

    int NewStates(int n)
    {
        if ((size_t)states_ + (size_t)n > o_.max_states) throw TooMany(o_.max_states, "states");
        int first = states_;
        states_ += n;
        return first;
    }

    int NameOf(const std::string& name)
    {
        auto it = name_ids_.find(name);
        if (it != name_ids_.end()) return it->second;
        names_.push_back(name);
        return name_ids_[name] = (int)names_.size() - 1;
    }

    // Copies of networks are expanded from a queue, never by recursion: the
    // nesting of calls follows the grammar. After a Count that found no
    // recursion a copy is dropped once expanded; otherwise the copies stay
    // for the check of each call against those it is nested in.
    void AddPart(const std::string& name, const ksbnfc::Grammar* owner, int network, const Flattening::Emit& emit)
    {
        Part part;
        part.name = name;
        part.first = states_;
        part.start = NewStates(owner->Graph().States(network));
        part.final_state = NewStates(1);
        copies_.clear();
        dropped_ = 0;
        copies_.push_back(Instance{owner, network, part.start, part.final_state, -1, NameOf(name)});
        for (size_t c = 0; c - dropped_ < copies_.size(); c++) {
            Expand(c, emit);
            if (verified_) {
                copies_.pop_front();
                dropped_++;
            }
        }
        part.count = states_ - part.first;
        walked_.push_back(part);
    }

    // The copy of the network made for a call from copy `caller`, ending in `ret`.
    int Call(size_t caller, const ksbnfc::Grammar* owner, int network, const std::string& name, int ret)
    {
        if (!verified_)
            for (int c = (int)caller; c >= 0; c = copies_[(size_t)c].parent)
                if (copies_[(size_t)c].owner == owner && copies_[(size_t)c].network == network)
                    throw Error("sub-grammar " + name + " calls itself; a recursive grammar can't be spliced "
                                "(use --no-splice)");
        int base = NewStates(owner->Graph().States(network));
        copies_.push_back(Instance{owner, network, base, ret, (int)caller, NameOf(name)});
        return base;
    }

    void Expand(size_t c, const Flattening::Emit& emit)
    {
        // copies_ may grow below: work on a copy of the record.
        Instance x = copies_[c - dropped_];
        ksbnfc::GraphView view = x.owner->Graph();
        int states = view.States(x.network);
        for (int i = 0; i < states; i++) {
            int arcs = view.Arcs(x.network, i);
            group_.clear();
            for (int j = 0; j < arcs; j++) {
                ksbnfc::ArcView a = view.Arc(x.network, i, j);
                int to = x.ret;
                if (a.target != -1) {
                    if (a.target < 0 || a.target >= states)
                        throw Error("state " + std::to_string(i) + " of " + names_[(size_t)x.name] +
                                    " has an arc into another network");
                    to = x.base + a.target;
                }
                if (arcs_ >= o_.max_arcs) throw TooMany(o_.max_arcs, "arcs");
                arcs_++;
                AddArc(c, x, view, x.base + i, to, a);
            }
            if (!group_.empty()) emit(group_.data(), group_.size());
        }
    }

    void AddArc(size_t c, const Instance& x, const ksbnfc::GraphView& view, int from, int to, const ksbnfc::ArcView& a)
    {
        int anno = Anno(a.annotation);
        switch (a.kind) {
        case ksbnfc::ArcKind::Call: {
            std::string name = "intern #" + std::to_string(a.id);
            if (a.id < 0 || a.id + 1 >= view.Networks() || view.States(a.id + 1) == 0)
                throw Error(names_[(size_t)x.name] + " calls " + name + ", which the file does not hold");
            if (!o_.splice) {
                group_.push_back(Arc{from, to, Word("<intern#" + std::to_string(a.id) + ">", false, 0), anno, a.p});
                return;
            }
            int entry = Call(c, x.owner, a.id + 1, name, to);
            group_.push_back(Arc{from, entry, -1, anno, a.p});
            return;
        }
        case ksbnfc::ArcKind::Extern: {
            std::string text = *a.word ? a.word : "<>";
            if (!o_.splice) {
                group_.push_back(Arc{from, to, Word(text, false, 0), anno, a.p});
                return;
            }
            const ksbnfc::Grammar* e = Extern(text);
            int entry = Call(c, e, 0, "extern " + text, to);
            group_.push_back(Arc{from, entry, -1, anno, a.p});
            return;
        }
        case ksbnfc::ArcKind::Null:
            group_.push_back(Arc{from, to, -1, anno, a.p});
            return;
        case ksbnfc::ArcKind::Word:
            group_.push_back(Arc{from, to, Word(a.word, o_.lower, view.CodePage()), anno, a.p});
            return;
        }
    }

    // The grammar of an extern reference "<NAME>": one registered already,
    // else NAME plus the source's extension beside the source. A failure is
    // kept, so that Walk reports what Count met.
    const ksbnfc::Grammar* Extern(const std::string& text)
    {
        auto it = externs_.find(text);
        if (it != externs_.end()) {
            if (!it->second.first) throw Error(it->second.second);
            return it->second.first;
        }
        try {
            const ksbnfc::Grammar* e = FindExtern(text);
            externs_[text] = {e, ""};
            return e;
        } catch (const Error& e) {
            externs_[text] = {nullptr, e.what()};
            throw;
        }
    }

    const ksbnfc::Grammar* FindExtern(const std::string& text)
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
    bool registered_ = false;
    bool verified_ = false;
    size_t main_words_ = 0;
    Graph g_; // words, annotations and code page; the parts Count found
    std::vector<Network> nets_;
    std::map<std::pair<const ksbnfc::Grammar*, int>, int> net_ids_;
    std::map<std::string, std::pair<const ksbnfc::Grammar*, std::string>> externs_;
    std::vector<Part> walked_;
    int states_ = 0;
    size_t arcs_ = 0;
    std::deque<Instance> copies_;
    size_t dropped_ = 0; // copies expanded and let go
    std::vector<Arc> group_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, int> name_ids_, words_, annos_;
};

Flattening::Flattening(const ksbnfc::Grammar& g, const Options& options) : f_(new Flattener(g, options)) {}
Flattening::~Flattening() = default;
bool Flattening::Count() { return f_->Count(); }
const Graph& Flattening::Shape() const { return f_->Shape(); }
size_t Flattening::MainWords() const { return f_->MainWords(); }
void Flattening::Walk(bool all_parts, const Emit& emit) { f_->Walk(all_parts, emit); }

Graph Flattening::Whole()
{
    std::vector<Arc> arcs;
    f_->Walk(true, [&](const Arc* a, size_t n) { arcs.insert(arcs.end(), a, a + n); });
    Graph out = f_->Take();
    out.arcs = std::move(arcs);
    return out;
}

Graph Flatten(const ksbnfc::Grammar& g, const Options& options)
{
    Flattening f(g, options);
    f.Count();
    return f.Whole();
}

} // namespace ksexport

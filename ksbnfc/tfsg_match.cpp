// tfsg_match.cpp: matching a word string against a loaded FSG and collecting
// the annotations of the first accepting path. Entry points: the four forms
// of TFSG::Match, TFSG::add / TFSG::remove, the listing switches, and the
// word classes and per-state arc index (BuildMatchIndex) behind TInputWords
// and TArcCursor (tfsg_arcindex.h).
//
// The walk is depth first in stored arc order with backtracking, and finds
// the path a plain recursive walk would find first. It never explores a
// configuration twice (see Configurations), so its cost is bounded by the
// input length times the configurations of the grammar, not by the number
// of paths. Its depth follows the length of the word string, so it runs on
// an explicit stack of frames, one per step of the walk.
#include "tfsg_arcindex.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>

int print_all = 0;
int print_tr = 0;
int print_num = 0;

// ---- word classes and arc index ----

// A grammar's plain words by case-folded text: a key table with open
// addressing, one 16-byte slot per probe, keys of up to 11 bytes held in
// the slot itself so that a look-up usually reads one cache line.
struct TWordIndex {
    struct Slot {
        int32_t cls;       // -1: free
        uint8_t len;       // kLong: the key is in long_keys, text holds its hash and index
        char text[11];
    };
    static const uint8_t kLong = 255;

    TCodePage cp;
    std::vector<int> word_class; // by word id; -1: no text (matches nothing)
    int nclasses = 0;
    std::vector<Slot> slots;     // a power of two, at most half full
    std::vector<std::string> long_keys;

    static uint32_t Hash(const std::string& key)
    {
        uint32_t h = 2166136261u; // FNV-1a, then a finaliser for the low bits
        for (unsigned char c : key) h = (h ^ c) * 16777619u;
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        return h;
    }
    static bool Holds(const Slot& slot, const std::string& key, uint32_t h, const std::vector<std::string>& longs)
    {
        if (slot.len != kLong) return slot.len == key.size() && std::memcmp(slot.text, key.data(), key.size()) == 0;
        uint32_t sh, at;
        std::memcpy(&sh, slot.text, 4);
        std::memcpy(&at, slot.text + 4, 4);
        return sh == h && longs[at] == key;
    }
    // The class of a key, or -1; with add, a new key gets the next class.
    int Find(const std::string& key, bool add)
    {
        uint32_t h = Hash(key);
        size_t mask = slots.size() - 1;
        size_t i = h & mask;
        for (; slots[i].cls >= 0; i = (i + 1) & mask)
            if (Holds(slots[i], key, h, long_keys)) return slots[i].cls;
        if (!add) return -1;
        Slot& slot = slots[i];
        slot.cls = nclasses++;
        if (key.size() <= sizeof slot.text) {
            slot.len = (uint8_t)key.size();
            std::memcpy(slot.text, key.data(), key.size());
        } else {
            slot.len = kLong;
            uint32_t at = (uint32_t)long_keys.size();
            std::memcpy(slot.text, &h, 4);
            std::memcpy(slot.text + 4, &at, 4);
            long_keys.push_back(key);
        }
        return slot.cls;
    }
    int Find(const std::string& key) const { return const_cast<TWordIndex*>(this)->Find(key, false); }
};

// A state's arcs split for look-up by word class. Valid while the state's
// arc array is the one it was built for. A class's arcs are given by one
// 32-bit entry: the index of its one arc (>= 0), kNone, or the run
// kRun - entry of `runs` when it has several. Four bytes a class at most
// (dense), eight a slot (hashed), nothing when the classes of the state's
// word arcs count up one by one in arc order (every word list).
struct TArcIndex {
    static constexpr int32_t kNone = -1;
    static constexpr int32_t kRun = -2;
    struct Run {
        int32_t off;   // in byclass
        int32_t count;
    };
    struct Slot {
        int32_t cls; // -1: free
        int32_t entry;
    };
    int narcs;
    TArc** elements;
    // The arcs lie side by side in stored order from here (the reader puts
    // them so), else null: an arc is found without reading `elements`.
    TArc* base;
    std::vector<int> others; // every arc that is not a plain word arc
    int first_word[1];       // the first plain word arc
    int nfirst;              // 1 if there is one
    // Consecutive: class lo + k is arc start + k alone, for k < span.
    int32_t lo = 0, span = 0, start = 0;
    // Those arcs differ in their word alone (a word list: same target,
    // probability and annotation): this one of them stands for each, so
    // that taking one reads none of them.
    TArc* shared = nullptr;
    // Else by class directly when the state has arcs of many of the
    // grammar's classes, or open addressing on the class, a power of two.
    std::vector<int32_t> dense;
    std::vector<Slot> hashed;
    std::vector<Run> runs;
    std::vector<int32_t> byclass;

    int32_t Entry(int cls) const
    {
        if ((uint32_t)(cls - lo) < (uint32_t)span) return start + (cls - lo);
        if (!dense.empty()) return (size_t)cls < dense.size() ? dense[(size_t)cls] : kNone;
        if (hashed.empty()) return kNone;
        size_t mask = hashed.size() - 1;
        for (size_t i = ((uint32_t)cls * 2654435761u) & mask; hashed[i].cls >= 0; i = (i + 1) & mask)
            if (hashed[i].cls == cls) return hashed[i].entry;
        return kNone;
    }
};

void TArcIndexFree::operator()(TArcIndex* x) const
{
    delete x;
}

void TWordIndexFree::operator()(TWordIndex* x) const
{
    delete x;
}

bool FoldWordKey(const TCodePage& cp, const char* s, std::string& key)
{
    key.clear();
    if (!s) return true;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    if (cp.utf8) {
        bool valid = true;
        while (*p) {
            unsigned code;
            int n = Utf8Decode(p, nullptr, &code);
            if (!n) {
                valid = false;
                code = kUtf8Stray + *p;
                n = 1;
            }
            unsigned char b[4];
            key.append(reinterpret_cast<char*>(b), (size_t)Utf8Encode(FoldCase(code), b));
            p += n;
        }
        return valid;
    }
    while (*p) {
        unsigned char c = *p++;
        if (cp.Lead(c)) {
            key += (char)c;
            if (!*p) break;
            key += (char)*p++;
        } else {
            key += (char)cp.lower[c];
        }
    }
    return true;
}

TCodePage MatchCodePage(const TFSG* g)
{
    if (g->word_index) return g->word_index->cp;
    return g->codepage ? TCodePage::For((unsigned long)g->codepage) : ProcessCodePage();
}

namespace {

// Below this many arcs a state is scanned whole: comparing a few words costs
// less than looking one up.
const int kIndexMin = 8;

// The arc index of s, or null when a word of its arcs has no class.
TArcIndex* BuildArcIndex(TState* s, const TWordIndex& words)
{
    std::unique_ptr<TArcIndex> x(new TArcIndex);
    const int n = s->arcs.length;
    TArc** arcs = s->arcs.elements;
    x->narcs = n;
    x->elements = arcs;
    x->base = arcs[0];
    x->nfirst = 0;
    std::vector<std::pair<int, int>> keyed; // (class, arc)
    keyed.reserve((size_t)n);
    bool consecutive = true;
    for (int i = 0; i < n; i++) {
        TArc* a = arcs[i];
        if (x->base && (uintptr_t)a != (uintptr_t)x->base + (uintptr_t)i * sizeof(TArc)) x->base = nullptr;
        if (!IsPlainWordArc(a)) {
            x->others.push_back(i);
            continue;
        }
        if (!x->nfirst) {
            x->first_word[0] = i;
            x->nfirst = 1;
        }
        int id = a->word->id;
        if (id < 0 || (size_t)id >= words.word_class.size()) return nullptr;
        // A word without text matches nothing, but still ends the state for
        // an exhausted input.
        int cls = words.word_class[(size_t)id];
        if (cls < 0) continue;
        if (!keyed.empty() && (cls != keyed.back().first + 1 || i != keyed.back().second + 1)) consecutive = false;
        keyed.emplace_back(cls, i);
    }
    if (keyed.empty()) return x.release();
    if (consecutive) {
        x->lo = keyed[0].first;
        x->span = (int32_t)keyed.size();
        x->start = keyed[0].second;
        TArc* r = arcs[x->start];
        x->shared = r;
        for (const auto& k : keyed) {
            const TArc* a = arcs[k.second];
            if (a->state != r->state || a->anno != r->anno || !(a->p == r->p) || a->op != r->op ||
                a->needtr != r->needtr) {
                x->shared = nullptr;
                break;
            }
        }
        return x.release();
    }
    // Grouped by class, each group in ascending arc order.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const std::pair<int, int>& l, const std::pair<int, int>& r) { return l.first < r.first; });
    std::vector<std::pair<int, int32_t>> entries; // (class, entry)
    for (size_t k = 0; k < keyed.size();) {
        size_t e = k + 1;
        while (e < keyed.size() && keyed[e].first == keyed[k].first) e++;
        if (e - k == 1) {
            entries.emplace_back(keyed[k].first, keyed[k].second);
        } else {
            entries.emplace_back(keyed[k].first, TArcIndex::kRun - (int32_t)x->runs.size());
            x->runs.push_back(TArcIndex::Run{(int32_t)x->byclass.size(), (int32_t)(e - k)});
            for (size_t j = k; j < e; j++) x->byclass.push_back(keyed[j].second);
        }
        k = e;
    }
    if (entries.size() * 4 >= (size_t)words.nclasses) {
        x->dense.assign((size_t)words.nclasses, TArcIndex::kNone);
        for (auto& r : entries) x->dense[(size_t)r.first] = r.second;
    } else {
        size_t size = 16;
        while (size < entries.size() * 2) size *= 2;
        x->hashed.assign(size, TArcIndex::Slot{-1, TArcIndex::kNone});
        for (auto& r : entries) {
            size_t i = ((uint32_t)r.first * 2654435761u) & (size - 1);
            while (x->hashed[i].cls >= 0) i = (i + 1) & (size - 1);
            x->hashed[i] = TArcIndex::Slot{r.first, r.second};
        }
    }
    return x.release();
}

} // namespace

void BuildMatchIndex(TFSG* g)
{
    g->word_index.reset();
    std::unique_ptr<TWordIndex> words(new TWordIndex);
    words->cp = MatchCodePage(g);
    // Classes are found by word id: every word must sit at its id.
    for (int i = 0; i < g->words.length; i++)
        if (!g->words.elements[i] || g->words.elements[i]->id != i) return;
    size_t size = 16;
    while (size < (size_t)g->words.length * 2) size *= 2;
    words->slots.assign(size, TWordIndex::Slot{-1, 0, {}});
    words->word_class.assign((size_t)g->words.length, -1);
    std::string key;
    for (int i = 1; i < g->words.length; i++) {
        const char* text = g->words.elements[i]->word.s;
        if (!text) continue;
        FoldWordKey(words->cp, text, key);
        words->word_class[(size_t)i] = words->Find(key, true);
    }
    TSubFSG* first = g;
    for (int k = -1; k < g->intern_fsgs.length; k++) {
        TSubFSG* sub = k < 0 ? first : g->intern_fsgs.elements[k];
        if (!sub) continue;
        for (int i = 0; i < sub->states.length; i++) {
            TState* s = sub->states.elements[i];
            s->match_index.reset(s->arcs.length >= kIndexMin ? BuildArcIndex(s, *words) : nullptr);
        }
    }
    g->word_index.reset(words.release());
}

TInputWords::View& TInputWords::Add(const TFSG* g)
{
    views.emplace_back();
    View& v = views.back();
    v.g = g;
    v.index = g->word_index.get();
    v.cp = MatchCodePage(g);
    const size_t n = (size_t)input.length;
    v.valid.resize(n);
    if (v.index) v.cls.assign(n, -1);
    std::string key;
    for (size_t k = 0; k < n; k++) {
        const char* s = input.elements[k].s;
        if (v.index) {
            v.valid[k] = FoldWordKey(v.cp, s, key);
            if (v.valid[k] && s) v.cls[k] = v.index->Find(key);
        } else {
            v.valid[k] = v.cp.Valid(s);
        }
    }
    return v;
}

bool TInputWords::Is(const View& v, int k, const TWord* w) const
{
    if (k >= input.length) return false;
    if (v.index && w->id >= 0 && (size_t)w->id < v.index->word_class.size() && v.g->words.elements[w->id] == w) {
        int c = v.index->word_class[(size_t)w->id];
        return c >= 0 && c == v.cls[(size_t)k];
    }
    return TextIs(v, k, w->word.s);
}

bool TInputWords::TextIs(const View& v, int k, const char* text) const
{
    if (k >= input.length) return false;
    const char* s = input.elements[k].s;
    return s && text && v.valid[(size_t)k] && v.cp.StrICmp(s, text) == 0;
}

void TArcCursor::Start(TState* s, const TInputWords::View& v, int k)
{
    n = s->arcs.length;
    i = 0;
    ia = ib = na = nb = 0;
    a = b = nullptr;
    by_class = matched = false;
    single_arc = nullptr;
    const TArcIndex* x = s->match_index.get();
    all = !v.index || !x || x->narcs != n || x->elements != s->arcs.elements;
    if (all) return;
    a = x->others.data();
    na = (int)x->others.size();
    if (k < 0) {
        b = x->first_word;
        nb = x->nfirst;
        return;
    }
    int cls = v.cls[(size_t)k];
    int32_t e = cls >= 0 ? x->Entry(cls) : TArcIndex::kNone;
    if (e == TArcIndex::kNone) return;
    by_class = true;
    if (e >= 0) {
        single = e;
        single_arc = x->shared ? x->shared : x->base ? x->base + e : s->arcs.elements[e];
        b = &single;
        nb = 1;
    } else {
        const TArcIndex::Run& r = x->runs[(size_t)(TArcIndex::kRun - e)];
        b = x->byclass.data() + r.off;
        nb = r.count;
    }
}

// ---- emitting ----

void TFSG::add(TStringList& output, TSubFSG::Ctx* ctx, mbstring text)
{
    if (!ctx || ctx->needtr) output.Add(text);
}

void TFSG::remove(TStringList& output, TSubFSG::Ctx* ctx)
{
    if ((!ctx || ctx->needtr) && output.length > 0) output.Length(output.length - 1);
}

// ---- the walk ----

namespace {

class Matcher {
public:
    Matcher(TStringList& input, TStringList* vocabs, TStringList& output, int* prefix, bool listing,
            const TCodePage& cp)
        : input(input), vocabs(vocabs), output(output), prefix(prefix), listing(listing), n(input.length),
          cp(cp), words(input)
    {
    }

    double Run(TFSG* g, int in, double pin, TState* state, TSubFSG::Ctx* ctx);

private:
    // One step of the walk: a visit of `state` (null: a grammar has just
    // ended) with `in` words consumed. While a branch of the step is being
    // explored, `q` is the factor its result gets on the way back and
    // `emitted` the number of action-list entries to take back if it fails.
    struct Frame {
        TFSG* g; // the grammar whose intern sub-FSGs this step uses
        TState* state;
        int in;
        double pin;
        TSubFSG::Ctx* ctx;
        int chain; // the number of ctx's chain
        int fresh; // the calls of the chain made at position in
        bool entered;
        bool counted; // the step's configuration was marked open
        double q;
        int emitted;
        int depth;  // index on the stack
        int listed; // print_num when the step began
        int low;    // the lowest depth a cut below this step went back to
        TArcCursor cursor;
        TSubFSG::Ctx call; // the call made by the branch in progress
    };
    enum Outcome { kPushed, kFailed, kAccepted };

    void Push(TFSG* g, TState* state, int in, double pin, TSubFSG::Ctx* ctx, int chain, int fresh)
    {
        stack.emplace_back();
        Frame& f = stack.back();
        f.g = g;
        f.state = state;
        f.in = in;
        f.pin = pin;
        f.ctx = ctx;
        f.chain = chain;
        f.fresh = fresh;
        f.entered = false;
        f.counted = false;
        f.q = 1.0;
        f.emitted = 0;
        f.depth = (int)stack.size() - 1;
        f.listed = print_num;
        f.low = INT_MAX;
    }
    // Opens a call through arc a, unless the same arc is already open at
    // this position: that call would recurse without consuming a word.
    bool Call(Frame& f, TArc* a, TFSG* callee_g, TState* start, double q, int needtr)
    {
        if (Configurations::Recurses(f.ctx, f.fresh, a)) return false;
        f.call.arc = a;
        f.call.needtr = needtr;
        f.call.next = f.ctx;
        f.call.fsg = f.g;
        int chain = f.chain, fresh = f.fresh;
        seen.Enter(a, f.g, chain, fresh);
        Push(callee_g, start, f.in, f.pin * q, &f.call, chain, fresh);
        return true;
    }
    // The walk leaves a step that found no accepting path. A listing walk
    // reports paths as it goes, so there a step counts as failed only if it
    // listed nothing and no loop below it was cut at a step above it (what
    // it found would then depend on the path that led to it).
    void Leave(Frame& f)
    {
        if (f.depth > 0) {
            Frame& parent = stack[(size_t)f.depth - 1];
            if (f.low < parent.low) parent.low = f.low;
        }
        if (!f.counted) return;
        seen.At(f.state, f.g, f.chain, f.fresh, f.in).status =
            !listing || (f.listed == print_num && f.low >= f.depth) ? Configurations::kFailed
                                                                    : Configurations::kUnseen;
    }
    int Emit(TSubFSG::Ctx* ctx, mbstring text)
    {
        if (ctx && !ctx->needtr) return 0;
        output.Add(text);
        return 1;
    }
    void TakeBack(Frame& f)
    {
        int keep = output.length - f.emitted;
        output.Length(keep < 0 ? 0 : keep);
        f.emitted = 0;
    }
    bool TagIs(int k, const char* text) const
    {
        if (!vocabs || k >= vocabs->length) return false;
        const char* t = vocabs->elements[k].s;
        return t && text && std::strcmp(t, text) == 0;
    }

    Outcome Enter(Frame& f);
    Outcome Arcs(Frame& f);
    void PrintParse(double pin);

    TStringList& input;
    TStringList* vocabs;
    TStringList& output;
    int* prefix;
    bool listing;
    int n;
    const TCodePage& cp; // of the grammar the walk started on: the translation's
    TInputWords words;
    Configurations seen;
    // A deque keeps the frames in place as it grows, so a child may point at
    // its parent's context record.
    std::deque<Frame> stack;
};

void Matcher::PrintParse(double pin)
{
    if (print_tr) {
        mbstring t = DoActions(output, cp);
        std::fprintf(KsListing(), "    parse %d (%.6f)  %s\n", print_num++, pin, t.s ? t.s : "(null)");
        delete[] t.s;
        return;
    }
    std::fprintf(KsListing(), "    parse %d (%.6f) ", print_num++, pin);
    for (int i = 0; i < n; i++) {
        const char* w = input.elements[i].s;
        std::fprintf(KsListing(), " %s", w ? w : "");
        if (i < output.length && output.elements[i].s) std::fprintf(KsListing(), ":%s", output.elements[i].s);
    }
    std::fprintf(KsListing(), "\n");
}

Matcher::Outcome Matcher::Enter(Frame& f)
{
    f.entered = true;
    if (f.state) {
        Configurations::Mark& m = seen.At(f.state, f.g, f.chain, f.fresh, f.in);
        if (m.status != Configurations::kUnseen) {
            if (m.status == Configurations::kOpen) f.low = m.depth;
            return kFailed;
        }
        m.status = Configurations::kOpen;
        m.depth = f.depth;
        f.counted = true;
        f.cursor.Start(f.state, words.Of(f.state), f.in < n ? f.in : -1);
        return Arcs(f);
    }
    if (TSubFSG::Ctx* c = f.ctx) {
        // A called grammar has ended: its calling arc's annotation follows
        // everything emitted inside, and the walk goes on in the caller.
        f.emitted = Emit(c->next, c->arc->anno->word);
        int chain = f.chain, fresh = f.fresh;
        seen.Leave(c->arc, chain, fresh);
        Push(c->fsg ? c->fsg : f.g, c->arc->state, f.in, f.pin, c->next, chain, fresh);
        return kPushed;
    }
    if (f.in != n) return kFailed;
    if (listing) {
        PrintParse(f.pin);
        return kFailed;
    }
    return kAccepted;
}

Matcher::Outcome Matcher::Arcs(Frame& f)
{
    for (int i; (i = f.cursor.Next()) >= 0;) {
        TArc* a = f.cursor.Arc(f.state, i);
        double q = a->p;
        f.q = q;
        f.emitted = 0;
        if (f.cursor.Matched()) {
            f.emitted = Emit(f.ctx, a->anno->word);
            Push(f.g, a->state, f.in + 1, f.pin * q, f.ctx, f.chain, 0);
            return kPushed;
        }
        TWord* w = a->word;
        mbstring t = a->anno->word;
        if (w->kind == TWord::Intern) {
            TCallee c = CallOf(f.g, a);
            if (Call(f, a, c.g, c.start, q, !f.ctx || f.ctx->needtr)) return kPushed;
            continue;
        }
        if (w->id == 0) {
            f.emitted = Emit(f.ctx, t);
            Push(f.g, a->state, f.in, f.pin * q, f.ctx, f.chain, f.fresh);
            return kPushed;
        }
        // Out of words: this arc wants one more, but a null or sub-grammar
        // arc later in the state may still end the sentence here.
        if (f.in >= n) {
            if (f.in == n) *prefix = 1;
            continue;
        }
        if (w->kind == TWord::Extern) {
            int nt = t.s && std::strstr(t.s, "{}") ? 1 : 0;
            TCallee c = CallOf(f.g, a);
            if (c.start) {
                if (Call(f, a, c.g, c.start, q, nt && (!f.ctx || f.ctx->needtr))) return kPushed;
                continue;
            }
            if (!TagIs(f.in, c.word) && !words.TextIs(words.Of(f.state), f.in, c.word)) continue;
            // TextIs or TagIs held, so f.in is a word of the input.
            if (nt) f.emitted += Emit(f.ctx, input.elements[f.in]);
            f.emitted += Emit(f.ctx, t);
            Push(f.g, a->state, f.in + 1, f.pin * q, f.ctx, f.chain, 0);
            return kPushed;
        }
        if (!words.Is(words.Of(f.state), f.in, w)) continue;
        f.emitted = Emit(f.ctx, t);
        Push(f.g, a->state, f.in + 1, f.pin * q, f.ctx, f.chain, 0);
        return kPushed;
    }
    return kFailed;
}

double Matcher::Run(TFSG* g, int in, double pin, TState* state, TSubFSG::Ctx* ctx)
{
    // A caller's chain of open calls gets its numbers outermost first, as
    // the walk would have given them.
    std::vector<TSubFSG::Ctx*> outer;
    for (TSubFSG::Ctx* c = ctx; c; c = c->next) outer.push_back(c);
    int chain = 0, fresh = 0;
    for (size_t k = outer.size(); k-- > 0;) seen.Enter(outer[k]->arc, outer[k]->fsg, chain, fresh);
    Push(g, state, in, pin, ctx, chain, 0);
    for (;;) {
        Frame& f = stack.back();
        Outcome r;
        if (!f.entered) {
            r = Enter(f);
        } else {
            // The branch in progress failed: undo it and try the next one. A
            // step that continued a caller after a grammar ended has no other.
            TakeBack(f);
            r = f.state ? Arcs(f) : kFailed;
        }
        if (r == kPushed) continue;
        if (r == kAccepted) break;
        Leave(f);
        stack.pop_back();
        if (stack.empty()) return 0.0;
    }
    // Each step returns its branch's result times the branch's factor, the
    // innermost first, as a recursive walk would multiply them.
    double p = 1.0;
    for (size_t k = stack.size() - 1; k-- > 0;) p = p * stack[k].q;
    // Very long paths can take the product below the smallest double; the
    // string is still accepted, which a zero would deny.
    if (!(p > 0)) p = std::numeric_limits<double>::denorm_min();
    return p;
}

} // namespace

double TFSG::Match(TStringList& input, TStringList* vocabs, int in, double pin, TState* state,
                   TSubFSG::Ctx* ctx, TStringList* output, int* prefix)
{
    TStringList scratch;
    int unused = 0;
    TCodePage cp = MatchCodePage(this);
    Matcher m(input, vocabs, output ? *output : scratch, prefix ? prefix : &unused, print_all != 0, cp);
    return m.Run(this, in, pin, state, ctx);
}

double TFSG::Match(TStringList& words, TStringList* tags, mbstring& out, int* prefix)
{
    // Written only when set: concurrent matches of one grammar then only read it.
    if (print_all) print_all = 0;
    TStringList actions;
    double p = Match(words, tags, 0, 1.0, Initial(), nullptr, &actions, prefix);
    if (p > 0) out = DoActions(actions, MatchCodePage(this));
    return p;
}

double TFSG::Match(TStringList& words, TStringList* tags, TStringList& annos, int* prefix)
{
    if (print_all) print_all = 0;
    return Match(words, tags, 0, 1.0, Initial(), nullptr, &annos, prefix);
}

double TFSG::Match(TStringList& words, TStringList* tags, int tr, int* prefix)
{
    print_all = 1;
    print_tr = tr;
    print_num = 0;
    TStringList actions;
    Match(words, tags, 0, 1.0, Initial(), nullptr, &actions, prefix);
    return 0;
}

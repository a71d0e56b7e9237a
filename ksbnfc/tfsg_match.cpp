// tfsg_match.cpp: matching a word string against a loaded FSG and collecting
// the annotations of the first accepting path. Entry points: the four forms
// of TFSG::Match, TFSG::add / TFSG::remove, the listing switches, and the
// per-state arc index behind TArcCursor (tfsg_arcindex.h).
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
#include <unordered_map>

int print_all = 0;
int print_tr = 0;
int print_num = 0;

// ---- arc index ----

// A state's arcs split for look-up by word. Valid while the state's arc
// array and the code page are the ones it was built for.
struct TArcIndex {
    int narcs;
    TArc** elements;
    unsigned long cp;
    const unsigned char* lower;
    // Plain word arcs by key: a run of `byword` (offset, count), so that a
    // look-up touches one node and one array.
    std::unordered_map<std::string, std::pair<int, int>> words;
    std::vector<int> byword;
    std::vector<int> others; // every other arc
    int first_word[1];                                       // first plain word arc
    int nfirst;                                              // 1 if there is one
};

void TArcIndexFree::operator()(TArcIndex* x) const
{
    delete x;
}

bool FoldWordKey(const char* s, std::string& key)
{
    key.clear();
    if (!s) return true;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    if (isUTF8) {
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
        if (dbcsleadbyte(c)) {
            key += (char)c;
            if (!*p) break;
            key += (char)*p++;
        } else {
            key += (char)ks_tolower_[c];
        }
    }
    return true;
}

namespace {

// Below this many arcs a state is scanned whole: comparing a few words costs
// less than hashing one.
const int kIndexMin = 8;

bool Current(const TArcIndex* x, const TState* s)
{
    return x->narcs == s->arcs.length && x->elements == s->arcs.elements && x->cp == ::codepage &&
           x->lower == ks_tolower_;
}

TArcIndex* Build(TState* s)
{
    TArcIndex* x = new TArcIndex;
    s->match_index.reset(x);
    x->narcs = s->arcs.length;
    x->elements = s->arcs.elements;
    x->cp = ::codepage;
    x->lower = ks_tolower_;
    x->nfirst = 0;
    std::string key;
    std::vector<std::pair<std::string, int>> keyed;
    for (int i = 0; i < s->arcs.length; i++) {
        TArc* a = s->arcs.elements[i];
        if (!IsPlainWordArc(a)) {
            x->others.push_back(i);
            continue;
        }
        if (!x->nfirst) {
            x->first_word[0] = i;
            x->nfirst = 1;
        }
        // A word without text matches nothing, but still ends the state for
        // an exhausted input.
        if (!a->word->word.s) continue;
        FoldWordKey(a->word->word.s, key);
        keyed.emplace_back(key, i);
    }
    // Grouped by key, each group in ascending arc order.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const std::pair<std::string, int>& l, const std::pair<std::string, int>& r) {
                         return l.first < r.first;
                     });
    x->byword.reserve(keyed.size());
    x->words.reserve(keyed.size());
    for (size_t k = 0; k < keyed.size(); k++) {
        if (k == 0 || keyed[k].first != keyed[k - 1].first)
            x->words[keyed[k].first] = std::make_pair((int)x->byword.size(), 0);
        x->words[keyed[k].first].second++;
        x->byword.push_back(keyed[k].second);
    }
    return x;
}

} // namespace

void BuildMatchIndex(TFSG* g)
{
    TSubFSG* first = g;
    for (int k = -1; k < g->intern_fsgs.length; k++) {
        TSubFSG* sub = k < 0 ? first : g->intern_fsgs.elements[k];
        if (!sub) continue;
        for (int i = 0; i < sub->states.length; i++) {
            TState* s = sub->states.elements[i];
            if (s->arcs.length >= kIndexMin) Build(s);
        }
    }
}

void TArcCursor::Start(TState* s, const std::string* key)
{
    n = s->arcs.length;
    i = 0;
    ia = ib = na = nb = 0;
    a = b = nullptr;
    all = n < kIndexMin;
    if (all) return;
    TArcIndex* x = s->match_index.get();
    if (!x || !Current(x, s)) x = Build(s);
    a = x->others.data();
    na = (int)x->others.size();
    if (!key) {
        b = x->first_word;
        nb = x->nfirst;
        return;
    }
    auto it = x->words.find(*key);
    if (it != x->words.end()) {
        b = x->byword.data() + it->second.first;
        nb = it->second.second;
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
    Matcher(TStringList& input, TStringList* vocabs, TStringList& output, int* prefix, bool listing)
        : input(input), vocabs(vocabs), output(output), prefix(prefix), listing(listing), n(input.length)
    {
        keys.resize((size_t)n);
        valid.resize((size_t)n);
        for (int k = 0; k < n; k++) valid[(size_t)k] = FoldWordKey(input.elements[k].s, keys[(size_t)k]);
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
    bool WordIs(int k, const TWord* w) const
    {
        if (k >= n) return false;
        const char* s = input.elements[k].s;
        return s && w->word.s && valid[(size_t)k] && ks_stricmp(s, w->word.s) == 0;
    }
    bool TagIs(int k, const TWord* w) const
    {
        if (!vocabs || k >= vocabs->length) return false;
        const char* t = vocabs->elements[k].s;
        return t && w->word.s && std::strcmp(t, w->word.s) == 0;
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
    std::vector<std::string> keys;
    std::vector<char> valid; // whole characters of the code page: a word that is not matches nothing
    Configurations seen;
    // A deque keeps the frames in place as it grows, so a child may point at
    // its parent's context record.
    std::deque<Frame> stack;
};

void Matcher::PrintParse(double pin)
{
    if (print_tr) {
        mbstring t = DoActions(output);
        std::printf("    parse %d (%.6f)  %s\n", print_num++, pin, t.s ? t.s : "(null)");
        delete[] t.s;
        return;
    }
    std::printf("    parse %d (%.6f) ", print_num++, pin);
    for (int i = 0; i < n; i++) {
        const char* w = input.elements[i].s;
        std::printf(" %s", w ? w : "");
        if (i < output.length && output.elements[i].s) std::printf(":%s", output.elements[i].s);
    }
    std::printf("\n");
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
        f.cursor.Start(f.state, f.in < n ? &keys[(size_t)f.in] : nullptr);
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
        TArc* a = f.state->arcs.elements[i];
        TWord* w = a->word;
        mbstring t = a->anno->word;
        double q = a->p;
        f.q = q;
        f.emitted = 0;
        if (w->kind == TWord::Intern) {
            TArray<TSubFSG*>& subs = f.g->intern_fsgs;
            TSubFSG* s = w->id >= 0 && w->id < subs.length ? subs.elements[w->id] : nullptr;
            if (!s || s->states.length == 0) Error("Can't open an intern fsg: %d!\n", w->id);
            if (Call(f, a, f.g, s->states.elements[0], q, !f.ctx || f.ctx->needtr)) return kPushed;
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
            TFSG* g = w->word.s ? TFSG::Extern(w->word.s, nullptr) : nullptr;
            if (g && g->states.length > 0) {
                if (Call(f, a, g, g->states.elements[0], q, nt && (!f.ctx || f.ctx->needtr))) return kPushed;
                continue;
            }
            if (!TagIs(f.in, w) && !WordIs(f.in, w)) continue;
            // WordIs or TagIs held, so f.in is a word of the input.
            if (nt) f.emitted += Emit(f.ctx, input.elements[f.in]);
            f.emitted += Emit(f.ctx, t);
            Push(f.g, a->state, f.in + 1, f.pin * q, f.ctx, f.chain, 0);
            return kPushed;
        }
        if (!WordIs(f.in, w)) continue;
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
    // A grammar stored as UTF-8 compares in UTF-8 whatever the process code page.
    TCodePageScope cp(codepage);
    TStringList scratch;
    int unused = 0;
    Matcher m(input, vocabs, output ? *output : scratch, prefix ? prefix : &unused, print_all != 0);
    return m.Run(this, in, pin, state, ctx);
}

double TFSG::Match(TStringList& words, TStringList* tags, mbstring& out, int* prefix)
{
    // Written only when set: concurrent matches of one grammar then only read it.
    if (print_all) print_all = 0;
    TCodePageScope cp(codepage);
    TStringList actions;
    double p = Match(words, tags, 0, 1.0, Initial(), nullptr, &actions, prefix);
    if (p > 0) out = DoActions(actions);
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

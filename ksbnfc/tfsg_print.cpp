// tfsg_print.cpp: the diagnostic views of a grammar: the state/arc listing
// (TSubFSG::Print, TFSG::Print), the enumeration of accepted sentences
// (TSubFSG::Enumerate) and random sentences (TSubFSG::Random for one network,
// TFSG::RandomSentence for the whole grammar).
#include "tfsg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Texts may be missing (a read file need not hold every text its arcs use);
// they are shown as empty texts.
inline const char* Text(const TWord* w)
{
    return w && w->word.s ? w->word.s : "";
}

inline int Id(const TWord* w)
{
    return w ? w->id : 0;
}

int LongestText(const TWordList& list, int from)
{
    int n = 0;
    for (int i = from; i < list.length; i++) {
        const TWord* w = list.elements[i];
        if (w && w->word.s) {
            int len = (int)std::strlen(w->word.s);
            if (len > n) n = len;
        }
    }
    return n;
}

std::string WordColumn(const TWord* w)
{
    if (w && w->kind == TWord::Intern) {
        char num[16];
        std::snprintf(num, sizeof num, "#%d", w->id);
        std::string col(num);
        if (w->word.s) col.append(" ").append(w->word.s);
        return col;
    }
    return Text(w);
}

const char* OpMark(Op op)
{
    switch (op) {
    case OpStar: return "*";
    case OpPlus: return "+";
    case OpOpt: return "?";
    default: return " ";
    }
}

} // namespace

void TSubFSG::Print(int v, const char* title)
{
    if (v <= 0) return;
    std::fprintf(KsListing(), "--- fsg %s --- %s\n\n", name.s ? name.s : "", title ? title : "");
    int ww = LongestText(fsg->words, 0);
    int ew = LongestText(fsg->externs, 0);
    if (ew > ww) ww = ew;
    int aw = LongestText(fsg->annos, 0);

    for (int i = 0; i < states.length; i++) {
        TState* s = states.elements[i];
        std::fprintf(KsListing(), "state %d\n", s->id);
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            char target[16];
            if (a->state)
                std::snprintf(target, sizeof target, "%d", a->state->id);
            else
                std::snprintf(target, sizeof target, "*");
            std::string anno;
            if (a->anno && a->anno->word.s) anno.append("'").append(a->anno->word.s).append("'");
            std::string word = WordColumn(a->word);
            std::fprintf(KsListing(), "         %-*s%s -> state %-4s p=%-#8.2g %-*s", ww, word.c_str(),
                         OpMark(a->op), target, (double)a->p, aw + 2, anno.c_str());
            if (v > 1) {
                std::fprintf(KsListing(), "   w=%-5d ", Id(a->word));
                if (Id(a->anno) != 0) std::fprintf(KsListing(), "a=%-3d %s", Id(a->anno), Text(a->anno));
            }
            std::fprintf(KsListing(), "\n");
        }
    }
    std::fprintf(KsListing(), "state *\n");
    std::fprintf(KsListing(), "\n");
}

void TFSG::Print(int v, const char* title)
{
    TSubFSG::Print(v, title);
    for (int i = 0; i < intern_fsgs.length; i++)
        if (intern_fsgs.elements[i]) intern_fsgs.elements[i]->Print(v, title);
    if (v <= 1) return;
    std::fprintf(KsListing(), "--- shared\n\n");
    // Slots a reader left empty are not listed.
    for (int i = 0; i < words.length; i++)
        if (words.elements[i])
            std::fprintf(KsListing(), "word %3d: '%s'\n", words.elements[i]->id, Text(words.elements[i]));
    if (words.length > 0) std::fprintf(KsListing(), "\n");
    for (int i = 0; i < externs.length; i++)
        if (externs.elements[i])
            std::fprintf(KsListing(), "extern %5d: '%s'\n", externs.elements[i]->id, Text(externs.elements[i]));
    if (externs.length > 0) std::fprintf(KsListing(), "\n");
    for (int i = 1; i < annos.length; i++)
        if (annos.elements[i])
            std::fprintf(KsListing(), "annotation %5d: '%s'\n", annos.elements[i]->id, Text(annos.elements[i]));
    std::fprintf(KsListing(), "\n");
}

// The whole grammar's sentences, calls followed (tfsg_sentences.cpp); the
// second form below walks one network on its own.
void TSubFSG::Enumerate(int anno, int showpr, int full, int max_loops, int max_words)
{
    TSentenceLimits limits;
    limits.anno = anno;
    limits.full = full;
    limits.max_loops = max_loops;
    limits.max_words = max_words;
    TSentenceReport report;
    Sentences(limits, report, [showpr](const std::string& s, double p) {
        if (showpr)
            std::fprintf(KsListing(), "%-#8.2g %s\n", p, s.c_str());
        else
            std::fprintf(KsListing(), "%s\n", s.c_str());
    });
}

namespace {

// One state on the current path of the enumeration.
struct EnumFrame {
    TState* s;
    char* end;          // where this state's arcs write their piece
    float p;
    int max_words;
    int next;           // next arc to try
    std::vector<int> marked; // targets already explored from here (full = 0)
};

} // namespace

// Depth-first in arc order like the natural recursion, but with an explicit
// stack: the path length follows the grammar's size and loop bound, not the
// size of the machine stack.
void TSubFSG::Enumerate(TState* s, char* start, char* end, float p, int anno, int showpr, int full,
                        int max_loops, int max_words)
{
    if (!normalized) Error("fsg not normalized");
    char* limit = start + kSentenceMax;
    int nstates = states.length;

    auto emit = [&](char* at, float q) {
        *at = 0;
        if (showpr)
            std::fprintf(KsListing(), "%-#8.2g %s\n", (double)q, start);
        else
            std::fprintf(KsListing(), "%s\n", start);
    };
    std::vector<EnumFrame> stack;
    auto enter = [&](TState* t, char* at, float q, int mw) {
        if (!t) {
            emit(at, q);
            return;
        }
        if (t->flag >= max_loops) return;
        t->flag++;
        stack.push_back(EnumFrame{t, at, q, mw, 0, {}});
    };

    enter(s, end, p, max_words);
    while (!stack.empty()) {
        EnumFrame& f = stack.back();
        if (f.next >= f.s->arcs.length) {
            f.s->flag--;
            stack.pop_back();
            continue;
        }
        TArc* a = f.s->arcs.elements[f.next++];
        int t = a->state ? a->state->id : nstates;
        if (!full) {
            bool seen = false;
            for (int m : f.marked)
                if (m == t) {
                    seen = true;
                    break;
                }
            if (seen) continue;
        }
        if (f.max_words < 1 && a->state) continue;

        const char* wt = Text(a->word);
        int room = (int)(limit - f.end);
        int n;
        if (anno && a->anno && a->anno->word.s)
            n = std::snprintf(f.end, (size_t)room, "%s:%s ", wt, a->anno->word.s);
        else if (Id(a->word) != 0)
            n = std::snprintf(f.end, (size_t)room, "%s ", wt);
        else
            n = 0;
        if (n < 0 || n >= room) {
            *f.end = 0;
            Error("sentence longer than %d bytes in fsg %s", (int)kSentenceMax - 1, name.s ? name.s : "");
        }
        if (!full) f.marked.push_back(t);
        // f may move when the stack grows: take what is needed first.
        char* at = f.end + n;
        float q = f.p * a->p;
        int mw = f.max_words - 1;
        enter(a->state, at, q, mw);
    }
}

namespace {

// An arc of s drawn by its probability with std::rand; the last one when
// rounding leaves the sum of the probabilities short of the number drawn.
TArc* DrawArc(TState* s)
{
    double r = std::rand() * (1.0 / 2147483648.0);
    TArc* a = nullptr;
    for (int i = 0; i < s->arcs.length; i++) {
        a = s->arcs.elements[i];
        r -= a->p;
        if (r < 0) break;
    }
    return a;
}

} // namespace

float TSubFSG::Random(TStringList* words, TStringList* annos)
{
    TState* s = Initial();
    float p = 1.0f;
    while (s) {
        if (s->arcs.length == 0) break; // no arc to take: the walk ends here
        TArc* a = DrawArc(s);
        p *= a->p;
        if (words) words->Add(mbstring(Text(a->word)));
        if (annos) annos->Add(a->anno ? a->anno->word : mbstring());
        s = a->state;
    }
    return p;
}

// The open calls are an explicit stack: their depth follows the grammar.
double TFSG::RandomSentence(std::vector<std::string>& out)
{
    struct Call {
        TFSG* g;    // the caller, whose networks the walk returns to
        TState* to; // where it goes on after the call
    };
    std::vector<Call> calls; // innermost last
    TFSG* in = this;
    TState* s = Initial();
    double p = 1;
    for (int steps = 0;; steps++) {
        if (!s) {
            if (calls.empty()) return p;
            in = calls.back().g;
            s = calls.back().to;
            calls.pop_back();
            continue;
        }
        if (steps > kRandomMaxArcs) Error("random sentence longer than %d arcs", (int)kRandomMaxArcs);
        if (s->arcs.length == 0) Error("state %d has no arcs", s->id);
        TArc* a = DrawArc(s);
        p *= a->p;
        TWord* w = a->word;
        TCallee callee = CallOf(in, a);
        if (callee.start) {
            calls.push_back(Call{in, a->state});
            in = callee.g;
            s = callee.start;
            continue;
        }
        if (w->id != 0 && w->word.s) out.push_back(w->word.s);
        s = a->state;
    }
}

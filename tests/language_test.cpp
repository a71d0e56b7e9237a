// Language tests of the whole compile pipeline: grammars compiled in engine
// mode (null arcs eliminated, everything inlined) and in translation mode
// (null arcs kept, every rule an intern network) must accept exactly the
// sentences that a recogniser written from the notation's meaning accepts.
// Random grammars are generated as a small tree, printed as BNF text for the
// compiler, and recognised directly from the tree for the reference.
#include "trule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Sentence = std::vector<std::string>;

// ---- the notation's meaning, over a generated grammar tree ----

struct Alt;

struct Item {
    enum Kind { Word, Ref, Group } kind = Word;
    std::string word;      // Word: the text ("" is the empty word)
    int ref = 0;           // Ref: the rule index
    std::vector<Alt> alts; // Group
    bool braced = false;
    char op = 0; // 0, '?', '+' or '*'
};

struct Alt {
    std::vector<Item> items; // no items: an empty alternative, which is ignored
    int weight = 1;
    bool translated = false;
};

struct Grammar {
    std::vector<std::vector<Alt>> rules; // rule 0 is the root
};

std::string RuleName(int i)
{
    return i == 0 ? "<<g>>" : "<r" + std::to_string(i) + ">";
}

std::string AltsText(const std::vector<Alt>& alts);

std::string ItemText(const Item& it)
{
    std::string s;
    if (it.kind == Item::Word)
        s = it.word.empty() ? "\"\"" : it.word;
    else if (it.kind == Item::Ref)
        s = RuleName(it.ref);
    else
        s = (it.braced ? "{ " : "( ") + AltsText(it.alts) + (it.braced ? " }" : " )");
    if (it.op) s += it.op;
    return s;
}

std::string AltsText(const std::vector<Alt>& alts)
{
    std::string s;
    for (size_t i = 0; i < alts.size(); i++) {
        const Alt& a = alts[i];
        if (i) s += " | ";
        if (a.weight != 1) s += "+" + std::to_string(a.weight) + " ";
        for (size_t k = 0; k < a.items.size(); k++) s += (k ? " " : "") + ItemText(a.items[k]);
        if (a.translated) s += " -> t";
    }
    return s;
}

std::string Text(const Grammar& g)
{
    std::string s;
    for (size_t i = 0; i < g.rules.size(); i++) s += RuleName((int)i) + " = " + AltsText(g.rules[i]) + " .\n";
    return s;
}

// Sets of end positions of every way a part of the grammar matches from a
// start position.
class Reference {
public:
    Reference(const Grammar& g, const Sentence& s) : g_(g), s_(s) {}

    bool Accepts() { return Rule(0, 0).count((int)s_.size()) > 0; }

private:
    const Grammar& g_;
    const Sentence& s_;
    std::map<std::pair<int, int>, std::set<int>> memo_;

    std::set<int> Rule(int r, int pos)
    {
        auto key = std::make_pair(r, pos);
        auto it = memo_.find(key);
        if (it != memo_.end()) return it->second;
        memo_[key] = {}; // a cycle at one position adds nothing
        std::set<int> out = Alts(g_.rules[(size_t)r], pos);
        memo_[key] = out;
        return out;
    }

    std::set<int> Alts(const std::vector<Alt>& alts, int pos)
    {
        std::set<int> out;
        for (const Alt& a : alts) {
            if (a.items.empty()) continue;
            std::set<int> cur{pos};
            for (const Item& it : a.items) {
                std::set<int> next;
                for (int p : cur)
                    for (int q : WithOp(it, p)) next.insert(q);
                cur.swap(next);
            }
            out.insert(cur.begin(), cur.end());
        }
        return out;
    }

    std::set<int> Once(const Item& it, int pos)
    {
        if (it.kind == Item::Ref) return Rule(it.ref, pos);
        if (it.kind == Item::Group) return Alts(it.alts, pos);
        if (it.word.empty()) return {pos};
        if (pos < (int)s_.size() && s_[(size_t)pos] == it.word) return {pos + 1};
        return {};
    }

    std::set<int> WithOp(const Item& it, int pos)
    {
        std::set<int> out = Once(it, pos);
        if (it.op == '?' || it.op == '*') out.insert(pos);
        if (it.op == '+' || it.op == '*') {
            std::vector<int> todo(out.begin(), out.end());
            while (!todo.empty()) {
                int p = todo.back();
                todo.pop_back();
                for (int q : Once(it, p))
                    if (out.insert(q).second) todo.push_back(q);
            }
        }
        return out;
    }
};

// ---- the compiled FSG, simulated in memory ----

// A configuration is the stack of open networks: the return state of every
// open call (null: the caller ends too), then the current state. The empty
// stack means the main network has been left.
class Simulator {
public:
    explicit Simulator(TFSG* f) : f_(f) {}

    bool Accepts(const Sentence& s)
    {
        std::set<Config> cur = Closure({Config{f_->Initial()}});
        for (const std::string& w : s) {
            std::set<Config> next;
            for (const Config& c : cur) {
                if (c.empty()) continue;
                for (int j = 0; j < c.back()->arcs.length; j++) {
                    TArc* a = c.back()->arcs.elements[j];
                    if (a->word->kind != TWord::Word || Empty(a->word) || w != a->word->word.s) continue;
                    Config n = c;
                    n.back() = a->state;
                    next.insert(Leave(n));
                }
            }
            cur = Closure(next);
        }
        return cur.count(Config{}) > 0;
    }

private:
    using Config = std::vector<TState*>;
    TFSG* f_;
    static const size_t kMaxDepth = 64;

    static bool Empty(const TWord* w) { return !w->word.s || !*w->word.s; }

    static Config Leave(Config c)
    {
        while (!c.empty() && !c.back()) c.pop_back();
        return c;
    }

    TSubFSG* Intern(const TWord* w)
    {
        int k = 0xFFFF - w->id;
        if (k < 0 || k >= f_->intern_fsgs.length) {
            ADD_FAILURE() << "unresolved intern reference " << (w->word.s ? w->word.s : "") << " id " << w->id;
            return nullptr;
        }
        return f_->intern_fsgs.elements[k];
    }

    std::set<Config> Closure(const std::set<Config>& start)
    {
        std::set<Config> seen(start);
        std::vector<Config> todo(start.begin(), start.end());
        while (!todo.empty()) {
            Config c = todo.back();
            todo.pop_back();
            if (c.empty()) continue;
            TState* s = c.back();
            for (int j = 0; j < s->arcs.length; j++) {
                TArc* a = s->arcs.elements[j];
                Config n = c;
                if (a->word->kind == TWord::Intern) {
                    TSubFSG* sub = Intern(a->word);
                    if (!sub || c.size() >= kMaxDepth) continue;
                    n.back() = a->state;
                    n.push_back(sub->Initial());
                } else if (a->word->kind == TWord::Word && Empty(a->word)) {
                    n.back() = a->state;
                    n = Leave(n);
                } else {
                    continue;
                }
                if (seen.insert(n).second) todo.push_back(n);
            }
        }
        return seen;
    }
};

// ---- compiling ----

struct Mode {
    const char* name;
    int use_null_arcs, annotations, intern_all;
};
const Mode kEngine{"engine", 0, 0, 0};
const Mode kTranslation{"translation", 1, 1, 1};

// The grammars of one text with the FSG of each root compiled and
// normalised in turn, as a compile run does.
struct Compiled {
    TArray<TGrammar*> grammars;
    std::vector<TFSG*> fsgs;

    Compiled(const std::string& text, const Mode& m)
    {
        TBNFStream s(text.c_str(), (int)text.size());
        s.Annotations(m.annotations);
        s.Compile(grammars);
        for (int i = 0; i < grammars.length; i++) {
            TFSG* f = grammars.elements[i]->Compile(m.use_null_arcs, m.annotations, i == grammars.length - 1,
                                                    m.intern_all, TSubFSG::EqArcProb);
            f->AddRef();
            fsgs.push_back(f);
            f->Normalize();
        }
    }
    ~Compiled()
    {
        for (TFSG* f : fsgs) f->DelRef();
        grammars.DeleteElements();
    }
};

void AllSentences(const std::vector<std::string>& vocab, size_t max_len, std::vector<Sentence>& out)
{
    std::vector<Sentence> level{Sentence{}};
    out = level;
    for (size_t len = 1; len <= max_len; len++) {
        std::vector<Sentence> next;
        for (const Sentence& s : level)
            for (const std::string& w : vocab) {
                Sentence t = s;
                t.push_back(w);
                next.push_back(t);
            }
        out.insert(out.end(), next.begin(), next.end());
        level.swap(next);
    }
}

std::string Join(const Sentence& s)
{
    std::string r;
    for (const std::string& w : s) r += (r.empty() ? "" : " ") + w;
    return "[" + r + "]";
}

// ---- fixed grammars ----

struct FixedCase {
    const char* grammar;
    std::vector<const char*> accepted;
    std::vector<const char*> rejected;
};

Sentence Words(const char* text)
{
    Sentence s;
    std::string w;
    for (const char* p = text;; p++) {
        if (*p == ' ' || *p == 0) {
            if (!w.empty()) s.push_back(w);
            w.clear();
            if (!*p) break;
        } else {
            w += *p;
        }
    }
    return s;
}

TEST(Language, FixedGrammarsInBothModes)
{
    const FixedCase cases[] = {
        {"<<g>> = (x* y)? z .", {"z", "y z", "x y z", "x x x y z"}, {"x z", "x", "y", "", "x x z", "z z"}},
        {"<<g>> = <r> | q .\n<r> = x <r> | y .", {"q", "y", "x y", "x x x y"}, {"x q", "x", "", "y q", "q y"}},
        {"<<g>> = a { b | c }? d -> t {1} .", {"a d", "a b d", "a c d"}, {"a b c d", "a"}},
        {"<<g>> = x <<g>> | y .", {"y", "x y", "x x y"}, {"x", "", "y x"}},
        {"<<g>> = <a> .\n<a> = p <b> | q .\n<b> = r <a> | s .", {"q", "p s", "p r q", "p r p s"}, {"p", "p r", "r q"}},
        {"<<g>> = \"\" | a+ b* .", {"", "a", "a a b", "a b b"}, {"b", "a b a"}},
        {"<<g>> = +3 a | a b | | ( | c ) .", {"a", "a b", "c"}, {"", "b", "c c"}},
        {"<<g>> = (a | b)* (c)+ .", {"c", "a b c c", "b b c"}, {"", "a", "c a"}},
    };
    for (const Mode* m : {&kEngine, &kTranslation}) {
        for (const FixedCase& c : cases) {
            Compiled comp(c.grammar, *m);
            Simulator sim(comp.fsgs[0]);
            for (const char* s : c.accepted)
                EXPECT_TRUE(sim.Accepts(Words(s))) << m->name << " mode, " << c.grammar << "\nshould accept [" << s
                                                   << "]";
            for (const char* s : c.rejected)
                EXPECT_FALSE(sim.Accepts(Words(s))) << m->name << " mode, " << c.grammar
                                                    << "\nshould reject [" << s << "]";
        }
    }
}

// A later root that an earlier root of the same run used as a sub-grammar
// still accepts its own language.
TEST(Language, RootUsedByAnEarlierRoot)
{
    const char* text = "<<a>> = x <<b>> | w .\n<<b>> = y <<b>> | z <c> .\n<c> = v | \"\" .";
    for (const Mode* m : {&kEngine, &kTranslation}) {
        Compiled comp(text, *m);
        ASSERT_EQ(comp.fsgs.size(), 2u);
        Simulator a(comp.fsgs[0]), b(comp.fsgs[1]);
        for (const char* s : {"x z", "x y y z v", "w"}) EXPECT_TRUE(a.Accepts(Words(s))) << m->name << " " << s;
        for (const char* s : {"z", "y z v", "z v", "y y z"}) EXPECT_TRUE(b.Accepts(Words(s))) << m->name << " " << s;
        for (const char* s : {"x z", "w", "y", ""}) EXPECT_FALSE(b.Accepts(Words(s))) << m->name << " " << s;
    }
}

// ---- random grammars ----

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    Grammar Make()
    {
        Grammar g;
        int n = Pick(1, 4);
        g.rules.resize((size_t)n);
        g_ = &g;
        // Last rule first, so that a reference can see what it refers to.
        for (int i = n - 1; i >= 0; i--) {
            int nalts = Pick(1, 3);
            for (int k = 0; k < nalts; k++) g.rules[(size_t)i].push_back(MakeAlt(i, n, 0, true));
        }
        return g;
    }

private:
    std::mt19937 rng_;
    const Grammar* g_ = nullptr;

    // Whether the alternatives hold a repetition (an operator + or *, or a
    // recursion). Repeating such a part again is kept out of the grammars:
    // nested loops over parts that may match nothing make determinisation
    // take minutes for a handful of rules, without testing anything new.
    bool Repeats(const std::vector<Alt>& alts, int self) const
    {
        for (const Alt& a : alts)
            for (const Item& it : a.items) {
                if (it.op == '+' || it.op == '*') return true;
                if (it.kind == Item::Group && Repeats(it.alts, self)) return true;
                if (it.kind == Item::Ref && (it.ref == self || Repeats(g_->rules[(size_t)it.ref], it.ref)))
                    return true;
            }
        return false;
    }

    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }

    std::string Word()
    {
        static const char* const vocab[] = {"a", "b", "c"};
        return vocab[Pick(0, 2)];
    }

    Alt MakeAlt(int rule, int nrules, int depth, bool top)
    {
        Alt a;
        int nitems = Chance(5) ? 0 : Pick(1, depth ? 2 : 3);
        bool has_group = false;
        for (int k = 0; k < nitems; k++) {
            Item it;
            int r = Pick(1, 100);
            if (r <= 20 && rule + 1 < nrules) {
                it.kind = Item::Ref;
                it.ref = Pick(rule + 1, nrules - 1);
            } else if (r <= 35 && depth < 2) {
                it.kind = Item::Group;
                it.braced = Chance(30);
                int nalts = Pick(1, 2);
                for (int j = 0; j < nalts; j++) it.alts.push_back(MakeAlt(rule, nrules, depth + 1, false));
                has_group = true;
            } else {
                it.word = Chance(5) ? "" : Word();
            }
            int o = Pick(1, 100);
            it.op = o <= 76 ? 0 : o <= 84 ? '?' : o <= 92 ? '+' : '*';
            if ((it.op == '+' || it.op == '*') && it.kind != Item::Word &&
                Repeats(it.kind == Item::Group ? it.alts : g_->rules[(size_t)it.ref],
                        it.kind == Item::Group ? rule : it.ref))
                it.op = '?';
            a.items.push_back(it);
        }
        // Tail recursion: a plain word first, so that every turn consumes input.
        if (top && Chance(20)) {
            Item first;
            first.word = Word();
            a.items.insert(a.items.begin(), first);
            Item self;
            self.kind = Item::Ref;
            self.ref = rule;
            a.items.push_back(self);
        }
        if (Chance(25)) a.weight = Pick(2, 4);
        a.translated = !has_group && !a.items.empty() && Chance(20);
        return a;
    }
};

TEST(Language, RandomGrammarsAcceptWhatTheNotationMeans)
{
    std::vector<Sentence> sentences;
    AllSentences({"a", "b", "c"}, 4, sentences);
    int failures = 0;
    for (unsigned seed = 1; seed <= 300 && failures < 5; seed++) {
        Generator gen(seed);
        Grammar g = gen.Make();
        std::string text = Text(g);
        for (const Mode* m : {&kEngine, &kTranslation}) {
            try {
                Compiled comp(text, *m);
                Simulator sim(comp.fsgs[0]);
                for (const Sentence& s : sentences) {
                    Reference ref(g, s);
                    bool want = ref.Accepts();
                    if (sim.Accepts(s) != want) {
                        ADD_FAILURE() << m->name << " mode, seed " << seed << ":\n"
                                      << text << (want ? "should accept " : "should reject ") << Join(s);
                        failures++;
                        break;
                    }
                }
            } catch (char* msg) {
                ADD_FAILURE() << m->name << " mode, seed " << seed << ": " << msg << "\n" << text;
                failures++;
            }
        }
    }
}

} // namespace

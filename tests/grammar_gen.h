// grammar_gen.h: random grammars for the language and matcher tests. A
// grammar is a small tree of rules, alternatives and items, printed as BNF
// text for the compiler and recognised from the tree by Meaning; Compiled
// runs a text through the compile pipeline in one of the two modes.
#ifndef KSBNFC_TESTS_GRAMMAR_GEN_H
#define KSBNFC_TESTS_GRAMMAR_GEN_H

#include "trule.h"

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace grammar_gen {

struct Alt;

struct Item {
    std::string word;      // a word ("" is the empty word) unless ref or alts is set
    int ref = -1;          // a reference to this rule
    std::vector<Alt> alts; // a group
    bool braced = false;
    char op = 0; // 0, '?', '+' or '*'
};

struct Alt {
    std::vector<Item> items; // none: an empty alternative, which is ignored
    int weight = 1;
    bool translated = false;
};

using Grammar = std::vector<std::vector<Alt>>; // rule 0 is the root

inline std::string Name(int i)
{
    return i ? "<r" + std::to_string(i) + ">" : "<<g>>";
}

inline std::string Text(const std::vector<Alt>& alts)
{
    std::string s;
    for (const Alt& a : alts) {
        s += &a == &alts[0] ? "" : "| ";
        if (a.weight != 1) s += "+" + std::to_string(a.weight) + " ";
        for (const Item& it : a.items) {
            if (it.ref >= 0)
                s += Name(it.ref);
            else if (!it.alts.empty())
                s += (it.braced ? "{ " : "( ") + Text(it.alts) + (it.braced ? "}" : ")");
            else
                s += it.word.empty() ? "\"\"" : it.word;
            s += std::string(it.op ? 1 : 0, it.op) + " ";
        }
        if (a.translated) s += "-> t ";
    }
    return s;
}

// The BNF text of the whole grammar.
inline std::string Text(const Grammar& g)
{
    std::string text;
    for (size_t i = 0; i < g.size(); i++) text += Name((int)i) + " = " + Text(g[i]) + ".\n";
    return text;
}

// Every sentence of up to four words over the generator's words a, b and c.
inline std::vector<std::vector<std::string>> Sentences()
{
    std::vector<std::vector<std::string>> out{{}};
    for (size_t i = 0; out[i].size() < 4; i++)
        for (const char* w : {"a", "b", "c"}) {
            out.push_back(out[i]);
            out.back().push_back(w);
        }
    return out;
}

struct Mode {
    const char* name;
    int use_null_arcs, annotations, intern_all;
};
const Mode kModes[] = {{"engine", 0, 0, 0}, {"translation", 1, 1, 1}};

// The grammars of one parsed text; they own the dictionary.
struct Parsed {
    TArray<TGrammar*> grammars;
    explicit Parsed(const std::string& text, int annotations = 1)
    {
        TBNFStream s(text.c_str(), (int)text.size());
        s.Annotations(annotations);
        s.Compile(grammars);
    }
    ~Parsed() { grammars.DeleteElements(); }
    TDictionary* dict() { return grammars.elements[0]->dictionary; }
    TRuleList* list(const char* name)
    {
        TDictionaryEntry* e = dict()->Find(name);
        return e ? e->value : nullptr;
    }
};

// The grammars of one text with the FSG of each root compiled and
// normalised in turn, as a compile run does.
struct Compiled : Parsed {
    std::vector<TFSG*> fsgs;

    Compiled(const std::string& text, const Mode& m) : Parsed(text, m.annotations)
    {
        for (int i = 0; i < grammars.length; i++) {
            fsgs.push_back(grammars[i]->Compile(m.use_null_arcs, m.annotations, i == grammars.length - 1,
                                                m.intern_all, TSubFSG::EqArcProb));
            fsgs.back()->AddRef();
            fsgs.back()->Normalize();
        }
    }
    ~Compiled()
    {
        for (TFSG* f : fsgs) f->DelRef();
    }
};

// Whether a sentence is in the language of a grammar, recognised from the
// tree by what the notation means: the sets of end positions of every way a
// part of the grammar matches the sentence from a start position.
class Meaning {
public:
    using Sentence = std::vector<std::string>;
    Meaning(const Grammar& g, const Sentence& s) : g_(g), s_(s) {}
    bool Accepts() { return Rule(0, 0).count((int)s_.size()) > 0; }

private:
    const Grammar& g_;
    const Sentence& s_;
    std::map<std::pair<int, int>, std::set<int>> memo_;

    std::set<int> Rule(int r, int pos)
    {
        auto it = memo_.find({r, pos});
        if (it != memo_.end()) return it->second;
        memo_[{r, pos}] = {}; // a cycle at one position adds nothing
        return memo_[{r, pos}] = Alts(g_[(size_t)r], pos);
    }

    std::set<int> Alts(const std::vector<Alt>& alts, int pos)
    {
        std::set<int> out;
        for (const Alt& a : alts) {
            std::set<int> cur{pos};
            for (const Item& it : a.items) {
                std::set<int> next;
                for (int p : cur) {
                    std::set<int> ends = Once(it, p);
                    if (it.op == '?' || it.op == '*') ends.insert(p);
                    std::vector<int> todo(ends.begin(), ends.end());
                    while ((it.op == '+' || it.op == '*') && !todo.empty()) {
                        int q = todo.back();
                        todo.pop_back();
                        for (int e : Once(it, q))
                            if (ends.insert(e).second) todo.push_back(e);
                    }
                    next.insert(ends.begin(), ends.end());
                }
                cur.swap(next);
            }
            if (!a.items.empty()) out.insert(cur.begin(), cur.end());
        }
        return out;
    }

    std::set<int> Once(const Item& it, int pos)
    {
        if (it.ref >= 0) return Rule(it.ref, pos);
        if (!it.alts.empty()) return Alts(it.alts, pos);
        if (it.word.empty()) return {pos};
        if (pos < (int)s_.size() && s_[(size_t)pos] == it.word) return {pos + 1};
        return {};
    }
};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    Grammar Make()
    {
        g_.assign((size_t)Pick(1, 4), {});
        // Last rule first, so that a reference can see what it refers to.
        for (int i = (int)g_.size() - 1; i >= 0; i--)
            for (int k = Pick(1, 3); k > 0; k--) g_[(size_t)i].push_back(MakeAlt(i, 0, true));
        return g_;
    }

private:
    std::mt19937 rng_;
    Grammar g_;

    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }
    std::string Word() { return std::string(1, "abc"[Pick(0, 2)]); }

    // Whether the alternatives hold a repetition (an operator + or *, or a
    // recursion). Repeating such a part again is kept out of the grammars:
    // nested loops over parts that may match nothing make determinisation
    // take minutes for a handful of rules, without testing anything new.
    bool Repeats(const std::vector<Alt>& alts, int self) const
    {
        for (const Alt& a : alts)
            for (const Item& it : a.items)
                if (it.op == '+' || it.op == '*' || Repeats(it.alts, self) || it.ref == self ||
                    (it.ref >= 0 && Repeats(g_[(size_t)it.ref], it.ref)))
                    return true;
        return false;
    }

    Alt MakeAlt(int rule, int depth, bool top)
    {
        Alt a;
        int nitems = Chance(5) ? 0 : Pick(1, depth ? 2 : 3);
        bool has_group = false;
        for (int k = 0; k < nitems; k++) {
            Item it;
            int r = Pick(1, 100);
            if (r <= 20 && rule + 1 < (int)g_.size()) {
                it.ref = Pick(rule + 1, (int)g_.size() - 1);
            } else if (r <= 35 && depth < 2) {
                it.braced = Chance(30);
                for (int j = Pick(1, 2); j > 0; j--) it.alts.push_back(MakeAlt(rule, depth + 1, false));
                has_group = true;
            } else {
                it.word = Chance(5) ? "" : Word();
            }
            int o = Pick(1, 100);
            it.op = o <= 76 ? 0 : o <= 84 ? '?' : o <= 92 ? '+' : '*';
            if ((it.op == '+' || it.op == '*') &&
                (it.ref >= 0 ? Repeats(g_[(size_t)it.ref], it.ref) : Repeats(it.alts, rule)))
                it.op = '?';
            a.items.push_back(it);
        }
        // Tail recursion: a plain word first, so that every turn consumes input.
        if (top && Chance(20)) {
            a.items.insert(a.items.begin(), Item());
            a.items.front().word = Word();
            a.items.push_back(Item());
            a.items.back().ref = rule;
        }
        if (Chance(25)) a.weight = Pick(2, 4);
        a.translated = !has_group && !a.items.empty() && Chance(20);
        return a;
    }
};

} // namespace grammar_gen

#endif // KSBNFC_TESTS_GRAMMAR_GEN_H

// Language tests of the whole compile pipeline: grammars compiled in engine
// mode (null arcs eliminated, everything inlined) and in translation mode
// (null arcs kept, every rule an intern network) must accept exactly the
// sentences that a recogniser written from the notation's meaning accepts.
// Random grammars are generated as a small tree, printed as BNF text for the
// compiler, and recognised directly from the tree for the reference.
#include "grammar_gen.h"
#include "graph_dump.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

using namespace grammar_gen;
using graph_dump::Accepts;
using graph_dump::Words;
using Sentence = std::vector<std::string>;

// The sets of end positions of every way a part of the grammar matches the
// sentence from a start position.
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

TEST(Language, FixedGrammarsInBothModes)
{
    const struct {
        const char* grammar;
        std::vector<const char*> accepted, rejected;
    } cases[] = {
        {"<<g>> = (x* y)? z .", {"z", "y z", "x y z", "x x x y z"}, {"x z", "x", "y", "", "x x z", "z z"}},
        {"<<g>> = <r> | q .\n<r> = x <r> | y .", {"q", "y", "x y", "x x x y"}, {"x q", "x", "", "y q", "q y"}},
        {"<<g>> = a { b | c }? d -> t {1} .", {"a d", "a b d", "a c d"}, {"a b c d", "a"}},
        {"<<g>> = x <<g>> | y .", {"y", "x y", "x x y"}, {"x", "", "y x"}},
        {"<<g>> = <a> .\n<a> = p <b> | q .\n<b> = r <a> | s .", {"q", "p s", "p r q", "p r p s"}, {"p", "p r", "r q"}},
        {"<<g>> = \"\" | a+ b* .", {"", "a", "a a b", "a b b"}, {"b", "a b a"}},
        {"<<g>> = +3 a | a b | | ( | c ) .", {"a", "a b", "c"}, {"", "b", "c c"}},
        {"<<g>> = (a | b)* (c)+ .", {"c", "a b c c", "b b c"}, {"", "a", "c a"}},
    };
    for (const Mode& m : kModes)
        for (const auto& c : cases) {
            Compiled comp(c.grammar, m);
            for (const char* s : c.accepted)
                EXPECT_TRUE(Accepts(comp.fsgs[0], s)) << m.name << ": " << c.grammar << "\nshould accept [" << s << "]";
            for (const char* s : c.rejected)
                EXPECT_FALSE(Accepts(comp.fsgs[0], s)) << m.name << ": " << c.grammar << "\nshould reject [" << s << "]";
        }
}

// Every word of every network of f must be one of f's own table entries:
// the writer stores the ids those entries get from f's normalisation.
void ExpectOwnWords(TFSG* f, TSubFSG* n)
{
    if (n == f)
        for (int i = 0; i < f->intern_fsgs.length; i++) ExpectOwnWords(f, f->intern_fsgs[i]);
    auto owned = [](TWordList& l, TWord* w) { return std::count(l.elements, l.elements + l.length, w) > 0; };
    for (int i = 0; i < n->states.length; i++) {
        TState* s = n->states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            EXPECT_TRUE(owned(f->words, a->word) || owned(f->externs, a->word) || owned(f->with, a->word) ||
                        owned(f->without, a->word))
                << n->name.s << " word " << a->word->word.s;
            EXPECT_TRUE(owned(f->annos, a->anno)) << n->name.s << " anno " << (a->anno->word.s ? a->anno->word.s : "");
        }
    }
}

// A later root that an earlier root of the same run used as a sub-grammar
// still accepts its own language, in a network built from its own tables.
TEST(Language, RootUsedByAnEarlierRoot)
{
    for (const Mode& m : kModes) {
        Compiled comp("<<a>> = x <<b>> | w .\n<<b>> = y <<b>> | z <c> .\n<c> = v | \"\" .", m);
        ASSERT_EQ(comp.fsgs.size(), 2u);
        for (const char* s : {"x z", "x y y z v", "w"}) EXPECT_TRUE(Accepts(comp.fsgs[0], s)) << m.name << " " << s;
        for (const char* s : {"z", "y z v", "z v", "y y z"}) EXPECT_TRUE(Accepts(comp.fsgs[1], s)) << m.name << " " << s;
        for (const char* s : {"x z", "w", "y", ""}) EXPECT_FALSE(Accepts(comp.fsgs[1], s)) << m.name << " " << s;
        for (TFSG* f : comp.fsgs) ExpectOwnWords(f, f);
    }
}

TEST(Language, RandomGrammarsAcceptWhatTheNotationMeans)
{
    const std::vector<Sentence> sentences = Sentences();
    int failures = 0;
    for (unsigned seed = 1; seed <= 300 && failures < 5; seed++) {
        Grammar g = Generator(seed).Make();
        std::string text = Text(g);
        for (const Mode& m : kModes) {
            std::string err = graph_dump::Thrown([&] {
                Compiled comp(text, m);
                for (const Sentence& s : sentences) {
                    bool want = Reference(g, s).Accepts();
                    if (Accepts(comp.fsgs[0], s) != want) {
                        std::string joined;
                        for (const std::string& w : s) joined += " " + w;
                        ADD_FAILURE() << m.name << " mode, seed " << seed << ":\n"
                                      << text << (want ? "should accept [" : "should reject [") << joined << " ]";
                        failures++;
                        break;
                    }
                }
            });
            if (err != "(no error)") {
                ADD_FAILURE() << m.name << " mode, seed " << seed << ": " << err << "\n" << text;
                failures++;
            }
        }
    }
}

} // namespace

// Language tests of the whole compile pipeline: grammars compiled in engine
// mode (null arcs eliminated, everything inlined) and in translation mode
// (null arcs kept, every rule an intern network) accept exactly the
// sentences they should. Random grammars are checked against the notation's
// meaning, through the file and the matcher, in match_test.
#include "grammar_gen.h"
#include "graph_dump.h"

#include <algorithm>

namespace {

using namespace grammar_gen;
using graph_dump::Accepts;

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
        // Tail recursion back through the root, from rules that translation
        // mode keeps as intern networks.
        {"<<g>> = a | <s> .\n<s> = b <<g>> .", {"a", "b a", "b b a"}, {"b", "", "a b"}},
        {"<<g>> = a | b <s> .\n<s> = c | d <<g>> .", {"a", "b c", "b d a", "b d b d b c"}, {"b d", "b a", "d a"}},
        {"<<g>> = x <s> | y .\n<s> = <t> | z <<g>> .\n<t> = w <<g>> .", {"y", "x w y", "x z x w y"}, {"x", "x w", "w y"}},
    };
    for (const Mode& m : kModes)
        for (const auto& c : cases) {
            Compiled comp(c.grammar, m);
            // The graph as built, and as the file gives it back.
            std::string bytes;
            comp.fsgs[0]->WriteBytes(bytes);
            TFSG read(mbstring("g"), TSubFSG::EqNorm);
            read.ReadBytes(bytes.data(), bytes.size(), 0);
            for (TFSG* g : {comp.fsgs[0], &read}) {
                for (const char* s : c.accepted)
                    EXPECT_TRUE(Accepts(g, s)) << m.name << ": " << c.grammar << "\nshould accept [" << s << "]";
                for (const char* s : c.rejected)
                    EXPECT_FALSE(Accepts(g, s)) << m.name << ": " << c.grammar << "\nshould reject [" << s << "]";
            }
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

} // namespace

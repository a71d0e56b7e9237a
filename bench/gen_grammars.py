#!/usr/bin/env python3
"""Writes a deterministic set of grammars for byte-for-byte comparisons of
compiler output (the generated grammars of the golden corpus,
tests/golden/grammars, come from it): random grammars (alternatives, groups, ?, +, *, nested
rules, tail recursion, weights, annotations or translations) and scaled-down
copies of the benchmark grammars. bench/compile_vs_openfst.py imports the
shape generators (word, flat, phrase_list, phrases_rule, first_names,
last_names, chain) to build its grammars at full size.

    gen_grammars.py DIR [COUNT] [--big]
"""
import random
import sys


def word(i):
    cons = "bdfgklmnprst"
    vows = "aeiou"
    w = ""
    while True:
        syl = i % 60
        w += cons[syl // 5] + vows[syl % 5]
        i //= 60
        if i == 0:
            return w


def random_grammar(seed):
    r = random.Random(seed)
    vocab = [word(i) for i in range(r.choice([3, 5, 8, 20]))]
    nrules = r.randint(1, 5)
    style = r.choice(["plain", "anno", "trans"])
    names = ["<r%d>" % i for i in range(nrules)]
    out = []

    def item(depth, idx, last):
        k = r.random()
        if k < 0.5 or depth > 1:
            w = r.choice(vocab)
            if style == "anno" and r.random() < 0.4:
                w += ":" + r.choice(["A", "B", "7", '"x y"'])
            return w
        if k < 0.7 and idx + 1 < nrules:
            return r.choice(names[idx + 1:])
        if k < 0.75 and last and depth == 0 and idx > 0:
            return names[idx]  # tail recursion
        if k < 0.85 or style != "trans":
            return "(" + alts(depth + 1, idx) + ")"
        return "{" + alts(depth + 1, idx) + "}"

    def alt(depth, idx):
        s = []
        if r.random() < 0.2:
            s.append("+%g" % r.choice([0.5, 2, 3, 0.25]))
        n = r.randint(0 if r.random() < 0.05 else 1, 3 if depth == 0 else 2)
        for j in range(n):
            it = item(depth, idx, j == n - 1)
            if r.random() < 0.25 and not it.startswith("<r%d>" % idx):
                it += r.choice("?+*")
            s.append(it)
        if not s or (len(s) == 1 and s[0].startswith("+")):
            s.append('""')
        if style == "trans" and r.random() < 0.4:
            s.append("-> " + r.choice(["x", "{1}", "$1 y", "(a.b) z", "{}"]))
        return " ".join(s)

    def alts(depth, idx):
        return " | ".join(alt(depth, idx) for _ in range(r.randint(1, 4 if depth == 0 else 3)))

    for i, n in enumerate(names):
        lhs = "<" + n + ">" if i == 0 else n
        out.append("%s = %s ." % (lhs, alts(0, i)))
    return "\n".join(out) + "\n"


def flat(n):
    return "<<words>> =" + "".join((" " if i == 0 else "\n | ") + word(i) for i in range(n)) + " .\n"


def phrase_list(n, vocab, seed=12345):
    """n phrases of 2 to 5 words drawn from the first vocab words."""
    r = random.Random(seed)
    return [[word(r.randrange(vocab)) for _ in range(r.randint(2, 5))] for _ in range(n)]


def phrases_rule(lists):
    return "<<phrases>> = " + "\n | ".join(" ".join(p) for p in lists) + " .\n"


def phrases(n, vocab, seed=12345):
    return phrases_rule(phrase_list(n, vocab, seed))


def first_names(n):
    return [word(i) + "o" for i in range(n)]


def last_names(n):
    return [word(i) + "son" for i in range(n)]


def names(first, last):
    return ("<<name>> = <first> <last> .\n<first> = " + " | ".join(first_names(first))
            + " .\n<last> = " + " | ".join(last_names(last)) + " .\n")


def chain(n):
    g = []
    for i in range(n):
        lhs = "<<r0>>" if i == 0 else "<r%d>" % i
        tail = " <r%d>" % (i + 1) if i + 1 < n else " end"
        g.append("%s = %s?%s ." % (lhs, word(i), tail))
    return "\n".join(g) + "\n"


NUMBERS = """<<number>> = zero | <below1m> | one million .
<below1m> = <below1000> | <below1000> thousand ( and? <below1000> )? .
<below1000> = <below100> | <unit> hundred ( and? <below100> )? .
<below100> = <unit> | <teen> | <ten> <unit>? .
<unit> = one | two | three | four | five | six | seven | eight | nine .
<teen> = ten | eleven | twelve | thirteen | fourteen | fifteen | sixteen
       | seventeen | eighteen | nineteen .
<ten> = twenty | thirty | forty | fifty | sixty | seventy | eighty | ninety .
"""


def main():
    d = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 200
    big = "--big" in sys.argv
    files = {
        "flat300.bnf": flat(300),
        "phrases400.bnf": phrases(400, 60),
        "phrases_dup.bnf": phrases(300, 8, 7),
        "names.bnf": names(40, 30),
        "numbers.bnf": NUMBERS,
        "chain40.bnf": chain(40),
    }
    if big:
        files.update({
            "flat65k.bnf": flat(65000),
            "flat100k.bnf": flat(100000),
            "phrases50k.bnf": phrases(50000, 2000),
            "names2k.bnf": names(2000, 2000),
            "chain300.bnf": chain(300),
        })
    for i in range(count):
        files["rand%03d.bnf" % i] = random_grammar(i)
    for name, text in files.items():
        with open(d + "/" + name, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()

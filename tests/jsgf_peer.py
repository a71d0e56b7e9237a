#!/usr/bin/env python3
# jsgf_peer.py: helpers of jsgf_peer_test.sh. "random" writes random JSGF
# grammars; "symbols" writes one symbol table for several acceptor texts.
import random
import re
import sys

def symbols(paths):
    words = {"<eps>"}
    for p in paths:
        for line in open(p, encoding="latin-1"):
            f = line.split()
            if len(f) >= 3:
                words.add(f[2])
    print("<eps> 0")
    for i, w in enumerate(sorted(words - {"<eps>"}), 1):
        print("%s %d" % (w, i))


def expansion(r, depth, rules, me):
    """A random expansion; references go only to later rules, or to the rule
    itself at the very end (right recursion), so the grammar is regular.
    The peer's converter loops a repeated item back to the state it starts
    from, which is wrong when that state also begins other alternatives
    (it reads "c* d | e" as "c* (d | e)"), so * and + only follow a word;
    and it loses the end of a sequence that ends in <NULL> ("c <NULL> | a"
    becomes "a"), so <NULL> only begins a sequence. Its right recursion
    jumps back to the state where the rule was entered, which may begin other
    alternatives too, so only the top rule recurses."""
    def item(d, after_word, first):
        k = r.random()
        if d <= 0 or k < 0.45:
            x = r.choice("abcdef")
        elif k < 0.6 and rules:
            x = "<%s>" % r.choice(rules)
        elif k < 0.7 and first:
            x = "<NULL>"
        elif k < 0.8:
            x = "(%s)" % alts(d - 1)
        else:
            x = "[%s]" % alts(d - 1)
        k = r.random()
        if after_word and k < 0.15:
            x += "*"
        elif after_word and k < 0.3:
            x += "+"
        if r.random() < 0.2:
            x += " {t%d}" % r.randrange(5)
        return x

    def seq(d):
        items = []
        for _ in range(r.randint(1, 3)):
            after_word = bool(items) and len(items[-1]) == 1
            items.append(item(d, after_word, not items))
        return " ".join(items)

    def alts(d, recursive=False):
        n = r.randint(1, 3)
        weights = r.random() < 0.2
        seqs = [seq(d) for _ in range(n)]
        if recursive:
            seqs.append("x <%s>" % me)
        return " | ".join(("/%d/ " % r.randint(1, 9) if weights else "") + s for s in seqs)

    return alts(depth, me == "r0" and r.random() < 0.3)


def random_grammars(count, seed, outdir):
    r = random.Random(seed)
    for g in range(count):
        names = ["r%d" % i for i in range(r.randint(1, 4))]
        lines = ["#JSGF V1.0;", "grammar g%d;" % g]
        for i, n in enumerate(names):
            pub = "public " if i == 0 else ""
            lines.append("%s<%s> = %s;" % (pub, n, expansion(r, 2, names[i + 1:], n)))
        with open("%s/random%02d.gram" % (outdir, g), "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    if sys.argv[1] == "symbols":
        symbols(sys.argv[2:])
    elif sys.argv[1] == "random":
        random_grammars(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4])

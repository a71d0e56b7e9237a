# random_grammar.awk: prints a random BNF grammar for the round-trip tests:
# a root and a few rules, each calling only rules after it (no recursion),
# with alternatives, groups, the operators ? * + and translations.
#   awk -v seed=N -f random_grammar.awk
function word() { return vocab[int(rand() * nv) + 1] }
function item(r, depth,   x, k, op) {
    k = rand()
    if (k < 0.25 && r < nrules) x = "<r" (r + 1 + int(rand() * (nrules - r))) ">"
    else if (k < 0.35 && depth < 2) x = "( " alts(r, depth + 1) " )"
    else x = word()
    op = rand()
    if (op < 0.12) x = x "?"
    else if (op < 0.18) x = x "*"
    else if (op < 0.24) x = x "+"
    return x
}
function seq(r, depth,   n, i, s) {
    n = 1 + int(rand() * 3)
    s = item(r, depth)
    for (i = 1; i < n; i++) s = s " " item(r, depth)
    return s
}
function alts(r, depth,   n, i, s) {
    n = 1 + int(rand() * 3)
    s = seq(r, depth)
    for (i = 1; i < n; i++) s = s " | " seq(r, depth)
    return s
}
BEGIN {
    srand(seed)
    nv = split("go stop left right one two three red green blue big small the a", vocab, " ")
    nrules = 2 + int(rand() * 3)
    print "<<root>> = " alts(0, 0) " | " word() " -> w" int(rand() * 9) " ."
    for (r = 1; r <= nrules; r++) print "<r" r "> = " alts(r, 0) " ."
}

#!/bin/bash
# End-to-end test of "ksfsg export" against the peers' own tools: random
# grammars compiled in both modes and exported as acceptors accept the same
# language (fstequivalent), the engine acceptor's path weights are the run
# time's probabilities, the recogniser loads a sphinx export and decodes a
# shipped recording with it, Graphviz renders the drawings; errors name
# what they can't resolve. Parts whose peer tool is missing are skipped.
#   export_tool_test.sh path/to/ksfsg path/to/ksbnfc path/to/source-dir
set -uo pipefail
usage="usage: export_tool_test.sh KSFSG KSBNFC SOURCE_DIR"
ksfsg=${1:?$usage} ksbnfc=${2:?$usage} src=${3:?$usage}
tool=$ksfsg
. "$(dirname "$0")/lib.sh"
skip() { printf 'SKIP: %s\n' "$*"; }
export LC_ALL=C

# Acceptor text and symbols -> a minimal deterministic unweighted FST.
# Both builds are compiled with the union of their symbol tables.
language() { # TXT SYMS OUT
    fstcompile --acceptor --isymbols="$2" --keep_isymbols=false "$1" |
        fstmap --map_type=rmweight | fstrmepsilon | fstdeterminize | fstminimize >"$3"
}

if have fstcompile && have fstequivalent; then
    rounds=${KSBNFC_EXPORT_ROUNDS:-20}
    for seed in $(seq 1 "$rounds"); do
        g=$work/r$seed
        mkdir -p "$g"
        awk -v seed="$seed" -f "$src/tests/random_grammar.awk" >"$g/r.bnf"
        if ! "$ksbnfc" -en "$g/r.bnf" -d "$g" 2>"$g/err" || ! "$ksbnfc" -tr "$g/r.bnf" -d "$g" 2>>"$g/err"; then
            fail "seed $seed: grammar does not compile: $(cat "$g/err")\n$(cat "$g/r.bnf")"
            continue
        fi
        for m in fsg fst; do
            "$ksfsg" export --format openfst "$g/root.$m" -o "$g/$m.txt" --symbols "$g/$m.syms" ||
                fail "seed $seed: export of root.$m failed"
        done
        cut -d' ' -f1 "$g/fsg.syms" "$g/fst.syms" | grep -v '^<eps>$' | sort -u |
            awk 'BEGIN { print "<eps> 0" } { print $1, NR }' >"$g/all.syms"
        language "$g/fsg.txt" "$g/all.syms" "$g/fsg.min" && language "$g/fst.txt" "$g/all.syms" "$g/fst.min" &&
            fstequivalent "$g/fsg.min" "$g/fst.min" ||
            fail "seed $seed: engine and translation exports accept different languages\n$(cat "$g/r.bnf")"

        # Weights: a random sentence's best path costs -ln p of the run time.
        fstcompile --acceptor --isymbols="$g/all.syms" "$g/fsg.txt" | fstarcsort --sort_type=ilabel >"$g/fsg.bin"
        "$ksfsg" random -n 3 --seed "$seed" "$g/root.fsg" | sed 's/^[^ ]* *//' | while read -r words; do
            [ -n "$words" ] || continue # the tool takes no words as "read standard input"
            p=$("$ksfsg" translate "$g/root.fsg" $words | sed -n 's/^2 p=\([^ ]*\).*/\1/p')
            [ -n "$p" ] || { fail "seed $seed: random sentence '$words' not accepted"; continue; }
            printf '%s\n' $words | awk '{ print NR - 1, NR, $1 } END { print NR }' >"$g/s.txt"
            w=$(fstcompile --acceptor --isymbols="$g/all.syms" "$g/s.txt" | fstcompose - "$g/fsg.bin" |
                fstshortestdistance --reverse | awk '$1 == 0 { print $2 }')
            awk -v p="$p" -v w="$w" 'BEGIN { d = w + log(p); exit !(w != "" && d < 1e-3 && d > -1e-3) }' ||
                fail "seed $seed: '$words' costs '$w' in the acceptor, the run time says p=$p"
        done
    done
else
    skip "finite-state tools (libfst-tools) not installed: no acceptor round trips"
fi

mkdir -p "$work/contacts"
for g in "-tr robot" "-en robot" "-tr coffee" "-en dialer"; do
    "$ksbnfc" ${g% *} "$src/examples/${g#* }.bnf" -d "$work" 2>/dev/null || fail "${g#* }.bnf does not compile"
done
"$ksbnfc" -en "$src/examples/contacts.bnf" -d "$work/contacts" 2>/dev/null || fail "contacts.bnf does not compile"

# The sphinx export of the robot grammar, spliced, drives the recogniser.
audio=/usr/share/pocketsphinx/test/data/goforward.raw
if have pocketsphinx_continuous && [ -r "$audio" ] && [ -d /usr/share/pocketsphinx/model/en-us/en-us ]; then
    for m in fsg fst; do
        "$ksfsg" export --format sphinx --lower "$work/command.$m" -o "$work/command-$m.sphinx" || fail "sphinx export of command.$m"
        hyp=$(pocketsphinx_continuous -fsg "$work/command-$m.sphinx" -infile "$audio" 2>"$work/ps.log")
        [ "$hyp" = "go forward ten meters" ] || fail "recogniser with command-$m.sphinx heard '$hyp': $(tail -3 "$work/ps.log")"
    done
else
    skip "recogniser (pocketsphinx, pocketsphinx-en-us, pocketsphinx-testdata) not installed"
fi

# Sphinx text: one final state without arcs, each state's probabilities sum to at most 1.
"$ksfsg" export --format sphinx "$work/order.fst" -o "$work/order.sphinx" || fail "sphinx export of order.fst"
awk '$1 == "FINAL_STATE" { f = $2 } $1 == "TRANSITION" { sum[$2] += $4; if ($2 == f) bad = 1 }
     END { for (s in sum) if (sum[s] > 1) bad = 1; exit bad }' "$work/order.sphinx" ||
    fail "sphinx probabilities or final state wrong:\n$(cat "$work/order.sphinx")"
grep -q '^TRANSITION .* <intern' "$work/order.sphinx" && fail "spliced sphinx export still calls intern networks"

if have dot; then
    for args in "order.fst" "--no-splice order.fst" "--no-splice dial.fsg" "-x contact=$work/contacts/contact.fsg dial.fsg"; do
        set -- $args
        file=$work/${!#}
        "$ksfsg" export --format dot "${@:1:$#-1}" "$file" -o "$work/g.dot" || { fail "dot export of $args"; continue; }
        [ "$1" != --no-splice ] || [ "$file" != "$work/order.fst" ] || grep -q 'cluster' "$work/g.dot" ||
            fail "--no-splice drawing lacks the intern networks"
        dot -Tsvg "$work/g.dot" -o "$work/g.svg" 2>"$work/err" && grep -q '<svg' "$work/g.svg" ||
            fail "dot does not render the export of $args: $(cat "$work/err")"
    done
else
    skip "graphviz not installed: drawings not rendered"
fi

# Labels kept without splicing; --lower; externs resolved or named in the
# error. Outputs go to a file first: grep -q would stop reading early.
printf '<<shout>> = HELLO World .\n' >"$work/shout.bnf"
"$ksbnfc" -en "$work/shout.bnf" -d "$work" 2>/dev/null
run "--lower" 0 export --format sphinx --lower "$work/shout.fsg"
[ "$(awk '$1 == "TRANSITION" && NF == 5 { printf "%s ", $5 }' "$work/out")" = "hello world " ] ||
    fail "--lower did not lower-case the words"
# Sizes: splicing refused before any arc is made; the bound on the bytes
# leaves the output file as it was.
awk 'BEGIN { printf "<<many>> ="; for (i = 0; i < 1000; i++) printf " <w>"
             printf " .\n<<few>> = <w> <w> <w> .\n<w> = w0"; for (i = 1; i < 10000; i++) printf " | w%d", i; print " ." }' >"$work/big.bnf"
"$ksbnfc" -tr "$work/big.bnf" -d "$work" 2>/dev/null || fail "big.bnf does not compile"
echo old >"$work/kept.txt"
while IFS='#' read -r case pattern; do
    cases <<<"$case"
    [ -z "$pattern" ] || grep -q -- "$pattern" "$work/out" || fail "$case: output lacks '$pattern'"
done < <(table export_runs.txt work)
[ "$(cat "$work/kept.txt"*)" = old ] || fail "--max-bytes changed or left beside $work/kept.txt: $(ls "$work")"
# The symbol table goes beside -o OUT, with OUT's extension replaced.
run "symbols beside" 0 export --format openfst "$work/order.fst" -o "$work/o.txt"
[ -s "$work/o.syms" ] || fail "-o o.txt wrote no o.syms"
finish "export tool"

#!/bin/bash
# End-to-end test of the run-time tool on grammars compiled from the
# examples: translations from arguments and from standard input, test
# results with grep's exit status, accepted stretches, listings, the FSG
# read from standard input, and the property that every enumerated or
# random sentence is accepted; warnings about externs; errors reach
# standard error with exit 2; --help and --version work.
#   tools_test.sh path/to/ksfsg path/to/ksbnfc path/to/examples
set -uo pipefail
usage="usage: tools_test.sh KSFSG KSBNFC EXAMPLES_DIR"
tool=${1:?$usage} ksbnfc=${2:?$usage} examples=${3:?$usage}
. "$(dirname "$0")/lib.sh"

for g in "-tr coffee" "-en dialer" "-en contacts" "-tr home"; do
    "$ksbnfc" ${g% *} "$examples/${g#* }.bnf" -d "$work" 2>/dev/null || fail "${g#* }.bnf does not compile"
done
order=$work/order.fst dial=$work/dial.fsg contact=$work/contact.fsg home=$work/home.fst artist=$examples/artists.txt
# accepted_all NAME: every result line of standard output is "2 accepted".
accepted_all() { grep -qv '^2 accepted$' "$work/out" && fail "$1: $(sort "$work/out" | uniq -c)"; }

# Translations, from arguments and one per line from standard input.
run "translate args" 0 translate "$order" "i'd" like two large lattes and a tea please
expect "translate args" "2 p=2.48046e-08 2 large latte, 1 regular tea"
while IFS='|' read -r args want input output; do
    printf '%b' "$input" >"$work/in"
    run "$args <<< '$input'" "$want" $args
    [ -z "$output" ] || expect "$args <<< '$input'" "$output"
done < <(table ksfsg_input.txt order home artist)

# The FSG itself from standard input.
cp "$order" "$work/in"
run "fsg from stdin" 0 translate - a tea please
expect "fsg from stdin" "2 p=0.000192822 1 regular tea"
printf 'junk that is no fsg file, but long enough to hold a header of sixty-four bytes\n' >"$work/in"
run "bad fsg from stdin" 2 "=<stdin> does not appear to be a valid .fsg file" test - a
run "fsg and words from stdin" 2 test -

# Accepted stretches, newest first.
run "substrs" 0 substrs "$order" well a tea please thanks
expect "substrs" "1-3 p=0.000192822 a tea please\n1-2 p=0.000192822 a tea"
# An ambiguous grammar: each stretch once with its best probability; 60
# words have too many paths to walk one by one.
printf '#JSGF V1.0; grammar amb;\npublic <r> = (a | a a)+;\n' >"$work/amb.gram"
"$ksbnfc" -tr "$work/amb.gram" -o "$work/amb.fst" 2>/dev/null || fail "amb.gram does not compile"
run "substrs, ambiguous" 0 substrs "$work/amb.fst" a a a
expect "substrs, ambiguous" "2-2 p=0.250287 a\n1-2 p=0.250287 a a\n1-1 p=0.250287 a\n0-2 p=0.0626434 a a a\n0-1 p=0.250287 a a\n0-0 p=0.250287 a"
run "substrs, 60 ambiguous words" 0 substrs "$work/amb.fst" $(printf 'a %.0s' {1..60})
[ "$(wc -l <"$work/out")" = 1830 ] || fail "substrs, 60 ambiguous words: $(wc -l <"$work/out") stretches"

# Externs: the search through an extern prints only its results; a grammar
# whose extern is not loaded, or an -x it never uses, is warned about.
run "substrs --externs" 0 substrs --externs "$dial" please call mum now
expect "substrs --externs" "1-2 p=0.000528027 call mum"
run "extern not loaded" 1 "=warning: extern grammar <contact> is not loaded" test "$dial" call mum
run "extern loaded" 0 = test -x contact="$contact" "$dial" call mum
# Not loaded, an extern is its bracketed name, to the test and the search alike.
run "extern by name" 0 "=warning: extern grammar <contact> is not loaded" test "$dial" call "<contact>"
run "substrs, extern by name" 0 substrs "$dial" please call "<contact>" now
expect "substrs, extern by name" "1-2 p=0.00421697 call <contact>"
run "translate, engine FSG" 0 "=warning: $dial carries no translations" translate -x contact="$contact" "$dial" call mum
expect "translate, engine FSG" "2 p=0.000528027 -"
run "unused -x" 0 "=warning: -x addresses=$contact: $dial does not use an extern grammar <addresses>" \
    test -x contact="$contact" -x addresses="$contact" "$dial" call mum

# Every random sentence of the translation grammar is accepted by it, and
# the same seed gives the same sentences.
run "random" 0 random "$order" -n 30 --seed 11
cut -c10- "$work/out" >"$work/in"
cp "$work/out" "$work/random1"
run "random sentences accepted" 0 test "$order"
[ "$(grep -c '^2 accepted$' "$work/out")" = 30 ] || fail "random sentences: $(sort "$work/out" | uniq -c)"
run "random again" 0 random "$order" -n 30 --seed 11
cmp -s "$work/out" "$work/random1" || fail "random: the same seed gave other sentences"

# Enumeration prints exactly the accepted sentences: all of them within
# its bounds (the 11 names of the address book, where following only one arc
# per target gave 5), each accepted by the grammar, calls of sub-networks
# and of loaded externs followed, and what the bounds cut is counted on
# standard error.
run "enumerate names" 0 = enumerate "$contact"
sed -n 's/^<<contact>> = //; s/^ *| //; /^[a-z]/p' "$examples/contacts.bnf" | tr '|' '\n' | sed 's/^ *//; s/ *\.\? *$//' \
    | grep . | sort >"$work/names"
sort "$work/out" | diff "$work/names" - >&2 || fail "enumerate names: not the names of contacts.bnf"
run "enumerate --first" 0 "=arcs left out, only the first to each target was followed (--first)" enumerate --first "$contact"
[ "$(wc -l <"$work/out")" -lt 11 ] || fail "enumerate --first: $(wc -l <"$work/out") sentences"
for case in "$order --max 4" "$dial --max=6" "--externs $dial --max 4"; do
    run "enumerate $case" 0 enumerate $case
    [ "$(wc -l <"$work/out")" -gt 20 ] || fail "enumerate $case: too few sentences: $(cat "$work/out")"
    grep -q '^$' "$work/out" && fail "enumerate $case: an empty sentence"
    [ "${case%% *}" = "$order" ] && err_has "enumerate $case" "paths cut at the word limit (--max)"
    cp "$work/out" "$work/in"
    run "enumerated sentences accepted ($case)" 0 test ${case% --max*}
    accepted_all "enumerated sentences ($case)"
done
run "enumerate through an extern" 0 enumerate --externs "$dial" --max 3
lines "enumerate through an extern" "call anna berg"
run "enumerate, extern missing" 0 "=calls of extern grammars that are not loaded left out" enumerate "$dial" --max 3
grep -q "anna" "$work/out" && fail "enumerate, extern missing: printed names"
# The probabilities are those the matcher gives the same sentences.
run "enumerate --probs" 0 enumerate --probs "$contact"
grep -qxE '0\.063 +anna' "$work/out" || fail "enumerate --probs: $(head -3 "$work/out")"
run "enumerate --probs, calls" 0 enumerate --probs --max 2 "$order"
grep -qxE '0\.00019 +a tea' "$work/out" || fail "enumerate --probs, calls: $(grep 'a tea' "$work/out")"

# The dump: the file named once, each network's start, final and end states
# and the arcs to the end marked, each arc's word shown, word 0 listed.
run "dump" 0 dump "$order"
[ "$(head -2 "$work/out")" = "file          $order
version       SACOKV01" ] || fail "dump: $(head -3 "$work/out")"
lines "dump" "main network" "sub-network #0" "    state   0: first arc   0   (start)" "    state   3: first arc   5   (final)" \
    "    state   5: first arc   9   (end of the network: holds no arcs)" \
    "    arc   6: WordId    32, NextState end, LogProb  -77, AnnotationI   1   'please'" \
    "    arc   1: WordId 65524, NextState   1, LogProb  -77, AnnotationI   0   call #11" \
    "word     0: ''   (the null word)"
[ "$(grep -c "$order" "$work/out")" = 1 ] || fail "dump: the file name is not there once"
# The listing: the file named once, start and final states marked, arcs to
# the end as "end", the null word as <eps>, calls by sub-network number, and
# each sub-network with the places that call it.
run "list" 0 list "$contact"
expect "list" "$contact: 1 network, 13 words, 0 externs, 0 annotations\n\n$(grep -v '^#' "$(dirname "$0")/data/list_contact.txt")"
run "list .fst" 0 list "$order"
[ "$(grep -c "$order" "$work/out")" = 1 ] || fail "list .fst: the file name is not there once"
lines "list .fst" "main network: 5 states" "  state 0 (start)" "  state 3 (final)" "    please      -> end  p=0.500    '{1}{2}'" \
    "    <eps>       -> 1    p=0.500" "    call #11    -> 1    p=0.500" "sub-network #0 (called from sub-network #1 state 0): 1 states" \
    "    call #0     -> end  p=1.00"
run "list -v 2" 0 list -v 2 "$order"
lines "list -v 2" "    please      -> end  p=0.500    '{1}{2}'   w=32 a=1" words annotations '      0 <eps>'

# info: the counts and the accessibility of every network.
run "info" 0 info "$order"
lines "info" "sub-networks    12" "states          29" "arcs            66" "null arcs       3" \
    "final arcs      2 (null arcs to the end of a network)" "words           45" \
    "externs         0" "calls           14 of sub-networks, 0 of externs" \
    "accessibility: every state is reachable from the start and reaches the end"
run "info externs" 0 info "$dial"
lines "info externs" "externs         1 (<contact>)"

# Errors: library messages on standard error, non-zero exits.
printf 'not an fsg file at all, but long enough to hold a header of sixty-four bytes\n' >"$work/bad.fst"
cases < <(table ksfsg_errors.txt work order)

# Help for the tool and each command.
run "help" 0 --help
grep -q "^usage: ksfsg COMMAND" "$work/out" || fail "help: $(head -1 "$work/out")"
run "version" 0 --version
grep -qE '^ksfsg [0-9]+\.[0-9]+\.[0-9]+$' "$work/out" || fail "version: $(cat "$work/out")"
for c in dump list info test translate substrs enumerate random; do
    run "help $c" 0 "$c" --help
    grep -q "^usage: ksfsg $c" "$work/out" || fail "help $c: $(head -1 "$work/out")"
done
finish ksfsg

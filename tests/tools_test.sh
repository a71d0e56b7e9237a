#!/bin/bash
# End-to-end test of the run-time tool on grammars compiled from the
# examples: translations from arguments and from standard input, test
# results with grep's exit status, accepted stretches, listings, the FSG
# read from standard input, and the property that every enumerated or
# random sentence is accepted; warnings about externs; errors reach
# standard error with exit 2; --help and --version work.
#   tools_test.sh path/to/ksfsg path/to/ksbnfc path/to/examples
set -uo pipefail
ksfsg=${1:?usage: tools_test.sh KSFSG KSBNFC EXAMPLES_DIR}
ksbnfc=${2:?usage: tools_test.sh KSFSG KSBNFC EXAMPLES_DIR}
examples=${3:?usage: tools_test.sh KSFSG KSBNFC EXAMPLES_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf 'FAIL: %b\n' "$*" >&2; failures=$((failures + 1)); }

# run NAME EXPECTED_STATUS ARGS... (standard input from $work/in if present)
run() {
    local name=$1 want=$2
    shift 2
    [ -e "$work/in" ] || : >"$work/in"
    "$ksfsg" "$@" <"$work/in" >"$work/out" 2>"$work/err"
    local got=$?
    rm -f "$work/in"
    [ "$got" = "$want" ] || fail "$name: exit $got, expected $want; stderr: $(cat "$work/err")"
}
# expect NAME TEXT: standard output must be exactly TEXT.
expect() {
    local want
    want=$(printf '%b' "$2")
    [ "$(cat "$work/out")" = "$want" ] || fail "$1: output was:\n$(cat "$work/out")\nexpected:\n$want"
}
err_has() { grep -qF -- "$2" "$work/err" || fail "$1: stderr lacks '$2': $(cat "$work/err")"; }

"$ksbnfc" -tr "$examples/coffee.bnf" -d "$work" 2>/dev/null && "$ksbnfc" -en "$examples/dialer.bnf" -d "$work" 2>/dev/null \
    || fail "the examples do not compile"
order=$work/order.fst dial=$work/dial.fsg

# Translations, from arguments and one per line from standard input.
run "translate args" 0 translate "$order" "i'd" like two large lattes and a tea please
expect "translate args" "2 p=2.48046e-08 2 large latte, 1 regular tea"
printf 'a tea please\ntea\n\nthree small TEAS please\n' >"$work/in"
run "translate stdin" 1 translate "$order"
expect "translate stdin" "2 p=0.000192822 1 regular tea\n0 rejected\n1 incomplete\n2 p=0.000192822 3 small tea"
printf 'one espresso\n' >"$work/in"
run "translate -" 0 translate "$order" -
expect "translate -" "2 p=0.000192822 1 regular espresso"

printf 'two large\nplease two\n' >"$work/in"
run "test" 1 test "$order"
expect "test" "1 incomplete\n0 rejected"
# grep's exit status: 0 only when every word string is accepted.
while IFS='|' read -r want cmd words; do
    printf '%b' "$words" >"$work/in"
    run "$cmd exit status for '$words'" "$want" "$cmd" "$order"
done <<'END'
0|test|a tea please\none espresso\n
1|test|a tea please\ntea\n
1|test|a tea please\ntwo large\n
0|translate|a tea please\n
1|translate|a tea please\nplease\n
END

# The FSG itself from standard input.
cp "$order" "$work/in"
run "fsg from stdin" 0 translate - a tea please
expect "fsg from stdin" "2 p=0.000192822 1 regular tea"
printf 'junk that is no fsg file, but long enough to hold a header of sixty-four bytes\n' >"$work/in"
run "bad fsg from stdin" 2 test - a
err_has "bad fsg from stdin" "<stdin> does not appear to be a valid .fsg file"
run "fsg and words from stdin" 2 test -

# Accepted stretches, newest first.
run "substrs" 0 substrs "$order" well a tea please thanks
expect "substrs" "1-3 p=0.000192822 a tea please\n1-2 p=0.000192822 a tea"

# Externs: the search through an extern prints only its results; a grammar
# whose extern is not loaded, or an -x it never uses, is warned about.
"$ksbnfc" -en "$examples/contacts.bnf" -d "$work" 2>/dev/null || fail "contacts do not compile"
run "substrs --externs" 0 substrs --externs "$dial" please call mum now
expect "substrs --externs" "1-2 p=0.000528027 call mum"
run "extern not loaded" 1 test "$dial" call mum
err_has "extern not loaded" "warning: extern grammar <contact> is not loaded"
run "extern loaded" 0 test -x contact="$work/contact.fsg" "$dial" call mum
[ ! -s "$work/err" ] || fail "extern loaded: stderr: $(cat "$work/err")"
run "unused -x" 0 test -x contact="$work/contact.fsg" -x addresses="$work/contact.fsg" "$dial" call mum
err_has "unused -x" "warning: -x addresses=$work/contact.fsg: $dial does not use an extern grammar <addresses>"

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
contact=$work/contact.fsg
run "enumerate names" 0 enumerate "$contact"
sed -n 's/^<<contact>> = //; s/^ *| //; /^[a-z]/p' "$examples/contacts.bnf" | tr '|' '\n' | sed 's/^ *//; s/ *\.\? *$//' \
    | grep . | sort >"$work/names"
sort "$work/out" | diff "$work/names" - >&2 || fail "enumerate names: not the names of contacts.bnf"
[ ! -s "$work/err" ] || fail "enumerate names: stderr: $(cat "$work/err")"
run "enumerate --first" 0 enumerate --first "$contact"
[ "$(wc -l <"$work/out")" -lt 11 ] || fail "enumerate --first: $(wc -l <"$work/out") sentences"
err_has "enumerate --first" "arcs left out, only the first to each target was followed (--first)"
for case in "$order --max 4" "$dial --max=6" "--externs $dial --max 4"; do
    run "enumerate $case" 0 enumerate $case
    [ "$(wc -l <"$work/out")" -gt 20 ] || fail "enumerate $case: too few sentences: $(cat "$work/out")"
    grep -q '^$' "$work/out" && fail "enumerate $case: an empty sentence"
    [ "${case%% *}" = "$order" ] && err_has "enumerate $case" "paths cut at the word limit (--max)"
    cp "$work/out" "$work/in"
    run "enumerated sentences accepted ($case)" 0 test ${case% --max*}
    grep -qv '^2 accepted$' "$work/out" && fail "enumerated sentences ($case): $(sort "$work/out" | uniq -c)"
done
run "enumerate through an extern" 0 enumerate --externs "$dial" --max 3
grep -qx "call anna berg" "$work/out" || fail "enumerate through an extern: no 'call anna berg'"
run "enumerate, extern missing" 0 enumerate "$dial" --max 3
grep -q "anna" "$work/out" && fail "enumerate, extern missing: printed names"
err_has "enumerate, extern missing" "calls of extern grammars that are not loaded left out"
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
for line in "main network" "sub-network #0" "    state   0: first arc   0   (start)" "    state   3: first arc   5   (final)" \
            "    state   5: first arc   9   (end of the network: holds no arcs)" \
            "    arc   6: WordId    32, NextState end, LogProb  -77, AnnotationI   1   'please'" \
            "    arc   1: WordId 65524, NextState   1, LogProb  -77, AnnotationI   0   call #11" \
            "word     0: ''   (the null word)"; do
    grep -qxF -- "$line" "$work/out" || fail "dump: no line '$line'"
done
[ "$(grep -c "$order" "$work/out")" = 1 ] || fail "dump: the file name is not there once"
printf 'not an fsg file, but long enough to hold a header of sixty-four bytes, and some\n' >"$work/junk.fst"
run "dump of a bad file" 2 dump "$work/junk.fst"
err_has "dump of a bad file" "does not appear to be a valid .fsg file"
# The listing: the file named once, start and final states marked, arcs to
# the end as "end", the null word as <eps>, calls by sub-network number, and
# each sub-network with the places that call it.
run "list" 0 list "$contact"
expect "list" "$contact: 1 network, 13 words, 0 externs, 0 annotations\n\nmain network: 6 states
  state 0 (start, final)
    anna    -> 3    p=0.125
    ben     -> 4    p=0.125
    carla   -> 5    p=0.125
    dad     -> end  p=0.125
    doctor  -> 1    p=0.125
    home    -> end  p=0.125
    mum     -> end  p=0.125
    the     -> 2    p=0.125
  state 1 (final)
    lee     -> end  p=1.00
  state 2 (final)
    dentist -> end  p=1.00
  state 3 (final)
    <eps>   -> end  p=0.500
    berg    -> end  p=0.500
  state 4 (final)
    <eps>   -> end  p=0.500
    okafor  -> end  p=0.500
  state 5 (final)
    <eps>   -> end  p=0.500
    moreno  -> end  p=0.500"
run "list .fst" 0 list "$order"
[ "$(grep -c "$order" "$work/out")" = 1 ] || fail "list .fst: the file name is not there once"
for line in "main network: 5 states" "  state 0 (start)" "  state 3 (final)" "    please      -> end  p=0.500    '{1}{2}'" \
            "    <eps>       -> 1    p=0.500" "    call #11    -> 1    p=0.500" "sub-network #0 (called from sub-network #1 state 0): 1 states"; do
    grep -qxF -- "$line" "$work/out" || fail "list .fst: no line '$line'"
done
run "list -v 2" 0 list -v 2 "$order"
grep -qxF "    please      -> end  p=0.500    '{1}{2}'   w=32 a=1" "$work/out" || fail "list -v 2: no ids"
for t in words annotations; do grep -qx "$t" "$work/out" || fail "list -v 2: no $t table"; done
grep -qx '      0 <eps>' "$work/out" || fail "list -v 2: word 0 not shown"

# info: the counts and the accessibility of every network.
run "info" 0 info "$order"
for line in "sub-networks    12" "states          29" "arcs            66" "null arcs       6" "words           45" \
            "externs         0" "calls           13 of sub-networks, 0 of externs" \
            "accessibility: every state is reachable from the start and reaches the end"; do
    grep -qxF -- "$line" "$work/out" || fail "info: no line '$line': $(cat "$work/out")"
done
run "info externs" 0 info "$dial"
grep -qxF "externs         1 (<contact>)" "$work/out" || fail "info externs: $(cat "$work/out")"

# Errors: library messages on standard error, non-zero exits.
printf 'not an fsg file at all, but long enough to hold a header of sixty-four bytes\n' >"$work/bad.fst"
while IFS='|' read -r want text args; do
    run "$args" "$want" $args
    [ -z "$text" ] || err_has "$args" "$text"
done <<END
2|ksfsg: error: can't open '$work/none.fst' (|test $work/none.fst a
2|does not appear to be a valid .fsg file|translate $work/bad.fst a
2|ksfsg: error: can't open '$work/none.fst' (|enumerate $work/none.fst
2|unknown command frobnicate|frobnicate $order
2|no FSG file given|test
2|unknown option --bogus|random --bogus $order
2||random $order -n many
2||test -x nofile $order a
2|option takes no value|enumerate --full=1 $order
2|--max needs a number|enumerate --max=many $order
END

# Help for the tool and each command.
run "help" 0 --help
grep -q "^usage: ksfsg COMMAND" "$work/out" || fail "help: $(head -1 "$work/out")"
run "version" 0 --version
grep -qE '^ksfsg [0-9]+\.[0-9]+\.[0-9]+$' "$work/out" || fail "version: $(cat "$work/out")"
for c in dump list info test translate substrs enumerate random; do
    run "help $c" 0 "$c" --help
    grep -q "^usage: ksfsg $c" "$work/out" || fail "help $c: $(head -1 "$work/out")"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "ksfsg: all checks passed"

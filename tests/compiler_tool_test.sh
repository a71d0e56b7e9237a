#!/bin/bash
# End-to-end test of the grammar compiler tool: the example grammars compile
# in their modes, errors and warnings reach standard error with the right
# exit codes, -o - writes the FSG to standard output, --help lists the
# options. With the run-time tool given too, the compiled coffee grammar
# must translate the sample orders and the dialler accept its commands.
#   compiler_tool_test.sh path/to/ksbnfc path/to/examples [path/to/ksfsg]
set -uo pipefail
tool=${1:?usage: compiler_tool_test.sh KSBNFC EXAMPLES_DIR}
examples=${2:?usage: compiler_tool_test.sh KSBNFC EXAMPLES_DIR}
ksfsg=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# run NAME EXPECTED_STATUS ARGS...: runs the tool, keeping stdout and stderr.
run() {
    local name=$1 want=$2
    shift 2
    "$tool" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" = "$want" ] || fail "$name: exit $got, expected $want; stderr: $(cat "$work/err")"
}
err_has() { grep -qF -- "$2" "$work/err" || fail "$1: stderr lacks '$2': $(cat "$work/err")"; }
err_empty() { [ ! -s "$work/err" ] || fail "$1: unexpected stderr: $(cat "$work/err")"; }
magic_ok() { [ "$(head -c 16 "$2" | tail -c 8)" = "SACOKV01" ] || fail "$1: $2 is not an FSG file"; }

# The examples, each in its mode.
mkdir -p "$work/out.d"
run "coffee -tr" 0 -tr "$examples/coffee.bnf" -d "$work/out.d"
err_empty "coffee -tr"
magic_ok "coffee -tr" "$work/out.d/order.fst"
run "dialer -en" 0 -en "$examples/dialer.bnf" -d "$work/out.d"
err_empty "dialer -en"
magic_ok "dialer -en" "$work/out.d/dial.fsg"
run "contacts -o" 0 --engine "$examples/contacts.bnf" -o "$work/contacts.fsg"
magic_ok "contacts -o" "$work/contacts.fsg"

if [ -n "$ksfsg" ]; then
    "$ksfsg" translate "$work/out.d/order.fst" - <"$examples/coffee.txt" | sed 's/ p=[^ ]* / /' >"$work/tr"
    printf '%s\n' "2 2 large latte, 1 regular tea" "2 1 small espresso" \
        "2 3 regular cappuccino, 1 medium hot chocolate, 2 regular tea" "2 1 regular flat white" \
        | diff - "$work/tr" >&2 || fail "coffee translations differ"
    "$tool" -en "$examples/contacts.bnf" -d "$work/out.d" 2>/dev/null || fail "contacts -d"
    for case in "2:call anna berg at home" "2:dial oh two double seven" "1:call" "0:call bob"; do
        got=$("$ksfsg" test --externs "$work/out.d/dial.fsg" ${case#*:} | cut -c1)
        [ "$got" = "${case%%:*}" ] || fail "dialer: '${case#*:}' gives $got, expected ${case%%:*}"
    done
fi

# A translation grammar needs a mode.
run "coffee without mode" 1 "$examples/coffee.bnf" -d "$work/out.d"
err_has "coffee without mode" "please specify -tr for translation fsg or -en for engine fsg"

# Errors name the file, line and column; nothing is written.
printf '<main> = hello\n  | good morning\n' >"$work/broken.bnf"
run "broken grammar" 1 -en "$work/broken.bnf"
err_has "broken grammar" "syntax error in \"$work/broken.bnf\", line 3, column 1"
[ ! -e "$work/broken.fsg" ] || fail "broken grammar: an output file was written"

run "no grammar" 1 -en
err_has "no grammar" "no .bnf file specified"
run "missing grammar" 1 "$work/none.bnf"
err_has "missing grammar" "can't open '$work/none.bnf'"

printf '<<a>> = yes .\n<<b>> = no .\n' >"$work/two.bnf"
run "two roots with -o" 1 "$work/two.bnf" -o "$work/x.fsg"
err_has "two roots with -o" "your grammar has multiple roots - please use -d instead of -o"
run "one root with -o and -d" 1 "$examples/contacts.bnf" -o "$work/x.fsg" -d "$work"
err_has "one root with -o and -d" "please specify only one of -d and -o"
run "two roots beside the source" 0 "$work/two.bnf"
magic_ok "two roots" "$work/a.fsg"
magic_ok "two roots" "$work/b.fsg"

# Warnings are shown by default, exit 0; -w 0 silences them.
printf '<main> = yes | no .\n<spare> = maybe .\n' >"$work/spare.bnf"
run "warnings shown" 0 "$work/spare.bnf"
err_has "warnings shown" "<spare> defined but not used"
run "warnings off" 0 -w 0 "$work/spare.bnf"
err_empty "warnings off"

# -o - writes the file to standard output and leaves no file behind.
run "stdout" 0 -en "$examples/contacts.bnf" -o -
magic_ok "stdout" "$work/out"
cmp -s "$work/out" "$work/contacts.fsg" || fail "stdout: differs from the file written with -o"

# Integer switches reach the library: flags land in the file's parameter.
run "flags" 0 -en -f 0x20 "$examples/contacts.bnf" -o "$work/flags.fsg"
[ "$(od -An -tx1 -j64 -N4 "$work/flags.fsg" | tr -d ' ')" = "20040000" ] \
    || fail "flags: parameter is $(od -An -tx1 -j64 -N4 "$work/flags.fsg")"
run "time" 0 -en --time "$examples/contacts.bnf" -o "$work/t.fsg"
grep -qE '^[0-9]+\.[0-9]{3}$' "$work/err" || fail "time: stderr is '$(cat "$work/err")'"

# Usage errors.
run "unknown option" 2 --frobnicate "$examples/contacts.bnf"
err_has "unknown option" "unknown option --frobnicate"
run "bad integer" 2 -w many "$examples/contacts.bnf"
err_has "bad integer" "-w needs an integer"
run "help" 0 --help
for opt in -en -tr "-o FILE" "-d DIR" --warnings --debug --codepage --flags --eq-arcs \
           --eq-sentences --null-arcs --annotations --time; do
    grep -qF -- "$opt" "$work/out" || fail "help: '$opt' not listed"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "compiler tool: all checks passed"

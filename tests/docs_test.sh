#!/bin/bash
# docs_test.sh: the examples of the documentation are compiled and their
# claims checked, so that the pages cannot drift from the code.
#   docs_test.sh KSBNFC KSFSG DOCS_DIR [API_EXAMPLE EXAMPLES_DIR]
#
# Marking an example (the marks are HTML comments: invisible on the page).
#
#   <!-- test: ARGS -->        on the line before a ```bnf (or ```jsgf) block, or a
#                              ```text block (a slot list, saved with file=NAME.txt): the
#                              block is saved and compiled with `ksbnfc ARGS FILE -d DIR`.
#   ARGS are ksbnfc options (-tr, -en, --eq-arcs 0, ...) and these words:
#     file=NAME     save the block as NAME in the page's scratch directory
#                   (default exampleN.bnf), where later blocks can include it
#     nocompile     only save the block (a file that others include)
#     root=NAME     check the sentences against the root NAME (several roots)
#     x=NAME        load the extern grammar NAME compiled by an earlier block
#     warns=TEXT    a warning containing TEXT must be printed (rest of the line)
#     fails=TEXT    compiling must fail with a message containing TEXT (rest)
#
#   A ```sentences block after a compiled block lists claims about it, one a
#   line (blank lines and lines starting with # are skipped):
#     WORDS -> TEXT           the translation of WORDS is TEXT (- for none)
#     WORDS => JSON           `ksfsg understand` prints JSON for WORDS
#     accepted: WORDS         the grammar accepts WORDS (WORDS may be empty)
#     accepted p=P: WORDS     ... with probability P (within 2%)
#     incomplete: WORDS       WORDS can be continued into an accepted string
#     rejected: WORDS         neither
#
#   <!-- bytes: -->            before any fenced block: its lines `OFFSET: HH HH ...`
#                              (decimal offset, hexadecimal bytes, then two
#                              blanks and any text) are the bytes of the file
#                              compiled last, and the rows cover all of it.
#   <!-- include: FILE -->     before any fenced block: the block must be the
#                              file FILE (relative to DOCS_DIR) verbatim.
#   <!-- output: ARGS -->      before any fenced block: API_EXAMPLE run with ARGS
#                              (the word EXAMPLES stands for EXAMPLES_DIR, OUT
#                              for a scratch file) prints exactly the block.
set -uo pipefail
ksbnfc=${1:?usage: docs_test.sh KSBNFC KSFSG DOCS_DIR [API_EXAMPLE EXAMPLES_DIR]}
ksfsg=${2:?}
docs=${3:?}
api_example=${4:-}
examples=${5:-}
. "$(dirname "$0")/lib.sh"
checks=0
fail() { printf 'FAIL: %s: %b\n' "$where" "$*" >&2; failures=$((failures + 1)); }

# compile ARGS...: compiles the block just saved ($src) into its own directory
# and sets $fsg to the file the sentences are checked against.
compile() {
    local args=() root="" expect_fail="" expect_warn="" w
    xopts=() fsg=""
    local rest=$*
    case $rest in *fails=*) expect_fail=${rest#*fails=}; rest=${rest%%fails=*} ;; esac
    case $rest in *warns=*) expect_warn=${rest#*warns=}; rest=${rest%%warns=*} ;; esac
    for w in $rest; do
        case $w in
        file=* | nocompile) ;;
        root=*) root=${w#root=} ;;
        x=*) xopts+=(-x "${w#x=}=$(ls "$page/all/${w#x=}".* 2>/dev/null | head -1)") ;;
        *) args+=("$w") ;;
        esac
    done
    local out=$page/out$n
    mkdir -p "$out"
    "$ksbnfc" "${args[@]}" "$src" -d "$out" >"$work/out" 2>"$work/err"
    local status=$?
    checks=$((checks + 1))
    if [ -n "$expect_fail" ]; then
        [ $status -ne 0 ] || { fail "compiled, but the page says it fails"; return; }
        grep -qF -- "$expect_fail" "$work/err" || fail "message lacks '$expect_fail': $(cat "$work/err")"
        return
    fi
    [ $status -eq 0 ] || { fail "does not compile: $(cat "$work/err")"; return; }
    if [ -n "$expect_warn" ]; then
        grep -qF -- "$expect_warn" "$work/err" || fail "no warning '$expect_warn': $(cat "$work/err")"
    fi
    mkdir -p "$page/all"
    cp "$out"/* "$page/all/"
    if [ -n "$root" ]; then
        fsg=$(ls "$out/$root".* 2>/dev/null | head -1)
    elif [ "$(ls "$out" | wc -l)" -eq 1 ]; then
        fsg=$out/$(ls "$out")
    fi
    [ -n "$fsg" ] || fail "no single output file (use root=NAME): $(ls "$out")"
}

# The translation, or "-", from a line of `ksfsg translate`; the result code
# when the words are not accepted.
translation() { sed -E 's/^2 p=[^ ]+ //; s/^([01]) [a-z]+$/(\1)/'; }
probability() { sed -nE 's/^2 p=([^ ]+) .*/\1/p'; }

# check LINE: one claim of a sentences block about $fsg.
check() {
    local line=$1 words want got kind p=""
    case $line in '' | '#'*) return ;; esac
    checks=$((checks + 1))
    [ -n "$fsg" ] || { fail "sentences without a compiled grammar: $line"; return; }
    case $line in
    *' => '*)
        words=${line%% => *} want=${line#* => }
        got=$(printf '%s\n' "$words" | "$ksfsg" understand "${xopts[@]}" "$fsg" - 2>"$work/err")
        [ "$got" = "$want" ] || fail "'$words' is understood as '$got', the page says '$want' $(cat "$work/err")"
        return ;;
    *' -> '* | *' ->')
        words=${line%% ->*} want=${line#*-> }
        [ "$line" != "${line% ->}" ] && want=""
        got=$(printf '%s\n' "$words" | "$ksfsg" translate "${xopts[@]}" "$fsg" - 2>"$work/err" | translation)
        [ "$got" = "$want" ] || fail "'$words' translates to '$got', the page says '$want' $(cat "$work/err")"
        return ;;
    accepted*:* | incomplete:* | rejected:*)
        kind=${line%%:*} words=${line#*:} words=${words# }
        case $kind in *' p='*) p=${kind#*p=} kind=accepted ;; esac ;;
    *) fail "not a claim: $line"; return ;;
    esac
    want=$(case $kind in accepted) echo 2 ;; incomplete) echo 1 ;; *) echo 0 ;; esac)
    got=$(printf '%s\n' "$words" | "$ksfsg" test "${xopts[@]}" "$fsg" - 2>"$work/err" | cut -d' ' -f1)
    [ "$got" = "$want" ] || fail "'$words': test gives '$got', the page says $kind $(cat "$work/err")"
    if [ -n "$p" ]; then
        got=$(printf '%s\n' "$words" | "$ksfsg" translate "${xopts[@]}" "$fsg" - 2>/dev/null | probability)
        awk -v a="$got" -v b="$p" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a != "" && d <= 0.02 * b) }' \
            || fail "'$words' has probability '$got', the page says $p"
    fi
}

# bytes_equal: the rows of the block just read are the bytes of $fsg.
bytes_equal() {
    checks=$((checks + 1))
    [ -n "$fsg" ] || { fail "bytes without a compiled grammar"; return; }
    local size
    size=$(wc -c <"$fsg")
    od -An -v -t x1 "$fsg" | tr -s ' \n' '\n\n' | grep . >"$work/have"
    awk -v size="$size" '
        /^ *[0-9]+:/ {
            off = $1; sub(/:.*/, "", off); line = $0; sub(/^ *[0-9]+: */, "", line); sub(/  .*/, "", line)
            n = split(line, b, " ")
            for (i = 1; i <= n; i++) { if (off + i - 1 in seen) { print "byte " off + i - 1 " shown twice"; bad = 1 }
                                       seen[off + i - 1] = tolower(b[i]) }
        }
        END {
            for (i = 0; i < size; i++) if (!(i in seen)) { print "byte " i " not shown"; bad = 1; break }
            for (k in seen) if (k + 0 >= size) { print "byte " k " is past the end (" size " bytes)"; bad = 1; break }
            if (bad) exit 1
            for (i = 0; i < size; i++) print seen[i]
        }' "$work/block" >"$work/want" || { fail "$(head -1 "$work/want")"; return; }
    cmp -s "$work/have" "$work/want" ||
        fail "the bytes differ from the file, first at offset $(cmp "$work/have" "$work/want" | sed -nE 's/.*line ([0-9]+).*/\1/p' | awk '{ print $1 - 1 }')"
}

# block_equals FILE: the fenced block just read ($work/block) is FILE.
block_equals() {
    checks=$((checks + 1))
    cmp -s "$work/block" "$1" || fail "the block differs from $1:\n$(diff "$1" "$work/block" | head -20)"
}

output_equals() {
    checks=$((checks + 1))
    [ -n "$api_example" ] || { fail "no API example program given"; return; }
    local args=() w
    for w in $1; do
        case $w in EXAMPLES) w=$examples ;; EXAMPLES/*) w=$examples/${w#EXAMPLES/} ;; OUT) w=$page/api.out ;; esac
        args+=("$w")
    done
    "$api_example" "${args[@]}" >"$work/out" 2>&1
    local status=$?
    [ $status -eq 0 ] || fail "the API example exits with $status: $(cat "$work/out")"
    cmp -s "$work/block" "$work/out" || fail "the API example prints:\n$(cat "$work/out")\nthe page shows:\n$(cat "$work/block")"
}

for doc in "$docs"/*.md; do
    name=$(basename "$doc" .md)
    page=$work/$name
    mkdir -p "$page"
    n=0 mark="" fsg="" xopts=() lineno=0
    while IFS= read -r line || [ -n "$line" ]; do
        lineno=$((lineno + 1))
        where="$name.md:$lineno"
        if [[ $line =~ ^\<!--\ (test|include|output|bytes):\ ?(.*[^ ])?\ *--\>$ ]]; then
            mark=${BASH_REMATCH[1]} markargs=${BASH_REMATCH[2]}
            continue
        fi
        [[ $line =~ ^\`\`\`(.*)$ ]] || { [ -n "${line// /}" ] && mark=""; continue; }
        info=${BASH_REMATCH[1]}
        : >"$work/block"
        while IFS= read -r line && [ "$line" != '```' ]; do
            lineno=$((lineno + 1))
            printf '%s\n' "$line" >>"$work/block"
        done
        lineno=$((lineno + 1))
        case "$mark:$info" in
        test:bnf | test:jsgf | test:text)
            n=$((n + 1))
            file=example$n.${info/jsgf/gram}
            [[ " $markargs " =~ \ file=([^ ]+)\  ]] && file=${BASH_REMATCH[1]}
            src=$page/$file
            cp "$work/block" "$src"
            fsg=""
            [[ " $markargs " == *" nocompile "* ]] || compile $markargs ;;
        test:*) fail "a test mark before a '$info' block, not a bnf block" ;;
        bytes:*) bytes_equal ;;
        include:*) block_equals "$docs/$markargs"; fsg="" ;;
        output:*) output_equals "$markargs"; fsg="" ;;
        :sentences)
            claimline=$((lineno - $(wc -l <"$work/block")))
            while IFS= read -r claim; do
                where="$name.md:$claimline" claimline=$((claimline + 1))
                check "$claim"
            done <"$work/block" ;;
        *) fsg="" ;;
        esac
        mark=""
    done <"$doc"
done

# The test of this script: a page of wrong claims must give exactly that many failures.
if [ -n "${DOCS_TEST_EXPECT_FAILURES:-}" ]; then
    [ "$failures" -eq "$DOCS_TEST_EXPECT_FAILURES" ] && { echo "found the $failures faults"; exit 0; }
    echo "found $failures faults, expected $DOCS_TEST_EXPECT_FAILURES" >&2
    exit 1
fi
if [ "$failures" -ne 0 ]; then
    echo "$failures of $checks documentation checks failed" >&2
    exit 1
fi
echo "all $checks documentation checks passed"

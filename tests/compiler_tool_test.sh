#!/bin/bash
# End-to-end test of the grammar compiler tool: the example grammars compile
# in their modes, errors and warnings reach standard error as
# FILE:LINE:COLUMN: KIND: TEXT with the right exit codes, -o - writes only the
# FSG to standard output whatever is traced, - reads the grammar from
# standard input, -d creates its folder, usage errors exit with 2, --help and
# --version work. With the run-time tool given too, the compiled coffee
# grammar must translate the sample orders, the dialler accept its commands,
# and a compiled grammar pipe straight into ksfsg.
#   compiler_tool_test.sh path/to/ksbnfc path/to/examples [path/to/ksfsg]
set -uo pipefail
tool=${1:?usage: compiler_tool_test.sh KSBNFC EXAMPLES_DIR}
examples=${2:?usage: compiler_tool_test.sh KSBNFC EXAMPLES_DIR}
ksfsg=${3:-}
. "$(dirname "$0")/lib.sh"
magic_ok() { for f in "$@"; do [ "$(head -c 16 "$f" | tail -c 8)" = "SACOKV01" ] || fail "$f is not an FSG file"; done; }
contacts=$examples/contacts.bnf

# -d makes the folder, nested as needed.
cases <<END
0|=|-tr $examples/coffee.bnf -d $work/out.d
0|=|-en $examples/dialer.bnf -d $work/out.d
0||--engine $contacts -o $work/contacts.fsg
0|=|-en $contacts -d $work/new/sub
END
magic_ok "$work/out.d/order.fst" "$work/out.d/dial.fsg" "$work/contacts.fsg" "$work/new/sub/contact.fsg"

if [ -n "$ksfsg" ]; then
    "$ksfsg" translate "$work/out.d/order.fst" - <"$examples/coffee.txt" | sed 's/ p=[^ ]* / /' >"$work/tr"
    printf '%s\n' "2 2 large latte, 1 regular tea" "2 1 small espresso" \
        "2 3 regular cappuccino, 1 medium hot chocolate, 2 regular tea" "2 1 regular flat white" \
        | diff - "$work/tr" >&2 || fail "coffee translations differ"
    "$tool" -en "$contacts" -d "$work/out.d" 2>/dev/null || fail "contacts -d"
    for case in "2:call anna berg at home" "2:dial oh two double seven" "1:call" "0:call bob"; do
        got=$("$ksfsg" test --externs "$work/out.d/dial.fsg" ${case#*:} | cut -c1)
        [ "$got" = "${case%%:*}" ] || fail "dialer: '${case#*:}' gives $got, expected ${case%%:*}"
    done
    # The compiled file pipes into the run-time tool, even with the listing on.
    got=$("$tool" -g 1 -en "$contacts" -o - 2>/dev/null | "$ksfsg" test - carla moreno 2>&1)
    [ "$got" = "2 accepted" ] || fail "pipe into ksfsg: '$got'"
    # A slot list: its text is never notation, and it is named after its file.
    printf 'x.y | (z)\nnew  York : N.Y. {x | ->;\n' >"$work/places.txt"
    "$tool" -tr "$work/places.txt" 2>/dev/null || fail "places.txt does not compile"
    got=$("$ksfsg" translate "$work/places.fst" - <<<$'x.y | (z)\nnew york' | sed 's/ p=[^ ]* / /' | tr '\n' '#')
    [ "$got" = "2 x.y | (z)#2 N.Y. {x | ->;#" ] || fail "slot list translations: '$got'"
fi

# Standard output carries only the FSG, whatever is listed, traced or
# warned, and the same file as -o writes.
run "plain stdout" 0 -en "$contacts" -o -
cp "$work/out" "$work/plain.fsg"
cmp -s "$work/plain.fsg" "$work/contacts.fsg" || fail "stdout: differs from the file written with -o"
for opts in "-g 1" "-g 3" "-w -1" "--debug=2 --warnings=-1"; do
    run "stdout with $opts" 0 $opts -en "$contacts" -o -
    cmp -s "$work/out" "$work/plain.fsg" || fail "stdout with $opts: not the FSG alone"
done
cases <<END
0|=--- fsg <<contact>> --- final|-g 1 -en $contacts -o -
0|=(using codepage|-w -1 -en $contacts -o -
END

# Intent and slot tags leave the file proper as it is without them, and
# the engine FSG whole; with -tr the intent network follows the file.
mkdir -p "$work/tags"
sed -E 's/:@?[A-Za-z_-]+//g' "$examples/home.bnf" >"$work/tags/untagged.bnf"
for mode in -tr -en; do
    ext=$([ $mode = -tr ] && echo fst || echo fsg)
    "$tool" $mode "$examples/home.bnf" -d "$work/tags/tagged" 2>/dev/null || fail "home.bnf $mode"
    "$tool" $mode "$work/tags/untagged.bnf" -d "$work/tags/plain" 2>/dev/null || fail "untagged home.bnf $mode"
    mv "$work/tags/tagged/home.$ext" "$work/tags/tagged.f" && mv "$work/tags/plain/home.$ext" "$work/tags/plain.f"
    size=$(wc -c <"$work/tags/plain.f")
    tail=$(tail -c +$((size + 1)) "$work/tags/tagged.f" | head -c 8)
    cmp -s -n "$size" "$work/tags/plain.f" "$work/tags/tagged.f" && [ "$tail" = "$([ $mode = -tr ] && echo KSINTENT)" ] ||
        fail "home.bnf $mode: tags change the file proper, or the section after it is '$tail'"
done

# "-" reads the grammar from standard input; its includes are found from
# the current directory, and messages call it <stdin>.
mkdir -p "$work/cwd"
printf '<<n>> = <digit> <digit> .\ninclude "digits.bnf".\n' >"$work/cwd/main.bnf"
cp "$examples/digits.bnf" "$work/cwd/"
(cd "$work/cwd" && "$tool" -en - -o "$work/stdin.fsg" <main.bnf 2>"$work/err") || fail "stdin grammar: $(cat "$work/err")"
(cd "$work/cwd" && "$tool" -en main.bnf -o "$work/file.fsg" 2>/dev/null)
cmp -s "$work/stdin.fsg" "$work/file.fsg" || fail "stdin grammar: differs from the same grammar read from its file"
printf '<a> = b .\n<c> = d <e .\n' >"$work/in"
run "stdin grammar message" 1 "=<stdin>:2:9: error: syntax error" -en - -o "$work/x.fsg"

# An include not beside its file is looked for in $KSBNFC_GRAMMARS's folders,
# before the built-in grammars.
mkdir -p "$work/lib2/en" "$work/sub"
printf '<<number>> = one -> 1 .\n' >"$work/lib2/en/numbers.bnf"
printf 'include en/numbers.\n<<n>> = <<number>> .\n' >"$work/sub/uses.bnf"
KSBNFC_GRAMMARS=/nowhere:$work/lib2 run "grammar folders" 0 -tr "$work/sub/uses.bnf" -d "$work/sub/out"
run "built-in grammars" 0 -tr "$work/sub/uses.bnf" -d "$work/sub/out2"
[ "$(wc -c <"$work/sub/out/number.fst")" -lt "$(wc -c <"$work/sub/out2/number.fst")" ] ||
    fail "KSBNFC_GRAMMARS does not come before the built-in grammars"

# Errors name the file, line and column; nothing is written.
printf '<main> = hello\n  | good morning\n' >"$work/broken.bnf"
printf '<<a>> = yes .\n<<b>> = no .\n' >"$work/two.bnf"
printf '<main> = yes | no .\n<spare> = maybe .\n' >"$work/spare.bnf"
printf '<<g>> = gr\xfc\xdfe .\n' >"$work/latin1.bnf"
printf '<<a>> = x -> X\n<<b>> = y .\n' >"$work/runon.bnf"
printf '<<a>> = x <r> -> ;a\n<r> = y .\n' >"$work/runon2.bnf"
printf '<a> = x y;\n<b> = z;\n' >"$work/semi.bnf"
cases < <(table tool_compile.txt work examples contacts)
[ ! -e "$work/broken.fsg" ] || fail "broken grammar: an output file was written"
[ ! -e "$work/no-mode.d" ] || fail "no mode given: the output directory was created"
magic_ok "$work/a.fsg" "$work/b.fsg"

# Usage errors exit with 2 and write nothing.
while IFS='|' read -r text args; do
    run "usage: $args" 2 "=$text" $args
    [ ! -s "$work/out" ] || fail "usage: $args: wrote to standard output"
done < <(table tool_usage.txt contacts examples work)
[ ! -e "$work/x.fsg" ] || fail "usage errors: an output file was written"

# Messages point where the fault is, as FILE:LINE:COLUMN: KIND: TEXT (the
# places of every message are in tests/data/messages.txt).
printf '<i> = in .\n' >"$work/inc.bnf"
while IFS='#' read -r want opts grammar text; do
    printf '%b' "$grammar" >"$work/msg.bnf"
    run "message for '$grammar'" "$want" "=${text//F/$work/msg.bnf}" $opts "$work/msg.bnf" -o "$work/msg.fsg"
done < <(table tool_messages.txt)
SPCH_CODEPAGE=utf-9 run "code page from the environment" 1 "=unknown code page 'utf-9' in SPCH_CODEPAGE" -en "$contacts" -o "$work/x.fsg"

# Integer switches reach the library: flags land in the file's parameter.
run "flags" 0 -en -f 0x20 "$contacts" -o "$work/flags.fsg"
[ "$(od -An -tx1 -j64 -N4 "$work/flags.fsg" | tr -d ' ')" = "20040000" ] \
    || fail "flags: parameter is $(od -An -tx1 -j64 -N4 "$work/flags.fsg")"
run "time" 0 -en --time "$contacts" -o "$work/t.fsg"
grep -qE '^[0-9]+\.[0-9]{3}$' "$work/err" || fail "time: stderr is '$(cat "$work/err")'"

# UTF-8 by name or number; the file carries its code page, so the run-time
# tool needs no switch.
printf '<<g>> = {<w>} -> {1} .\n<w> = \xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2 -> \xd0\xb7\xd0\xb4\xd1\x80\xd0\xb0\xd0\xb2\xd1\x81\xd1\x82\xd0\xb2\xd1\x83\xd0\xb9 .\n' >"$work/ru.bnf"
for cp in utf-8 UTF8 65001; do
    run "codepage $cp" 0 = -tr -c "$cp" "$work/ru.bnf" -o "$work/ru.fst"
    if [ -n "$ksfsg" ]; then
        got=$("$ksfsg" translate "$work/ru.fst" $'\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82' | sed 's/ p=[^ ]* / /')
        [ "$got" = $'2 \xd0\xb7\xd0\xb4\xd1\x80\xd0\xb0\xd0\xb2\xd1\x81\xd1\x82\xd0\xb2\xd1\x83\xd0\xb9' ] || fail "codepage $cp: translation is '$got'"
    fi
done
run "help" 0 = --help
for o in -en -tr "-o, --output FILE" "-d, --directory DIR" --warnings --debug --codepage --flags --eq-arcs \
    --eq-sentences --null-arcs --annotations --time --version; do out_has help "$o"; done
run "version" 0 = --version
grep -qE '^ksbnfc [0-9]+\.[0-9]+\.[0-9]+$' "$work/out" || fail "version: $(cat "$work/out")"
finish "compiler tool"

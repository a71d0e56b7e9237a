#!/bin/bash
# golden_codepages_test.sh KSBNFC GOLDEN_DIR: the golden grammars (ASCII
# text) compile to the same bytes under every code page as under 1252, whose
# outputs golden_outputs pins; under 65001 the file differs only by the
# 8-byte code-page record at its end and lPrivateData counting it.
set -uo pipefail
tool=${1:?usage: golden_codepages_test.sh KSBNFC GOLDEN_DIR}
dir=${2:?usage: golden_codepages_test.sh KSBNFC GOLDEN_DIR}
. "$(dirname "$0")/lib.sh"
# lPrivateData (bytes 4-7) as a number.
private_len() { od -An -tu4 -j4 -N4 "$1" | tr -d ' '; }
for g in "$dir"/grammars/*.bnf; do
    name=$(basename "$g" .bnf)
    for mode in -en -tr; do
        "$tool" $mode -w 0 -c 1252 "$g" -o "$work/ref" >/dev/null 2>&1 || { fail "$name $mode: 1252 fails"; continue; }
        for cp in 850 932 936 949 950; do
            "$tool" $mode -w 0 -c $cp "$g" -o "$work/out" >/dev/null 2>&1 || { fail "$name $mode: $cp fails"; continue; }
            cmp -s "$work/ref" "$work/out" || fail "$name $mode: code page $cp changes the file"
        done
        "$tool" $mode -w 0 -c utf-8 "$g" -o "$work/out" >/dev/null 2>&1 || { fail "$name $mode: utf-8 fails"; continue; }
        size=$(stat -c %s "$work/ref")
        [ "$(stat -c %s "$work/out")" = $((size + 8)) ] || fail "$name $mode: utf-8 file is not 8 bytes longer"
        [ "$(private_len "$work/out")" = $(($(private_len "$work/ref") + 8)) ] || fail "$name $mode: lPrivateData"
        cmp -s <(tail -c +9 "$work/ref") <(tail -c +9 "$work/out" | head -c $((size - 8))) \
            || fail "$name $mode: utf-8 changes bytes besides the record"
        [ "$(tail -c 8 "$work/out" | od -An -tx1 | tr -d ' \n')" = 4b534350e9fd0000 ] || fail "$name $mode: no record"
    done
done
[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "golden grammars: same files under every code page"

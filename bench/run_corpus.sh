#!/bin/bash
# run_corpus.sh KSBNFC GRAMMAR_DIR OUT_DIR: compiles every grammar of the
# directory with a set of option combinations and writes one line per run to
# OUT_DIR/sums: grammar, options, exit status and the sha256 of the output
# file, standard output and standard error. Two trees are compared by
# diffing their sums files.
set -u
tool=$1 gdir=$2 out=$3
mkdir -p "$out/tmp"
: > "$out/sums"
# The modes of the golden test, and the debug listings.
mapfile -t opts <"$(dirname "$0")/../tests/golden/modes"
opts+=("-en -g 3" "-tr -g 3")
for g in "$gdir"/*.bnf; do
  name=$(basename "$g" .bnf)
  for o in "${opts[@]}"; do
    # Debug listings of the big grammars are too long to be useful.
    case "$name:$o" in
      flat65k:*-g*|flat100k:*-g*|phrases50k:*-g*|names2k:*-g*|chain300:*-g*) continue ;;
    esac
    f="$out/tmp/out.fsg"
    rm -f "$f"
    ( ulimit -v 1000000; timeout 20 "$tool" $o -w -1 "$g" -o "$f" > "$out/tmp/stdout" 2> "$out/tmp/stderr" )
    rc=$?
    sf=none
    [ -f "$f" ] && sf=$(sha256sum < "$f" | cut -c1-16)
    so=$(sed "s#$gdir/##g" "$out/tmp/stdout" | grep -v '^time' | sha256sum | cut -c1-16)
    se=$(sed "s#$gdir/##g" "$out/tmp/stderr" | sha256sum | cut -c1-16)
    echo "$name [$o] rc=$rc fsg=$sf out=$so err=$se" >> "$out/sums"
  done
done

#!/bin/bash
# golden_test.sh KSBNFC DIR [--update]: compiles every grammar of
# DIR/grammars with each option set of DIR/modes and compares the exit status and
# the sha256 of the written file and of the messages with DIR/expected.sums.
# The compiler's passes may be rewritten for speed, but what they write must
# stay the same to the byte. --update rewrites the expected list.
set -u
tool=$1 dir=$2 update=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mapfile -t opts <"$dir/modes"
for g in "$dir"/grammars/*.bnf; do
  name=$(basename "$g" .bnf)
  for o in "${opts[@]}"; do
    rm -f "$tmp/out"
    "$tool" $o -w -1 "$g" -o "$tmp/out" > "$tmp/stdout" 2> "$tmp/stderr"
    rc=$?
    sum=none
    [ -f "$tmp/out" ] && sum=$(sha256sum < "$tmp/out" | cut -c1-16)
    msgs=$(cat "$tmp/stdout" "$tmp/stderr" | sed "s#$dir/grammars/##g" | sha256sum | cut -c1-16)
    echo "$name [$o] rc=$rc fsg=$sum msgs=$msgs"
  done
done > "$tmp/sums"
if [ "$update" = "--update" ]; then
  cp "$tmp/sums" "$dir/expected.sums"
  exit 0
fi
if ! diff "$dir/expected.sums" "$tmp/sums"; then
  echo "golden_test: output differs from $dir/expected.sums" >&2
  exit 1
fi
echo "golden_test: $(wc -l < "$tmp/sums") compilations identical"

#!/bin/sh
# Builds the library and tools, then compiles the example grammars into
# build/examples/: the coffee-order translation grammar (-tr) and the voice
# dialler engine grammar (-en) with its extern address book.
#
#   sh examples/run.sh            (from anywhere; BUILD=dir to build elsewhere)
set -e
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD"
cmake --build "$BUILD" -j2

KSBNFC=$BUILD/tools/ksbnfc
OUT=$BUILD/examples
mkdir -p "$OUT"

echo "== compiling the examples into $OUT"
"$KSBNFC" -tr examples/coffee.bnf -d "$OUT"
"$KSBNFC" -en examples/dialer.bnf -d "$OUT"
"$KSBNFC" -en examples/contacts.bnf -d "$OUT"
ls -l "$OUT"

# TODO(coordinator): once the run-time tool ksfsg is built, translate the
# sample orders here, one sentence per line of examples/coffee.txt, e.g.
#   "$BUILD/tools/ksfsg" translate "$OUT/order.fst" < examples/coffee.txt
# (adjust to the tool's final command line).

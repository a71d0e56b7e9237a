#!/bin/sh
# Builds the library and tools, then compiles the example grammars into
# build/examples/: the coffee-order translation grammar (-tr) and the voice
# dialler engine grammar (-en) with its extern address book, and the home
# commands with intents and slots (-tr) with their list of artists loaded at run time;
# then translates the sample orders, tests a few spoken commands and shows
# what the home grammar understands, with ksfsg.
#
#   sh examples/run.sh    (from anywhere; BUILD=dir builds elsewhere, KSBNFC_JOBS=n
#                          runs n compile jobs instead of one a core)
set -e
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
# Only the library and the tools: the test suite (and GoogleTest) is the
# business of tests/run_all.sh.
cmake -S . -B "$BUILD" -DKSBNFC_BUILD_TESTS=OFF
cmake --build "$BUILD" -j"${KSBNFC_JOBS:-$(nproc 2>/dev/null || echo 2)}" --target ksbnfc_tool ksfsg_tool

KSBNFC=$BUILD/tools/ksbnfc
OUT=$BUILD/examples
mkdir -p "$OUT"

echo "== compiling the examples into $OUT"
"$KSBNFC" -tr examples/coffee.bnf -d "$OUT"
"$KSBNFC" -en examples/dialer.bnf -d "$OUT"
"$KSBNFC" -en examples/contacts.bnf -d "$OUT"
"$KSBNFC" -tr examples/home.bnf -d "$OUT"
ls -l "$OUT"

KSFSG=$BUILD/tools/ksfsg
echo "== translating the sample orders of examples/coffee.txt"
"$KSFSG" translate "$OUT/order.fst" - < examples/coffee.txt

echo "== testing spoken commands against the dialler (2 accepted, 1 incomplete, 1 rejected)"
# --externs loads the extern grammar <contact> from contact.fsg beside dial.fsg.
# The status is 1 for a string that is rejected or only a prefix, 2 on failure.
for words in "call anna berg at home" "dial oh two double seven five" "call" "call bob"; do
    printf '%-32s ' "$words"
    "$KSFSG" test --externs "$OUT/dial.fsg" $words || [ $? -eq 1 ]
done

echo "== what the home grammar understands from examples/home.txt (intent and slots as JSON)"
# The status is 1: the last command is not understood.
"$KSFSG" understand -x artist=examples/artists.txt "$OUT/home.fst" - < examples/home.txt || [ $? -eq 1 ]

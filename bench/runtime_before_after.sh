#!/bin/bash
# runtime_before_after.sh: the run-time figures of an older library beside
# this build's, in one run on one machine. Builds match_bench and load_bench
# (exported interface only) against OLD's static library, then runs each
# benchmark old, new, old, new and prints their summaries.
#
#   bench/runtime_before_after.sh OLD_BUILD_DIR [NEW_BUILD_DIR]
#
# OLD_BUILD_DIR is a build directory of the older tree (its
# libksbnfc_static.a); NEW_BUILD_DIR defaults to ./build, configured with
# -DKSBNFC_BUILD_BENCH=ON and the benchmarks built.
set -euo pipefail
old=${1:?usage: runtime_before_after.sh OLD_BUILD_DIR [NEW_BUILD_DIR]}
new=${2:-build}
src=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for b in match_bench load_bench; do
    [ -x "$new/bench/$b" ] || { echo "no $new/bench/$b: build it first" >&2; exit 2; }
done
cxx=${CXX:-c++}
"$cxx" -O2 -std=c++17 -I"$src/include" -DKSBNFC_SOURCE_DIR="\"$src\"" "$src/bench/match_bench.cpp" \
    "$old/libksbnfc_static.a" -lbenchmark -lpthread -o "$tmp/match_bench"
"$cxx" -O2 -std=c++17 -I"$src/include" "$src/bench/load_bench.cpp" "$old/libksbnfc_static.a" -lpthread \
    -o "$tmp/load_bench"

filter='BM_KsTest/|BM_KsGetTranslation/|First10000'
for round in 1 2; do
    for side in old new; do
        dir=$tmp
        [ "$side" = new ] && dir=$new/bench
        echo "== $side, round $round: KsTest / KsGetTranslation against the vocabulary"
        "$dir/match_bench" --benchmark_filter="$filter" --benchmark_repetitions=3 2>/dev/null |
            sed -n '/^per call/,$p'
        echo "== $side, round $round: loading a 2-million-arc file beside compiling it"
        "$dir/load_bench" | tail -2
    done
done

#!/bin/bash
# export_bench.sh KSBNFC KSFSG [PEER_KSFSG]: CPU time (user+sys), peak
# memory, exit status and output size of "ksfsg export" on generated
# grammars: a 10,000-word rule used 1,000 times (refused by the arc bound),
# the same without splicing, 20,000 words used 3,000 times, 390 times
# (3.9 million arcs, within the bounds, written whole) and with a bound on
# the bytes. With PEER_KSFSG (another build) each figure gets the peer's
# beside it, from the same run, and the outputs are compared to the byte.
set -u
ksbnfc=${1:?usage: export_bench.sh KSBNFC KSFSG [PEER_KSFSG]} ksfsg=${2:?} peer=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# grammar NAME WORDS USES: <<NAME>> calls a WORDS-word rule USES times.
grammar() {
    awk -v name="$1" -v words="$2" -v uses="$3" 'BEGIN {
        printf "<<%s>> =", name; for (i = 0; i < uses; i++) printf " <w>"
        printf " .\n<w> = w0"; for (i = 1; i < words; i++) printf " | w%d", i; print " ." }' >"$work/$1.bnf"
    "$ksbnfc" -tr "$work/$1.bnf" -d "$work" 2>/dev/null || echo "$1 does not compile" >&2
}
grammar w10k_1k 10000 1000
grammar w20k_3k 20000 3000
grammar w10k_390 10000 390

# measure TOOL TAG ARGS...: "cpu=S rss=KB rc=N bytes=N" of one export.
measure() {
    local tool=$1 tag=$2
    shift 2
    rm -f "$work/$tag.out"
    ( ulimit -v 4000000; /usr/bin/time -f '%U %S %M' -o "$work/$tag.time" \
        timeout 60 "$tool" export "$@" -o "$work/$tag.out" 2>/dev/null )
    local rc=$? bytes=none
    [ -f "$work/$tag.out" ] && bytes=$(stat -c %s "$work/$tag.out")
    awk -v rc="$rc" -v bytes="$bytes" 'END { printf "cpu=%.2fs rss=%dKB rc=%s bytes=%s", $1 + $2, $3, rc, bytes }' \
        "$work/$tag.time"
}

while IFS='|' read -r label args; do
    for format in sphinx openfst dot; do
        printf '%-42s %s' "$label $format" "$(measure "$ksfsg" new --format "$format" $args)"
        if [ -n "$peer" ]; then
            printf '   peer: %s' "$(measure "$peer" old --format "$format" $args)"
            [ ! -f "$work/new.out" ] && [ ! -f "$work/old.out" ] || cmp -s "$work/new.out" "$work/old.out" ||
                printf '   OUTPUTS DIFFER'
        fi
        echo
    done
done <<EOF
10,000 words x 1,000|$work/w10k_1k.fst
10,000 words x 1,000 --no-splice|--no-splice $work/w10k_1k.fst
20,000 words x 3,000|$work/w20k_3k.fst
10,000 words x 390|$work/w10k_390.fst
10,000 words x 390, 50 MB bound|--max-bytes 50000000 $work/w10k_390.fst
EOF

#!/bin/bash
# jsgf_peer_test.sh: the language of JSGF grammars as ksbnfc compiles them
# equals the open recogniser's own conversion (sphinx_jsgf2fsg), compared
# with the finite-state toolkit after determinising and minimising both.
# Covers every .gram of the recogniser's test data and random grammars.
# Usage: jsgf_peer_test.sh KSBNFC KSFSG [COUNT [SEED]]
# Exits 77 (skipped) when a peer tool is missing.
set -u
shopt -s nullglob
KSBNFC=$1
KSFSG=$2
COUNT=${3:-40}
SEED=${4:-1}
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lib.sh"
for t in sphinx_jsgf2fsg fstcompile fstequivalent fstdeterminize fstminimize fstrmepsilon fstmap python3; do
    have $t || { echo "skipped: $t not found (sphinxbase-utils, libfst-tools, python3)"; exit 77; }
done
DATA=${JSGF_PEER_DATA:-/usr/share/pocketsphinx/test/data}
WORK=$work
mkdir -p "$WORK/random"
python3 "$HERE/jsgf_peer.py" random "$COUNT" "$SEED" "$WORK/random"

shipped=$(find "$DATA" -name '*.gram' 2>/dev/null | sort)
[ -n "$shipped" ] || echo "note: no .gram files under $DATA (pocketsphinx-testdata)"

fails=0
checked=0
peer_failed=0
# Deterministic, minimal and unweighted: equal languages give equal machines.
canon() { fstmap --map_type=rmweight "$1" | fstrmepsilon | fstdeterminize | fstminimize >"$2"; }

for g in $shipped "$WORK"/random/*.gram; do
    name=$(basename "$g" .gram)
    dir="$WORK/out/$name"
    mkdir -p "$dir"
    if ! "$KSBNFC" -en -w 0 "$g" -d "$dir" 2>"$dir/err"; then
        echo "FAIL $g: ksbnfc: $(cat "$dir/err")"
        fails=$((fails + 1))
        continue
    fi
    gname=$(sed -n 's/^[[:space:]]*grammar[[:space:]]\+\([^;[:space:]]*\).*/\1/p' "$g" | head -1)
    for fsg in "$dir"/*.fsg; do
        rule=$(basename "$fsg" .fsg)
        "$KSFSG" export --format openfst "$fsg" --symbols "$dir/$rule.ours.sym" -o "$dir/$rule.ours.txt"
        if ! sphinx_jsgf2fsg -jsgf "$g" -toprule "$gname.$rule" -fsm "$dir/$rule.peer.txt" \
             -symtab "$dir/$rule.peer.sym" >/dev/null 2>"$dir/peer.err"; then
            # The peer refuses some grammars it reads (a null transition
            # whose probability sums above 1); there is nothing to compare.
            echo "note: sphinx_jsgf2fsg cannot convert $(basename "$g") <$rule>: $(grep -m1 -E 'FATAL|ERROR' "$dir/peer.err")"
            peer_failed=$((peer_failed + 1))
            continue
        fi
        python3 "$HERE/jsgf_peer.py" symbols "$dir/$rule.ours.txt" "$dir/$rule.peer.txt" >"$dir/syms"
        fstcompile --acceptor --isymbols="$dir/syms" "$dir/$rule.ours.txt" >"$dir/ours.fst" &&
            fstcompile --acceptor --isymbols="$dir/syms" "$dir/$rule.peer.txt" >"$dir/peer.fst" &&
            canon "$dir/ours.fst" "$dir/ours.min" && canon "$dir/peer.fst" "$dir/peer.min"
        if [ $? -ne 0 ] || ! fstequivalent "$dir/ours.min" "$dir/peer.min"; then
            echo "FAIL $g <$rule>: languages differ"
            fails=$((fails + 1))
            continue
        fi
        checked=$((checked + 1))
    done
done
echo "$checked rules equal, $fails failures, $peer_failed not converted by the peer"
[ $fails -eq 0 ]

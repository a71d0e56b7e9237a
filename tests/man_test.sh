#!/bin/bash
# The manual pages render without complaint from man, and each names every
# option (and, for ksfsg, every command and its options) that the tool's own
# --help lists, so that page and tool cannot drift apart. Skipped (exit 77)
# where man is not installed.
#   man_test.sh MAN_DIR NAME=TOOL...   (NAME's page is MAN_DIR/NAME.1)
set -uo pipefail
dir=${1:?usage: man_test.sh MAN_DIR NAME=TOOL...}
shift
if ! command -v man >/dev/null; then
    echo "man_test: man is not installed (Debian: apt-get install man-db); skipped"
    exit 77
fi
. "$(dirname "$0")/lib.sh"

# options HELP_TEXT: the switches of the option lines of a help text.
options() { grep -E '^ +-' | grep -oE -- '(^| )--?[a-z][a-z0-9-]*' | tr -d ' ' | sort -u; }

for pair in "$@"; do
    name=${pair%%=*} tool=${pair#*=}
    page=$dir/$name.1
    [ -f "$page" ] || { fail "$name: no page $page"; continue; }
    LC_ALL=C MANWIDTH=80 man --warnings -l "$page" >"$work/text" 2>"$work/err" || fail "$name: man failed: $(cat "$work/err")"
    [ ! -s "$work/err" ] || fail "$name: man complained: $(cat "$work/err")"
    grep -q "^NAME" "$work/text" && grep -q "^SYNOPSIS" "$work/text" || fail "$name: no NAME or SYNOPSIS section"
    # Rendered text joins a switch to its words; compare on the words.
    tr -s ' \n' '\n\n' <"$work/text" | sed 's/[,.;:()"]*$//; s/^[("]*//' >"$work/words"
    helps=("$("$tool" --help)")
    if [ "$name" = ksfsg ]; then
        for c in $("$tool" --help | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p'); do
            grep -qx -- "$c" "$work/words" || fail "$name: command $c not in the page"
            helps+=("$("$tool" "$c" --help 2>/dev/null)")
        done
    fi
    for h in "${helps[@]}"; do
        for opt in $(printf '%s\n' "$h" | options); do
            grep -q -- "^$opt\(=\|$\)" "$work/words" || fail "$name: option $opt not in the page"
        done
    done
done
finish "man pages"

#!/bin/bash
# Checks that a shared library exports only the public interface: the Ks*
# and ks_* functions, the exported data and code-page tables, and the C++
# forms of KsGetArg, ks_str* and the character-stepping functions.
set -euo pipefail
lib=${1:?usage: check_exports.sh libksbnfc.so}
allowed='^(Ks[A-Za-z0-9_]*|ks_[A-Za-z0-9_]*|dbglevel|warnings|dbcsleadbyte|c1252to850|c850to1252|_mbs[a-z]*|_Z[0-9]+(KsGetArg|ks_str[a-z]*|_mbs[a-z]*)[A-Za-z0-9_]*)$'
names=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//')
[ -n "$names" ] || { echo "no exported symbols in $lib" >&2; exit 1; }
stray=$(grep -Ev "$allowed" <<<"$names" || true)
if [ -n "$stray" ]; then
    echo "unexpected exported symbols in $lib:" >&2
    echo "$stray" >&2
    exit 1
fi
for want in KsGetMessage KsMsgBuf dbglevel warnings; do
    grep -qx "$want" <<<"$names" || { echo "missing export: $want" >&2; exit 1; }
done
echo "$(wc -l <<<"$names") exported symbols, all public"

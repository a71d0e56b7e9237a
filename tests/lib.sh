# lib.sh: what the script tests share, sourced after `set -uo pipefail`: a
# scratch folder $work removed at exit, failures counted by fail, and checks
# of one run of $tool: its exit status, standard output ($work/out) and
# standard error ($work/err). Standard input is $work/in when that exists
# (it is used up by the run), else empty.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf 'FAIL: %b\n' "$*" >&2; failures=$((failures + 1)); }
have() { command -v "$1" >/dev/null 2>&1; }

# run NAME STATUS [STDERR] ARGS...: runs $tool ARGS. STDERR, given where
# the first argument after STATUS is not an option of the tool but a text
# in the form =TEXT, must be in standard error; "=" alone demands it empty.
run() {
    local name=$1 want=$2 text=
    shift 2
    case ${1-} in =*) text=$1; shift ;; esac
    local got
    if [ -e "$work/in" ]; then
        "$tool" "$@" <"$work/in" >"$work/out" 2>"$work/err"
        got=$?
        rm -f "$work/in"
    else # no outside command: a caller may have emptied PATH for the tool
        "$tool" "$@" </dev/null >"$work/out" 2>"$work/err"
        got=$?
    fi
    [ "$got" = "$want" ] || fail "$name: exit $got, expected $want; stderr: $(cat "$work/err")"
    if [ "$text" = = ]; then
        [ ! -s "$work/err" ] || fail "$name: unexpected stderr: $(cat "$work/err")"
    elif [ -n "$text" ]; then
        err_has "$name" "${text#=}"
    fi
}
# cases: one run per line of standard input, STATUS|=STDERR|ARGS (ARGS
# split on blanks; an empty STDERR field checks nothing).
cases() {
    local want text args
    while IFS='|' read -r want text args; do
        [ -n "$want" ] || continue
        if [ -n "$text" ]; then run "$args" "$want" "$text" $args; else run "$args" "$want" $args; fi
    done
}
# table FILE VAR...: the lines of tests/data/FILE but comments and blank
# lines, with each $VAR given replaced by its value.
table() {
    local line v
    grep -v -e '^#' -e '^$' "$(dirname "${BASH_SOURCE[0]}")/data/$1" | while IFS= read -r line; do
        for v in "${@:2}"; do line=${line//\$$v/${!v}}; done
        printf '%s\n' "$line"
    done
}
# expect NAME TEXT: standard output is exactly TEXT (with printf escapes).
expect() {
    local want
    want=$(printf '%b' "$2")
    [ "$(cat "$work/out")" = "$want" ] || fail "$1: output was:\n$(cat "$work/out")\nexpected:\n$want"
}
err_has() { grep -qF -- "$2" "$work/err" || fail "$1: stderr lacks '$2': $(cat "$work/err")"; }
out_has() { grep -qF -- "$2" "$work/out" || fail "$1: output lacks '$2':\n$(cat "$work/out")"; }
# lines NAME LINE...: each LINE is a whole line of standard output.
lines() {
    local name=$1 l
    shift
    for l in "$@"; do grep -qxF -- "$l" "$work/out" || fail "$name: no line '$l'"; done
}
# finish WHAT: the summary line and the exit status.
finish() {
    [ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
    echo "$1: all checks passed"
}

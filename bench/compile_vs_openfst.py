#!/usr/bin/env python3
# compile_vs_openfst.py: whole-process compile time (wall and CPU, user plus
# system) and peak memory of `ksbnfc -en` against the OpenFst pipeline
# (fstcompile | fstrmepsilon | fstdeterminize | fstminimize) on eight
# generated grammar shapes, each at a quarter, half and the full size. The
# ratios compare CPU time, which a loaded machine disturbs less than wall
# time. Nothing here is part of the test suite.
#
#   bench/compile_vs_openfst.py [--ksbnfc PATH] [--runs N] [--sizes 0.25,0.5,1]
#                               [--shapes words,phrases,...] [--keep DIR]
#                               [--before PATH]
#
# For every shape the grammar and a plain text acceptor of the same language
# are generated (the acceptor the way one would write it by hand: a path per
# alternative, epsilon arcs for optional items, no sharing). The pipeline's
# stages run one after the other on files, so its time is their sum and its
# peak memory the largest of theirs. Figures are medians of --runs runs.
# Where fstcompile is missing (apt-get install libfst-tools) only ksbnfc runs.
# --before names a second ksbnfc (an older build) that runs in the same pass:
# its CPU time and memory are printed as ratios over ours after the OpenFst
# columns, and a file that differs from ours is reported.

import argparse
import filecmp
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time


# The grammars come from the generator of the golden corpus (beside this
# file), which writes the same shapes at small sizes for its byte-for-byte
# checks.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_grammars import chain, first_names, flat, last_names, phrase_list, phrases_rule, word  # noqa: E402


class Acceptor:
    """A text acceptor under construction: arcs, final states, symbols."""

    def __init__(self):
        self.n = 1
        self.arcs = []
        self.finals = set()

    def state(self):
        self.n += 1
        return self.n - 1

    def arc(self, a, b, label):
        self.arcs.append((a, b, label))

    def word_path(self, n, beside):
        """A path from state 0 over word(0) .. word(n-1); beside(a, b) adds
        what goes with each step a -> b. Returns the path's last state."""
        prev = 0
        for i in range(n):
            nxt = self.state()
            self.arc(prev, nxt, word(i))
            beside(prev, nxt)
            prev = nxt
        return prev

    def path(self, a, b, words):
        for k, w in enumerate(words):
            t = b if k == len(words) - 1 else self.state()
            self.arc(a, t, w)
            a = t

    def write(self, path, syms_path):
        labels = {"<eps>": 0}
        with open(path, "w") as f:
            for a, b, w in self.arcs:
                labels.setdefault(w, len(labels))
                f.write("%d %d %s\n" % (a, b, w))
            for s in sorted(self.finals):
                f.write("%d\n" % s)
        with open(syms_path, "w") as f:
            for w, i in labels.items():
                f.write("%s %d\n" % (w, i))


def shape_words(scale):
    n = int(65000 * scale)
    fst = Acceptor()
    end = fst.state()
    fst.finals.add(end)
    for i in range(n):
        fst.arc(0, end, word(i))
    return flat(n), fst, "%d one-word alternatives" % n


def shape_phrases(scale):
    n = int(50000 * scale)
    phrases = phrase_list(n, 2000)
    g = phrases_rule(phrases)
    fst = Acceptor()
    end = fst.state()
    fst.finals.add(end)
    for p in phrases:
        fst.path(0, end, p)
    return g, fst, "%d phrases of 2-5 words over 2,000 words" % n


def shape_names(scale):
    n = int(2000 * scale)
    first = first_names(n)
    last = last_names(n)
    g = ("<<call>> = call <first> <last> please? .\n<first> = " + " | ".join(first) + " .\n<last> = "
         + " | ".join(last) + " .\n")
    fst = Acceptor()
    a, b, c, d = fst.state(), fst.state(), fst.state(), fst.state()
    fst.arc(0, a, "call")
    for w in first:
        fst.arc(a, b, w)
    for w in last:
        fst.arc(b, c, w)
    fst.arc(c, d, "please")
    fst.finals.update([c, d])
    return g, fst, "call <first> <last> please?, %d x %d names" % (n, n)


UNITS = ["one", "two", "three", "four", "five", "six", "seven", "eight", "nine"]
TEENS = ["ten", "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen",
         "nineteen"]
TENS = ["twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"]


def shape_numbers(scale):
    # The size scales through the hundreds of the thousands multiplier:
    # zero to 999,999 in full, to 499,999 at a half, to 199,999 at a quarter.
    top = {1: 9, 0.5: 4, 0.25: 1}.get(scale, max(1, int(9 * scale)))
    hundreds = UNITS[:top]
    g = ("<<number>> = zero | <below1000> | <mult> thousand ( and? <below1000> )? .\n"
         "<mult> = <below100> | <munit> hundred ( and? <below100> )? .\n"
         "<munit> = " + " | ".join(hundreds) + " .\n"
         "<below1000> = <below100> | <unit> hundred ( and? <below100> )? .\n"
         "<below100> = <unit> | <teen> | <ten> <unit>? .\n"
         "<unit> = " + " | ".join(UNITS) + " .\n"
         "<teen> = " + " | ".join(TEENS) + " .\n"
         "<ten> = " + " | ".join(TENS) + " .\n")
    fst = Acceptor()

    def below100(a, b):
        for w in UNITS + TEENS:
            fst.arc(a, b, w)
        m = fst.state()
        for w in TENS:
            fst.arc(a, m, w)
        fst.arc(m, b, "<eps>")
        for w in UNITS:
            fst.arc(m, b, w)

    def hundred_part(a, b, units):
        below100(a, b)
        m, h = fst.state(), fst.state()
        for w in units:
            fst.arc(a, m, w)
        fst.arc(m, h, "hundred")
        fst.arc(h, b, "<eps>")
        k = fst.state()
        fst.arc(h, k, "and")
        fst.arc(h, k, "<eps>")
        below100(k, b)

    end = fst.state()
    fst.finals.add(end)
    fst.arc(0, end, "zero")
    hundred_part(0, end, UNITS)
    m, t = fst.state(), fst.state()
    hundred_part(0, m, hundreds)
    fst.arc(m, t, "thousand")
    fst.arc(t, end, "<eps>")
    k = fst.state()
    fst.arc(t, k, "and")
    fst.arc(t, k, "<eps>")
    hundred_part(k, end, UNITS)
    return g, fst, "zero to %d99,999 in words" % top


def shape_nested(scale):
    n = int(2000 * scale)
    fst = Acceptor()
    prev = fst.word_path(n, lambda a, b: fst.arc(a, b, "<eps>"))
    end = fst.state()
    fst.arc(prev, end, "end")
    fst.finals.add(end)
    return chain(n), fst, "%d nested rules, each <rK> = wK? <rK+1>" % n


def shape_optref(scale):
    n = int(4000 * scale)
    g = "".join("%s = %s%s .\n" % ("<<r0>>" if i == 0 else "<r%d>" % i, word(i),
                                    " <r%d>?" % (i + 1) if i + 1 < n else "") for i in range(n))
    fst = Acceptor()
    end = fst.state()
    fst.finals.add(end)
    fst.word_path(n, lambda a, b: fst.arc(b, end, "<eps>"))
    return g, fst, "%d nested optional references, each <rK> = wK <rK+1>?" % n


def shape_command(scale):
    slots, values = 20, int(1000 * scale)
    g = "<<command>> = %s .\n" % " ".join("<s%d>" % k for k in range(slots))
    fst = Acceptor()
    prev = 0
    for k in range(slots):
        vals = [word(k * values + v) for v in range(values)]
        g += "<s%d> = %s .\n" % (k, " | ".join(vals))
        nxt = fst.state()
        for v in vals:
            fst.arc(prev, nxt, v)
        prev = nxt
    fst.finals.add(prev)
    return g, fst, "a command of %d slots of %d values" % (slots, values)


def shape_plus(scale):
    n = max(2, int(40 * scale))
    g = "".join("%s = <r%d>+ .\n" % ("<<r0>>" if i == 0 else "<r%d>" % i, i + 1) for i in range(n))
    g += "<r%d> = %s+ .\n" % (n, word(0))
    fst = Acceptor()
    fst.arc(0, 1, word(0))
    fst.arc(1, 1, word(0))
    fst.finals.add(1)
    return g, fst, "%d nested one-or-more rules, <rK> = <rK+1>+" % n


SHAPES = [("words", shape_words), ("phrases", shape_phrases), ("names", shape_names),
          ("numbers", shape_numbers), ("nested", shape_nested), ("optref", shape_optref),
          ("command", shape_command), ("plus", shape_plus)]


TIME = shutil.which("time") and os.path.exists("/usr/bin/time") and "/usr/bin/time"


def run(cmd):
    """Runs cmd; returns (wall seconds, peak RSS in MB, CPU seconds: user
    and system), raising on failure.
    The peak comes from /usr/bin/time where it exists: the peak that wait4
    reports for a child of this script includes the interpreter's own memory
    from before the exec."""
    stats = None
    if TIME:
        fd, stats = tempfile.mkstemp()
        os.close(fd)
        cmd = [TIME, "-o", stats, "-f", "%M"] + cmd
    t0 = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = p.stderr.read()
    _, status, ru = os.wait4(p.pid, 0)
    wall = time.monotonic() - t0
    rc = os.waitstatus_to_exitcode(status)
    peak = ru.ru_maxrss
    if stats:
        with open(stats) as f:
            peak = int(f.read().split()[-1])
        os.unlink(stats)
    if rc != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), rc, err.decode(errors="replace")))
    return wall, peak / 1024.0, ru.ru_utime + ru.ru_stime


def fsg_size(path):
    """States (without the end state) and arcs of the main network of an FSG."""
    with open(path, "rb") as f:
        data = f.read()
    ns = struct.unpack_from("<i", data, 68)[0]
    arcs = struct.unpack_from("<i", data, 72 + 4 * ns)[0]
    return ns - 1, arcs


def fst_size(path):
    out = subprocess.run(["fstinfo", path], capture_output=True, text=True, check=True).stdout
    info = {}
    for line in out.splitlines():
        parts = line.rsplit(None, 1)
        if len(parts) == 2:
            info[parts[0].strip()] = parts[1]
    return int(info["# of states"]), int(info["# of arcs"])


def median_run(runs, once):
    results = [once() for _ in range(runs)]
    return tuple(statistics.median(r[k] for r in results) for k in range(3))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[1] if __doc__ else None)
    ap.add_argument("--ksbnfc", default=os.path.join(here, "..", "build", "tools", "ksbnfc"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--sizes", default="0.25,0.5,1")
    ap.add_argument("--shapes", default=",".join(s for s, _ in SHAPES))
    ap.add_argument("--keep", help="directory to keep the generated files in")
    ap.add_argument("--no-openfst", action="store_true", help="time ksbnfc only")
    ap.add_argument("--before", help="a second ksbnfc to compare with (time and memory over ours)")
    args = ap.parse_args()

    if not os.access(args.ksbnfc, os.X_OK):
        sys.exit("no ksbnfc at %s (build it, or pass --ksbnfc)" % args.ksbnfc)
    have_fst = all(shutil.which(t) for t in ("fstcompile", "fstrmepsilon", "fstdeterminize", "fstminimize", "fstinfo"))
    if args.no_openfst:
        have_fst = False
    elif not have_fst:
        print("fstcompile not found: OpenFst columns skipped (apt-get install libfst-tools)")
    work = args.keep or tempfile.mkdtemp(prefix="ksbnfc_vs_fst.")
    os.makedirs(work, exist_ok=True)
    wanted = args.shapes.split(",")
    sizes = [float(x) for x in args.sizes.split(",")]

    print("%-8s %5s %9s %9s %8s %9s %9s | %9s %9s %8s %9s %9s | %6s %6s%s  %s" % (
        "shape", "size", "ours s", "ours cpu", "ours MB", "states", "arcs", "fst s", "fst cpu", "fst MB", "states",
        "arcs", "cpu", "mem",
        " %7s %7s" % ("was cpu", "was mem") if args.before else "", "grammar"))
    for name, make in SHAPES:
        if name not in wanted:
            continue
        for scale in sizes:
            g, fst, what = make(scale)
            base = os.path.join(work, "%s-%g" % (name, scale))
            with open(base + ".bnf", "w") as f:
                f.write(g)
            out = base + ".fsg"
            t, m, c = median_run(args.runs, lambda: run([args.ksbnfc, "-en", base + ".bnf", "-o", out]))
            states, arcs = fsg_size(out)
            row = "%-8s %5g %9.3f %9.3f %8.1f %9d %9d |" % (name, scale, t, c, m, states, arcs)
            if have_fst:
                fst.write(base + ".txt", base + ".syms")
                stages = [["fstcompile", "--acceptor", "--isymbols=" + base + ".syms", "--keep_isymbols",
                           base + ".txt", base + ".a.fst"],
                          ["fstrmepsilon", base + ".a.fst", base + ".b.fst"],
                          ["fstdeterminize", base + ".b.fst", base + ".c.fst"],
                          ["fstminimize", base + ".c.fst", base + ".d.fst"]]

                def pipeline():
                    results = [run(s) for s in stages]
                    return sum(r[0] for r in results), max(r[1] for r in results), sum(r[2] for r in results)

                ft, fm, fc = median_run(args.runs, pipeline)
                fs, fa = fst_size(base + ".d.fst")
                row += " %9.3f %9.3f %8.1f %9d %9d | %5.2fx %5.2fx" % (ft, fc, fm, fs, fa, c / max(fc, 1e-3), m / fm)
            if args.before:
                was = base + ".before.fsg"
                try:
                    bt, bm, bc = median_run(args.runs, lambda: run([args.before, "-en", base + ".bnf", "-o", was]))
                    row += " %6.2fx %6.2fx%s" % (bc / max(c, 1e-3), bm / m, "" if filecmp.cmp(out, was, shallow=False)
                                                  else " FILES DIFFER")
                except RuntimeError as e:
                    row += " before failed: %s" % str(e).rsplit(": ", 1)[-1].strip()
            print(row + "  " + what)
            sys.stdout.flush()
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()

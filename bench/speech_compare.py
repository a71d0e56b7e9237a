#!/usr/bin/env python3
"""speech_compare.py: settings compared on the records of bench/speech_noise.py.

    bench/speech_compare.py [--levels 15,9,6] [--changed] BASE.json OTHER.json...

Each file is the --records of one run of bench/speech_noise.py over the same
cache (the same mixes: figures from different mixes say nothing). For each
run, its accuracy in domain per voice set over the levels all the runs
share, and the share of out-of-domain speech not understood. With two runs
or more: for each voice set, the share that the best of the runs for each
recording would get right (the most any choice among these settings could
give), and the share that the run of the highest confidence gets right.
--changed lists the recordings whose result differs from the first run's.
"""
import argparse
import json
import os
import sys

SETS = ["tune", "held out", "real"]
# What a choice among the runs gets right for one recording, from its
# records in every run.
CHOICES = [("best of the runs", lambda rs: any(r["correct"] for r in rs)),
           ("highest confidence", lambda rs: max(rs, key=lambda r: r["confidence"] or 0)["correct"])]


def load(path):
    with open(path) as fp:
        return {(r["file"], r["grammar"]): r for r in map(json.loads, fp)}


def pct(n, d):
    return "%5.1f" % (100.0 * n / d) if d else "    -"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("records", nargs="+", help="the --records files of bench/speech_noise.py, the first the base")
    ap.add_argument("--levels", help="only these noise levels in dB, comma-separated (default: every one the runs share;"
                                     " clean speech is always counted)")
    ap.add_argument("--changed", action="store_true", help="list the recordings whose result differs from the first run's")
    a = ap.parse_args()
    runs = [load(p) for p in a.records]
    keys = set(runs[0])
    for r in runs[1:]:
        keys &= set(r)
    if not keys:
        sys.exit("speech_compare: the runs share no recording (were they made on the same cache?)")
    if a.levels:
        wanted = {int(x) for x in a.levels.split(",") if x}
        keys = {k for k in keys if runs[0][k]["level"] in wanted or not isinstance(runs[0][k]["level"], int)}
    noisy = [k for k in keys if isinstance(runs[0][k]["level"], int)]
    levels = sorted({runs[0][k]["level"] for k in noisy}, reverse=True)
    sets = sorted({runs[0][k]["set"] for k in keys}, key=lambda s: SETS.index(s) if s in SETS else len(SETS))
    print("levels: %s dB; in domain correct over noise, clean; out of domain not understood over noise"
          % ", ".join(map(str, levels)))
    print("%-24s" % "run" + "".join("%-26s" % s for s in sets))
    for path, run in zip(a.records, runs):
        row = "%-24s" % os.path.basename(path)[:23]
        for s in sets:
            ind = [run[k] for k in noisy if run[k]["set"] == s and run[k]["expected"] is not None]
            ood = [run[k] for k in noisy if run[k]["set"] == s and run[k]["expected"] is None]
            clean = [run[k] for k in keys if run[k]["set"] == s and run[k]["level"] is None and run[k]["expected"] is not None]
            row += "%s %s %s         " % (pct(sum(r["correct"] for r in ind), len(ind)),
                                         pct(sum(r["correct"] for r in clean), len(clean)),
                                         pct(sum(not r["understood"] for r in ood), len(ood)))
        print(row)
    if len(runs) > 1:
        for label, right in CHOICES:
            row = "%-24s" % label
            for s in sets:
                ind = [k for k in noisy if runs[0][k]["set"] == s and runs[0][k]["expected"] is not None]
                row += "%s                     " % pct(sum(right([r[k] for r in runs]) for k in ind), len(ind))
            print(row)
    if a.changed:
        for k in sorted(keys, key=lambda k: (str(runs[0][k]["level"]), k)):
            results = [(r[k]["correct"], r[k]["translation"]) for r in runs]
            if any(x != results[0] for x in results[1:]):
                r0 = runs[0][k]
                print("%s %s %s: expected %s;" % (r0["set"], r0["level"], os.path.basename(k[0]), r0["expected"]),
                      " | ".join("%s%s" % ("+" if c else "-", t) for c, t in results))


if __name__ == "__main__":
    main()

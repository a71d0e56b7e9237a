#!/usr/bin/env python3
"""speech_errors.py RECORDS [--levels L,...] [--sets S,...] [--list] [--ksspeech PATH]
                  [-- KSSPEECH OPTIONS...]: where ksspeech's wrong results
come from.

RECORDS is the --records file of speech_noise.py (run with the same
ksspeech options as given here). Each in-domain result whose translation is
wrong is decoded again with a grammar of two sentences, the one spoken and
the one heard, and beams so wide that nothing is pruned. The two sentences
cost the same to enter, and the scores of one search share their scale (the
recogniser measures each frame against the best of the states it keeps, so
scores of different searches do not compare), so the choice between them is
the acoustic model's:

  the acoustic model  it takes the heard sentence again: no search and no
                      weighting of the grammar would have found the right
                      one, only better features or a better model;
  the search          it takes the spoken sentence: the full search lost it
                      to its beams, to the grammar's branch costs or to the
                      insertion penalties;
  nothing heard       no sentence of the grammar was found.

A result that is right but not understood is counted apart (the threshold).
Clean and noisy recordings count; the quiet and channel ones do not.
Hesitations ("um", "uh", "er", "erm") are left out of the spoken sentence:
the search takes them as fillers. The real recordings, whose words the
records do not hold, are left out.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
from collections import Counter, defaultdict
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
HESITATIONS = {"um", "uh", "er", "erm"}
KINDS = ["the acoustic model", "the search", "nothing heard", "right, not understood"]
HYPOTHESIS = re.compile(r"ksspeech: hypothesis 1 \(score -?\d+ over \d+ frames, [a-z]+, margin \S+ a frame\): (.*)")
WIDE = ["--beam", "1e-300", "--pbeam", "1e-300", "--wbeam", "1e-300"]


def words(text):
    return [w for w in re.sub(r"[^a-z' ]", " ", text.lower()).split() if w not in HESITATIONS]


def choice(ksspeech, extra, spoken, heard, recording, tmp):
    """The sentence the acoustic model takes of spoken and heard (None if neither)."""
    with tempfile.NamedTemporaryFile("w", suffix=".bnf", dir=tmp, delete=False) as g:
        g.write("<<sentence>> = %s | %s .\n" % (" ".join(spoken), " ".join(heard)))
    p = subprocess.run([ksspeech, "-v", "--no-refit"] + extra + WIDE + [g.name, recording],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    os.unlink(g.name)
    m = HYPOTHESIS.search(p.stderr)
    return m.group(1).split() if m else None


def classify(ksspeech, extra, r, tmp):
    if r["translation"] == r["expected"]:
        return "right, not understood"
    if not r["words"]:
        return "nothing heard"
    spoken, heard = words(r["text"]), r["words"].split()
    return "the search" if choice(ksspeech, extra, spoken, heard, r["file"], tmp) == spoken else "the acoustic model"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("records")
    ap.add_argument("--ksspeech", default=os.path.join(ROOT, "build", "speech", "ksspeech"))
    ap.add_argument("--levels", help="only these noise levels in dB, comma-separated (\"clean\" for none)")
    ap.add_argument("--sets", default="tune,held out,hesitant", help="voice sets, comma-separated")
    ap.add_argument("--list", action="store_true", help="print each wrong result with its cause")
    ap.add_argument("extra", nargs="*", help="options passed to ksspeech (after --)")
    a = ap.parse_args()
    records = [json.loads(l) for l in open(a.records)]
    if records and "text" not in records[0]:
        sys.exit("speech_errors.py: %s has no spoken text: write it again with this speech_noise.py" % a.records)
    sets = a.sets.split(",")
    levels = None if not a.levels else [None if l == "clean" else int(l) for l in a.levels.split(",")]
    wrong = [r for r in records if r["expected"] is not None and r["set"] in sets and not r["correct"]
             and (r["level"] is None or isinstance(r["level"], int)) and (levels is None or r["level"] in levels)]
    print("%d wrong results of %s; a decode each, about a second apiece" % (len(wrong), a.records), file=sys.stderr)
    with tempfile.TemporaryDirectory() as tmp, ThreadPoolExecutor(2) as ex:
        kinds = list(ex.map(lambda r: classify(a.ksspeech, a.extra, r, tmp), wrong))

    if a.list:
        for r, kind in zip(wrong, kinds):
            print("%-20s %-7s %s\n    heard:  %s\n    spoken: %s" % (
                kind, "clean" if r["level"] is None else "%d dB" % r["level"],
                os.path.basename(r["file"]), r["words"], " ".join(words(r["text"]))))
    by = defaultdict(Counter)
    for r, kind in zip(wrong, kinds):
        by[r["level"]][kind] += 1
        by["all"][kind] += 1
    print("wrong in-domain results by cause (%s)" % ", ".join(sets))
    print("%-8s" % "level" + "".join("%24s" % k for k in KINDS))
    order = sorted((l for l in by if l != "all"), key=lambda l: -1000 if l is None else -l) + ["all"]
    for level in order:
        c = by[level]
        n = sum(c.values())
        label = "clean" if level is None else level if level == "all" else "%d dB" % level
        print("%-8s" % label + "".join("%24s" % ("%d (%.0f%%)" % (c[k], 100.0 * c[k] / n)) for k in KINDS))


if __name__ == "__main__":
    main()

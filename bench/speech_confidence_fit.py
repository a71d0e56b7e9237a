#!/usr/bin/env python3
"""speech_confidence_fit.py RECORDS: fits the confidence of ksspeech and
prints the threshold curve.

RECORDS is the --records file of speech_noise.py run with --threshold 0.
The confidence is a logistic function of the margin a frame between the
grammar search and the free phone loop; it is fitted (Newton's method on the
log-likelihood) on the tuning voices: an accepted in-domain result with the
right translation is a positive, every other accepted result (wrong
translation, or out-of-domain speech) a negative. The curve gives, for each
threshold, the in-domain share correct and understood (clean and the
average over noise) and the out-of-domain share not understood, for the
tuning and the held-out voices and the real recordings.
"""
import json
import math
import sys


def fit(xs, ys):
    a, b = 0.0, 0.0
    for _ in range(50):
        ga = gb = haa = hab = hbb = 0.0
        for x, y in zip(xs, ys):
            p = 1 / (1 + math.exp(-max(-30, min(30, a + b * x))))
            ga += y - p
            gb += (y - p) * x
            w = p * (1 - p)
            haa += w
            hab += w * x
            hbb += w * x * x
        det = haa * hbb - hab * hab
        if det <= 0:
            break
        a += (hbb * ga - hab * gb) / det
        b += (haa * gb - hab * ga) / det
    return a, b


def main():
    rs = [json.loads(l) for l in open(sys.argv[1])]
    acc = [r for r in rs if r["accepted"] and r["margin"] is not None]
    tune = [r for r in acc if r["set"] == "tune"]
    a, b = fit([r["margin"] for r in tune], [1 if r["expected"] is not None and r["hit"] else 0 for r in tune])
    print("logistic fit on %d accepted tuning results: bias %.4f, slope %.5f a margin unit" % (len(tune), a, b))

    def conf(r):
        if not r["accepted"] or r["margin"] is None:
            return 0.0
        return 1 / (1 + math.exp(-max(-30, min(30, a + b * r["margin"]))))

    print("%-9s %-8s %7s %7s %7s" % ("threshold", "set", "clean", "noise", "OOD rej"))
    for t in [0, 0.05, 0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.5, 0.6, 0.7]:
        for s in ["tune", "held out", "real"]:
            ind = [r for r in rs if r["set"] == s and r["expected"] is not None]
            ood = [r for r in rs if r["set"] == s and r["expected"] is None]
            ok = lambda r: r["hit"] and conf(r) >= t
            clean = [r for r in ind if r["level"] is None]
            levels = sorted({r["level"] for r in ind if r["level"] is not None})
            noise = sum(100.0 * sum(ok(r) for r in ind if r["level"] == l) / max(1, sum(1 for r in ind if r["level"] == l))
                        for l in levels) / max(1, len(levels))
            rej = 100.0 * sum(1 for r in ood if conf(r) < t or not r["accepted"]) / max(1, len(ood))
            print("%-9.2f %-8s %7.1f %7.1f %7.1f" % (t, s.replace(" ", ""), 100.0 * sum(map(ok, clean)) / max(1, len(clean)),
                                                      noise, rej))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""speech_confidence_fit.py RECORDS [--words]: fits the confidence of ksspeech and
prints the threshold curve.

RECORDS is the --records file of speech_noise.py run with --threshold 0.
The confidence is a logistic function of the margin a frame between the
grammar search and the free phone loop; it is fitted (Newton's method on the
log-likelihood) on the tuning voices (with --words, of the margin and the
word margin, the mean of the three lowest): an accepted in-domain result with the
right translation is a positive, every other accepted result (wrong
translation, or out-of-domain speech) a negative. The curve gives, for each
threshold, the in-domain share correct and understood (clean and the
average over noise) and the out-of-domain share not understood, for the
tuning and the held-out voices and the real recordings.
"""
import json
import math
import sys


def solve(h, g):
    """x with h x = g, by Gaussian elimination with partial pivoting (None if singular)."""
    n = len(g)
    m = [row[:] + [g[i]] for i, row in enumerate(h)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        if abs(m[p][c]) < 1e-12:
            return None
        m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c:
                f = m[r][c] / m[c][c]
                m[r] = [a - f * b for a, b in zip(m[r], m[c])]
    return [m[i][n] / m[i][i] for i in range(n)]


def fit(xs, ys):
    """Logistic regression by Newton's method: weights w (bias first) of
    P(y = 1 | x) = 1 / (1 + exp(-(w0 + w1 x1 + ...)))."""
    n = len(xs[0]) + 1
    w = [0.0] * n
    for _ in range(50):
        g = [0.0] * n
        h = [[0.0] * n for _ in range(n)]
        for x, y in zip(xs, ys):
            v = [1.0] + list(x)
            p = 1 / (1 + math.exp(-max(-30, min(30, sum(a * b for a, b in zip(w, v))))))
            for i in range(n):
                g[i] += (y - p) * v[i]
                for j in range(n):
                    h[i][j] += p * (1 - p) * v[i] * v[j]
        d = solve(h, g)
        if d is None:
            break
        w = [a + b for a, b in zip(w, d)]
    return w


def main():
    rs = [json.loads(l) for l in open(sys.argv[1])]
    features = ["margin"] + (["word_margin"] if "--words" in sys.argv else [])
    acc = [r for r in rs if r["accepted"] and all(r.get(f) is not None for f in features)]
    tune = [r for r in acc if r["set"] == "tune"]
    w = fit([[r[f] for f in features] for r in tune], [1 if r["expected"] is not None and r["hit"] else 0 for r in tune])
    print("logistic fit on %d accepted tuning results: bias %.4f, %s" %
          (len(tune), w[0], ", ".join("%s %.5f" % (f, x) for f, x in zip(features, w[1:]))))

    def conf(r):
        if not r["accepted"] or any(r.get(f) is None for f in features):
            return 0.0
        z = w[0] + sum(x * r[f] for f, x in zip(features, w[1:]))
        return 1 / (1 + math.exp(-max(-30, min(30, z))))

    print("%-9s %-8s %7s %7s %7s" % ("threshold", "set", "clean", "noise", "OOD rej"))
    for t in [0, 0.05, 0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.5, 0.6, 0.7]:
        for s in ["tune", "held out", "real"]:
            ind = [r for r in rs if r["set"] == s and r["expected"] is not None]
            ood = [r for r in rs if r["set"] == s and r["expected"] is None]
            ok = lambda r: r["hit"] and conf(r) >= t
            clean = [r for r in ind if r["level"] is None]
            levels = sorted({r["level"] for r in ind if isinstance(r["level"], int)})
            noise = sum(100.0 * sum(ok(r) for r in ind if r["level"] == l) / max(1, sum(1 for r in ind if r["level"] == l))
                        for l in levels) / max(1, len(levels))
            rej = 100.0 * sum(1 for r in ood if conf(r) < t or not r["accepted"]) / max(1, len(ood))
            print("%-9.2f %-8s %7.1f %7.1f %7.1f" % (t, s.replace(" ", ""), 100.0 * sum(map(ok, clean)) / max(1, len(clean)),
                                                      noise, rej))


if __name__ == "__main__":
    main()

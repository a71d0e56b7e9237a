#!/usr/bin/env python3
"""speech_human.py: word error rate of ksspeech on real people's speech, clean
and in noise, through a free loop of words.

    bench/speech_human.py [--ksspeech build/speech/ksspeech] [--cache build/bench_speech]
                          [--levels 18,12,6] [--noises pink,babble,kitchen] [--pad S]
                          [-- KSSPEECH OPTIONS...]

The settings of ksspeech are tuned on synthesised voices (speech_noise.py),
and a setting can suit those voices without suiting people. This check
takes the recordings of people in pocketsphinx-testdata that come with their
words (five sentences read from a book, five strings of playing cards, one
robot command: 96 words), mixes in the noise benchmark's noises by its rule
(the same noise files, the same peak-frame ratio), and decodes each with a
grammar that is any sequence of the transcripts' words and some others that
sound like them. With no sentence structure to lean on, every word has to
be heard, so a setting that helps or hurts the acoustics shows in the word
error rate on only a few recordings. The recordings are cut close to their
words; --pad adds that much silence either side first, as a recording
started before the speaker spoke and stopped after (with a faint hiss
under all of it), and the noise fills it.
"""
import argparse
import json
import os
import random
import re
import resource
import subprocess
import sys
import time

import speech_noise as sn

DATA = sn.DATA
# Words that sound like the transcripts' or share their phones, so the
# loop has wrong words to choose.
DISTRACTORS = ("the a of and to in is was he she it man woman young old made more less much many house "
               "cold hot clubs hearts spades diamonds queen king jack ace two three four five six seven "
               "eight nine ten back left right turn").split()


def transcripts():
    """(source path, words) of each recording of people with known words."""
    out = []
    for line in open(os.path.join(DATA, "librivox", "transcription")):
        m = re.match(r"<s> (.*) </s> \((.*)\)", line.strip())
        if m:
            out.append((os.path.join(DATA, "librivox", m.group(2) + ".wav"), m.group(1).split()))
    for k, line in enumerate(open(os.path.join(DATA, "cards", "cards.transcription"))):
        words = [w for w in line.split() if w not in ("<s>", "</s>") and not w.startswith("(")]
        out.append((os.path.join(DATA, "cards", "%03d.wav" % (k + 1)), words))
    out.append((os.path.join(DATA, "goforward.raw"), "go forward ten meters".split()))
    return out


def edits(ref, hyp):
    """Word edit distance (substitutions, deletions, insertions)."""
    d = list(range(len(hyp) + 1))
    for i in range(1, len(ref) + 1):
        prev, d[0] = d[:], i
        for j in range(1, len(hyp) + 1):
            d[j] = min(prev[j] + 1, d[j - 1] + 1, prev[j - 1] + (ref[i - 1] != hyp[j - 1]))
    return d[len(hyp)]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ksspeech", default=os.path.join(sn.ROOT, "build", "speech", "ksspeech"))
    ap.add_argument("--cache", default=os.path.join(sn.ROOT, "build", "bench_speech"))
    ap.add_argument("--levels", default="18,12,6", help="noise levels in dB, comma-separated")
    ap.add_argument("--noises", default="pink,babble,kitchen",
                    help="noises of the noise benchmark, comma-separated (%s)" % ",".join(sn.NOISES))
    ap.add_argument("--pad", type=float, default=0,
                    help="seconds of silence added either side of each recording before the noise")
    ap.add_argument("extra", nargs="*", help="options passed to ksspeech (after --)")
    a = ap.parse_args()
    levels = [int(x) for x in a.levels.split(",") if x]
    kinds = [k for k in a.noises.split(",") if k]
    for k in kinds:
        if k not in sn.NOISES:
            sys.exit("speech_human.py: no noise '%s' (%s)" % (k, ", ".join(sn.NOISES)))

    noises = sn.make_noises(a.cache)
    d = os.path.join(a.cache, "human" if not a.pad else "human_pad%g" % a.pad)
    os.makedirs(d, exist_ok=True)
    files = {} # path -> (condition, words)
    vocabulary = set(DISTRACTORS)
    for src, words in transcripts():
        vocabulary.update(words)
        name = os.path.basename(src).replace(".raw", ".wav")
        clean = os.path.join(d, "clean_" + name)
        if not a.pad:
            sn.to_wav(src, clean)
        elif not os.path.exists(clean):
            sn.to_wav(src, clean + ".src.wav")
            sn.pad_recording(clean + ".src.wav", clean, a.pad, noises)
            os.remove(clean + ".src.wav")
        files[clean] = (("clean", None), words)
        for level in levels:
            for kind in kinds:
                f = os.path.join(d, "%s_%d_%s" % (kind, level, name))
                if not os.path.exists(f):
                    sn.write_wav(f, sn.mix(sn.read_wav(clean), noises[kind], level, random.Random(f)))
                files[f] = ((kind, level), words)
    grammar = os.path.join(d, "loop.bnf")
    with open(grammar, "w") as g:
        g.write("<<loop>> = <word>+ .\n<word> = %s .\n" % " | ".join(sorted(vocabulary)))

    paths = sorted(files)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.time()
    cmd = [a.ksspeech, "--json", "--threshold", "0"] + a.extra + [grammar]
    halves = [paths[0::2], paths[1::2]]
    procs = [subprocess.Popen(cmd + h, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) for h in halves]
    heard = {}
    for p in procs:
        out, err = p.communicate()
        if p.returncode not in (0, 1):
            sys.exit("ksspeech failed (%d): %s" % (p.returncode, err[-2000:]))
        for line in out.splitlines():
            o = json.loads(line)
            heard[o["file"]] = (o.get("words") or "").split()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)

    errors, counts = {}, {}
    for f, (cond, words) in files.items():
        errors[cond] = errors.get(cond, 0) + edits(words, heard.get(f, []))
        counts[cond] = counts.get(cond, 0) + len(words)

    def wer(conds):
        e, n = sum(errors[c] for c in conds), sum(counts[c] for c in conds)
        return 100.0 * e / max(n, 1)

    print("ksspeech options: %s" % (" ".join(a.extra) or "(defaults)") +
          ("; %g s of silence added either side" % a.pad if a.pad else ""))
    print("word error rate %%, %d words a condition" % counts[("clean", None)])
    print("%-10s" % "" + "".join("%7s" % ("%ddB" % l) for l in levels) + "    all")
    print("%-10s" % "clean" + "%7.1f" % wer([("clean", None)]))
    for kind in kinds:
        print("%-10s" % kind + "".join("%7.1f" % wer([(kind, l)]) for l in levels) +
              "%7.1f" % wer([(kind, l) for l in levels]))
    print("%-10s" % "noise" + "".join("%7.1f" % wer([(k, l) for k in kinds]) for l in levels) +
          "%7.1f" % wer([c for c in counts if c[0] != "clean"]))
    print("CPU %.1f s, wall %.1f s, %d recordings" % (cpu, time.time() - t0, len(paths)))


if __name__ == "__main__":
    main()

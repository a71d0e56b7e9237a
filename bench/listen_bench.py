#!/usr/bin/env python3
"""listen_bench.py: ksspeech --listen fed in real time with spoken commands
(bench/speech_streams.py) separated by 0.3 to 3 s, under steady noise as
quiet as the recordings' own, or louder. Prints, for each kind of gap: the delay from the end
of speech to its line (median, 95th percentile), utterances lost, merged,
split and spurious, words right; then the processor use while idle, and the
memory over an hour of audio fed as fast as it is taken.
    bench/listen_bench.py build/speech/ksspeech [--rounds N] [--hour-minutes M]"""
import argparse, array, json, os, random, statistics, subprocess, sys, threading, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import speech_streams

RATE = 16000
GAPS = [0.3, 0.5, 0.8, 1.2, 2.0, 3.0]


def build_stream(utts, rounds, noise, rng):
    """The samples, and [(words, start, end, shorter gap beside it)], times
    in seconds."""
    out, refs = array.array("h"), []
    order = [u for _ in range(rounds) for u in utts]
    rng.shuffle(order)
    for i, (words, a, s, e) in enumerate(order):
        gap = GAPS[i % len(GAPS)]
        out.extend([0] * int(gap * RATE))
        after = GAPS[(i + 1) % len(GAPS)] if i + 1 < len(order) else 1.5
        refs.append((words, (len(out) + s) / RATE, (len(out) + e) / RATE, min(gap, after)))
        out.extend(a)
    out.extend([0] * int(1.5 * RATE))
    if noise:
        for i in range(len(out)):
            out[i] = max(-32768, min(32767, out[i] + int(rng.gauss(0, noise))))
    return out, refs


def feed(tool, grammar, samples, realtime, extra=()):
    """Runs ksspeech --listen on samples; returns (lines with arrival times
    after sample 0, cpu seconds after the model loaded, peak memory MB,
    samples of RSS)."""
    p = subprocess.Popen([tool, "--listen", grammar] + list(extra), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    lines = []
    t0 = [None]
    reader = threading.Thread(target=lambda: [lines.append((time.monotonic(), l)) for l in p.stdout])
    reader.start()
    time.sleep(3)  # the model loads
    raw = samples.tobytes()
    chunk = RATE // 50 * 2  # 20 ms
    rss = []
    cpu0 = speech_streams.cpu_seconds(p.pid)
    t0[0] = time.monotonic()
    for i in range(0, len(raw), chunk):
        if realtime:
            wait = t0[0] + i / 2 / RATE - time.monotonic()
            if wait > 0:
                time.sleep(wait)
        p.stdin.write(raw[i:i + chunk])
        p.stdin.flush()
        if i % (chunk * 3000) == 0:
            rss.append(speech_streams.memory_mb(p.pid, "VmRSS"))
    cpu = speech_streams.cpu_seconds(p.pid) - cpu0
    peak = speech_streams.memory_mb(p.pid, "VmHWM")
    p.stdin.close()
    reader.join()
    p.wait()
    return [(t - t0[0], json.loads(l)) for t, l in lines], cpu, peak, rss


def score(refs, lines):
    got = [(t, l) for t, l in lines if "end" in l]
    hit = {i: [] for i in range(len(refs))}
    spurious = 0
    for t, l in got:
        over = [i for i, (_, s, e, _) in enumerate(refs) if l["start"] < e + 0.05 and l["end"] > s - 0.05]
        if not over:
            spurious += 1
        for i in over:
            hit[i].append((t, l, len(over)))
    delays, lost, merged, split, right = {}, 0, 0, 0, 0
    for i, (words, s, e, gap) in enumerate(refs):
        h = hit[i]
        if not h:
            lost += 1
            continue
        if len(h) > 1:
            split += 1
        if any(n > 1 for _, _, n in h):
            merged += 1
            continue
        t, l, _ = h[-1]
        right += l["words"] == words
        delays.setdefault(gap >= 0.5, []).append(t - e)
    return delays, lost, merged, split, spurious, right, len(got)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--grammar", default=os.path.join(os.path.dirname(__file__), "..", "examples", "robot.bnf"))
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("--hour-minutes", type=float, default=60)
    a = ap.parse_args()
    rng = random.Random(7)
    utts = speech_streams.utterances()
    print("listen_bench: %d spoken commands (2 recordings, espeak-ng, flite), %d rounds, gaps %s s"
          % (len(utts), a.rounds, GAPS))
    for name, noise in [("a quiet room (white noise at -58 dBFS)", 40), ("noise (white, -37 dBFS)", 450)]:
        samples, refs = build_stream(utts, a.rounds, noise, rng)
        lines, cpu, peak, _ = feed(a.tool, a.grammar, samples, True)
        delays, lost, merged, split, spurious, right, n = score(refs, lines)
        audio = len(samples) / RATE
        print("gaps of %s: %d utterances in %.0f s fed in real time, %d lines" % (name, len(refs), audio, n))
        for big in (True, False):
            d = delays.get(big, [])
            print("  between gaps %s 0.5 s: end of speech to line: median %.0f ms, 95th percentile %.0f ms (%d)"
                  % (">=" if big else "<", speech_streams.percentile_ms(d, 0.5), speech_streams.percentile_ms(d, 0.95), len(d)))
        print("  lost %d, merged %d, split %d, spurious %d; words right %d of %d; cpu %.1f s (%.1f%% of the audio), peak %d MB"
              % (lost, merged, split, spurious, right, len(refs), cpu, 100 * cpu / audio, peak))
    silence = array.array("h", [int(rng.gauss(0, 40)) for _ in range(20 * RATE)])
    _, cpu, _, _ = feed(a.tool, a.grammar, silence, True)
    print("idle: 20 s of quiet in real time: cpu %.2f s (%.2f%% of one core)" % (cpu, 100 * cpu / 20))
    if a.hour_minutes > 0:
        one, _ = build_stream(utts, 1, 450, rng)
        reps = int(a.hour_minutes * 60 * RATE / len(one)) + 1
        big = array.array("h", one.tobytes() * reps)
        t = time.monotonic()
        lines, cpu, peak, rss = feed(a.tool, a.grammar, big, False)
        print("%.0f min of audio as fast as taken: %.0f s wall, cpu %.0f s, %d lines; RSS MB at each tenth: %s; peak %d MB"
              % (len(big) / RATE / 60, time.monotonic() - t, cpu, len(lines), rss[::max(1, len(rss) // 10)], peak))


main()

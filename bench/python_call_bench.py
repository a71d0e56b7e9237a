#!/usr/bin/env python3
"""python_call_bench.py: what Python adds to a call. The per-call time of
Fsg.test and Fsg.translate on one-word strings (a str, and a list of one
str) against flat word lists of 1,000 and 65,000 words compiled for the
engine, beside KsTest and KsGetTranslation on the same file and words
(bench/call_bench), and the difference: the overhead. Two builds of the
module can be measured in the same run, each round running every contender
in turn in its own process; prints the medians over the rounds of the
processor (user + sys) and wall time per call, and checks that both
builds give the same results for every word and for a few odd inputs.

    bench/python_call_bench.py [--before DIR] [--after DIR] [--c PROGRAM]
                               [--sizes 1000,65000] [--calls N] [--rounds N]

DIR is a build's python/ folder (default build/python as --after); PROGRAM
is call_bench (default build/bench/call_bench, built with
-DKSBNFC_BUILD_BENCH=ON). A build of another commit for --before:
    git archive main | tar -x -C /tmp/before && cmake -S /tmp/before -B /tmp/before/build \\
        && cmake --build /tmp/before/build --target ksbnfc_python
"""
import argparse, os, random, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# Inputs beside the word list whose results both builds must agree on.
ODD = ["", "   ", "name1 name2", "\tname3\n", "nameless", "näme", "name\u2615", "name\0", "a\x1cb",
       ["name4"], ("name5",), ["name6", b"name7"], [b"name8"], ["nam\0e"], [], ["\ud800"],
       ["name9", None], [bytearray(b"name10")], [1], b"name11", iter(["name12"]), "name13 " * 20]


def worker(fsg_file, words_file, calls):
    """Runs in the measured module's process: prints "name cpu_ns wall_ns"
    per call kind, then "check" and the results."""
    import ksbnfc
    g = ksbnfc.load(fsg_file)
    words = open(words_file).read().split("\n")
    lists = [[w] for w in words]
    for name, call, args in (("test", g.test, words), ("translate", g.translate, words),
                             ("test(list)", g.test, lists), ("translate(list)", g.translate, lists)):
        for a in args:  # every word once before the clock starts
            call(a)
        reps = calls // len(args) + 1
        seq = args * reps
        cpu, wall = time.process_time(), time.perf_counter()
        for a in seq:
            call(a)
        cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
        print(name, cpu / len(seq) * 1e9, wall / len(seq) * 1e9)
    results = []
    for w in words + ODD:
        try:
            results.append((g.test(w), g.translate(w)))
        except Exception as e:
            results.append("%s: %s" % (type(e).__name__, e))
    print("check", repr(results))


def run(cmd, env=None):
    p = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if p.returncode != 0:
        sys.exit("python_call_bench: %s failed:\n%s" % (cmd[0], p.stderr))
    times, check = {}, None
    for line in p.stdout.splitlines():
        if line.startswith("check "):
            check = line[6:]
        else:
            name, cpu, wall = line.split()
            times[name] = (float(cpu), float(wall))
    return times, check


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--before", help="python/ folder of the build to compare with")
    ap.add_argument("--after", default=os.path.join(ROOT, "build", "python"))
    ap.add_argument("--c", default=os.path.join(ROOT, "build", "bench", "call_bench"))
    ap.add_argument("--sizes", default="1000,65000")
    ap.add_argument("--calls", type=int, default=200000, help="calls per kind and round")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--worker", nargs=3, help=argparse.SUPPRESS)
    a = ap.parse_args()
    if a.worker:
        return worker(a.worker[0], a.worker[1], int(a.worker[2]))

    builds = ([("before", a.before)] if a.before else []) + [("after", a.after)]
    tmp = tempfile.mkdtemp(prefix="python_call_bench.")
    rows = []
    for n in [int(s) for s in a.sizes.split(",")]:
        bnf, fsg, words = (os.path.join(tmp, "flat%d.%s" % (n, ext)) for ext in ("bnf", "fsg", "txt"))
        with open(bnf, "w") as f:
            f.write("<<g>> = " + " | ".join("name%d" % i for i in range(n)) + " .\n")
        compile_ = "import ksbnfc, sys; open(sys.argv[1], 'wb').write(ksbnfc.compile(sys.argv[2], 'engine')['g'])"
        subprocess.run([sys.executable, "-c", compile_, fsg, bnf], check=True, env=dict(os.environ, PYTHONPATH=a.after))
        rng = random.Random(12345)
        with open(words, "w") as f:
            f.write("\n".join("name%d" % rng.randrange(n) for _ in range(10000)))

        contenders = [("C", [a.c, fsg, words, str(a.calls)], None)]
        for label, path in builds:
            contenders.append((label, [sys.executable, __file__, "--worker", fsg, words, str(a.calls)],
                               dict(os.environ, PYTHONPATH=path, PYTHONDONTWRITEBYTECODE="1")))
        samples = {label: [] for label, _, _ in contenders}
        checks = {}
        for r in range(a.rounds):
            for label, cmd, env in contenders[r % len(contenders):] + contenders[:r % len(contenders)]:
                times, check = run(cmd, env)
                samples[label].append(times)
                if check is not None:
                    checks[label] = check
        if len(set(checks.values())) > 1:
            sys.exit("python_call_bench: the builds' results differ on the %d-word list" % n)

        def median(label, call, i):
            return statistics.median(s[call][i] for s in samples[label])

        for call in ("test", "translate", "test(list)", "translate(list)"):
            c = call.replace("(list)", "")
            row = ["%d words" % n, call, median("C", c, 0), median("C", c, 1)]
            for label, _ in builds:
                row += [median(label, call, 0), median(label, call, 1)]
            rows.append(row)

    labels = [label for label, _ in builds]
    print("per call, ns: processor (user + sys), wall in brackets; medians of %d rounds of %d calls; "
          "overhead = Python - C by processor time" % (a.rounds, a.calls))
    head = "%-12s %-16s %16s" % ("grammar", "call", "C")
    for label in labels:
        head += " %16s %10s" % ("Python " + label, "overhead")
    if len(labels) == 2:
        head += " %14s" % "before / after"
    print(head)
    for row in rows:
        line = "%-12s %-16s %7.0f (%6.0f)" % tuple(row[:4])
        over = []
        for k in range(len(labels)):
            cpu, wall = row[4 + 2 * k], row[5 + 2 * k]
            over.append(cpu - row[2])
            line += " %7.0f (%6.0f) %10.0f" % (cpu, wall, over[-1])
        if len(labels) == 2:
            line += " %14.2f" % (over[0] / over[1] if over[1] > 0 else float("inf"))
        print(line)
    if len(labels) == 2:
        print("the results of both builds agree on every word and on %d odd inputs" % len(ODD))
    subprocess.run(["rm", "-rf", tmp])


if __name__ == "__main__":
    main()

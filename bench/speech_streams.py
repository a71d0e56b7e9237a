"""speech_streams.py: spoken robot commands for the listening and service
benchmarks: the recogniser's shipped recordings and sentences of
examples/robot.bnf spoken by espeak-ng and flite, as 16 kHz 16-bit mono
samples with the span of their speech; and what /proc says of a process."""
import array, os, shutil, subprocess, tempfile

DATA = "/usr/share/pocketsphinx/test/data"
RECORDINGS = [("goforward.raw", "go forward ten meters"), ("tidigits/dhd.2934z.raw", "two nine three four zero")]
SENTENCES = ["turn left", "go forward ten meters", "move back two steps", "drive ahead fifty feet",
             "turn around", "stop", "two nine three four zero", "go backward twelve feet",
             "turn right", "move forward a hundred meters", "seven seven one", "drive back eleven steps"]


def _sox(args, out):
    subprocess.run(["sox", "-R"] + args + ["-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e", "signed", out],
                   check=True, stderr=subprocess.DEVNULL)


def utterances():
    """[(words, samples, speech_start, speech_end)], the span in samples."""
    tmp = tempfile.mkdtemp()
    try:
        clips = []
        for path, words in RECORDINGS:
            clips.append((words, open(os.path.join(DATA, path), "rb").read()))
        for i, s in enumerate(SENTENCES):
            wav = os.path.join(tmp, "s.wav")
            if i % 2 == 0 and shutil.which("flite"):
                subprocess.run(["flite", "-t", s, "-o", wav], check=True)
            else:
                subprocess.run(["espeak-ng", "-v", "en-us", "-s", "140", "-w", wav, s], check=True)
            _sox([wav], os.path.join(tmp, "s.raw"))
            clips.append((s, open(os.path.join(tmp, "s.raw"), "rb").read()))
    finally:
        shutil.rmtree(tmp)
    out = []
    for words, raw in clips:
        a = array.array("h", raw)
        # The speech: from the first to the last 10 ms frame 30 dB below
        # the loudest at most, and well above the recording's own noise.
        rms = [(sum(x * x for x in a[i:i + 160]) / 160) ** 0.5 for i in range(0, len(a) - 159, 160)]
        top, floor = max(rms), sorted(rms)[len(rms) // 5]
        active = [i for i, r in enumerate(rms) if r > max(top / 31.6, 3 * floor)]
        out.append((words, a, active[0] * 160, (active[-1] + 1) * 160))
    return out


def percentile_ms(xs, q):
    """The q-quantile of xs (seconds) in milliseconds; nan for none."""
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(q * len(xs)))] * 1000 if xs else float("nan")


def cpu_seconds(pid):
    """User and system time of the process so far."""
    f = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(f[11]) + int(f[12])) / os.sysconf("SC_CLK_TCK")


def memory_mb(pid, key):
    """VmRSS, VmHWM, ... of the process, in MB."""
    for line in open("/proc/%d/status" % pid):
        if line.startswith(key):
            return int(line.split()[1]) // 1024
    return 0

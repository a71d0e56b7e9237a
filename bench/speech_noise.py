#!/usr/bin/env python3
"""speech_noise.py: accuracy of ksspeech in noise and its "not understood"
rate on speech the grammar does not cover.

    bench/speech_noise.py [--ksspeech build/speech/ksspeech] [--cache build/bench_speech]
                          [--seed 1] [--records FILE] [--levels L,...] [--pad S]
                          [-- KSSPEECH OPTIONS...]

Speech: in-domain sentences of three grammars (bench/speech/*.bnf, each
sentence generated with its expected translation) and out-of-domain
sentences, spoken by espeak-ng voices and flite voices, and the real
recordings of pocketsphinx-testdata. Two voice sets: "tune" (the settings
were chosen on it) and "held out" (other voices and sentences, to check
that the choice generalises); "hesitant" is the held-out voices saying
further sentences with "um", "uh", "er" or "erm" between words, as people
do. Noise: pink, brown, mains hum under pink,
babble of eight voices, and a kitchen (appliance rumble, running water that
comes and goes, clinking dishes), made with sox, espeak-ng and here. A
recording is mixed at 24 to 6 dB: the noise, taken at a random offset, is
scaled by the ratio of the largest 2048-sample frame energies of speech and
noise. "quiet" is the clean recordings 30 dB down, as a distant or
turned-down microphone records them. The clean in-domain recordings of the
two voice sets also go through what a person's microphone or room may do:
clipped 12 dB too loud, cut off at 4 kHz, reverberant; the share of them
that ksspeech warned about is given too. The recordings have a third of a
second of silence either side; --pad adds that much more, with a faint hiss
50 dB under the speech, as a recording started well before the speaker
spoke and stopped well after, and the noise fills it too.

Correct: understood, and the translation is exactly the expected one (every
slot right). Out of domain: the share of results "not understood". RTF: CPU
time of the ksspeech processes (user+sys, grammar and model set-up
included) over the seconds of audio, and the decoder's own wall time over
the audio. Everything generated is cached under --cache, seeded.
"""
import argparse
import array
import audioop
import json
import math
import os
import random
import resource
import subprocess
import sys
import tempfile
import time
import wave
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DATA = "/usr/share/pocketsphinx/test/data"
LEVELS = [24, 21, 18, 15, 12, 9, 6]
# The clean recordings again, 30 dB quieter: a distant or turned-down
# microphone.
QUIET, QUIET_DB = "quiet", 30
RATE = 16000
# What a person's microphone or room may do to the clean in-domain
# recordings (sox effects): peaks clipped, 12 dB too loud; the band cut at
# 4 kHz, as through an 8 kHz link; a reverberant room.
CHANNELS = [("clipped", ["gain", "12"]), ("8 kHz link", ["rate", "8000", "rate", str(RATE)]),
            ("room", ["reverb", "30", "50", "40"])]

VOICES = {
    "tune": [("espeak", "en-us", 150), ("espeak", "en-us+f2", 140), ("espeak", "en-gb", 160),
             ("espeak", "en-gb-x-rp+m3", 145), ("espeak", "en-us+f4", 170), ("flite", "slt", 0),
             ("flite", "rms", 0), ("flite", "awb", 0)],
    "held out": [("espeak", "en-gb-scotland", 150), ("espeak", "en-gb-x-gbclan+f3", 140),
                 ("espeak", "en-gb-x-gbcwmd", 160), ("espeak", "en-029+m2", 150), ("flite", "kal16", 0)],
}
BABBLE = [("espeak", v, s) for v, s in [("en-us+m1", 160), ("en-us+f1", 150), ("en-gb+m4", 170),
                                        ("en-gb+f5", 140), ("en-029+m7", 155), ("en-gb-scotland+f2", 165),
                                        ("en-us+m5", 145), ("en-gb-x-rp+f3", 150)]]
NOISES = ["pink", "brown", "hum", "babble", "kitchen"]
HESITANT, HESITATIONS = 18, ["um", "uh", "er", "erm"]

OOD = {
    "tune": [
        "what is the weather going to be like tomorrow", "remind me to call my mother at six",
        "how far is it to the nearest train station", "the meeting has been moved to thursday afternoon",
        "i think we should paint the fence green", "can you tell me a joke about penguins",
        "my brother lives in a small town near the coast", "please send the report before lunch",
        "what time does the library close on sunday", "the children are playing football in the park",
        "how many ounces are there in a pound", "we need more bread and some eggs",
        "who won the game last night", "turn the page and read the next chapter",
        "the cat is sleeping on the warm windowsill", "is it going to snow this weekend",
        "add butter to the shopping list", "my flight leaves at half past nine",
        "how do you spell necessary", "the garden needs watering every evening",
        "open a new document and save it", "set an alarm for seven in the morning",
        "tell me the latest news headlines", "what is the capital of australia",
    ],
    "held out": [
        "where did i leave my car keys", "the dog barked at the postman all morning",
        "can you recommend a good italian restaurant", "how long should i boil an egg",
        "translate good morning into spanish", "the river flooded after the storm",
        "book a table for four people tonight", "what is the square root of eighty one",
        "my favourite colour has always been blue", "she plays the violin in an orchestra",
        "turn left at the next traffic lights", "how much does a new bicycle cost",
        "the museum opens at ten on weekdays", "call a taxi to the airport",
        "we watched a film about dinosaurs", "please water the plants while i am away",
    ],
}


def coffee(rng):
    pick = rng.choice
    n = pick([("a", "1"), ("one", "1"), ("two", "2"), ("three", "3"), ("four", "4")])
    size = pick([("small", "small"), ("medium", "medium"), ("large", "large"), ("", "regular")])
    roast = pick([("light roast", "light"), ("dark roast", "dark"), ("decaf", "decaf"), ("", "house"), ("", "house")])
    drink = pick([("latte", "latte"), ("cappuccino", "cappuccino"), ("americano", "americano"),
                  ("espresso", "espresso"), ("flat white", "flatwhite"), ("mocha", "mocha")])
    shots = pick([("with an extra shot", "double"), ("with two extra shots", "triple"), ("", "single"), ("", "single")])
    milk = pick([("with oat milk", "oat"), ("with soy milk", "soy"), ("with almond milk", "almond"),
                 ("with whole milk", "whole"), ("with skim milk", "skim"), ("with no milk", "none"), ("", "standard")])
    sugar = pick([("and one sugar", "1"), ("and two sugars", "2"), ("and three sugars", "3"), ("", "0")])
    words = drink[0] + ("s" if n[1] != "1" else "")
    first = (size[0] or roast[0] or words)
    if n[0] == "a" and first[0] in "aeiou":
        n = ("one", "1")
    opening = pick(["", "", "i'd like", "i would like", "can i have", "could i get", "give me", "i'll have"])
    said = [opening, n[0], size[0], roast[0], words, shots[0], milk[0], sugar[0], pick(["", "please"])]
    text = " ".join(w for w in said if w)
    return text, " ".join([n[1], size[1], roast[1], drink[1], shots[1], milk[1], sugar[1]])


def home(rng):
    pick = rng.choice
    room = pick([("kitchen", "kitchen"), ("living room", "livingroom"), ("bedroom", "bedroom"),
                 ("bathroom", "bathroom"), ("hallway", "hallway"), ("garage", "garage")])
    device = pick([("lights", "lights"), ("lamp", "lamp"), ("fan", "fan"), ("heater", "heater"),
                   ("television", "tv"), ("radio", "radio")])
    onoff = pick(["on", "off"])
    kind = rng.randrange(6)
    if kind == 0:
        text, tr = "turn %s the %s in the %s" % (onoff, device[0], room[0]), "%s %s %s" % (device[1], onoff, room[1])
    elif kind == 1:
        text, tr = "turn the %s in the %s %s" % (device[0], room[0], onoff), "%s %s %s" % (device[1], onoff, room[1])
    elif kind == 2:
        t = pick([("sixty", "60"), ("sixty five", "65"), ("sixty eight", "68"), ("seventy", "70"),
                  ("seventy two", "72"), ("seventy five", "75")])
        text, tr = "set the %s thermostat to %s degrees" % (room[0], t[0]), "thermostat %s %s" % (t[1], room[1])
    elif kind == 3:
        p = pick([("ten", "10"), ("twenty", "20"), ("thirty", "30"), ("forty", "40"), ("fifty", "50")])
        text, tr = "dim the %s lights to %s percent" % (room[0], p[0]), "lights %s %s" % (p[1], room[1])
    elif kind == 4:
        op, door = pick(["lock", "unlock", "open", "close"]), pick(["front", "back", "garage"])
        text, tr = "%s the %s door" % (op, door), "door %s %s" % (op, door)
    else:
        g = pick(["jazz", "rock", "classical", "pop"])
        text, tr = "play %s music in the %s" % (g, room[0]), "music %s %s" % (g, room[1])
    lead, tail = pick(["", "", "please", "hey house", "could you"]), pick(["", "", "please"])
    return " ".join(w for w in [lead, text, tail] if w), tr


GRAMMARS = {"coffee6": (os.path.join(HERE, "speech", "coffee6.bnf"), coffee),
            "home": (os.path.join(HERE, "speech", "home.bnf"), home)}
REAL = [("cards", "cards/001.wav", "10c"), ("cards", "cards/002.wav", "4 qc"), ("cards", "cards/003.wav", "7c"),
        ("cards", "cards/004.wav", "5 5"), ("cards", "cards/005.wav", "8s 4c 7h"),
        ("robot", "goforward.raw", "move forward 10 m"), ("robot", "tidigits/dhd.2934z.raw", "digits 29340")]
REAL_GRAMMARS = {"cards": os.path.join(HERE, "speech", "cards.bnf"), "robot": os.path.join(ROOT, "examples", "robot.bnf")}


# sox in its repeatable mode: its noise generators and dither otherwise
# seed themselves from the clock, and each new cache would hold other noise.
SOX = ["sox", "-R"]


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def speak(voice, text, out):
    """Speaks text with voice (engine, name, speed) into out, 16 kHz, with
    a third of a second of silence either side."""
    if os.path.exists(out):
        return
    engine, name, speed = voice
    with tempfile.NamedTemporaryFile(suffix=".wav") as tmp:
        if engine == "espeak":
            run(["espeak-ng", "-v", name, "-s", str(speed), "-w", tmp.name, text])
        else:
            run(["flite", "-voice", name, "-t", text, "-o", tmp.name])
        run(SOX + [tmp.name, "-r", str(RATE), "-c", "1", "-b", "16", out + ".tmp.wav", "pad", "0.33", "0.33"])
    os.rename(out + ".tmp.wav", out)


def to_wav(src, out):
    """Converts the recording src (a WAV file, or raw samples in a .raw
    file) to out, 16 kHz 16-bit mono, unless out exists."""
    if os.path.exists(out):
        return
    raw = ["-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1"] if src.endswith(".raw") else []
    run(SOX + raw + [src, "-r", str(RATE), "-c", "1", "-b", "16", out])


def read_wav(path):
    with wave.open(path) as w:
        return w.readframes(w.getnframes())


def write_wav(path, data):
    with wave.open(path + ".tmp", "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data)
    os.rename(path + ".tmp", path)


def make_noises(cache):
    d = os.path.join(cache, "noise")
    os.makedirs(d, exist_ok=True)
    fmt = ["-r", str(RATE), "-c", "1", "-b", "16"]
    out = {n: os.path.join(d, n + ".wav") for n in NOISES}
    if not os.path.exists(out["pink"]):
        run(SOX + ["-n"] + fmt + [out["pink"], "synth", "60", "pinknoise", "vol", "0.5"])
    if not os.path.exists(out["brown"]):
        run(SOX + ["-n"] + fmt + [out["brown"], "synth", "60", "brownnoise", "vol", "0.5"])
    if not os.path.exists(out["hum"]):
        parts = []
        for i, f in enumerate([50, 100, 150, 250]):
            p = os.path.join(d, "hum%d.wav" % i)
            run(SOX + ["-n"] + fmt + [p, "synth", "60", "sine", str(f), "vol", str(0.3 / (i + 1))])
            parts.append(p)
        run(SOX + ["-m"] + parts + [out["pink"], out["hum"]])
    if not os.path.exists(out["babble"]):
        texts = OOD["tune"] + OOD["held out"]
        parts = []
        for i, v in enumerate(BABBLE):
            rng = random.Random(100 + i)
            t = texts[:]
            rng.shuffle(t)
            p = os.path.join(d, "babble%d.wav" % i)
            speak(v, ". ".join(t), p)
            p60 = p[:-4] + "_60.wav"
            run(SOX + [p, p60, "repeat", "3", "trim", "0", "60"])
            parts.append(p60)
        run(SOX + ["-m"] + parts + [out["babble"], "norm", "-6"])
    if not os.path.exists(out["kitchen"]):
        make_kitchen(d, fmt, out["kitchen"])
    return {n: read_wav(p) for n, p in out.items()}


def make_kitchen(d, fmt, out):
    """Kitchen noise: the rumble of appliances, water running now and then,
    and the clatter of dishes and cutlery: clinks of two or three damped
    partials at 1.5 to 6 kHz, a few a second, some in quick runs. Unlike the
    other noises it comes and goes, so its loudest frame (which sets the
    mixing level) stands far above its average."""
    rng = random.Random(7)
    n = 60 * RATE
    clinks = [0.0] * n
    t = rng.expovariate(1.6)
    while t < 60:
        for b in range(rng.randrange(1, 4) if rng.random() < 0.3 else 1):
            start = int((t + b * rng.uniform(0.05, 0.15)) * RATE)
            amp = rng.uniform(0.1, 1.0)
            for _ in range(rng.randrange(2, 4)):
                f, tau, g = rng.uniform(1500, 6000), rng.uniform(0.02, 0.15), amp * rng.uniform(0.3, 1.0)
                w, decay = 2 * math.pi * f / RATE, math.exp(-1.0 / (tau * RATE))
                for i in range(start, min(start + RATE // 2, n)):
                    if g < 1e-4:
                        break
                    clinks[i] += g * math.sin(w * (i - start))
                    g *= decay
        t += rng.expovariate(1.6)
    scale = 6700 / (max(abs(x) for x in clinks) or 1.0)

    def synth(name, *effects):
        path = os.path.join(d, "kitchen_%s.wav" % name)
        run(SOX + ["-n"] + fmt + [path, "synth", "60"] + list(effects))
        return array.array("h", read_wav(path))

    rumble = synth("rumble", "brownnoise", "vol", "0.027")
    water = synth("water", "whitenoise", "sinc", "800-7000", "vol", "0.04")
    running = [(8, 15), (27, 31), (44, 52)] # seconds
    mixed = array.array("h", bytes(2 * n))
    for i in range(n):
        v = clinks[i] * scale + rumble[i]
        if any(a * RATE <= i < b * RATE for a, b in running):
            v += water[i]
        mixed[i] = max(-32768, min(32767, int(v)))
    write_wav(out, mixed.tobytes())


def peak_frame_energy(data):
    e = 0
    for i in range(0, max(len(data) - 4096, 0) + 1, 4096):
        r = audioop.rms(data[i:i + 4096], 2)
        e = max(e, r * r)
    return e


def mix(speech, noise, snr, rng):
    n = len(speech)
    off = rng.randrange(0, (len(noise) - n) // 2) * 2
    seg = noise[off:off + n]
    es, en = peak_frame_energy(speech), peak_frame_energy(seg)
    gain = (es / max(en, 1) / 10 ** (snr / 10)) ** 0.5
    return audioop.add(speech, audioop.mul(seg, 2, gain), 2)


def build_items(cache, seed):
    """The utterances: dicts with set, grammar, file, text, expected (None
    out of domain)."""
    items = []
    speech = os.path.join(cache, "speech")
    os.makedirs(speech, exist_ok=True)
    jobs = []
    for vset, count in [("tune", 36), ("held out", 36)]:
        voices = VOICES[vset]
        for g, (path, gen) in GRAMMARS.items():
            rng = random.Random("%s/%s/%d" % (vset, g, seed))
            for k in range(count):
                text, tr = gen(rng)
                voice = voices[k % len(voices)]
                f = os.path.join(speech, "%s_%s_%d_%s.wav" % (vset.replace(" ", ""), g, k, voice[1].replace("+", "_")))
                jobs.append((voice, text, f))
                items.append(dict(set=vset, grammar=g, file=f, text=text, expected=tr))
        for k, text in enumerate(OOD[vset]):
            voice = voices[(k * 3 + 1) % len(voices)]
            f = os.path.join(speech, "%s_ood_%d_%s.wav" % (vset.replace(" ", ""), k, voice[1].replace("+", "_")))
            jobs.append((voice, text, f))
            for g in GRAMMARS:
                items.append(dict(set=vset, grammar=g, file=f, text=text, expected=None))
    # People hesitate: the held-out voices again, other sentences, each with
    # one or two of "um", "uh", "er" and "erm" between its words.
    for g, (path, gen) in GRAMMARS.items():
        rng = random.Random("hesitant/%s/%d" % (g, seed))
        voices = VOICES["held out"]
        for k in range(HESITANT):
            text, tr = gen(rng)
            words = text.split()
            for _ in range(rng.choice([1, 2])):
                words.insert(rng.randrange(len(words)), rng.choice(HESITATIONS) + ",")
            voice = voices[k % len(voices)]
            f = os.path.join(speech, "hesitant_%s_%d_%s.wav" % (g, k, voice[1].replace("+", "_")))
            jobs.append((voice, " ".join(words), f))
            items.append(dict(set="hesitant", grammar=g, file=f, text=" ".join(words), expected=tr))
    with ThreadPoolExecutor(2) as ex:
        list(ex.map(lambda j: speak(*j), jobs))
    for g, rel, tr in REAL:
        f = os.path.join(speech, "real_" + rel.replace("/", "_").replace(".raw", ".wav"))
        to_wav(os.path.join(DATA, rel), f)
        items.append(dict(set="real", grammar=g, file=f, text=rel, expected=tr))
    for line in open(os.path.join(DATA, "librivox", "fileids")):
        name = line.strip()
        if not name:
            continue
        f = os.path.join(speech, "real_" + name + ".wav")
        to_wav(os.path.join(DATA, "librivox", name + ".wav"), f)
        for g in list(GRAMMARS) + ["cards"]:
            items.append(dict(set="real", grammar=g, file=f, text=name, expected=None))
    return items


def pad_recording(src, out, pad, noises):
    """Writes src to out with pad seconds more either side and a faint hiss,
    50 dB under the speech, over all of it: a room, not digital silence,
    which no microphone gives. Nothing is done when out exists."""
    if os.path.exists(out):
        return
    silence = b"\0\0" * int(pad * RATE)
    padded = silence + read_wav(src) + silence
    write_wav(out + ".tmp.wav", mix(padded, noises["pink"], 50, random.Random(os.path.basename(out))))
    os.rename(out + ".tmp.wav", out)


def padded_items(cache, items, pad, noises):
    """The items with their recordings padded by pad_recording."""
    d = os.path.join(cache, "speech_pad%g" % pad)
    os.makedirs(d, exist_ok=True)
    out = []
    for it in items:
        f = os.path.join(d, os.path.basename(it["file"]))
        pad_recording(it["file"], f, pad, noises)
        out.append(dict(it, file=f))
    return out


def noisy_file(cache, item, level, noises, seed, pad=0):
    if level is None:
        return item["file"]
    mixes = "mix" if not pad else "mix_pad%g" % pad
    effects = dict(CHANNELS).get(level)
    if effects:
        d = os.path.join(cache, mixes, level.replace(" ", ""))
        os.makedirs(d, exist_ok=True)
        out = os.path.join(d, os.path.basename(item["file"]))
        if not os.path.exists(out):
            run(SOX + [item["file"], out + ".tmp.wav"] + effects)
            os.rename(out + ".tmp.wav", out)
        return out
    if level == QUIET:
        d = os.path.join(cache, mixes, QUIET)
        os.makedirs(d, exist_ok=True)
        out = os.path.join(d, os.path.basename(item["file"]))
        if not os.path.exists(out):
            write_wav(out, audioop.mul(read_wav(item["file"]), 2, 10 ** (-QUIET_DB / 20)))
        return out
    d = os.path.join(cache, mixes, str(level))
    os.makedirs(d, exist_ok=True)
    rng = random.Random("%s/%d/%d" % (os.path.basename(item["file"]), level, seed))
    kind = rng.choice(NOISES)
    # Named after its noise too, so that a change to the set of noises never
    # finds a stale mix in the cache.
    out = os.path.join(d, kind + "_" + os.path.basename(item["file"]))
    if not os.path.exists(out):
        write_wav(out, mix(read_wav(item["file"]), noises[kind], level, rng))
    return out


def in_channels(item):
    """Whether the item is one of the clean in-domain recordings put through
    the CHANNELS."""
    return item["set"] in ("tune", "held out") and item["expected"] is not None


def decode(ksspeech, grammar, files, extra):
    """Runs ksspeech --json on files; returns the JSON objects by file."""
    cmd = [ksspeech, "--json", "-v"] + extra + [grammar] + files
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode not in (0, 1):
        sys.exit("ksspeech failed (%d): %s\n%s" % (p.returncode, " ".join(cmd[:6]), p.stderr[-2000:]))
    # -v gives one "confidence C, margin M a frame" line a recording, and
    # one more after "searched again": the second search keeps the first's
    # scores, so that line is dropped.
    lines, again = [], False
    for l in p.stderr.splitlines():
        if l.startswith("ksspeech: searched again"):
            again = True
        elif l.startswith("ksspeech: confidence "):
            if not again:
                lines.append(l)
            again = False
    margins = [float(l.split("margin ")[1].split()[0]) for l in lines]
    words = [float(l.split("word margin ")[1].split()[0]) if "word margin " in l else None for l in lines]
    out = {}
    for k, line in enumerate(p.stdout.splitlines()):
        o = json.loads(line)
        o["margin"] = margins[k] if k < len(margins) else None
        o["word_margin"] = words[k] if k < len(words) else None
        out[o["file"]] = o
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ksspeech", default=os.path.join(ROOT, "build", "speech", "ksspeech"))
    ap.add_argument("--cache", default=os.path.join(ROOT, "build", "bench_speech"))
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--records", help="write every result (one JSON a line) to this file")
    ap.add_argument("--levels", default=",".join(map(str, LEVELS)),
                    help="the noise levels in dB, comma-separated (a quicker comparison with fewer)")
    ap.add_argument("--pad", type=float, default=0,
                    help="seconds of silence added either side of each recording before the noise")
    ap.add_argument("extra", nargs="*", help="options passed to ksspeech (after --)")
    a = ap.parse_args()
    levels = [int(x) for x in a.levels.split(",") if x]
    t0 = time.time()
    noises = make_noises(a.cache)
    items = build_items(a.cache, a.seed)
    if a.pad:
        items = padded_items(a.cache, items, a.pad, noises)
    conds = [None, QUIET] + levels
    grammar_files = dict(REAL_GRAMMARS, **{g: p for g, (p, _) in GRAMMARS.items()})
    channels = [c for c, _ in CHANNELS]
    tasks = []
    for level in conds + channels:
        for g, gpath in grammar_files.items():
            its = [it for it in items if it["grammar"] == g and (level not in channels or in_channels(it))]
            if not its:
                continue
            files = sorted({noisy_file(a.cache, it, level, noises, a.seed, a.pad) for it in its})
            tasks.append((level, g, gpath, files))
    prep = time.time() - t0
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t1 = time.time()
    with ThreadPoolExecutor(2) as ex:
        results = list(ex.map(lambda t: (t[0], t[1], decode(a.ksspeech, t[2], t[3], a.extra)), tasks))
    wall = time.time() - t1
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    by = {(level, g): r for level, g, r in results}

    records, audio, dec = [], 0.0, 0.0
    for level in conds + channels:
        for it in items:
            if level in channels and not in_channels(it):
                continue
            f = noisy_file(a.cache, it, level, noises, a.seed, a.pad)
            o = by[(level, it["grammar"])].get(f, {})
            audio += o.get("audio_seconds", 0)
            dec += o.get("decode_seconds", 0)
            understood = o.get("understood", True) and "error" not in o
            hit = o.get("translation") == it["expected"]
            records.append(dict(set=it["set"], grammar=it["grammar"], level=level, file=f, text=it["text"],
                                expected=it["expected"], translation=o.get("translation"), words=o.get("words"),
                                accepted=o.get("accepted", False), confidence=o.get("confidence"),
                                margin=o.get("margin"), word_margin=o.get("word_margin"),
                                understood=understood, hit=hit, correct=hit and understood,
                                warned=bool(o.get("warnings"))))
    if a.records:
        with open(a.records, "w") as fp:
            for r in records:
                fp.write(json.dumps(r) + "\n")

    def pct(rs, key):
        return 100.0 * sum(r[key] for r in rs) / max(len(rs), 1)

    print("ksspeech options: %s" % (" ".join(a.extra) or "(defaults)") +
          ("; %g s of silence added either side" % a.pad if a.pad else ""))
    head = "%-22s %6s%6s" % ("in domain, correct %", "clean", "quiet") + "".join("%6s" % ("%ddB" % l) for l in levels) + "   avg(noise)"
    print(head)
    for vset in ["tune", "held out", "hesitant", "real"]:
        for key, label in [("correct", ""), ("hit", " (no threshold)")]:
            row, accs = "%-22s" % (vset + label), []
            for level in conds:
                rs = [r for r in records if r["set"] == vset and r["level"] == level and r["expected"] is not None]
                v = pct(rs, key)
                row += " %5.1f" % v
                if isinstance(level, int):
                    accs.append(v)
            n = len([r for r in records if r["set"] == vset and r["level"] is None and r["expected"] is not None])
            print(row + "   %5.1f   (n=%d)" % (sum(accs) / max(len(accs), 1), n))
    print("%-22s" % "in domain by noise, %" + "".join("%9s" % k for k in NOISES) + "   (all noisy levels)")
    for vset in ["tune", "held out", "hesitant"]:
        row = "%-22s" % vset
        for kind in NOISES:
            rs = [r for r in records if r["set"] == vset and isinstance(r["level"], int) and r["expected"] is not None
                  and os.path.basename(r["file"]).startswith(kind + "_")]
            row += "%9s" % ("%.1f" % pct(rs, "correct") if rs else "-")
        print(row)
    print("in domain through a channel, correct % (warned %)")
    print("%-22s" % "" + "".join("%14s" % c for c in ["as made"] + channels))
    for vset in ["tune", "held out"]:
        row = "%-22s" % vset
        for level in [None] + channels:
            rs = [r for r in records if r["set"] == vset and r["level"] == level and r["expected"] is not None]
            row += "%14s" % ("%.1f (%.0f)" % (pct(rs, "correct"), pct(rs, "warned")))
        print(row)
    print("%-22s %6s" % ("out of domain, not understood %", "") )
    for vset in ["tune", "held out", "real"]:
        row, accs = "%-22s" % vset, []
        for level in conds:
            rs = [r for r in records if r["set"] == vset and r["level"] == level and r["expected"] is None]
            v = 100.0 - pct(rs, "understood")
            row += " %5.1f" % v
            if isinstance(level, int):
                accs.append(v)
        n = len([r for r in records if r["set"] == vset and r["level"] is None and r["expected"] is None])
        print(row + "   %5.1f   (n=%d)" % (sum(accs) / max(len(accs), 1), n))
    print("real-time factor: CPU %.4f (user+sys %.1f s incl. set-up, %d runs), decoder wall %.4f; "
          "audio %.0f s; bench wall %.0f s (+%.0f s preparing)" % (cpu / audio, cpu, len(tasks), dec / audio, audio,
                                                                  wall, prep))


if __name__ == "__main__":
    main()

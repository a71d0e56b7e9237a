#!/usr/bin/env python3
"""ksspeech --serve over loopback, with a client written from the protocol
description: the conversation (describe, ping, transcribe with audio in
several formats, recognize, an unknown event) and the faults (garbage, lying
lengths, refused audio, a client gone mid-stream) with a well-behaved client
served beside them. Skipped (77) without the model or the recordings.
    speech_serve_test.py KSSPEECH EXAMPLES_DIR"""
import json, os, re, signal, socket, struct, subprocess, sys, threading

tool, examples = sys.argv[1], sys.argv[2]
data_dir = "/usr/share/pocketsphinx/test/data"
if not os.path.isdir("/usr/share/pocketsphinx/model/en-us/en-us") or not os.path.exists(data_dir + "/goforward.raw"):
    print("SKIP: recogniser model or recordings missing")
    sys.exit(77)
GOFORWARD = open(data_dir + "/goforward.raw", "rb").read()
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(name)
        print("FAIL: %s %s" % (name, detail), file=sys.stderr)


def frame(type_, data=None, payload=b"", in_header=False):
    header = {"type": type_, "version": "1.7.0"}
    body = b""
    if data is not None and in_header:
        header["data"] = data
    elif data is not None:
        body = json.dumps(data).encode()
        header["data_length"] = len(body)
    if payload:
        header["payload_length"] = len(payload)
    return json.dumps(header).encode() + b"\n" + body + payload


class Client:
    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.f = self.s.makefile("rb")

    def send(self, *args, **kw):
        self.s.sendall(frame(*args, **kw))

    def raw(self, b):
        self.s.sendall(b)

    def event(self):
        """The next event as (type, data), or None when the server closed."""
        line = self.f.readline()
        if not line:
            return None
        h = json.loads(line)
        data = dict(h.get("data") or {})
        if h.get("data_length"):
            data.update(json.loads(self.f.read(h["data_length"])))
        if h.get("payload_length"):
            self.f.read(h["payload_length"])
        return h["type"], data

    def transcribe(self, pcm, rate=16000, width=2, channels=1, chunk=3200):
        fmt = {"rate": rate, "width": width, "channels": channels}
        self.send("transcribe", {"language": "en"})
        self.send("audio-start", dict(fmt, timestamp=0), in_header=True)
        for i in range(0, len(pcm), chunk):
            self.send("audio-chunk", fmt, pcm[i:i + chunk])
        self.send("audio-stop", {})
        return self.event()

    def close(self):
        self.s.close()


server = subprocess.Popen([tool, "--serve", "tcp://127.0.0.1:0", "--max-utterance", "5", examples + "/robot.bnf"],
                          stderr=subprocess.PIPE, text=True)
port = None
for line in server.stderr:
    m = re.search(r"serving robot on tcp://127\.0\.0\.1:(\d+)", line)
    if m:
        port = int(m.group(1))
        break
if port is None:
    print("FAIL: the service did not start", file=sys.stderr)
    sys.exit(1)
threading.Thread(target=lambda: [None for _ in server.stderr], daemon=True).start()

c = Client(port)
c.send("describe")
t, info = c.event()
check("describe", t == "info" and info["asr"][0]["models"][0]["name"] == "robot" and info["intent"][0]["installed"], info)
c.send("ping", {"text": "hi"})
c.send("something-else", {"x": 1})  # ignored
c.send("ping", {"text": "again"}, in_header=True)
check("ping, unknown event ignored", [c.event(), c.event()] == [("pong", {"text": "hi"}), ("pong", {"text": "again"})])

want = ("go forward ten meters", "move forward 10 m")
t, d = c.transcribe(GOFORWARD)
check("transcript", t == "transcript" and (d["text"], d["translation"]) == want, d)
# The same words at 48 kHz, stereo, 32-bit samples: converted.
samples = struct.unpack("<%dh" % (len(GOFORWARD) // 2), GOFORWARD)
wide = b"".join(struct.pack("<ii", s << 16, s << 16) * 3 for s in samples)
t, d = c.transcribe(wide, rate=48000, width=4, channels=2, chunk=8192)
check("converted audio", t == "transcript" and (d["text"], d["translation"]) == want, d)

for text, want_type, name in [("Go forward, ten meters!", "intent", "move forward 10 m"),
                              ("turn left", "intent", "turn left"),
                              ("make me a sandwich", "not-recognized", None)]:
    c.send("recognize", {"text": text})
    t, d = c.event()
    check("recognize " + text, t == want_type and d.get("name") == name and d["text"] == text, (t, d))

# Audio refused, and audio too long: an error each, the connection goes on.
for fmt, pcm, why in [({"rate": 16000, "width": 5, "channels": 1}, b"\0" * 10, "samples of 5 bytes"),
                      ({"rate": 16000, "width": 2, "channels": 1}, b"\0" * 3, "not a whole number of frames"),
                      ({"rate": 16000, "width": 2, "channels": 1}, b"\0" * 32000 * 6, "audio longer than 5 s")]:
    c.send("audio-start", fmt)
    for i in range(0, len(pcm), 32000):
        c.send("audio-chunk", fmt, pcm[i:i + 32000])
    c.send("audio-stop")
    c.send("ping", {"text": "alive"})
    ev = c.event()
    check("refused: " + why, ev[0] == "error" and why in ev[1]["text"] and c.event()[0] == "pong", ev)

# Faults, each on its own connection while a good client is served: an error
# event (or just the end) for the faulty one, the right transcript for the good.
faults = [(b"this is not json\n", "header is not JSON"),
          (b'{"data": {}}\n', "header has no type"),
          (b'{"type": "audio-chunk", "payload_length": 1000000000000}\n', "payload_length"),
          (b'{"type": "recognize", "data_length": -4}\n', "data_length is not a length"),
          (b'{"type": "ping", "data_length": 4}\n[1]\n', "extra data is not a JSON object"),
          (b"[" * 1000 + b"\n", "JSON nested too deeply"),
          (b"x" * 70000, "header line longer than"),
          (b'{"type": "audio-chunk", "payload_length": 6400}\n' + b"\0" * 100, None),  # then gone
          (frame("audio-start", {"rate": 16000, "width": 2, "channels": 1}) + GOFORWARD[:20000], None)]
good = Client(port)
results = {}
g = threading.Thread(target=lambda: results.update(good=good.transcribe(GOFORWARD)))
g.start()
for bad, why in faults:
    b = Client(port)
    b.raw(bad)
    if why is None:
        b.close()
        continue
    ev = b.event()
    check("fault: " + why, ev and ev[0] == "error" and why in ev[1]["text"] and b.event() is None, ev)
    b.close()
g.join(60)
t, d = results.get("good", (None, {}))
check("good client beside the faulty ones", t == "transcript" and (d.get("text"), d.get("translation")) == want, d)

# Clients at once, each with its answer.
outs = []
def one():
    k = Client(port)
    outs.append(k.transcribe(GOFORWARD, chunk=1600))
    k.close()
threads = [threading.Thread(target=one) for _ in range(4)]
for th in threads:
    th.start()
for th in threads:
    th.join(120)
check("four clients at once", len(outs) == 4 and all(d.get("text") == want[0] for _, d in outs), outs)

server.send_signal(signal.SIGINT)
try:
    rc = server.wait(20)
except subprocess.TimeoutExpired:
    server.kill()
    rc = "hung"
check("SIGINT ends the service", rc == 0, rc)
print("speech service: %d failure(s)" % len(failures))
sys.exit(1 if failures else 0)

#!/usr/bin/env python3
"""serve_bench.py: ksspeech --serve over loopback with the spoken commands of
bench/speech_streams.py. Prints the delay from audio-stop to transcript with
one client at a time, then with 20 clients at once each sending a command
in real time: the delays, whether every transcript equals the one the same
audio got alone, the wall and processor time, and the service's peak memory.
    bench/serve_bench.py build/speech/ksspeech [--clients N] [--decoders N]"""
import argparse, json, os, re, socket, statistics, subprocess, sys, threading, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import speech_streams


def send(s, type_, data, payload=b""):
    body = json.dumps(data).encode()
    h = {"type": type_, "data_length": len(body)}
    if payload:
        h["payload_length"] = len(payload)
    s.sendall(json.dumps(h).encode() + b"\n" + body + payload)


def transcribe(port, pcm, realtime):
    """(text, seconds from audio-stop to transcript)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=120)
    f = s.makefile("rb")
    fmt = {"rate": 16000, "width": 2, "channels": 1}
    send(s, "transcribe", {})
    send(s, "audio-start", fmt)
    step = 640  # 20 ms
    t0 = time.monotonic()
    for i in range(0, len(pcm), step):
        if realtime:
            wait = t0 + i / 32000 - time.monotonic()
            if wait > 0:
                time.sleep(wait)
        send(s, "audio-chunk", fmt, pcm[i:i + step])
    send(s, "audio-stop", {})
    t = time.monotonic()
    h = json.loads(f.readline())
    data = json.loads(f.read(h["data_length"])) if h.get("data_length") else h.get("data", {})
    delay = time.monotonic() - t
    s.close()
    return data.get("text") if h["type"] == "transcript" else h["type"], delay


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--grammar", default=os.path.join(os.path.dirname(__file__), "..", "examples", "robot.bnf"))
    ap.add_argument("--clients", type=int, default=20)
    ap.add_argument("--decoders", type=int, default=2)
    a = ap.parse_args()
    clips = [(w, x.tobytes()) for w, x, _, _ in speech_streams.utterances()]
    server = subprocess.Popen([a.tool, "--serve", "tcp://127.0.0.1:0", "--decoders", str(a.decoders), a.grammar],
                              stderr=subprocess.PIPE, text=True)
    port = None
    for line in server.stderr:
        m = re.search(r"on tcp://127\.0\.0\.1:(\d+)", line)
        if m:
            port = int(m.group(1))
            break
    threading.Thread(target=lambda: [None for _ in server.stderr], daemon=True).start()
    print("serve_bench: %d decoders, %d commands, memory after loading %d MB" % (a.decoders, len(clips), speech_streams.memory_mb(server.pid, "VmRSS")))

    alone, delays = [], []
    for words, pcm in clips:
        text, d = transcribe(port, pcm, False)
        alone.append(text)
        delays.append(d)
    right = sum(t == w for t, (w, _) in zip(alone, clips))
    print("one client at a time: audio-stop to transcript median %.0f ms, 95th percentile %.0f ms, max %.0f ms; words right %d of %d"
          % (speech_streams.percentile_ms(delays, 0.5), speech_streams.percentile_ms(delays, 0.95), max(delays) * 1000, right, len(clips)))

    for realtime, how in [(True, "each a command in real time, starting 50 ms apart"),
                          (False, "each a command as fast as it can send, all together")]:
        results = [None] * a.clients
        def client(i):
            results[i] = transcribe(port, clips[i % len(clips)][1], realtime)
        cpu0, t0 = speech_streams.cpu_seconds(server.pid), time.monotonic()
        threads = [threading.Thread(target=client, args=(i,)) for i in range(a.clients)]
        for t in threads:
            t.start()
            time.sleep(0.05 if realtime else 0)
        for t in threads:
            t.join()
        wall, cpu = time.monotonic() - t0, speech_streams.cpu_seconds(server.pid) - cpu0
        d = [r[1] for r in results]
        same = sum(r[0] == alone[i % len(clips)] for i, r in enumerate(results))
        for i, r in enumerate(results):
            if r[0] != alone[i % len(clips)]:
                print("  differs: %r alone, %r here" % (alone[i % len(clips)], r[0]))
        print("%d clients at once, %s: audio-stop to transcript median %.0f ms, 95th percentile %.0f ms, max %.0f ms"
              % (a.clients, how, speech_streams.percentile_ms(d, 0.5), speech_streams.percentile_ms(d, 0.95), max(d) * 1000))
        print("  transcripts equal to the one alone: %d of %d; wall %.1f s, service cpu %.1f s; peak memory %d MB"
              % (same, a.clients, wall, cpu, speech_streams.memory_mb(server.pid, "VmHWM")))
    server.send_signal(2)
    server.wait(30)


main()

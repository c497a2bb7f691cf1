#!/usr/bin/env python3
"""Time from `quillmar switch` to the new voice at the virtual microphone (not run by ctest).

A 200 Hz tone plays into a null sink whose monitor is the default source; `quillmar live`
offers the voice as `quillmar_voice`, and another client (parecord, 10 ms buffers) records that
source to a file. Just before each `quillmar switch` the bench notes how many samples the file
holds: that is the switch's place on the server's own clock (late by parecord's buffer, about
10 ms, so the figures are that much long at most). The pitch track of the file (5 ms steps)
then shows where the new voice's pitch begins and holds. Runs on a private PulseAudio server
and on a private PipeWire session, each tool given side by side in the same run.

Usage: switch_latency.py QUILLMAR [OTHER_QUILLMAR...] [--servers pulse,pipewire] [--rounds N]"""
import argparse, os, shutil, signal, statistics, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from private_server import PrivateServer, wait_for  # noqa: E402

RATE = 48000
F0 = 200.0
# The pitch each voice gives the tone: Monster's growl wanders about half of it.
PITCH = {"none": (0.97, 1.03), "Baby": (2.45, 2.6), "Monster": (0.35, 0.65)}
# Each round: the voice switched to, after the voice before it.
ROUND = ["Baby", "none", "Baby", "Monster", "none"]
HOLD = 1.2  # seconds each voice is kept
HEADER = 44


def voice_at(f0):
    for name, (low, high) in PITCH.items():
        if low * F0 < f0 < high * F0:
            return name
    return None


def loud_end(path):
    try:
        with open(path, "rb") as f:
            f.seek(max(HEADER, os.path.getsize(path) - 4800) & ~1)
            tail = f.read()
    except OSError:
        return False
    return max((abs(int.from_bytes(tail[i:i + 2], "little", signed=True))
                for i in range(0, len(tail) - 1, 2)), default=0) > 1000


def measure(tool, kind, rounds):
    work = tempfile.mkdtemp()
    server = PrivateServer(kind, work)
    procs = []
    try:
        server.load("module-null-sink", "sink_name=input", f"rate={RATE}", "channels=1")
        server.pactl("set-default-source", "input.monitor")
        tone = os.path.join(work, "tone.wav")
        subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", tone, "synth",
                        str(rounds * len(ROUND) * HOLD + 30), "sine", str(F0), "vol", "0.5"],
                       check=True)
        procs.append(subprocess.Popen(["paplay", "--device=input", tone], env=server.env))
        live = subprocess.Popen([tool, "live"], env=server.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(live)
        if not wait_for(lambda: "quillmar_voice" in server.pactl("list", "short", "sources")
                        .stdout, 10):
            raise RuntimeError("live did not offer its source")
        heard = os.path.join(work, "heard.wav")
        procs.append(subprocess.Popen(
            ["parecord", "--device=quillmar_voice", f"--rate={RATE}", "--channels=1",
             "--format=s16le", "--file-format=wav", "--latency-msec=10", heard], env=server.env))
        # A server may start a new recording with a second or two of silence.
        wait_for(lambda: loud_end(heard), 15)
        time.sleep(1.0)
        marks = []
        for _ in range(rounds):
            for voice in ROUND:
                at = (os.path.getsize(heard) - HEADER) / 2 / RATE
                subprocess.run([tool, "switch", voice], env=server.env, check=True,
                               stdout=subprocess.DEVNULL, timeout=10)
                marks.append((at, voice))
                time.sleep(HOLD)
        live.send_signal(signal.SIGTERM)
        live.wait(timeout=10)
        procs[-1].send_signal(signal.SIGINT)
        procs[-1].wait(timeout=10)
        rows = subprocess.run([tool, "pitch", "--ceiling", "800", heard], capture_output=True,
                              text=True, check=True).stdout.splitlines()[1:]
        track = [(float(r.split(",")[0]), voice_at(float(r.split(",")[1]))) for r in rows]
        delays = {}
        before = "none"
        for at, voice in marks:
            # The first frame of the new voice that the next 100 ms keep.
            later = [(t, v) for t, v in track if at <= t < at + HOLD]
            for i, (t, v) in enumerate(later):
                if v == voice and sum(w == voice for _, w in later[i:i + 20]) >= 18:
                    delays.setdefault(f"{before}->{voice}", []).append((t - at) * 1000.0)
                    break
            before = voice
        return delays
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tools", nargs="+")
    parser.add_argument("--servers", default="pulse,pipewire")
    parser.add_argument("--rounds", type=int, default=3)
    a = parser.parse_args()
    pairs = ["none->Baby", "Baby->none", "Baby->Monster"]
    print("| server | tool | " + " | ".join(pairs) + " |")
    print("|---|---|" + "---|" * len(pairs))
    for kind in a.servers.split(","):
        for tool in a.tools:
            delays = measure(tool, kind, a.rounds)
            cells = [f"{statistics.median(delays[p]):.0f} ms ({len(delays[p])})"
                     if p in delays else "not found" for p in pairs]
            print(f"| {'PulseAudio' if kind == 'pulse' else 'PipeWire'} | {tool} | " +
                  " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    main()

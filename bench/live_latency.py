#!/usr/bin/env python3
"""Capture-to-ear latency of `quillmar monitor`, measured end to end on the sound server's own
clock (not run by ctest).

One two-channel null sink: voice bursts are played into its left channel; the program listens
to a remap of that left channel and plays into a remap onto its right channel; one client
records the sink's monitor, so both channels come from the same clock and the delay between a
burst on the left and its transformed copy on the right is the truth. Each effect runs on a
private PulseAudio server and on a private PipeWire session (pipewire, wireplumber,
pipewire-pulse under a private D-Bus). Prints the measured median, the figure the monitor
itself reports, and the 2 ms drop-outs inside the transformed bursts (the output running short).

Usage: live_latency.py QUILLMAR [--servers pulse,pipewire] [--effects Baby,Robot,Male2Female]
                       [--seconds S] [--record] [--monitor-args ARGS]"""
import argparse, math, os, re, shutil, signal, statistics, subprocess, sys, tempfile, time, wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from private_server import PrivateServer  # noqa: E402

RATE = 48000
BURST_PERIOD = 0.5  # a burst every half second: onsets stay clear of the previous echo
BURST = 0.2


def make_bursts(path, seconds):
    """Bursts of a voice-like tone (150 Hz with harmonics) with silence between."""
    frames = bytearray()
    n = int(seconds * RATE)
    for i in range(n):
        t = (i % int(BURST_PERIOD * RATE)) / RATE
        v = 0.0
        if t < BURST:
            v = sum(math.sin(2 * math.pi * 150 * h * t) / h for h in range(1, 6)) * 0.25
        frames += int(v * 32767).to_bytes(2, "little", signed=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def onsets(x, rate):
    """Times where the 1 ms envelope first rises above a tenth of its loudest value after
    at least 150 ms of quiet, less 10 ms (so a window from there holds the whole burst)."""
    step = rate // 1000
    env = [max(abs(v) for v in x[i:i + step]) for i in range(0, len(x) - step, step)]
    top = sorted(env)[int(len(env) * 0.99)] if env else 0
    threshold, quiet, found = top / 10, 0, []
    for i, e in enumerate(env):
        if e > threshold:
            if quiet >= 150 and i >= 10:
                found.append((i - 10) / 1000.0)
            quiet = 0
        else:
            quiet += 1
    return found


def dropouts(x, rate):
    """2 ms stretches of near silence (below a tenth of the loudest) with loud voice within
    10 ms on both sides: moments the output ran short inside a word."""
    step = rate // 500
    env = [max(abs(v) for v in x[i:i + step]) for i in range(0, len(x) - step, step)]
    top = sorted(env)[int(len(env) * 0.99)] if env else 0
    return sum(1 for i in range(5, len(env) - 5) if env[i] < top / 10 and
               max(env[i - 5:i]) > top / 2 and max(env[i + 1:i + 6]) > top / 2)


def centroid(x, a, b):
    energy = sum(float(v) * v for v in x[a:b]) or 1.0
    return sum(i * float(v) * v for i, v in enumerate(x[a:b], a)) / energy


def measure(tool, kind, effect, seconds, extra=(), record=False):
    work = tempfile.mkdtemp()
    server = PrivateServer(kind, work)
    procs = []
    try:
        server.load("module-null-sink", "sink_name=meas", "channels=2", f"rate={RATE}",
                    "channel_map=front-left,front-right")
        server.load("module-remap-source", "source_name=mic", "master=meas.monitor",
                    "channels=1", "master_channel_map=front-left", "channel_map=mono")
        server.load("module-remap-sink", "sink_name=ear", "master=meas", "channels=1",
                    "master_channel_map=front-right", "channel_map=mono")
        server.pactl("set-default-sink", "ear")
        server.pactl("set-default-source", "mic")
        bursts = os.path.join(work, "bursts.wav")
        make_bursts(bursts, seconds + 3)
        heard = os.path.join(work, "heard.wav")
        procs.append(subprocess.Popen(
            ["parecord", "--device=meas.monitor", "--rate", str(RATE), "--channels=2",
             "--format=s16le", "--file-format=wav", "--latency-msec=10", heard], env=server.env))
        command = ["record", "--monitor", os.path.join(work, "take.wav")] if record else ["monitor"]
        monitor = subprocess.Popen([tool, *command, "--effect", effect, "--device", "mic",
                                    "--seconds", str(seconds + 1), *extra], env=server.env,
                                   stderr=subprocess.PIPE, text=True)
        time.sleep(0.5)
        procs.append(subprocess.Popen(["paplay", "--device=meas", "--channel-map=front-left",
                                       "--latency-msec=10", bursts], env=server.env))
        report = monitor.communicate(timeout=seconds + 30)[1]
        for p in procs:
            p.send_signal(signal.SIGINT)
            p.wait(timeout=10)
        with wave.open(heard) as w:
            raw = w.readframes(w.getnframes())
        samples = [int.from_bytes(raw[i:i + 2], "little", signed=True)
                   for i in range(0, len(raw), 2)]
        left, right = samples[0::2], samples[1::2]
        delays = []
        for t in onsets(left, RATE):
            # The burst's energy centre on each side: an onset alone would favour the
            # effects whose frames smear a burst's start forwards.
            a, b = int(t * RATE), int((t + BURST_PERIOD) * RATE)
            if b > len(left):
                break
            delays.append((centroid(right, a, b) - centroid(left, a, b)) * 1000.0 / RATE)
        m = re.search(r"latency (\d+) ms", report)
        return (statistics.median(delays) if delays else float("nan"), len(delays),
                float(m.group(1)) if m else float("nan"), dropouts(right, RATE),
                report.strip().splitlines())
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--servers", default="pulse,pipewire")
    parser.add_argument("--effects", default="Baby,Robot,Male2Female")
    parser.add_argument("--seconds", type=float, default=8.0)
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--monitor-args", default="", help="more options for the monitor")
    parser.add_argument("--record", action="store_true",
                        help="measure record --monitor (a file written too) instead of monitor")
    a = parser.parse_args()
    print("| server | effect | measured end to end | monitor reports | bursts | drop-outs |")
    print("|---|---|---|---|---|---|")
    for kind in a.servers.split(","):
        for effect in a.effects.split(","):
            measured, count, reported, gaps, lines = measure(a.tool, kind, effect, a.seconds,
                                                       a.monitor_args.split(), a.record)
            print(f"| {'PulseAudio' if kind == 'pulse' else 'PipeWire'} | {effect} | "
                  f"{measured:.0f} ms | {reported:.0f} ms | {count} | {gaps} |", flush=True)
            if a.verbose:
                for line in lines:
                    print("    " + line)


if __name__ == "__main__":
    main()

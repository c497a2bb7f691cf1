#!/usr/bin/env python3
"""Whole-process CPU of the live commands, two builds side by side in one run (not run by ctest).

A private PulseAudio server with a null sink fed a 200 Hz tone as the microphone and a second
null sink as the output. Each command runs for a fixed number of seconds of audio, the builds
in turn (A B A B ...) so that the machine's drift touches both alike; the CPU is user + system
time of the finished process from getrusage, start-up included, as a share of one core over the
seconds of audio. Prints each build's median and the ratio of the medians.

Usage: live_cpu.py NEW [OLD] [--seconds S] [--runs N] [--commands monitor,record,live]"""
import argparse, os, resource, shutil, statistics, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from private_server import PrivateServer  # noqa: E402

VOICE = ["--effect", "Baby", "--rate", "48000", "--channels", "1"]


def command_args(name, work):
    if name == "record":
        return ["record", "--monitor", *VOICE, os.path.join(work, "take.wav")]
    if name == "live":
        return ["live", "--effect", "Baby"]
    return ["monitor", *VOICE]


def cpu_share(tool, args, seconds, env):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run([tool, *args, "--seconds", str(seconds)], env=env, capture_output=True,
                       text=True, timeout=seconds + 60)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit(f"{tool} {' '.join(args)} failed: {r.stderr}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return 100.0 * cpu / seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("new")
    parser.add_argument("old", nargs="?")
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--commands", default="monitor,record,live")
    a = parser.parse_args()
    tools = [a.new] + ([a.old] if a.old else [])
    work = tempfile.mkdtemp()
    server = PrivateServer("pulse", work)
    player = None
    try:
        server.load("module-null-sink", "sink_name=input", "rate=48000", "channels=1")
        server.load("module-null-sink", "sink_name=output", "rate=48000", "channels=2")
        server.pactl("set-default-sink", "output")
        server.pactl("set-default-source", "input.monitor")
        tone = os.path.join(work, "tone.wav")
        total = (a.seconds + 5) * a.runs * len(tools) * len(a.commands.split(",")) + 30
        subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", tone, "synth",
                        str(total), "sine", "200", "vol", "0.5"], check=True)
        player = subprocess.Popen(["paplay", "--device=input", tone], env=server.env)
        print("| command (Baby, 48 kHz mono) | new, % of one core | old | new / old |")
        print("|---|---|---|---|")
        for name in a.commands.split(","):
            shares = {tool: [] for tool in tools}
            for _ in range(a.runs):
                for tool in tools:
                    shares[tool].append(cpu_share(tool, command_args(name, work), a.seconds,
                                                  server.env))
            new = statistics.median(shares[a.new])
            old = statistics.median(shares[a.old]) if a.old else float("nan")
            label = {"record": "record --monitor", "live": "live"}.get(name, "monitor")
            print(f"| {label} | {new:.2f} | {old:.2f} | "
                  f"{new / old:.2f} |", flush=True)
    finally:
        if player is not None:
            player.kill()
            player.wait()
        server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

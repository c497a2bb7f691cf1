#!/usr/bin/env python3
"""Whole-process figures of the quillmar tool, side by side in one run (not run by ctest):
CPU share and peak RSS of `record --effect Baby` at 48 kHz mono and stereo against a private
sound server, the monitor's capture-to-monitor latency, and `render -j1` against `-j2` on
eight files. Usage: cli_bench.py QUILLMAR [SECONDS]"""
import os, re, resource, shutil, subprocess, sys, tempfile, time

tool = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
work = tempfile.mkdtemp()
env = dict(os.environ, XDG_RUNTIME_DIR=work + "/run", HOME=work)
env.pop("PULSE_SERVER", None)
os.mkdir(work + "/run", 0o700)
with open(work + "/pa.conf", "w") as conf:
    conf.write("load-module module-native-protocol-unix auth-anonymous=1\n"
               "load-module module-null-sink sink_name=input rate=48000 channels=2\n"
               "load-module module-null-sink sink_name=output rate=48000 channels=2\n"
               "set-default-sink output\nset-default-source input.monitor\n")
sox = ["sox", "-n", "-r", "48000", "-b", "16"]
subprocess.run(sox + ["-c", "2", work + "/tone.wav", "synth", str(seconds + 30), "sine", "200",
                      "vol", "0.5"], check=True)
server = subprocess.Popen(["pulseaudio", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                           "--disallow-exit=yes", "--use-pid-file=no", "--realtime=no",
                           "--high-priority=no", "-n", "-F", work + "/pa.conf"], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def timed(args):
    """Runs quillmar; returns (wall s, CPU s, peak RSS KiB, stderr)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    r = subprocess.run([tool, *args], env=env, capture_output=True, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if r.returncode != 0:
        sys.exit(f"quillmar {' '.join(args)} failed: {r.stderr}")
    return wall, cpu, after.ru_maxrss, r.stderr


player = None
try:
    deadline = time.monotonic() + 10
    while subprocess.run([tool, "devices"], env=env, capture_output=True).returncode != 0:
        if time.monotonic() > deadline:
            sys.exit("the private server did not start")
        time.sleep(0.05)
    player = subprocess.Popen(["paplay", "--device=input", work + "/tone.wav"], env=env)
    for channels in (1, 2):
        wall, cpu, rss, _ = timed(["record", "--effect", "Baby", "--seconds", str(seconds),
                                   "--rate", "48000", "--channels", str(channels),
                                   work + f"/rec{channels}.mp3"])
        print(f"record --effect Baby 48 kHz {channels} ch: CPU {100 * cpu / seconds:.2f} % of "
              f"one core over {seconds:.0f} s of audio ({wall:.1f} s wall), peak RSS "
              f"{rss / 1024:.1f} MiB (largest child so far)")
    for effect in ("Baby", None):
        args = ["--effect", effect] if effect else []
        wall, cpu, _, _ = timed(["record", *args, "--seconds", str(seconds), "--rate", "48000",
                                 "--channels", "1", work + "/rec.wav"])
        print(f"record {'--effect ' + effect if effect else '(no effect)'} 48 kHz 1 ch to WAV: "
              f"CPU {100 * cpu / seconds:.2f} % of one core")
    wall, cpu, _, err = timed(["monitor", "--effect", "Baby", "--seconds", str(seconds),
                               "--rate", "48000", "--channels", "1"])
    line = re.search(r"capture-to-monitor latency.*", err)
    print(f"monitor --effect Baby 48 kHz mono: CPU {100 * cpu / seconds:.2f} % of one core, "
          f"{line.group(0) if line else 'no latency figure'}")
    for i in range(8):
        subprocess.run(sox + ["-c", "1", work + f"/in{i}.wav", "synth", "20", "sine",
                              str(150 + 10 * i), "vol", "0.5"], check=True)
    ins = [work + f"/in{i}.wav" for i in range(8)]
    walls = {}
    for jobs in (1, 2):
        walls[jobs], _, _, _ = timed(["render", "--effect", "Baby", "-j", str(jobs), "--out-dir",
                                      work + f"/out{jobs}", *ins])
    print(f"render --effect Baby, 8 files of 20 s: -j1 {walls[1]:.2f} s, -j2 {walls[2]:.2f} s, "
          f"speed-up {walls[1] / walls[2]:.2f}x")
finally:
    for p in (player, server):
        if p is not None:
            p.kill()
            p.wait()
    shutil.rmtree(work)

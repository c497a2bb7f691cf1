#!/usr/bin/env python3
"""quillmar record, monitor and devices against a private PulseAudio server fed a 200 Hz tone."""
import fcntl, math, os, pty, signal, subprocess, sys, tempfile, termios, time, wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from private_server import wait_for  # noqa: E402

TOOL = sys.argv[1]
F0 = 200.0
BABY = 2.52  # Baby's default pitch factor
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def run(*args, **kw):
    return subprocess.run([TOOL, *args], env=ENV, capture_output=True, text=True, timeout=30, **kw)


def samples(path):
    """Mono 16-bit samples of a WAV, or of an MP3 or FLAC decoded by mpg123 or sox (independent
    decoders)."""
    if path.endswith(".mp3"):
        subprocess.run(["mpg123", "-q", "-w", path + ".wav", path], check=True, timeout=30)
        path += ".wav"
    elif path.endswith(".flac"):
        subprocess.run(["sox", path, path + ".wav"], check=True, timeout=30)
        path += ".wav"
    with wave.open(path) as w:
        rate, ch, raw = w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())
    x = [int.from_bytes(raw[i:i + 2], "little", signed=True) for i in range(0, len(raw), 2 * ch)]
    return x, rate


def tone_share(x, rate, f):
    """How much of x's energy a sinusoid of f Hz explains: the correlation with the best-aligned
    tone, as the median over 50 ms windows, so that a glitch of the feeding player (a loaded
    machine) costs one window, while a wrong rate, width or channel order fails them all."""
    n = rate // 20
    shares = sorted(window_share(x[i:i + n], rate, f) for i in range(0, len(x) - n + 1, n))
    return shares[len(shares) // 2] if shares else 0.0


def window_share(x, rate, f):
    w = 2 * math.pi * f / rate
    s = sum(v * math.sin(w * i) for i, v in enumerate(x))
    c = sum(v * math.cos(w * i) for i, v in enumerate(x))
    energy = sum(v * v for v in x) or 1.0
    return math.sqrt(min(1.0, 2 * (s * s + c * c) / len(x) / energy))


def quiet_seconds(x, rate):
    """How long x is silent, in whole 50 ms windows."""
    n = rate // 20
    return sum(max(map(abs, x[i:i + n])) < 100 for i in range(0, len(x) - n + 1, n)) / 20


def mean_f0(path):
    rows = run("pitch", "--ceiling", "800", path).stdout.splitlines()[1:]
    f = [float(r.split(",")[1]) for r in rows if float(r.split(",")[1]) > 0]
    return sum(f) / len(f) if f else 0.0


def start_record(*args):
    return subprocess.Popen([TOOL, "record", *args], env=ENV, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def part_bytes(path):
    folder, name = os.path.split(path)
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder)
               if f.startswith(name + ".part"))


work = tempfile.mkdtemp()
ENV = dict(os.environ, XDG_RUNTIME_DIR=work + "/run", HOME=work, PULSE_SERVER="")
del ENV["PULSE_SERVER"]
os.mkdir(work + "/run", 0o700)
with open(work + "/pa.conf", "w") as conf:
    conf.write("load-module module-native-protocol-unix auth-anonymous=1\n"
               "load-module module-null-sink sink_name=input rate=48000 channels=1\n"
               "load-module module-null-sink sink_name=output rate=48000 channels=2\n"
               "set-default-sink output\nset-default-source input.monitor\n")
subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", work + "/tone.wav", "synth",
                "60", "sine", str(F0), "vol", "0.5"], check=True)
server = subprocess.Popen(["pulseaudio", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                           "--disallow-exit=yes", "--use-pid-file=no", "--realtime=no",
                           "--high-priority=no", "-n", "-F", work + "/pa.conf"], env=ENV,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
player = None
try:
    check(wait_for(lambda: "input.monitor" in run("devices").stdout, 10),
          "devices lists the null sink's monitor")
    player = subprocess.Popen(["paplay", "--device=input", "--latency-msec=100", work + "/tone.wav"],
                              env=ENV, stderr=subprocess.DEVNULL)

    out = work + "/baby.mp3"
    r = run("record", "--effect", "Baby", "--keep-raw", "--seconds", "3", out)
    x, rate = samples(out) if r.returncode == 0 else ([], 1)
    check(r.returncode == 0 and r.stdout.split() == [work + "/baby.raw.flac", out],
          "record --effect Baby --keep-raw prints both paths, the recording last")
    check(abs(len(x) / rate - 3.0) < 0.1, f"Baby recording lasts 3 s ({len(x) / rate:.3f})")
    f0 = mean_f0(out)
    check(abs(f0 / (F0 * BABY) - 1) < 0.01, f"Baby raises 200 Hz by 2.52 ({f0:.1f} Hz)")
    raw = work + "/baby.raw.flac"
    f0 = mean_f0(raw) if os.path.exists(raw) else 0.0
    check(abs(f0 / F0 - 1) < 0.01, f"--keep-raw keeps the untransformed take beside it ({f0:.1f} Hz)")

    out = work + "/plain.mp3"
    r = run("record", "--seconds", "3", out)
    x, rate = samples(out) if r.returncode == 0 else ([], 1)
    share = tone_share(x[rate // 10:], rate, F0)
    check(share > 0.95, f"a plain recording correlates with the input ({share:.3f})")

    # The monitor plays the transformed voice to the default output; record that output too.
    # Meanwhile m mutes the monitor for a second, from a terminal: only what is heard falls
    # silent, never the file. (An idle null sink starts playing up to 2 s late: the keys
    # come after that.)
    mon = start_record("--device", "output.monitor", "--seconds", "8", work + "/heard.wav")
    keys, terminal = pty.openpty()
    p = subprocess.Popen([TOOL, "record", "--effect", "Baby", "--monitor", "--keep-raw",
                          "--seconds", "6", work + "/mon.mp3"], env=ENV, stdin=terminal,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                         start_new_session=True,
                         preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    for pause in (3.0, 1.0):
        time.sleep(pause)
        os.write(keys, b"m")
    _, err = p.communicate(timeout=30)
    os.close(keys)
    os.close(terminal)
    mon.wait(timeout=30)
    check(p.returncode == 0 and mon.returncode == 0 and "muted" in err,
          f"record --monitor and a second recorder, m mutes the monitor ({err.strip()})")
    # The voice heard is made in the capture callback; the file and the raw take still get
    # the voice and the microphone, each as long as the take.
    for path, f0 in ((work + "/mon.mp3", F0 * BABY), (work + "/mon.raw.flac", F0)):
        x, rate = samples(path) if os.path.exists(path) else ([], 1)
        got = mean_f0(path) if x else 0.0
        check(abs(len(x) / rate - 6.0) < 0.1 and abs(got / f0 - 1) < 0.01,
              f"record --monitor keeps {os.path.basename(path)} ({len(x) / rate:.3f} s, "
              f"{got:.1f} Hz)")
    x, rate = samples(work + "/mon.mp3") if os.path.exists(work + "/mon.mp3") else ([], 1)
    quiet = quiet_seconds(x[rate // 10:len(x) - rate // 10], rate)
    check(x and quiet == 0, f"muting the monitor leaves the file whole ({quiet:.2f} s quiet)")
    heard, rate = samples(work + "/heard.wav") if mon.returncode == 0 else ([], 1)
    loud = [i for i, v in enumerate(heard) if abs(v) > 100] or [0]
    quiet = quiet_seconds(heard[loud[0]:loud[-1]], rate)
    check(0.6 < quiet < 1.3, f"the monitor is silent while muted ({quiet:.2f} s)")
    end = loud[-1]
    share = tone_share(heard[max(0, end - rate):end - rate // 10], rate, F0 * BABY)
    check(share > 0.8, f"the output carries the transformed voice ({share:.3f})")

    # Nothing is skipped while the monitor starts: two seconds monitored are two seconds heard,
    # the first word among them. (An idle null sink wakes a while after the monitor's first
    # request; capture that started at once piled up meanwhile and was skipped.)
    out = work + "/first.wav"
    mon = start_record("--device", "output.monitor", "--seconds", "5", out)
    wait_for(lambda: part_bytes(out) > 0, 10)
    r = run("monitor", "--effect", "Baby", "--seconds", "2")
    mon.wait(timeout=30)
    heard, rate = samples(out) if mon.returncode == 0 else ([], 1)
    step = rate // 100
    loud = sum(1 for i in range(0, len(heard) - step, step)
               if max(abs(v) for v in heard[i:i + step]) > 2000) / 100
    check(r.returncode == 0 and "skipped" not in r.stderr and 1.95 < loud < 2.1,
          f"the monitor plays all two seconds it took ({loud:.2f} s)")

    # Ctrl-C twice: the file is still finished, and it holds the last half-second spoken.
    out = work + "/stopped.wav"
    p = start_record("--effect", "Baby", out)
    grew = wait_for(lambda: part_bytes(out) > 2 * 96000, 15)
    p.send_signal(signal.SIGINT)
    p.send_signal(signal.SIGINT)
    p.wait(timeout=10)
    x, rate = samples(out) if p.returncode == 0 else ([], 1)
    check(grew and p.returncode == 0 and len(x) >= 2 * rate, "SIGINT twice gives a whole file")
    share = tone_share(x[-rate // 2:], rate, F0 * BABY)
    check(share > 0.8, f"the stopped file ends with the voice ({share:.3f})")

    # A source that stops delivering (its device suspended under the recorder): exit 1 after
    # the stall time with a clear error, and the file so far decodes.
    out = work + "/stalled.wav"
    p = start_record("--seconds", "30", out)
    # Half a second written before the source stalls: more than the check below asks of the file.
    wait_for(lambda: part_bytes(out) > 48000, 15)
    subprocess.run(["pactl", "suspend-sink", "input", "1"], env=ENV, timeout=10)
    suspended = time.monotonic()
    p.wait(timeout=15)
    took = time.monotonic() - suspended
    subprocess.run(["pactl", "suspend-sink", "input", "0"], env=ENV, timeout=10)
    check(p.returncode == 1 and 1.0 < took < 4.0 and "no audio for 2 s" in p.stderr.read(),
          f"a stalled source stops the recording with exit 1 ({took:.2f} s)")
    x, rate = samples(out) if os.path.exists(out) else ([], 1)
    check(len(x) > rate // 10, f"the stalled recording so far decodes ({len(x)} samples)")

    # The server killed mid-recording: exit 1 within a second, the file so far decodes.
    out = work + "/killed.mp3"
    p = start_record("--seconds", "30", out)
    wait_for(lambda: part_bytes(out) > 4096 + 4000, 15)  # frames past the tags' room
    server.kill()
    killed = time.monotonic()
    p.wait(timeout=10)
    took = time.monotonic() - killed
    check(p.returncode == 1 and took < 1.0 and "sound server went away" in p.stderr.read(),
          f"a lost server stops the recording with exit 1 ({took:.2f} s)")
    x, rate = samples(out) if os.path.exists(out) else ([], 1)
    check(len(x) > rate // 10, "the file so far decodes")

    server.wait(timeout=10)
    r = run("record", "--seconds", "1", work + "/none.mp3")
    check(r.returncode == 1 and "no sound server" in r.stderr and not os.path.exists(
        work + "/none.mp3"), "no server: exit 1, a clear error and no file")
    check(not [f for f in os.listdir(work) if ".part" in f], "no temporary file is left")
finally:
    for proc in (player, server):
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()
    subprocess.run(["rm", "-rf", work])
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)

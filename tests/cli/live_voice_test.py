#!/usr/bin/env python3
"""quillmar live and switch against a private PulseAudio server and a private PipeWire session,
each fed a 200 Hz tone: another client records the virtual microphone."""
import os, re, signal, socket, subprocess, sys, tempfile, time, wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from private_server import PrivateServer, wait_for  # noqa: E402

TOOL = sys.argv[1]
F0 = 200.0
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def samples(path):
    if path.endswith(".mp3"):
        subprocess.run(["mpg123", "-q", "-w", path + ".wav", path], check=True, timeout=30)
        path += ".wav"
    with wave.open(path) as w:
        rate, ch, raw = w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())
    return [int.from_bytes(raw[i:i + 2], "little", signed=True)
            for i in range(0, len(raw), 2 * ch)], rate


def median_f0(rows, start, end):
    f = sorted(float(r[1]) for r in rows if float(r[1]) > 0 and start < float(r[0]) < end)
    return f[len(f) // 2] if f else 0.0


def largest_step(x):
    return max((abs(b - a) for a, b in zip(x, x[1:])), default=0)


def run(*args):
    return subprocess.run([TOOL, *args], env=ENV, capture_output=True, text=True, timeout=30)


def start(*args):
    return subprocess.Popen([TOOL, *args], env=ENV, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def ours():
    """Every module of ours and every source named like ours the server has."""
    modules = [l for l in SERVER.pactl("list", "short", "modules").stdout.splitlines()
               if "quillmar" in l]
    return modules, SERVER.pactl("list", "sources").stdout.count("Description: Quillmar Voice\n")


def start_live(*args):
    p = start("live", *args)
    up = wait_for(lambda: ours()[1] == 1, 10)
    return p, up


def record_voice(path):
    """Another client records the virtual microphone. On PulseAudio the first client to record
    it hears a second or two of silence first (so does one that records the monitor of any null
    sink played with a short latency), so voices are judged back from the end."""
    rec = subprocess.Popen(["parecord", "--device=quillmar_voice", "--latency-msec=20",
                            "--file-format=wav", path], env=ENV, stderr=subprocess.DEVNULL)
    return rec, wait_for(lambda: loud_end(path), 15)


def loud_end(path):
    """Whether the last 50 ms written to a growing 16-bit WAV carry sound."""
    try:
        with open(path, "rb") as f:
            f.seek(max(44, os.path.getsize(path) - 8820) & ~1)
            tail = f.read()
    except OSError:
        return False
    return max((abs(int.from_bytes(tail[i:i + 2], "little", signed=True))
                for i in range(0, len(tail) - 1, 2)), default=0) > 1000


def stop(p):
    p.send_signal(signal.SIGTERM)
    p.wait(timeout=15)
    return p.returncode


def live_session(kind, work):
    global player
    player = subprocess.Popen(["paplay", "--device=input", work + "/../tone.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)
    try:
        p, up = start_live("--effect", "Baby", "--record", work + "/live.mp3")
        check(up, f"{kind}: live offers one \"Quillmar Voice\"")
        block = SERVER.pactl("list", "sources").stdout.split("Name: quillmar_voice\n")
        props = block[1].split("\n\n")[0] if len(block) > 1 else ""
        check("Monitor of Sink: n/a" in props and "Description: Quillmar Voice" in props,
              f"{kind}: quillmar_voice is a source of its own, not a monitor")
        second = run("live", "--seconds", "1")
        check(second.returncode == 1 and f"process {p.pid}" in second.stderr,
              f"{kind}: a second live of the same name is refused naming the first")
        rec, heard = record_voice(work + "/voices.wav")
        time.sleep(2.0)
        r = run("switch", "none")
        check(r.returncode == 0 and r.stdout.strip() == "none", f"{kind}: switch none")
        time.sleep(2.5)
        run("switch", "Monster")
        time.sleep(2.5)
        rec.terminate()
        rec.wait(timeout=10)
        rows = [r.split(",") for r in run("pitch", "--ceiling", "800", work + "/voices.wav")
                .stdout.splitlines()[1:]]
        end = float(rows[-1][0]) if rows else 0.0
        f0 = median_f0(rows, end - 6.8, end - 5.3) if heard else 0.0
        check(abs(f0 / (F0 * 2.52) - 1) < 0.02, f"{kind}: Baby raises 200 Hz by 2.52 ({f0:.1f})")
        f0 = median_f0(rows, end - 4.3, end - 2.8)
        check(abs(f0 / F0 - 1) < 0.02, f"{kind}: after switch none the input's f0 ({f0:.1f})")
        f0 = median_f0(rows, end - 1.8, end - 0.3)
        check(60 < f0 < 120, f"{kind}: after switch Monster its low voice ({f0:.1f})")
        r = run("switch", "--status")
        check(r.stdout.strip() == "Monster", f"{kind}: switch --status names the voice")
        check(stop(p) == 0 and ours() == ([], 0), f"{kind}: after SIGTERM nothing of ours remains")
        voices = re.findall(r"\| ([0-9.]+) s: (\w+)", run("info", work + "/live.mp3").stdout)
        voices = list(dict.fromkeys(voices))  # the voice line and the tag's comment
        check([v for _, v in voices] == ["none", "Monster"] and
              2.0 < float(voices[1][0]) - float(voices[0][0]) < 3.0,
              f"{kind}: live --record notes every voice with its start ({voices})")

        p, _ = start_live()
        p.kill()
        p.wait()
        left = len(ours()[0])
        p = start("live", "--effect", "Robot")
        up = wait_for(lambda: any(f"quillmar.pid={p.pid}" in m for m in ours()[0]), 10)
        modules, count = ours()
        check(left > 0 and up and count == 1 and all(f"quillmar.pid={p.pid}" in m
                                                     for m in modules),
              f"{kind}: after SIGKILL the next live removes what was left ({left} modules)")
        stop(p)
        r = run("switch", "none")
        check(r.returncode == 1 and "no live" in r.stderr, f"{kind}: switch with nothing running")
        stale_sockets()
        if kind == "pipewire":  # PulseAudio: see the README's note on an unplugged input
            input_removed(kind, work)
        r = run("live", "--device", "nothing_here")
        check(r.returncode == 1 and "nothing_here" in r.stderr and ours() == ([], 0),
              f"{kind}: an unknown source is refused and nothing is loaded")
    finally:
        player.kill()
        player.wait()


def input_removed(kind, work):
    """The microphone unplugged and plugged back: the virtual one stays and speaks again. (A
    client that recorded it all along is moved by both servers to the returning default source,
    which the voice's own source stood in for meanwhile; so a new client listens afterwards.)"""
    global player
    p, _ = start_live("--effect", "Baby", "--device", "input.monitor")
    time.sleep(1.0)
    module = [l.split()[0] for l in SERVER.pactl("list", "short", "modules").stdout.splitlines()
              if "sink_name=input " in l]
    SERVER.pactl("unload-module", *module[:1])
    gone = wait_for(lambda: "is gone" in p.stderr.readline(), 5)
    time.sleep(1.0)
    stayed = ours()[1] == 1
    SERVER.pactl("load-module", "module-null-sink", "sink_name=input", "rate=48000", "channels=1")
    player.kill()
    player = subprocess.Popen(["paplay", "--device=input", work + "/../tone.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)
    back = wait_for(lambda: "is back" in p.stderr.readline(), 5)
    rec, heard = record_voice(work + "/again.wav")
    time.sleep(1.5)
    rec.terminate()
    rec.wait(timeout=10)
    rows = [r.split(",") for r in run("pitch", "--ceiling", "800", work + "/again.wav")
            .stdout.splitlines()[1:]]
    end = float(rows[-1][0]) if rows else 0.0
    f0 = median_f0(rows, end - 1.3, end - 0.2)
    stopped = stop(p) == 0
    check(gone and stayed and back and heard and abs(f0 / (F0 * 2.52) - 1) < 0.02 and stopped,
          f"{kind}: the input removed and back, the voice stays and speaks again ({f0:.1f})")


def stale_sockets():
    """A socket left by a killed command is removed; a link named like one is never followed
    (here to a listener that would answer) and never removed."""
    run_dir = ENV["XDG_RUNTIME_DIR"]
    dead = subprocess.Popen(["true"])
    dead.wait()
    left = socket.socket(socket.AF_UNIX)
    left.bind(f"{run_dir}/quillmar-{dead.pid}.sock")
    left.close()
    bait = socket.socket(socket.AF_UNIX)
    bait.bind(run_dir + "/bait")
    bait.listen(1)
    link = f"{run_dir}/quillmar-{os.getpid()}.sock"
    os.symlink(run_dir + "/bait", link)
    r = run("switch", "--status")
    check(r.returncode == 1 and "no live" in r.stderr and
          not os.path.exists(f"{run_dir}/quillmar-{dead.pid}.sock") and
          os.path.islink(link), "switch removes a killed command's socket and ignores a link")
    os.unlink(link)
    bait.close()


def many_switches(work):
    """500 switches through the socket during a recording: a whole file, its length, no step."""
    player = subprocess.Popen(["paplay", "--device=input", work + "/../tone.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)
    try:
        largest = 0
        for voice in ("Baby", "Monster"):
            run("record", "--effect", voice, "--seconds", "2", work + f"/{voice}.wav")
            x, rate = samples(work + f"/{voice}.wav")
            largest = max(largest, largest_step(x[rate // 2:]))
        out = work + "/switched.wav"
        p = start("record", "--effect", "Baby", "--seconds", "8", out)
        path = ENV["XDG_RUNTIME_DIR"] + f"/quillmar-{p.pid}.sock"
        wait_for(lambda: os.path.exists(path), 10)
        for i in range(500):
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(path)
                s.sendall(("switch %d\n" % (1, 0, 6)[i % 3]).encode())
                s.recv(100)
            time.sleep(0.012)
        p.wait(timeout=30)
        x, rate = samples(out) if p.returncode == 0 else ([], 1)
        check(abs(len(x) / rate - 8.0) < 0.05, f"the switched recording lasts 8 s ({len(x) / rate})")
        step = largest_step(x[rate // 2:-rate // 10])  # the take's own end cuts the tone
        check(step <= largest * 1.25, f"no step beyond the voices' own ({step} vs {largest})")
    finally:
        player.kill()
        player.wait()


def monitor_loop(kind, work):
    """monitor at the graph's own rate with its output fed back into the sink its input comes
    from (as the latency bench runs it): nothing but a pause may be dropped. With the capture
    and the output on one connection, PipeWire delivered the capture in 21 ms bursts and the
    monitor dropped seconds of it."""
    SERVER.load("module-null-sink", "sink_name=meas", "channels=2", "rate=48000",
                "channel_map=front-left,front-right")
    SERVER.load("module-remap-source", "source_name=mic", "master=meas.monitor", "channels=1",
                "master_channel_map=front-left", "channel_map=mono")
    SERVER.load("module-remap-sink", "sink_name=ear", "master=meas", "channels=1",
                "master_channel_map=front-right", "channel_map=mono")
    SERVER.pactl("set-default-sink", "ear")
    bursts = work + "/bursts.wav"
    subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", bursts, "synth", "0.2",
                    "sine", str(F0), "vol", "0.5", "pad", "0", "0.3", "repeat", "20"], check=True)
    player = subprocess.Popen(["paplay", "--device=meas", "--channel-map=front-left", bursts],
                              env=ENV)
    try:
        r = run("monitor", "--effect", "Robot", "--rate", "48000", "--device", "mic",
                "--seconds", "4")
    finally:
        player.kill()
        player.wait()
    dropped = sum(float(ms) for ms in re.findall(r"(?:skipped|by) (\d+) ms", r.stderr))
    check(r.returncode == 0 and dropped < 150,
          f"{kind}: monitor at 48 kHz in a loop drops no seconds ({dropped:.0f} ms)")


root = tempfile.mkdtemp()
subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", root + "/tone.wav", "synth",
                "60", "sine", str(F0), "vol", "0.5"], check=True)
try:
    for kind in sys.argv[2:] or ["pulse", "pipewire"]:
        work = root + "/" + kind
        os.mkdir(work)
        SERVER = PrivateServer(kind, work)
        ENV = SERVER.env
        # The tone plays into "input", whose monitor is the default source; voices go to
        # "output".
        for args in (["sink_name=input", "rate=48000", "channels=1"],
                     ["sink_name=output", "rate=48000", "channels=2"]):
            SERVER.load("module-null-sink", *args)
        SERVER.pactl("set-default-sink", "output")
        SERVER.pactl("set-default-source", "input.monitor")
        try:
            live_session(kind, work)
            if kind == "pulse":
                many_switches(work)
            monitor_loop(kind, work)
        finally:
            SERVER.stop()
        r = run("live")
        check(r.returncode == 1 and "no sound server" in r.stderr, f"{kind}: no server, exit 1")
finally:
    if not os.environ.get("KEEP"):
        subprocess.run(["rm", "-rf", root])
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)

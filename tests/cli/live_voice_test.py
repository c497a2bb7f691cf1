#!/usr/bin/env python3
"""quillmar live and switch against a private PulseAudio server and a private PipeWire session,
each fed a 200 Hz tone: another client records the virtual microphone."""
import fcntl, itertools, os, pty, re, signal, socket, subprocess, sys, tempfile, termios
import threading, time, wave

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


def start(*args, terminal=None):
    """The command runs on; its error lines are gathered as they come (see said). With a
    terminal, that is its standard input and controlling terminal (its keys)."""
    keys = {} if terminal is None else {
        "stdin": terminal, "start_new_session": True,
        "preexec_fn": lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0)}
    p = subprocess.Popen([TOOL, *args], env=ENV, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, **keys)
    p.lines = []
    p.reader = threading.Thread(target=lambda: [p.lines.append(l) for l in p.stderr],
                                daemon=True)
    p.reader.start()
    return p


def said(p, text, seconds, times=1):
    """Whether the command has said `text` `times` times within `seconds`."""
    return wait_for(lambda: sum(text in l for l in p.lines) >= times, seconds)


def ours():
    """Every module of ours and every source named like ours the server has."""
    modules = [l for l in SERVER.pactl("list", "short", "modules").stdout.splitlines()
               if "quillmar" in l]
    return modules, SERVER.pactl("list", "sources").stdout.count("Description: Quillmar Voice\n")


def start_live(*args):
    """live, once it says the voice flows."""
    p = start("live", *args)
    up = said(p, "speaking through", 10) and ours()[1] == 1
    return p, up


def record_voice(path):
    """Another client records the virtual microphone."""
    rec = subprocess.Popen(["parecord", "--device=quillmar_voice", "--latency-msec=20",
                            "--file-format=wav", path], env=ENV, stderr=subprocess.DEVNULL)
    return rec, wait_for(lambda: loud_end(path), 15)


def voice_at_once(path):
    """Whether every 50 ms of the recording's first 300 ms carries sound."""
    x, rate = samples(path)
    block = rate // 20
    return len(x) >= 6 * block and all(max(map(abs, x[i:i + block])) > 1000
                                       for i in range(0, 6 * block, block))


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


def hearing_yourself(kind):
    """m in live plays the voice to the default output as well and stops it again, and says so
    each time."""
    keys, terminal = pty.openpty()
    try:
        p = start("live", "--effect", "Baby", terminal=terminal)
        looped = lambda: any("module-loopback" in m for m in ours()[0])  # noqa: E731
        up = said(p, "speaking through", 10) and not looped()
        os.write(keys, b"m")
        on = said(p, "hearing yourself on", 5) and wait_for(looped, 5)
        os.write(keys, b"m")
        off = said(p, "hearing yourself off", 5) and not looped()
        check(up and on and off and stop(p) == 0 and ours() == ([], 0),
              f"{kind}: m in live turns hearing yourself on and off ({''.join(p.lines)!r})")
    finally:
        os.close(keys)
        os.close(terminal)


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
        check(voice_at_once(work + "/voices.wav"),
              f"{kind}: the first recorder of the voice hears it from its first 300 ms")
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
        hearing_yourself(kind)
        r = run("switch", "none")
        check(r.returncode == 1 and "no live" in r.stderr, f"{kind}: switch with nothing running")
        stale_sockets()
        input_removed(kind, work)
        if kind == "pulse":  # PipeWire's pulse server has no such module
            new_default_source()
        r = run("live", "--device", "nothing_here")
        check(r.returncode == 1 and "nothing_here" in r.stderr and ours() == ([], 0),
              f"{kind}: an unknown source is refused and nothing is loaded")
    finally:
        player.kill()
        player.wait()


def input_removed(kind, work):
    """The microphone unplugged and plugged back while a call records the voice, and another
    begins meanwhile: the virtual microphone stays, the calls stay on it (ours stands in as the
    default source meanwhile, and both servers move what follows the default when the
    microphone returns), and it speaks again."""
    global player
    p, _ = start_live("--effect", "Baby", "--device", "input.monitor")
    call, _ = record_voice(work + "/call.wav")
    time.sleep(1.0)  # live takes a new listener's place within half a second
    with open(work + "/call.wav", "rb") as f:  # still growing: its header gives no length
        raw = f.read()
    raw = raw[raw.find(b"data") + 8:]
    x = [int.from_bytes(raw[i:i + 2], "little", signed=True) for i in range(0, len(raw) - 1, 2)]
    block = 2400  # 50 ms of the voice's 48 kHz mono
    steady = all(max(map(abs, x[i:i + block])) > 1000 for i in range(0, len(x) - block, block))
    module = [l.split()[0] for l in SERVER.pactl("list", "short", "modules").stdout.splitlines()
              if "sink_name=input " in l]
    SERVER.pactl("unload-module", *module[:1])
    gone = said(p, "is gone", 5)
    late = subprocess.Popen(["parecord", "--device=quillmar_voice", "--latency-msec=20",
                             "--file-format=wav", work + "/late.wav"], env=ENV)
    time.sleep(1.0)
    stayed = ours()[1] == 1
    SERVER.pactl("load-module", "module-null-sink", "sink_name=input", "rate=48000", "channels=1")
    player.kill()
    player = subprocess.Popen(["paplay", "--device=input", work + "/../tone.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)
    back = said(p, "is back", 5) and wait_for(lambda: loud_end(work + "/call.wav"), 10)
    # live places a listener within half a second; a loaded machine (the sanitizers) may take
    # a few of its rounds.
    wait_for(lambda: on_source("parecord") == ["quillmar_voice"] * 2, 5)
    time.sleep(0.5)
    on = on_source("parecord")
    f0s = []
    for rec, path in ((call, "/call.wav"), (late, "/late.wav")):
        rec.terminate()
        rec.wait(timeout=10)
        rows = [r.split(",") for r in run("pitch", "--ceiling", "800", work + path)
                .stdout.splitlines()[1:]]
        end = float(rows[-1][0]) if rows else 0.0
        f0s.append(median_f0(rows, end - 1.3, end - 0.2))
    stopped = stop(p) == 0
    check(steady, f"{kind}: the call hears the voice without a gap while live places it")
    check(gone and stayed and back and on == ["quillmar_voice"] * 2 and
          all(abs(f0 / (F0 * 2.52) - 1) < 0.02 for f0 in f0s) and stopped,
          f"{kind}: the input removed and back, calls begun before and meanwhile stay on the "
          f"voice and hear it again (on {on}, {f0s})")


def on_source(app):
    """The sources the streams of the program `app` record from."""
    sources = {l.split()[0]: l.split()[1]
               for l in SERVER.pactl("list", "short", "sources").stdout.splitlines()}
    return [sources.get(re.search(r"Source: (\d+)", b).group(1)) for b in
            SERVER.pactl("list", "source-outputs").stdout.split("Source Output #")
            if f'application.name = "{app}"' in b]


def new_default_source():
    """A server that makes every new source its default (ours too): live records the
    microphone, never its own voice."""
    module = SERVER.pactl("load-module", "module-switch-on-connect", "ignore_virtual=no").stdout
    p, up = start_live("--effect", "Baby")
    check(up and SERVER.pactl("get-default-source").stdout.strip() == "quillmar_voice" and
          on_source("quillmar") == ["input.monitor"],
          f"pulse: live records the microphone when its voice becomes the default ({on_source('quillmar')})")
    stop(p)
    SERVER.pactl("unload-module", module.strip())
    SERVER.pactl("set-default-source", "input.monitor")


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


def many_switches(kind, work):
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
        check(abs(len(x) / rate - 8.0) < 0.05,
              f"{kind}: the switched recording lasts 8 s ({len(x) / rate})")
        step = largest_step(x[rate // 2:-rate // 10])  # the take's own end cuts the tone
        check(step <= largest * 1.25,
              f"{kind}: no step beyond the voices' own ({step} vs {largest})")
    finally:
        player.kill()
        player.wait()


def voice_of(f0):
    """Which voice a 200 Hz tone came through, by the pitch heard."""
    for name, factor in (("none", 1.0), ("Male2Female", 2.245), ("Baby", 2.52)):
        if abs(f0 / (F0 * factor) - 1) < 0.03:
            return name
    return "silent" if f0 == 0 else "?"


def monitor_switches(kind, work):
    """A running monitor switched from Baby (run inside the server's callback) to Male2Female
    (whose long steps run on a worker) and back to none, then muted and unmuted with the m key:
    the output carries each voice in turn without a gap, is silent only while muted, and the
    monitor still takes all its seconds."""
    player = subprocess.Popen(["paplay", "--device=input", work + "/../tone.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)
    keys, terminal = pty.openpty()
    heard = work + "/monitored.wav"
    rec = subprocess.Popen(["parecord", "--device=output.monitor", "--file-format=wav",
                            "--channels=1", heard], env=ENV, stderr=subprocess.DEVNULL)
    try:
        began = time.monotonic()
        p = start("monitor", "--effect", "Baby", "--seconds", "10", terminal=terminal)
        # Baby is heard for a while first (a server may start a new recording late).
        wait_for(lambda: loud_end(heard), 10)
        heard_at = time.monotonic() + 1.0
        for at, act in ((0.0, "Male2Female"), (2.0, "none"), (3.5, "m"), (4.5, "m")):
            time.sleep(max(0.0, heard_at + at - time.monotonic()))
            if act == "m":
                os.write(keys, b"m")
            else:
                run("switch", act)
        p.wait(timeout=20)
        p.reader.join(timeout=5)
        err = "".join(p.lines)
        took = time.monotonic() - began
        time.sleep(0.5)
        rec.terminate()
        rec.wait(timeout=10)
        rows = [r.split(",") for r in run("pitch", "--ceiling", "800", "--step", "0.02", heard)
                .stdout.splitlines()[1:]]
        # Silent means no sound: a frame of sound whose pitch the tracker cannot name (a voice's
        # rough moment) is no gap.
        x, rate = samples(heard)
        loud = [max(map(abs, x[max(0, int((float(r[0]) - 0.01) * rate)):
                               int((float(r[0]) + 0.01) * rate)]), default=0) > 2000 for r in rows]
        voices = [voice_of(float(r[1])) for r in rows]
        voices = ["?" if v == "silent" and big else v for v, big in zip(voices, loud)]
        while voices and voices[0] != "Baby":  # the sink's silence before the monitor starts
            voices.pop(0)
        while voices and voices[-1] != "none":
            voices.pop()
        # Silence the monitor owned up to: a block voice's worker that came late (a loaded
        # machine, the sanitizers) is heard as silence and said so. The longest silent run is
        # the mute; other silent frames up to the lateness said are forgiven.
        late = re.search(r"came (\d+) ms late", err)
        forgive = int(late.group(1)) // 20 + 1 if late else 0
        spans = [[v, len(list(g))] for v, g in itertools.groupby(voices)]
        mute = max((s for s in spans if s[0] == "silent"), key=lambda s: s[1], default=None)
        for i, span in enumerate(spans):
            if span[0] != "silent" or span is mute:
                continue
            if (span[1] == 1 and 0 < i < len(spans) - 1 and spans[i - 1][0] != spans[i + 1][0]):
                span[0] = "?"  # one frame between two voices: the fade, like "?"
            elif span[1] <= forgive:
                forgive -= span[1]
                span[0] = "?"
        voices = [v for v, n in spans for _ in range(n)]
        runs = [v for i, v in enumerate(voices) if i == 0 or v != voices[i - 1]]
        runs = [v for v in runs if v != "?"]  # a fade's few frames between two voices
        runs = [v for i, v in enumerate(runs) if i == 0 or v != runs[i - 1]]
        muted = voices.count("silent") * 0.02
        check(runs == ["Baby", "Male2Female", "none", "silent", "none"] and 0.6 < muted < 1.3,
              f"{kind}: monitor switched to Male2Female and back, muted by m: the voices in turn, "
              f"silent only while muted ({runs}, {muted:.2f} s)")
        # Whether the block voice's worker kept up is a matter of the machine's load (the
        # sanitizers, a busy CI host): the voices heard in turn above show it ran, and forgive
        # its silence only as far as the monitor said it came late.
        check(p.returncode == 0 and "muted" in err and took > 9.5,
              f"{kind}: the monitor ran its seconds and said when it was muted ({took:.1f} s: {err})")
    finally:
        for q in (player, rec):
            q.kill()
            q.wait()
        os.close(keys)
        os.close(terminal)


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
            monitor_switches(kind, work)
            many_switches(kind, work)
            monitor_loop(kind, work)
            p, up = start_live()
            SERVER.stop()
            p.wait(timeout=15)
            check(up and p.returncode == 1 and said(p, "the sound server went away\n", 5),
                  f"{kind}: the server gone mid-session: exit 1, said so (and no file named)")
        finally:
            SERVER.stop()
        r = run("live")
        check(r.returncode == 1 and "no sound server" in r.stderr, f"{kind}: no server, exit 1")
finally:
    if not os.environ.get("KEEP"):
        subprocess.run(["rm", "-rf", root])
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)

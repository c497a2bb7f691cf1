#!/usr/bin/env python3
"""The shipped filter-chain configuration in a private PipeWire session: "Quillmar Voice
(Baby)" is a source that programs record from, and a 200 Hz voice on the default microphone
comes out of it at 200 x 2.52 Hz (Baby's default pitch factor).

    pipewire_voice_test.py BUILD_DIR QUILLMAR"""
import os, shutil, signal, subprocess, sys, tempfile, time

BUILD, TOOL = sys.argv[1], sys.argv[2]
F0 = 200.0
BABY = 2.52
work = tempfile.mkdtemp()
started = []  # every process this test starts, ended by its id


def fail(what):
    print("FAIL " + what)
    sys.exit(1)


def start(*args):
    process = subprocess.Popen(args, env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(process.pid)
    return process


def run(*args, check=True):
    return subprocess.run(args, env=ENV, capture_output=True, text=True, timeout=30, check=check)


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def served():
    return subprocess.run(["pactl", "info"], env=ENV, capture_output=True).returncode == 0


def listed(name):
    return name in run("pactl", "list", "short", "sources", check=False).stdout


def main():
    prefix = os.path.join(work, "usr")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    conf = os.path.join(prefix, "share/quillmar/pipewire/quillmar-voice-baby.conf")
    if not os.path.isfile(conf):
        fail("the filter-chain configuration is not installed in share/quillmar/pipewire")
    # The README's install step, into this session's own configuration folder.
    conf_dir = os.path.join(work, "config/pipewire/pipewire.conf.d")
    os.makedirs(conf_dir)
    shutil.copy(conf, conf_dir)

    ENV["LV2_PATH"] = os.path.join(prefix, "lib/lv2") + ":/usr/lib/lv2"
    bus = subprocess.run(["dbus-launch", "--sh-syntax"], env=ENV, capture_output=True, text=True,
                         check=True).stdout
    for line in bus.splitlines():
        if line.startswith("DBUS_SESSION_BUS_ADDRESS="):
            ENV["DBUS_SESSION_BUS_ADDRESS"] = line.split("=", 1)[1].rstrip(";").strip("'")
        if line.startswith("DBUS_SESSION_BUS_PID="):
            started.append(int(line.split("=", 1)[1].rstrip(";")))
    start("pipewire")
    start("wireplumber")
    start("pipewire-pulse")
    if not wait_for(served, 10):
        fail("the private PipeWire session does not answer")
    if not wait_for(lambda: listed("quillmar_voice_baby"), 10):
        fail("no source quillmar_voice_baby: the filter chain did not load the plugin")
    description = run("pactl", "list", "sources").stdout
    if "Quillmar Voice (Baby)" not in description:
        fail('the virtual microphone is not described as "Quillmar Voice (Baby)"')

    # The microphone: a null sink we play into and a source remapped from its monitor.
    run("pactl", "load-module", "module-null-sink", "sink_name=voicefeed", "channel_map=mono")
    run("pactl", "load-module", "module-remap-source", "master=voicefeed.monitor",
        "source_name=voicemic", "channel_map=mono")
    run("pactl", "set-default-source", "voicemic")
    tone = os.path.join(work, "tone.wav")
    subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", tone, "synth", "8",
                    "sine", str(F0), "gain", "-6"], check=True)
    player = start("paplay", "-d", "voicefeed", tone)
    take = os.path.join(work, "take.wav")
    recorder = start("parecord", "-d", "quillmar_voice_baby", "--file-format=wav", take)
    time.sleep(4)
    recorder.send_signal(signal.SIGINT)
    recorder.wait(timeout=10)
    player.kill()
    player.wait()

    rows = run(TOOL, "pitch", "--ceiling", "800", take).stdout.splitlines()[1:]
    f0 = [float(r.split(",")[1]) for r in rows if float(r.split(",")[1]) > 0]
    if len(f0) < 100:
        fail(f"only {len(f0)} voiced frames recorded from the virtual microphone")
    mean = sum(f0) / len(f0)
    # The pitch track of a steady shifted tone stays within a few hertz of its centre.
    if abs(mean - F0 * BABY) > 0.02 * F0 * BABY:
        fail(f"the virtual microphone carries {mean:.1f} Hz, not {F0 * BABY:.1f} Hz")
    print(f"ok   Quillmar Voice (Baby) records {mean:.1f} Hz from a {F0:.0f} Hz voice")


ENV = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, "run"), HOME=work,
           XDG_CONFIG_HOME=os.path.join(work, "config"))
for name in ("PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "PIPEWIRE_REMOTE"):
    ENV.pop(name, None)
os.mkdir(ENV["XDG_RUNTIME_DIR"], 0o700)
try:
    main()
finally:
    for pid in reversed(started):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    time.sleep(0.2)
    shutil.rmtree(work, ignore_errors=True)

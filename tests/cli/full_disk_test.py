#!/usr/bin/env python3
"""A disk that fills up, or a folder removed, under quillmar's writers: record (with --keep-raw),
render of several files and retune. What was written before must stay a file any decoder plays,
with the length its header claims; a render output is complete or absent.

The disk is a small tmpfs mounted here; where mounting is refused, each run gets a file-size
limit instead (RLIMIT_FSIZE, with SIGXFSZ ignored as a shell would leave it)."""
import atexit, os, re, resource, signal, subprocess, sys, tempfile, time, wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from private_server import wait_for  # noqa: E402

TOOL, SAMPLE = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


work = tempfile.mkdtemp()
ENV = dict(os.environ, XDG_RUNTIME_DIR=work + "/run", HOME=work)
ENV.pop("PULSE_SERVER", None)
os.mkdir(work + "/run", 0o700)
disk = work + "/disk"
os.mkdir(disk)
DISK_BYTES = 160 * 1024
mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={DISK_BYTES}", "tmpfs", disk],
                         capture_output=True).returncode == 0


def clean_up():  # also after an exception
    if mounted:
        subprocess.run(["umount", disk])
    subprocess.run(["rm", "-rf", work])


atexit.register(clean_up)
print("disk: " + ("a tmpfs of %d bytes" % DISK_BYTES if mounted else
                  "no mount allowed: a file-size limit of %d bytes" % DISK_BYTES))


def limit(size):
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


def tool(*args, size=None, wait=True):
    """Runs the tool; on the small disk without a mount, under the file-size limit."""
    if size is None and not mounted:
        size = DISK_BYTES
    proc = subprocess.Popen([TOOL, *args], env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, preexec_fn=limit(size) if size else None)
    return finish(proc) + (proc.returncode,) if wait else proc


def finish(proc):
    """The process's output; one that does not end in time is ended and fails the test."""
    try:
        return proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        out = proc.communicate()
        check(False, "the tool ended within a minute")
        return out


def decoded(path):
    """(samples per channel, rate) an independent decoder gets; (0, 1) when it fails."""
    into = work + "/decoded.wav"  # not on the full disk
    if path.endswith(".mp3"):
        r = subprocess.run(["mpg123", "-q", "-w", into, path], capture_output=True)
    else:
        r = subprocess.run(["sox", path, "-b", "16", into], capture_output=True)
    if r.returncode != 0 or r.stderr:  # sox warns of a header that lies about the length
        return 0, 1
    with wave.open(into) as w:
        return w.getnframes(), w.getframerate()


def claimed_seconds(path):
    """The length the file's own header or Info frame gives, as sox (WAV, FLAC) or mpg123 read it."""
    if path.endswith(".mp3"):
        # Its progress lines give the time played and the time left by the Info frame.
        out = subprocess.run(["mpg123", "-t", "-v", path], capture_output=True, text=True).stderr
        m = re.search(r"> \d+\+\d+ +(\d+):(\d+\.\d+)\+(\d+):(\d+\.\d+)", out)
        return (60 * float(m.group(1)) + float(m.group(2)) + 60 * float(m.group(3)) +
                float(m.group(4))) if m else -1.0
    out = subprocess.run(["sox", "--i", "-D", path], capture_output=True, text=True).stdout
    return float(out or -1)


def no_partial_files(folder):
    return not [f for f in os.listdir(folder) if ".part" in f]


pa_conf = work + "/pa.conf"
with open(pa_conf, "w") as conf:
    conf.write("load-module module-native-protocol-unix auth-anonymous=1\n"
               "load-module module-null-sink sink_name=input rate=48000 channels=1\n"
               "set-default-source input.monitor\n")
subprocess.run(["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", work + "/noise.wav", "synth",
                "120", "whitenoise", "vol", "0.5"], check=True)  # noise: an MP3 as big as it gets
server = subprocess.Popen(["pulseaudio", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                           "--disallow-exit=yes", "--use-pid-file=no", "--realtime=no",
                           "--high-priority=no", "-n", "-F", pa_conf], env=ENV,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
player = None
try:
    check(wait_for(lambda: "input.monitor" in tool("devices", size=0)[0], 10),
          "the private sound server is up")
    player = subprocess.Popen(["paplay", "--device=input", work + "/noise.wav"], env=ENV,
                              stderr=subprocess.DEVNULL)

    # A take that fills the disk: it stops at once, says so, and keeps a whole file. The raw
    # take (FLAC, beside the MP3) fills it first; the MP3 must be complete all the same.
    for name, raw in (("take.wav", False), ("take.mp3", False), ("both.mp3", True)):
        out = disk + "/" + name
        began = time.monotonic()
        args = ["record", "--effect", "Baby", "--seconds", "60", out] + (["--keep-raw"] if raw else [])
        stdout, stderr, rc = tool(*args)
        took = time.monotonic() - began
        kept = [out[:-4] + ".raw.flac", out] if raw else [out]
        check(rc == 1 and "the disk is full: the recording so far is kept in '" + kept[0] + "'" in stderr
              and stdout.split() == kept, f"{name}: exit 1, the message and the path ({rc}: {stderr.strip()})")
        check(took < 50, f"{name}: the take stops when the disk is full ({took:.1f} s)")
        for path in kept:
            frames, rate = decoded(path) if os.path.exists(path) else (0, 1)
            seconds, claimed = frames / rate, claimed_seconds(path)
            # At least what a tenth of the disk holds as plain 16-bit audio.
            check(seconds > DISK_BYTES / 10 / 96000, f"{path}: decodes to {seconds:.2f} s")
            check(abs(claimed - seconds) < 0.06,
                  f"{path}: its header claims what it holds ({claimed:.3f} s, decoded {seconds:.3f})")
        if name.endswith(".mp3"):
            with open(out, "rb") as f:
                head = f.read(4096)
            check(head.startswith(b"ID3") and b"Baby" in head, f"{name}: the ID3 tags name the voice")
        check(no_partial_files(disk), f"{name}: no partial file is left")
        for f in os.listdir(disk):
            os.remove(os.path.join(disk, f))

    # The output folder removed during a take: made again, with the take so far in it.
    folder = work + "/gone"
    os.mkdir(folder)
    out = folder + "/take.wav"
    proc = tool("record", "--seconds", "60", out, size=0, wait=False)
    wait_for(lambda: any(f.startswith("take.wav.part") and os.path.getsize(os.path.join(folder, f)) > 96000
                         for f in os.listdir(folder)), 15)
    subprocess.run(["rm", "-rf", folder])
    removed = time.monotonic()
    stdout, stderr = finish(proc)
    took = time.monotonic() - removed
    check(proc.returncode == 1 and "was removed: the recording so far is kept in '" + out + "'" in stderr,
          f"folder removed: exit 1 and the message ({stderr.strip()})")
    check(took < 1.5, f"folder removed: the take stops within a second ({took:.2f} s)")
    frames, rate = decoded(out) if os.path.exists(out) else (0, 1)
    claimed = claimed_seconds(out)  # the take had a second written when the folder went
    check(frames / rate >= 0.9 and abs(claimed - frames / rate) < 0.01,
          f"folder removed: the take so far decodes ({frames / rate:.3f} s, claims {claimed:.3f})")
finally:
    for proc in (player, server):
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()

# Several files rendered onto a disk that takes the first only: the second is named as
# failed, and neither it nor a temporary file of it is left.
short = work + "/short.wav"
subprocess.run(["sox", SAMPLE, short, "trim", "0", "1"], check=True)
out_dir = disk + "/rendered"
stdout, stderr, rc = tool("render", "--effect", "Robot", "-j", "1", short, SAMPLE,
                          "--out-dir", out_dir)
long_name = os.path.basename(SAMPLE)
check(rc == 1 and "the disk is full" in stderr and "1 of 2 files failed" in stderr
      and "'" + SAMPLE + "'" in stderr, f"render: the failed file is named ({stderr.strip()})")
check(os.listdir(out_dir) == ["short.wav"], f"render: only the complete output is there "
      f"({os.listdir(out_dir)}, not {long_name})")
frames, rate = decoded(out_dir + "/short.wav")
check(frames == rate, f"render: the output that fitted is whole ({frames} of {rate})")

# retune under a file-size limit too (whatever the disk): no output, a clear message.
out = work + "/retuned.flac"
stdout, stderr, rc = tool("retune", "--pitch", "1.5", SAMPLE, out, size=40000)
check(rc == 1 and "the disk is full" in stderr and not os.path.exists(out)
      and no_partial_files(work), f"retune: refused cleanly ({stderr.strip()})")
print(f"{len(failures)} failed")
sys.exit(1 if failures else 0)

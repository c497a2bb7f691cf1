"""A private sound server for the live tests and the latency bench: PulseAudio itself, or
PipeWire with its pulse server under a private D-Bus, in a temporary XDG_RUNTIME_DIR and HOME.
Every process it starts is ended by stop()."""
import os, re, signal, subprocess, time


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


class PrivateServer:
    def __init__(self, kind, work):
        self.kind, self.procs, self.dbus_pid = kind, [], 0
        run = os.path.join(work, "run")
        os.mkdir(run, 0o700)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=run, HOME=work)
        for name in ("PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"):
            self.env.pop(name, None)
        if kind == "pulse":
            conf = os.path.join(work, "pa.conf")
            with open(conf, "w") as f:
                f.write("load-module module-native-protocol-unix auth-anonymous=1\n")
            self.start(["pulseaudio", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                        "--disallow-exit=yes", "--use-pid-file=no", "--realtime=no",
                        "--high-priority=no", "-n", "-F", conf])
        else:
            out = subprocess.run(["dbus-launch", "--sh-syntax"], env=self.env, check=True,
                                 capture_output=True, text=True).stdout
            for key in ("DBUS_SESSION_BUS_ADDRESS", "DBUS_SESSION_BUS_PID"):
                self.env[key] = re.search(key + r"='?([^';\n]*)", out).group(1)
            self.dbus_pid = int(self.env["DBUS_SESSION_BUS_PID"])
            for program in ("pipewire", "wireplumber", "pipewire-pulse"):
                self.start([program])
                time.sleep(0.3)
        if not wait_for(lambda: self.pactl("info").returncode == 0, 10):
            self.stop()
            raise RuntimeError(f"the private {kind} server did not start")

    def start(self, args):
        self.procs.append(subprocess.Popen(args, env=self.env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                              timeout=10)

    def load(self, *args):
        r = self.pactl("load-module", *args)
        if r.returncode != 0:
            raise RuntimeError(f"pactl load-module {' '.join(args)}: {r.stderr}")

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        if self.dbus_pid:
            os.kill(self.dbus_pid, signal.SIGTERM)
            self.dbus_pid = 0

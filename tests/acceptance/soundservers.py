"""Private sound servers that a test can kill and start again on the same
socket: PulseAudio, or PipeWire with its pulse server and WirePlumber. Both
offer the same null sinks the acceptance suite uses ("speakers", "room" and
the source "mic" hearing the room), and "headphones", a second sink."""

import os
import signal

from harness import RATE, HarnessError, run, wait_until

SERVERS = ("pulseaudio", "pipewire")


def chosen_server():
    """The server named by TARVO2_SOUND_SERVER (PulseAudio when unset)."""
    name = os.environ.get("TARVO2_SOUND_SERVER", "pulseaudio")
    if name not in SERVERS:
        raise HarnessError("TARVO2_SOUND_SERVER must be one of %s, not %r" % (SERVERS, name))
    return name


class _Server:
    """What both kinds share: a folder, a socket, client settings."""

    def __init__(self, procs, root):
        self.procs = procs
        self.base = os.path.join(root, "sound")
        self.runtime = os.path.join(self.base, "runtime")
        os.makedirs(self.runtime)
        os.chmod(self.runtime, 0o700)
        client_conf = os.path.join(self.base, "client.conf")
        with open(client_conf, "w") as f:
            f.write("autospawn = no\n")
        self.running = []
        self.starts = 0
        self.server_env = {k: v for k, v in os.environ.items()
                           if not k.startswith(("DBUS_", "PULSE_", "PIPEWIRE_", "XDG_"))}
        self.server_env.pop("DISPLAY", None)
        self.server_env.update(HOME=self.base, XDG_RUNTIME_DIR=self.runtime,
                               XDG_CONFIG_HOME=os.path.join(self.base, "config"),
                               XDG_STATE_HOME=os.path.join(self.base, "state"))
        self.client_env = {"PULSE_SERVER": "unix:" + self.socket(),
                           "PULSE_CLIENTCONFIG": client_conf}
        self.env = dict(os.environ, **self.client_env)

    def _log(self, name):
        return open(os.path.join(self.base, "%s-%d.log" % (name, self.starts)), "wb")

    def answers(self):
        return run(["pactl", "info"], self.env, check=False, timeout=5).returncode == 0

    def _wait_ready(self):
        def ready():
            for proc in self.running:
                if proc.poll() is not None:
                    raise HarnessError("%s ended at once (see %s)" % (proc.args[0], self.base))
            return self.answers()

        if not wait_until(ready, 20, 0.1):
            raise HarnessError("the sound server did not answer (see %s)" % self.base)

    def set_defaults(self, sink="speakers", source="mic"):
        run(["pactl", "set-default-sink", sink], self.env)
        run(["pactl", "set-default-source", source], self.env)
        if not wait_until(lambda: "Default Sink: %s" % sink in self.info(), 5):
            raise HarnessError("the default sink is not %s:\n%s" % (sink, self.info()))

    def info(self):
        return run(["pactl", "info"], self.env, check=False).stdout

    def kill(self):
        """Kills the server at once, as a crash would."""
        for proc in reversed(self.running):
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait(5)
            if proc in self.procs.started:
                self.procs.started.remove(proc)
        self.running = []
        if not wait_until(lambda: not self.answers(), 5):
            raise HarnessError("the sound server still answers after being killed")

    def play_into_room(self, wav):
        return self.procs.start(["paplay", "--device=room", wav], env=self.env)


class PulseAudioServer(_Server):
    name = "pulseaudio"

    def socket(self):
        return os.path.join(self.base, "native")

    def start(self):
        self.starts += 1
        env = dict(self.server_env, PULSE_RUNTIME_PATH=os.path.join(self.runtime, "pulse"),
                   PULSE_STATE_PATH=os.path.join(self.base, "state"))
        os.makedirs(os.path.join(self.runtime, "pulse"), exist_ok=True)
        os.makedirs(os.path.join(self.base, "state"), exist_ok=True)
        self.running = [self.procs.start([
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
            "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket(),
            "--load=module-null-sink sink_name=speakers rate=%d channels=2 "
            "channel_map=front-left,front-right" % RATE,
            "--load=module-null-sink sink_name=headphones rate=%d channels=2 "
            "channel_map=front-left,front-right" % RATE,
            "--load=module-null-sink sink_name=room rate=%d channels=2" % RATE,
            "--load=module-remap-source source_name=mic master=room.monitor",
        ], env=env, log=self._log("pulseaudio"))]
        self._wait_ready()
        self.set_defaults()


class PipeWireServer(_Server):
    """pipewire, wireplumber and pipewire-pulse with a session bus of their
    own; the null sinks are loaded through the pulse server."""
    name = "pipewire"

    def socket(self):
        return os.path.join(self.runtime, "pulse", "native")

    def start(self):
        self.starts += 1
        bus = os.path.join(self.runtime, "bus")
        if os.path.exists(bus):
            os.unlink(bus)
        dbus = self.procs.start(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 "--address=unix:path=" + bus], env=self.server_env,
                                log=self._log("dbus"))
        self.running = [dbus]
        if not wait_until(lambda: os.path.exists(bus) or dbus.poll() is not None, 10):
            raise HarnessError("the session bus for PipeWire did not start")
        env = dict(self.server_env, DBUS_SESSION_BUS_ADDRESS="unix:path=" + bus)
        pipewire = self.procs.start(["pipewire"], env=env, log=self._log("pipewire"))
        self.running.append(pipewire)
        if not wait_until(lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")) or
                          pipewire.poll() is not None, 10):
            raise HarnessError("pipewire did not start (see %s)" % self.base)
        self.running.append(self.procs.start(["wireplumber"], env=env,
                                             log=self._log("wireplumber")))
        self.running.append(self.procs.start(["pipewire-pulse"], env=env,
                                             log=self._log("pipewire-pulse")))
        self._wait_ready()
        for args in (["sink_name=speakers", "rate=%d" % RATE, "channels=2",
                      "channel_map=front-left,front-right"],
                     ["sink_name=headphones", "rate=%d" % RATE, "channels=2",
                      "channel_map=front-left,front-right"],
                     ["sink_name=room", "rate=%d" % RATE, "channels=2"]):
            run(["pactl", "load-module", "module-null-sink"] + args, self.env)
        run(["pactl", "load-module", "module-remap-source", "source_name=mic",
             "master=room.monitor"], self.env)

        def listed():
            sinks = run(["pactl", "list", "short", "sinks"], self.env, check=False).stdout
            sources = run(["pactl", "list", "short", "sources"], self.env, check=False).stdout
            return all(n in sinks for n in ("speakers", "headphones", "room")) and "mic" in sources

        if not wait_until(listed, 10):
            raise HarnessError("the null sinks did not appear on PipeWire")
        self.set_defaults()


def make_server(procs, root, name=None):
    name = name or chosen_server()
    server = (PulseAudioServer if name == "pulseaudio" else PipeWireServer)(procs, root)
    server.start()
    return server

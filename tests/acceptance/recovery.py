#!/usr/bin/env python3
"""The sound server goes away under the running program: killed and started
again on the same socket, or the default sink changed. The real program on
Xvfb and a private server, PulseAudio or PipeWire (TARVO2_SOUND_SERVER, or
the second argument: pulseaudio | pipewire).

usage: recovery.py path/to/tarvo2 [pulseaudio|pipewire] [scenario ...]"""

import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (HarnessError, Listener, Processes, XServer, end_on_signals,  # noqa: E402
                     make_tone, run_suite, wait_until)
from soundservers import SERVERS, make_server  # noqa: E402
from world import QUIET, S, SET, SOUND, World, jump_pointer  # noqa: E402

LOST = "Sound device lost"
RESTORED = "Sound device restored"
HEARD_WITHIN = 5.0  # seconds after the new server answers


class SinkListener(Listener):
    """The harness's listener on another sink's monitor."""

    def __init__(self, procs, sound, sink):
        import subprocess
        import threading
        from harness import RATE
        self.proc = procs.start(["parec", "--device=%s.monitor" % sink, "--raw",
                                 "--format=s16le", "--rate=%d" % RATE, "--channels=2",
                                 "--latency-msec=20"], env=sound.env, stdout=subprocess.PIPE)
        self.levels = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        if not wait_until(lambda: len(self.levels) > 5, 10):
            raise HarnessError("no data from the %s monitor" % sink)


class Suite:
    def __init__(self, binary, root, server):
        self.binary = binary
        self.root = root
        self.procs = Processes()
        self.x = XServer(self.procs, root)
        self.sound = make_server(self.procs, root, server)
        self.listener = Listener(self.procs, self.sound)
        self.tone = os.path.join(root, "tone.wav")
        self.room_noise = os.path.join(root, "noise.wav")
        make_tone(self.tone, 1)
        make_tone(self.room_noise, 3, frequency=440, volume=0.9, channels=2)

    def restart_server(self):
        """Kills the server and starts a new one on the same socket; returns
        the time the new one answered."""
        self.procs.stop(self.listener.proc)
        self.sound.kill()
        self.sound.start()
        ready = time.monotonic()
        self.listener = Listener(self.procs, self.sound)
        return ready


def armed_world(suite, name, check, armed=True):
    world = World(suite, name)
    world.add_sound(suite.tone, "tone.wav")
    extra = {(S, "ActMouDetectToggle"): "T", (S, "ActMicDetectToggle"): "T",
             (SET, "frmMaintrkMicTriggerDuration"): "2"}
    if armed:
        extra[(S, "Alarm Active")] = "T"
    world.preset(checked=["tone.wav"], extra=extra)
    world.start()
    win = world.wait_main()
    if armed:
        check(world.wait_report("Alarm - Activated", timeout=10), "the program starts armed")
    return world, win


def scenario_server_restart(suite, world_name, check):
    world, win = armed_world(suite, world_name, check, armed=False)
    time.sleep(2)  # recording has started
    # Disarmed: the devices come back, and the report says nothing.
    suite.restart_server()
    time.sleep(6)
    check(world.report_count(LOST) == 0 and world.report_count(RESTORED) == 0,
          "disarmed: a server restart writes no report line", repr(world.report_lines()))
    win.layout()
    win.click_top("btnActivate")
    check(world.wait_report("Alarm - Activated", timeout=10), "armed by clicking")
    check(suite.listener.wait_for_silence(4, QUIET), "silence while armed")

    # Armed: a pointer jump right after the new server answers is heard.
    suite.sound.kill()
    check(world.wait_report(LOST, timeout=8), "armed: the loss is reported (\"%s\")" % LOST)
    suite.procs.stop(suite.listener.proc)
    suite.sound.start()
    ready = time.monotonic()
    suite.listener = Listener(suite.procs, suite.sound)
    mice = world.report_count("Mouse detected")
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", mice + 1, timeout=HEARD_WITHIN),
          "after the restart a pointer jump raises the alarm")
    heard = suite.listener.wait_for_sound(ready, ready + HEARD_WITHIN - time.monotonic(), SOUND)
    check(heard, "and the alarm is heard within %.0f s of the new server" % HEARD_WITHIN,
          "peak %.0f/%.0f" % suite.listener.peak(ready))
    check(world.wait_report(RESTORED, timeout=5), "the return is reported (\"%s\")" % RESTORED)
    check(suite.listener.wait_for_silence(8, QUIET), "the alarm ends")

    # Again, and this time the microphone hears the room.
    ready = suite.restart_server()
    mics = world.report_count("Microphone detected")
    noise = suite.sound.play_into_room(suite.room_noise)
    check(world.wait_report("Microphone detected", mics + 1,
                            timeout=ready + HEARD_WITHIN - time.monotonic()),
          "after a second restart a loud sound in the room is heard within %.0f s"
          % HEARD_WITHIN)
    check(suite.listener.wait_for_sound(ready, 6, SOUND), "and the alarm sounds",
          "peak %.0f/%.0f" % suite.listener.peak(ready))
    noise.wait(10)
    check(world.wait_report(LOST, 2, timeout=5) and world.wait_report(RESTORED, 2, timeout=5),
          "each loss and return has its line", repr(world.report_lines()[-12:]))
    check(world.running(), "the program still runs")


def switch_default_sink(suite, sink):
    """Makes `sink` the default and listens to both sinks afresh: PipeWire
    moves a monitor recording along with the default sink."""
    suite.sound.set_defaults(sink=sink)
    for listener in getattr(suite, "sinks", {}).values():
        suite.procs.stop(listener.proc)
    suite.sinks = {name: SinkListener(suite.procs, suite.sound, name)
                   for name in ("speakers", "headphones")}
    return suite.sinks[sink], suite.sinks["headphones" if sink == "speakers" else "speakers"]


def scenario_default_sink(suite, world_name, check):
    world, win = armed_world(suite, world_name, check)
    check(suite.listener.wait_for_silence(5, QUIET), "silence while armed")
    # To the second sink while the output is closed, and back to the first
    # while it may still be open from the last sound.
    for sink in ("headphones", "speakers"):
        new, old = switch_default_sink(suite, sink)
        time.sleep(0.5)
        t0 = time.monotonic()
        jump_pointer(world, suite)
        # (The report keeps one of two equal lines in the same minute.)
        check(world.wait_report("Mouse detected", timeout=4),
              "a pointer jump raises the alarm (default sink %s)" % sink)
        check(new.wait_for_sound(t0, 5, SOUND), "the alarm is heard on the new default sink",
              "peak %.0f/%.0f" % new.peak(t0))
        check(max(old.peak(t0)) < QUIET, "and not on the other one",
              "peak %.0f/%.0f" % old.peak(t0))
        # The alarm may play more than one sound: wait until it is over.
        check(new.wait_for_silence(15, QUIET, hold=2), "the alarm ends")
    for listener in suite.sinks.values():
        suite.procs.stop(listener.proc)
    suite.sinks = {}


SCENARIOS = [("server_restart", scenario_server_restart),
             ("default_sink", scenario_default_sink)]


def run_scenarios(suite, check, chosen):
    for name, scenario in SCENARIOS:
        if chosen and name not in chosen:
            continue
        print("--- %s" % name, flush=True)
        failed = check.failed
        try:
            scenario(suite, name, check)
        except Exception as error:
            check(False, "%s ran to its end" % name, "%s: %s" % (type(error).__name__, error))
            traceback.print_exc(file=sys.stdout)
        finally:
            for proc in list(suite.procs.started):
                if proc.args and os.path.basename(str(proc.args[0])) == "tarvo2":
                    suite.procs.stop(proc)
            if check.failed > failed:
                check.keep_files = True
                log = os.path.join(suite.root, name, "program.log")
                if os.path.exists(log):
                    print("--- program output of %s:" % name)
                    sys.stdout.write(open(log, errors="replace").read()[-3000:])


def main():
    end_on_signals()
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    binary = os.path.abspath(sys.argv[1])
    args = sys.argv[2:]
    server = os.environ.get("TARVO2_SOUND_SERVER", "pulseaudio")
    if args and args[0] in SERVERS:
        server = args.pop(0)
    print("--- sound server: %s" % server, flush=True)
    return run_suite("recovery-" + server, lambda root: Suite(binary, root, server),
                     lambda suite, check: run_scenarios(suite, check, args))


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The sound server goes away under the running program: killed and started
again on the same socket, or the default sink changed; or the program's own
stream is muted during a run. The real program on
Xvfb and a private server, PulseAudio or PipeWire (TARVO2_SOUND_SERVER, or
the second argument: pulseaudio | pipewire).

usage: recovery.py path/to/tarvo2 [pulseaudio|pipewire] [scenario ...]"""

import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (HarnessError, Listener, Processes, XServer, end_on_signals,  # noqa: E402
                     make_tone, run, run_suite, wait_until)
from soundservers import SERVERS, make_server  # noqa: E402
from world import QUIET, S, SET, SOUND, World, jump_pointer  # noqa: E402

LOST = "Sound device lost"
RESTORED = "Sound device restored"
STREAM_MUTED = "Alarm sound muted"
HEARD_WITHIN = 5.0  # seconds after the new server answers


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
        self.long_tone = os.path.join(root, "long.wav")
        make_tone(self.tone, 1)
        make_tone(self.long_tone, 6)
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


def armed_world(suite, name, check, armed=True, tone=None, extra=None):
    world = World(suite, name)
    world.add_sound(tone or suite.tone, "tone.wav")
    extra = dict(extra or {})
    extra.update({(S, "ActMouDetectToggle"): "T", (S, "ActMicDetectToggle"): "T",
                  (SET, "frmMaintrkMicTriggerDuration"): "2"})
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
    suite.sinks = {name: Listener(suite.procs, suite.sound, name)
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


def program_stream(suite, world):
    """The program's own playback stream on the server: (index, muted), or
    None."""
    listing = run(["pactl", "list", "sink-inputs"], suite.sound.env, check=False).stdout
    for block in listing.split("Sink Input #")[1:]:
        if 'application.process.id = "%d"' % world.proc.pid in block:
            return block.split()[0], "Mute: yes" in block
    return None


def heard_after_jumps(world, suite, timeout=15):
    """Jumps the pointer until the alarm is heard (a program just started
    arms at its first activation)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        t0 = time.monotonic()
        jump_pointer(world, suite)
        if suite.listener.wait_for_sound(t0, 2.5, SOUND):
            return True
    return False


def scenario_stream_mute(suite, world_name, check):
    """Someone mutes the program's own stream during a run: the line is
    written, the run goes on heard, and the session manager does not carry
    the mute into the later runs, also after a restart."""
    world, win = armed_world(suite, world_name, check, tone=suite.long_tone,
                             extra={(SET, "frmMainspnActivationDelay"): "0"})
    check(suite.listener.wait_for_silence(5, QUIET), "silence while armed")
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", timeout=4), "a pointer jump raises the alarm")
    check(wait_until(lambda: program_stream(suite, world) is not None, 5),
          "the alarm plays through a stream of the program's own")
    stream = program_stream(suite, world)
    if stream is None:
        return
    run(["pactl", "set-sink-input-mute", stream[0], "1"], suite.sound.env)
    muted_at = time.monotonic()
    check(world.wait_report(STREAM_MUTED, timeout=5), "the mute is reported (\"%s\")"
          % STREAM_MUTED, repr(world.report_lines()[-6:]))
    check(suite.listener.wait_for_sound(muted_at + 1.0, 4, SOUND), "and the run goes on heard",
          "peak %.0f/%.0f" % suite.listener.peak(muted_at + 1.0))
    check(suite.listener.wait_for_silence(20, QUIET, hold=2), "the alarm ends")
    check(wait_until(lambda: program_stream(suite, world) is None, 10), "its stream closes")
    time.sleep(1.5)  # a session manager stores a stream's state after a second
    check(heard_after_jumps(world, suite), "a later run is heard")
    check(suite.listener.wait_for_silence(20, QUIET, hold=2), "the alarm ends")
    world.stop()
    world.start()
    world.wait_main()
    check(heard_after_jumps(world, suite), "after a restart the alarm is heard")


SCENARIOS = [("server_restart", scenario_server_restart),
             ("default_sink", scenario_default_sink),
             ("stream_mute", scenario_stream_mute)]


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

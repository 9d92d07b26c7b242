#!/usr/bin/env python3
"""Acceptance scenarios: the real tarvo2 binary, started as a user would, on
a real X server and a real sound server, nothing mocked.

usage: acceptance.py path/to/tarvo2 [scenario-name ...]
Prints one line per check and a closing "N passed, N failed"; exits non-zero
on any failure, also when the machinery (Xvfb, PulseAudio) cannot run.
The run's folder (program logs, screenshots such as main-window.png) is kept
with TARVO2_KEEP_ACCEPTANCE=1; a failed check prints the program's output."""

import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (HarnessError, Listener, Processes, SoundServer, XServer,  # noqa: E402
                     end_on_signals, make_tone, run, run_suite, wait_until)
from session_scenarios import scenario_volume_guard  # noqa: E402
from world import (CLIENT_H, CLIENT_W, IDLE, LIT, QUIET, S, SET, SOUND, TOP_BAR_Y, V,  # noqa: E402
                   World, arm_with, jump_pointer, recording, service_note)


class Suite:
    def __init__(self, binary, root):
        self.binary = binary
        self.root = root
        self.procs = Processes()
        self.x = XServer(self.procs, root)
        self.sound = SoundServer(self.procs, root)
        self.listener = Listener(self.procs, self.sound)
        self.tone = os.path.join(root, "tone.wav")          # 1 s alarm sound
        self.long_tone = os.path.join(root, "long.wav")     # 20 s alarm sound
        self.room_noise = os.path.join(root, "noise.wav")   # loud sound in the room
        make_tone(self.tone, 1)
        make_tone(self.long_tone, 20, frequency=660)
        make_tone(self.room_noise, 3, frequency=440, volume=0.9, channels=2)


# --- scenarios ---------------------------------------------------------------


def scenario_first_start(suite, world, check):
    world.start()
    welcome = wait_until(world.welcome_windows, 20, 0.1)
    if not check(welcome, "first start shows the welcome window"):
        return
    check(not world.main_windows(), "the main window waits for the welcome window")
    check(world.value(V, "ProgramLocation") == world.app,
          "\"ProgramLocation\" holds the program's path",
          repr(world.value(V, "ProgramLocation")))
    check(world.value(S, "MsgThanx") in (None, ""), "\"MsgThanx\" not yet stored")
    wid = next(iter(welcome))
    suite.x.key(wid, "Escape")
    check(wait_until(lambda: not world.welcome_windows(), 5), "Escape closes the welcome window")
    check(wait_until(lambda: world.value(S, "MsgThanx") == "T", 5),
          "\"MsgThanx\" stored after the welcome window closed")
    win = world.wait_main()
    check(win.width == CLIENT_W and win.height - win.menu == CLIENT_H,
          "main window client area is 537x594", "window %dx%d" % (win.width, win.height))
    check(0 < win.menu < 60, "a menu bar above the client area", "menu bar %d px" % win.menu)
    cx, cy = win.x + win.width // 2, win.y + win.height // 2
    check(abs(cx - suite.x.WIDTH // 2) <= 2 and abs(cy - suite.x.HEIGHT // 2) <= 30,
          "main window centred on the screen", "centre at %d,%d" % (cx, cy))
    time.sleep(0.5)  # let the first paint reach the framebuffer
    shot = win.screenshot(os.path.join(suite.root, "main-window.png"))
    idle = (0, 95, 140)
    gap = shot.pixel(*win.point(431, TOP_BAR_Y))
    check(gap == idle, "top bar in the idle colour between btnSimulation and btnActivate",
          "pixel %s" % (gap,))
    below = shot.pixel(*win.point(431, 47 + 3))
    check(below != idle, "the top bar is 46 px high", "pixel below %s" % (below,))
    bottom = shot.pixel(*win.point(10, CLIENT_H - 12))
    check(bottom == idle, "bottom bar in the idle colour", "pixel %s" % (bottom,))
    # A restart does not greet again.
    rc = world.close_main(win)
    check(rc == 0, "the close box ends the program with 0", "exit code %r" % rc)
    world.start()
    world.wait_main()
    check(not world.welcome_windows(), "the next start shows no welcome window")


def scenario_second_start(suite, world, check):
    world.preset()
    first = world.start()
    world.wait_main()
    before = open(world.store, "rb").read()
    began = time.monotonic()
    rc = world.start_again()
    check(rc == 0, "a second start exits with 0", "exit code %r" % rc)
    check(time.monotonic() - began < 5, "a second start ends quickly")
    check(wait_until(lambda: len(world.main_windows()) == 1, 20), "one main window is left",
          "%d main windows" % len(world.main_windows()))
    check(first.poll() is None, "the first copy still runs")

    check(open(world.store, "rb").read() == before, "the second start wrote no settings")


def scenario_mouse_alarm(suite, world, check):
    world.add_sound(suite.tone, "tone.wav")
    world.preset(checked=["tone.wav"])
    world.start()
    win = world.wait_main()
    check(not os.path.exists(world.autostart), "no autostart entry while disarmed")
    arm_with(world, win, check, "btnMouDetect", "ActMouDetectToggle")
    check(os.path.exists(world.autostart), "the autostart entry exists while armed")
    entry = open(world.autostart, encoding="utf-8", errors="replace").read().splitlines()
    check("Exec=" + world.app in entry, "the autostart entry starts this program",
          repr(entry))
    lines = [l.split("] ", 1)[-1] for l in world.report_lines() if l and not service_note(l)]
    check(lines == ["Waiting 2 second(s) before Activation", "Mouse Detection - Enabled",
                    "Alarm - Activated"], "the report holds the arming lines", repr(lines))
    check(suite.listener.wait_for_silence(3, QUIET), "the speakers are silent while armed")
    t0 = time.monotonic()
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", timeout=4), "a pointer jump reports \"Mouse detected\"")
    check(suite.listener.wait_for_sound(t0, 5, SOUND), "and the speakers carry the alarm sound",
          "peak %.0f/%.0f" % suite.listener.peak(t0))
    check(suite.listener.wait_for_silence(6, QUIET), "the one-sound alarm ends by itself")


def scenario_microphone(suite, world, check):
    world.add_sound(suite.tone, "tone.wav")
    # Three loud blocks in a row (about 0.3 s) count as a sound in the room.
    world.preset(checked=["tone.wav"], extra={(SET, "frmMaintrkMicTriggerDuration"): "2"})
    world.start()
    win = world.wait_main()
    win.layout()
    win.click_top("btnMicDetect")
    check(wait_until(lambda: world.value(S, "ActMicDetectToggle") == "T", 5),
          "clicking btnMicDetect switches it on")
    check(wait_until(lambda: recording(world, suite), 20), "the recording has started")
    # Disarmed: the detector hears the room but raises nothing.
    check(win.led("shpLedMicDetection") == IDLE, "the microphone LED is idle in a quiet room")
    t0 = time.monotonic()
    noise = suite.sound.play_into_room(suite.room_noise)
    check(wait_until(lambda: win.led("shpLedMicDetection") == LIT, 4, 0.02),
          "disarmed: the microphone LED lights while the room is loud")
    noise.wait(10)
    time.sleep(1.0)
    check(world.report_count("Microphone detected") == 0,
          "disarmed: a loud sound adds no report line")
    level = suite.listener.peak(t0)
    check(max(level) < QUIET, "disarmed: the speakers stay silent", "peak %.0f/%.0f" % level)
    # Armed with only the microphone detector.
    win.click_top("btnActivate")
    check(world.wait_report("Alarm - Activated", timeout=8), "armed with the microphone detector")
    lines = [l.split("] ", 1)[-1] for l in world.report_lines() if l]
    check("Microphone Detection - Enabled" in lines and "Mouse Detection - Enabled" not in lines,
          "only the microphone detector is enabled", repr(lines))
    check(suite.listener.wait_for_silence(3, QUIET), "silence before the sound in the room")
    t0 = time.monotonic()
    noise = suite.sound.play_into_room(suite.room_noise)
    check(world.wait_report("Microphone detected", timeout=6),
          "armed: a loud sound reports \"Microphone detected\"")
    check(suite.listener.wait_for_sound(t0, 6, SOUND), "armed: the speakers carry the alarm",
          "peak %.0f/%.0f" % suite.listener.peak(t0))
    noise.wait(10)


def scenario_escape(suite, world, check):
    world.add_sound(suite.long_tone, "long.wav")
    world.preset(checked=["long.wav"])
    world.start()
    win = world.wait_main()
    arm_with(world, win, check, "btnMouDetect", "ActMouDetectToggle")
    check(os.path.exists(world.autostart), "the autostart entry exists while armed")
    t0 = time.monotonic()
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", timeout=4), "a pointer jump raises the alarm")
    check(suite.listener.wait_for_sound(t0, 5, SOUND), "the alarm sound plays",
          "peak %.0f/%.0f" % suite.listener.peak(t0))
    win.key("Escape")
    check(world.wait_report("Alarm - Stoped", timeout=4), "Escape reports \"Alarm - Stoped\"")
    check(suite.listener.wait_for_silence(3, QUIET, hold=0.5), "Escape stops the sound")
    t1 = time.monotonic()
    time.sleep(1.5)
    check(max(suite.listener.peak(t1)) < QUIET, "and it stays stopped")
    check(wait_until(lambda: not os.path.exists(world.autostart), 3),
          "the autostart entry is gone")
    check(world.value(S, "Alarm Active") is None, "\"Alarm Active\" is no longer stored")
    # Disarmed now: the pointer raises nothing.
    before = len(world.report_lines())
    t2 = time.monotonic()
    jump_pointer(world, suite)
    time.sleep(1.5)
    check(len(world.report_lines()) == before and max(suite.listener.peak(t2)) < QUIET,
          "after Escape a pointer jump adds no line and no sound")
    # Escape also cancels an activation delay that is still running.
    win.click_top("btnActivate")
    check(world.wait_report("Waiting 2 second(s) before Activation", timeout=5),
          "arming again starts the activation delay")
    win.key("Escape")
    check(world.wait_report("Alarm - Stoped", timeout=4), "Escape during the delay disarms")
    time.sleep(3)
    check(world.report_count("Alarm - Activated") == 0 and world.value(S, "Alarm Active") is None,
          "and arming never completes", repr(world.report_lines()))


def scenario_restart_armed(suite, world, check):
    world.add_sound(suite.tone, "tone.wav")
    world.preset(checked=["tone.wav"])
    world.start()
    win = world.wait_main()
    arm_with(world, win, check, "btnMouDetect", "ActMouDetectToggle")
    rc = world.close_main(win, timeout=3)
    check(rc is None and world.running(), "the close box while armed keeps the program running",
          "exit code %r" % rc)
    # With neither a tray nor a notification service (as here) the window
    # goes to the task bar instead of vanishing, and the report says so.
    check(wait_until(lambda: not world.main_windows() or
                     world.report_count("Window minimised instead of hidden: no tray and no "
                                        "notification service") == 1, 5),
          "and only hides (or minimises) the window")
    check(world.report_count("Alarm - Stoped") == 0, "closing does not disarm")
    world.stop()  # as a log-out or a shutdown ends it
    check(world.value(S, "Alarm Active") == "T" and os.path.exists(world.autostart),
          "\"Alarm Active\" and the autostart entry stay")
    activated = world.report_count("Alarm - Activated")
    waited = world.report_count("Waiting 2 second(s) before Activation")
    # Start again without touching anything.
    world.start()
    world.wait_main()
    check(world.wait_report("Waiting 2 second(s) before Activation", waited + 1, timeout=5),
          "the restart goes through the activation delay")
    check(world.wait_report("Alarm - Activated", activated + 1, timeout=10),
          "the restart re-arms by itself")
    check(suite.listener.wait_for_silence(3, QUIET), "silence while re-armed")
    t0 = time.monotonic()
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", timeout=4),
          "after the restart a pointer jump reports \"Mouse detected\"")
    check(suite.listener.wait_for_sound(t0, 5, SOUND), "and the alarm sounds",
          "peak %.0f/%.0f" % suite.listener.peak(t0))


def scenario_speaker_test(suite, world, check):
    world.add_sound(suite.long_tone, "long.wav")
    world.preset()
    world.start()
    win = world.wait_main()
    win.click(*win.layout()["first_sound"])  # highlight the sound; its check mark does not matter
    time.sleep(0.3)
    for name, where in (("R", "right"), ("L", "left"), ("C", "both")):
        check(suite.listener.wait_for_silence(3, QUIET), "silence before \"%s\"" % name)
        t0 = time.monotonic()
        win.click_speaker(name)
        heard = suite.listener.wait_for_sound(t0, 4, SOUND)
        time.sleep(0.5)
        left, right = suite.listener.peak(t0)
        expected = {"right": left < QUIET and right >= SOUND,
                    "left": left >= SOUND and right < QUIET,
                    "both": left >= SOUND and right >= SOUND}[where]
        check(heard and expected, "\"%s\" plays on %s" % (
            name, "both channels" if where == "both" else "the %s channel only" % where),
              "left %.0f, right %.0f" % (left, right))
        win.click_speaker("Stop")
        check(suite.listener.wait_for_silence(3, QUIET), "\"Stop\" silences the test")


def scenario_garbled_files(suite, world, check):
    # A settings file full of junk: the program starts, greets as on a first
    # run (nothing readable was stored) and keeps the junk for the user.
    os.makedirs(os.path.dirname(world.store))
    junk = bytes(range(256)) * 8 + b"\n[SoftWare\n=\x00\xff broken\n" + os.urandom(1024)
    with open(world.store, "wb") as f:
        f.write(junk)
    # A report file with bytes of every kind on lines of its own.
    os.makedirs(os.path.dirname(world.report))
    report_lines = [b"[01.02.03 04:05] Alarm - Activated", b"\xff\xfe\x00\x01 binary \x80\x81",
                    "Äußerst ürig, Latin-1: ".encode("latin-1") + b"\xe4\xf6\xfc",
                    b"x" * 20000, b"", b"[99.99.99 99:99] hand-edited line"]
    report = b"\r\n".join(report_lines) + b"\r\n"
    with open(world.report, "wb") as f:
        f.write(report)
    world.add_sound(suite.tone, "tone.wav")
    world.start()
    welcome = wait_until(world.welcome_windows, 20, 0.1)
    if welcome:
        suite.x.key(next(iter(welcome)), "Escape")
    win = world.wait_main()
    check(world.running(), "starts with a garbled settings file and a garbled report")
    kept = any(open(os.path.join(d, f), "rb").read() == junk
               for d, _, files in os.walk(world.config) for f in files)
    check(kept, "the garbled settings file is kept, byte for byte")
    check(world.value(V, "ProgramLocation") == world.app, "a fresh settings file is written")
    with open(world.report, "rb") as f:
        check(f.read() == report, "the report file is left as it was")
    win.screenshot(os.path.join(suite.root, "garbled-main-window.png"))
    rc = world.close_main(win)
    check(rc == 0, "and closes normally", "exit code %r" % rc)
    # Armed at the next start: the program resumes, and the report gains
    # its lines after the user's, which stay as they were.
    world.preset(checked=["tone.wav"], extra={(S, "Alarm Active"): "T",
                                              (S, "ActMouDetectToggle"): "T"})
    world.start()
    world.wait_main()
    check(world.wait_report("Alarm - Activated", 2, timeout=10), "re-arms from the store")
    with open(world.report, "rb") as f:
        now = f.read()
    check(now.startswith(report), "the user's report lines are kept byte for byte",
          "file begins %r" % now[:80])
    added = [l.decode("utf-8", "replace").split("] ", 1)[-1]
             for l in now[len(report):].split(b"\r\n") if l and not service_note(l.decode())]
    check(added == ["Waiting 2 second(s) before Activation", "Mouse Detection - Enabled",
                    "Alarm - Activated"], "the new lines follow them", repr(added))
    t0 = time.monotonic()
    jump_pointer(world, suite)
    check(world.wait_report("Mouse detected", timeout=4), "and the alarm works")
    check(suite.listener.wait_for_sound(t0, 5, SOUND), "with sound")


SCENARIOS = [
    ("first_start", scenario_first_start),
    ("second_start", scenario_second_start),
    ("mouse_alarm", scenario_mouse_alarm),
    ("microphone", scenario_microphone),
    ("escape_disarms", scenario_escape),
    ("restart_armed", scenario_restart_armed),
    ("speaker_test", scenario_speaker_test),
    ("garbled_files", scenario_garbled_files),
    ("volume_guard", lambda suite, world, check: scenario_volume_guard(
        suite, world, check, (arm_with, jump_pointer, SET, SOUND, QUIET))),
]


def harness_check(suite, check):
    """The machinery itself: sound reaches the speakers' monitor and the
    microphone, the pointer moves."""
    t0 = time.monotonic()
    run(["paplay", "--device=speakers", suite.tone], suite.sound.env, timeout=10)
    level = suite.listener.peak(t0)
    ok = check(min(level) >= SOUND, "harness: sound played to the speakers is heard",
               "peak %.0f/%.0f" % level)
    ok &= check(suite.listener.wait_for_silence(3, QUIET), "harness: the speakers fall silent")
    # A short latency, and the tone only once the recording delivers: on a
    # busy machine the recorder may take longer than a fixed pause to start.
    recorded = os.path.join(suite.root, "mic.raw")
    rec = suite.procs.start(["parec", "--device=mic", "--raw", "--format=s16le", "--channels=1",
                             "--rate=44100", "--latency-msec=50"], env=suite.sound.env,
                            stdout=open(recorded, "wb"))
    wait_until(lambda: os.path.getsize(recorded) > 0, 10)
    run(["paplay", "--device=room", suite.tone], suite.sound.env, timeout=10)
    after = os.path.getsize(recorded)
    wait_until(lambda: os.path.getsize(recorded) >= after + 2 * 44100 // 2, 10)
    suite.procs.stop(rec)
    data = open(recorded, "rb").read()
    loud = max((abs(int.from_bytes(data[i:i + 2], "little", signed=True))
                for i in range(0, len(data) - 1, 2)), default=0)
    ok &= check(loud > 10000, "harness: sound in the room reaches the microphone",
                "peak %d" % loud)
    suite.x.move_pointer(640, 512)
    ok &= check(suite.x.pointer() == (640, 512), "harness: the pointer moves")
    return ok


def run_scenarios(suite, check, chosen):
    if not harness_check(suite, check):
        return
    for name, scenario in SCENARIOS:
        if chosen and name not in chosen:
            continue
        print("--- %s" % name, flush=True)
        world = World(suite, name)
        failed_before = check.failed
        started = time.monotonic()
        try:
            scenario(suite, world, check)
        except Exception as error:  # a scenario that breaks is a failure
            check(False, "%s ran to its end" % name, "%s: %s" % (
                type(error).__name__, error))
            traceback.print_exc(file=sys.stdout)
        finally:
            if check.failed > failed_before:
                try:
                    suite.x.screenshot().save_png(os.path.join(world.dir, "failed.png"))
                except Exception:
                    pass
            world.stop()
            world.log.close()
            if check.failed > failed_before:
                check.keep_files = True
                print("--- program output of %s (%s):" % (name, world.dir))
                sys.stdout.write(open(world.log_path, errors="replace").read()[-4000:])
        print("--- %s took %.1f s" % (name, time.monotonic() - started), flush=True)


def main():
    end_on_signals()
    if len(sys.argv) < 2:
        print("usage: acceptance.py path/to/tarvo2 [scenario ...]")
        return 2
    binary = os.path.abspath(sys.argv[1])
    chosen = sys.argv[2:]

    def make_suite(root):
        if not os.access(binary, os.X_OK):
            raise HarnessError("no program at %s" % binary)
        return Suite(binary, root)

    return run_suite("acceptance", make_suite,
                     lambda suite, check: run_scenarios(suite, check, chosen))


if __name__ == "__main__":
    sys.exit(main())

"""Acceptance scenarios of the armed alarm against the desk's own sound
controls: the output sink muted during an alarm run, and turned down while
armed. Run from acceptance.py with its helpers."""

import time

from harness import run, wait_until

SPEAKERS = "speakers"


def _sink_muted(suite):
    out = run(["pactl", "get-sink-mute", SPEAKERS], suite.sound.env).stdout
    return "yes" in out


def _sink_percent(suite):
    out = run(["pactl", "get-sink-volume", SPEAKERS], suite.sound.env).stdout
    first = out.splitlines()[0] if out else ""
    return [int(part.split("%")[0].split()[-1]) for part in first.split(",") if "%" in part]


def _reset_sink(suite):
    run(["pactl", "set-sink-mute", SPEAKERS, "0"], suite.sound.env)
    run(["pactl", "set-sink-volume", SPEAKERS, "100%"], suite.sound.env)


def scenario_volume_guard(suite, world, check, helpers):
    arm_with, jump_pointer, SET, SOUND, QUIET = helpers
    world.add_sound(suite.tone, "tone.wav")
    # Three one-second sounds per alarm: a run long enough to mute in.
    world.preset(checked=["tone.wav"], extra={(SET, "frmMaintrkPersistence"): "2"})
    _reset_sink(suite)
    try:
        world.start()
        win = world.wait_main()
        arm_with(world, win, check, "btnMouDetect", "ActMouDetectToggle")
        lines = [l.split("] ", 1)[-1] for l in world.report_lines() if l]
        check("Volume guard not available" not in lines, "the volume guard is available",
              repr(lines))

        # Muted during the run: heard anyway, muted again after it.
        t0 = time.monotonic()
        jump_pointer(world, suite)
        check(world.wait_report("Mouse detected", timeout=4), "a pointer jump raises the alarm")
        check(suite.listener.wait_for_sound(t0, 5, SOUND), "the run begins")
        run(["pactl", "set-sink-mute", SPEAKERS, "1"], suite.sound.env)
        t1 = time.monotonic()
        check(suite.listener.wait_for_sound(t1 + 0.5, 5, SOUND),
              "muting the speakers during the run does not silence it",
              "peak %.0f/%.0f" % suite.listener.peak(t1 + 0.5))
        check(suite.listener.wait_for_silence(10, QUIET), "the run ends")
        check(wait_until(lambda: _sink_muted(suite), 5), "and the speakers are muted again after it")
        check(world.report_count("Volume muted") == 0,
              "muting during a run is not another trigger", repr(world.report_lines()))

        # Turned down while armed: an intrusion, and its run is heard at full volume.
        run(["pactl", "set-sink-mute", SPEAKERS, "0"], suite.sound.env)
        time.sleep(2)  # the trigger's temporary mute is over
        run(["pactl", "set-sink-volume", SPEAKERS, "20%"], suite.sound.env)
        t2 = time.monotonic()
        check(world.wait_report("Volume lowered", timeout=5),
              "turning the speakers down while armed reports \"Volume lowered\"")
        check(suite.listener.wait_for_sound(t2, 5, SOUND), "and the alarm is heard at full volume",
              "peak %.0f/%.0f" % suite.listener.peak(t2))
        check(suite.listener.wait_for_silence(10, QUIET), "the run ends")
        check(wait_until(lambda: _sink_percent(suite) == [20, 20], 5),
              "and the speakers are back at 20 %", repr(_sink_percent(suite)))
        win.key("Escape")
        check(world.wait_report("Alarm - Stoped", timeout=5), "Escape disarms")
    finally:
        _reset_sink(suite)

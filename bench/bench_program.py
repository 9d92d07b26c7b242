#!/usr/bin/env python3
"""Measures the real program on Xvfb and a private PulseAudio server, each
figure beside a baseline measured in the same run:

- idle CPU and wake-ups, disarmed (microphone and mouse off) and armed
  (microphone and mouse on), against a bare SDL capture loop at the same
  block size (bench_audio_captureloop);
- pointer jump -> first alarm sound (min / median / p95 / max), with the
  microphone on and with the mouse alone; a key press -> first sound with
  the keyboard detector alone; all against the listener's own delay
  (paplay started -> heard);
- a loud sound in the room -> first alarm sound, beyond the trigger length
  (the microphone's trigger length in blocks of 100 ms);
- start -> main window shown, against a minimal Qt window
  (bench_info_minimalwindow);
- pointer jump -> sound with a report of 1 KB, 20 MB and 100 MB, with the
  triggers that went unheard;
- with photos on (a test camera on a private PipeWire): pointer jump ->
  first sound, beside pointer jump -> photo on disk (the sound must not
  wait for the photo);
- camera motion -> first sound with the camera detector alone: the test
  camera's picture changes for a second (a person passing), against the
  pointer jump with the mouse alone in the same run.

The pointer is moved and keys are pressed from this process (Xlib, XTEST),
and each trigger is timed from the moment it is sent, so starting a helper
program is not counted.

usage: bench_program.py path/to/build [--seconds N] [--jumps N] [--starts N]
                        [--report-jumps N] [--big-report-jumps N]
                        [--compare other/tarvo2]... [--start-rounds N] [--start-only]
                        [--idle-only] [--camera-only]
--compare measures another build of the program (e.g. the previous one) in
the same run, for every figure; it may be given more than once.
--start-only measures start -> window shown alone (--start-rounds starts
of each program, default 9), without a report and with a report of
--start-report-mb MB (default 100; 0 leaves that row out).
Not run by CTest (it takes minutes); prints figures and judges nothing."""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "acceptance"))
from world import QUIET, S, SET, SOUND, World  # noqa: E402
from harness import Listener, Processes, SoundServer, XServer, make_tone, wait_until  # noqa: E402
from soundservers import make_server  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def sample(pid):
    """(cpu seconds, voluntary context switches of all threads, thread names).
    A voluntary switch is a thread going to sleep, so each is one wake-up;
    preemptions by other processes (a busy machine) are not counted."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime
    switches, names = 0, []
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        switches += int(line.split()[1])
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                names.append(f.read().strip())
        except FileNotFoundError:
            pass  # a thread that just ended
    return cpu, switches, names


def idle_cost(pid, seconds, server_pid=None):
    cpu0, sw0, _ = sample(pid)
    srv0 = sample(server_pid)[0] if server_pid else 0
    time.sleep(seconds)
    cpu1, sw1, names = sample(pid)
    srv1 = sample(server_pid)[0] if server_pid else 0
    return {"cpu": 100 * (cpu1 - cpu0) / seconds, "wakeups": (sw1 - sw0) / seconds,
            "server": 100 * (srv1 - srv0) / seconds, "threads": names}


def show_idle(label, r):
    print("  %-34s %6.3f %% CPU  %7.1f wake-ups/s  (server %5.3f %%)  threads: %s"
          % (label, r["cpu"], r["wakeups"], r["server"], " ".join(sorted(r["threads"]))),
          flush=True)


def first_sound(listener, since, timeout=6):
    """Seconds from `since` to the first 20 ms block louder than SOUND."""
    if not listener.wait_for_sound(since, timeout, SOUND):
        return None
    with listener.lock:
        for t, left, right in listener.levels:
            if t >= since and max(left, right) >= SOUND:
                return t - since
    return None


BLOCK = 0.1  # the microphone's block, the unit of its trigger length
MIC_TRIGGER_LENGTH = 3  # blocks: a trigger after 4 loud blocks in a row


def jump(world, suite):
    """A pointer jump; the time it was sent."""
    px, py = suite.x.pointer()
    return suite.x.warp_pointer(100 if px > 400 else 900, 100 if py > 400 else 800)


def key(world, suite):
    # With the focus on the root window, X gives a key to the window under
    # the pointer: over the program's window, Space would press its focused
    # button (and disarm) instead of reaching another program.
    suite.x.warp_pointer(5, 5)
    return suite.x.press_key("space")


def room_sound(world, suite):
    """A loud sound in the room; the time the microphone's source carries it,
    less the trigger length, so that what is left is the program's delay."""
    t0 = time.monotonic()
    suite.sound.play_into_room(suite.room_tone)
    if not suite.room.wait_for_sound(t0, 6, SOUND):
        return t0
    return t0 + first_sound(suite.room, t0) + MIC_TRIGGER_LENGTH * BLOCK


def latencies(suite, world, count, trigger=jump):
    found = []
    for _ in range(count):
        suite.listener.wait_for_silence(15, QUIET, hold=0.5)
        suite.room.wait_for_silence(15, QUIET, hold=0.5)
        # The alarm ignores triggers for 1.5 s after one. The trigger falls at
        # a random point of the program's 250 ms timers, whose phase otherwise
        # follows the last run and would skew a whole series.
        time.sleep(1.7 + random.uniform(0, 0.5))
        t0 = trigger(world, suite)
        found.append(first_sound(suite.listener, t0))
    heard = sorted(x for x in found if x is not None)
    return heard, len(found) - len(heard)


def latencies_over_starts(suite, name, detectors, jumps, starts, report_bytes=0, trigger=jump,
                          env=None):
    """Triggers spread over several starts of the program: the phase between
    its two 250 ms timers (pointer sampling, task queue) is set at each start
    and adds up to 250 ms to every jump of that start alike."""
    heard, missed, shown = [], 0, []
    per_start = max(1, -(-jumps // starts))
    for n in range(starts):
        world = new_world(suite, "%s-%d" % (name, n), armed=True, detectors=detectors,
                          report_bytes=report_bytes)
        world.env.update(env or {})
        t0 = time.monotonic()
        world.start()
        world.wait_main(timeout=60)
        shown.append(time.monotonic() - t0)
        world.wait_report("Alarm - Activated", timeout=60)
        suite.x.focus_root()
        time.sleep(5)  # the output closes a few seconds after start-up
        h, m = latencies(suite, world, min(per_start, jumps - len(heard) - missed), trigger)
        heard += h
        missed += m
        world.stop()
    return sorted(heard), missed, statistics.median(shown)


def listener_delay(suite, count):
    """paplay started -> its sound heard: what the measuring itself adds."""
    found = []
    for _ in range(count):
        suite.listener.wait_for_silence(15, QUIET, hold=0.5)
        t0 = time.monotonic()
        proc = suite.procs.start(["paplay", "--device=speakers", suite.tone], env=suite.sound.env)
        found.append(first_sound(suite.listener, t0))
        proc.wait()
    heard = sorted(x for x in found if x is not None)
    return heard, len(found) - len(heard)


def show_latency(label, heard, missed):
    if not heard:
        print("  %-34s no sound heard (%d unheard)" % (label, missed), flush=True)
        return
    p95 = heard[min(len(heard) - 1, int(round(0.95 * (len(heard) - 1))))]
    print("  %-34s min %4.0f  median %4.0f  p95 %4.0f  max %4.0f ms  (%d heard, %d unheard)"
          % (label, 1000 * heard[0], 1000 * statistics.median(heard), 1000 * p95,
             1000 * heard[-1], len(heard), missed), flush=True)


class Suite:
    def __init__(self, binary, root):
        self.binary, self.root = binary, root
        self.procs = Processes()
        self.x = XServer(self.procs, root)
        self.sound = SoundServer(self.procs, root)
        self.listener = Listener(self.procs, self.sound)
        self.room = Listener(self.procs, self.sound, "room")
        self.tone = os.path.join(root, "tone.wav")
        make_tone(self.tone, 0.5)
        # Longer than the trigger length, shorter than the temporary mute.
        self.room_tone = os.path.join(root, "room.wav")
        make_tone(self.room_tone, 1.0, frequency=440)


SWITCHES = {"mic": "ActMicDetectToggle", "mouse": "ActMouDetectToggle",
            "keys": "ActKeyDetectToggle", "camera": "ActCamDetectToggle"}


def new_world(suite, name, armed, detectors=("mouse",), report_bytes=0):
    world = World(suite, name)
    world.add_sound(suite.tone, "tone.wav")
    extra = {(SET, "frmMaintrkMicTriggerDuration"): str(MIC_TRIGGER_LENGTH)}
    if armed:
        extra[(S, "Alarm Active")] = "T"
    # A switch is on when its value is stored at all.
    for detector in detectors:
        extra[(S, SWITCHES[detector])] = "T"
    world.preset(checked=["tone.wav"], extra=extra)
    if report_bytes:
        os.makedirs(os.path.dirname(world.report), exist_ok=True)
        line = b"[01.01.26 00:00] Mouse detected\r\n"
        with open(world.report, "wb") as f:
            f.write(line * max(1, report_bytes // len(line)))
    return world


class CameraSource:
    """A private PipeWire with a test-pattern camera on it (media class
    Video/Source), as a desktop offers a real one."""

    def __init__(self, suite):
        self.server = make_server(suite.procs, os.path.join(suite.root, "camera"), "pipewire")
        env = dict(self.server.server_env)
        self.proc = suite.procs.start(
            ["gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=smpte", "!",
             "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", "!",
             "pipewiresink", "mode=provide",
             # GStreamer's sink sends nothing more once paused while idle.
             "stream-properties=props,media.class=Video/Source,node.description=Bench-camera,"
             "node.pause-on-idle=false"],
            env=env)
        self.client_env = {"PIPEWIRE_RUNTIME_DIR": self.server.runtime}


def gi_python():
    """A Python that has GStreamer's introspection (Debian's, where another
    Python comes first on the PATH)."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "import gi; gi.require_version('Gst', '1.0')"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


class PatternCamera:
    """A test camera on a private PipeWire whose picture changes on command
    (pattern_camera.py)."""

    def __init__(self, suite, python):
        self.server = make_server(suite.procs, os.path.join(suite.root, "pattern-camera"),
                                  "pipewire")
        self.proc = suite.procs.start([python, os.path.join(HERE, "pattern_camera.py"), "smpte"],
                                      env=dict(self.server.server_env), stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE)
        self.ready = self.proc.stdout.readline().strip() == b"ready"
        self.client_env = {"PIPEWIRE_RUNTIME_DIR": self.server.runtime}

    def show(self, pattern):
        try:
            self.proc.stdin.write(pattern.encode() + b"\n")
            self.proc.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass  # the run has ended and the camera with it


def camera_motion(world, suite):
    """Something passes the camera: another picture for one second."""
    t0 = time.monotonic()
    suite.camera.show("spokes")
    threading.Timer(1.0, suite.camera.show, ("smpte",)).start()
    return t0


def show_camera_motion(suite, jumps, starts):
    print("camera motion (a test camera on a private PipeWire, 5 frames/s):", flush=True)
    python = gi_python()
    if not python:
        print("  no Python with GStreamer's introspection (python3-gi, gir1.2-gstreamer-1.0)",
              flush=True)
        return
    suite.camera = PatternCamera(suite, python)
    if not suite.camera.ready:
        print("  the test camera did not start", flush=True)
        return
    for row, detectors, trigger in (("pointer jump -> first sound", ("mouse",), jump),
                                    ("camera motion -> first sound", ("camera",), camera_motion)):
        heard, missed, _ = latencies_over_starts(
            suite, "motion-" + detectors[0], detectors, jumps, starts, trigger=trigger,
            env=suite.camera.client_env)
        show_latency(row, heard, missed)


def photo_files(world):
    folder = os.path.join(os.path.dirname(world.report), "Evidence")
    try:
        return {n for n in os.listdir(folder) if n.endswith(".jpg")}
    except FileNotFoundError:
        return set()


def capture_times(suite, camera, jumps):
    """Pointer jump -> first sound and -> photo on disk, photos on. A photo
    file appears whole (it is renamed into place once written)."""
    world = new_world(suite, "photo", armed=True)
    world.preset(checked=["tone.wav"], extra={(S, "Alarm Active"): "T",
                                              (S, "ActMouDetectToggle"): "T",
                                              (S + "/evidence", "Photo"): "T"})
    world.env.update(camera.client_env)
    world.start()
    world.wait_main(timeout=60)
    world.wait_report("Alarm - Activated", timeout=60)
    time.sleep(5)
    sounds, photos, missed = [], [], 0
    for _ in range(jumps):
        suite.listener.wait_for_silence(15, QUIET, hold=0.5)
        time.sleep(1.7 + random.uniform(0, 0.5))
        before = photo_files(world)
        t0 = jump(world, suite)
        heard = first_sound(suite.listener, t0)
        if heard is not None:
            sounds.append(heard)
        else:
            missed += 1
        if wait_until(lambda: photo_files(world) - before, 10, 0.005):
            photos.append(time.monotonic() - t0)
    world.stop()
    return sorted(sounds), missed, sorted(photos)


def show_capture(suite, jumps):
    print("photos on (test camera on a private PipeWire):", flush=True)
    camera = CameraSource(suite)
    sounds, missed, photos = capture_times(suite, camera, jumps)
    show_latency("pointer jump -> first sound", sounds, missed)
    if photos:
        print("  %-34s median %4.0f ms  max %4.0f ms  (%d of %d jumps)"
              % ("pointer jump -> photo on disk", 1000 * statistics.median(photos),
                 1000 * photos[-1], len(photos), jumps), flush=True)
    else:
        print("  %-34s no photo saved" % "pointer jump -> photo on disk", flush=True)


def time_to_window(start, windows, stop):
    """(wall seconds, CPU seconds of all its threads) from start to the
    window shown. On a busy machine the CPU time is the steadier figure."""
    t0 = time.monotonic()
    proc = start()
    shown = wait_until(lambda: windows() or None, 30, 0.005)
    took = time.monotonic() - t0 if shown else None
    cpu = None
    if shown:
        try:
            cpu = sample(proc.pid)[0]
        except (FileNotFoundError, ProcessLookupError):
            pass
    stop(proc)
    return took, cpu


def show_start(suite, programs, minimal, rounds, report_bytes=0):
    """Start -> main window shown for each program and the minimal Qt window,
    taking turns, so that a busy moment of the machine hits all alike."""
    print("start -> window shown (median of %d, the programs taking turns%s):"
          % (rounds, ", report of %d MB" % (report_bytes >> 20) if report_bytes else ""),
          flush=True)
    worlds = []
    for label, path in programs:
        suite.binary = path
        worlds.append((label, new_world(suite, "start-%s-%d" % (label, report_bytes),
                                        armed=False, detectors=(), report_bytes=report_bytes)))
    suite.binary = programs[0][1]
    qt_env = dict(worlds[0][1].env)
    baseline = "minimal Qt window (baseline)"
    times = {baseline: []}
    for _ in range(rounds):
        times[baseline].append(time_to_window(
            lambda: suite.procs.start([minimal], env=qt_env),
            lambda: suite.x.windows("Minimal window"), suite.procs.stop))
        for label, world in worlds:
            times.setdefault(label, []).append(
                time_to_window(world.start, world.main_windows, suite.procs.stop))
    base = statistics.median([v[0] for v in times[baseline] if v[0] is not None] or [0])
    for label, values in times.items():
        ok = sorted(v[0] for v in values if v[0] is not None)
        cpu = [v[1] for v in values if v[1] is not None]
        if not ok:
            print("  %-34s no window" % label, flush=True)
            continue
        middle = statistics.median(ok)
        print("  %-34s min %4.0f  median %4.0f  max %4.0f ms  (x%.2f)  CPU median %4.0f ms"
              % (label, 1000 * ok[0], 1000 * middle, 1000 * ok[-1], middle / base if base else 0,
                 1000 * statistics.median(cpu) if cpu else -1), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--jumps", type=int, default=20)
    parser.add_argument("--starts", type=int, default=4, help="program starts the jumps spread over")
    parser.add_argument("--report-jumps", type=int, default=20,
                        help="pointer jumps with a 1 KB and a 20 MB report")
    parser.add_argument("--big-report-jumps", type=int, default=50,
                        help="pointer jumps with a 100 MB report")
    parser.add_argument("--compare", action="append", default=[],
                        help="another tarvo2 binary to measure alongside (may be repeated)")
    parser.add_argument("--start-rounds", type=int, default=9,
                        help="starts of each program for start -> window shown")
    parser.add_argument("--idle-only", action="store_true",
                        help="only the idle rows: CPU and wake-ups at rest")
    parser.add_argument("--camera-only", action="store_true",
                        help="only the camera motion rows")
    parser.add_argument("--start-only", action="store_true",
                        help="measure start -> window shown only")
    parser.add_argument("--start-report-mb", type=int, default=100,
                        help="report size of the second start row (0: none)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    binary = os.path.join(build, "app", "tarvo2")
    loop = os.path.join(build, "bench", "bench_audio_captureloop")
    minimal = os.path.join(build, "bench", "bench_info_minimalwindow")
    root = tempfile.mkdtemp(prefix="tarvo2-bench-")
    suite = Suite(binary, root)
    server = suite.sound.proc.pid
    programs = [("program", binary)]
    for number, path in enumerate(args.compare, 1):
        programs.append(("compared" if len(args.compare) == 1 else "compared %d" % number,
                         os.path.abspath(path)))
    try:
        if args.camera_only:
            show_camera_motion(suite, args.jumps, args.starts)
            return 0
        if args.start_only:
            show_start(suite, programs, minimal, args.start_rounds)
            if args.start_report_mb:
                show_start(suite, programs, minimal, args.start_rounds, args.start_report_mb << 20)
            return 0
        print("idle, %d s each:" % args.seconds, flush=True)
        env = dict(os.environ, SDL_AUDIODRIVER="pulseaudio", **suite.sound.client_env)
        bare = suite.procs.start([loop], env=env)
        time.sleep(2)
        show_idle("bare SDL capture loop (baseline)", idle_cost(bare.pid, args.seconds, server))
        suite.procs.stop(bare)

        show_latency("listener: paplay -> heard (baseline)", *listener_delay(suite, 10))

        for label, path in programs:
            suite.binary = path
            world = new_world(suite, label + "-disarmed", armed=False, detectors=())
            world.start()
            world.wait_main()
            time.sleep(3)
            show_idle("%s, disarmed, detectors off" % label,
                      idle_cost(world.proc.pid, args.seconds, server))
            world.stop()

            world = new_world(suite, label + "-armed", armed=True, detectors=("mic", "mouse"))
            world.start()
            world.wait_main()
            world.wait_report("Alarm - Activated", timeout=15)
            time.sleep(5)  # the output closes a few seconds after start-up
            show_idle("%s, armed, microphone+mouse" % label,
                      idle_cost(world.proc.pid, args.seconds, server))
            world.stop()
            if args.idle_only:
                continue
            for row, detectors, trigger in (
                    ("pointer jump -> first sound", ("mic", "mouse"), jump),
                    ("the same, mouse alone", ("mouse",), jump),
                    ("key press -> first sound", ("keys",), key),
                    ("room sound -> sound, less 0.3 s", ("mic",), room_sound)):
                heard, missed, _ = latencies_over_starts(
                    suite, "%s-%s" % (label, "-".join(detectors)), detectors, args.jumps,
                    args.starts, trigger=trigger)
                show_latency("%s: %s" % (label, row), heard, missed)
        suite.binary = binary
        if args.idle_only:
            return 0
        show_capture(suite, args.jumps)
        show_camera_motion(suite, args.jumps, args.starts)

        show_start(suite, programs, minimal, args.start_rounds)
        if args.start_report_mb:
            show_start(suite, programs, minimal, args.start_rounds, args.start_report_mb << 20)

        print("trigger with a report of a given size (mouse alone):", flush=True)
        for name, path in programs:
            suite.binary = path
            for label, size, jumps in (("1 KB", 1 << 10, args.report_jumps),
                                       ("20 MB", 20 << 20, args.report_jumps),
                                       ("100 MB", 100 << 20, args.big_report_jumps)):
                heard, missed, shown = latencies_over_starts(
                    suite, "%s-report-%s" % (name, label.replace(" ", "")), ("mouse",), jumps,
                    max(2, args.starts // 2), report_bytes=size)
                show_latency("%s, report %s (window after %4.0f ms)" % (name, label, 1000 * shown),
                             heard, missed)
        suite.binary = binary
        show_latency("listener: paplay -> heard, again", *listener_delay(suite, 10))
    finally:
        suite.procs.stop_all()
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

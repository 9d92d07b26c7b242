#!/usr/bin/env python3
"""The session ends under the armed program, as at a log-out: the display
(the X server, or the Wayland compositor) alone, or the display, the sound
server and a SIGTERM together. Every round the program ends in order (exit
status 0, no crash) and its stop notice reaches a local alert receiver. Real
Xvfb or headless weston, PulseAudio and program.

usage: session_end.py path/to/tarvo2 [rounds] [x11|wayland]"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import types

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "acceptance"))
from harness import Processes, XServer, wait_until  # noqa: E402
from soundservers import make_server  # noqa: E402
from world import S, SET, World  # noqa: E402

NOTICE = "Tarvo2 stopped while armed ("
SESSION_ENDED = NOTICE + "session ended)"


def notices(log):
    try:
        with open(log) as f:
            return [b for b in (json.loads(line).get("body", "") for line in f) if NOTICE in b]
    except FileNotFoundError:
        return []


def start_weston(suite, world):
    """A headless compositor on a socket in the program's runtime folder; its
    process, or None."""
    socket_path = os.path.join(world.runtime, "tarvo2-wayland")
    log = open(os.path.join(world.dir, "weston.log"), "wb")
    proc = suite.procs.start(["weston", "--backend=headless-backend.so", "--use-pixman",
                              "--no-config", "--socket=tarvo2-wayland"],
                             env=dict(world.env, XDG_RUNTIME_DIR=world.runtime), log=log)
    deadline = time.monotonic() + 20
    while not os.path.exists(socket_path):
        if proc.poll() is not None or time.monotonic() > deadline:
            return None
        time.sleep(0.05)
    del world.env["DISPLAY"]
    world.env.update(QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY="tarvo2-wayland")
    return proc


def one_round(suite, n, together, log, port):
    """A failure's text, or None."""
    if suite.wayland:
        suite.x = types.SimpleNamespace(display="")
    else:
        suite.x = XServer(suite.procs, os.path.join(suite.root, "x%d" % n))
    suite.sound = make_server(suite.procs, os.path.join(suite.root, "s%d" % n), "pulseaudio")
    world = World(suite, "r%d" % n)
    display = start_weston(suite, world) if suite.wayland else suite.x.proc
    if display is None:
        return "weston did not start"
    world.preset(extra={(S, "Alarm Active"): "T", (S, "ActMouDetectToggle"): "T",
                        (SET, "frmMainspnActivationDelay"): "0",
                        (S + "/alert", "URL"): "http://127.0.0.1:%d/notify" % port})
    before = len(notices(log))
    program = world.start()
    if not world.wait_report("Alarm - Activated", timeout=30):
        return "the program did not arm"
    # A log-out: the display, the sound server and the session's processes
    # go at the same moment.
    ending = [display] + (suite.sound.running + [program] if together else [])
    for proc in ending:
        os.killpg(proc.pid, signal.SIGTERM)
    try:
        status = program.wait(30)
    except subprocess.TimeoutExpired:
        status = "still running"
    if status != 0:
        return "exit status %s, not 0" % status
    wait_until(lambda: len(notices(log)) > before, 10)
    sent = notices(log)[before:]
    if len(sent) != 1:
        return "%d stop notices arrived, not 1" % len(sent)
    if not together and SESSION_ENDED not in sent[0]:
        return "the notice says %r" % sent[0]
    return None


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    wayland = len(sys.argv) > 3 and sys.argv[3] == "wayland"
    root = tempfile.mkdtemp(prefix="tarvo2-sessionend-")
    suite = types.SimpleNamespace(binary=sys.argv[1], root=root, procs=Processes(),
                                  wayland=wayland)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    log = os.path.join(root, "alerts.jsonl")
    receiver = Processes()
    receiver.start([sys.executable, os.path.join(here, "alert_server.py"), str(port), log,
                    os.path.join(root, "mode")], cwd=here)
    failed = 0
    try:
        for n in range(rounds):
            # Even rounds: the display alone; odd ones: all of the session.
            shown = "Wayland" if wayland else "X"
            what = "round %d (%s)" % (n, shown + (", sound and SIGTERM" if n % 2 else " alone"))
            failure = one_round(suite, n, n % 2 == 1, log, port)
            suite.procs.stop_all()
            failed += failure is not None
            print("%s: %s" % (what, "FAIL: " + failure if failure else "ok"), flush=True)
    finally:
        suite.procs.stop_all()
        receiver.stop_all()
        shutil.rmtree(root, ignore_errors=True)
    print("%d rounds, %d failed" % (rounds, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

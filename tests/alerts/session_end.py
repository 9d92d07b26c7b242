#!/usr/bin/env python3
"""The session ends under the armed program, as at a log-out: the X server
alone, or the X server, the sound server and a SIGTERM together. Every
round the program ends in order (exit status 0, no crash) and its stop
notice reaches a local alert receiver. Real Xvfb, PulseAudio and program.

usage: session_end.py path/to/tarvo2 [rounds]"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "acceptance"))
from harness import Processes, XServer, wait_until  # noqa: E402
from soundservers import make_server  # noqa: E402
from world import S, SET, World  # noqa: E402

NOTICE = "Tarvo2 stopped while armed ("
SESSION_ENDED = NOTICE + "session ended)"


class Suite:
    def __init__(self, binary, root):
        self.binary, self.root = binary, root
        self.procs = Processes()
        self.x = self.sound = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def notices(log):
    try:
        with open(log) as f:
            bodies = [json.loads(line).get("body", "") for line in f if line.strip()]
    except FileNotFoundError:
        return []
    return [b for b in bodies if NOTICE in b]


def end_together(procs, x, sound, program):
    """What a log-out does: the display, the sound server and the session's
    processes go at the same moment."""
    for proc in [x.proc] + list(sound.running if sound else []) + [program]:
        try:
            os.killpg(proc.pid, signal.SIGTERM) if proc is not program else proc.terminate()
        except ProcessLookupError:
            pass


def main():
    binary = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    root = tempfile.mkdtemp(prefix="tarvo2-sessionend-")
    suite = Suite(binary, root)
    port = free_port()
    log, mode = os.path.join(root, "alerts.jsonl"), os.path.join(root, "mode")
    receiver = Processes()
    receiver.start([sys.executable, os.path.join(here, "alert_server.py"), str(port), log, mode],
                   cwd=here)
    failures = []
    try:
        for n in range(rounds):
            # Even rounds: the X server alone; odd ones: all of the session.
            together = n % 2 == 1
            failed = len(failures)
            suite.x = XServer(suite.procs, os.path.join(root, "x%d" % n))
            suite.sound = make_server(suite.procs, os.path.join(root, "s%d" % n), "pulseaudio")
            world = World(suite, "r%d" % n)
            world.preset(extra={(S, "Alarm Active"): "T", (S, "ActMouDetectToggle"): "T",
                                (SET, "frmMainspnActivationDelay"): "0",
                                (S + "/alert", "URL"): "http://127.0.0.1:%d/notify" % port})
            before = len(notices(log))
            program = world.start()
            what = "round %d (%s)" % (n, "X, sound and SIGTERM" if together else "X alone")
            if not world.wait_report("Alarm - Activated", timeout=30):
                failures.append("%s: the program did not arm" % what)
                suite.procs.stop_all()
                continue
            if together:
                end_together(suite.procs, suite.x, suite.sound, program)
            else:
                os.killpg(suite.x.proc.pid, signal.SIGTERM)
            try:
                status = program.wait(30)
            except subprocess.TimeoutExpired:
                status = "still running"
                program.kill()
            if status != 0:
                failures.append("%s: exit status %s, not 0" % (what, status))
            told = wait_until(lambda: len(notices(log)) > before, 10)
            sent = notices(log)[before:]
            if not told or len(sent) != 1:
                failures.append("%s: %d stop notices arrived, not 1" % (what, len(sent)))
            elif not together and SESSION_ENDED not in sent[0]:
                failures.append("%s: the notice says %r" % (what, sent[0]))
            suite.procs.stop_all()
            print("%s: %s" % (what, "ok" if len(failures) == failed else "FAILED"), flush=True)
    finally:
        suite.procs.stop_all()
        receiver.stop_all()
    for failure in failures:
        print("FAIL: " + failure)
    print("%d rounds, %d failed" % (rounds, len(failures)))
    if not failures:
        subprocess.run(["rm", "-rf", root])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""The world the acceptance scenarios run in: an X server, a private sound
server, a temporary home with a copy of the program, and the means to look
at and listen to what the program does. Python standard library only."""

import array
import ctypes
import ctypes.util
import fcntl
import math
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import zlib

from settings_store import read_store, store_value, write_store  # noqa: F401 (shared)

RATE = 44100
CHUNK_FRAMES = 882  # 20 ms of speaker output per level reading

_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    # Everything the suite starts dies with it, even if the suite itself is
    # killed without a chance to clean up (a CTest timeout).
    _libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class HarnessError(Exception):
    """The test machinery itself could not be set up: a loud failure."""


class Check:
    """Counts and prints the checks of a run. keep_files: set when a scenario
    fails; the run's folder stays for a look when TARVO2_KEEP_ACCEPTANCE=1
    (otherwise it is removed and the run says how to keep it)."""

    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.keep_files = os.environ.get("TARVO2_KEEP_ACCEPTANCE") == "1"

    def __call__(self, ok, what, detail=""):
        if ok:
            self.passed += 1
            print("ok: " + what, flush=True)
        else:
            self.failed += 1
            print("FAIL: " + what + (" -- " + detail if detail else ""), flush=True)
        return bool(ok)


def end_on_signals():
    """A suite stopped by a signal (a CTest timeout) still cleans up."""
    def end(signum, frame):
        raise SystemExit("stopped by signal %d" % signum)
    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGHUP, end)


def run_suite(kind, make_suite, run_scenarios):
    """The frame of a scripted suite: make_suite(root) sets up the machinery
    in a new temporary folder (tarvo2-test-<kind>-XXXXXX, held while the
    suite runs: see tests/common/clean_test_homes.sh), run_scenarios(suite,
    check) runs the checks. Machinery that cannot run or a suite that breaks
    is a failed check; every process is stopped at the end, the folder
    removed unless TARVO2_KEEP_ACCEPTANCE=1 (then renamed tarvo2-kept-...),
    and the closing "N passed, N failed" printed.
    Returns the exit code: 0 only when checks ran and none failed."""
    check = Check()
    began = time.monotonic()
    kind = kind.strip("-")
    kind = kind[len("tarvo2-"):] if kind.startswith("tarvo2-") else kind
    root = tempfile.mkdtemp(prefix="tarvo2-test-%s-" % kind)
    hold = os.open(root, os.O_RDONLY)
    fcntl.flock(hold, fcntl.LOCK_EX | fcntl.LOCK_NB)
    suite = None
    try:
        suite = make_suite(root)
        run_scenarios(suite, check)
    except HarnessError as error:
        check(False, "the test machinery runs", str(error))
    except Exception as error:
        check(False, "the suite ran to its end", "%s: %s" % (type(error).__name__, error))
        traceback.print_exc(file=sys.stdout)
    finally:
        if suite is not None:
            suite.procs.stop_all()
        if os.environ.get("TARVO2_KEEP_ACCEPTANCE") == "1":
            kept = os.path.join(os.path.dirname(root),
                                os.path.basename(root).replace("tarvo2-test-", "tarvo2-kept-", 1))
            os.rename(root, kept)
            print("files kept in %s" % kept)
        else:
            shutil.rmtree(root, ignore_errors=True)
            if check.keep_files:
                print("(TARVO2_KEEP_ACCEPTANCE=1 keeps the run's files for a look)")
        os.close(hold)
    print("wall time %.1f s" % (time.monotonic() - began))
    print("%d passed, %d failed" % (check.passed, check.failed))
    return 0 if check.failed == 0 and check.passed > 0 else 1


def wait_until(predicate, timeout, step=0.05):
    """Polls predicate until it returns something true or the deadline
    passes; returns the last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(step)


class Processes:
    """Every process the suite starts, so that each one can be ended by its
    own id when a scenario or the suite finishes, passed or not."""

    def __init__(self):
        self.started = []

    def start(self, argv, env=None, log=None, cwd=None, stdout=None, stdin=subprocess.DEVNULL,
              pass_fds=()):
        out = stdout if stdout is not None else (log if log is not None else subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=stdin, stdout=out,
                                stderr=log if log is not None else subprocess.DEVNULL,
                                preexec_fn=_die_with_parent, start_new_session=True,
                                pass_fds=pass_fds)
        self.started.append(proc)
        return proc

    def stop(self, proc, grace=3.0):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait(5)
        if proc in self.started:
            self.started.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.started)):
            self.stop(proc, grace=2.0)


def run(argv, env, timeout=10, check=True):
    """Runs a short helper command to its end."""
    result = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, timeout=timeout, preexec_fn=_die_with_parent)
    if check and result.returncode != 0:
        raise HarnessError("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                                   result.stderr.strip()))
    return result


# --- X server -------------------------------------------------------------


class XServer:
    WIDTH, HEIGHT = 1280, 1024

    def __init__(self, procs, root):
        self.procs = procs
        self.fbdir = os.path.join(root, "framebuffer")
        os.makedirs(self.fbdir)
        self.log = open(os.path.join(root, "xvfb.log"), "wb")
        # An explicit number from a high range, tried until one is free:
        # letting Xvfb probe from :0 (-displayfd alone) unlinks the sockets of
        # servers that other tests run at the same time.
        for attempt in range(10):
            number = self._start_on(":%d" % random.randint(200, 3199))
            if number:
                break
        else:
            raise HarnessError("Xvfb did not start (see %s)" % self.log.name)
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("XAUTHORITY", None)
        self._xlib = None
        self._xtst = None
        self._dpy = None

    def _start_on(self, display):
        read_end, write_end = os.pipe()
        # -noreset: without it the server resets (and centres the pointer)
        # whenever its last client leaves, e.g. after every xdotool call.
        self.proc = self.procs.start(["Xvfb", display, "-displayfd", str(write_end), "-noreset",
                                      "-nolisten", "tcp", "-screen", "0",
                                      "%dx%dx24" % (self.WIDTH, self.HEIGHT),
                                      "-fbdir", self.fbdir], log=self.log, pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                os.close(read_end)
                self.procs.stop(self.proc)
                return None
            try:
                chunk = os.read(read_end, 32)
                if not chunk:
                    time.sleep(0.05)
                number += chunk
            except BlockingIOError:
                time.sleep(0.05)
        os.close(read_end)
        return number

    # pointer and keys
    def move_pointer(self, x, y):
        run(["xdotool", "mousemove", str(x), str(y)], self.env)
        if not wait_until(lambda: self.pointer() == (x, y), 3):
            raise HarnessError("the pointer did not move to %d,%d" % (x, y))

    def warp_pointer(self, x, y):
        """Moves the pointer from this process (no helper program to start)
        and returns the monotonic time just before the move was sent."""
        dpy = self._display()
        xlib = self._x11()
        t0 = time.monotonic()
        xlib.XWarpPointer(dpy, 0, xlib.XDefaultRootWindow(dpy), 0, 0, 0, 0, x, y)
        xlib.XSync(dpy, False)
        return t0

    def press_key(self, keysym):
        """A key pressed and released through the XTEST extension; returns
        the monotonic time just before the press was sent."""
        dpy = self._display()
        xlib = self._x11()
        if self._xtst is None:
            name = ctypes.util.find_library("Xtst")
            if not name:
                raise HarnessError("libXtst not found")
            self._xtst = ctypes.CDLL(name)
            self._xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                                     ctypes.c_int, ctypes.c_ulong]
        code = xlib.XKeysymToKeycode(dpy, xlib.XStringToKeysym(keysym.encode()))
        t0 = time.monotonic()
        self._xtst.XTestFakeKeyEvent(dpy, code, True, 0)
        self._xtst.XTestFakeKeyEvent(dpy, code, False, 0)
        xlib.XSync(dpy, False)
        return t0

    def focus_root(self):
        """The root window takes the keyboard focus (keys typed into the
        program's own window are not intruders' keys)."""
        dpy = self._display()
        xlib = self._x11()
        xlib.XSetInputFocus(dpy, xlib.XDefaultRootWindow(dpy), 2, 0)  # RevertToParent
        xlib.XSync(dpy, False)

    def _display(self):
        if self._dpy is None:
            self._dpy = self._x11().XOpenDisplay(self.display.encode())
            if not self._dpy:
                raise HarnessError("cannot open display %s" % self.display)
        return self._dpy

    def pointer(self):
        out = run(["xdotool", "getmouselocation", "--shell"], self.env).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def click(self, x, y):
        self.move_pointer(x, y)
        run(["xdotool", "click", "1"], self.env)

    def focus(self, window):
        run(["xdotool", "windowfocus", "--sync", str(window)], self.env, timeout=5)

    def key(self, window, key):
        """A key pressed and released with the window holding the focus."""
        self.focus(window)
        run(["xdotool", "key", "--clearmodifiers", key], self.env)

    # windows
    def windows(self, name):
        """Visible top-level windows with exactly this title, as
        {id: (x, y, width, height)}."""
        found = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(name)],
                    self.env, check=False).stdout.split()
        result = {}
        for wid in found:
            geo = run(["xdotool", "getwindowgeometry", "--shell", wid], self.env,
                      check=False).stdout
            values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
            if {"X", "Y", "WIDTH", "HEIGHT"} <= values.keys():
                result[int(wid)] = (int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                                    int(values["HEIGHT"]))
        return result

    def close_window(self, window):
        """What the window's close box does: a WM_DELETE_WINDOW request."""
        x = self._x11()
        dpy = x.XOpenDisplay(self.display.encode())
        if not dpy:
            raise HarnessError("cannot open display %s" % self.display)
        try:
            protocols = x.XInternAtom(dpy, b"WM_PROTOCOLS", False)
            delete = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", False)
            event = _XClientMessageEvent()
            event.type = 33  # ClientMessage
            event.display = dpy
            event.window = window
            event.message_type = protocols
            event.format = 32
            event.data[0] = delete
            event.data[1] = 0  # CurrentTime
            x.XSendEvent(dpy, window, False, 0, ctypes.byref(event))
            x.XSync(dpy, False)
        finally:
            x.XCloseDisplay(dpy)

    def _x11(self):
        if self._xlib is None:
            name = ctypes.util.find_library("X11")
            if not name:
                raise HarnessError("libX11 not found")
            x = ctypes.CDLL(name)
            x.XOpenDisplay.restype = ctypes.c_void_p
            x.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x.XInternAtom.restype = ctypes.c_ulong
            x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
            x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                     ctypes.c_void_p]
            x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            x.XCloseDisplay.argtypes = [ctypes.c_void_p]
            x.XDefaultRootWindow.restype = ctypes.c_ulong
            x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            x.XWarpPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                       ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                       ctypes.c_int, ctypes.c_int]
            x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                         ctypes.c_ulong]
            x.XStringToKeysym.restype = ctypes.c_ulong
            x.XStringToKeysym.argtypes = [ctypes.c_char_p]
            x.XKeysymToKeycode.restype = ctypes.c_ubyte
            x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            self._xlib = x
        return self._xlib

    # screen
    def pixel(self, x, y):
        """One pixel of the screen as (r, g, b), read straight from the
        framebuffer file (cheap enough to poll)."""
        with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as f:
            fields = struct.unpack(">25I", f.read(100))
            header_size, byte_order, stride, ncolors = fields[0], fields[7], fields[12], fields[19]
            f.seek(header_size + 12 * ncolors + y * stride + x * 4)
            b = f.read(4)
        return (b[2], b[1], b[0]) if byte_order == 0 else (b[1], b[2], b[3])

    def screenshot(self):
        with open(os.path.join(self.fbdir, "Xvfb_screen0"), "rb") as f:
            return Image.from_xwd(f.read())


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb  # rgb: bytes, 3 per pixel

    @classmethod
    def from_xwd(cls, data):
        fields = struct.unpack(">25I", data[:100])
        header_size, depth, width, height = fields[0], fields[3], fields[4], fields[5]
        byte_order, bpp, stride, ncolors = fields[7], fields[11], fields[12], fields[19]
        if depth != 24 or bpp != 32:
            raise HarnessError("unexpected framebuffer format (depth %d, %d bpp)" % (depth, bpp))
        start = header_size + 12 * ncolors
        rgb = bytearray(width * height * 3)
        for y in range(height):
            row = data[start + y * stride:start + y * stride + width * 4]
            if byte_order == 0:  # LSBFirst: B G R X
                rgb[y * width * 3 + 0:(y + 1) * width * 3:3] = row[2::4]
                rgb[y * width * 3 + 1:(y + 1) * width * 3:3] = row[1::4]
                rgb[y * width * 3 + 2:(y + 1) * width * 3:3] = row[0::4]
            else:  # X R G B
                rgb[y * width * 3 + 0:(y + 1) * width * 3:3] = row[1::4]
                rgb[y * width * 3 + 1:(y + 1) * width * 3:3] = row[2::4]
                rgb[y * width * 3 + 2:(y + 1) * width * 3:3] = row[3::4]
        return cls(width, height, bytes(rgb))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, width, height):
        x, y = max(0, x), max(0, y)
        width, height = min(width, self.width - x), min(height, self.height - y)
        rows = [self.rgb[((y + r) * self.width + x) * 3:((y + r) * self.width + x + width) * 3]
                for r in range(height)]
        return Image(width, height, b"".join(rows))

    def save_png(self, path):
        raw = b"".join(b"\0" + self.rgb[r * self.width * 3:(r + 1) * self.width * 3]
                       for r in range(self.height))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
            f.write(chunk(b"IEND", b""))


# --- sound server ---------------------------------------------------------


class SoundServer:
    """A private PulseAudio server: the null sink "speakers" is what the
    program plays to; "room" is the air around the machine, and its monitor,
    remapped as the source "mic", is the program's microphone."""

    def __init__(self, procs, root):
        self.procs = procs
        base = os.path.join(root, "pulse")
        runtime = os.path.join(base, "runtime")
        os.makedirs(os.path.join(runtime, "pulse"))
        os.makedirs(os.path.join(base, "state"))
        os.chmod(runtime, 0o700)
        self.socket = os.path.join(base, "native")
        client_conf = os.path.join(base, "client.conf")
        with open(client_conf, "w") as f:
            f.write("autospawn = no\n")
        server_env = dict(os.environ, HOME=base, XDG_RUNTIME_DIR=runtime,
                          XDG_CONFIG_HOME=os.path.join(base, "config"),
                          PULSE_RUNTIME_PATH=os.path.join(runtime, "pulse"),
                          PULSE_STATE_PATH=os.path.join(base, "state"))
        for name in ("DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "DISPLAY"):
            server_env.pop(name, None)
        self.log = open(os.path.join(base, "pulseaudio.log"), "wb")
        # -n: no system configuration; as root the server warns but runs.
        self.proc = procs.start([
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
            "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket,
            "--load=module-null-sink sink_name=speakers rate=%d channels=2 "
            "channel_map=front-left,front-right" % RATE,
            "--load=module-null-sink sink_name=room rate=%d channels=2" % RATE,
            "--load=module-remap-source source_name=mic master=room.monitor",
        ], env=server_env, log=self.log)
        self.client_env = {"PULSE_SERVER": "unix:" + self.socket,
                           "PULSE_CLIENTCONFIG": client_conf}
        self.env = dict(os.environ, **self.client_env)

        def ready():
            if self.proc.poll() is not None:
                raise HarnessError("pulseaudio ended at once (see %s)" % self.log.name)
            return run(["pactl", "info"], self.env, check=False).returncode == 0

        if not wait_until(ready, 20, 0.1):
            raise HarnessError("pulseaudio did not answer (see %s)" % self.log.name)
        run(["pactl", "set-default-sink", "speakers"], self.env)
        run(["pactl", "set-default-source", "mic"], self.env)
        info = run(["pactl", "info"], self.env).stdout
        if "Default Sink: speakers" not in info or "Default Source: mic" not in info:
            raise HarnessError("the sound server's defaults are not set:\n" + info)

    def play_into_room(self, wav):
        """Starts playing a file into the room (what the microphone hears)."""
        return self.procs.start(["paplay", "--device=room", wav], env=self.env)


class Listener:
    """Records a sink's monitor (the speakers' unless told) for the whole run
    and keeps the RMS level of each channel per 20 ms, stamped with the time
    of arrival."""

    def __init__(self, procs, sound, sink="speakers"):
        self.proc = procs.start(["parec", "--device=%s.monitor" % sink, "--raw",
                                 "--format=s16le", "--rate=%d" % RATE, "--channels=2",
                                 "--latency-msec=20"], env=sound.env, stdout=subprocess.PIPE)
        self.levels = []  # (monotonic time, rms left, rms right)
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        if not wait_until(lambda: len(self.levels) > 5, 10):
            raise HarnessError("no data from the %s monitor" % sink)

    def _read(self):
        size = CHUNK_FRAMES * 4
        pending = b""
        while True:
            data = self.proc.stdout.read1(65536) if hasattr(self.proc.stdout, "read1") else \
                self.proc.stdout.read(size)
            if not data:
                return
            pending += data
            now = time.monotonic()
            while len(pending) >= size:
                block, pending = pending[:size], pending[size:]
                samples = array.array("h")
                samples.frombytes(block)
                if sys.byteorder != "little":
                    samples.byteswap()
                left, right = samples[0::2], samples[1::2]
                rms_l = math.sqrt(sum(s * s for s in left) / len(left))
                rms_r = math.sqrt(sum(s * s for s in right) / len(right))
                with self.lock:
                    self.levels.append((now, rms_l, rms_r))

    def alive(self):
        return self.proc.poll() is None

    def peak(self, since, until=None):
        """The largest per-channel RMS heard in the time span."""
        until = until if until is not None else time.monotonic() + 1
        with self.lock:
            window = [(l, r) for t, l, r in self.levels if since <= t <= until]
        if not window:
            return 0.0, 0.0
        return max(l for l, _ in window), max(r for _, r in window)

    def current(self, span=0.1):
        return self.peak(time.monotonic() - span)

    def wait_for_sound(self, since, timeout, threshold):
        def heard():
            left, right = self.peak(since)
            return max(left, right) >= threshold

        return wait_until(heard, timeout)

    def wait_for_silence(self, timeout, quiet, hold=0.5):
        """Waits until the speakers have been quiet for `hold` seconds."""
        def silent():
            left, right = self.peak(time.monotonic() - hold)
            return max(left, right) < quiet

        return wait_until(silent, timeout)


def make_tone(path, seconds, frequency=880, volume=0.8, channels=1):
    run(["sox", "-n", "-r", str(RATE), "-c", str(channels), "-b", "16", path, "synth",
         str(seconds), "sine", str(frequency), "vol", str(volume)], os.environ)


# --- the program's files ---------------------------------------------------

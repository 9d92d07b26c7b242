"""One user's machine in the acceptance scenarios: a home of its own with a
copy of the program, its settings store and report, the main window as it
appears on the X server, and the steps a user takes on it (arming by
clicking, a jump of the pointer)."""

import os
import shutil

from harness import HarnessError, run, store_value, wait_until, write_store

TITLE = "Tarvo2"
CLIENT_W, CLIENT_H = 537, 594  # main window's client area below the menu bar
WELCOME_W, WELCOME_H = 452, 224

S = "SoftWare/VEKOR/Tarvo2/S"
SET = S + "/set"
SND = S + "/snd"
V = "SoftWare/VEKOR/Tarvo2/V"

# Levels of the speakers' monitor (RMS of 16-bit samples per 20 ms). The
# alarm tone is about -2 dBFS, played at the default alarm volume of 50.
SOUND = 1500.0   # clearly a sound
QUIET = 150.0    # nothing but silence (the null sink gives exact zeros)

# Points on the main window, relative to the client area's top left (below
# the menu bar): the centres of the top bar's buttons ...
TOP_BUTTONS = {"btnMicDetect": 308, "btnMouDetect": 352, "btnSimulation": 396,
               "btnActivate": 466, "btnReport": 510}
TOP_BAR_Y = 23
# The LEDs (top to bottom of the left column), the speaker test buttons and
# the sound list are found on the screen (MainWindow.layout).
LED_NAMES = ["shpLedMicDetection", "shpLedMouDetection", "shpLedKeyDetection",
             "shpLedTriggerDelay", "shpLedActivationDelay", "shpLedSimulation"]
LIT = (255, 0, 0)
IDLE = (0, 95, 140)



class World:
    """One user's machine: a home of its own and a copy of the program in a
    folder of its own, so that its Sounds/ and Reports/ are the test's."""

    def __init__(self, suite, name):
        self.suite = suite
        self.x = suite.x
        self.dir = os.path.join(suite.root, name)
        home = os.path.join(self.dir, "home")
        self.config = os.path.join(home, ".config")
        self.data = os.path.join(home, ".local", "share")
        self.runtime = os.path.join(self.dir, "runtime")
        self.appdir = os.path.join(self.dir, "app")
        for d in (self.config, self.data, self.runtime, self.appdir):
            os.makedirs(d)
        os.chmod(self.runtime, 0o700)
        self.app = os.path.join(self.appdir, "tarvo2")
        shutil.copy2(suite.binary, self.app)
        self.sounds = os.path.join(self.appdir, "Sounds")
        self.report = os.path.join(self.appdir, "Reports", "Report.txt")
        self.store = os.path.join(self.config, "VEKOR", "Tarvo2.conf")
        self.autostart = os.path.join(self.config, "autostart", "tarvo2.desktop")
        self.log_path = os.path.join(self.dir, "program.log")
        self.log = open(self.log_path, "ab")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "DBUS_", "WAYLAND", "PULSE_", "SDL_", "QT_"))}
        env.update(HOME=home, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=self.data,
                   XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_RUNTIME_DIR=self.runtime,
                   DISPLAY=self.x.display, QT_QPA_PLATFORM="xcb",
                   SDL_AUDIODRIVER="pulseaudio", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.pop("XAUTHORITY", None)
        env["TARVO2_TEST_INSTANCE"] = "acc-%d" % os.getpid()  # own single-instance lock
        # No session bus: without an address libdbus would start one for the
        # X display that outlives the test.
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.dir, "no-session-bus")
        env.update(suite.sound.client_env)
        self.env = env
        self.proc = None

    # files
    def add_sound(self, source, name):
        os.makedirs(self.sounds, exist_ok=True)
        shutil.copy(source, os.path.join(self.sounds, name))

    def preset(self, checked=(), extra=None):
        """The settings a returning user would have: welcome seen, a short
        activation delay, one sound per alarm, and the given sounds checked."""
        values = {(S, "MsgThanx"): "T",
                  (SET, "frmMainspnActivationDelay"): "2",
                  (SET, "frmMaintrkPersistence"): "0",
                  (SET, "frmMaintrkPersistenceRandom"): "0"}
        for name in checked:
            values[(SND, name)] = "T"
        values.update(extra or {})
        write_store(self.store, values)

    def value(self, group, name):
        return store_value(self.store, group, name)

    def report_lines(self):
        try:
            with open(self.report, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        return data.decode("utf-8", "replace").split("\r\n")

    def report_count(self, message):
        return sum(1 for line in self.report_lines() if line.endswith("] " + message))

    def wait_report(self, message, count=1, timeout=8):
        return wait_until(lambda: self.report_count(message) >= count, timeout)

    # the program
    def start(self):
        self.proc = self.suite.procs.start([self.app], env=self.env, log=self.log,
                                           cwd=self.dir)
        return self.proc

    def start_again(self, timeout=10):
        """Another start of the program, run to its end; its exit code."""
        proc = self.suite.procs.start([self.app], env=self.env, log=self.log, cwd=self.dir)
        try:
            return proc.wait(timeout)
        except Exception:
            return None
        finally:
            self.suite.procs.stop(proc)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        if self.proc is not None:
            self.suite.procs.stop(self.proc)

    def main_windows(self):
        return {w: g for w, g in self.x.windows(TITLE).items()
                if abs(g[2] - CLIENT_W) <= 8 and g[3] >= CLIENT_H}

    def welcome_windows(self):
        return {w: g for w, g in self.x.windows(TITLE).items()
                if abs(g[2] - WELCOME_W) <= 8 and abs(g[3] - WELCOME_H) <= 40}

    def wait_main(self, timeout=20):
        found = wait_until(lambda: self.main_windows() if self.running() else "ended", timeout,
                           0.1)
        if found == "ended" or not found:
            raise HarnessError("no main window (program %s)" %
                               ("ended" if not self.running() else "runs"))
        wid, geo = next(iter(found.items()))
        return MainWindow(self, wid, geo)

    def close_main(self, window, timeout=10):
        self.x.close_window(window.id)
        try:
            return self.proc.wait(timeout)
        except Exception:
            return None


class MainWindow:
    def __init__(self, world, wid, geo):
        self.world, self.id = world, wid
        self.x, self.y, self.width, self.height = geo
        self.menu = self.height - CLIENT_H  # menu bar above the client area
        self._layout = None

    def point(self, cx, cy):
        return self.x + cx, self.y + self.menu + cy

    def click(self, cx, cy):
        self.world.x.click(*self.point(cx, cy))

    def click_top(self, name):
        self.click(TOP_BUTTONS[name], TOP_BAR_Y)

    def key(self, key):
        self.world.x.key(self.id, key)

    def layout(self):
        """Where the LEDs, the speaker test buttons and the first entry of
        the sound list are, read from the painted window once."""
        if self._layout is None:
            def painted():
                shot = self.world.x.screenshot().crop(self.x, self.y + self.menu, self.width,
                                                      CLIENT_H)
                if shot.pixel(10, CLIENT_H - 12) != IDLE:
                    return None
                leds = find_leds(shot, 200, 268, 50, CLIENT_H - 30, IDLE)
                return (shot, leds) if len(leds) == len(LED_NAMES) else None

            found = wait_until(painted, 5, 0.2)
            if not found:
                raise HarnessError("the main window's LEDs were not found on the screen")
            shot, leds = found
            buttons = find_button_row(shot, 0, 262, leds[-1][1] + 8, CLIENT_H - 26, 4)
            list_top = find_bar_below(shot, 300, 50, CLIENT_H - 30, IDLE)
            if not buttons or list_top is None:
                raise HarnessError("the speaker test buttons or the sound list were not found")
            self._layout = {"leds": dict(zip(LED_NAMES, leds)),
                            "speakers": dict(zip(["L", "C", "R", "Stop"], buttons)),
                            "first_sound": (400, list_top + 9)}
        return self._layout

    def led(self, name):
        return self.world.x.pixel(*self.point(*self.layout()["leds"][name]))

    def click_speaker(self, name):
        self.click(*self.layout()["speakers"][name])

    def screenshot(self, path):
        shot = self.world.x.screenshot()
        shot.crop(self.x, self.y, self.width, self.height).save_png(path)
        return shot


def arm_with(world, win, check, detector, switch_value):
    """Switches one detector and the alarm on by clicking, as a user would,
    and waits for arming to complete."""
    win.layout()
    win.click_top(detector)
    check(wait_until(lambda: world.value(S, switch_value) == "T", 5),
          "clicking %s switches it on (%s stored)" % (detector, switch_value))
    win.click_top("btnActivate")
    check(wait_until(lambda: win.led("shpLedActivationDelay") == LIT, 2, 0.02),
          "the activation delay LED flashes")
    check(wait_until(lambda: world.value(S, "Alarm Active") == "T", 5),
          "clicking btnActivate arms (\"Alarm Active\" stored)")
    check(world.wait_report("Waiting 2 second(s) before Activation", timeout=5),
          "the activation delay is reported")
    check(world.wait_report("Alarm - Activated", timeout=8), "arming completes after the delay")
    check(wait_until(lambda: win.led("shpLedActivationDelay") == IDLE, 1, 0.02),
          "the activation delay LED ends idle")


def jump_pointer(world, suite):
    px, py = suite.x.pointer()
    suite.x.move_pointer(100 if px > 400 else 900, 100 if py > 400 else 800)


def recording(world, suite):
    """Whether the program's own recording stream is on the sound server."""
    listing = run(["pactl", "list", "source-outputs"], suite.sound.env, check=False).stdout
    return 'application.process.id = "%d"' % world.proc.pid in listing


def service_note(line):
    """What this desk (no logind here) cannot guard, noted at arming."""
    return line.endswith(("] Suspend cannot be prevented", "] Volume guard not available"))


# --- finding the main window's controls on the screen --------------------------


def _light(p):
    return min(p) >= 200


def find_leds(image, x0, x1, y0, y1, idle):
    """Centres of the round LEDs of the idle colour within the box: runs of
    rows holding a short stretch of that colour (the bars are long ones)."""
    leds, run = [], []
    for y in range(y0, y1):
        xs = [x for x in range(x0, x1) if image.pixel(x, y) == idle]
        if xs and len(xs) <= 13 and xs[-1] - xs[0] <= 13:
            run.append((y, xs))
            continue
        if len(run) >= 5:
            widest = max(run, key=lambda r: len(r[1]))[1]
            leds.append(((widest[0] + widest[-1]) // 2, (run[0][0] + run[-1][0]) // 2))
        run = []
    return leds


def find_button_row(image, x0, x1, y0, y1, count):
    """Centres of a row of `count` light push buttons within the box: rows
    crossed by exactly that many light stretches, gathered into the largest
    cluster (their captions break some rows, so the cluster has gaps)."""
    rows = []
    for y in range(y0, y1):
        segments, start = [], None
        for x in range(x0, x1 + 1):
            light = x < x1 and _light(image.pixel(x, y))
            if light and start is None:
                start = x
            elif not light and start is not None:
                if x - start >= 12:
                    segments.append((start, x - 1))
                start = None
        if len(segments) == count:
            rows.append((y, segments))
    if not rows:
        return None
    clusters, cluster = [], [rows[0]]
    for row in rows[1:]:
        if row[0] - cluster[-1][0] <= 15:
            cluster.append(row)
        else:
            clusters.append(cluster)
            cluster = [row]
    clusters.append(cluster)
    face = max(clusters, key=len)
    y = (face[0][0] + face[-1][0]) // 2
    widest = max(face, key=lambda r: sum(b - a for a, b in r[1]))[1]
    return [((a + b) // 2, y) for a, b in widest]


def find_bar_below(image, x, y0, y1, colour):
    """The first row after a run of at least 10 rows of `colour` at column x
    (a header bar) below y0."""
    run = 0
    for y in range(y0, y1):
        if image.pixel(x, y) == colour:
            run += 1
        elif run >= 10:
            return y
        else:
            run = 0
    return None

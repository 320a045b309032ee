#!/usr/bin/env python3
"""A tireless user: random actions on the real qmxdemo window (or random
qmxctl commands) against a simulated radio that is disturbed between them,
judged from outside the program and from the wire.

The radio is qmxsim on a pseudo-terminal. Between it and the program sits a
relay: a pseudo-terminal of its own, reached through a stable link as a USB
adapter's by-id name is, that logs every byte both ways with its time,
mirrors the program's baud rate onto the radio's terminal, and disturbs the
radio on request (late and lost replies, a flood of received data, unplug
and return, a power cycle into the boot code).

What fails a run, the first time it happens:
  - the program ends, or a sanitizer reports; its event loop stops beating
    for more than 2.5 s (QMX_HEARTBEAT);
  - while the radio is in protocol mode, a byte from the program that is not
    part of a well-formed frame (0xFB, length 2-100, that many bytes); while
    it is out of it, a command frame other than the request to enter (a
    poll or a transmission that should have paused);
  - a storm of message boxes: three with the same caption open at once, or
    more than 60 a minute (the monkey itself reopens a dialog now and then);
  - memory that keeps growing (resident size 400 MiB above the first look);
  - after the radio returns from an unplug, the port not open again within
    20 s although the program held it when the radio went;
  - qmxctl: an exit status other than 0, 1 and 2, JSON asked for and not
    given, an uncaught exception or a sanitizer report, a file written
    outside the run's folder.

The report ends with the seed, the actions by kind, the states reached and,
for a failure, the last 50 actions and the wire around it.
"""

import argparse
import collections
import fcntl
import json
import os
import pty
import random
import select
import shutil
import signal
import subprocess
import sys
import termios
import threading
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

BOOT_BAUD = 38400
SPEEDS = {getattr(termios, "B%d" % b): b for b in
          (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200) if hasattr(termios, "B%d" % b)}


class Violation(Exception):
    pass


def now():
    return time.monotonic()


# ---- The wire ---------------------------------------------------------------

class Judge:
    """Follows the radio's mode from its replies and checks what the program
    writes while the radio is in protocol mode."""

    def __init__(self):
        self.state = "unknown"  # protocol, transparent, boot, unknown
        self.states = collections.Counter()
        self.radio = bytearray()  # radio bytes not yet cut into frames
        self.host_need = 0  # bytes still due in the frame being written
        self.host_header = bytearray()
        self.violation = None
        self.log = None

    def set_state(self, state):
        if self.log and state != self.state:
            self.log.write("%10.3f state %s\n" % (now(), state))
        self.state = state
        self.states[state] += 1
        self.host_need = 0
        self.host_header.clear()

    def from_radio(self, data):
        self.radio += data
        while True:
            start = self.radio.find(0xFB)
            if start < 0:
                self.radio.clear()
                return
            del self.radio[:start]
            if len(self.radio) < 4:
                return
            length = self.radio[1]
            if length < 2 or length > 100:
                del self.radio[:1]
                continue
            if len(self.radio) < 2 + length:
                return
            kind = self.radio[3]
            del self.radio[:2 + length]
            if self.state == "boot":
                continue  # a late reply from before the program took the boot line
            if kind == 0x10:
                self.set_state("protocol")
            elif kind == 0x11:
                self.set_state("transparent")
            elif kind == 0x12:
                self.set_state("unknown")  # the radio resets into its stored mode

    # Commands that have no business on a line out of protocol mode.
    LEAKS = {0x02: "Software Reset", 0x03: "Get Register", 0x04: "Set Register", 0x05: "TX Data",
             0x0A: "Get Remote Register", 0x0B: "Set Remote Register"}

    def from_host(self, data):
        if self.state == "transparent" and not self.violation:
            at = data.find(0xFB)
            while 0 <= at and at + 3 < len(data):
                length, kind = data[at + 1], data[at + 3]
                if kind in self.LEAKS and 4 <= length <= 100 and at + 2 + length <= len(data):
                    self.violation = "a %s frame written while the radio is out of protocol mode: %s" % (
                        self.LEAKS[kind], data[at:at + 2 + length].hex(" "))
                    return
                at = data.find(0xFB, at + 1)
        if self.state != "protocol" or self.violation:
            return
        for i, b in enumerate(data):
            if self.host_need > 0:
                self.host_need -= 1
            elif not self.host_header:
                if b != 0xFB:
                    self.violation = "byte %02X outside any frame in protocol mode (at %d of %s)" % (
                        b, i, data.hex(" "))
                    return
                self.host_header.append(b)
            else:
                if b < 2 or b > 100:
                    self.violation = "frame length %d in protocol mode (%s)" % (b, data.hex(" "))
                    return
                self.host_header.clear()
                self.host_need = b


class Relay(threading.Thread):
    """The program's end of the line, a pseudo-terminal behind `link`, joined
    to the radio's terminal."""

    def __init__(self, link, judge):
        super().__init__(daemon=True)
        self.link = link
        self.judge = judge
        self.lock = threading.Lock()
        self.master = None
        self.slave_path = None
        self.radio = None
        self.radio_path = None
        self.baud = None
        self.late_until = 0.0
        self.drop = 0
        self.delayed = collections.deque()  # (due, bytes)
        self.wire = collections.deque(maxlen=4000)  # (time, "h>r" or "r>h", bytes)
        self.stopped = False
        self.plugged_at = now()
        self.log = None  # every byte, as text lines, when set

    def record(self, direction, data):
        self.wire.append((now(), direction, data))
        if self.log:
            self.log.write("%10.3f %s %s\n" % (now(), direction, data.hex(" ")))

    # Plugging -------------------------------------------------------------
    def plug(self, radio_path):
        with self.lock:
            self.radio_path = radio_path
            master, slave = pty.openpty()
            tty.setraw(master)
            name = os.ttyname(slave)
            os.close(slave)  # reopened by the program
            fcntl.fcntl(master, fcntl.F_SETFL, fcntl.fcntl(master, fcntl.F_GETFL) | os.O_NONBLOCK)
            self.master, self.slave_path = master, name
            self.radio = os.open(radio_path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            tty.setraw(self.radio)
            self.baud = None
            tmp = self.link + ".new"
            if os.path.lexists(tmp):
                os.unlink(tmp)
            os.symlink(name, tmp)
            os.replace(tmp, self.link)
            self.judge.set_state("unknown")
            self.plugged_at = now()

    def unplug(self):
        with self.lock:
            for fd in (self.master, self.radio):
                if fd is not None:
                    os.close(fd)
            self.master = self.radio = None
            if os.path.lexists(self.link):
                os.unlink(self.link)
            self.judge.set_state("unknown")
            self.judge.states["lost"] += 1

    # Disturbances ---------------------------------------------------------
    def late(self, seconds):
        self.late_until = now() + seconds

    def lose(self, chunks):
        self.drop += chunks

    def flood(self, frames):
        out = bytearray()
        for i in range(frames):
            data = b"flood %d" % i
            out += bytes([0xFB, 5 + len(data), 0, 0x26, 1 + i % 3, 0, 0xC0]) + data
        with self.lock:
            if self.master is not None:
                self.write(self.master, bytes(out), "r>h")

    # The line -------------------------------------------------------------
    def write(self, fd, data, direction):
        self.record(direction, data)
        try:
            os.write(fd, data)
        except OSError:
            pass

    def mirror_baud(self):
        try:
            speed = termios.tcgetattr(self.master)[5]
        except termios.error:
            return
        if speed == self.baud:
            return
        self.baud = speed
        if SPEEDS.get(speed) == BOOT_BAUD:
            self.judge.set_state("boot")
        elif self.judge.state == "boot":
            self.judge.set_state("unknown")
        try:
            attrs = termios.tcgetattr(self.radio)
            attrs[4] = attrs[5] = speed
            termios.tcsetattr(self.radio, termios.TCSANOW, attrs)
        except termios.error:
            pass

    def run(self):
        while not self.stopped:
            with self.lock:
                fds = [fd for fd in (self.master, self.radio) if fd is not None]
            if not fds:
                time.sleep(0.05)
                continue
            try:
                ready, _, _ = select.select(fds, [], [], 0.05)
            except (OSError, ValueError):
                continue
            with self.lock:
                if self.master is None:
                    continue
                self.mirror_baud()
                idle = False
                for fd in ready:
                    try:
                        data = os.read(fd, 4096)
                    except OSError:
                        data = b""
                    if not data:
                        # The program has the port closed: the master reads
                        # as hung up until it opens it again.
                        idle = True
                        continue
                    if fd == self.master:
                        self.record("h>r", data)
                        self.judge.from_host(data)
                        try:
                            os.write(self.radio, data)
                        except OSError:
                            pass
                    elif fd == self.radio:
                        if self.drop > 0:
                            self.drop -= 1
                            self.record("r>x", data)
                        elif now() < self.late_until:
                            self.delayed.append((now() + 1.5, data))
                        else:
                            self.judge.from_radio(data)
                            self.write(self.master, data, "r>h")
                while self.delayed and self.delayed[0][0] <= now():
                    data = self.delayed.popleft()[1]
                    self.judge.from_radio(data)
                    self.write(self.master, data, "r>h")
            if idle:
                time.sleep(0.05)

    def wire_around(self, moment, seconds=2.0):
        lines = []
        for t, direction, data in list(self.wire):
            if abs(t - moment) <= seconds:
                lines.append("%+8.3f %s %s" % (t - moment, direction, data.hex(" ")))
        return "\n".join(lines[-120:])


class Radio:
    """qmxsim on a pseudo-terminal; restarted for a power cycle."""

    def __init__(self, qmxsim, folder):
        self.qmxsim = qmxsim
        self.folder = folder
        self.process = None
        self.path = None

    def start(self, boot_only=False, faults=None):
        self.stop()
        args = [self.qmxsim, "--traffic-interval", "2"]
        if boot_only:
            args.append("--boot-only")
        if faults:
            args += ["--faults", faults]
        log = open(os.path.join(self.folder, "qmxsim.log"), "ab")
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log)
        self.path = self.process.stdout.readline().decode().strip()
        if not self.path.startswith("/dev/"):
            raise RuntimeError("qmxsim did not start: %r" % self.path)
        return self.path

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
            self.process = None


# ---- The window -----------------------------------------------------------

def xdo(*args, display, check=False):
    try:
        done = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=5,
                              env={**os.environ, "DISPLAY": display})
    except subprocess.TimeoutExpired:
        return ""
    if check and done.returncode != 0:
        raise RuntimeError("xdotool %s: %s" % (" ".join(args), done.stderr))
    return done.stdout.strip()


TEXTS = ["01 02 0A", "zz 1FF", "FB 02 01 00", "0x0001", "", "65536", "hello", "$1", "0xFFFF", "-1",
         "1,3,7", "1-60", "ÿ€", "a" * 120, "7", "0", "99999999999", " ", "\t", "0x", "41 42 43 44"]
KEYS = ["F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "Return", "Escape", "Tab",
        "shift+Tab", "space", "Up", "Down", "Left", "Right", "ctrl+Tab", "ctrl+Next", "ctrl+Prior", "alt+f",
        "alt+e", "alt+v", "alt+t", "alt+h", "alt+c", "alt+s", "Delete", "BackSpace", "ctrl+a", "ctrl+c",
        "ctrl+v", "Home", "End", "y", "n"]


# Places of the main window's controls, as fractions of its size at the
# size it opens with: a user clicks controls far more often than the space
# between them. (The menus, the four tabs, the buttons below the settings,
# the serial tab's fields, boxes and buttons.)
HOTSPOTS = {
    "menu File": (0.02, 0.014), "menu View": (0.06, 0.014), "menu Options": (0.115, 0.014),
    "menu Help": (0.168, 0.014), "tab Serial": (0.268, 0.056), "tab Poll I/O": (0.331, 0.056),
    "tab Events": (0.40, 0.056), "tab terminal": (0.469, 0.056), "Refresh": (0.059, 0.883),
    "Config": (0.172, 0.883), "Upgrade": (0.059, 0.932), "Disconnect": (0.172, 0.932),
    "Network Addr": (0.302, 0.864), "Interval": (0.398, 0.864), "Data": (0.535, 0.864),
    "Transmit": (0.933, 0.911), "Hex Mode": (0.256, 0.710), "Scroll RealTime": (0.357, 0.710),
    "Clear Screen": (0.942, 0.708), "Data in ASCII": (0.256, 0.935), "Append CR": (0.365, 0.935),
}


class Monkey:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.folder = os.path.abspath(args.folder)
        self.actions = collections.deque(maxlen=50)
        self.kinds = collections.Counter()
        self.windows_seen = collections.Counter()
        self.box_times = collections.defaultdict(collections.deque)
        self.judge = Judge()
        self.relay = Relay(os.path.join(self.folder, "dev", "usb-radio-if00-port0"), self.judge)
        self.radio = Radio(args.radio, self.folder)
        self.display = ":%d" % next(n for n in range(90, 400) if not os.path.exists("/tmp/.X%d-lock" % n))
        self.helpers = []
        self.program = None
        self.failure = None
        self.heartbeat = os.path.join(self.folder, "heartbeat")
        self.rss_first = None
        self.held_at_unplug = False
        self.main_id = None
        self.stay = 0
        self.beating = False
        self.launched = now()

    def note(self, kind, what):
        self.kinds[kind] += 1
        self.actions.append("%8.2f %s %s" % (now() - self.started, kind, what))

    def fail(self, why):
        if self.failure is None:
            self.failure = (now(), why)
            if self.program is not None:  # the screen as it was, beside the report
                subprocess.run(["import", "-window", "root", os.path.join(self.folder, "failure.png")],
                               env={**os.environ, "DISPLAY": self.display}, capture_output=True, timeout=20)
        raise Violation(why)

    def dump_stacks(self):
        """Every thread's stack of a hung program, beside the report (gdb when there is one)."""
        gdb = shutil.which("gdb")
        if gdb is None or self.program is None:
            return
        try:
            out = subprocess.run([gdb, "-p", str(self.program.pid), "-batch", "-ex", "thread apply all bt 30"],
                                 capture_output=True, text=True, timeout=60)
            with open(os.path.join(self.folder, "stacks.txt"), "w") as f:
                f.write(out.stdout + out.stderr)
        except (OSError, subprocess.SubprocessError):
            pass

    # Set-up ---------------------------------------------------------------
    def start(self):
        os.makedirs(os.path.join(self.folder, "dev"), exist_ok=True)
        work = os.path.join(self.folder, "work")
        os.makedirs(work, exist_ok=True)
        # Files for the upgrade window's and the profiles' Open dialogs, which
        # start in the work folder: a good image, an empty and a short one.
        with open(os.path.join(work, "good.bin"), "wb") as f:
            f.write(bytes((i * 7) & 0xFF for i in range(3000)))
        open(os.path.join(work, "empty.bin"), "wb").close()
        with open(os.path.join(work, "short.bin"), "wb") as f:
            f.write(b"\x01" * 100)
        self.started = now()
        self.relay.log = self.judge.log = open(os.path.join(self.folder, "wire.log"), "w", buffering=1)
        self.relay.plug(self.radio.start())
        self.relay.start()
        if self.args.target == "window":
            env = {**os.environ, "DISPLAY": self.display}
            self.helpers.append(subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x900x24", "-nolisten",
                                                  "tcp"], stderr=subprocess.DEVNULL))
            time.sleep(1.0)
            self.helpers.append(subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL))
            time.sleep(0.5)
            self.stderr = open(os.path.join(self.folder, "program.stderr"), "ab")
            self.launch()

    def launch(self):
        """The program on the relay's port, as a user starts it; its main
        window is the first one it shows."""
        if os.path.exists(self.heartbeat):
            os.unlink(self.heartbeat)
        self.beating = False
        self.launched = now()
        self.program = subprocess.Popen(
            [self.args.program, "--workdir", os.path.join(self.folder, "work"), "--port", self.relay.link,
             "--baud", "9600", "--demo-interval", "0"],
            env={**os.environ, "DISPLAY": self.display, "QMX_HEARTBEAT": self.heartbeat,
                 "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1", "QT_QPA_PLATFORM": "xcb"},
            stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.main_id = None
        self.titles = set()
        deadline = now() + 20
        while now() < deadline:
            ids = xdo("search", "--onlyvisible", "--pid", str(self.program.pid), ".", display=self.display).split()
            if ids:
                self.main_id = ids[0]
                break
            time.sleep(0.2)

    def stop(self):
        if self.program is not None and self.program.poll() is None:
            self.program.terminate()
            try:
                self.program.wait(10)
            except subprocess.TimeoutExpired:
                self.program.kill()
        for h in reversed(self.helpers):
            h.terminate()
        self.relay.stopped = True
        self.radio.stop()

    # Checks ---------------------------------------------------------------
    def check(self):
        if self.judge.violation:
            self.fail("wire: " + self.judge.violation)
        if self.program is None:
            return
        if self.program.poll() is not None:
            if self.program.returncode != 0:
                self.fail("the program ended with status %s" % self.program.returncode)
            # The user quit (File, Exit): a user starts it again.
            self.note("program", "quit by the user; started again")
            self.judge.states["restarted"] += 1
            self.launch()
            return
        with open(os.path.join(self.folder, "program.stderr"), "rb") as f:
            text = f.read().decode(errors="replace")
        for mark in ("ERROR: AddressSanitizer", "runtime error:", "terminate called", "ThreadSanitizer"):
            if mark in text:
                self.fail("sanitizer or abort on standard error: " + text[text.index(mark):][:400])
        # A build without the heartbeat (an older one) is not checked for it.
        try:
            age = time.time() - os.stat(self.heartbeat).st_mtime
            self.beating = True
        except FileNotFoundError:
            age = 0.0 if not self.beating else now() - self.launched
        if age > 2.5 and now() - self.launched > 15:
            self.dump_stacks()
            self.fail("the event loop answered nothing for %.1f s" % age)
        with open("/proc/%d/status" % self.program.pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS")) // 1024
        if self.rss_first is None and now() - self.started > 10:
            self.rss_first = rss
        if self.rss_first is not None and rss > self.rss_first + 400:
            self.fail("memory grew from %d to %d MiB" % (self.rss_first, rss))
        self.rss_last = rss

    def look_at_windows(self):
        ids = xdo("search", "--onlyvisible", "--pid", str(self.program.pid), ".", display=self.display).split()
        if ids and self.main_id is None:
            self.main_id = ids[0]
        named = collections.Counter()
        for wid in ids:
            if wid != self.main_id:
                named[xdo("getwindowname", wid, display=self.display)] += 1
        for title, count in named.items():
            if count >= 3 and title:
                self.fail("a storm of boxes: %d windows '%s' open at once" % (count, title))
        for title in set(named) - getattr(self, "titles", set()):
            self.windows_seen[title] += 1
            times = self.box_times[title]
            times.append(now())
            while times and times[0] < now() - 60:
                times.popleft()
            if len(times) > 60 and title:
                self.fail("a storm of boxes: '%s' %d times in a minute" % (title, len(times)))
        self.titles = set(named)
        return ids

    def program_holds_port(self):
        path = self.relay.slave_path
        try:
            for fd in os.listdir("/proc/%d/fd" % self.program.pid):
                if os.readlink("/proc/%d/fd/%s" % (self.program.pid, fd)) == path:
                    return True
        except OSError:
            pass
        return False

    # Actions --------------------------------------------------------------
    def size_of(self, window):
        geometry = xdo("getwindowgeometry", window, display=self.display)
        try:
            size = geometry.split("Geometry:")[1].split()[0].split("x")
            return int(size[0]), int(size[1])
        except (IndexError, ValueError):
            return 0, 0

    def act(self):
        ids = self.look_at_windows()
        active = xdo("getactivewindow", display=self.display)
        target = active if active in ids else (ids[0] if ids else None)
        if target is None:
            return
        # A user gives up on a dialog after a while: Escape, then the title
        # bar's close button.
        self.stay = self.stay + 1 if target == getattr(self, "last_target", None) and target != self.main_id else 0
        self.last_target = target
        if self.stay in (12, 20):
            keys = "Escape" if self.stay == 12 else "alt+F4"
            xdo("windowactivate", "--sync", target, "key", keys, display=self.display)
            self.note("key", keys + " (giving up on a dialog)")
            return
        roll = self.rng.random()
        if target == self.main_id and roll < 0.03:
            # A habit: a repeated transmission (or anything a tab keeps
            # running) left on while the user goes to another tab.
            w, h = self.size_of(target)
            if not w:
                return
            steps = [("Interval", self.rng.choice(["1", "2"])), ("Transmit", None),
                     (self.rng.choice(["tab Serial", "tab Poll I/O", "tab Events", "tab terminal"]), None)]
            for name, text in steps:
                fx, fy = HOTSPOTS[name]
                xdo("mousemove", "--window", target, str(int(fx * w)), str(int(fy * h)), display=self.display)
                xdo("click", "1", display=self.display)
                if text:
                    xdo("key", "--window", target, "ctrl+a", display=self.display)
                    xdo("type", "--window", target, text, display=self.display)
                time.sleep(self.rng.uniform(0.1, 1.5))
            self.note("habit", "repeat %s then %s" % (steps[0][1], steps[2][0]))
        elif target == self.main_id and roll < 0.25:
            w, h = self.size_of(target)
            if not w:
                return
            name, (fx, fy) = self.rng.choice(sorted(HOTSPOTS.items()))
            xdo("mousemove", "--window", target, str(int(fx * w)), str(int(fy * h)), display=self.display)
            xdo("click", "1", display=self.display)
            self.note("control", name)
            if name in ("Interval", "Data", "Network Addr") and self.rng.random() < 0.7:
                text = self.rng.choice(["1", "2", "0", "0x0001", "1", "41 42", "x"])
                xdo("key", "--window", target, "ctrl+a", display=self.display)
                xdo("type", "--window", target, text, display=self.display)
                self.note("type", repr(text))
        elif roll < 0.45:
            w, h = self.size_of(target)
            if not w:
                return
            x, y = self.rng.randrange(max(w, 1)), self.rng.randrange(max(h, 1))
            xdo("mousemove", "--window", target, str(x), str(y), display=self.display)
            button = "3" if self.rng.random() < 0.05 else "1"
            xdo("click", "--repeat", "2" if self.rng.random() < 0.1 else "1", button, display=self.display)
            self.note("click", "%s at %d,%d in %s" % (button, x, y, self.titles and target))
        elif roll < 0.75:
            key = self.rng.choice(KEYS)
            xdo("key", "--window", target, key, display=self.display)
            self.note("key", key)
        elif roll < 0.95:
            text = self.rng.choice(TEXTS)
            xdo("type", "--window", target, "--delay", "5", text, display=self.display)
            self.note("type", repr(text))
        else:
            w, h = self.rng.choice([(300, 200), (640, 480), (1024, 768), (1280, 900), (200, 100)])
            xdo("windowsize", target, str(w), str(h), display=self.display)
            self.note("resize", "%dx%d" % (w, h))

    def disturb(self):
        roll = self.rng.random()
        if roll < 0.3:
            self.relay.late(self.rng.uniform(1, 4))
            self.note("radio", "late replies")
        elif roll < 0.55:
            self.relay.lose(self.rng.randint(1, 3))
            self.note("radio", "lost replies")
        elif roll < 0.75:
            self.relay.flood(self.rng.choice([50, 200, 1000]))
            self.note("radio", "flood")
        elif roll < 0.92:
            self.unplug_and_return(boot_only=False)
        else:
            self.unplug_and_return(boot_only=True)

    def unplug_and_return(self, boot_only):
        held = self.program is not None and self.program_holds_port()
        self.relay.unplug()
        self.note("radio", "unplug" + (" (held)" if held else ""))
        time.sleep(self.rng.uniform(0.5, 3))
        self.check()
        self.relay.plug(self.radio.start(boot_only=boot_only))
        self.note("radio", "return" + (" in boot code" if boot_only else ""))
        if boot_only:
            self.judge.states["boot code"] += 1
            # Some time in the boot code, answered by the monkey's keys, then
            # a radio with working firmware again.
            for _ in range(self.rng.randint(2, 6)):
                if self.program is not None:
                    self.act()
                else:
                    self.ctl_once()
                self.check()
                time.sleep(0.3)
            self.relay.unplug()
            self.relay.plug(self.radio.start())
            self.note("radio", "return with firmware")
        elif held and self.program is not None:
            self.await_recovery()

    def await_recovery(self):
        """A program that held the port when the radio went opens it again by
        itself (into protocol mode, or into the terminal it was in), once no
        window of its own stands in the way (the monkey closes them), within
        20 s."""
        clear_since = None
        give_up = now() + 60
        presses = 0
        while now() < give_up:
            self.check()
            # Back in protocol mode, or the port open again (a terminal
            # reopens it without protocol mode).
            if self.judge.state == "protocol" or self.program_holds_port():
                self.judge.states["recovered"] += 1
                return
            ids = self.look_at_windows()
            if self.titles:
                # Escape closes a box or a dialog (and answers a question
                # No); a window that stays is closed as its title bar's
                # button would.
                clear_since = None
                presses += 1
                if presses % 4:
                    xdo("key", "Escape", display=self.display)
                    self.note("key", "Escape (recovery)")
                else:
                    for wid in ids:
                        if wid != self.main_id:
                            xdo("windowactivate", "--sync", wid, "key", "alt+F4", display=self.display)
                    self.note("key", "alt+F4 (recovery)")
            elif clear_since is None:
                clear_since = now()
            elif now() - clear_since > 20:
                break
            time.sleep(0.5)
        self.fail("the port not open again within 20 s after the radio returned")

    # qmxctl ---------------------------------------------------------------
    def ctl_once(self):
        words = self.rng.choice([
            ["status"], ["get", "0", "0", str(self.rng.randint(0, 40))], ["set", "0", "1", self.rng.choice(["00", "0", "zz"])],
            ["read-all"], ["config", "show"], ["config", "set", self.rng.choice(["tx-power=0x10", "bogus=1", "tx-power="])],
            ["config", "save", "p.prof"], ["config", "diff", "p.prof"], ["config", "load", "p.prof"],
            ["send", self.rng.choice(["1", "0x0F00", "", "65536"]), "41"], ["monitor", self.rng.choice(["0.5", "1", "-1"])],
            ["diag", "scan", self.rng.choice(["1-3", "0", "61"])], ["exit"], ["enter"], ["reset"],
            ["firmware", "save", "img.bin"], ["mac", self.rng.choice(["00:11:22:33:44:55:66:77", "zz"])],
            ["fcc", self.rng.choice(["1", "3"])], ["defaults"], [self.rng.choice(["bogus", "--bogus", "", "--"])]])
        json_asked = self.rng.random() < 0.5
        extra = ["--json"] if json_asked else []
        extra += self.rng.choice([[], ["--timeout", "300"], ["--timeout=0"], ["--baud", "1234"], ["--quiet"]])
        args = [self.args.qmxctl, "--port", self.relay.link, *extra, *words]
        cwd = os.path.join(self.folder, "work")
        before = set(os.listdir(self.folder))
        try:
            done = subprocess.run(args, cwd=cwd, capture_output=True, timeout=120,
                                  env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"})
        except subprocess.TimeoutExpired:
            self.fail("qmxctl %s did not end in 120 s" % " ".join(args[1:]))
        self.note("qmxctl", "%s -> %d" % (" ".join(args[3:]), done.returncode))
        err = done.stderr.decode(errors="replace")
        if done.returncode not in (0, 1, 2):
            self.fail("qmxctl %s exited %d: %s" % (" ".join(args[1:]), done.returncode, err[-400:]))
        for mark in ("ERROR: AddressSanitizer", "runtime error:", "terminate called"):
            if mark in err:
                self.fail("qmxctl %s: %s" % (" ".join(args[1:]), err[err.index(mark):][:400]))
        if json_asked and done.returncode == 0:
            for line in done.stdout.decode(errors="replace").splitlines():
                try:
                    json.loads(line)
                except ValueError:
                    self.fail("qmxctl %s: not JSON on standard output: %r" % (" ".join(args[1:]), line[:200]))
        if set(os.listdir(self.folder)) - before:
            self.fail("qmxctl %s wrote outside its folder: %s" % (" ".join(args[1:]),
                                                                  set(os.listdir(self.folder)) - before))

    # The run --------------------------------------------------------------
    def run(self):
        end = self.started + self.args.seconds
        next_disturbance = now() + self.rng.uniform(5, 20)
        while now() < end:
            self.check()
            if self.args.target == "window":
                self.act()
                time.sleep(self.rng.choice([0.05, 0.2, 0.5, 1.0]))
            else:
                self.ctl_once()
            if now() >= next_disturbance:
                self.disturb()
                next_disturbance = now() + self.rng.uniform(5, 25)
        self.check()

    def report(self):
        out = ["monkey: seed %d, %s, %.0f s" % (self.args.seed, self.args.target, now() - self.started)]
        minutes = max((now() - self.started) / 60, 1 / 60)
        total = sum(self.kinds.values())
        out.append("actions: %d (%.0f a minute): %s" % (total, total / minutes,
                                                        ", ".join("%s %d" % kv for kv in sorted(self.kinds.items()))))
        out.append("radio states: " + ", ".join("%s %d" % kv for kv in sorted(self.judge.states.items())))
        if self.windows_seen:
            out.append("windows: " + ", ".join("'%s' %d" % kv for kv in sorted(self.windows_seen.items())))
        if getattr(self, "rss_last", None):
            out.append("memory: %s -> %d MiB" % (self.rss_first, self.rss_last))
        if self.failure:
            moment, why = self.failure
            out.append("FAILED at %.1f s: %s" % (moment - self.started, why))
            out.append("repeat: scripts/monkey.sh --target %s --seed %d --seconds %d" % (
                self.args.target, self.args.seed, self.args.seconds))
            out.append("last actions:\n  " + "\n  ".join(self.actions))
            out.append("wire around it (s, direction, bytes):\n" + self.relay.wire_around(moment))
        else:
            out.append("passed")
        return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=int, default=120)
    parser.add_argument("--target", choices=["window", "qmxctl"], default="window")
    parser.add_argument("--program", default=os.path.join(ROOT, "build/debug/app/qmxdemo"))
    parser.add_argument("--qmxctl", default=os.path.join(ROOT, "build/debug/app/qmxctl"))
    parser.add_argument("--radio", default=os.path.join(ROOT, "build/debug/sim/qmxsim"))
    parser.add_argument("--folder", default=None, help="the run's folder (default: a new one under /tmp)")
    args = parser.parse_args()
    if args.folder is None:
        args.folder = "/tmp/monkey-%s-%d-%d" % (args.target, args.seed, os.getpid())
    monkey = Monkey(args)
    status = 0
    try:
        monkey.start()
        monkey.run()
    except Violation:
        status = 1
    finally:
        monkey.stop()
    report = monkey.report()
    with open(os.path.join(monkey.folder, "report.txt"), "w") as f:
        f.write(report + "\n")
    print(report, flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""One console per desktop session, and a menu start that finds the controllers through the remembered
port folder: the console program on a virtual X screen (Xvfb) and the session bus this test runs on
(started under dbus-run-session), against the controller simulator.

Run one case: instance_test.py SecondStart (ORVANE_CONSOLE and ORVANE_SIM name the programs).
"""
import datetime
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CONSOLE = os.environ.get("ORVANE_CONSOLE", "")
SIM = os.environ.get("ORVANE_SIM", "")
WAIT = 30.0  # generous: the console runs under the sanitizers on a shared two-core machine
SEARCH_WAIT = 60.0  # a search that skips busy ports takes half a second per port


def wait_until(predicate, timeout=WAIT, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Session:
    """A virtual screen, the simulator and a scratch home: what a user's desktop session gives the console."""

    def __init__(self, bus=True):
        self.dir = tempfile.mkdtemp(prefix="orvane-instance-")
        self.procs = []
        display_file = os.path.join(self.dir, "display")
        with open(display_file, "w") as fd_out:
            # Xvfb names a free display once it is ready; -noreset keeps it up when a client leaves.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(fd_out.fileno()), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                 "-noreset"], pass_fds=(fd_out.fileno(),), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: open(display_file).read().strip() != "", 10):
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + open(display_file).read().strip()

        self.ports = os.path.join(self.dir, "ports")
        self.sim = subprocess.Popen([SIM, "--port-dir", self.ports, "--baud", "0", "--init-ms", "50"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: os.path.exists(os.path.join(self.ports, "COM5")), 10):
            self.close()
            raise RuntimeError("the simulator did not start")

        # From a bin folder, as installed: the log then goes to XDG_STATE_HOME, the settings to
        # XDG_CONFIG_HOME, both this test's.
        os.makedirs(os.path.join(self.dir, "bin"))
        self.program = os.path.join(self.dir, "bin", "orvane")
        shutil.copy(CONSOLE, self.program)
        self.home = os.path.join(self.dir, "home")
        self.runtime = os.path.join(self.dir, "runtime")
        os.makedirs(self.home)
        os.makedirs(self.runtime, mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "ORVANE_", "XDG_", "WAYLAND"))}
        self.env.update(HOME=self.home, DISPLAY=self.display, QT_QPA_PLATFORM="xcb",
                        XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_STATE_HOME=os.path.join(self.home, "state"),
                        XDG_DATA_HOME=os.path.join(self.home, "share"), XDG_RUNTIME_DIR=self.runtime)
        if "ASAN_OPTIONS" in self.env:
            # The X platform's keyboard library reads past a string's end in a way strict string checks
            # report.
            self.env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        if not bus:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.dir, "no-bus")
        elif "DBUS_SESSION_BUS_ADDRESS" not in self.env:
            raise RuntimeError("no session bus: run this under dbus-run-session")

    def start(self, *args, env=None):
        err = open(os.path.join(self.dir, f"console-{len(self.procs)}.err"), "w+")
        proc = subprocess.Popen([self.program, *args], env=env or self.env, stdout=subprocess.DEVNULL,
                                stderr=err)
        proc.err = err
        self.procs.append(proc)
        return proc

    @staticmethod
    def end(proc):
        """Ends a console as logout does; its exit status."""
        proc.send_signal(signal.SIGTERM)
        return proc.wait(WAIT)

    @staticmethod
    def errors(proc):
        proc.err.seek(0)
        return proc.err.read()

    def x(self, *args):
        out = subprocess.run(list(args), env=dict(self.env), capture_output=True, text=True)
        return out.stdout

    def windows(self):
        """The console windows shown on the screen, each as (window id, process id)."""
        found = []
        for line in self.x("xdotool", "search", "--onlyvisible", "--name", "^Orvane$").split():
            pid = self.x("xdotool", "getwindowpid", line).strip()
            found.append((int(line), int(pid) if pid else 0))
        return found

    def window_of(self, proc):
        if not wait_until(lambda: any(pid == proc.pid for _, pid in self.windows())):
            raise AssertionError("no window for process %d:\n%s" % (proc.pid, self.errors(proc)))
        return next(w for w, pid in self.windows() if pid == proc.pid)

    def stacking(self):
        """Top-level window ids from bottom to top (xwininfo lists the top one first)."""
        return [int(m, 16) for m in reversed(re.findall(r"^\s+(0x[0-9a-f]+)",
                                                        self.x("xwininfo", "-root", "-children"), re.M))]

    def focus(self):
        return int(self.x("xdotool", "getwindowfocus").strip() or 0)

    def press_comm(self, window):
        """COMM. of panel 1, where a user clicks it."""
        self.x("xdotool", "windowraise", str(window))
        self.x("xdotool", "mousemove", "--window", str(window), "52", "82", "click", "1")

    def log_texts(self, mark=""):
        name = "log_%s%s.txt" % (datetime.date.today().strftime("%Y_%m_%d"), mark)
        try:
            with open(os.path.join(self.home, "state", "Orvane", "Logs", name), encoding="latin-1") as f:
                return [line.rstrip("\r\n").split("\t")[-1] for line in f]
        except FileNotFoundError:
            return []

    def log_files(self):
        folder = os.path.join(self.home, "state", "Orvane", "Logs")
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def running(self):
        """The processes of the console program, however they were started (the menu's are not ours)."""
        pids = []
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.readlink("/proc/%s/exe" % entry) == self.program:
                    pids.append(int(entry))
            except OSError:
                pass
        return sorted(pids)

    def close(self):
        strays = [pid for pid in self.running() if all(pid != proc.pid for proc in self.procs)]
        for pid in strays:
            os.kill(pid, signal.SIGTERM)
        wait_until(lambda: not set(strays) & set(self.running()), 20)
        for proc in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        for proc in self.procs:
            try:
                proc.wait(20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            proc.err.close()
        for proc in (getattr(self, "sim", None), getattr(self, "xvfb", None)):
            if proc and proc.poll() is None:
                proc.terminate()
                proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


class Instance(unittest.TestCase):
    def setUp(self):
        self.session = None

    def tearDown(self):
        if self.session:
            self.session.close()

    def second_start_raises(self, s, first, first_window, cover):
        """A plain start while First runs (Cover on top of it) brings First up and ends with status 0."""
        self.assertGreater(s.stacking().index(cover), s.stacking().index(first_window))
        second = s.start()
        self.assertEqual(second.wait(WAIT), 0, s.errors(second))
        line = s.errors(second)
        self.assertEqual(len(line.splitlines()), 1, line)
        self.assertIn("a console is already running in this session (process %d); brought it to the front"
                      % first.pid, line)
        self.assertTrue(wait_until(lambda: s.stacking().index(first_window) > s.stacking().index(cover), 10),
                        "the running console stayed behind")
        self.assertTrue(wait_until(lambda: s.focus() == first_window, 10), "the running console has no focus")
        self.assertEqual(sorted(pid for _, pid in s.windows()), sorted(p.pid for p in s.procs
                                                                        if p.poll() is None))

    def test_SecondStart(self):
        """Two starts in one session: one window, the second's line and status 0. --new-instance gives a
        second window on purpose, its own log file, and a search that skips the first console's port; a
        console for another port folder is one of its own too."""
        s = self.session = Session()
        s.env["ORVANE_PORT_DIR"] = s.ports
        first = s.start()
        first_window = s.window_of(first)
        s.press_comm(first_window)
        self.assertTrue(wait_until(lambda: "Connection Successs. COM3" in s.log_texts(), SEARCH_WAIT),
                        s.log_texts())

        other = s.start("--new-instance")
        other_window = s.window_of(other)
        self.assertEqual(len(s.windows()), 2)
        s.press_comm(other_window)
        self.assertTrue(wait_until(lambda: "Connection Successs. COM5" in s.log_texts("-2"), SEARCH_WAIT),
                        s.log_texts("-2"))
        # Each console's lines in its own file.
        self.assertNotIn("Connection Successs. COM5", s.log_texts())
        self.assertNotIn("Connection Successs. COM3", s.log_texts("-2"))
        today = datetime.date.today().strftime("%Y_%m_%d")
        self.assertEqual(s.log_files(), ["log_%s-2.txt" % today, "log_%s.txt" % today])

        self.second_start_raises(s, first, first_window, other_window)

        # Another port folder is another console: it starts although the first one runs.
        elsewhere = os.path.join(s.dir, "other-ports")
        os.makedirs(elsewhere)
        third = s.start("--port-dir", elsewhere)
        s.window_of(third)
        self.assertEqual(len(s.windows()), 3)
        for proc in (first, other, third):
            self.assertEqual(s.end(proc), 0, s.errors(proc))
        self.assertEqual(s.errors(third), "")

    def test_WithoutSessionBus(self):
        """Without a session bus the runtime folder's lock and socket keep one console per display."""
        s = self.session = Session(bus=False)
        s.env["ORVANE_PORT_DIR"] = s.ports
        first = s.start()
        first_window = s.window_of(first)
        other = s.start("--new-instance")
        other_window = s.window_of(other)
        self.second_start_raises(s, first, first_window, other_window)
        for proc in (first, other):
            self.assertEqual(s.end(proc), 0, s.errors(proc))

    def test_HungConsole(self):
        """A running console that does not answer (stopped here) is neither duplicated nor waited for
        without end: the second start says so and fails."""
        s = self.session = Session()
        s.env["ORVANE_PORT_DIR"] = s.ports
        first = s.start()
        s.window_of(first)
        os.kill(first.pid, signal.SIGSTOP)
        try:
            second = s.start()
            self.assertEqual(second.wait(WAIT), 1, s.errors(second))
            self.assertIn("a console is already running in this session but does not answer; --new-instance "
                          "starts another", s.errors(second))
        finally:
            os.kill(first.pid, signal.SIGCONT)
        self.assertEqual([pid for _, pid in s.windows()], [first.pid])
        self.assertEqual(s.end(first), 0, s.errors(first))

    def test_MenuStart(self):
        """The desktop entry's Exec line, launched as the desktop's menu does (gtk-launch), with only the
        remembered port folder: COMM. finds the simulator's controller. A second menu start brings the
        console up instead of opening another."""
        s = self.session = Session()
        os.makedirs(os.path.join(s.home, "config", "Orvane"))
        with open(os.path.join(s.home, "config", "Orvane", "orvane.conf"), "w") as f:
            f.write("[Ports]\nFolder=%s\n" % s.ports)
        applications = os.path.join(s.home, "share", "applications")
        os.makedirs(applications)
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "..", "..", "packaging", "org.orvane.orvane.desktop")) as f:
            entry = f.read()
        self.assertRegex(entry, r"(?m)^Exec=orvane$")
        entry = re.sub(r"(?m)^Exec=orvane$", "Exec=" + s.program, entry)
        with open(os.path.join(applications, "org.orvane.orvane.desktop"), "w") as f:
            f.write(entry)

        subprocess.run(["gtk-launch", "org.orvane.orvane"], env=s.env, check=True, timeout=WAIT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: len(s.windows()) == 1), "the menu start opened no window")
        window, pid = s.windows()[0]
        s.press_comm(window)
        self.assertTrue(wait_until(lambda: "Connection Successs. COM3" in s.log_texts(), SEARCH_WAIT),
                        s.log_texts())

        subprocess.run(["gtk-launch", "org.orvane.orvane"], env=s.env, check=True, timeout=WAIT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: s.running() == [pid]), "the second menu start did not end")
        self.assertEqual(s.windows(), [(window, pid)])


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: instance_test.py CASE")
    suite = unittest.TestSuite([Instance("test_" + sys.argv[1])])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)

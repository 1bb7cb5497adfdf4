#!/usr/bin/python3
"""The console's Tango devices as a lab script meets them: the console program started with --tango-port
and the controller simulator on pseudo-terminals, driven by a real PyTango client.

Run one case: tango_device_test.py ConnectAndMove (ORVANE_CONSOLE and ORVANE_SIM name the programs).
"""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import tango

CONSOLE = os.environ.get("ORVANE_CONSOLE", "")
SIM = os.environ.get("ORVANE_SIM", "")
WAIT = 30.0  # generous: the console runs under the sanitizers on a shared two-core machine


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout=WAIT, step=0.02):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Events:
    """Change events of one attribute, as the callback received them."""

    def __init__(self, device, attribute):
        self.values = []
        self.errors = []
        self.lock = threading.Lock()
        self.device = device
        self.id = device.subscribe_event(attribute, tango.EventType.CHANGE_EVENT, self.push)

    def push(self, event):
        with self.lock:
            if event.err:
                self.errors.append(event.errors)
            else:
                self.values.append(event.attr_value.value)

    def seen(self):
        with self.lock:
            return list(self.values)

    def wait_for(self, value, timeout=WAIT):
        return wait_until(lambda: value in self.seen(), timeout)

    def close(self):
        try:
            self.device.unsubscribe_event(self.id)
        except tango.DevFailed:
            pass


class Console:
    """The console program with its simulator, each in a scratch folder of its own."""

    def __init__(self, sim_args=(), tango_args=None, tango_host=None, device_names=None):
        self.dir = tempfile.mkdtemp(prefix="orvane-tango-")
        self.device_names = device_names
        self.ports = os.path.join(self.dir, "ports")
        self.command_log = os.path.join(self.dir, "commands.log")
        self.sim = subprocess.Popen(
            [SIM, "--port-dir", self.ports, "--command-log", self.command_log, "--baud", "0",
             "--init-ms", "50", "--grating-ms", "100", *sim_args],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: os.path.exists(os.path.join(self.ports, "COM5")), 10):
            raise RuntimeError("the simulator did not start")
        # From a bin folder, as installed: the log then goes to XDG_STATE_HOME, a folder of this test's.
        os.makedirs(os.path.join(self.dir, "bin"))
        self.program = os.path.join(self.dir, "bin", "orvane")
        shutil.copy(CONSOLE, self.program)
        self.state_home = os.path.join(self.dir, "state")
        self.port = free_port()
        # ORVANE_TEST_QPA=minimal: no painting at all (the thread sanitizer's run, which would otherwise
        # report the toolkit's own painting threads).
        env = dict(os.environ, ORVANE_PORT_DIR=self.ports, XDG_STATE_HOME=self.state_home,
                   QT_QPA_PLATFORM=os.environ.get("ORVANE_TEST_QPA", "offscreen"))
        env.pop("TANGO_HOST", None)
        if tango_host:
            env["TANGO_HOST"] = tango_host
        if "TSAN_OPTIONS" in env:
            # The toolkit, omniORB and Tango are not instrumented: their own threads' allocations (the
            # toolkit's painting threads) would be reported as races. The console's code is still checked.
            env["TSAN_OPTIONS"] += ":ignore_noninstrumented_modules=1"
        self.err_path = os.path.join(self.dir, "console.err")
        with open(self.err_path, "w") as err:
            args = tango_args if tango_args is not None else ["--tango-port", str(self.port)]
            self.proc = subprocess.Popen([self.program, *args], env=env,
                                         stdout=subprocess.DEVNULL, stderr=err)
        self.proxies = []
        probe = self.device(1)
        if not wait_until(lambda: self._answers(probe), WAIT, 0.1):
            self.close()
            raise RuntimeError("the console's Tango server did not answer:\n" + self.errors())

    @staticmethod
    def _answers(proxy):
        try:
            proxy.ping()
            return True
        except tango.DevFailed:
            return False

    def name(self, panel):
        if self.device_names:
            return self.device_names[panel - 1]
        return f"tango://127.0.0.1:{self.port}/orvane/spectrograph/{panel}#dbase=no"

    def device(self, panel=1):
        proxy = tango.DeviceProxy(self.name(panel))
        proxy.set_timeout_millis(10000)
        self.proxies.append(proxy)
        return proxy

    def commands(self):
        """(monotonic ns, COMn, command) for each command the controllers received."""
        try:
            with open(self.command_log) as f:
                rows = [line.rstrip("\n").split(" ", 2) for line in f if line.strip()]
        except FileNotFoundError:
            return []
        return [(int(ns), com, text.rstrip("\r")) for ns, com, text in rows]

    def texts(self, com="COM3"):
        return [text for _, c, text in self.commands() if c == com]

    def log_lines(self):
        folder = os.path.join(self.state_home, "Orvane", "Logs")
        lines = []
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                lines += [line.rstrip("\n").split("\t")[-1] for line in f]
        return lines

    def wait_log(self, line):
        """Waits for Line in the log file, which the console writes within a second."""
        return wait_until(lambda: line in self.log_lines(), WAIT, 0.1)

    def errors(self):
        with open(self.err_path) as f:
            return f.read()

    def close(self):
        """Ends the console as logout would; returns its exit status."""
        code = self.proc.poll()
        if code is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                code = self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                code = self.proc.wait()
        self.sim.terminate()
        self.sim.wait(10)
        return code


class TangoDatabase:
    """A Tango database of this test's own: MariaDB in a scratch folder with Tango's tables, and Tango's
    database server on a free port."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="orvane-tangodb-")
        self.procs = []
        data = os.path.join(self.dir, "data")
        user = pwd.getpwuid(os.getuid()).pw_name
        subprocess.run(["mariadb-install-db", "--no-defaults", f"--datadir={data}", f"--user={user}",
                        "--auth-root-authentication-method=normal", "--skip-test-db"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.sql_port = free_port()
        socket_path = os.path.join(self.dir, "mysql.sock")
        self.procs.append(subprocess.Popen(
            ["/usr/sbin/mariadbd", "--no-defaults", f"--datadir={data}", f"--socket={socket_path}",
             f"--port={self.sql_port}", "--bind-address=127.0.0.1", f"--user={user}",
             f"--pid-file={os.path.join(self.dir, 'mysqld.pid')}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        client = ["mariadb", "--no-defaults", f"--socket={socket_path}", "-uroot"]
        if not wait_until(lambda: subprocess.run(client + ["-e", "SELECT 1"], stdout=subprocess.DEVNULL,
                                                 stderr=subprocess.DEVNULL).returncode == 0, WAIT, 0.2):
            self.close()
            raise RuntimeError("MariaDB did not start")
        subprocess.run(client + ["-e", "CREATE DATABASE tango"], check=True)
        with open("/usr/share/dbconfig-common/data/tango-db/install/mysql") as schema:
            subprocess.run(client + ["tango"], stdin=schema, cwd="/usr/share/tango-db", check=True,
                           stdout=subprocess.DEVNULL)
        self.port = free_port()
        self.host = f"127.0.0.1:{self.port}"
        env = dict(os.environ, MYSQL_USER="root", MYSQL_PASSWORD="", MYSQL_HOST=f"127.0.0.1:{self.sql_port}",
                   TANGO_HOST=self.host)
        self.procs.append(subprocess.Popen(
            ["/usr/lib/tango/DataBaseds", "2", "-ORBendPoint", f"giop:tcp:127.0.0.1:{self.port}"], env=env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.env = dict(os.environ, TANGO_HOST=self.host)
        if subprocess.run(["tango_admin", "--ping-database", "30"], env=self.env).returncode != 0:
            self.close()
            raise RuntimeError("Tango's database server did not start")

    def admin(self, *args):
        return subprocess.run(["tango_admin", *args], env=self.env).returncode

    def close(self):
        for proc in reversed(self.procs):
            proc.terminate()
            try:
                proc.wait(20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def wait_state(device, state, timeout=WAIT):
    return wait_until(lambda: device.state() == state, timeout)


class ConsoleCase(unittest.TestCase):
    sim_args = ()

    def setUp(self):
        self.console = Console(self.sim_args)
        self.dev = self.console.device(1)
        self.events = []

    def tearDown(self):
        for e in self.events:
            e.close()
        code = self.console.close()
        errors = self.console.errors()
        self.assertEqual(code, 0, errors)
        # What the sanitizers and the console say on stderr is a finding.
        self.assertNotIn("ERROR: AddressSanitizer", errors)
        self.assertNotIn("runtime error", errors)
        self.assertNotIn("WARNING: ThreadSanitizer", errors)
        shutil.rmtree(self.console.dir, ignore_errors=True)

    def subscribe(self, attribute, device=None):
        e = Events(device or self.dev, attribute)
        self.events.append(e)
        return e

    def connect(self, device=None):
        device = device or self.dev
        device.Connect()
        self.assertTrue(wait_state(device, tango.DevState.ON), device.status())

    def refused(self, call, *args):
        with self.assertRaises(tango.DevFailed) as caught:
            call(*args)
        return caught.exception.args[0]


class ConnectAndMove(ConsoleCase):
    def test_connect_then_move(self):
        self.assertEqual(self.dev.state(), tango.DevState.OFF)
        states = self.subscribe("State")
        self.connect()
        self.assertIn(tango.DevState.INIT, states.seen())
        self.assertEqual(self.dev.ControllerName, "ORVANE-SIM-1")
        self.assertEqual(self.dev.Port, "COM3")
        self.assertEqual(list(self.dev.Grooves), [1200, 600])
        self.assertEqual(list(self.dev.Blazes), [500.0, 1000.0])
        self.assertEqual(self.dev.Grating, 1)
        self.assertTrue(self.dev.Enabled)

        wavelength = self.subscribe("Wavelength")
        status = self.subscribe("Status")
        self.dev.Move(532.5)
        self.assertTrue(wavelength.wait_for(532.5), wavelength.seen())
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertIn("GU532.5", self.console.texts())
        self.assertEqual(self.dev.Wavelength, 532.5)
        self.assertEqual(self.dev.status(), "Moving Ok")
        self.assertTrue(status.wait_for("Moving Ok"))
        self.assertIn(tango.DevState.MOVING, states.seen())
        self.assertTrue(self.console.wait_log("Moving Ok"))
        lines = self.console.log_lines()
        self.assertIn("Moving To 532.5", lines)
        self.assertEqual(lines[lines.index("Moving To 532.5") + 1], "Moving Ok")

        # A jog from the move field, signed.
        self.dev.Jog(-2.5)
        self.assertTrue(wavelength.wait_for(530.0), wavelength.seen())
        self.assertIn("GU530", self.console.texts())


class GratingChange(ConsoleCase):
    def test_grating_then_move(self):
        self.connect()
        self.dev.MoveWithGrating([2, 600])
        self.assertTrue(wait_until(lambda: "GU600" in self.console.texts()))
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        rows = [(ns, text) for ns, com, text in self.console.commands() if com == "COM3"]
        texts = [text for _, text in rows]
        gs = texts.index("GS2")
        gu = texts.index("GU600")
        self.assertEqual(gu, gs + 1, texts)
        self.assertGreaterEqual(rows[gu][0] - rows[gs][0], 300_000_000)
        self.assertEqual(self.dev.Grating, 2)
        self.assertEqual(self.dev.Wavelength, 600.0)


class Scan(ConsoleCase):
    def test_three_points_two_passes(self):
        self.connect()
        points = self.subscribe("ScanPoint")
        states = self.subscribe("State")
        self.dev.StartScan([500, 510, 5, 0.3, 2])
        self.assertTrue(states.wait_for(tango.DevState.RUNNING))
        self.assertEqual(self.dev.ScanPoints, 3)
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertEqual(self.console.texts()[-6:], ["GU500", "GU505", "GU510"] * 2)
        # Each point of each pass was pushed, in order, with the restart between the passes.
        seen = points.seen()
        expected = [1, 2, 3, 0, 1, 2, 3]
        position = 0
        for value in seen:
            if position < len(expected) and value == expected[position]:
                position += 1
        self.assertEqual(position, len(expected), seen)
        self.assertTrue(self.console.wait_log("End Scaning..."))

    def test_pause_continue_stop(self):
        self.connect()
        self.dev.StartScan([500, 600, 1, 60, 1])
        self.assertTrue(wait_state(self.dev, tango.DevState.RUNNING))
        self.dev.PauseScan()
        self.assertTrue(wait_until(lambda: self.dev.ScanPaused))
        self.assertEqual(self.dev.state(), tango.DevState.RUNNING)
        self.assertIn("already paused", self.refused(self.dev.PauseScan).desc)
        self.dev.ContinueScan()
        self.assertTrue(wait_until(lambda: not self.dev.ScanPaused))
        self.dev.StopScan()
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertIn("not scanning", self.refused(self.dev.StopScan).desc)


class Refusals(ConsoleCase):
    sim_args = ("--speed", "100")  # a 100 nm move takes a second

    def test_what_the_panel_cannot_take_raises_and_sends_nothing(self):
        self.assertIn("not connected", self.refused(self.dev.Move, 600.0).desc)
        panel2 = self.console.device(2)
        self.assertFalse(panel2.Enabled)
        self.assertIn("disabled by the selector", self.refused(panel2.Connect).desc)
        self.connect()

        sent = len(self.console.commands())
        for call, arg in [(self.dev.Move, -1.0), (self.dev.Move, float("inf")),
                          (self.dev.MoveWithGrating, [4, 600]), (self.dev.MoveWithGrating, [1]),
                          (self.dev.StartScan, [500, 510, 0, 1, 1]), (self.dev.Jog, -1e9)]:
            error = self.refused(call, arg)
            self.assertTrue(error.desc, error)
        self.assertEqual(len(self.console.commands()), sent)

        self.dev.Move(600.0)
        self.assertTrue(wait_until(lambda: "GU600" in self.console.texts()))
        self.assertEqual(self.dev.state(), tango.DevState.MOVING)
        sent = len(self.console.commands())
        error = self.refused(self.dev.Move, 700.0)
        self.assertEqual(error.reason, "ORVANE_Refused")
        self.assertIn("busy", error.desc)
        self.assertIn("busy", self.refused(self.dev.StartScan, [500, 510, 5, 1, 1]).desc)
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertEqual(len(self.console.commands()), sent)
        self.assertNotIn("GU700", self.console.texts())


class DisconnectAndHangup(ConsoleCase):
    def test_off_then_fault(self):
        self.connect()
        states = self.subscribe("State")
        self.dev.Disconnect()
        self.assertTrue(states.wait_for(tango.DevState.OFF))
        self.assertEqual(self.dev.status(), "Disconnect comm.")
        self.connect()
        self.console.sim.send_signal(signal.SIGUSR1)  # the cable is pulled
        self.assertTrue(states.wait_for(tango.DevState.FAULT), states.seen())
        self.assertTrue(self.dev.status().startswith("Connection lost. COM3"), self.dev.status())


def listening_addresses(port):
    """The local addresses of the TCP sockets listening on Port (IPv4)."""
    found = []
    with open("/proc/net/tcp") as table:
        for row in list(table)[1:]:
            local, state = row.split()[1], row.split()[3]
            address, hex_port = local.split(":")
            if state == "0A" and int(hex_port, 16) == port:
                found.append(socket.inet_ntoa(bytes.fromhex(address)[::-1]))
    return found


def network_address():
    """One of this machine's IPv4 addresses other than the loopback, or None."""
    out = subprocess.run(["ip", "-4", "-o", "addr", "show", "scope", "global"], capture_output=True,
                         text=True).stdout.split()
    return next((word.split("/")[0] for i, word in enumerate(out) if i > 0 and out[i - 1] == "inet"), None)


class Listen(unittest.TestCase):
    def test_loopback_by_default_and_the_network_when_asked(self):
        console = Console()
        try:
            self.assertEqual(listening_addresses(console.port), ["127.0.0.1"])
        finally:
            self.assertEqual(console.close(), 0, console.errors())
        address = network_address()
        if address is None:
            self.skipTest("no network address on this machine")
        port = free_port()
        console = Console(tango_args=["--tango-port", str(port), "--tango-listen", "0.0.0.0"],
                          device_names=[f"tango://{address}:{port}/orvane/spectrograph/{n}#dbase=no"
                                        for n in (1, 2)])
        try:
            self.assertEqual(listening_addresses(port), ["0.0.0.0"])
            device = console.device(1)
            events = Events(device, "State")
            device.Connect()
            self.assertTrue(events.wait_for(tango.DevState.ON), events.seen())
            events.close()
        finally:
            self.assertEqual(console.close(), 0, console.errors())


class Database(unittest.TestCase):
    """With TANGO_HOST set, the devices are those registered for the server instance, named as any."""

    def test_registered_instance(self):
        database = TangoDatabase()
        try:
            # As the README has it.
            self.assertEqual(database.admin("--add-server", "orvane/lab", "OrvaneSpectrograph",
                                            "lab/spectrograph/left,lab/spectrograph/right"), 0)
            names = ["lab/spectrograph/left", "lab/spectrograph/right"]
            os.environ["TANGO_HOST"] = database.host  # the client's database
            console = Console(tango_args=["--tango", "--tango-instance", "lab"], tango_host=database.host,
                              device_names=names)
            try:
                left = console.device(1)
                self.assertEqual(left.info().server_id, "orvane/lab")
                left.Connect()
                self.assertTrue(wait_state(left, tango.DevState.ON))
                self.assertEqual(left.Port, "COM3")
                left.Move(600.0)
                self.assertTrue(wait_until(lambda: "GU600" in console.texts()))
                self.assertFalse(console.device(2).Enabled)  # the second in name order is panel 2
            finally:
                code = console.close()
            self.assertEqual(code, 0, console.errors())
        finally:
            os.environ.pop("TANGO_HOST", None)
            database.close()


class ManyClients(ConsoleCase):
    def test_two_clients_at_once(self):
        self.connect()
        failures = []
        done = threading.Event()

        def reader():
            proxy = tango.DeviceProxy(self.console.name(1))
            try:
                while not done.is_set():
                    proxy.read_attributes(["Wavelength", "State", "Status", "ScanPoint"])
            except tango.DevFailed as e:
                failures.append(e)

        thread = threading.Thread(target=reader)
        thread.start()
        other = tango.DeviceProxy(self.console.name(1))
        try:
            for nm in (510.0, 520.0, 530.0, 540.0, 550.0):
                other.Move(nm)
                self.assertTrue(wait_until(lambda: other.state() == tango.DevState.ON and other.Wavelength == nm))
        finally:
            done.set()
            thread.join(WAIT)
        self.assertEqual(failures, [])
        self.assertEqual(self.console.texts()[-5:], ["GU510", "GU520", "GU530", "GU540", "GU550"])

    def test_a_client_that_vanishes_mid_call(self):
        self.connect()
        # A client subscribed to events, then killed in the middle of a Disconnect (which takes 300 ms).
        script = (
            "import tango, sys\n"
            f"d = tango.DeviceProxy('{self.console.name(1)}')\n"
            "d.subscribe_event('Wavelength', tango.EventType.CHANGE_EVENT, lambda e: None)\n"
            "print('ready', flush=True)\n"
            "d.Disconnect()\n"
            "print('answered', flush=True)\n")
        with subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True) as client:
            self.assertEqual(client.stdout.readline().strip(), "ready")
            time.sleep(0.1)
            client.kill()
        self.assertTrue(wait_state(self.dev, tango.DevState.OFF))
        # The console goes on serving the others, and pushes to a subscriber that is gone do no harm.
        self.connect()
        wavelength = self.subscribe("Wavelength")
        self.dev.Move(555.0)
        self.assertTrue(wavelength.wait_for(555.0))


class CloseWithClients(unittest.TestCase):
    def test_the_console_closes_while_clients_call(self):
        console = Console()
        device = console.device(1)
        device.Connect()
        self.assertTrue(wait_state(device, tango.DevState.ON))
        events = Events(device, "State")
        stop = threading.Event()
        outcome = []

        def caller():
            proxy = tango.DeviceProxy(console.name(1))
            proxy.set_timeout_millis(3000)
            try:
                while not stop.is_set():
                    proxy.state()
                    proxy.read_attribute("Wavelength")
            except tango.DevFailed:
                outcome.append("failed")  # the server went: the call fails rather than hangs

        thread = threading.Thread(target=caller)
        thread.start()
        time.sleep(0.3)
        code = console.close()
        stop.set()
        thread.join(WAIT)
        self.assertFalse(thread.is_alive())
        errors = console.errors()
        self.assertEqual(code, 0, errors)
        self.assertNotIn("ERROR: AddressSanitizer", errors)
        self.assertNotIn("WARNING: ThreadSanitizer", errors)
        # Written at the close at the latest.
        self.assertIn("Connection Successs. COM3", console.log_lines())
        events.close()
        shutil.rmtree(console.dir, ignore_errors=True)


if __name__ == "__main__":
    if not CONSOLE or not SIM:
        sys.exit("ORVANE_CONSOLE and ORVANE_SIM must name the console and the simulator")
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)

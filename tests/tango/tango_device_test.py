#!/usr/bin/python3
"""The console's Tango devices as a lab meets them: the console program started with --tango-port (or as
Tango's standard server, with a database file or a database of the test's own) and the controller simulator
on pseudo-terminals, driven by real PyTango clients and Taurus.

Run one case: tango_device_test.py ConnectAndMove (ORVANE_CONSOLE and ORVANE_SIM name the programs).
"""
import json
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
    """Events of one attribute, as the callback received them."""

    def __init__(self, device, attribute, kind=tango.EventType.CHANGE_EVENT):
        self.values = []
        self.records = []  # (value, time, quality) of each event
        self.errors = []
        self.lock = threading.Lock()
        self.device = device
        self.id = device.subscribe_event(attribute, kind, self.push)

    def push(self, event):
        with self.lock:
            if event.err:
                self.errors.append(event.errors)
            else:
                value = event.attr_value.value
                if hasattr(value, "tolist"):
                    value = value.tolist()
                self.values.append(value)
                self.records.append((value, event.attr_value.time.totime(), event.attr_value.quality))

    def seen(self):
        with self.lock:
            return list(self.values)

    def seen_records(self):
        with self.lock:
            return list(self.records)

    def seen_errors(self):
        with self.lock:
            return list(self.errors)

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
        self.out_path = os.path.join(self.dir, "console.out")
        with open(self.err_path, "w") as err, open(self.out_path, "w") as out:
            args = [a.format(port=self.port) for a in tango_args] if tango_args is not None else [
                "--tango-port", str(self.port)]
            self.proc = subprocess.Popen([self.program, *args], env=env, stdout=out, stderr=err)
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
            return self.device_names[panel - 1].format(port=self.port)
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

    def output(self):
        with open(self.out_path) as f:
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

    def subscribe(self, attribute, device=None, kind=tango.EventType.CHANGE_EVENT):
        e = Events(device or self.dev, attribute, kind)
        self.events.append(e)
        return e

    def live(self, device=None):
        """Returns once the subscriptions made so far deliver what is pushed. Tango does not promise the events
        pushed just after subscribe_event returns: a client's first subscription may still be joining the
        server's event channel, and an event pushed then is not sent to it. The subscriptions reach the server
        in order, so a configuration event that is pushed after them (by rewriting an attribute's configuration
        unchanged) and received shows them all in place."""
        device = device or self.dev
        received = []
        probe = device.subscribe_event("ScanPaused", tango.EventType.ATTR_CONF_EVENT, received.append)
        config = device.get_attribute_config("ScanPaused")
        try:
            end = time.monotonic() + WAIT
            while len(received) < 2 and time.monotonic() < end:  # the first is the read at the subscription
                device.set_attribute_config(config)
                wait_until(lambda: len(received) >= 2, 0.2)
            self.assertGreaterEqual(len(received), 2, "no configuration event came back")
        finally:
            device.unsubscribe_event(probe)

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
        self.live()
        self.connect()
        self.assertTrue(states.wait_for(tango.DevState.INIT), states.seen())
        self.assertEqual(self.dev.ControllerName, "ORVANE-SIM-1")
        self.assertEqual(self.dev.Port, "COM3")
        self.assertEqual(list(self.dev.Grooves), [1200, 600])
        self.assertEqual(list(self.dev.Blazes), [500.0, 1000.0])
        self.assertEqual(self.dev.Grating, 1)
        self.assertTrue(self.dev.Enabled)

        wavelength = self.subscribe("Wavelength")
        status = self.subscribe("Status")
        self.live()
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
        self.live()
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
        self.live()
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
    """With TANGO_HOST set, the devices are those registered for the server instance, named as any; the
    console starts as README's --tango options have it and as Tango's Starter starts a server."""

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
                self.assertTrue(wait_state(left, tango.DevState.ON))
                # Taurus through the database's name of the device.
                seen = taurus_attributes(f"tango://{database.host}/lab/spectrograph/left/", "Wavelength", "Grooves")
                self.assertEqual((seen["Wavelength"]["magnitude"], seen["Wavelength"]["units"]), (600.0, "nm"))
                self.assertEqual(seen["Grooves"]["units"], "1 / mm")

                # The instance runs already: a second start says so.
                env = {"TANGO_HOST": database.host}
                code, err = run_console(["lab"], env)
                self.assertEqual(code, 1, err)
                self.assertEqual(err.strip().splitlines(), [
                    f"orvane: the server instance orvane/lab is already running on {left.info().server_host}"])
            finally:
                code = console.close()
            self.assertEqual(code, 0, console.errors())

            # Tango's standard start, as Starter runs it, with a trace level.
            console = Console(tango_args=["lab", "-v1"], tango_host=database.host, device_names=names)
            try:
                left = console.device(1)
                left.Connect()
                self.assertTrue(wait_state(left, tango.DevState.ON))
                self.assertEqual(left.Grating, 1)
            finally:
                code = console.close()
            self.assertEqual(code, 0, console.errors())

            # An instance nobody registered: the line says how to register it.
            code, err = run_console(["nosuch"], {"TANGO_HOST": database.host})
            self.assertEqual(code, 1, err)
            self.assertEqual(err.strip().splitlines(), [
                f"orvane: the server instance orvane/nosuch is not registered in the Tango database at "
                f"{database.host}; register it with: tango_admin --add-server orvane/nosuch OrvaneSpectrograph "
                f"nosuch/spectrograph/1,nosuch/spectrograph/2"])
            # MariaDB's own port is no Tango database.
            code, err = run_console(["lab"], {"TANGO_HOST": f"127.0.0.1:{database.sql_port}"})
            self.assertEqual(code, 1, err)
            self.assertIn("is not a Tango database", err)
            self.assertEqual(len(err.strip().splitlines()), 1, err)
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
        self.live()
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


ATTRIBUTES = ["Wavelength", "ControllerName", "Port", "Grating", "Grooves", "Blazes", "ScanPoint", "ScanPoints",
              "ScanPass", "ScanPaused", "Enabled"]
TAURUS_CLIENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "taurus_client.py")


def taurus_attributes(base, *names):
    """What Taurus makes of the attributes base+name, through a Taurus of its own process."""
    out = subprocess.run([sys.executable, TAURUS_CLIENT, "attributes", base, *names], capture_output=True,
                         text=True, timeout=120)
    if out.returncode != 0:
        raise RuntimeError(out.stderr)
    return json.loads(out.stdout.strip().splitlines()[-1])


class TaurusForm:
    """A Taurus form of every attribute of a device, in a process of its own."""

    def __init__(self, base, folder):
        self.stop_file = os.path.join(folder, "form.stop")
        self.log = open(os.path.join(folder, "taurus.log"), "w+")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.proc = subprocess.Popen([sys.executable, TAURUS_CLIENT, "form", base, self.stop_file], env=env,
                                     stdout=subprocess.PIPE, stderr=self.log, text=True)
        if self.proc.stdout.readline().strip() != "shown":
            raise RuntimeError("the Taurus form did not show")

    def alive(self):
        return self.proc.poll() is None

    def finish(self):
        """The text each value widget shows, by attribute; the form's log."""
        open(self.stop_file, "w").close()
        out, _ = self.proc.communicate(timeout=60)
        self.log.seek(0)
        shown = {}
        for line in out.splitlines():
            if " | " in line:
                model, text = line.split(" | ", 1)
                shown[model.rsplit("/", 1)[-1]] = text
        return shown, self.log.read()


def readme_script(port):
    """The Python script of the README's Tango section, for a console on Port."""
    readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("## Remote control through Tango"):]
    script = section[section.index("```python\n") + len("```python\n"):]
    script = script[:script.index("```")]
    return script.replace("127.0.0.1:10000", f"127.0.0.1:{port}")


def run_console(args, env_extra=None, timeout=60):
    """Starts the console program with Args as a failing start would go; (status, stderr)."""
    folder = tempfile.mkdtemp(prefix="orvane-tango-start-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_STATE_HOME=folder, ORVANE_PORT_DIR=folder)
    env.pop("TANGO_HOST", None)
    env.update(env_extra or {})
    try:
        done = subprocess.run([CONSOLE, *args], env=env, capture_output=True, text=True, timeout=timeout)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return done.returncode, done.stderr


class EventsThatLast(ConsoleCase):
    """A lab's monitor without a database: subscribed to every attribute's change events, and to the archive
    events of Wavelength, State and ScanPoint, through a scan of a minute, with a Taurus form beside it."""

    def test_every_attribute_through_a_minute_long_scan(self):
        self.connect()
        changes = {name: self.subscribe(name) for name in ["State", "Status", *ATTRIBUTES]}
        archives = {name: self.subscribe(name, kind=tango.EventType.ARCHIVE_EVENT)
                    for name in ("Wavelength", "State", "ScanPoint")}
        self.live()
        form = TaurusForm(f"tango-nodb://127.0.0.1:{self.console.port}/orvane/spectrograph/1/", self.console.dir)
        try:
            # 61 points a second apart: a minute and more, past the 10 to 20 s after which a lost heartbeat
            # ends a subscription.
            started = time.monotonic()
            self.dev.StartScan([500, 560, 1, 61, 1])
            self.assertTrue(changes["State"].wait_for(tango.DevState.RUNNING))
            self.assertTrue(wait_until(lambda: self.dev.state() == tango.DevState.ON, 150, 0.5))
            self.assertGreaterEqual(time.monotonic() - started, 60)
            self.assertTrue(changes["State"].wait_for(tango.DevState.ON))
            self.assertTrue(form.alive(), "the Taurus form ended during the scan")
        finally:
            shown, log = form.finish()
        for name, events in {**changes, **{"archive " + n: e for n, e in archives.items()}}.items():
            self.assertEqual(events.seen_errors(), [], name)
            # Each event once: none repeated with the same value and time stamp.
            records = [(repr(v), t) for v, t, _ in events.seen_records()]
            self.assertEqual(len(records), len(set(records)), (name, records[:10]))
        # Every point of the scan, once and in order, after the value at the subscription.
        self.assertEqual(changes["ScanPoint"].seen(), list(range(0, 62)))
        self.assertEqual(archives["ScanPoint"].seen(), list(range(0, 62)))
        self.assertEqual(changes["ScanPass"].seen()[:2], [0, 1])
        self.assertIn(61, changes["ScanPoints"].seen())
        self.assertEqual(changes["State"].seen()[:2], [tango.DevState.ON, tango.DevState.RUNNING])
        wavelengths = [v for v in changes["Wavelength"].seen() if v is not None]
        self.assertEqual(wavelengths[-1], 560.0)
        self.assertGreaterEqual(len(set(wavelengths)), 61)
        self.assertEqual(archives["Wavelength"].seen()[-1], 560.0)
        # The form followed the scan to its end, showing the readout's three decimals.
        self.assertEqual(shown.get("Wavelength"), "560.000", shown)
        self.assertEqual(shown.get("ScanPoint"), "61", shown)
        self.assertNotIn("API_EventTimeout", log)
        self.assertNotIn("Event channel is not responding", log)


class Properties(ConsoleCase):
    sim_args = ("--speed", "100")  # a 100 nm move takes a second

    def test_descriptions_units_ranges_and_quality(self):
        for name in ATTRIBUTES:
            config = self.dev.get_attribute_config(name)
            self.assertNotIn(config.description, ("", "No description"), name)
        for command in self.dev.command_list_query():
            if command.cmd_name not in ("Init", "State", "Status"):
                self.assertNotIn(command.in_type_desc, ("", "Uninitialised"), command.cmd_name)
        wavelength = self.dev.get_attribute_config("Wavelength")
        self.assertEqual((wavelength.unit, wavelength.format), ("nm", "%6.3f"))
        self.assertEqual((wavelength.min_value, wavelength.max_value), ("0", "100000"))
        self.assertEqual(wavelength.writable, tango.AttrWriteType.READ_WRITE)
        self.assertEqual(self.dev.get_attribute_config("Grooves").unit, "1/mm")
        self.assertEqual(self.dev.get_attribute_config("Blazes").unit, "nm")
        grating = self.dev.get_attribute_config("Grating")
        self.assertEqual((grating.min_value, grating.max_value), ("1", "3"))
        self.assertEqual(grating.writable, tango.AttrWriteType.READ_WRITE)

        # Nothing connected: what the controller reports is invalid, the rest is valid.
        for name in ("Wavelength", "Grating", "ControllerName", "Port", "Grooves"):
            self.assertEqual(self.dev.read_attribute(name).quality, tango.AttrQuality.ATTR_INVALID, name)
        self.assertIsNone(self.dev.read_attribute("Wavelength").value)
        for name in ("ScanPoint", "ScanPaused", "Enabled"):
            self.assertEqual(self.dev.read_attribute(name).quality, tango.AttrQuality.ATTR_VALID, name)

        qualities = self.subscribe("Wavelength")
        self.live()
        self.connect()
        value = self.dev.read_attribute("Wavelength")
        self.assertEqual((value.value, value.quality), (500.0, tango.AttrQuality.ATTR_VALID))
        # The simulator's controller has two gratings: a client may write 1 or 2.
        self.assertTrue(wait_until(lambda: self.dev.get_attribute_config("Grating").max_value == "2"))
        self.dev.Move(600.0)
        self.assertEqual(self.dev.read_attribute("Wavelength").quality, tango.AttrQuality.ATTR_CHANGING)
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertEqual(self.dev.read_attribute("Wavelength").quality, tango.AttrQuality.ATTR_VALID)
        self.assertTrue(wait_until(lambda: (600.0, tango.AttrQuality.ATTR_VALID) in
                                   [(v, q) for v, _, q in qualities.seen_records()]))
        pushed = [q for _, _, q in qualities.seen_records()]
        self.assertEqual(pushed[0], tango.AttrQuality.ATTR_INVALID)
        self.assertIn(tango.AttrQuality.ATTR_CHANGING, pushed)

        # Taurus, through its database-less names, reads the units, the format and the range.
        seen = taurus_attributes(f"tango-nodb://127.0.0.1:{self.console.port}/orvane/spectrograph/1/",
                                 "Wavelength", "Grooves", "Blazes", "Grating")
        self.assertEqual(seen["Wavelength"]["units"], "nm")
        self.assertEqual(seen["Wavelength"]["magnitude"], 600.0)
        self.assertEqual(seen["Wavelength"]["format"], "6.3f")
        self.assertEqual(seen["Wavelength"]["range"], [0.0, 100000.0])
        self.assertEqual(seen["Wavelength"]["quality"], "ATTR_VALID")
        self.assertEqual(seen["Grooves"]["units"], "1 / mm")
        self.assertEqual(seen["Grooves"]["magnitude"], [1200, 600])
        self.assertEqual(seen["Blazes"]["units"], "nm")
        self.assertEqual(seen["Grating"]["range"], [1.0, 2.0])
        self.assertTrue(seen["Grating"]["description"].startswith("The grating in the beam"))


class MotorInterface(ConsoleCase):
    sim_args = ("--speed", "100")  # a 100 nm move takes a second

    def test_writing_wavelength_and_grating_and_stop(self):
        self.connect()
        self.assertEqual(self.dev.Grating, 1)
        sent = len(self.console.commands())
        # Outside the ranges clients are shown: Tango itself refuses, nothing is sent.
        for name, value in (("Wavelength", -1.0), ("Wavelength", 100001.0), ("Grating", 3), ("Grating", 0)):
            with self.assertRaises(tango.DevFailed, msg=(name, value)) as caught:
                self.dev.write_attribute(name, value)
            self.assertEqual(caught.exception.args[0].reason, "API_WAttrOutsideLimit")
        self.assertEqual(len(self.console.commands()), sent)

        # A written wavelength is a move: MOVING at once, ON with the controller's answer.
        self.dev.write_attribute("Wavelength", 600.0)
        self.assertEqual(self.dev.state(), tango.DevState.MOVING)
        self.assertTrue(wait_until(lambda: "GU600" in self.console.texts()))
        error = self.refused(self.dev.write_attribute, "Wavelength", 700.0)
        self.assertEqual(error.reason, "ORVANE_Refused")
        self.assertIn("busy", error.desc)
        # A move cannot be halted, and Stop says so.
        error = self.refused(self.dev.Stop)
        self.assertIn("no command to halt", error.desc)
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertNotIn("GU700", self.console.texts())
        self.assertNotIn("GX", self.console.texts())
        written = self.dev.read_attribute("Wavelength")
        self.assertEqual((written.value, written.w_value), (600.0, 600.0))

        # A written grating changes it and returns to the wavelength; the grating in place sends nothing.
        self.dev.write_attribute("Grating", 2)
        self.assertTrue(wait_until(lambda: self.console.texts()[-2:] == ["GS2", "GU600"]))
        self.assertTrue(wait_state(self.dev, tango.DevState.ON))
        self.assertEqual(self.dev.Grating, 2)
        sent = len(self.console.commands())
        self.dev.write_attribute("Grating", 2)
        self.dev.Stop()  # nothing runs: nothing to stop
        self.assertEqual(len(self.console.commands()), sent)

        # Stop ends a scan at once: no point after it.
        self.dev.StartScan([600, 700, 1, 100, 1])  # a point a second
        self.assertTrue(wait_until(lambda: "GU601" in self.console.texts()))
        self.dev.Stop()
        self.assertTrue(wait_state(self.dev, tango.DevState.ON, 5))
        after = len(self.console.commands())
        time.sleep(2.5)
        self.assertEqual(len(self.console.commands()), after)
        self.assertNotIn("GU603", self.console.texts())


class ReadmeScript(ConsoleCase):
    def test_the_readme_script_runs_twice_in_a_row(self):
        script = readme_script(self.console.port)
        outputs = []
        for run in (1, 2):
            done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=180)
            self.assertEqual(done.returncode, 0, f"run {run}:\n{done.stdout}\n{done.stderr}")
            outputs.append(done.stdout)
        for out in outputs:
            self.assertIn("ORVANE-SIM-1 COM3 [1200, 600] [500.0, 1000.0]", out)
            self.assertIn("532.5", out)
            self.assertIn("point 3", out)
        # Asked for what already holds: done, nothing sent.
        sent = len(self.console.commands())
        self.dev.Connect()
        self.assertEqual(self.dev.state(), tango.DevState.ON)
        self.dev.Disconnect()
        self.assertTrue(wait_state(self.dev, tango.DevState.OFF))
        self.dev.Disconnect()
        self.assertEqual(len(self.console.commands()), sent)
        # Both Disconnects were answered before the file took the first's line: a second would be with it.
        self.assertTrue(self.console.wait_log("Disconnect comm."))
        self.assertEqual(self.console.log_lines().count("Disconnect comm."), 1)


class StartFailures(unittest.TestCase):
    """Whatever keeps the Tango server from starting is said in one line of the console's and status 1."""

    def one_line(self, args, env_extra=None):
        code, err = run_console(args, env_extra)
        self.assertEqual(code, 1, err)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertTrue(err.startswith("orvane: "), err)
        return err.strip()

    def test_each_failure_in_one_line(self):
        closed = free_port()
        err = self.one_line(["lab1"], {"TANGO_HOST": f"127.0.0.1:{closed}"})
        self.assertIn(f"the Tango database at TANGO_HOST=127.0.0.1:{closed} cannot be reached", err)

        # Something else listens at TANGO_HOST: a web server, say.
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        stop = threading.Event()

        def answer():
            server.settimeout(0.2)
            while not stop.is_set():
                try:
                    peer, _ = server.accept()
                except socket.timeout:
                    continue
                with peer:
                    peer.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n")

        thread = threading.Thread(target=answer)
        thread.start()
        try:
            host = f"127.0.0.1:{server.getsockname()[1]}"
            err = self.one_line(["lab1"], {"TANGO_HOST": host})
            self.assertIn(f"TANGO_HOST={host} is not a Tango database", err)
            err = self.one_line(["--tango", "--tango-instance", "lab1"], {"TANGO_HOST": host})
            self.assertIn("is not a Tango database", err)
        finally:
            stop.set()
            thread.join()
            server.close()

        folder = tempfile.mkdtemp(prefix="orvane-tango-file-")
        try:
            missing = os.path.join(folder, "missing.db")
            err = self.one_line(["lab1", f"-file={missing}", "--tango-port", str(free_port())])
            self.assertIn(f"the Tango database file {missing} cannot be read", err)
            other = os.path.join(folder, "other.db")
            with open(other, "w") as f:
                f.write('TangoTest/test/DEVICE/TangoTest: "sys/tg_test/1"\n')
            err = self.one_line(["lab1", f"-file={other}", "--tango-port", str(free_port())])
            self.assertIn("add the line: orvane/lab1/DEVICE/OrvaneSpectrograph: lab1/spectrograph/1, "
                          "lab1/spectrograph/2", err)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

        # Tango's standard arguments are checked as the console's are: the usage, status 2.
        for args in (["lab1", "-nodb"], ["lab1", "-dlist", "a/b/c"], ["lab1", "-nodb", "-dlist", "a/b", "--tango-port",
                                                                       "10000"], ["lab1", "-v9"]):
            code, err = run_console(args)
            self.assertEqual(code, 2, (args, err))
            self.assertIn("Usage: orvane", err)


class FileDatabase(unittest.TestCase):
    """Tango's standard start with a database file: the lab's path that needs no database server."""

    def test_standard_start_from_a_database_file(self):
        folder = tempfile.mkdtemp(prefix="orvane-tango-filedb-")
        path = os.path.join(folder, "orvane.db")
        content = ("# The console's devices for Tango's file database\n"
                   'orvane/lab1/DEVICE/OrvaneSpectrograph: "lab1/spectrograph/left", "lab1/spectrograph/right"\n')
        with open(path, "w") as f:
            f.write(content)
        names = [f"tango://127.0.0.1:{{port}}/lab1/spectrograph/{side}#dbase=no" for side in ("left", "right")]
        console = Console(tango_args=["lab1", "-v4", f"-file={path}", "-ORBendPoint", "giop:tcp:127.0.0.1:{port}"],
                          device_names=names)
        try:
            left = console.device(1)
            self.assertEqual(left.info().server_id, "orvane/lab1")
            self.assertFalse(console.device(2).Enabled)
            states = Events(left, "State")
            wavelength = Events(left, "Wavelength")
            left.Connect()
            self.assertTrue(states.wait_for(tango.DevState.ON))
            # Past the time a lost heartbeat ends a subscription.
            time.sleep(25)
            left.write_attribute("Wavelength", 600.0)
            self.assertTrue(wavelength.wait_for(600.0), wavelength.seen())
            self.assertEqual(states.seen_errors() + wavelength.seen_errors(), [])
            self.assertEqual(len(states.seen()), len(set(r[1] for r in states.seen_records())))
            states.close()
            wavelength.close()
            # Taurus names a device that no database serves with its own scheme.
            seen = taurus_attributes(f"tango-nodb://127.0.0.1:{console.port}/lab1/spectrograph/left/", "Wavelength")
            self.assertEqual(seen["Wavelength"]["magnitude"], 600.0)
        finally:
            code = console.close()
        self.assertEqual(code, 0, console.errors())
        # Tango's trace shows the clients' commands and the states they led to.
        trace = console.output()
        self.assertIn("INFO lab1/spectrograph/left Connect: taken", trace)
        self.assertIn("DEBUG lab1/spectrograph/left State ON, ", trace)
        # Tango rewrites the file in its own layout; the devices are still there for the next start, with the
        # range of gratings the controller had.
        with open(path) as f:
            kept = f.read()
        self.assertIn('orvane/lab1/DEVICE/OrvaneSpectrograph: "lab1/spectrograph/left",', kept)
        self.assertIn('lab1/spectrograph/left/Grating->max_value: 2', kept)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(console.dir, ignore_errors=True)


if __name__ == "__main__":
    if not CONSOLE or not SIM:
        sys.exit("ORVANE_CONSOLE and ORVANE_SIM must name the console and the simulator")
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)

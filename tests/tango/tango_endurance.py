#!/usr/bin/python3
"""The console's Tango devices for an hour on the README's default path (no database, --tango-port): the
README's script run again and again, a monitor subscribed to every attribute, and a Taurus form of every
attribute, against the controller simulator. Not part of the test command; prints the figures at the end.

  tango_endurance.py CONSOLE SIM [MINUTES]     (default 60)
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import tango

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tango_device_test import ATTRIBUTES, Events, TaurusForm, free_port, readme_script, wait_until  # noqa: E402


def memory(pid):
    """(resident kB, threads, descriptors) of a process."""
    rss = threads = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    return rss, threads, len(os.listdir(f"/proc/{pid}/fd"))


def main():
    console_path, sim_path = sys.argv[1], sys.argv[2]
    minutes = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    folder = tempfile.mkdtemp(prefix="orvane-tango-hour-")
    ports = os.path.join(folder, "ports")
    sim = subprocess.Popen([sim_path, "--port-dir", ports], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_until(lambda: os.path.exists(os.path.join(ports, "COM5")), 10)
    port = free_port()
    env = dict(os.environ, ORVANE_PORT_DIR=ports, XDG_STATE_HOME=os.path.join(folder, "state"),
               QT_QPA_PLATFORM="offscreen")
    env.pop("TANGO_HOST", None)
    err = open(os.path.join(folder, "console.err"), "w")
    console = subprocess.Popen([console_path, "--tango-port", str(port)], env=env, stdout=subprocess.DEVNULL,
                               stderr=err)
    device = tango.DeviceProxy(f"tango://127.0.0.1:{port}/orvane/spectrograph/1#dbase=no")
    wait_until(lambda: _answers(device), 30, 0.2)
    monitors = {name: Events(device, name) for name in ["State", "Status", *ATTRIBUTES]}
    archives = {name: Events(device, name, tango.EventType.ARCHIVE_EVENT)
                for name in ("Wavelength", "State", "ScanPoint")}
    form = TaurusForm(f"tango-nodb://127.0.0.1:{port}/orvane/spectrograph/1/", folder)
    script = readme_script(port)
    samples = [memory(console.pid)]
    runs = failures = 0
    failed_outputs = []
    end = time.monotonic() + minutes * 60
    next_sample = time.monotonic() + 60
    stop = threading.Event()

    def sampler():
        nonlocal next_sample
        while not stop.wait(5):
            if time.monotonic() >= next_sample and console.poll() is None:
                samples.append(memory(console.pid))
                next_sample += 60

    thread = threading.Thread(target=sampler)
    thread.start()
    while time.monotonic() < end and console.poll() is None:
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=600)
        runs += 1
        if done.returncode != 0:
            failures += 1
            failed_outputs.append(done.stdout[-500:] + done.stderr[-1500:])
    stop.set()
    thread.join()
    alive = console.poll() is None
    form_alive = form.alive()
    shown, log = form.finish()
    samples.append(memory(console.pid) if alive else (0, 0, 0))
    console.send_signal(signal.SIGTERM)
    code = console.wait(30)
    sim.terminate()
    sim.wait(10)
    err.close()

    print(f"minutes: {minutes:g}; README script runs: {runs}, failed: {failures}")
    print(f"console alive at the end: {alive}; exit status after SIGTERM: {code}")
    print(f"Taurus form alive at the end: {form_alive}; API_EventTimeout in its log: "
          f"{log.count('API_EventTimeout')}; its Wavelength: {shown.get('Wavelength')}")
    total = errors = 0
    for name, e in {**monitors, **{"archive " + n: a for n, a in archives.items()}}.items():
        values, errs = e.seen(), e.seen_errors()
        total += len(values)
        errors += len(errs)
        print(f"  {name:20s} events {len(values):7d}  errors {len(errs)}")
    print(f"monitor events: {total}, error events: {errors}")
    rss = [s[0] for s in samples]
    print(f"console resident memory kB: start {rss[0]}, end {rss[-1]}, max {max(rss)}; "
          f"threads {samples[0][1]} -> {samples[-1][1]}; descriptors {samples[0][2]} -> {samples[-1][2]}")
    with open(os.path.join(folder, "console.err")) as f:
        stderr = f.read()
    print(f"console stderr lines: {len(stderr.splitlines())}")
    for out in failed_outputs[:3]:
        print("--- a failed run:\n" + out)
    for e in monitors.values():
        e.close()
    for a in archives.values():
        a.close()
    shutil.rmtree(folder, ignore_errors=True)
    return 0 if alive and form_alive and failures == 0 and errors == 0 else 1


def _answers(device):
    try:
        device.ping()
        return True
    except tango.DevFailed:
        return False


if __name__ == "__main__":
    sys.exit(main())

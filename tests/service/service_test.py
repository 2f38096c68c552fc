"""softplc as a service, through its real interfaces: the notification protocol on a Unix datagram
socket that the test opens itself (NOTIFY_SOCKET, WATCHDOG_USEC; no service manager needed), a run
until stopped that SIGTERM ends, the task watchdog with the fixture module whose cycle takes longer
on demand (CCodePublic_slow: ExtIn1 milliseconds while ExtIn8 is TRUE), the journal's priority
prefixes, and configuration files as `run --config` and `config-check` take them.

    service_test.py SOFTPLC SLOW_MODULE SYMBOLS [unittest arguments]
"""
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "softplc"))
from live_run import LiveRun  # noqa: E402

SOFTPLC = SLOW = SYMBOLS = None


class NotifySocket:
    """The service manager's end of the protocol: a datagram socket in a folder of the test's, and
    every message that arrives on it with its time."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "notify")
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(self.path)
        self.socket.settimeout(0.2)
        self.messages = []   # (monotonic time, text)
        self._ending = False
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        while not self._ending:
            try:
                data = self.socket.recv(4096)
            except socket.timeout:
                continue
            self.messages.append((time.monotonic(), data.decode()))

    def wait_for(self, pattern, after=0.0, seconds=10.0):
        """The first message since `after` that matches `pattern`, waited for."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for at, text in list(self.messages):
                if at >= after and re.search(pattern, text):
                    return at, text
            time.sleep(0.02)
        raise AssertionError(f"no message like {pattern!r} in {seconds}s: {self.messages}")

    def pings(self, start, end):
        return [at for at, text in list(self.messages) if start <= at <= end and text == "WATCHDOG=1"]

    def close(self):
        self._ending = True
        self._reader.join(2)
        self.socket.close()


def put(port, name, value):
    """Writes a variable through the web view; answered once the write was applied between cycles."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        connection.request("PUT", f"/api/variables/{name}", body=json.dumps({"value": value}),
                           headers={"Content-Type": "application/json"})
        response = connection.getresponse()
        assert response.status == 200, (response.status, response.read())
        response.read()
    finally:
        connection.close()


def run(*args, env=None, timeout=60):
    done = subprocess.run([SOFTPLC, *args], capture_output=True, text=True, env=env, timeout=timeout)
    return done.returncode, done.stdout, done.stderr


class Notify(unittest.TestCase):
    def test_ready_status_watchdog_and_stopping(self):
        """READY once the first cycle ran, pings at half the watchdog interval while cycles keep
        their deadlines and none while a cycle is held long, STATUS every few seconds, STOPPING on
        the way out; the run had no limit, and SIGTERM ends it with status 0 and a whole trace."""
        with tempfile.TemporaryDirectory() as folder:
            manager = NotifySocket(folder)
            env = dict(os.environ, NOTIFY_SOCKET=manager.path, WATCHDOG_USEC="400000")
            trace = os.path.join(folder, "run.csv")
            plc = LiveRun([SOFTPLC], [SLOW, "--symbols", SYMBOLS, "--realtime", "--period", "10ms",
                                      "--set", "ExtIn1=1500", "--trace", trace],
                          "--http", str, "web view on ", env=env)
            try:
                ready, text = manager.wait_for(r"^READY=1\n")
                # The module records one error, in its first cycle, as every run of it does.
                self.assertRegex(text, r"^READY=1\nSTATUS=1 cycle, start jitter p99 \S+, errors in 1 cycle "
                                       r"\(error 140 \(REAL division by zero\) first in cycle 0\)$")
                self.assertEqual([m for at, m in manager.messages if at < ready], [])
                time.sleep(1.0)
                self.assertGreaterEqual(len(manager.pings(ready, ready + 1.0)), 3)

                # Every cycle now takes 1.5 s: no deadline is kept, and the pings stop.
                put(plc.port, "ExtIn8", True)
                held = time.monotonic()
                time.sleep(2.5)
                self.assertEqual(manager.pings(held, held + 2.5), [])
                put(plc.port, "ExtIn8", False)
                resumed = time.monotonic()
                manager.wait_for(r"^WATCHDOG=1$", after=resumed, seconds=2)

                _, status = manager.wait_for(r"^STATUS=", after=ready + 1, seconds=8)
                self.assertRegex(status, r"^STATUS=\d+ cycles, start jitter p99 \S+, errors in 1 cycle ")
            finally:
                status = plc.stop(signal.SIGTERM)
                manager.close()
            self.assertEqual(status, 0, plc.output)
            cycles = int(re.search(r"stopped by SIGTERM after (\d+) cycles", plc.err).group(1))
            self.assertIn(f"ran {cycles} cycles every 0.01s (real-time clock)", plc.out)
            self.assertTrue(any(m.startswith("STOPPING=1\n") for _, m in manager.messages), manager.messages)
            with open(trace) as rows:
                self.assertEqual(len(rows.readlines()), cycles + 1)

    def test_nothing_without_a_notify_socket(self):
        """The manager's variables mean nothing without NOTIFY_SOCKET; a simulated clock still needs a
        limit when nothing paces it."""
        env = {k: v for k, v in os.environ.items() if k != "NOTIFY_SOCKET"}
        env["WATCHDOG_USEC"] = "1000"
        status, out, err = run("run", "--cycles", "3", env=env)
        self.assertEqual((status, err), (0, ""))
        status, _, err = run("run", "--period", "10ms")
        self.assertEqual(status, 2)
        self.assertIn("softplc: run needs --cycles N or --duration TIME (a run until stopped needs --realtime", err)


def ms(duration):
    """A duration as softplc prints it ("41.2ms", "1.203s", "812us"), in milliseconds."""
    number, unit = re.fullmatch(r"([\d.]+)(us|ms|s)", duration).groups()
    return float(number) * {"us": 0.001, "ms": 1, "s": 1000}[unit]


class Watchdog(unittest.TestCase):
    """A cycle of the fixture takes ExtIn1 ms at least (more on a busy machine): durations are
    checked against that floor."""

    def slow(self, *args):
        return run("run", SLOW, "--symbols", SYMBOLS, "--set", "ExtIn8=TRUE", *args)

    def test_stop_ends_the_run_with_its_own_status(self):
        with tempfile.TemporaryDirectory() as folder:
            trace = os.path.join(folder, "t.csv")
            status, out, err = self.slow("--set", "ExtIn1=40", "--cycles", "20", "--watchdog", "10ms",
                                         "--trace", trace)
            self.assertEqual(status, 5, err)
            # The watching thread may have told of the cycle while it ran (next test).
            took = re.search(r"softplc: watchdog: cycle 0 took (\S+), longer than 10ms; stopping the run\n"
                             r"softplc: the task watchdog stopped the run after cycle 0, which took (\S+) "
                             r"\(watchdog 10ms\)\n$", err)
            self.assertTrue(took, err)
            self.assertEqual(took.group(1), took.group(2))
            self.assertGreaterEqual(ms(took.group(1)), 40)
            self.assertIn("ran 1 cycle every 0.01s (simulated clock)", out)
            self.assertIn(f"watchdog 10ms: 1 cycle took longer, the longest cycle 0 ({took.group(1)})", out)
            with open(trace) as rows:
                self.assertEqual(len(rows.readlines()), 2)

    def test_report_goes_on(self):
        status, out, err = self.slow("--set", "ExtIn1=20", "--cycles", "5", "--watchdog", "5ms",
                                     "--watchdog-action", "report")
        self.assertEqual(status, 0, err)
        self.assertIn("ran 5 cycles", out)
        longest = re.search(r"watchdog 5ms: 5 cycles took longer, the longest cycle \d \((\S+)\)", out)
        self.assertTrue(longest, out)
        self.assertGreaterEqual(ms(longest.group(1)), 20)
        # One message a second at most, from either thread; the cycles between are counted into the
        # next one.
        self.assertEqual(len(re.findall(r"softplc: watchdog: cycle", err)), 1, err)

    def test_a_cycle_that_does_not_return_is_told_while_it_runs(self):
        status, out, err = self.slow("--set", "ExtIn1=1200", "--cycles", "3", "--watchdog", "100ms")
        self.assertEqual(status, 5, err)
        lines = err.splitlines()
        running = re.fullmatch(r"softplc: watchdog: cycle 0 has run for (\S+), longer than 100ms, "
                               r"and has not returned yet; the run stops when it returns", lines[0])
        self.assertTrue(running, err)
        self.assertGreater(ms(running.group(1)), 100)
        self.assertLess(ms(running.group(1)), 1200)
        took = re.fullmatch(r"softplc: watchdog: cycle 0 took (\S+), longer than 100ms; stopping the run", lines[1])
        self.assertTrue(took, err)
        self.assertGreaterEqual(ms(took.group(1)), 1200)


class Journal(unittest.TestCase):
    def run_with_stderr(self, args, journal):
        """softplc's standard error a pipe; JOURNAL_STREAM names it when `journal`, another stream
        otherwise."""
        read, write = os.pipe()
        stat = os.fstat(write if journal else 0)
        env = dict(os.environ, JOURNAL_STREAM=f"{stat.st_dev}:{stat.st_ino}")
        process = subprocess.Popen([SOFTPLC, *args], stdout=subprocess.DEVNULL, stderr=write, env=env)
        os.close(write)
        with os.fdopen(read) as err:
            text = err.read()
        return process.wait(), text

    def test_levels_only_in_the_journal(self):
        args = ["run", "--cycles", "2", "--set", "NoSuchVariable=1"]
        status, plain = self.run_with_stderr(args, journal=False)
        self.assertEqual(status, 2)
        self.assertTrue(plain.startswith("softplc: unknown variable"), plain)
        status, journal = self.run_with_stderr(args, journal=True)
        self.assertEqual(status, 2)
        # Every line carries a level: the failure <3>, the line that continues it too.
        lines = journal.splitlines()
        self.assertGreaterEqual(len(lines), 2, journal)
        self.assertTrue(lines[0].startswith("<3>softplc: unknown variable"), journal)
        self.assertTrue(all(line.startswith("<3>") for line in lines), journal)
        status, journal = self.run_with_stderr(["run", SLOW, "--cycles", "2", "--set", "ExtIn8=TRUE", "--set",
                                                "ExtIn1=5", "--symbols", SYMBOLS, "--watchdog", "1ms",
                                                "--watchdog-action", "report"], journal=True)
        self.assertEqual(status, 0, journal)
        self.assertTrue(journal.startswith("<4>softplc: watchdog: cycle 0 "), journal)


class Config(unittest.TestCase):
    def test_check_and_run_with_the_command_lines_options_first(self):
        with tempfile.TemporaryDirectory() as folder:
            config = os.path.join(folder, "line1.yaml")
            with open(config, "w") as f:
                f.write("duration: 50ms\nperiod: 10ms\nset:\n  IntRampEnable: TRUE\ntrace: line1.csv\n")
            status, out, err = run("config-check", config)
            self.assertEqual((status, err), (0, ""))
            self.assertEqual(out, f"{config}: valid\nduration: 50ms\nperiod: 10ms\nset: IntRampEnable=TRUE\n"
                                  f"trace: {folder}/line1.csv\nthe run: for 50ms, every 10ms on the simulated clock\n")
            status, out, err = run("run", "--config", config, "--cycles", "2")
            self.assertEqual(status, 0, err)
            self.assertIn("ran 2 cycles", out)
            self.assertIn("IntRampEnable = TRUE", out)
            self.assertTrue(os.path.exists(os.path.join(folder, "line1.csv")))

            with open(config, "a") as f:
                f.write("modbus-idle-timout: 5s\n")
            for command in (["config-check", config], ["run", "--config", config]):
                status, out, err = run(*command)
                self.assertEqual(status, 2)
                self.assertEqual(err.splitlines()[0], f"softplc: {config}:6:1: unknown key 'modbus-idle-timout' in the "
                                                      "configuration; did you mean modbus-idle-timeout?")


def main():
    global SOFTPLC, SLOW, SYMBOLS
    SOFTPLC, SLOW, SYMBOLS = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)


if __name__ == "__main__":
    main()

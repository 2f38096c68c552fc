"""`softplc run` serving a live channel (--modbus or --http) on a free loopback port, for the tests
of those channels: starts it, waits until it says it serves, collects what it prints, and ends it
however a test ends (the signal given, then SIGKILL)."""

import signal
import socket
import subprocess
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LiveRun:
    """`command VERB ARGS OPTION ADDRESS` (VERB: run, or debug with `stdin` a pipe for its commands; `env`
    its environment when not this one's),
    up to `attempts` times on a new port while another program takes the port between the look and
    the bind. `.banner` is the line that says it serves; after
    stop() or wait(), `.out` and `.err` hold all it printed, `.output` both."""

    def __init__(self, command, args, option, address, ready, attempts=3, timeout=15, verb="run", stdin=None,
                 env=None):
        self.command = command if isinstance(command, list) else [command]   # ["wine", "softplc.exe"] too
        self.process = None
        self.banner = ""
        self.out = self.err = self.output = ""
        for _ in range(attempts):
            self.port = free_port()
            self.process = subprocess.Popen(
                [*self.command, verb, *args, option, address(self.port)],
                stdin=stdin or subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
            if self._wait_ready(ready, timeout):
                return
            self.stop()
            if "cannot listen" not in self.err:
                break
        raise AssertionError("softplc did not start serving:\n" + self.output)

    def _wait_ready(self, ready, timeout):
        # Threads read what softplc prints, so that the pipes never fill while the tests run.
        started = threading.Event()
        self._out, self._err = [], []

        def read(stream, lines):
            for line in stream:
                lines.append(line)
                if ready in line and not started.is_set():
                    self.banner = line
                    started.set()
        self._readers = [threading.Thread(target=read, args=(self.process.stdout, self._out), daemon=True),
                         threading.Thread(target=read, args=(self.process.stderr, self._err), daemon=True)]
        for reader in self._readers:
            reader.start()
        deadline = time.monotonic() + timeout
        while not started.wait(0.1) and time.monotonic() < deadline and self.process.poll() is None:
            pass
        return started.is_set()

    def _finish(self, timeout):
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for reader in self._readers:
            reader.join(5)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if stream is not None:
                stream.close()
        self.out, self.err = "".join(self._out), "".join(self._err)
        self.output = self.out + self.err
        status, self.process = self.process.returncode, None
        return status

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Ends the run (SIGTERM and SIGINT end it after the cycle in progress); its exit status."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(sig)
        return self._finish(timeout)

    def wait(self, timeout):
        """Waits for the run to end by itself; its exit status."""
        return self._finish(timeout)

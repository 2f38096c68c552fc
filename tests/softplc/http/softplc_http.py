"""softplc run --http on a free loopback port, for the web view's tests: starts it, talks to it
with the standard library's HTTP client, and ends it (SIGTERM, then SIGKILL) however a test ends."""

import http.client
import json
import signal
import socket
import subprocess
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Softplc:
    def __init__(self, exe, *args, duration="60s"):
        self.command = exe if isinstance(exe, list) else [exe]   # ["wine", "softplc.exe"] too
        self.args = list(args)
        self.duration = duration
        self.process = None
        self.port = None
        self.output = ""

    def __enter__(self):
        for _ in range(3):   # another program may take the port between the look and the bind
            self.port = free_port()
            self.process = subprocess.Popen(
                [*self.command, "run", "--duration", self.duration, "--http", str(self.port), *self.args],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            if self._wait_listening():
                return self
            self.stop()
            if "cannot listen" not in self.output:
                break
        raise RuntimeError("softplc did not start its web view:\n" + self.output)

    def __exit__(self, *failure):
        self.stop()

    def _wait_listening(self, timeout=15):
        # A thread reads what softplc prints, so that the pipe never fills while the tests run.
        listening = threading.Event()
        lines = []

        def read(stream):
            for line in stream:
                lines.append(line)
                if line.startswith("web view on "):
                    listening.set()
        self._readers = [threading.Thread(target=read, args=(s,), daemon=True)
                         for s in (self.process.stdout, self.process.stderr)]
        self._lines = lines
        for reader in self._readers:
            reader.start()
        deadline = time.monotonic() + timeout
        while not listening.wait(0.1) and time.monotonic() < deadline and self.process.poll() is None:
            pass
        return listening.is_set()

    def _finish(self, timeout):
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for reader in self._readers:
            reader.join(5)
        self.process.stdout.close()
        self.process.stderr.close()
        self.output = "".join(self._lines)
        status, self.process = self.process.returncode, None
        return status

    def stop(self):
        """Ends the run (as Ctrl-C would) and gives its exit status; the output is in .output."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        return self._finish(15)

    def wait(self, timeout):
        """Waits for the run to end by itself; its exit status."""
        return self._finish(timeout)

    def connection(self, timeout=10):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None):
        """(status, answer as JSON) of one request; a dict or list body goes as JSON."""
        headers = dict(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
            headers.setdefault("Content-Type", "application/json")
        connection = self.connection()
        try:
            connection.request(method, path, body=body, headers=headers)
            response = connection.getresponse()
            data = response.read()
            kind = response.getheader("Content-Type", "")
            return response.status, (json.loads(data) if kind.startswith("application/json") else data)
        finally:
            connection.close()

    def get(self, path):
        status, answer = self.request("GET", path)
        if status != 200:
            raise AssertionError(f"GET {path}: {status} {answer}")
        return answer

    def events(self, path, count=None, seconds=None):
        """The data of the server-sent events of a stream: `count` of them or those of `seconds`."""
        connection = self.connection()
        try:
            connection.request("GET", path)
            response = connection.getresponse()
            if response.status != 200:
                raise AssertionError(f"GET {path}: {response.status} {response.read()}")
            events, kind, deadline = [], "message", time.monotonic() + (seconds or 10)
            while time.monotonic() < deadline and (count is None or len(events) < count):
                line = response.readline().decode()
                if not line:
                    break
                if line.startswith("event: "):
                    kind = line[7:].strip()
                elif line.startswith("data: "):
                    events.append((kind, json.loads(line[6:])))
                    kind = "message"
            return events
        finally:
            connection.close()

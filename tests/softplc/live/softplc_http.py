"""softplc run --http on a free loopback port, for the web view's tests: started and ended by
live_run.LiveRun, talked to with the standard library's HTTP client."""

import http.client
import json
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from live_run import LiveRun  # noqa: E402


class Softplc(LiveRun):
    def __init__(self, exe, *args, duration="60s"):
        super().__init__(exe, ["--duration", duration, *args], "--http", str, "web view on ")

    def __enter__(self):
        return self

    def __exit__(self, *failure):
        self.stop()

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

    def send_raw(self, data, timeout=5):
        """(status, headers, answer as JSON) of the bytes `data` sent as they are on a new
        connection; its end of sending is shut once they are sent."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as sock:
            try:
                sock.sendall(data)
                sock.shutdown(socket.SHUT_WR)
            except OSError:   # refused before it was all sent: the answer is there all the same
                pass
            return read_answer(sock)

    def rss_kib(self):
        """The process's resident memory."""
        with open(f"/proc/{self.process.pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))

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


def read_answer(sock):
    """(status, headers with lower-case names, body as JSON) of one answer read from `sock`."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise AssertionError(f"the connection ended before an answer: {data!r}")
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode().split("\r\n")
    headers = dict((name.lower(), value.strip()) for name, value in (line.split(":", 1) for line in lines[1:]))
    while len(body) < int(headers.get("content-length", 0)):
        chunk = sock.recv(65536)
        if not chunk:
            break
        body += chunk
    return int(lines[0].split()[1]), headers, json.loads(body) if body else None

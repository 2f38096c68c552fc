"""The real 32-bit softplc under a race checker (Valgrind's DRD, or Helgrind): a short live session
on loopback, every thread of the host busy at once, and not one report that the suppression file
does not explain.

    race_check.py SOFTPLC NEXT_MODULE SUPPRESSIONS [--tool drd|helgrind] [--requests N] [--keep-log]

The session: `softplc run --modbus --http` (paced simulated clock), Modbus clients reading every
table and writing registers and coils, web clients reading variables and the status, writing,
forcing and releasing, two event streams, and an online change to NEXT_MODULE through the web
view, all at once; then SIGTERM ends the run. Each client makes N requests (bounded in count and
time). The check fails when the checker reports an error, when a client got a wrong answer, or
when the run did not end cleanly.

DRD is the default: the Helgrind of Debian's Valgrind 3.19 stops on an assertion of its own in a
thread join of this host.
"""
import argparse
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

from pymodbus.client import ModbusTcpClient

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "softplc"))
from live_run import LiveRun, free_port  # noqa: E402

CLIENT_TIMEOUT = 60   # s; a request under the checker takes far longer than without it
EXIT_INTERRUPTED = 4  # softplc ended by a signal, having stopped cleanly


class Failures:
    """What the clients found wrong, from any of their threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.found = []

    def add(self, text):
        with self.lock:
            self.found.append(text)

    def guard(self, name, body):
        def run():
            try:
                body()
            except Exception as e:   # a client's failure is reported, not lost in its thread
                self.add(f"{name}: {type(e).__name__}: {e}")
        return threading.Thread(target=run, name=name)


def http_request(port, method, path, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_TIMEOUT)
    try:
        headers = {"Content-Type": "application/json"} if body is not None else {}
        connection.request(method, path, body=None if body is None else json.dumps(body), headers=headers)
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def expect_ok(method, path, status, data):
    if status != 200:
        raise AssertionError(f"{method} {path}: {status} {data[:200]!r}")


def web_reader(port, requests):
    for i in range(requests):
        for path in ("/api/variables", "/api/status", "/api/variables/IntRampOut"):
            status, data = http_request(port, "GET", path)
            expect_ok("GET", path, status, data)


def web_writer(port, requests):
    for i in range(requests):
        calls = [("PUT", "/api/variables/ExtIn1", {"value": i}),
                 ("PUT", "/api/forces/ExtIn2", {"value": -i}),
                 ("DELETE", "/api/forces/ExtIn2", None)]
        for method, path, body in calls:
            status, data = http_request(port, method, path, body)
            expect_ok(method, path, status, data)


def web_stream(port, events):
    """Reads `events` data events of one event stream, then hangs up."""
    with socket.create_connection(("127.0.0.1", port), timeout=CLIENT_TIMEOUT) as sock:
        sock.sendall(f"GET /api/stream?rate=20 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        seen = b""
        while seen.count(b"\ndata: ") < events:
            chunk = sock.recv(4096)
            if not chunk:
                raise AssertionError(f"the stream ended after {seen.count(b'data: ')} events: {seen[:200]!r}")
            seen += chunk
            if not b"HTTP/1.1 200".startswith(seen[:12]):
                raise AssertionError(f"stream: {seen[:200]!r}")


def online_change(port, module):
    status, data = http_request(port, "POST", "/api/online-change", {"module": module})
    expect_ok("POST", "/api/online-change", status, data)
    if not json.loads(data).get("changed"):
        raise AssertionError(f"online change: {data!r}")


def modbus_client(port, requests, unit):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=CLIENT_TIMEOUT)
    if not client.connect():
        raise AssertionError("modbus: cannot connect")
    try:
        for i in range(requests):
            answers = [client.read_input_registers(0, 8), client.read_holding_registers(0, 8),
                       client.read_coils(0, 7), client.read_discrete_inputs(0, 5),
                       client.write_register(3 + unit, i), client.write_coil(5 + unit, i % 2 == 0)]
            for answer in answers:
                if answer.isError():
                    raise AssertionError(f"modbus: {answer}")
    finally:
        client.close()


def reported_contexts(log):
    """The checker's count of error contexts (None when its summary is missing: it did not end
    normally)."""
    found = re.findall(r"ERROR SUMMARY: \d+ errors from (\d+) contexts", log)
    return int(found[-1]) if found else None


def host_frames(lines):
    """The functions of the host in a stack of the log, innermost first, with their lines."""
    frames = [re.sub(r"^.*?0x[0-9A-F]+: ", "", line) for line in lines]
    return [frame for frame in frames if frame.startswith("softplc::")]


def loader_artefacts(log):
    """The reports of DRD against the online change's loader thread while the system's dynamic
    loader maps the new module (the other segment starts in prepare_module, after the module's
    private copy is made, and ends inside ld.so's dlopen). The accesses DRD pairs there with the
    channels' and the cycle's own fresh heap blocks (a session's reader made that moment, a
    growing vector, a request's shared state) are to addresses that the loader had in an earlier
    life: ld.so maps and unmaps the module file's pages and its own memory through paths whose
    release DRD does not see, so their old accesses stay on the addresses that the heap hands out
    again. The loader thread shares nothing with the channels but through the change queue's
    mutex. Valgrind's suppressions match the stack of the access, not of the other segment, so
    these are recognised here, by that segment only. Gives how many contexts (reports) they are:
    DRD prints each context once."""
    contexts = 0
    for block in re.split(r"^==\d+== (?=Conflicting (?:load|store) by thread)", log, flags=re.M)[1:]:
        block = re.split(r"^==\d+== (?:Thread \d+:|ERROR SUMMARY)", block, flags=re.M)[0]
        _, _, other = block.partition("Other segment start")
        start, _, end = other.partition("Other segment end")
        if "softplc::prepare_module" in start and "ld-linux" in end:
            contexts += 1
    return contexts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("softplc")
    parser.add_argument("next_module")
    parser.add_argument("suppressions")
    parser.add_argument("--tool", choices=("helgrind", "drd"), default="drd")
    parser.add_argument("--checker-option", action="append", default=[],
                        help="one more option for valgrind (e.g. --gen-suppressions=all)")
    parser.add_argument("--requests", type=int, default=5)
    parser.add_argument("--keep-log", action="store_true", help="print the checker's whole log")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        log_path = os.path.join(folder, "checker.log")
        checker = ["valgrind", f"--tool={args.tool}", f"--suppressions={args.suppressions}",
                   f"--log-file={log_path}", "--num-callers=30", *args.checker_option]
        if args.tool == "helgrind":
            checker.append("--history-level=approx")
        modbus_port = free_port()
        run = LiveRun(checker + [args.softplc], ["--duration", "600s", "--period", "10ms",
                                                 "--modbus", f"127.0.0.1:{modbus_port}"],
                      "--http", str, "web view on ", timeout=120)
        failures = Failures()
        started = time.monotonic()
        try:
            clients = [failures.guard("web reader", lambda: web_reader(run.port, args.requests)),
                       failures.guard("web writer", lambda: web_writer(run.port, args.requests)),
                       failures.guard("stream 1", lambda: web_stream(run.port, 3)),
                       failures.guard("stream 2", lambda: web_stream(run.port, 3))]
            clients.append(failures.guard("online change", lambda: online_change(run.port, args.next_module)))
            clients += [failures.guard(f"modbus {unit}", lambda unit=unit: modbus_client(modbus_port, args.requests, unit))
                        for unit in (0, 1)]
            for client in clients:
                client.start()
            for client in clients:
                client.join(4 * CLIENT_TIMEOUT)
                if client.is_alive():
                    failures.add(f"{client.name}: no answer within {4 * CLIENT_TIMEOUT} s")
        finally:
            status = run.stop(signal.SIGTERM, timeout=120)
        took = time.monotonic() - started
        with open(log_path, errors="replace") as f:
            log = f.read()

    contexts = reported_contexts(log)
    fresh = loader_artefacts(log) if args.tool == "drd" else 0
    errors = None if contexts is None else contexts - fresh
    if args.keep_log or errors != 0 or failures.found:
        print(log)
    print(run.out)
    print(run.err, file=sys.stderr)
    print(f"{args.tool}: {errors} unsuppressed error contexts (besides {fresh} against the dynamic loader of the online change) "
          f"in a session of {took:.1f} s; softplc exited with {status}")
    for failure in failures.found:
        print("client failure:", failure)
    if errors != 0 or failures.found or status != EXIT_INTERRUPTED:
        return 1
    if "online change from CCodePublic" not in run.out:
        print("the run did not tell of the online change")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

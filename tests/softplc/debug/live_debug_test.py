"""softplc debug serving the web view and Modbus while it steps, on loopback only: a cycle held at
a breakpoint holds the exchange (clients read the values of the last cycle's end; a write is queued,
not applied), and the write is there at that cycle's end.

    live_debug_test.py SOFTPLC
"""
import http.client
import json
import os
import subprocess
import sys
import time
import unittest

from pymodbus.client import ModbusTcpClient

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from live_run import LiveRun, free_port  # noqa: E402

SOFTPLC = None


class Debugger(LiveRun):
    """`softplc debug --http PORT ARGS`, its commands written to its standard input."""

    def __init__(self, *args):
        super().__init__(SOFTPLC, list(args), "--http", str, "web view on ", verb="debug", stdin=subprocess.PIPE)

    def send(self, *commands):
        self.process.stdin.write("".join(command + "\n" for command in commands))
        self.process.stdin.flush()

    def wait_for(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while text not in "".join(self._out):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise AssertionError(f"no '{text}' in:\n" + "".join(self._out) + "".join(self._err))
            time.sleep(0.05)

    def request(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            headers = {"Content-Type": "application/json"} if body is not None else {}
            connection.request(method, path, body=json.dumps(body) if body is not None else None, headers=headers)
            response = connection.getresponse()
            return response.status, json.loads(response.read())
        finally:
            connection.close()


class HeldCycle(unittest.TestCase):
    def test_a_write_waits_for_the_held_cycle_and_is_there_at_its_end(self):
        modbus = free_port()
        debugger = Debugger("--modbus", f"127.0.0.1:{modbus}", "--force", "ExtIn5=9")
        try:
            debugger.wait_for("serving Modbus TCP")
            debugger.send("break Ramp_Int", "continue")
            debugger.wait_for("stopped: cycle 0, enter(6) 14 Ramp_Int at IntRamp (260)")
            # Held: the web view reads the values published before the cycle; the write is queued
            # (504 once the API stops waiting for it) and the program does not see it.
            self.assertEqual(debugger.request("GET", "/api/variables/ExtIn11")[1]["value"], 0)
            held = debugger.request("GET", "/api/status")[1]["held"]
            self.assertEqual((held["cycle"], held["line"], held["block"], held["instance"], held["statement"]),
                             (0, 143, "Ramp_Int", "IntRamp", "FUNCTION_BLOCK Ramp_Int"), held)
            status, answer = debugger.request("PUT", "/api/variables/ExtIn11", {"value": -7})
            self.assertEqual(status, 504, answer)
            self.assertIn("stays queued", answer["error"])
            client = ModbusTcpClient("127.0.0.1", port=modbus, timeout=5)
            self.assertTrue(client.connect())
            self.assertEqual(client.read_holding_registers(5, count=2).registers, [0, 9])   # ExtIn11, ExtIn5 forced
            debugger.send("print ExtIn11", "delete", "cycle", "print ExtIn11")
            debugger.wait_for("end of cycle 0 (t=0s)")
            debugger.wait_for("(softplc) print ExtIn11\nExtIn11 = -7\n")
            self.assertEqual(client.read_holding_registers(5, count=1).registers, [0x10000 - 7])
            held = debugger.request("GET", "/api/status")[1]["held"]   # between two cycles, at the prompt
            self.assertEqual((held["cycle"], held["line"], held["event"]), (1, 0, "before cycle 1"), held)
            client.close()
            debugger.send("quit")
            self.assertEqual(debugger.wait(20), 0, debugger.output)
        finally:
            debugger.stop()
        transcript = debugger.out
        held = transcript.index("stopped: cycle 0")
        self.assertIn("(softplc) print ExtIn11\nExtIn11 = 0\n", transcript[held:])
        self.assertIn("forced: ExtIn5 = 9\n", transcript)
        self.assertIn("modbus: 2 requests (2 reads, 0 writes) from 1 client", transcript)


if __name__ == "__main__":
    SOFTPLC = sys.argv.pop(1)
    unittest.main()

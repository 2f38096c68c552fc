"""softplc's Modbus server as an HMI sees it, through a client that is not ours (pymodbus), on
loopback only: the ramps climbing, a coil that enables the REAL ramp, a forced output read back
forced, exceptions for what the map does not allow, malformed frames and clients that vanish
mid-request, the client limit and the idle timeout, and the report at the end.

    modbus_test.py SOFTPLC            the functional tests
    modbus_test.py SOFTPLC --load LOADCLIENT MAP REQUESTS
                                      the load test: LOADCLIENT (libmodbus, 8 clients) against a
                                      real-time run with MAP, REQUESTS requests per client
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from pymodbus.client import ModbusTcpClient

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from live_run import LiveRun  # noqa: E402

SOFTPLC = None


class Softplc(LiveRun):
    """A `softplc run --modbus` on a free loopback port, ended with SIGINT (or by itself)."""

    def __init__(self, *args):
        super().__init__(SOFTPLC, list(args), "--modbus", lambda port: f"127.0.0.1:{port}", "serving Modbus TCP",
                         attempts=5)

    def client(self):
        client = ModbusTcpClient("127.0.0.1", port=self.port, timeout=5)
        assert client.connect()
        return client

    def raw(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=5)

    def resources(self):
        """The process's open descriptors and threads."""
        pid = self.process.pid
        return len(os.listdir(f"/proc/{pid}/fd")), len(os.listdir(f"/proc/{pid}/task"))

    def stop(self):
        """Ends the run; gives its exit status and what it printed."""
        status = super().stop(signal.SIGINT)
        return status, self.out, self.err


def real(registers):
    return struct.unpack(">f", struct.pack(">HH", *registers))[0]


def exception_code(response):
    return response.exception_code if response.isError() else None


def frame(transaction, pdu, unit=1, length=None):
    """A Modbus TCP frame: the MBAP header and the PDU."""
    return struct.pack(">HHHB", transaction, 0, len(pdu) + 1 if length is None else length, unit) + pdu


def closed_by_server(sock, timeout=5):
    sock.settimeout(timeout)
    try:
        return sock.recv(300) == b""
    except ConnectionResetError:
        return True


class ModbusServer(unittest.TestCase):
    """One run serves all these tests: the INT ramp enabled from the start, LagOut forced."""

    @classmethod
    def setUpClass(cls):
        cls.plc = Softplc("--duration", "120s", "--set", "IntRampEnable=TRUE", "--force", "LagOut=42.5")
        cls.hmi = cls.plc.client()

    @classmethod
    def tearDownClass(cls):
        cls.hmi.close()
        status, out, err = cls.plc.stop()
        # What the tests above did, as the report at the end counts it.
        assert status == 4, err
        assert "forced: LagOut = 42.5" in out, out
        assert "modbus: 7 exceptions (2 illegal function, 4 illegal data address, 1 illegal data value)" in out, out
        assert "modbus: connections: 3 closed on a malformed frame, 1 cut off in mid-request" in out, out

    def wait_for(self, read, condition, seconds=5.0):
        deadline = time.monotonic() + seconds
        value = read()
        while not condition(value) and time.monotonic() < deadline:
            time.sleep(0.05)
            value = read()
        return value

    def test_the_int_ramp_climbs_while_it_runs(self):
        first = self.hmi.read_input_registers(2, 1, slave=1).registers[0]   # IntRampOut
        later = self.wait_for(lambda: self.hmi.read_input_registers(2, 1, slave=1).registers[0],
                              lambda v: v >= first + 2)
        self.assertGreaterEqual(later, first + 2)
        self.assertTrue(self.hmi.read_coils(1, 1, slave=1).bits[0])   # IntRampEnable, set on the command line

    def test_writing_its_coil_enables_the_real_ramp(self):
        self.assertFalse(self.hmi.write_coil(3, True, slave=1).isError())   # RealRampEnable
        self.assertTrue(self.hmi.read_coils(3, 1, slave=1).bits[0])
        ramp = lambda: real(self.hmi.read_input_registers(3, 2, slave=1).registers)   # RealRampOut
        first = self.wait_for(ramp, lambda v: v > 0.0)
        self.assertGreater(first, 0.0)
        self.assertGreater(self.wait_for(ramp, lambda v: v > first + 0.5), first + 0.5)

    def test_a_forced_output_reads_back_forced(self):
        for _ in range(5):
            self.assertEqual(self.hmi.read_input_registers(0, 2, slave=1).registers, [0x422A, 0x0000])   # 42.5
            time.sleep(0.03)

    def test_a_write_of_several_registers_lands_whole(self):
        # LagIn = 50.0 and ExtIn1 = -3 in one request; the reply comes once both are applied.
        self.assertFalse(self.hmi.write_registers(0, [0x4248, 0x0000, 0xFFFD], slave=1).isError())
        self.assertEqual(self.hmi.read_holding_registers(0, 3, slave=1).registers, [0x4248, 0x0000, 0xFFFD])

    def test_what_the_map_does_not_allow_gets_an_exception(self):
        cases = [
            ("a holding register beyond the map", lambda c: c.write_register(100, 1, slave=1), 2),
            ("one word of the REAL LagIn", lambda c: c.write_register(0, 0x4248, slave=1), 2),
            ("a coil beyond the map", lambda c: c.write_coil(7, True, slave=1), 2),
            ("a read running past the map", lambda c: c.read_holding_registers(6, 3, slave=1), 2),
            ("too many registers", lambda c: c.read_input_registers(0, 126, slave=1), 3),
        ]
        for what, request, code in cases:
            with self.subTest(what):
                self.assertEqual(exception_code(request(self.hmi)), code)
        # A function we do not serve (read device identification), with bytes after it.
        with self.plc.raw() as sock:
            sock.sendall(frame(7, bytes([0x2B, 0x0E, 0x01, 0x00])))
            self.assertEqual(sock.recv(100), struct.pack(">HHHBBB", 7, 0, 3, 1, 0xAB, 1))
            sock.sendall(frame(8, bytes([0x04, 0, 2, 0, 1])))   # the stream is still in step
            self.assertEqual(sock.recv(100)[:9], struct.pack(">HHHBBB", 8, 0, 5, 1, 0x04, 2))
            # A function code with the exception bit set already keeps it in the exception reply.
            sock.sendall(frame(9, bytes([0x80]), unit=7))
            self.assertEqual(sock.recv(100), struct.pack(">HHHBBB", 9, 0, 3, 7, 0x80, 1))

    def test_bad_frames_and_vanishing_clients_leave_the_server_serving(self):
        before = self.plc.resources()
        bad = [
            ("not Modbus at all", b"GET / HTTP/1.0\r\n\r\n"),
            ("an oversized frame", frame(1, bytes(300), length=301)),
            ("a header with no PDU", frame(1, b"", length=1)),
        ]
        for what, data in bad:
            with self.subTest(what), self.plc.raw() as sock:
                sock.sendall(data)
                self.assertTrue(closed_by_server(sock))
        # Half a request, then gone; a write whose reply nobody reads, then gone.
        with self.plc.raw() as sock:
            sock.sendall(frame(1, bytes([0x03, 0, 0, 0, 2]))[:9])
        with self.plc.raw() as sock:
            sock.sendall(frame(2, bytes([0x06, 0, 4, 0, 12])))   # ExtIn4 = 12
        self.assertEqual(self.hmi.read_input_registers(0, 2, slave=1).registers, [0x422A, 0x0000])
        # Their sockets closed, their threads gone.
        self.assertEqual(self.wait_for(self.plc.resources, lambda now: now == before), before)


class ModbusLimits(unittest.TestCase):
    def test_read_only_client_limit_and_idle_timeout(self):
        plc = Softplc("--duration", "60s", "--modbus-read-only", "--modbus-max-clients", "2",
                      "--modbus-idle-timeout", "500ms")
        try:
            self.assertIn("up to 2 clients, read-only", plc.banner)
            first, second = plc.client(), plc.client()
            self.assertEqual(exception_code(first.write_coil(1, True, slave=1)), 1)
            self.assertFalse(second.read_coils(0, 7, slave=1).isError())
            with plc.raw() as third:
                self.assertTrue(closed_by_server(third))
            for idle in (first, second):   # closed by the server once idle for 500 ms
                self.assertTrue(closed_by_server(idle.socket))
            with plc.raw() as fourth:   # room again
                fourth.sendall(frame(3, bytes([0x01, 0, 1, 0, 1])))
                self.assertEqual(fourth.recv(100), struct.pack(">HHHBBBB", 3, 0, 4, 1, 1, 1, 0))
            first.close()
            second.close()
        finally:
            status, out, err = plc.stop()
        self.assertEqual(status, 4, err)
        self.assertIn("modbus: 3 requests (2 reads, 1 write) from 3 clients, at most 2 at once", out)
        self.assertIn("1 refused (limit 2), 2 closed idle", out)

    def test_an_address_in_use_is_refused_clearly(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            run = subprocess.run([SOFTPLC, "run", "--cycles", "10", "--modbus", str(port)],
                                 capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 1)
        self.assertIn(f"softplc: --modbus: cannot listen on 127.0.0.1:{port}: Address already in use", run.stderr)

    def test_a_bad_map_is_refused_before_the_first_cycle(self):
        with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False) as f:
            f.write("name,table,address,count,type,access\nLagIn,holding_register,0,1,REAL,read\nNope,coil,0,1,BOOL,read\n")
        try:
            run = subprocess.run([SOFTPLC, "run", "--cycles", "10", "--modbus", "1", "--modbus-map", f.name],
                                 capture_output=True, text=True, timeout=30)
        finally:
            os.unlink(f.name)
        self.assertEqual(run.returncode, 1)
        self.assertIn(f"{f.name}:2: LagIn (REAL) takes 2 registers, not 1", run.stderr)
        self.assertIn(f"{f.name}:3: unknown variable 'Nope'", run.stderr)
        self.assertNotIn("ran ", run.stdout)


def load_test(client, map_file, requests):
    """8 clients of libmodbus against a real-time run; prints the figures of both sides."""
    plc = Softplc("--realtime", "--duration", "100s", "--period", "10ms", "--set", "RealRampEnable=TRUE",
                  "--modbus-map", map_file)
    try:
        load = subprocess.run([client, str(plc.port), "8", str(requests)], capture_output=True, text=True,
                              timeout=90)
    finally:
        status, out, err = plc.stop()
    print(load.stdout, end="")
    print(load.stderr, end="", file=sys.stderr)
    print(out, end="")
    if status != 4:
        print(f"softplc ended with status {status}: {err}", file=sys.stderr)
        return 1
    return load.returncode


if __name__ == "__main__":
    SOFTPLC = sys.argv[1]
    if len(sys.argv) == 6 and sys.argv[2] == "--load":
        sys.exit(load_test(sys.argv[3], sys.argv[4], int(sys.argv[5])))
    unittest.main(argv=[sys.argv[0], "-v"])

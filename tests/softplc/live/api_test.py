"""The web view's JSON API, through an ordinary HTTP client, on a softplc run of the ramps module.

usage: api_test.py SOFTPLC
       api_test.py --wine WINDOWS_BIN_DIR   (the Windows build under Wine: it serves and takes writes;
                                             exit 77, skipped, without that build or Wine)"""

import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

from softplc_http import Softplc, read_answer

EXE = None


def wait_for(probe, seconds=5.0):
    """The first truthy result of probe() within `seconds`, or the last one."""
    deadline = time.monotonic() + seconds
    result = probe()
    while not result and time.monotonic() < deadline:
        time.sleep(0.05)
        result = probe()
    return result


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.plc = Softplc(EXE).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.plc.stop()

    def value(self, name):
        return self.plc.get("/api/variables/" + name)["value"]

    def test_module_and_variables(self):
        module = self.plc.get("/api/module")
        self.assertEqual(module["name"], "CCodePublic")
        self.assertEqual(module["codeVersion"], "2010-07-28 15:10:27")
        self.assertEqual(module["ticksPerSecond"], 1193182)
        self.assertEqual(module["entryPoints"], [
            {"name": "KX_PI_Program_Control", "dataSize": 896, "layoutSignature": 1280344227}])
        self.assertEqual((module["clock"], module["period"], module["periodNs"]), ("simulated", "T#10ms", 10000000))

        program = self.plc.get("/api/variables")
        self.assertEqual(len(program), 25)
        self.assertEqual(program[0], {"name": "LagIn", "type": "REAL", "direction": "input", "value": 102.6,
                                      "forced": False})
        self.assertEqual(len(self.plc.get("/api/variables?all=1")), 191)
        for name, expected in [("ExtIn4", {"name": "ExtIn4", "type": "INT", "direction": "input", "value": 12,
                                           "forced": False}),
                               ("extin5", {"name": "ExtIn5", "type": "INT", "direction": "input", "value": 5,
                                           "forced": False}),
                               ("@30:INT", {"name": "ExtIn6", "type": "INT", "direction": "input", "value": 1,
                                            "forced": False}),
                               ("LagFilter.Clock.PT", {"name": "LagFilter.Clock.PT", "type": "TIME",
                                                       "direction": "internal", "value": "T#1000000d",
                                                       "forced": False})]:
            with self.subTest(name=name):
                self.assertEqual(self.plc.get("/api/variables/" + name), expected)

    def test_a_written_input_takes_effect(self):
        self.assertEqual(self.plc.request("PUT", "/api/variables/ExtIn11", {"value": -7}),
                         (200, {"name": "ExtIn11", "type": "INT", "direction": "input", "value": -7, "forced": False}))
        self.assertEqual(self.plc.request("PUT", "/api/variables/ExtIn8", {"value": "true"})[1]["value"], True)
        self.assertEqual(self.plc.request("PUT", "/api/variables/ExtIn2", {"value": "16#10"})[1]["value"], 16)
        # The largest REAL reads as 3.4028235e+38, which is a little above it and still that float.
        for value in (3.4028235e38, -3.4028235e38, 102.6):
            self.assertEqual(self.plc.request("PUT", "/api/variables/LagIn", {"value": value})[1]["value"], value)
            self.assertEqual(self.value("LagIn"), value)
        # The program copies the inputs into its blocks: a ramp enabled from outside starts to run.
        status, enabled = self.plc.request("PUT", "/api/variables/RealRampEnable", {"value": True})
        self.assertEqual((status, enabled["value"]), (200, True))
        self.assertTrue(wait_for(lambda: self.value("RealRampOut") > 0), "RealRampOut did not move")
        self.assertTrue(wait_for(lambda: self.value("Ext1.In11") == -7), "Ext1.In11 did not follow ExtIn11")
        self.assertEqual(self.value("Ext1.In2"), 16)

    def test_listing_and_held(self):
        listing = self.plc.get("/api/listing")
        self.assertEqual((listing["file"], listing["lines"], len(listing["text"])), ("CCodePublic.st", 358, 358))
        self.assertEqual(listing["text"][191], "    StartReal := INT_TO_REAL(Start);")
        blocks = {block["name"]: (block["typeId"], block["line"], block["endLine"], block["instances"])
                  for block in listing["blocks"]}
        self.assertEqual(list(blocks), ["Program_Control", "Lag_PT1", "Ramp_Int", "Ramp_Real", "Blink_Pulse", "Ext_Block"])
        self.assertEqual(blocks["Program_Control"], (3, 5, 70, [{"name": "", "offset": 0}]))
        self.assertEqual(blocks["Ramp_Int"], (14, 143, 224, [{"name": "IntRamp", "offset": 260}]))
        for step in [{"line": 192, "column": 5, "endLine": 192, "endColumn": 36, "block": 14, "kinds": [1, 6]},
                     {"line": 47, "column": 5, "endLine": 47, "endColumn": 28, "block": 3, "kinds": []}]:
            self.assertIn(step, listing["steps"])
        # Nothing holds the cycles of a run.
        status = self.plc.get("/api/status")
        self.assertEqual((status["held"], status["codeVersion"]), (None, "2010-07-28 15:10:27"))
        self.assertIsNone(self.plc.events("/api/stream?vars=ExtIn1", count=1)[0][1]["held"])

    def test_refused_requests(self):
        json = {"Content-Type": "application/json"}
        cases = [
            # method, path, body, headers, status, part of the message
            ("PUT", "/api/variables/LagOut", {"value": 5}, {}, 409, "LagOut is an output"),
            ("PUT", "/api/variables/IntRamp.Out", {"value": 5}, {}, 409, "field of a block instance"),
            ("PUT", "/api/variables/NoSuchThing", {"value": 5}, {}, 404, "unknown variable 'NoSuchThing'"),
            ("GET", "/api/variables/IntRamp", None, {}, 404, "'IntRamp' is a block instance"),
            ("GET", "/api/variables/@900:INT", None, {}, 404, "beyond the data area (896 bytes)"),
            ("PUT", "/api/variables/ExtIn1", '{"value": 1', json, 400, "not valid JSON"),
            ("PUT", "/api/variables/ExtIn1", {"val": 1}, {}, 400, 'a JSON object {"value": V}'),
            ("PUT", "/api/variables/ExtIn1", {"value": 40000}, {}, 400, "40000 does not fit INT: out of range"),
            ("PUT", "/api/variables/ExtIn1", {"value": 2.5}, {}, 400, "2.5 does not fit INT: not an integer"),
            ("PUT", "/api/variables/ExtIn1", {"value": True}, {}, 400, "a boolean is for BOOL only"),
            ("PUT", "/api/variables/ExtIn1", {"value": [1]}, {}, 400, "a JSON number, a boolean or a string"),
            ("PUT", "/api/variables/IntRampReset", {"value": 2}, {}, 400, "BOOL is true, false, 1 or 0"),
            ("PUT", "/api/variables/LagIn", {"value": 1e39}, {}, 400, "beyond the range of a float"),
            ("PUT", "/api/variables/ExtIn1", "1", {"Content-Type": "text/plain"}, 415, "Content-Type: application/json"),
            ("PUT", "/api/variables/ExtIn1", '{"value": "' + "1" * 5000 + '"}', json, 413, "larger than 4096 bytes"),
            ("GET", "/../../etc/passwd", None, {}, 404, "no such page file"),
            ("GET", "/api/nothing", None, {}, 404, "no such resource: GET /api/nothing"),
            ("POST", "/api/variables/ExtIn1", {"value": 1}, {}, 404, "no such resource: POST"),
            ("GET", "/api/stream?rate=0", None, {}, 400, "rate is a whole number of updates per second"),
            ("GET", "/api/stream?vars=ExtIn1,Nope", None, {}, 404, "unknown variable 'Nope'"),
            ("PUT", "/api/variables/ExtIn1", '{"value": 1}', {"Content-Type": "application/jsonx"}, 415,
             "Content-Type: application/json"),
            ("GET", "/api/module", None, {"Host": "attacker.example:80"}, 403, "answers requests for 127.0.0.1:"),
            # Names that a page of another site may point at this machine (DNS rebinding).
            ("GET", "/api/module", None, {"Host": "127.0.0.1.rebind.attacker.example:80"}, 403, "answers requests"),
            ("GET", "/api/module", None, {"Host": "127.evil.example"}, 403, "answers requests"),
            ("GET", "/api/module", None, {"Host": "[::1].evil.example"}, 403, "answers requests"),
            ("GET", "/api/module", None, {"Host": "127.0.0.256"}, 403, "answers requests"),
            ("GET", "/api/module", None, {"Host": "localhost.evil.example:80"}, 403, "answers requests"),
        ]
        for method, path, body, headers, status, message in cases:
            with self.subTest(method=method, path=path, body=body):
                got, answer = self.plc.request(method, path, body, headers)
                self.assertEqual(got, status, answer)
                self.assertIn(message, answer["error"])
        self.assertEqual(self.value("ExtIn1"), 0)   # nothing refused was written

    def test_forcing_and_release(self):
        forced = {"name": "IntRampOut", "type": "INT", "direction": "output", "value": 42, "forced": True}
        self.assertEqual(self.plc.request("PUT", "/api/forces/IntRampOut", {"value": 42}), (200, forced))
        time.sleep(0.1)   # cycles run; the program writes IntRampOut in each, the force wins
        self.assertEqual(self.plc.get("/api/variables/IntRampOut"), forced)
        self.assertIn({"name": "IntRampOut", "type": "INT", "value": 42}, self.plc.get("/api/status")["forces"])
        status, time_forced = self.plc.request("PUT", "/api/forces/IntRamp.Period", {"value": "T#1.5s"})
        self.assertEqual((status, time_forced["value"], time_forced["forced"]), (200, "T#1s500ms", True))

        status, released = self.plc.request("DELETE", "/api/forces/IntRampOut")
        self.assertEqual((status, released["forced"]), (200, False))
        self.assertEqual(self.plc.request("DELETE", "/api/forces/IntRamp.Period")[0], 200)
        self.assertEqual(self.plc.request("DELETE", "/api/forces/IntRampOut"),
                         (409, {"error": "IntRampOut is not forced"}))
        self.assertTrue(wait_for(lambda: self.value("IntRampOut") != 42), "the program did not take IntRampOut back")
        self.assertEqual(self.plc.get("/api/status")["forces"], [])

    def test_stream_delivers_thinned_updates(self):
        events = self.plc.events("/api/stream?vars=IntRampOut,BlinkQ,LagFilter.Clock.PT&rate=5", seconds=1.5)
        self.assertGreaterEqual(len(events), 5)
        self.assertLessEqual(len(events), 10)   # 5 a second: the first at once, then one every 200 ms
        cycles = [data["cycles"] for _, data in events]
        self.assertEqual(cycles, sorted(set(cycles)))
        self.assertGreaterEqual(cycles[-1] - cycles[0], 15 * (len(cycles) - 1))   # cycles of 10 ms left out
        for kind, data in events:
            self.assertEqual(kind, "message")
            self.assertEqual(sorted(data["values"]), ["BlinkQ", "IntRampOut", "LagFilter.Clock.PT"])
            self.assertEqual(data["values"]["LagFilter.Clock.PT"], "T#1000000d")
            self.assertAlmostEqual(data["time"], (data["cycles"] - 1) * 0.01, places=6)

    def test_a_stalled_subscriber_never_delays_the_cycles(self):
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.connect(("127.0.0.1", self.plc.port))
        stalled.sendall(b"GET /api/stream?all=1&rate=100 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        try:
            others = []
            listener = threading.Thread(target=lambda: others.extend(
                self.plc.events("/api/stream?vars=IntRampOut&rate=50", seconds=2.5)))
            listener.start()
            status = self.plc.get("/api/status")
            first = status["cycles"]
            self.assertEqual(list(status["statistics"]["execution"]), ["count", "minNs", "meanNs", "p99Ns", "p999Ns", "maxNs"])
            time.sleep(2.5)   # the stalled one reads nothing; its updates pile up, then are dropped
            last = self.plc.get("/api/status")["cycles"]
            listener.join()
            self.assertGreaterEqual(last - first, 200)   # 250 due in 2.5 s at 10 ms
            self.assertGreaterEqual(len(others), 50)    # the other subscriber went on
        finally:
            stalled.close()

    def test_connections_beyond_the_limit_get_503(self):
        idle = [socket.create_connection(("127.0.0.1", self.plc.port)) for _ in range(64)]
        try:
            time.sleep(0.2)
            status, headers, answer = self.plc.send_raw(b"GET /api/module HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", timeout=2)
            self.assertEqual((status, answer), (503, {"error": "too many connections (at most 64 at once)"}))
            self.assertEqual(headers["retry-after"], "1")
        finally:
            for s in idle:
                s.close()
        self.assertTrue(wait_for(lambda: self.plc.request("GET", "/api/module")[0] == 200))


class OnlineChange(unittest.TestCase):
    def test_a_module_replaced_through_the_api_keeps_the_values(self):
        folder = os.path.dirname(os.path.abspath(EXE))
        with Softplc(EXE, "--set", "RealRampEnable=TRUE") as plc:
            self.assertTrue(wait_for(lambda: plc.get("/api/variables/RealRampOut")["value"] > 0.2))
            status, change = plc.request("POST", "/api/online-change",
                                         {"module": os.path.join(folder, "CCodePublic_next.so")})
            self.assertEqual(status, 200, change)
            self.assertEqual((change["from"], change["to"], change["toLayout"]),
                             ("CCodePublic", "CCodePublic_next", "0x4C5080DF"))
            self.assertEqual(plc.get("/api/module")["name"], "CCodePublic_next")
            # The program view reads the new module's listing; the status says that the module changed.
            self.assertEqual(plc.get("/api/listing")["file"], "CCodePublic_next.st")
            self.assertEqual(plc.get("/api/status")["codeVersion"], change["codeVersion"])
            # The ramp goes on from where it was.
            self.assertGreater(plc.get("/api/variables/RealRampOut")["value"], 0.2)
            for body, status, message in [
                    ({"module": os.path.join(folder, "gone.so")}, 409, "not found"),
                    ({"module": os.path.join(folder, "CCodePublic_next.so")}, 409, "the running one"),
                    ({"path": "x"}, 400, "{\"module\": \"PATH\"}")]:
                with self.subTest(body=body):
                    got, answer = plc.request("POST", "/api/online-change", body)
                    self.assertEqual(got, status, answer)
                    self.assertIn(message, answer["error"])
        self.assertIn("online change from CCodePublic (layout 0x4C5080A3) to CCodePublic_next", plc.output)


class Access(unittest.TestCase):
    def test_token_and_read_only(self):
        write = ("PUT", "/api/variables/ExtIn2", {"value": 3})
        with Softplc(EXE, "--http-token", "s3cret") as plc:
            for headers, status, message in [
                    ({}, 401, "this write needs the token"),
                    ({"Authorization": "Bearer wrong"}, 403, "wrong token"),
                    ({"Authorization": "Basic s3cret"}, 403, "wrong token"),
                    ({"Authorization": "Bearer s3cret"}, 200, None),
                    ({"Authorization": "bearer  s3cret"}, 200, None)]:
                with self.subTest(headers=headers):
                    got, answer = plc.request(*write, headers)
                    self.assertEqual(got, status, answer)
                    if message:
                        self.assertIn(message, answer["error"])
            self.assertEqual(plc.get("/api/module")["access"], {"readOnly": False, "tokenRequired": True})
        with Softplc(EXE, "--http-read-only", duration="2s") as plc:
            for method, path, body in [write, ("PUT", "/api/forces/ExtIn2", {"value": 3}),
                                       ("DELETE", "/api/forces/ExtIn2", None),
                                       ("POST", "/api/online-change", {"module": EXE})]:
                self.assertEqual(plc.request(method, path, body),
                                 (403, {"error": "the web view is read-only (--http-read-only)"}))
            self.assertEqual(plc.get("/api/variables/ExtIn2")["value"], 0)
            # The run ends by itself: its streams get an end event, and the report counts the requests.
            events = plc.events("/api/stream?vars=ExtIn2", seconds=6)
            self.assertEqual(events[-1], ("end", {"reason": "the run has ended"}))
            self.assertEqual(plc.wait(10), 0)
            self.assertIn("web view: 6 requests (0 writes, 0 forces and releases, 4 refusals), 1 event stream\n", plc.output)


class HostileClients(unittest.TestCase):
    """Clients that break the rules, on raw sockets: each is refused on its own, at once or at its
    deadline, and nobody else waits for it."""

    @classmethod
    def setUpClass(cls):
        cls.plc = Softplc(EXE).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.plc.stop()
        assert "web view: connections: 16 timed out in mid-request\n" in cls.plc.output, cls.plc.output

    def test_requests_refused_before_they_are_whole(self):
        get = b"GET /api/status HTTP/1.1\r\n"
        put = b"PUT /api/variables/ExtIn1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        chunks = b"".join(b"3e8\r\n" + b" " * 1000 + b"\r\n" for _ in range(8)) + b"0\r\n\r\n"
        fields = b"".join(b"X-%d: 1\r\n" % i for i in range(101))
        port = str(self.plc.port).encode()
        cases = [
            # what is sent, status, part of the message
            (get + b"Host: 127.0.0.1\r\nHost: attacker.example\r\n\r\n", 400, "more than one Host"),
            (get + b"\r\n", 400, "needs a Host header"),
            (put + b"Content-Length: 12\r\nContent-Length: 13\r\n\r\n" + b'{"value": 1}', 400, "Content-Length"),
            (put + b"Content-Length: 12\r\nContent-Length: 12\r\n\r\n" + b'{"value": 1}', 400, "Content-Length"),
            (put + b"Content-Length: -1\r\n\r\n", 400, "Content-Length is not a number"),
            (put + b"Content-Length: 1e20\r\n\r\n", 400, "Content-Length is not a number"),
            (put + b"Content-Length: 99999999999999999999999\r\n\r\n", 400, "Content-Length"),
            (put + b"Transfer-Encoding: gzip\r\n\r\n", 400, "Transfer-Encoding is chunked alone"),
            (put + b"Transfer-Encoding: chunked\r\n\r\n" + chunks, 413, "larger than 4096 bytes"),
            (put + b"Content-Length: 5000\r\n\r\n", 413, "larger than 4096 bytes"),
            (get + b"Host: 127.0.0.1\r\n" + fields + b"\r\n", 431, "more than 100 fields"),
            (get + b"Host: 127.0.0.1\r\n" + fields * 3, 431, "more than 100 fields"),   # and no end in sight
            (get + b"Host: 127.0.0.1\r\nX: " + b"a" * 40000 + b"\r\n\r\n", 431, "at most 32 KiB"),
            (b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 414, "longer than 8192 bytes"),
            (b"GET http://127.0.0.1/api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400, "must be a path"),
            (b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1.rebind.attacker.example:" + port + b"\r\n\r\n", 403,
             "answers requests for 127.0.0.1:"),
            # What a browser on this machine sends is served, and a chunked body within the limit too.
            (get + b"Host: 127.0.0.1:" + port + b"\r\n\r\n", 200, None),
            (get + b"Host: LOCALHOST:" + port + b"\r\n\r\n", 200, None),
            (get + b"Host: [::1]:" + port + b"\r\n\r\n", 200, None),
            (get + b"Host: 127.1.2.3\r\n\r\n", 200, None),
            (b"GET /api/status HTTP/1.0\r\n\r\n", 200, None),
            (put + b"Transfer-Encoding: chunked\r\n\r\n5\r\n{\"val\r\n8\r\nue\": 12}\r\n0\r\n\r\n", 200, None),
        ]
        for data, status, message in cases:
            with self.subTest(data=data[:90]):
                got, _, answer = self.plc.send_raw(data)
                self.assertEqual(got, status, answer)
                if message:
                    self.assertIn(message, answer["error"])
        self.assertEqual(self.plc.get("/api/variables/ExtIn1")["value"], 12)   # only the last write was made

    def test_a_header_flood_gets_431_and_the_process_stays_small(self):
        before = self.plc.rss_kib()
        answers = []

        def flood():
            line = b"X: " + b"a" * 1000 + b"\r\n"
            answers.append(self.plc.send_raw(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + line * 512, timeout=10)[0])
        floods = [threading.Thread(target=flood) for _ in range(6)]
        for thread in floods:
            thread.start()
        for thread in floods:
            thread.join(20)
        self.assertEqual(answers, [431] * 6)
        self.assertLess(self.plc.rss_kib() - before, 16 * 1024)   # 3 MB sent: none of it kept
        self.assertEqual(self.plc.request("GET", "/api/status")[0], 200)

    def test_trickling_clients_hold_nobody_up_and_get_408(self):
        request = b"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        tricklers = [socket.create_connection(("127.0.0.1", self.plc.port)) for _ in range(16)]
        answers = {}
        try:
            # One byte a second from each, until it is answered; meanwhile another client is answered
            # at once (a connection timeout of 2 s, where the tricklers take 5 s).
            for second in range(10):
                for trickler in tricklers:
                    if trickler not in answers:
                        trickler.send(request[second:second + 1])
                connection = self.plc.connection(timeout=2)
                connection.request("GET", "/api/status")
                self.assertEqual(connection.getresponse().status, 200)
                connection.close()
                ready, _, _ = select.select([t for t in tricklers if t not in answers], [], [], 1.0)
                for trickler in ready:
                    answers[trickler] = read_answer(trickler)
                if len(answers) == len(tricklers):
                    break
            self.assertEqual(sorted(status for status, _, _ in answers.values()), [408] * 16)
            self.assertIn("did not arrive whole within 5 s", next(iter(answers.values()))[2]["error"])
            self.assertLessEqual(second, 7)   # the deadline counts from the first byte, not the last
        finally:
            for trickler in tricklers:
                trickler.close()


class Ending(unittest.TestCase):
    def test_a_second_run_on_the_same_port_is_refused(self):
        with Softplc(EXE) as first:
            second = subprocess.run([EXE, "run", "--cycles", "10", "--http", str(first.port)],
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(first.request("GET", "/api/status")[0], 200)
        self.assertEqual(second.returncode, 1, second.stderr)
        self.assertIn(f"softplc: --http: cannot listen on 127.0.0.1:{first.port}: Address already in use",
                      second.stderr)

    def test_sigterm_during_a_trickle_ends_the_run_at_once(self):
        plc = Softplc(EXE)
        with socket.create_connection(("127.0.0.1", plc.port)) as trickler:
            trickler.send(b"GET /api/st")
            time.sleep(0.3)
            signalled = time.monotonic()
            status = plc.stop(signal.SIGTERM, timeout=20)
            ended = time.monotonic() - signalled
        self.assertEqual(status, 4, plc.output)
        self.assertLess(ended, 3.0)   # a trickling client held the run 37 s once
        self.assertIn("web view: 0 requests", plc.output)


class Wine(unittest.TestCase):
    def test_the_windows_build_serves(self):
        with Softplc(EXE, "--set", "IntRampEnable=TRUE", duration="20s") as plc:
            self.assertEqual(plc.get("/api/module")["entryPoints"][0]["name"], "KX_PI_Program_Control")
            self.assertEqual(plc.request("PUT", "/api/variables/ExtIn1", {"value": 77})[1]["value"], 77)
            self.assertTrue(wait_for(lambda: plc.get("/api/variables/Ext1.In1")["value"] == 77))
            self.assertEqual(len(plc.events("/api/stream?vars=IntRampOut&rate=10", count=3)), 3)
            self.assertIn(b"<!DOCTYPE html>", plc.request("GET", "/")[1])
            listing = plc.get("/api/listing")   # the listing's text read beside softplc.exe, CRLF or not
            self.assertEqual((len(listing["text"]), listing["text"][191]), (358, "    StartReal := INT_TO_REAL(Start);"))
            # Its sockets: the limits hold, and the port is its own.
            self.assertEqual(plc.request("GET", "/api/module", headers={"Host": "127.evil.example"})[0], 403)
            chunks = b"".join(b"3e8\r\n" + b" " * 1000 + b"\r\n" for _ in range(8)) + b"0\r\n\r\n"
            self.assertEqual(plc.send_raw(b"PUT /api/variables/ExtIn1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                          b"Transfer-Encoding: chunked\r\n\r\n" + chunks)[0], 413)
            second = subprocess.run([*EXE, "run", "--cycles", "10", "--http", str(plc.port)],
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(second.returncode, 1, second.stderr)
            self.assertIn(f"--http: cannot listen on 127.0.0.1:{plc.port}: Address already in use", second.stderr)


def windows_build(folder):
    """wine and the Windows softplc, or exit 77 (a failure where test.sh asks for that build)."""
    reason = None
    if not os.path.isfile(os.path.join(folder, "softplc.exe")):
        reason = "no Windows build in " + folder
    elif shutil.which("wine") is None:
        reason = "wine is not installed"
    if reason:
        print(("FAIL: " if os.environ.get("KX_REQUIRE_WINDOWS") else "skipped: ") + reason)
        sys.exit(1 if os.environ.get("KX_REQUIRE_WINDOWS") else 77)
    os.environ["WINEDEBUG"] = "-all"
    return ["wine", os.path.join(folder, "softplc.exe")]


if __name__ == "__main__":
    if sys.argv[1] == "--wine":
        EXE = windows_build(sys.argv[2])
        sys.argv[1:] = ["Wine"]
    else:
        EXE = sys.argv.pop(1)
        sys.argv[1:] = sys.argv[1:] or ["Api", "Access", "HostileClients", "Ending"]
    unittest.main(verbosity=2)

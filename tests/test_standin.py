"""The stand-in daemon and the harness behave as the other tests rely on."""

import hashlib
import hmac
import http.client
import json
import os
import re
import socket
import stat
import subprocess
import threading
import time
import unittest

from support import harness
from support import standin
from support.standin import VERSION, Reply, StandInDaemon

TOKEN = "0123456789abcdef0123456789abcdef"


def connect(port, timeout=3.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    return s


def read_all(sock):
    out = b""
    while True:
        data = sock.recv(65536)
        if not data:
            return out
        out += data


def read_until(sock, marker):
    out = b""
    while marker not in out:
        data = sock.recv(65536)
        if not data:
            break
        out += data
    return out


def exchange(port, data):
    """Sends bytes on a fresh connection and reads until the daemon closes."""
    with connect(port) as s:
        s.sendall(data)
        return read_all(s)


def curl(*args):
    return subprocess.run(["curl", "-sS", "--max-time", "5", *args], capture_output=True, check=True).stdout


class DaemonTest(unittest.TestCase):
    def setUp(self):
        self.daemon = StandInDaemon(token=TOKEN)
        self.addCleanup(self.daemon.close)
        self.port = self.daemon.port

    def tearDown(self):
        self.assertEqual(self.daemon.handler_errors, [])


class ProofTest(DaemonTest):
    def test_known_vectors(self):
        # Computed with `openssl dgst -sha256 -hmac`; the second key is longer
        # than a block and is hashed first.
        cases = [
            (TOKEN, 4827, "00112233445566778899aabbccddeeff",
             "3a23f4812807fb6a533fb53800add3599ea2384dbca60ab6715a86b18202c19e"),
            ("k" * 65, 65535, "feedfacefeedfacefeedfacefeedface",
             "1cb924dfa529252a5d4f3b7371a78aefb76f680e91df90533edc155799807d8f"),
        ]
        for token, port, nonce, want in cases:
            with self.subTest(port=port):
                self.assertEqual(standin.proof_hex(token, port, nonce), want)

    def health(self, query="?nonce=abc123"):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        conn.request("GET", "/api/health" + query)
        resp = conn.getresponse()
        body = json.loads(resp.read())
        conn.close()
        return resp.status, body

    def test_health_proves_with_the_token(self):
        out = json.loads(curl(f"http://127.0.0.1:{self.port}/api/health?nonce=abc123"))
        want = hmac.new(TOKEN.encode(), f"mossbank daemon proof v1\n{self.port}\nabc123".encode(),
                        hashlib.sha256).hexdigest()
        self.assertEqual(out, {"app": "mossbank", "api": 211, "version": VERSION, "proof": want})
        self.assertEqual(self.daemon.wait_request("/api/health").params(), {"nonce": "abc123"})

    def test_proof_switches(self):
        right = standin.proof_hex(TOKEN, self.port, "abc123")
        for mode, check in [
            ("upper", lambda p: self.assertEqual(p, right.upper())),
            ("wrong", lambda p: (self.assertNotEqual(p, right), self.assertRegex(p, r"^[0-9a-f]{64}$"))),
            ("none", lambda p: self.assertIsNone(p)),
            (lambda nonce: "n=" + nonce, lambda p: self.assertEqual(p, "n=abc123")),
        ]:
            with self.subTest(mode=mode):
                self.daemon.proof = mode
                status, body = self.health()
                self.assertEqual(status, 200)
                check(body.get("proof"))
        self.daemon.proof = "right"
        self.daemon.health_status = 503
        self.assertEqual(self.health(), (503, {**self.daemon.health, "proof": right}))
        self.assertNotIn("proof", self.health("")[1])  # no nonce, no proof

    def test_health_needs_no_token_but_other_paths_do(self):
        status, _ = self.health()
        self.assertEqual(status, 200)
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        for headers, path, want in [
            ({}, "/api/runs", 401),
            ({"x-mossbank-token": "nope"}, "/api/runs", 401),
            ({"x-mossbank-token": TOKEN}, "/api/runs", 200),
            ({"x-mossbank-token": self.daemon.hook_token}, "/api/runs", 401),
            ({"x-mossbank-token": self.daemon.hook_token}, "/api/hook?agent=claude", 200),
            ({"x-mossbank-token": TOKEN}, "/api/nowhere", 404),
        ]:
            with self.subTest(path=path, headers=headers):
                conn.request("POST", path, body=b"{}", headers=headers)
                resp = conn.getresponse()
                resp.read()
                self.assertEqual(resp.status, want)
        conn.close()


class ConfigTest(unittest.TestCase):
    def test_config_file_is_the_tools_format_and_private(self):
        with StandInDaemon(token=TOKEN, hook_token="h" * 48) as d:
            with open(d.config_path) as f:
                text = f.read()
            self.assertEqual(text, '{\n  "port": %d,\n  "token": "%s",\n  "hookToken": "%s"\n}\n'
                             % (d.port, TOKEN, "h" * 48))
            self.assertEqual(stat.S_IMODE(os.stat(d.config_path).st_mode), 0o600)
            d.set_tokens(hook_token=None)
            with open(d.config_path) as f:
                self.assertEqual(json.load(f), {"port": d.port, "token": d.token})
            self.assertNotEqual(d.token, TOKEN)
            home = d.home
        self.assertFalse(os.path.exists(home))

    def test_random_tokens_are_distinct_48_hex_digits(self):
        with StandInDaemon() as d:
            self.assertRegex(d.token, r"^[0-9a-f]{48}$")
            self.assertRegex(d.hook_token, r"^[0-9a-f]{48}$")
            self.assertNotEqual(d.token, d.hook_token)


class RecordingTest(DaemonTest):
    def test_keep_alive_reuse_is_one_connection(self):
        a = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        for path in ("/api/state", "/api/inbox"):
            a.request("GET", path, headers={"x-mossbank-token": TOKEN})
            resp = a.getresponse()
            resp.read()
            self.assertEqual(resp.status, 200)
            self.assertEqual(resp.getheader("connection"), "keep-alive")
        b = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        b.request("GET", "/api/state", headers={"x-mossbank-token": TOKEN})
        b.getresponse().read()
        first, second, third = self.daemon.requests()
        self.assertEqual(first.conn, second.conn)
        self.assertNotEqual(first.conn, third.conn)
        self.assertEqual([r.seq for r in (first, second, third)], [1, 2, 3])
        self.assertEqual(self.daemon.connection_count(), 2)
        a.close()
        b.close()

    def test_connection_close_is_honoured(self):
        out = exchange(self.port, b"GET /api/health HTTP/1.1\r\nhost: x\r\nconnection: close\r\n\r\n")
        self.assertTrue(out.startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertIn(b"\r\nconnection: close\r\n", out)
        self.assertTrue(out.endswith(b"}"))

    def test_head_recorded_as_sent(self):
        head = (b"POST /api/runs/r1/typed?x=%C3%A9 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Mossbank-Token: "
                + TOKEN.encode() + b"\r\nx-odd:  v\xe9  \r\ncontent-length: 4\r\nconnection: close\r\n\r\n")
        exchange(self.port, head + b"abcd")
        req = self.daemon.wait_request("/api/runs/r1/typed")
        self.assertEqual(req.raw_head, head)
        self.assertEqual(req.request_line, "POST /api/runs/r1/typed?x=%C3%A9 HTTP/1.1")
        self.assertEqual((req.method, req.path, req.query), ("POST", "/api/runs/r1/typed", "x=%C3%A9"))
        self.assertEqual(req.headers, [("Host", "127.0.0.1"), ("X-Mossbank-Token", TOKEN),
                                       ("x-odd", "v\u00e9"), ("content-length", "4"), ("connection", "close")])
        self.assertEqual(req.raw_headers[2], (b"x-odd", b"  v\xe9  "))
        self.assertEqual(req.header("x-mossbank-token"), TOKEN)
        self.assertEqual((req.body, req.raw_body, req.chunked, req.chunks), (b"abcd", b"abcd", False, None))

    def test_chunked_request_is_recorded_dechunked_and_raw(self):
        framing = b"5;ext=1\r\nhello\r\n6\r\n world\r\n0\r\nx-trailer: 1\r\n\r\n"
        exchange(self.port, b"POST /api/hook HTTP/1.1\r\nx-mossbank-token: " + TOKEN.encode()
                 + b"\r\ntransfer-encoding: chunked\r\nconnection: close\r\n\r\n" + framing)
        req = self.daemon.wait_request("/api/hook")
        self.assertEqual((req.body, req.chunks, req.raw_body), (b"hello world", [b"hello", b" world"], framing))
        self.assertTrue(req.chunked and req.complete)

        curl("-X", "POST", "-H", "Transfer-Encoding: chunked", "-H", f"x-mossbank-token: {TOKEN}",
             "--data-binary", "payload", f"http://127.0.0.1:{self.port}/api/hook?agent=x")
        req = self.daemon.wait_request("/api/hook?agent=x")
        self.assertEqual((req.body, req.params()), (b"payload", {"agent": "x"}))

    def test_streaming_body_is_seen_as_it_arrives(self):
        with connect(self.port) as s:
            s.sendall(b"POST /api/runs/r9/output HTTP/1.1\r\nhost: x\r\nx-mossbank-token: " + TOKEN.encode()
                      + b"\r\ntransfer-encoding: chunked\r\nconnection: close\r\n\r\n")
            head = read_until(s, b"\r\n\r\n")  # the answer's head comes before any body
            self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"))
            s.sendall(b"3\r\nabc\r\n")
            stream = self.daemon.outputs.wait_open()
            stream.request.wait_body(b"abc")
            self.assertFalse(stream.request.complete)
            s.sendall(b"2\r\nde\r\n0\r\n\r\n")
            rest = read_all(s)
        self.assertTrue((head + rest).endswith(b"\r\n\r\n0\r\n\r\n"))
        req = self.daemon.wait_request("/api/runs/r9/output")
        self.assertEqual((req.body, req.chunks), (b"abcde", [b"abc", b"de"]))

    def test_wait_request_counts_and_times_out(self):
        for _ in range(2):
            curl(f"http://127.0.0.1:{self.port}/api/health")
        self.assertEqual(self.daemon.wait_request("/api/health", 2).seq, 2)
        self.assertEqual(len(self.daemon.requests("/api/", match="prefix", method="GET")), 2)
        with self.assertRaisesRegex(AssertionError, r"(?s)request #3.*GET /api/health"):
            self.daemon.wait_request("/api/health", 3, timeout=0.3)


class AnswerTest(DaemonTest):
    def get(self, path, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
        conn.request("GET", path, headers={"x-mossbank-token": TOKEN, **(headers or {})})
        resp = conn.getresponse()
        body = resp.read()
        conn.close()
        return resp, body

    def test_raw_answer_is_written_verbatim(self):
        raw = b"HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\nshort"
        self.daemon.route("/raw", raw=raw, auth=False)
        self.daemon.route("/pieces", Reply.raw_bytes([b"HTTP/1.1 2", b"04 No\r\n\r\n"], piece_delay=0.2), auth=False)
        self.assertEqual(exchange(self.port, b"GET /raw HTTP/1.1\r\n\r\n"), raw)
        start = time.monotonic()
        self.assertEqual(exchange(self.port, b"GET /pieces HTTP/1.1\r\n\r\n"), b"HTTP/1.1 204 No\r\n\r\n")
        self.assertGreaterEqual(time.monotonic() - start, 0.2)

    def test_chunked_answer(self):
        self.daemon.route("/c", chunks=[b"hel", b"lo"], headers=[("X-Kept-Case", "1")], auth=False)
        resp, body = self.get("/c")
        self.assertEqual((resp.status, body, resp.getheader("x-kept-case")), (200, b"hello", "1"))
        out = exchange(self.port, b"GET /c HTTP/1.1\r\nconnection: close\r\n\r\n")
        self.assertIn(b"\r\nX-Kept-Case: 1\r\n", out)
        self.assertTrue(out.endswith(b"\r\n\r\n3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n"))

    def test_hang_close_reset_and_delay(self):
        self.daemon.route("/hang", Reply.hang(), auth=False)
        self.daemon.route("/close", Reply.close(), auth=False)
        self.daemon.route("/reset", Reply.reset(), auth=False)
        self.daemon.route("/slow", body="late", delay=0.3)
        with connect(self.port, timeout=0.5) as s:
            s.sendall(b"GET /hang HTTP/1.1\r\n\r\n")
            self.assertRaises(socket.timeout, s.recv, 1)
        self.assertEqual(exchange(self.port, b"GET /close HTTP/1.1\r\n\r\n"), b"")
        self.assertRaises(ConnectionResetError, exchange, self.port, b"GET /reset HTTP/1.1\r\n\r\n")
        start = time.monotonic()
        self.assertEqual(self.get("/slow")[1], b"late")
        self.assertGreaterEqual(time.monotonic() - start, 0.3)

    def test_route_matching(self):
        d = self.daemon
        d.route("/api/runs/", match="prefix", status=201, body={"p": 1})
        d.route(re.compile(r"^/api/runs/[^/]+/screen$"), status=202)
        d.route("/api/runs/a/screen", method="POST", status=203)
        d.route("/api/state", times=1, status=500)
        d.route("/q?x=1", body="with query")
        for method, path, want in [
            ("GET", "/api/runs/a/screen", 202),   # a POST-only route passes GET by
            ("POST", "/api/runs/a/screen", 203),  # the latest route wins
            ("GET", "/api/runs/b", 201),
            ("GET", "/api/state", 500),
            ("GET", "/api/state", 200),           # `times` used up: the built-in answers
            ("GET", "/q?x=1", 200),
            ("GET", "/q?x=2", 404),
        ]:
            with self.subTest(method=method, path=path):
                conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=3)
                conn.request(method, path, headers={"x-mossbank-token": TOKEN})
                self.assertEqual(conn.getresponse().status, want)
                conn.close()

    def test_handler_has_full_control(self):
        def handler(ex):
            body = ex.read_body()
            ex.send_head(207, [("content-length", str(len(body)))])
            ex.write(body[::-1])
        self.daemon.route("/echo", handler, auth=False)
        self.daemon.route("/json", lambda ex: Reply.json({"got": ex.json()}), auth=False)
        out = exchange(self.port, b"POST /echo HTTP/1.1\r\ncontent-length: 3\r\nconnection: close\r\n\r\nabc")
        self.assertEqual(out, b"HTTP/1.1 207 Multi-Status\r\ncontent-length: 3\r\n\r\ncba")
        self.assertEqual(json.loads(curl("-d", '{"a":1}', f"http://127.0.0.1:{self.port}/json")), {"got": {"a": 1}})

    def test_command_stream(self):
        with connect(self.port) as s:
            s.sendall(b"GET /api/runs/r1/commands HTTP/1.1\r\nhost: x\r\naccept: text/event-stream\r\n"
                      b"x-mossbank-token: " + TOKEN.encode() + b"\r\n\r\n")
            got = read_until(s, b"event: ready\ndata: {}\n\n\r\n")
            self.assertIn(b"\r\ntransfer-encoding: chunked\r\n", got)
            stream = self.daemon.commands.wait_open()
            self.assertEqual(stream.request.path, "/api/runs/r1/commands")
            self.assertTrue(stream.send("command", {"type": "talk", "text": "a\nb"}))
            event = b'event: command\ndata: {"type":"talk","text":"a\\nb"}\n\n'
            self.assertEqual(read_until(s, b"\n\n\r\n"), b"%x\r\n" % len(event) + event + b"\r\n")
            stream.send(data="one\ntwo")
            self.assertEqual(read_until(s, b"\n\n\r\n"), b"15\r\ndata: one\ndata: two\n\n\r\n")
            stream.write("event: x\n\n", ext=";name=value")
            self.assertEqual(read_until(s, b"\n\n\r\n"), b"a;name=value\r\nevent: x\n\n\r\n")
            stream.end()
            self.assertEqual(read_all(s), b"0\r\n\r\n")
        self.assertTrue(stream.wait_closed())


    def test_ready_is_out_before_the_stream_is_handed_out(self):
        # A test that drops the stream at once still has its "ready" seen.
        with connect(self.port) as s:
            s.sendall(b"GET /api/runs/r1/commands HTTP/1.1\r\nx-mossbank-token: " + TOKEN.encode() + b"\r\n\r\n")
            self.daemon.commands.wait_open().drop()
            self.assertIn(b"event: ready\ndata: {}\n\n", read_all(s))


class DownUpTest(DaemonTest):
    def test_stop_closes_everything_and_start_takes_the_same_port(self):
        held = connect(self.port)
        held.sendall(b"GET /api/runs/r1/commands HTTP/1.1\r\nx-mossbank-token: " + TOKEN.encode() + b"\r\n\r\n")
        stream = self.daemon.commands.wait_open()
        self.daemon.stop()
        self.assertTrue(stream.wait_closed())
        read_until(held, b"\0never")  # ends at the daemon's close
        held.close()
        self.assertRaises(ConnectionRefusedError, connect, self.port)
        self.daemon.start()
        self.assertEqual(self.daemon.port, self.port)
        self.assertIn(b'"app":"mossbank"', curl(f"http://127.0.0.1:{self.port}/api/health"))
        with open(self.daemon.config_path) as f:
            self.assertEqual(json.load(f)["port"], self.port)

    def test_closed_port_refuses(self):
        self.assertRaises(ConnectionRefusedError, connect, standin.closed_port())

    def test_keep_alive_timeout_closes_idle_connections(self):
        self.daemon.keep_alive_timeout = 0.2
        with connect(self.port) as s:
            s.sendall(b"GET /api/health HTTP/1.1\r\n\r\n")
            self.assertIn(b"connection: keep-alive", read_until(s, b"}"))
            start = time.monotonic()
            self.assertEqual(read_all(s), b"")
            self.assertLess(time.monotonic() - start, 2)


class HarnessTest(unittest.TestCase):
    def test_run_captures_output_and_exit_code(self):
        env = harness.clean_env("/tmp/nowhere", LANG=None, X="1")
        self.assertEqual(env["MOSSBANK_HOME"], "/tmp/nowhere")
        self.assertNotIn("LANG", env)
        done = harness.run(["-c", 'read x; echo "$x$X"; echo err >&2; exit 3'],
                           env=env, stdin=b"in\n", binary="/bin/sh")
        self.assertEqual((done.code, done.stdout, done.stderr), (3, b"in1\n", b"err\n"))
        with self.assertRaisesRegex(AssertionError, "still ran"):
            harness.run(["-c", "sleep 5"], env=env, timeout=0.3, binary="/bin/sh")

    def test_pty_size_keys_and_exit(self):
        script = 'stty size; read x; echo "got:$x"; stty size; read y; exit 4'
        with harness.Pty(["/bin/sh", "-c", script], harness.clean_env("/tmp"), cols=100, rows=30) as term:
            term.expect(b"30 100")
            term.resize(90, 20)
            term.write("hi\r")
            term.expect(re.compile(rb"got:hi\r?\n20 90"))
            term.write(b"\r")
            self.assertEqual(term.wait(5), 4)
            self.assertTrue(os.isatty(term.master))


if __name__ == "__main__":
    unittest.main()

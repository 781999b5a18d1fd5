"""`mossbank run` linked to the stand-in daemon: the proof, the registration,
the command stream and the DELETE byte for byte; the reconnect delays; the
stream's framing (events split across chunks, data over several lines,
comments, chunk extensions); and what the village's commands do to the
agent: stop, resize, input.

The agents are small scripts in a real pseudo-terminal. Timings are read
from the stand-in's arrival times: lower bounds are exact (a wait never
ends early), upper bounds loose enough for a loaded machine.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from support import harness
from support.standin import Reply, StandInDaemon

# Prints the pseudo-terminal's size at the start and at each window change,
# and echoes each line typed. Every print is one write(2), so that a signal
# handler never runs inside another print.
SIZE_AGENT = """
    import os, signal, sys
    def say(text):
        os.write(1, (text + "\\n").encode())
    def size(*_):
        c, r = os.get_terminal_size(0)
        say(f"size {c}x{r}")
    signal.signal(signal.SIGWINCH, size)
    size()
    for line in sys.stdin:
        say("line " + line.strip())
"""

REGISTRATION_KEYS = ["runId", "command", "cwd", "pid", "villageOwned", "wrapperVersion", "wrapperApi",
                     "input", "interrupt", "childPid", "binding", "stream", "startedAt", "lines",
                     "resizable"]


class LinkedRun(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def agent(self, body, name="agent"):
        return harness.write_python(os.path.join(self.dir.name, name), body)

    def start(self, body, cols=80, rows=24, **env):
        term = harness.Pty([self.bin, "run", self.agent(body)], harness.clean_env(self.daemon.home, env),
                           cols=cols, rows=rows)
        self.addCleanup(term.close)
        return term

    def stream(self, n=1):
        """The n-th command stream, once its `ready` went out."""
        return self.daemon.commands.wait_open(n, timeout=20)

    def proofs_after(self, t):
        return [r for r in self.daemon.requests("/api/health", match="prefix")
                if "nonce=" in r.query and r.time > t]


class Heads(LinkedRun):
    def test_proof_registration_stream_and_delete_byte_for_byte(self):
        term = self.start(SIZE_AGENT)
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        port, token = self.daemon.port, self.daemon.token

        register = self.daemon.wait_request("/api/runs", method="POST")
        body = register.json()
        run_id = body["runId"]
        self.assertEqual(list(body), REGISTRATION_KEYS)
        self.assertEqual(body["input"], True)
        self.assertEqual(body["wrapperApi"], 211)
        raw = json.dumps(body, ensure_ascii=False, separators=(",", ":")).encode()
        self.assertEqual(register.raw_head,
                         f"POST /api/runs HTTP/1.1\r\nhost: 127.0.0.1:{port}\r\nconnection: keep-alive\r\n"
                         f"accept: */*\r\ncontent-type: application/json\r\nx-mossbank-token: {token}\r\n"
                         f"content-length: {len(raw)}\r\n\r\n".encode())
        self.assertEqual(register.body, raw)

        # The link's proof is the last one before the registration.
        proof = [r for r in self.daemon.requests("/api/health", match="prefix")
                 if r.seq < register.seq and "nonce=" in r.query][-1]
        self.assertRegex(proof.raw_head.decode(),
                         rf"^GET /api/health\?nonce=[0-9a-f]{{32}} HTTP/1\.1\r\nhost: 127\.0\.0\.1:{port}\r\n"
                         r"connection: close\r\naccept: \*/\*\r\n\r\n$")

        self.assertEqual(stream.request.raw_head,
                         f"GET /api/runs/{run_id}/commands HTTP/1.1\r\nhost: 127.0.0.1:{port}\r\n"
                         f"accept: text/event-stream\r\nx-mossbank-token: {token}\r\n\r\n".encode())
        self.assertGreater(stream.request.seq, register.seq)

        term.write("bye\r")
        term.expect("line bye", timeout=20)
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)
        delete = self.daemon.wait_request(f"/api/runs/{run_id}", method="DELETE")
        self.assertEqual(delete.raw_head,
                         f"DELETE /api/runs/{run_id} HTTP/1.1\r\nhost: 127.0.0.1:{port}\r\n"
                         f"connection: keep-alive\r\naccept: */*\r\ncontent-type: application/json\r\n"
                         f"x-mossbank-token: {token}\r\n\r\n".encode())
        self.assertEqual(delete.body, b"")
        # The link had stopped: nothing registers after the DELETE.
        self.assertTrue(stream.wait_closed(20))
        self.assertEqual([r for r in self.daemon.requests("/api/runs", method="POST") if r.seq > delete.seq], [])


class Reconnects(LinkedRun):
    def test_delays_grow_and_start_over_after_ready(self):
        # Five refused streams, then one that carries `ready` and is dropped.
        self.daemon.route(re.compile(r"^/api/runs/[^/]+/commands$"), Reply.json({"error": "no"}, 404),
                          method="GET", times=5)
        term = self.start(SIZE_AGENT)
        gets = lambda n: self.daemon.wait_request(re.compile(r"/commands$"), n, method="GET", timeout=30)
        for n, delay in enumerate([0.5, 1.0, 2.0, 5.0, 5.0], start=1):
            refused = gets(n)
            proof = self.daemon.wait_until(lambda: self.proofs_after(refused.time), 30, "the next proof")[0]
            waited = proof.time - refused.time
            self.assertGreaterEqual(waited, delay, f"after refusal {n}")
        stream = self.stream(1)
        dropped_at = time.monotonic()
        stream.drop()
        proof = self.daemon.wait_until(lambda: self.proofs_after(dropped_at), 30, "the proof after the drop")[0]
        waited = proof.time - dropped_at
        self.assertGreaterEqual(waited, 0.5)
        self.assertLess(waited, 5.0)  # not the 5 s that five failures in a row would give
        self.stream(2)
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)

    def test_unknown_run_registers_again(self):
        term = self.start(SIZE_AGENT)
        first = self.stream(1)
        self.assertEqual(len(self.daemon.requests("/api/runs", method="POST")), 1)
        first.send("unknown-run", "{}")
        self.stream(2)
        registrations = self.daemon.requests("/api/runs", method="POST")
        self.assertEqual(len(registrations), 2)
        self.assertEqual(registrations[0].body, registrations[1].body)
        self.assertTrue(first.wait_closed(20))
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)

    def test_a_refused_post_makes_the_link_prove_again(self):
        self.daemon.route(re.compile(r"^/api/runs/[^/]+/activity$"), Reply.json({"error": "token"}, 401),
                          method="POST")
        term = self.start("""
            import os, sys, time
            os.write(1, b"ready\\n")
            sys.stdin.readline()
            time.sleep(1.2)  # past the echo of the key: the output counts as work
            os.write(1, b"w" * 400 + b"\\n")
            sys.stdin.readline()
        """)
        term.expect("ready", timeout=20)
        first = self.stream(1)
        term.write("\r")
        refused = self.daemon.wait_request(re.compile(r"/activity$"), method="POST", timeout=20)
        self.assertEqual(refused.json(), {"working": True, "asked": False})
        self.assertTrue(first.wait_closed(20))
        self.stream(2)
        self.assertTrue(self.proofs_after(refused.time))
        term.write("\r")
        self.assertEqual(term.wait(20), 0)


class Framing(LinkedRun):
    def test_events_cut_across_chunks_with_extensions_comments_and_data_lines(self):
        term = self.start(SIZE_AGENT)
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        stream.comment("keep-alive")
        stream.write("event: comm")
        stream.write("and\ndata: {\"ty", ext=";name=value")
        stream.write("pe\":\n")
        stream.write(": a comment inside the event\ndata:\"resize\",\n")
        stream.write("data:  \"cols\": 100, \"rows\": 40}\n", ext=";a=1;b")
        stream.write("\n")
        term.expect("size 100x40", timeout=20)
        # Events that are not commands, and data that is not JSON, do nothing.
        stream.send("message", {"type": "resize", "cols": 90, "rows": 30})
        stream.send("command", "{not json")
        stream.send("command", {"type": "resize", "cols": 91, "rows": 31})
        out = term.expect("size 91x31", timeout=20)
        self.assertNotIn(b"size 90x30", out)
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)


class Stop(LinkedRun):
    def test_one_sighup_then_sigkill_after_three_seconds(self):
        term = self.start("""
            import os, signal, time
            signal.signal(signal.SIGHUP, lambda *_: os.write(1, b"got SIGHUP\\n"))
            os.write(1, b"ready\\n")
            while True:
                time.sleep(1)
        """)
        term.expect("ready", timeout=20)
        stream = self.stream()
        stopped_at = time.monotonic()
        stream.send("command", {"type": "stop"})
        term.expect("got SIGHUP", timeout=20)
        stream.send("command", {"type": "stop"})
        self.assertEqual(term.wait(30), 0)
        ended_at = time.monotonic()
        self.assertGreaterEqual(ended_at - stopped_at, 3.0)
        term.wait_closed(20)
        self.assertEqual(term.output.count(b"got SIGHUP"), 1)
        self.daemon.wait_request(re.compile(r"^/api/runs/[^/]+$"), method="DELETE")

    def test_an_agent_that_leaves_on_sighup_ends_the_run_at_once(self):
        term = self.start("""
            import os, signal, time
            signal.signal(signal.SIGHUP, lambda *_: os._exit(0))
            os.write(1, b"ready\\n")
            while True:
                time.sleep(1)
        """)
        term.expect("ready", timeout=20)
        stream = self.stream()
        stopped_at = time.monotonic()  # once the stream is open: opening it may take a while
        stream.send("command", {"type": "stop"})
        self.assertEqual(term.wait(20), 0)
        # The hard-kill timer does not hold the end up.
        self.assertLess(time.monotonic() - stopped_at, 3.0)


class Detach(LinkedRun):
    def test_an_application_update_closes_both_streams_at_once(self):
        # The wrapper runs from inside the application's bundle; the update
        # takes its program away, and after the watch's 29 s the run lets go
        # of the village. The stand-in never pings: a stream left open would
        # stay open.
        exe = os.path.join(self.dir.name, "Mossbank.app", "Contents", "Resources", "cli", "bin", "mossbank")
        os.makedirs(os.path.dirname(exe))
        shutil.copy(self.bin, exe)
        term = harness.Pty([exe, "run", self.agent(SIZE_AGENT)], harness.clean_env(self.daemon.home))
        self.addCleanup(term.close)
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        stream.send("command", {"type": "watch", "join": "panel"})
        output = self.daemon.outputs.wait_open(timeout=20)
        os.remove(exe)
        self.assertTrue(output.wait_closed(90), "the output stream is still open")
        self.assertTrue(stream.wait_closed(20), "the command stream is still open")
        self.assertEqual(self.daemon.commands.open_streams(), [])
        self.assertIsNone(term.exit_code)  # the run goes on without the village
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)


class Sizes(LinkedRun):
    def test_village_size_then_a_typed_key_brings_the_users_size_back(self):
        term = self.start(SIZE_AGENT)
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        stream.send("command", {"type": "resize", "cols": 100, "rows": 40})
        term.expect("size 100x40", timeout=20)
        term.write("k")
        term.expect("size 80x24", timeout=20)
        term.write("\r")
        term.expect("line k", timeout=20)
        # The village's typing puts its recorded size in force again.
        stream.send("command", {"type": "input", "data": "v\r"})
        out = term.expect("line v", timeout=20)
        self.assertIn(b"size 100x40", out)
        # own-size gives the user's size back too.
        stream.send("command", {"type": "own-size"})
        term.expect("size 80x24", timeout=20)
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)

    def test_bad_sizes_are_dropped(self):
        term = self.start(SIZE_AGENT)
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        for cols, rows in [(1, 24), (1001, 24), (80, 1001), (-5, 24), (80.5, 24), ("80", 24), (0, 0)]:
            stream.send("command", {"type": "resize", "cols": cols, "rows": rows})
        stream.send("command", {"type": "resize", "cols": 2, "rows": 2})
        out = term.expect("size 2x2", timeout=20)
        self.assertEqual(re.findall(rb"size \d+x\d+", out), [b"size 2x2"])
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)

    def test_a_run_of_another_keeps_its_size(self):
        # stdout is a terminal but MOSSBANK_RUN_AS says the run is another's.
        term = self.start(SIZE_AGENT, MOSSBANK_RUN_AS="someone-else")
        term.expect("size 80x24", timeout=20)
        stream = self.stream()
        stream.send("command", {"type": "resize", "cols": 100, "rows": 40})
        stream.send("command", {"type": "input", "data": "after\r"})
        out = term.expect("line after", timeout=20)
        self.assertNotIn(b"size 100x40", out)
        term.write(b"\x04")
        self.assertEqual(term.wait(20), 0)


# Reports the pty's size and the emulator's (a cursor position report that
# the wrapper answers, having no terminal of its own) at the start and at
# each window change. The wrapper sizes the pty before its screen, so a
# report right after the signal may still see the old screen: it asks again
# until the screen has caught up.
SCREEN_AGENT = """
    import os, signal, sys, tty
    tty.setraw(0)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGWINCH})
    def report():
        os.write(1, b"\\x1b[999;999H\\x1b[6n")
        reply = b""
        while not reply.endswith(b"R"):
            reply += os.read(0, 1)
        c, r = os.get_terminal_size(0)
        screen = reply[2:-1].decode()
        os.write(1, f"pty {c}x{r} screen {screen}\\r\\n".encode())
        return screen == f"{r};{c}"
    report()
    while True:
        signal.sigwait({signal.SIGWINCH})
        while not report():
            pass
"""


class WithoutATerminalOfItsOwn(LinkedRun):
    def test_village_resize_reaches_the_agent_and_the_emulator(self):
        # The user's keys come from a terminal; the output goes to a pipe.
        master, slave = os.openpty()
        proc = subprocess.Popen([self.bin, "run", self.agent(SCREEN_AGENT)],
                                env=harness.clean_env(self.daemon.home), stdin=slave,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(slave)
        self.addCleanup(proc.stdout.close)
        self.addCleanup(os.close, master)
        self.addCleanup(lambda: proc.poll() is None and os.killpg(proc.pid, signal.SIGKILL))
        out = bytearray()
        cond = threading.Condition()

        def read():
            for chunk in iter(lambda: os.read(proc.stdout.fileno(), 65536), b""):
                with cond:
                    out.extend(chunk)
                    cond.notify_all()
        reader = threading.Thread(target=read, daemon=True)
        reader.start()

        def expect(text):
            with cond:
                self.assertTrue(cond.wait_for(lambda: text in out, 20), f"{text!r} not in {bytes(out)!r}")

        expect(b"pty 80x24 screen 24;80")
        stream = self.stream()
        stream.send("command", {"type": "resize", "cols": 100, "rows": 40})
        expect(b"pty 100x40 screen 40;100")
        # A dropped stream leaves the village's size to such a run.
        stream.drop()
        self.stream(2).send("command", {"type": "stop"})
        self.assertEqual(proc.wait(20), 0)
        reader.join(5)
        self.assertNotIn(b"screen 24;80", bytes(out).split(b"screen 40;100")[1])


if __name__ == "__main__":
    unittest.main()

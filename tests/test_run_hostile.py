"""`mossbank run` against a stand-in daemon that misbehaves on purpose, and
an agent that stops reading: the village's `stop` is not stuck behind its
own typing, and a broken daemon cannot grow the wrapper's memory without
bound (its peak resident size, VmHWM in /proc, stays under 64 MB) while the
run goes on.

Every wait is bounded and waits on a condition; nothing asserts how long
something took.
"""

import os
import re
import tempfile
import unittest

from support import harness
from support.standin import StandInDaemon

PATIENCE = 30
MEMORY_BOUND_KB = 64 * 1024
MIB = 1 << 20

# Raw mode, so that the line discipline keeps what it is sent (a cooked
# line past 4 KiB is thrown away instead): once the pty is full, a write to
# it blocks. Never reads; leaves on SIGHUP.
DEAF_AGENT = """
    import os, signal, sys, time, tty
    tty.setraw(0)
    signal.signal(signal.SIGHUP, lambda *_: (os.write(1, b"got SIGHUP\\r\\n"), os._exit(0)))
    os.write(1, b"deaf now\\r\\n")
    while True:
        time.sleep(1)
"""

# Says it is ready; then, for each of `argv[1]` lines typed, writes 7 MiB in
# lines and says so.
FLOOD_AGENT = """
    import os, sys
    os.write(1, b"ready\\r\\n")
    line = b"x" * 1022 + b"\\r\\n"
    block = line * 1024 * 7
    for n in range(int(sys.argv[1])):
        sys.stdin.readline()
        data = block
        while data:
            data = data[os.write(1, data):]
        os.write(1, b"round %d done\\r\\n" % n)
    sys.stdin.readline()
"""

IDLE_AGENT = """
    import os, sys
    os.write(1, b"ready\\r\\n")
    sys.stdin.readline()
"""


def sanitized_build():
    """A sanitizer's shadow memory and quarantine make resident sizes meaningless."""
    cache = os.path.join(os.environ.get("MOSSBANK_BUILD_DIR", ""), "CMakeCache.txt")
    try:
        with open(cache, encoding="utf-8") as f:
            text = f.read()
    except OSError:
        return False
    return re.search(r"^MOSSBANK_(SANITIZE|TSAN):BOOL=ON$", text, re.M) is not None


def peak_rss_kb(pid):
    """The process's peak resident size so far, in kB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise AssertionError("no VmHWM in /proc status")


@unittest.skipUnless(os.path.exists("/proc/self/status"), "reads /proc")
class HostileDaemon(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def start(self, body, *args):
        agent = harness.write_python(os.path.join(self.dir.name, "agent"), body)
        term = harness.Pty([self.bin, "run", agent, *args], harness.clean_env(self.daemon.home))
        self.addCleanup(term.close)
        return term

    def stream(self, n=1):
        return self.daemon.commands.wait_open(n, timeout=PATIENCE)

    def assert_bounded_and_running(self, term):
        self.assertIsNone(term.exit_code, "the wrapper ended")
        if sanitized_build():
            return
        peak = peak_rss_kb(term.proc.pid)
        self.assertLess(peak, MEMORY_BOUND_KB, f"the wrapper's peak resident size was {peak} kB")

    def test_stop_goes_through_while_the_agent_does_not_read_its_input(self):
        term = self.start(DEAF_AGENT)
        term.expect("deaf now", timeout=PATIENCE)
        stream = self.stream()
        # Far more than a pty holds (some 64 KiB): a write of it blocks.
        for _ in range(8):
            stream.send("command", {"type": "input", "data": "a" * 65536})
        stream.send("command", {"type": "stop"})
        term.expect("got SIGHUP", timeout=PATIENCE)
        self.assertEqual(term.wait(PATIENCE), 0)

    def test_endless_lines_and_data_end_the_stream_and_memory_stays_bounded(self):
        term = self.start(IDLE_AGENT)
        term.expect("ready", timeout=PATIENCE)
        piece = 512 * 1024  # chunks well under the chunk bound
        cases = [
            ("a 400 MB line with no newline", b"data: ", b"x" * piece, 400 * MIB),
            ("300 MB of data lines with no blank line", b"", b"data: " + b"y" * (piece - 7) + b"\n", 300 * MIB),
        ]
        for n, (what, lead, block, total) in enumerate(cases, start=1):
            stream = self.stream(n)
            stream.write("event: command\n" + lead.decode())
            sent = 0
            while sent < total and stream.write(block):
                sent += len(block)
            # The wrapper gave the stream up long before the end, and came back.
            self.assertLess(sent, total, f"{what}: the wrapper read it all")
            self.assertTrue(stream.wait_closed(PATIENCE), what)
            self.stream(n + 1)
            self.assert_bounded_and_running(term)
        term.write("\r")
        self.assertEqual(term.wait(PATIENCE), 0)

    def test_a_daemon_that_never_reads_the_output_and_watches_again_is_cut(self):
        held = []

        def never_read(ex):
            # Takes the stream and answers, then reads nothing, ever.
            ex.send_head(200, [("content-type", "text/plain; charset=utf-8")], chunked=True)
            with self.daemon._cond:
                held.append(ex)
                self.daemon._cond.notify_all()
            self.daemon._stopping.wait()
            ex.keep_alive, ex.dropped = False, True

        self.daemon.route(re.compile(r"^/api/runs/[^/]+/output$"), never_read, method="POST")
        rounds = 16  # 112 MiB in all
        term = self.start(FLOOD_AGENT, str(rounds))
        term.expect("ready", timeout=PATIENCE)
        stream = self.stream()
        watch = {"type": "watch", "join": "panel"}
        stream.send("command", watch)
        self.daemon.wait_until(lambda: held, PATIENCE, "the output stream")
        # A watch after every 7 MiB the agent wrote, as a panel opened again
        # and again would send; the village's Enter that lets the agent go
        # on comes after it on the stream, so the watch is in before the
        # next 7 MiB.
        for n in range(rounds):
            if n:
                stream.send("command", watch)
            stream.send("command", {"type": "input", "data": "\r"})
            term.expect(f"round {n} done", timeout=PATIENCE)
        # The stream fell too far behind and was cut: the wrapper opened another.
        self.daemon.wait_until(lambda: len(held) >= 2, PATIENCE, "a stream opened after the cut")
        self.assert_bounded_and_running(term)
        stream = self.daemon.commands.latest
        stream.send("command", {"type": "input", "data": "\r"})
        self.assertEqual(term.wait(PATIENCE), 0)


if __name__ == "__main__":
    unittest.main()

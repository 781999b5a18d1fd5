"""`mossbank run` watched by the village: the output stream and the screen
snapshots, with the real binary in a real pty against the stand-in daemon.

The agents are small Python programs that wait for a line typed into the
terminal before they write, so that the test decides when output flows."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

from support.harness import BinaryTestCase, Pty, clean_env
from support.standin import StandInDaemon, decode_frames


def agent(code):
    """The argv of `mossbank run` for a Python agent."""
    return ["run", sys.executable, "-c", textwrap.dedent(code)]


# Writes the file named by argv[1] after the first line typed, then waits
# for a second line before it exits.
CAT_AFTER_A_LINE = """
    import os, sys
    sys.stdin.readline()
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    while data:
        n = os.write(1, data[:65536])
        data = data[n:]
    os.write(1, b"\\r\\n--end of output--\\r\\n")
    sys.stdin.readline()
"""

# After the first line, writes numbered lines for `seconds`, then "DONE".
LINES_FOR_A_WHILE = """
    import os, sys, time
    sys.stdin.readline()
    end = time.monotonic() + float(sys.argv[1])
    n = 0
    while time.monotonic() < end:
        os.write(1, ("line %d \\u00e9\\u540d " % n + "x" * (n % 50) + "\\r\\n").encode())
        n += 1
        time.sleep(0.002)
    os.write(1, b"DONE\\r\\n")
    sys.stdin.readline()
"""

# Prints a first screen, then answers each line typed.
PROMPTER = """
    import sys
    sys.stdout.write("\\x1b[1mfirst screen\\x1b[0m \\u540d\\u524d\\r\\n> ")
    sys.stdout.flush()
    for line in sys.stdin:
        line = line.strip()
        if line == "bye":
            break
        sys.stdout.write("got: %s\\r\\n> " % line)
        sys.stdout.flush()
"""


def big_text(size):
    """Text with colours, wide characters and long lines, about `size` bytes."""
    parts = []
    n = 0
    total = 0
    while total < size:
        line = "\x1b[3%dm%05d\x1b[0m 名前 é %s\r\n" % (n % 8, n, "abcdefghij" * (n % 17))
        parts.append(line)
        total += len(line.encode())
        n += 1
    return "".join(parts).encode()


def output_head(run_id, port, token):
    return (f"POST /api/runs/{run_id}/output HTTP/1.1\r\nhost: 127.0.0.1:{port}\r\n"
            "content-type: application/octet-stream\r\n"
            f"x-mossbank-token: {token}\r\nx-mossbank-carry-on: 1\r\n"
            "transfer-encoding: chunked\r\nconnection: close\r\n\r\n").encode()


def data_of(frames):
    return b"".join(f.body for f in frames if f.kind == "D")


# What the wrapper itself writes at the end: modes reset, no text.
END_RESET = re.compile(rb"(\x1b\[[?<>=]?[0-9;]*[A-Za-z])*")


class RunStreamCase(BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.tmp = tempfile.mkdtemp(prefix="mossbank-stream-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def start(self, argv, extra=None, cols=80, rows=24):
        env = clean_env(self.daemon.home, extra)
        term = Pty([self.bin] + argv, env, cols=cols, rows=rows)
        self.addCleanup(term.close)
        return term

    def command_stream(self):
        return self.daemon.commands.wait_open(timeout=10)

    def run_id(self):
        return self.daemon.wait_request("/api/runs", method="POST", timeout=10).json()["runId"]

    def wait_streams_over(self):
        """Every output stream's body, once each has ended (fails on a cut body)."""
        def over():
            streams = list(self.daemon.outputs.streams)
            return streams if all(s.request.complete or s.request.error for s in streams) else None
        streams = self.daemon.wait_until(over, 10, "the output streams to end")
        for s in streams:
            self.assertTrue(s.request.complete, f"{s.request!r} was cut: {s.request.error}")
        return streams

    def assert_output_is(self, shown, start, data):
        """The terminal got `data` from output byte `start` on, then only the
        wrapper's own end reset."""
        self.assertLessEqual(start + len(data), len(shown))
        got = shown[start:start + len(data)]
        if got != data:
            at = next(i for i in range(len(data)) if got[i] != data[i])
            self.fail(f"the frames differ from what the terminal got at byte {at} of {len(data)}: "
                      f"frames {data[max(0, at - 40):at + 80]!r}, terminal {got[max(0, at - 40):at + 80]!r}")
        rest = shown[start + len(data):]
        self.assertTrue(END_RESET.fullmatch(rest), f"the frames miss the output's end: {rest[:200]!r}")

    def screens(self):
        return [r.json() for r in self.daemon.requests(re.compile(r"^/api/runs/[^/]+/screen$"))
                if r.complete]

    def wait_screen(self, last_rows, caret, timeout=10):
        """The first snapshot whose last rows with text and caret are these."""
        def found():
            for body in self.screens():
                rows = rows_of(body["text"])
                if rows[-len(last_rows):] == last_rows and body["caret"] == caret:
                    return body
            return None
        return self.daemon.wait_until(found, timeout, f"a snapshot ending in {last_rows!r}")


class OutputStream(RunStreamCase):
    def test_the_stream_carries_what_the_agent_wrote_byte_for_byte(self):
        path = os.path.join(self.tmp, "out.txt")
        with open(path, "wb") as f:
            f.write(big_text(3 << 20))
        term = self.start(agent(CAT_AFTER_A_LINE) + [path])
        self.command_stream().send("command", {"type": "watch", "join": "t"})
        stream = self.daemon.outputs.wait_open(timeout=10)
        stream.request.wait_body(13)  # its head frame: the stream is attached
        term.write("\r")
        term.expect("--end of output--", timeout=60)
        term.write("\r")
        self.assertEqual(term.wait(20), 0)

        (stream,) = self.wait_streams_over()
        self.assertEqual(stream.request.raw_head,
                         output_head(self.run_id(), self.daemon.port, self.daemon.token))
        frames = decode_frames(stream.request.body)
        self.assertEqual(frames[0].kind, "H")
        self.assertEqual([f.kind for f in frames[1:] if f.kind != "D"], [])
        self.assert_output_is(term.output, frames[0].offset, data_of(frames))

    def test_a_retired_stream_loses_and_repeats_nothing(self):
        term = self.start(agent(LINES_FOR_A_WHILE) + ["1.5"],
                          {"MOSSBANK_TEST_STREAM_RETIRE_MS": "150"})
        self.command_stream().send("command", {"type": "watch", "join": "t"})
        self.daemon.outputs.wait_open(timeout=10).request.wait_body(13)
        term.write("\r")
        term.expect("DONE", timeout=30)
        self.daemon.wait_until(lambda: len(self.daemon.outputs.streams) >= 3, 10,
                               "two retires")
        term.write("\r")
        self.assertEqual(term.wait(20), 0)

        # A stream that was still opening when the run ended carries nothing.
        streams = [s for s in self.wait_streams_over() if s.request.body]
        self.assertGreaterEqual(len(streams), 3)
        shown = term.output
        start = None
        carried = b""
        for n, stream in enumerate(streams):
            frames = decode_frames(stream.request.body)
            self.assertEqual(frames[0].kind, "H", f"stream {n}")
            if start is None:
                start = frames[0].offset
            self.assertEqual(frames[0].offset, start + len(carried),
                             f"stream {n} starts where stream {n - 1} ended")
            carried += data_of(frames)
        self.assert_output_is(shown, start, carried)

    def test_a_watch_snapshot_is_followed_by_exactly_the_output_after_it(self):
        term = self.start(agent(LINES_FOR_A_WHILE) + ["1.0"])
        commands = self.command_stream()
        commands.send("command", {"type": "watch", "join": "first"})
        stream = self.daemon.outputs.wait_open(timeout=10)
        stream.request.wait_body(13)
        term.write("\r")
        term.expect("line 30 ", timeout=20)
        commands.send("command", {"type": "watch", "join": "second"})
        term.expect("DONE", timeout=30)
        term.write("\r")
        self.assertEqual(term.wait(20), 0)

        (stream,) = self.wait_streams_over()
        frames = decode_frames(stream.request.body)
        snapshots = [i for i, f in enumerate(frames) if f.kind == "J"]
        self.assertEqual(len(snapshots), 1)
        j = frames[snapshots[0]]
        self.assertEqual(j.name, "second")
        self.assertEqual(j.size, (80, 24))
        before = frames[0].offset + len(data_of(frames[:snapshots[0]]))
        self.assertEqual(j.offset, before, "the snapshot's count is the output before it")
        self.assert_output_is(term.output, frames[0].offset, data_of(frames))


def rows_of(text):
    rows = [row.rstrip(" ") for row in text.split("\n")]
    while rows and rows[-1] == "":
        rows.pop()
    return rows


def tmux_shows(stream_bytes, cols, rows, workdir):
    """The text of a fresh tmux pane of the given size after `stream_bytes`."""
    socket = "mossbank-run-stream-%d" % os.getpid()
    conf = os.path.join(workdir, "tmux.conf")
    with open(conf, "w") as f:
        f.write("set -g status off\n")
    path = os.path.join(workdir, "screen.bin")
    marker = "fed-%d" % os.getpid()
    with open(path, "wb") as f:
        # A title after the screen: once the pane has it, every byte before
        # it has been shown.
        f.write(stream_bytes + ("\x1b]2;%s\x07" % marker).encode())

    def tmux(*args):
        return subprocess.run(["tmux", "-L", socket, "-f", conf] + list(args),
                              capture_output=True, text=True, timeout=20)

    started = tmux("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows), "sh", "-c",
                   "stty -opost -echo; cat '%s'; sleep 600" % path)
    if started.returncode != 0:
        raise AssertionError("tmux did not start: " + started.stderr)
    try:
        tmux("set-option", "-t", "t", "allow-rename", "on")
        deadline = time.monotonic() + 20
        while tmux("display-message", "-p", "-t", "t", "#{pane_title}").stdout.strip() != marker:
            if time.monotonic() > deadline:
                raise AssertionError("tmux never showed the whole screen")
            time.sleep(0.05)
        return tmux("capture-pane", "-p", "-t", "t").stdout
    finally:
        tmux("kill-server")


class Snapshots(RunStreamCase):
    def test_snapshots_follow_changes_and_carry_the_screen_when_asked(self):
        term = self.start(agent(PROMPTER))
        self.command_stream()
        first = self.wait_screen(["first screen 名前", ">"], {"x": 2, "y": 1})
        self.assertEqual(list(first)[:2], ["cols", "rows"])
        self.assertNotIn("serialized", first)
        self.assertEqual((first["cols"], first["rows"]), (80, 24))

        # Nothing changes: nothing more is posted.
        seen = len(self.screens())
        time.sleep(1.0)
        self.assertEqual(len(self.screens()), seen, "a snapshot of an unchanged screen was posted")

        term.write("hello\r")
        answered = self.wait_screen(["> hello", "got: hello", ">"], {"x": 2, "y": 3})
        self.assertNotIn("serialized", answered)

        # The village asks for screens: the same screen comes again, serialised.
        seen = len(self.screens())
        self.daemon.commands.latest.send("command", {"type": "screens", "on": True})
        with_screen = self.daemon.wait_until(
            lambda: self.screens()[seen:] and self.screens()[seen], 10, "a serialised snapshot")
        self.assertEqual(list(with_screen)[0], "serialized")
        self.assertEqual(with_screen["text"], answered["text"])

        if shutil.which("tmux"):
            shown = tmux_shows(with_screen["serialized"].encode(), with_screen["cols"],
                               with_screen["rows"], self.tmp)
            self.assertEqual(rows_of(shown), rows_of(with_screen["text"]))

        term.write("bye\r")
        self.assertEqual(term.wait(20), 0)


if __name__ == "__main__":
    unittest.main()

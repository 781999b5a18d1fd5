"""The terminal emulator's plain screen text against tmux.

The same bytes are written to a tmux pane and fed to the emulator through
terminal_bench --dump text; both screens must read the same, row by row,
trailing spaces aside. The emulator's serialised screen (--dump serialize),
written to a tmux pane of the same size, must show the same text too.
Skipped when tmux is not installed.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "src", "terminal", "testdata")
BUILD_DIR = os.environ.get("MOSSBANK_BUILD_DIR", "")
BENCH = os.path.join(BUILD_DIR, "bench", "terminal_bench") if BUILD_DIR else ""

SERIALIZED = [
    ("rt_colours.txt", 80, 24),
    ("rt_wide.txt", 80, 24),
    ("rt_wide.txt", 20, 6),
    ("rt_wraps.txt", 80, 24),
    ("rt_wraps.txt", 13, 7),
    ("rt_alt.txt", 40, 8),
    ("ascii.txt", 30, 10),
    ("cjk.txt", 13, 7),
]

CASES = [
    ("ascii.txt", 80, 24),
    ("wrap.txt", 80, 24),
    ("wrap.txt", 13, 7),
    ("tab.txt", 80, 24),
    ("tab.txt", 30, 10),
    ("cjk.txt", 80, 24),
    ("cjk.txt", 13, 7),
]


def rows_of(text):
    rows = [row.rstrip(" ") for row in text.split("\n")]
    while rows and rows[-1] == "":
        rows.pop()
    return rows


class Tmux:
    """A private tmux server with one pane of a given size."""

    def __init__(self, workdir):
        self.socket = "mossbank-terminal-test-%d" % os.getpid()
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\n")

    def run(self, *args, timeout=20):
        return subprocess.run(["tmux", "-L", self.socket, "-f", self.conf] + list(args),
                              capture_output=True, text=True, timeout=timeout)

    def screen(self, path, cols, rows):
        # Output processing off, so the pane gets the file's bytes unchanged.
        script = "stty -opost -echo; cat '%s'; tmux -L %s wait-for -S fed; sleep 600" % (
            path, self.socket)
        started = self.run("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                           "sh", "-c", script)
        if started.returncode != 0:
            raise AssertionError("tmux did not start: " + started.stderr)
        try:
            self.run("resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))
            self.run("wait-for", "fed")
            # The pane may still be reading what cat wrote: wait until two
            # captures agree.
            previous = None
            for _ in range(50):
                current = self.run("capture-pane", "-p", "-t", "t").stdout
                if current == previous:
                    return current
                previous = current
                time.sleep(0.1)
            return previous
        finally:
            self.run("kill-server")


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
@unittest.skipUnless(BENCH and os.access(BENCH, os.X_OK), "terminal_bench is not built")
class PlainTextMatchesTmux(unittest.TestCase):
    def dump(self, form, path, cols, rows):
        return subprocess.run(
            [BENCH, "--dump", form, "--cols", str(cols), "--rows", str(rows), path],
            capture_output=True, check=True, timeout=60).stdout

    def test_fixtures(self):
        with tempfile.TemporaryDirectory() as workdir:
            tmux = Tmux(workdir)
            for name, cols, rows in CASES:
                with self.subTest(fixture=name, cols=cols, rows=rows):
                    path = os.path.join(FIXTURES, name)
                    ours = self.dump("text", path, cols, rows).decode("utf-8")
                    theirs = tmux.screen(path, cols, rows)
                    self.assertEqual(rows_of(ours), rows_of(theirs))

    def test_serialized_screens(self):
        with tempfile.TemporaryDirectory() as workdir:
            tmux = Tmux(workdir)
            for name, cols, rows in SERIALIZED:
                with self.subTest(fixture=name, cols=cols, rows=rows):
                    path = os.path.join(FIXTURES, name)
                    stream = os.path.join(workdir, "stream")
                    with open(stream, "wb") as f:
                        f.write(self.dump("serialize", path, cols, rows))
                    ours = self.dump("text", path, cols, rows).decode("utf-8")
                    theirs = tmux.screen(stream, cols, rows)
                    self.assertEqual(rows_of(ours), rows_of(theirs))


if __name__ == "__main__":
    unittest.main()

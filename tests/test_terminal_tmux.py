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
    """A private tmux server per screen, with one pane of a given size."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\n")
        self.count = 0

    def run(self, socket, *args, timeout=20):
        return subprocess.run(["tmux", "-S", socket, "-f", self.conf] + list(args),
                              capture_output=True, text=True, timeout=timeout)

    def screen(self, path, cols, rows):
        # A fresh socket each time: a server told to stop may still hold the
        # previous one for a while.
        self.count += 1
        socket = os.path.join(self.workdir, "tmux-%d" % self.count)
        marker = "mossbank-fed-%d" % self.count
        # The pane waits until it has its size, then gets the file's bytes
        # unchanged (output processing off) and a title after them: tmux reads
        # a pane's output in order, so once the title shows, every byte of the
        # file is on the screen.
        script = ("tmux -S '%s' wait-for go; stty -opost -echo; cat '%s'; "
                  "printf '\\033]2;%s\\007'; sleep 600") % (socket, path, marker)
        started = self.run(socket, "new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                           "sh", "-c", script)
        if started.returncode != 0:
            raise AssertionError("tmux did not start: " + started.stderr)
        try:
            self.run(socket, "resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))
            self.run(socket, "wait-for", "-S", "go")
            deadline = time.monotonic() + 20
            while self.run(socket, "display-message", "-p", "-t", "t",
                           "#{pane_title}").stdout.strip() != marker:
                if time.monotonic() > deadline:
                    raise AssertionError("tmux never showed the whole file " + path)
                time.sleep(0.02)
            return self.run(socket, "capture-pane", "-p", "-t", "t").stdout
        finally:
            self.run(socket, "kill-server")


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

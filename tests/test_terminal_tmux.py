"""The terminal emulator's plain screen text against tmux.

The same bytes are written to a tmux pane and fed to the emulator through
tools/terminal_dump text; both screens must read the same, row by row,
trailing spaces aside, with the cursor in the same place. The emulator's
serialised screen (terminal_dump serialize), written to a tmux pane of the same
size, must show the same text and cursor too. Skipped when tmux is not
installed.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unicodedata
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "src", "terminal", "testdata")
BUILD_DIR = os.environ.get("MOSSBANK_BUILD_DIR", "")
DUMP = os.path.join(BUILD_DIR, "tools", "terminal_dump") if BUILD_DIR else ""

# Fixture, size, and the size it is resized to before it is serialised.
SERIALIZED = [
    ("rt_colours.txt", 80, 24, None),
    ("rt_wide.txt", 80, 24, None),
    ("rt_wide.txt", 20, 6, None),
    ("rt_wraps.txt", 80, 24, None),
    ("rt_wraps.txt", 13, 7, None),
    ("rt_alt.txt", 40, 8, None),
    ("ascii.txt", 30, 10, None),
    ("cjk.txt", 13, 7, None),
    # Narrowing through a wide character: tmux itself keeps the character
    # past the new edge, so only the redraw is compared, and no row may be
    # wider than the screen.
    ("wide_cut_alt.txt", 20, 4, (10, 4)),
    ("wide_cut_cursor_row.txt", 20, 4, (10, 4)),
    # An insertion on a wide character's right half: tmux keeps the first
    # half beside the inserted blank, where it cannot be drawn; the
    # emulator blanks both halves, and the redraw must not move the row.
    ("ich_wide_half.txt", 10, 3, None),
    ("nowrap_last_column.txt", 10, 3, None),
    ("bom_line_start.txt", 10, 3, None),
    ("origin_cursor.txt", 20, 8, None),
]

CASES = [
    ("ascii.txt", 80, 24),
    ("wrap.txt", 80, 24),
    ("wrap.txt", 13, 7),
    ("tab.txt", 80, 24),
    ("tab.txt", 30, 10),
    ("cjk.txt", 80, 24),
    ("cjk.txt", 13, 7),
    ("nowrap_last_column.txt", 10, 3),
    ("bom_line_start.txt", 10, 3),
    ("origin_cursor.txt", 20, 8),
]


def rows_of(text):
    rows = [row.rstrip(" ") for row in text.split("\n")]
    while rows and rows[-1] == "":
        rows.pop()
    return rows


def columns(row):
    """The columns a row of the fixtures' text takes."""
    n = 0
    for ch in row:
        if unicodedata.category(ch) in ("Mn", "Me", "Cf"):
            continue
        n += 2 if unicodedata.east_asian_width(ch) in ("W", "F") else 1
    return n


class Tmux:
    """A private tmux server with one pane of a given size, a new server
    for every screen: a new session must not reach the previous server
    while it is still shutting down."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.screens = 0
        self.socket = None
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\n")

    def run(self, *args, timeout=20):
        return subprocess.run(["tmux", "-S", self.socket, "-f", self.conf] + list(args),
                              capture_output=True, text=True, timeout=timeout)

    def screen(self, path, cols, rows):
        """The pane's text and its cursor as "column,row"."""
        self.screens += 1
        # In the temporary directory, which takes the socket file with it.
        self.socket = os.path.join(self.workdir, "tmux-%d" % self.screens)
        marker = "mossbank-fed-%d" % self.screens
        # The pane waits until it has its size, then gets the file's bytes
        # unchanged (output processing off) and a title after them: tmux reads
        # a pane's output in order, so once the title shows, every byte of the
        # file is on the screen.
        script = ("tmux -S '%s' wait-for go; stty -opost -echo; cat '%s'; "
                  "printf '\\033]2;%s\\007'; sleep 600") % (self.socket, path, marker)
        started = self.run("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                           "sh", "-c", script)
        if started.returncode != 0:
            raise AssertionError("tmux did not start: " + started.stderr)
        try:
            self.run("resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))
            self.run("wait-for", "-S", "go")
            deadline = time.monotonic() + 20
            while self.run("display-message", "-p", "-t", "t", "#{pane_title}").stdout.strip() != marker:
                if time.monotonic() > deadline:
                    raise AssertionError("tmux never showed the whole of " + path)
                time.sleep(0.02)
            return (self.run("capture-pane", "-p", "-t", "t").stdout,
                    self.run("display-message", "-p", "-t", "t", "#{cursor_x},#{cursor_y}").stdout.strip())
        finally:
            self.run("kill-server")


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
@unittest.skipUnless(DUMP and os.access(DUMP, os.X_OK), "terminal_dump is not built")
class PlainTextMatchesTmux(unittest.TestCase):
    def dump(self, form, path, cols, rows, resize=None):
        args = [DUMP, form, "--cols", str(cols), "--rows", str(rows)]
        if resize:
            args += ["--resize", "%dx%d" % resize]
        return subprocess.run(args + [path], capture_output=True, check=True,
                              timeout=60).stdout

    def test_fixtures(self):
        with tempfile.TemporaryDirectory() as workdir:
            tmux = Tmux(workdir)
            for name, cols, rows in CASES:
                with self.subTest(fixture=name, cols=cols, rows=rows):
                    path = os.path.join(FIXTURES, name)
                    ours = self.dump("text", path, cols, rows).decode("utf-8")
                    text, cursor = tmux.screen(path, cols, rows)
                    self.assertEqual(rows_of(ours), rows_of(text))
                    self.assertEqual(self.dump("cursor", path, cols, rows).decode().strip(), cursor)

    def test_serialized_screens(self):
        with tempfile.TemporaryDirectory() as workdir:
            tmux = Tmux(workdir)
            for name, cols, rows, resize in SERIALIZED:
                with self.subTest(fixture=name, cols=cols, rows=rows, resize=resize):
                    path = os.path.join(FIXTURES, name)
                    stream = os.path.join(workdir, "stream")
                    with open(stream, "wb") as f:
                        f.write(self.dump("serialize", path, cols, rows, resize))
                    ours = self.dump("text", path, cols, rows, resize).decode("utf-8")
                    width, height = resize or (cols, rows)
                    for row in ours.split("\n"):
                        self.assertLessEqual(columns(row), width, row)
                    text, cursor = tmux.screen(stream, width, height)
                    self.assertEqual(rows_of(ours), rows_of(text))
                    self.assertEqual(self.dump("cursor", path, cols, rows, resize).decode().strip(),
                                     cursor)


if __name__ == "__main__":
    unittest.main()

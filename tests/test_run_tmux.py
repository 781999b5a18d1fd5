"""`mossbank run` inside tmux shows what the program shows when run bare.

A shell and a full-screen program (less on a long file, which uses the
alternate screen) are driven with the same keys twice, once bare and once
under `mossbank run` against a healthy stand-in daemon; tmux's captures of
the two panes must read the same, and the shell must be usable after the
wrapped program has ended. Skipped when tmux is not installed.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from support import harness
from support.standin import StandInDaemon


class Pane:
    """One program in a private tmux server's pane of a given size."""

    def __init__(self, workdir, name, command, env, cols=100, rows=30):
        self.socket = os.path.join(workdir, "tmux-" + name)
        self.conf = os.path.join(workdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\n")
        started = self.tmux("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                            "env", "-i", *("%s=%s" % kv for kv in env.items()), *command)
        if started.returncode != 0:
            raise AssertionError("tmux did not start: " + started.stderr)
        self.tmux("resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, "-f", self.conf] + list(args),
                              capture_output=True, text=True, timeout=20)

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def capture(self):
        return self.tmux("capture-pane", "-p", "-t", "t").stdout

    def wait_for(self, text, timeout=30):
        """The screen once it shows `text` (a text, or a check of the screen)
        and stays the same for a moment."""
        shows = text if callable(text) else lambda screen: text in screen
        deadline = time.monotonic() + timeout
        previous = None
        while time.monotonic() < deadline:
            screen = self.capture()
            if shows(screen) and screen == previous:
                return screen
            previous = screen
            time.sleep(0.1)
        raise AssertionError("%r did not show within %ss; the screen:\n%s" % (text, timeout, previous))

    def close(self):
        self.tmux("kill-server")


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class SameScreens(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.daemon.start()
        self.addCleanup(self.daemon.stop)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.env = harness.clean_env(self.daemon.home, TERM="xterm-256color", PS1="$ ")
        self.long_file = os.path.join(self.dir.name, "long.txt")
        with open(self.long_file, "w") as f:
            for i in range(500):
                f.write("line %d of a long file, with some words to wrap\n" % i)

    def pane(self, name, command):
        pane = Pane(self.dir.name, name, command, self.env)
        self.addCleanup(pane.close)
        return pane

    def drive(self, pane, inner):
        """The same keys for both panes after the inner shell has started
        and cleared the screen; the screens at each step, the last one
        after the inner shell has exited and the outer one took over."""
        pane.wait_for("$")
        pane.keys(inner, "Enter")
        # The inner shell's prompt below the command (however it wrapped):
        # keys typed before it would be echoed by the outer terminal.
        pane.wait_for(lambda screen: inner.replace(" ", "") in screen.replace(" ", "").replace("\n", "")
                      and screen.rstrip().endswith("\n$"))
        pane.keys("clear; echo inner-ready", "Enter")
        screens = [pane.wait_for("inner-ready\n$")]
        pane.keys("printf 'a\\tb\\n'; echo done-1", "Enter")
        screens.append(pane.wait_for("done-1\n"))
        pane.keys("less " + self.long_file, "Enter")
        screens.append(pane.wait_for("line 28 of"))
        pane.keys("Space")
        screens.append(pane.wait_for("line 56 of"))
        pane.keys("q")
        screens.append(pane.wait_for("less " + self.long_file))
        pane.keys("exit", "Enter")
        pane.wait_for("exit\n$")  # the outer shell's prompt again
        pane.keys("clear; echo outer-$((40+2))", "Enter")
        screens.append(pane.wait_for("outer-42\n$"))
        return screens

    def test_a_shell_and_less_look_the_same(self):
        shell = "bash --norc --noprofile"
        bare = self.drive(self.pane("bare", ["bash", "--norc", "--noprofile"]), shell)
        wrapped = self.drive(self.pane("wrapped", ["bash", "--norc", "--noprofile"]),
                             "%s run %s" % (self.bin, shell))
        self.assertEqual(len(bare), len(wrapped))
        for step, (a, b) in enumerate(zip(bare, wrapped)):
            self.assertEqual(a, b, "step %d differs" % step)


if __name__ == "__main__":
    unittest.main()

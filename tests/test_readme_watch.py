"""The README's way of watching a run without the desktop application: its
two commands, as written there, run against each other (the home folder
moved into a fresh temporary one, and build/mossbank the binary under
test)."""

import os
import re
import shlex
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from support.harness import REPO, BinaryTestCase, Pty, clean_env

SECTION = "## Watching a run without the desktop application"


def readme_commands():
    with open(os.path.join(REPO, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split(SECTION, 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```sh\n(.*?)```", section, re.S)
    return [line for block in blocks for line in block.splitlines() if line.strip()]


class Lines:
    """A program's output lines, gathered as they come."""

    def __init__(self, stream):
        self._stream = stream
        self._lines = []
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for line in stream:
            with self._cond:
                self._lines.append(line.rstrip("\n"))
                self._cond.notify_all()

    def close(self):
        """Once the program has ended: the rest is read, the pipe closed."""
        self._thread.join(10)
        self._stream.close()

    def text(self):
        with self._cond:
            return "\n".join(self._lines)

    def expect(self, pattern, timeout=10):
        """Waits for a line matching the regex `pattern`; returns it."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self._lines:
                    if regex.search(line):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no line like {pattern!r} in:\n" + "\n".join(self._lines[-60:]))
                self._cond.wait(left)


class ReadmeWatch(BinaryTestCase):
    def test_the_readme_commands_show_the_run(self):
        standin_line, run_line = readme_commands()
        standin = shlex.split(standin_line)
        run = shlex.split(run_line)
        self.assertEqual(standin[:2], ["python3", "tests/support/standin.py"])
        readme_home = standin[standin.index("--home") + 1]
        self.assertEqual(run, [f"MOSSBANK_HOME={readme_home}", "build/mossbank", "run", "bash"])

        with tempfile.TemporaryDirectory() as tmp:
            home = os.path.join(tmp, "village")
            standin[standin.index("--home") + 1] = home
            proc = subprocess.Popen(standin, cwd=REPO, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True)
            self.addCleanup(proc.kill)
            out = Lines(proc.stdout)
            out.expect(r"^village stand-in on 127\.0\.0\.1:\d+, home " + re.escape(home))

            env = clean_env(home, {"MOSSBANK_HOME": home})
            with Pty([self.bin] + run[2:], env, cols=80, rows=24) as term:
                term.expect(re.compile(rb"[$#] "), timeout=20)  # bash's prompt
                out.expect(r'^registration: \{"runId":"[^"]+","command":"bash"')
                out.expect(r"^command stream open .*: sent ready, watch, screens on$")
                out.expect(r"^frame H: the stream starts at output byte \d+$")
                term.write("echo hello-vil''lage\r")
                term.expect("hello-village")
                out.expect(r"^  \| hello-village$")
                out.expect(r"^screen 80x24, caret \d+,\d+, serialised \d+ bytes:$")
                out.expect(r"^frame D: \d+ bytes$")
                term.write("exit\r")
                self.assertEqual(term.wait(20), 0)
            out.expect(r"^output stream closed$")
            out.expect(r"^run [^ ]+ ended \(DELETE\)$")

            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(10), 0, out.text())
            out.close()


if __name__ == "__main__":
    unittest.main()

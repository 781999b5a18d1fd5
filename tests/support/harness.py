"""Helpers for tests of the real mossbank binary: finding it, running it with
a clean environment, and driving it inside a pseudo-terminal."""

import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import termios
import textwrap
import threading
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def binary_path():
    """MOSSBANK_BIN, else build/mossbank in the repository when it exists."""
    path = os.environ.get("MOSSBANK_BIN")
    if path:
        return path
    fallback = os.path.join(REPO, "build", "mossbank")
    return fallback if os.access(fallback, os.X_OK) else None


def require_binary():
    path = binary_path()
    if path is None:
        raise unittest.SkipTest("no mossbank binary: set MOSSBANK_BIN or build build/mossbank")
    return path


class BinaryTestCase(unittest.TestCase):
    """Skips the whole class when there is no binary; cls.bin is its path."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.bin = require_binary()


def clean_env(home, extra=None, **more):
    """A small environment: PATH, HOME and MOSSBANK_HOME = home, LANG=C.UTF-8.
    `extra`/keyword entries are added; a value of None removes the name."""
    env = {
        "PATH": os.environ.get("PATH", "/usr/local/bin:/usr/bin:/bin"),
        "HOME": str(home),
        "MOSSBANK_HOME": str(home),
        "LANG": "C.UTF-8",
    }
    for key, value in list((extra or {}).items()) + list(more.items()):
        if value is None:
            env.pop(key, None)
        else:
            env[key] = str(value)
    return env


def write_script(path, text, mode=0o755):
    """Writes `text` to `path` (making its folder), executable by default."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


def write_python(path, body):
    """An executable Python script of `body` (indented as in a test)."""
    return write_script(path, "#!/usr/bin/env python3\n" + textwrap.dedent(body))


def poll(predicate, timeout, what):
    """predicate()'s first truthy value, checked every 20 ms; fails after
    `timeout` seconds with `what` (a text, or a function giving one then)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(what() if callable(what) else what)
        time.sleep(0.02)


class Completed:
    def __init__(self, code, stdout, stderr):
        self.code, self.stdout, self.stderr = code, stdout, stderr

    def __repr__(self):
        return f"<exit {self.code} stdout={self.stdout[:400]!r} stderr={self.stderr[:400]!r}>"


def run(args, *, env, stdin=b"", timeout=10.0, cwd=None, binary=None):
    """Runs the binary with `args` (text or bytes), `env` as the whole
    environment and `stdin` bytes (None: the null device); returns Completed
    with stdout and stderr bytes and the exit code (negative: killed by that
    signal). Fails the test when it runs past `timeout`."""
    argv = [binary or require_binary()] + list(args)
    proc = subprocess.Popen(
        argv, env=env, cwd=cwd, start_new_session=True,
        stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(stdin, timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill_group(proc)
        out, err = proc.communicate()
        raise AssertionError(f"{argv[1:]} still ran after {timeout}s; stdout={out[-800:]!r} stderr={err[-800:]!r}")
    return Completed(proc.returncode, out, err)


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def set_window_size(fd, cols, rows):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))


def _take_controlling_terminal():
    # Runs in the child after setsid: make the pty (fd 0) its terminal.
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class Pty:
    """A program in a pseudo-terminal of its own (stdin, stdout and stderr),
    as a user's terminal would run it. Its output is gathered all the time.

        with Pty([bin, "run", "claude"], env, cols=100, rows=30) as term:
            term.expect(b"ready")
            term.write(b"hello\\r")
            code = term.wait(10)
    """

    def __init__(self, argv, env, *, cols=80, rows=24, cwd=None):
        self.master, slave = pty.openpty()
        set_window_size(self.master, cols, rows)
        # The terminal's settings before the program could change them.
        self.initial_termios = termios.tcgetattr(self.master)
        try:
            self.proc = subprocess.Popen(
                argv, env=env, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                start_new_session=True, preexec_fn=_take_controlling_terminal)
        finally:
            os.close(slave)
        self._out = bytearray()
        self._pos = 0  # where the next expect starts looking
        self._eof = False
        self._stop = False
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read_loop, name="pty-reader", daemon=True)
        self._reader.start()

    def _read_loop(self):
        while not self._stop:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if not ready:
                continue
            try:
                data = os.read(self.master, 65536)
            except OSError:  # EIO once every slave side is closed
                data = b""
            with self._cond:
                if not data:
                    self._eof = True
                    self._cond.notify_all()
                    return
                self._out += data
                self._cond.notify_all()

    @property
    def output(self):
        """Everything the program wrote so far."""
        with self._cond:
            return bytes(self._out)

    @property
    def output_length(self):
        """How many bytes the program wrote so far (without copying them)."""
        with self._cond:
            return len(self._out)

    def text(self):
        return self.output.decode("utf-8", "replace")

    def expect(self, pattern, timeout=5.0):
        """Waits until `pattern` (bytes or str: literal; a compiled bytes regex:
        searched) appears after the previous expect's match; returns the output
        up to the match's end (a re.Match for a regex). Fails on timeout or
        when the terminal closes first."""
        if isinstance(pattern, str):
            pattern = pattern.encode()
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                if isinstance(pattern, re.Pattern):
                    m = pattern.search(self._out, self._pos)
                    end = m.end() if m else -1
                    found = m
                else:
                    i = self._out.find(pattern, self._pos)
                    end = i + len(pattern) if i >= 0 else -1
                    found = bytes(self._out[self._pos:end]) if i >= 0 else None
                if end >= 0:
                    self._pos = end
                    return found
                left = deadline - time.monotonic()
                if self._eof or left <= 0:
                    why = "the terminal closed" if self._eof else f"{timeout}s passed"
                    tail = bytes(self._out[max(self._pos, len(self._out) - 1500):])
                    raise AssertionError(f"{why} before {pattern!r} appeared; output since last match: {tail!r}")
                self._cond.wait(min(left, 0.25))

    def write(self, data):
        """Types bytes (or text) into the terminal."""
        if isinstance(data, str):
            data = data.encode()
        while data:
            n = os.write(self.master, data)
            data = data[n:]

    def resize(self, cols, rows):
        """Sets the window size; the program gets SIGWINCH."""
        set_window_size(self.master, cols, rows)

    def wait(self, timeout=10.0):
        """The exit code once the program ends (negative: its signal)."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"still running after {timeout}s; output tail: {self.output[-1500:]!r}") from None

    def wait_closed(self, timeout=10.0):
        """Waits until every holder of the terminal has closed it: only then
        does `output` hold all that was written (the reader may still be
        behind when the program's exit is seen)."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while not self._eof:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"the terminal still open after {timeout}s")
                self._cond.wait(min(left, 0.25))

    @property
    def exit_code(self):
        return self.proc.poll()

    def signal(self, sig):
        self.proc.send_signal(sig)

    def close(self):
        """Kills what is left of the program's session and closes the pty."""
        _kill_group(self.proc)  # also what the program left behind in its session
        self.proc.wait(5)
        self._stop = True
        self._reader.join(2)
        os.close(self.master)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

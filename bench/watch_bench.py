#!/usr/bin/env python3
"""The cost of being watched: `mossbank run` passing an agent's output through
at full speed against the stand-in daemon running in a process of its own,
three ways: linked but unwatched; watched (the output stream open, every
frame sent, screens on); and linked to a daemon that proves itself and takes
the registration but never answers a post. The goal: each within 10% of the
unwatched time. With the watch on, the data frames the daemon received,
concatenated, must equal what the terminal got, byte for byte; the bench
says so for every run.

    bench/watch_bench.py [--size MB] [--repeat N] [--bin path/to/mossbank]

The agent waits for a line typed into its terminal before it writes the file
(text with colours and wide characters), so that the time counts from the
first byte to the last with the stream already attached."""

import argparse
import hashlib
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

from support.harness import clean_env, set_window_size  # noqa: E402
from support.standin import EventStreams, FrameReader, Reply, StandInDaemon  # noqa: E402

AGENT = r"""
import os, sys
sys.stdin.readline()
with open(sys.argv[1], "rb") as f:
    while True:
        data = f.read(1 << 16)
        if not data:
            break
        while data:
            data = data[os.write(1, data):]
os.write(1, b"\r\n--end of output--\r\n")
sys.stdin.readline()
"""
END_MARK = b"--end of output--"
END_RESET = re.compile(rb"(\x1b\[[?<>=]?[0-9;]*[A-Za-z])*")


def make_file(megabytes):
    path = "/tmp/mossbank-watch-bench-%dmb.txt" % megabytes
    if os.path.exists(path) and os.path.getsize(path) >= megabytes << 20:
        return path
    words = ["the", "agent", "writes", "\x1b[1;32mgreen\x1b[0m", "中文字符",
             "\x1b[38;5;208mcolour\x1b[m", "résumé", "한국어", "tests", "passed"]
    with open(path, "wb") as f:
        written, k = 0, 0
        while written < megabytes << 20:
            line = ""
            while len(line) < 90:
                line += words[k % 10] + " "
                k += 1
            data = (line + "\r\n").encode()
            f.write(data)
            written += len(data)
    return path


# -- the daemon's side, in a process of its own ------------------------------

def serve(home, mode):
    """Prints one JSON line per event: the port, each command stream, each
    output stream's head and its end (with the size and hash of its data).
    mode: "unwatched", "watched" or "silent" (posts are never answered)."""
    watch = mode == "watched"
    out_lock = threading.Lock()

    def say(**event):
        with out_lock:
            sys.stdout.write(json.dumps(event) + "\n")
            sys.stdout.flush()

    daemon = StandInDaemon(home=home)

    def on_commands(stream):
        stream.send("ready", "{}")
        if watch:
            stream.send("command", {"type": "screens", "on": True})
            stream.send("command", {"type": "watch", "join": "bench"})
        say(event="commands")

    daemon.commands = EventStreams(daemon, on_open=on_commands)

    def output(ex):
        ex.send_head(200, [("content-type", "text/plain")], chunked=True)
        reader = FrameReader()
        digest = hashlib.sha256()
        start, size, others = None, 0, []
        while True:
            piece = ex.read_piece()
            if piece is None:
                break
            for frame in reader.feed(piece):
                if frame.kind == "D":
                    digest.update(frame.body)
                    size += len(frame.body)
                elif frame.kind == "H" and start is None:
                    start = frame.offset
                    say(event="attached", start=start)
                else:
                    others.append(frame.kind)
        if ex.request.complete:
            ex.write(b"0\r\n\r\n")
        ex.keep_alive = False
        say(event="stream", start=start, bytes=size, sha256=digest.hexdigest(),
            complete=ex.request.complete, others=others)

    daemon.route(re.compile(r"^/api/runs/[^/?]+/output$"), output, method="POST")
    if mode == "silent":
        daemon.route(re.compile(r"^/api/runs/[^/?]+/(activity|screen|colours|typed|command)$"),
                     Reply.hang(), method="POST")
    say(event="port", port=daemon.port)
    sys.stdin.read()  # until the bench closes the pipe
    daemon.close()


class Daemon:
    def __init__(self, home, mode):
        self.proc = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--serve", home, "--mode", mode],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.events = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.wait("port")

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.events.append(json.loads(line))
                self.cond.notify_all()

    def wait(self, kind, after=0, timeout=30):
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i, e in enumerate(self.events[after:], after):
                    if e["event"] == kind:
                        return i, e
                left = deadline - time.monotonic()
                if left <= 0:
                    raise SystemExit(f"the daemon sent no {kind!r} event; got {self.events}")
                self.cond.wait(left)

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


# -- the user's side ----------------------------------------------------------

def one_run(binary, file, home, daemon, mode):
    """(seconds from the first byte asked for to the last shown, the CPU
    seconds of the wrapper and its agent, the run's output, the stream's
    summary or None unwatched)."""
    mark = len(daemon.events)
    master, slave = os.openpty()
    set_window_size(master, 120, 40)
    env = clean_env(home)
    proc = subprocess.Popen([binary, "run", sys.executable, "-c", AGENT, file], env=env,
                            stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
    os.close(slave)
    watch = mode == "watched"
    daemon.wait("attached" if watch else "commands", mark)
    shown = bytearray()
    os.write(master, b"\r")
    start = time.monotonic()
    while END_MARK not in shown[-4096:]:
        ready, _, _ = select.select([master], [], [], 30)
        if not ready:
            raise SystemExit("the run stopped writing")
        shown += os.read(master, 1 << 16)
    seconds = time.monotonic() - start
    os.write(master, b"\r")
    while True:
        try:
            data = os.read(master, 1 << 16)
        except OSError:
            break
        if not data:
            break
        shown += data
    _, _, usage = os.wait4(proc.pid, 0)
    proc.returncode = 0
    os.close(master)
    stream = daemon.wait("stream", mark)[1] if watch else None
    return seconds, usage.ru_utime + usage.ru_stime, bytes(shown), stream


def check_stream(shown, stream):
    """Whether the stream's data is what the terminal got from its start on."""
    start, size = stream["start"], stream["bytes"]
    rest = shown[start + size:]
    return (stream["complete"] and not stream["others"]
            and hashlib.sha256(shown[start:start + size]).hexdigest() == stream["sha256"]
            and END_RESET.fullmatch(rest) is not None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", type=int, default=32, help="megabytes of output (default 32)")
    parser.add_argument("--repeat", type=int, default=5, help="runs of each kind (default 5)")
    parser.add_argument("--bin", default=os.environ.get("MOSSBANK_BIN") or
                        os.path.join(HERE, "..", "build", "mossbank"))
    parser.add_argument("--serve", help=argparse.SUPPRESS)
    parser.add_argument("--mode", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve:
        return serve(args.serve, args.mode)

    file = make_file(args.size)
    size_mb = os.path.getsize(file) / (1 << 20)
    work = tempfile.mkdtemp(prefix="mossbank-watch-bench-")
    modes = ("unwatched", "watched", "silent")
    times = {m: [] for m in modes}
    cpu = {m: [] for m in modes}
    all_equal = True
    daemons = {}
    try:
        for mode in modes:
            home = os.path.join(work, mode)
            os.makedirs(home)
            daemons[mode] = (home, Daemon(home, mode))
        # Turn about, so that the machine's load drifts over all alike.
        for _ in range(args.repeat):
            for mode in modes:
                home, daemon = daemons[mode]
                seconds, cpu_seconds, shown, stream = one_run(args.bin, file, home, daemon, mode)
                times[mode].append(seconds)
                cpu[mode].append(cpu_seconds)
                if stream is not None and not check_stream(shown, stream):
                    all_equal = False
                    print("the stream's frames differ from the output:", stream)
    finally:
        for _, daemon in daemons.values():
            daemon.close()
        shutil.rmtree(work, ignore_errors=True)
    best = {m: min(t) for m, t in times.items()}
    median = {m: sorted(t)[len(t) // 2] for m, t in times.items()}
    best_cpu = {m: min(c) for m, c in cpu.items()}
    names = {"unwatched": "unwatched", "watched": "watched (stream on)",
             "silent": "posts never answered"}
    print("%-22s %8s %8s %10s %14s" % ("", "best s", "MB/s", "median s", "CPU s (run)"))
    for mode in modes:
        print("%-22s %8.3f %8.1f %10.3f %14.3f" % (
            names[mode], best[mode], size_mb / best[mode], median[mode], best_cpu[mode]))
    for mode in modes[1:]:
        print("%s takes %+.1f%% of the unwatched time at best, %+.1f%% at the median (goal: within 10%%)" % (
            names[mode], (best[mode] / best["unwatched"] - 1) * 100,
            (median[mode] / median["unwatched"] - 1) * 100))
    print("frames equal to the output in every watched run: %s" % ("yes" if all_equal else "NO"))
    return 0 if all_equal else 1


if __name__ == "__main__":
    sys.exit(main())

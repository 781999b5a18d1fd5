#!/usr/bin/env python3
"""How fast the village's commands reach the agent: the time from a `stop`
pushed on the command stream to the agent's SIGHUP, and from a `resize` to
the agent's SIGWINCH (goal: each under 5 ms median).

`mossbank run` runs in a pseudo-terminal against the stand-in daemon of
tests/; the agent waits for the signal in sigwait and writes the monotonic
clock, which the benchmark compares with the clock read just before the
event was written to the stream.

    bench/link_bench.py [path/to/mossbank] [--runs N] [--resizes N]
"""

import argparse
import os
import statistics
import sys
import tempfile
import textwrap
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

from support import harness  # noqa: E402
from support.standin import StandInDaemon  # noqa: E402

AGENT = """
    import os, signal, sys, time
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGWINCH, signal.SIGHUP})
    os.write(1, b"ready\\n")
    while True:
        sig = signal.sigwait({signal.SIGWINCH, signal.SIGHUP})
        now = time.monotonic()
        name = "HUP" if sig == signal.SIGHUP else "WINCH"
        os.write(1, f"{name} {now:.6f}\\n".encode())
        if sig == signal.SIGHUP:
            sys.exit(0)
"""


def figures(name, samples):
    ms = sorted(s * 1000 for s in samples)
    p90 = ms[int(len(ms) * 0.9) - 1] if len(ms) >= 10 else ms[-1]
    print(f"{name:<18} n={len(ms):<4} median {statistics.median(ms):7.3f} ms   "
          f"p90 {p90:7.3f} ms   max {ms[-1]:7.3f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary", nargs="?", default=os.path.join(HERE, "..", "build", "mossbank"))
    parser.add_argument("--runs", type=int, default=20, help="runs stopped (one stop each)")
    parser.add_argument("--resizes", type=int, default=10, help="resizes per run")
    args = parser.parse_args()

    stops, resizes = [], []
    with StandInDaemon() as daemon, tempfile.TemporaryDirectory() as work:
        agent = os.path.join(work, "agent")
        with open(agent, "w") as f:
            f.write("#!/usr/bin/env python3\n" + textwrap.dedent(AGENT))
        os.chmod(agent, 0o755)
        for run in range(args.runs):
            with harness.Pty([args.binary, "run", agent], harness.clean_env(daemon.home)) as term:
                term.expect("ready", timeout=20)
                stream = daemon.commands.wait_open(run + 1, timeout=20)
                for i in range(args.resizes):
                    cols = 81 + i % 2
                    sent = time.monotonic()
                    stream.send("command", {"type": "resize", "cols": cols, "rows": 30})
                    got = term.expect(__import__("re").compile(rb"WINCH ([0-9.]+)\r\n"), timeout=10)
                    resizes.append(float(got.group(1)) - sent)
                sent = time.monotonic()
                stream.send("command", {"type": "stop"})
                got = term.expect(__import__("re").compile(rb"HUP ([0-9.]+)\r\n"), timeout=10)
                stops.append(float(got.group(1)) - sent)
                term.wait(10)
    figures("stop -> SIGHUP", stops)
    figures("resize -> SIGWINCH", resizes)


if __name__ == "__main__":
    main()

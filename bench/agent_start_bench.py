#!/usr/bin/env python3
"""Time from start to the idle input box of real Claude Code and Codex, bare
and under `mossbank run` (linked to a healthy stand-in daemon), in tmux.

    bench/agent_start_bench.py [--runs N] [--bin build/mossbank]

Needs tests/agents/node_modules (setup.sh) and tmux. Prints the median and
the spread of each, and the wrapper's extra time.
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "tests")
sys.path.insert(0, TESTS)
sys.path.insert(0, os.path.join(TESTS, "agents"))

import tmux_agent  # noqa: E402
from support.model_standin import ModelStandIn  # noqa: E402
from support.standin import StandInDaemon  # noqa: E402

IDLE = tmux_agent.INPUT_BOX


def time_to_idle(name, binary, daemon):
    with ModelStandIn() as model, tmux_agent.AgentSandbox() as box:
        setup = tmux_agent.setup_agent(name, box, model)
        argv, env = setup.argv, dict(setup.env)
        if daemon is not None:
            argv = [binary, "run", "--"] + argv
            env["MOSSBANK_HOME"] = daemon.home
        start = time.monotonic()
        with tmux_agent.TmuxAgent(argv, env=env, cwd=box.project, cols=100, rows=30) as agent:
            agent.wait_for(IDLE[name], 90)
            return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--bin", default=os.path.join(HERE, "..", "build", "mossbank"))
    args = parser.parse_args()
    reason = tmux_agent.missing_reason(tuple(IDLE))
    if reason:
        sys.exit(reason)
    with StandInDaemon() as daemon:
        for name in IDLE:
            bare, wrapped = [], []
            for _ in range(args.runs):  # interleaved, so load hits both alike
                bare.append(time_to_idle(name, args.bin, None))
                wrapped.append(time_to_idle(name, args.bin, daemon))
            b, w = statistics.median(bare), statistics.median(wrapped)
            print("%-7s bare %.2f s (%.2f-%.2f)   wrapped %.2f s (%.2f-%.2f)   extra %+.2f s"
                  % (name, b, min(bare), max(bare), w, min(wrapped), max(wrapped), w - b))


if __name__ == "__main__":
    main()

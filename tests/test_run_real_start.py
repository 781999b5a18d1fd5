"""Real Claude Code and Codex start under `mossbank run` as they start bare.

Each agent is started in tmux twice from the same sandbox folder, once bare
and once under `mossbank run` linked to a healthy stand-in daemon; both must
reach their idle input box, and the first screen must read the same (the
lines an agent fills with a random tip aside). The wrapped run registers
with the daemon. Skipped when tests/agents/node_modules or tmux is missing.
The start-up times are a benchmark's business (bench/agent_start_bench.py).
"""

import os
import re
import sys
import tempfile
import unittest

from support import harness
from support.standin import StandInDaemon

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "agents"))

import tmux_agent  # noqa: E402
from support.model_standin import ModelStandIn  # noqa: E402

DEADLINE = 90.0
IDLE = tmux_agent.INPUT_BOX
# Lines an agent draws differently from one start to the next.
CHANGING = re.compile(r"Tip:|tip|Welcome back|\d+ ?(ms|s)\b|[0-9a-f]{8}-[0-9a-f]{4}-", re.I)


# Codex's start-up animation, drawn in braille cells, may or may not still
# be on screen when the box settles: its rows read as blank.
ANIMATION = re.compile("[\u2800-\u28ff]")


def steady_lines(screen):
    return ["" if ANIMATION.search(line) else line.rstrip()
            for line in screen.split("\n") if not CHANGING.search(line)]


class RealAgentsStart(harness.BinaryTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        reason = tmux_agent.missing_reason(tuple(IDLE))
        if reason:
            raise unittest.SkipTest(reason)

    def first_screen(self, name, wrap, root, daemon=None):
        with ModelStandIn() as model, tmux_agent.AgentSandbox(root=root) as box:
            setup = tmux_agent.setup_agent(name, box, model)
            argv, env = setup.argv, dict(setup.env)
            if wrap:
                argv = [self.bin, "run", "--"] + argv
                env["MOSSBANK_HOME"] = daemon.home
            with tmux_agent.TmuxAgent(argv, env=env, cwd=box.project, cols=100, rows=30) as agent:
                agent.wait_for(IDLE[name], DEADLINE)
                agent.settle(quiet=0.5, limit=5.0)
                return agent.screen()

    def check(self, name):
        root = os.path.join(tempfile.gettempdir(), "mossbank-start-%s-%d" % (name, os.getpid()))
        bare = self.first_screen(name, False, root)
        with StandInDaemon() as daemon:
            wrapped = self.first_screen(name, True, root, daemon)
            registration = daemon.wait_request("/api/runs")
            self.assertEqual(registration.json()["command"], tmux_agent.agent_bin(name))
        self.assertEqual(steady_lines(wrapped), steady_lines(bare))

    def test_claude(self):
        self.check("claude")

    def test_codex(self):
        self.check("codex")


if __name__ == "__main__":
    unittest.main()

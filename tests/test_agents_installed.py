"""The real coding agents installed under tests/agents run here: each reaches
its idle input box against the model stand-in, and a message typed into it
reaches the stand-in as the user's message, whose answer the agent shows.

Skipped when tests/agents/node_modules or tmux is missing (setup.sh
installs both). Every wait is bounded and generous: a loaded machine makes
the agents slow to start.
"""

import os
import re
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "agents"))

import tmux_agent  # noqa: E402
from support.model_standin import ModelStandIn  # noqa: E402

DEADLINE = 90.0

# agent, its idle input box (a regex on the screen): Codex's with its placeholder
AGENTS = dict(tmux_agent.INPUT_BOX, codex=r"^› Ask Codex to do anything")


class AgentsInstalledTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        reason = tmux_agent.missing_reason(tuple(AGENTS))
        if reason:
            raise unittest.SkipTest(reason)

    def check_agent(self, name):
        message = f"hello from the {name} test, 你好"
        answer = f"The stand-in answers {name}."
        with ModelStandIn() as model, tmux_agent.AgentSandbox() as box:
            model.reply_text(answer)
            setup = tmux_agent.setup_agent(name, box, model)
            with tmux_agent.TmuxAgent(setup.argv, env=setup.env, cwd=box.project, cols=100, rows=30) as agent:
                agent.wait_for(AGENTS[name], DEADLINE)
                # Some agents draw their first screen twice and drop keys typed in between.
                agent.settle()
                agent.type(message)
                agent.wait_for(re.escape(message), DEADLINE)
                agent.keys("Enter")
                # user_text(): the text of the last message whose role is "user".
                model.wait_request(lambda r: r.is_turn and message in r.user_text(), DEADLINE)
                agent.wait_for(re.escape(answer), DEADLINE)

    def test_claude(self):
        self.check_agent("claude")

    def test_codex(self):
        self.check_agent("codex")


if __name__ == "__main__":
    unittest.main()

"""The real Claude Code and Codex under `mossbank run`, linked to the
stand-in daemon, each talking to the model stand-in, in a tmux pane.

What the village does, through the command stream: a `talk` reaches the
model as the user's message and the activity post after it reads working
and asked; while the agent asks for approval the wrapper sees the question
(an interrupt is refused with "permission", and the screen snapshots the
daemon receives show it); a `keys` with that menu's signature answers it and
the tool call goes on; an `interrupt` stops a turn in progress; a `restart`
brings the same conversation back.

The village reads a menu's signature from the screen snapshots; here the
build's screen probe reads it from the same snapshot text. Skipped when the
agents (tests/agents/node_modules), tmux or the probe are missing. Every wait
is bounded and generous: a loaded machine makes the agents slow.
"""

import glob
import json
import os
import re
import subprocess
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
COLS, ROWS = 100, 30


def probe_path():
    build = os.environ.get("MOSSBANK_BUILD_DIR") or os.path.join(harness.REPO, "build")
    path = os.path.join(build, "tools", "screen_probe")
    return path if os.access(path, os.X_OK) else None


class RealAgent(harness.BinaryTestCase):
    """One agent under the wrapper; subclasses name it and how it looks."""

    agent = None
    prompt = None     # its idle input box, a regex on the screen
    question = None   # its approval question, a regex on the screen

    @classmethod
    def setUpClass(cls):
        if cls.agent is None:
            raise unittest.SkipTest("the shared part of the agent tests")
        super().setUpClass()
        reason = tmux_agent.missing_reason((cls.agent,))
        if reason:
            raise unittest.SkipTest(reason)
        cls.probe = probe_path()
        if cls.probe is None:
            raise unittest.SkipTest("no screen probe: build tools/screen_probe (MOSSBANK_BUILD_DIR)")

    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.box = tmux_agent.AgentSandbox()
        self.addCleanup(self.box.close)
        self.model = ModelStandIn()
        self.addCleanup(self.model.stop)
        setup = tmux_agent.setup_agent(self.agent, self.box, self.model)
        env = dict(setup.env, MOSSBANK_HOME=self.daemon.home)
        self.pane = tmux_agent.TmuxAgent([self.bin, "run", *setup.argv], env=env, cwd=self.box.project,
                                         cols=COLS, rows=ROWS)
        self.pane.start()
        self.addCleanup(self.pane.close)
        self.stream = self.daemon.commands.wait_open(1, timeout=DEADLINE)
        self.registration = self.daemon.wait_request("/api/runs", method="POST", timeout=DEADLINE).json()
        self.run_id = self.registration["runId"]
        self.request_ids = 0
        self.pane.wait_for(self.prompt, DEADLINE)
        self.quiet()

    # -- what the daemon received ------------------------------------------

    def posts(self, suffix):
        path = f"/api/runs/{self.run_id}{suffix}"
        return [r for r in self.daemon.requests(path, method="POST") if r.complete]

    def quiet(self):
        """Until the wrapper reports the agent at rest."""
        self.daemon.wait_until(lambda: (lambda p: p and p[-1].json()["working"] is False)(
            self.posts("/activity")), DEADLINE, "the agent at rest")

    def ask(self, command):
        """Sends a request; its outcome word, and the result post."""
        self.request_ids += 1
        request_id = f"r{self.request_ids}"
        self.stream.send("command", {**command, "requestId": request_id})
        result = self.daemon.wait_until(
            lambda: [r for r in self.posts("/talk-result") if r.json()["requestId"] == request_id],
            DEADLINE, f"the result of {command}")[0]
        return result.json()["outcome"], result

    def talk(self, text):
        outcome, result = self.ask({"type": "talk", "text": text})
        self.assertEqual(outcome, "sent")
        if self.registration.get("receipts"):
            # Claude Code's receipt follows; the gate is free after it.
            request_id = result.json()["requestId"]
            self.daemon.wait_until(
                lambda: [r for r in self.posts("/talk-receipt") if r.json()["requestId"] == request_id],
                DEADLINE, "the receipt")
        return result

    def read_snapshot(self, snapshot):
        """The screen probe on a snapshot's styled text."""
        data = snapshot["coloured"].replace("\n", "\r\n").encode()
        with tempfile.NamedTemporaryFile(suffix=".raw") as f:
            f.write(data)
            f.flush()
            out = subprocess.run([self.probe, "--agent", self.agent, "--cols", str(snapshot["cols"]),
                                  "--rows", str(snapshot["rows"]), f.name],
                                 capture_output=True, check=True, timeout=DEADLINE)
        return json.loads(out.stdout)

    def snapshot_asking(self):
        """The first screen snapshot on which the wrapper's readers see the
        approval question, and what they read on it."""
        def asking():
            for post in reversed(self.posts("/screen")):
                read = self.read_snapshot(post.json())
                if read["awaiting_approval"] and read["read_menu"]:
                    return read
            return None
        return self.daemon.wait_until(asking, DEADLINE, "a snapshot with the question")

    def press_until_answered(self, keys, tries=5):
        """Sends the keys until the question goes: Claude Code drops the keys
        that reach its permission dialog in the first moments after it shows
        (the request is "sent" all the same), so a person's second press is
        what answers it then."""
        for _ in range(tries):
            self.assertEqual(self.ask(keys)[0], "sent")
            try:
                self.pane.wait_for(self.question, 5.0, absent=True)
                return
            except tmux_agent.TmuxError:
                continue
        self.fail(f"the question stayed after {tries} presses")

    def user_texts(self, turn):
        return "\n".join(turn.user_texts())

    # -- the tests ------------------------------------------------------------

    def test_talk_approval_and_keys(self):
        self.model.reply_tool("touch notes.txt")
        self.model.reply_text("Created notes.txt.")
        result = self.talk("please create notes.txt")
        self.assertIn("please create notes.txt", self.model.wait_turn(1, DEADLINE).user_text())
        # The first activity after the talk: the agent works, asked by the village.
        self.daemon.wait_until(lambda: [a for a in self.posts("/activity") if a.seq > result.seq],
                               DEADLINE, "the activity after the talk")
        after = [a.json() for a in self.posts("/activity") if a.seq > result.seq]
        self.assertEqual(after[0], {"working": True, "asked": True})

        self.pane.wait_for(self.question, DEADLINE)
        read = self.snapshot_asking()
        self.assertEqual(self.ask({"type": "interrupt"})[0], "permission")
        menu = read["read_menu"]
        self.assertEqual(menu["selected"], 0)
        # A signature the screen does not show is refused; the one it shows is pressed.
        keys = {"type": "keys", "keys": "\r", "expect": {"signature": menu["text"] + "!", "selected": 0}}
        self.assertEqual(self.ask(keys)[0], "failed")
        keys["expect"]["signature"] = menu["text"]
        self.press_until_answered(keys)

        # The tool call goes on: the command ran and its result went back.
        second = self.model.wait_turn(2, DEADLINE)
        self.assertTrue(os.path.exists(os.path.join(self.box.project, "notes.txt")))
        self.assertIn("touch notes.txt", json.dumps(second.json))
        self.pane.wait_for(r"Created notes\.txt\.", DEADLINE)

    def test_interrupt_stops_a_turn(self):
        hold = self.model.reply_hold()
        self.talk("count slowly to a million")
        hold.wait_started(DEADLINE)
        self.pane.wait_for(r"(?i)esc to interrupt", DEADLINE)
        self.assertEqual(self.ask({"type": "interrupt"})[0], "sent")
        hold.wait_cancelled(DEADLINE)

    def test_restart_brings_the_conversation_back(self):
        self.model.reply_text("Noted: heron.")
        self.talk("remember the word heron")
        self.model.wait_turn(1, DEADLINE)
        self.pane.wait_for(r"Noted: heron\.", DEADLINE)
        self.quiet()
        session = self.session_id()
        self.assertEqual(self.ask({"type": "restart", "sessionId": session})[0], "sent")

        # The same run registers again under its id; the agent comes back.
        again = self.daemon.wait_request("/api/runs", 2, method="POST", timeout=DEADLINE).json()
        self.assertEqual(again["runId"], self.run_id)
        self.stream = self.daemon.commands.wait_open(2, timeout=DEADLINE)
        self.pane.wait_for(r"starting the agent again in the same conversation", DEADLINE)
        self.pane.wait_for(self.prompt, DEADLINE)
        self.pane.wait_for(r"remember the word heron", DEADLINE)
        self.quiet()
        self.model.reply_text("The word was heron.")
        self.talk("which word did I ask you to remember?")
        turn = self.model.wait_turn(2, DEADLINE)
        self.assertIn("remember the word heron", self.user_texts(turn))
        self.assertIn("which word did I ask you to remember?", self.user_texts(turn))


class ClaudeCode(RealAgent):
    agent = "claude"
    prompt = tmux_agent.INPUT_BOX["claude"]
    question = r"Do you want to proceed\?"

    def session_id(self):
        return self.registration["sessionId"]


class Codex(RealAgent):
    agent = "codex"
    prompt = tmux_agent.INPUT_BOX["codex"]
    question = r"Would you like to run the following command\?"

    def session_id(self):
        # Codex names its conversation in its record's file name.
        found = glob.glob(os.path.join(self.box.home, ".codex", "sessions", "**", "rollout-*.jsonl"),
                          recursive=True)
        self.assertEqual(len(found), 1, found)
        return re.search(r"([0-9a-f]{8}-(?:[0-9a-f]{4}-){3}[0-9a-f]{12})\.jsonl$", found[0]).group(1)




if __name__ == "__main__":
    unittest.main()

"""`mossbank run` answering the village's keys, interrupt and restart
requests, against the stand-in daemon in a real pseudo-terminal.

The agent is tests/support/replay_agent.py under an agent's name on PATH: for
Claude Code and Codex it draws screens recorded from the real agents, and
it logs its arguments, its environment and every key it reads. Restarts
are followed through the agent's second start (its arguments are the
resume arguments) and, with the upgrade flag, through a successor program
that replaces the wrapper and records what it was given.
"""

import json
import os
import re
import shutil
import signal
import tempfile
import termios
import threading
import time
import unittest

from support import harness
from support.standin import Reply, StandInDaemon

HERE = os.path.dirname(os.path.abspath(__file__))
AGENT = os.path.join(HERE, "support", "replay_agent.py")
SESSION = "0f8fad5b-d9cb-469f-a165-70867728950e"
STARTING_AGAIN = "Mossbank: starting the agent again in the same conversation\u2026"


def approval_signature():
    """The menu of the recorded Claude Code approval question (approval-bash),
    as the village reads it; the recording's project folder is in it."""
    path = os.path.join(os.path.dirname(HERE), "src", "screen", "testdata", "agents", "claude",
                        "approval-bash-80x24.txt")
    with open(path, encoding="utf-8") as f:
        project = re.search(r"allow access to (\S+)", f.read()).group(1)
    return ("Bash command\nRun a shell command\ntouch notes.txt\nDo you want to proceed?\n1. Yes\n"
            f"2. Yes, and always allow access to {project} from this project\n"
            "3. Yes, and switch to auto mode \u00b7 auto mode handles these prompts for you\n4. No")

PATIENCE = 20

# A successor program: records its arguments and environment, then ends
# with 7 so the test sees that it replaced the wrapper.
SUCCESSOR = """\
#!/usr/bin/env python3
import json, os, sys
names = ["MOSSBANK_RUN_UPGRADE_ID", "MOSSBANK_RUST_HANDOVER", "ELECTRON_RUN_AS_NODE"]
with open({log!r}, "w") as f:
    json.dump({{"argv": sys.argv[1:], "env": {{n: os.environ.get(n) for n in names}},
               "pid": os.getpid()}}, f)
sys.exit(7)
"""


class AgentRun(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.bin_dir = os.path.join(self.dir, "bin")
        os.mkdir(self.bin_dir)
        self.log = os.path.join(self.dir, "agent.log")
        self.fifo = os.path.join(self.dir, "control")
        os.mkfifo(self.fifo)
        self.control_fd = os.open(self.fifo, os.O_RDWR | os.O_NONBLOCK)
        self.addCleanup(os.close, self.control_fd)
        self.marks = 0
        self.request_ids = 0

    def start(self, name, *args, binary=None, **env):
        os.symlink(AGENT, os.path.join(self.bin_dir, name))
        full_env = harness.clean_env(self.daemon.home, env, REPLAY_AGENT_LOG=self.log,
                                     REPLAY_AGENT_CONTROL=self.fifo)
        full_env["PATH"] = self.bin_dir + ":" + full_env["PATH"]
        self.term = harness.Pty([binary or self.bin, "run", name, *args], full_env, cols=80, rows=24,
                                cwd=self.dir)
        self.addCleanup(self.term.close)
        self.stream = self.daemon.commands.wait_open(1, timeout=PATIENCE)
        self.run_id = self.daemon.wait_request("/api/runs", method="POST", timeout=PATIENCE).json()["runId"]
        self.wait_events("start")
        return self.term

    # -- the agent's log ----------------------------------------------------

    def events(self, kind=None):
        try:
            with open(self.log) as f:
                found = [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []
        return [e for e in found if kind is None or e["event"] == kind]

    def wait_events(self, kind, n=1, timeout=PATIENCE):
        def found():
            events = self.events(kind)
            return events if len(events) >= n else None
        return harness.poll(found, timeout, lambda: f"no {n} {kind!r} events in {timeout}s; log: {self.events()}")

    def keys(self):
        return "".join(e["data"] for e in self.events("keys"))

    def wait_keys(self, want, timeout=PATIENCE):
        harness.poll(lambda: self.keys() == want, timeout, lambda: f"the agent read {self.keys()!r}, not {want!r}")

    def control(self, command):
        """A command to the agent, once it has carried it out."""
        count = lambda: len([e for e in self.events("done") if e["command"] == command])
        done = count()
        os.write(self.control_fd, (command + "\n").encode())
        harness.poll(lambda: count() > done, PATIENCE, f"the agent did not do {command!r}")

    def sync(self):
        """Waits until the wrapper's screen holds everything the agent drew:
        the pump reads in order, so once a second mark drawn after the first
        one was seen reaches the terminal, the first and all before it have
        passed the screen."""
        for _ in range(2):
            self.marks += 1
            self.control(f"mark {self.marks}")
            self.term.expect(f"mark {self.marks}\x07", timeout=PATIENCE)

    def show(self, screen):
        self.control(f"show {screen}" if not screen.startswith("text ") else screen)
        self.sync()

    # -- the village ----------------------------------------------------------

    def ask(self, command):
        """Sends a request and returns its outcome word."""
        self.request_ids += 1
        request_id = f"r{self.request_ids}"
        self.stream.send("command", {**command, "requestId": request_id})
        path = f"/api/runs/{self.run_id}/talk-result"
        answer = self.daemon.wait_until(
            lambda: [r for r in self.daemon.requests(path, method="POST")
                     if r.complete and r.json()["requestId"] == request_id], PATIENCE,
            f"the result of {command}")[0].json()
        self.assertEqual(list(answer), ["requestId", "outcome"])
        return answer["outcome"]

    def nothing_more_typed(self, keys):
        """Nothing reached the agent after `keys`, up to a sync."""
        self.sync()
        self.assertEqual(self.keys(), keys)

    def quiet(self):
        """Waits until the wrapper has told the village that the agent is not
        working (drawing a screen counts as work until the output lapses)."""
        path = f"/api/runs/{self.run_id}/activity"
        self.daemon.wait_until(
            lambda: (lambda posts: posts and posts[-1].json()["working"] is False)(
                [r for r in self.daemon.requests(path, method="POST") if r.complete]),
            PATIENCE, "the agent at rest")

    def restart(self, **extra):
        """A restart, once the agent rests (a working agent is not restarted).
        The village may hear of the rest before it hears of the work that a
        screen just drawn began: "busy" presses nothing, so it is asked again."""
        self.quiet()
        deadline = time.monotonic() + PATIENCE
        while True:
            word = self.ask({"type": "restart", "sessionId": SESSION, **extra})
            if word != "busy" or time.monotonic() > deadline:
                return word
            time.sleep(0.05)


class Keys(AgentRun):
    def test_keys_answer_only_the_menu_the_village_saw(self):
        self.start("claude")
        self.show("approval-bash-80x24")
        signature = approval_signature()
        keys = {"type": "keys", "keys": "1", "expect": {"signature": signature, "selected": 0}}
        self.assertEqual(self.ask(keys), "sent")
        self.wait_keys("1")

        # Another selection, or another menu on the screen: refused.
        self.assertEqual(self.ask({**keys, "expect": {"signature": signature, "selected": 1}}),
                         "failed")
        self.show("trust-80x24")
        self.assertEqual(self.ask(keys), "failed")
        self.nothing_more_typed("1")


class Interrupt(AgentRun):
    def test_claude_is_interrupted_with_esc_unless_a_question_waits(self):
        self.start("claude")
        self.sync()
        self.assertEqual(self.ask({"type": "interrupt"}), "sent")
        self.wait_keys("\x1b")
        self.show("approval-bash-80x24")
        self.assertEqual(self.ask({"type": "interrupt"}), "permission")
        self.nothing_more_typed("\x1b")

    def test_opencode_gets_two_esc_even_when_idle(self):
        self.start("opencode")
        self.show("text " + json.dumps("  ┃  Ask anything...\n"))
        self.assertEqual(self.ask({"type": "interrupt"}), "sent")
        self.wait_keys("\x1b\x1b")

    def test_grok_gets_ctrl_c_only_while_it_works(self):
        self.start("grok")
        self.show("text " + json.dumps("> "))
        self.assertEqual(self.ask({"type": "interrupt"}), "empty")
        self.show("text " + json.dumps("\u280b Thinking... (ctrl+c to interrupt)\n> "))
        self.assertEqual(self.ask({"type": "interrupt"}), "sent")
        self.wait_keys("\x03")


class Restart(AgentRun):
    def restarted(self, name, args, launch, resumed):
        term = self.start(name, *args)
        self.sync()
        first = self.events("start")[0]
        self.assertEqual(self.restart(launch=launch), "sent")
        self.wait_events("exit")
        term.expect(STARTING_AGAIN, timeout=PATIENCE)
        second = self.wait_events("start", 2)[1]
        self.assertEqual(second["argv"], resumed)
        # The same run goes on: registered again under its id, never deleted.
        self.assertEqual(second["env"]["MOSSBANK_RUN_ID"], first["env"]["MOSSBANK_RUN_ID"])
        again = self.daemon.wait_request("/api/runs", 2, method="POST", timeout=PATIENCE).json()
        self.assertEqual(again["runId"], self.run_id)
        self.assertEqual(self.daemon.requests(f"/api/runs/{self.run_id}", method="DELETE"), [])
        return first

    def test_claude_takes_the_conversation_up_with_the_launch_words(self):
        first = self.restarted("claude", ["--model", "m1", "--verbose"], ["--model", "m2"],
                               ["--resume", SESSION, "--verbose", "--model", "m2"])
        self.assertEqual(first["argv"], ["--session-id", self.run_id, "--model", "m1", "--verbose"])
        self.assertEqual(self.keys(), "/exit\r")
        # Ended by hand, the restarted agent ends the run.
        self.stream = self.daemon.commands.wait_open(2, timeout=PATIENCE)
        self.term.write("/exit\r")
        self.assertEqual(self.term.wait(PATIENCE), 0)
        self.daemon.wait_request(f"/api/runs/{self.run_id}", method="DELETE", timeout=PATIENCE)

    def test_codex_resumes_its_session(self):
        self.restarted("codex", ["-m", "gpt-x", "-c", "model_reasoning_effort=low"],
                       ["-c", "model_reasoning_effort=high"],
                       ["resume", SESSION, "-m", "gpt-x", "-c", "model_reasoning_effort=high"])
        self.assertEqual(self.keys(), "/quit\r")

    def test_a_second_restart_types_nothing_and_a_stop_cancels_the_restart(self):
        term = self.start("claude")
        self.control("on-exit ignore")
        self.sync()
        self.assertEqual(self.restart(), "sent")
        self.wait_keys("/exit\r")
        self.assertEqual(self.restart(), "sent")
        self.nothing_more_typed("/exit\r")
        self.stream.send("command", {"type": "stop"})
        term.wait(PATIENCE)
        self.daemon.wait_request(f"/api/runs/{self.run_id}", method="DELETE", timeout=PATIENCE)
        self.assertNotIn(STARTING_AGAIN, term.text())
        self.assertEqual(len(self.events("start")), 1)

    def test_ctrl_c_after_the_old_agent_ended_cancels_the_restart(self):
        term = self.start("claude")
        self.sync()
        self.quiet()
        # The restart's answer is held, so the old run's end waits for it
        # (up to the post's own time-out) while no agent is attached.
        release = threading.Event()
        self.addCleanup(release.set)
        def held(exchange):
            release.wait(PATIENCE)
            return Reply.json({})
        self.daemon.route(f"/api/runs/{self.run_id}/talk-result", held, method="POST")
        self.request_ids += 1
        self.stream.send("command", {"type": "restart", "sessionId": SESSION, "requestId": "r-held"})
        self.wait_events("exit")
        # The terminal is given back once the old agent has been let go.
        harness.poll(lambda: termios.tcgetattr(term.master) == term.initial_termios, PATIENCE,
                     "the terminal given back")
        term.signal(signal.SIGINT)
        release.set()
        term.expect("the restart was cancelled", timeout=PATIENCE)
        term.wait(PATIENCE)
        self.daemon.wait_request(f"/api/runs/{self.run_id}", method="DELETE", timeout=PATIENCE)

    def test_a_question_instead_of_the_exit_cancels_the_restart(self):
        self.start("claude")
        self.control("on-exit approval-bash-80x24")
        self.sync()
        self.assertEqual(self.restart(), "sent")
        # The watch sees the question and answers it with one Esc.
        self.wait_keys("/exit\r\x1b")
        self.assertEqual(self.restart(), "permission")
        self.show("idle-80x24")
        self.control("on-exit exit")
        self.assertEqual(self.restart(), "sent")
        self.wait_events("start", 2)
        self.assertEqual(self.keys(), "/exit\r\x1b/exit\r")

    def test_a_run_that_cannot_restart_says_so(self):
        # A prompt on the command line would be sent again.
        self.start("claude", "fix the bug")
        registration = self.daemon.requests("/api/runs", method="POST")[0].json()
        self.assertNotIn("restart", registration)
        self.sync()
        self.assertEqual(self.restart(), "unavailable")
        self.nothing_more_typed("")


class Upgrade(AgentRun):
    """The wrapper runs from an application's folder, as installed."""

    def setUp(self):
        super().setUp()
        self.app = os.path.join(self.dir, "Mossbank.app", "Contents")
        self.own = os.path.join(self.app, "Resources", "cli", "bin", "mossbank")
        os.makedirs(os.path.dirname(self.own))
        shutil.copy2(self.bin, self.own)
        self.successor_log = os.path.join(self.dir, "successor.json")

    def successor(self, path):
        return harness.write_script(path, SUCCESSOR.format(log=self.successor_log))

    def handed_over(self, **env):
        term = self.start("claude", "--model", "m1", binary=self.own, **env)
        self.sync()
        self.assertEqual(self.restart(upgrade=True), "sent")
        term.expect(STARTING_AGAIN, timeout=PATIENCE)
        self.assertEqual(term.wait(PATIENCE), 7)
        with open(self.successor_log) as f:
            record = json.load(f)
        self.assertEqual(record["pid"], term.proc.pid)  # it replaced the wrapper
        self.assertEqual(self.daemon.requests(f"/api/runs/{self.run_id}", method="DELETE"), [])
        return record

    def test_the_native_successor_named_by_the_installer(self):
        # Another bundle of the same folder, as an update installs it.
        native = self.successor(os.path.join(self.dir, "Next.app", "Contents", "Resources", "cli", "bin",
                                             "mossbank"))
        with open(os.path.join(self.daemon.home, "rust-cli.json"), "w") as f:
            json.dump({"binary": native, "fallback": None, "scopes": ["run"],
                       "checkedAt": os.stat(native).st_mtime * 1000 + 1}, f)
        record = self.handed_over()
        self.assertEqual(record["argv"], ["run", "--", "claude", "--resume", SESSION, "--model", "m1"])
        self.assertEqual(record["env"], {"MOSSBANK_RUN_UPGRADE_ID": self.run_id,
                                         "MOSSBANK_RUST_HANDOVER": None, "ELECTRON_RUN_AS_NODE": None})

    def test_the_node_program_run_by_the_application(self):
        cli = os.path.dirname(os.path.dirname(self.own))
        with open(os.path.join(cli, "mossbank.cjs"), "w") as f:
            f.write("// the application's command-line program\n")
        self.successor(os.path.join(self.app, "MacOS", "Mossbank"))
        record = self.handed_over(MOSSBANK_RUST_CLI="off")
        self.assertEqual(record["argv"], [os.path.join(cli, "mossbank.cjs"), "run", "--", "claude",
                                          "--resume", SESSION, "--model", "m1"])
        self.assertEqual(record["env"], {"MOSSBANK_RUN_UPGRADE_ID": self.run_id,
                                         "MOSSBANK_RUST_HANDOVER": str(self.term.proc.pid),
                                         "ELECTRON_RUN_AS_NODE": "1"})

    def test_without_a_successor_the_agent_starts_again_here(self):
        term = self.start("claude", "--model", "m1", binary=self.own, MOSSBANK_RUST_CLI="off")
        self.sync()
        self.assertEqual(self.restart(upgrade=True), "sent")
        term.expect(STARTING_AGAIN, timeout=PATIENCE)
        second = self.wait_events("start", 2)[1]
        self.assertEqual(second["argv"], ["--resume", SESSION, "--model", "m1"])
        self.assertIsNone(second["env"]["MOSSBANK_RUN_UPGRADE_ID"])
        self.assertFalse(os.path.exists(self.successor_log))


if __name__ == "__main__":
    unittest.main()

"""The village talking to a resident through `mossbank run`: the stand-in
agent (standin_agent.py, on PATH as `claude` or `opencode`) in a real
pseudo-terminal, the run linked to the stand-in daemon, which pushes `talk`
commands and records the outcome words, the receipts and the lines typed by
hand. And the key filter between the user's terminal and the agent: the
terminal's answers to the agent's queries never reach the agent as keys.

Syncing with the run: the agent logs every read and every submitted line to
a FIFO; a "mark" makes it draw and then set a title, and once the test has
seen two marks in the run's output, what the agent drew before them is on
the screen that the run's requests read (the run hands each piece of the
agent's output to its screen before the user's terminal, and a request
reads the screen once it has taken what was handed to it). Every wait is bounded generously;
nothing asserts how long something took.
"""

import json
import os
import tempfile
import threading
import time
import unittest

from support import harness
from support.standin import StandInDaemon

HERE = os.path.dirname(os.path.abspath(__file__))
PATIENCE = 30


class AgentLog:
    """The stand-in agent's events, read from its log FIFO as they come."""

    def __init__(self, path):
        os.mkfifo(path)
        self.fd = os.open(path, os.O_RDWR)
        self.events = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        pending = b""
        while True:
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return
            if not data:
                return
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                with self.cond:
                    self.events.append(json.loads(line))
                    self.cond.notify_all()

    def close(self):
        os.close(self.fd)

    def count(self):
        with self.cond:
            return len(self.events)

    def wait(self, predicate, since=0, timeout=PATIENCE, what="an event"):
        """The first event from index `since` on that satisfies predicate."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for event in self.events[since:]:
                    if predicate(event):
                        return event
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no {what} in {self.events[since:]!r}")
                self.cond.wait(min(left, 0.25))

    def since(self, index, event=None):
        with self.cond:
            return [e for e in self.events[index:] if event is None or e["event"] == event]


class TalkRun(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.bindir = os.path.join(self.dir.name, "bin")
        os.makedirs(self.bindir)
        for name in ("claude", "opencode"):
            os.symlink(os.path.join(HERE, "support", "standin_agent.py"), os.path.join(self.bindir, name))
        self.log = AgentLog(os.path.join(self.dir.name, "log"))
        self.addCleanup(self.log.close)
        control = os.path.join(self.dir.name, "control")
        os.mkfifo(control)
        self.control_fd = os.open(control, os.O_RDWR)
        self.addCleanup(os.close, self.control_fd)
        self.marks = 0
        self.requests = 0

    def start(self, agent="claude", cols=80, rows=24):
        self.agent = agent
        env = harness.clean_env(
            self.daemon.home,
            PATH=self.bindir + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
            STANDIN_AGENT_LOG=os.path.join(self.dir.name, "log"),
            STANDIN_AGENT_CONTROL=os.path.join(self.dir.name, "control"))
        self.term = harness.Pty([self.bin, "run", agent], env, cols=cols, rows=rows)
        self.addCleanup(self.term.close)
        self.log.wait(lambda e: e["event"] == "ready", what="ready")
        self.stream = self.daemon.commands.wait_open(timeout=PATIENCE)
        self.run_id = self.daemon.wait_request("/api/runs", method="POST", timeout=PATIENCE).json()["runId"]
        self.settle()

    # -- steering the agent --------------------------------------------
    def control(self, line):
        os.write(self.control_fd, (line + "\n").encode())

    def settle(self):
        """Waits until what the agent drew so far is on the run's screen."""
        for _ in range(2):
            self.marks += 1
            self.control(f"mark {self.marks}")
            self.term.expect(f"mark {self.marks}\x07", timeout=PATIENCE)

    def type_by_hand(self, data):
        """Types into the user's terminal and waits until the agent read it
        and drew what it does with it."""
        index = self.log.count()
        self.term.write(data)
        self.log.wait(lambda e: e["event"] == "keys" and data in self.keys_since(index), since=index,
                      what=f"keys {data!r}")
        self.settle()
        return index

    def keys_since(self, index):
        return "".join(e["data"] for e in self.log.since(index, "keys"))

    def typed_after(self, index):
        """Everything the agent read since `index`, up to a Ctrl-G typed by
        hand now (the agent ignores it): whatever the run wrote to the agent
        before now comes before it."""
        self.term.write("\x07")
        self.log.wait(lambda e: e["event"] == "keys" and "\x07" in e["data"], since=index,
                      what="the Ctrl-G marker")
        return self.keys_since(index).rsplit("\x07", 1)[0]

    # -- the village's side -----------------------------------------------
    def path(self, suffix):
        return f"/api/runs/{self.run_id}{suffix}"

    def send(self, type_, **fields):
        self.requests += 1
        request_id = f"request-{self.requests}"
        self.stream.send("command", {"type": type_, "requestId": request_id, **fields})
        return request_id

    def posted(self, suffix, request_id):
        def found():
            for r in self.daemon.requests(self.path(suffix), method="POST"):
                if r.complete and r.json().get("requestId") == request_id:
                    return r.json()
            return None
        return self.daemon.wait_until(found, PATIENCE, f"{suffix} of {request_id}")

    def outcome(self, request_id):
        body = self.posted("/talk-result", request_id)
        self.assertEqual(list(body), ["requestId", "outcome"])
        return body["outcome"]

    def talk(self, text, **flags):
        """The outcome word of a talk; a Claude Code talk that was sent is
        over once its receipt came."""
        request = self.send("talk", text=text, **flags)
        word = self.outcome(request)
        if word == "sent" and self.agent == "claude":
            self.posted("/talk-receipt", request)
        return word

    def lines(self, suffix):
        return [r.json()["line"] for r in self.daemon.requests(self.path(suffix), method="POST") if r.complete]


class Outcomes(TalkRun):
    def test_sent_types_the_text_then_enter(self):
        self.start()
        index = self.log.count()
        self.assertEqual(self.talk("hello there"), "sent")
        submit = self.log.wait(lambda e: e["event"] == "submit", since=index)
        self.assertEqual(submit["text"], "hello there")
        self.assertEqual(self.keys_since(index), "hello there\r")

    def test_the_approval_menu_is_permission_and_nothing_is_pressed(self):
        self.start()
        self.control("approval")
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("hello"), "permission")
        self.assertEqual(self.typed_after(index), "")

    def test_unsupported_texts_press_nothing(self):
        self.start()
        index = self.log.count()
        self.assertEqual(self.talk(""), "unsupported")
        self.assertEqual(self.talk("!ls"), "unsupported")
        self.assertEqual(self.talk("  !ls", shell=True, force=False, clear="yes"), "sent")
        self.log.wait(lambda e: e["event"] == "submit", since=index)
        index = self.log.count()
        self.assertEqual(self.talk("!ls\nwc -l", shell=True), "unsupported")
        self.assertEqual(self.talk(None), "unsupported")  # not a text: empty
        self.control("paste off")
        self.settle()
        self.assertEqual(self.talk("one\ntwo"), "unsupported")
        self.assertEqual(self.typed_after(index), "")

    def test_a_box_that_never_shows_the_text_is_maybe_pasted(self):
        self.start()
        self.control("deaf on")
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("hello", clear=True), "maybe-pasted")
        # The box cleared and the text typed, but Enter never pressed.
        self.assertEqual(self.typed_after(index), "\x05\x15\x7f\x05\x15hello")

    def test_after_stop_requests_are_unavailable(self):
        self.start()
        self.control("hold-on-hup")
        self.settle()
        self.stream.send("command", {"type": "stop"})
        # The stop reached the run once the agent ignored its SIGHUP; the
        # request that follows it on the stream finds the run stopping.
        self.assertEqual(self.talk("hello"), "unavailable")
        self.term.wait(PATIENCE)  # the hard kill ends it

    def test_a_second_request_while_one_runs_is_busy(self):
        self.start()
        self.control("on-submit ignore")  # the prompt stays in the box
        self.settle()
        first = self.send("talk", text="first")
        second = self.send("talk", text="second")
        self.assertEqual(self.outcome(second), "busy")
        self.assertEqual(self.outcome(first), "sent")
        # The first still waits for its receipt: an interrupt is busy too,
        # and the receipt gives up.
        self.assertEqual(self.outcome(self.send("interrupt")), "busy")
        self.assertEqual(self.posted("/talk-receipt", first),
                         {"requestId": first, "stage": "unconfirmed"})


class OpenCodePopups(TalkRun):
    def test_enter_once_the_popup_shows_the_command(self):
        self.start("opencode")
        index = self.log.count()
        self.assertEqual(self.talk("/models"), "sent")
        self.assertEqual(self.log.wait(lambda e: e["event"] == "submit", since=index)["text"], "/models")
        # No receipt for an agent other than Claude Code: the next talk is
        # taken at once.
        self.control("dialog off")
        self.settle()
        self.assertEqual(self.talk("/help"), "sent")
        self.assertEqual(self.daemon.requests(self.path("/talk-receipt")), [])

    def test_a_popup_that_never_shows_takes_the_command_back(self):
        self.start("opencode")
        self.control("popup off")
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("/models"), "no-popup")
        self.assertEqual(self.typed_after(index), "/models" + "\x7f" * 7)
        self.assertEqual(self.log.since(index, "submit"), [])

    def test_an_open_dialog_is_permission(self):
        self.start("opencode")
        self.control("dialog on")
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("/models"), "permission")
        self.assertEqual(self.typed_after(index), "")


class Drafts(TalkRun):
    def test_the_users_draft_without_and_with_force(self):
        self.start()
        self.type_by_hand("abc")
        index = self.log.count()
        self.assertEqual(self.talk("hello"), "draft")
        self.assertEqual(self.typed_after(index), "")
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("hello", force=True), "sent")
        self.assertEqual(self.log.wait(lambda e: e["event"] == "submit", since=index)["text"], "abc hello")

    def test_clear_removes_the_users_draft_first(self):
        self.start()
        self.type_by_hand("abc")
        index = self.log.count()
        self.assertEqual(self.talk("hello", clear=True), "sent")
        self.assertEqual(self.log.wait(lambda e: e["event"] == "submit", since=index)["text"], "hello")
        self.assertEqual(self.keys_since(index), "\x05\x15\x7f\x05\x15hello\r")

    def test_a_draft_typed_away_again_or_a_lone_esc_is_none(self):
        self.start()
        self.type_by_hand("ab\x7f\x7f")
        # The Esc goes to the agent by itself, a moment later, not glued to
        # the next key.
        index = self.type_by_hand("\x1b")
        self.assertEqual([e["data"] for e in self.log.since(index, "keys")], ["\x1b"])
        index = self.log.count()
        self.assertEqual(self.talk("hello"), "sent")
        self.assertEqual(self.log.wait(lambda e: e["event"] == "submit", since=index)["text"], "hello")


class Pastes(TalkRun):
    def test_several_lines_go_as_one_bracketed_paste(self):
        self.start()
        index = self.log.count()
        self.assertEqual(self.talk("first line\nsecond line"), "sent")
        self.assertEqual(self.log.wait(lambda e: e["event"] == "submit", since=index)["text"],
                         "first line\nsecond line")
        self.assertEqual(self.keys_since(index), "\x1b[200~first line\nsecond line\x1b[201~\r")
        # The box shows the paste collapsed: the exact check takes the marker.
        self.settle()
        index = self.log.count()
        self.assertEqual(self.talk("one\ntwo\nthree", clear=True), "sent")
        self.assertEqual([e["text"] for e in self.log.since(index, "paste")], ["one\ntwo\nthree"])


class Receipts(TalkRun):
    def test_taken_with_a_turn_when_the_agent_starts_working(self):
        self.start()
        self.control("on-submit work 60")
        self.settle()
        request = self.send("talk", text="think hard")
        self.assertEqual(self.outcome(request), "sent")
        self.assertEqual(self.posted("/talk-receipt", request),
                         {"requestId": request, "stage": "taken", "turn": True})

    def test_untaken_when_the_prompt_stays_in_the_box(self):
        self.start()
        self.control("on-submit ignore")
        self.settle()
        request = self.send("talk", text="stay")
        self.assertEqual(self.outcome(request), "sent")
        self.assertEqual(self.posted("/talk-receipt", request),
                         {"requestId": request, "stage": "untaken", "where": "box"})


class Asked(TalkRun):
    def test_a_talk_while_the_agent_already_works_makes_the_turn_asked(self):
        # The agent works before the talk is sent: no new work starts with
        # it, so the village learns that the turn is its own from this post.
        self.start(agent="opencode")
        self.control("work 120")
        activity = self.path("/activity")
        self.daemon.wait_until(
            lambda: [r for r in self.daemon.requests(activity, method="POST")
                     if r.complete and r.json() == {"working": True, "asked": False}],
            PATIENCE, "the agent at work")
        self.assertEqual(self.talk("while you work"), "sent")
        self.daemon.wait_until(
            lambda: [r for r in self.daemon.requests(activity, method="POST")
                     if r.complete and r.json() == {"working": True, "asked": True}],
            PATIENCE, "the turn marked asked")


class HandTypedLines(TalkRun):
    def test_enter_by_hand_posts_the_line_or_the_new_conversation(self):
        self.start()
        # Enter once the box shows what was typed, as a person types.
        self.type_by_hand("what is this")
        self.type_by_hand("\r")
        self.daemon.wait_until(lambda: self.lines("/typed") == ["what is this"], PATIENCE, "/typed")
        self.type_by_hand("/clear")
        self.type_by_hand("\r")
        self.daemon.wait_until(lambda: self.lines("/command") == ["/clear"], PATIENCE, "/command")
        # Another slash command is neither; the panel's typing is typing by
        # hand too, with the terminal's answers taken out.
        self.type_by_hand("/help")
        self.type_by_hand("\r")
        index = self.log.count()
        self.stream.send("command", {"type": "input", "data": "from \x1b[12;40Rthe panel"})
        self.log.wait(lambda e: e["event"] == "keys" and "panel" in e["data"], since=index)
        self.settle()
        self.stream.send("command", {"type": "input", "data": "\r"})
        self.log.wait(lambda e: e["event"] == "submit", since=index)
        self.assertEqual(self.keys_since(index), "from the panel\r")
        self.daemon.wait_until(lambda: self.lines("/typed") == ["what is this", "from the panel"],
                               PATIENCE, "the panel's /typed")
        self.assertEqual(self.lines("/command"), ["/clear"])


class TerminalReplies(TalkRun):
    def test_the_terminals_answers_never_reach_the_agent(self):
        self.start()
        index = self.log.count()
        self.control("query")
        self.term.expect("\x1b]11;?\x07", timeout=PATIENCE)
        # The test is the user's terminal: it answers each query, the
        # colour's answer cut in two.
        self.term.write("\x1b[?62;22c\x1b[24;1R\x1b]11;rgb:1e1e/")
        self.term.write("1e1e/1e1e\x1b\\")
        self.term.write("ok\r")
        self.log.wait(lambda e: e["event"] == "submit", since=index)
        self.assertEqual(self.keys_since(index), "ok\r")
        colours = self.daemon.wait_request(self.path("/colours"), method="POST", timeout=PATIENCE)
        self.assertEqual(colours.json(), {"background": "#1e1e1e"})


if __name__ == "__main__":
    unittest.main()

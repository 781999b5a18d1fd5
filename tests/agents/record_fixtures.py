#!/usr/bin/env python3
"""Records the agents' screens as fixtures under src/screen/testdata/agents/.

Each agent runs in tmux (tmux_agent.py) against the model stand-in
(tests/support/model_standin.py). For every screen wanted, the recording of the
session so far is cut just after the screen showed, written as NAME.raw, fed
into a fresh tmux pane of the same size, and what that pane shows is written
as NAME.txt; the screen's pattern must match that replayed text (and the
patterns that must not show, must not), or the screen is taken again.
README.md gets a section per agent saying how each fixture was made.

    python3 tests/agents/record_fixtures.py             # every agent
    python3 tests/agents/record_fixtures.py claude codex
    python3 tests/agents/record_fixtures.py --only approval

Needs tests/agents/node_modules (npm ci --prefix tests/agents) and tmux.
"""

import argparse
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))

import tmux_agent  # noqa: E402
from support.model_standin import ModelStandIn  # noqa: E402
from tmux_agent import AgentSandbox, TmuxAgent, replay, setup_agent  # noqa: E402

# One fixed folder for every session: the screens show its path.
SANDBOX = "/tmp/mossbank-agent-screens"
OUT = os.path.join(os.path.dirname(os.path.dirname(HERE)), "src", "screen", "testdata", "agents")
NBSP = "\u00a0"
CJK = "你好，世界 こんにちは 한국어 테스트"
LONG = ("please read every file in this project and then write a short summary of what each "
        "one does, keeping each summary to a single sentence of plain words")
NUMBERED = ("Here is the plan:\n\n1. Read the configuration file.\n2. Check the settings.\n"
            "3. Write the summary.\n\nTell me which step to start with.")
ESC_TEXT = "The old dialog said: esc to cancel."
CJK_QUESTION = {"question": "どの言語で説明を書きますか？", "header": "言語", "options": [
    {"label": "日本語", "description": "日本語で書きます"},
    {"label": "中文（简体）", "description": "用简体中文写"},
    {"label": "한국어", "description": "한국어로 작성합니다"}]}


class Session:
    """One agent run: the stand-in, the sandbox and the tmux pane, plus a log
    of what was done (for README.md)."""

    def __init__(self, rec, stage, cols, rows, git=True, args=(), provider=True):
        self.rec = rec
        self.cols, self.rows = cols, rows
        self.model = ModelStandIn()
        self.box = AgentSandbox(git=git, root=SANDBOX)
        setup = setup_agent(rec.agent, self.box, self.model if provider else None, stage=stage, args=args)
        self.stage = stage
        self.last = None  # (fixture name, len(steps)) of the session's previous screen
        self.steps = [f"stage {stage}" + (" (git project)" if git else "") + ("" if provider else ", no provider")]
        self.pane = TmuxAgent(setup.argv, env=setup.env, cwd=self.box.project, cols=cols, rows=rows,
                              record=self.box.path("session.raw"))

    def __enter__(self):
        self.pane.start()
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            print("  the stand-in saw:", flush=True)
            for r in self.model.requests:
                print(f"    {r!r} user={r.user_text()[-80:]!r}", flush=True)
        self.pane.close()
        self.box.close()
        self.model.stop()

    # -- doing things, logged --

    def type(self, text):
        self.steps.append(f"typed {text!r}")
        self.pane.type(text)

    def keys(self, *keys):
        self.steps.append("pressed " + " ".join(keys))
        self.pane.keys(*keys)

    def say(self, text, *, wait=None):
        """Types a message and sends it; waits for it to reach the stand-in."""
        self.type(text)
        self.wait(re.escape(text[:20]))
        self.keys("Enter")
        if wait is not False:
            self.model.wait_request(lambda r: r.is_turn and text[:20] in r.user_text())

    def reply_text(self, text):
        self.steps.append(f"stand-in answers {text!r}")
        self.model.reply_text(text)

    def reply_tool(self, command):
        self.steps.append(f"stand-in asks to run `{command}`")
        self.model.reply_tool(command)

    def reply_tool_call(self, name, arguments):
        self.steps.append(f"stand-in calls {name} with {arguments!r}")
        self.model.reply_tool_call(name, arguments)

    def reply_hold(self):
        self.steps.append("stand-in holds the answer open")
        return self.model.reply_hold()

    def wait(self, pattern, timeout=60.0, absent=False, settle=True):
        """Waits for the screen, then for the agent to go quiet: agents that
        draw a screen twice drop keys that come in between. settle=False for
        hints that last a moment."""
        got = self.pane.wait_for(pattern, timeout, absent=absent)
        if settle:
            self.pane.settle(quiet=0.3, limit=2.0)
        return got

    def escape_until(self, pattern, tries=4):
        """Presses Esc until `pattern` shows (panels that search or nest
        take more than one)."""
        for _ in range(tries - 1):
            self.keys("Escape")
            try:
                return self.wait(pattern, timeout=5.0)
            except tmux_agent.TmuxError:
                pass
        self.keys("Escape")
        return self.wait(pattern)

    def snap(self, name, pattern, *, absent=(), what="", brief=False):
        self.rec.snap(self, name, pattern, absent=absent, what=what, brief=brief)

    def steps_since_last(self, full):
        """What was done since the previous screen of this session, for README."""
        if self.last is None:
            done = "; ".join(self.steps)
        else:
            prev, at = self.last
            done = "; ".join([f"after `{prev}`"] + self.steps[at:])
        self.last = (full, len(self.steps))
        return done.replace(repr(LONG), "the long line").replace(repr(CJK), "the CJK line")


class Recorder:
    def __init__(self, agent, only=None):
        self.agent = agent
        self.version = tmux_agent.installed_version(agent)
        self.only = only
        self.dir = os.path.join(OUT, agent)
        self.entries = []
        os.makedirs(self.dir, exist_ok=True)

    def session(self, stage="ready", cols=80, rows=24, **kw):
        return Session(self, stage, cols, rows, **kw)

    def snap(self, s, name, pattern, *, absent=(), what="", brief=False):
        """brief: the screen lasts a moment only, so cut at once instead of
        waiting for the agent to go quiet."""
        full = f"{name}-{s.cols}x{s.rows}"
        if self.only and not re.search(self.only, full):
            s.wait(pattern)
            return
        regex = re.compile(pattern, re.M)
        nots = [re.compile(p, re.M) for p in absent]
        for attempt in range(4):
            s.pane.wait_for(regex)
            for p in nots:
                s.pane.wait_for(p, absent=True)
            # The pipe to the recording lags the screen by a moment.
            size = s.pane.settle(quiet=0.05, limit=0.1) if brief else s.pane.settle(quiet=0.5, limit=2.0)
            data = s.pane.raw()[:size]
            live = s.pane.screen()
            text = replay(data, s.cols, s.rows)
            bad = [p.pattern for p in nots if p.search(text)]
            if regex.search(text) and not bad:
                break
            print(f"  {full}: the replay does not show it yet (attempt {attempt + 1}), again", flush=True)
            time.sleep(0.5)
        else:
            raise AssertionError(f"{full}: the cut recording never drew {pattern!r}:\n{text}")
        with open(os.path.join(self.dir, full + ".raw"), "wb") as f:
            f.write(data)
        with open(os.path.join(self.dir, full + ".txt"), "w", encoding="utf-8") as f:
            f.write(text)
        same = "same as" if _rows(live) == _rows(text) else "differs from (animated)"
        print(f"  {full}: {len(data)} bytes; replay {same} the live pane", flush=True)
        self.entries.append((full, what, s.steps_since_last(f"{self.agent}/{full}"), len(data)))

    def readme_section(self):
        lines = [f"<!-- agent:{self.agent} -->", f"## {self.agent} {self.version}", ""]
        for full, what, steps, size in self.entries:
            lines.append(f"- `{self.agent}/{full}` ({size} bytes): {what}")
            lines.append(f"  - {steps}")
        lines.append(f"<!-- /agent:{self.agent} -->")
        return "\n".join(lines) + "\n"


def _rows(text):
    return [r.rstrip() for r in text.rstrip("\n").split("\n")]


# ---------------------------------------------------------------------------
# Claude Code

CLAUDE_IDLE = tmux_agent.INPUT_BOX["claude"] + r".*(for shortcuts|manual mode)"


def record_claude(rec):
    with rec.session("fresh", 80, 24, provider=False) as s:
        s.snap("no-provider-connect-error", r"Unable to connect to Anthropic services",
               what="first start with no provider and no network: it cannot reach its service, and exits")
    with rec.session("fresh", 80, 24) as s:
        s.snap("startup-theme", r"Choose the text style", what="first start: the theme picker (onboarding)")
        s.keys("Enter")
        s.snap("onboarding-security", r"Security notes:", what="first start: the security notes (onboarding)")
        s.keys("Enter")
        s.snap("trust", r"Yes, I trust this folder",
               what="the trust prompt (after onboarding), \"No, exit\" selected")
        s.keys("Down")
        s.snap("trust-yes-selected", r"❯ Yes, I trust this folder", what="the trust prompt, the cursor on yes")
    with rec.session("untrusted", 120, 40) as s:
        s.snap("trust", r"Yes, I trust this folder", what="the trust prompt straight at start-up")
        s.keys("Down")
        s.wait(r"❯ Yes, I trust")
        s.keys("Enter")
        s.snap("idle-after-trust", CLAUDE_IDLE, absent=[r"trust this folder"],
               what="the idle input box just after the trust prompt was answered (the prompt gone)")
    with rec.session("ready", 80, 24) as s:
        s.snap("idle", CLAUDE_IDLE, what="the idle input box (\"❯\" and a no-break space)")
        s.type(LONG)
        s.snap("typed-long-wrapped", r"single sentence of plain words",
               what="a long line typed into the input box, wrapped over rows")
        s.keys("Escape")
        s.snap("typed-after-esc", r"(?s)esc again to clear.*single sentence",
               what="the same after one Esc: the text stays, \"esc again to clear\" shows for a moment",
               brief=True)
        s.wait(r"esc again to clear", absent=True)
        s.keys("Escape")
        s.wait(r"esc again to clear", settle=False)
        s.keys("Escape")  # the second Esc counts only while the hint shows
        s.snap("cleared-after-esc-esc", CLAUDE_IDLE, absent=[r"single sentence"],
               what="after Esc twice: the input box is empty again")
        s.type("/")
        s.snap("slash-popup", r"/add-dir", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
        s.wait(r"/add-dir", absent=True)
        s.keys("C-u")
        s.type("/model")
        s.wait(r"❯" + NBSP + "/model")
        s.keys("Enter")
        s.snap("menu-model", r"Select model", what="the /model picker (a numbered menu with a ❯ cursor)")
        s.keys("Escape")
        s.snap("menu-model-closed", CLAUDE_IDLE, absent=[r"Select model", r"Default \(recommended\)"],
               what="negative: the /model picker closed again; only a one-line trace is left")
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-bash", r"Do you want to proceed\?",
               what="the permission prompt for a shell command (touch notes.txt)")
        s.reply_text("Created notes.txt.")
        s.keys("Enter")
        s.snap("approval-answered", r"(?s)Created notes\.txt\..*" + CLAUDE_IDLE,
               absent=[r"Do you want to proceed"],
               what="negative: the approval answered (Yes); the transcript keeps its trace above the input box")
        s.reply_text(NUMBERED)
        s.say("what is the plan?")
        s.snap("answer-numbered-list", r"(?s)3\. Write the summary.*" + CLAUDE_IDLE,
               what="negative: a numbered markdown list in the model's answer, idle again")
        s.reply_text(ESC_TEXT)
        s.say("what did the old dialog say?")
        s.snap("transcript-esc-to-cancel", r"(?s)said: esc to cancel\..*" + CLAUDE_IDLE,
               what="negative: \"esc to cancel\" inside the model's answer, idle again")
    with rec.session("ready", 120, 40) as s:
        s.snap("idle", CLAUDE_IDLE, what="the idle input box")
        s.type(CJK)
        s.snap("typed-cjk", re.escape(CJK), what="CJK text typed into the input box")
        s.keys("Escape")
        s.wait(r"esc again to clear", settle=False)
        s.keys("Escape")
        s.wait(re.escape(CJK), absent=True)
        s.type("/")
        s.snap("slash-popup", r"/add-dir", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
        s.wait(r"/add-dir", absent=True)
        s.keys("C-u")
        s.type("/config")
        s.wait(r"❯" + NBSP + "/config")
        s.keys("Enter")
        s.snap("menu-config", r"(?i)search settings|Auto-compact|Theme",
               what="the /config settings panel")
        s.escape_until(CLAUDE_IDLE)
        s.reply_tool_call("AskUserQuestion", {"questions": [dict(CJK_QUESTION, multiSelect=False)]})
        s.say("which language?")
        s.snap("question-cjk", r"(?s)どの言語で説明を書きますか.*1\. 日本語",
               what="a question from the model (AskUserQuestion): a numbered menu with CJK labels")
        s.reply_text("了解しました。日本語で書きます。")
        s.keys("Enter")
        s.snap("question-cjk-answered", r"(?s)日本語で書きます。.*" + CLAUDE_IDLE,
               absent=[r"1\. 日本語"], what="negative: the question answered; its trace stays in the transcript")
        hold = s.reply_hold()
        s.say("think about it for a while")
        s.snap("busy-spinner", r"esc to interrupt", what="a turn in progress: spinner and \"esc to interrupt\"")
        s.keys("Escape")
        hold.wait_cancelled()
        s.snap("busy-interrupted", CLAUDE_IDLE, absent=[r"esc to interrupt"],
               what="after Esc interrupted the turn")
        s.keys("C-u")
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-bash", r"Do you want to proceed\?", what="the permission prompt for a shell command")
    with rec.session("ready", 200, 50) as s:
        s.snap("idle", CLAUDE_IDLE, what="the idle input box")
        s.reply_tool("mkdir -p build && touch build/out.txt")
        s.say("please make a build folder")
        s.snap("approval-bash", r"Do you want to proceed\?", what="the permission prompt for a shell command")


# ---------------------------------------------------------------------------
# Codex

CODEX_IDLE = r"^› (Ask Codex to do anything|.*)\n\n.*\n.*for shortcuts"
CODEX_PLACEHOLDER = r"^› Ask Codex to do anything"


def record_codex(rec):
    with rec.session("fresh", 80, 24, provider=False) as s:
        s.snap("signin", r"Sign in with ChatGPT", what="first start without a provider: the sign-in choice")
    with rec.session("untrusted", 80, 24) as s:
        s.snap("trust", r"1\. Trust and continue", what="the folder trust prompt")
        s.keys("Enter")
        s.snap("idle-after-trust", CODEX_PLACEHOLDER, absent=[r"Trust and continue"],
               what="the idle composer after the folder was trusted")
    with rec.session("untrusted", 120, 40) as s:
        s.snap("trust", r"1\. Trust and continue", what="the folder trust prompt")
    with rec.session("ready", 80, 24) as s:
        s.snap("idle", CODEX_PLACEHOLDER, what="the idle composer with its placeholder text")
        s.type(LONG)
        s.snap("typed-long-wrapped", r"single sentence of plain words",
               what="a long line typed into the composer, wrapped over rows")
        s.keys("Escape")
        s.snap("typed-after-esc", r"single sentence of plain words",
               what="the same after one Esc (Codex keeps the text)")
        s.keys("C-u")
        s.wait(CODEX_PLACEHOLDER)
        s.type("/")
        s.snap("slash-popup", r"/model", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
        s.keys("C-u")
        s.wait(CODEX_PLACEHOLDER)
        s.type("/model")
        s.wait(r"^› /model")
        s.keys("Enter")
        s.snap("menu-model", r"Select Model and Effort", what="the /model picker")
        s.keys("Escape")
        s.snap("menu-model-closed", CODEX_PLACEHOLDER, absent=[r"Select Model and Effort"],
               what="negative: the /model picker closed again")
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-exec", r"Would you like to run the following command\?",
               what="the approval prompt for a shell command (touch notes.txt)")
        s.reply_text("Created notes.txt.")
        s.keys("Enter")
        s.snap("approval-answered", r"(?s)You approved.*Created notes\.txt\..*" + CODEX_PLACEHOLDER,
               absent=[r"Would you like to run"],
               what="negative: the approval answered; \"You approved ...\" stays in the transcript")
        s.reply_text(NUMBERED)
        s.say("what is the plan?")
        s.snap("answer-numbered-list", r"(?s)3\. Write the summary.*" + CODEX_PLACEHOLDER,
               what="negative: a numbered markdown list in the answer, idle again")
        s.reply_text(ESC_TEXT)
        s.say("what did the old dialog say?")
        s.snap("transcript-esc-to-cancel", r"(?s)said: esc to cancel\..*" + CODEX_PLACEHOLDER,
               what="negative: \"esc to cancel\" inside the answer, idle again")
    with rec.session("ready", 120, 40) as s:
        s.snap("idle", CODEX_PLACEHOLDER, what="the idle composer with its placeholder text")
        s.type(CJK)
        s.snap("typed-cjk", re.escape(CJK), what="CJK text typed into the composer")
        s.keys("C-u")
        s.wait(CODEX_PLACEHOLDER)
        s.type("/")
        s.snap("slash-popup", r"/model", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
        s.keys("C-u")
        s.wait(CODEX_PLACEHOLDER)
        s.type("/permissions")
        s.wait(r"^› /permissions")
        s.keys("Enter")
        s.snap("menu-permissions", r"(?i)(Update Model Permissions|approval|permissions)\b.*\n(.*\n)*.*1\.",
               what="the /permissions picker")
        s.keys("Escape")
        s.wait(CODEX_PLACEHOLDER)
        hold = s.reply_hold()
        s.say("think about it for a while")
        s.snap("busy-spinner", r"esc to interrupt", what="a turn in progress: \"Working (… • esc to interrupt)\"")
        s.keys("Escape")
        hold.wait_cancelled()
        s.snap("busy-interrupted", r"Conversation interrupted", absent=[r"esc to interrupt"],
               what="after Esc interrupted the turn")
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-exec", r"Would you like to run the following command\?",
               what="the approval prompt for a shell command")
    with rec.session("ready", 200, 50) as s:
        s.snap("idle", CODEX_PLACEHOLDER, what="the idle composer")
        s.reply_tool("mkdir -p build && touch build/out.txt")
        s.say("please make a build folder")
        s.snap("approval-exec", r"Would you like to run the following command\?",
               what="the approval prompt for a shell command")


# ---------------------------------------------------------------------------
# OpenCode and Kilo (Kilo's CLI is built from OpenCode: the same screens)

def record_opencode_like(rec, placeholder):
    idle = r"^\s*┃\s+" + placeholder
    with rec.session("ready", 80, 24) as s:
        s.snap("idle", idle, what="start-up: the logo and the input box with its placeholder")
        s.type(LONG)
        s.snap("typed-long-wrapped", r"single sentence", what="a long line typed into the input box")
        s.keys("C-u")
        s.snap("cleared", idle, absent=[r"single sentence"], what="the input cleared again (ctrl+u)")
        s.type("/")
        s.snap("slash-popup", r"/(agents|connect|debug)\b", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
    # Full-screen redraws make these recordings grow fast: short sessions.
    with rec.session("ready", 80, 24) as s:
        s.wait(idle)
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("permission-bash", r"Permission required", what="the permission rows for a shell command")
        s.reply_text("Created notes.txt.")
        s.keys("Enter")
        s.snap("permission-answered", r"Created notes\.txt\.", absent=[r"Permission required"],
               what="negative: the permission answered (Allow once); the command stays in the transcript")
    with rec.session("ready", 80, 24) as s:
        s.wait(idle)
        s.reply_text(NUMBERED)
        s.say("what is the plan?")
        s.snap("answer-numbered-list", r"3\. Write the summary", absent=[r"esc interrupt"],
               what="negative: a numbered markdown list in the answer")
        s.reply_text(ESC_TEXT)
        s.say("what did the old dialog say?")
        s.snap("transcript-esc-to-cancel", r"said: esc to cancel", absent=[r"esc interrupt"],
               what="negative: \"esc to cancel\" inside the answer")
    with rec.session("ready", 120, 40) as s:
        s.snap("idle", idle, what="start-up: the logo and the input box with its placeholder")
        s.type(CJK)
        s.snap("typed-cjk", re.escape(CJK), what="CJK text typed into the input box")
        s.keys("C-u")
        s.wait(idle)
        s.type("/models")
        s.wait(r"/models")
        s.keys("Enter")
        s.snap("menu-models", r"(?i)select model", what="the model picker dialog (/models)")
        s.keys("Escape")
        s.snap("menu-models-closed", idle, absent=[r"(?i)select model"],
               what="negative: the model picker closed again")
    with rec.session("ready", 120, 40) as s:
        s.wait(idle)
        s.reply_tool_call("question", {"questions": [dict(CJK_QUESTION, multiple=False)]})
        s.say("which language?")
        s.snap("question-cjk", r"(?s)どの言語で説明を書きますか.*日本語",
               what="a question from the model (the question tool): choices with CJK labels")
        s.reply_text("了解しました。日本語で書きます。")
        s.keys("Enter")
        s.snap("question-cjk-answered", r"日本語で書きます。", absent=[r"esc interrupt"],
               what="negative: the question answered; its trace stays in the transcript")
    with rec.session("ready", 120, 40) as s:
        s.wait(idle)
        hold = s.reply_hold()
        s.say("think about it for a while")
        s.snap("busy-spinner", r"esc interrupt", what="a turn in progress: the spinner and \"esc interrupt\"")
        s.keys("Escape")
        s.snap("busy-esc-again", r"esc again to interrupt", what="after one Esc: \"esc again to interrupt\"",
               brief=True)
    with rec.session("ready", 120, 40) as s:
        s.wait(idle)
        hold = s.reply_hold()
        s.say("think about it for a while")
        s.wait(r"esc interrupt")
        s.keys("Escape")
        s.wait(r"esc again to interrupt", settle=False)
        s.keys("Escape")  # the second Esc counts only while the hint shows
        hold.wait_cancelled()
        s.snap("busy-interrupted", r"interrupted", absent=[r"esc (again to )?interrupt"],
               what="after Esc twice the turn is interrupted")
    with rec.session("ready", 120, 40) as s:
        s.wait(idle)
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("permission-bash", r"Permission required", what="the permission rows for a shell command")
    with rec.session("ready", 200, 50) as s:
        s.snap("idle", idle, what="start-up: the logo and the input box")


def record_opencode(rec):
    record_opencode_like(rec, r"Ask anything")
    # A dialog over the home screen, the user's draft in the input box under
    # it (inside the dialog's columns, outside its rows).
    with rec.session("ready", 120, 40) as s:
        s.wait(r"^\s*┃\s+Ask anything")
        s.type("hello world")
        s.wait(r"┃\s+hello world")
        s.keys("C-p")
        s.wait(r"Commands\s+esc")
        s.type("connect")
        s.wait(r"Connect provider")
        s.keys("Enter")
        s.wait(r"Connect a provider")
        s.keys("Down", "Down")
        s.keys("Enter")
        s.snap("auth-dialog-over-draft", r"(?s)Select auth method.*Manually enter API Key.*┃\s+hello world",
               what="the /connect dialog's \"Select auth method\" (OpenAI chosen) over the home screen, "
                    "\"hello world\" typed in the input box below it")


def record_kilo(rec):
    record_opencode_like(rec, r"Ask anything")


# ---------------------------------------------------------------------------
# Copilot (its own model provider setting: COPILOT_PROVIDER_BASE_URL)

COPILOT_IDLE = r"─+\n❯.*\n─+\n.*/ commands"


def record_copilot(rec):
    with rec.session("untrusted", 80, 24) as s:
        s.snap("trust", r"Do you trust the files in this folder\?", what="the folder trust prompt")
        s.keys("Enter")
        s.snap("idle-after-trust", COPILOT_IDLE, absent=[r"Confirm folder trust"],
               what="the idle input box after the folder was trusted (this session only)")
    with rec.session("untrusted", 120, 40) as s:
        s.snap("trust", r"Do you trust the files in this folder\?", what="the folder trust prompt")
    with rec.session("ready", 80, 24) as s:
        s.snap("idle", COPILOT_IDLE, what="the idle input box")
        s.type(LONG)
        s.snap("typed-long-wrapped", r"summary to a single", what="a long line typed into the input box")
        s.keys("C-u")
        s.wait(r"summary to a single", absent=True)
        s.type("/")
        s.snap("slash-popup", r"/(model|help|login)\b", what="the slash-command popup after typing \"/\"")
        s.keys("Escape")
        s.keys("C-u")
        s.wait(COPILOT_IDLE)
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-bash", r"Do you want to run this command\?",
               what="the approval prompt for a shell command")
        s.reply_text("Created notes.txt.")
        s.keys("Enter")
        s.snap("approval-answered", r"(?s)Created notes\.txt\..*" + COPILOT_IDLE,
               absent=[r"Do you want to run this command", r"Working"],
               what="negative: the approval answered; the command stays in the transcript, idle again")
        s.reply_text(NUMBERED)
        s.say("what is the plan?")
        s.snap("answer-numbered-list", r"(?s)3\. Write the summary.*" + COPILOT_IDLE, absent=[r"Working"],
               what="negative: a numbered list in the answer, idle again")
        s.reply_text(ESC_TEXT)
        s.say("what did the old dialog say?")
        s.snap("transcript-esc-to-cancel", r"(?s)said: esc to cancel.*" + COPILOT_IDLE, absent=[r"Working"],
               what="negative: \"esc to cancel\" inside the answer, idle again")
    with rec.session("ready", 120, 40) as s:
        s.snap("idle", COPILOT_IDLE, what="the idle input box")
        s.type(CJK)
        s.snap("typed-cjk", re.escape(CJK), what="CJK text typed into the input box")
        s.keys("C-u")
        s.wait(re.escape(CJK), absent=True)
        # With a provider of one's own there is no /model: /theme is the picker.
        s.type("/theme")
        s.wait(r"❯ /theme")
        s.keys("Enter")
        s.snap("menu-theme", r"Select a Color Mode(.*\n)*.*2\. GitHub", what="the /theme picker")
        s.keys("Escape")
        s.snap("menu-theme-closed", COPILOT_IDLE, absent=[r"Select a Color Mode"],
               what="negative: the theme picker closed again")
        hold = s.reply_hold()
        s.say("think about it for a while")
        s.snap("busy-spinner", r"Working esc esc edit prompt",
               what="a turn in progress: \"Working\" and \"esc esc edit prompt\"")
        s.keys("Escape")
        s.snap("busy-esc-again", r"esc again to edit prompt", what="after one Esc", brief=True)
        s.wait(r"esc again to edit prompt", absent=True)
        s.keys("Escape")
        s.wait(r"esc again to edit prompt", settle=False)
        s.keys("Escape")  # the second Esc counts only while the hint shows
        hold.wait_cancelled()
        s.snap("busy-interrupted", r"^❯ think about it for a while\n─+\n", absent=[r"Working"],
               what="after the second Esc: the turn stopped, the prompt back in the input box to edit")
        s.keys("C-u")
        s.wait(COPILOT_IDLE)
        s.reply_tool("touch notes.txt")
        s.say("please create notes.txt")
        s.snap("approval-bash", r"Do you want to run this command\?", what="the approval prompt")
    with rec.session("fresh", 120, 40, provider=False) as s:
        s.wait(r"Do you trust the files in this folder\?")
        s.keys("Enter")
        s.snap("signin-notice", r"(?i)use /login to sign in",
               what="without a provider of its own (and no GitHub sign-in): the sign-in notice above the input box")


RECORDERS = {"claude": record_claude, "codex": record_codex, "opencode": record_opencode,
             "kilo": record_kilo, "copilot": record_copilot}


# ---------------------------------------------------------------------------
# README.md

README_HEAD = """# Screens of the real coding agents

Recorded by `tests/agents/record_fixtures.py` (run it again to re-record;
it rewrites the section of each agent it records). Each agent ran in a
private tmux server (`tests/agents/tmux_agent.py`: status line off,
`TERM=xterm-256color`, no tmux variables in the agent's environment, a fresh
HOME with the agent's config written so that it talks to
`tests/support/model_standin.py`, a real HTTP server on 127.0.0.1; the project is a
fresh git repository, /tmp/mossbank-agent-screens/project every time).

For each screen:
- `NAME-COLSxROWS.raw` is the agent's output from its first byte
  (`tmux pipe-pane -O`), cut just after the screen showed. Fed from the start
  into a fresh terminal of that size, it draws that screen.
- `NAME-COLSxROWS.txt` is `tmux capture-pane -p` of a fresh tmux pane of the
  same size after those bytes were written to it (output processing off;
  tmux drops trailing blanks of each row), the cross-check. Spinners and
  clocks move, so the text is that of the replay, not of the live pane.

Negative screens (their descriptions say so) show something a reader must
not take for a live prompt: an answered approval left in the transcript, a
numbered list in an answer, "esc to cancel" inside transcript text, a menu
that was closed.

How each agent was set up ("stage" below): "ready" has the first-run screens
done and the project trusted, "untrusted" the first-run screens done only,
"fresh" nothing written beyond what points the agent at the stand-in; "no
provider" leaves out the stand-in too (the agent then wants to sign in).
- Claude Code: `ANTHROPIC_BASE_URL=<stand-in>`, `ANTHROPIC_AUTH_TOKEN` a fake
  token; `~/.claude.json` marks onboarding and its notices done (and the
  project trusted); `~/.claude/settings.json` sets
  `permissions.defaultMode = "default"` so shell commands ask first.
- Codex: `CODEX_HOME=~/.codex`, `config.toml` with a model provider
  `standin` (`base_url = "<stand-in>/v1"`, `wire_api = "responses"`,
  model `gpt-5.1-codex`), `approval_policy = "on-request"`,
  `sandbox_mode = "read-only"`, `features.daemon_auto_start = false`; the
  project trusted in `[projects]`. The stand-in's shell call asks for
  `sandbox_permissions = "require_escalated"`: that is what makes Codex ask.
- OpenCode / Kilo: `~/.config/opencode/opencode.json` /
  `~/.config/kilo/kilo.json` with a provider `standin`
  (`@ai-sdk/openai-compatible`, `baseURL = "<stand-in>/v1"`, chat
  completions) and `permission.bash = "ask"`.
- Copilot: `COPILOT_PROVIDER_BASE_URL=<stand-in>/v1`,
  `COPILOT_PROVIDER_WIRE_API=responses`, `COPILOT_MODEL=gpt-5.4`; the project
  in `~/.copilot/config.json` `trustedFolders`.

The steps under each screen say what was done: typed text, keys pressed, and
the stand-in's script ("stand-in answers", "asks to run", "calls",
"holds the answer open"); "after `X`" continues the session that drew X.
The stand-in answers requests without tools (session titles) with
"Stand-in", and turns beyond its script with "OK.". The long line is
{long!r}; the CJK line is {cjk!r}.
"""


def write_readme(recorders):
    path = os.path.join(OUT, "README.md")
    sections = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            old = f.read()
        for m in re.finditer(r"<!-- agent:(\w+) -->.*?<!-- /agent:\1 -->\n", old, re.S):
            sections[m.group(1)] = m.group(0)
    for rec in recorders:
        if rec.only:
            continue  # a partial run keeps the old section
        sections[rec.agent] = rec.readme_section()
    body = README_HEAD.format(long=LONG, cjk=CJK)
    for name in tmux_agent.AGENTS:
        if name in sections:
            body += "\n" + sections[name]
    with open(path, "w", encoding="utf-8") as f:
        f.write(body)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("agents", nargs="*", default=list(RECORDERS), help="agents to record")
    parser.add_argument("--only", help="a regex: record only the screens whose NAME-COLSxROWS matches")
    args = parser.parse_args()
    reason = tmux_agent.missing_reason(args.agents)
    if reason:
        sys.exit(f"record_fixtures: {reason}")
    for name in args.agents:
        rec = Recorder(name, args.only)
        print(f"{name} {rec.version}", flush=True)
        RECORDERS[name](rec)
        write_readme([rec])


if __name__ == "__main__":
    main()

"""Runs a real coding agent in a private tmux server, for whole-program tests
and for recording screen fixtures.

    with AgentSandbox() as box, ModelStandIn() as model:
        setup = setup_agent("claude", box, model)
        with TmuxAgent(setup.argv, env=setup.env, cwd=box.project, cols=120, rows=40,
                       record=box.path("claude.raw")) as agent:
            agent.wait_for(r"❯")
            agent.type("hello")
            agent.keys("Enter")

The agent runs in one pane of its own tmux server (`tmux -L <socket>`, status
line off, TERM=xterm-256color) at a fixed size. Everything it writes is
recorded from its first byte with `pipe-pane -O`: the pane starts on a gate
(a tmux wait-for channel) that opens only once the recording runs. The
command is a parameter, so the same helper runs an agent under another
program (`mossbank run -- claude`).

`setup_agent` writes a fresh HOME (and the agent's own config dirs in it) so
that the agent talks to the model stand-in and skips or shows its first-run
screens as asked. `replay` feeds recorded bytes into a fresh pane of a given
size and returns what tmux draws.
"""

import json
import os
import re
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NODE_MODULES = os.path.join(HERE, "node_modules")
BIN = os.path.join(NODE_MODULES, ".bin")
# Every one of them runs whole turns against the model stand-in, no network.
AGENTS = ("claude", "codex", "opencode", "kilo", "copilot")
# Set to the sandbox root in each agent's environment: what reap() looks for.
MARKER = "MOSSBANK_AGENT_TEST"
# The least of an agent's idle input box that shows it, a regex on the screen:
# Claude's "❯" and a no-break space above a rule; Codex's "›" with its status
# row (model · folder) below, which its start-up animation leaves out at first.
INPUT_BOX = {"claude": "^❯\u00a0" + r".*\n─+\n", "codex": r"^› .*\n(?: *\n)?  \S.* · [~/]"}


def agent_bin(name):
    return os.path.join(BIN, name)


def missing_reason(names=AGENTS):
    """Why these agents cannot run here (None when they can)."""
    if shutil.which("tmux") is None:
        return "tmux is not installed"
    if not os.path.isdir(NODE_MODULES):
        return "tests/agents/node_modules is missing (run setup.sh or npm ci --prefix tests/agents)"
    for name in names:
        if not os.access(agent_bin(name), os.X_OK):
            return f"{name} is not installed in tests/agents/node_modules"
    if shutil.which("node") is None:
        return "node is not installed"
    return None


def installed_version(name):
    package = {"claude": "@anthropic-ai/claude-code", "codex": "@openai/codex", "opencode": "opencode-ai",
               "kilo": "@kilocode/cli", "copilot": "@github/copilot"}[name]
    with open(os.path.join(NODE_MODULES, package, "package.json"), encoding="utf-8") as f:
        return json.load(f)["version"]


# ---------------------------------------------------------------------------
# A fresh home and project for one agent run


class AgentSandbox:
    """A temporary root holding home/ (the agent's HOME) and project/ (its
    working folder). Removed on close unless keep=True. root: a fixed path
    instead of a fresh temporary one (emptied first), so that recorded
    screens show the same folder every time."""

    def __init__(self, *, keep=False, git=False, prefix="mossbank-agent-", root=None):
        if root is None:
            self.root = os.path.realpath(tempfile.mkdtemp(prefix=prefix))
        else:
            shutil.rmtree(root, ignore_errors=True)
            os.makedirs(root)
            self.root = os.path.realpath(root)
        self.home = os.path.join(self.root, "home")
        self.project = os.path.join(self.root, "project")
        self.keep = keep
        os.makedirs(self.home)
        os.makedirs(self.project)
        if git:
            subprocess.run(["git", "init", "-q", self.project], check=True,
                           env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home})

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, rel, text, mode=0o600):
        """Writes a file under home/ (rel may start with "~/") or anywhere
        when absolute."""
        path = rel if os.path.isabs(rel) else os.path.join(self.home, rel.removeprefix("~/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)
        return path

    def close(self):
        reap(self.root)
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def base_env(box, **more):
    """The small environment every agent gets; keyword entries are added (a
    value of None removes the name)."""
    env = {
        "PATH": os.environ.get("PATH", "/usr/local/bin:/usr/bin:/bin"),
        "HOME": box.home,
        "USER": os.environ.get("USER", "tester"),
        "SHELL": "/bin/bash",
        "LANG": "C.UTF-8",
        "TERM": "xterm-256color",
        "COLORTERM": "truecolor",
        "TMPDIR": box.path("tmp"),
        MARKER: box.root,
    }
    os.makedirs(env["TMPDIR"], exist_ok=True)
    for key, value in more.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = str(value)
    return env


class AgentSetup:
    def __init__(self, name, argv, env):
        self.name, self.argv, self.env = name, argv, env


def setup_agent(name, box, model, *, stage="ready", args=()):
    """Writes `name`'s config into box.home and returns its argv and env.

    model: a ModelStandIn (or anything with .url) the agent's turns go to;
    None: no model provider at all, so the agent asks to sign in.
    stage: "ready" (first-run screens done, the project trusted), "untrusted"
    (first-run screens done, the project not yet trusted) or "fresh" (nothing
    written beyond what points the agent at the stand-in: every first-run
    screen shows)."""
    if stage not in ("ready", "untrusted", "fresh"):
        raise ValueError(f"unknown stage {stage!r}")
    setup = {"claude": _claude, "codex": _codex, "opencode": _opencode, "kilo": _kilo,
             "copilot": _copilot}[name]
    argv, env = setup(box, model.url if model is not None else None, stage)
    return AgentSetup(name, argv + list(args), env)


def _claude(box, url, stage):
    version = installed_version("claude")
    if stage != "fresh":
        project = {"allowedTools": [], "hasTrustDialogAccepted": stage == "ready",
                   "hasCompletedProjectOnboarding": True, "projectOnboardingSeenCount": 1}
        state = {
            "numStartups": 3, "hasCompletedOnboarding": True, "lastOnboardingVersion": version,
            "lastReleaseNotesSeen": version, "theme": "dark", "hasSeenAutoDefaultNotice": True,
            "hasSeenAutoDefaultNudge": True,
            "hasResetAutoModeOptInForDefaultOffer": True, "tipsHistory": {"new-user-warmup": 9},
            "projects": {box.project: project},
        }
        box.write("~/.claude.json", json.dumps(state, indent=2) + "\n")
    # Plain permission mode: shell commands ask before they run.
    box.write("~/.claude/settings.json", json.dumps(
        {"permissions": {"defaultMode": "default"}}, indent=2) + "\n")
    env = base_env(box, DISABLE_AUTOUPDATER=1, DISABLE_TELEMETRY=1, DISABLE_ERROR_REPORTING=1,
                   CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1)
    if url is not None:
        env.update(ANTHROPIC_BASE_URL=url, ANTHROPIC_AUTH_TOKEN="sk-standin-token")
    return [agent_bin("claude")], env


def _codex(box, url, stage):
    home = os.path.join(box.home, ".codex")
    config = 'check_for_update_on_startup = false\n'
    if url is not None:
        # A model without a catalogue entry: it gets the plain shell tool.
        config += ('model = "gpt-5.1-codex"\n'
                   'model_provider = "standin"\n')
    # The model asks to leave the sandbox, and the user is asked.
    config += 'approval_policy = "on-request"\nsandbox_mode = "read-only"\n'

    # The TUI would otherwise start a background app server that outlives it
    # (and copies itself into CODEX_HOME).
    config += '\n[features]\ndaemon_auto_start = false\n'
    if url is not None:
        config += ('\n[model_providers.standin]\n'
                   'name = "Stand-in"\n'
                   f'base_url = "{url}/v1"\n'
                   'wire_api = "responses"\n')
    if stage == "ready":
        config += f'\n[projects."{box.project}"]\ntrust_level = "trusted"\n'
    box.write("~/.codex/config.toml", config)
    env = base_env(box, CODEX_HOME=home)
    return [agent_bin("codex")], env


def _opencode_config(url, schema):
    config = {
        "$schema": schema,
        "autoupdate": False,
        "share": "disabled",
        # Shell commands ask first, so the permission prompt can be seen.
        "permission": {"bash": "ask", "edit": "ask"},
    }
    if url is not None:
        config.update({
            "provider": {"standin": {
                "npm": "@ai-sdk/openai-compatible",
                "name": "Stand-in",
                "options": {"baseURL": f"{url}/v1", "apiKey": "sk-standin"},
                "models": {"standin-model": {"name": "Stand-in model"}},
            }},
            "model": "standin/standin-model",
            "small_model": "standin/standin-model",
        })
    return json.dumps(config, indent=2) + "\n"


def _opencode(box, url, stage):
    box.write("~/.config/opencode/opencode.json", _opencode_config(url, "https://opencode.ai/config.json"))
    env = base_env(box, OPENCODE_DISABLE_AUTOUPDATE=1, OPENCODE_DISABLE_MODELS_FETCH=1,
                   OPENCODE_DISABLE_LSP_DOWNLOAD=1)
    return [agent_bin("opencode")], env


def _kilo(box, url, stage):
    box.write("~/.config/kilo/kilo.json", _opencode_config(url, "https://app.kilo.ai/config.json"))
    env = base_env(box, KILO_DISABLE_AUTOUPDATE=1, KILO_DISABLE_MODELS_FETCH=1,
                   KILO_DISABLE_LSP_DOWNLOAD=1, KILO_DISABLE_SHARE=1)
    return [agent_bin("kilo")], env


def _copilot(box, url, stage):
    box.write("~/.copilot/settings.json", json.dumps({"autoUpdate": False}, indent=2) + "\n")
    if stage == "ready":
        box.write("~/.copilot/config.json", json.dumps({"trustedFolders": [box.project]}, indent=2) + "\n")
    # Its bundle unpacks to a cache of a few hundred MB: share one beside
    # node_modules instead of one per fresh HOME.
    env = base_env(box, COPILOT_AUTO_UPDATE="false",
                   COPILOT_PKG_CACHE_HOME=os.path.join(NODE_MODULES, ".cache", "copilot-pkg"))
    if url is not None:
        env.update(COPILOT_PROVIDER_BASE_URL=f"{url}/v1", COPILOT_PROVIDER_API_KEY="sk-standin",
                   COPILOT_PROVIDER_WIRE_API="responses", COPILOT_MODEL="gpt-5.4")
    return [agent_bin("copilot")], env


# ---------------------------------------------------------------------------
# Processes an agent left behind


def reap(token, grace=5.0):
    """Ends every process whose environment or command line names `token`
    (the sandbox root: only processes this helper started carry it),
    SIGTERM first, SIGKILL after `grace` seconds."""
    pids = _pids_with(token)
    for pid in pids:
        _signal(pid, signal.SIGTERM)
    deadline = time.monotonic() + grace
    while pids and time.monotonic() < deadline:
        pids = [pid for pid in pids if os.path.exists(f"/proc/{pid}")]
        if pids:
            time.sleep(0.05)
    for pid in pids:
        _signal(pid, signal.SIGKILL)


def _pids_with(token):
    needle = token.encode()
    me = os.getpid()
    out = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == me:
            continue
        for part in ("environ", "cmdline"):
            try:
                with open(f"/proc/{entry}/{part}", "rb") as f:
                    if needle in f.read():
                        out.append(int(entry))
                        break
            except OSError:
                pass
    return out


def _signal(pid, sig):
    try:
        os.kill(pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


# ---------------------------------------------------------------------------
# tmux


class TmuxError(AssertionError):
    pass


class _Server:
    """One private tmux server: `tmux -L <socket>` with its own config."""

    def __init__(self, env=None, label="agent"):
        self.socket = f"mossbank-{label}-{os.getpid()}-{secrets.token_hex(4)}"
        self.confdir = tempfile.mkdtemp(prefix="mossbank-tmux-")
        self.conf = os.path.join(self.confdir, "tmux.conf")
        with open(self.conf, "w") as f:
            f.write("set -g status off\n"
                    "set -g default-terminal xterm-256color\n"
                    "set -g remain-on-exit on\n"
                    "set -g history-limit 5000\n"
                    "set -s escape-time 0\n")
        self.env = dict(env or {"PATH": os.environ.get("PATH", "/usr/bin:/bin")})
        self.env.pop("TMUX", None)
        self.env.pop("TMUX_PANE", None)
        self.socket_path = None

    def run(self, *args, timeout=30, check=True, input=None):
        argv = ["tmux", "-L", self.socket, "-f", self.conf] + list(args)
        try:
            p = subprocess.run(argv, env=self.env, capture_output=True, timeout=timeout, input=input)
        except subprocess.TimeoutExpired as e:
            raise TmuxError(f"tmux {' '.join(args)} took over {timeout} s") from e
        if check and p.returncode != 0:
            raise TmuxError(f"tmux {' '.join(args)} failed: {p.stderr.decode(errors='replace')}")
        return p.stdout.decode("utf-8", "replace")

    def kill(self):
        self.run("kill-server", check=False, timeout=10)
        shutil.rmtree(self.confdir, ignore_errors=True)


def _gated(server_socket_path, argv, channel):
    """A pane command that waits on the tmux channel, then runs argv without
    tmux's own variables in its environment."""
    inner = " ".join(shlex.quote(a) for a in argv)
    return (f"tmux -S {shlex.quote(server_socket_path)} wait-for {channel} && "
            f"exec env -u TMUX -u TMUX_PANE -u TERM_PROGRAM -u TERM_PROGRAM_VERSION {inner}")


class TmuxAgent:
    """An agent (or any command) in a private tmux pane of cols x rows.

    argv: the command; env: its whole environment (TERM is set to
    xterm-256color); cwd: its folder; record: a file for the raw output
    (None: a temporary one, see raw())."""

    def __init__(self, argv, *, env, cwd, cols=80, rows=24, record=None):
        self.argv = list(argv)
        self.env = dict(env, TERM="xterm-256color")
        self.cwd = cwd
        self.cols, self.rows = cols, rows
        self._own_record = record is None
        self.record = record or os.path.join(tempfile.mkdtemp(prefix="mossbank-rec-"), "pane.raw")
        self.server = None
        self.target = None
        self._escape_at = -1e9

    def start(self):
        open(self.record, "wb").close()
        self.server = _Server(self.env)
        channel = "mossbank-go"
        # A placeholder pane first: the socket path is known only once the server runs.
        self.server.run("new-session", "-d", "-s", "hold", "-x", "10", "-y", "3", "sleep 100000")
        self.server.socket_path = self.server.run("display-message", "-p", "#{socket_path}").strip()
        command = _gated(self.server.socket_path, self.argv, channel)
        self.server.run("new-session", "-d", "-s", "agent", "-x", str(self.cols), "-y", str(self.rows),
                        "-c", self.cwd, command)
        self.server.run("kill-session", "-t", "hold")
        self.target = "agent:0.0"
        self.server.run("pipe-pane", "-O", "-t", self.target, f"exec cat >> {shlex.quote(self.record)}")
        self.server.run("wait-for", "-S", channel)
        return self

    def close(self):
        if self.server is not None:
            self.server.kill()
            self.server = None
        token = self.env.get(MARKER)
        if token:
            reap(token)
        if self._own_record:
            shutil.rmtree(os.path.dirname(self.record), ignore_errors=True)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.close()
            raise

    def __exit__(self, *exc):
        self.close()

    # -- input --

    # An Esc byte followed at once by more input reads as Alt+key to the
    # agents; a person's next key comes later than that.
    ESC_GAP = 0.25

    def _pace(self):
        left = self._escape_at + self.ESC_GAP - time.monotonic()
        if left > 0:
            time.sleep(left)

    def keys(self, *keys):
        """tmux key names: "Enter", "Escape", "C-c", "Down", "BTab", "F2"...
        Each Escape is sent on its own, apart from what follows."""
        batch = []
        for key in keys:
            if key in ("Escape", "Esc", "C-["):
                if batch:
                    self._send(batch)
                    batch = []
                self._send([key])
                self._escape_at = time.monotonic()
            else:
                batch.append(key)
        if batch:
            self._send(batch)

    def type(self, text):
        """Literal text, as typed (UTF-8)."""
        self._send(["-l", "--", text])

    def _send(self, args):
        self._pace()
        self.server.run("send-keys", "-t", self.target, *args)

    # -- output --

    def screen(self, styled=False):
        """The visible screen as capture-pane -p gives it (trailing blanks of
        each row dropped); with styled, the escape sequences too."""
        args = ["capture-pane", "-p", "-t", self.target]
        if styled:
            args.insert(2, "-e")
        return self.server.run(*args)

    def pane(self, fmt):
        return self.server.run("display-message", "-p", "-t", self.target, fmt).strip()

    def alive(self):
        return self.pane("#{pane_dead}") != "1"

    def cursor(self):
        x, y = self.pane("#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def raw(self):
        with open(self.record, "rb") as f:
            return f.read()

    def raw_size(self):
        return os.path.getsize(self.record)

    def wait_for(self, pattern, timeout=60.0, *, absent=False, flags=re.M):
        """Polls the screen until `pattern` (a regex, searched) shows, or with
        absent=True until it is gone; returns the match (or the screen).
        Fails with the last screen when `timeout` passes or the agent exits."""
        regex = re.compile(pattern, flags) if isinstance(pattern, str) else pattern
        deadline = time.monotonic() + timeout
        while True:
            text = self.screen()
            m = regex.search(text)
            if absent and m is None:
                return text
            if not absent and m is not None:
                return m
            if not self.alive():
                raise TmuxError(f"the agent exited waiting for {regex.pattern!r}:\n{text}")
            if time.monotonic() >= deadline:
                what = "to go" if absent else "to show"
                raise TmuxError(f"waited {timeout:.0f} s for {regex.pattern!r} {what}; the screen:\n{text}")
            time.sleep(0.1)

    def settle(self, quiet=0.3, limit=3.0):
        """Waits until the agent has written nothing for `quiet` seconds (at
        most `limit`); returns the raw size then. Spinners never settle:
        the limit bounds the wait."""
        deadline = time.monotonic() + limit
        size = self.raw_size()
        still_since = time.monotonic()
        while time.monotonic() < deadline:
            time.sleep(0.05)
            now = self.raw_size()
            if now != size:
                size, still_since = now, time.monotonic()
            elif time.monotonic() - still_since >= quiet:
                break
        return size


_REPLAYER = r"""
import os, re, subprocess, sys, tty
data = open(sys.argv[1], "rb").read()
fd = sys.stdin.fileno()
tty.setraw(fd)
os.write(1, data)
# A cursor report drawn after the data: once it comes back, tmux has read
# and drawn everything before it.
want = data.count(b"\x1b[6n") + 1
os.write(1, b"\x1b[6n")
got = b""
while len(re.findall(rb"\x1b\[\d+;\d+R", got)) < want:
    chunk = os.read(fd, 4096)
    if not chunk:
        break
    got += chunk
subprocess.run(["tmux", "-S", sys.argv[2], "wait-for", "-S", sys.argv[3]])
os.execvp("sleep", ["sleep", "100000"])
"""


def replay(data, cols, rows, timeout=30.0):
    """Feeds `data` (bytes) from the start into a fresh tmux pane of cols x
    rows (raw mode: no newline translation) and returns capture-pane -p."""
    workdir = tempfile.mkdtemp(prefix="mossbank-replay-")
    path = os.path.join(workdir, "in.raw")
    script = os.path.join(workdir, "replay.py")
    with open(path, "wb") as f:
        f.write(data)
    with open(script, "w") as f:
        f.write(_REPLAYER)
    server = _Server(label="replay")
    try:
        server.run("new-session", "-d", "-s", "hold", "-x", "10", "-y", "3", "sleep 100000")
        sock = server.run("display-message", "-p", "#{socket_path}").strip()
        channel = "mossbank-replayed"
        command = " ".join(shlex.quote(a) for a in [
            sys.executable, script, path, sock, channel])
        server.run("new-session", "-d", "-s", "r", "-x", str(cols), "-y", str(rows), command)
        server.run("wait-for", channel, timeout=timeout)
        return server.run("capture-pane", "-p", "-t", "r:0.0")
    finally:
        server.kill()
        shutil.rmtree(workdir, ignore_errors=True)

"""`mossbank run` up to the run loop: the wrapper's options and their errors,
finding the agent, running it by itself (village off, automatic runs), the
village check against the stand-in daemon with the application started
through the Node program, install runs, and vocations.

The agents are small shell scripts that write down how they were started.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from support import harness
from support.standin import StandInDaemon, closed_port

USAGE = "Usage: mossbank run [--vocation <id>] [--allow-plain] [--] [command [args…]]\n"

# Writes its pid, its parent, its arguments and the variables of interest.
RECORDER = """#!/bin/sh
{
  echo "pid=$$"
  echo "ppid=$PPID"
  for a in "$@"; do echo "arg=$a"; done
  env | grep -E '^(MOSSBANK_|ELECTRON_RUN_AS_NODE=|KEEP=)' | sort | sed 's/^/env=/'
} > "$RECORD"
exit ${AGENT_EXIT:-0}
"""

BUILTIN_IDS = ["planner", "developer", "researcher", "reviewer", "designer", "marketer", "villager"]

# The seven built-in vocation files, as the application expects them.
BUILTIN_FILES = {
    "planner": [
        "---", "name: Planner", "name_ko: 기획자", "look: planner", "workplace: farm",
        "description: Sows ideas and grows them into a plan.", "---",
        "You plan before anyone builds.",
        "- Restate the goal in one sentence and list the assumptions you are making.",
        "- Ask about anything ambiguous that would change the plan; otherwise pick a sensible default and say so.",
        "- Break the work into small, independently verifiable steps, each with a clear \"done\" check.",
        "- Call out risks, unknowns and what should be researched or prototyped first.",
        "- Deliver plans, specs and task lists. Do not write production code unless asked.",
    ],
    "developer": [
        "---", "name: Developer", "name_ko: 개발자", "look: developer", "workplace: mine",
        "description: Digs into the code and builds it.", "---",
        "You implement changes in this codebase.",
        "- Read the surrounding code first and match its conventions, naming and structure.",
        "- Make the smallest change that fully solves the task; don't refactor unrelated code.",
        "- Add or update tests for the behavior you change.",
        "- Run the project's own lint, typecheck and tests before you call the work done, and report the results honestly.",
        "- Summarize what changed and why at the end.",
    ],
    "researcher": [
        "---", "name: Researcher", "name_ko: 연구자", "look: researcher", "workplace: lake",
        "description: Fishes for facts in code, docs and the web.", "---",
        "You investigate and report; you don't change code unless asked.",
        "- Gather evidence from the codebase, documentation and reliable sources.",
        "- Cite file paths with line numbers and link external sources.",
        "- Compare the realistic options with their trade-offs.",
        "- Separate what you verified from what you infer.",
        "- End with a short recommendation and the open questions.",
    ],
    "reviewer": [
        "---", "name: Reviewer", "name_ko: 리뷰어", "look: reviewer", "workplace: ranch",
        "description: Inspects every change the way a rancher checks the herd.", "---",
        "You review changes for correctness first.",
        "- Look for real bugs, security issues, data loss, race conditions and missing error handling before style.",
        "- Verify each finding by reading the code paths involved; drop anything you can't back up.",
        "- Report findings ranked by severity, each with file:line, the failure scenario and a suggested fix.",
        "- Keep nits short and clearly marked optional.",
        "- Don't rewrite the change yourself unless asked.",
    ],
    "designer": [
        "---", "name: Designer", "name_ko: 디자이너", "look: designer", "workplace: garden",
        "description: Tends the interface until it blooms.", "---",
        "You care for how the product looks and feels.",
        "- Follow the project's design system, tokens and existing components before inventing new ones.",
        "- Cover every state: empty, loading, error, long content, narrow widths, light and dark themes.",
        "- Keep interfaces accessible: labels, focus order, contrast and keyboard use.",
        "- Prefer small, polished improvements over sweeping redesigns.",
        "- Explain the design reasoning briefly alongside any change.",
    ],
    "marketer": [
        "---", "name: Marketer", "name_ko: 마케터", "look: marketer", "workplace: market",
        "description: Tells the world what the village made.", "---",
        "You write for the people who use the product.",
        "- Identify the audience and the one thing they should take away.",
        "- Lead with the benefit, then the details; keep sentences short and concrete.",
        "- Write release notes, changelogs, README sections and announcements from the actual changes.",
        "- Avoid hype and jargon; never claim something the code doesn't do.",
        "- Offer a headline and one or two alternatives when copy will be published.",
    ],
    "villager": [
        "---", "name: Villager", "name_ko: 마을 주민", "look: villager", "workplace: lumberyard",
        "description: A helping hand for whatever needs doing.", "---",
        "You are a dependable generalist.",
        "- Clarify the task if it's ambiguous, then do it carefully end to end.",
        "- Keep changes focused and verify your work before reporting back.",
        "- Say plainly what you did, what you didn't, and anything left to follow up.",
    ],
}

RESEARCHER_PROMPT = (
    "You are a Mossbank resident working as Researcher. You investigate and report; you don't "
    "change code unless asked. - Gather evidence from the codebase, documentation and reliable "
    "sources. - Cite file paths with line numbers and link external sources. - Compare the "
    "realistic options with their trade-offs. - Separate what you verified from what you infer. "
    "- End with a short recommendation and the open questions.")


class RunEntry(harness.BinaryTestCase):
    """A scratch folder with a bin/ folder for agents and a home folder."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mossbank-run-entry-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.bindir = os.path.join(self.root, "bin")
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        self.record = os.path.join(self.root, "record")

    def agent(self, name="agent", text=RECORDER):
        return harness.write_script(os.path.join(self.bindir, name), text)

    def env(self, home=None, **more):
        return harness.clean_env(home or self.home, {
            "PATH": self.bindir + ":/usr/bin:/bin", "RECORD": self.record}, **more)

    def village_off(self, home=None):
        open(os.path.join(home or self.home, "village-off"), "w").close()

    def recorded(self):
        """The recorder's lines as (key, value) pairs."""
        with open(self.record, encoding="utf-8") as f:
            return [tuple(line.split("=", 1)) for line in f.read().splitlines()]

    def recorded_values(self, key):
        return [v for k, v in self.recorded() if k == key]

    def run_wrapper(self, args, env, stdin=b"", timeout=40, binary=None):
        """Runs the wrapper; returns (Completed, its pid, seconds it took)."""
        argv = [binary or self.bin, "run"] + args
        started = time.monotonic()
        proc = subprocess.Popen(argv, env=env, start_new_session=True,
                                stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = proc.communicate(stdin, timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            raise AssertionError(f"{args} still ran after {timeout}s: {err[-800:]!r}")
        return harness.Completed(proc.returncode, out, err), proc.pid, time.monotonic() - started


class Options(RunEntry):
    def test_usage_errors(self):
        needs = "{} needs a vocation id, e.g. --vocation researcher\n"
        cases = [
            (["--vocation"], needs.format("--vocation")),
            (["--vocation", "-x"], needs.format("--vocation")),
            (["--vocation="], needs.format("--vocation")),
            (["-v"], needs.format("-v")),
            (["-v", "", "claude"], needs.format("-v")),
            (["-x", "claude"], "Unknown option -x. Put the agent's own flags after its name.\n"),
            (["--allow-plain", "--model", "m"],
             "Unknown option --model. Put the agent's own flags after its name.\n"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r, _, _ = self.run_wrapper(args, self.env())
                self.assertEqual((r.code, r.stdout, r.stderr.decode()), (2, b"", message + USAGE))

    def test_help(self):
        for args in (["-h"], ["--help", "claude"], ["--vocation", "--help"], ["-v", "-h"],
                     ["--allow-plain", "--help"]):
            with self.subTest(args=args):
                r, _, _ = self.run_wrapper(args, self.env())
                self.assertEqual((r.code, r.stdout.decode(), r.stderr), (0, USAGE, b""))

    def test_the_agents_own_flags_and_a_dash_program(self):
        self.village_off()
        self.agent("-weird")
        self.agent("claude")
        r, _, _ = self.run_wrapper(["--", "-weird", "-x", "--"], self.env())
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.recorded_values("arg"), ["-x", "--"])
        r, _, _ = self.run_wrapper(["claude", "-x", "--help"], self.env())
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.recorded_values("arg"), ["-x", "--help"])

    def test_no_program_runs_claude(self):
        self.village_off()
        self.agent("claude")
        r, _, _ = self.run_wrapper([], self.env())
        self.assertEqual((r.code, r.stderr), (0, b""))
        self.assertEqual(self.recorded_values("arg"), [])


class FindingTheProgram(RunEntry):
    def test_missing_program(self):
        for args, name in ((["nope-agent"], "nope-agent"), (["--", "-weird"], "-weird"),
                           ([], "claude")):
            with self.subTest(args=args):
                r, _, _ = self.run_wrapper(args, self.env())
                self.assertEqual((r.code, r.stdout, r.stderr.decode()),
                                 (127, b"", f'Can\'t find "{name}" on your PATH.\n'))

    def test_a_folder_is_no_program(self):
        folder = os.path.join(self.root, "folder")
        os.makedirs(os.path.join(self.bindir, "dir-agent"))
        os.makedirs(folder)
        for program in (folder, "dir-agent"):
            with self.subTest(program=program):
                r, _, _ = self.run_wrapper([program], self.env())
                self.assertEqual((r.code, r.stderr.decode()),
                                 (127, f'Can\'t find "{program}" on your PATH.\n'))

    def test_a_file_that_cannot_run(self):
        self.village_off()
        path = harness.write_script(os.path.join(self.bindir, "agent"), "#!/bin/sh\n", mode=0o644)
        r, _, _ = self.run_wrapper(["agent"], self.env())
        self.assertEqual((r.code, r.stderr.decode()),
                         (1, f"Couldn't start {path}: Permission denied (os error 13)\n"))


class StartingTheAgent(RunEntry):
    """The same program starts the same way by itself and wrapped, and every
    failure of the system is told in one form."""

    # No "#!" line: the system cannot run it as it is, a shell can.
    NO_SHEBANG = 'echo "ran $# $1" > "$RECORD"\nexit 4\n'

    def setUp(self):
        super().setUp()
        self.daemon = StandInDaemon(home=self.home)
        self.addCleanup(self.daemon.close)

    def test_a_file_without_a_shebang_line_runs_under_the_shell(self):
        self.agent(text=self.NO_SHEBANG)
        for village_off in (True, False):
            with self.subTest(village_off=village_off):
                if village_off:
                    self.village_off()
                elif os.path.exists(os.path.join(self.home, "village-off")):
                    os.remove(os.path.join(self.home, "village-off"))
                if os.path.exists(self.record):
                    os.remove(self.record)
                r, _, _ = self.run_wrapper(["agent", "a b"], self.env())
                self.assertEqual((r.code, r.stderr), (4, b""))
                with open(self.record) as f:
                    self.assertEqual(f.read(), "ran 1 a b\n")

    def test_os_errors_name_what_failed_and_the_error_number(self):
        # By itself: FindingTheProgram.test_a_file_that_cannot_run.
        harness.write_script(os.path.join(self.bindir, "agent"), "#!/bin/sh\n", mode=0o644)
        blocker = os.path.join(self.root, "a-file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        cases = (
            ("wrapped", self.env(),
             "mossbank run: the agent didn't start: Permission denied (os error 13)\n"),
            ("config.json", self.env(home=os.path.join(blocker, "home")),
             f"mossbank: couldn't create {blocker}/home/config.json: Not a directory (os error 20)\n"),
        )
        for what, env, said in cases:
            with self.subTest(what):
                r, _, _ = self.run_wrapper(["agent"], env)
                self.assertEqual((r.code, r.stderr.decode()), (1, said))


class ByItself(RunEntry):
    """The village off, and the three reasons of automatic runs."""

    def setUp(self):
        super().setUp()
        self.daemon = StandInDaemon(home=self.home)
        self.addCleanup(self.daemon.close)

    def test_village_off_becomes_the_agent(self):
        self.village_off()
        self.agent()
        env = self.env(MOSSBANK_RUN_AS="someone", MOSSBANK_AUTO_RUN_WHY="1", MOSSBANK_RUN_ID="r",
                       ELECTRON_RUN_AS_NODE="1", KEEP="kept", AGENT_EXIT="5")
        r, pid, _ = self.run_wrapper(["agent", "a b", ""], env)
        self.assertEqual(r.code, 5)
        self.assertEqual(r.stderr, b"mossbank: the agent runs by itself here (village-off)\n")
        self.assertEqual(self.recorded(), [
            ("pid", str(pid)), ("ppid", str(os.getpid())),
            ("arg", "a b"), ("arg", ""),
            ("env", "KEEP=kept"), ("env", "MOSSBANK_AUTO_RUN_WHY=1"), ("env", "MOSSBANK_HOME=" + self.home),
            ("env", "MOSSBANK_RUN_ID=r"),
        ])
        self.assertEqual(self.daemon.requests(), [])

    def test_village_off_says_nothing_unless_asked_why(self):
        self.village_off()
        self.agent()
        for why in (None, "true"):
            with self.subTest(why=why):
                r, _, _ = self.run_wrapper(["agent"], self.env(MOSSBANK_AUTO_RUN_WHY=why))
                self.assertEqual((r.code, r.stderr), (0, b""))

    def test_an_install_needs_the_village_on(self):
        self.village_off()
        self.agent()
        r, _, _ = self.run_wrapper(["agent"], self.env(MOSSBANK_RUN_SETUP="1",
                                                      MOSSBANK_RUN_DAEMON_PID=str(os.getpid())))
        self.assertEqual((r.code, r.stderr.decode()),
                         (1, "mossbank: the village is off, and an install runs only while it is on\n"))
        self.assertFalse(os.path.exists(self.record))

    def test_automatic_run_without_a_terminal(self):
        self.agent()
        for why, message in (("1", b"mossbank: the agent runs by itself here (no-terminal)\n"),
                             (None, b"")):
            with self.subTest(why=why):
                r, pid, _ = self.run_wrapper(["agent", "x"], self.env(
                    MOSSBANK_AUTO_RUN="1", MOSSBANK_AUTO_RUN_WHY=why))
                self.assertEqual((r.code, r.stderr), (0, message))
                self.assertEqual(self.recorded_values("pid"), [str(pid)])
                self.assertNotIn(("env", "MOSSBANK_AUTO_RUN=1"), self.recorded())
        self.assertEqual(self.daemon.requests(), [])

    def run_in_terminal(self, args, **env):
        with harness.Pty([self.bin, "run"] + args, self.env(**env)) as term:
            code = term.wait(40)
            term.wait_closed(20)
            return code, term.text(), term.proc.pid

    def test_automatic_run_of_a_one_shot_command(self):
        self.agent("claude")
        code, text, pid = self.run_in_terminal(["claude", "-p", "hi"], MOSSBANK_AUTO_RUN="1",
                                               MOSSBANK_AUTO_RUN_WHY="1")
        self.assertEqual(code, 0, text)
        self.assertIn("mossbank: the agent runs by itself here (no-session)\r\n", text)
        self.assertEqual(self.recorded_values("pid"), [str(pid)])
        self.assertEqual(self.daemon.requests(), [])

    def test_automatic_run_without_a_village(self):
        self.agent("claude")
        self.daemon.stop()
        self.daemon.port = closed_port()
        self.daemon.write_config()
        code, text, pid = self.run_in_terminal(["claude"], MOSSBANK_AUTO_RUN="1",
                                               MOSSBANK_AUTO_RUN_WHY="1")
        self.assertEqual(code, 0, text)
        self.assertIn("mossbank: the agent runs by itself here (no-village)\r\n", text)
        self.assertEqual(self.recorded_values("pid"), [str(pid)])

    def test_automatic_run_without_config_creates_it_then_asks_the_village(self):
        self.agent("claude")
        os.remove(self.daemon.config_path)
        code, text, _ = self.run_in_terminal(["claude"], MOSSBANK_AUTO_RUN="1",
                                             MOSSBANK_AUTO_RUN_WHY="1")
        self.assertEqual(code, 0, text)
        with open(self.daemon.config_path) as f:
            self.assertEqual(json.load(f)["port"], 4827)
        self.assertIn("(no-village)", text)

    def test_a_non_terminal_is_no_reason_without_auto_run(self):
        # The run goes on to the village check and the run loop.
        self.agent()
        r, pid, _ = self.run_wrapper(["agent"], self.env(MOSSBANK_AUTO_RUN_WHY="1"))
        self.assertNotIn(b"runs by itself", r.stderr)
        self.daemon.wait_request("/api/health", match="prefix")
        if os.path.exists(self.record):
            self.assertNotEqual(self.recorded_values("pid"), [str(pid)])


class VillageCheck(RunEntry):
    """The health check with its proof, and the application started when the
    village is not healthy. The agent exits at once; what matters is what
    the wrapper says and asks before it starts it."""

    def setUp(self):
        super().setUp()
        self.daemon = StandInDaemon(home=self.home)
        self.addCleanup(self.daemon.close)
        self.agent()

    def health_requests(self):
        return [r.target for r in self.daemon.requests("/api/health", match="prefix")]

    def assert_checked(self, r, said):
        log = os.path.join(self.home, "daemon.log")
        self.assertEqual(r.stderr.decode().replace(log, "<log>"), said)
        targets = self.health_requests()
        self.assertRegex(targets[0], r"^/api/health\?nonce=[0-9a-f]{32}$")
        self.assertEqual(targets[1], "/api/health?hooks=1")

    def test_a_healthy_village_is_not_started(self):
        for health in ({}, {"version": "dev"}, {"version": "99.0.0", "api": 300}):
            with self.subTest(health=health):
                self.daemon.clear_requests()
                self.daemon.health = {"app": "mossbank", "api": 211, "version": harness_version(), **health}
                r, _, _ = self.run_wrapper(["agent"], self.env())
                self.assert_checked(r, "")

    def test_an_unhealthy_village_gets_the_application_started(self):
        # build/mossbank has no Node program beside it: the start fails at once.
        didnt = "Mossbank's village didn't start; see <log>\n"
        cases = [
            ("wrong proof", {"proof": "wrong"}),
            ("no proof", {"proof": "none"}),
            ("old api", {"health": {"app": "mossbank", "api": 210, "version": harness_version()}}),
            ("no api", {"health": {"app": "mossbank", "version": harness_version()}}),
            ("old version", {"health": {"app": "mossbank", "api": 211, "version": "0.0.1"}}),
            ("pre-release", {"health": {"app": "mossbank", "api": 211, "version": harness_version() + "-beta"}}),
            ("another app", {"health": {"app": "other", "api": 211, "version": harness_version()}}),
        ]
        for name, settings in cases:
            with self.subTest(name):
                self.daemon.clear_requests()
                self.daemon.proof = settings.get("proof", "right")
                self.daemon.health = settings.get("health", {"app": "mossbank", "api": 211,
                                                             "version": harness_version()})
                r, _, took = self.run_wrapper(["agent"], self.env())
                self.assert_checked(r, didnt)
                self.assertLess(took, 10)  # not the 15 s wait

    def test_no_config_makes_one_and_starts_the_application(self):
        os.remove(self.daemon.config_path)
        r, _, _ = self.run_wrapper(["agent"], self.env())
        self.assertIn("Mossbank's village didn't start; see ", r.stderr.decode())
        self.assertTrue(os.path.exists(self.daemon.config_path))
        # The new file names port 4827, where the stand-in does not listen.
        self.assertEqual(self.health_requests(), [])

    def bundle(self, node_script):
        """A copy of the binary in an application bundle with mossbank.js,
        and a `node` on PATH running `node_script` (sh)."""
        top = os.path.join(self.root, "Mossbank.app", "Contents", "Resources", "cli")
        exe = os.path.join(top, "bin", "mossbank")
        os.makedirs(os.path.dirname(exe))
        shutil.copy(self.bin, exe)
        harness.write_script(os.path.join(top, "mossbank.js"), "// the Node program\n")
        self.agent("node", node_script)
        return exe, os.path.join(top, "mossbank.js")

    def test_the_application_started_through_the_node_program(self):
        self.daemon.proof = "wrong"
        started = os.path.join(self.root, "started")
        exe, js = self.bundle('#!/bin/sh\nprintf "%s\\n" "$@" > "' + started + '"\nexit 0\n')
        r, _, _ = self.run_wrapper(["agent"], self.env(), binary=exe)
        self.assert_checked(r, "")
        with open(started) as f:
            self.assertEqual(f.read().splitlines(), [js, "start", "--no-open"])

    def test_an_application_that_fails_to_start(self):
        self.daemon.proof = "wrong"
        exe, _ = self.bundle("#!/bin/sh\nexit 1\n")
        r, _, took = self.run_wrapper(["agent"], self.env(), binary=exe)
        self.assert_checked(r, "Mossbank's village didn't start; see <log>\n")
        self.assertLess(took, 10)

    def test_a_slow_application_is_waited_for_fifteen_seconds(self):
        self.daemon.proof = "wrong"
        pid_file = os.path.join(self.root, "node.pid")
        exe, _ = self.bundle('#!/bin/sh\necho $$ > "' + pid_file + '"\nexec sleep 120\n')
        self.addCleanup(kill_from_file, pid_file)
        r, _, took = self.run_wrapper(["agent"], self.env(), binary=exe, timeout=90)
        self.assert_checked(r, "Mossbank's village is slow to start; the agent starts now and "
                               "joins it once it answers (see <log>)\n")
        self.assertGreaterEqual(took, 14.5)  # and the 90 s limit is less than the application's 120 s


class InstallRuns(RunEntry):
    def setUp(self):
        super().setUp()
        self.daemon = StandInDaemon(home=self.home)
        self.addCleanup(self.daemon.close)
        self.agent()
        self.install = {"MOSSBANK_RUN_SETUP": "1", "MOSSBANK_RUN_DAEMON_PID": str(os.getpid())}

    def test_the_village_that_started_it_must_answer(self):
        self.daemon.stop()
        r, _, _ = self.run_wrapper(["agent"], self.env(**self.install))
        self.assertEqual((r.code, r.stderr.decode()),
                         (1, "mossbank: the village that started this install isn't running\n"))
        self.assertFalse(os.path.exists(self.record))

    def test_no_proof_is_asked_of_it(self):
        self.daemon.proof = "wrong"
        r, _, _ = self.run_wrapper(["agent"], self.env(**self.install))
        self.assertEqual(r.stderr, b"")
        targets = [q.target for q in self.daemon.requests("/api/health", match="prefix")]
        # The entry asks once, plainly, and skips the village check (no hooks
        # request); only the run's link asks the daemon for its proof.
        self.assertEqual(targets[0], "/api/health")
        self.assertNotIn("/api/health?hooks=1", targets)
        self.assertTrue(all(t.startswith("/api/health?nonce=") for t in targets[1:]), targets)


class CodexProbe(RunEntry):
    """Codex is asked for its help once; when it lists --no-daemon and the
    command line leaves the choice open, the flag goes first."""

    def setUp(self):
        super().setUp()
        self.daemon = StandInDaemon(home=self.home)
        self.addCleanup(self.daemon.close)
        self.probes = os.path.join(self.root, "probes")

    def codex(self, help_text):
        self.agent("codex", f"""#!/bin/sh
if [ "$1" = --help ]; then
  echo "probe $MOSSBANK_RUN_AS" >> "{self.probes}"
  printf '%s\n' "{help_text}"
  exit 0
fi
""" + RECORDER.split("\n", 1)[1])

    def probes_made(self):
        if not os.path.exists(self.probes):
            return []
        with open(self.probes) as f:
            return f.read().splitlines()

    def test_the_flag_goes_first_when_the_help_lists_it(self):
        self.codex("  --no-daemon   Run the session in this process")
        r, _, _ = self.run_wrapper(["codex", "--model", "o3"], self.env(MOSSBANK_RUN_AS="x"))
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.probes_made(), ["probe "])  # the agent's environment
        self.assertEqual(self.recorded_values("arg"), ["--no-daemon", "--model", "o3"])

    def test_no_flag_in_the_help_or_no_probe_at_all(self):
        cases = [
            ("Usage: codex [OPTIONS]", ["x"], 1),
            ("  --no-daemon", ["--no-daemon"], 0),
            ("  --no-daemon", ["--remote=ws://h"], 0),
            ("  --no-daemon", ["exec", "task"], 0),
            ("  --no-daemon", ["login"], 0),
        ]
        for help_text, args, probes in cases:
            with self.subTest(args=args):
                if os.path.exists(self.probes):
                    os.remove(self.probes)
                self.codex(help_text)
                r, _, _ = self.run_wrapper(["codex"] + args, self.env())
                self.assertEqual(len(self.probes_made()), probes)
                self.assertEqual(self.recorded_values("arg"), args)


class Vocations(RunEntry):
    def folder(self):
        return os.path.join(self.home, "vocations")

    def test_builtins_written_on_first_use_and_the_prompt_given_to_claude(self):
        self.village_off()
        self.agent("claude")
        r, _, _ = self.run_wrapper(["--vocation", "researcher", "claude", "--model", "m"], self.env())
        self.assertEqual((r.code, r.stderr), (0, b""))
        self.assertEqual(sorted(os.listdir(self.folder())), sorted(i + ".md" for i in BUILTIN_IDS))
        for vid, lines in BUILTIN_FILES.items():
            with open(os.path.join(self.folder(), vid + ".md"), "rb") as f:
                self.assertEqual(f.read(), ("\n".join(lines) + "\n").encode(), vid)
        self.assertEqual(self.recorded_values("arg"),
                         ["--append-system-prompt", RESEARCHER_PROMPT, "--model", "m"])

    def test_only_claude_gets_the_prompt(self):
        self.village_off()
        self.agent("codex")
        r, _, _ = self.run_wrapper(["--vocation=planner", "codex", "x"], self.env())
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.recorded_values("arg"), ["x"])
        self.assertTrue(os.path.isdir(self.folder()))

    def test_unknown_id_without_a_folder(self):
        r, _, _ = self.run_wrapper(["--vocation", "chef", "claude"], self.env())
        self.assertEqual((r.code, r.stderr.decode()), (2, (
            'No vocation "chef". Known: designer, developer, marketer, planner, researcher, '
            "reviewer, villager\n" + USAGE)))
        self.assertFalse(os.path.exists(self.folder()))

    def test_a_users_folder_replaces_the_builtins(self):
        self.village_off()
        self.agent("claude")
        harness.write_script(os.path.join(self.folder(), "chef.md"),
                     "---\nname: 'Head Chef\"\nlook: chef\n---\nCook.\n\n  Taste.\n", mode=0o644)
        r, _, _ = self.run_wrapper(["-v", "planner", "claude"], self.env())
        self.assertEqual((r.code, r.stderr.decode()), (2, 'No vocation "planner". Known: chef\n' + USAGE))
        r, _, _ = self.run_wrapper(["-v", "chef", "claude"], self.env())
        self.assertEqual(r.code, 0, r)
        self.assertEqual(self.recorded_values("arg"), [
            "--append-system-prompt", "You are a Mossbank resident working as Head Chef. Cook. Taste."])
        self.assertEqual(os.listdir(self.folder()), ["chef.md"])

    def test_a_folder_that_cannot_be_made(self):
        home = os.path.join(self.root, "home-file")
        with open(home, "w") as f:
            f.write("not a folder")
        r, _, _ = self.run_wrapper(["--vocation", "planner", "claude"], self.env(home=home))
        self.assertEqual((r.code, r.stderr.decode()), (1, (
            f"mossbank: couldn't write the vocations in {home}/vocations: "
            "Not a directory (os error 20)\n")))


def harness_version():
    from support.standin import VERSION
    return VERSION


def kill_from_file(path):
    try:
        with open(path) as f:
            os.kill(int(f.read().strip()), signal.SIGKILL)
    except (OSError, ValueError):
        pass


if __name__ == "__main__":
    unittest.main()

"""The program's entry: version, per-command help, and the hand-off of every
other command to the Node program that ships beside the tool."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from support.standin import VERSION

BIN = os.environ.get("MOSSBANK_BIN") or os.path.join(
    os.path.dirname(__file__), "..", "build", "mossbank")

ENGLISH_HOOK = ("Usage: mossbank hook [--agent <name>] [--event <event>] "
                "[--wait [question] | --waiter | --handover | --step] [--decides claude]\n")
KOREAN_HOOK = ("사용법: mossbank hook [--agent <이름>] [--event <이벤트>] "
               "[--wait [question] | --waiter | --handover | --step] [--decides claude]\n")


def clean_env(**extra):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": tempfile.gettempdir()}
    env.update(extra)
    return env


def run(args, env=None, exe=BIN, stdin=b""):
    return subprocess.run([exe] + args, input=stdin, capture_output=True,
                          env=env if env is not None else clean_env(), timeout=30)


RECORDER = """#!/bin/sh
# Stands in for the Node program: says how it was started.
{
  printf 'program=%s\\n' "$0"
  printf 'electron=%s\\n' "${ELECTRON_RUN_AS_NODE-unset}"
  for a in "$@"; do printf 'arg=%s\\n' "$a"; done
} > "$RECORD_TO"
exit 7
"""


def write_script(path, text=RECORDER):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, 0o755)


@unittest.skipUnless(os.path.exists(BIN), "the mossbank binary is not built")
class VersionAndHelp(unittest.TestCase):
    def test_version(self):
        for flag in ["-v", "--version"]:
            r = run([flag])
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, VERSION.encode() + b"\n", b""), flag)

    def test_help_texts_follow_the_language(self):
        cases = [
            (["hook", "--help"], {}, ENGLISH_HOOK),
            (["hook", "-h"], {"MOSSBANK_LANG": "ko"}, KOREAN_HOOK),
            (["mcp", "-h"], {"LANG": "ko_KR.UTF-8"}, "사용법: mossbank mcp\n"),
            (["mcp", "--help"], {"MOSSBANK_LANG": "ko"}, "사용법: mossbank mcp\n"),
            (["mcp", "-h"], {"MOSSBANK_LANG": "fr", "LANG": "ko"}, "사용법: mossbank mcp\n"),
            (["mcp", "-h"], {"LANG": "k"}, "Usage: mossbank mcp\n"),
            (["mcp", "-h"], {"MOSSBANK_LANG": "EN", "LC_ALL": "ko_KR.UTF-8"}, "Usage: mossbank mcp\n"),
            (["run", "--help"], {}, "Usage: mossbank run [--vocation <id>] [--allow-plain] [--] [command [args…]]\n"),
        ]
        for args, env, expected in cases:
            r = run(args, env=clean_env(**env))
            self.assertEqual(r.returncode, 0, (args, env, r.stderr))
            self.assertEqual(r.stdout.decode(), expected, (args, env))
            self.assertEqual(r.stderr, b"")


@unittest.skipUnless(os.path.exists(BIN), "the mossbank binary is not built")
class HandOffToNode(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="mossbank-bundle-")
        self.addCleanup(shutil.rmtree, self.root)
        self.record = os.path.join(self.root, "record.txt")

    def bundle(self, cjs=False, js=False, app=None):
        """A copy of the binary in Contents/Resources/cli/bin, the scripts in
        Contents/Resources/cli and the application's executable in Contents."""
        contents = os.path.join(self.root, "Mossbank.app", "Contents")
        top = os.path.join(contents, "Resources", "cli")
        exe = os.path.join(top, "bin", "mossbank")
        os.makedirs(os.path.dirname(exe))
        shutil.copy(BIN, exe)
        if cjs:
            write_script(os.path.join(top, "mossbank.cjs"), "// script\n")
        if js:
            write_script(os.path.join(top, "mossbank.js"), "// script\n")
        if app == "macos":
            write_script(os.path.join(contents, "MacOS", "Mossbank"))
        elif app == "exe":
            write_script(os.path.join(contents, "Mossbank.exe"))
        return exe, top, contents

    def node_on_path(self):
        """An environment whose PATH holds a recording `node`."""
        bindir = os.path.join(self.root, "path-bin")
        write_script(os.path.join(bindir, "node"))
        return clean_env(RECORD_TO=self.record, PATH=bindir + ":/usr/bin:/bin")

    def recorded(self):
        with open(self.record, "rb") as f:
            return f.read().decode("utf-8").splitlines()

    def test_application_executable_runs_the_cjs_script_as_node(self):
        for app, program in [("macos", "MacOS/Mossbank"), ("exe", "Mossbank.exe")]:
            with self.subTest(app=app):
                shutil.rmtree(self.root)
                os.makedirs(self.root)
                exe, top, contents = self.bundle(cjs=True, js=True, app=app)
                r = run(["setup", "--agent", "all"], env=clean_env(RECORD_TO=self.record), exe=exe)
                self.assertEqual(r.returncode, 7, r.stderr)
                self.assertEqual(self.recorded(), [
                    "program=" + os.path.join(contents, program),
                    "electron=1",
                    "arg=" + os.path.join(top, "mossbank.cjs"),
                    "arg=setup", "arg=--agent", "arg=all",
                ])

    def test_js_script_runs_with_node_from_path(self):
        exe, top, _ = self.bundle(js=True)
        env = self.node_on_path()
        r = run(["setup", "--agent", "all"], env=env, exe=exe)
        self.assertEqual(r.returncode, 7, r.stderr)
        self.assertEqual(self.recorded(), [
            "program=" + os.path.join(self.root, "path-bin", "node"),
            "electron=unset",
            "arg=" + os.path.join(top, "mossbank.js"),
            "arg=setup", "arg=--agent", "arg=all",
        ])

    def test_node_gets_every_signal_at_its_default(self):
        # The tool ignores SIGPIPE; the program it becomes must not. (The
        # script becomes grep: a shell blocks signals while it waits.)
        exe, _, _ = self.bundle(js=True)
        bindir = os.path.join(self.root, "path-bin")
        write_script(os.path.join(bindir, "node"),
                     "#!/bin/sh\nexec grep -E '^Sig(Ign|Blk):' /proc/self/status > \"$RECORD_TO\"\n")
        r = run(["setup"], env=clean_env(RECORD_TO=self.record, PATH=bindir + ":/usr/bin:/bin"), exe=exe)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.recorded(), ["SigBlk:\t0000000000000000", "SigIgn:\t0000000000000000"])

    def test_everything_but_the_own_commands_goes_to_node(self):
        exe, top, _ = self.bundle(js=True)
        env = self.node_on_path()
        for args in [[], ["-V"], ["--Version"], ["MCP"], ["-h"], ["--help"], ["Run"],
                     ["mail", "--unread"]]:
            with self.subTest(args=args):
                r = run(args, env=env, exe=exe)
                self.assertEqual(r.returncode, 7, r.stderr)
                self.assertEqual(self.recorded()[2:],
                                 ["arg=" + os.path.join(top, "mossbank.js")] +
                                 ["arg=" + a for a in args])

    def test_invalid_utf8_arrives_replaced(self):
        exe, top, _ = self.bundle(js=True)
        env = self.node_on_path()
        r = subprocess.run([exe, "send", b"caf\xe9 \xff\xfe ok"], capture_output=True, env=env,
                           timeout=30)
        self.assertEqual(r.returncode, 7, r.stderr)
        self.assertEqual(self.recorded()[-1], "arg=caf\ufffd \ufffd\ufffd ok")

    def test_no_node_program_beside(self):
        for layout in [dict(), dict(cjs=True, js=True)]:  # .cjs without the app: .js is not tried
            with self.subTest(layout=layout):
                shutil.rmtree(self.root)
                os.makedirs(self.root)
                exe, _, _ = self.bundle(**layout)
                r = run(["setup"], exe=exe)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                self.assertEqual(
                    r.stderr.decode(),
                    "mossbank: no Node CLI beside %s to run this command "
                    "(mossbank.cjs or mossbank.js in its parent folder).\n" % exe)

    def test_node_program_that_cannot_start(self):
        exe, _, _ = self.bundle(js=True)
        env = clean_env(PATH=os.path.join(self.root, "empty"))
        r = run(["setup"], env=env, exe=exe)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr.decode(),
                         "mossbank: the Node CLI didn't start: No such file or directory\n")


if __name__ == "__main__":
    unittest.main()

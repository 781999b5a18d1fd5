"""`mossbank run` in a real pseudo-terminal: the agent's exit code, the
user's terminal given back exactly as it was on every way out, window
changes and Ctrl-C reaching the agent, and the agent's environment.

The agents are small scripts; a healthy stand-in daemon runs beside, so the
run takes its ordinary road.
"""

import json
import os
import re
import signal
import tempfile
import termios
import unittest

from support import harness
from support.standin import StandInDaemon


def termios_of(fd):
    return termios.tcgetattr(fd)


class RunInPty(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.daemon.start()
        self.addCleanup(self.daemon.stop)
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def agent(self, name, body):
        return harness.write_python(os.path.join(self.dir.name, name), body)

    def start(self, argv, cols=80, rows=24, **env):
        term = harness.Pty([self.bin, "run"] + argv, harness.clean_env(self.daemon.home, env),
                           cols=cols, rows=rows)
        self.addCleanup(term.close)
        # The user's terminal as the wrapper found it (the line discipline of
        # the pty the test holds: the wrapper sets it raw and back).
        self.before = term.initial_termios
        return term

    def wait_raw(self, term):
        """Waits until the wrapper has set the terminal raw: it does so after
        it has started the agent, so the agent may well speak first."""
        harness.poll(lambda: termios_of(term.master) != self.before, 20, "the terminal never went raw")

    def assert_restored(self, term):
        self.assertEqual(termios_of(term.master), self.before)

    def test_exit_code_and_terminal_restored(self):
        agent = self.agent("agent", """
            import sys
            print("agent says hi", flush=True)
            sys.stdin.readline()
            sys.exit(3)
        """)
        term = self.start([agent])
        term.expect("agent says hi", timeout=20)
        self.wait_raw(term)  # raw while the agent runs
        term.write("\r")
        self.assertEqual(term.wait(20), 3)
        self.assert_restored(term)

    def test_agent_killed_by_a_signal_the_wrapper_did_not_send(self):
        agent = self.agent("agent", """
            import os, signal
            print("ready", flush=True)
            os.kill(os.getpid(), signal.SIGKILL)
        """)
        term = self.start([agent])
        self.assertEqual(term.wait(20), 128 + signal.SIGKILL)
        self.assert_restored(term)

    def test_sigterm_to_the_wrapper_ends_the_agent(self):
        agent = self.agent("agent", """
            import os, signal, time
            def hup(*_):
                os.write(1, b"got SIGHUP\\n")  # the signal may come while print still runs
                os._exit(0)
            signal.signal(signal.SIGHUP, hup)
            print("ready", flush=True)
            while True:
                time.sleep(1)
        """)
        term = self.start([agent])
        term.expect("ready", timeout=20)
        term.signal(signal.SIGTERM)
        term.expect("got SIGHUP", timeout=20)
        self.assertEqual(term.wait(20), 0)
        self.assert_restored(term)

    def test_a_child_left_holding_the_pty_does_not_keep_the_wrapper(self):
        agent = self.agent("agent", """
            import subprocess
            subprocess.Popen(["sleep", "60"])  # inherits the pty and keeps it open
            print("leaving", flush=True)
        """)
        term = self.start([agent])
        term.expect("leaving", timeout=20)
        self.assertEqual(term.wait(20), 0)
        self.assert_restored(term)

    def test_window_changes_reach_the_agent(self):
        agent = self.agent("agent", """
            import os, signal, sys, time
            def size(*_):
                c, r = os.get_terminal_size(0)
                os.write(1, f"size {c}x{r}\\n".encode())  # also from the handler: no buffered print
            signal.signal(signal.SIGWINCH, size)
            size()
            sys.stdin.readline()
        """)
        term = self.start([agent], cols=100, rows=30)
        term.expect("size 100x30", timeout=20)
        term.resize(90, 25)
        term.expect("size 90x25", timeout=20)
        term.write("\r")
        self.assertEqual(term.wait(20), 0)

    def test_ctrl_c_reaches_the_agent_as_sigint(self):
        agent = self.agent("agent", """
            import os, signal, time
            def on_int(*_):
                os.write(1, b"got SIGINT\\n")  # the signal may come while print still runs
                os._exit(7)
            signal.signal(signal.SIGINT, on_int)
            print("ready", flush=True)
            while True:
                time.sleep(1)
        """)
        term = self.start([agent])
        term.expect("ready", timeout=20)
        term.write(b"\x03")
        term.expect("got SIGINT", timeout=20)
        self.assertEqual(term.wait(20), 7)
        self.assert_restored(term)

    def test_the_agents_environment(self):
        agent = self.agent("agent", """
            import json, os
            print("ENV " + json.dumps(dict(os.environ)), flush=True)
        """)
        own = {name: "x" for name in [
            "MOSSBANK_VILLAGE_TERMINAL", "ELECTRON_RUN_AS_NODE", "MOSSBANK_RUST_HANDOVER",
            "MOSSBANK_RUN_UPGRADE_ID", "MOSSBANK_RUN_SIZE", "MOSSBANK_RUN_SETUP",
            "MOSSBANK_RUN_DAEMON_PID"]}
        term = self.start([agent], TERM=None, SHELL=None, MOSSBANK_RUN_ID="inherited",
                          MOSSBANK_AUTO_RUN_WHY="1", mossbank_run_as="kept", **own)
        line = term.expect(re.compile(rb"ENV (\{.*\})\r\n"), timeout=20)
        env = json.loads(line.group(1))
        for name in own:
            self.assertNotIn(name, env)
        self.assertRegex(env["MOSSBANK_RUN_ID"], r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
        self.assertEqual(env["TERM"], "xterm-256color")
        self.assertTrue(env["SHELL"].startswith("/"))
        self.assertEqual(env["MOSSBANK_AUTO_RUN_WHY"], "1")
        self.assertEqual(env["mossbank_run_as"], "kept")
        self.assertEqual(term.wait(20), 0)

    def test_the_agent_inherits_no_ignored_or_blocked_signal(self):
        # A shell agent that becomes grep: Python would ignore SIGPIPE itself,
        # and a shell blocks signals while it waits for a child.
        path = harness.write_script(os.path.join(self.dir.name, "agent"),
                                    "#!/bin/sh\nexec grep -E '^Sig(Ign|Blk):' /proc/self/status\n")
        term = self.start([path])
        term.expect("SigBlk:\t0000000000000000", timeout=20)
        term.expect("SigIgn:\t0000000000000000", timeout=20)
        self.assertEqual(term.wait(20), 0)

    def test_claude_gets_the_vocation_prompt_and_a_session_id(self):
        bindir = os.path.join(self.dir.name, "bin")
        harness.write_python(os.path.join(bindir, "claude"),
                             "import json, sys\nprint('ARGS ' + json.dumps(sys.argv[1:]), flush=True)\n")
        term = self.start(["--vocation", "researcher", "claude", "--model", "m"],
                          PATH=bindir + ":" + os.environ.get("PATH", "/usr/bin:/bin"))
        m = term.expect(re.compile(rb"ARGS (\[.*\])\r\n"), timeout=20)
        args = json.loads(m.group(1))
        self.assertEqual(args[0], "--session-id")
        self.assertRegex(args[1], r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
        self.assertEqual(args[2], "--append-system-prompt")
        self.assertTrue(args[3].startswith("You are a Mossbank resident working as Researcher. "))
        self.assertEqual(args[4:], ["--model", "m"])
        self.assertEqual(term.wait(20), 0)

    def test_a_crash_of_the_wrapper_gives_the_terminal_back(self):
        agent = self.agent("agent", """
            import sys, time
            sys.stdout.write("\\x1b[?1049h\\x1b[?2004h\\x1b[?25lfull screen\\r\\n")
            sys.stdout.flush()
            time.sleep(60)
        """)
        term = self.start([agent])
        term.expect("full screen", timeout=20)
        self.wait_raw(term)  # the modes are reset only after a crash in raw mode
        term.signal(signal.SIGSEGV)
        self.assertEqual(term.wait(20), -signal.SIGSEGV)
        self.assert_restored(term)
        # The reset may still be on its way through the pty.
        term.expect(b"\x1b[?1049l", timeout=20)
        term.expect(b"\x1b[?2004l", timeout=20)
        term.expect(b"\x1b[?25h", timeout=20)

    def test_every_signal_that_ends_the_wrapper_gives_the_terminal_back(self):
        # The four the run handles itself, SIGPIPE (ignored) and the two that
        # cannot be caught are not among them.
        names = ["SIGQUIT", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM", "SIGPROF", "SIGXCPU",
                 "SIGXFSZ", "SIGTRAP", "SIGSYS", "SIGIO", "SIGPWR", "SIGSTKFLT", "SIGABRT"]
        sigs = [getattr(signal, n) for n in names if hasattr(signal, n)]
        if hasattr(signal, "SIGRTMIN"):
            sigs += [signal.SIGRTMIN, signal.SIGRTMAX]
        agent = self.agent("agent", """
            import sys, time
            sys.stdout.write("\\x1b[?1049h\\x1b[?2004hfull screen\\r\\n")
            sys.stdout.flush()
            time.sleep(60)
        """)
        for sig in sigs:
            with self.subTest(signal=sig):
                term = self.start([agent])
                term.expect("full screen", timeout=20)
                self.wait_raw(term)
                term.signal(sig)
                self.assertEqual(term.wait(20), -sig)
                self.assert_restored(term)
                term.expect(b"\x1b[?1049l", timeout=20)
                term.expect(b"\x1b[?2004l", timeout=20)


if __name__ == "__main__":
    unittest.main()

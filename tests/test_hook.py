"""The hook relay, run as the agents' hook settings run it, against the
stand-in daemon: what reaches the daemon, what comes back out, and what is
kept in the spool when the daemon is down."""

import hashlib
import json
import os
import stat
import subprocess
import threading
import time
import unittest

from support import harness
from support.standin import Reply, StandInDaemon, closed_port, config_text, write_private


class HookCase(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.home = self.daemon.home

    def env(self, **extra):
        return harness.clean_env(self.home, extra)

    def hook(self, args, stdin=b"", timeout=15.0, **env):
        return harness.run(["hook"] + args, env=self.env(**env), stdin=stdin, timeout=timeout)

    def spool_path(self):
        return os.path.join(self.home, "spool", "hooks.jsonl")

    def take_daemon_down(self):
        """config.json stays, but nothing listens on its port."""
        self.daemon.stop()


class WhatIsSent(HookCase):
    def test_plain_event_from_stdin_byte_for_byte(self):
        payload = '{"hook_event_name":"Stop","text":"héllo"}\n'.encode()
        r = self.hook(["--agent", "claude", "--event", "Stop"], stdin=payload,
                      MOSSBANK_RUN_ID="run-7", CLAUDE_CODE_ENTRYPOINT="cli")
        self.assertEqual((r.code, r.stdout, r.stderr), (0, b"", b""))
        req = self.daemon.wait_request("/api/hook", match="prefix")
        self.assertEqual(req.request_line, "POST /api/hook?agent=claude&event=Stop HTTP/1.1")
        self.assertEqual(req.body, payload)
        names = [name for name, _ in req.headers]
        self.assertEqual(names, ["host", "connection", "accept", "content-type", "x-mossbank-token",
                                 "x-mossbank-run", "x-mossbank-pid", "x-mossbank-entrypoint",
                                 "x-mossbank-sign-in", "content-length"])
        self.assertEqual(req.header("host"), "127.0.0.1:%d" % self.daemon.port)
        self.assertEqual(req.header("connection"), "close")
        self.assertEqual(req.header("x-mossbank-token"), self.daemon.hook_token)
        self.assertEqual(req.header("x-mossbank-run"), "run-7")
        self.assertEqual(req.header("x-mossbank-pid"), str(os.getpid()))
        claude_dir = os.path.join(self.home, ".claude")
        tag = hashlib.sha256(claude_dir.encode()).hexdigest()[:12] + ".s"
        self.assertEqual(req.header("x-mossbank-sign-in"), tag)

    def test_payload_from_the_last_argument(self):
        r = self.hook(["--agent", "codex", "--event", "Stop", '{"a":1}'], stdin=None)
        self.assertEqual(r.code, 0)
        req = self.daemon.wait_request("/api/hook", match="prefix")
        self.assertEqual(req.target, "/api/hook?agent=codex&event=Stop")
        self.assertEqual(req.body, b'{"a":1}')

    def test_queries(self):
        cases = [
            (["--agent", "claude"], {"GROK_HOOK_EVENT": "x", "GROK_SESSION_ID": "y"},
             "/api/hook?agent=grok&via=claude"),
            (["--agent", "claude"], {"GROK_HOOK_EVENT": "x"}, "/api/hook?agent=claude"),
            (["--event", "Pre_Tool"], {}, "/api/hook"),
            (["--decides", "claude"], {}, "/api/hook"),
            (["--wait", "question", "--decides", "claude"], {}, "/api/hook?decides=claude&wait=1"),
            (["--step", "--wait"], {}, "/api/hook?step=1"),
            (["--handover", "--decides", "a bé"], {}, "/api/hook?decides=a%20b%C3%A9&handover=1"),
            (["--agent", "opencode", "--waiter", "--event", "Stop"], {"MOSSBANK_RUN_ID": "r"},
             "/api/hook?agent=opencode&waiter=1"),
        ]
        for args, env, target in cases:
            with self.subTest(args=args, env=env):
                self.daemon.clear_requests()
                r = self.hook(args, stdin=b"{}", **env)
                self.assertEqual(r.code, 0, r)
                req = self.daemon.wait_request("/api/hook", match="prefix")
                self.assertEqual(req.target, target)
                if "grok" in target:
                    self.assertIsNone(req.header("x-mossbank-sign-in"))
                if "waiter" in target:
                    self.assertIsNone(req.header("x-mossbank-run"))

    def test_unsendable_header_value_leaves_only_that_header_out(self):
        r = self.hook(["--agent", "copilot"], stdin=b"{}", COPILOT_HOME="/Users/김/.copilot",
                      COPILOT_ALLOW_ALL="true")
        self.assertEqual(r.code, 0)
        req = self.daemon.wait_request("/api/hook", match="prefix")
        self.assertIsNone(req.header("x-mossbank-copilot-home"))
        self.assertEqual(req.header("x-mossbank-copilot-allow-all"), "true")
        self.assertEqual(req.body, b"{}")

    def test_nothing_sent_for_blank_payload_or_missing_config(self):
        r = self.hook(["--agent", "claude"], stdin=b"  \n\n\t ")
        self.assertEqual((r.code, r.stdout), (0, b""))
        os.remove(self.daemon.config_path)
        r = self.hook(["--agent", "claude"], stdin=b"{}")
        self.assertEqual((r.code, r.stdout, r.stderr), (0, b"", b""))
        self.daemon.expect_no_request("/api/hook", match="prefix", within=0.3)

    def test_stdin_over_one_mebibyte_is_dropped(self):
        big = b"{" + b" " * (1 << 20) + b"}"  # 1 MiB + 2 bytes
        r = self.hook(["--agent", "claude"], stdin=big)
        self.assertEqual(r.code, 0)
        self.daemon.expect_no_request("/api/hook", match="prefix", within=0.3)
        exact = b"{" + b" " * ((1 << 20) - 2) + b"}"
        r = self.hook(["--agent", "claude"], stdin=exact)
        req = self.daemon.wait_request("/api/hook", match="prefix")
        self.assertEqual(len(req.body), 1 << 20)


class BadAgent(HookCase):
    def test_bad_agent_exits_without_reading_stdin(self):
        for args in [["--agent", "Claude"], ["--agent"], ["--agent", "a" * 25], ["--agent", "co_dex"]]:
            with self.subTest(args=args):
                # stdin stays open and empty: reading it would block.
                proc = subprocess.Popen([self.bin, "hook"] + args, env=self.env(),
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
                try:
                    code = proc.wait(timeout=5)
                finally:
                    proc.kill()
                    proc.stdin.close()
                out, err = proc.stdout.read(), proc.stderr.read()
                proc.stdout.close()
                proc.stderr.close()
                self.assertEqual((code, out, err), (0, b"", b""))
        self.daemon.expect_no_request("/api/hook", match="prefix", within=0.2)

    def test_sdk_entrypoint_skips_waiter_and_handover(self):
        for flag in ["--waiter", "--handover"]:
            with self.subTest(flag=flag):
                r = self.hook(["--agent", "claude", flag], stdin=b"{}",
                              CLAUDE_CODE_ENTRYPOINT="sdk-ts")
                self.assertEqual((r.code, r.stdout, r.stderr), (0, b"", b""))
        self.daemon.expect_no_request("/api/hook", match="prefix", within=0.3)
        r = self.hook(["--agent", "claude", "--step"], stdin=b"{}", CLAUDE_CODE_ENTRYPOINT="sdk-ts")
        self.daemon.wait_request("/api/hook?agent=claude&step=1")


class Answers(HookCase):
    def answer(self, body, status=200):
        self.daemon.route("/api/hook", Reply(status=status, body=body), match="prefix")

    def test_output_by_kind(self):
        decision = b'{"decision":"approve"}'
        cases = [
            (["--wait"], 200, decision, decision, b"", 0),
            (["--wait", "question"], 200, decision, decision, b"", 0),
            (["--step"], 201, decision, decision, b"", 0),
            (["--handover"], 299, decision, decision, b"", 0),
            (["--wait"], 500, decision, b"", b"", 0),
            (["--waiter"], 200, decision, b"", decision, 2),
            (["--waiter"], 200, b"", b"", b"", 0),
            (["--waiter"], 404, decision, b"", b"", 0),
            ([], 200, decision, b"", b"", 0),
        ]
        for args, status, body, out, err, code in cases:
            with self.subTest(args=args, status=status):
                self.answer(body, status)
                r = self.hook(["--agent", "claude"] + args, stdin=b"{}")
                self.assertEqual((r.code, r.stdout, r.stderr), (code, out, err))

    def test_output_limits(self):
        cases = [
            (["--handover"], 1 << 20, True),
            (["--handover"], (1 << 20) + 1, False),
            (["--wait"], 64 << 10, True),
            (["--wait"], (64 << 10) + 1, False),
            (["--step"], (64 << 10) + 1, False),
            (["--waiter"], 256 << 10, True),
            (["--waiter"], (256 << 10) + 1, False),
        ]
        for args, size, printed in cases:
            with self.subTest(args=args, size=size):
                body = b"x" * size
                self.answer(body)
                r = self.hook(args, stdin=b"{}")
                shown = r.stderr if args == ["--waiter"] else r.stdout
                self.assertEqual(shown, body if printed else b"")
                self.assertEqual(r.code, 2 if args == ["--waiter"] and printed else 0)

    def test_plain_event_ends_at_its_time_out(self):
        self.daemon.route("/api/hook", Reply.hang(), match="prefix")
        start = time.monotonic()
        r = self.hook(["--agent", "claude"], stdin=b"{}")
        elapsed = time.monotonic() - start
        self.assertEqual((r.code, r.stdout), (0, b""))
        self.assertGreaterEqual(elapsed, 0.3)
        self.assertLess(elapsed, 2.9)  # the plain 300 ms, not a step's 3 s
        self.assertFalse(os.path.exists(self.spool_path()))  # a time-out is not spooled

    def test_step_ends_at_its_time_out(self):
        self.daemon.route("/api/hook", Reply.hang(), match="prefix")
        start = time.monotonic()
        r = self.hook(["--step"], stdin=b"{}")
        elapsed = time.monotonic() - start
        self.assertEqual((r.code, r.stdout), (0, b""))
        self.assertGreater(elapsed, 2.9)  # it ends at all: the daemon never answers


class Waiter(HookCase):
    def start_waiter(self):
        path = os.path.join(self.home, "payload.json")
        with open(path, "wb") as f:
            f.write(b"{}")
        with open(path, "rb") as stdin:
            return subprocess.Popen([self.bin, "hook", "--waiter"], env=self.env(), stdin=stdin,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_retries_until_the_daemon_is_back(self):
        self.take_daemon_down()
        proc = self.start_waiter()
        time.sleep(4)  # the first attempt and one retry are refused
        self.daemon.route("/api/hook", Reply(body=b"go on"), match="prefix")
        self.daemon.start()
        out, err = proc.communicate(timeout=10)
        self.assertEqual((proc.returncode, out, err), (2, b"", b"go on"))

    def test_gives_up_when_the_village_is_switched_off(self):
        self.take_daemon_down()
        proc = self.start_waiter()
        time.sleep(1)
        with open(os.path.join(self.home, "village-off"), "w"):
            pass
        out, err = proc.communicate(timeout=10)  # not the 120 s window
        self.assertEqual((proc.returncode, out, err), (0, b"", b""))


class Spool(HookCase):
    def spooled(self):
        with open(self.spool_path(), "rb") as f:
            return [json.loads(line) for line in f.read().splitlines()]

    def test_refused_plain_event_is_spooled(self):
        self.take_daemon_down()
        payload = b'{"x":"\xe2\x80\xa8 y"}\n'
        before = int(time.time() * 1000)
        r = self.hook(["--agent", "claude", "--event", "Stop"], stdin=payload,
                      MOSSBANK_RUN_ID="run-1")
        after = int(time.time() * 1000)
        self.assertEqual((r.code, r.stdout, r.stderr), (0, b"", b""))
        with open(self.spool_path(), "rb") as f:
            raw = f.read()
        self.assertTrue(raw.endswith(b"\n"))
        line = json.loads(raw)
        self.assertEqual(list(line), ["at", "body", "headers", "path"])
        self.assertTrue(before <= line["at"] <= after)
        self.assertEqual(line["body"], payload.decode())
        self.assertEqual(line["path"], "/api/hook?agent=claude&event=Stop")
        self.assertEqual(sorted(line["headers"]), list(line["headers"]))
        self.assertEqual(set(line["headers"]), {"x-mossbank-run", "x-mossbank-pid", "x-mossbank-sign-in"})
        self.assertNotIn(self.daemon.hook_token.encode(), raw)
        self.assertEqual(stat.S_IMODE(os.stat(self.spool_path()).st_mode), 0o600)

    def test_only_refused_plain_events_within_the_limits_are_kept(self):
        self.take_daemon_down()
        self.hook(["--wait"], stdin=b"{}")
        self.hook(["--agent", "claude"], stdin=b'{"a":"' + b"x" * (300 << 10) + b'"}')
        self.assertFalse(os.path.exists(self.spool_path()))
        with open(os.path.join(self.home, "village-off"), "w"):
            pass
        self.hook(["--agent", "claude"], stdin=b"{}")
        self.assertFalse(os.path.exists(self.spool_path()))

    def test_spool_never_passes_one_mebibyte(self):
        self.take_daemon_down()
        os.makedirs(os.path.dirname(self.spool_path()))
        with open(self.spool_path(), "wb") as f:
            f.write(b"#" * 1048500)
        self.hook(["--agent", "claude"], stdin=b"{" + b" " * 10 + b"}")  # a line near 200 bytes
        self.assertEqual(os.path.getsize(self.spool_path()), 1048500)

    def test_many_relays_at_once_give_whole_lines(self):
        self.take_daemon_down()
        procs = []
        for i in range(200):
            payload = json.dumps({"n": i, "pad": "y" * (i * 37 % 3000)})
            procs.append(subprocess.Popen([self.bin, "hook", "--agent", "claude", payload],
                                          env=self.env(), stdin=subprocess.DEVNULL,
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE))
        for p in procs:
            p.communicate(timeout=60)
            self.assertEqual(p.returncode, 0)
        lines = self.spooled()
        self.assertEqual(len(lines), 200)
        self.assertEqual(sorted(json.loads(l["body"])["n"] for l in lines), list(range(200)))


if __name__ == "__main__":
    unittest.main()

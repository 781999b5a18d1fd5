"""The official MCP TypeScript client (tests/mcp-client) drives mossbank mcp
against the stand-in daemon, in each protocol version the server speaks and
in the client's own newer one: it must accept every answer."""

import json
import os
import shutil
import subprocess
import unittest

from support import harness
from support.standin import VERSION, Reply, StandInDaemon
from test_mcp import INSTRUCTIONS, LETTERS_UNAVAILABLE, OFF, TOOLS, VERSIONS, tool_result

CLIENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mcp-client")
INTRO = "You are Fern (claude), in project mossbank."
MESSAGE = {"at": 0, "sender": {"name": "Ana"}, "source": "slack", "channel": "#dev", "text": "hi", "url": "PR 7"}
CALLS = [
    {"name": "mossbank_notify", "arguments": {"sender": "CI", "text": "build red", "source": "github"}},
    {"name": "mossbank_inbox_list", "arguments": {"unread": True}},
    {"name": "mossbank_village_status"},
    {"name": "mossbank_whoami", "arguments": {}},
    {"name": "mossbank_residents"},
    {"name": "mossbank_send", "arguments": {"to": "Hazel", "text": "Can you review PR 12?"}},
    {"name": "mossbank_mail", "arguments": {"unread": True}},
    {"name": "mossbank_reply", "arguments": {"id": "l1", "text": "Done."}},
    {"name": "mossbank_todo_list"},
    {"name": "mossbank_nope"},
]
TODO = tool_result("The to-dos are hidden in this version of Mossbank, so this tool is off.", error=True)
UNKNOWN = {"code": -32602, "message": "MCP error -32602: Unknown tool: mossbank_nope"}


def letters(ex):
    body = ex.json()
    tool = body["tool"]
    structured = {"introduction": INTRO} if tool == "mossbank_whoami" else {"args": body["args"]}
    return Reply.json({"result": {"content": [{"type": "text", "text": "did " + tool}],
                                  "structuredContent": structured, "isError": tool == "mossbank_reply"}})


def letter_result(tool, args):
    structured = {"introduction": INTRO} if tool == "mossbank_whoami" else {"args": args}
    return tool_result("did " + tool, structured, error=tool == "mossbank_reply")


@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(CLIENT, "node_modules")),
                     "the MCP client is not installed (npm ci --prefix tests/mcp-client)")
class SdkClientTest(harness.BinaryTestCase):
    def setUp(self):
        self.daemon = StandInDaemon()
        self.addCleanup(self.daemon.close)
        self.daemon.route("/api/residents/talk-tool", letters, method="POST")
        self.daemon.route("/api/inbox", method="GET", body={"messages": [MESSAGE]})
        self.daemon.route("/api/state", body={"residents": [{"dotState": "working"}, {"dotState": "waiting"}],
                                              "inbox": {"unread": 1, "total": 1}})

    def drive(self, version, lang="en"):
        env = harness.clean_env(self.daemon.home, MOSSBANK_RUN_ID="r1", MOSSBANK_LANG=lang)
        done = subprocess.run(["node", os.path.join(CLIENT, "drive.mjs"), self.bin, version, json.dumps(CALLS)],
                              env=env, capture_output=True, timeout=120, cwd=CLIENT)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        report = json.loads(done.stdout)
        self.assertNotIn("failure", report)
        self.assertEqual(report["ping"], {})
        self.assertEqual(report["tools"], TOOLS)
        self.assertEqual(report["serverVersion"], {"name": "mossbank", "title": "Mossbank", "version": VERSION})
        self.assertEqual(report["capabilities"], {"tools": {"listChanged": False}})
        self.assertEqual([c["name"] for c in report["calls"]], [c["name"] for c in CALLS])
        return report

    def test_each_protocol_version(self):
        for version in VERSIONS + ["latest"]:
            with self.subTest(version=version):
                report = self.drive(version)
                expected_version = "2025-06-18" if version == "latest" else version
                if version != "latest":
                    self.assertEqual(report["offered"], version)
                else:
                    self.assertNotIn(report["offered"], VERSIONS)  # the client's newer one
                self.assertEqual(report["initialize"]["protocolVersion"], expected_version)
                self.assertEqual(report["instructions"], INSTRUCTIONS + " " + INTRO)
                results = [c.get("result", c.get("error")) for c in report["calls"]]
                self.assertEqual(results, [
                    tool_result("Delivered to the village inbox; the postman is taking it to the chief.", {"id": "1"}),
                    tool_result("1 message (* = unread):\n* 1970-01-01 00:00 \u00b7 slack #dev \u00b7 Ana: hi (PR 7)",
                                {"messages": [MESSAGE]}),
                    tool_result("2 residents: 1 working, 1 asking for you, 0 blocked, 0 done, 0 resting. Inbox: 1 unread.",
                                {"residents": 2, "working": 1, "asking": 1, "blocked": 0, "done": 0, "resting": 0,
                                 "unread": 1}),
                    letter_result("mossbank_whoami", {}),
                    letter_result("mossbank_residents", {}),
                    letter_result("mossbank_send", {"to": "Hazel", "text": "Can you review PR 12?"}),
                    letter_result("mossbank_mail", {"unread": True}),
                    letter_result("mossbank_reply", {"id": "l1", "text": "Done."}),
                    TODO,
                    UNKNOWN,
                ])
                sends = [r.json() for r in self.daemon.requests("/api/residents/talk-tool", method="POST")]
                self.assertTrue(sends)
                for body in sends:
                    self.assertEqual(list(body["call"]), ["pid", "run", "language"])
                    self.assertEqual(body["call"]["run"], "r1")
                    self.assertEqual(body["call"]["language"], "en")
                self.daemon.clear_requests()

    def test_village_off_and_letters_unavailable(self):
        self.daemon.clear_routes()  # no letters path: 404
        report = self.drive("2025-03-26", lang="ko")
        self.assertEqual(report["instructions"], INSTRUCTIONS)
        results = [c.get("result", c.get("error")) for c in report["calls"]]
        self.assertEqual(results[5], tool_result(LETTERS_UNAVAILABLE, error=True))
        self.daemon.stop()
        for version in VERSIONS:
            with self.subTest(version=version):
                report = self.drive(version, lang="ko")
                self.assertEqual(report["initialize"]["protocolVersion"], version)
                self.assertEqual(report["instructions"], INSTRUCTIONS)
                results = [c.get("result", c.get("error")) for c in report["calls"]]
                self.assertEqual(results, [tool_result(OFF["ko"], error=True)] * 8 + [TODO, UNKNOWN])


if __name__ == "__main__":
    unittest.main()

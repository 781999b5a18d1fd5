"""The model stand-in speaks each wire format as the agents read it, takes
its script in order, holds turns open until released or hung up on, and
records what arrived."""

import http.client
import json
import os
import socket
import subprocess
import sys
import threading
import unittest

from support.model_standin import ModelStandIn

HERE = os.path.dirname(os.path.abspath(__file__))


def tool(name):
    return {"name": name, "input_schema": {"type": "object"}}


def fn(name):
    return {"type": "function", "function": {"name": name, "parameters": {"type": "object"}}}


# api, path, a request body offering tools (a conversation turn)
TURNS = {
    "messages": ("/v1/messages", {"model": "m", "stream": True, "tools": [tool("Bash"), tool("Read")],
                                  "messages": [{"role": "user", "content": [{"type": "text", "text": "hi there"}]}]}),
    "responses": ("/v1/responses", {"model": "m", "stream": True,
                                    "tools": [{"type": "function", "name": "exec_command"}],
                                    "input": [{"type": "message", "role": "user",
                                               "content": [{"type": "input_text", "text": "hi there"}]}]}),
    "chat": ("/v1/chat/completions", {"model": "m", "stream": True, "tools": [fn("bash")],
                                      "messages": [{"role": "system", "content": "be brief"},
                                                   {"role": "user", "content": "hi there"}]}),
}


def post(port, path, body, timeout=10):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    conn.request("POST", path, json.dumps(body), {"Content-Type": "application/json"})
    try:
        resp = conn.getresponse()
        return resp.status, resp.getheader("Content-Type"), resp.read().decode()
    finally:
        conn.close()


def events(stream):
    """(event name or None, data) pairs of a server-sent-events body."""
    out = []
    for block in stream.split("\n\n"):
        name, data = None, None
        for line in block.split("\n"):
            if line.startswith("event: "):
                name = line[7:]
            elif line.startswith("data: "):
                data = line[6:]
        if data is not None:
            out.append((name, data if data == "[DONE]" else json.loads(data)))
    return out


def text_of(api, evs):
    if api == "messages":
        return "".join(d["delta"]["text"] for _, d in evs
                       if d.get("type") == "content_block_delta" and d["delta"]["type"] == "text_delta")
    if api == "responses":
        return "".join(d["delta"] for _, d in evs if d.get("type") == "response.output_text.delta")
    return "".join(d["choices"][0]["delta"].get("content") or "" for _, d in evs if d != "[DONE]")


def tool_call_of(api, evs):
    """(name, arguments dict) of the one tool call in an answer."""
    if api == "messages":
        start = next(d for _, d in evs if d.get("type") == "content_block_start"
                     and d["content_block"]["type"] == "tool_use")
        args = "".join(d["delta"]["partial_json"] for _, d in evs
                       if d.get("type") == "content_block_delta" and d["delta"]["type"] == "input_json_delta")
        return start["content_block"]["name"], json.loads(args)
    if api == "responses":
        item = next(d["item"] for _, d in evs if d.get("type") == "response.output_item.done")
        return item["name"], json.loads(item["arguments"])
    call = next(d["choices"][0]["delta"]["tool_calls"][0] for _, d in evs
                if d != "[DONE]" and d["choices"][0]["delta"].get("tool_calls"))
    return call["function"]["name"], json.loads(call["function"]["arguments"])


def finished(api, evs):
    if api == "messages":
        return evs[-1][1] == {"type": "message_stop"}
    if api == "responses":
        return evs[-1][1]["type"] == "response.completed"
    return evs[-1][1] == "[DONE]"


class WireTest(unittest.TestCase):
    def setUp(self):
        self.s = ModelStandIn()
        self.addCleanup(self.s.stop)

    def test_text_turns_in_script_order_then_the_default(self):
        for api, (path, body) in TURNS.items():
            with self.subTest(api=api):
                self.s.reply_text("first answer, long enough to come in several pieces")
                self.s.reply_text("second")
                answers = []
                for _ in range(3):
                    status, ctype, raw = post(self.s.port, path, body)
                    self.assertEqual((status, ctype), (200, "text/event-stream"))
                    evs = events(raw)
                    self.assertTrue(finished(api, evs), raw[-300:])
                    answers.append(text_of(api, evs))
                self.assertEqual(answers, ["first answer, long enough to come in several pieces",
                                           "second", self.s.default_text])

    def test_shell_tool_call_uses_the_agents_own_tool(self):
        cases = [
            ("messages", [tool("Bash")], "Bash", {"command": "touch x", "description": "Make x"}),
            ("responses", [{"type": "function", "name": "exec_command"}], "exec_command",
             {"cmd": "touch x", "sandbox_permissions": "require_escalated", "justification": "Make x"}),
            ("responses", [{"type": "function", "name": "bash"}], "bash",
             {"command": "touch x", "description": "Make x"}),
            ("responses", [{"type": "function", "name": "shell"}], "shell",
             {"command": ["bash", "-lc", "touch x"]}),
            ("chat", [fn("bash")], "bash", {"command": "touch x", "description": "Make x"}),
        ]
        for api, tools, name, args in cases:
            with self.subTest(api=api, tools=tools):
                path, body = TURNS[api]
                self.s.reply_tool("touch x", "Make x")
                _, _, raw = post(self.s.port, path, dict(body, tools=tools))
                evs = events(raw)
                self.assertEqual(tool_call_of(api, evs), (name, args))
                self.assertTrue(finished(api, evs))
        self.s.reply_tool_call("AskUserQuestion", {"questions": [{"question": "言語？"}]})
        _, _, raw = post(self.s.port, *TURNS["messages"])
        self.assertEqual(tool_call_of("messages", events(raw)),
                         ("AskUserQuestion", {"questions": [{"question": "言語？"}]}))

    def test_side_requests_leave_the_script_alone(self):
        self.s.reply_text("for the turn")
        path, body = TURNS["messages"]
        no_tools = {k: v for k, v in body.items() if k != "tools"}
        _, _, raw = post(self.s.port, path, no_tools)
        self.assertEqual(text_of("messages", events(raw)), self.s.side_text)
        status, ctype, raw = post(self.s.port, path, dict(body, stream=False))
        self.assertEqual((status, ctype), (200, "application/json"))
        self.assertEqual(json.loads(raw)["content"][0]["text"], "for the turn")
        self.assertEqual(self.s.pending(), 0)
        self.assertEqual([r.is_turn for r in self.s.requests], [False, True])

    def test_records_the_users_message(self):
        for api, (path, body) in TURNS.items():
            with self.subTest(api=api):
                post(self.s.port, path, body)
                req = self.s.wait_request(lambda r: r.api == api, timeout=5)
                self.assertEqual(req.user_text(), "hi there")
                self.assertTrue(req.is_turn)
        self.assertEqual(self.s.wait_turn(2, timeout=5).api, "responses")
        self.assertEqual(self.s.requests[2].messages(), [("system", "be brief"), ("user", "hi there")])

    def test_other_paths(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.s.port, timeout=5)
        self.addCleanup(conn.close)
        conn.request("GET", "/v1/models")
        self.assertEqual([m["id"] for m in json.loads(conn.getresponse().read())["data"]], ["standin-model"])
        conn.request("POST", "/v1/messages/count_tokens", "{}")
        self.assertEqual(json.loads(conn.getresponse().read()), {"input_tokens": 12})
        conn.request("POST", "/v1/embeddings", "{}")
        resp = conn.getresponse()
        resp.read()
        self.assertEqual(resp.status, 404)


class HoldTest(unittest.TestCase):
    def setUp(self):
        self.s = ModelStandIn()
        self.addCleanup(self.s.stop)

    def test_release_finishes_the_answer(self):
        for api, (path, body) in TURNS.items():
            with self.subTest(api=api):
                hold = self.s.reply_hold()
                result = {}
                t = threading.Thread(target=lambda: result.update(raw=post(self.s.port, path, body)[2]))
                t.start()
                self.assertIs(hold.wait_started(timeout=10).api, api)
                hold.release("all done")
                t.join(10)
                evs = events(result["raw"])
                self.assertEqual(text_of(api, evs), "all done")
                self.assertTrue(finished(api, evs))
                self.assertFalse(hold.cancelled)

    def test_hanging_up_cancels(self):
        hold = self.s.reply_hold()
        path, body = TURNS["messages"]
        data = json.dumps(body).encode()
        sock = socket.create_connection(("127.0.0.1", self.s.port), timeout=10)
        sock.sendall(b"POST " + path.encode() + b" HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                     b"Content-Length: " + str(len(data)).encode() + b"\r\n\r\n" + data)
        hold.wait_started(timeout=10)
        head = b""
        while b"message_start" not in head:
            head += sock.recv(4096)
        sock.close()
        hold.wait_cancelled(timeout=10)
        self.assertTrue(hold.cancelled)


class CommandLineTest(unittest.TestCase):
    def test_print_port_then_serves(self):
        proc = subprocess.Popen([sys.executable, os.path.join(HERE, "support", "model_standin.py"), "--print-port",
                                 "--text", "from the command line"], stdout=subprocess.PIPE, text=True)
        self.addCleanup(proc.wait, 10)
        self.addCleanup(proc.terminate)
        port = int(proc.stdout.readline())
        _, _, raw = post(port, *TURNS["chat"])
        self.assertEqual(text_of("chat", events(raw)), "from the command line")


if __name__ == "__main__":
    unittest.main()

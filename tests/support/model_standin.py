"""A stand-in for the model APIs the coding agents talk to, for tests.

A real HTTP/1.1 server on 127.0.0.1 (standard library only) that speaks
enough of three wire formats for an agent to run a turn against it:

    POST .../v1/messages             Anthropic Messages (Claude Code), SSE when
                                     "stream" is true, JSON otherwise
    POST .../v1/responses            OpenAI Responses (Codex), SSE
    POST .../v1/chat/completions     OpenAI chat completions (OpenCode, Kilo), SSE
                                     when "stream" is true

The path prefix before /v1 does not matter. Every request is recorded. A test
scripts the agent's conversation turns in order; each is one of

    standin.reply_text("Hello")            plain text, the turn ends
    standin.reply_tool("touch x")          a shell-command tool call, so that the
                                           agent asks for approval before running it
    standin.reply_tool_call(name, args)    a call of any other tool the agent offers
    hold = standin.reply_hold()            the answer starts and then stays open
                                           (the agent shows its working spinner)
                                           until hold.release(text) or the agent
                                           hangs up (hold.wait_cancelled())

A "turn" is a request that offers tools: agents send side requests too (a
title for the session, a check of the key), and those get a short text
answer without using up the script. When the script is empty a turn gets
`standin.default_text`.

    with ModelStandIn() as standin:
        standin.reply_text("Hi there")
        ... start the agent with standin.url ...
        req = standin.wait_request(lambda r: "hello" in r.user_text())

As a program: `python3 model_standin.py [--port N] [--print-port]` serves
until interrupted, answering every turn with the default text.
"""

import argparse
import http.server
import itertools
import json
import select
import socket
import sys
import threading
import time

DEFAULT_TEXT = "OK."
SIDE_TEXT = "Stand-in"
KEEPALIVE_SECONDS = 5.0


# ---------------------------------------------------------------------------
# Requests as they arrived


class ModelRequest:
    """One request: method, path, headers (a dict with lower-case names),
    raw body bytes and, when it parsed, the JSON body."""

    def __init__(self, seq, method, path, headers, body):
        self.seq = seq
        self.method = method
        self.path = path
        self.headers = headers
        self.body = body
        self.time = time.monotonic()
        try:
            self.json = json.loads(body) if body else None
        except ValueError:
            self.json = None
        self.api = api_of(method, path)
        self.is_turn = False       # answered from the script (see module text)
        self.answer = None         # what it got: "text", "tool", "hold", "side", ...

    def field(self, name, default=None):
        return self.json.get(name, default) if isinstance(self.json, dict) else default

    @property
    def streaming(self):
        return bool(self.field("stream"))

    def tool_names(self):
        names = []
        for tool in self.field("tools") or []:
            if not isinstance(tool, dict):
                continue
            name = tool.get("name") or (tool.get("function") or {}).get("name") or tool.get("type")
            if name:
                names.append(name)
        return names

    def messages(self):
        """(role, text) pairs of the conversation as sent, oldest first; text
        joins the text parts of a message (tool results and images left out)."""
        out = []
        if self.api == "responses":
            items = self.field("input") or []
            if isinstance(items, str):
                return [("user", items)]
            for item in items:
                if isinstance(item, dict) and item.get("type", "message") == "message":
                    out.append((item.get("role", ""), _text_of(item.get("content"))))
            return out
        for message in self.field("messages") or []:
            if isinstance(message, dict):
                out.append((message.get("role", ""), _text_of(message.get("content"))))
        return out

    def user_texts(self):
        return [text for role, text in self.messages() if role == "user"]

    def user_text(self):
        """The last user message's text ("" when none)."""
        texts = self.user_texts()
        return texts[-1] if texts else ""

    def __repr__(self):
        kind = "turn" if self.is_turn else (self.answer or "-")
        return f"<#{self.seq} {self.method} {self.path} {self.api} {kind} {len(self.body)}B>"


def _text_of(content):
    if isinstance(content, str):
        return content
    parts = []
    for part in content or []:
        if isinstance(part, dict) and part.get("type") in ("text", "input_text", "output_text"):
            parts.append(part.get("text", ""))
    return "\n".join(parts)


def api_of(method, path):
    if method != "POST":
        return None
    if path.endswith("/messages"):
        return "messages"
    if path.endswith("/responses"):
        return "responses"
    if path.endswith("/chat/completions"):
        return "chat"
    return None


# ---------------------------------------------------------------------------
# The script


class Text:
    def __init__(self, text):
        self.text = text


class ToolCall:
    """A shell command (name None: the agent's own shell tool, found among
    the tools the request offers), or any tool by name with its arguments."""

    def __init__(self, command, description, name=None, arguments=None):
        self.command = command
        self.description = description
        self.name = name
        self.arguments = arguments


class Hold:
    """A turn held open. The agent sees its answer start and nothing more
    until release(); hanging up (an interrupted turn) sets `cancelled`."""

    def __init__(self, standin, text):
        self._standin = standin
        self.text = text              # sent before holding ("" sends nothing)
        self.request = None
        self._started = threading.Event()
        self._released = threading.Event()
        self._ended = threading.Event()
        self.release_text = None
        self.cancelled = False

    def release(self, text=DEFAULT_TEXT):
        """Ends the turn with `text` (appended to anything sent so far)."""
        self.release_text = text
        self._released.set()

    def wait_started(self, timeout=60.0):
        if not self._started.wait(timeout):
            raise AssertionError("the held turn was never asked for")
        return self.request

    def wait_cancelled(self, timeout=60.0):
        if not self._ended.wait(timeout):
            raise AssertionError("the held turn is still open")
        if not self.cancelled:
            raise AssertionError("the held turn ended without the agent hanging up")


# ---------------------------------------------------------------------------
# Wire formats. Each writer takes the open exchange and one script entry.


def _sse(event, data):
    head = f"event: {event}\n" if event else ""
    return (head + "data: " + json.dumps(data, ensure_ascii=False) + "\n\n").encode()


class _Ids:
    _counter = itertools.count(1)

    @classmethod
    def next(cls, prefix):
        return f"{prefix}_standin{next(cls._counter):04d}"


def _chunks(text, size=24):
    return [text[i:i + size] for i in range(0, len(text), size)] or [""]


class _Wire:
    """Writes one answer for one API. `ex.send(bytes)` writes, `ex.hold(entry)`
    waits for release or hang-up and returns the text to finish with (None
    when the agent hung up)."""

    def __init__(self, req, ex):
        self.req, self.ex = req, ex
        self.model = req.field("model") or "standin-model"


class _Messages(_Wire):
    content_type = "text/event-stream"

    def start(self):
        self.id = _Ids.next("msg")
        self.index = 0
        self.ex.send(_sse("message_start", {"type": "message_start", "message": {
            "id": self.id, "type": "message", "role": "assistant", "model": self.model,
            "content": [], "stop_reason": None, "stop_sequence": None,
            "usage": {"input_tokens": 12, "output_tokens": 1,
                      "cache_creation_input_tokens": 0, "cache_read_input_tokens": 0}}}))
        self.ex.send(_sse("ping", {"type": "ping"}))

    def text_block(self, text):
        i = self.index
        self.index += 1
        self.ex.send(_sse("content_block_start", {"type": "content_block_start", "index": i,
                                                  "content_block": {"type": "text", "text": ""}}))
        for piece in _chunks(text):
            self.ex.send(_sse("content_block_delta", {"type": "content_block_delta", "index": i,
                                                      "delta": {"type": "text_delta", "text": piece}}))
        self.ex.send(_sse("content_block_stop", {"type": "content_block_stop", "index": i}))

    def tool_block(self, call):
        i = self.index
        self.index += 1
        if call.name:
            name, args = call.name, json.dumps(call.arguments, ensure_ascii=False)
        else:
            name = _pick_tool(self.req, ["Bash", "bash"])
            args = json.dumps({"command": call.command, "description": call.description})
        self.ex.send(_sse("content_block_start", {"type": "content_block_start", "index": i,
                                                  "content_block": {"type": "tool_use", "id": _Ids.next("toolu"),
                                                                    "name": name, "input": {}}}))
        self.ex.send(_sse("content_block_delta", {"type": "content_block_delta", "index": i,
                                                  "delta": {"type": "input_json_delta", "partial_json": args}}))
        self.ex.send(_sse("content_block_stop", {"type": "content_block_stop", "index": i}))

    def finish(self, stop):
        self.ex.send(_sse("message_delta", {"type": "message_delta",
                                            "delta": {"stop_reason": stop, "stop_sequence": None},
                                            "usage": {"output_tokens": 8}}))
        self.ex.send(_sse("message_stop", {"type": "message_stop"}))

    def keepalive(self):
        self.ex.send(_sse("ping", {"type": "ping"}))

    def whole(self, text):
        """The non-streaming answer."""
        return {"id": _Ids.next("msg"), "type": "message", "role": "assistant", "model": self.model,
                "content": [{"type": "text", "text": text}], "stop_reason": "end_turn",
                "stop_sequence": None, "usage": {"input_tokens": 12, "output_tokens": 2}}


class _Responses(_Wire):
    content_type = "text/event-stream"

    def start(self):
        self.id = _Ids.next("resp")
        self.index = 0
        self.response = {"id": self.id, "object": "response", "created_at": int(time.time()),
                         "status": "in_progress", "model": self.model, "output": []}
        self.ex.send(_sse("response.created", {"type": "response.created", "response": self.response}))
        self.ex.send(_sse("response.in_progress", {"type": "response.in_progress", "response": self.response}))

    def text_block(self, text):
        i = self.index
        self.index += 1
        item_id = _Ids.next("msg")
        self.ex.send(_sse("response.output_item.added", {
            "type": "response.output_item.added", "output_index": i,
            "item": {"type": "message", "id": item_id, "role": "assistant", "status": "in_progress", "content": []}}))
        self.ex.send(_sse("response.content_part.added", {
            "type": "response.content_part.added", "item_id": item_id, "output_index": i, "content_index": 0,
            "part": {"type": "output_text", "text": "", "annotations": []}}))
        for piece in _chunks(text):
            self.ex.send(_sse("response.output_text.delta", {
                "type": "response.output_text.delta", "item_id": item_id, "output_index": i,
                "content_index": 0, "delta": piece}))
        self.ex.send(_sse("response.output_text.done", {
            "type": "response.output_text.done", "item_id": item_id, "output_index": i,
            "content_index": 0, "text": text}))
        item = {"type": "message", "id": item_id, "role": "assistant", "status": "completed",
                "content": [{"type": "output_text", "text": text, "annotations": []}]}
        self.ex.send(_sse("response.output_item.done", {"type": "response.output_item.done",
                                                        "output_index": i, "item": item}))
        self.response["output"].append(item)

    def tool_block(self, call):
        i = self.index
        self.index += 1
        names = self.req.tool_names()
        if call.name:
            name, args = call.name, call.arguments
        elif "shell_command" in names:
            name, args = "shell_command", {"command": call.command}
        elif "bash" in names:
            name, args = "bash", {"command": call.command, "description": call.description}
        elif "exec_command" in names:
            # Asking to leave the sandbox is what makes Codex ask the user.
            name, args = "exec_command", {"cmd": call.command, "sandbox_permissions": "require_escalated",
                                          "justification": call.description}
        else:
            name, args = "shell", {"command": ["bash", "-lc", call.command]}
        item = {"type": "function_call", "id": _Ids.next("fc"), "call_id": _Ids.next("call"),
                "name": name, "arguments": json.dumps(args, ensure_ascii=False), "status": "completed"}
        self.ex.send(_sse("response.output_item.added", {"type": "response.output_item.added",
                                                         "output_index": i, "item": dict(item, arguments="")}))
        self.ex.send(_sse("response.function_call_arguments.done", {
            "type": "response.function_call_arguments.done", "item_id": item["id"],
            "output_index": i, "arguments": item["arguments"]}))
        self.ex.send(_sse("response.output_item.done", {"type": "response.output_item.done",
                                                        "output_index": i, "item": item}))
        self.response["output"].append(item)

    def finish(self, stop):
        done = dict(self.response, status="completed",
                    usage={"input_tokens": 12, "input_tokens_details": {"cached_tokens": 0},
                           "output_tokens": 8, "output_tokens_details": {"reasoning_tokens": 0},
                           "total_tokens": 20})
        self.ex.send(_sse("response.completed", {"type": "response.completed", "response": done}))

    def keepalive(self):
        self.ex.send(b": keep-alive\n\n")

    def whole(self, text):
        return {"id": _Ids.next("resp"), "object": "response", "status": "completed", "model": self.model,
                "output": [{"type": "message", "id": _Ids.next("msg"), "role": "assistant", "status": "completed",
                            "content": [{"type": "output_text", "text": text, "annotations": []}]}],
                "usage": {"input_tokens": 12, "output_tokens": 2, "total_tokens": 14}}


class _Chat(_Wire):
    content_type = "text/event-stream"

    def _chunk(self, delta, finish=None, usage=None):
        data = {"id": self.id, "object": "chat.completion.chunk", "created": int(time.time()),
                "model": self.model, "choices": [{"index": 0, "delta": delta, "finish_reason": finish}]}
        if usage:
            data["usage"] = usage
        return ("data: " + json.dumps(data, ensure_ascii=False) + "\n\n").encode()

    def start(self):
        self.id = _Ids.next("chatcmpl")
        self.tools = 0
        self.ex.send(self._chunk({"role": "assistant", "content": ""}))

    def text_block(self, text):
        for piece in _chunks(text):
            self.ex.send(self._chunk({"content": piece}))

    def tool_block(self, call):
        if call.name:
            name, args = call.name, json.dumps(call.arguments, ensure_ascii=False)
        else:
            name = _pick_tool(self.req, ["bash", "Bash", "shell"])
            args = json.dumps({"command": call.command, "description": call.description})
        self.ex.send(self._chunk({"tool_calls": [{
            "index": self.tools, "id": _Ids.next("call"), "type": "function",
            "function": {"name": name, "arguments": args}}]}))
        self.tools += 1

    def finish(self, stop):
        reason = {"tool_use": "tool_calls"}.get(stop, "stop")
        self.ex.send(self._chunk({}, reason, {"prompt_tokens": 12, "completion_tokens": 8, "total_tokens": 20}))
        self.ex.send(b"data: [DONE]\n\n")

    def keepalive(self):
        self.ex.send(b": keep-alive\n\n")

    def whole(self, text):
        return {"id": _Ids.next("chatcmpl"), "object": "chat.completion", "created": int(time.time()),
                "model": self.model, "choices": [{"index": 0, "finish_reason": "stop",
                                                  "message": {"role": "assistant", "content": text}}],
                "usage": {"prompt_tokens": 12, "completion_tokens": 2, "total_tokens": 14}}


WIRES = {"messages": _Messages, "responses": _Responses, "chat": _Chat}


def _pick_tool(req, preferred):
    names = req.tool_names()
    for name in preferred:
        if name in names:
            return name
    return preferred[0]


class _HungUp(Exception):
    """The agent closed the connection while we were answering."""


# ---------------------------------------------------------------------------
# The server


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "model-standin/1"

    def log_message(self, fmt, *args):
        if self.server.standin.verbose:
            sys.stderr.write("model-standin: " + (fmt % args) + "\n")

    def _read_body(self):
        length = self.headers.get("Content-Length")
        if length is not None:
            return self.rfile.read(int(length))
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            out = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(out)
                out += self.rfile.read(size)
                self.rfile.readline()
        return b""

    def _handle(self):
        body = self._read_body()
        path = self.path.split("?", 1)[0]
        headers = {k.lower(): v for k, v in self.headers.items()}
        req = self.server.standin._record(self.command, path, headers, body)
        try:
            self.server.standin._answer(req, self)
        except (_HungUp, BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = _handle

    # -- used by the answer writers --

    def send_json(self, status, value):
        data = json.dumps(value, ensure_ascii=False).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def open_stream(self, content_type):
        # An event stream ends when the connection closes: no framing to get wrong.
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def send(self, data):
        try:
            self.wfile.write(data)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, OSError) as e:
            raise _HungUp() from e

    def hung_up(self, timeout):
        """Waits up to `timeout` for the peer to close; True when it has."""
        sock = self.connection
        readable, _, _ = select.select([sock], [], [], timeout)
        if not readable:
            return False
        try:
            return sock.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class ModelStandIn:
    """The stand-in. `url` is "http://127.0.0.1:PORT" (agents add /v1 or not
    as their settings say; see base_url())."""

    def __init__(self, port=0, *, start=True, verbose=False):
        self.port = port
        self.verbose = verbose
        self.default_text = DEFAULT_TEXT
        self.side_text = SIDE_TEXT
        self.model_ids = ["standin-model"]
        self._cond = threading.Condition()
        self._requests = []
        self._script = []
        self._holds = []
        self._server = None
        self._thread = None
        if start:
            self.start()

    # -- life --

    def start(self):
        self._server = _Server(("127.0.0.1", self.port), _Handler)
        self._server.standin = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        name="model-standin", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is None:
            return
        for hold in list(self._holds):
            hold.release("")
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)
        self._server = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def base_url(self, suffix=""):
        return self.url + suffix

    # -- the script --

    def reply_text(self, text):
        self._push(Text(text))

    def reply_tool(self, command, description="Run a shell command"):
        self._push(ToolCall(command, description))

    def reply_tool_call(self, name, arguments):
        """A call of any tool the agent offers, `arguments` a dict (for a
        question tool, say, whose options then show as a menu)."""
        self._push(ToolCall(None, None, name, arguments))

    def reply_hold(self, text=""):
        hold = Hold(self, text)
        self._push(hold)
        return hold

    def _push(self, entry):
        with self._cond:
            self._script.append(entry)

    def pending(self):
        """Script entries no turn has taken yet."""
        with self._cond:
            return len(self._script)

    # -- what arrived --

    @property
    def requests(self):
        with self._cond:
            return list(self._requests)

    def turns(self):
        return [r for r in self.requests if r.is_turn]

    def wait_request(self, predicate=None, timeout=60.0):
        """The first recorded request satisfying `predicate` (any request when
        None), waiting for it up to `timeout` seconds."""
        predicate = predicate or (lambda r: True)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for r in self._requests:
                    if predicate(r):
                        return r
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no such request in {timeout:.0f} s; got {self._requests!r}")
                self._cond.wait(left)

    def wait_turn(self, n=1, timeout=60.0):
        """The n-th (1-based) conversation turn."""
        return self.wait_request(lambda r: r.is_turn and sum(
            1 for q in self._requests if q.is_turn and q.seq <= r.seq) == n, timeout)

    def _record(self, method, path, headers, body):
        with self._cond:
            req = ModelRequest(len(self._requests) + 1, method, path, headers, body)
            req.is_turn = req.api is not None and bool(req.tool_names())
            self._requests.append(req)
            self._cond.notify_all()
            return req

    # -- answering --

    def _answer(self, req, ex):
        if req.api is None:
            return self._answer_other(req, ex)
        wire = WIRES[req.api](req, ex)
        if not req.is_turn:
            req.answer = "side"
            if not req.streaming:
                return ex.send_json(200, wire.whole(self.side_text))
            return self._stream(wire, Text(self.side_text))
        with self._cond:
            entry = self._script.pop(0) if self._script else Text(self.default_text)
            self._cond.notify_all()
        if not req.streaming:
            return ex.send_json(200, wire.whole(getattr(entry, "text", self.default_text)))
        return self._stream(wire, entry)

    def _stream(self, wire, entry):
        req, ex = wire.req, wire.ex
        ex.open_stream(wire.content_type)
        wire.start()
        if isinstance(entry, Text):
            req.answer = "text"
            wire.text_block(entry.text)
            wire.finish("end_turn")
        elif isinstance(entry, ToolCall):
            req.answer = "tool"
            wire.tool_block(entry)
            wire.finish("tool_use")
        else:
            req.answer = "hold"
            self._hold(wire, entry)

    def _hold(self, wire, hold):
        with self._cond:
            self._holds.append(hold)
        hold.request = wire.req
        try:
            if hold.text:
                wire.text_block(hold.text)
            hold._started.set()
            next_ping = time.monotonic() + KEEPALIVE_SECONDS
            while not hold._released.is_set():
                if wire.ex.hung_up(0.1):
                    hold.cancelled = True
                    return
                if time.monotonic() >= next_ping:
                    wire.keepalive()
                    next_ping = time.monotonic() + KEEPALIVE_SECONDS
            if hold.release_text:
                wire.text_block(hold.release_text)
            wire.finish("end_turn")
        except _HungUp:
            hold.cancelled = True
        finally:
            hold._ended.set()
            with self._cond:
                self._holds.remove(hold)

    def _answer_other(self, req, ex):
        path = req.path
        if path.endswith("/models") and req.method == "GET":
            req.answer = "models"
            return ex.send_json(200, {"object": "list", "data": [
                {"id": m, "object": "model", "created": 0, "owned_by": "standin",
                 "type": "model", "display_name": m} for m in self.model_ids],
                "models": [], "has_more": False})
        if path.endswith("/count_tokens"):
            req.answer = "count"
            return ex.send_json(200, {"input_tokens": 12})
        req.answer = "empty"
        if req.method in ("GET", "HEAD"):
            return ex.send_json(200, {})
        return ex.send_json(404, {"error": {"type": "not_found_error", "message": f"no {path} here"}})


def main(argv=None):
    parser = argparse.ArgumentParser(description="Serves the model stand-in until interrupted.")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (default: a free one)")
    parser.add_argument("--print-port", action="store_true", help="print the port on stdout once listening")
    parser.add_argument("--text", default=DEFAULT_TEXT, help="the answer to every turn")
    parser.add_argument("--verbose", action="store_true", help="log each request on stderr")
    args = parser.parse_args(argv)
    standin = ModelStandIn(args.port, verbose=args.verbose)
    standin.default_text = args.text
    if args.print_port:
        print(standin.port, flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        standin.stop()


if __name__ == "__main__":
    main()

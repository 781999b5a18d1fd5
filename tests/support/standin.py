"""A stand-in for the village daemon, for whole-program tests.

A real HTTP/1.1 server on 127.0.0.1 (one thread per connection, keep-alive,
content-length and chunked bodies both ways) that writes config.json into a
home directory, proves itself on GET /api/health?nonce=..., records every
request byte for byte, and answers each path as the test chooses.

    with StandInDaemon() as daemon:
        daemon.route("/api/state", body={"residents": []})
        ... run the binary with MOSSBANK_HOME=daemon.home ...
        req = daemon.wait_request("/api/state")
        stream = daemon.commands.wait_open()
        stream.send("command", {"type": "stop"})

Without a route of the test's own, the daemon answers (after checking
x-mossbank-token, see StandInDaemon.require_token):
    GET /api/health[?...]            the health object, with "proof" when a nonce came
    POST /api/runs, DELETE /api/runs/<id>, POST /api/runs/<id>/<suffix>
                                     200 {"ok":true}
    GET /api/runs/<id>/commands      an event stream held open (daemon.commands),
                                     starting with a "ready" event
    POST /api/runs/<id>/output       200 head at once, the chunked body read as it
                                     comes (daemon.outputs)
    POST /api/hook[?...]             200 with an empty body (no decision)
    GET /api/inbox[?...]             200 {"messages":[]}
    POST /api/inbox                  200 {"ok":true,"message":{"id":"1"}}
    GET /api/state                   200 {"residents":[],"inbox":{"unread":0,"total":0}}
    anything else                    404 {"error":"not found"}

Run as a program, it stands in for the desktop application, so that a run
can be watched without it: it watches every run that registers and prints
what the village receives as it arrives (see main() and the README):

    python3 tests/support/standin.py --home /tmp/mossbank-village

Only the standard library is used.
"""

import argparse
import hashlib
import hmac
import http
import json
import os
import re
import secrets
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time
from urllib.parse import parse_qs


def _project_version():
    """The program's version, from the one place it is written: CMakeLists.txt."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    path = os.path.join(root, "CMakeLists.txt")
    with open(path, encoding="utf-8") as f:
        return re.search(r"project\(mossbank VERSION ([0-9.]+)", f.read()).group(1)


VERSION = _project_version()

PROOF_LABEL = "mossbank daemon proof v1"
MAX_HEAD = 64 * 1024


def proof_hex(token, port, nonce):
    """The proof the daemon gives for a nonce: HMAC-SHA256 in lower-case hex."""
    message = f"{PROOF_LABEL}\n{port}\n{nonce}".encode()
    return hmac.new(token.encode(), message, hashlib.sha256).hexdigest()


def config_text(port, token, hook_token):
    """config.json as the tool itself writes it; no hookToken line when None."""
    lines = ["{", f'  "port": {port},']
    token_line = f'  "token": {json.dumps(token, ensure_ascii=False)}'
    if hook_token is None:
        lines.append(token_line)
    else:
        lines.append(token_line + ",")
        lines.append(f'  "hookToken": {json.dumps(hook_token, ensure_ascii=False)}')
    lines.append("}")
    return "".join(line + "\n" for line in lines)


def write_private(path, data):
    """Replaces a file through a temporary one, mode 0600."""
    if isinstance(data, str):
        data = data.encode()
    tmp = f"{path}.{os.getpid()}.{secrets.token_hex(4)}.tmp"
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o600)
    try:
        os.write(fd, data)
        os.fchmod(fd, 0o600)
    finally:
        os.close(fd)
    os.replace(tmp, path)


def closed_port():
    """A port on 127.0.0.1 where nothing listens (connections are refused)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _match(pattern, match, target, path):
    if isinstance(pattern, re.Pattern):
        return pattern.search(target) is not None
    if match == "exact":
        return (target if "?" in pattern else path) == pattern
    if match == "prefix":
        return target.startswith(pattern)
    if match == "regex":
        return re.search(pattern, target) is not None
    raise ValueError(f"unknown match kind {match!r}")


# ---------------------------------------------------------------------------
# Requests as they arrived


class Request:
    """One request as it arrived. Body fields grow while a body streams in."""

    def __init__(self, daemon, seq, conn, raw_head):
        self._daemon = daemon
        self.seq = seq                  # 1-based arrival order over the daemon's life
        self.conn = conn                # 1-based connection number
        self.time = time.monotonic()    # when the head had arrived
        self.end_time = None            # when the body had arrived
        self.raw_head = raw_head        # request line and headers, through CR LF CR LF
        self.error = None               # text when the head or body was malformed
        self.chunked = False
        self.complete = False           # the whole body has arrived
        self.chunks = None              # de-chunked pieces, for a chunked body
        self._body = bytearray()        # de-chunked
        self._raw_body = bytearray()    # as on the wire, chunk framing included
        lines = raw_head[:-4].split(b"\r\n")
        self.request_line = lines[0].decode("latin-1")
        parts = self.request_line.split(" ")
        if len(parts) != 3:
            self.error = "bad request line"
            parts = (parts + ["", "", ""])[:3]
        self.method, self.target, self.version = parts
        self.path, _, self.query = self.target.partition("?")
        self.headers = []      # (name, value) text (latin-1), in order; value trimmed
        self.raw_headers = []  # (name, everything after the colon) bytes, untouched
        for line in lines[1:]:
            name, colon, value = line.partition(b":")
            if not colon:
                self.error = self.error or "header line without a colon"
                continue
            self.raw_headers.append((name, value))
            self.headers.append((name.decode("latin-1"), value.strip(b" \t").decode("latin-1")))

    @property
    def body(self):
        with self._daemon._cond:
            return bytes(self._body)

    @property
    def raw_body(self):
        with self._daemon._cond:
            return bytes(self._raw_body)

    def text(self):
        return self.body.decode("utf-8", "replace")

    def json(self):
        return json.loads(self.body)

    def header(self, name, default=None):
        """The first value of a header, its name compared case-insensitively."""
        for n, v in self.headers:
            if n.lower() == name.lower():
                return v
        return default

    def header_all(self, name):
        return [v for n, v in self.headers if n.lower() == name.lower()]

    def params(self):
        """The query as a dict of first values."""
        return {k: v[0] for k, v in parse_qs(self.query, keep_blank_values=True).items()}

    def wait_body(self, want, timeout=5.0):
        """Waits until the body contains `want` (bytes), reaches `want` bytes
        (int), or satisfies `want` (callable on the body bytes)."""
        if isinstance(want, int):
            test = lambda b: len(b) >= want
        elif isinstance(want, (bytes, bytearray)):
            test = lambda b: want in b
        else:
            test = want
        return self._daemon.wait_until(
            lambda: test(bytes(self._body)), timeout, f"body of {self!r} to reach {want!r}")

    def __repr__(self):
        state = "complete" if self.complete else "open"
        return f"<#{self.seq} conn {self.conn} {self.method} {self.target} {len(self._body)}B {state}>"


# ---------------------------------------------------------------------------
# Answers


class Reply:
    """What to answer to a request.

    action: "answer" (default), "hang" (accept and never answer), "close"
    (close without answering), "reset" (close with a TCP reset), "raw" (write
    `raw` verbatim, bytes or a list of pieces).
    body: bytes, str, or a dict/list sent as JSON.
    headers: extra (name, value) pairs in order; content-type, content-length
    or transfer-encoding and connection are added unless given here.
    chunked / chunks: a chunked answer (`chunks` lists the pieces).
    length=False: no content-length, the body ends when the connection closes.
    piece_delay: seconds between raw pieces or chunks.
    read_body: wait for the whole request body before answering; by default
    yes, except for a chunked body (a streaming request gets its answer at once).
    after: None (keep-alive as the request asks), "keep", "close" or "hang";
    a raw answer closes unless told otherwise.
    """

    def __init__(self, status=200, body=b"", *, headers=None, content_type=None,
                 reason=None, delay=0.0, chunked=False, chunks=None, length=True,
                 action="answer", raw=None, piece_delay=0.0, after=None, read_body=None):
        self.status, self.body, self.headers = status, body, headers
        self.read_body = read_body
        self.content_type, self.reason, self.delay = content_type, reason, delay
        self.chunked, self.chunks, self.length = chunked, chunks, length
        self.action, self.raw, self.piece_delay, self.after = action, raw, piece_delay, after
        if raw is not None and action == "answer":
            self.action = "raw"

    @classmethod
    def json(cls, value, status=200, **kw):
        return cls(status, value, **kw)

    @classmethod
    def hang(cls, **kw):
        return cls(action="hang", **kw)

    @classmethod
    def close(cls, **kw):
        return cls(action="close", **kw)

    @classmethod
    def reset(cls, **kw):
        return cls(action="reset", **kw)

    @classmethod
    def raw_bytes(cls, data, after="close", **kw):
        return cls(action="raw", raw=data, after=after, **kw)

    def body_bytes(self):
        if isinstance(self.body, (dict, list)):
            return json.dumps(self.body, ensure_ascii=False, separators=(",", ":")).encode()
        if isinstance(self.body, str):
            return self.body.encode()
        return bytes(self.body or b"")


class Route:
    def __init__(self, pattern, reply, method, match, times, auth):
        self.pattern, self.reply, self.method = pattern, reply, method
        self.match, self.times, self.auth = match, times, auth
        self.hits = 0

    def matches(self, req):
        if self.method is not None and req.method != self.method:
            return False
        if self.times is not None and self.hits >= self.times:
            return False
        return _match(self.pattern, self.match, req.target, req.path)


def _chunk(data, ext=b""):
    return b"%x" % len(data) + ext + b"\r\n" + data + b"\r\n"


class _Conn:
    """One accepted connection: a read buffer and a locked writer."""

    def __init__(self, daemon, sock, number):
        self.daemon, self.sock, self.number = daemon, sock, number
        self.buf = bytearray()
        self.eof = False
        self.wlock = threading.Lock()
        self.served = 0
        self.reset = False

    def fill(self, timeout=None):
        """Reads more; False at the end of the stream (or after `timeout`)."""
        try:
            if timeout is None:
                data = self.sock.recv(65536)
            else:  # only while idle, when no one else writes on the socket
                self.sock.settimeout(timeout)
                try:
                    data = self.sock.recv(65536)
                finally:
                    self.sock.settimeout(None)
        except OSError:  # socket.timeout included
            data = b""
        if not data:
            self.eof = True
            return False
        self.buf += data
        return True

    def take(self, n):
        out = bytes(self.buf[:n])
        del self.buf[:n]
        return out

    def read_line(self, limit=MAX_HEAD):
        while True:
            i = self.buf.find(b"\r\n")
            if i >= 0:
                return self.take(i + 2)
            if len(self.buf) > limit or not self.fill():
                return None

    def write(self, data):
        with self.wlock:
            try:
                self.sock.sendall(data)
                return True
            except OSError:
                return False

    def shutdown(self, how=socket.SHUT_RDWR):
        try:
            self.sock.shutdown(how)
        except OSError:
            pass


class Exchange:
    """One request on its connection, handed to a callable route.

    A handler may read the body as it arrives (read_piece) or whole
    (read_body), answer whole (send) or write the head and body itself
    (send_head, write, write_chunk, end_chunks), or hold the connection
    (hang). It may instead return a Reply.
    """

    def __init__(self, daemon, conn, request):
        self.daemon, self.conn, self.request = daemon, conn, request
        self.answered = False
        self.dropped = False  # closed on purpose, the rest of the body unread
        conn_tokens = [t.strip().lower() for t in request.header("connection", "").split(",")]
        if request.version == "HTTP/1.0":
            self.keep_alive = "keep-alive" in conn_tokens
        else:
            self.keep_alive = "close" not in conn_tokens
        self._framing()

    # -- request body -------------------------------------------------------

    def _framing(self):
        req = self.request
        te = ",".join(req.header_all("transfer-encoding")).lower()
        self._left = 0
        if te and te.split(",")[-1].strip() == "chunked":
            req.chunked, req.chunks = True, []
            self._mode = "chunked"
        elif req.header("content-length") is not None:
            try:
                self._left = int(req.header("content-length"))
                if self._left < 0:
                    raise ValueError
            except ValueError:
                self._fail("bad content-length")
                return
            self._mode = "length"
        else:
            self._mode = "none"
        if self._mode == "none" or (self._mode == "length" and self._left == 0):
            self._finish_body()

    def _fail(self, why):
        with self.daemon._cond:
            self.request.error = why
        self._mode = "done"
        self.keep_alive = False

    def _finish_body(self):
        self._mode = "done"
        with self.daemon._cond:
            self.request.complete = True
            self.request.end_time = time.monotonic()
            self.daemon._cond.notify_all()

    def _add(self, raw, data, chunk=False):
        with self.daemon._cond:
            self.request._raw_body += raw
            self.request._body += data
            if chunk:
                self.request.chunks.append(data)
            self.daemon._cond.notify_all()

    def read_piece(self):
        """The next piece of the body (one chunk's data, or what has arrived of
        a content-length body); None at its end or when the connection fails."""
        conn = self.conn
        if self._mode == "length":
            if not conn.buf and not conn.fill():
                self._fail("body cut short")
                return None
            data = conn.take(min(self._left, len(conn.buf)))
            self._left -= len(data)
            self._add(data, data)
            if self._left == 0:
                self._finish_body()
            return data
        if self._mode == "chunked":
            line = conn.read_line()
            if line is None:
                self._fail("chunked body cut short")
                return None
            size_text = line[:-2].split(b";")[0].strip()
            try:
                size = int(size_text, 16)
            except ValueError:
                self._add(line, b"")
                self._fail(f"bad chunk size line {line!r}")
                return None
            if size == 0:
                raw = bytearray(line)
                while True:  # trailers, up to the blank line
                    t = conn.read_line()
                    if t is None:
                        self._add(bytes(raw), b"")
                        self._fail("chunked body cut short")
                        return None
                    raw += t
                    if t == b"\r\n":
                        break
                self._add(bytes(raw), b"")
                self._finish_body()
                return None
            while len(conn.buf) < size + 2:
                if not conn.fill():
                    self._add(line + conn.take(len(conn.buf)), b"")
                    self._fail("chunk cut short")
                    return None
            data = conn.take(size)
            end = conn.take(2)
            self._add(line + data + end, data, chunk=True)
            if end != b"\r\n":
                self._fail("chunk not ended by CR LF")
                return None
            return data
        return None

    def read_body(self):
        """Reads the rest of the body; returns the whole body."""
        while self._mode in ("length", "chunked"):
            self.read_piece()
        return self.request.body

    def json(self):
        """The whole body, parsed as JSON."""
        return json.loads(self.read_body())

    # -- answer ---------------------------------------------------------------

    def write(self, data):
        """Writes bytes verbatim; False when the peer is gone."""
        self.answered = True
        return self.conn.write(data)

    def send_head(self, status=200, headers=(), *, reason=None, chunked=False):
        """Writes the status line and the headers as given (plus
        transfer-encoding when `chunked` and not given)."""
        headers = list(headers)
        if chunked and not any(n.lower() == "transfer-encoding" for n, _ in headers):
            headers.append(("transfer-encoding", "chunked"))
        if any(n.lower() == "connection" and v.lower() == "close" for n, v in headers):
            self.keep_alive = False
        if reason is None:
            try:
                reason = http.HTTPStatus(status).phrase
            except ValueError:
                reason = "Status"
        head = f"HTTP/1.1 {status} {reason}\r\n" + "".join(f"{n}: {v}\r\n" for n, v in headers)
        return self.write(head.encode("latin-1") + b"\r\n")

    def write_chunk(self, data):
        if isinstance(data, str):
            data = data.encode()
        return self.write(_chunk(data)) if data else True

    def end_chunks(self):
        return self.write(b"0\r\n\r\n")

    def hang(self):
        """Holds the connection until the peer closes it or the daemon stops."""
        self.keep_alive = False
        self.read_body()
        while self.conn.fill():
            self.conn.buf.clear()

    def _pause(self, seconds):
        """Sleeps; True when the daemon stopped meanwhile."""
        return seconds > 0 and self.daemon._stopping.wait(seconds)

    def send(self, reply):
        """Answers with a Reply (see Reply.read_body)."""
        if reply.read_body or (reply.read_body is None and self._mode != "chunked"):
            self.read_body()
        if self._pause(reply.delay):
            self.keep_alive = False
            return
        if reply.action == "close":
            self.keep_alive, self.dropped = False, True
            return
        if reply.action == "reset":
            self.conn.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.conn.reset = True
            self.keep_alive, self.dropped = False, True
            return
        if reply.action == "hang":
            self.hang()
            return
        if reply.action == "raw":
            pieces = [reply.raw] if isinstance(reply.raw, (bytes, bytearray, str)) else reply.raw
            for i, piece in enumerate(pieces):
                if i and self._pause(reply.piece_delay):
                    break
                self.write(piece.encode() if isinstance(piece, str) else bytes(piece))
            after = reply.after or "close"
        elif reply.action == "answer":
            after = self._answer(reply)
        else:
            raise ValueError(f"unknown reply action {reply.action!r}")
        if after == "hang":
            self.hang()
        elif after == "close":
            self.keep_alive = False
        elif after == "keep":
            self.keep_alive = True

    def _answer(self, reply):
        body = reply.body_bytes()
        headers = list(reply.headers or [])
        given = {n.lower() for n, _ in headers}
        chunked = reply.chunked or reply.chunks is not None
        bodiless = reply.status < 200 or reply.status in (204, 304)
        if "content-type" not in given and (body or reply.chunks):
            ctype = reply.content_type
            if ctype is None:
                ctype = "application/json" if isinstance(reply.body, (dict, list)) else "text/plain; charset=utf-8"
            headers.append(("content-type", ctype))
        if chunked:
            if "transfer-encoding" not in given:
                headers.append(("transfer-encoding", "chunked"))
        elif reply.length and not bodiless and "content-length" not in given:
            headers.append(("content-length", str(len(body))))
        after = reply.after
        if after is None:
            after = "keep" if self.keep_alive else "close"
        if not chunked and not reply.length and not bodiless:
            after = "close"  # the body ends with the connection
        if "connection" not in given:
            headers.append(("connection", "close" if after == "close" else "keep-alive"))
        self.send_head(reply.status, headers, reason=reply.reason)
        if chunked:
            pieces = reply.chunks if reply.chunks is not None else ([body] if body else [])
            for i, piece in enumerate(pieces):
                if i and self._pause(reply.piece_delay):
                    return "close"
                self.write_chunk(piece)
            self.end_chunks()
        elif not bodiless:
            self.write(body)
        return after


# ---------------------------------------------------------------------------
# Held-open answers: event streams and streaming request bodies


class _HeldAnswer:
    """What every held-open answer offers: its exchange, and its closing."""

    def __init__(self, exchange):
        self.exchange = exchange
        self.request = exchange.request
        self._closed = threading.Event()

    @property
    def closed(self):
        return self._closed.is_set()

    def drop(self):
        """Closes the connection abruptly, mid-body."""
        self.exchange.conn.shutdown()
        self._closed.set()

    def wait_closed(self, timeout=5.0):
        """True once the connection is closed (by either side)."""
        return self._closed.wait(timeout)

    def __repr__(self):
        return f"<{type(self).__name__} {self.request!r}{' closed' if self.closed else ''}>"


class EventStream(_HeldAnswer):
    """One open text/event-stream answer; written from the test's thread."""

    def __init__(self, exchange, chunked):
        super().__init__(exchange)
        self.chunked = chunked

    def write(self, data, *, ext=""):
        """Writes body bytes (chunk-framed on a chunked stream, the chunk's
        size line followed by the extension `ext`, e.g. ";name=value")."""
        if isinstance(data, str):
            data = data.encode()
        if isinstance(ext, str):
            ext = ext.encode()
        ok = self.exchange.write(_chunk(data, ext) if self.chunked else data)
        if not ok:
            self._closed.set()
        return ok

    def write_wire(self, data):
        """Writes bytes verbatim on the socket, outside any chunk framing."""
        return self.exchange.write(data)

    def send(self, event=None, data="", *, id=None):
        """One event: `data` is text, or a dict/list sent as compact JSON."""
        if not isinstance(data, str):
            data = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
        text = ""
        if id is not None:
            text += f"id: {id}\n"
        if event is not None:
            text += f"event: {event}\n"
        text += "".join(f"data: {line}\n" for line in data.split("\n"))
        return self.write(text + "\n")

    def comment(self, text=""):
        return self.write(f":{text}\n\n")

    def end(self):
        """Ends the body properly and closes the connection."""
        if self.chunked:
            self.exchange.write(b"0\r\n\r\n")
        self.exchange.conn.shutdown(socket.SHUT_WR)
        self.exchange.conn.shutdown(socket.SHUT_RD)
        self._closed.set()


class _Hub:
    """Keeps the held-open answers of one kind, in the order they opened."""

    def __init__(self, daemon):
        self.daemon = daemon
        self.streams = []

    def _opened(self, stream):
        with self.daemon._cond:
            self.streams.append(stream)
            self.daemon._cond.notify_all()

    def wait_open(self, n=1, timeout=5.0):
        """The n-th stream opened over the hub's life (1-based)."""
        return self.daemon.wait_until(
            lambda: len(self.streams) >= n and self.streams[n - 1], timeout,
            f"stream #{n} of {type(self).__name__}")

    def open_streams(self):
        with self.daemon._cond:
            return [s for s in self.streams if not s.closed]

    @property
    def latest(self):
        with self.daemon._cond:
            return self.streams[-1] if self.streams else None


class EventStreams(_Hub):
    """A handler that answers 200 text/event-stream and holds each stream
    open for the test to write to. `on_open(stream)` runs as each opens,
    before wait_open hands the stream out (so a "ready" it sends is out)."""

    def __init__(self, daemon, *, status=200, headers=None, chunked=True, on_open=None):
        super().__init__(daemon)
        self.status, self.headers, self.chunked, self.on_open = status, headers, chunked, on_open

    def __call__(self, ex):
        ex.read_body()
        headers = self.headers if self.headers is not None else [
            ("content-type", "text/event-stream"), ("cache-control", "no-cache")]
        if not self.chunked:
            headers = list(headers) + [("connection", "close")]
        ex.send_head(self.status, headers, chunked=self.chunked)
        stream = EventStream(ex, self.chunked)
        if self.on_open:  # before the stream is seen: what it sends comes first
            self.on_open(stream)
        self._opened(stream)
        ex.hang()
        stream._closed.set()


class BodyStream(_HeldAnswer):
    """One open streaming request (the run's output); its body is recorded in
    `request` as it arrives."""

    def end(self):
        """Finishes the answer now and closes, before the request's end."""
        self.exchange.write(b"0\r\n\r\n")
        self.exchange.conn.shutdown()
        self._closed.set()


class BodyStreams(_Hub):
    """A handler that answers the head at once (200, chunked, with the
    headers given, e.g. an "x-mossbank-carry-on"), reads the request body as
    it comes, and ends its answer when the body ends."""

    def __init__(self, daemon, *, status=200, headers=None):
        super().__init__(daemon)
        self.status = status
        self.headers = headers if headers is not None else [("content-type", "text/plain; charset=utf-8")]

    def __call__(self, ex):
        ex.send_head(self.status, self.headers, chunked=True)
        stream = BodyStream(ex)
        self._opened(stream)
        while ex.read_piece() is not None:
            pass
        if not stream.closed and ex.request.complete:
            ex.write(b"0\r\n\r\n")
        ex.keep_alive = False
        stream._closed.set()


# ---------------------------------------------------------------------------
# The daemon


class StandInDaemon:
    """The stand-in daemon.

    Settings a test may change at any time:
      proof: "right", "wrong" (another key), "upper", "none" (no "proof"
        member), or a callable (nonce) -> value for "proof" (None leaves it out)
      health_status: the status of every health answer (default 200)
      health: the other members of the health answer
      require_token: answer 401 when x-mossbank-token is wrong (not on
        /api/health; /api/hook also takes the hook token)
      keep_alive_timeout: seconds an idle kept connection stays open (None: ever)
    """

    def __init__(self, *, home=None, port=0, token=None, hook_token="", config=True, start=True):
        self._own_home = home is None
        self.home = home or tempfile.mkdtemp(prefix="mossbank-home-")
        os.makedirs(self.home, exist_ok=True)
        self.token = token or secrets.token_hex(24)
        self.hook_token = secrets.token_hex(24) if hook_token == "" else hook_token
        self.port = port
        self.proof = "right"
        self.health_status = 200
        self.health = {"app": "mossbank", "api": 211, "version": VERSION}
        self.require_token = True
        self.keep_alive_timeout = None
        self._cond = threading.Condition()
        self._requests = []
        self._routes = []
        self._conns = {}
        self._threads = []
        self._conn_count = 0
        self.handler_errors = []  # exceptions raised by route handlers
        self._listener = None
        self._placeholder = None  # holds the port while the daemon is down
        self._stopping = threading.Event()
        self.commands = EventStreams(self, on_open=lambda s: s.send("ready", "{}"))
        self.outputs = BodyStreams(self)
        ok = Reply.json({"ok": True})
        self._builtins = [
            Route(re.compile(r"^/api/health(\?|$)"), self._health, "GET", None, None, False),
            Route(re.compile(r"^/api/runs$"), ok, "POST", None, None, True),
            Route(re.compile(r"^/api/runs/[^/?]+$"), ok, "DELETE", None, None, True),
            Route(re.compile(r"^/api/runs/[^/?]+/commands$"), lambda ex: self.commands(ex), "GET", None, None, True),
            Route(re.compile(r"^/api/runs/[^/?]+/output$"), lambda ex: self.outputs(ex), "POST", None, None, True),
            Route(re.compile(r"^/api/runs/[^/?]+/[a-z-]+$"), ok, "POST", None, None, True),
            Route(re.compile(r"^/api/hook(\?|$)"), Reply(200, b""), "POST", None, None, True),
            Route(re.compile(r"^/api/inbox(\?|$)"), Reply.json({"messages": []}), "GET", None, None, True),
            Route(re.compile(r"^/api/inbox$"), Reply.json({"ok": True, "message": {"id": "1"}}), "POST", None, None, True),
            Route(re.compile(r"^/api/state$"), Reply.json({"residents": [], "inbox": {"unread": 0, "total": 0}}), "GET", None, None, True),
        ]
        if start:
            self.start()
        if config:
            self.write_config()

    # -- life ---------------------------------------------------------------

    def start(self):
        """Listens (again) on the same port; the first start picks a free one."""
        if self._listener is not None:
            return
        s = self._bind()
        s.listen(64)
        s.settimeout(0.1)
        self.port = s.getsockname()[1]
        self._stopping.clear()
        self._listener = s
        t = threading.Thread(target=self._accept_loop, args=(s,), name="standin-accept", daemon=True)
        t.start()
        self._accept_thread = t

    def _bind(self):
        # The placeholder kept the port while the daemon was down; handing it
        # over is a close and a bind, and a parallel test could slip into that
        # gap, so a refused bind is tried again for a while.
        if self._placeholder is not None:
            self._placeholder.close()
            self._placeholder = None
        deadline = time.monotonic() + 10
        while True:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", self.port))
                return s
            except OSError:
                s.close()
                if self.port == 0 or time.monotonic() > deadline:
                    raise
                time.sleep(0.05)

    def stop(self):
        """Stops listening and closes every connection (the daemon is down)."""
        if self._listener is None:
            return
        self._stopping.set()
        self._accept_thread.join(5)
        self._listener.close()
        self._listener = None
        # A bound socket that does not listen keeps the port ours, so nothing
        # else on the machine takes it while connections to it are refused.
        self._placeholder = self._bind()
        with self._cond:
            conns = list(self._conns.values())
            threads, self._threads = self._threads, []
        for c in conns:
            c.shutdown()
        for t in threads:
            t.join(5)

    def restart(self):
        self.stop()
        self.start()

    def close(self):
        """Stops and removes the home directory when it made it."""
        self.stop()
        if self._placeholder is not None:
            self._placeholder.close()
            self._placeholder = None
        if self._own_home:
            shutil.rmtree(self.home, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def running(self):
        return self._listener is not None

    # -- configuration ----------------------------------------------------

    @property
    def config_path(self):
        return os.path.join(self.home, "config.json")

    def write_config(self, text=None):
        """Writes config.json (mode 0600) for this daemon, or `text` as given."""
        write_private(self.config_path, config_text(self.port, self.token, self.hook_token) if text is None else text)

    def set_tokens(self, token=None, hook_token="", write=True):
        """New tokens (random when not given), as the daemon does on a restart."""
        self.token = token or secrets.token_hex(24)
        self.hook_token = secrets.token_hex(24) if hook_token == "" else hook_token
        if write:
            self.write_config()

    # -- routes -----------------------------------------------------------

    def route(self, pattern, reply=None, *, method=None, match="exact", times=None, auth=True, **reply_args):
        """Chooses the answer for matching requests; the latest route wins.

        pattern: a path (exact: compared with the path, or with path and
          query when it holds "?"), a prefix (match="prefix", of path and
          query), a regex (match="regex" or a compiled pattern, searched in
          path and query).
        reply: a Reply, or a callable(Exchange) with full control (it may
          return a Reply); without it the keyword arguments make a Reply.
        times: answer only the first `times` matches, then fall through.
        auth=False: answer without checking the token.
        Returns the Route (route.hits counts its answers; unroute() drops it).
        """
        if reply is None:
            reply = Reply(**reply_args)
        elif reply_args:
            raise TypeError("give either a reply or Reply arguments")
        r = Route(pattern, reply, method, match, times, auth)
        with self._cond:
            self._routes.insert(0, r)
        return r

    def unroute(self, route):
        with self._cond:
            self._routes.remove(route)

    def clear_routes(self):
        with self._cond:
            self._routes.clear()

    # -- records ----------------------------------------------------------

    def requests(self, pattern=None, *, method=None, match="exact"):
        """Requests so far (matching, when given), in arrival order."""
        with self._cond:
            return [r for r in self._requests
                    if (method is None or r.method == method)
                    and (pattern is None or _match(pattern, match, r.target, r.path))]

    def clear_requests(self):
        with self._cond:
            self._requests.clear()

    def connection_count(self):
        with self._cond:
            return self._conn_count

    def wait_until(self, predicate, timeout=5.0, what="condition"):
        """Waits until predicate() is truthy (checked on every change) and
        returns its value; fails the test after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                value = predicate()
                if value:
                    return value
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = "\n  ".join(repr(r) for r in self._requests[-30:]) or "(none)"
                    raise AssertionError(f"timed out after {timeout}s waiting for {what}; requests seen:\n  {seen}")
                self._cond.wait(min(left, 0.25))

    def wait_request(self, pattern=None, n=1, *, method=None, match="exact", timeout=5.0, complete=True):
        """The n-th (1-based) request matching, once it (and, with
        `complete`, its whole body) has arrived."""
        def found():
            reqs = self.requests(pattern, method=method, match=match)
            if len(reqs) >= n and (reqs[n - 1].complete or not complete):
                return reqs[n - 1]
            return None
        return self.wait_until(found, timeout, f"request #{n} {method or ''} {pattern}".replace("  ", " "))

    def expect_no_request(self, pattern, *, within=0.5, method=None, match="exact"):
        """Fails when a matching request arrives within `within` seconds."""
        time.sleep(within)
        got = self.requests(pattern, method=method, match=match)
        if got:
            raise AssertionError(f"unexpected requests: {got}")

    # -- serving ----------------------------------------------------------

    def _accept_loop(self, listener):
        while not self._stopping.is_set():
            try:
                sock, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            sock.settimeout(None)
            with self._cond:
                self._conn_count += 1
                conn = _Conn(self, sock, self._conn_count)
                self._conns[conn.number] = conn
                t = threading.Thread(target=self._serve, args=(conn,), name=f"standin-conn-{conn.number}", daemon=True)
                self._threads.append(t)
            t.start()

    def _read_head(self, conn):
        while True:
            i = conn.buf.find(b"\r\n\r\n")
            if i >= 0:
                return conn.take(i + 4)
            if len(conn.buf) > MAX_HEAD:
                return None
            idle = self.keep_alive_timeout if conn.served and not conn.buf else None
            if not conn.fill(idle):
                return None

    def _serve(self, conn):
        try:
            while not self._stopping.is_set():
                head = self._read_head(conn)
                if head is None:
                    break
                with self._cond:
                    req = Request(self, len(self._requests) + 1, conn.number, head)
                    self._requests.append(req)
                    self._cond.notify_all()
                ex = Exchange(self, conn, req)
                if req.error:
                    ex.send(Reply(400, {"error": req.error}, after="close"))
                    break
                self._dispatch(ex)
                conn.served += 1
                if not ex.dropped and not self._stopping.is_set():
                    ex.read_body()  # record what the answer did not wait for
                if not ex.keep_alive or conn.eof or req.error or self._stopping.is_set():
                    break
        except Exception as e:  # a test's handler failed: keep it for the test
            with self._cond:
                self.handler_errors.append(e)
            raise
        finally:
            if not conn.reset:
                conn.shutdown(socket.SHUT_WR)
            conn.sock.close()
            with self._cond:
                self._conns.pop(conn.number, None)
                self._cond.notify_all()

    def _find_route(self, req):
        with self._cond:
            for r in self._routes + self._builtins:
                if r.matches(req):
                    r.hits += 1
                    return r
        return None

    def _token_ok(self, req):
        sent = req.header("x-mossbank-token")
        if sent == self.token:
            return True
        return req.path == "/api/hook" and self.hook_token is not None and sent == self.hook_token

    def _dispatch(self, ex):
        route = self._find_route(ex.request)
        if route is None:
            ex.send(Reply.json({"error": "not found"}, 404))
            return
        if route.auth and self.require_token and not self._token_ok(ex.request):
            ex.send(Reply.json({"error": "unauthorized"}, 401))
            return
        reply = route.reply
        if callable(reply):
            reply = reply(ex)
        if isinstance(reply, Reply):
            ex.send(reply)
        elif not ex.answered:
            ex.keep_alive = False  # the handler gave no answer: close

    def _health(self, ex):
        ex.read_body()
        body = dict(self.health)
        nonce = ex.request.params().get("nonce")
        if nonce is not None:
            if callable(self.proof):
                value = self.proof(nonce)
            elif self.proof == "right":
                value = proof_hex(self.token, self.port, nonce)
            elif self.proof == "upper":
                value = proof_hex(self.token, self.port, nonce).upper()
            elif self.proof == "wrong":
                value = proof_hex(self.token + "-not-it", self.port, nonce)
            elif self.proof == "none":
                value = None
            else:
                raise ValueError(f"unknown proof mode {self.proof!r}")
            if value is not None:
                body["proof"] = value
        return Reply.json(body, self.health_status)


# ---------------------------------------------------------------------------
# The frames of a run's output stream


class Frame:
    """One frame: kind "H", "S", "D" or "J" and its body."""

    def __init__(self, kind, body):
        self.kind, self.body = kind, body

    @property
    def offset(self):
        """An "H" frame's published-bytes count; a "J" frame's u64."""
        if self.kind == "H":
            return struct.unpack(">Q", self.body[:8])[0]
        if self.kind == "J":
            return struct.unpack(">Q", self.body[1 + self.body[0]:9 + self.body[0]])[0]
        raise ValueError(f"no offset in a {self.kind} frame")

    @property
    def size(self):
        """(cols, rows) of an "S" or "J" frame."""
        if self.kind == "S":
            return struct.unpack(">HH", self.body[:4])
        if self.kind == "J":
            at = 1 + self.body[0] + 12
            return struct.unpack(">HH", self.body[at:at + 4])
        raise ValueError(f"no size in a {self.kind} frame")

    @property
    def name(self):
        """A "J" frame's name (the watch's join text)."""
        return self.body[1:1 + self.body[0]].decode("utf-8", "replace")

    @property
    def screen(self):
        """A "J" frame's serialised screen."""
        return self.body[1 + self.body[0] + 16:]

    def describe(self):
        if self.kind == "H":
            return f"frame H: the stream starts at output byte {self.offset}"
        if self.kind == "S":
            return "frame S: size %dx%d" % self.size
        if self.kind == "D":
            return f"frame D: {len(self.body)} bytes"
        if self.kind == "J":
            return "frame J: snapshot %r at output byte %d, %dx%d, %d bytes" % (
                (self.name, self.offset) + self.size + (len(self.screen),))
        return f"frame {self.kind!r}: {len(self.body)} bytes"

    def __repr__(self):
        return f"<Frame {self.kind} {len(self.body)}B>"


class FrameReader:
    """Takes a stream's body as it arrives; feed() gives back the frames it
    completes."""

    def __init__(self):
        self._buf = bytearray()
        self._at = 0

    def feed(self, data):
        self._buf += data
        frames = []
        while len(self._buf) - self._at >= 5:
            n = struct.unpack(">I", self._buf[self._at + 1:self._at + 5])[0]
            end = self._at + 5 + n
            if len(self._buf) < end:
                break
            frames.append(Frame(chr(self._buf[self._at]), bytes(self._buf[self._at + 5:end])))
            self._at = end
        if self._at > 1 << 20 or self._at == len(self._buf):
            del self._buf[:self._at]
            self._at = 0
        return frames

    @property
    def pending(self):
        """Bytes of a frame not complete yet."""
        return len(self._buf) - self._at


def decode_frames(body):
    """The frames of a whole body; fails on a cut frame at its end."""
    reader = FrameReader()
    frames = reader.feed(body)
    if reader.pending:
        raise AssertionError(f"the body ends inside a frame ({reader.pending} bytes left)")
    return frames


# ---------------------------------------------------------------------------
# The stand-in as a program


class VillageWatch:
    """Makes a stand-in daemon act as the village for a person at a terminal:
    every run that opens its command stream is told "watch" (and, unless
    `screens` is off, "screens"), and what the village receives is printed
    to `out` as it arrives."""

    def __init__(self, daemon, out=None, *, watch=True, screens=True):
        self.daemon, self.out = daemon, out or sys.stdout
        self.watch, self.screens = watch, screens
        self._lock = threading.Lock()
        daemon.commands = EventStreams(daemon, on_open=self._command_stream)
        self._ok = Reply.json({"ok": True})
        # The latest route wins: the catch-all first.
        daemon.route(re.compile(r"^/api/runs/[^/?]+/[a-z-]+$"), self._other, method="POST")
        daemon.route(re.compile(r"^/api/runs$"), self._registered, method="POST")
        daemon.route(re.compile(r"^/api/runs/[^/?]+$"), self._deleted, method="DELETE")
        daemon.route(re.compile(r"^/api/runs/[^/?]+/output$"), self._output, method="POST")
        daemon.route(re.compile(r"^/api/runs/[^/?]+/activity$"), self._activity, method="POST")
        daemon.route(re.compile(r"^/api/runs/[^/?]+/screen$"), self._screen, method="POST")

    def say(self, text):
        with self._lock:
            self.out.write(text + "\n")
            self.out.flush()

    def _command_stream(self, stream):
        stream.send("ready", "{}")
        sent = ["ready"]
        if self.watch:
            stream.send("command", {"type": "watch", "join": "stand-in"})
            sent.append("watch")
        if self.screens:
            stream.send("command", {"type": "screens", "on": True})
            sent.append("screens on")
        self.say(f"command stream open ({stream.request.path}): sent " + ", ".join(sent))

    def _registered(self, ex):
        body = ex.json()
        self.say("registration: " + json.dumps(body, ensure_ascii=False, separators=(",", ":")))
        return self._ok

    def _deleted(self, ex):
        ex.read_body()
        self.say(f"run {ex.request.path.rsplit('/', 1)[-1]} ended (DELETE)")
        return self._ok

    def _activity(self, ex):
        body = ex.json()
        self.say("activity: working=%s asked=%s" % (
            json.dumps(body.get("working")), json.dumps(body.get("asked"))))
        return self._ok

    def _screen(self, ex):
        body = ex.json()
        rows = body.get("text", "").split("\n")
        while rows and not rows[-1].strip():
            rows.pop()
        caret = body.get("caret", {})
        head = "screen %sx%s, caret %s,%s%s:" % (
            body.get("cols"), body.get("rows"), caret.get("x"), caret.get("y"),
            ", serialised %d bytes" % len(body["serialized"].encode()) if "serialized" in body else "")
        self.say("\n".join([head] + ["  | " + row for row in rows]))
        return self._ok

    def _other(self, ex):
        body = ex.read_body()
        self.say(f"{ex.request.path.rsplit('/', 1)[-1]}: " + body.decode("utf-8", "replace"))
        return self._ok

    def _output(self, ex):
        ex.send_head(200, [("content-type", "text/plain; charset=utf-8")], chunked=True)
        self.say("output stream open")
        reader = FrameReader()
        while True:
            piece = ex.read_piece()
            if piece is None:
                break
            for frame in reader.feed(piece):
                self.say(frame.describe())
        if ex.request.complete:
            ex.write(b"0\r\n\r\n")
        ex.keep_alive = False
        self.say("output stream closed" + ("" if ex.request.complete else " before its end"))


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="standin.py",
        description="A stand-in for the village's desktop application: it writes config.json "
                    "into the home folder, watches every run of `mossbank run` that uses it "
                    "and prints what the village receives.")
    parser.add_argument("--home", required=True, help="the home folder (MOSSBANK_HOME of the runs)")
    parser.add_argument("--port", type=int, default=0, help="the port to listen on (default: a free one)")
    parser.add_argument("--no-watch", action="store_true", help="do not ask runs for their output stream")
    parser.add_argument("--no-screens", action="store_true", help="do not ask for serialised screens")
    args = parser.parse_args(argv)

    home = os.path.abspath(args.home)
    daemon = StandInDaemon(home=home, port=args.port)
    VillageWatch(daemon, watch=not args.no_watch, screens=not args.no_screens)
    print(f"village stand-in on 127.0.0.1:{daemon.port}, home {home}", flush=True)
    print(f"in another terminal: MOSSBANK_HOME={home} build/mossbank run bash", flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    try:
        done.wait()
    except KeyboardInterrupt:
        pass
    daemon.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())

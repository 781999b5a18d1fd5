#!/usr/bin/env python3
"""A stand-in coding agent for whole-program tests of `mossbank run`.

Put on the test's PATH under an agent's name (a link named `claude` or
`opencode` to this file): the name picks the screen it draws, copied from
screens captured from the real agent (src/screen/testdata/agents/):

  claude    the logo, the transcript, a "❯" + no-break space input row
            between two grey rules, the footer; while it works a spinner
            row and "esc to interrupt" in the footer; on request the
            numbered approval menu of a shell command in place of the box.
  opencode  the box with the heavy left bar, its status row and bottom edge;
            a typed "/" opens the popup of commands above the box (from the
            first column, where the slash-popup table reads its rows); on
            request a dialog with its title row ("... esc").

Bracketed paste is on (a paste with a line break shows as "[Pasted text #n
+k lines]"); the terminal is never queried unless the test asks for it.

Keys: text is typed into the box; DEL and Backspace delete a character (a
paste marker as a whole); Ctrl-U clears the row, Ctrl-E is the end of it
(the cursor always is); Enter submits ("/exit" leaves, "/clear" empties the
transcript); Esc interrupts the work, cancels the menu, or (twice) clears
the box; in the menu "1"-"3" or Up, Down and Enter answer; Ctrl-D on an
empty box leaves.

The test steers it through two FIFOs named by the environment:
  STANDIN_AGENT_LOG      one JSON object a line for what happened: {"event":
                         "ready"} (with its "args"), "keys" (each read,
                         "data"), "paste" ("text"), "submit" and
                         "submit-ignored" ("text"), "answer" ("choice"),
                         "interrupted", "cleared", "control" ("line"), "exit"
  STANDIN_AGENT_CONTROL  one command a line: "approval" (show the menu now),
                         "work <s>" (work now for s seconds), "idle", "on-submit
                         work <s>|approval|idle|ignore" (what Enter on a prompt
                         does; "ignore" leaves the prompt in the box), "paste
                         on|off", "deaf on|off" (typed text does not reach the
                         box), "popup on|off", "dialog on|off", "hold-on-hup",
                         "query" (asks the terminal for its attributes, the
                         cursor position and the background colour), "mark
                         <n>" (draws the screen, then sets the title "mark
                         <n>": once the test sees that, everything drawn before
                         it has passed the wrapper)
Each FIFO is opened read-write, so either side may come first and an agent
started again finds them as they were.
"""

import json
import os
import re
import select
import signal
import sys
import time
import tty

NAME = os.path.basename(sys.argv[0])
OPENCODE = NAME == "opencode"

ORANGE = "\x1b[38;2;215;119;87m"
GREY = "\x1b[38;2;153;153;153m"
RULE_GREY = "\x1b[38;2;136;136;136m"
RESET = "\x1b[0m"
SPINNER = "·✢*✶✻✽"
NBSP = "\u00a0"

POPUP_COMMANDS = [
    ("/agents", "Switch agent"), ("/connect", "Connect provider"), ("/editor", "Open editor"),
    ("/exit", "Exit the app"), ("/help", "Help"), ("/init", "guided AGENTS.md setup"),
    ("/models", "Switch model"), ("/new", "New session"), ("/sessions", "List sessions"),
]

log_fd = None


def log(event, **fields):
    if log_fd is None:
        return
    fields = {"event": event, **fields}
    os.write(log_fd, (json.dumps(fields) + "\n").encode())


def open_fifo(variable):
    path = os.environ.get(variable)
    if not path:
        return None
    return os.open(path, os.O_RDWR | os.O_NONBLOCK)


class Agent:
    def __init__(self):
        self.cols, self.rows = os.get_terminal_size(0)
        self.buffer = ""          # the box's text as shown
        self.pastes = {}          # marker -> pasted text
        self.transcript = []
        self.state = "idle"       # idle, working, approval
        self.work_until = 0.0
        self.frame = 0
        self.selected = 0
        self.esc_armed = False
        self.on_submit = ("idle", 0.0)
        self.paste_mode = True
        self.deaf = False
        self.popup = True
        self.dialog = False
        self.pending = b""        # an escape sequence cut by a read
        self.in_paste = None      # the text of a paste that has not ended

    # -- drawing --------------------------------------------------------
    def out(self, text):
        data = text.encode()
        while data:
            n = os.write(1, data)
            data = data[n:]

    def box_rows(self):
        """The input rows: the text wrapped after the two-column prompt."""
        width = max(self.cols - 2, 1)
        text = self.buffer
        rows = [text[i:i + width] for i in range(0, len(text), width)] or [""]
        return rows

    def claude_screen(self):
        top = ["", f"{ORANGE} ▐▛███▛█{RESET}   Claude Code v2.1.341",
               f"{ORANGE}▝▜██████▀{RESET}  {GREY}Opus 5.5 · API Usage Billing{RESET}",
               f"{ORANGE} ▝▝   ▝▝ {RESET}  {GREY}/tmp/project{RESET}", ""]
        rule = RULE_GREY + "─" * self.cols + RESET
        cursor = None
        if self.state == "approval":
            options = ["Yes", "Yes, and always allow access to project from this project", "No"]
            bottom = [rule, " Bash command", " Run a shell command", "╌" * self.cols, " touch notes.txt",
                      "╌" * self.cols, " Do you want to proceed?"]
            for k, option in enumerate(options):
                marker = "❯" if k == self.selected else " "
                bottom.append(f" {marker} {k + 1}. {option}")
            bottom += ["", " tab to amend · esc to cancel"]
        else:
            bottom = []
            if self.state == "working":
                bottom += [f"{ORANGE}{SPINNER[self.frame % len(SPINNER)]}{RESET} Honking…", ""]
            box = self.box_rows()
            bottom.append(rule)
            for k, row in enumerate(box):
                lead = "❯" + NBSP if k == 0 else "  "
                bottom.append(lead + row)
            bottom.append(rule)
            hint = "esc to interrupt" if self.state == "working" else (
                "esc again to clear" if self.esc_armed else "? for shortcuts")
            bottom.append(f"  {GREY}⏸ manual mode on · {hint}{RESET}")
        room = self.rows - len(top) - len(bottom)
        lines = self.transcript[-room:] if room > 0 else []
        screen = top + lines + [""] * max(room - len(lines), 0) + bottom
        screen = screen[-self.rows:]
        if self.state != "approval":
            # The cursor block and the terminal's cursor after the text.
            box = self.box_rows()
            last = len(screen) - 3
            column = 2 + len(box[-1])
            screen[last] = screen[last] + "\x1b[7m \x1b[27m"
            cursor = (last, column)
        return screen, cursor

    def opencode_screen(self):
        bar = "┃"
        popup_rows = []
        if self.popup and self.buffer.startswith("/") and " " not in self.buffer:
            popup_rows = [f"{bar} {c:<11} {d}" for c, d in POPUP_COMMANDS if c.startswith(self.buffer)]
        text = self.buffer if self.buffer else 'Ask anything… "Fix broken tests"'
        box = popup_rows + [bar, f"{bar}  {text}", bar, f"{bar}  Build · Stand-in model Stand-in",
                            "╹" + "▀" * (self.cols - 1), " " * 40 + "tab agents  ctrl+p commands"]
        screen = [""] * (self.rows - len(box) - 2) + box + ["", "  /tmp/project:master" + " " * 20 + "1.18.33"]
        if self.dialog:
            screen[2] = " " * 10 + "Select model" + " " * 30 + "esc"
            screen[4] = " " * 10 + "Search"
        screen = screen[-self.rows:]
        row = len(screen) - 2 - 5
        cursor = (row, 3 + len(self.buffer))
        return screen, cursor

    def draw(self):
        screen, cursor = self.opencode_screen() if OPENCODE else self.claude_screen()
        parts = ["\x1b[?2026h"]
        for k, line in enumerate(screen):
            parts.append(f"\x1b[{k + 1};1H\x1b[2K{line}")
        if cursor:
            parts.append(f"\x1b[{cursor[0] + 1};{cursor[1] + 1}H")
        parts.append("\x1b[?2026l")
        self.out("".join(parts))

    # -- what the keys do -----------------------------------------------
    def start_work(self, seconds):
        self.state = "working"
        self.work_until = time.monotonic() + seconds

    def submit(self):
        text = self.buffer
        for marker, pasted in self.pastes.items():
            text = text.replace(marker, pasted)
        if not text:
            return
        if OPENCODE and self.popup and self.buffer.startswith("/"):
            rows = [c for c, _ in POPUP_COMMANDS if c.startswith(self.buffer)]
            if rows:
                text = rows[0]  # Enter takes the popup's first row
        if self.on_submit[0] == "ignore" and not text.startswith("/"):
            log("submit-ignored", text=text)
            return
        log("submit", text=text)
        self.buffer, self.pastes, self.esc_armed = "", {}, False
        if text == "/exit":
            self.out("\x1b[?1049l\x1b[?2004l\x1b[?25h")
            log("exit")
            sys.exit(0)
        if text == "/clear":
            self.transcript = []
            log("cleared")
            return
        if OPENCODE and text == "/models":
            self.dialog = True
            return
        self.transcript += [f"{GREY}❯ {text}{RESET}", ""]
        kind, seconds = self.on_submit
        if kind == "work":
            self.start_work(seconds)
        elif kind == "approval":
            self.state, self.selected = "approval", 0
        else:
            self.transcript += ["● Done.", ""]

    def answer(self, choice):
        log("answer", choice=choice)
        self.state = "idle"
        self.transcript += [f"  ⎿  {['Yes', 'Yes, always', 'No'][choice - 1]}", ""]

    def escape(self):
        if self.dialog:
            self.dialog = False
        elif self.state == "working":
            self.state = "idle"
            self.transcript += ["  ⎿  Interrupted · What should Claude do instead?", ""]
            log("interrupted")
        elif self.state == "approval":
            self.state = "idle"
            self.transcript += ["  ⎿  Interrupted", ""]
            log("interrupted")
        elif self.buffer and self.esc_armed:
            self.buffer, self.pastes, self.esc_armed = "", {}, False
        elif self.buffer:
            self.esc_armed = True

    def type_text(self, text):
        if self.deaf or self.state == "approval":
            return
        for ch in text:
            if ch >= " " and ch != "\x7f":
                self.buffer += ch
        self.esc_armed = False

    def paste(self, text):
        log("paste", text=text)
        if self.deaf or self.state == "approval":
            return
        if "\n" in text or "\r" in text:
            breaks = len(re.split(r"\r\n|\r|\n", text)) - 1
            marker = f"[Pasted text #{len(self.pastes) + 1} +{breaks} lines]"
            self.pastes[marker] = text
            self.buffer += marker
        else:
            self.buffer += text

    def backspace(self):
        for marker in self.pastes:
            if self.buffer.endswith(marker):
                self.buffer = self.buffer[:-len(marker)]
                del self.pastes[marker]
                return
        self.buffer = self.buffer[:-1]

    def key(self, k):
        if self.state == "approval":
            if k in ("1", "2", "3"):
                self.answer(int(k))
            elif k == "up":
                self.selected = max(self.selected - 1, 0)
            elif k == "down":
                self.selected = min(self.selected + 1, 2)
            elif k == "\r":
                self.answer(self.selected + 1)
            elif k == "esc":
                self.escape()
            return
        if k == "esc":
            self.escape()
        elif k == "\r":
            self.submit()
        elif k in ("\x7f", "\x08"):
            if not self.deaf:
                self.backspace()
        elif k == "\x15":
            if not self.deaf:
                self.buffer, self.pastes = "", {}
        elif k == "\x03":
            self.buffer, self.pastes = "", {}
        elif k == "\x04":
            if not self.buffer:
                log("exit")
                sys.exit(0)
        elif len(k) == 1 and k < " ":
            pass  # Ctrl-E and the others: the cursor is always at the end
        elif len(k) >= 1 and not k.startswith("\x1b"):
            self.type_text(k)

    def feed(self, data):
        data = self.pending + data
        self.pending = b""
        text = data.decode("utf-8", "replace")
        k = 0
        while k < len(text):
            if self.in_paste is not None:
                end = text.find("\x1b[201~", k)
                if end < 0:
                    self.in_paste += text[k:]
                    return
                self.in_paste += text[k:end]
                pasted, self.in_paste = self.in_paste, None
                self.paste(pasted)
                k = end + 6
                continue
            ch = text[k]
            if ch != "\x1b":
                self.key(ch)
                k += 1
                continue
            m = re.compile(r"\x1b\[([0-9;?]*)([ -/]*[@-~])").match(text, k)
            if m:
                seq = m.group(0)
                k = m.end()
                if seq == "\x1b[200~":
                    self.in_paste = ""
                elif seq in ("\x1b[A", "\x1bOA"):
                    self.key("up")
                elif seq in ("\x1b[B", "\x1bOB"):
                    self.key("down")
                continue
            if k + 1 < len(text) and text[k + 1] == "[":
                self.pending = text[k:].encode()  # the rest comes with the next read
                return
            self.key("esc")
            k += 1

    def control(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "approval":
            self.state, self.selected = "approval", 0
        elif words[0] == "work":
            self.start_work(float(words[1]))
        elif words[0] == "idle":
            self.state = "idle"
        elif words[0] == "on-submit":
            self.on_submit = (words[1], float(words[2]) if len(words) > 2 else 0.0)
        elif words[0] == "paste":
            self.paste_mode = words[1] == "on"
            self.out("\x1b[?2004h" if self.paste_mode else "\x1b[?2004l")
        elif words[0] == "deaf":
            self.deaf = words[1] == "on"
        elif words[0] == "popup":
            self.popup = words[1] == "on"
        elif words[0] == "dialog":
            self.dialog = words[1] == "on"
        elif words[0] == "hold-on-hup":
            signal.signal(signal.SIGHUP, signal.SIG_IGN)
        elif words[0] == "query":
            self.out("\x1b[c\x1b[6n\x1b]11;?\x07")
        elif words[0] == "mark":
            self.draw()
            self.out(f"\x1b]0;mark {words[1]}\x07")
        log("control", line=line)

    def run(self):
        global log_fd
        log_fd = open_fifo("STANDIN_AGENT_LOG")
        control_fd = open_fifo("STANDIN_AGENT_CONTROL")
        tty.setraw(0)
        resized = []
        signal.signal(signal.SIGWINCH, lambda *_: resized.append(1))
        self.out("\x1b[?1049h\x1b[?2004h\x1b[?25l\x1b]0;Claude Code\x07" if not OPENCODE else
                 "\x1b[?1049h\x1b[?2004h\x1b[?25l")
        self.draw()
        log("ready", name=NAME, cols=self.cols, rows=self.rows, args=sys.argv[1:])
        control_text = b""
        while True:
            timeout = None
            if self.state == "working":
                timeout = 0.1
            try:
                fds = [0] + ([control_fd] if control_fd is not None else [])
                ready, _, _ = select.select(fds, [], [], timeout)
            except InterruptedError:
                ready = []
            if resized:
                resized.clear()
                self.cols, self.rows = os.get_terminal_size(0)
            if 0 in ready:
                data = os.read(0, 65536)
                if not data:
                    return
                log("keys", data=data.decode("utf-8", "replace"))
                self.feed(data)
            if control_fd is not None and control_fd in ready:
                try:
                    control_text += os.read(control_fd, 65536)
                except BlockingIOError:
                    pass
                while b"\n" in control_text:
                    line, control_text = control_text.split(b"\n", 1)
                    self.control(line.decode())
            if self.state == "working":
                self.frame += 1
                if time.monotonic() >= self.work_until:
                    self.state = "idle"
                    self.transcript += ["● Done.", ""]
            self.draw()


if __name__ == "__main__":
    Agent().run()

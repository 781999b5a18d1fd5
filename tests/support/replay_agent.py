#!/usr/bin/env python3
"""A scripted coding agent that draws screens captured from the real agents.

Put on the test's PATH under an agent's name (a link named `claude`,
`codex`, `opencode`, `grok`, ...): recognition goes by the program's name.
For "claude" and "codex" the screens are the byte streams recorded from the
real agents (src/screen/testdata/agents/<name>/<screen>.raw), replayed on a
cleared terminal; any agent can also be shown a plain text.

It starts on the "idle-80x24" capture (for names without captures, an empty
screen), reads its keys in raw mode and never queries the terminal itself
(the captures' own queries go unanswered, as in a pane nobody answers).
"--help" prints a short usage without "--no-daemon" (the wrapper's probe of
Codex). Enter on the agent's exit command ("/exit" for claude, "/quit" for codex)
leaves with 0, unless the test said otherwise. SIGHUP ends it, as it would
the real agent.

Environment:
  REPLAY_AGENT_LOG      a file that gets one JSON object a line: {"event":
                        "start", "argv", "env"} with the variables the tests
                        look at, "keys" ("data", each read), "exit"
  REPLAY_AGENT_CONTROL  a FIFO of commands, one a line:
                          show <capture>     replay that capture
                          text <json text>   show the text on a cleared screen
                          on-exit exit|ignore|<capture>
                                             what Enter on the exit command does
                          mark <n>           sets the title "mark <n>" (once the
                                             test sees a second mark, the wrapper
                                             has read everything drawn before
                                             the first into its screen)
                        each command is logged as {"event": "done", "command"}
                        once its screen is written.
"""

import json
import os
import select
import sys
import termios
import tty

NAME = os.path.basename(sys.argv[0])
CAPTURES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__)))),
                        "src", "screen", "testdata", "agents", NAME)
EXIT_COMMANDS = {"claude": "/exit", "codex": "/quit"}
WATCHED_ENV = ["MOSSBANK_RUN_ID", "MOSSBANK_RUN_UPGRADE_ID", "MOSSBANK_RUST_HANDOVER",
               "ELECTRON_RUN_AS_NODE"]
# Leaves the alternate screen, homes and clears the screen and its history.
CLEAR = b"\x1b[?1049l\x1b[0m\x1b[H\x1b[2J\x1b[3J"

log_path = os.environ.get("REPLAY_AGENT_LOG")


def log(event, **fields):
    if not log_path:
        return
    line = json.dumps({"event": event, **fields}) + "\n"
    fd = os.open(log_path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    try:
        os.write(fd, line.encode())
    finally:
        os.close(fd)


def write(data):
    while data:
        n = os.write(1, data)
        data = data[n:]


def show_capture(name):
    with open(os.path.join(CAPTURES, name + ".raw"), "rb") as f:
        write(CLEAR + f.read())


def show_text(text):
    write(CLEAR + text.replace("\n", "\r\n").encode())


def main():
    if sys.argv[1:] == ["--help"]:  # the wrapper's probe of Codex's options
        write(b"Usage: codex [OPTIONS] [PROMPT]\n")
        return 0
    log("start", argv=sys.argv[1:], env={k: os.environ.get(k) for k in WATCHED_ENV})
    control = None
    if os.environ.get("REPLAY_AGENT_CONTROL"):
        control = os.open(os.environ["REPLAY_AGENT_CONTROL"], os.O_RDWR | os.O_NONBLOCK)
    if os.path.isdir(CAPTURES):
        show_capture("idle-80x24")
    saved = termios.tcgetattr(0)
    tty.setraw(0)
    on_exit = "exit"
    line = ""
    pending_control = b""
    try:
        while True:
            fds = [0] + ([control] if control is not None else [])
            ready, _, _ = select.select(fds, [], [])
            if control in ready:
                pending_control += os.read(control, 4096)
                while b"\n" in pending_control:
                    command, pending_control = pending_control.split(b"\n", 1)
                    command = command.decode()
                    verb, _, rest = command.partition(" ")
                    if verb == "show":
                        show_capture(rest)
                    elif verb == "text":
                        show_text(json.loads(rest))
                    elif verb == "on-exit":
                        on_exit = rest
                    elif verb == "mark":
                        write(f"\x1b]0;mark {rest}\x07".encode())
                    log("done", command=command)
            if 0 in ready:
                data = os.read(0, 4096)
                if not data:
                    return 0
                text = data.decode("utf-8", "replace")
                log("keys", data=text)
                for ch in text:
                    if ch == "\r":
                        submitted, line = line, ""
                        if submitted == EXIT_COMMANDS.get(NAME):
                            if on_exit == "exit":
                                log("exit")
                                return 0
                            if on_exit != "ignore":
                                show_capture(on_exit)
                    elif ch == "\x7f":
                        line = line[:-1]
                    elif ch >= " ":
                        line += ch
                    else:
                        line = ""
    finally:
        termios.tcsetattr(0, termios.TCSANOW, saved)


if __name__ == "__main__":
    sys.exit(main())

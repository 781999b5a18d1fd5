"""Menus by agent and approval prompts on screens captured from real agents.

Through screen_probe (see test_screen_probe.py): read_menu as a keys request
reads a menu, and awaiting_approval as the key filter and the request worker
ask it. A question on screen must be recognised; an idle input box, an
answered question left in the transcript, a numbered list in an answer and
"esc to cancel" quoted in the transcript must not be.
"""

import os
import unittest

from test_screen_probe import PROBE, assert_readers, labels, probe

ASKING = {"is_approval_prompt": True, "awaiting_approval": True, "has_input_box": False}
IDLE = {"is_approval_prompt": False, "awaiting_approval": False, "has_input_box": True,
        "read_menu": None}

TRUST_TITLE_START = ("Quick safety check: Is this a project you created or one you trust? "
                     "(Like your")

CASES = [
    # Claude Code: the generic reader with Claude's rules.
    ("claude", "agents/claude/approval-bash-80x24.raw",
     dict(ASKING, read_menu=lambda m: (labels(m)[0], labels(m)[-1], m["selected"], m["cancel"])
                                       == ("1. Yes", "4. No", 0, 1))),
    ("claude", "agents/claude/approval-bash-120x40.raw", ASKING),
    ("claude", "agents/claude/approval-bash-200x50.raw", ASKING),
    ("claude", "agents/claude/menu-model-80x24.raw",
     dict(ASKING, read_menu=lambda m: m["title"].startswith("Select model"))),
    # The trust question goes before the workspace lines.
    ("claude", "agents/claude/trust-80x24.raw",
     dict(ASKING, read_menu=lambda m: (
         m["title"].startswith(TRUST_TITLE_START)
         and "Security guide\n\nAccessing workspace:\n\n/tmp/" in m["title"]
         and m["text"].endswith("\nNo, exit\nYes, I trust this folder")
         and m["rows"][0] == " Accessing workspace:" and m["selected"] == 0))),
    ("claude", "agents/claude/trust-yes-selected-80x24.raw",
     dict(ASKING, read_menu=lambda m: m["title"].startswith(TRUST_TITLE_START)
                                      and m["selected"] == 1)),
    ("claude", "agents/claude/idle-80x24.raw", IDLE),
    ("claude", "agents/claude/idle-200x50.raw", IDLE),
    ("claude", "agents/claude/approval-answered-80x24.raw", IDLE),
    ("claude", "agents/claude/answer-numbered-list-80x24.raw", IDLE),
    ("claude", "agents/claude/transcript-esc-to-cancel-80x24.raw", IDLE),
    ("claude", "agents/claude/menu-model-closed-80x24.raw", IDLE),
    ("claude", "agents/claude/slash-popup-80x24.raw", IDLE),

    # Codex: its own reader reads the numbered approval.
    ("codex", "agents/codex/approval-exec-80x24.raw",
     dict(ASKING, read_menu=lambda m: (labels(m)[0], m["navigation"]) == ("1. Yes, proceed", "number"))),
    ("codex", "agents/codex/approval-exec-200x50.raw", ASKING),
    ("codex", "agents/codex/trust-80x24.raw", ASKING),
    ("codex", "agents/codex/idle-80x24.raw", dict(IDLE, is_agent_command_center=False)),
    ("codex", "agents/codex/idle-200x50.raw", IDLE),
    ("codex", "agents/codex/approval-answered-80x24.raw", IDLE),
    ("codex", "agents/codex/answer-numbered-list-80x24.raw", IDLE),
    ("codex", "agents/codex/transcript-esc-to-cancel-80x24.raw", IDLE),

    # Copilot: framed lists with a "❯" cursor. The title stops at the first
    # blank row up, and Copilot leaves one between its question and the list.
    ("copilot", "agents/copilot/approval-bash-80x24.raw",
     dict(ASKING, read_menu=lambda m: (
         m["title"], labels(m)[0], m["selected"], m["cancel"], m["navigation"],
         m["selected_row"], m["highlight_selection"])
         == ("", "1. Yes", 0, 1, "arrows", 0, False))),
    ("copilot", "agents/copilot/trust-80x24.raw",
     dict(ASKING, read_menu=lambda m: (labels(m), m["options"][2]["key"], m["cancel"])
                                      == (["1. Yes", "2. Yes, and remember this folder for future "
                                           "sessions", "3. No"], "esc", 1))),
    ("copilot", "agents/copilot/trust-120x40.raw", ASKING),
    ("copilot", "agents/copilot/idle-80x24.raw", IDLE),
    ("copilot", "agents/copilot/approval-answered-80x24.raw", IDLE),
    ("copilot", "agents/copilot/answer-numbered-list-80x24.raw", IDLE),

    # OpenCode: its Tab reader wants the request's title right above the
    # answers, which this version draws two blank rows higher; the
    # permission row still shows in the rows.
    ("opencode", "agents/opencode/permission-bash-80x24.raw", dict(ASKING, read_menu=None)),
    ("opencode", "agents/opencode/idle-80x24.raw", IDLE),
    ("opencode", "agents/opencode/permission-answered-80x24.raw", IDLE),
    ("opencode", "agents/opencode/answer-numbered-list-80x24.raw", IDLE),

    # Hand-written: Antigravity's trust question asks; its idle box does not.
    ("antigravity", "handwritten/antigravity/trust-80x24.raw", ASKING),
    ("antigravity", "handwritten/antigravity/idle-80x24.raw", IDLE),
    ("grok", "handwritten/grok/idle-80x24.raw", IDLE),
]


@unittest.skipUnless(PROBE and os.path.exists(PROBE), "screen_probe is not built")
class MenusAndApprovals(unittest.TestCase):
    def test_captured_screens(self):
        for agent, path, expected in CASES:
            assert_readers(self, path, probe(agent, path), expected)


if __name__ == "__main__":
    unittest.main()

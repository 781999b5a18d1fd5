"""The screen readers on screens captured from real agents, through screen_probe.

screen_probe feeds a captured byte stream through the emulator at the size
it was recorded at and prints every reader's result as JSON. Each case below
names a screen and what the readers must make of it; LAYOUTS shows every
branch of read_menu (menu_layout names the one that read the screen); a few
screens are also compared whole with the JSON they are expected to print.
The captures are in src/screen/testdata/agents (recorded from the agents,
see the README there); Grok and Antigravity cannot run here, so their
screens are hand-written (src/screen/testdata/handwritten), as are the Codex
and OpenCode screens the recordings cannot reach.
"""

import json
import os
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TESTDATA = os.path.join(HERE, "..", "src", "screen", "testdata")
EXPECTED = os.path.join(HERE, "screen_probe")
BUILD_DIR = os.environ.get("MOSSBANK_BUILD_DIR", "")
PROBE = os.path.join(BUILD_DIR, "bench", "screen_probe") if BUILD_DIR else ""

LONG = ("please read every file in this project and then write a short summary of what "
        "each one does, keeping each summary to a single sentence of plain words")
CJK = "你好，世界 こんにちは 한국어 테스트"


def probe(agent, path, typed=None):
    args = [PROBE, "--agent", agent, os.path.join(TESTDATA, path)]
    if typed is not None:
        args[1:1] = ["--typed", typed]
    out = subprocess.run(args, capture_output=True, text=True, check=True, timeout=60).stdout
    return json.loads(out)


def labels(menu):
    return [o["label"] for o in menu["options"]]


def assert_readers(test, path, result, expected):
    """Each reader named in `expected` gave its value there, or a result
    its check (a function there) accepts."""
    for key, want in expected.items():
        with test.subTest(screen=path, reader=key):
            test.assertIn(key, result)
            if callable(want):
                test.assertIsNotNone(result[key])
                test.assertTrue(want(result[key]), result[key])
            else:
                test.assertEqual(result[key], want)


# An idle box that reads empty, per agent, on the keys that agent has.
EMPTY_BOX = {"has_input_box": True, "input_box_is_empty": True}

# (agent, screen, typed text or None, {key: expected value}); a callable
# value is a check on the reader's result.
CASES = [
    # Claude Code: the prompt row between rules, hints left out.
    ("claude", "agents/claude/idle-80x24.raw", None,
     dict(EMPTY_BOX, read_command="", cursor_at_prompt_start=True, has_claude_prompt_box=True,
          read_terminal=None, pane_is_busy=False)),
    ("claude", "agents/claude/idle-120x40.raw", None, dict(EMPTY_BOX, read_command="")),
    ("claude", "agents/claude/idle-200x50.raw", None, dict(EMPTY_BOX, read_command="")),
    ("claude", "agents/claude/idle-after-trust-120x40.raw", None, dict(EMPTY_BOX, read_terminal=None)),
    ("claude", "agents/claude/typed-long-wrapped-80x24.raw", LONG,
     {"read_command": LONG.replace(" of what", " of\nwhat"), "input_shows_text": True,
      "input_box_is_empty": False, "has_input_box": True, "cursor_at_prompt_start": False}),
    ("claude", "agents/claude/typed-after-esc-80x24.raw", LONG,
     {"input_shows_text": True, "input_box_is_empty": False}),
    ("claude", "agents/claude/cleared-after-esc-esc-80x24.raw", LONG,
     dict(EMPTY_BOX, input_shows_text=False, read_command="")),
    ("claude", "agents/claude/typed-cjk-120x40.raw", CJK,
     {"read_command": CJK, "input_shows_text": True, "input_box_is_empty": False}),
    ("claude", "agents/claude/slash-popup-80x24.raw", "/",
     {"read_command": "/", "input_shows_text": True, "input_box_is_empty": False,
      "read_terminal": None}),
    ("claude", "agents/claude/approval-bash-80x24.raw", None,
     {"read_terminal": lambda m: (m["selected"], m["cancel"], len(m["options"]),
                                  m["title"].endswith("Do you want to proceed?"))
                                 == (0, 1, 4, True),
      "has_claude_prompt_box": False, "has_input_box": False, "input_box_is_empty": False}),
    ("claude", "agents/claude/approval-bash-120x40.raw", None,
     {"read_terminal": lambda m: labels(m)[0] == "1. Yes" and m["cancel"] == 1,
      "has_input_box": False}),
    ("claude", "agents/claude/approval-bash-200x50.raw", None,
     {"read_terminal": lambda m: labels(m)[0] == "1. Yes" and m["selected"] == 0}),
    ("claude", "agents/claude/menu-model-80x24.raw", None,
     {"read_terminal": lambda m: (m["title"].split("\n")[0], len(m["options"]), m["selected"],
                                  m["cancel"]) == ("Select model", 5, 0, 1),
      "read_numbered_block": lambda m: labels(m)[1] == "2. Opus" and m["selected_by"] == "marker"}),
    ("claude", "agents/claude/trust-80x24.raw", None,
     {"read_terminal": lambda m: (labels(m), m["selected"], m["cancel"],
                                  m["title"].startswith("Accessing workspace:"))
                                 == (["No, exit", "Yes, I trust this folder"], 0, 1, True),
      "has_input_box": False}),
    ("claude", "agents/claude/trust-yes-selected-80x24.raw", None,
     {"read_terminal": lambda m: m["selected"] == 1 and m["selected_row"] == len(m["rows"]) - 1}),
    ("claude", "agents/claude/busy-spinner-120x40.raw", None,
     {"pane_is_busy": True, "has_claude_prompt_box": True}),
    ("claude", "agents/claude/busy-interrupted-120x40.raw", None,
     {"pane_is_busy": False, "read_command": "think about it for a while"}),
    # Negative screens: nothing there is a live question.
    ("claude", "agents/claude/approval-answered-80x24.raw", None,
     dict(EMPTY_BOX, read_terminal=None)),
    ("claude", "agents/claude/answer-numbered-list-80x24.raw", None,
     dict(EMPTY_BOX, read_terminal=None,
          read_numbered_block=lambda m: m["selected"] is None)),
    ("claude", "agents/claude/transcript-esc-to-cancel-80x24.raw", None,
     dict(EMPTY_BOX, read_terminal=None)),
    ("claude", "agents/claude/menu-model-closed-80x24.raw", None,
     dict(EMPTY_BOX, read_terminal=None)),

    # Codex: "›" composer, a row of one blank, the status row, the footer.
    ("codex", "agents/codex/idle-80x24.raw", None,
     dict(EMPTY_BOX, read_bare_box={"prompt_row": 20, "last_row": 20,
                                    "text": "Ask Codex to do anything"})),
    ("codex", "agents/codex/idle-120x40.raw", None, EMPTY_BOX),
    ("codex", "agents/codex/idle-200x50.raw", None, EMPTY_BOX),
    ("codex", "agents/codex/idle-after-trust-80x24.raw", None, EMPTY_BOX),
    ("codex", "agents/codex/typed-long-wrapped-80x24.raw", None,
     {"has_input_box": True, "input_box_is_empty": False,
      "read_bare_box": {"prompt_row": 19, "last_row": 20, "text":
                        "each one does, keeping each summary to a single sentence of plain words"}}),
    ("codex", "agents/codex/typed-after-esc-80x24.raw", None,
     {"has_input_box": True, "input_box_is_empty": False}),
    ("codex", "agents/codex/typed-cjk-120x40.raw", None,
     {"has_input_box": True, "input_box_is_empty": False,
      "read_bare_box": lambda b: b["text"] == CJK}),
    ("codex", "agents/codex/slash-popup-80x24.raw", None,
     {"has_input_box": True, "input_box_is_empty": False,
      "read_bare_box": lambda b: b["text"] == "/"}),
    ("codex", "agents/codex/approval-exec-80x24.raw", None,
     {"read_bare_box": None, "has_input_box": False, "input_box_is_empty": False,
      "read_numbered_block": lambda m: (labels(m)[0], m["selected"], m["cancel"], m["selected_by"])
                                       == ("1. Yes, proceed", 0, 1, "marker")}),
    ("codex", "agents/codex/approval-exec-200x50.raw", None,
     {"has_input_box": False, "read_numbered_block": lambda m: len(m["options"]) == 3}),
    ("codex", "agents/codex/menu-model-80x24.raw", None,
     {"has_input_box": False, "read_numbered_block": lambda m: len(m["options"]) == 8}),
    ("codex", "agents/codex/menu-permissions-120x40.raw", None,
     {"read_numbered_block": lambda m: m["selected"] == 3 and m["selected_by"] == "marker"}),
    ("codex", "agents/codex/trust-80x24.raw", None,
     {"has_input_box": False, "input_box_is_empty": False}),
    ("codex", "agents/codex/busy-spinner-120x40.raw", None, dict(EMPTY_BOX, pane_is_busy=True)),
    ("codex", "agents/codex/busy-interrupted-120x40.raw", None, dict(EMPTY_BOX, pane_is_busy=False)),
    ("codex", "agents/codex/approval-answered-80x24.raw", None, EMPTY_BOX),
    ("codex", "agents/codex/answer-numbered-list-80x24.raw", None,
     dict(EMPTY_BOX, read_numbered_block=lambda m: m["selected"] is None)),
    ("codex", "agents/codex/transcript-esc-to-cancel-80x24.raw", None, EMPTY_BOX),

    # OpenCode: the side box, its rows padded with blanks.
    ("opencode", "agents/opencode/idle-80x24.raw", None, dict(EMPTY_BOX, read_side_box="")),
    ("opencode", "agents/opencode/cleared-80x24.raw", None, dict(EMPTY_BOX, read_side_box="")),
    ("opencode", "agents/opencode/typed-long-wrapped-80x24.raw", None,
     {"input_box_is_empty": False}),
    ("opencode", "agents/opencode/permission-bash-80x24.raw", None,
     {"read_side_box": None, "input_box_is_empty": False}),
    ("opencode", "agents/opencode/idle-120x40.raw", None, dict(EMPTY_BOX, read_side_box="")),
    ("opencode", "agents/opencode/typed-cjk-120x40.raw", None,
     {"read_side_box": CJK, "input_box_is_empty": False}),
    ("opencode", "agents/opencode/slash-popup-80x24.raw", None,
     {"read_side_box": "/", "input_box_is_empty": False}),
    ("opencode", "agents/opencode/busy-interrupted-120x40.raw", None, dict(EMPTY_BOX, read_side_box="")),
    ("opencode", "agents/opencode/permission-answered-80x24.raw", None, EMPTY_BOX),
    ("opencode", "agents/opencode/answer-numbered-list-80x24.raw", None,
     dict(EMPTY_BOX, read_terminal=None, read_numbered_block=lambda m: m["selected"] is None)),
    ("opencode", "agents/opencode/menu-models-closed-120x40.raw", None, EMPTY_BOX),
    ("opencode", "agents/opencode/menu-models-120x40.raw", None,
     {"read_side_box": None, "input_box_is_empty": False}),
    ("opencode", "agents/opencode/auth-dialog-over-draft-120x40.raw", None,
     {"read_side_box": "hello world", "input_box_is_empty": False}),

    # Kilo draws OpenCode's side box, but only "opencode" has the side-box
    # reader; its box is there for has_input_box.
    ("kilo", "agents/kilo/idle-80x24.raw", None, {"has_input_box": True, "read_terminal": None}),
    ("kilo", "agents/kilo/typed-long-wrapped-80x24.raw", None,
     {"has_input_box": True, "input_box_is_empty": False, "read_terminal": None}),

    # Copilot: a "❯" prompt between rules (the input pane); its questions in a
    # frame that the generic reader leaves to the numbered block.
    ("copilot", "agents/copilot/idle-80x24.raw", None,
     {"has_input_box": True, "read_terminal": None, "read_input_pane": " "}),
    ("copilot", "agents/copilot/typed-long-wrapped-80x24.raw", LONG,
     {"input_shows_text": True, "read_terminal": None}),
    ("copilot", "agents/copilot/typed-cjk-120x40.raw", CJK, {"input_shows_text": True}),
    ("copilot", "agents/copilot/approval-bash-80x24.raw", None,
     {"read_terminal": None, "read_input_pane": None,
      "read_numbered_block": lambda m: (labels(m)[0], m["selected"], m["cancel"], m["selected_by"])
                                       == ("1. Yes", 0, 1, "marker")}),
    ("copilot", "agents/copilot/trust-80x24.raw", None,
     {"read_numbered_block": lambda m: labels(m) == ["1. Yes",
                                                     "2. Yes, and remember this folder for future sessions",
                                                     "3. No"] and m["options"][2]["key"] == "esc"}),
    ("copilot", "agents/copilot/answer-numbered-list-80x24.raw", None,
     {"read_terminal": None, "read_numbered_block": lambda m: m["selected"] is None}),

    # Grok and Antigravity, hand-written.
    ("grok", "handwritten/grok/idle-80x24.raw", None,
     {"has_input_box": True, "read_bare_box": {"prompt_row": 22, "last_row": 22,
                                               "text": "Type a message..."}}),
    ("grok", "handwritten/grok/typed-80x24.raw", None,
     {"has_input_box": True, "read_bare_box": {"prompt_row": 21, "last_row": 22,
                                               "text": "run the whole suite again"}}),
    ("grok", "handwritten/grok/approval-radio-80x24.raw", None,
     {"read_bare_box": lambda b: b["text"] == "", "read_terminal": None}),
    ("antigravity", "handwritten/antigravity/idle-80x24.raw", None,
     {"ruled_box_input_empty": True, "input_box_is_empty": True,
      "read_ruled_box": {"prompt_row": 21, "last_row": 21, "text": ""}}),
    ("antigravity", "handwritten/antigravity/typed-80x24.raw", None,
     {"ruled_box_input_empty": False, "input_box_is_empty": False,
      "read_ruled_box": lambda b: b["text"] == "please summarise the README and list the open\n"
                                               "questions at the end"}),
    ("antigravity", "handwritten/antigravity/mode-line-cut-80x24.raw", None,
     {"ruled_box_input_empty": True}),
    ("antigravity", "handwritten/antigravity/tasks-80x24.raw", None,
     {"ruled_box_input_empty": True, "read_ruled_box": lambda b: b["prompt_row"] == 18}),
    ("antigravity", "handwritten/antigravity/trust-80x24.raw", None,
     {"read_ruled_box": None, "ruled_box_input_empty": False}),
]

# Every branch of read_menu on a screen that shows it: (agent, screen, the
# layout that reads it or None, a check on the menu or on the whole result).
# The recorded Codex screens paint their blank rows with spaces, and a row
# of printed blanks ends a title, so their menus' titles are empty.
LAYOUTS = [
    # Codex: numbered menus with a "›" cursor, the hidden option.
    ("codex", "agents/codex/approval-exec-80x24.raw", "numbered",
     lambda m: (labels(m), m["options"][0]["key"], m["options"][2]["key"], m["navigation"],
                m["cancel"], m["title"])
     == (["1. Yes, proceed",
          "2. Yes, and don't ask again for commands that start with `touch notes.txt` (p)",
          "3. No, and tell Codex what to do differently"], "y", "esc", "number", 1, "")),
    ("codex", "agents/codex/approval-exec-120x40.raw", "numbered",
     lambda m: labels(m)[0] == "1. Yes, proceed" and m["selected"] == 0),
    ("codex", "agents/codex/approval-exec-200x50.raw", "numbered",
     lambda m: len(m["options"]) == 3 and m["cancel"] == 1),
    # "2. Back to Agent Command Center" is not offered, and with it gone the
    # "esc back" hint does not cancel.
    ("codex", "agents/codex/trust-80x24.raw", "numbered",
     lambda m: (labels(m), m["selected"], m["cancel"], len(m["rows"]))
     == (["1. Trust and continue"], 0, 2, 2)),
    ("codex", "agents/codex/trust-120x40.raw", "numbered",
     lambda m: labels(m) == ["1. Trust and continue"]),
    ("codex", "agents/codex/menu-model-80x24.raw", "numbered",
     lambda m: (len(m["options"]), m["selected"], m["cancel"], m["options"][1]["detail"])
     == (8, 0, 1, "Our most capable model for complex coding and professional work.")),
    ("codex", "agents/codex/menu-permissions-120x40.raw", "numbered",
     lambda m: m["selected"] == 3 and labels(m)[3] == "4. Read Only (current)"),
    ("codex", "handwritten/codex/command-center-80x24.raw", "command center",
     lambda m: (m["options"][0]["key"], m["text"], m["cancel"], m["navigation"])
     == ("\x1b", "Agent command center\nBack to session\nesc back", 1, "key")),
    ("codex", "handwritten/codex/open-elsewhere-80x24.raw", "open in another app",
     lambda m: [(o["label"], o["key"]) for o in m["options"]] == [("retry", "r"), ("fork", "f")]),
    # The sign-in list marks its cursor with ">", not "›": no Codex menu,
    # though its rows still ask.
    ("codex", "agents/codex/signin-80x24.raw", None, {"is_approval_prompt": True}),

    # Grok, hand-written.
    ("grok", "handwritten/grok/trust-80x24.raw", "trust hotkeys",
     lambda m: [(o["label"], o["key"]) for o in m["options"]]
     == [("Yes, I trust this directory", "y"), ("No, exit", "n")]),
    ("grok", "handwritten/grok/radio-80x24.raw", "radio list",
     lambda m: (m["selected"], m["highlight_selection"], m["always_approve_hotkey"],
                m["title"]) == (0, True, True, "Run this command?\n  $ rm -rf build")),
    ("grok", "handwritten/grok/numbered-80x24.raw", "numbered",
     lambda m: m["title"] == "Switch to which model?" and m["cancel"] == 1),
    ("grok", "handwritten/grok/argument-picker-80x24.raw", "argument picker",
     lambda m: (m["title"], labels(m), m["selected"])
     == ("/model gr", ["grok-4", "grok-3-mini", "grok-code"], 1)),
    # A radio list above the input box's prompt is transcript.
    ("grok", "handwritten/grok/approval-radio-80x24.raw", None, {"read_menu": None}),

    # OpenCode and Kilo: the model dialogs read from their styled rows.
    ("opencode", "agents/opencode/menu-models-120x40.raw", "dialog",
     lambda m: (m["title"], labels(m)[-1], m["selected"], m["highlight_selection"],
                m["options"][0]["detail"])
     == ("Select model", "● Stand-in model", len(m["options"]) - 1, True, "Free")),
    # The dialog over the home screen: the draft in the input box below it
    # lies in the dialog's columns, on the box's background, and is no option.
    ("opencode", "agents/opencode/auth-dialog-over-draft-120x40.raw", "dialog",
     lambda m: (m["title"], labels(m), m["selected"], m["cancel"], len(m["rows"]))
     == ("Select auth method", ["ChatGPT Pro/Plus (browser)", "ChatGPT Pro/Plus (headless)",
                                "Manually enter API Key"], 0, 1, 7)),
    ("kilo", "agents/kilo/menu-models-120x40.raw", "dialog",
     lambda m: labels(m)[-1] == "● Stand-in model" and m["selected"] == len(m["options"]) - 1),
    # The model's question: the selected choice in a colour of its own
    # (read from the styled rows); the title stops at the blank row above.
    ("opencode", "agents/opencode/question-cjk-120x40.raw", "numbered question",
     lambda m: (labels(m), m["options"][0]["detail"], m["options"][3]["kind"], m["selected"],
                m["highlight_selection"], m["cancel"], m["title"])
     == (["1. 日本語", "2. 中文（简体）", "3. 한국어", "4. Type your own answer"], "日本語で書きます",
         "inline", 0, True, 1, "")),
    # Kilo shows the selected choice only on a lighter background, every row
    # having one: no selection to read, so no menu; the rows still ask.
    ("kilo", "agents/kilo/question-cjk-120x40.raw", None,
     {"is_approval_prompt": True, "awaiting_approval": True}),
    ("opencode", "agents/opencode/question-cjk-answered-120x40.raw", None,
     {"is_approval_prompt": False, "has_input_box": True}),
    ("opencode", "handwritten/opencode/question-80x24.raw", "numbered question",
     lambda m: labels(m)[2] == "3. Type your own answer" and m["options"][2]["kind"] == "inline"),
    ("opencode", "handwritten/opencode/permission-80x24.raw", "permission tabs",
     lambda m: (labels(m)[:3], m["navigation"]) == (["Allow once", "Allow always", "Reject"], "tab")),
    ("opencode", "handwritten/opencode/dialog-beside-80x24.raw", "dialog beside",
     lambda m: (labels(m), m["selected"]) == (["build", "● plan", "review"], 1)),
    # The recorded permission request leaves blank rows between its title
    # and the answers: the title stops at the first of them and does not
    # mention a permission, so no Tab menu; the rows still ask.
    ("opencode", "agents/opencode/permission-bash-80x24.raw", None,
     {"read_menu": None, "is_approval_prompt": True}),
    ("opencode", "agents/opencode/permission-bash-120x40.raw", None, {"is_approval_prompt": True}),
    ("kilo", "agents/kilo/permission-bash-80x24.raw", None, {"is_approval_prompt": True}),

    # Antigravity, hand-written.
    ("antigravity", "handwritten/antigravity/numbered-80x24.raw", "numbered",
     lambda m: (m["title"], m["navigation"], m["cancel"]) == ("Select a model", "number", 1)),
    ("antigravity", "handwritten/antigravity/settings-80x24.raw", "plain list",
     lambda m: (m["title"], labels(m), m["options"][1]["detail"])
     == ("Settings", ["Theme", "Auto-approve", "Telemetry"], "edits only")),
    ("antigravity", "handwritten/antigravity/trust-80x24.raw", "plain list",
     lambda m: labels(m) == ["Yes, I trust this folder", "No, exit"] and m["cancel"] == 1),
]

# Screens whose whole JSON is compared.
WHOLE = [
    ("claude", "agents/claude/approval-bash-80x24.raw", "claude-approval-bash-80x24.json"),
    ("codex", "agents/codex/typed-long-wrapped-80x24.raw", "codex-typed-long-wrapped-80x24.json"),
    ("grok", "handwritten/grok/typed-80x24.raw", "grok-typed-80x24.json"),
    ("codex", "agents/codex/approval-exec-80x24.raw", "codex-approval-exec-80x24.json"),
    ("codex", "handwritten/codex/command-center-80x24.raw", "codex-command-center-80x24.json"),
    ("opencode", "agents/opencode/menu-models-120x40.raw", "opencode-menu-models-120x40.json"),
    ("opencode", "handwritten/opencode/dialog-beside-80x24.raw", "opencode-dialog-beside-80x24.json"),
    ("grok", "handwritten/grok/radio-80x24.raw", "grok-radio-80x24.json"),
    ("antigravity", "handwritten/antigravity/numbered-80x24.raw", "antigravity-numbered-80x24.json"),
]


@unittest.skipUnless(PROBE and os.path.exists(PROBE), "screen_probe is not built")
class ScreenProbe(unittest.TestCase):
    def test_readers_on_captured_screens(self):
        for agent, path, typed, expected in CASES:
            assert_readers(self, path, probe(agent, path, typed), expected)

    def test_every_branch_of_read_menu(self):
        for agent, path, layout, want in LAYOUTS:
            result = probe(agent, path)
            with self.subTest(screen=path):
                self.assertEqual(result["menu_layout"], layout)
                if callable(want):
                    self.assertIsNotNone(result["read_menu"])
                    self.assertTrue(want(result["read_menu"]), result["read_menu"])
                else:
                    for key, value in want.items():
                        self.assertEqual(result[key], value, key)

    def test_whole_output(self):
        for agent, path, name in WHOLE:
            with self.subTest(screen=path):
                with open(os.path.join(EXPECTED, name), encoding="utf-8") as f:
                    self.assertEqual(probe(agent, path), json.load(f))

    def test_size_from_the_file_name_and_options(self):
        result = probe("claude", "agents/claude/idle-120x40.raw")
        self.assertEqual((result["size"], result["lines"]), ({"cols": 120, "rows": 40}, 40))
        args = [PROBE, "--agent", "codex", "--cols", "100", "--rows", "30",
                os.path.join(TESTDATA, "agents/codex/idle-80x24.raw")]
        out = json.loads(subprocess.run(args, capture_output=True, text=True, check=True).stdout)
        self.assertEqual((out["size"], out["lines"]), ({"cols": 100, "rows": 30}, 30))
        self.assertNotIn("read_command", out)  # Claude's readers only for Claude
        bad = subprocess.run([PROBE, "--agent", "codex"], capture_output=True, text=True)
        self.assertEqual(bad.returncode, 2)
        missing = subprocess.run([PROBE, "--agent", "codex", "/nonexistent.raw"],
                                 capture_output=True, text=True)
        self.assertEqual(missing.returncode, 1)


if __name__ == "__main__":
    unittest.main()

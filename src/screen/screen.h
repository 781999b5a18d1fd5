// Screen reading: what an agent's screen shows, read from its text.
//
//   screen_pattern.h  the readers' pattern dialect, compiled once per process
//   text_utils.h      escapes, rows and JavaScript-style trims of screen text
//   agents.h          which agent a command line runs; session or one-shot
//   agent_profiles.h  one row per agent: what differs between the agents
//   session_ids.h     session ids and the conversation a command line opens
//   styled_rows.h     styled screen rows: plain text plus runs of colour and
//                     inverse video (read_styled_row, parse_sgr)
//   menu.h            the Menu every menu reader returns (Menu, MenuOption,
//                     NavigationKind), and the shared pieces: trimmed rows,
//                     numbered blocks, selection by marker, highlight or
//                     colour, the question above a menu, finish_menu
//   terminal_reader.h read_terminal, the generic menu reader, and the row
//                     tests: rules, prompt rows, the cursor at the prompt
//   input_pane.h      input_shows_text (typed text in the pane, pastes and
//                     images collapsed) and pane_is_busy
//   command_line.h    read_command (what is typed at Claude Code's prompt,
//                     hints left out), shell mode, the prompt-search popup,
//                     the rows and draft of Claude Code's box
//   slash_popups.h    the popup a typed "/" opens, the agents' dialog titles
//   box_line.h        the line a box held at an Enter typed by hand
//   input_boxes.h     has_input_box and input_box_is_empty for every agent's
//                     box (bare, side, ruled, Claude's prompt row)
//   agent_menu.h      read_menu: the menu an agent shows, read by agent
//   agent_readers.h   the agents' menu layouts that read_menu tries by the
//                     agent's row
//   approval.h        is_approval_prompt and awaiting_approval
//   typing_profile.h  which keys interrupt an agent; whether it takes pasted lines
//   key_filter.h      the filter every typed key passes on its way to the agent
//
// Reader contract. A reader takes the agent's name (a lower-case text such
// as "claude" or "codex"; possibly absent, or a name no reader knows, which
// takes the generic path) and the screen text (the emulator's visible rows
// joined by "\n", plain or with its styling escapes), and returns a bool, an
// optional text or an optional Menu. A reader never fails: what it cannot
// read is false or none. Readers keep no state between calls and take no
// locks; everything they need is in the text they are given, and they may
// run on any number of threads at once.
#pragma once

#include "screen/agent_menu.h"
#include "screen/agent_profiles.h"
#include "screen/agent_readers.h"
#include "screen/agents.h"
#include "screen/approval.h"
#include "screen/box_line.h"
#include "screen/command_line.h"
#include "screen/input_boxes.h"
#include "screen/input_pane.h"
#include "screen/key_filter.h"
#include "screen/menu.h"
#include "screen/screen_pattern.h"
#include "screen/session_ids.h"
#include "screen/slash_popups.h"
#include "screen/styled_rows.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"
#include "screen/typing_profile.h"

// How long reading a 200x50 screen takes with a dozen typical reader
// patterns, alone and on several threads at once; how long each screen
// reader takes on a busy full 200x50 screen (every row filled, styled, an
// approval menu and an input box at the bottom), and the whole set of them;
// how long each agent's menu layouts take on busy screens that show them;
// how long recognising a thousand command lines takes; how fast the key
// filter passes typed input. Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "screen/agent_menu.h"
#include "screen/agent_readers.h"
#include "screen/agents.h"
#include "screen/approval.h"
#include "screen/command_line.h"
#include "screen/input_boxes.h"
#include "screen/input_pane.h"
#include "screen/key_filter.h"
#include "screen/menu.h"
#include "screen/screen_pattern.h"
#include "screen/session_ids.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace {

using namespace mossbank::screen;
using Clock = std::chrono::steady_clock;

// Whole-screen tests.
constinit const ScreenPattern busy{
    "(?i)(esc|ctrl\\+c) to (interrupt|cancel|stop)|ctrl\\+c\\s*:\\s*cancel|\\b[1-9]\\d* "
    "task\\(s\\) · /tasks\\b|(?:^|\\n)\\s*● \\[\\d{2}:\\d{2}:\\d{2}\\].*\\brunning\\b|(?:^|\\n)[ "
    "\\t]*[⠀-⣿] {1,4}\\S|press \\S+ to edit queued messages|\\b[1-9]\\d* (?:queued "
    "messages?|messages? queued)\\b"};
constinit const ScreenPattern asking{
    "do you want to|enter to confirm|waiting for (?:your )?(?:approval|confirmation|permission)|"
    "(?:permission|approval) (?:required|requested|needed)|type your (?:own )?answer|type "
    "something"};
constinit const ScreenPattern close_hint{"(?i)\\besc to close\\b"};

// Row tests.
constinit const ScreenPattern numbered_option{
    "^(?:({js_nonspace}){js_space}+)?([0-9]{1,2})[.)]{js_space}+({js_nonspace}.*)$"};
constinit const ScreenPattern label_hint{"^(.*?{js_nonspace}){js_space}{2,}({js_nonspace}.*)$"};
constinit const ScreenPattern cursor_row{"^({js_space}*)([❯›▶]){js_space}+({js_nonspace}.*)$"};
constinit const ScreenPattern frame_row{"^(?:{js_space}|[\\-─━═╌┄┈╭╮╰╯┌┐└┘├┤┬┴┼╔╗╚╝▀▄╹])+$"};
constinit const ScreenPattern box_bars{"^(?:{js_space}|[│┃])+|(?:{js_space}|[│┃])+$"};
constinit const ScreenPattern prompt{"^❯(?:{js_space}|$)"};
constinit const ScreenPattern esc_hint{
    "(?-u:\\b)[Ee][Ss][Cc](?:[Aa][Pp][Ee])?(?-u:\\b)(?:{js_space}*:?{js_space}*"
    "[Ss][Cc][Rr][Oo][Ll][Ll][Bb][Aa][Cc][Kk])?"};
constinit const ScreenPattern rule{"[─━═▔]{6,}"};
constinit const ScreenPattern key_row{"^(?:[⇆↑↓←→]|(?i-u:enter|esc|tab|ctrl)(?-u:\\b))"};

std::string pad(std::string row, size_t width) {
  size_t chars = char_offset_of_byte(row, row.size());
  if (chars < width) row.append(width - chars, ' ');
  return row;
}

// The rows, each padded to 200 columns, joined by "\n".
std::string padded_screen(const std::vector<std::string>& rows) {
  std::string text;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (k) text += '\n';
    text += pad(rows[k], 200);
  }
  return text;
}

// A Claude Code style approval screen, 200 columns by 50 rows, with its
// styling escapes.
std::string styled_screen() {
  std::vector<std::string> rows;
  for (int k = 0; k < 30; ++k) {
    rows.push_back("\x1b[0;2m⎿\x1b[0m  Read src/screen/screen_pattern.cpp (" +
                   std::to_string(40 + k) +
                   " lines) \x1b[0;38;5;244m· lorem ipsum dolor sit amet, consectetur\x1b[0m");
  }
  rows.push_back("\x1b[0;38;2;215;119;87m╭" + std::string() +
                 "────────────────────────────────────────"
                 "────────────────────────────────────────────────────────────╮\x1b[0m");
  rows.push_back("│ Bash command                                                         │");
  rows.push_back("│   rm -rf build && cmake -S . -B build -G Ninja                       │");
  rows.push_back("│ Do you want to proceed?                                              │");
  rows.push_back(
      "│ \x1b[0;7m❯ 1. Yes\x1b[0m                                                       │");
  rows.push_back("│   2. Yes, and don't ask again for cmake commands in /work/main       │");
  rows.push_back("│   3. No, and tell Claude what to do differently (esc)                │");
  rows.push_back("╰──────────────────────────────────────────────────────────────────────╯");
  rows.push_back("");
  rows.push_back("\x1b[0;2m  esc to interrupt · ctrl+t to show todos\x1b[0m");
  while (rows.size() < 48) rows.push_back("");
  rows.push_back("────────────────────────────────────────────────────────────────────────");
  rows.push_back(
      "\x1b[0;2m  ? for shortcuts                                   Esc to cancel\x1b[0m");
  return padded_screen(rows);
}

// Every row filled to 200 columns: transcript rows with colours, bars, CJK
// and bullets, then a numbered approval menu, then an input box; the
// styling escapes of the emulator's styled lines.
std::string busy_screen() {
  std::vector<std::string> rows;
  const char* words[] = {"⏺ Update(src/screen/menu.cpp)",
                         "│ 对话框 选项",
                         "⎿  Added 12 lines",
                         "· lorem ipsum dolor",
                         "─ sit amet ─",
                         "› consectetur",
                         "1. adipiscing",
                         "esc: scrollback"};
  for (int k = 0; k < 38; ++k) {
    std::string row = "\x1b[0;38;5;" + std::to_string(100 + k) + "m";
    for (int w = 0; char_offset_of_byte(strip_escapes(row), strip_escapes(row).size()) < 190; ++w) {
      row += words[(k + w) % 8];
      row += w % 3 ? " \x1b[0;2m" : " \x1b[0m";
    }
    rows.push_back(row + "\x1b[0m");
  }
  rows.push_back(
      "────────────────────────────────────────────────────────────────────────────────");
  rows.push_back(" Bash command");
  rows.push_back("   rm -rf build && cmake -S . -B build -G Ninja");
  rows.push_back(" Do you want to proceed?");
  rows.push_back(" \x1b[0;38;5;153m❯ 1. Yes\x1b[0m");
  rows.push_back("   2. Yes, and don't ask again for cmake commands in /work/main");
  rows.push_back("   3. No, and tell Claude what to do differently (esc)");
  rows.push_back("");
  rows.push_back(" Esc to cancel · Tab to amend");
  rows.push_back(
      "────────────────────────────────────────────────────────────────────────────────");
  rows.push_back("❯ \x1b[0;7mh\x1b[0mello there, please look at the failing test");
  rows.push_back(
      "────────────────────────────────────────────────────────────────────────────────");
  return padded_screen(rows);
}

bool no_approval(std::optional<AgentName>, std::string_view) { return false; }

struct Reader {
  std::string name;
  std::function<size_t(const std::string& styled, const std::string& plain)> run;
};

std::vector<Reader> readers() {
  std::vector<Reader> out = {
      {"read_styled_rows",
       [](const std::string& s, const std::string&) { return read_styled_rows(s).size(); }},
      {"trim_side_bars",
       [](const std::string& s, const std::string&) { return trim_side_bars(s).size(); }},
      {"read_numbered_block + selection + frame_rows",
       [](const std::string& s, const std::string&) -> size_t {
         const std::vector<TrimmedRow> rows = trim_side_bars(s);
         std::optional<NumberedBlock> block = read_numbered_block(rows, U"❯›");
         if (!block) return 0;
         std::optional<SelectedOption> sel = selected_option_index(*block, rows);
         auto [title, top] = frame_rows(rows, block->first_row, {});
         PartialMenu partial =
             numbered_block_menu(*block, sel ? std::optional<size_t>(sel->index) : std::nullopt,
                                 title, top, kNavigateArrows);
         partial.esc = has_esc_hint(join_row_texts(rows, block->last_row));
         return finish_menu(std::move(partial), rows).options.size();
       }},
      {"read_terminal",
       [](const std::string&, const std::string& p) { return read_terminal(p).has_value(); }},
      {"read_codex_menu",
       [](const std::string& s, const std::string&) { return read_menu("codex", s).has_value(); }},
      {"read_grok_menu",
       [](const std::string& s, const std::string&) { return read_menu("grok", s).has_value(); }},
      {"read_opencode_screen",
       [](const std::string& s, const std::string&) {
         return read_menu("opencode", s).has_value();
       }},
      {"read_antigravity_menu",
       [](const std::string& s, const std::string&) {
         return read_menu("antigravity", s).has_value();
       }},
      {"input_shows_text",
       [](const std::string&, const std::string& p) {
         return input_shows_text(p, "hello there, please look at the failing test", false);
       }},
      {"pane_is_busy", [](const std::string&, const std::string& p) { return pane_is_busy(p); }},
      {"read_command",
       [](const std::string& s, const std::string&) {
         return read_command(s, {.cursor = ScreenCursor{10, 49}, .cut_at_cursor = true}).size();
       }},
      {"is_shell_mode_prompt",
       [](const std::string& s, const std::string&) { return is_shell_mode_prompt(s); }},
      {"is_prompt_search",
       [](const std::string& s, const std::string&) { return is_prompt_search(s); }},
      {"cursor_at_prompt_start",
       [](const std::string& s, const std::string&) { return cursor_at_prompt_start(s, 2, 48); }},
      {"has_claude_prompt_box",
       [](const std::string& s, const std::string&) { return has_claude_prompt_box(s, true); }},
      {"read_side_box",
       [](const std::string& s, const std::string&) {
         return read_side_box("opencode", s).has_value();
       }},
      {"ruled_box_input_empty",
       [](const std::string& s, const std::string&) {
         return ruled_box_input_empty("antigravity", s);
       }},
  };
  for (const char* agent : {"claude", "codex", "grok", "opencode", "antigravity"}) {
    out.push_back(
        {std::string("has_input_box ") + agent, [agent](const std::string& s, const std::string&) {
           return has_input_box(agent, s, false, no_approval);
         }});
    out.push_back({std::string("input_box_is_empty ") + agent,
                   [agent](const std::string& s, const std::string&) {
                     return input_box_is_empty(agent, s);
                   }});
  }
  return out;
}

struct RowPattern {
  const char* name;
  const ScreenPattern* pattern;
};
const RowPattern kRowPatterns[] = {{"numbered option", &numbered_option},
                                   {"label and hint", &label_hint},
                                   {"cursor row", &cursor_row},
                                   {"frame row", &frame_row},
                                   {"prompt", &prompt},
                                   {"esc hint", &esc_hint},
                                   {"rule", &rule},
                                   {"key row", &key_row}};

// One full reading: escapes stripped, rows made, three whole-screen tests
// and nine row patterns over every row (one of them a replacement).
size_t read_screen(const std::string& styled) {
  size_t hits = 0;
  std::vector<std::string> rows = screen_text_rows(styled);
  std::string plain;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (k) plain += '\n';
    plain += rows[k];
  }
  hits += busy.is_match(plain) + asking.is_match(plain) + close_hint.is_match(plain);
  for (const std::string& row : rows) {
    for (const RowPattern& p : kRowPatterns) hits += p.pattern->find(row).has_value();
    hits += box_bars.replace_all(row, "").size() != row.size();
  }
  return hits;
}

template <typename F>
double best_of(int rounds, int per_round, F f) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Clock::now();
    for (int k = 0; k < per_round; ++k) f();
    double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / per_round;
    best = std::min(best, us);
  }
  return best;
}

std::vector<std::vector<std::string>> command_lines() {
  const std::vector<std::vector<std::string>> kinds = {
      {"claude"},
      {"/usr/local/bin/claude", "--model", "opus", "-c"},
      {"claude", "-p", "summarise"},
      {"claude", "mcp", "serve"},
      {"node", "/usr/lib/node_modules/@openai/codex/bin/codex.js", "-m", "o3"},
      {"codex", "exec", "fix the build"},
      {"codex", "-p", "work", "resume", "0f1e2d3c-4b5a-4697-8877-665544332211"},
      {"bash", "-lc", "claude"},
      {"/Applications/Some.app/Contents/MacOS/claude"},
      {"codex-aarch64-apple-darwin", "--full-auto"},
      {"/home/u/.grok/bin/agent", "-m", "x"},
      {"agy", "-i", "hello"},
      {"cursor-agent", "--model", "gpt-5", "whoami"},
      {"hermes", "chat"},
      {"opencode", "--", "run"},
      {"copilot", "--add-dir", "/tmp", "fix it"},
      {"python3", "-u", "/opt/tools/muse", "exec"},
      {"C:\\Program Files\\nodejs\\node.exe", "C:\\npm\\node_modules\\@github\\copilot\\index.js"},
      {"kilo", "--help"},
      {"electron", "--type=renderer"},
  };
  std::vector<std::vector<std::string>> out;
  for (int k = 0; k < 1000; ++k) out.push_back(kinds[static_cast<size_t>(k) % kinds.size()]);
  return out;
}

// A MiB of what a user's terminal sends: words, accented and CJK text,
// Enter, Backspace, cursor keys, and now and then a focus report or a
// cursor position reply.
std::string typed_input() {
  const char* const kPieces[] = {"hello ",      "world ",   "café ",  "日本語 ", "\r",
                                 "\x7f",        "\x1b[A",   "\x1b[D", "ls -la ", "\x1b[I",
                                 "\x1b[12;40R", "\x1b[97u", "a",      "é"};
  std::string out;
  uint32_t seed = 1;
  while (out.size() < (1u << 20)) {
    seed = seed * 1103515245u + 12345u;
    out += kPieces[(seed >> 16) % (sizeof kPieces / sizeof *kPieces)];
  }
  return out;
}

// Busy transcript rows filling a 200x50 screen above `bottom`, every row
// padded to 200 columns with blanks, as agents that paint whole rows draw.
std::string busy_with(const std::vector<std::string>& bottom) {
  const std::string busy = busy_screen();
  std::vector<std::string> rows;
  size_t at = 0;
  while (rows.size() + bottom.size() < 50) {
    const size_t end = busy.find('\n', at);
    rows.push_back(busy.substr(at, end - at));
    at = end + 1;
  }
  std::string text;
  for (size_t k = 0; k < rows.size(); ++k) text += rows[k] + "\n";
  for (size_t k = 0; k < bottom.size(); ++k) text += (k ? "\n" : "") + pad(bottom[k], 200);
  return text;
}

struct Layout {
  const char* agent;
  const char* name;
  std::vector<std::string> bottom;
};

std::vector<Layout> layouts() {
  const std::string panel = "\x1b[0;97;48;5;236m", picked = "\x1b[0;30;48;5;214m",
                    reset = "\x1b[0m";
  auto dialog = [&](const std::string& left, const std::string& text,
                    const std::string& look = "") {
    return pad(left, 60) + (look.empty() ? panel : look) + pad(text, 60) + reset;
  };
  std::string dashes;
  for (int k = 0; k < 80; ++k) dashes += "─";
  return {
      {"codex",
       "numbered",
       {"• Running touch notes.txt", "", "  Would you like to run this?", "",
        "› 1. Yes, proceed (y)", "  2. No, and tell Codex what to do (esc)", "",
        "  Press enter to confirm or esc to cancel"}},
      {"codex",
       "command center",
       {"  Agent command center", "", "  All 3   Needs you 1", "", "› fix the flaky test",
        "  write the docs", "", "  ? help   esc back   ↑/↓ move   enter open   n new"}},
      {"codex",
       "open in another app",
       {"• This conversation is open in another app", "",
        "  Close it there and press R to continue here.", "", "  r retry   f fork",
        "  ←/esc command center   ⌃c/q exit   ⌃t transcript"}},
      {"grok",
       "trust hotkeys",
       {"Do you trust the contents of this directory?", "", "Yes, I trust this directory      y",
        "No, exit                         n"}},
      {"grok",
       "radio list",
       {"", "› Run this command?", "a (●) Yes", "b (○) No (esc)", "",
        "esc cancel · Ctrl+o:always-approve"}},
      {"grok",
       "argument picker",
       {"──────────────2─", "  ❯ grok-4        most capable", "    grok-3        fast", dashes,
        "╭──────────────╮", "│ ❯ /model gr   │", "╰──────────────╯"}},
      {"opencode",
       "numbered question",
       {"", "Which database?", "› 1. Postgres", "  2. SQLite", "", "enter submit  esc dismiss"}},
      {"opencode",
       "dialog",
       {dialog("", pad("Select model", 57) + "esc"), dialog("", ""),
        dialog("", "GPT-5               OpenAI"),
        pad("", 58) + picked + pad("● Stand-in model", 62) + reset,
        dialog("", "Grok 4              xAI"), dialog("", "ctrl+a connect")}},
      {"opencode",
       "dialog beside",
       {dialog("  ┃  Ask anything", pad("Select model", 57) + "esc"),
        dialog("  ┃", "GPT-5               OpenAI"),
        pad("  ╹▀▀▀▀", 58) + picked + pad("● Stand-in model", 62) + reset,
        dialog("", "Grok 4              xAI"), dialog("", "ctrl+a connect")}},
      {"opencode",
       "permission tabs",
       {"  ┃  △ Permission required", "  ┃  $ touch notes.txt",
        "  ┃   Allow once   Allow always   Reject   ⇆ select"}},
      {"antigravity",
       "numbered",
       {dashes, "Pick a model", "> 1. Gemini", "  2. Claude", "", "↑/↓ Navigate · esc Cancel"}},
      {"antigravity",
       "plain list",
       {dashes, "Do you trust the files in this folder?", "> Yes, I trust this folder",
        "  No, exit", "", "↑/↓ Navigate · enter Confirm"}},
  };
}

// read_menu as a keys request reads it (the plain lines, then the styled
// ones) on busy screens that show each layout of the agents' own readers.
void layout_figures() {
  size_t hits = 0;
  std::printf(
      "busy 200x50 screens showing each layout, read_menu us per call (best of 7 x 100):\n");
  for (const Layout& l : layouts()) {
    const std::string styled = busy_with(l.bottom);
    const std::string plain = strip_escapes(styled);
    std::optional<LayoutMenu> found = read_agent_layouts(l.agent, plain);
    if (!found) found = read_agent_layouts(l.agent, styled);
    const double us = best_of(7, 100, [&] {
      std::optional<Menu> menu = read_menu(l.agent, plain);
      if (!menu) menu = read_menu(l.agent, styled);
      hits += menu.has_value();
    });
    std::printf("  %-12s %-20s %7.1f us   %s\n", l.agent, l.name, us,
                found && found->layout == l.name ? "" : "(layout not found!)");
  }
  if (hits == 0) std::printf("!");
}

const char* const kAgents[] = {"claude", "codex",       "copilot", "grok", "opencode",
                               "kilo",   "antigravity", "cursor",  nullptr};

// read_menu as a keys request reads it (the plain lines, then the styled
// ones), and awaiting_approval as the key filter asks it, for every agent.
void menu_and_approval_figures(const std::string& styled, const std::string& plain) {
  size_t hits = 0;
  std::printf("busy screen, menus and approvals by agent, us per call (best of 7 x 100):\n");
  for (const char* name : kAgents) {
    const std::optional<std::string_view> agent =
        name ? std::optional<std::string_view>(name) : std::nullopt;
    const double menu_us = best_of(7, 100, [&] {
      std::optional<Menu> menu = read_menu(agent, plain);
      if (!menu) menu = read_menu(agent, styled);
      hits += menu.has_value();
    });
    const double approval_us = best_of(7, 100, [&] { hits += awaiting_approval(agent, plain); });
    std::printf("  %-12s read_menu %7.1f us   awaiting_approval %7.1f us\n", name ? name : "(none)",
                menu_us, approval_us);
  }
  if (hits == 0) std::printf("!");
}

void key_filter_figures(const std::string& screen_plain) {
  const std::string input = typed_input();
  std::vector<std::string_view> chunks;
  uint32_t seed = 7;
  for (size_t at = 0; at < input.size();) {
    seed = seed * 1103515245u + 12345u;
    const size_t n = std::min<size_t>(1 + (seed >> 16) % 64, input.size() - at);
    chunks.push_back(std::string_view(input).substr(at, n));
    at += n;
  }
  // The screen does not change: its tests are answered once.
  const KeyScreen screen{[] { return uint64_t{1}; }, [] { return false; }, [] { return false; }};
  size_t out = 0;
  double secs =
      best_of(5, 1,
              [&] {
                KeyFilterState state;
                for (std::string_view chunk : chunks) {
                  out +=
                      filter_input_keys(state, chunk, screen, KeyClock::time_point{}).bytes.size();
                }
              }) /
      1e6;
  std::printf("key filter: 1 MiB in %zu chunks of 1-64 bytes: %.1f ms, %.0f MB/s\n", chunks.size(),
              secs * 1e3, input.size() / secs / 1e6);

  const char* const kKeys[] = {"a",
                               "é",
                               "\x1b[A",
                               "ls\r",
                               "\x7f",
                               "日本",
                               "\x1b[I",
                               "\x1b[97;1:3u",
                               "\x1b[65;30;97;1;0;1_",
                               "\x1b",
                               "[B"};
  for (const char* key : kKeys) {
    KeyFilterState state;
    const std::string_view chunk = key;
    const double us = best_of(7, 20000, [&] {
      out += filter_input_keys(state, chunk, screen, KeyClock::time_point{}).bytes.size();
    });
    std::string shown;
    for (char c : chunk)
      shown += c == '\x1b'   ? std::string("ESC")
               : c == '\r'   ? std::string("CR")
               : c == '\x7f' ? std::string("DEL")
                             : std::string(1, c);
    std::printf("  one chunk %-22s %zu bytes: %.2f us\n", shown.c_str(), chunk.size(), us);
  }

  // A screen that changed before every chunk: each one asks the screen.
  uint64_t generation = 0;
  const KeyScreen changing{[&] { return ++generation; },
                           [&] { return awaiting_approval("claude", screen_plain); },
                           [] { return false; }};
  KeyFilterState state;
  const double us = best_of(5, 200, [&] {
    out += filter_input_keys(state, "a", changing, KeyClock::time_point{}).bytes.size();
  });
  std::printf("  one chunk \"a\" on a 200x50 screen changed since the last key: %.1f us\n", us);
  if (out == 0) std::printf("!");
}

}  // namespace

int main() {
  const std::string styled = styled_screen();
  std::printf("screen: 200x50, %zu bytes with escapes\n", styled.size());

  // The first use compiles every pattern.
  auto t0 = Clock::now();
  size_t hits = read_screen(styled);
  double first_us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  std::printf("first reading (compiles the patterns): %.0f us, %zu hits\n", first_us, hits);

  double one = best_of(7, 200, [&] { hits += read_screen(styled); });
  std::printf("one reading, 12 patterns over the screen: %.1f us (best of 7 x 200)\n", one);

  const std::vector<std::string> rows = screen_text_rows(styled);
  std::string plain;
  for (size_t k = 0; k < rows.size(); ++k) plain += (k ? "\n" : "") + rows[k];
  std::printf("  strip_escapes + rows: %.1f us\n",
              best_of(7, 500, [&] { hits += screen_text_rows(styled).size(); }));
  std::printf("  whole-screen busy test: %.1f us\n",
              best_of(7, 500, [&] { hits += busy.is_match(plain); }));
  std::printf("  whole-screen approval test: %.1f us\n",
              best_of(7, 500, [&] { hits += asking.is_match(plain); }));
  std::printf("  \\b-heavy esc-to-close test: %.1f us\n",
              best_of(7, 500, [&] { hits += close_hint.is_match(plain); }));
  for (const RowPattern& p : kRowPatterns) {
    double us = best_of(5, 200, [&] {
      for (const std::string& row : rows) hits += p.pattern->find(row).has_value();
    });
    std::printf("  %s pattern over the 50 rows: %.1f us\n", p.name, us);
  }
  std::printf("  box bars replaced in the 50 rows: %.1f us\n", best_of(5, 200, [&] {
                for (const std::string& row : rows) hits += box_bars.replace_all(row, "").size();
              }));

  for (unsigned threads : {4u, 8u}) {
    constexpr int kReads = 2000;
    auto start = Clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
      pool.emplace_back([&] {
        size_t local = 0;
        for (int k = 0; k < kReads; ++k) local += read_screen(styled);
        if (local == 0) std::printf("!");
      });
    }
    for (std::thread& th : pool) th.join();
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "%u threads, %d readings each: %.0f readings/s in all (%.1f us per reading per thread)\n",
        threads, kReads, threads * kReads / secs, secs * 1e6 / kReads);
  }

  {
    const std::string busy_styled = busy_screen();
    const std::string busy_plain = strip_escapes(busy_styled);
    std::printf(
        "busy screen: 200x50, %zu bytes with escapes; each reader, us per call (best of 7 x "
        "100):\n",
        busy_styled.size());
    double total = 0;
    for (const Reader& r : readers()) {
      hits += r.run(busy_styled, busy_plain);  // the first call compiles its patterns
      double us = best_of(7, 100, [&] { hits += r.run(busy_styled, busy_plain); });
      total += us;
      std::printf("  %-46s %7.1f us\n", r.name.c_str(), us);
    }
    std::printf("  %-46s %7.1f us\n", "the whole set", total);
    menu_and_approval_figures(busy_styled, busy_plain);
    layout_figures();
    key_filter_figures(busy_plain);
  }

  const auto lines = command_lines();
  size_t agents = 0;
  double recog = best_of(7, 1, [&] {
    for (const auto& argv : lines) {
      agents += agent_of_command_line(argv).has_value();
      agents += is_interactive_session(argv);
    }
  });
  std::printf("recognition of 1000 command lines (agent + session): %.0f us (%.2f us a line)\n",
              recog, recog / 1000);
  double sessions = best_of(7, 1, [&] {
    for (const auto& argv : lines) {
      std::vector<std::string> args(argv.begin() + 1, argv.end());
      agents += run_session(argv[0], std::move(args), "aaaaaaaa-bbbb-4ccc-9ddd-eeeeeeeeeeee")
                    .session_id.has_value();
    }
  });
  std::printf("run sessions of 1000 command lines: %.0f us\n", sessions);
  return hits + agents == 0;
}

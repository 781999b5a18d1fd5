// Runs the screen readers on a screen captured from a real agent.
//
//   screen_probe --agent NAME [--cols N --rows N] [--typed TEXT] FILE
//
// Feeds FILE's bytes (what the agent wrote to its terminal) through a fresh
// emulator of that size (by default the size in a name such as
// "idle-120x40.raw", else 80x24), runs every reader that exists for the
// agent, and prints one JSON object: the count of plain lines, the cursor,
// and each reader's result under the name of its function; a reader that
// finds nothing gives null.
//
// Each reader gets the screen in the form the wrapper gives it: the plain
// lines for the menu, pane and approval readers, the styled lines for the
// rows that carry colours (numbered blocks), the marked lines (inverse and
// faint only) for the command line and the input boxes. read_menu reads the
// plain lines, then, when they show no menu, the styled ones, as a keys
// request does, and menu_layout names the branch that found the menu (one
// of the agent's layouts, or "generic"); read_terminal is the generic
// reader alone.
//
// A developer tool that the screen reader tests also use; never installed.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "base/json.h"
#include "screen/screen.h"
#include "terminal/terminal.h"
#include "terminal_capture.h"

namespace {

using namespace mossbank::screen;
using mossbank::JsonValue;

struct Options {
  std::optional<std::string> agent;
  uint32_t cols = 0;
  uint32_t rows = 0;
  std::optional<std::string> typed;
  std::string file;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: screen_probe --agent NAME [--cols N --rows N] [--typed TEXT] FILE\n");
  std::exit(2);
}

uint32_t side(const char* text) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || v < 2 || v > mossbank::kMaxTerminalSide) usage();
  return static_cast<uint32_t>(v);
}

Options parse(int argc, char** argv) {
  Options opt;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    auto value = [&]() -> const char* {
      if (k + 1 >= argc) usage();
      return argv[++k];
    };
    if (arg == "--agent") {
      opt.agent = value();
    } else if (arg == "--cols") {
      opt.cols = side(value());
    } else if (arg == "--rows") {
      opt.rows = side(value());
    } else if (arg == "--typed") {
      opt.typed = value();
    } else if (!arg.empty() && arg[0] == '-') {
      usage();
    } else if (opt.file.empty()) {
      opt.file = arg;
    } else {
      usage();
    }
  }
  if (opt.file.empty()) usage();
  if (opt.cols == 0 || opt.rows == 0) {
    std::smatch m;
    static const std::regex sized("-([0-9]+)x([0-9]+)\\.[^/]*$");
    if (std::regex_search(opt.file, m, sized)) {
      if (opt.cols == 0) opt.cols = side(m[1].str().c_str());
      if (opt.rows == 0) opt.rows = side(m[2].str().c_str());
    }
  }
  if (opt.cols == 0) opt.cols = 80;
  if (opt.rows == 0) opt.rows = 24;
  return opt;
}

JsonValue optional_text(const std::optional<std::string>& text) {
  return text ? JsonValue(*text) : JsonValue(nullptr);
}

template <typename T>
JsonValue optional_number(const std::optional<T>& n) {
  return n ? JsonValue(*n) : JsonValue(nullptr);
}

JsonValue menu_json(const Menu& menu) {
  JsonValue options = JsonValue::array();
  for (const MenuOption& o : menu.options) {
    JsonValue option = JsonValue::object();
    option["label"] = o.label;
    option["detail"] = optional_text(o.detail);
    option["key"] = optional_text(o.key);
    option["kind"] = o.kind ? JsonValue(std::string(*o.kind)) : JsonValue(nullptr);
    options.push_back(std::move(option));
  }
  JsonValue out = JsonValue::object();
  out["title"] = menu.title;
  out["options"] = std::move(options);
  out["text"] = menu.text;
  out["question"] = optional_text(menu.question);
  out["navigation"] = std::string(menu.navigation);
  out["selected"] = optional_number(menu.selected);
  out["cancel"] = menu.cancel;
  out["rows"] = menu.rows;
  out["selected_row"] = optional_number(menu.selected_row);
  out["highlight_selection"] = menu.highlight_selection;
  out["always_approve_hotkey"] = menu.always_approve_hotkey;
  return out;
}

JsonValue box_json(const std::optional<InputBox>& box) {
  if (!box) return nullptr;
  JsonValue out = JsonValue::object();
  out["prompt_row"] = box->prompt_row;
  out["last_row"] = box->last_row;
  out["text"] = box->text;
  return out;
}

// Any numbered list with a cursor marker, its question above and its
// footer below, as the per-agent readers take one apart.
JsonValue numbered_block_json(std::string_view styled) {
  const std::vector<TrimmedRow> rows = trim_side_bars(styled);
  std::optional<NumberedBlock> block = read_numbered_block(rows, U"❯›>▶");
  if (!block) return nullptr;
  std::optional<SelectedOption> selected = selected_option_index(*block, rows);
  FrameRules rules;
  rules.max_blank_run = 1;
  auto [title, top] = frame_rows(rows, block->first_row, rules);
  PartialMenu partial =
      numbered_block_menu(*block, selected ? std::optional<size_t>(selected->index) : std::nullopt,
                          std::move(title), top, kNavigateArrows);
  partial.esc = has_esc_hint(join_row_texts(rows, block->last_row));
  JsonValue out = menu_json(finish_menu(std::move(partial), rows));
  out["selected_by"] =
      selected ? JsonValue(std::string(selection_by_name(selected->by))) : JsonValue(nullptr);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = parse(argc, argv);
  std::optional<mossbank::Terminal> read =
      mossbank::tools::read_capture("screen_probe", opt.file, opt.cols, opt.rows);
  if (!read) return 1;
  const mossbank::Terminal& t = *read;

  const std::string plain = mossbank::screen_lines(t);
  const std::string styled = mossbank::screen_lines_styled(t);
  const std::string marked = mossbank::screen_lines_marked(t);
  const mossbank::TerminalCursor tc = mossbank::terminal_cursor(t);
  const ScreenCursor cursor{tc.col, tc.row};
  const std::optional<AgentName> agent = opt.agent;
  const std::string name = opt.agent.value_or("");

  JsonValue out = JsonValue::object();
  out["agent"] = opt.agent ? JsonValue(*opt.agent) : JsonValue(nullptr);
  out["size"] = {{"cols", opt.cols}, {"rows", opt.rows}};
  out["lines"] = split_lines(plain).size();
  out["cursor"] = {{"col", cursor.column}, {"row", cursor.row}};

  std::optional<Menu> generic = read_terminal(plain);
  out["read_terminal"] = generic ? menu_json(*generic) : JsonValue(nullptr);
  out["read_numbered_block"] = numbered_block_json(styled);
  std::optional<Menu> menu = read_menu(agent, plain);
  if (!menu) menu = read_menu(agent, styled);
  out["read_menu"] = menu ? menu_json(*menu) : JsonValue(nullptr);
  // Which branch of read_menu found it: the agent's layout, or the generic
  // reader for agents without one.
  std::optional<LayoutMenu> layout = read_agent_layouts(name, plain);
  if (!layout) layout = read_agent_layouts(name, styled);
  out["menu_layout"] = layout ? JsonValue(std::string(layout->layout))
                       : menu ? JsonValue("generic")
                              : JsonValue(nullptr);
  out["is_agent_command_center"] = is_agent_command_center(agent, plain);
  out["is_approval_prompt"] = is_approval_prompt(agent, plain);
  out["awaiting_approval"] = awaiting_approval(agent, plain);

  out["read_input_pane"] = optional_text(read_input_pane(plain, false));
  if (opt.typed) out["input_shows_text"] = input_shows_text(plain, *opt.typed, false);
  out["pane_is_busy"] = pane_is_busy(plain);

  const AgentProfile* profile = agent_profile(name);
  const InputBoxKind box = profile != nullptr ? profile->input_box : InputBoxKind::kNone;
  if (box == InputBoxKind::kClaudePrompt) {
    const bool shell = is_shell_mode_prompt(plain);
    out["read_command"] = read_command(marked, {.shell_mode = shell, .cursor = cursor});
    out["is_shell_mode_prompt"] = shell;
    out["is_prompt_search"] = is_prompt_search(plain);
    out["cursor_at_prompt_start"] = cursor_at_prompt_start(plain, cursor.column, cursor.row);
    out["has_claude_prompt_box"] = has_claude_prompt_box(marked, false);
  }
  if (box_patterns_for(name)) out["read_bare_box"] = box_json(read_bare_box(name, marked));
  if (box == InputBoxKind::kSide)
    out["read_side_box"] = optional_text(read_side_box(agent, marked));
  if (box == InputBoxKind::kRuled) {
    out["read_ruled_box"] = box_json(read_ruled_box(agent, marked));
    out["ruled_box_input_empty"] = ruled_box_input_empty(agent, marked);
  }
  out["has_input_box"] = has_input_box(agent, marked, false, is_approval_prompt);
  out["input_box_is_empty"] = input_box_is_empty(agent, marked);

  std::string text = out.dump(2, ' ', false, JsonValue::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  return 0;
}

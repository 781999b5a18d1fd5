// OpenCode's screens (Kilo draws the same): numbered questions over an
// "enter submit" hint, "Select …  esc" dialogs whose selected row is
// highlighted, permission rows answered with Tab, and dialogs drawn beside
// other content, tried in that order.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "screen/agent_readers.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constinit const ScreenPattern submit_hint_pattern{
    "(?i-u:enter){js_space}+(?i-u:submit|confirm)"};

constinit const ScreenPattern dialog_title_pattern{"^(Select {js_nonspace}.*?){js_space}{2,}esc$"};
constinit const ScreenPattern dialog_beside_pattern{
    "{js_space}{2,}(Select {js_nonspace}.*?{js_space}{2,}esc)$"};
constinit const ScreenPattern dialog_footer_pattern{"\\bctrl\\+[a-z]\\b"};

constinit const ScreenPattern word_run_pattern{"{js_nonspace}+(?: {js_nonspace}+)*"};
constinit const ScreenPattern key_hint_pattern{
    "^(?:[⇆↑↓←→]|(?i-u:enter|esc|tab|ctrl)(?-u:\\b))"};
constinit const ScreenPattern answer_word_pattern{
    "(?i-u)^(allow|deny|reject|always|once|yes|no|approve|accept|cancel)\\b"};

// CSI and OSC sequences; of these only SGR ones are kept when rows are cut.
constinit const ScreenPattern escape_pattern{
    "\\x1b(?:\\[[0-9;:?]*[ -/]*[@-~]|\\][^\\x07\\x1b]*(?:\\x07|\\x1b\\\\))"};
constinit const ScreenPattern sgr_only_pattern{"^\\x1b\\[[0-9;:]*m$"};

// Screen columns a dialog's text may start left of its title's.
constexpr size_t kDialogIndent = 3;

// Rows in these foregrounds (links, hints, dim text) are not options unless
// highlighted.
bool muted_colour(const std::optional<std::string>& fg) {
  return fg && (*fg == "94" || *fg == "34" || *fg == "90");
}

std::optional<Menu> read_numbered_question(std::span<const TrimmedRow> rows) {
  std::optional<NumberedBlock> block = read_numbered_block(rows, U"›❯");
  if (!block) return std::nullopt;
  const std::string footer = join_row_texts(rows, block->last_row);
  if (!submit_hint_pattern.is_match(footer)) return std::nullopt;
  std::optional<SelectedOption> selected = selected_option_index(*block, rows);
  if (!selected) return std::nullopt;

  FrameRules rules;
  rules.max_blank_run = 1;
  auto [title, title_row] = frame_rows(rows, block->first_row, rules);
  PartialMenu partial =
      numbered_block_menu(*block, selected->index, std::move(title), title_row, kNavigateArrows);
  partial.esc = has_esc_hint(footer);
  partial.highlight_selection = selected->by != SelectionBy::marker;
  return finish_menu(std::move(partial), rows);
}

struct WordRun {
  std::string text;
  size_t start = 0;  // characters
  size_t end = 0;
};

bool only_bars(std::string_view text) {
  return all_chars(text, [](char32_t c) { return c == U'│' || c == U'┃' || c == U'║'; });
}

std::vector<WordRun> word_runs(std::string_view text) {
  std::vector<WordRun> runs;
  for (const Match& m : word_run_pattern.find_all(text)) {
    if (only_bars(m.str())) continue;
    runs.push_back({std::string(m.str()), char_offset_of_byte(text, m.start()),
                    char_offset_of_byte(text, m.end())});
  }
  return runs;
}

// Two answers ("Allow once", "Reject") before any key hint ("esc", "⇆").
bool is_answer_row(const std::vector<WordRun>& runs) {
  size_t answers = 0;
  for (const WordRun& run : runs) {
    if (key_hint_pattern.is_match(run.text)) return false;
    if (answer_word_pattern.is_match(run.text) && ++answers == 2) return true;
  }
  return false;
}

// Whether every styled run under the word run is marked (none under it
// counts as marked).
bool highlighted(const StyledRow& row, const WordRun& run) {
  for (const StyledRun& styled : row.runs) {
    if (styled.end > run.start && styled.start < run.end && !styled.marked) return false;
  }
  return true;
}

std::optional<Menu> read_permission_tabs(std::span<const TrimmedRow> rows) {
  std::optional<size_t> answer_row;
  std::vector<WordRun> runs;
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size()) && !answer_row;) {
    runs = word_runs(rows[r].row.text);
    if (is_answer_row(runs)) answer_row = r;
  }
  if (!answer_row) return std::nullopt;
  FrameRules rules;
  rules.max_blank_run = 1;
  auto [title, title_row] = frame_rows(rows, *answer_row, rules);
  if (ascii_lower(title).find("permission") == std::string::npos) return std::nullopt;

  // Every word run of the row is an option, key hints after the answers too
  // (options_from_matches); Tab moves through them from the first.
  PartialMenu partial;
  std::optional<size_t> selected;
  bool several = false;
  for (size_t k = 0; k < runs.size(); ++k) {
    partial.options.push_back(new_menu_option(runs[k].text));
    if (!highlighted(rows[*answer_row].row, runs[k])) continue;
    several = several || selected.has_value();
    selected = k;
  }
  partial.title = std::move(title);
  partial.title_row = title_row;
  partial.navigation = kNavigateTab;
  partial.selected = selected && !several ? *selected : 0;
  partial.first_option_row = *answer_row;
  partial.last_row = *answer_row;
  partial.selected_row = *answer_row;
  partial.highlight_selection = true;
  return finish_menu(std::move(partial), rows);
}

std::optional<Menu> read_dialog_beside(std::string_view screen, std::span<const TrimmedRow> rows) {
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size());) {
    std::optional<Match> m = dialog_beside_pattern.find(rows[r].trimmed);
    if (!m) continue;
    const size_t title_column = rows[r].offset + char_offset_of_byte(rows[r].trimmed, m->span(1)->start);
    const std::string cut_screen =
        opencode_rows(screen, title_column >= 4 ? title_column - 4 : 0, std::nullopt);
    return read_opencode_menu(cut_screen, trim_side_bars(cut_screen));
  }
  return std::nullopt;
}

// The candidate's lead background, none when it has none.
const std::optional<std::string>& background(const TrimmedRow& row) { return row.row.lead_bg; }

// Of the candidate rows (screen rows, top to bottom), those on the title's
// background and their neighbours: a highlighted row between the dialog's
// rows has a background of its own. A candidate without the title's
// background is kept when the screen row directly above or below it is the
// title row or on that background; an empty row there counts as on it only
// for a marked candidate (the dialog's padding around a highlight), so that
// an unmarked row outside the dialog ends the list.
std::vector<size_t> on_dialog_background(std::span<const TrimmedRow> rows, size_t title_row,
                                         const std::vector<size_t>& candidates) {
  const std::optional<std::string>& title_bg = background(rows[title_row]);
  auto on_background = [&](size_t r, bool marked) {
    if (r == title_row || background(rows[r]) == title_bg) return true;
    return marked && rows[r].trimmed.empty();
  };
  std::vector<size_t> kept;
  for (size_t r : candidates) {
    if (background(rows[r]) != title_bg) {
      const bool marked = rows[r].row.lead_marked;
      const bool above = r > 0 && on_background(r - 1, marked);
      const bool below = r + 1 < rows.size() && on_background(r + 1, marked);
      if (!above && !below) break;
    }
    kept.push_back(r);
  }
  return kept;
}

std::optional<size_t> only_candidate(const std::vector<size_t>& candidates, auto test) {
  std::optional<size_t> found;
  for (size_t r : candidates) {
    if (!test(r)) continue;
    if (found) return std::nullopt;
    found = r;
  }
  return found;
}

std::vector<MenuOption> opencode_options_from_rows(std::span<const TrimmedRow> rows,
                                                   const std::vector<size_t>& option_rows) {
  std::vector<MenuOption> options;
  for (size_t r : option_rows) {
    auto [label, hint] = split_label_hint(rows[r].trimmed);
    MenuOption option = new_menu_option(label);
    if (!hint.empty()) option.detail = std::move(hint);
    options.push_back(std::move(option));
  }
  return options;
}

}  // namespace

std::string opencode_rows(std::string_view screen, size_t from, std::optional<size_t> to) {
  std::string out;
  const std::vector<std::string> lines = split_lines(screen);
  for (size_t n = 0; n < lines.size(); ++n) {
    if (n) out += '\n';
    const std::string_view line = lines[n];
    size_t column = 0, at = 0;
    auto visible = [&](std::string_view text) {
      size_t pos = 0;
      while (pos < text.size()) {
        const size_t start = pos;
        next_char(text, pos);
        if (column >= from && (!to || column < *to)) out.append(text.substr(start, pos - start));
        ++column;
      }
    };
    while (at < line.size()) {
      std::optional<Match> m = escape_pattern.find(line, at);
      if (!m) break;
      visible(line.substr(at, m->start() - at));
      if (sgr_only_pattern.is_match(m->str())) out += m->str();
      at = m->end();
    }
    visible(line.substr(at));
  }
  return out;
}

std::optional<Menu> read_opencode_menu(std::string_view screen, std::span<const TrimmedRow> rows) {
  std::optional<size_t> title_row;
  std::optional<Match> title_match;
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size()) && !title_row;) {
    title_match = dialog_title_pattern.find(rows[r].trimmed);
    if (title_match) title_row = r;
  }
  if (!title_row) return std::nullopt;
  const size_t t = *title_row;
  std::string title(*title_match->group(1));

  // A dialog in the middle of the screen is read from its own columns, so
  // that what is drawn beside it stays out.
  std::vector<TrimmedRow> cut;
  if (rows[t].offset >= 4) {
    const size_t end = rows[t].offset + char_count(rows[t].trimmed);
    cut = trim_side_bars(opencode_rows(screen, rows[t].offset - kDialogIndent, end + kDialogIndent));
    if (cut.size() <= t) return std::nullopt;
    rows = cut;
  }

  const TrimmedRow& head = rows[t];
  std::vector<size_t> candidates;
  for (size_t r = t + 1; r < rows.size(); ++r) {
    const TrimmedRow& row = rows[r];
    if (starts_with(row.trimmed, "╹") || starts_with(row.trimmed, "┌") ||
        starts_with(row.trimmed, "╭")) {
      break;
    }
    if (js_trim(row.trimmed).size() != row.trimmed.size()) break;
    if (dialog_footer_pattern.is_match(row.trimmed)) break;
    if (row.trimmed.empty()) continue;
    if (row.offset > head.offset || row.offset + kDialogIndent < head.offset) continue;
    if (row.row.lead_marked || (row.offset == head.offset && !muted_colour(row.row.lead_fg))) {
      candidates.push_back(r);
    }
  }
  const std::optional<std::string>& title_bg = background(head);
  if (title_bg) candidates = on_dialog_background(rows, t, candidates);

  std::optional<size_t> selected;
  if (title_bg) {
    selected = only_candidate(candidates, [&](size_t r) { return background(rows[r]) != title_bg; });
  } else {
    selected = only_candidate(candidates, [&](size_t r) { return rows[r].row.lead_marked; });
    if (!selected) {
      std::map<std::optional<std::string>, size_t> counts;
      for (size_t r : candidates) ++counts[background(rows[r])];
      std::optional<std::optional<std::string>> common;
      size_t best = 0;
      bool tie = false;
      for (const auto& [bg, count] : counts) {
        if (count > best) {
          best = count;
          common = bg;
          tie = false;
        } else if (count == best) {
          tie = true;
        }
      }
      if (common && !tie) {
        selected = only_candidate(candidates, [&](size_t r) { return background(rows[r]) != *common; });
      }
    }
  }
  if (!selected) return std::nullopt;

  const size_t marked = static_cast<size_t>(std::count_if(
      candidates.begin(), candidates.end(), [&](size_t r) { return rows[r].row.lead_marked; }));
  std::vector<size_t> option_rows;
  for (size_t r : candidates) {
    if (marked == 1 || r == *selected || starts_with(rows[r].trimmed, "●") ||
        rows[r].row.lead_fg == head.row.lead_fg) {
      option_rows.push_back(r);
    }
  }
  const auto at = std::find(option_rows.begin(), option_rows.end(), *selected);
  if (option_rows.size() < 2 || at == option_rows.end()) return std::nullopt;

  PartialMenu partial;
  partial.title = std::move(title);
  partial.title_row = t;
  partial.options = opencode_options_from_rows(rows, option_rows);
  partial.navigation = kNavigateArrows;
  partial.selected = static_cast<size_t>(at - option_rows.begin());
  partial.first_option_row = option_rows.front();
  partial.last_row = option_rows.back();
  partial.selected_row = *selected;
  partial.esc = true;
  partial.highlight_selection = true;
  return finish_menu(std::move(partial), rows);
}

std::optional<Menu> read_opencode_screen(std::string_view screen) {
  const std::vector<TrimmedRow> rows = trim_side_bars(screen);
  if (std::optional<Menu> menu = read_numbered_question(rows)) return menu;
  if (std::optional<Menu> menu = read_opencode_menu(screen, rows)) return menu;
  if (std::optional<Menu> menu = read_permission_tabs(rows)) return menu;
  return read_dialog_beside(screen, rows);
}

}  // namespace mossbank::screen

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

// Screen columns a dialog's text may start left of its title's.
constexpr size_t kDialogIndent = 3;

// Rows in these foregrounds (links, hints, dim text) are not options unless
// highlighted.
bool muted_colour(const std::optional<std::string>& fg) {
  return fg && (*fg == "94" || *fg == "34" || *fg == "90");
}

// The length of the escape sequence at the start of `text` that opencode_rows
// removes, written out by hand (it runs over every escape of the screen):
//   \x1b(?:\[[0-9;:?]*[ -/]*[@-~]|\][^\x07\x1b]*(?:\x07|\x1b\\))
// and whether it is an SGR sequence (^\x1b\[[0-9;:]*m$), which is kept.
struct Escape {
  size_t length = 0;  // 0: no sequence here
  bool sgr = false;
};

Escape escape_at(std::string_view text) {
  if (text.size() < 2 || text[0] != '\x1b') return {};
  if (text[1] == '[') {
    size_t k = 2;
    bool question = false;
    while (k < text.size() && ((text[k] >= '0' && text[k] <= '9') || text[k] == ';' ||
                               text[k] == ':' || text[k] == '?')) {
      question = question || text[k] == '?';
      ++k;
    }
    const size_t params_end = k;
    while (k < text.size() && text[k] >= ' ' && text[k] <= '/') ++k;
    if (k == text.size() || text[k] < '@' || text[k] > '~') return {};
    return {k + 1, !question && k == params_end && text[k] == 'm'};
  }
  if (text[1] == ']') {
    for (size_t k = 2; k < text.size(); ++k) {
      if (text[k] == '\x07') return {k + 1, false};
      if (text[k] == '\x1b') {
        if (k + 1 < text.size() && text[k + 1] == '\\') return {k + 2, false};
        return {};
      }
    }
  }
  return {};
}

// opencode_rows with the rows above `first_row` left empty: the readers
// that know their title row need nothing above it.
std::string cut_rows(std::string_view screen, size_t from, std::optional<size_t> to,
                     size_t first_row) {
  std::string out;
  std::string without_cr;
  size_t row = 0;
  for (size_t at = 0; at <= screen.size(); ++row) {
    const size_t end = std::min(screen.find('\n', at), screen.size());
    std::string_view line = screen.substr(at, end - at);
    at = end + 1;
    if (row) out += '\n';
    if (row < first_row) continue;
    if (line.find('\r') != std::string_view::npos) {  // rows are made without "\r"
      without_cr.assign(line);
      std::erase(without_cr, '\r');
      line = without_cr;
    }
    size_t column = 0, pos = 0;
    while (pos < line.size()) {
      if (line[pos] == '\x1b') {
        const Escape escape = escape_at(line.substr(pos));
        if (escape.length) {
          if (escape.sgr) out.append(line.substr(pos, escape.length));
          pos += escape.length;
          continue;
        }
      }
      const size_t start = pos;
      next_char(line, pos);
      if (column >= from && (!to || column < *to)) out.append(line.substr(start, pos - start));
      ++column;
    }
  }
  return out;
}

// The hint under a numbered question.
constinit const ScreenPattern submit_hint_pattern{"(?i-u:enter){js_space}+(?i-u:submit|confirm)"};

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

// A cell of a row whose cells are two or more blanks apart:
// {js_nonspace}+(?: {js_nonspace}+)*
struct WordRun {
  std::string_view text;
  size_t start = 0;  // characters
  size_t end = 0;
};

bool only_bars(std::string_view text) {
  return all_chars(text, [](char32_t c) { return c == U'│' || c == U'┃' || c == U'║'; });
}

// Calls `each` with the row's word runs, left to right, runs of only box
// bars left out, until it returns false. Written out by hand: it runs over
// every row of the window.
template <typename Each>
void for_each_word_run(std::string_view text, Each each) {
  size_t pos = 0, column = 0;
  std::optional<WordRun> run;
  size_t run_byte = 0, end_byte = 0;
  auto close = [&] {
    if (!run) return true;
    run->text = text.substr(run_byte, end_byte - run_byte);
    const bool more = only_bars(run->text) || each(*run);
    run.reset();
    return more;
  };
  while (pos < text.size()) {
    const size_t at = pos;
    const char32_t c = next_char(text, pos);
    const bool blank = c < 0x80 ? c == U' ' || (c >= U'\t' && c <= U'\r') : is_js_space(c);
    if (!blank) {
      if (!run) {
        run = WordRun{{}, column, column};
        run_byte = at;
      }
      run->end = column + 1;
      end_byte = pos;
    } else if (run && (c != U' ' || run->end != column)) {
      if (!close()) return;  // a second blank, or another white space, ends the run
    }
    ++column;
  }
  close();
}

std::vector<WordRun> word_runs(std::string_view text) {
  std::vector<WordRun> runs;
  for_each_word_run(text, [&](const WordRun& run) {
    runs.push_back(run);
    return true;
  });
  return runs;
}

bool word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether the text starts with one of the words (ASCII, any case) followed
// by a word boundary.
bool starts_with_word(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text.size() < word.size()) continue;
    bool same = true;
    for (size_t k = 0; k < word.size() && same; ++k) same = ascii_lower(text[k]) == word[k];
    if (same && (text.size() == word.size() || !word_char(text[word.size()]))) return true;
  }
  return false;
}

// (?i-u)^(allow|deny|reject|always|once|yes|no|approve|accept|cancel)\b
bool is_answer_word(std::string_view run) {
  return starts_with_word(run, {"allow", "deny", "reject", "always", "once", "yes", "no", "approve",
                                "accept", "cancel"});
}

// ^(?:[⇆↑↓←→]|(?i-u:enter|esc|tab|ctrl)(?-u:\b))
bool is_key_hint(std::string_view run) {
  for (std::string_view arrow : {"⇆", "↑", "↓", "←", "→"}) {
    if (starts_with(run, arrow)) return true;
  }
  return starts_with_word(run, {"enter", "esc", "tab", "ctrl"});
}

// Two answers ("Allow once", "Reject") before any key hint ("esc", "⇆").
bool is_answer_row(std::string_view text) {
  size_t answers = 0;
  bool answer_row = false;
  for_each_word_run(text, [&](const WordRun& run) {
    if (is_key_hint(run.text)) return false;
    answer_row = is_answer_word(run.text) && ++answers == 2;
    return !answer_row;
  });
  return answer_row;
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
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size()) && !answer_row;) {
    if (is_answer_row(rows[r].row.text)) answer_row = r;
  }
  if (!answer_row) return std::nullopt;
  const std::vector<WordRun> runs = word_runs(rows[*answer_row].row.text);
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

// Whether the text may match the title pattern, before the pattern is run
// on every row of the window.
bool may_be_dialog_title(std::string_view text, bool at_start) {
  const size_t at = text.find("Select ");
  return at != std::string_view::npos && (!at_start || at == 0) && text.size() >= 3 &&
         text.substr(text.size() - 3) == "esc";
}

// A dialog's title row: "Select …", two or more blanks, "esc".
constinit const ScreenPattern dialog_title_pattern{"^(Select {js_nonspace}.*?){js_space}{2,}esc$"};

// The lowest dialog title row in the window, and the title.
std::optional<std::pair<size_t, std::string>> find_dialog_title(std::span<const TrimmedRow> rows) {
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size());) {
    if (!may_be_dialog_title(rows[r].trimmed, true)) continue;
    if (std::optional<Match> m = dialog_title_pattern.find(rows[r].trimmed)) {
      return std::pair(r, std::string(*m->group(1)));
    }
  }
  return std::nullopt;
}

std::optional<Menu> read_dialog_at(std::string_view screen, std::span<const TrimmedRow> rows,
                                   size_t t, std::string title);

// The same title drawn to the right of other text.
constinit const ScreenPattern dialog_beside_pattern{
    "{js_space}{2,}(Select {js_nonspace}.*?{js_space}{2,}esc)$"};

std::optional<Menu> read_dialog_beside(std::string_view screen, std::span<const TrimmedRow> rows) {
  for (size_t r = rows.size(); r-- > menu_window_start(rows.size());) {
    if (!may_be_dialog_title(rows[r].trimmed, false)) continue;
    std::optional<Match> m = dialog_beside_pattern.find(rows[r].trimmed);
    if (!m) continue;
    const size_t title_column =
        rows[r].offset + char_offset_of_byte(rows[r].trimmed, m->span(1)->start);
    const size_t from = title_column >= 4 ? title_column - 4 : 0;
    // The dialog's title is normally this row again: the rows above it are
    // then not needed. Only when no title shows at or below it is the whole
    // cut read.
    std::string cut_screen = cut_rows(screen, from, std::nullopt, r);
    std::vector<TrimmedRow> cut = trim_side_bars(cut_screen);
    if (std::optional<std::pair<size_t, std::string>> title = find_dialog_title(cut)) {
      return read_dialog_at(cut_screen, cut, title->first, std::move(title->second));
    }
    cut_screen = cut_rows(screen, from, std::nullopt, 0);
    return read_opencode_menu(cut_screen, trim_side_bars(cut_screen));
  }
  return std::nullopt;
}

// The candidate's lead background, none when it has none.
const std::optional<std::string>& background(const TrimmedRow& row) { return row.row.lead_bg; }

// Whether a row is drawn on the background `bg`: a row of text by its lead
// background, a blank row by its cell at `column`; blanks without a
// background of their own count as on it when `plain_blanks` is set.
bool drawn_on(const TrimmedRow& row, size_t column, const std::optional<std::string>& bg,
              bool plain_blanks) {
  if (!row.trimmed.empty()) return row.row.lead_bg == bg;
  for (const StyledRun& run : row.row.runs) {
    if (run.start <= column && column < run.end) return run.bg ? run.bg == bg : plain_blanks;
  }
  return plain_blanks;
}

// Of the candidate rows (screen rows, top to bottom), those on the title's
// background and their neighbours: a highlighted row between the dialog's
// rows has a background of its own. A candidate without the title's
// background is kept when the screen row directly below it is drawn on that
// background, or the row directly above is the title row or a row of text
// on it. A blank padding row above does not keep it: what lies under the
// dialog's last padding row (the user's text in the input box behind the
// dialog) is outside. Blanks drawn without any background count as the
// dialog's only for a marked candidate (the padding around a highlight), so
// that an unmarked row outside the dialog ends the list too. The list ends
// at the first candidate that fails this.
std::vector<size_t> on_dialog_background(std::span<const TrimmedRow> rows, size_t title_row,
                                         const std::vector<size_t>& candidates) {
  const std::optional<std::string>& title_bg = background(rows[title_row]);
  const size_t column = rows[title_row].offset;
  std::vector<size_t> kept;
  for (size_t r : candidates) {
    if (background(rows[r]) != title_bg) {
      const TrimmedRow& up = rows[r - 1];
      const bool above = r - 1 == title_row || (!up.trimmed.empty() && up.row.lead_bg == title_bg);
      const bool below =
          r + 1 < rows.size() && drawn_on(rows[r + 1], column, title_bg, rows[r].row.lead_marked);
      if (!above && !below) break;
    }
    kept.push_back(r);
  }
  return kept;
}

// The only candidate row for which `test` holds.
std::optional<size_t> only_candidate(const std::vector<size_t>& candidates, auto test) {
  std::optional<size_t> k =
      only_index(candidates.size(), [&](size_t i) { return test(candidates[i]); });
  return k ? std::optional<size_t>(candidates[*k]) : std::nullopt;
}

std::vector<MenuOption> opencode_options_from_rows(std::span<const TrimmedRow> rows,
                                                   const std::vector<size_t>& option_rows) {
  std::vector<MenuOption> options;
  for (size_t r : option_rows) options.push_back(hinted_option(rows[r].trimmed));
  return options;
}

}  // namespace

std::string opencode_rows(std::string_view screen, size_t from, std::optional<size_t> to) {
  return cut_rows(screen, from, to, 0);
}

std::optional<Menu> read_opencode_menu(std::string_view screen, std::span<const TrimmedRow> rows) {
  std::optional<std::pair<size_t, std::string>> title = find_dialog_title(rows);
  if (!title) return std::nullopt;
  return read_dialog_at(screen, rows, title->first, std::move(title->second));
}

namespace {

// A key hint such as "ctrl+a" in a dialog's footer.
constinit const ScreenPattern dialog_footer_pattern{"\\bctrl\\+[a-z]\\b"};

// The dialog whose title row is `t`.
std::optional<Menu> read_dialog_at(std::string_view screen, std::span<const TrimmedRow> rows,
                                   size_t t, std::string title) {
  // A dialog in the middle of the screen is read from its own columns, so
  // that what is drawn beside it stays out.
  std::vector<TrimmedRow> cut;
  if (rows[t].offset >= 4) {
    const size_t end = rows[t].offset + char_count(rows[t].trimmed);
    cut = trim_side_bars(cut_rows(screen, rows[t].offset - kDialogIndent, end + kDialogIndent, t));
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
    // A row whose text JavaScript's trim would still shorten (white space
    // other than blanks and tabs at an end, such as a no-break space) is not
    // drawn by the dialog.
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
    selected =
        only_candidate(candidates, [&](size_t r) { return background(rows[r]) != title_bg; });
  } else {
    selected = only_candidate(candidates, [&](size_t r) { return rows[r].row.lead_marked; });
    if (!selected) {
      // Rows without a background count as one background of their own.
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
        selected =
            only_candidate(candidates, [&](size_t r) { return background(rows[r]) != *common; });
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

constexpr Layout kOpencodeLayouts[] = {
    {"numbered question", by_rows<read_numbered_question>},
    {"dialog", read_opencode_menu},
    {"permission tabs", by_rows<read_permission_tabs>},
    {"dialog beside", read_dialog_beside},
};

}  // namespace

constinit const MenuLayouts opencode_menus{nullptr, kOpencodeLayouts};

}  // namespace mossbank::screen

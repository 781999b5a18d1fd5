// Codex's screens: its numbered lists, the agent command center and the
// "open in another app" notice, tried in that order after the renumbering.
#include <string>
#include <vector>

#include "screen/agent_readers.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constexpr std::string_view kNoticeTitle = "This conversation is open in another app";
constexpr std::string_view kNoticeBody = "Close it there and press R to continue here.";

std::optional<NumberedOption> codex_option(std::string_view text) {
  return numbered_option(text, U"›");
}

// The screen column where a numbered option's label starts.
size_t label_column(const TrimmedRow& row, const NumberedOption& option) {
  return row.offset + char_count(row.trimmed) - char_count(option.label);
}

// A selected last option drawn without its number: "›" and three or more
// blanks before the label.
constinit const ScreenPattern unnumbered_cursor_pattern{"^›(\\s{3,})(\\S.*)$"};

// "›   Custom" under "1. …" and "2. …" is the selected third option: it gets
// its number, so that the list reads as one block.
void renumber(std::vector<TrimmedRow>& rows) {
  for (size_t i = 1; i < rows.size(); ++i) {
    std::optional<Match> m = unnumbered_cursor_pattern.find(rows[i].trimmed);
    if (!m) continue;
    const std::string_view label = *m->group(2);
    if (label[0] >= '0' && label[0] <= '9' && codex_option("› " + std::string(label))) continue;
    std::optional<NumberedOption> above = codex_option(rows[i - 1].trimmed);
    if (!above) continue;
    if (i + 1 < rows.size() && codex_option(rows[i + 1].trimmed)) continue;
    if (i + 2 < rows.size() && codex_option(rows[i + 2].trimmed)) continue;
    const size_t column = rows[i].offset + char_offset_of_byte(rows[i].trimmed, m->span(2)->start);
    if (column > label_column(rows[i - 1], *above) + 1) continue;
    // Only the text the readers parse changes; the menu's rows stay the
    // screen's.
    rows[i].trimmed = "› " + std::to_string(above->number + 1) + ". " + std::string(label);
  }
}

std::optional<size_t> last_nonempty_row(std::span<const TrimmedRow> rows, size_t from) {
  for (size_t r = rows.size(); r-- > from;) {
    if (!rows[r].trimmed.empty()) return r;
  }
  return std::nullopt;
}

std::string joined(std::span<const TrimmedRow> rows, size_t from, size_t to) {
  std::string out;
  for (size_t r = from; r < to; ++r) {
    if (r > from) out += ' ';
    out += rows[r].trimmed;
  }
  return out;
}

// The footer row and the two rows above it, joined with single spaces.
std::string join_rows_spaced(std::span<const TrimmedRow> rows, size_t footer) {
  return joined(rows, footer >= 2 ? footer - 2 : 0, footer + 1);
}

// The command center's heading, tab row and footer.
constinit const ScreenPattern center_heading_pattern{
    "^[Aa][Gg][Ee][Nn][Tt] [Cc][Oo][Mm][Mm][Aa][Nn][Dd] [Cc][Ee][Nn][Tt][Ee][Rr]"
    "(?:{js_space}+[Gg][Rr][Oo][Uu][Pp]:.*)?$"};
constinit const ScreenPattern center_tabs_pattern{"^All [0-9]+{js_space}+Needs you [0-9]+"};
constinit const ScreenPattern center_footer_pattern{
    "\\? help{js_space}+(?:esc back{js_space}+)?(?:↑/↓|/) move{js_space}+enter open{js_space}+"
    "n new$"};

std::optional<Menu> read_command_center(std::span<const TrimmedRow> rows) {
  std::optional<size_t> heading;
  for (size_t r = rows.size(); r-- > 0;) {
    if (center_heading_pattern.is_match(rows[r].trimmed)) {
      heading = r;
      break;
    }
  }
  if (!heading) return std::nullopt;
  std::optional<size_t> footer = last_nonempty_row(rows, menu_window_start(rows.size()));
  if (!footer || *heading >= *footer) return std::nullopt;
  const std::string footer_text = join_rows_spaced(rows, *footer);
  if (footer_text.find("? for shortcuts") != std::string::npos) return std::nullopt;
  const bool fixed_footer = center_footer_pattern.is_match(footer_text);
  bool tabs = false;
  for (size_t r = *heading + 1; r < rows.size() && !tabs; ++r) {
    tabs = center_tabs_pattern.is_match(rows[r].trimmed);
  }
  if (!tabs && !fixed_footer) return std::nullopt;

  // Esc goes back to the session only when the footer offers it. The key is
  // the Esc byte, as keys requests for the center send it; the menu's text
  // says "esc back" either way.
  const bool esc_back = fixed_footer && footer_text.find("esc back") != std::string::npos;
  PartialMenu partial;
  partial.title = std::string(kCommandCenterTitle);
  partial.title_row = heading;
  MenuOption back = new_menu_option("Back to session");
  if (esc_back) back.key = std::string(kCommandCenterBackKey);
  partial.options.push_back(std::move(back));
  partial.navigation = kNavigateKey;
  partial.selected = 0;
  partial.first_option_row = *heading;
  partial.last_row = *footer;
  partial.selected_row = *footer;
  partial.esc = esc_back;
  Menu menu = finish_menu(std::move(partial), rows);
  menu.text += esc_back ? "\nesc back" : "\nno return";
  return menu;
}

// Runs of blanks, collapsed to one.
constinit const ScreenPattern space_run_pattern{"{js_space}+"};

std::string collapsed(std::span<const TrimmedRow> rows, size_t from, size_t to) {
  return space_run_pattern.replace_all(joined(rows, from, to), " ");
}

// The open-elsewhere notice's retry row and its footer.
constinit const ScreenPattern retry_row_pattern{
    "^[Rr] [Rr][Ee][Tt][Rr][Yy]{js_space}+[Ff] [Ff][Oo][Rr][Kk](?-u:\\b)"};
constinit const ScreenPattern notice_footer_pattern{
    "^[Rr] [Rr][Ee][Tt][Rr][Yy] [Ff] [Ff][Oo][Rr][Kk] ←/[Ee][Ss][Cc] "
    "[Cc][Oo][Mm][Mm][Aa][Nn][Dd] [Cc][Ee][Nn][Tt][Ee][Rr] ⌃[Cc]/[Qq] [Ee][Xx][Ii][Tt]"
    "(?: ⌃[Tt] [Tt][Rr][Aa][Nn][Ss][Cc][Rr][Ii][Pp][Tt])?$"};

std::optional<Menu> read_open_elsewhere(std::span<const TrimmedRow> rows) {
  const size_t window = menu_window_start(rows.size());
  std::optional<size_t> message, retry;
  for (size_t r = rows.size(); r-- > window && !message;) {
    const std::string& text = rows[r].trimmed;
    const size_t at = text.find(kNoticeTitle);
    if (at == std::string::npos) continue;
    const bool at_end =
        text.size() >= kNoticeTitle.size() &&
        text.compare(text.size() - kNoticeTitle.size(), kNoticeTitle.size(), kNoticeTitle) == 0;
    if (at_end || text.find(std::string(kNoticeTitle) + " ") != std::string::npos) message = r;
  }
  for (size_t r = rows.size(); r-- > window && !retry;) {
    if (retry_row_pattern.is_match(rows[r].trimmed)) retry = r;
  }
  if (!message || !retry) return std::nullopt;
  std::optional<size_t> last = last_nonempty_row(rows, 0);
  if (!last || *last < *retry || *last - *retry > 2) return std::nullopt;
  if (!notice_footer_pattern.is_match(collapsed(rows, *retry, *last + 1))) return std::nullopt;
  if (*retry <= *message || *retry - *message > 6) return std::nullopt;
  if (collapsed(rows, *message + 1, *retry).find(kNoticeBody) == std::string::npos) {
    return std::nullopt;
  }

  PartialMenu partial;
  partial.title = std::string(kNoticeTitle);
  partial.title_row = message;
  partial.options = {new_menu_option("retry", U'r'), new_menu_option("fork", U'f')};
  partial.navigation = kNavigateKey;
  partial.selected = 0;
  partial.first_option_row = *message;
  partial.last_row = *last;
  partial.selected_row = *retry;
  partial.esc = true;
  return finish_menu(std::move(partial), rows);
}

// The start of a transcript item ends a numbered menu's title; a "Worked
// for" line and a lone "↑" are passed over.
constinit const ScreenPattern transcript_item_pattern{
    "^(?:•|›|└|⎿|r retry{js_space}+f fork(?-u:\\b)|[0-9]{1,2}[.)]{js_space}|"
    "To get started, describe a task|/[a-z][0-9A-Za-z_-]* - )"};
constinit const ScreenPattern title_skip_pattern{"^(?:Worked for (?:[0-9]|<[0-9])|↑$)"};

// A "›" row below a list that is not one of its options (the composer's
// prompt): the list is transcript.
constinit const ScreenPattern cursor_text_pattern{
    "^›{js_space}+(?:[0-9]{1,2}[.)]{js_space})?{js_nonspace}"};
constinit const ScreenPattern cursor_option_pattern{"^›{js_space}+[0-9]{1,2}[.)]{js_space}"};

// Codex adds this option to lists it shows over the command center; the
// village cannot go there, so the option is not offered.
constinit const ScreenPattern hidden_option_pattern{
    "^2\\. [Bb][Aa][Cc][Kk] [Tt][Oo] [Aa][Gg][Ee][Nn][Tt] [Cc][Oo][Mm][Mm][Aa][Nn][Dd] "
    "[Cc][Ee][Nn][Tt][Ee][Rr]$"};

std::optional<Menu> read_codex_numbered(std::span<const TrimmedRow> rows) {
  std::optional<MarkedBlock> marked = read_marked_block(rows, U"›");
  if (!marked) return std::nullopt;
  const auto& [block, selected] = *marked;
  for (size_t r = block.last_row + 1; r < rows.size(); ++r) {
    const std::string& text = rows[r].trimmed;
    if (cursor_text_pattern.is_match(text) && !cursor_option_pattern.is_match(text)) {
      return std::nullopt;
    }
  }

  FrameRules rules;
  rules.stop = [](std::string_view text) { return transcript_item_pattern.is_match(text); };
  rules.skip = [](std::string_view text) { return title_skip_pattern.is_match(text); };
  rules.max_blank_run = 3;
  auto [title, title_row] = frame_rows(rows, block.first_row, rules);
  PartialMenu partial =
      numbered_block_menu(block, selected, std::move(title), title_row, kNavigateNumber);

  std::vector<MenuOption> kept;
  std::optional<size_t> kept_selected;
  for (size_t k = 0; k < partial.options.size(); ++k) {
    if (hidden_option_pattern.is_match(partial.options[k].label)) continue;
    if (k == selected) kept_selected = kept.size();
    kept.push_back(std::move(partial.options[k]));
  }
  const bool dropped = kept.size() != partial.options.size();
  // A scrolled list that shows only the hidden option offers nothing.
  if (kept.empty()) return std::nullopt;
  partial.options = std::move(kept);
  // The cursor row stays the menu's selected row even when its option is
  // hidden; the menu then has no selected option.
  partial.selected = kept_selected;
  partial.esc = !dropped && has_esc_hint(join_row_texts(rows, block.last_row));
  return finish_menu(std::move(partial), rows);
}

bool renumbered(std::vector<TrimmedRow>& rows) {
  renumber(rows);
  return true;
}

constexpr Layout kCodexLayouts[] = {
    {"command center", by_rows<read_command_center>},
    {"open in another app", by_rows<read_open_elsewhere>},
    {"numbered", by_rows<read_codex_numbered>},
};

}  // namespace

constinit const MenuLayouts codex_menus{renumbered, kCodexLayouts};

}  // namespace mossbank::screen

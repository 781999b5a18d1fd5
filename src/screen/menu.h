// The menu every menu reader returns, and the pieces the readers share.
//
// A Menu is a question with options that the user picks from: its title, its
// options top to bottom, how to move between them (NavigationKind), which one
// is selected and whether Esc cancels it. Readers fill a PartialMenu and hand
// it to finish_menu, which builds the Menu the same way for all of them.
//
// The shared pieces work on TrimmedRows: the rows of the styled screen text
// without box side bars, with their looks (trim_side_bars). Over those,
// read_numbered_block finds a list of numbered options ("❯ 1. Yes",
// "  2. No"), selected_option_index says which option is selected and how
// that shows (a cursor marker, a highlight, a colour of its own), and
// frame_rows collects the question above a menu.
//
// Everything here is a pure function of its arguments; the patterns are
// compiled once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "screen/styled_rows.h"

namespace mossbank::screen {

// The readers search the lowest 45 rows, from the bottom up: this is the
// first row index of that window.
inline constexpr size_t kMenuWindow = 45;
inline size_t menu_window_start(size_t count) {
  return count > kMenuWindow ? count - kMenuWindow : 0;
}

// How the user moves between a menu's options: one of the four texts below.
using NavigationKind = std::string_view;
inline constexpr NavigationKind kNavigateArrows = "arrows";  // arrow keys, then Enter
inline constexpr NavigationKind kNavigateNumber = "number";  // type the option's number
inline constexpr NavigationKind kNavigateKey = "key";        // type the option's hotkey
inline constexpr NavigationKind kNavigateTab = "tab";        // move with Tab

// Free-text options: "inline" opens a text field in place (Type something,
// Other); "after" asks for instructions afterwards (Suggest changes).
inline constexpr std::string_view kFreeTextInline = "inline";
inline constexpr std::string_view kFreeTextAfter = "after";

struct MenuOption {
  std::string label;
  std::optional<std::string> detail;     // a right-hand hint or description rows
  std::optional<std::string> key;        // the hotkey that picks it directly
  std::optional<std::string_view> kind;  // kFreeTextInline, kFreeTextAfter

  friend bool operator==(const MenuOption&, const MenuOption&) = default;
};

// Esc cancels the menu (an "esc to cancel" hint shows), or not.
inline constexpr uint8_t kCancelByEsc = 1;
inline constexpr uint8_t kNoCancel = 2;

struct Menu {
  std::string title;  // may be empty
  std::vector<MenuOption> options;
  // The title, then each label without trailing dots, joined by "\n": what
  // the village compares to tell one menu from another.
  std::string text;
  std::optional<std::string> question;
  NavigationKind navigation = kNavigateArrows;
  // A menu may show no selection at all; then both are none.
  std::optional<size_t> selected;
  uint8_t cancel = kNoCancel;
  std::vector<std::string> rows;       // from the title's top row to the last option row
  std::optional<size_t> selected_row;  // counted from rows[0]
  bool highlight_selection = false;    // shown by highlight, not by a marker
  bool always_approve_hotkey = false;  // only with highlight_selection

  friend bool operator==(const Menu&, const Menu&) = default;
};

// A MenuOption with the label, and the key as a one-character text.
MenuOption new_menu_option(std::string_view label, std::optional<char32_t> key = std::nullopt);

// Fills menu.text from the title and the option labels.
void menu_text(Menu& menu);

// One row of the screen with box side bars and blanks cut from both ends.
struct TrimmedRow {
  StyledRow row;
  std::string trimmed;
  size_t index = 0;   // the row's number on the screen
  size_t offset = 0;  // where `trimmed` starts in row.text (characters);
                      // the row's length when `trimmed` is empty
};

// The length of the side bar or blank (" ", "\t", "│", "┃", "║") that the
// text starts with (or ends with); 0 when there is none.
size_t side_bar_length(std::string_view text, bool at_start);

// Every row of the styled screen text, trimmed.
std::vector<TrimmedRow> trim_side_bars(std::string_view styled);

struct NumberedOption {
  std::string label;  // the text after the number
  uint64_t number = 0;
  size_t column = 0;  // the number's position in the row when a marker is
                      // present, else 0
  std::optional<char32_t> marker;
};

// "❯ 1. Yes" or "2) No": a marker (one of `markers`) before the number is
// allowed; a row with another marker is no option row.
std::optional<NumberedOption> numbered_option(std::string_view row, std::u32string_view markers);

// "Yes   allow all edits" gives ("Yes", "allow all edits"); without a gap of
// two blanks, the trimmed text and "".
std::pair<std::string, std::string> split_label_hint(std::string_view text);

// An option row's text as split_label_hint splits it: the label, and the
// hint, if any, as its detail.
MenuOption hinted_option(std::string_view text);

// "No (esc)" gives ("No", "esc"): a trailing hotkey in parentheses, lower-cased.
std::pair<std::string, std::optional<std::string>> key_suffix(std::string_view text);

// kFreeTextInline, kFreeTextAfter or none for an option label.
std::optional<std::string_view> free_text_kind(std::string_view label);

// Whether the text says that Esc does something, other than "esc: scrollback".
bool has_esc_hint(std::string_view text);

// The first three non-empty trimmed texts after row `after` (from the first
// row when none) and before row `end`, joined by " · ": a menu's footer.
std::string join_row_texts(std::span<const TrimmedRow> rows, std::optional<size_t> after,
                           std::optional<size_t> end = std::nullopt);

// The character position of the first occurrence of `part` in `text` (the
// text's length when it does not occur).
size_t find_in_text(std::string_view text, std::string_view part);

// How a menu's selection shows.
enum class SelectionBy { marker, highlight, colour };
std::string_view selection_by_name(SelectionBy by);  // "marker", "highlight", "colour"

struct SelectedOption {
  size_t index = 0;
  SelectionBy by = SelectionBy::marker;
};

// What selected_option_index looks at for one option row.
struct OptionLook {
  bool has_marker = false;
  bool lead_marked = false;
  std::optional<std::string_view> lead_fg;
};

// Whether the option at `index` is the only one with its lead colour.
bool differs_in_style(std::span<const OptionLook> looks, size_t index);

// The only index below `count` for which `test` holds; none when it holds
// for none or for several.
template <typename Test>
std::optional<size_t> only_index(size_t count, Test test) {
  std::optional<size_t> found;
  for (size_t k = 0; k < count; ++k) {
    if (!test(k)) continue;
    if (found) return std::nullopt;
    found = k;
  }
  return found;
}

// From the last option up, the last one with a cursor marker; else the only
// one drawn in inverse video or on a background; else, with more than two
// options, the only one whose colour differs from all others; else none.
std::optional<SelectedOption> selected_option_index(std::span<const OptionLook> looks);

// What ends and shapes the walk of frame_rows. The walk always ends at a
// row of box drawing; the tests see a row's trimmed text.
struct FrameRules {
  std::function<bool(std::string_view)> stop;  // ends the walk (not collected)
  std::function<bool(std::string_view)> skip;  // passed over
  std::optional<size_t> max_blank_run;         // ends after this many blank rows in a row
};

// The question above a menu whose first option is at `first_option_row`: at
// most 12 rows collected upwards, blank rows at both ends dropped, each row
// indented by its offset beyond the smallest one. Gives the text and its top
// row (the first option's row when nothing is kept).
std::pair<std::string, size_t> frame_rows(std::span<const TrimmedRow> rows, size_t first_option_row,
                                          const FrameRules& rules = {});

// A list of numbered options 1..N over trimmed rows.
struct NumberedBlock {
  struct Entry {
    NumberedOption option;
    size_t row = 0;                         // index into the rows
    std::vector<std::string> continuation;  // trimmed texts of its wrapped rows
  };
  std::vector<Entry> entries;  // top to bottom
  size_t first_row = 0;        // the first option's row
  size_t last_row = 0;         // the last option's row or its last continuation
  MenuOption menu_option(size_t k) const;
  std::vector<MenuOption> menu_options() const;
};

// The lowest complete block of numbered options among the last 45 rows
// (markers: the cursor characters the caller accepts).
std::optional<NumberedBlock> read_numbered_block(std::span<const TrimmedRow> rows,
                                                 std::u32string_view markers);

// The looks of a block's option rows, for selected_option_index.
std::vector<OptionLook> block_looks(const NumberedBlock& block, std::span<const TrimmedRow> rows);
std::optional<SelectedOption> selected_option_index(const NumberedBlock& block,
                                                    std::span<const TrimmedRow> rows);

// A numbered block whose selection shows by a cursor marker, and the
// selected option's index.
struct MarkedBlock {
  NumberedBlock block;
  size_t selected = 0;
};

// read_numbered_block, kept only when selected_option_index finds its
// selection by a marker: the cursor-drawn lists most agents show.
std::optional<MarkedBlock> read_marked_block(std::span<const TrimmedRow> rows,
                                             std::u32string_view markers);

// What a menu reader fills before finish_menu builds the Menu. Row numbers
// are screen rows.
struct PartialMenu {
  std::string title;
  std::optional<size_t> title_row;  // the title's top row
  std::vector<MenuOption> options;
  std::optional<std::string> question;
  NavigationKind navigation = kNavigateArrows;
  std::optional<size_t> selected;
  size_t first_option_row = 0;
  size_t last_row = 0;
  std::optional<size_t> selected_row;
  bool esc = false;  // Esc cancels
  bool highlight_selection = false;
  bool always_approve_hotkey = false;
};

PartialMenu numbered_block_menu(const NumberedBlock& block, std::optional<size_t> selected,
                                std::string title, std::optional<size_t> title_row,
                                NavigationKind navigation);

// The Menu of a partial menu over the screen's row texts (or trimmed rows,
// whose full row texts are taken).
Menu finish_menu(PartialMenu partial, std::span<const std::string> rows);
Menu finish_menu(PartialMenu partial, std::span<const TrimmedRow> rows);

}  // namespace mossbank::screen

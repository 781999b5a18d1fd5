// Rows of the styled screen text as plain text plus the runs that share one
// look. Menus that mark their selection only by colour or inverse video, and
// boxes whose placeholder is drawn faint, are read from these.
//
// Only foreground, background and inverse video are kept: those are what the
// readers compare. A colour is a key: the SGR code in decimal for palette
// colours ("31", "97", "44"), or the extended parameters joined by ";"
// ("38;5;208", "48;2;10;20;30"). Positions are counted in characters (code
// points) of the row's plain text. Every row starts in the default style.
#pragma once

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mossbank::screen {

// The style while a row is read.
struct SgrStyle {
  std::optional<std::string> fg;
  std::optional<std::string> bg;
  bool has_background = false;
  bool inverse = false;
};

struct StyledRun {
  std::optional<std::string> fg;
  size_t start = 0;  // characters; end exclusive
  size_t end = 0;
  bool marked = false;            // inverse video, or a background colour
  std::optional<std::string> bg;  // the run's background key
};

struct StyledRow {
  std::string text;  // the row without escape sequences
  std::vector<StyledRun> runs;
  // The look of the first run that is not only blanks and box bars; none and
  // false when there is no such run.
  std::optional<std::string> lead_fg;
  std::optional<std::string> lead_bg;
  bool lead_marked = false;
};

// An SGR parameter list as tokens: "" gives {"0"}; colon forms of 38, 48 and
// 58 become their semicolon forms ("38:2::1:2:3" gives 38, 2, 1, 2, 3).
std::vector<std::string> parse_sgr(std::string_view params);

// One row of styled text (no "\n" in it). CSI sequences other than SGR are
// dropped first.
StyledRow read_styled_row(std::string_view row);

// Every row of the styled screen text ("\r" removed, split at "\n").
std::vector<StyledRow> read_styled_rows(std::string_view text);

// parse_sgr as views into `params` (no copies), appended to `tokens`.
void parse_sgr_views(std::string_view params, std::vector<std::string_view>& tokens);

// A token read as an unsigned decimal number: "" is 0, a leading "+" is
// allowed; none for anything else (or a number too large to be a code).
std::optional<unsigned> sgr_number(std::string_view token);

// Walks SGR tokens as the terminal does: calls `code(n)` for each plain
// code, and `colour(n, key)` for 38, 48 and 58 with their sub-parameters
// (two after "5", four after "2"; key "38;5;208"). A token that is not a
// number is skipped. Shared by the styled rows and the command line's cells.
template <typename Code, typename Colour>
void apply_sgr_tokens(std::span<const std::string_view> tokens, Code code, Colour colour) {
  for (size_t k = 0; k < tokens.size(); ++k) {
    std::optional<unsigned> n = sgr_number(tokens[k]);
    if (!n) continue;
    if (*n == 38 || *n == 48 || *n == 58) {
      size_t more = 0;
      if (k + 1 < tokens.size()) {
        if (tokens[k + 1] == "5") more = 2;
        if (tokens[k + 1] == "2") more = 4;
      }
      std::string key = std::to_string(*n);
      for (size_t j = 1; j <= more && k + j < tokens.size(); ++j) {
        key += ';';
        key += tokens[k + j];
      }
      k += std::min(more, tokens.size() - 1 - k);
      colour(*n, std::move(key));
      continue;
    }
    code(*n);
  }
}

// The look by which the input readers tell typed text from what the agent
// drew there: faint (SGR 2), grey (90), inverse video (the cursor block), and
// a foreground of the agent's suggestion colour (38;2;r;g;b).
struct HintLook {
  bool faint = false;
  bool grey = false;
  bool inverse = false;
  bool ghost = false;
};

// Applies one SGR sequence's parameters; `ghost` is the "r;g;b" of the
// suggestions, if any. `tokens` is scratch space, so that a row's sequences
// share it.
void apply_hint_look(HintLook& look, std::string_view params, std::optional<std::string_view> ghost,
                     std::vector<std::string_view>& tokens);

}  // namespace mossbank::screen

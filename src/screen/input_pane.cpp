#include "screen/input_pane.h"

#include <vector>

#include "base/text.h"
#include "screen/row_text.h"
#include "screen/screen_pattern.h"
#include "screen/terminal_reader.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

constinit const ScreenPattern pasted_whole_pattern{"^\\[Pastedtext#[0-9]+(\\+[0-9]+lines)?\\]$"};
constinit const ScreenPattern pasted_lead_pattern{"^\\[Pastedtext#[0-9]+(\\+[0-9]+lines)?\\]"};
constinit const ScreenPattern image_placeholder_pattern{"\\[Image#[0-9]+\\]"};
constinit const ScreenPattern image_path_pattern{"(?i)^[ \\t]*/.*[.](png|jpe?g|gif|webp)[ \\t]*$"};
constinit const ScreenPattern busy_pattern{
    "(?i)(esc|ctrl\\+c) to (interrupt|cancel|stop)|ctrl\\+c\\s*:\\s*cancel|\\b[1-9]\\d* "
    "task\\(s\\) · /tasks\\b|(?:^|\\n)\\s*● \\[\\d{2}:\\d{2}:\\d{2}\\].*\\brunning\\b|(?:^|\\n)[ "
    "\\t]*[⠀-⣿] {1,4}\\S|press \\S+ to edit queued messages|\\b[1-9]\\d* (?:queued "
    "messages?|messages? queued)\\b"};

constexpr size_t kCompared = 16;    // leading characters compared
constexpr size_t kLongInput = 200;  // characters that make an input long
constexpr size_t kBusyRows = 14;

// The first `chars` characters of the text (all of it when shorter).
std::string_view head(std::string_view text, size_t chars) {
  return text.substr(0, byte_offset_of_char(text, chars));
}

std::vector<std::string_view> split_at_newlines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    size_t at = text.find('\n');
    lines.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return lines;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string squash(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (c == '\t' || c == '\n' || c == ' ') continue;
    if (c == '\xC2' && k + 1 < text.size() && text[k + 1] == '\xA0') {
      ++k;
      continue;
    }
    out += c;
  }
  return out;
}

std::optional<std::string> read_input_pane(std::string_view screen, bool shell_mode) {
  const std::vector<std::string> rows = split_lines(strip_escapes(screen));
  std::optional<size_t> prompt;
  bool closed = false;  // a rule follows the prompt row
  std::string pane;
  for (size_t k = 0; k < rows.size(); ++k) {
    const std::string& row = rows[k];
    if (is_prompt_marker_row(row) || (shell_mode && is_shell_mode_row(row))) {
      prompt = k;
      closed = false;
      pane = row;
    } else if (prompt && !closed) {
      if (is_rule_row(row)) {
        closed = true;
      } else {
        pane += row;
      }
    }
  }
  if (!prompt || *prompt == 0 || !is_rule_row(rows[*prompt - 1])) return std::nullopt;
  const std::string& row = rows[*prompt];
  if (starts_with(row, "❯")) return pane.substr(std::string_view("❯").size());
  if (is_shell_mode_row(row) && closed) return pane;
  return std::nullopt;
}

bool pasted_placeholder(std::string_view pane, std::string_view typed, bool long_input) {
  if (typed.empty()) return pane.empty();
  const size_t typed_chars = char_count(typed);
  const bool long_text = long_input || typed_chars > kLongInput;
  if (long_text && pasted_whole_pattern.is_match(pane)) return true;
  const size_t compared = std::min(kCompared, typed_chars);
  const std::string_view typed_head = head(typed, compared);
  if (char_count(head(pane, compared)) == compared && head(pane, compared) == typed_head)
    return true;
  if (!long_text) return false;
  std::string_view rest = pane;
  while (std::optional<Match> m = pasted_lead_pattern.find(rest)) {
    if (m->end() == 0) break;
    rest.remove_prefix(m->end());
  }
  if (char_count(rest) < kCompared) return false;
  return typed.size() >= rest.size() && typed.substr(typed.size() - rest.size()) == rest;
}

bool input_shows_text(std::string_view screen, std::string_view typed, bool shell_mode) {
  std::optional<std::string> pane = read_input_pane(screen, shell_mode);
  if (!pane) return false;
  const bool long_input = typed.find('\n') != std::string_view::npos;
  const std::string squashed_typed = squash(typed);
  if (squashed_typed.empty()) return true;
  const std::string squashed_pane = squash(*pane);
  if (pasted_placeholder(squashed_pane, squashed_typed, long_input)) return true;

  // Image paths show as "[Image #n]" placeholders.
  size_t images = 0;
  std::string text_lines;
  size_t text_line_count = 0;
  for (std::string_view line : split_at_newlines(typed)) {
    if (image_path_pattern.is_match(line)) {
      ++images;
    } else {
      if (text_line_count++) text_lines += '\n';
      text_lines += line;
    }
  }
  if (images == 0) return false;
  size_t placeholders = 0;
  const std::string rest =
      image_placeholder_pattern.replace_all_with(squashed_pane, [&](const Match&) {
        ++placeholders;
        return std::string();
      });
  if (placeholders != images) return false;
  return pasted_placeholder(rest, squash(text_lines), text_line_count > 1);
}

bool pane_is_busy(std::string_view screen) {
  const std::string plain = strip_escapes(screen);
  std::string_view text = trim_row_end(plain);
  size_t start = text.size();
  for (size_t rows = 0; rows < kBusyRows && start != std::string_view::npos;) {
    if (start == 0) {
      start = std::string_view::npos;
      break;
    }
    start = text.rfind('\n', start - 1);
    ++rows;
  }
  // `start` is the "\n" before the 14th row from the bottom, or none when the
  // text has no more rows than that.
  return busy_pattern.is_match(start == std::string_view::npos ? text : text.substr(start + 1));
}

}  // namespace mossbank::screen

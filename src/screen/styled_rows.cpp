#include "screen/styled_rows.h"

#include <charconv>

#include "base/text.h"
#include "screen/row_text.h"
#include "screen/text_utils.h"

namespace mossbank::screen {

namespace {

// The row without CSI sequences whose final is not "m" (an erase or a cursor
// move inside a row says nothing about its look).
std::string without_other_csi(std::string_view row) {
  std::string out;
  out.reserve(row.size());
  auto keep = [&](std::string_view piece) { out += piece; };
  for_each_csi(row, keep, [&](std::string_view csi) {
    if (csi.back() == 'm') keep(csi);
  });
  return out;
}

// A run of only blanks and box bars does not set the row's lead look.
bool is_blank_or_bars(std::string_view text) {
  return all_chars(
      text, [](char32_t c) { return is_js_space(c) || c == U'│' || c == U'┃' || c == U'║'; });
}

void apply_style(SgrStyle& style, std::span<const std::string_view> tokens) {
  apply_sgr_tokens(
      tokens,
      [&](unsigned n) {
        if (n == 0) {
          style = SgrStyle{};
        } else if (n == 7) {
          style.inverse = true;
        } else if (n == 27) {
          style.inverse = false;
        } else if ((n >= 30 && n <= 37) || (n >= 90 && n <= 97)) {
          style.fg = std::to_string(n);
        } else if (n == 39) {
          style.fg.reset();
        } else if ((n >= 40 && n <= 47) || (n >= 100 && n <= 107)) {
          style.bg = std::to_string(n);
          style.has_background = true;
        } else if (n == 49) {
          style.bg.reset();
          style.has_background = false;
        }
      },
      [&](unsigned n, std::string key) {
        if (n == 38) {
          style.fg = std::move(key);
        } else if (n == 48) {
          style.bg = std::move(key);
          style.has_background = true;
        }
      });
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  while (true) {
    size_t at = text.find(sep);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::optional<unsigned> sgr_number(std::string_view token) {
  if (token.empty()) return 0u;
  if (token[0] == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
  return value;
}

void parse_sgr_views(std::string_view params, std::vector<std::string_view>& tokens) {
  if (params.empty()) {
    tokens.push_back("0");
    return;
  }
  auto add = [&](std::string_view token) {
    if (token.find(':') == std::string_view::npos) {
      tokens.push_back(token);
      return;
    }
    std::vector<std::string_view> parts = split(token, ':');
    const bool colour = parts[0] == "38" || parts[0] == "48" || parts[0] == "58";
    if (colour && parts[1] == "5") {
      tokens.push_back(parts[0]);
      tokens.push_back(parts[1]);
      tokens.push_back(parts.size() > 2 ? parts[2] : std::string_view());
    } else if (colour && parts[1] == "2") {
      tokens.push_back(parts[0]);
      tokens.push_back(parts[1]);
      // The last three parts: a colour-space id, when given, comes first.
      size_t from = parts.size() > 5 ? parts.size() - 3 : 2;
      for (size_t k = from; k < parts.size(); ++k) tokens.push_back(parts[k]);
    } else {
      tokens.push_back(token);
    }
  };
  for (size_t start = 0;;) {
    const size_t semi = params.find(';', start);
    add(params.substr(start,
                      semi == std::string_view::npos ? std::string_view::npos : semi - start));
    if (semi == std::string_view::npos) return;
    start = semi + 1;
  }
}

std::vector<std::string> parse_sgr(std::string_view params) {
  std::vector<std::string_view> views;
  parse_sgr_views(params, views);
  return std::vector<std::string>(views.begin(), views.end());
}

StyledRow read_styled_row(std::string_view row) {
  StyledRow out;
  std::string cleaned;
  if (row.find('\x1b') != std::string_view::npos) {
    cleaned = without_other_csi(row);
    row = cleaned;
  }
  SgrStyle style;
  std::vector<std::string_view> tokens;
  size_t chars = 0;
  bool lead = false;
  auto add_run = [&](std::string_view piece) {
    if (piece.empty()) return;
    const size_t n = char_count(piece);
    out.runs.push_back(
        StyledRun{style.fg, chars, chars + n, style.inverse || style.has_background, style.bg});
    out.text += piece;
    chars += n;
    if (!lead && !is_blank_or_bars(piece)) {
      lead = true;
      out.lead_fg = style.fg;
      out.lead_bg = style.bg;
      out.lead_marked = style.inverse || style.has_background;
    }
  };
  size_t pos = 0;
  size_t esc = pos;
  while ((esc = row.find('\x1b', esc)) != std::string_view::npos) {
    size_t n = csi_length_at(row, esc);
    // A lone ESC, an unknown sequence or an "m" sequence with a "?" (no SGR)
    // stays in the text.
    if (n == 0 || row[esc + n - 1] != 'm' ||
        row.substr(esc + 2, n - 3).find('?') != std::string_view::npos) {
      ++esc;
      continue;
    }
    add_run(row.substr(pos, esc - pos));
    tokens.clear();
    parse_sgr_views(row.substr(esc + 2, n - 3), tokens);
    apply_style(style, tokens);
    pos = esc = esc + n;
  }
  add_run(row.substr(pos));
  return out;
}

void apply_hint_look(HintLook& look, std::string_view params, std::optional<std::string_view> ghost,
                     std::vector<std::string_view>& tokens) {
  tokens.clear();
  parse_sgr_views(params, tokens);
  apply_sgr_tokens(
      tokens,
      [&](unsigned n) {
        if (n == 0) {
          look = HintLook{};
        } else if (n == 2 || n == 22) {
          look.faint = n == 2;
        } else if (n == 7 || n == 27) {
          look.inverse = n == 7;
        } else if (n == 39 || (n >= 30 && n <= 37) || (n >= 90 && n <= 97)) {
          look.grey = n == 90;
          look.ghost = false;
        }
      },
      [&](unsigned n, std::string_view key) {
        // A bare 38 names no colour and leaves the look as it is.
        if (n != 38 || key == "38") return;
        look.ghost = ghost && key.starts_with("38;2;") && key.substr(5) == *ghost;
      });
}

std::vector<StyledRow> read_styled_rows(std::string_view text) {
  std::vector<StyledRow> rows;
  for (const std::string& row : split_lines(text)) rows.push_back(read_styled_row(row));
  return rows;
}

}  // namespace mossbank::screen

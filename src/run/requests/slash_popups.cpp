#include "run/requests/slash_popups.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "base/json.h"
#include "base/text.h"
#include "screen/pattern_dialect.h"

namespace mossbank::run {

namespace {

constexpr std::string_view kPatternFailure = "a wrapper pattern";

// slash-popups.json
constexpr std::string_view kSlashPopups = R"json({
  "_": "Agents whose typed slash command opens a popup of commands. row: one row of the popup, its first group the command on it; the first matching row from the top is what Enter takes. dialog: the title row (plain text, trimmed) of one of the agent's own dialogs, where nothing may be typed.",
  "opencode": {
    "row": "^┃ (/[a-z][a-z0-9-]*) {2,}\\S",
    "dialog": "^\\S.*\\S {3,}esc$"
  }
})json";

constinit const screen::ScreenPattern slash_command_pattern{"^(/[a-z][a-z0-9-]*)(?:\\s|$)",
                                                            kPatternFailure};
constinit const screen::ScreenPattern csi_pattern{"\\x1b\\[[0-9;?]*[ -/]*[@-~]", kPatternFailure};

// A table pattern: none when it does not translate into a pattern.
std::unique_ptr<screen::ScreenPattern> table_pattern(const JsonValue* text,
                                                     std::deque<std::string>& texts) {
  if (text == nullptr || !text->is_string()) return nullptr;
  const std::string& source = text->get_ref<const std::string&>();
  if (std::holds_alternative<screen::DialectError>(
          screen::translate_dialect(screen::splice_js_classes(source)))) {
    return nullptr;
  }
  texts.push_back(source);
  return std::make_unique<screen::ScreenPattern>(texts.back(), kPatternFailure);
}

struct Table {
  std::deque<std::string> texts;  // the patterns' texts, which they view
  std::vector<SlashPopupEntry> entries;
};

const Table& table() {
  static const Table* built = [] {
    auto* t = new Table;  // kept for the life of the process, like every pattern
    std::optional<JsonValue> parsed = parse_json(kSlashPopups);
    if (!parsed || !parsed->is_object()) {
      std::fprintf(stderr, "mossbank: slash-popups.json\n");
      std::abort();
    }
    for (const auto& [agent, value] : parsed->items()) {
      if (agent == "_") continue;
      SlashPopupEntry entry;
      entry.agent = agent;
      entry.row = table_pattern(json_member(value, "row"), t->texts);
      entry.dialog = table_pattern(json_member(value, "dialog"), t->texts);
      if (entry.row && entry.dialog) t->entries.push_back(std::move(entry));
    }
    return t;
  }();
  return *built;
}

}  // namespace

constinit const screen::ScreenPattern cursor_key_pattern{"\\x1b(?:[\\[d;]*[A-DHF]|O[A-DHF])",
                                                         kPatternFailure};
constinit const screen::ScreenPattern pasted_marker_pattern{
    "^\\[Pastedtext#\\d+(?:\\+\\d+lines)?\\]$", kPatternFailure};

const std::vector<SlashPopupEntry>& slash_popups() { return table().entries; }

const SlashPopupEntry* agent_entry(std::string_view agent) {
  for (const SlashPopupEntry& entry : slash_popups()) {
    if (entry.agent == agent) return &entry;
  }
  return nullptr;
}

std::optional<std::string> slash_command_word(std::string_view text) {
  std::optional<screen::Match> m = slash_command_pattern.find(text);
  if (!m) return std::nullopt;
  return std::string(*m->group(1));
}

std::vector<std::string> collect_match_texts(std::string_view screen_text) {
  std::string plain =
      csi_pattern.replace_all_with(screen_text, [](const screen::Match&) { return std::string(); });
  std::vector<std::string> rows;
  std::string_view rest = plain;
  while (!rest.empty()) {
    size_t nl = rest.find('\n');
    std::string_view row = rest.substr(0, nl);
    if (row.ends_with('\r')) row.remove_suffix(1);
    rows.emplace_back(row);
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return rows;
}

bool match_agent_texts(std::string_view agent, std::string_view screen_text) {
  const SlashPopupEntry* entry = agent_entry(agent);
  if (entry == nullptr) return false;
  for (const std::string& row : collect_match_texts(screen_text)) {
    if (entry->dialog->is_match(js_trim(row))) return true;
  }
  return false;
}

std::optional<std::string> popup_command(const SlashPopupEntry& entry,
                                         std::string_view screen_text) {
  for (const std::string& row : collect_match_texts(screen_text)) {
    if (std::optional<screen::Match> m = entry.row->find(row)) {
      if (std::optional<std::string_view> command = m->group(1)) return std::string(*command);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace mossbank::run

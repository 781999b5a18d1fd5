#include "run/requests/new_conversation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "base/json.h"
#include "base/text.h"
#include "base/utf8.h"
#include "run/link/posts.h"
#include "screen/input_boxes.h"

namespace mossbank::run {

namespace {

constexpr std::string_view kPatternFailure = "a wrapper pattern";
constexpr size_t kMaxTypedChars = 4000;
// How long an Enter typed by hand waits for the screen to catch up.
constexpr std::chrono::milliseconds kTypedLineScreenWait{1000};

// new-conversation.json
constexpr std::string_view kNewConversation = R"json({
  "_": "How to read the line an agent's input box held when Enter was typed by hand. box: the input row, its first group the text (the lowest matching row counts; without box the side box is read). commands: lines that start a new conversation. placeholder: what an empty box shows. ghost: the r;g;b colour of suggestions.",
  "opencode": {
    "commands": ["/new"]
  },
  "claude": {
    "box": "^❯[ \u00a0](.*)$",
    "commands": ["/clear"]
  },
  "codex": {
    "box": "^› (.*)$",
    "commands": ["/new"]
  },
  "antigravity": {
    "box": "^>[ \\t](.*)$"
  },
  "grok": {
    "box": "^[ \\t]*│ [>❯](?: (\\S.*?))?[ \\t]*│?$",
    "placeholder": "^Type a message\\.\\.\\.$",
    "ghost": "88;88;88"
  }
})json";

constinit const screen::ScreenPattern csi_pattern{"\\x1b\\[[0-9;?]*[ -/]*[@-~]", kPatternFailure};
constinit const screen::ScreenPattern escape_token_pattern{
    "\\x1b(?:\\[([0-9;:?]*)([@-~])|[\\]P][^\\x07\\x1b]*(?:\\x07|\\x1b\\\\)|.)", kPatternFailure};

struct Table {
  std::deque<std::string> texts;  // the patterns' texts, which they view
  std::vector<NewConversationEntry> entries;
};

std::unique_ptr<screen::ScreenPattern> table_pattern(const JsonValue* text,
                                                     std::deque<std::string>& texts) {
  if (text == nullptr || !text->is_string()) return nullptr;
  texts.push_back(text->get<std::string>());
  return std::make_unique<screen::ScreenPattern>(texts.back(), kPatternFailure);
}

const Table& table() {
  static const Table* built = [] {
    auto* t = new Table;  // kept for the life of the process, like every pattern
    std::optional<JsonValue> parsed = parse_json(kNewConversation);
    if (!parsed || !parsed->is_object()) {
      std::fprintf(stderr, "mossbank: new-conversation.json\n");
      std::abort();
    }
    for (const auto& [agent, value] : parsed->items()) {
      if (agent == "_") continue;
      NewConversationEntry entry;
      entry.agent = agent;
      if (const JsonValue* commands = json_member(value, "commands");
          commands && commands->is_array()) {
        for (const JsonValue& c : *commands)
          if (c.is_string()) entry.commands.push_back(c.get<std::string>());
      }
      entry.box = table_pattern(json_member(value, "box"), t->texts);
      entry.placeholder = table_pattern(json_member(value, "placeholder"), t->texts);
      if (const JsonValue* ghost = json_member(value, "ghost"); ghost && ghost->is_string())
        entry.ghost = ghost->get<std::string>();
      t->entries.push_back(std::move(entry));
    }
    return t;
  }();
  return *built;
}

const NewConversationEntry* entry_of(std::string_view agent) {
  for (const NewConversationEntry& entry : table().entries)
    if (entry.agent == agent) return &entry;
  return nullptr;
}

std::vector<std::string_view> rows_of(std::string_view text) {
  std::vector<std::string_view> rows;
  for (;;) {
    const size_t nl = text.find('\n');
    rows.push_back(text.substr(0, nl));
    if (nl == std::string_view::npos) return rows;
    text.remove_prefix(nl + 1);
  }
}

// The look of the characters that follow an SGR sequence.
struct Look {
  bool faint = false;
  bool ghost = false;
};

void apply_sgr(Look& look, std::string_view params, std::optional<std::string_view> ghost) {
  std::vector<std::string_view> tokens;
  for (;;) {
    const size_t cut = params.find_first_of(";:");
    tokens.push_back(params.substr(0, cut));
    if (cut == std::string_view::npos) break;
    params.remove_prefix(cut + 1);
  }
  for (size_t k = 0; k < tokens.size(); ++k) {
    const std::string_view t = tokens[k];
    if (t.empty() || t == "0") {
      look = Look{};
    } else if (t == "2") {
      look.faint = true;
    } else if (t == "22") {
      look.faint = false;
    } else if (t == "38" || t == "48") {
      const bool foreground = t == "38";
      if (k + 1 < tokens.size() && tokens[k + 1] == "5") {
        if (foreground) look.ghost = false;
        k += 2;
      } else if (k + 1 < tokens.size() && tokens[k + 1] == "2") {
        if (foreground && k + 4 < tokens.size()) {
          const std::string rgb = std::string(tokens[k + 2]) + ";" + std::string(tokens[k + 3]) +
                                  ";" + std::string(tokens[k + 4]);
          look.ghost = ghost && rgb == *ghost;
        } else if (foreground) {
          look.ghost = false;
        }
        k += 4;
      }
    } else if (t == "39" ||
               (t.size() == 2 && (t[0] == '3' || t[0] == '9') && t[1] >= '0' && t[1] <= '7')) {
      look.ghost = false;
    }
  }
}

}  // namespace

const std::vector<NewConversationEntry>& new_conversation_table() { return table().entries; }

std::optional<std::string> read_box_line(std::string_view agent, std::string_view screen_text) {
  const NewConversationEntry* entry = entry_of(agent);
  if (entry == nullptr || !entry->box) {
    std::optional<std::string> side =
        screen::read_side_box(agent.empty() ? std::nullopt : std::optional(agent), screen_text);
    if (!side || side->empty()) return std::nullopt;
    return side;
  }
  const std::string plain =
      csi_pattern.replace_all_with(screen_text, [](const screen::Match&) { return std::string(); });
  const std::vector<std::string_view> rows = rows_of(plain);
  for (size_t k = rows.size(); k-- > 0;) {
    std::optional<screen::Match> m = entry->box->find(rows[k]);
    if (!m) continue;
    const std::string_view line = trim_unicode_space(m->group(1).value_or(std::string_view()));
    if (line.empty()) return std::nullopt;
    if (entry->placeholder && entry->placeholder->is_match(line)) return std::nullopt;
    return std::string(line);
  }
  return std::nullopt;
}

std::string blank_untyped(std::string_view styled, std::optional<std::string_view> ghost) {
  std::string out;
  out.reserve(styled.size());
  Look look;
  auto add_text = [&](std::string_view piece) {
    for (size_t pos = 0; pos < piece.size();) {
      const size_t start = pos;
      const char32_t c = next_code_point(piece, pos);
      if (c == U'\n') {
        look = Look{};  // every row starts plain
        out += '\n';
      } else if (look.faint || look.ghost) {
        out += ' ';
      } else {
        out.append(piece.substr(start, pos - start));
      }
    }
  };
  size_t pos = 0;
  while (pos < styled.size()) {
    const size_t esc = styled.find('\x1b', pos);
    if (esc == std::string_view::npos) break;
    add_text(styled.substr(pos, esc - pos));
    std::optional<screen::Match> m = escape_token_pattern.find(styled, esc);
    if (!m || m->start() != esc) {
      pos = esc + 1;  // a lone ESC at the end
      continue;
    }
    if (m->group(2) == std::optional<std::string_view>("m"))
      apply_sgr(look, m->group(1).value_or(std::string_view()), ghost);
    pos = m->end();
  }
  if (pos < styled.size()) add_text(styled.substr(pos));
  return out;
}

std::optional<LinePost> typed_line_post(std::string_view agent, std::string_view plain,
                                        std::string_view styled) {
  const NewConversationEntry* entry = entry_of(agent);
  if (std::optional<std::string> line = read_box_line(agent, plain); line && entry) {
    for (const std::string& command : entry->commands)
      if (*line == command) return LinePost{"/command", std::move(*line)};
  }
  const std::optional<std::string_view> ghost =
      entry && entry->ghost ? std::optional<std::string_view>(*entry->ghost) : std::nullopt;
  std::optional<std::string> line = read_box_line(agent, blank_untyped(styled, ghost));
  if (!line || line->starts_with('/') || line->starts_with('!')) return std::nullopt;
  size_t end = 0;
  for (size_t chars = 0; end < line->size() && chars < kMaxTypedChars; ++chars)
    next_code_point(*line, end);
  line->resize(end);
  return LinePost{"/typed", std::move(*line)};
}

bool tell_typed_line(RunShared& run, double now) {
  {
    std::lock_guard lock(run.activity_mutex);
    ActivityRecord& a = run.activity;
    a.village_talk = true;
    a.village_talk_at = now;
    a.echo_state = EchoState::over;
    if (a.working) a.asked = true;
  }
  std::string agent;
  std::string plain;
  std::string styled;
  {
    // The Enter reached the agent after everything it had written before
    // was read: the line is on the screen once the feeder has taken that.
    auto lock = run.lock_current_screen(kTypedLineScreenWait);
    agent = run.screen.agent;
    plain = screen_lines(run.screen.terminal);
    styled = screen_lines_styled(run.screen.terminal);
  }
  std::optional<LinePost> post = typed_line_post(agent, plain, styled);
  if (!post) return true;
  RunShared* r = &run;  // the run joins its jobs before it goes
  return run.jobs.start("typed line's post", [r, post = std::move(*post)] {
    JsonValue body = JsonValue::object();
    body["line"] = post.line;
    report_run(r->link, post.suffix, body);
  });
}

}  // namespace mossbank::run

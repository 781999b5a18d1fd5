#include "cli/usage.h"

#include <cstdio>
#include <cstdlib>

#include "base/fatal.h"
#include "base/json.h"
#include "daemon/home.h"

namespace mossbank::cli {

namespace {

// Shared with the Node program, which reads `pack`; this program reads only
// `commands`.
constexpr std::string_view kUsageTable = R"json({
  "pack": "Usage: mossbank pack check <folder>\n\nChecks a pack (a folder with theme.json, map/<sheet>.png + .json and\nparts/<group>/<name>.png + .json; see docs/art/map-format.md) the way the village does, lists\nits problems, and says which kind of pack its files make it.",
  "commands": {
    "start": ["[--no-open]", "[--no-open]"],
    "setup": ["[--agent <agent>|all]", "[--agent <에이전트>|all]"],
    "uninstall": ["[--all | --trash-data | [--agent <agent>|all] [--mcp]]", "[--all | --trash-data | [--agent <에이전트>|all] [--mcp]]"],
    "run": ["[--vocation <id>] [--allow-plain] [--] [command [args…]]", "[--vocation <직업>] [--allow-plain] [--] [명령 [인수…]]"],
    "hook": ["[--agent <name>] [--event <event>] [--wait [question] | --waiter | --handover | --step] [--decides claude]", "[--agent <이름>] [--event <이벤트>] [--wait [question] | --waiter | --handover | --step] [--decides claude]"],
    "codex-relay": ["[--] <Codex arguments…>", "[--] <Codex 인수…>"],
    "send": ["<Name> <text…>", "<이름> <글…>"],
    "reply": ["<letter id> <text…>", "<편지 id> <글…>"],
    "mail": ["[--unread]", "[--unread]"]
  }
}
)json";

const JsonValue& usage_table() {
  static const JsonValue table = [] {
    auto parsed = parse_json(kUsageTable);
    if (!parsed) fatal("the Node CLI's usage syntax table does not parse");
    return std::move(*parsed);
  }();
  return table;
}

}  // namespace

std::string usage_text(std::string_view command) {
  bool korean = ui_language() == UiLanguage::Korean;
  std::string text = korean ? "사용법" : "Usage";
  text += ": mossbank ";
  text += command;
  const JsonValue& commands = usage_table()["commands"];
  auto row = commands.find(std::string(command));
  if (row != commands.end() && row->is_array()) {
    size_t index = korean ? 1 : 0;
    if (index < row->size() && (*row)[index].is_string()) {
      text += ' ';
      text += (*row)[index].get_ref<const std::string&>();
    }
  }
  return text;
}

void print_usage(std::string_view command) {
  std::string line = usage_text(command) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

bool help_requested(std::string_view command, const std::vector<std::string>& rest) {
  if (rest.size() != 1 || (rest[0] != "-h" && rest[0] != "--help")) return false;
  print_usage(command);
  return true;
}

}  // namespace mossbank::cli

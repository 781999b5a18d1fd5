#include "run/start/vocations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "base/files.h"
#include "base/json.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "daemon/home.h"
#include "run/start/messages.h"
#include "screen/screen_pattern.h"

namespace mossbank::run {

namespace {

// Each value's lines, joined with "\n", are the vocation's file.
constexpr std::string_view kBuiltinVocations = R"json({
  "planner": [
    "---",
    "name: Planner",
    "name_ko: 기획자",
    "look: planner",
    "workplace: farm",
    "description: Sows ideas and grows them into a plan.",
    "---",
    "You plan before anyone builds.",
    "- Restate the goal in one sentence and list the assumptions you are making.",
    "- Ask about anything ambiguous that would change the plan; otherwise pick a sensible default and say so.",
    "- Break the work into small, independently verifiable steps, each with a clear \"done\" check.",
    "- Call out risks, unknowns and what should be researched or prototyped first.",
    "- Deliver plans, specs and task lists. Do not write production code unless asked."
  ],
  "developer": [
    "---",
    "name: Developer",
    "name_ko: 개발자",
    "look: developer",
    "workplace: mine",
    "description: Digs into the code and builds it.",
    "---",
    "You implement changes in this codebase.",
    "- Read the surrounding code first and match its conventions, naming and structure.",
    "- Make the smallest change that fully solves the task; don't refactor unrelated code.",
    "- Add or update tests for the behavior you change.",
    "- Run the project's own lint, typecheck and tests before you call the work done, and report the results honestly.",
    "- Summarize what changed and why at the end."
  ],
  "researcher": [
    "---",
    "name: Researcher",
    "name_ko: 연구자",
    "look: researcher",
    "workplace: lake",
    "description: Fishes for facts in code, docs and the web.",
    "---",
    "You investigate and report; you don't change code unless asked.",
    "- Gather evidence from the codebase, documentation and reliable sources.",
    "- Cite file paths with line numbers and link external sources.",
    "- Compare the realistic options with their trade-offs.",
    "- Separate what you verified from what you infer.",
    "- End with a short recommendation and the open questions."
  ],
  "reviewer": [
    "---",
    "name: Reviewer",
    "name_ko: 리뷰어",
    "look: reviewer",
    "workplace: ranch",
    "description: Inspects every change the way a rancher checks the herd.",
    "---",
    "You review changes for correctness first.",
    "- Look for real bugs, security issues, data loss, race conditions and missing error handling before style.",
    "- Verify each finding by reading the code paths involved; drop anything you can't back up.",
    "- Report findings ranked by severity, each with file:line, the failure scenario and a suggested fix.",
    "- Keep nits short and clearly marked optional.",
    "- Don't rewrite the change yourself unless asked."
  ],
  "designer": [
    "---",
    "name: Designer",
    "name_ko: 디자이너",
    "look: designer",
    "workplace: garden",
    "description: Tends the interface until it blooms.",
    "---",
    "You care for how the product looks and feels.",
    "- Follow the project's design system, tokens and existing components before inventing new ones.",
    "- Cover every state: empty, loading, error, long content, narrow widths, light and dark themes.",
    "- Keep interfaces accessible: labels, focus order, contrast and keyboard use.",
    "- Prefer small, polished improvements over sweeping redesigns.",
    "- Explain the design reasoning briefly alongside any change."
  ],
  "marketer": [
    "---",
    "name: Marketer",
    "name_ko: 마케터",
    "look: marketer",
    "workplace: market",
    "description: Tells the world what the village made.",
    "---",
    "You write for the people who use the product.",
    "- Identify the audience and the one thing they should take away.",
    "- Lead with the benefit, then the details; keep sentences short and concrete.",
    "- Write release notes, changelogs, README sections and announcements from the actual changes.",
    "- Avoid hype and jargon; never claim something the code doesn't do.",
    "- Offer a headline and one or two alternatives when copy will be published."
  ],
  "villager": [
    "---",
    "name: Villager",
    "name_ko: 마을 주민",
    "look: villager",
    "workplace: lumberyard",
    "description: A helping hand for whatever needs doing.",
    "---",
    "You are a dependable generalist.",
    "- Clarify the task if it's ambiguous, then do it carefully end to end.",
    "- Keep changes focused and verify your work before reporting back.",
    "- Say plainly what you did, what you didn't, and anything left to follow up."
  ]
})json";

constexpr size_t kPromptLimit = 3000;  // UTF-16 code units

constinit const screen::ScreenPattern id_pattern{"^[a-z0-9][a-z0-9-]{0,63}$", "a wrapper pattern"};
constinit const screen::ScreenPattern front_matter_pattern{"(?s)^---\\r?\\n(.*?)\\r?\\n---\\r?\\n?",
                                                           "a wrapper pattern"};
constinit const screen::ScreenPattern field_pattern{
    "^([A-Za-z_]+)\\s*:\\s*([^\\n\\r\\x{2028}\\x{2029}]*)$", "a wrapper pattern"};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::vector<std::string_view> split_lines_crlf(std::string_view text) {
  std::vector<std::string_view> out;
  while (true) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    out.push_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return out;
}

std::string_view strip_one_quote(std::string_view value) {
  auto is_quote = [](char c) { return c == '\'' || c == '"'; };
  if (!value.empty() && is_quote(value.front())) value.remove_prefix(1);
  if (!value.empty() && is_quote(value.back())) value.remove_suffix(1);
  return value;
}

// The text cut to `limit` UTF-16 code units; a character that would be cut
// in half leaves U+FFFD for its first half.
std::string cut_utf16(std::string_view text, size_t limit) {
  size_t units = 0, pos = 0;
  while (pos < text.size()) {
    size_t at = pos;
    char32_t cp = next_code_point(text, at);
    size_t width = cp >= 0x10000 ? 2 : 1;
    if (units + width > limit) {
      std::string out(text.substr(0, pos));
      if (units < limit) out += kReplacement;
      return out;
    }
    units += width;
    pos = at;
  }
  return std::string(text);
}

// Compares two names as sequences of UTF-16 code units.
bool utf16_less(const std::string& a, const std::string& b) {
  auto units = [](const std::string& s) {
    std::u16string out;
    std::string text = utf8_lossy(s);
    for (size_t pos = 0; pos < text.size();) {
      char32_t cp = next_code_point(text, pos);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
    }
    return out;
  };
  return units(a) < units(b);
}

// The file name split into stem and extension at its last "."; a name whose
// only "." leads it has no extension.
std::pair<std::string_view, std::optional<std::string_view>> stem_and_extension(
    std::string_view name) {
  size_t dot = name.rfind('.');
  if (name == ".." || dot == std::string_view::npos || dot == 0) return {name, std::nullopt};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

// The stem lowercased. Only ASCII letters and the Kelvin sign (U+212A, which
// lowercases to "k") can lowercase into an id's alphabet; every other
// character stays as it is and fails the id rule either way.
std::string id_of_stem(std::string_view stem) {
  std::string out;
  for (size_t pos = 0; pos < stem.size();) {
    size_t at = pos;
    char32_t cp = next_code_point(stem, at);
    if (cp == 0x212A) {
      out += 'k';
    } else if (cp < 0x80) {
      out += ascii_lower(static_cast<char>(cp));
    } else {
      out.append(stem.substr(pos, at - pos));
    }
    pos = at;
  }
  return out;
}

std::vector<Vocation> builtin_known() {
  std::vector<Vocation> out;
  for (const auto& [id, text] : builtin_vocations()) {
    if (std::optional<Vocation> v = parse_vocation(id, text)) out.push_back(std::move(*v));
  }
  return out;
}

std::optional<std::vector<std::string>> list_folder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> paths;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    paths.push_back(home_path(folder, std::string(name)));
  }
  closedir(dir);
  return paths;
}

bool folder_exists(const std::string& folder) {
  struct stat st;
  return stat(folder.c_str(), &st) == 0;
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& builtin_vocations() {
  static const std::vector<std::pair<std::string, std::string>> table = [] {
    std::vector<std::pair<std::string, std::string>> out;
    std::optional<JsonValue> parsed = parse_json(kBuiltinVocations);
    if (!parsed || !parsed->is_object()) return out;
    for (const auto& [id, lines] : parsed->items()) {
      if (!lines.is_array()) continue;
      out.emplace_back(id, js_array_join(lines, "\n"));
    }
    return out;
  }();
  return table;
}

std::optional<Vocation> parse_vocation(std::string_view id, std::string_view text) {
  if (!id_pattern.is_match(id)) return std::nullopt;
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::string_view body = text;
  std::optional<std::string> name;
  if (std::optional<screen::Match> front = front_matter_pattern.find(text);
      front && front->start() == 0) {
    for (std::string_view line : split_lines_crlf(front->group(1).value_or(""))) {
      line = js_trim(line);
      std::optional<screen::Match> field = field_pattern.find(line);
      if (!field) continue;
      if (ascii_lower(*field->group(1)) == "name") {
        name = std::string(strip_one_quote(js_trim(*field->group(2))));
      }
    }
    body = text.substr(front->end());
  }
  body = js_trim(body);
  if (body.empty()) return std::nullopt;
  Vocation v;
  v.id = std::string(id);
  v.name = name && !name->empty() ? *name : v.id;
  v.prompt = cut_utf16(body, kPromptLimit);
  return v;
}

std::vector<Vocation> load_vocations(std::vector<std::string> paths) {
  auto name_of = [](const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  std::stable_sort(paths.begin(), paths.end(), [&](const std::string& a, const std::string& b) {
    return utf16_less(name_of(a), name_of(b));
  });
  std::vector<Vocation> out;
  for (const std::string& path : paths) {
    std::string name = name_of(path);
    auto [stem, extension] = stem_and_extension(name);
    if (!extension || ascii_lower(*extension) != "md" || !is_valid_utf8(stem)) continue;
    std::optional<std::string> bytes = read_file(path);
    if (!bytes) continue;
    if (std::optional<Vocation> v = parse_vocation(id_of_stem(stem), utf8_lossy(*bytes))) {
      out.push_back(std::move(*v));
    }
  }
  return out;
}

std::string vocations_folder(const std::string& home) { return home_path(home, "vocations"); }

Result<Vocation> resolve_vocation(const std::string& home, std::string_view id) {
  const std::string folder = vocations_folder(home);
  std::optional<std::vector<std::string>> entries = list_folder(folder);
  std::vector<Vocation> known = entries ? load_vocations(std::move(*entries)) : builtin_known();

  auto found =
      std::find_if(known.begin(), known.end(), [&](const Vocation& v) { return v.id == id; });
  if (found == known.end()) {
    std::vector<std::string> ids;
    for (const Vocation& v : known) ids.push_back(v.id);
    if (!folder_exists(folder)) std::sort(ids.begin(), ids.end());
    return failure(ENOENT, no_vocation(id, ids));
  }
  return *found;
}

Status keep_builtin_vocations(const std::string& home) {
  const std::string folder = vocations_folder(home);
  if (folder_exists(folder)) return ok_status();
  if (Status made = make_directories(folder, 0777); !made) return made;
  for (const auto& [id, text] : builtin_vocations()) {
    std::string path = home_path(folder, id + ".md");
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return os_failure(errno);
    if (Status written = write_all(fd.get(), text + "\n"); !written) return written;
  }
  return ok_status();
}

std::string vocation_prompt(const Vocation& vocation) {
  std::string joined;
  for (std::string_view piece : split_lines_crlf(vocation.prompt)) {
    piece = js_trim(piece);
    if (piece.empty()) continue;
    if (!joined.empty()) joined += ' ';
    joined += piece;
  }
  return "You are a Mossbank resident working as " + vocation.name + ". " + joined;
}

}  // namespace mossbank::run

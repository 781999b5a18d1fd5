#include "run/requests/new_conversation.h"

#include <chrono>

#include "base/json.h"
#include "base/utf8.h"
#include "run/link/posts.h"
#include "screen/box_line.h"

namespace mossbank::run {

namespace {

constexpr size_t kMaxTypedChars = 4000;
// How long an Enter typed by hand waits for the screen to catch up.
constexpr std::chrono::milliseconds kTypedLineScreenWait{1000};

}  // namespace

std::optional<LinePost> typed_line_post(std::string_view agent, std::string_view plain,
                                        std::string_view styled) {
  std::optional<screen::TypedLine> typed = screen::read_typed_line(agent, plain, styled);
  if (!typed) return std::nullopt;
  if (typed->new_conversation) return LinePost{"/command", std::move(typed->line)};
  std::string& line = typed->line;
  size_t end = 0;
  for (size_t chars = 0; end < line.size() && chars < kMaxTypedChars; ++chars)
    next_code_point(line, end);
  line.resize(end);
  return LinePost{"/typed", std::move(line)};
}

bool tell_typed_line(RunShared& run, double now) {
  {
    std::lock_guard lock(run.activity_mutex);
    ActivityRecord& a = run.activity;
    a.village_talk = true;
    a.village_talk_at = now;
    a.echo_state = 2;
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

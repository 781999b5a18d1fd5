#include "run/requests/requests.h"

#include "run/session/activity.h"
#include "run/session/mirror.h"
#include "run/link/posts.h"
#include "run/session/pty_agent.h"
#include "run/requests/typing.h"
#include "screen/agent_profiles.h"
#include "screen/approval.h"
#include "screen/command_line.h"
#include "screen/input_pane.h"
#include "screen/terminal_reader.h"

namespace mossbank::run {

namespace {

bool flag(const JsonValue& command, const char* key) {
  const JsonValue* value = json_member(command, key);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

std::string text_of(const JsonValue& command, const char* key) {
  const JsonValue* value = json_member(command, key);
  return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// True when the daemon took the answer.
bool answer(RunShared& run, std::string_view request_id, std::string_view word) {
  return report_run(run.link, "/talk-result", talk_result_body(request_id, word));
}

void mark_village_talk(RunShared& run) {
  std::optional<JsonValue> body;
  {
    std::lock_guard lock(run.activity_mutex);
    if (auto change = note_village_talk(run.activity, now_ms()))
      body = activity_body(run.activity, *change);
  }
  // The turn already under way is now the village's: it learns so at once.
  if (body && run.poster) run.poster->post("/activity", std::move(*body));
}

ReceiptRead read_box_after_talk(RunShared& run, std::string_view agent, std::string_view text) {
  std::string plain;
  TerminalCursor cursor;
  {
    auto lock = run.lock_current_screen();
    plain = screen_lines(run.screen.terminal);
    cursor = terminal_cursor(run.screen.terminal);
  }
  ReceiptRead read;
  read.text_gone = screen::cursor_at_prompt_start(plain, cursor.col, cursor.row) ||
                   !screen::input_shows_text(plain, text, screen::is_shell_text(text));
  if (read.text_gone) {
    read.working = screen::pane_is_busy(plain);
    if (!read.working) {
      std::lock_guard lock(run.activity_mutex);
      read.working = run.activity.working;
    }
  } else {
    read.question = screen::awaiting_approval(agent, plain);
  }
  return read;
}

// Watches the agent's box (Claude Code's: the agents whose row asks for
// receipts) until the prompt is taken, a question shows or five seconds pass.
Receipt watch_receipt(RunShared& run, const VillageRequest& request, std::string_view agent,
                      std::string_view text) {
  hold_state_briefly(run);
  const auto start = std::chrono::steady_clock::now();
  ReceiptWatch watch;
  for (;;) {
    const bool current = request_still_current(run, request) && !run.gate.interrupt.load();
    const ReceiptRead read = current ? read_box_after_talk(run, agent, text) : ReceiptRead{};
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (std::optional<Receipt> receipt = watch.next(current, read, elapsed)) return *receipt;
    run.waker.sleep_for(ReceiptWatch::kInterval);
  }
}

}  // namespace

bool take_village_request(RunShared& run, const JsonValue& command, std::string_view type) {
  const JsonValue* id = json_member(command, "requestId");
  if (id == nullptr || !id->is_string()) return true;
  const std::string request_id = id->get<std::string>();

  const bool stopping = run.stopping.load();
  if (stopping || run.gate.busy.exchange(true)) {
    if (type == "interrupt") run.gate.interrupt.store(true);
    answer(run, request_id, stopping ? outcome::kUnavailable : outcome::kBusy);
    return true;
  }
  run.gate.interrupt.store(false);
  VillageRequest request;
  request.input_generation = input_generation(run);
  request.command = command;
  request.type = std::string(type);
  request.request_id = request_id;
  RunShared* r = &run;  // the run joins its jobs before it goes
  if (run.jobs.start("village's request",
                     [r, request = std::move(request)] { serve_village_request(*r, request); }))
    return true;
  run.gate.busy.store(false);
  return false;
}

void serve_village_request(RunShared& run, const VillageRequest& request) {
  const JsonValue& command = request.command;
  const std::string& type = request.type;
  std::string word;
  std::string text;
  if (type == "restart") {
    word = serve_restart_request(run, request);
  } else if (type == "interrupt") {
    word = serve_interrupt_request(run, request);
  } else if (type == "keys") {
    word = serve_keys_request(run, request);
  } else {
    text = text_of(command, "text");
    TypingFlags flags{flag(command, "clear"), flag(command, "shell"), flag(command, "force")};
    word = type_into_agent(run, request, text, flags);
  }
  if (type == "interrupt") hold_state_briefly(run);

  bool receipts = false;
  std::string agent;
  if (type == "talk" && word == outcome::kSent) {
    mark_village_talk(run);
    std::lock_guard lock(run.screen_mutex);
    agent = run.screen.agent;
    const screen::AgentProfile* profile = screen::agent_profile(agent);
    receipts = profile != nullptr && profile->receipts;
  }
  if (!receipts) run.gate.busy.store(false);

  const bool taken = answer(run, request.request_id, word);
  if (!receipts) return;
  if (!taken) {
    run.gate.busy.store(false);
    return;
  }
  const Receipt receipt = watch_receipt(run, request, agent, text);
  run.gate.busy.store(false);
  report_run(run.link, "/talk-receipt", talk_receipt_body(request.request_id, receipt));
}

bool request_still_current(RunShared& run, const VillageRequest& request) {
  return !run.stopping.load() && input_generation(run) == request.input_generation;
}

bool type_keys(RunShared& run, std::string_view bytes) {
  {
    std::lock_guard lock(run.activity_mutex);
    note_input(run.activity, now_ms());
  }
  return run.input && run.input->write(bytes);
}

std::optional<Receipt> ReceiptWatch::next(bool current, const ReceiptRead& read,
                                          std::chrono::milliseconds elapsed) {
  if (!current) return Receipt{"unconfirmed", std::nullopt, std::nullopt};
  std::optional<Receipt> candidate;
  if (read.text_gone) {
    candidate = Receipt{"taken", read.working ? std::optional(true) : std::nullopt, std::nullopt};
  } else if (read.question) {
    return Receipt{"untaken", std::nullopt, "question"};
  }
  if (candidate && candidate_) return candidate;
  if (elapsed >= kPatience) {
    if (candidate) return candidate;
    return Receipt{"untaken", std::nullopt, "box"};
  }
  candidate_ = std::move(candidate);
  return std::nullopt;
}

JsonValue talk_result_body(std::string_view request_id, std::string_view outcome_word) {
  JsonValue body = JsonValue::object();
  body["requestId"] = std::string(request_id);
  body["outcome"] = std::string(outcome_word);
  return body;
}

JsonValue talk_receipt_body(std::string_view request_id, const Receipt& receipt) {
  JsonValue body = JsonValue::object();
  body["requestId"] = std::string(request_id);
  body["stage"] = receipt.stage;
  if (receipt.turn) body["turn"] = *receipt.turn;
  if (receipt.where) body["where"] = *receipt.where;
  return body;
}

}  // namespace mossbank::run

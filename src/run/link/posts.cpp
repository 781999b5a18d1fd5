#include "run/link/posts.h"

#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "run/link/link.h"

namespace mossbank::run {

RunAnswer send_run_request(LinkState& link, const Route& route, const std::string& method,
                           const std::string& path, const JsonValue* body) {
  HttpRequest request;
  request.timeout = std::chrono::seconds(2);
  request.method = method;
  request.path = path;
  request.headers = {{std::string(kContentTypeHeader), std::string(kJsonContentType)},
                     {std::string(kTokenHeader), route.token}};
  if (body != nullptr) request.body = to_js_json(*body);
  request.port = route.port;
  HttpResponse response = send_pooled(link.pool, request);
  if (const auto* reply = std::get_if<HttpReply>(&response)) return {true, reply->status};
  return {};
}

bool report_run(LinkState& link, std::string_view suffix, const JsonValue& body) {
  if (link.closed.load()) return false;
  if (village_off(link.home)) return false;
  std::optional<Route> route = link.copy_route();
  if (!route) return false;
  RunAnswer answer = send_run_request(link, *route, "POST", run_path(link.run_id, suffix), &body);
  if (answer.answered && answer.status == kStatusUnauthorized) {
    // The daemon no longer knows our token: the link proves it again at once.
    link.set_route(std::nullopt);
    shut_command_stream(link);
  }
  return answer.answered && is_success(answer.status);
}

void note_worker_stopped(RunShared& run, std::string_view what, std::string_view why) {
  run.notes.update([&](WorkerNotes& notes) {
    if (!notes.end_reason)
      notes.end_reason = "its " + std::string(what) + " stopped: " + std::string(why);
  });
  if (run.agent) run.agent->kill(false);
}

void note_worker_failed(RunShared& run, std::string_view what, std::string_view why) {
  const std::string prefix = "its " + std::string(what) + " failed: ";
  run.notes.update([&](WorkerNotes& notes) {
    for (const std::string& note : notes.failures)
      if (note.starts_with(prefix)) return;
    notes.failures.push_back(prefix + std::string(why));
  });
}

Poster::Poster(LinkState& link) : link_(link), thread_([this] { loop(); }) {}

Poster::~Poster() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Poster::post(const std::string& suffix, JsonValue body) {
  {
    std::lock_guard lock(mutex_);
    waiting_[suffix] = std::move(body);
  }
  changed_.notify_all();
}

void Poster::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stop_ || (waiting_.empty() && !sending_); });
}

void Poster::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stop_ || !waiting_.empty(); });
    if (stop_) return;
    auto first = waiting_.begin();
    std::string suffix = first->first;
    JsonValue body = std::move(first->second);
    waiting_.erase(first);
    sending_ = true;
    lock.unlock();
    report_run(link_, suffix, body);
    lock.lock();
    sending_ = false;
    changed_.notify_all();
  }
}

}  // namespace mossbank::run

#include "run/link/link.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "daemon/chunked.h"
#include "daemon/config.h"
#include "daemon/daemon_api.h"
#include "daemon/home.h"
#include "daemon/http_client.h"
#include "daemon/proof.h"
#include "run/link/commands.h"
#include "run/link/posts.h"
#include "run/link/sse.h"
#include "platform/sockets.h"

namespace mossbank::run {

namespace {

using std::chrono::milliseconds;

constexpr size_t kReadSize = 8192;
// A chunk of the command stream above this ends the stream as an error.
constexpr uint64_t kMaxChunk = 0x100000;

bool village_owned(RunShared& run) {
  std::lock_guard lock(run.registration_mutex);
  auto it = run.registration.find("villageOwned");
  return it != run.registration.end() && it->is_boolean() && it->get<bool>();
}

// The village was switched off from the tray, for a run the village owns.
bool tray_stopped(RunShared& run) {
  if (!village_off(run.link.home) || !village_owned(run)) return false;
  std::optional<std::string> text = read_file(home_path(run.link.home, "village-off"));
  if (!text) return false;
  std::optional<JsonValue> marker = parse_json(*text);
  if (!marker || !marker->is_object()) return false;
  auto by = marker->find("by");
  return by != marker->end() && by->is_string() && by->get_ref<const std::string&>() == "tray";
}

// The command stream's body, after what came with the head: one read of
// up to kReadSize bytes at a time; empty at its end, none on an error (the
// read time-out included).
std::optional<std::string> read_some(int fd, std::string& rest) {
  if (!rest.empty()) return std::exchange(rest, std::string());
  char chunk[kReadSize];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    return std::string(chunk, static_cast<size_t>(n));
  }
}

// Puts a duplicate of the stream's socket in the stream slot (or -1).
void fill_stream_slot(LinkState& link, int fd) {
  Result<UniqueFd> copy = platform::duplicate_fd(fd);
  std::lock_guard lock(link.stream_mutex);
  link.command_stream_fd = copy ? std::move(*copy) : UniqueFd();
}

void empty_stream_slot(LinkState& link) {
  std::lock_guard lock(link.stream_mutex);
  link.command_stream_fd.reset();
}

class Attempt {
 public:
  Attempt(RunShared& run, const LinkSettings& settings) : run_(run), settings_(settings) {}

  // Steps of one attempt up to the stream's end; a failure text when the
  // handling of an event failed and the link must end.
  Status run() {
    LinkState& link = run_.link;
    if (link.closed.load() || village_off(link.home)) return ok_status();
    std::optional<DaemonConfig> config = read_config(link.home);
    if (!config) return ok_status();
    if (!daemon_proves_itself(config->port, config->token)) return ok_status();
    // The proof takes a while; a run that ended or detached meanwhile
    // registers nothing.
    if (link.stop.load() || link.closed.load()) return ok_status();
    Route route{config->port, config->token};
    link.set_route(route);

    JsonValue registration;
    {
      std::lock_guard lock(run_.registration_mutex);
      registration = run_.registration;
    }
    RunAnswer answer = send_run_request(link, route, "POST", std::string(kRunsPath), &registration);
    if (!answer.answered || !is_success(answer.status)) return ok_status();
    {
      std::lock_guard lock(link.route_mutex);
      link.registered = route;
    }

    const std::optional<std::string> head =
        request_head("GET", run_path(link.run_id, "/commands"), route.port,
                     {{"accept", "text/event-stream"}, {std::string(kTokenHeader), route.token}});
    if (!head) return ok_status();
    auto connected = connect_loopback(route.port, settings_.connect_timeout);
    auto* socket = std::get_if<UniqueFd>(&connected);
    if (socket == nullptr) return ok_status();
    UniqueFd stream = std::move(*socket);
    // In the slot before anything can block on the socket: the run's end
    // sets the stop flag and then shuts what the slot holds.
    fill_stream_slot(link, stream.get());
    if (link.stop.load()) return ok_status();

    if (!send_all(stream.get(), *head)) return ok_status();
    if (!set_read_timeout(stream.get(), settings_.read_timeout)) return ok_status();
    std::optional<StreamHead> answer_head = read_response_head(stream.get());
    if (!answer_head || answer_head->head.status != 200) return ok_status();
    bool chunked = false;
    for (const auto& [name, value] : answer_head->head.headers)
      if (name == "transfer-encoding" && ascii_lower(value).find("chunked") != std::string::npos)
        chunked = true;
    return read_body(stream.get(), std::move(answer_head->rest), chunked);
  }

  bool saw_ready() const { return saw_ready_; }

 private:
  enum class Next { go_on, end };

  Status read_body(int fd, std::string rest, bool chunked) {
    ChunkedDecoder body(ChunkedRules::stream(kMaxChunk));
    std::string data;
    for (;;) {
      std::optional<std::string> bytes = read_some(fd, rest);
      if (!bytes || bytes->empty()) return ok_status();
      if (!chunked) {
        if (deliver(*bytes) == Next::end) return std::move(failure_);
        continue;
      }
      data.clear();
      const ChunkedDecoder::Status status = body.feed(*bytes, data);
      if (!data.empty() && deliver(data) == Next::end) return std::move(failure_);
      if (status != ChunkedDecoder::Status::more) return ok_status();
    }
  }

  // Feeds the parser and dispatches the events completed, in order.
  Next deliver(std::string_view bytes) {
    if (run_.link.stop.load()) return Next::end;
    events_.clear();
    const bool fed = parser_.feed(bytes, events_);
    for (const SseEvent& event : events_)
      if (dispatch(event) == Next::end) return Next::end;
    return fed ? Next::go_on : Next::end;  // an event past the bound: a failed attempt
  }

  Next dispatch(const SseEvent& event) {
    LinkState& link = run_.link;
    if (event.name == "command") {
      if (link.stop.load()) return Next::go_on;
      std::optional<JsonValue> command = parse_json(event.data);
      if (!command || link.closed.load()) return Next::go_on;
      if (village_off(link.home) && !(is_stop(*command) && village_owned(run_))) return Next::go_on;
      return hand_over(link_event::Command{std::move(*command)});
    }
    if (event.name == "ready") {
      saw_ready_ = true;
      return hand_over(link_event::Ready{});
    }
    if (event.name == "unknown-run") return Next::end;
    return Next::go_on;
  }

  Next hand_over(const LinkEvent& event) {
    failure_ = settings_.handle(run_, event);
    return failure_ ? Next::go_on : Next::end;
  }

  static bool is_stop(const JsonValue& command) {
    if (!command.is_object()) return false;
    auto type = command.find("type");
    return type != command.end() && type->is_string() &&
           type->get_ref<const std::string&>() == "stop";
  }

  RunShared& run_;
  const LinkSettings& settings_;
  SseParser parser_;
  std::vector<SseEvent> events_;
  bool saw_ready_ = false;
  Status failure_;  // what ended the stream, when handling an event failed
};

}  // namespace

Status run_link(RunShared& run, const LinkSettings& given) {
  LinkSettings settings = given;
  if (!settings.handle) settings.handle = handle_command;
  if (!settings.pause) {
    settings.pause = [](RunShared& r, milliseconds delay) {
      return !r.waker.wait_for(delay, [&r] { return r.link.stop.load(); }) && !r.waker.ended();
    };
  }
  LinkState& link = run.link;
  size_t counter = 0;
  while (!link.stop.load()) {
    if (tray_stopped(run)) {
      JsonValue stop = JsonValue::object();
      stop["type"] = "stop";
      return settings.handle(run, link_event::Command{std::move(stop)});
    }
    Attempt attempt(run, settings);
    Status ended = attempt.run();
    if (attempt.saw_ready()) counter = 0;
    empty_stream_slot(link);
    link.set_route(std::nullopt);
    if (!ended) return ended;
    if (link.stop.load()) break;
    if (Status dropped = settings.handle(run, link_event::Dropped{}); !dropped) return dropped;
    if (!settings.pause(run, settings.delays[std::min<size_t>(counter, 3)])) break;
    ++counter;
  }
  return ok_status();
}

void stop_link(RunShared& run) {
  run.link.stop.store(true);
  shut_command_stream(run.link);
  run.waker.notify();
}

std::optional<Route> registered_route(LinkState& link) {
  std::lock_guard lock(link.route_mutex);
  return link.registered;
}

void shut_command_stream(LinkState& link) {
  std::lock_guard lock(link.stream_mutex);
  if (link.command_stream_fd) ::shutdown(link.command_stream_fd.get(), SHUT_RDWR);
}

}  // namespace mossbank::run

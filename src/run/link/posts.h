// The run's reports to the village daemon.
//
// report_run posts a JSON body to /api/runs/<id><suffix> while the link holds
// a proven daemon (a route); true when the daemon answered 2xx. A 401 clears
// the route and shuts the command stream, so that the link proves the daemon
// again at once. send_run_request sends
// any request of the run with its headers and a 2 s time-out on the run's
// pooled connection. Nothing is queued or retried.
//
// Poster keeps only the latest body per suffix (activity, colours) and sends
// it from a thread of its own, so the output pump and the keys never wait
// for the daemon; a newer body replaces one not yet sent.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/json.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

struct RunAnswer {
  bool answered = false;
  uint16_t status = 0;
};

RunAnswer send_run_request(LinkState& link, const Route& route, const std::string& method,
                           const std::string& path, const JsonValue* body);

bool report_run(LinkState& link, std::string_view suffix, const JsonValue& body);

// The run's notes about its workers (texts exact).
void note_worker_stopped(RunShared& run, std::string_view what, std::string_view why);
void note_worker_failed(RunShared& run, std::string_view what, std::string_view why);

class Poster {
 public:
  explicit Poster(LinkState& link);
  ~Poster();  // sends nothing more; joins the thread
  Poster(const Poster&) = delete;
  Poster& operator=(const Poster&) = delete;

  // Replaces what waits for `suffix` with `body` and wakes the thread.
  void post(const std::string& suffix, JsonValue body);
  // Waits until nothing waits and nothing is being sent (tests and the end).
  void drain();

 private:
  void loop();

  LinkState& link_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, JsonValue> waiting_;
  bool sending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace mossbank::run

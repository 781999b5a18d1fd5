#include "base/threads.h"

#include <exception>
#include <system_error>

namespace mossbank {

namespace {

// The failure's text, when the body failed or threw.
std::optional<std::string> run_caught(const std::function<Status()>& body) {
  try {
    Status status = body();
    if (status) return std::nullopt;
    return std::move(status.text);
  } catch (const std::exception& e) {
    return std::string(e.what());
  } catch (...) {
    return std::string("a panic");
  }
}

}  // namespace

std::optional<std::thread> start_thread(std::string name, std::function<Status()> body,
                                        ThreadFailure failed) {
  try {
    return std::thread(
        [name = std::move(name), body = std::move(body), failed = std::move(failed)] {
          std::optional<std::string> failure = run_caught(body);
          if (failure && failed) failed(name, *failure);
        });
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

bool JobThreads::start(std::string name, std::function<void()> body) {
  std::lock_guard lock(mutex_);
  const uint64_t id = next_id_++;
  try {
    // The job's thread waits for this lock in ended(), so it is always in
    // running_ before it looks for itself there.
    running_.emplace(
        id, std::thread([this, id, name = std::move(name), body = std::move(body)]() mutable {
          {
            std::function<void()> job = std::move(body);
            std::optional<std::string> failure = run_caught([&] {
              job();
              return ok_status();
            });
            if (failure && failed_) failed_(name, *failure);
          }  // the job's captures go before it counts as ended
          ended(id);
        }));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void JobThreads::ended(uint64_t id) {
  std::vector<std::thread> earlier;
  {
    std::lock_guard lock(mutex_);
    auto it = running_.find(id);
    if (it == running_.end()) return;  // join_all has taken it
    earlier.swap(ended_);
    ended_.push_back(std::move(it->second));
    running_.erase(it);
  }
  // Each of these has done all but return: the joins are short.
  for (std::thread& t : earlier) t.join();
}

void JobThreads::join_all() {
  for (;;) {
    std::vector<std::thread> taken;
    {
      std::lock_guard lock(mutex_);
      taken.swap(ended_);
      for (auto& [id, thread] : running_) taken.push_back(std::move(thread));
      running_.clear();
    }
    if (taken.empty()) return;
    for (std::thread& t : taken)
      if (t.joinable()) t.join();
  }
}

size_t JobThreads::unjoined() const {
  std::lock_guard lock(mutex_);
  return running_.size() + ended_.size();
}

}  // namespace mossbank

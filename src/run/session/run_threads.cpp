#include "run/session/run_threads.h"

#include <algorithm>

namespace mossbank::run {

RunThreads::~RunThreads() {
  if (!threads_.empty() && unwind_) unwind_();
  join_all();
}

bool RunThreads::start(std::string name, std::function<Status()> body, ThreadFailure failed) {
  std::optional<std::thread> thread = start_thread(name, std::move(body), failed);
  if (!thread) {
    if (failed) failed(name, "no thread could be started");
    return false;
  }
  threads_.emplace_back(std::move(name), std::move(*thread));
  return true;
}

void RunThreads::join(std::string_view name) {
  auto it = std::find_if(threads_.begin(), threads_.end(),
                         [&](const auto& held) { return held.first == name; });
  if (it == threads_.end()) return;
  it->second.join();
  threads_.erase(it);
}

void RunThreads::join_all() {
  while (!threads_.empty()) {
    threads_.back().second.join();
    threads_.pop_back();
  }
}

std::vector<std::string> RunThreads::names() const {
  std::vector<std::string> out;
  for (const auto& held : threads_) out.push_back(held.first);
  return out;
}

}  // namespace mossbank::run

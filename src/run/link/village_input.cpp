#include "run/link/village_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

#include "run/session/pty_agent.h"

namespace mossbank::run {

VillageInputWriter::VillageInputWriter() {
  int fds[2];
  if (::pipe(fds) != 0) return;  // then a write in progress is waited for at the end
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  cancel_read_ = UniqueFd(fds[0]);
  cancel_write_ = UniqueFd(fds[1]);
}

VillageInputWriter::~VillageInputWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    pending_.clear();
    pending_bytes_ = 0;
  }
  changed_.notify_all();
  if (cancel_write_) {
    const char byte = 0;
    ssize_t ignored = ::write(cancel_write_.get(), &byte, 1);
    (void)ignored;
  }
  if (thread_.joinable()) thread_.join();
}

bool VillageInputWriter::write(std::shared_ptr<AgentInput> input, std::string bytes) {
  if (!input || bytes.empty()) return true;
  std::lock_guard lock(mutex_);
  if (stop_) return true;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  if (pending_bytes_ + bytes.size() > kMaxPendingInput) return true;
  pending_bytes_ += bytes.size();
  pending_.push_back(Piece{std::move(input), std::move(bytes)});
  changed_.notify_all();
  return true;
}

void VillageInputWriter::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || (pending_.empty() && !writing_); });
}

void VillageInputWriter::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    Piece piece = std::move(pending_.front());
    pending_.pop_front();
    pending_bytes_ -= piece.bytes.size();
    writing_ = true;
    lock.unlock();
    piece.input->write(piece.bytes, cancel_read_ ? cancel_read_.get() : -1);
    piece = Piece{};
    lock.lock();
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace mossbank::run

// The village's typing, written to the agent on a thread of its own: the
// link hands each `input` over and goes on at once, so that a `stop`, a
// `resize` or a `watch` never waits behind an agent that has stopped
// reading. The bytes reach the agent in the order they were handed over.
//
// What waits is bounded (kMaxPendingInput bytes; later input is dropped
// while that much waits), and what still waits when the writer is dropped
// (at the run's end) is dropped with it, the write in progress included.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/unique_fd.h"

namespace mossbank::run {

class AgentInput;

inline constexpr size_t kMaxPendingInput = 16u << 20;

class VillageInputWriter {
 public:
  VillageInputWriter();
  ~VillageInputWriter();
  VillageInputWriter(const VillageInputWriter&) = delete;
  VillageInputWriter& operator=(const VillageInputWriter&) = delete;

  // Queues `bytes` for `input`; false only when the writer's thread could
  // not be started. Input past the bound is dropped (true all the same).
  bool write(std::shared_ptr<AgentInput> input, std::string bytes);

  // Waits until everything handed over has been written (tests).
  void drain();

 private:
  struct Piece {
    std::shared_ptr<AgentInput> input;
    std::string bytes;
  };
  void loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Piece> pending_;
  size_t pending_bytes_ = 0;
  bool writing_ = false;
  bool stop_ = false;
  std::thread thread_;
  UniqueFd cancel_read_;  // readable once the writer is dropped
  UniqueFd cancel_write_;
};

}  // namespace mossbank::run

// The run's publisher: the frames of the agent's output, sizes and
// snapshots go to at most one subscriber (the output stream), or wait in a
// bounded backlog while a stream is being replaced.
//
// Everything here is read and changed under RunShared::publisher_mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/link/frames.h"

namespace mossbank::run {

// The attached output stream as the publisher sees it.
class Subscriber {
 public:
  virtual ~Subscriber() = default;
  // Queues encoded bytes for the stream's writer; dropped once its channel
  // is closed. The queued-bytes count rises by their length.
  virtual void send(std::string bytes) = 0;
  // Bytes queued and not yet written.
  virtual uint64_t queued_bytes() const = 0;
  // Shuts the stream's socket down in both directions.
  virtual void shutdown() = 0;
  // Closes the channel: the writer ends the body once the queue is written.
  virtual void close_channel() = 0;
};

inline constexpr uint64_t kBacklogLimit = 8u << 20;

struct Publisher {
  std::shared_ptr<Subscriber> subscriber;
  std::optional<std::vector<Frame>> backlog;
  uint64_t backlog_size = 0;
  uint64_t limit = kBacklogLimit;
  uint64_t published = 0;  // data bytes published so far
  uint32_t size_frames = 0;
  // The output stream's part.
  bool opening = false;
  bool retry_pending = false;
  uint32_t retry_count = 0;
  bool enabled = false;  // the village watches
  bool closed = false;   // the run ends
  std::shared_ptr<Subscriber> retiring;
  uint64_t generation = 0;
  uint64_t backlog_start = 0;
  std::optional<std::pair<uint16_t, uint16_t>> last_size;  // cols, rows

  // A frame published now goes somewhere: to the subscriber or the backlog.
  bool takes_frames() const { return subscriber || backlog; }
};

struct RunShared;

// Under the publisher lock: hands the frame to the subscriber, or keeps it
// in the backlog (dropped whole once it passes kBacklogLimit), or drops it.
void publish_frame(RunShared& run, Frame frame);
// Under the publisher lock: encodes and queues the frame for the attached
// subscriber; one that falls more than the limit behind is cut off and a
// new stream is tried later.
void send_frame(RunShared& run, const Frame& frame);

}  // namespace mossbank::run

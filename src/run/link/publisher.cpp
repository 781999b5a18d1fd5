#include "run/link/publisher.h"

#include "run/link/output_stream.h"
#include "run/session/run_shared.h"

namespace mossbank::run {

void publish_frame(RunShared& run, Frame frame) {
  Publisher& p = run.publisher;
  if (p.subscriber) {
    send_frame(run, frame);
    return;
  }
  if (p.backlog) {
    p.backlog_size += frame.accounted_size();
    p.backlog->push_back(std::move(frame));
    if (p.backlog_size > kBacklogLimit) {
      p.backlog.reset();
      p.backlog_size = 0;
    }
  }
}

void send_frame(RunShared& run, const Frame& frame) {
  Publisher& p = run.publisher;
  if (!p.subscriber) return;
  if (frame.kind == 'S') ++p.size_frames;
  std::shared_ptr<Subscriber> subscriber = p.subscriber;
  subscriber->send(encode_frame(frame));
  if (subscriber->queued_bytes() > p.limit) {
    p.subscriber.reset();
    subscriber->shutdown();
    schedule_stream_retry(run);
  }
}

}  // namespace mossbank::run

// The run's output stream to the daemon: one chunked POST per stream,
// opened when the village watches, retired every 240 s, retried after
// failures.
#pragma once

namespace mossbank::run {

struct RunShared;

// Under the publisher lock: a retry after the next delay, once per failure.
void schedule_stream_retry(RunShared& run);

}  // namespace mossbank::run

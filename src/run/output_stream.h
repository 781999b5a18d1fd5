// The run's output stream to the daemon: one chunked POST per stream,
// opened when the village watches, retired every 240 s, retried after
// failures.
#pragma once

namespace mossbank::run {

struct RunShared;

// Under the publisher lock: a retry after the next delay, once per failure.
void schedule_stream_retry(RunShared& run);
// Under the publisher lock: a stream opens at once unless one is attached,
// opening or retiring, or the publisher is closed or not watched.
void request_stream_open(RunShared& run);

// Takes the stream slot's socket out and shuts it down and closes it (the
// run ends, or it lets go of the village).
void close_output_stream(RunShared& run);

}  // namespace mossbank::run

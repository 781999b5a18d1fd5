#include "run/output_stream.h"

#include "run/run_shared.h"

namespace mossbank::run {

void schedule_stream_retry(RunShared&) {}
void request_stream_open(RunShared&) {}

void close_output_stream(RunShared&) {}

}  // namespace mossbank::run

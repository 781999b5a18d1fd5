#include "run/output_stream.h"

#include "run/run_shared.h"

namespace mossbank::run {

void schedule_stream_retry(RunShared&) {}

}  // namespace mossbank::run

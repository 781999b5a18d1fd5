#include "run/start/direct.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/process.h"
#include "run/start/environment.h"
#include "run/start/messages.h"

namespace mossbank::run {

uint8_t run_agent_directly(const std::string& program_path, const std::vector<std::string>& args,
                           const RunInvocation& invocation) {
  std::vector<std::string> argv{program_path};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::vector<std::string> envp =
      env_entries(run_env_without_own(invocation.environment, false));
  Status failed;
  if (!invocation.current_dir.empty() && chdir(invocation.current_dir.c_str()) != 0) {
    failed = os_failure(errno);
  } else {
    std::fflush(stdout);
    failed = platform::exec_with_default_signals(program_path, argv, envp);
  }
  eprint(couldnt_start(program_path, failed));
  return 1;
}

}  // namespace mossbank::run

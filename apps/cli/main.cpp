#include <csignal>

#include "cli/cli.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  return mossbank::cli::cli_main(argc, argv);
}

// Runs a built program the way the spooler does: arguments, standard input
// bytes, environment additions; captures standard output, error and status.
#pragma once

#include <string>
#include <vector>

namespace run_process {

struct result {
  int exit_status = -1;  // exit code, or -1 when the process did not exit normally
  int signal = 0;        // the signal that ended it, if any
  std::string out;
  std::string err;
};

struct request {
  std::vector<std::string> argv;  // argv[0] is what the program sees as its name
  std::string program;            // path to execute
  std::string stdin_bytes;
  std::vector<std::string> env;  // "NAME=value" entries set on top of the caller's
  std::vector<std::string> unset_env;
  unsigned long long address_space_limit = 0;  // bytes of address space, 0 for no limit
};

/// Runs the program to completion. Standard input is fed from a pipe while
/// output is drained, so large streams in either direction cannot deadlock.
result run(const request& req);

}  // namespace run_process

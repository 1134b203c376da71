// A private CUPS scheduler for tests: its own ServerRoot, spool, logs and
// server directory in a temporary directory, listening only on a socket
// there, so it never touches the system's /etc/cups or its queues.
#pragma once

#include <cups/cups.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/cups/cups_harness.h"
#include "tests/support/run_process.h"

namespace cups_harness {

struct job_status {
  int state = 0;  // ipp_jstate_t; 0 when the job could not be asked for
  std::string printer_state_message;
};

struct printer_status {
  int state = 0;  // ipp_pstate_t
  std::string state_message;
};

class private_cupsd {
 public:
  private_cupsd() = default;
  ~private_cupsd();
  private_cupsd(const private_cupsd&) = delete;
  private_cupsd& operator=(const private_cupsd&) = delete;

  /// Writes the configuration and starts cupsd in the foreground of a child
  /// process; false with `error` set when it does not come up. A non-empty
  /// `data_dir` replaces the system's CUPS data directory (its model/ is where
  /// the driver listing looks first).
  [[nodiscard]] bool start(std::string* error, const std::string& data_dir = "");
  void stop();

  const std::string& dir() const { return dir_.path(); }
  std::string socket() const { return dir_.path() + "/cups.sock"; }
  std::string error_log() const { return read_file(dir_.path() + "/log/error_log"); }

  /// Runs a CUPS client program (lp, lpadmin, lpstat, ...) against this server.
  run_process::result client(const std::string& program, std::vector<std::string> args) const;

  /// Submits `file` with lp; the job id, or 0 with `error` set.
  int submit(const std::string& queue, const std::vector<std::string>& lp_args,
             const std::string& file, std::string* error) const;

  job_status job(int job_id) const;
  printer_status printer(const std::string& queue) const;

  /// Waits until the job is completed, canceled, aborted or stopped.
  job_status wait_for_job(int job_id, int timeout_ms) const;

 private:
  /// Sends `request` (which it frees) to the server; the response, or null.
  ipp_t* ask(ipp_t* request, const char* resource) const;

  temp_dir dir_;
  pid_t pid_ = -1;
};

}  // namespace cups_harness

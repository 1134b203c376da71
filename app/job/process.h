// What every document path of a job shares: the printer's device as the
// label core's output, ending a job with a message users see, and the guard
// that keeps a C++ exception from crossing into PAPPL, which is C: one would
// end the whole server and every printer with it.
#pragma once

#include <pappl/pappl.h>

#include <exception>
#include <new>
#include <vector>

#include "log/log.h"
#include "render/render.h"

/// The label core's output on a job's PAPPL device (USB, socket, file): the
/// labels written are held until flush, then sent one by one through the
/// printer's journal (app/job/journal.h).
class device_output final : public label_output {
 public:
  device_output(pappl_job_t* job, pappl_device_t* device) : job_(job), device_(device) {}
  [[nodiscard]] bool write(const void* data, size_t size) override;
  [[nodiscard]] bool flush() override;

 private:
  pappl_job_t* job_;
  pappl_device_t* device_;
  std::vector<uint8_t> labels_;
};

/// Logs `message` and makes it the job's job-state-message; returns false,
/// which makes PAPPL abort the job and go on with the next one.
bool abort_job(pappl_job_t* job, const char* message);

/// Logs `message` as a warning and makes it the job's job-state-message: a
/// page printed otherwise than sent (fitted onto the label).
void tell_job(pappl_job_t* job, const char* message);

/// As abort_job, with the message "message: detail".
bool abort_job(pappl_job_t* job, const char* message, const char* detail);

/// Makes a document sent with `client`'s request end where the request's body
/// ends. Reading a streamed raster document, libcups waits up to 60 s for
/// bytes after the last one, so a page cut short would hold its printer that
/// long; a client that sends nothing for 60 s is still dropped.
void end_document_with_request(pappl_client_t* client);

/// A `log_sink` that writes the label core's lines to the job's log (debug).
void log_to_job(void* job, const char* message);

/// Runs a job callback's `body` (returning bool): an exception ends the job
/// with a message, and the server goes on. The label core logs to the job.
template <typename Body>
bool guard_job(pappl_job_t* job, Body&& body) noexcept {
  const thread_log_sink core_log(log_to_job, job);
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return abort_job(job, kNoMemoryMessage);
  } catch (const std::exception& e) {
    return abort_job(job, "Unable to print the job", e.what());
  } catch (...) {
    return abort_job(job, "Unable to print the job");
  }
}

/// Runs any other PAPPL callback's `body`: an exception gives `fallback`.
template <typename Result, typename Body>
Result guard_callback(Result fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

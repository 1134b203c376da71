// What every document path of a job shares: the printer's device as the
// label core's output, and ending a job with a message users see.
#pragma once

#include <pappl/pappl.h>

#include "render/render.h"

/// The label core's output on a PAPPL device (USB, socket, file).
class device_output final : public label_output {
 public:
  explicit device_output(pappl_device_t* device) : device_(device) {}
  [[nodiscard]] bool write(const void* data, size_t size) override;
  [[nodiscard]] bool flush() override;

 private:
  pappl_device_t* device_;
};

/// Logs `message` and makes it the job's job-state-message; returns false,
/// which makes PAPPL abort the job and go on with the next one.
bool fail_job(pappl_job_t* job, const char* message);

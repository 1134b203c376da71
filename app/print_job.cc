#include "app/print_job.h"

bool device_output::write(const void* data, size_t size) {
  return size == 0 || papplDeviceWrite(device_, data, size) == static_cast<ssize_t>(size);
}

bool device_output::flush() {
  papplDeviceFlush(device_);
  return true;
}

bool fail_job(pappl_job_t* job, const char* message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  return false;
}

bool fail_job(pappl_job_t* job, const char* message, const char* detail) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", message, detail);
  papplJobSetMessage(job, "%s: %s", message, detail);
  return false;
}

#include "app/job/process.h"

#include <sys/socket.h>

#include <cstring>

#include "app/job/journal.h"
#include "render/stream_parser.h"

namespace {

constexpr int kIdleSeconds = 60;

// How long the request being read on this thread has sent nothing.
struct idle_request {
  http_t* http = nullptr;
  size_t remaining = 0;
  int seconds = 0;
};
thread_local idle_request t_idle;

// Called after each second without data: once the body is all in, the
// reading ends there; before that, a client idle for a minute is dropped.
int on_read_timeout(http_t* http, void* /*data*/) {
  if (httpGetState(http) == HTTP_STATE_POST_SEND) {
    ::shutdown(httpGetFd(http), SHUT_RD);
    return 1;
  }
  const size_t remaining = httpGetRemaining(http);
  if (t_idle.http != http || t_idle.remaining != remaining) t_idle = {http, remaining, 0};
  return ++t_idle.seconds < kIdleSeconds;
}

}  // namespace

void end_document_with_request(pappl_client_t* client) {
  httpSetTimeout(papplClientGetHTTP(client), 1.0, on_read_timeout, nullptr);
}

bool device_output::write(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  labels_.insert(labels_.end(), bytes, bytes + size);
  return true;
}

// The label writer's bytes are whole label sequences; the reader finds where
// each one's payload lies for the journal.
bool device_output::flush() {
  std::vector<label_stream::page> pages;
  label_stream::parse_error error;
  bool sent = label_stream::parse_stream(labels_, &pages, &error);
  for (const label_stream::page& page : pages) {
    if (!sent) break;
    const label_bytes label{page.length, page.payload_offset - page.offset, page.payload.size(),
                            [&](uint64_t offset, uint8_t* data, size_t size) {
                              std::memcpy(data, labels_.data() + page.offset + offset, size);
                              return true;
                            }};
    sent = send_label(job_, device_, label);
  }
  labels_.clear();
  papplDeviceFlush(device_);
  return sent;
}

void log_to_job(void* job, const char* message) {
  papplLogJob(static_cast<pappl_job_t*>(job), PAPPL_LOGLEVEL_DEBUG, "%s", message);
}

bool abort_job(pappl_job_t* job, const char* message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  return false;
}

void tell_job(pappl_job_t* job, const char* message) {
  papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", message);
  papplJobSetMessage(job, "%s", message);
}

bool abort_job(pappl_job_t* job, const char* message, const char* detail) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", message, detail);
  papplJobSetMessage(job, "%s: %s", message, detail);
  return false;
}

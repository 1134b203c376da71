// A job's document arriving. PAPPL 1.3.1's _papplJobCopyDocumentData
// (pappl/job-ipp.c) ends a job it cannot take (a raster sent while its printer
// prints or holds new jobs, a client gone mid-upload, a full spool) holding its
// printer's lock while it waits for the system's: the reverse of the order in
// which a state save, a job clean-up or a printer list takes them, so the
// server can freeze for good. libpappl reaches the function through the
// program's symbol table, and lblprinter defines it here: a raster waits for
// its printer's turn and then goes to PAPPL's own, which then has no reason
// to refuse it; any other document is spooled here, and a job that cannot be
// received ends through papplJobCancel, which takes the printer's lock alone.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/job/gate.h"

// libpappl's own, exported though its public headers do not declare them.
extern "C" {
void _papplClientFlushDocumentData(pappl_client_t* client);
void _papplJobSubmitFile(pappl_job_t* job, const char* filename);
void _papplJobCopyAttributesNoLock(pappl_job_t* job, pappl_client_t* client, cups_array_t* wanted);
}

namespace {

int by_name(void* a, void* b, void* /*data*/) {
  return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

// The job attributes PAPPL answers a Print-Job or Send-Document with.
void answer_with_job(pappl_client_t* client, pappl_job_t* job) {
  cups_array_t* wanted = cupsArrayNew(by_name, nullptr);
  for (const char* name :
       {"job-id", "job-state", "job-state-message", "job-state-reasons", "job-uri"})
    cupsArrayAdd(wanted, const_cast<char*>(name));
  _papplJobCopyAttributesNoLock(job, client, wanted);
  cupsArrayDelete(wanted);
}

bool has_ended(pappl_job_t* job) { return papplJobGetState(job) > IPP_JSTATE_HELD; }

// The client hears why; the rest of its document is read and dropped, and
// the job ends (unless it was cancelled meanwhile) with the reason as its
// message.
void refuse(pappl_client_t* client, pappl_job_t* job, ipp_status_t status, const std::string& why) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  papplClientRespondIPP(client, status, "%s", why.c_str());
  _papplClientFlushDocumentData(client);
  if (!has_ended(job)) {
    papplJobSetMessage(job, "%s", why.c_str());
    papplJobCancel(job);
  }
  answer_with_job(client, job);
}

std::string with_error(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Copies the document into the job's spool file; an empty `why` on success.
std::string spool(pappl_client_t* client, pappl_job_t* job, std::string& filename) {
  char name[1024];
  const int fd = papplJobOpenFile(job, name, sizeof name, nullptr, nullptr, "w");
  if (fd < 0) return with_error("Unable to create print file", errno);
  http_t* http = papplClientGetHTTP(client);
  char buffer[16384];
  ssize_t bytes;
  unsigned long total = 0;
  std::string why;
  while (why.empty() && (bytes = httpRead2(http, buffer, sizeof buffer)) > 0) {
    if (!write_all(fd, buffer, static_cast<std::size_t>(bytes)))
      why = with_error("Unable to write print file", errno);
    total += static_cast<unsigned long>(bytes);
  }
  // libcups ends a body whose client went away early as it ends a whole one,
  // and notes the error.
  if (why.empty() && (bytes < 0 || httpError(http) != 0)) why = "Unable to read print file.";
  if (::close(fd) != 0 && why.empty()) why = with_error("Unable to write print file", errno);
  if (!why.empty()) {
    ::unlink(name);
    return why;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Received %lu bytes of document data.", total);
  filename = name;
  return why;
}

bool is_streamed(const char* format) {
  return format != nullptr &&
         (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

// PAPPL's own prints the raster as it reads it; with the printer's gate held
// no job is printing, so it neither refuses the raster nor shares the device.
void print_stream(pappl_client_t* client, pappl_job_t* job) {
  using copy = void (*)(pappl_client_t*, pappl_job_t*);
  static const auto pappl_copy =
      reinterpret_cast<copy>(next_definition("_papplJobCopyDocumentData"));
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (!enter_printer_for_stream(job))
    return refuse(client, job, IPP_STATUS_ERROR_BUSY, "The server is stopping.");
  if (has_ended(job) || papplPrinterIsHoldingNewJobs(printer)) {
    leave_printer(printer);
    return has_ended(job) ? refuse(client, job, IPP_STATUS_ERROR_NOT_POSSIBLE, "Job canceled.")
                          : refuse(client, job, IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS,
                                   "Currently holding new jobs.");
  }
  pappl_copy(client, job);
  leave_printer(printer);
}

}  // namespace

extern "C" void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
  if (is_streamed(papplJobGetFormat(job))) return print_stream(client, job);
  std::string filename;
  const std::string why = spool(client, job, filename);
  if (!why.empty()) return refuse(client, job, IPP_STATUS_ERROR_INTERNAL, why);
  if (has_ended(job))
    ::unlink(filename.c_str());  // cancelled while it arrived
  else
    submit_spooled_job(_papplJobSubmitFile, job, filename.c_str());
  papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
  answer_with_job(client, job);
}

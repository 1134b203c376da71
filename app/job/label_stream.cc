// Label streams pass through: a stream made elsewhere (lblfilter, another
// system's queue) goes to the printer byte for byte, as a raw queue would send
// it, once the label core's reader has found all of it to be whole label
// sequences: half a command would leave the printer waiting. The spool file
// is read twice, a window at a time, so a job of any size takes a few KiB.
#include "app/job/label_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/job/journal.h"
#include "app/job/process.h"
#include "app/printer/status.h"
#include "render/label_stream.h"
#include "render/stream_parser.h"

namespace {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// The spool file as the label core's reader reads it.
int64_t read_at(std::FILE* file, uint64_t offset, uint8_t* data, size_t size) {
  if (::fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return -1;
  const size_t got = std::fread(data, 1, size, file);
  return std::ferror(file) ? -1 : static_cast<int64_t>(got);
}

// Copies one checked page to the printer, journaled, in pieces.
bool send_page(pappl_job_t* job, std::FILE* file, const label_stream::page& page,
               pappl_device_t* device) {
  const uint64_t payload_size = static_cast<uint64_t>(page.bytes_per_row) * page.rows;
  return send_label(job, device,
                    {page.length, page.payload_offset - page.offset, payload_size,
                     [&](uint64_t offset, uint8_t* data, size_t size) {
                       return read_at(file, page.offset + offset, data, size) ==
                              static_cast<int64_t>(size);
                     }});
}

bool print_stream(pappl_job_t* job, pappl_device_t* device) {
  const char* path = papplJobGetFilename(job);
  const file_ptr file(std::fopen(path, "rb"));
  struct stat st {};
  if (!file || ::fstat(::fileno(file.get()), &st) != 0)
    return abort_job(job, "Unable to read the print file", std::strerror(errno));
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > label_stream::kMaxStreamBytes) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "The label stream is %" PRIu64 " bytes; the printer takes at most %" PRIu64
                  " bytes (%" PRIu64 " MiB) a job",
                  size, label_stream::kMaxStreamBytes, label_stream::kMaxStreamBytes >> 20);
    return abort_job(job, message);
  }
  const auto read = [&](uint64_t offset, uint8_t* data, size_t n) {
    return read_at(file.get(), offset, data, n);
  };
  label_stream::parse_error error;
  if (!label_stream::check_stream(read, size, &error))
    return abort_job(job, "Not a label stream the printer takes", fault_message(error).c_str());
  // Checked whole, sent page by page once the printer can print: a cancel
  // stops between two pages.
  if (!wait_for_printer(job, device)) return false;
  bool sent = true;
  const bool all = label_stream::check_stream(read, size, &error, [&](const auto& page) {
    if (papplJobIsCanceled(job)) return false;
    sent = send_page(job, file.get(), page, device);
    return sent;
  });
  papplDeviceFlush(device);
  if (!sent) return abort_job(job, "Unable to write print data");
  if (!all && !papplJobIsCanceled(job))
    return abort_job(job, "Unable to read the print file", fault_message(error).c_str());
  return true;
}

bool print_label_stream(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  return guard_job(job, [&] { return print_stream(job, device); });
}

}  // namespace

void set_label_stream_callback(pappl_pr_driver_data_t* data) {
  data->printfile_cb = print_label_stream;
  data->format = label_stream::kMimeType;
}

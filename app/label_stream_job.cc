// Label streams pass through: a stream made elsewhere is checked with the
// label core's reader before any of it reaches the printer.
#include "app/label_stream_job.h"

#include <cstdio>
#include <vector>

#include "app/print_job.h"
#include "app/status.h"
#include "render/label_stream.h"
#include "render/stream_parser.h"

namespace {

// A label command stream made elsewhere (lblfilter, another system's queue)
// goes to the printer byte for byte, as a raw queue would send it, once
// the label core's reader has found it to be whole label sequences: half a command
// would leave the printer waiting.
bool print_label_stream(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  if (!wait_for_printer(job, device)) return false;
  std::vector<char> bytes;
  std::FILE* in = std::fopen(papplJobGetFilename(job), "rb");
  char chunk[65536];
  for (size_t got; in != nullptr && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + got);
  const bool read = in != nullptr && !std::ferror(in);
  if (in != nullptr) std::fclose(in);
  if (!read) return fail_job(job, "Unable to read the print file");
  std::vector<label_stream::page> pages;
  label_stream::parse_error error;
  if (!label_stream::parse_stream({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                                  &pages, &error))
    return fail_job(job, ("Not a label stream the printer takes: " + describe(error)).c_str());
  if (papplDeviceWrite(device, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return fail_job(job, "Unable to write print data");
  papplDeviceFlush(device);
  return true;
}

}  // namespace

void set_label_stream_callback(pappl_pr_driver_data_t* data) {
  data->printfile_cb = print_label_stream;
  data->format = label_stream::kMimeType;
}

// A PDF job: PAPPL's print options become the label and its settings; the
// spooled file, read whole within its bound, goes through the label core's
// PDF path and each page's label sequence to the device.
#include "app/job/pdf.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/document/pdf.h"
#include "app/job/formats.h"
#include "app/job/process.h"
#include "app/job/settings.h"
#include "app/printer/status.h"
#include "render/label_stream.h"

namespace {

struct options_deleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The spool file into `data`; its size is checked before it is read.
bool read_spool_file(pappl_job_t* job, std::string* data) {
  const std::unique_ptr<std::FILE, file_closer> in(std::fopen(papplJobGetFilename(job), "rb"));
  struct stat st {};
  if (!in || ::fstat(::fileno(in.get()), &st) != 0)
    return abort_job(job, "Unable to read the print file", std::strerror(errno));
  if (static_cast<uint64_t>(st.st_size) > kMaxPdfBytes) {
    char message[128];
    std::snprintf(message, sizeof message,
                  "PDF of %lld bytes is larger than the printer takes (%d MiB)",
                  static_cast<long long>(st.st_size), static_cast<int>(kMaxPdfBytes >> 20));
    return abort_job(job, message);
  }
  data->resize(static_cast<size_t>(st.st_size));
  if (std::fread(data->data(), 1, data->size(), in.get()) != data->size())
    return abort_job(job, "Unable to read the print file");
  return true;
}

bool print_pdf_document(pappl_job_t* job, pappl_device_t* device, void* /*data*/) {
  return guard_job(job, [&] {
    std::string data;
    if (!read_spool_file(job, &data) || !wait_for_printer(job, device)) return false;
    const std::unique_ptr<pappl_pr_options_t, options_deleter> options(
        papplJobCreatePrintOptions(job, 1, false));
    if (!options) return abort_job(job, kNoMemoryMessage);
    pdf_job pdf;
    pdf.doc = settings_for_printer_job(job, *options);
    pdf.dpi_x = options->printer_resolution[0];
    pdf.dpi_y = options->printer_resolution[1];
    pdf.cancelled = [job] { return papplJobIsCanceled(job); };
    device_output out(job, device);
    unsigned pages = 0;
    std::string error, notice;
    const bool printed = print_pdf(data, pdf, out, &pages, &error, &notice);
    papplJobSetImpressions(job, static_cast<int>(pages));
    papplJobSetImpressionsCompleted(job, static_cast<int>(pages));
    if (!printed) return abort_job(job, error.c_str());
    if (!notice.empty()) tell_job(job, notice.c_str());
    return true;
  });
}

}  // namespace

void add_pdf_filter(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, kPdfFormat, label_stream::kMimeType, print_pdf_document,
                           nullptr);
}

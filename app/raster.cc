// Raster jobs through the label core: PAPPL hands over 8-bit gray lines one at
// a time; each page is screened as its lines arrive and written to the
// printer as one complete label command sequence when it ends.
#include "app/raster.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/job_settings.h"
#include "app/print_job.h"
#include "app/status.h"
#include "render/render.h"

namespace {

// What a job keeps between callbacks: its settings and the page under way.
struct label_job {
  pstops_doc doc;
  label_page page;
  bool page_started = false;  // lines go to the page only once it is checked
};

label_job* job_state(pappl_job_t* job) { return static_cast<label_job*>(papplJobGetData(job)); }

// PAPPL prints an image document (PNG, JPEG) once for each copy itself;
// raster documents carry the job's copies to the PRINT line, as the filter's do.
int copies_per_page(pappl_job_t* job, const pappl_pr_options_t& options) {
  const char* format = papplJobGetFormat(job);
  const bool raster = format != nullptr && (std::strcmp(format, "image/pwg-raster") == 0 ||
                                            std::strcmp(format, "image/urf") == 0);
  return raster ? options.copies : 1;
}

// The printer's print-direction-default ("normal" when unset).
std::string direction_default(pappl_printer_t* printer) {
  ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
  const std::string name = std::string(kPrintDirectionAttr) + "-default";
  const char* value =
      ippGetString(ippFindAttribute(attrs, name.c_str(), IPP_TAG_KEYWORD), 0, nullptr);
  std::string direction = value != nullptr ? value : "normal";
  ippDelete(attrs);
  return direction;
}

bool start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  return guard_job(job, [&] {
    if (!wait_for_printer(job, device)) return false;
    pappl_printer_t* printer = papplJobGetPrinter(job);
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(printer, &driver);
    auto* state = new (std::nothrow) label_job{
        settings_for_job(*options, driver, direction_default(printer).c_str()), {}, false};
    if (state == nullptr) return fail_job(job, kNoMemoryMessage);
    state->doc.copies = copies_per_page(job, *options);
    state->doc.jobId = papplJobGetID(job);
    state->doc.user = papplJobGetUsername(job);
    state->doc.title = papplJobGetName(job);
    papplJobSetData(job, state);
    const pstops_doc& doc = state->doc;
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "Label %dx%d mm, speed %d, density %d, bitmap at %d,%d, media type %d, label mode "
                "%d, direction %d, dither %d, copies %d.",
                doc.width, doc.height, doc.speed, doc.darkness, doc.horizontal, doc.vertical,
                doc.mediaType, doc.labelMode, doc.printDirection, doc.dither, doc.copies);
    return true;
  });
}

// The page is checked against the printer's limits before any line arrives.
bool start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
                unsigned page) {
  return guard_job(job, [&] {
    label_job* state = job_state(job);
    const cups_page_header2_t& header = options->header;
    const page_problem problem = state->page.start(state->doc, header.cupsBytesPerLine,
                                                   header.cupsHeight, state->doc.copies);
    state->page_started = problem == page_problem::kNone;
    if (state->page_started) return true;
    const int number = static_cast<int>(page);  // PAPPL 1.3 counts pages from 1
    return fail_job(job,
                    describe(problem, number, header.cupsBytesPerLine, header.cupsHeight).c_str());
  });
}

bool write_line(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                unsigned /*y*/, const unsigned char* line) {
  return guard_job(job, [&] {
    label_job* state = job_state(job);
    if (state->page_started) state->page.add_rows(line, 0, 1);
    return state->page_started;
  });
}

// A job cancelled mid-page leaves that page unwritten, so the printer only
// ever receives whole label sequences.
bool end_page(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device,
              unsigned page) {
  return guard_job(job, [&] {
    label_job* state = job_state(job);
    if (!state->page_started) return false;
    state->page_started = false;
    if (papplJobIsCanceled(job)) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job cancelled; page %u dropped.", page);
      return true;
    }
    device_output out(device);
    if (!state->page.write(out)) return fail_job(job, "Unable to write print data");
    return true;
  });
}

bool end_job(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  delete job_state(job);
  papplJobSetData(job, nullptr);
  return true;
}

}  // namespace

void set_raster_callbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = start_job;
  data->rstartpage_cb = start_page;
  data->rwriteline_cb = write_line;
  data->rendpage_cb = end_page;
  data->rendjob_cb = end_job;
}

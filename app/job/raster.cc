// Raster jobs through the label core: PAPPL hands over 8-bit gray lines one at
// a time; each page is screened as its lines arrive and written to the
// printer as one complete label command sequence when it ends whole.
#include "app/job/raster.h"

#include <memory>
#include <new>
#include <string>

#include "app/document/raster_pages.h"
#include "app/job/process.h"
#include "app/job/settings.h"
#include "app/printer/status.h"

namespace {

// What a job keeps between callbacks: its pages, checked and written by the
// label core.
raster_document* job_state(pappl_job_t* job) {
  return static_cast<raster_document*>(papplJobGetData(job));
}

bool start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  return guard_job(job, [&] {
    if (!wait_for_printer(job, device)) return false;
    const pstops_doc doc = settings_for_printer_job(job, *options);
    auto* state = new (std::nothrow)
        raster_document(doc, options->printer_resolution[0], options->printer_resolution[1]);
    if (state == nullptr) return abort_job(job, kNoMemoryMessage);
    papplJobSetData(job, state);
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
    const cups_page_header2_t& header = options->header;
    std::string error, notice;
    // PAPPL 1.3 counts pages from 1.
    if (!job_state(job)->start_page(page, header.cupsBytesPerLine, header.cupsHeight, &error,
                                    &notice))
      return abort_job(job, error.c_str());
    if (!notice.empty()) tell_job(job, notice.c_str());
    return true;
  });
}

bool write_line(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
                unsigned /*y*/, const unsigned char* line) {
  return guard_job(job, [&] {
    job_state(job)->add_row(line);
    return true;
  });
}

// A job cancelled mid-page leaves that page unwritten, and so does a page
// whose rows stopped early, so the printer only ever receives whole label
// sequences.
bool end_page(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device,
              unsigned page) {
  return guard_job(job, [&] {
    if (papplJobIsCanceled(job)) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job cancelled; page %u dropped.", page);
      return true;
    }
    device_output out(job, device);
    std::string error;
    return job_state(job)->end_page(out, &error) || abort_job(job, error.c_str());
  });
}

// PAPPL 1.3 refuses a page header it cannot read (bits per colour other than
// 1 or 8, no rows, planes, bytes per line against width and bits) or in
// colour before calling start_page, and aborts the job saying only "Job
// aborted.": say which page and why.
void name_refused_page(pappl_job_t* job, unsigned page) {
  if (papplJobGetState(job) != IPP_JSTATE_ABORTED || papplJobGetMessage(job) != nullptr) return;
  const pappl_jreason_t reasons = papplJobGetReasons(job);
  const char* why = (reasons & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR) != 0
                        ? " has a raster header the printer cannot take (its bits, rows or bytes "
                          "per line)"
                    : (reasons & PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR) != 0
                        ? " is not 8-bit gray; the printer takes 8-bit gray pages"
                        : nullptr;
  if (why != nullptr) abort_job(job, ("Page " + std::to_string(page) + why).c_str());
}

bool end_job(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/) {
  return guard_job(job, [&] {
    std::unique_ptr<raster_document> state(job_state(job));
    papplJobSetData(job, nullptr);
    if (!state) return true;
    name_refused_page(job, state->page_number() + 1);
    // PAPPL counts every page it handed over as printed, also one refused
    // or cut short: an aborted job shows the pages that reached the printer.
    const int written = static_cast<int>(state->pages_written());
    if (papplJobGetImpressionsCompleted(job) > written)
      papplJobSetImpressionsCompleted(job, written - papplJobGetImpressionsCompleted(job));
    return true;
  });
}

}  // namespace

void set_raster_callbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = start_job;
  data->rstartpage_cb = start_page;
  data->rwriteline_cb = write_line;
  data->rendpage_cb = end_page;
  data->rendjob_cb = end_job;
}

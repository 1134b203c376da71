// A picture job: PAPPL's print options become the label, the placement and
// the settings; the spooled file goes through the label core's picture path
// (app/documents.h) and its one label sequence to the device.
#include "app/picture_job.h"

#include <cstdio>
#include <memory>
#include <string>

#include "app/documents.h"
#include "app/job_settings.h"
#include "app/print_job.h"
#include "render/label_stream.h"

namespace {

constexpr picture_format kPng = picture_format::kPng;
constexpr picture_format kJpeg = picture_format::kJpeg;

struct options_deleter {
  void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};
struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

picture_scaling scaling_for(pappl_scaling_t scaling) {
  switch (scaling) {
    case PAPPL_SCALING_AUTO_FIT:
      return picture_scaling::kAutoFit;
    case PAPPL_SCALING_FILL:
      return picture_scaling::kFill;
    case PAPPL_SCALING_FIT:
      return picture_scaling::kFit;
    case PAPPL_SCALING_NONE:
      return picture_scaling::kNone;
    default:
      return picture_scaling::kAuto;
  }
}

picture_turn turn_for(ipp_orient_t orientation) {
  switch (orientation) {
    case IPP_ORIENT_LANDSCAPE:
      return picture_turn::kLandscape;
    case IPP_ORIENT_REVERSE_LANDSCAPE:
      return picture_turn::kReverseLandscape;
    case IPP_ORIENT_REVERSE_PORTRAIT:
      return picture_turn::kReversePortrait;
    case IPP_ORIENT_NONE:
      return picture_turn::kAuto;
    default:
      return picture_turn::kPortrait;
  }
}

// The label is the job's media at the printer's resolution, as PAPPL's
// print options describe its page; the copies go to the PRINT line.
bool print_picture_document(pappl_job_t* job, pappl_device_t* device, void* data) {
  return guard_job(job, [&] {
    const std::unique_ptr<pappl_pr_options_t, options_deleter> options(
        papplJobCreatePrintOptions(job, 1, false));
    if (!options) return fail_job(job, kNoMemoryMessage);
    picture_job picture;
    picture.doc = settings_for_printer_job(job, *options);
    picture.label_dots = options->header.cupsWidth;
    picture.label_rows = options->header.cupsHeight;
    picture.dpi_x = options->printer_resolution[0];
    picture.dpi_y = options->printer_resolution[1];
    picture.scaling = scaling_for(options->print_scaling);
    picture.turn = turn_for(options->orientation_requested);
    picture.cancelled = [job] { return papplJobIsCanceled(job); };
    const std::unique_ptr<std::FILE, file_closer> in(std::fopen(papplJobGetFilename(job), "rb"));
    if (!in) return fail_job(job, "Unable to read the print file");
    papplJobSetImpressions(job, 1);
    device_output out(device);
    std::string error;
    if (!print_picture(*static_cast<const picture_format*>(data), in.get(), picture, out, &error))
      return fail_job(job, error.c_str());
    papplJobSetImpressionsCompleted(job, 1);
    return true;
  });
}

}  // namespace

void add_picture_filters(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, "image/png", label_stream::kMimeType, print_picture_document,
                           const_cast<picture_format*>(&kPng));
  papplSystemAddMIMEFilter(system, "image/jpeg", label_stream::kMimeType, print_picture_document,
                           const_cast<picture_format*>(&kJpeg));
}

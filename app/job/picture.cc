// A picture job: PAPPL's print options become the label, the placement and
// the settings; the spooled file goes through the label core's picture path
// (app/documents.h) and its one label sequence to the device.
#include "app/job/picture.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "app/document/picture.h"
#include "app/job/formats.h"
#include "app/job/process.h"
#include "app/job/settings.h"
#include "app/printer/status.h"
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

// IPP's keywords as PAPPL hands them over, onto the placement's terms; what
// is not listed takes the driver's defaults, auto and portrait.
template <typename From, typename To>
struct mapping {
  From from;
  To to;
};
constexpr mapping<pappl_scaling_t, picture_scaling> kScalings[] = {
    {PAPPL_SCALING_AUTO_FIT, picture_scaling::kAutoFit},
    {PAPPL_SCALING_FILL, picture_scaling::kFill},
    {PAPPL_SCALING_FIT, picture_scaling::kFit},
    {PAPPL_SCALING_NONE, picture_scaling::kNone}};
constexpr mapping<ipp_orient_t, picture_turn> kTurns[] = {
    {IPP_ORIENT_LANDSCAPE, picture_turn::kLandscape},
    {IPP_ORIENT_REVERSE_LANDSCAPE, picture_turn::kReverseLandscape},
    {IPP_ORIENT_REVERSE_PORTRAIT, picture_turn::kReversePortrait},
    {IPP_ORIENT_NONE, picture_turn::kAuto}};

template <typename From, typename To, size_t N>
To mapped(const mapping<From, To> (&table)[N], From from, To otherwise) {
  for (const mapping<From, To>& entry : table)
    if (entry.from == from) return entry.to;
  return otherwise;
}

// The label is the job's media at the printer's resolution, as PAPPL's
// print options describe its page; the copies go to the PRINT line.
bool print_picture_document(pappl_job_t* job, pappl_device_t* device, void* data) {
  return guard_job(job, [&] {
    if (!wait_for_printer(job, device)) return false;
    const std::unique_ptr<pappl_pr_options_t, options_deleter> options(
        papplJobCreatePrintOptions(job, 1, false));
    if (!options) return abort_job(job, kNoMemoryMessage);
    picture_job picture;
    picture.doc = settings_for_printer_job(job, *options);
    picture.label_dots = options->header.cupsWidth;
    picture.label_rows = options->header.cupsHeight;
    picture.dpi_x = options->printer_resolution[0];
    picture.dpi_y = options->printer_resolution[1];
    picture.scaling = mapped(kScalings, options->print_scaling, picture_scaling::kAuto);
    // A job that does not say is turned to suit the label, as with 'none':
    // the printer's default, portrait, is for clients that ask.
    picture.turn = papplJobGetAttribute(job, "orientation-requested") == nullptr
                       ? picture_turn::kAuto
                       : mapped(kTurns, options->orientation_requested, picture_turn::kPortrait);
    picture.cancelled = [job] { return papplJobIsCanceled(job); };
    const std::unique_ptr<std::FILE, file_closer> in(std::fopen(papplJobGetFilename(job), "rb"));
    if (!in) return abort_job(job, "Unable to read the print file");
    papplJobSetImpressions(job, 1);
    device_output out(job, device);
    std::string error;
    if (!print_picture(*static_cast<const picture_format*>(data), in.get(), picture, out, &error))
      return abort_job(job, error.c_str());
    papplJobSetImpressionsCompleted(job, 1);
    return true;
  });
}

}  // namespace

void add_picture_filters(pappl_system_t* system) {
  papplSystemAddMIMEFilter(system, kPngFormat, label_stream::kMimeType, print_picture_document,
                           const_cast<picture_format*>(&kPng));
  papplSystemAddMIMEFilter(system, kJpegFormat, label_stream::kMimeType, print_picture_document,
                           const_cast<picture_format*>(&kJpeg));
}

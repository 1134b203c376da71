// IPP job attributes onto the settings record; the IPP units (hundredths of
// a millimetre, of a millimetre a second, percent darkness) become the
// printer's millimetres, dots, inches a second and density levels.
#include "app/job/settings.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include "render/label_stream.h"
#include "settings/printer_models.h"

namespace {

constexpr const char* kDirectionKeywords[] = {"normal", "reverse"};
static_assert(std::size(kDirectionKeywords) == std::size(kPrintDirections));

// Rounded to the nearest, halves away from zero: offsets may be negative.
int rounded_div(long long value, long long divisor) {
  return static_cast<int>(value >= 0 ? (value + divisor / 2) / divisor
                                     : -((-value + divisor / 2) / divisor));
}

int16_t dots(int hundredths_mm, int dpi) {
  return low16(rounded_div(static_cast<long long>(hundredths_mm) * dpi, kHundredthsMmPerInch));
}

int16_t direction_for(const pappl_pr_options_t& options, const char* fallback) {
  const char* value = cupsGetOption(kPrintDirectionAttr, options.num_vendor, options.vendor);
  if (value == nullptr) value = fallback;
  for (size_t i = 0; value != nullptr && i < std::size(kDirectionKeywords); ++i)
    if (std::string_view(value) == kDirectionKeywords[i]) return static_cast<int16_t>(i);
  return kDirectionNormal;
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

}  // namespace

int16_t label_mode_for(pappl_label_mode_t mode) {
  if (mode == PAPPL_LABEL_MODE_PEEL_OFF) return kPeelOff;
  if (mode == PAPPL_LABEL_MODE_CUTTER) return kCutter;
  if (mode == PAPPL_LABEL_MODE_CUTTER_DELAYED) return kCutterBatch;
  return kTearOff;
}

int16_t media_type_for(pappl_media_tracking_t tracking) {
  if (tracking == PAPPL_MEDIA_TRACKING_MARK) return kMediaMark;
  if (tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS) return kMediaContinuous;
  return kMediaGap;
}

int density_for(int configured, int adjustment) {
  const int percent = std::clamp(configured + adjustment, 0, 100);
  return kMinDarkness + rounded_div(percent * (kMaxDarkness - kMinDarkness), 100);
}

int darkness_percent(int density) {
  return rounded_div((density - kMinDarkness) * 100, kMaxDarkness - kMinDarkness);
}

const char* print_direction_keyword(int direction) {
  return kDirectionKeywords[direction == kDirectionReverse ? kDirectionReverse : kDirectionNormal];
}

dither_method dither_for(pappl_content_t content, ipp_quality_t quality) {
  if (content == PAPPL_CONTENT_PHOTO) return kDitherDiffusion;
  if (content == PAPPL_CONTENT_GRAPHIC) {
    if (quality == IPP_QUALITY_DRAFT) return kDitherOrdered8;
    return quality == IPP_QUALITY_HIGH ? kDitherOrdered16 : kDitherClustered;
  }
  if (content != PAPPL_CONTENT_AUTO) return kDitherThreshold;  // text and barcodes stay sharp
  if (quality == IPP_QUALITY_DRAFT) return kDitherThreshold;
  return quality == IPP_QUALITY_HIGH ? kDitherDiffusion : kDitherAuto;
}

pstops_doc settings_for_job(const pappl_pr_options_t& options, const pappl_pr_driver_data_t& driver,
                            const char* direction_default) {
  pstops_doc doc{};
  doc.copies = options.copies;
  const int speed = options.print_speed > 0 ? options.print_speed : driver.speed_default;
  doc.speed = low16(rounded_div(speed, kHundredthsMmPerInch));
  doc.darkness = low16(density_for(options.darkness_configured, options.print_darkness));
  // The label's size in whole millimetres, cut toward zero as the filter cuts
  // custom sizes.
  doc.width = low16(options.media.size_width / 100);
  doc.height = low16(options.media.size_length / 100);
  doc.horizontal = dots(options.media.left_offset, options.printer_resolution[0]);
  doc.vertical = dots(options.media.top_offset, options.printer_resolution[1]);
  doc.mediaType = media_type_for(options.media.tracking);
  doc.mediaTracking = doc.mediaType;
  doc.labelMode = label_mode_for(driver.mode_configured);
  doc.printDirection = direction_for(options, direction_default);
  doc.dither = dither_for(options.print_content_optimize, options.print_quality);
  return doc;
}

pstops_doc settings_for_printer_job(pappl_job_t* job, const pappl_pr_options_t& options) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  pstops_doc doc = settings_for_job(options, driver, direction_default(printer).c_str());
  doc.jobId = papplJobGetID(job);
  doc.user = papplJobGetUsername(job);
  doc.title = papplJobGetName(job);
  if (label_stream::printable_copies(doc.copies) != doc.copies)
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The job asks for %d copies; printing 1.", doc.copies);
  return doc;
}

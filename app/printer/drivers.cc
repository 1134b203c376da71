// The two label printer models as PAPPL driver data: the size table as PWG
// media names, darkness and speed ranges, media tracking, label modes and the
// filter's print direction, so every PPD option has an IPP equivalent.
#include "app/printer/drivers.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "app/job/label_stream.h"
#include "app/job/process.h"
#include "app/job/raster.h"
#include "app/job/settings.h"
#include "app/printer/maintenance.h"
#include "app/printer/status.h"
#include "settings/printer_models.h"
#include "settings/settings.h"

namespace {

// PAPPL's list of the models (settings/printer_models.h), as the PPDs name
// them; built once, since PAPPL keeps pointers to the texts.
struct driver_list {
  std::string names[std::size(kPrinterModels)], ids[std::size(kPrinterModels)];
  pappl_pr_driver_t drivers[std::size(kPrinterModels)];
};

driver_list& drivers() {
  static driver_list list = [] {
    driver_list made{};
    for (size_t i = 0; i < std::size(kPrinterModels); ++i) {
      const printer_model& model = kPrinterModels[i];
      made.names[i] = std::string(kPrinterMaker) + " " + model.model_name;
      made.ids[i] = device_id(model);
      made.drivers[i] = {model.driver_name, made.names[i].c_str(), made.ids[i].c_str(), nullptr};
    }
    return made;
  }();
  return list;
}

// A size's PWG name: "om_<ppd name>_<w>x<h>mm", a self-describing metric
// name whose dimensions are the table's own millimetres, so CUPS and IPP
// clients get exactly the label sizes the filter's PPD offers.
std::string media_name(const page_size_entry& size) {
  return "om_" + std::string(size.name) + "_" + std::to_string(size.width) + "x" +
         std::to_string(size.height) + "mm";
}

// The PWG names of the whole size table.
const std::array<std::string, kPageSizeCount>& media_names() {
  static const std::array<std::string, kPageSizeCount> names = [] {
    std::array<std::string, kPageSizeCount> made;
    for (int i = 0; i < kPageSizeCount; ++i)
      made[static_cast<size_t>(i)] = media_name(g_page_list[i]);
    return made;
  }();
  return names;
}

// Custom labels over the PPDs' range.
const std::string kCustomMin = "custom_min_" + std::to_string(kMinLabelWidthMm) + "x" +
                               std::to_string(kMinLabelHeightMm) + "mm";
const std::string kCustomMax = "custom_max_" + std::to_string(kMaxLabelWidthMm) + "x" +
                               std::to_string(kMaxLabelHeightMm) + "mm";
constexpr char kRoll[] = "main-roll";

// Hundredths of a millimetre: the least margin there is.
constexpr int kDriverlessMargin = 1;

// Offsets move the image as far as the PPDs' choices, in hundredths of a mm.
constexpr int kMaxOffset = 100 * kMaxOffsetMm;

void set_media(pappl_pr_driver_data_t* data) {
  const auto& names = media_names();
  for (size_t i = 0; i < names.size(); ++i) data->media[i] = names[i].c_str();
  data->media[names.size()] = kCustomMin.c_str();
  data->media[names.size() + 1] = kCustomMax.c_str();
  data->num_media = static_cast<int>(names.size()) + 2;
  data->num_source = 1;
  data->source[0] = kRoll;

  pappl_media_col_t& ready = data->media_ready[0];
  const page_size_entry* size = find_page_size(kDefaultPageSize);
  std::snprintf(ready.size_name, sizeof ready.size_name, "%s", media_name(*size).c_str());
  ready.size_width = size->width * 100;
  ready.size_length = size->height * 100;
  std::snprintf(ready.source, sizeof ready.source, "%s", kRoll);
  std::snprintf(ready.type, sizeof ready.type, "%s", "labels");
  ready.tracking = PAPPL_MEDIA_TRACKING_GAP;
  data->media_default = ready;
  data->num_type = 2;
  data->type[0] = "labels";
  data->type[1] = "continuous";
  data->tracking_supported =
      PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK | PAPPL_MEDIA_TRACKING_CONTINUOUS;
  data->left_offset_supported[0] = data->top_offset_supported[0] = -kMaxOffset;
  data->left_offset_supported[1] = data->top_offset_supported[1] = kMaxOffset;
}

void set_label_controls(const printer_model& model, pappl_pr_driver_data_t* data) {
  data->darkness_supported = kMaxDarkness - kMinDarkness + 1;
  data->darkness_configured = darkness_percent(kDefaultDarkness);
  data->darkness_default = 0;
  // IPP counts speeds in hundredths of a millimetre a second, the printer in
  // whole inches a second.
  data->speed_supported[0] = model.min_speed * kHundredthsMmPerInch;
  data->speed_supported[1] = model.max_speed * kHundredthsMmPerInch;
  data->speed_default = model.default_speed * kHundredthsMmPerInch;
  data->mode_supported = PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_PEEL_OFF |
                         PAPPL_LABEL_MODE_CUTTER | PAPPL_LABEL_MODE_CUTTER_DELAYED;
  data->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
}

// The filter's PrintDirection as a vendor attribute: print-direction-supported
// lists its keywords and print-direction-default is the first, Normal.
void add_print_direction(pappl_pr_driver_data_t* data, ipp_t** attrs) {
  const char* keywords[std::size(kPrintDirections)];
  for (size_t i = 0; i < std::size(kPrintDirections); ++i)
    keywords[i] = print_direction_keyword(static_cast<int>(i));
  data->vendor[data->num_vendor++] = kPrintDirectionAttr;
  const std::string name = kPrintDirectionAttr;
  ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-supported").c_str(),
                static_cast<int>(std::size(keywords)), nullptr, keywords);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (name + "-default").c_str(), nullptr,
               keywords[0]);
}

// IPP Everywhere attributes PAPPL 1.3 leaves to the driver: no preferred
// attributes, no colour management (the printer decides), one-sided sheets.
void add_everywhere_attributes(ipp_t* attrs) {
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
}

const printer_model* find_model(const char* name) {
  for (const printer_model& model : kPrinterModels)
    if (std::strcmp(model.driver_name, name) == 0) return &model;
  return nullptr;
}

bool describe_model(pappl_system_t* system, const char* name, pappl_pr_driver_data_t* data,
                    ipp_t** attrs) {
  const printer_model* model = find_model(name);
  if (model == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No label printer model is called '%s'.", name);
    return false;
  }
  set_raster_callbacks(data);
  set_label_stream_callback(data);
  set_status_callbacks(data);
  set_maintenance_callbacks(data);
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s %s", kPrinterMaker,
                model->model_name);
  data->kind = PAPPL_KIND_LABEL | PAPPL_KIND_ROLL;
  data->ppm = 60;  // labels a minute, at a few inches per second
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = model->dpi;
  data->x_default = data->y_default = model->dpi;
  // The label core screens 8-bit gray itself: 0 black, 255 blank label.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->orient_default = IPP_ORIENT_PORTRAIT;  // as IPP Everywhere asks; rasters come as sent
  data->sides_supported = data->sides_default = PAPPL_SIDES_ONE_SIDED;
  // Labels print edge to edge, but every size is also offered with the
  // smallest margin IPP can state (0.01 mm): CUPS 2.4 names a size whose
  // margins are all zero "<size>.Borderless" while its PPD's default size
  // keeps the plain name, so a driverless queue would fall back to Letter.
  data->borderless = true;
  data->left_right = data->bottom_top = kDriverlessMargin;
  set_media(data);
  set_label_controls(*model, data);
  if (*attrs == nullptr) *attrs = ippNew();
  add_print_direction(data, attrs);
  add_everywhere_attributes(*attrs);
  return true;
}

}  // namespace

std::span<pappl_pr_driver_t> label_drivers() { return drivers().drivers; }

bool label_driver_cb(pappl_system_t* system, const char* name, const char* /*device_uri*/,
                     const char* /*device_id*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                     void* /*context*/) {
  return guard_callback(false, [&] { return describe_model(system, name, data, attrs); });
}

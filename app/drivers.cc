// The two label printer models as PAPPL driver data: the size table as PWG
// media names, darkness and speed ranges, media tracking, label modes and the
// filter's print direction, so every PPD option has an IPP equivalent.
#include "app/drivers.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/job_settings.h"
#include "app/raster.h"
#include "settings/settings.h"

namespace {

// One model of the PPDs (ppd/lblfilter.drv): its head and its speed range.
struct label_model {
  const char* driver_name;
  const char* make_and_model;
  int dpi;
  int min_speed, max_speed, default_speed;  // inches per second
};

constexpr label_model kModels[] = {
    {"generic-203dpi", "Generic Label Printer 203dpi", 203, 2, 6, 4},
    {"generic-300dpi", "Generic Label Printer 300dpi", 300, 2, 4, 3},
};

pappl_pr_driver_t g_drivers[] = {
    {kModels[0].driver_name, kModels[0].make_and_model,
     "MFG:Generic;MDL:Label Printer 203dpi;CMD:LBL;CLS:PRINTER;", nullptr},
    {kModels[1].driver_name, kModels[1].make_and_model,
     "MFG:Generic;MDL:Label Printer 300dpi;CMD:LBL;CLS:PRINTER;", nullptr},
};

// The PWG names of the size table: "om_<ppd name>_<w>x<h>mm", a self-describing
// metric name whose dimensions are the table's own millimetres, so CUPS and
// IPP clients get exactly the label sizes the filter's PPD offers.
const std::array<std::string, kPageSizeCount>& media_names() {
  static const std::array<std::string, kPageSizeCount> names = [] {
    std::array<std::string, kPageSizeCount> made;
    for (int i = 0; i < kPageSizeCount; ++i) {
      const page_size_entry& size = g_page_list[i];
      made[static_cast<size_t>(i)] = "om_" + std::string(size.name) + "_" +
                                     std::to_string(size.width) + "x" +
                                     std::to_string(size.height) + "mm";
    }
    return made;
  }();
  return names;
}

// Custom labels from 20 x 10 mm to the 108 mm head and 1 m of label, as the PPDs.
constexpr const char* kCustomMin = "custom_min_20x10mm";
constexpr const char* kCustomMax = "custom_max_108x1000mm";
constexpr char kDefaultSize[] = "w283h425";  // 100 x 150 mm, the PPDs' default
constexpr char kRoll[] = "main-roll";

// Speeds are hundredths of a millimetre per second in IPP; the printer counts
// whole inches per second.
constexpr int kSpeedPerInch = 2540;

// The darkness level the PPDs default to (DENSITY 8), as IPP's 0-100.
constexpr int kDefaultDensity = 8;

// Offsets move the image by up to 10 mm either way, as the PPDs' choices.
constexpr int kMaxOffset = 1000;  // hundredths of a millimetre

void set_media(pappl_pr_driver_data_t* data) {
  const auto& names = media_names();
  for (size_t i = 0; i < names.size(); ++i) data->media[i] = names[i].c_str();
  data->media[names.size()] = kCustomMin;
  data->media[names.size() + 1] = kCustomMax;
  data->num_media = static_cast<int>(names.size()) + 2;
  data->num_source = 1;
  data->source[0] = kRoll;

  pappl_media_col_t& ready = data->media_ready[0];
  const page_size_entry* size = find_page_size(kDefaultSize);
  std::snprintf(ready.size_name, sizeof ready.size_name, "om_%s_%dx%dmm", size->name, size->width,
                size->height);
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

void set_label_controls(const label_model& model, pappl_pr_driver_data_t* data) {
  data->darkness_supported = kMaxDarkness - kMinDarkness + 1;
  data->darkness_configured = darkness_percent(kDefaultDensity);
  data->darkness_default = 0;
  data->speed_supported[0] = model.min_speed * kSpeedPerInch;
  data->speed_supported[1] = model.max_speed * kSpeedPerInch;
  data->speed_default = model.default_speed * kSpeedPerInch;
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

const label_model* find_model(const char* name) {
  for (const label_model& model : kModels)
    if (std::strcmp(model.driver_name, name) == 0) return &model;
  return nullptr;
}

}  // namespace

std::span<pappl_pr_driver_t> label_drivers() { return g_drivers; }

bool label_driver_cb(pappl_system_t* system, const char* name, const char* /*device_uri*/,
                     const char* /*device_id*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                     void* /*context*/) {
  const label_model* model = find_model(name);
  if (model == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No label printer model is called '%s'.", name);
    return false;
  }
  set_raster_callbacks(data);
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", model->make_and_model);
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
  data->orient_default = IPP_ORIENT_PORTRAIT;  // labels come out as designed, never turned
  data->sides_supported = data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->borderless = true;  // labels print edge to edge
  data->left_right = data->bottom_top = 0;
  set_media(data);
  set_label_controls(*model, data);
  if (*attrs == nullptr) *attrs = ippNew();
  add_print_direction(data, attrs);
  add_everywhere_attributes(*attrs);
  return true;
}

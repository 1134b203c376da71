// Writes the parts of the PPD compiler source that the filter defines, so the
// queue's PPD offers exactly what the filter reads and the Printer Application
// offers: the label sizes of its size table (dimensions in points, a name in
// millimetres for the print dialog), its options, and the two models.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/printer_models.h"
#include "settings/settings.h"

namespace {

// A table name is "w<points>h<points>"; the points are the media dimensions.
[[nodiscard]] bool points_of(const char* name, int* width, int* height) {
  char tail = 0;
  return std::sscanf(name, "w%dh%d%c", width, height, &tail) == 2 && *width > 0 && *height > 0;
}

[[nodiscard]] bool write_sizes(const char* default_name) {
  bool default_found = false;
  for (const page_size_entry& entry : g_page_list) {
    int width_pt = 0, height_pt = 0;
    if (!points_of(entry.name, &width_pt, &height_pt)) {
      std::fprintf(stderr, "gen_drv: size name \"%s\" is not w<points>h<points>\n", entry.name);
      return false;
    }
    std::printf("#media \"%s/%d x %d mm\" %d %d\n", entry.name, static_cast<int>(entry.width),
                static_cast<int>(entry.height), width_pt, height_pt);
  }
  for (const page_size_entry& entry : g_page_list) {
    const bool is_default = std::strcmp(entry.name, default_name) == 0;
    default_found = default_found || is_default;
    std::printf("%sMediaSize %s\n", is_default ? "*" : "", entry.name);
  }
  if (!default_found)
    std::fprintf(stderr, "gen_drv: default size \"%s\" is not in the table\n", default_name);
  return default_found;
}

void write_offset_option(const char* name, const char* text, int dpi) {
  std::printf("    Option \"%s/%s\" PickOne AnySetup 10\n", name, text);
  const int per_mm = dots_per_mm(dpi);
  for (int mm = -kMaxOffsetMm; mm <= kMaxOffsetMm; ++mm) {
    if (mm == 0)
      std::printf("      *Choice \"0/None\" \"\"\n");
    else
      std::printf("      Choice \"%d/%d mm (%d dots)\" \"\"\n", mm * per_mm, mm, mm * per_mm);
  }
}

// The models, each in a block of its own: names, resolution, speed range and
// offsets in its own dots.
void write_models(const char* version) {
  std::printf("MinSize %dmm %dmm\nMaxSize %dmm %dmm\n", kMinLabelWidthMm, kMinLabelHeightMm,
              kMaxLabelWidthMm, kMaxLabelHeightMm);
  for (const printer_model& model : kPrinterModels) {
    std::printf("{\n  Manufacturer \"%s\"\n  ModelName \"%s\"\n  PCFileName \"%s\"\n",
                kPrinterMaker, model.model_name, model.ppd_name);
    std::printf("  Attribute NickName \"\" \"%s %s, lblfilter %s\"\n", kPrinterMaker,
                model.model_name, version);
    std::printf("  Attribute \"1284DeviceID\" \"\" \"%s\"\n", device_id(model).c_str());
    std::printf("  Resolution - 8 0 0 0 \"%ddpi/%d dpi\"\n  Group \"General/General\"\n", model.dpi,
                model.dpi);
    std::printf("    Option \"PrintSpeed/Print Speed\" PickOne AnySetup 10\n");
    for (int speed = model.min_speed; speed <= model.max_speed; ++speed)
      std::printf("      %sChoice \"%d/%d in/s (%d mm/s)\" \"\"\n",
                  speed == model.default_speed ? "*" : "", speed * 10, speed,
                  (speed * 254 + 5) / 10);
    write_offset_option("Horizontal", "Horizontal Offset", model.dpi);
    write_offset_option("Vertical", "Vertical Offset", model.dpi);
    std::printf("}\n");
  }
}

// Darkness, then the choice options; each first choice is the default.
void write_choice_options() {
  std::printf("Option \"Darkness/Darkness\" PickOne AnySetup 10\n");
  for (int level = kMinDarkness; level <= kMaxDarkness; ++level)
    std::printf("  %sChoice \"%d/%d%s\" \"\"\n", level == kDefaultDarkness ? "*" : "", level, level,
                level == kMinDarkness   ? " (lightest)"
                : level == kMaxDarkness ? " (darkest)"
                                        : "");
  for (const printer_option& option : kPrinterOptions) {
    std::printf("Option \"%s/%s\" PickOne AnySetup 10\n", option.name, option.text);
    for (size_t i = 0; i < option.choices.size(); ++i)
      std::printf("  %sChoice \"%s/%s\" \"\"\n", i == 0 ? "*" : "", option.choices[i].keyword,
                  option.choices[i].text);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string part = argc == 2 || argc == 3 ? argv[1] : "";
  if (part != "sizes" && part != "options" && !(part == "models" && argc == 3)) {
    std::fputs("usage: gen_drv sizes | gen_drv options | gen_drv models VERSION\n", stderr);
    return 1;
  }
  std::puts("// Generated at build time from the filter's tables: do not edit.");
  if (part == "options") write_choice_options();
  if (part == "models") write_models(argv[2]);
  return part != "sizes" || write_sizes(kDefaultPageSize) ? 0 : 1;
}

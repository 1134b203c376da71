// Writes the parts of the PPD compiler source that the filter defines, so the
// queue's PPD offers exactly what the filter reads: the label sizes of its
// size table (dimensions in points, a name in millimetres for the print
// dialog) and its choice options with their readable names.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Each option's first choice is its default.
void write_choice_options() {
  for (const printer_option& option : kPrinterOptions) {
    std::printf("Option \"%s/%s\" PickOne AnySetup 10\n", option.name, option.text);
    for (size_t i = 0; i < option.choices.size(); ++i)
      std::printf("  %sChoice \"%s/%s\" \"\"\n", i == 0 ? "*" : "", option.choices[i].keyword,
                  option.choices[i].text);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3 || (std::strcmp(argv[1], "sizes") != 0 && std::strcmp(argv[1], "options") != 0)) {
    std::fputs("usage: gen_drv sizes default-size-name | gen_drv options -\n", stderr);
    return 1;
  }
  std::puts("// Generated at build time from the filter's tables: do not edit.");
  if (std::strcmp(argv[1], "options") == 0) {
    write_choice_options();
    return 0;
  }
  return write_sizes(argv[2]) ? 0 : 1;
}

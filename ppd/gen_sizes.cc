// Writes the label sizes of the filter's size table as PPD compiler source, so
// the queue's PPD offers exactly the names the filter looks up, with their
// dimensions in points and a name in millimetres for the print dialog.
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

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: gen_sizes default-size-name\n", stderr);
    return 1;
  }
  const char* default_name = argv[1];
  bool default_found = false;
  std::puts("// Generated at build time from the filter's size table: do not edit.");
  for (const page_size_entry& entry : g_page_list) {
    int width_pt = 0, height_pt = 0;
    if (!points_of(entry.name, &width_pt, &height_pt)) {
      std::fprintf(stderr, "gen_sizes: size name \"%s\" is not w<points>h<points>\n", entry.name);
      return 1;
    }
    std::printf("#media \"%s/%d x %d mm\" %d %d\n", entry.name, static_cast<int>(entry.width),
                static_cast<int>(entry.height), width_pt, height_pt);
  }
  for (const page_size_entry& entry : g_page_list) {
    const bool is_default = std::strcmp(entry.name, default_name) == 0;
    default_found = default_found || is_default;
    std::printf("%sMediaSize %s\n", is_default ? "*" : "", entry.name);
  }
  if (!default_found) {
    std::fprintf(stderr, "gen_sizes: default size \"%s\" is not in the table\n", default_name);
    return 1;
  }
  return 0;
}

// make-raster: writes CUPS raster streams for tests, benchmarks and the
// shipped sample, through libcupsimage's own writer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/raster_gen.h"

namespace {

constexpr char kUsage[] =
    "usage: make-raster [--compressed] [--pages N] [--width DOTS] [--height ROWS]\n"
    "                   [--copies N] [--pattern label|random|solid:GRAY] OUTPUT\n";

struct options {
  bool compressed = false;
  unsigned pages = 1, width = 800, height = 1200, copies = 1;
  std::string pattern = "label";
  std::string output;
};

bool parse(int argc, char* argv[], options* opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--compressed") {
      opt->compressed = true;
    } else if (arg == "--pages" && has_value) {
      opt->pages = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--width" && has_value) {
      opt->width = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--height" && has_value) {
      opt->height = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--copies" && has_value) {
      opt->copies = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--pattern" && has_value) {
      opt->pattern = argv[++i];
    } else if (arg[0] != '-' && opt->output.empty()) {
      opt->output = arg;
    } else {
      return false;
    }
  }
  return !opt->output.empty() && opt->width > 0 && opt->height > 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  options opt;
  if (!parse(argc, argv, &opt)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  std::vector<raster_gen::page> pages;
  for (unsigned n = 0; n < opt.pages; ++n) {
    if (opt.pattern == "label")
      pages.push_back(raster_gen::label_page(opt.width, opt.height, opt.copies));
    else if (opt.pattern == "random")
      pages.push_back(raster_gen::random_page(opt.width, opt.height, n + 1, opt.copies));
    else if (opt.pattern.rfind("solid:", 0) == 0)
      pages.push_back(raster_gen::solid_page(
          opt.width, opt.height, static_cast<uint8_t>(std::atoi(opt.pattern.c_str() + 6)),
          opt.copies));
    else {
      std::fputs(kUsage, stderr);
      return 1;
    }
  }
  const std::string bytes = raster_gen::write_stream(
      pages, opt.compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  if (bytes.empty() || !raster_gen::write_file(opt.output, bytes)) {
    std::fprintf(stderr, "make-raster: cannot write %s\n", opt.output.c_str());
    return 1;
  }
  return 0;
}

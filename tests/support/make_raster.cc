// make-raster: writes a CUPS raster stream to standard output through
// libcupsimage's own writer, so tests, fuzz seeds and benchmarks can give the
// filter any header and any rows.
//
//   make-raster [-m v3|v2|pwg|apple] PAGE...
//   PAGE = DOTSxROWS[,key=value]...   keys: fill, copies, bits, colors, rows,
//                                     bpl, dpi
//   fill = solid:GRAY | ramp | random:SEED | label | gradient   (default ramp)
//
// `rows` is how many rows are written (fewer than the header's ends the
// stream early), `bpl` overrides cupsBytesPerLine for headers that lie.
#include <cups/raster.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct page_spec {
  cups_page_header2_t header{};
  std::string fill = "ramp";
  unsigned rows_written = 0;
};

// The gray value of byte `x` of row `y` of a `width`-byte row.
uint8_t fill_value(const std::string& fill, unsigned x, unsigned y, unsigned width, unsigned height,
                   std::mt19937& rng) {
  if (fill.starts_with("solid:")) return static_cast<uint8_t>(std::atoi(fill.c_str() + 6));
  if (fill.starts_with("random")) return static_cast<uint8_t>(rng());
  if (fill == "gradient") return static_cast<uint8_t>(x * 256 / width);
  if (fill == "label") {  // a frame, barcode-like bars and a gray ramp
    const bool frame = x < 8 || y < 8 || x + 8 >= width || y + 8 >= height;
    const bool bars = y > height / 8 && y < height / 3 && x > width / 10 && x < width * 9 / 10;
    const bool ramp = y > height / 2 && y < height * 2 / 3 && x > width / 10 && x < width * 9 / 10;
    if (frame || (bars && ((x * 7 / 5) % 9 < 4 || (x / 13) % 3 == 0))) return 0;
    return ramp ? static_cast<uint8_t>((x - width / 10) * 255 / (width * 8 / 10)) : 255;
  }
  const size_t i = size_t{y} * width + x;
  return static_cast<uint8_t>(i * 37 + i / 5);
}

[[nodiscard]] bool parse_page(const char* text, page_spec* spec) {
  cups_page_header2_t& h = spec->header;
  unsigned dots = 0, rows = 0, bits = 8, colors = 1, dpi = 203;
  int used = 0;
  if (std::sscanf(text, "%ux%u%n", &dots, &rows, &used) != 2) return false;
  spec->rows_written = rows;
  h.NumCopies = 1;
  long bpl = -1;
  for (const char* p = text + used; *p == ','; p += std::strcspn(p + 1, ",") + 1) {
    const std::string item(p + 1, std::strcspn(p + 1, ","));
    const std::string key = item.substr(0, item.find('='));
    const std::string value = item.substr(key.size() + (key.size() < item.size()));
    const unsigned number = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    if (key == "fill")
      spec->fill = value;
    else if (key == "copies")
      h.NumCopies = number;
    else if (key == "bits")
      bits = number;
    else if (key == "colors")
      colors = number;
    else if (key == "rows")
      spec->rows_written = number;
    else if (key == "bpl")
      bpl = static_cast<long>(number);
    else if (key == "dpi")
      dpi = number;
    else
      return false;
  }
  std::snprintf(h.MediaClass, sizeof h.MediaClass, "%s", "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = dots * 72 / dpi;
  h.PageSize[1] = rows * 72 / dpi;
  h.cupsWidth = dots;
  h.cupsHeight = rows;
  h.cupsBitsPerColor = colors == 1 ? bits : bits / colors;
  h.cupsBitsPerPixel = bits;
  h.cupsBytesPerLine = bpl >= 0 ? static_cast<unsigned>(bpl) : (dots * bits + 7) / 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = colors == 1 ? CUPS_CSPACE_SW : CUPS_CSPACE_SRGB;
  h.cupsNumColors = colors;
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  cups_mode_t mode = CUPS_RASTER_WRITE;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-m") == 0) {
    const std::string m = argv[2];
    mode = m == "v2"      ? CUPS_RASTER_WRITE_COMPRESSED
           : m == "pwg"   ? CUPS_RASTER_WRITE_PWG
           : m == "apple" ? CUPS_RASTER_WRITE_APPLE
                          : CUPS_RASTER_WRITE;
    first = 3;
  }
  std::vector<page_spec> pages(static_cast<size_t>(argc - first));
  for (int i = first; i < argc; ++i) {
    if (!parse_page(argv[i], &pages[static_cast<size_t>(i - first)])) {
      std::fprintf(stderr, "make-raster: cannot read page \"%s\"\n", argv[i]);
      return 1;
    }
  }
  cups_raster_t* raster = cupsRasterOpen(1, mode);
  for (page_spec& spec : pages) {
    cups_page_header2_t& h = spec.header;
    if (!cupsRasterWriteHeader2(raster, &h)) return 1;
    const bool seeded = spec.fill.starts_with("random:");
    std::mt19937 rng(seeded ? static_cast<uint32_t>(std::atoi(spec.fill.c_str() + 7)) : 1u);
    std::vector<uint8_t> row(h.cupsBytesPerLine);
    for (unsigned y = 0; y < spec.rows_written && !row.empty(); ++y) {
      for (unsigned x = 0; x < row.size(); ++x)
        row[x] = fill_value(spec.fill, x, y, h.cupsBytesPerLine, h.cupsHeight, rng);
      if (cupsRasterWritePixels(raster, row.data(), h.cupsBytesPerLine) == 0) return 1;
    }
  }
  cupsRasterClose(raster);
  return 0;
}

// Raster streams for tests, written by the same library CUPS filters use.
#include "tests/support/raster_gen.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>

namespace raster_gen {

cups_page_header2_t gray_header(unsigned bytes_per_line, unsigned height, unsigned copies,
                                unsigned dpi) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::snprintf(h.MediaClass, sizeof h.MediaClass, "%s", "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = bytes_per_line * 72 / (dpi ? dpi : 1);
  h.PageSize[1] = height * 72 / (dpi ? dpi : 1);
  h.NumCopies = copies;
  h.cupsWidth = bytes_per_line;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = bytes_per_line;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_SW;
  h.cupsNumColors = 1;
  return h;
}

page solid_page(unsigned bytes_per_line, unsigned height, uint8_t gray, unsigned copies) {
  page p{gray_header(bytes_per_line, height, copies), {}};
  p.rows.assign(size_t{bytes_per_line} * height, gray);
  return p;
}

page random_page(unsigned bytes_per_line, unsigned height, uint32_t seed, unsigned copies) {
  page p{gray_header(bytes_per_line, height, copies), {}};
  p.rows.resize(size_t{bytes_per_line} * height);
  std::mt19937 rng(seed);
  for (uint8_t& dot : p.rows) dot = static_cast<uint8_t>(rng());
  return p;
}

// A shipping-label-like page: a frame, a bar pattern like a barcode, and a
// gray ramp that shows where the threshold cuts.
page label_page(unsigned width, unsigned height, unsigned copies) {
  page p = solid_page(width, height, 255, copies);
  auto dot = [&](unsigned x, unsigned y) -> uint8_t& { return p.rows[size_t{y} * width + x]; };
  const unsigned frame = 8;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const bool in_frame = x < frame || y < frame || x >= width - frame || y >= height - frame;
      const bool in_bars = y > height / 8 && y < height / 3 && x > width / 10 && x < width * 9 / 10;
      const bool in_ramp =
          y > height / 2 && y < height * 2 / 3 && x > width / 10 && x < width * 9 / 10;
      if (in_frame) dot(x, y) = 0;
      if (in_bars && ((x * 7 / 5) % 9 < 4 || (x / 13) % 3 == 0)) dot(x, y) = 0;
      if (in_ramp) dot(x, y) = static_cast<uint8_t>((x - width / 10) * 255 / (width * 8 / 10));
    }
  return p;
}

namespace {
struct file_closer {
  void operator()(FILE* f) const { std::fclose(f); }
};
}  // namespace

std::string write_stream(const std::vector<page>& pages, cups_mode_t mode) {
  // The writer needs a descriptor; a pipe could fill up, so use a temp file.
  std::unique_ptr<FILE, file_closer> tmp(std::tmpfile());
  if (!tmp) return {};
  cups_raster_t* raster = cupsRasterOpen(fileno(tmp.get()), mode);
  if (raster == nullptr) return {};
  for (const page& p : pages) {
    cups_page_header2_t header = p.header;
    cupsRasterWriteHeader2(raster, &header);
    const size_t line = header.cupsBytesPerLine;
    std::vector<uint8_t> row(line);
    for (size_t start = 0; line > 0 && start + line <= p.rows.size(); start += line) {
      std::memcpy(row.data(), p.rows.data() + start, line);
      cupsRasterWritePixels(raster, row.data(), static_cast<unsigned>(line));
    }
  }
  cupsRasterClose(raster);

  std::fflush(tmp.get());
  std::rewind(tmp.get());
  std::string bytes;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, tmp.get())) > 0) bytes.append(chunk, got);
  return bytes;
}

std::vector<page> read_pages(const std::string& path) {
  std::vector<page> pages;
  std::unique_ptr<FILE, file_closer> in(std::fopen(path.c_str(), "rb"));
  cups_raster_t* raster = in ? cupsRasterOpen(fileno(in.get()), CUPS_RASTER_READ) : nullptr;
  page p{};
  while (raster != nullptr && cupsRasterReadHeader2(raster, &p.header) != 0) {
    const unsigned line = p.header.cupsBytesPerLine;
    p.rows.assign(size_t{line} * p.header.cupsHeight, 255);
    for (unsigned y = 0; y < p.header.cupsHeight; ++y)
      if (cupsRasterReadPixels(raster, p.rows.data() + size_t{y} * line, line) == 0) break;
    pages.push_back(p);
  }
  if (raster != nullptr) cupsRasterClose(raster);
  return pages;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace raster_gen

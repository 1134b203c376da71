// Builds CUPS raster streams in memory through libcupsimage's own writer, so
// tests can feed the filter any header values, any rows, and cut streams.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

namespace raster_gen {

/// One page: its header and its rows, `cupsBytesPerLine` bytes each. Fewer
/// rows than `cupsHeight` write a page whose stream simply stops early.
struct page {
  cups_page_header2_t header;
  std::vector<uint8_t> rows;
};

/// A header for an 8-bit gray page of `bytes_per_line` dots by `height` rows,
/// as a label queue's PPD would ask the rasterizer for.
cups_page_header2_t gray_header(unsigned bytes_per_line, unsigned height, unsigned copies = 1,
                                unsigned dpi = 203);

/// A page whose dots are all `gray`.
page solid_page(unsigned bytes_per_line, unsigned height, uint8_t gray, unsigned copies = 1);

/// A page of pseudo-random gray dots from `seed`.
page random_page(unsigned bytes_per_line, unsigned height, uint32_t seed, unsigned copies = 1);

/// A shipping-label-like page: a frame, barcode-like bars and a gray ramp.
page label_page(unsigned bytes_per_line, unsigned height, unsigned copies = 1);

/// The stream libcupsimage writes for `pages` in `mode` (CUPS_RASTER_WRITE,
/// CUPS_RASTER_WRITE_COMPRESSED or CUPS_RASTER_WRITE_PWG).
std::string write_stream(const std::vector<page>& pages, cups_mode_t mode = CUPS_RASTER_WRITE);

/// The pages libcupsimage reads from the raster file at `path`, every row
/// blank (255) that the file does not deliver; empty when it cannot be read.
std::vector<page> read_pages(const std::string& path);

/// Writes `bytes` to `path`; false on any error.
[[nodiscard]] bool write_file(const std::string& path, const std::string& bytes);

}  // namespace raster_gen

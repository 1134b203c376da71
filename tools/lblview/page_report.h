// What a label stream's pages will do at the printer: where the bitmap lands
// on the label at a resolution, how much of it prints, and the summary users
// and scripts read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "render/stream_parser.h"

namespace lblview {

// lblview reads pages with the label core's stream reader.
using label_stream::page;
using label_stream::parse_error;

/// Printer resolutions lblview draws at, in dots per inch.
inline constexpr int kMinDpi = 25;
inline constexpr int kMaxDpi = 2400;
inline constexpr int kDefaultDpi = 203;

/// The resolution a page was made for: of 203, 300 and 600 dpi, the one whose
/// dots per millimetre lie nearest the page's bitmap width over its label
/// width (CUPS rasterises the whole label); 203 for a label without width.
int infer_dpi(const page& p);

/// A page on its label at one resolution, in dots. REFERENCE moves the origin
/// that the BITMAP position counts from, so the bitmap's first dot lies at
/// reference + position.
struct label_geometry {
  int dpi = 0;
  int64_t width = 0;  // the label: SIZE in millimetres times dots per millimetre
  int64_t height = 0;
  int64_t bitmap_left = 0;
  int64_t bitmap_top = 0;
  int64_t bitmap_width = 0;  // bytes per row x 8: the padding dots count too
  int64_t bitmap_height = 0;
};

label_geometry place_on_label(const page& p, int dpi);

/// The bitmap's rows [first_row, end_row) and dots [first_dot, end_dot) that
/// lie on the label and print; the rest is cut off at the label's edge.
struct visible_part {
  int64_t first_row, end_row, first_dot, end_dot;
};
visible_part on_label(const label_geometry& g);

/// What prints of one page.
struct page_facts {
  label_geometry geometry;
  uint64_t dots = 0;                  // in the bitmap
  uint64_t dark_dots = 0;             // printed dots (0 bits) in the bitmap
  uint64_t dark_dots_off_label = 0;   // printed dots that fall beyond the label edge
  std::vector<std::string> warnings;  // "label size 0 x 40 mm has no area", ...
};

page_facts examine(const page& p, int dpi);

/// Everything the summary shows about one stream.
struct stream_report {
  std::string source;  // file name, or "standard input"
  uint64_t stream_bytes = 0;
  int dpi = 0;  // the resolution asked for, 0 when each page's is inferred
  std::span<const page> pages;
  std::span<const page_facts> facts;   // one per page
  const parse_error* error = nullptr;  // null for a valid stream
};

/// The summary for people: one block of aligned lines per page.
std::string text_report(const stream_report& report);

/// The same as one JSON object, for scripts and tests.
std::string json_report(const stream_report& report);

}  // namespace lblview

// Shared by the tests that print through real CUPS: reading the label stream
// that reached the printer, checking it with lblview, scanning its barcodes
// with zbarimg, and laying out a private CUPS server directory that holds the
// built filter beside the system's own filters.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/raster_gen.h"
#include "tests/support/test_common.h"

namespace cups_harness {

using raster_gen::write_file;
using test_common::read_file;
using test_common::temp_dir;

/// What zbarimg reads from the sample labels' barcodes.
inline constexpr char kEan13[] = "EAN-13:4006381333931";
inline constexpr char kCode128[] = "CODE-128:PKG0001234567";
inline constexpr char kQr[] = "QR-Code:https://example.com/t/PKG0001234567";

/// One label command sequence, as the printer reads it.
struct label_page {
  std::vector<std::string> setup;  // SIZE to CLS, without CR LF
  int x = 0, y = 0, bytes_per_row = 0, rows = 0;
  std::string bitmap;                                  // wire form: a 0 bit prints a dot
  std::string print;                                   // the PRINT line without CR LF
  std::string line(const std::string& keyword) const;  // first setup line starting so
};

/// Splits a label stream into pages; false with `error` set when the bytes
/// are not a sequence of complete pages.
[[nodiscard]] bool parse_label_stream(const std::string& bytes, std::vector<label_page>* pages,
                                      std::string* error);

bool is_executable(const std::string& path);

/// Lays out `dir` as a CUPS server directory: the system's backends, daemons
/// and filters by symbolic link, and a root-owned mode 0755 copy of the built
/// lblfilter in filter/ (CUPS refuses group- or world-writable filters).
[[nodiscard]] bool make_server_bin(const std::string& dir, std::string* error);

/// The lblview built beside the filter, or "" when this build has none.
std::string lblview_path();

/// What one label must carry: its SIZE, SPEED and DENSITY numbers, the BITMAP
/// position, the PRINT copies, and the barcodes of its bitmap, sorted.
struct label_expectation {
  int width_mm, height_mm, speed, density, x, y, copies;
  std::vector<std::string> barcodes;
};

/// Checks that `stream` is exactly one label set up as `want`, that lblview
/// accepts it, and that zbarimg reads `want`'s barcodes from the bitmap as
/// lblview draws it at `dpi`. The stream is kept in `stream_file`; the label
/// is returned in `page`.
void expect_one_label(const std::string& stream, const std::string& stream_file, int dpi,
                      const label_expectation& want, label_page* page);

}  // namespace cups_harness

// Shared by the tests that print through real CUPS: reading the label stream
// that reached the printer, checking it with lblview, scanning its barcodes
// with zbarimg, and laying out a private CUPS server directory that holds the
// built filter beside the system's own filters.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cups_harness {

/// True when the suite runs in CI, where a missing prerequisite is a failure.
bool in_ci();

/// Skips the test locally and fails it in CI when `what` is missing.
#define LBL_REQUIRE(condition, what)                                             \
  do {                                                                           \
    if (!(condition)) {                                                          \
      if (::cups_harness::in_ci()) FAIL() << "missing prerequisite: " << (what); \
      GTEST_SKIP() << "missing prerequisite: " << (what);                        \
    }                                                                            \
  } while (0)

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

std::string read_file(const std::string& path);
[[nodiscard]] bool write_file(const std::string& path, const std::string& bytes);
bool is_executable(const std::string& path);

/// A directory under /tmp that the spooler's user lp can traverse and read,
/// removed with everything in it when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

/// Lays out `dir` as a CUPS server directory: the system's backends, daemons
/// and filters by symbolic link, and a root-owned mode 0755 copy of the built
/// lblfilter in filter/ (CUPS refuses group- or world-writable filters).
[[nodiscard]] bool make_server_bin(const std::string& dir, std::string* error);

/// The barcodes zbarimg finds in `image`, one "SYMBOLOGY:contents" a line,
/// sorted; empty when it finds none.
std::vector<std::string> scan_barcodes(const std::string& image);

/// What lblview says about a stream file.
struct lblview_result {
  int exit_status = -1;
  std::string json;        // --json summary
  std::string png_prefix;  // the bare bitmap pictures: <prefix>.png or <prefix>-N.png
  std::string err;
};

/// The lblview built beside the filter, or "" when this build has none.
std::string lblview_path();

/// Checks `stream_file` with lblview, writing its summary and, as bare
/// bitmaps at `dpi`, its pictures next to it.
lblview_result run_lblview(const std::string& stream_file, int dpi);

/// The PNG lblview wrote for page `page` (1-based) of a `pages`-page stream.
std::string lblview_png(const lblview_result& result, int page, int pages);

/// Counts the occurrences of `needle` in `haystack`.
int count_of(const std::string& haystack, const std::string& needle);

/// The raster stream's first page header size: `bytes_per_line` and rows;
/// `gray` receives every row, `bytes_per_line` bytes each.
[[nodiscard]] bool read_raster(const std::string& path, unsigned* bytes_per_line, unsigned* rows,
                               unsigned* copies, std::string* gray);

}  // namespace cups_harness

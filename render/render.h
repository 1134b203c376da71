// The label core, shared by the CUPS filter and the Printer Application: it
// screens 8-bit gray rows into packed one-bit rows and writes each page to
// the printer as one complete label command sequence. Where the rows come
// from (a CUPS raster stream, PAPPL's raster callbacks) is the front end's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "settings/settings.h"

/// Screens `rows` rows of 8-bit gray (0 darkest, 255 blank) into packed rows
/// of `bytes_per_row` bytes; the gray rows lie `bytes_per_row * 8` bytes
/// apart. `mode`, as the filter has always numbered it: 0 the fixed threshold
/// (dark where gray <= 128), 2 the 8x8 ordered dither, 3 the 8x8 clustered
/// dots, 4 the 16x16 ordered dither (the dither_method screenings of those
/// names); any other the darker threshold (dark where gray <= 126). A set bit
/// is a dark dot, most significant bit leftmost. Bits are only ever set, so
/// `bits` arrives zero-filled. The name is kept: the log's screening lines
/// carry it, and older callers link against it.
void Gray2Bytes(const uint8_t* gray, uint8_t* bits, int bytes_per_row, int rows, int mode);

/// Where the label command stream goes: standard output, a printer device,
/// memory. Both return false when the bytes did not reach it.
class label_output {
 public:
  virtual ~label_output() = default;
  [[nodiscard]] virtual bool write(const void* data, size_t size) = 0;
  [[nodiscard]] virtual bool flush() = 0;
};

/// A label output on a C stream; once a write fails, errno says why.
class file_output final : public label_output {
 public:
  explicit file_output(FILE* stream) : stream_(stream) {}
  [[nodiscard]] bool write(const void* data, size_t size) override;
  [[nodiscard]] bool flush() override;

 private:
  FILE* stream_;
};

/// A label output that keeps the stream in memory.
class memory_output final : public label_output {
 public:
  [[nodiscard]] bool write(const void* data, size_t size) override;
  [[nodiscard]] bool flush() override { return true; }
  std::string bytes;
};

/// Page-sized memory; large buffers ask for huge memory pages, since first
/// touching a big page in 4 KiB steps costs more than screening it.
struct page_memory_deleter {
  void operator()(uint8_t* memory) const;
};
using page_buffer = std::unique_ptr<uint8_t[], page_memory_deleter>;

/// `size` bytes, or null when they cannot be had.
page_buffer allocate_page_buffer(uint64_t size);

/// The filter's established page model keeps rows and byte positions within
/// signed 32 bits: a gray page (rows padded to whole bytes of dots) stays
/// below 2 GiB.
inline constexpr uint64_t kMaxGrayPageBytes = (uint64_t{1} << 31) - 1;

/// Why a page cannot be printed.
enum class page_problem { kNone, kTooLarge, kHeaderTooLong, kNoMemory, kUnknownSetting };

/// The message for memory that cannot be had, for a page or anything else.
inline constexpr char kNoMemoryMessage[] = "Unable to allocate memory";

/// The spooler's message for a page that cannot be printed, without the
/// "ERROR: " prefix: "Page 2 is too large for the printer (900000 x 3000 dots)".
std::string page_problem_message(page_problem problem, int page_number, uint32_t dots,
                                 uint32_t rows);

/// One label page: the settings, the page's size, and the packed page,
/// screened row by row as the rows arrive. Both front ends print through it,
/// so the same rows and settings give the same bytes.
class label_page {
 public:
  label_page();
  ~label_page();
  label_page(const label_page&) = delete;
  label_page& operator=(const label_page&) = delete;

  /// Checks the settings' choices and a page of `dots` gray bytes by `rows`
  /// rows against the printer's limits, formats its BITMAP header and takes
  /// its buffers; nothing is written. `copies` goes to the PRINT line as
  /// label_stream::printable_copies gives it.
  [[nodiscard]] page_problem start(const pstops_doc& doc, uint32_t dots, uint32_t rows, int copies);

  /// Screens the next `count` rows of `dots` gray bytes each, `stride` bytes
  /// apart. Rows beyond the page's height are ignored.
  void add_rows(const uint8_t* gray, size_t stride, uint32_t count);

  /// Screens the rows that never came as blank label, then writes the page's
  /// whole command sequence and flushes. False when the output failed.
  [[nodiscard]] bool write(label_output& out);

 private:
  struct state;
  std::unique_ptr<state> state_;
};

/// Writes the setup lines of `doc` (SIZE to CLS), as every page starts; lblview
/// reads them back with the same definitions.
[[nodiscard]] bool write_setup_lines(const pstops_doc& doc, label_output& out);

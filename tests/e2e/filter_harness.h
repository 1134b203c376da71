// Runs the built filter as the spooler does and builds the label stream a page
// must produce, so tests compare whole byte streams.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/raster_gen.h"
#include "tests/support/run_process.h"
#include "tests/support/test_common.h"

namespace filter_harness {

inline constexpr char kLogPath[] = "/var/log/cups/mervane.log";

/// Runs lblfilter with the five job arguments after the queue name, plus the
/// input file when `file` is not empty; `stdin_bytes` feeds standard input.
inline run_process::result run_filter(const std::string& options, const std::string& stdin_bytes,
                                      const std::string& file = "",
                                      std::vector<std::string> env = {}) {
  run_process::request req;
  req.program = LBLFILTER_PATH;
  req.argv = {"label-queue", "17", "alice", "parcel label", "1", options};
  if (!file.empty()) req.argv.push_back(file);
  req.stdin_bytes = stdin_bytes;
  req.env = std::move(env);
  req.unset_env = {"PPD"};
  return run_process::run(req);
}

using test_common::read_file;

/// The filter's log messages, as test_common::log_messages reads them.
inline std::vector<std::string> log_messages() { return test_common::log_messages(kLogPath); }

/// The filter writes its log into /var/log/cups: tests that read it need that.
#define LBL_REQUIRE_LOG() \
  LBL_REQUIRE(::access("/var/log/cups", W_OK) == 0, "a writable /var/log/cups (cups, root)")

/// Hex dump, 16 bytes a line, so that a failed comparison shows the first
/// wrong byte with its offset.
inline std::string hex(const std::string& bytes) {
  std::string out;
  char cell[32];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) {
      std::snprintf(cell, sizeof cell, "%s%06zx:", i ? "\n" : "", i);
      out += cell;
    }
    std::snprintf(cell, sizeof cell, " %02x", static_cast<unsigned char>(bytes[i]));
    out += cell;
  }
  return out;
}

struct label_values {
  int width = 60, height = 40, speed = 4, darkness = 7, horizontal = 0, vertical = 0;
};

/// The label command sequence for one raster page, built straight from the
/// printer's command rules: dark (gray <= 128) is a 0 bit, rows padded with
/// 1 bits, rows beyond `page.rows` blank.
inline std::string expected_page(const label_values& v, const raster_gen::page& page) {
  const unsigned dots = page.header.cupsBytesPerLine, rows = page.header.cupsHeight;
  const unsigned bytes_per_row = (dots + 7) / 8;
  std::string payload(size_t{bytes_per_row} * rows, '\xff');
  for (size_t y = 0; y < rows; ++y)
    for (size_t x = 0; x < dots; ++x) {
      const size_t at = y * dots + x;
      if (at < page.rows.size() && page.rows[at] <= 128)
        payload[y * bytes_per_row + x / 8] =
            static_cast<char>(payload[y * bytes_per_row + x / 8] & ~(0x80 >> (x % 8)));
    }
  const auto n = [](long value) { return std::to_string(value); };
  return "SIZE " + n(v.width) + "mm," + n(v.height) + "mm\r\n" + "GAP 0.120,0.000\r\n" + "SPEED " +
         n(v.speed) + "\r\n" + "DENSITY " + n(v.darkness) + "\r\n" + "DIRECTION 0,0\r\n" +
         "REFERENCE 0,0\r\n" + "OFFSET 0.000\r\n" + "SHIFT 0\r\n" + "SET PEEL OFF\r\n" +
         "SET CUTTER OFF\r\n" + "SET PARTIAL_CUTTER OFF\r\n" + "SET TEAR ON\r\n" + "CLS\r\n" +
         "BITMAP " + n(v.horizontal) + "," + n(v.vertical) + "," + n(bytes_per_row) + "," +
         n(rows) + ",1," + payload + "\r\n" + "PRINT 1," +
         n(static_cast<int>(page.header.NumCopies)) + "\r\n";
}

namespace detail {

// Feeds libcups a stream held in memory.
struct memory_source {
  const std::string* bytes;
  size_t at;
};

inline ssize_t read_memory(void* context, unsigned char* buffer, size_t length) {
  auto* source = static_cast<memory_source*>(context);
  const size_t n = std::min(length, source->bytes->size() - source->at);
  std::memcpy(buffer, source->bytes->data() + source->at, n);
  source->at += n;
  return static_cast<ssize_t>(n);
}

}  // namespace detail

// The printer's page model holds a gray page below 2 GiB.
inline constexpr uint64_t kGrayPageLimit = uint64_t{1} << 31;

// The reference: what reading `stream` row by row through libcups delivers,
// as label pages. Rows are blank until read; a page stops at the first row
// that does not arrive.
inline std::string row_by_row_output(const std::string& stream) {
  detail::memory_source source{&stream, 0};
  cups_raster_t* raster = cupsRasterOpenIO(detail::read_memory, &source, CUPS_RASTER_READ);
  std::string out;
  cups_page_header2_t header;
  while (raster != nullptr && cupsRasterReadHeader2(raster, &header) && header.cupsHeight != 0 &&
         header.cupsBytesPerLine != 0) {
    // The printer's page model holds a gray page below 2 GiB; the filter
    // refuses a larger one and stops.
    const uint64_t stride = (uint64_t{header.cupsBytesPerLine} + 7) / 8 * 8;
    if (stride * header.cupsHeight >= kGrayPageLimit) break;
    raster_gen::page received{header, {}};
    std::vector<uint8_t> row(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      std::fill(row.begin(), row.end(), 255);
      const bool ok = cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine) != 0;
      received.rows.insert(received.rows.end(), row.begin(), row.end());
      if (!ok) break;
    }
    out += expected_page({}, received);
  }
  if (raster != nullptr) cupsRasterClose(raster);
  return out;
}

}  // namespace filter_harness

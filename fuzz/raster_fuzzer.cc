// Fuzz target: any bytes as the job's raster stream, rendered in-process. The
// label stream that comes out must be complete valid pages, whatever the
// stream's headers claim and wherever its data stops.
#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "render/render.h"

namespace {

// Fuzz-only budget. A lying header may ask for a gray page of up to 2 GiB,
// which the renderer is allowed to take and fills with blank before reading;
// doing that for every such input would slow fuzzing a hundredfold, and two
// fuzzers would exhaust the machine. Inputs with a page above this budget but
// within the renderer's limit are skipped. Pages beyond the limit are refused
// before any allocation, so they are still fuzzed; libFuzzer's
// -malloc_limit_mb (fuzz/run-fuzzers.sh) then catches any allocation that a
// page header did not ask for.
constexpr uint64_t kFuzzPageBudget = uint64_t{1} << 20;
// The renderer's own limit on a gray page.
constexpr uint64_t kMaxGrayPageBytes = (uint64_t{1} << 31) - 1;

// Fuzz-only: a walk over the stream's pages as libcups will decode them, to
// skip inputs before anything is allocated for them. libcups itself takes and
// clears a row buffer of `cupsBytesPerLine` bytes for compressed streams as it
// reads each header, before the renderer can refuse the page, so the walk
// reads the headers and the run-length rows from the bytes on its own.
class page_walk {
 public:
  explicit page_walk(std::span<const uint8_t> data) : data_(data) {}

  bool within_budget() {
    // libcups knows Apple raster by its first four bytes alone.
    if (data_.size() >= 4 && std::memcmp(data_.data(), "UNIR", 4) == 0) return apple_pages();
    if (data_.size() < 4) return true;
    big_endian_ = data_[0] == 'R';
    const char version = static_cast<char>(big_endian_ ? data_[3] : data_[0]);
    if (version != 't' && version != '2' && version != '3') return true;  // no stream
    const bool compressed = version == '2';
    // Version 1 carries the original header, which ends before cupsNumColors.
    const size_t header_bytes =
        version == 't' ? sizeof(cups_page_header_t) : sizeof(cups_page_header2_t);
    at_ = 4;
    while (at_ + header_bytes <= data_.size()) {
      const uint32_t bytes_per_line = word(offsetof(cups_page_header2_t, cupsBytesPerLine));
      const uint32_t height = word(offsetof(cups_page_header2_t, cupsHeight));
      const uint32_t bits = word(offsetof(cups_page_header2_t, cupsColorOrder)) == 0
                                ? word(offsetof(cups_page_header2_t, cupsBitsPerPixel))
                                : word(offsetof(cups_page_header2_t, cupsBitsPerColor));
      at_ += header_bytes;
      switch (check_page(bytes_per_line, height)) {
        case verdict::kOverBudget:
          return false;
        case verdict::kLastPage:
          return true;
        case verdict::kRendered:
          break;
      }
      if (!(compressed ? skip_compressed_rows(bytes_per_line, height, (bits + 7) / 8)
                       : skip(uint64_t{bytes_per_line} * height)))
        return true;
    }
    return true;
  }

 private:
  enum class verdict { kRendered, kLastPage, kOverBudget };

  static verdict check_page(uint64_t bytes_per_line, uint64_t height) {
    // libcups takes its row buffer as it reads the header, whatever follows.
    if (bytes_per_line > kFuzzPageBudget) return verdict::kOverBudget;
    if (height == 0 || bytes_per_line == 0) return verdict::kLastPage;
    const uint64_t stride = label_stream::packed_row_bytes(bytes_per_line) * 8;
    if (stride > kMaxGrayPageBytes || stride * height > kMaxGrayPageBytes)
      return verdict::kLastPage;  // refused before anything is allocated
    if (stride * height > kFuzzPageBudget) return verdict::kOverBudget;
    return verdict::kRendered;
  }

  // Apple raster: an 8-byte sync ("UNIRAST" and a zero), a page count, then a 32-byte big-endian
  // header per page and rows compressed as in version 2.
  bool apple_pages() {
    big_endian_ = true;
    at_ = 12;
    while (at_ + 32 <= data_.size()) {
      const uint32_t bits = data_[at_];
      const uint64_t bytes_per_line = uint64_t{word_at(at_ + 12)} * bits / 8;
      const uint32_t height = word_at(at_ + 16);
      at_ += 32;
      switch (check_page(bytes_per_line, height)) {
        case verdict::kOverBudget:
          return false;
        case verdict::kLastPage:
          return true;
        case verdict::kRendered:
          break;
      }
      if (!skip_compressed_rows(bytes_per_line, height, (bits + 7) / 8)) return true;
    }
    return true;
  }

  uint32_t word_at(size_t at) const {
    const uint8_t* b = data_.data() + at;
    return big_endian_ ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
                       : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
  }
  uint32_t word(size_t field) const { return word_at(at_ + field); }

  bool skip(uint64_t bytes) {
    if (bytes > data_.size() - at_) return false;
    at_ += bytes;
    return true;
  }

  // Each row: a repeat count for the line, then runs: 0-127 repeat the next
  // pixel that many times plus one, 129-255 copy 257 minus that many pixels,
  // 128 blanks the rest of the row.
  bool skip_compressed_rows(uint64_t bytes_per_line, uint64_t height, uint64_t pixel_bytes) {
    if (pixel_bytes == 0) pixel_bytes = 1;
    for (uint64_t row = 0; row < height;) {
      if (at_ >= data_.size()) return false;
      row += uint64_t{data_[at_++]} + 1;
      for (uint64_t left = bytes_per_line; left > 0;) {
        if (at_ >= data_.size()) return false;
        const unsigned count = data_[at_++];
        if (count == 128) break;
        if (count > 128) {
          const uint64_t n = std::min<uint64_t>((257 - count) * pixel_bytes, left);
          if (!skip(n)) return false;
          left -= n;
        } else {
          if (!skip(pixel_bytes)) return false;
          left -= std::min<uint64_t>((count + 1) * pixel_bytes, left);
        }
      }
    }
    return true;
  }

  std::span<const uint8_t> data_;
  size_t at_ = 0;
  bool big_endian_ = false;
};

struct memory_source {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

ssize_t read_memory(void* context, unsigned char* buffer, size_t length) {
  auto* source = static_cast<memory_source*>(context);
  const size_t n = std::min(length, source->bytes.size() - source->at);
  std::memcpy(buffer, source->bytes.data() + source->at, n);
  source->at += n;
  return static_cast<ssize_t>(n);
}

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char line[label_stream::kLineBufferSize];
  const int length = std::snprintf(line, sizeof line, fmt, args...);
  return std::string(line, length > 0 ? static_cast<size_t>(length) : 0);
}

// The oracle: the label stream built straight from the printer's rules out of
// what libcups delivers row by row, each row blank until read and a page
// ending at its first row that does not arrive. The renderer reads larger
// pieces where it can; it must print exactly this.
std::string row_by_row_label_stream(std::span<const uint8_t> data, const pstops_doc& doc) {
  namespace ls = label_stream;
  memory_source source{data};
  cups_raster_t* raster = cupsRasterOpenIO(read_memory, &source, CUPS_RASTER_READ);
  std::string out;
  cups_page_header2_t header;
  while (raster != nullptr && cupsRasterReadHeader2(raster, &header) != 0 &&
         header.cupsHeight != 0 && header.cupsBytesPerLine != 0) {
    const uint64_t bytes_per_row = ls::packed_row_bytes(header.cupsBytesPerLine);
    if (bytes_per_row * 8 * header.cupsHeight > kMaxGrayPageBytes) break;  // refused
    std::string payload(bytes_per_row * header.cupsHeight, '\xff');
    std::vector<uint8_t> row(header.cupsBytesPerLine);
    for (uint32_t y = 0; y < header.cupsHeight; ++y) {
      std::fill(row.begin(), row.end(), 255);
      const bool whole = cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine) != 0;
      for (uint32_t x = 0; x < header.cupsBytesPerLine; ++x)
        if (row[x] <= 128)
          payload[y * bytes_per_row + x / 8] &= static_cast<char>(~ls::dot_mask(x));
      if (!whole) break;
    }
    out += format(ls::kSizeFormat, int{doc.width}, int{doc.height}) + ls::kGapLine +
           format(ls::kSpeedFormat, int{doc.speed}) +
           format(ls::kDensityFormat, int{doc.darkness}) + ls::kDirectionLine +
           format(ls::kReferenceFormat, int{doc.refX}, int{doc.refY}) + ls::kOffsetLine +
           ls::kShiftLine + ls::kPeelLine + ls::kCutterLine + ls::kPartialCutterLine +
           ls::kTearLine + ls::kClearLine +
           format(ls::kBitmapFormat, int{doc.horizontal}, int{doc.vertical},
                  static_cast<int>(bytes_per_row), static_cast<int>(header.cupsHeight)) +
           payload + ls::kLineEnd + format(ls::kPrintFormat, static_cast<int>(header.NumCopies));
  }
  if (raster != nullptr) cupsRasterClose(raster);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> stream(data, size);
  if (!page_walk(stream).within_budget()) return -1;  // not kept in the corpus

  pstops_doc doc{};
  doc.width = 60;
  doc.height = 40;
  doc.speed = 4;
  doc.darkness = 7;
  const fuzz_support::render_run run = fuzz_support::render(doc, stream);
  for (const lblview::page& p : fuzz_support::require_valid_stream(run.out))
    fuzz_support::require_settings_sent(doc, p);
  if (run.out != row_by_row_label_stream(stream, doc))
    fuzz_support::fail("raster stream", "the label stream differs from row-by-row reading");
  return 0;
}

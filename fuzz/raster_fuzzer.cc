// Fuzz target: any bytes as the job's raster stream, rendered in-process. The
// label stream must be whole valid pages, and each page exactly what reading
// the stream row by row through libcups and screening it gives, wherever the
// data stops and whatever the headers claim.
#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "render/label_stream.h"

namespace {

// A fuzz-only budget below the filter's limit on a gray page
// (kMaxGrayPageBytes): pages between the two would be blank-filled for every
// such input and slow fuzzing a hundredfold, so such inputs are skipped.
// Pages beyond the limit are refused before any allocation and stay fuzzed.
constexpr uint64_t kFuzzPageBudget = uint64_t{1} << 17;

uint64_t gray_bytes(uint64_t dots, uint64_t rows) {
  return label_stream::packed_row_bytes(dots) * 8 * rows;
}

// Whether every page stays within the budget. libcups takes a row buffer of
// cupsBytesPerLine as it reads a compressed header, before the renderer sees
// it, so the pages are walked in the bytes themselves: headers (versions 1 to
// 3, either byte order, or Apple's) and run-length rows.
bool within_budget(std::span<const uint8_t> d) {
  if (d.size() < 12) return true;
  // libcups takes Apple's sync word in either byte order; the header's
  // numbers are big-endian all the same.
  const bool apple = std::memcmp(d.data(), "UNIR", 4) == 0 || std::memcmp(d.data(), "RINU", 4) == 0;
  const bool big = apple || d[0] == 'R';
  const char version = static_cast<char>(big && !apple ? d[3] : d[0]);
  if (!apple && version != 't' && version != '2' && version != '3') return true;
  const bool compressed = apple || version == '2';
  const size_t header = apple            ? 32
                        : version == 't' ? sizeof(cups_page_header_t)
                                         : sizeof(cups_page_header2_t);
  auto word = [&](size_t at) {
    const uint8_t* b = d.data() + at;
    return big ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
               : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
  };
  for (size_t at = apple ? 12 : 4; at + header <= d.size();) {
    // A pixel of the run-length coding is cupsBitsPerPixel wide in chunky
    // pages, cupsBitsPerColor wide in banded and planar ones.
    const bool chunky = apple || word(at + offsetof(cups_page_header2_t, cupsColorOrder)) == 0;
    const uint64_t bits =
        apple ? d[at]
              : word(at + (chunky ? offsetof(cups_page_header2_t, cupsBitsPerPixel)
                                  : offsetof(cups_page_header2_t, cupsBitsPerColor)));
    const uint64_t line = apple ? word(at + 12) * bits / 8
                                : word(at + offsetof(cups_page_header2_t, cupsBytesPerLine));
    const uint64_t rows = word(at + (apple ? 16 : offsetof(cups_page_header2_t, cupsHeight)));
    at += header;
    if (line > kFuzzPageBudget) return false;
    if (line == 0 || rows == 0 || gray_bytes(line, rows) > kMaxGrayPageBytes) return true;
    if (gray_bytes(line, rows) > kFuzzPageBudget) return false;
    if (!compressed) {
      at += line * rows;
      continue;
    }
    // A row: its repeat count, then runs of one pixel repeated (0-127) or of
    // pixels copied (129-255), or 128 blanking the rest of the row.
    const uint64_t pixel = std::max<uint64_t>(1, (bits + 7) / 8);
    for (uint64_t row = 0; row < rows && at < d.size();) {
      row += uint64_t{d[at++]} + 1;
      for (uint64_t left = line; left > 0 && at < d.size();) {
        const unsigned count = d[at++];
        if (count == 128) break;
        const uint64_t run =
            std::min<uint64_t>((count > 128 ? 257 - count : count + 1) * pixel, left);
        at += count > 128 ? run : pixel;
        left -= run;
      }
    }
  }
  return true;
}

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

// The oracle: each page as libcups delivers it row by row, every row blank
// until read and the page ending at its first row that does not arrive, then
// screened by Gray2Bytes in `mode`. The filter reads larger pieces where it
// can and screens rows as they come; it must print this.
void require_row_by_row_pages(std::span<const uint8_t> data, int mode,
                              const std::vector<label_stream::page>& pages) {
  memory_source source{data};
  cups_raster_t* raster = cupsRasterOpenIO(read_memory, &source, CUPS_RASTER_READ);
  cups_page_header2_t h;
  size_t n = 0;
  // The renderer stops at a page without rows or dots, and refuses one that
  // is not 8-bit or beyond its page model.
  while (raster != nullptr && cupsRasterReadHeader2(raster, &h) != 0 && h.cupsHeight != 0 &&
         h.cupsBytesPerLine != 0 && h.cupsBitsPerPixel == 8 &&
         gray_bytes(h.cupsBytesPerLine, h.cupsHeight) <= kMaxGrayPageBytes) {
    const uint64_t bytes_per_row = label_stream::packed_row_bytes(h.cupsBytesPerLine);
    std::vector<uint8_t> gray(bytes_per_row * 8 * h.cupsHeight, 255);
    for (uint32_t y = 0; y < h.cupsHeight; ++y)
      if (!cupsRasterReadPixels(raster, &gray[y * bytes_per_row * 8], h.cupsBytesPerLine)) break;
    std::vector<uint8_t> bits(bytes_per_row * h.cupsHeight, 0);
    Gray2Bytes(gray.data(), bits.data(), static_cast<int>(bytes_per_row),
               static_cast<int>(h.cupsHeight), mode);
    for (uint8_t& byte : bits) byte = label_stream::to_wire(byte);
    if (n == pages.size() ||
        pages[n].copies != label_stream::printable_copies(static_cast<int>(h.NumCopies)) ||
        pages[n].rows != static_cast<int>(h.cupsHeight) ||
        !std::ranges::equal(pages[n].payload, bits))
      fuzz_support::fail("raster stream",
                         "page " + std::to_string(n + 1) + " differs from row-by-row reading");
    ++n;
  }
  if (raster != nullptr) cupsRasterClose(raster);
  if (n != pages.size()) fuzz_support::fail("raster stream", "more pages than row-by-row reading");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> stream(data, size);
  if (!within_budget(stream)) return -1;  // not kept in the corpus
  // The input's length picks the screening (those Gray2Bytes also has) and
  // the forms of the setup lines.
  constexpr int16_t kDithers[] = {kDitherThreshold, kDitherOrdered8, kDitherClustered,
                                  kDitherOrdered16};
  constexpr int kModes[] = {kScreenThreshold, kScreenBayer8, kScreenClustered8, kScreenBayer16};
  pstops_doc doc{};
  doc.width = 60;
  doc.height = 40;
  doc.speed = 4;
  doc.darkness = 7;
  doc.dither = kDithers[size % 4];
  doc.mediaType = static_cast<int16_t>(size / 4 % 3);
  doc.labelMode = static_cast<int16_t>(size / 12 % 4);
  doc.printDirection = static_cast<int16_t>(size / 48 % 2);
  const fuzz_support::render_run run = fuzz_support::render(doc, stream);
  require_row_by_row_pages(stream, kModes[size % 4], fuzz_support::require_pages(run.out, doc));
  return 0;
}

// Fuzz target: any bytes as the job's raster stream, rendered in-process. The
// label stream must be whole valid pages, and each page exactly what reading
// the stream row by row through libcups and screening it gives, wherever the
// data stops and whatever the headers claim.
#include <cups/raster.h>

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "render/label_stream.h"

namespace {

// The oracle: each page as libcups delivers it row by row, every row blank
// until read and the page ending at its first row that does not arrive, then
// screened by Gray2Bytes in `mode`. The filter reads larger pieces where it
// can and screens rows as they come; it must print this.
void require_row_by_row_pages(std::span<const uint8_t> data, int mode,
                              const std::vector<label_stream::page>& pages) {
  fuzz_support::memory_source source{data};
  cups_raster_t* raster = cupsRasterOpenIO(fuzz_support::read_memory, &source, CUPS_RASTER_READ);
  cups_page_header2_t h;
  size_t n = 0;
  // The renderer stops at a page without rows or dots, and refuses one that
  // is not 8-bit or beyond its page model.
  while (raster != nullptr && cupsRasterReadHeader2(raster, &h) != 0 && h.cupsHeight != 0 &&
         h.cupsBytesPerLine != 0 && h.cupsBitsPerPixel == 8 &&
         fuzz_support::gray_bytes(h.cupsBytesPerLine, h.cupsHeight) <= kMaxGrayPageBytes) {
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
  if (!fuzz_support::within_budget(stream)) return -1;  // not kept in the corpus
  // The input's length picks the screening (those Gray2Bytes also has) and
  // the forms of the setup lines.
  constexpr int16_t kDithers[] = {kDitherThreshold, kDitherOrdered8, kDitherClustered,
                                  kDitherOrdered16};
  constexpr int kModes[] = {0, 2, 3, 4};  // the same screenings as Gray2Bytes numbers them
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

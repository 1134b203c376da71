// Shared by the fuzz targets: hands bytes to the filter's stages as the
// spooler does (a real descriptor), renders into memory, and checks the one
// promise the printer depends on: whatever came in, what goes out is a run of
// complete label command sequences carrying the job's settings.
#pragma once

#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "filter/print_bitmap.h"
#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"
#include "render/stream_parser.h"
#include "settings/settings.h"

namespace fuzz_support {

/// Stops the fuzzer with a finding: libFuzzer saves the input that got here.
[[noreturn]] inline void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

/// What one renderer run produced.
struct render_run {
  int result = -1;
  std::string out;  // the label command stream
};

/// Runs `print_bitmap_to` with `doc` on `raster`, read from a descriptor as the
/// filter reads its job, the label stream going to memory.
inline render_run render(const pstops_doc& doc, std::span<const uint8_t> raster) {
  const int fd = ::memfd_create("lbl-fuzz-input", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, raster.data(), raster.size()) != static_cast<ssize_t>(raster.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0)
    fail("memfd", "cannot hold the input");
  cups_file_t* input = cupsFileOpenFd(fd, "r");
  char* buffer = nullptr;
  size_t length = 0;
  FILE* out = ::open_memstream(&buffer, &length);
  render_run run;
  run.result = print_bitmap_to(&doc, input, out);
  std::fclose(out);
  cupsFileClose(input);
  run.out.assign(buffer, length);
  std::free(buffer);
  if (run.result != kRenderDone && run.result != kRenderFailed)
    fail("render result", std::to_string(run.result));
  return run;
}

/// lblview's reading of a label stream; a finding unless every byte belongs to
/// a complete page, each carrying the settings of `doc`.
inline std::vector<label_stream::page> require_pages(const std::string& stream,
                                                     const pstops_doc& doc) {
  std::vector<label_stream::page> pages;
  label_stream::parse_error error;
  if (!label_stream::parse_stream({reinterpret_cast<const uint8_t*>(stream.data()), stream.size()},
                                  &pages, &error))
    fail("label stream", label_stream::fault_message(error));
  for (const label_stream::page& p : pages) {
    const pstops_doc& s = p.settings;
    if (s.width != doc.width || s.height != doc.height || s.speed != doc.speed ||
        s.darkness != doc.darkness || s.refX != doc.refX || s.refY != doc.refY ||
        s.horizontal != doc.horizontal || s.vertical != doc.vertical ||
        s.mediaType != doc.mediaType || s.labelMode != doc.labelMode ||
        s.printDirection != doc.printDirection)
      fail("settings sent", "page settings differ from the settings record");
  }
  return pages;
}

/// Prints one small page with the settings `doc` holds: whatever the settings
/// layers made of their input, the page goes out whole, carrying them.
inline void require_page_with_settings(const pstops_doc& doc) {
  static const std::vector<uint8_t> small_page = [] {
    std::vector<uint8_t> stream;
    auto append = [](void* bytes, unsigned char* data, size_t length) -> ssize_t {
      static_cast<std::vector<uint8_t>*>(bytes)->insert(
          static_cast<std::vector<uint8_t>*>(bytes)->end(), data, data + length);
      return static_cast<ssize_t>(length);
    };
    cups_raster_t* raster = cupsRasterOpenIO(append, &stream, CUPS_RASTER_WRITE);
    cups_page_header2_t header{};
    header.NumCopies = 1;
    header.cupsWidth = header.cupsBytesPerLine = 16;
    header.cupsHeight = 3;
    header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
    cupsRasterWriteHeader2(raster, &header);
    unsigned char rows[48];
    for (unsigned i = 0; i < sizeof rows; ++i) rows[i] = static_cast<unsigned char>(i * 17);
    cupsRasterWritePixels(raster, rows, sizeof rows);
    cupsRasterClose(raster);
    return stream;
  }();
  // "BITMAP -32768,-32768,2,3,1," fits its buffer: no settings make this page fail.
  const render_run run = render(doc, small_page);
  if (run.result != kRenderDone || require_pages(run.out, doc).size() != 1)
    fail("small page", "not printed as one whole page");
}

// A fuzz-only budget below the filter's limit on a gray page
// (kMaxGrayPageBytes): pages between the two would be blank-filled for every
// such input and slow fuzzing a hundredfold, so such inputs are skipped.
// Pages beyond the limit are refused before any allocation and stay fuzzed.
inline constexpr uint64_t kFuzzPageBudget = uint64_t{1} << 17;

inline uint64_t gray_bytes(uint64_t dots, uint64_t rows) {
  return label_stream::packed_row_bytes(dots) * 8 * rows;
}

// Whether every page of a raster stream stays within the budget. libcups takes a row buffer of
// cupsBytesPerLine as it reads a compressed header, before the renderer sees
// it, so the pages are walked in the bytes themselves: headers (versions 1 to
// 3, either byte order, or Apple's) and run-length rows.
inline bool within_budget(std::span<const uint8_t> d) {
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

/// A stream in memory that libcups reads through read_memory.
struct memory_source {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

inline ssize_t read_memory(void* context, unsigned char* buffer, size_t length) {
  auto* source = static_cast<memory_source*>(context);
  const size_t n = std::min(length, source->bytes.size() - source->at);
  std::memcpy(buffer, source->bytes.data() + source->at, n);
  source->at += n;
  return static_cast<ssize_t>(n);
}

/// A log file of the fuzzer's own, restarted for every input: what the layers
/// log is formatted (and checked by the sanitizers) without the file growing.
inline void restart_scratch_log() {
  static const std::string path = "/tmp/lbl-fuzz-" + std::to_string(::getpid()) + ".log";
  CloseLog();
  init_log_at(path.c_str());
}

}  // namespace fuzz_support

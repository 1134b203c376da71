// Shared by the fuzz targets: hands bytes to the filter's stages as the
// spooler does (a real descriptor), renders into memory, and checks the one
// promise the printer depends on: whatever came in, what goes out is a run of
// complete label command sequences carrying the job's settings.
#pragma once

#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "filter/print_bitmap.h"
#include "log/log.h"
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
    fail("label stream", label_stream::describe(error));
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

/// A log file of the fuzzer's own, restarted for every input: what the layers
/// log is formatted (and checked by the sanitizers) without the file growing.
inline void restart_scratch_log() {
  static const std::string path = "/tmp/lbl-fuzz-" + std::to_string(::getpid()) + ".log";
  CloseLog();
  init_log_at(path.c_str());
}

}  // namespace fuzz_support

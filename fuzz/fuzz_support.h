// Shared by the fuzz targets: hands bytes to the filter's stages the way the
// spooler does (a real descriptor, a PPD file), renders into memory, and checks
// the one promise the printer depends on: whatever came in, what goes out is a
// run of complete label command sequences.
#pragma once

#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"
#include "settings/settings.h"
#include "tools/lblview/stream_parser.h"

namespace fuzz_support {

/// Stops the fuzzer with a finding: libFuzzer saves the input that got here.
[[noreturn]] inline void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

/// A descriptor reading back `bytes` from its start, like the file or pipe the
/// spooler hands the filter (the renderer reads its input's descriptor, not a
/// buffer).
inline int bytes_fd(std::span<const uint8_t> bytes) {
  const int fd = ::memfd_create("lbl-fuzz-input", MFD_CLOEXEC);
  if (fd < 0) fail("memfd_create", std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) fail("write to memfd", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) fail("lseek", std::strerror(errno));
  return fd;
}

/// What one renderer run produced.
struct render_run {
  int result = -1;
  std::string out;  // the label command stream
};

/// Runs `print_bitmap_to` on `raster` with `doc`, the label stream going to
/// memory.
inline render_run render(const pstops_doc& doc, std::span<const uint8_t> raster) {
  render_run run;
  const int fd = bytes_fd(raster);
  cups_file_t* input = cupsFileOpenFd(fd, "r");
  if (input == nullptr) fail("cupsFileOpenFd", "no handle");
  char* buffer = nullptr;
  size_t length = 0;
  FILE* out = ::open_memstream(&buffer, &length);
  if (out == nullptr) fail("open_memstream", std::strerror(errno));
  run.result = print_bitmap_to(&doc, input, out);
  std::fclose(out);
  cupsFileClose(input);
  run.out.assign(buffer, length);
  std::free(buffer);
  if (run.result != kRenderDone && run.result != kRenderFailed)
    fail("render result", std::to_string(run.result));
  return run;
}

/// The validator's reading of a label stream; aborts unless every byte belongs
/// to a complete, valid page.
inline std::vector<lblview::page> require_valid_stream(const std::string& stream) {
  std::vector<lblview::page> pages;
  lblview::parse_error error;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(stream.data()),
                                       stream.size());
  if (!lblview::parse_stream(bytes, &pages, &error)) fail("label stream", lblview::describe(error));
  return pages;
}

/// The page's setup and BITMAP numbers must be the record's: the settings
/// layers' values reach the printer unchanged.
inline void require_settings_sent(const pstops_doc& doc, const lblview::page& p) {
  const bool same = p.width_mm == doc.width && p.height_mm == doc.height && p.speed == doc.speed &&
                    p.density == doc.darkness && p.reference_x == doc.refX &&
                    p.reference_y == doc.refY && p.bitmap_x == doc.horizontal &&
                    p.bitmap_y == doc.vertical;
  if (!same) fail("settings sent", "page numbers differ from the settings record");
}

/// A raster stream of one small gray page (16 x 3 dots, dark and light), made
/// by libcupsimage's writer: the page the settings targets print with.
inline std::vector<uint8_t> small_raster_page() {
  std::vector<uint8_t> stream;
  auto append = [](void* context, unsigned char* data, size_t length) -> ssize_t {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    bytes->insert(bytes->end(), data, data + length);
    return static_cast<ssize_t>(length);
  };
  cups_raster_t* raster = cupsRasterOpenIO(append, &stream, CUPS_RASTER_WRITE);
  if (raster == nullptr) fail("cupsRasterOpenIO", "writer");
  cups_page_header2_t header;
  std::memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = 203;
  header.NumCopies = 1;
  header.cupsWidth = header.cupsBytesPerLine = 16;
  header.cupsHeight = 3;
  header.cupsBitsPerColor = header.cupsBitsPerPixel = 8;
  header.cupsColorSpace = CUPS_CSPACE_SW;
  header.cupsNumColors = 1;
  cupsRasterWriteHeader2(raster, &header);
  unsigned char row[16];
  for (unsigned y = 0; y < header.cupsHeight; ++y) {
    for (unsigned x = 0; x < sizeof row; ++x) row[x] = static_cast<unsigned char>((x + y) * 17);
    cupsRasterWritePixels(raster, row, sizeof row);
  }
  cupsRasterClose(raster);
  return stream;
}

/// Renders the small page with the settings `doc` holds and checks that the
/// one page arrives whole, carrying exactly those settings.
inline void require_page_with_settings(const pstops_doc& doc) {
  static const std::vector<uint8_t> page = small_raster_page();
  const render_run run = render(doc, page);
  const std::vector<lblview::page> pages = require_valid_stream(run.out);
  // A BITMAP header of "BITMAP -32768,-32768,2,3,1," still fits its buffer,
  // so no value of the record may make this page fail.
  if (run.result != kRenderDone || pages.size() != 1)
    fail("small page",
         "result " + std::to_string(run.result) + ", " + std::to_string(pages.size()) + " pages");
  require_settings_sent(doc, pages[0]);
}

/// A log file of the fuzzer's own, started afresh for every input so that
/// what the layers log is formatted (and checked by the sanitizers) without
/// the file growing over millions of runs.
class scratch_log {
 public:
  scratch_log() : path_("/tmp/lbl-fuzz-" + std::to_string(::getpid()) + ".log") {}
  ~scratch_log() { ::unlink(path_.c_str()); }
  void restart() const {
    CloseLog();
    init_log_at(path_.c_str());
  }

 private:
  std::string path_;
};

}  // namespace fuzz_support

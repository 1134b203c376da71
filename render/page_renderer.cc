// The page loop: reads each raster page the spooler sends, screens it, and
// writes it to the printer as one complete label command sequence.
#include <cups/raster.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"

namespace {

// Row starts and byte positions inside the page buffers are signed 32-bit in
// the printer's model of a page, so a gray page must stay below 2 GiB.
constexpr uint64_t kMaxGrayPageBytes = (uint64_t{1} << 31) - 1;

struct raster_closer {
  void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};
using raster_ptr = std::unique_ptr<cups_raster_t, raster_closer>;
struct free_deleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using byte_buffer = std::unique_ptr<uint8_t[], free_deleter>;

// The job's input as libcups reads it. The first four bytes are the stream's
// sync word, which tells whether rows arrive uncompressed.
struct raster_source {
  int fd;
  unsigned char sync[4];
  size_t sync_seen;
  int read_error;  // errno of a failed read, 0 while the input reads cleanly

  bool rows_uncompressed() const {
    constexpr const char* kUncompressed[] = {"RaSt", "tSaR", "RaS3", "3SaR"};
    if (sync_seen < sizeof sync) return false;
    for (const char* word : kUncompressed)
      if (std::memcmp(sync, word, sizeof sync) == 0) return true;
    return false;
  }
};

// Set by SIGTERM: CUPS cancels a job by signalling its filters.
volatile sig_atomic_t g_cancel_requested = 0;

void note_cancel(int) { g_cancel_requested = 1; }

bool cancel_requested() { return g_cancel_requested != 0; }

// A read interrupted by the cancel signal fails, so a job waiting on a slow
// producer stops at once; any other interruption is retried. A read that
// fails is remembered: libcups sees it as the end of the stream, but the job's
// data is lost, which must not pass for a job that simply ended.
ssize_t read_source(void* context, unsigned char* buffer, size_t length) {
  auto* source = static_cast<raster_source*>(context);
  ssize_t got;
  while ((got = ::read(source->fd, buffer, length)) < 0) {
    if (cancel_requested()) return -1;
    if (errno == EAGAIN) {
      pollfd wait_for_data{source->fd, POLLIN, 0};
      ::poll(&wait_for_data, 1, -1);
    } else if (errno != EINTR) {
      source->read_error = errno;
      return -1;
    }
  }
  for (ssize_t i = 0; i < got && source->sync_seen < sizeof source->sync; ++i)
    source->sync[source->sync_seen++] = buffer[i];
  return got;
}

struct page_geometry {
  uint32_t bytes_per_row;  // packed bytes in one row
  uint64_t gray_stride;    // gray bytes between row starts, a multiple of 8
  uint64_t gray_size;
  uint64_t packed_size;
};

// Sizes in 64 bits, checked against the limit before anything is allocated.
[[nodiscard]] bool compute_geometry(const cups_page_header2_t& header, page_geometry* page) {
  const uint64_t bytes_per_row = label_stream::packed_row_bytes(header.cupsBytesPerLine);
  page->gray_stride = bytes_per_row * 8;
  if (page->gray_stride > kMaxGrayPageBytes) return false;
  page->gray_size = page->gray_stride * header.cupsHeight;
  if (page->gray_size > kMaxGrayPageBytes) return false;
  page->bytes_per_row = static_cast<uint32_t>(bytes_per_row);
  page->packed_size = bytes_per_row * header.cupsHeight;
  return true;
}

// The whole header must fit its 32-byte buffer: a cut header would make the
// printer read the payload as numbers.
[[nodiscard]] bool format_bitmap_header(const pstops_doc& doc, const page_geometry& page,
                                        const cups_page_header2_t& header,
                                        char (&out)[label_stream::kBitmapHeaderBufferSize],
                                        int* length) {
  *length = std::snprintf(out, sizeof out, label_stream::kBitmapFormat, int{doc.horizontal},
                          int{doc.vertical}, static_cast<int>(page.bytes_per_row),
                          static_cast<int>(header.cupsHeight));
  return *length > 0 && static_cast<size_t>(*length) < sizeof out;
}

// Large pages ask for huge memory pages: first touching a big page buffer in
// 4 KiB steps costs more than reading and screening it.
constexpr size_t kHugePage = size_t{2} << 20;

byte_buffer allocate(uint64_t size) {
  void* memory = nullptr;
  if (size < kHugePage) return byte_buffer(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
  if (::posix_memalign(&memory, kHugePage, size) != 0) return nullptr;
  ::madvise(memory, size & ~(kHugePage - 1), MADV_HUGEPAGE);
  return byte_buffer(static_cast<uint8_t*>(memory));
}

void write_bytes(const void* data, size_t size, FILE* out) { std::fwrite(data, 1, size, out); }
void write_text(const char* text, FILE* out) { std::fputs(text, out); }

[[gnu::format(printf, 2, 3)]] void write_line(FILE* out, const char* format, ...) {
  char line[label_stream::kLineBufferSize];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length > 0)
    write_bytes(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1), out);
}

// Items before the bitmap: label geometry and print settings, then clear.
void write_setup_lines(const pstops_doc& doc, FILE* out) {
  namespace ls = label_stream;
  write_line(out, ls::kSizeFormat, int{doc.width}, int{doc.height});
  write_text(ls::kGapLine, out);
  write_line(out, ls::kSpeedFormat, int{doc.speed});
  write_line(out, ls::kDensityFormat, int{doc.darkness});
  write_text(ls::kDirectionLine, out);
  write_line(out, ls::kReferenceFormat, int{doc.refX}, int{doc.refY});
  for (const char* fixed : {ls::kOffsetLine, ls::kShiftLine, ls::kPeelLine, ls::kCutterLine,
                            ls::kPartialCutterLine, ls::kTearLine, ls::kClearLine})
    write_text(fixed, out);
}

// Reads the page's rows into the gray page. Uncompressed rows without padding
// are one read: libcups then moves the page in one copy instead of one call
// per row, and a stream that ends early leaves exactly the bytes received, as
// row-by-row reading does. Otherwise rows are read one by one, each blanked
// just before its read, since a compressed row cut short still delivers its
// decoded start. What the stream does not deliver stays blank; the page goes
// out in full size all the same.
void read_rows(cups_raster_t* raster, bool whole_page_read, const cups_page_header2_t& header,
               const page_geometry& page, uint8_t* gray) {
  if (whole_page_read && page.gray_stride == header.cupsBytesPerLine) {
    std::memset(gray, 255, page.gray_size);
    if (cupsRasterReadPixels(raster, gray, static_cast<unsigned>(page.gray_size)) == 0)
      WriteLog("page ends early: fewer than %u rows read", header.cupsHeight);
    return;
  }
  for (uint32_t row = 0; row < header.cupsHeight; ++row) {
    uint8_t* start = gray + row * page.gray_stride;
    std::memset(start, 255, page.gray_stride);
    if (cupsRasterReadPixels(raster, start, header.cupsBytesPerLine) == 0) {
      WriteLog("page ends early: %" PRIu32 " of %u rows read", row, header.cupsHeight);
      const uint64_t rest = (row + uint64_t{1}) * page.gray_stride;
      std::memset(gray + rest, 255, page.gray_size - rest);
      return;
    }
  }
}

enum class page_outcome { kWritten, kCancelled, kFailed };

void report_read_error(const raster_source& source, int page_number) {
  const char* reason = std::strerror(source.read_error);
  WriteLog("page %d: reading the job failed: %s", page_number, reason);
  std::fprintf(stderr, "ERROR: Unable to read print data: %s\n", reason);
}

// Holds the cancel signal back while a page goes out, so the printer always
// receives whole sequences; a signal that arrives meanwhile waits until the
// page is flushed.
class cancel_deferred {
 public:
  cancel_deferred() {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &term, &saved_);
  }
  ~cancel_deferred() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  cancel_deferred(const cancel_deferred&) = delete;
  cancel_deferred& operator=(const cancel_deferred&) = delete;

 private:
  sigset_t saved_;
};

// Renders one accepted page. Both buffers are taken before any byte of the
// page is written, so a failure never leaves half a sequence at the printer;
// a job cancelled while its rows are read drops the page unwritten.
[[nodiscard]] page_outcome render_page(const pstops_doc& doc, cups_raster_t* raster,
                                       const raster_source& source,
                                       const cups_page_header2_t& header, int page_number,
                                       FILE* out) {
  page_geometry page{};
  char bitmap_header[label_stream::kBitmapHeaderBufferSize];
  int bitmap_header_length = 0;
  if (!compute_geometry(header, &page)) {
    WriteLog("page %d: %u bytes per line x %u rows exceeds %" PRIu64 " gray bytes", page_number,
             header.cupsBytesPerLine, header.cupsHeight, kMaxGrayPageBytes);
    std::fprintf(stderr, "ERROR: Page %d is too large for the printer (%u x %u dots)\n",
                 page_number, header.cupsBytesPerLine, header.cupsHeight);
    return page_outcome::kFailed;
  }
  if (!format_bitmap_header(doc, page, header, bitmap_header, &bitmap_header_length)) {
    WriteLog("page %d: BITMAP header longer than %zu characters", page_number,
             sizeof bitmap_header - 1);
    std::fprintf(stderr, "ERROR: Page %d bitmap header does not fit the printer's command\n",
                 page_number);
    return page_outcome::kFailed;
  }

  std::fprintf(stderr, "PAGE: %d %d\n", page_number, static_cast<int>(header.NumCopies));
  byte_buffer gray = allocate(page.gray_size);
  byte_buffer packed = gray ? allocate(page.packed_size) : nullptr;
  if (!gray || !packed) {
    WriteLog("page %d: cannot allocate %" PRIu64 " + %" PRIu64 " bytes", page_number,
             page.gray_size, page.packed_size);
    std::fputs("ERROR: Unable to allocate memory\n", stderr);
    return page_outcome::kFailed;
  }

  read_rows(raster, source.rows_uncompressed(), header, page, gray.get());
  const cancel_deferred hold_cancel;
  if (cancel_requested()) {
    WriteLog("page %d: job cancelled while its rows were read; page dropped", page_number);
    return page_outcome::kCancelled;
  }
  // Rows lost to a read error are not a short job: the page is not printed.
  if (source.read_error != 0) {
    report_read_error(source, page_number);
    return page_outcome::kFailed;
  }
  std::memset(packed.get(), 0, page.packed_size);
  Gray2Bytes(gray.get(), packed.get(), static_cast<int>(page.bytes_per_row),
             static_cast<int>(header.cupsHeight), kScreenThreshold);
  // Screening marks dark dots with set bits; the printer prints 0 bits.
  for (uint64_t i = 0; i < page.packed_size; ++i) packed[i] = label_stream::to_wire(packed[i]);

  write_setup_lines(doc, out);
  write_bytes(bitmap_header, static_cast<size_t>(bitmap_header_length), out);
  write_bytes(packed.get(), page.packed_size, out);
  write_text(label_stream::kLineEnd, out);
  write_line(out, label_stream::kPrintFormat, static_cast<int>(header.NumCopies));
  std::fflush(out);
  return page_outcome::kWritten;
}

}  // namespace

void watch_for_cancel() {
  struct sigaction action {};
  action.sa_handler = note_cancel;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a blocked read must return to see the cancel
  ::sigaction(SIGTERM, &action, nullptr);
}

int print_bitmap_to(const pstops_doc* doc, cups_file_t* input, FILE* out) {
  raster_source source{cupsFileNumber(input), {}, 0, 0};
  raster_ptr raster(cupsRasterOpenIO(read_source, &source, CUPS_RASTER_READ));
  if (!raster) {
    if (source.read_error == 0) return kRenderDone;  // not a raster stream: nothing to print
    report_read_error(source, 1);
    return kRenderFailed;
  }

  cups_page_header2_t header;
  int page_number = 0;
  while (!cancel_requested() && cupsRasterReadHeader2(raster.get(), &header) != 0) {
    // A page without rows or dots ends the job's output.
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) break;
    ++page_number;
    switch (render_page(*doc, raster.get(), source, header, page_number, out)) {
      case page_outcome::kWritten:
        break;
      case page_outcome::kCancelled:
        return kRenderDone;
      case page_outcome::kFailed:
        return kRenderFailed;
    }
  }
  if (cancel_requested()) {
    WriteLog("job cancelled after %d pages", page_number);
  } else if (source.read_error != 0) {
    report_read_error(source, page_number + 1);
    return kRenderFailed;
  }
  return kRenderDone;
}

int print_bitmap(const pstops_doc* doc, cups_file_t* input) {
  return print_bitmap_to(doc, input, stdout);
}

// The page loop: reads each raster page the spooler sends and hands its rows
// to the label writer, which prints it as one complete label command sequence.
#include <cups/raster.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "filter/print_bitmap.h"
#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"
#include "settings/printer_models.h"

namespace {

struct raster_closer {
  void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};
using raster_ptr = std::unique_ptr<cups_raster_t, raster_closer>;

// The job's input as libcups reads it. The first four bytes are the stream's
// sync word, which tells whether rows arrive uncompressed.
struct raster_source {
  int fd;
  unsigned char sync[4];
  size_t sync_seen;
  int read_error;       // errno of a failed read, 0 while the input reads cleanly
  uint64_t bytes_read;  // handed to libcups so far
  bool at_end;          // the input has said it has no more data
  // The gray page, kept for the next page of the same size: a 4 x 6 in page
  // at 300 dpi is above the allocator's mapping threshold, and a fresh
  // zeroed mapping per page costs as much as screening it.
  page_buffer gray;
  uint64_t gray_size;

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
  if (got == 0) source->at_end = true;
  for (ssize_t i = 0; i < got && source->sync_seen < sizeof source->sync; ++i)
    source->sync[source->sync_seen++] = buffer[i];
  source->bytes_read += static_cast<uint64_t>(got);
  return got;
}

// The printer takes 8-bit gray: one byte a dot.
constexpr unsigned kBitsPerDot = 8;

// Reads the page's rows into the label writer. Uncompressed rows are one read
// into a gray page: libcups then moves the page in one copy instead of one
// call per row, straight from the input (it buffers only compressed data), so
// a stream that ends early leaves exactly the bytes the input handed over,
// as row-by-row reading does, and only the rest needs blanking. Compressed
// rows are read one by one, each blanked just before its read, since a row
// cut short still delivers its decoded start. What the stream does not
// deliver stays blank; the page goes out in full size all the same.
[[nodiscard]] bool read_rows(cups_raster_t* raster, raster_source* source, bool whole_page_read,
                             const cups_page_header2_t& header, label_page* page) {
  const uint32_t dots = header.cupsBytesPerLine;
  const uint64_t size = whole_page_read ? uint64_t{dots} * header.cupsHeight : dots;
  if (!source->gray || source->gray_size != size) {
    source->gray.reset();
    source->gray = allocate_page_buffer(size);
    source->gray_size = size;
  }
  const page_buffer& gray = source->gray;
  if (!gray) return false;
  if (whole_page_read) {
    const uint64_t before = source->bytes_read;
    if (cupsRasterReadPixels(raster, gray.get(), static_cast<unsigned>(size)) == 0) {
      WriteLog("page ends early: fewer than %u rows read", header.cupsHeight);
      const uint64_t received = std::min(source->bytes_read - before, size);
      std::memset(gray.get() + received, 255, size - received);
    }
    page->add_rows(gray.get(), dots, header.cupsHeight);
    return true;
  }
  for (uint32_t row = 0; row < header.cupsHeight; ++row) {
    std::memset(gray.get(), 255, dots);
    const bool whole = cupsRasterReadPixels(raster, gray.get(), dots) != 0;
    page->add_rows(gray.get(), 0, 1);
    if (!whole) {
      WriteLog("page ends early: %" PRIu32 " of %u rows read", row, header.cupsHeight);
      break;
    }
  }
  return true;
}

// Whether the page can be read in one call. libcups swaps byte pairs of
// 16-bit colours in a stream of the other byte order, row by row and only for
// rows read whole; a header that claims them, however few bits per dot it
// has, is read row by row so that a cut page keeps its rows as libcups gives
// them.
bool whole_page_read(const raster_source& source, const cups_page_header2_t& header) {
  return source.rows_uncompressed() && header.cupsBitsPerColor != 16;
}

enum class page_outcome { kWritten, kCancelled, kFailed };

// The printer-state-reason a failed job leaves for the operator beside its
// message; the next job clears it.
constexpr char kFailedJobReason[] = "document-unprintable-error";

std::string read_error_message(const raster_source& source, int page_number) {
  const char* reason = std::strerror(source.read_error);
  WriteLog("page %d: reading the job failed: %s", page_number, reason);
  return std::string("Unable to read print data: ") + reason;
}

// The spooler sees a filter's exit before the last lines it wrote when both
// are waiting, and then gives the job "Filter failed" as its reason instead
// of the filter's. Waiting until the status pipe has been read empty (a
// second at most) puts the lines first.
void wait_until_status_read() {
  struct stat status_pipe {};
  if (::fstat(STDERR_FILENO, &status_pipe) != 0 || !S_ISFIFO(status_pipe.st_mode)) return;
  for (int waited_ms = 0; waited_ms < 1000; waited_ms += 10) {
    int unread = 0;
    if (::ioctl(STDERR_FILENO, FIONREAD, &unread) != 0 || unread == 0) return;
    ::poll(nullptr, 0, 10);
  }
}

// Ends a failed job so that its reason stays where users look once the job
// has ended. The filters before this one may still be rendering the rest of
// the job, and the spooler shows the latest message as the printer's state:
// their data is read to its end first, so this message comes last. The
// printer-state-reason outlasts any message a backend writes after it.
int end_failed_job(const raster_source& source, const std::string& message) {
  unsigned char rest[65536];
  while (source.read_error == 0 && !cancel_requested() &&
         ::read(source.fd, rest, sizeof rest) > 0) {
  }
  std::fprintf(stderr, "ERROR: %s\nSTATE: +%s\n", message.c_str(), kFailedJobReason);
  wait_until_status_read();
  return kRenderFailed;
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

// The printer prints what its head spans and drops the rest of each row
// without a word: a label chosen wider than the head, with a page as wide as
// the label, loses its right side.
void warn_if_wider_than_head(const pstops_doc& doc, const cups_page_header2_t& header,
                             int page_number) {
  const int dpi = static_cast<int>(header.HWResolution[0]);
  if (doc.width <= kHeadWidthMm || dpi <= 0 || header.cupsWidth <= dots_across(kHeadWidthMm, dpi))
    return;
  std::fprintf(stderr,
               "WARNING: The %d mm label is wider than the %d mm print head: page %d's dots "
               "beyond the first %" PRIu64 " of each row do not print\n",
               doc.width, kHeadWidthMm, page_number, dots_across(kHeadWidthMm, dpi));
}

// Prints one accepted page. The page is checked and its buffers taken before
// any byte of it is written, so a failure never leaves half a sequence at the
// printer; a job cancelled while its rows are read drops the page unwritten.
[[nodiscard]] page_outcome render_page(const pstops_doc& doc, cups_raster_t* raster,
                                       raster_source& source, const cups_page_header2_t& header,
                                       int page_number, label_output& out, std::string* failure) {
  if (header.cupsBitsPerPixel != kBitsPerDot) {
    WriteLog("page %d: %u bits per dot", page_number, header.cupsBitsPerPixel);
    *failure = "Page " + std::to_string(page_number) + " has " +
               std::to_string(header.cupsBitsPerPixel) +
               " bits per dot; the printer takes 8-bit gray pages";
    return page_outcome::kFailed;
  }
  label_page page;
  const int asked = static_cast<int>(header.NumCopies);
  const int copies = label_stream::printable_copies(asked);
  const page_problem problem = page.start(doc, header.cupsBytesPerLine, header.cupsHeight, asked);
  // The spooler counts a page the printer could take, even one that then
  // finds no memory: its PAGE line (and any copies warning) comes first.
  const bool counted = problem == page_problem::kNone || problem == page_problem::kNoMemory;
  if (counted && copies != asked)
    std::fprintf(stderr, "WARNING: Page %d asks for %u copies; printing %d\n", page_number,
                 header.NumCopies, copies);
  if (problem == page_problem::kNone) warn_if_wider_than_head(doc, header, page_number);
  if (counted) std::fprintf(stderr, "PAGE: %d %d\n", page_number, copies);
  if (problem == page_problem::kNone &&
      !read_rows(raster, &source, whole_page_read(source, header), header, &page)) {
    WriteLog("page %d: cannot allocate its gray rows", page_number);
    *failure = page_problem_message(page_problem::kNoMemory, page_number, 0, 0);
    return page_outcome::kFailed;
  }
  if (problem != page_problem::kNone) {
    WriteLog("page %d cannot be printed", page_number);
    *failure =
        page_problem_message(problem, page_number, header.cupsBytesPerLine, header.cupsHeight);
    return page_outcome::kFailed;
  }

  const cancel_deferred hold_cancel;
  if (cancel_requested()) {
    WriteLog("page %d: job cancelled while its rows were read; page dropped", page_number);
    return page_outcome::kCancelled;
  }
  // Rows lost to a read error are not a short job: the page is not printed.
  if (source.read_error != 0) {
    *failure = read_error_message(source, page_number);
    return page_outcome::kFailed;
  }
  if (!page.write(out)) {
    const char* reason = std::strerror(errno);
    WriteLog("page %d: writing to the printer failed: %s", page_number, reason);
    *failure = std::string("Unable to write print data: ") + reason;
    return page_outcome::kFailed;
  }
  return page_outcome::kWritten;
}

// A job that printed means the reason an earlier failed job left is past.
// It is said once the job's data has ended: the filters before this one
// write to the same status pipe, and by then they have nothing left to say
// that could run into the line.
void clear_failed_job_reason() {
  const char* reasons = std::getenv("PRINTER_STATE_REASONS");
  if (reasons != nullptr && std::strstr(reasons, kFailedJobReason) != nullptr)
    std::fprintf(stderr, "STATE: -%s\n", kFailedJobReason);
}

}  // namespace

void watch_for_cancel() {
  struct sigaction action {};
  action.sa_handler = note_cancel;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a blocked read must return to see the cancel
  ::sigaction(SIGTERM, &action, nullptr);
}

int print_bitmap_to(const pstops_doc* doc, cups_file_t* input, FILE* stream) {
  raster_source source{cupsFileNumber(input), {}, 0, 0, 0, false, nullptr, 0};
  raster_ptr raster(cupsRasterOpenIO(read_source, &source, CUPS_RASTER_READ));
  if (!raster) {
    if (source.read_error == 0) return kRenderDone;  // not a raster stream: nothing to print
    return end_failed_job(source, read_error_message(source, 1));
  }

  file_output out(stream);
  cups_page_header2_t header;
  int page_number = 0;
  while (!cancel_requested() && cupsRasterReadHeader2(raster.get(), &header) != 0) {
    // A page without rows or dots ends the job's output.
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) break;
    ++page_number;
    std::string failure;
    switch (render_page(*doc, raster.get(), source, header, page_number, out, &failure)) {
      case page_outcome::kWritten:
        break;
      case page_outcome::kCancelled:
        return kRenderDone;
      case page_outcome::kFailed:
        return end_failed_job(source, failure);
    }
  }
  if (cancel_requested()) {
    WriteLog("job cancelled after %d pages", page_number);
  } else if (source.read_error != 0) {
    return end_failed_job(source, read_error_message(source, page_number + 1));
  } else if (!source.at_end) {
    // libcups reports a header it will not read (a row of 2 GiB or more, say)
    // as the end of the stream; only the input not being used up tells them
    // apart. Such a stream is read as one that ends there.
    WriteLog(
        "page %d: header refused (no rows, no dots, or a size libcups does not read); "
        "the job ends there, the rest of its data unread",
        page_number + 1);
  }
  if (!cancel_requested()) clear_failed_job_reason();
  return kRenderDone;
}

int print_bitmap(const pstops_doc* doc, cups_file_t* input) {
  return print_bitmap_to(doc, input, stdout);
}

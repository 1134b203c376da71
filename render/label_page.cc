// The label writer: one page's geometry and limits, its packed page screened
// as rows arrive, and its complete command sequence (setup lines, BITMAP with
// the packed page, PRINT) written in one go.
#include <sys/mman.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"
#include "render/screen.h"

namespace ls = label_stream;

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

[[gnu::format(printf, 2, 3)]] bool write_line(label_output& out, const char* format, ...) {
  char line[ls::kLineBufferSize];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return length <= 0 ||
         out.write(line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1));
}

}  // namespace

bool file_output::write(const void* data, size_t size) {
  return std::fwrite(data, 1, size, stream_) == size;
}

bool memory_output::write(const void* data, size_t size) {
  bytes.append(static_cast<const char*>(data), size);
  return true;
}

bool file_output::flush() { return std::fflush(stream_) == 0 && !std::ferror(stream_); }

void page_memory_deleter::operator()(uint8_t* memory) const { std::free(memory); }

page_buffer allocate_page_buffer(uint64_t size) {
  if (size < kHugePage) return page_buffer(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
  void* memory = nullptr;
  if (::posix_memalign(&memory, kHugePage, size) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
  ::madvise(memory, size & ~(kHugePage - 1), MADV_HUGEPAGE);
#endif
  return page_buffer(static_cast<uint8_t*>(memory));
}

std::string page_problem_message(page_problem problem, int page_number, uint32_t dots,
                                 uint32_t rows) {
  char text[128];
  switch (problem) {
    case page_problem::kTooLarge:
      std::snprintf(text, sizeof text,
                    "Page %d is too large for the printer (%" PRIu32 " x %" PRIu32 " dots)",
                    page_number, dots, rows);
      return text;
    case page_problem::kHeaderTooLong:
      std::snprintf(text, sizeof text, "Page %d bitmap header does not fit the printer's command",
                    page_number);
      return text;
    case page_problem::kNoMemory:
      return kNoMemoryMessage;
    case page_problem::kUnknownSetting:
      std::snprintf(text, sizeof text,
                    "Page %d has a media type, label mode, direction or dither the printer does "
                    "not know",
                    page_number);
      return text;
    case page_problem::kNone:
      break;
  }
  return "";
}

namespace {

bool settings_known(const pstops_doc& doc) {
  for (const ls::setup_line& line : ls::kSetupLines)
    if (!ls::choice_known(line, doc)) return false;
  return doc.dither >= kDitherThreshold && doc.dither <= kDitherAuto;
}

}  // namespace

bool write_setup_lines(const pstops_doc& doc, label_output& out) {
  if (!settings_known(doc)) return false;
  for (const ls::setup_line& line : ls::kSetupLines) {
    const char* text = ls::text_for(line, doc);
    const bool written =
        line.numbers[1] != nullptr
            ? write_line(out, text, int{doc.*line.numbers[0]}, int{doc.*line.numbers[1]})
        : line.numbers[0] != nullptr ? write_line(out, text, int{doc.*line.numbers[0]})
                                     : out.write(text, std::strlen(text));
    if (!written) return false;
  }
  return true;
}

struct label_page::state {
  pstops_doc doc{};
  uint32_t dots = 0, rows = 0, rows_added = 0;
  int copies = 0;
  uint64_t bytes_per_row = 0;
  char bitmap_header[ls::kBitmapHeaderBufferSize] = {};
  int bitmap_header_length = 0;
  page_buffer packed;
  std::unique_ptr<row_screen> screen;
  page_buffer blank_row;  // the rows that never come, where screening them can print
  bool screening_logged = false;
};

label_page::label_page() : state_(std::make_unique<state>()) {}
label_page::~label_page() = default;

page_problem label_page::start(const pstops_doc& doc, uint32_t dots, uint32_t rows, int copies) {
  state& s = *state_;
  s = state{};
  s.doc = doc;
  s.dots = dots;
  s.rows = rows;
  s.copies = ls::printable_copies(copies);
  // A choice beyond the command table would pick no text at all.
  if (!settings_known(doc)) {
    WriteLog("media type %d, label mode %d, direction %d or dither %d out of range", doc.mediaType,
             doc.labelMode, doc.printDirection, doc.dither);
    return page_problem::kUnknownSetting;
  }
  // Sizes in 64 bits, checked against the page model before anything is taken.
  s.bytes_per_row = ls::packed_row_bytes(dots);
  const uint64_t gray_stride = s.bytes_per_row * 8;
  if (gray_stride > kMaxGrayPageBytes || gray_stride * rows > kMaxGrayPageBytes) {
    WriteLog("%" PRIu32 " dots x %" PRIu32 " rows exceeds %" PRIu64 " gray bytes", dots, rows,
             kMaxGrayPageBytes);
    return page_problem::kTooLarge;
  }
  // The whole header must fit its 32-byte buffer: a cut header would make the
  // printer read the payload as numbers.
  s.bitmap_header_length =
      std::snprintf(s.bitmap_header, sizeof s.bitmap_header, ls::kBitmapFormat, int{doc.horizontal},
                    int{doc.vertical}, static_cast<int>(s.bytes_per_row), static_cast<int>(rows));
  if (s.bitmap_header_length <= 0 ||
      static_cast<size_t>(s.bitmap_header_length) >= sizeof s.bitmap_header) {
    WriteLog("BITMAP header longer than %zu characters", sizeof s.bitmap_header - 1);
    return page_problem::kHeaderTooLong;
  }
  const uint64_t packed_size = s.bytes_per_row * rows;
  s.packed = allocate_page_buffer(packed_size);
  if (!s.packed) {
    WriteLog("cannot allocate %" PRIu64 " bytes", packed_size);
    return page_problem::kNoMemory;
  }
  std::memset(s.packed.get(), 0, packed_size);
  s.screen.reset(new (std::nothrow) row_screen(doc.dither, dots));
  if (s.screen && s.screen->blank_rows_print()) s.blank_row = allocate_page_buffer(dots);
  if (!s.screen || !s.screen->ready() || (s.screen->blank_rows_print() && !s.blank_row)) {
    WriteLog("cannot allocate the screening of %" PRIu32 " dots", dots);
    return page_problem::kNoMemory;
  }
  if (s.blank_row) std::memset(s.blank_row.get(), 255, dots);
  return page_problem::kNone;
}

void label_page::add_rows(const uint8_t* gray, size_t stride, uint32_t count) {
  state& s = *state_;
  if (!s.screening_logged) log_screening_begins();
  s.screening_logged = true;
  for (uint32_t i = 0; i < count && s.rows_added < s.rows; ++i, ++s.rows_added)
    s.screen->screen(gray + i * stride, s.packed.get() + s.rows_added * s.bytes_per_row,
                     s.rows_added);
}

bool label_page::write(label_output& out) {
  state& s = *state_;
  // Rows that never came are blank label; only diffusion can print on them.
  if (s.blank_row) add_rows(s.blank_row.get(), 0, s.rows - s.rows_added);
  if (!s.screening_logged) log_screening_begins();
  log_screening_ends();
  // Screening marks dark dots with set bits; the printer prints 0 bits.
  const uint64_t packed_size = s.bytes_per_row * s.rows;
  uint8_t* const packed = s.packed.get();
  for (uint64_t i = 0; i < packed_size; ++i) packed[i] = ls::to_wire(packed[i]);
  return write_setup_lines(s.doc, out) &&
         out.write(s.bitmap_header, static_cast<size_t>(s.bitmap_header_length)) &&
         out.write(s.packed.get(), packed_size) && out.write(ls::kLineEnd, 2) &&
         write_line(out, ls::kPrintFormat, s.copies) && out.flush();
}

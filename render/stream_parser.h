// Reads a label command stream back into pages, checking every byte against
// the stream the filter writes, so a damaged or foreign stream is named
// precisely before anything is drawn from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace label_stream {

/// The longest label stream the tools take: one lblprinter job, one file
/// lblview reads whole. Thousands of labels; a larger one is refused unread.
inline constexpr uint64_t kMaxStreamBytes = uint64_t{256} << 20;

/// One page of the stream: the settings its lines carry, and a view of its
/// bitmap.
struct page {
  int number = 0;     // 1 for the first page
  size_t offset = 0;  // byte offset of its SIZE line in the stream
  size_t length = 0;  // bytes from SIZE to the end of PRINT
  // What the setup lines carry (size, speed, darkness, reference point, media
  // type, label mode, direction), and the BITMAP position in `horizontal` and
  // `vertical`, in dots from the reference point.
  pstops_doc settings{};
  int bytes_per_row = 0;  // at least 1
  int rows = 0;           // at least 1
  size_t payload_offset = 0;
  std::span<const uint8_t> payload;  // bytes_per_row * rows wire bytes, inside the parsed bytes
  int copies = 0;                    // PRINT 1,copies
};

/// Where and why the stream stops being the filter's stream.
struct parse_error {
  int page = 0;         // the page being read, 1 for the first
  std::string command;  // the command being read, e.g. "SPEED" or "BITMAP"
  size_t offset = 0;    // byte offset of the first byte that is wrong (or of the end)
  std::string message;  // what was expected and what was found
};

/// Parses `bytes` as a whole stream. Pages complete before any fault are added
/// to `pages`; their payload views point into `bytes`. Returns false and fills
/// `error` at the first byte that is not what the filter would write. An empty
/// stream is valid: the filter writes nothing for a job without pages.
[[nodiscard]] bool parse_stream(std::span<const uint8_t> bytes, std::vector<page>* pages,
                                parse_error* error);

/// Reads up to `size` bytes of a stream at `offset` into `data`: how many it
/// read (fewer only at the stream's end), or -1 when the source fails.
using stream_read_fn = std::function<int64_t(uint64_t offset, uint8_t* data, size_t size)>;

/// Checks a stream of `size` bytes, read through `read`, as parse_stream does,
/// in a few KiB of memory: it reads each page's command lines and skips its
/// payload, so a stream of any length can be checked before it is sent.
/// `each_page`, when given, gets each page (its payload view empty) once it
/// is found whole, and may stop the walk by returning false. False at the
/// first fault (a failed read too), or when stopped.
[[nodiscard]] bool check_stream(const stream_read_fn& read, uint64_t size, parse_error* error,
                                const std::function<bool(const page&)>& each_page = {});

/// "page 2, SPEED, byte 318: expected a number, found \"x4\\r\\n\"".
std::string fault_message(const parse_error& error);

}  // namespace label_stream

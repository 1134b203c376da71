// Raster streams in the forms libcups reads but its writer does not make on
// this machine: the other byte order, and the original version 1.
// A stream is taken apart into its pages with the writer itself and put back
// together with each page header's 32-bit fields swapped.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/raster_gen.h"

namespace raster_variants {

/// Bytes of the sync word and of one page header in a version 1, 2 or 3 stream.
inline constexpr size_t kSyncBytes = 4;
inline constexpr size_t kHeaderBytes = sizeof(cups_page_header2_t);

/// The header's numbers (AdvanceDistance to cupsReal) are swapped as 32-bit
/// words; the 64-byte strings before and after them are bytes and stay.
inline constexpr size_t kFirstNumber = offsetof(cups_page_header2_t, AdvanceDistance);
inline constexpr size_t kEndOfNumbers = offsetof(cups_page_header2_t, cupsString);

inline void swap_words(std::string& bytes, size_t from, size_t to) {
  for (size_t at = from; at + 4 <= to; at += 4) {
    std::swap(bytes[at], bytes[at + 3]);
    std::swap(bytes[at + 1], bytes[at + 2]);
  }
}

/// A version-1 stream ("RaSt") carries the original, shorter page header:
/// the fields up to cupsRowStep, without the version-2 additions.
inline constexpr size_t kVersion1HeaderBytes = sizeof(cups_page_header_t);
static_assert(kVersion1HeaderBytes == offsetof(cups_page_header2_t, cupsNumColors));

/// The stream `pages` make in `mode`, rebuilt page by page: with the sync word
/// and every page header in the opposite byte order when `swap`, and as the
/// uncompressed version 1 when `version1` (`mode` then CUPS_RASTER_WRITE,
/// which writes version 3 with the same rows). Rows of 8-bit gray are bytes,
/// in either order the same.
inline std::string rebuilt_stream(const std::vector<raster_gen::page>& pages, cups_mode_t mode,
                                  bool swap, bool version1) {
  std::string out = raster_gen::write_stream({}, mode);  // the sync word alone
  if (version1) {
    // The version letter is the first or the last byte of the sync word,
    // depending on the byte order it was written in.
    out[out[0] == 'R' ? 3 : 0] = 't';
  }
  if (swap) swap_words(out, 0, kSyncBytes);
  size_t written = kSyncBytes;
  for (size_t n = 1; n <= pages.size(); ++n) {
    // The writer starts every page afresh, so page n's bytes are what the
    // stream of n pages adds to the stream of n - 1.
    const std::string prefix = raster_gen::write_stream(
        std::vector<raster_gen::page>(pages.begin(), pages.begin() + static_cast<long>(n)), mode);
    std::string page = prefix.substr(written);
    written = prefix.size();
    if (swap) swap_words(page, kFirstNumber, kEndOfNumbers);
    if (version1) page.erase(kVersion1HeaderBytes, kHeaderBytes - kVersion1HeaderBytes);
    out += page;
  }
  return out;
}

/// `pages` in `mode` (CUPS_RASTER_WRITE, _COMPRESSED or _PWG) in the opposite
/// byte order to the writer's.
inline std::string swapped_stream(const std::vector<raster_gen::page>& pages, cups_mode_t mode) {
  return rebuilt_stream(pages, mode, true, false);
}

/// `pages` as an uncompressed version-1 stream, in the writer's byte order or
/// the opposite one.
inline std::string version1_stream(const std::vector<raster_gen::page>& pages, bool swap) {
  return rebuilt_stream(pages, CUPS_RASTER_WRITE, swap, true);
}

/// Overwrites the 32-bit header field at `at` with `value` in the machine's
/// byte order, so a test can make any header lie.
inline void set_word(std::string& stream, size_t at, uint32_t value) {
  if (at + 4 <= stream.size()) std::memcpy(&stream[at], &value, 4);
}

}  // namespace raster_variants

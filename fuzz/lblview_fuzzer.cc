// Fuzz target: any bytes as a label command stream, read by lblview's parser,
// then summarised and drawn as lblview does. The parser must accept only the
// filter's exact bytes, name every fault inside the input, and nothing after
// it may read beyond what the parser accepted.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "render/label_stream.h"
#include "tools/lblview/page_report.h"
#include "tools/lblview/picture.h"
#include "tools/lblview/stream_parser.h"

namespace {

// Fuzz-only: lblview refuses pictures above kMaxPicturePixels (128 Mi) before
// allocating; drawing one just below that for every such input would slow
// fuzzing to a crawl, so pictures above this size are not drawn here.
constexpr uint64_t kFuzzPicturePixels = uint64_t{1} << 22;

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char line[label_stream::kLineBufferSize];
  const int length = std::snprintf(line, sizeof line, fmt, args...);
  return std::string(line, length > 0 ? static_cast<size_t>(length) : 0);
}

// The page as the filter would write it from the values the parser read.
std::string rewrite(const lblview::page& p) {
  namespace ls = label_stream;
  std::string out = format(ls::kSizeFormat, p.width_mm, p.height_mm) + ls::kGapLine +
                    format(ls::kSpeedFormat, p.speed) + format(ls::kDensityFormat, p.density) +
                    ls::kDirectionLine +
                    format(ls::kReferenceFormat, p.reference_x, p.reference_y) + ls::kOffsetLine +
                    ls::kShiftLine + ls::kPeelLine + ls::kCutterLine + ls::kPartialCutterLine +
                    ls::kTearLine + ls::kClearLine +
                    format(ls::kBitmapFormat, p.bitmap_x, p.bitmap_y, p.bytes_per_row, p.rows);
  out.append(p.payload.begin(), p.payload.end());
  return out + ls::kLineEnd + format(ls::kPrintFormat, p.copies);
}

void draw_if_affordable(const lblview::page& p, lblview::picture_kind kind, uint64_t pixels) {
  if (pixels > kFuzzPicturePixels && pixels <= lblview::kMaxPicturePixels) return;
  lblview::picture picture;
  std::string error;
  if (draw_page(p, kind, lblview::kDefaultDpi, &picture, &error) &&
      picture.pixels.size() != uint64_t{picture.width} * picture.height)
    fuzz_support::fail("picture", "pixel count differs from its size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  std::vector<lblview::page> pages;
  lblview::parse_error error;
  const bool valid = lblview::parse_stream(bytes, &pages, &error);

  // Accepted pages tile the input from its start, each the filter's own bytes.
  size_t end = 0;
  for (const lblview::page& p : pages) {
    if (p.offset != end || p.length > size - end)
      fuzz_support::fail("page place", "gap or overrun");
    const std::string original(reinterpret_cast<const char*>(data) + p.offset, p.length);
    if (rewrite(p) != original) fuzz_support::fail("page bytes", "accepted page is not rewritten");
    end += p.length;
  }
  if (valid && end != size) fuzz_support::fail("valid stream", "bytes left over");
  if (!valid && (error.offset < end || error.offset > size || error.message.empty() ||
                 error.page != static_cast<int>(pages.size()) + 1))
    fuzz_support::fail("parse error", lblview::describe(error));

  std::vector<lblview::page_facts> facts;
  for (const lblview::page& p : pages) {
    facts.push_back(lblview::examine(p, lblview::kDefaultDpi));
    const lblview::label_geometry& g = facts.back().geometry;
    const uint64_t label_pixels = g.width > 0 && g.height > 0 ? static_cast<uint64_t>(g.width) *
                                                                    static_cast<uint64_t>(g.height)
                                                              : 0;
    draw_if_affordable(p, lblview::picture_kind::label, label_pixels);
    draw_if_affordable(p, lblview::picture_kind::bitmap,
                       uint64_t(p.bytes_per_row) * 8 * uint64_t(p.rows));
  }
  lblview::stream_report report;
  report.source = "fuzz input";
  report.stream_bytes = size;
  report.pages = pages;
  report.facts = facts;
  report.error = valid ? nullptr : &error;
  if (lblview::text_report(report).empty() || lblview::json_report(report).empty())
    fuzz_support::fail("report", "empty");
  return 0;
}

// Fuzz target: any bytes as a label command stream, read by the label core's
// stream reader, then summarised and drawn as lblview does. The reader must
// accept only the filter's exact bytes and name every fault inside the input.
#include <algorithm>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "render/label_stream.h"
#include "tools/lblview/page_report.h"
#include "tools/lblview/picture.h"

namespace {

// Fuzz-only: pictures up to lblview's limit of 128 Mi pixels would slow
// fuzzing to a crawl, so larger ones than this are not drawn here.
constexpr uint64_t kFuzzPicturePixels = uint64_t{1} << 22;

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char line[label_stream::kLineBufferSize];
  const int length = std::snprintf(line, sizeof line, fmt, args...);
  return std::string(line, length > 0 ? static_cast<size_t>(length) : 0);
}

// The page as the label writer writes it from the values the parser read.
std::string rewrite(const label_stream::page& p) {
  namespace ls = label_stream;
  memory_output out;
  if (!write_setup_lines(p.settings, out)) fuzz_support::fail("rewrite", "setup lines");
  out.bytes += format(ls::kBitmapFormat, p.settings.horizontal, p.settings.vertical,
                      p.bytes_per_row, p.rows);
  out.bytes.append(p.payload.begin(), p.payload.end());
  return out.bytes + ls::kLineEnd + format(ls::kPrintFormat, p.copies);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<label_stream::page> pages;
  label_stream::parse_error error;
  const bool valid = label_stream::parse_stream({data, size}, &pages, &error);

  // Accepted pages tile the input from its start, each the filter's own bytes.
  size_t end = 0;
  for (const label_stream::page& p : pages) {
    if (p.offset != end || p.length > size - end ||
        rewrite(p) != std::string(reinterpret_cast<const char*>(data) + end, p.length))
      fuzz_support::fail("page bytes", "an accepted page is not the filter's bytes");
    end += p.length;
  }
  if (valid ? end != size
            : error.offset < end || error.offset > size || error.message.empty() ||
                  error.page != static_cast<int>(pages.size()) + 1)
    fuzz_support::fail("parse error",
                       valid ? "bytes left over" : label_stream::fault_message(error));

  // Checked page by page from a source, the stream gives the same pages and fault.
  size_t checked = 0;
  label_stream::parse_error streamed;
  const auto read = [&](uint64_t at, uint8_t* to, size_t n) {
    std::copy_n(data + at, n, to);
    return static_cast<int64_t>(n);
  };
  const bool streamed_valid = label_stream::check_stream(read, size, &streamed, [&](const auto& p) {
    return checked < pages.size() && p.offset == pages[checked].offset &&
           p.length == pages[checked++].length;
  });
  if (streamed_valid != valid || checked != pages.size() ||
      (!valid && label_stream::fault_message(streamed) != label_stream::fault_message(error)))
    fuzz_support::fail("check_stream", label_stream::fault_message(streamed));

  std::vector<lblview::page_facts> facts;
  for (const label_stream::page& p : pages) {
    facts.push_back(lblview::examine(p, lblview::kDefaultDpi));
    const lblview::label_geometry& g = facts.back().geometry;
    for (const auto kind : {lblview::picture_kind::label, lblview::picture_kind::bitmap}) {
      const uint64_t pixels = kind == lblview::picture_kind::bitmap
                                  ? uint64_t(p.bytes_per_row) * 8 * uint64_t(p.rows)
                              : g.width > 0 && g.height > 0 ? uint64_t(g.width) * uint64_t(g.height)
                                                            : 0;
      lblview::picture picture;
      std::string why;
      if ((pixels <= kFuzzPicturePixels || pixels > lblview::kMaxPicturePixels) &&
          draw_page(p, kind, lblview::kDefaultDpi, &picture, &why) &&
          picture.pixels.size() != uint64_t{picture.width} * picture.height)
        fuzz_support::fail("picture", "pixel count differs from its size");
    }
  }
  const lblview::stream_report report{"fuzz input", size,  lblview::kDefaultDpi,
                                      pages,        facts, valid ? nullptr : &error};
  if (lblview::text_report(report).empty() || lblview::json_report(report).empty())
    fuzz_support::fail("report", "empty");
  return 0;
}

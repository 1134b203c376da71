// Places each page's bitmap on its label, counts the dots that will print and
// formats the per-page summary as text or JSON.
#include "tools/lblview/page_report.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "render/label_stream.h"
#include "settings/printer_models.h"

namespace lblview {
namespace {

// Formats onto the end of `out`, at whatever length the text needs: file
// names and messages have no fixed bound.
[[gnu::format(printf, 2, 3)]] void append(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    const size_t start = out->size();
    out->resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out->data() + start, static_cast<size_t>(length) + 1, format, again);
    out->resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

// Printed dots of the bitmap rows and columns that fall on the label.
uint64_t dark_dots_on_label(const page& p, const label_geometry& g) {
  const visible_part v = on_label(g);
  uint64_t dark = 0;
  for (int64_t y = v.first_row; y < v.end_row; ++y) {
    const uint8_t* row = p.payload.data() + y * p.bytes_per_row;
    for (int64_t x = v.first_dot; x < v.end_dot; ++x) {
      if (label_stream::wire_dot_printed(row, static_cast<uint64_t>(x))) ++dark;
    }
  }
  return dark;
}

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not one.
size_t utf8_length(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xf0 && lead <= 0xf4   ? 4
                        : lead >= 0xe0                 ? 3
                        : lead >= 0xc2 && lead <= 0xdf ? 2
                                                       : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) return 0;
  }
  return length;
}

// File names may hold any bytes: UTF-8 passes through, other bytes become
// U+FFFD so the document stays valid JSON.
std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7f) {
      append(&out, "\\u%04x", b);
    } else if (b < 0x80) {
      out += c;
    } else if (const size_t length = utf8_length(text, i); length != 0) {
      out.append(text, i, length);
      i += length - 1;
    } else {
      out += "\\ufffd";
    }
  }
  return out + "\"";
}

double share(uint64_t part, uint64_t whole) {
  return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// The keyword of the choice a page's setup lines carry for the printer option
// `name` ("MediaType"), found by name: the table's order is not the report's.
const char* choice(const page& p, std::string_view name) {
  const auto option = std::find_if(std::begin(kPrinterOptions), std::end(kPrinterOptions),
                                   [&](const printer_option& o) { return o.name == name; });
  return option->choices[static_cast<size_t>(p.settings.*option->field)].keyword;
}

void text_page(const page& p, const page_facts& f, std::string* out) {
  const label_geometry& g = f.geometry;
  const pstops_doc& s = p.settings;
  append(out, "page %d (bytes %zu to %zu)\n", p.number, p.offset, p.offset + p.length - 1);
  append(out, "  label           %d x %d mm, %" PRId64 " x %" PRId64 " dots at %d dpi\n", s.width,
         s.height, g.width, g.height, g.dpi);
  append(out, "  media           %s\n", choice(p, "MediaType"));
  append(out, "  label mode      %s\n", choice(p, "LabelMode"));
  append(out, "  direction       %s\n", choice(p, "PrintDirection"));
  append(out, "  speed           %d\n", s.speed);
  append(out, "  density         %d\n", s.darkness);
  append(out, "  reference       %d,%d\n", s.refX, s.refY);
  append(out, "  bitmap          %" PRId64 " x %" PRId64 " dots at %d,%d (%d bytes per row)\n",
         g.bitmap_width, g.bitmap_height, s.horizontal, s.vertical, p.bytes_per_row);
  append(out, "  copies          %d\n", p.copies);
  append(out, "  dark dots       %" PRIu64 " of %" PRIu64 " (%.1f%%)\n", f.dark_dots, f.dots,
         100.0 * share(f.dark_dots, f.dots));
  for (const std::string& warning : f.warnings)
    append(out, "  warning         %s\n", warning.c_str());
}

void json_page(const page& p, const page_facts& f, bool last, std::string* out) {
  const label_geometry& g = f.geometry;
  const pstops_doc& s = p.settings;
  append(out, "    {\n      \"page\": %d,\n", p.number);
  append(out, "      \"stream_offset\": %zu,\n      \"stream_length\": %zu,\n", p.offset, p.length);
  append(out,
         "      \"label\": {\"width_mm\": %d, \"height_mm\": %d, \"width_dots\": %" PRId64
         ", \"height_dots\": %" PRId64 ", \"dpi\": %d},\n",
         s.width, s.height, g.width, g.height, g.dpi);
  append(out, "      \"media_type\": \"%s\",\n", choice(p, "MediaType"));
  append(out, "      \"label_mode\": \"%s\",\n", choice(p, "LabelMode"));
  append(out, "      \"direction\": \"%s\",\n", choice(p, "PrintDirection"));
  append(out, "      \"speed\": %d,\n      \"density\": %d,\n", s.speed, s.darkness);
  append(out, "      \"reference\": {\"x\": %d, \"y\": %d},\n", s.refX, s.refY);
  append(out,
         "      \"bitmap\": {\"x\": %d, \"y\": %d, \"bytes_per_row\": %d, \"width_dots\": %" PRId64
         ", \"height_dots\": %" PRId64 ", \"left_dot\": %" PRId64 ", \"top_dot\": %" PRId64
         ", \"payload_offset\": %zu},\n",
         s.horizontal, s.vertical, p.bytes_per_row, g.bitmap_width, g.bitmap_height, g.bitmap_left,
         g.bitmap_top, p.payload_offset);
  append(out, "      \"copies\": %d,\n", p.copies);
  append(out, "      \"dots\": %" PRIu64 ",\n      \"dark_dots\": %" PRIu64 ",\n", f.dots,
         f.dark_dots);
  append(out, "      \"dark_share\": %.6g,\n", share(f.dark_dots, f.dots));
  append(out, "      \"dark_dots_off_label\": %" PRIu64 ",\n", f.dark_dots_off_label);
  out->append("      \"warnings\": [");
  for (size_t i = 0; i < f.warnings.size(); ++i) {
    out->append(i ? ", " : "").append(json_string(f.warnings[i]));
  }
  out->append(last ? "]\n    }\n" : "]\n    },\n");
}

}  // namespace

int infer_dpi(const page& p) {
  constexpr int kResolutions[] = {203, 300, 600};
  if (p.settings.width <= 0) return kDefaultDpi;
  const double ratio = p.bytes_per_row * 8.0 / p.settings.width;
  int nearest = kResolutions[0];
  for (const int dpi : kResolutions)
    if (std::abs(ratio - double(dots_per_mm(dpi))) < std::abs(ratio - double(dots_per_mm(nearest))))
      nearest = dpi;
  return nearest;
}

label_geometry place_on_label(const page& p, int dpi) {
  label_geometry g;
  const pstops_doc& s = p.settings;
  g.dpi = dpi;
  g.width = int64_t{s.width} * dots_per_mm(dpi);
  g.height = int64_t{s.height} * dots_per_mm(dpi);
  g.bitmap_left = int64_t{s.refX} + s.horizontal;
  g.bitmap_top = int64_t{s.refY} + s.vertical;
  g.bitmap_width = int64_t{p.bytes_per_row} * 8;
  g.bitmap_height = p.rows;
  return g;
}

visible_part on_label(const label_geometry& g) {
  return {std::max<int64_t>(0, -g.bitmap_top),
          std::min<int64_t>(g.bitmap_height, g.height - g.bitmap_top),
          std::max<int64_t>(0, -g.bitmap_left),
          std::min<int64_t>(g.bitmap_width, g.width - g.bitmap_left)};
}

page_facts examine(const page& p, int dpi) {
  page_facts f;
  f.geometry = place_on_label(p, dpi);
  const label_geometry& g = f.geometry;
  f.dots = static_cast<uint64_t>(g.bitmap_width) * static_cast<uint64_t>(g.bitmap_height);
  uint64_t blank = 0;
  for (const uint8_t byte : p.payload) blank += static_cast<uint64_t>(std::popcount(byte));
  f.dark_dots = f.dots - blank;

  if (g.width <= 0 || g.height <= 0) {
    f.dark_dots_off_label = f.dark_dots;
    f.warnings.push_back("label size " + std::to_string(p.settings.width) + " x " +
                         std::to_string(p.settings.height) + " mm has no area");
    return f;
  }
  f.dark_dots_off_label = f.dark_dots - dark_dots_on_label(p, g);
  if (p.settings.width > kHeadWidthMm)
    f.warnings.push_back("label of " + std::to_string(p.settings.width) + " mm is wider than the " +
                         std::to_string(kHeadWidthMm) +
                         " mm print head; what lies beyond the head does not print");
  if (g.bitmap_left < 0 || g.bitmap_top < 0 || g.bitmap_left + g.bitmap_width > g.width ||
      g.bitmap_top + g.bitmap_height > g.height) {
    std::string warning;
    append(&warning,
           "bitmap of %" PRId64 " x %" PRId64 " dots at %" PRId64 ",%" PRId64
           " runs beyond the %" PRId64 " x %" PRId64 "-dot label (%d x %d mm at %d dpi); %" PRIu64
           " printed dots fall outside it",
           g.bitmap_width, g.bitmap_height, g.bitmap_left, g.bitmap_top, g.width, g.height,
           p.settings.width, p.settings.height, dpi, f.dark_dots_off_label);
    f.warnings.push_back(std::move(warning));
  }
  return f;
}

std::string text_report(const stream_report& report) {
  std::string out;
  for (size_t i = 0; i < report.pages.size() && i < report.facts.size(); ++i) {
    text_page(report.pages[i], report.facts[i], &out);
  }
  if (report.error == nullptr) {
    append(&out, "%s: %zu page%s in %" PRIu64 " bytes, valid\n", report.source.c_str(),
           report.pages.size(), report.pages.size() == 1 ? "" : "s", report.stream_bytes);
  } else {
    append(&out, "%s: malformed at %s\n", report.source.c_str(),
           fault_message(*report.error).c_str());
  }
  return out;
}

std::string json_report(const stream_report& report) {
  std::string out = "{\n";
  append(&out, "  \"source\": %s,\n", json_string(report.source).c_str());
  append(&out, "  \"bytes\": %" PRIu64 ",\n", report.stream_bytes);
  if (report.dpi == 0)
    out.append("  \"dpi\": null,\n");
  else
    append(&out, "  \"dpi\": %d,\n", report.dpi);
  append(&out, "  \"valid\": %s,\n", report.error == nullptr ? "true" : "false");
  const size_t count = std::min(report.pages.size(), report.facts.size());
  out.append(count == 0 ? "  \"pages\": [],\n" : "  \"pages\": [\n");
  for (size_t i = 0; i < count; ++i) {
    json_page(report.pages[i], report.facts[i], i + 1 == count, &out);
  }
  if (count != 0) out.append("  ],\n");
  if (report.error == nullptr) {
    out.append("  \"error\": null\n");
  } else {
    const parse_error& e = *report.error;
    append(&out, "  \"error\": {\"page\": %d, \"command\": %s, \"offset\": %zu, \"message\": %s}\n",
           e.page, json_string(e.command).c_str(), e.offset, json_string(e.message).c_str());
  }
  return out + "}\n";
}

}  // namespace lblview

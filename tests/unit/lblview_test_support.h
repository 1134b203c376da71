// Label streams written from the shared command definitions and parsed back,
// and PNG files read back through libpng, for the lblview tests.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "render/label_stream.h"
#include "tools/lblview/stream_parser.h"

namespace lblview_test {

/// The values one page of the stream carries.
struct page_values {
  int width_mm = 100, height_mm = 150, speed = 4, density = 8;
  int reference_x = 0, reference_y = 0;
  int bitmap_x = 0, bitmap_y = 0, bytes_per_row = 2, rows = 24;
  int copies = 1;
};

template <typename... Args>
std::string format(const char* fmt, Args... args) {
  char line[label_stream::kLineBufferSize];
  const int length = std::snprintf(line, sizeof line, fmt, args...);
  return std::string(line, length > 0 ? static_cast<size_t>(length) : 0);
}

/// One page as the filter writes it; `payload` must hold bytes_per_row x rows
/// bytes for a well-formed page (tests pass other lengths on purpose).
inline std::string page_stream(const page_values& v, const std::string& payload) {
  namespace ls = label_stream;
  std::string out;
  out += format(ls::kSizeFormat, v.width_mm, v.height_mm);
  out += ls::kGapLine;
  out += format(ls::kSpeedFormat, v.speed);
  out += format(ls::kDensityFormat, v.density);
  out += ls::kDirectionLine;
  out += format(ls::kReferenceFormat, v.reference_x, v.reference_y);
  out += ls::kOffsetLine;
  out += ls::kShiftLine;
  out += ls::kPeelLine;
  out += ls::kCutterLine;
  out += ls::kPartialCutterLine;
  out += ls::kTearLine;
  out += ls::kClearLine;
  out += format(ls::kBitmapFormat, v.bitmap_x, v.bitmap_y, v.bytes_per_row, v.rows);
  out += payload;
  out += ls::kLineEnd;
  out += format(ls::kPrintFormat, v.copies);
  return out;
}

/// A payload of `v`'s size whose byte i is `i * 37 + 11`: every bit pattern
/// shows up, so a misplaced byte or bit is seen.
inline std::string pattern_payload(const page_values& v) {
  std::string payload(static_cast<size_t>(v.bytes_per_row) * static_cast<size_t>(v.rows), '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 37 + 11);
  return payload;
}

inline std::span<const uint8_t> as_bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

/// The values the parser read for `p`, to write the page again.
inline page_values values_of(const lblview::page& p) {
  return {p.width_mm, p.height_mm, p.speed,         p.density, p.reference_x, p.reference_y,
          p.bitmap_x, p.bitmap_y,  p.bytes_per_row, p.rows,    p.copies};
}

/// A stream and what the parser made of it. The pages' payloads point into
/// `stream`, so it is built in place and never moved.
struct parsed {
  explicit parsed(std::string bytes) : stream(std::move(bytes)) {
    ok = lblview::parse_stream(as_bytes(stream), &pages, &error);
  }
  /// A page the filter could have written: it must parse.
  parsed(const page_values& v, const std::string& payload) : parsed(page_stream(v, payload)) {
    EXPECT_TRUE(ok) << lblview::describe(error);
  }
  parsed(const parsed&) = delete;
  parsed& operator=(const parsed&) = delete;

  const lblview::page& page() const { return pages.at(0); }

  const std::string stream;
  bool ok = false;
  std::vector<lblview::page> pages;
  lblview::parse_error error;
};

/// An 8-bit gray picture read from a PNG file; width 0 when it cannot be read.
struct gray_image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
  std::string error;
  uint8_t at(uint32_t x, uint32_t y) const { return pixels[size_t{y} * width + x]; }
};

inline gray_image read_png(const std::string& path) {
  gray_image out;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    out.error = image.message;
    return out;
  }
  image.format = PNG_FORMAT_GRAY;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
    out.error = image.message;
    png_image_free(&image);
    return out;
  }
  out.width = image.width;
  out.height = image.height;
  out.pixels = std::move(pixels);
  png_image_free(&image);
  return out;
}

/// A picture as text, one character a pixel ('#' printed, '.' blank, 'o' the
/// label outline, '?' anything else), rows on lines, so a failed comparison
/// shows where the pictures differ.
inline std::string sketch(uint32_t width, uint32_t height, std::span<const uint8_t> pixels) {
  std::string out;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t g = pixels[size_t{y} * width + x];
      out += g == 0 ? '#' : g == 255 ? '.' : g == 160 ? 'o' : '?';
    }
    out += '\n';
  }
  return out;
}

}  // namespace lblview_test

// Pictures of label pages through libpng's simplified writer: the whole
// picture is drawn in memory first, which the size limit keeps affordable.
#include "tools/lblview/picture.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "render/label_stream.h"
#include "tools/lblview/page_report.h"

namespace lblview {
namespace {

[[nodiscard]] bool allocate(int64_t width, int64_t height, picture* out, std::string* error) {
  if (width <= 0 || height <= 0) {
    *error = "nothing to draw on: the picture would be " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels";
    return false;
  }
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels > kMaxPicturePixels) {
    *error = "picture of " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels exceeds the limit of " + std::to_string(kMaxPicturePixels) + " pixels";
    return false;
  }
  out->width = static_cast<uint32_t>(width);
  out->height = static_cast<uint32_t>(height);
  out->pixels.assign(static_cast<size_t>(pixels), kBlankGray);
  return true;
}

void draw_bitmap(const page& p, picture* out) {
  for (uint32_t y = 0; y < out->height; ++y) {
    const uint8_t* row = p.payload.data() + size_t{y} * static_cast<size_t>(p.bytes_per_row);
    uint8_t* pixel = out->pixels.data() + size_t{y} * out->width;
    for (uint32_t x = 0; x < out->width; ++x) {
      if (label_stream::wire_dot_printed(row, x)) pixel[x] = kPrintedGray;
    }
  }
}

void draw_label(const page& p, const label_geometry& g, picture* out) {
  const uint32_t w = out->width, h = out->height;
  uint8_t* px = out->pixels.data();
  // The label's edge, one dot wide, in gray under the printed dots.
  for (uint32_t x = 0; x < w; ++x) {
    px[x] = kEdgeGray;
    px[size_t{h - 1} * w + x] = kEdgeGray;
  }
  for (uint32_t y = 0; y < h; ++y) {
    px[size_t{y} * w] = kEdgeGray;
    px[size_t{y} * w + w - 1] = kEdgeGray;
  }

  // Only the part of the bitmap that lies on the label prints.
  const visible_part v = on_label(g);
  for (int64_t y = v.first_row; y < v.end_row; ++y) {
    const uint8_t* row = p.payload.data() + y * p.bytes_per_row;
    const int64_t line = (g.bitmap_top + y) * int64_t{w} + g.bitmap_left;
    for (int64_t x = v.first_dot; x < v.end_dot; ++x) {
      if (label_stream::wire_dot_printed(row, static_cast<uint64_t>(x)))
        px[line + x] = kPrintedGray;
    }
  }
}

}  // namespace

bool draw_page(const page& p, picture_kind kind, int dpi, picture* out, std::string* error) {
  if (kind == picture_kind::bitmap) {
    if (!allocate(int64_t{p.bytes_per_row} * 8, p.rows, out, error)) return false;
    draw_bitmap(p, out);
    return true;
  }
  const label_geometry g = place_on_label(p, dpi);
  if (!allocate(g.width, g.height, out, error)) return false;
  draw_label(p, g, out);
  return true;
}

bool write_png(const picture& pic, const std::string& path, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = pic.width;
  image.height = pic.height;
  image.format = PNG_FORMAT_GRAY;
  const int ok = png_image_write_to_file(&image, path.c_str(), 0, pic.pixels.data(), 0, nullptr);
  if (ok == 0) *error = image.message[0] != '\0' ? image.message : "libpng failed";
  png_image_free(&image);
  return ok != 0;
}

std::string numbered_path(const std::string& path, int number, int pages) {
  if (pages <= 1) return path;
  constexpr std::string_view kPng = ".png";
  const bool png_name = path.size() > kPng.size() && std::string_view(path).ends_with(kPng);
  std::string numbered = path.substr(0, png_name ? path.size() - kPng.size() : path.size());
  numbered += '-';
  numbered += std::to_string(number);
  if (png_name) numbered += kPng;
  return numbered;
}

}  // namespace lblview

// Draws a page of the label stream as an 8-bit gray picture and writes it as
// PNG: either the label as it would print, or the bare bitmap dot for dot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/stream_parser.h"

namespace lblview {

enum class picture_kind {
  label,   // the label at the printer's resolution: bitmap placed, edge outlined
  bitmap,  // the BITMAP payload alone, one pixel per dot, bytes per row x 8 wide
};

/// Gray levels of the pictures.
inline constexpr uint8_t kPrintedGray = 0;
inline constexpr uint8_t kBlankGray = 255;
inline constexpr uint8_t kEdgeGray = 160;  // label outline, under any printed dot

/// A picture is held whole before it is written: this bounds its memory.
inline constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 27;

/// An 8-bit gray picture, rows top first, `width` bytes a row.
struct picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

/// Draws page `p`. The label picture is the label's size at `dpi`; its
/// outermost dots are the outline, and printed dots are black over it.
/// Bitmap dots beyond the label edge are cut off, as the printer cuts them.
/// False with `error` set when the page has nothing to draw on or the picture
/// would pass `kMaxPicturePixels`.
[[nodiscard]] bool draw_page(const label_stream::page& p, picture_kind kind, int dpi, picture* out,
                             std::string* error);

/// Writes `pic` as an 8-bit gray PNG. False with `error` set on failure.
[[nodiscard]] bool write_png(const picture& pic, const std::string& path, std::string* error);

/// The file for page `number` of a stream of `pages` pages: `path` itself for
/// a single page, else the number inserted before a ".png" ending
/// ("label.png" -> "label-2.png") or appended ("label" -> "label-2").
std::string numbered_path(const std::string& path, int number, int pages);

}  // namespace lblview

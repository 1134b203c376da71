// A picture placed on the label as IPP asks: scaled by print-scaling, turned
// by orientation-requested, centred, at the printer's resolution, and painted
// into one label page of 8-bit gray as the picture's rows arrive, in any
// order (an interlaced PNG sends its pixels in seven passes).
#pragma once

#include <cstdint>
#include <vector>

#include "app/documents.h"
#include "render/render.h"

/// Where each label dot takes its picture pixel from (the nearest one), and
/// the gray label page the rows are painted into.
class picture_placement {
 public:
  /// Plans a picture of `width` x `height` pixels, `ppi_x` x `ppi_y` pixels
  /// an inch (0 when the picture does not say), on `job`'s label, and takes
  /// the gray page, blank; false when its memory cannot be had.
  [[nodiscard]] bool plan(const picture_job& job, uint32_t width, uint32_t height, double ppi_x,
                          double ppi_y);

  /// Paints the picture's row `y` from `count` gray pixels, which stand for
  /// its columns `first`, `first + step`, `first + 2 * step`, ...
  void paint_row(uint32_t y, uint32_t first, uint32_t step, const uint8_t* pixels, uint32_t count);

  /// The label, label_dots x label_rows gray bytes; 255 where no picture is.
  [[nodiscard]] const uint8_t* page() const { return page_.get(); }

 private:
  // For each label column and row, the picture row or column it shows, -1
  // beyond the picture. A quarter turn makes label columns picture rows.
  std::vector<int32_t> column_source_, row_source_;
  uint32_t dots_ = 0, rows_ = 0;
  uint32_t x_begin_ = 0, x_end_ = 0, y_begin_ = 0, y_end_ = 0;  // the picture's dots on the label
  bool quarter_ = false, x_reversed_ = false, y_reversed_ = false;
  page_buffer page_;
};

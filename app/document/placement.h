// A picture placed on the label as IPP asks: scaled by print-scaling, turned
// by orientation-requested, centred, at the printer's resolution, and painted
// into one label page of 8-bit gray as the picture's rows arrive, in any
// order (an interlaced PNG sends its pixels in seven passes).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "render/render.h"
#include "settings/settings.h"

/// IPP's print-scaling: how the picture's size becomes the label's.
enum class picture_scaling {
  kAuto,     // as auto-fit: a picture is printed whole unless the job asks to cut it
  kAutoFit,  // its own size if it fits the label, else fit
  kFill,     // scaled to cover the label, cut at its edges
  kFit,      // scaled to fit the label whole
  kNone      // its own size, cut at the label's edges
};

/// IPP's orientation-requested: how the picture is turned on the label.
enum class picture_turn {
  kAuto,              // 'none' or not given: turned a quarter when placed larger (cut less) so
  kPortrait,          // as it is
  kLandscape,         // a quarter turn counter-clockwise
  kReverseLandscape,  // a quarter turn clockwise
  kReversePortrait    // half a turn
};

/// One picture document and the label it prints on.
struct picture_job {
  pstops_doc doc{};  // the label's settings; doc.copies goes to the PRINT line
  uint32_t label_dots = 0, label_rows = 0;  // the label at the printer's resolution
  int dpi_x = 0, dpi_y = 0;
  picture_scaling scaling = picture_scaling::kAuto;
  picture_turn turn = picture_turn::kPortrait;
  std::function<bool()> cancelled;  // asked between rows; may be empty
};

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

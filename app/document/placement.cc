// Placement of a picture on the label: its size from print-scaling and its
// own resolution, its turn from orientation-requested, then for each label
// dot the nearest picture pixel, so bars stay sharp-edged at any scale.
#include "app/document/placement.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>

namespace {

// PAPPL's figure for a picture that gives no resolution and is printed at
// its own size.
constexpr double kUnknownPpi = 200;

// The placed picture's side in dots: at least one, at most 2^30, so that the
// index arithmetic below stays within 64 bits.
int64_t placed_side(double dots) {
  if (!std::isfinite(dots)) return 1;
  return std::clamp<int64_t>(std::llround(dots), 1, int64_t{1} << 30);
}

// Along one label axis of `count` dots, where the picture of `placed` dots
// starts at `offset`: the picture index (of `pixels`) each dot shows, the
// nearest pixel to the dot's centre, or -1 off the picture.
std::vector<int32_t> axis_sources(uint32_t count, int64_t offset, int64_t placed, uint32_t pixels,
                                  bool reversed) {
  std::vector<int32_t> sources(count, -1);
  for (uint32_t i = 0; i < count; ++i) {
    int64_t at = static_cast<int64_t>(i) - offset;
    if (at < 0 || at >= placed) continue;
    if (reversed) at = placed - 1 - at;
    const int64_t pixel = (2 * at + 1) * pixels / (2 * placed);
    sources[i] = static_cast<int32_t>(std::min<int64_t>(pixel, pixels - 1));
  }
  return sources;
}

// The run of label dots in [begin, end) showing picture index `source`: the
// sources run up (or down, reversed) along it.
std::pair<uint32_t, uint32_t> dots_showing(const std::vector<int32_t>& sources, uint32_t begin,
                                           uint32_t end, bool reversed, int32_t source) {
  const auto first = sources.begin() + begin, last = sources.begin() + end;
  const auto run = reversed ? std::equal_range(first, last, source, std::greater<>())
                            : std::equal_range(first, last, source);
  return {static_cast<uint32_t>(run.first - sources.begin()),
          static_cast<uint32_t>(run.second - sources.begin())};
}

// Whether picture column `column` is among those a row brings, and where.
bool brought(int32_t column, uint32_t first, uint32_t step, uint32_t count, uint32_t* index) {
  if (column < 0 || static_cast<uint32_t>(column) < first) return false;
  const uint32_t from_first = static_cast<uint32_t>(column) - first;
  *index = from_first / step;
  return from_first % step == 0 && *index < count;
}

}  // namespace

bool picture_placement::plan(const picture_job& job, uint32_t width, uint32_t height, double ppi_x,
                             double ppi_y) {
  dots_ = job.label_dots;
  rows_ = job.label_rows;
  // The picture's own size in inches, then in dots along the label's width
  // and length, turned a quarter or not.
  const bool has_ppi = ppi_x > 0 && ppi_y > 0;
  const double inches_wide = width / (has_ppi ? ppi_x : kUnknownPpi);
  const double inches_high = height / (has_ppi ? ppi_y : kUnknownPpi);
  const auto own_size = [&](bool quarter) {
    return quarter ? std::pair(inches_high * job.dpi_x, inches_wide * job.dpi_y)
                   : std::pair(inches_wide * job.dpi_x, inches_high * job.dpi_y);
  };
  // auto and auto-fit keep a picture that fits at its own size and fit a
  // larger one whole: on a label a cut-off address or barcode is a wrong
  // label, so only fill and none cut, when asked.
  const auto factor_for = [&](bool quarter) {
    const auto [across, along] = own_size(quarter);
    const double fit = std::min(dots_ / across, rows_ / along);
    if (job.scaling == picture_scaling::kFill) return std::max(dots_ / across, rows_ / along);
    if (job.scaling == picture_scaling::kNone) return 1.0;
    if (job.scaling == picture_scaling::kFit || !has_ppi) return fit;
    return std::min(1.0, fit);
  };
  // The share of the picture on the label, the rest being cut off.
  const auto share_shown = [&](bool quarter) {
    const auto [across, along] = own_size(quarter);
    const double factor = factor_for(quarter);
    return std::min(1.0, dots_ / (across * factor)) * std::min(1.0, rows_ / (along * factor));
  };
  // With the turn left open, the picture is turned a quarter when that
  // places it larger, or, where it is cut (fill, none), cuts less of it.
  picture_turn turn = job.turn;
  if (turn == picture_turn::kAuto) {
    const bool cuts =
        job.scaling == picture_scaling::kFill || job.scaling == picture_scaling::kNone;
    const bool better =
        cuts ? share_shown(true) > share_shown(false) : factor_for(true) > factor_for(false);
    turn = better ? picture_turn::kLandscape : picture_turn::kPortrait;
  }
  quarter_ = turn == picture_turn::kLandscape || turn == picture_turn::kReverseLandscape;
  x_reversed_ = turn == picture_turn::kReversePortrait || turn == picture_turn::kReverseLandscape;
  y_reversed_ = turn == picture_turn::kReversePortrait || turn == picture_turn::kLandscape;
  const auto [own_dots, own_rows] = own_size(quarter_);
  const double factor = factor_for(quarter_);
  const int64_t placed_dots = placed_side(own_dots * factor);
  const int64_t placed_rows = placed_side(own_rows * factor);

  // Centred; what lies beyond the label's edges is cut off.
  const int64_t x = (static_cast<int64_t>(dots_) - placed_dots) / 2;
  const int64_t y = (static_cast<int64_t>(rows_) - placed_rows) / 2;
  x_begin_ = static_cast<uint32_t>(std::clamp<int64_t>(x, 0, dots_));
  x_end_ = static_cast<uint32_t>(std::clamp<int64_t>(x + placed_dots, 0, dots_));
  y_begin_ = static_cast<uint32_t>(std::clamp<int64_t>(y, 0, rows_));
  y_end_ = static_cast<uint32_t>(std::clamp<int64_t>(y + placed_rows, 0, rows_));
  column_source_ = axis_sources(dots_, x, placed_dots, quarter_ ? height : width, x_reversed_);
  row_source_ = axis_sources(rows_, y, placed_rows, quarter_ ? width : height, y_reversed_);

  const uint64_t size = uint64_t{dots_} * rows_;
  page_ = allocate_page_buffer(size);
  if (!page_) return false;
  std::memset(page_.get(), 255, size);
  return true;
}

void picture_placement::paint_row(uint32_t y, uint32_t first, uint32_t step, const uint8_t* pixels,
                                  uint32_t count) {
  const auto source = static_cast<int32_t>(y);
  uint32_t index = 0;
  if (quarter_) {
    // The row is a run of label columns: each label row gives it one pixel.
    const auto [x0, x1] = dots_showing(column_source_, x_begin_, x_end_, x_reversed_, source);
    if (x0 == x1) return;
    for (uint32_t row = y_begin_; row < y_end_; ++row)
      if (brought(row_source_[row], first, step, count, &index))
        std::memset(page_.get() + uint64_t{row} * dots_ + x0, pixels[index], x1 - x0);
    return;
  }
  // The row is a run of label rows: paint the first, copy it to the others.
  const auto [y0, y1] = dots_showing(row_source_, y_begin_, y_end_, y_reversed_, source);
  if (y0 == y1) return;
  uint8_t* const painted = page_.get() + uint64_t{y0} * dots_;
  for (uint32_t x = x_begin_; x < x_end_; ++x)
    if (brought(column_source_[x], first, step, count, &index)) painted[x] = pixels[index];
  for (uint32_t row = y0 + 1; row < y1; ++row)
    std::memcpy(page_.get() + uint64_t{row} * dots_ + x_begin_, painted + x_begin_,
                x_end_ - x_begin_);
}

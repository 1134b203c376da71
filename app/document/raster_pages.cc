// Raster pages into the label core as PAPPL reads them from the client. PAPPL
// 1.3 hands over the rows it could read and then ends the page as if it were
// whole, so a page cut short is caught here, before any of it is written.
#include "app/document/raster_pages.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "settings/printer_models.h"

namespace {

constexpr int kMaxShrink = 16;

// Dot `i` of `box` dots drawn from `source` dots takes the source dot under
// its centre.
uint32_t source_dot(uint32_t i, uint32_t source, uint32_t box) {
  return static_cast<uint32_t>((2 * static_cast<uint64_t>(i) + 1) * source /
                               (2 * static_cast<uint64_t>(box)));
}

}  // namespace

page_problem check_printer_page(int dpi_x, int dpi_y, uint32_t dots, uint32_t rows) {
  const bool fits =
      dots <= dots_across(kMaxLabelWidthMm, dpi_x) && rows <= dots_across(kMaxLabelHeightMm, dpi_y);
  return fits ? page_problem::kNone : page_problem::kTooLarge;
}

raster_document::raster_document(const pstops_doc& doc, int dpi_x, int dpi_y)
    : doc_(doc),
      dpi_x_(dpi_x),
      dpi_y_(dpi_y),
      label_dots_(static_cast<uint32_t>(dots_across(doc.width, dpi_x))),
      label_rows_(static_cast<uint32_t>(dots_across(doc.height, dpi_y))) {}

// A page larger than the label is scaled down, keeping its shape, and
// centred on a page of the label's size.
raster_document::fit raster_document::plan_fit(uint32_t dots, uint32_t rows) const {
  fit f;
  const double scale =
      std::min(static_cast<double>(label_dots_) / dots, static_cast<double>(label_rows_) / rows);
  f.dots = label_dots_;
  f.rows = label_rows_;
  f.src_w = dots;
  f.src_h = rows;
  f.box_w = std::clamp(static_cast<uint32_t>(dots * scale), uint32_t{1}, label_dots_);
  f.box_h = std::clamp(static_cast<uint32_t>(rows * scale), uint32_t{1}, label_rows_);
  f.box_x = (label_dots_ - f.box_w) / 2;
  f.box_y = (label_rows_ - f.box_h) / 2;
  return f;
}

uint32_t raster_document::source_row(uint32_t out_row) const {
  return source_dot(out_row - fit_.box_y, fit_.src_h, fit_.box_h);
}

bool raster_document::start_page(unsigned number, uint32_t dots, uint32_t rows, std::string* error,
                                 std::string* notice) {
  number_ = number;
  rows_ = rows;
  rows_added_ = 0;
  notice->clear();
  // Over the label by a few dots (its size in whole millimetres, a client's
  // rounding) the page prints as it is: the label's edge cuts the rest.
  fitted_ = dots > label_dots_ + kCropToleranceDots || rows > label_rows_ + kCropToleranceDots;
  fit_ = fitted_ ? plan_fit(dots, rows) : fit{dots, rows};
  // A page is scaled down at most kMaxShrink times onto the printer's largest
  // page; a larger one is refused before any row comes.
  page_problem problem = check_printer_page(dpi_x_ * kMaxShrink, dpi_y_ * kMaxShrink, dots, rows);
  if (problem == page_problem::kNone)
    problem = check_printer_page(dpi_x_, dpi_y_, fit_.dots, fit_.rows);
  if (problem == page_problem::kNone)
    problem = page_.start(doc_, fit_.dots, fit_.rows, doc_.copies);
  started_ = problem == page_problem::kNone;
  if (!started_) {
    *error = page_problem_message(problem, static_cast<int>(number), dots, rows);
    return false;
  }
  if (!fitted_) return true;
  columns_.resize(fit_.box_w);
  for (uint32_t x = 0; x < fit_.box_w; ++x) columns_[x] = source_dot(x, fit_.src_w, fit_.box_w);
  out_row_.assign(fit_.dots, 255);
  for (next_out_ = 0; next_out_ < fit_.box_y; ++next_out_) page_.add_rows(out_row_.data(), 0, 1);
  char text[160];
  std::snprintf(text, sizeof text,
                "Page %u of %" PRIu32 " x %" PRIu32 " dots is scaled down to fit the %" PRIu32
                " x %" PRIu32 "-dot label",
                number, dots, rows, label_dots_, label_rows_);
  *notice = text;
  return true;
}

// The box's rows that take source row `source`, then blank label below it.
void raster_document::emit_rows_from(uint32_t source, const uint8_t* row) {
  const uint32_t box_end = fit_.box_y + fit_.box_h;
  while (next_out_ < box_end && source_row(next_out_) == source) {
    for (uint32_t x = 0; x < fit_.box_w; ++x) out_row_[fit_.box_x + x] = row[columns_[x]];
    page_.add_rows(out_row_.data(), 0, 1);
    ++next_out_;
  }
}

void raster_document::add_row(const uint8_t* row) {
  if (!started_ || rows_added_ == rows_) return;
  if (fitted_)
    emit_rows_from(rows_added_, row);
  else
    page_.add_rows(row, 0, 1);
  ++rows_added_;
}
bool raster_document::end_page(label_output& out, std::string* error) {
  const bool whole = started_ && rows_added_ == rows_;
  started_ = false;
  if (!whole) {
    char text[96];
    std::snprintf(text, sizeof text, "Page %u ends after %" PRIu32 " of its %" PRIu32 " rows",
                  number_, rows_added_, rows_);
    *error = text;
    return false;
  }
  if (page_.write(out)) {
    ++written_;
    return true;
  }
  *error = "Unable to write print data";
  return false;
}

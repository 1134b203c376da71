// Raster pages into the label core as PAPPL reads them from the client. PAPPL
// 1.3 hands over the rows it could read and then ends the page as if it were
// whole, so a page cut short is caught here, before any of it is written.
#include <cinttypes>
#include <cstdio>

#include "app/documents.h"
#include "settings/printer_models.h"

page_problem check_printer_page(int dpi_x, int dpi_y, uint32_t dots, uint32_t rows) {
  const bool fits =
      dots <= dots_across(kMaxLabelWidthMm, dpi_x) && rows <= dots_across(kMaxLabelHeightMm, dpi_y);
  return fits ? page_problem::kNone : page_problem::kTooLarge;
}

raster_document::raster_document(const pstops_doc& doc, int dpi_x, int dpi_y)
    : doc_(doc), dpi_x_(dpi_x), dpi_y_(dpi_y) {}

bool raster_document::start_page(unsigned number, uint32_t dots, uint32_t rows,
                                 std::string* error) {
  number_ = number;
  rows_ = rows;
  rows_added_ = 0;
  page_problem problem = check_printer_page(dpi_x_, dpi_y_, dots, rows);
  if (problem == page_problem::kNone) problem = page_.start(doc_, dots, rows, doc_.copies);
  started_ = problem == page_problem::kNone;
  if (!started_) *error = describe(problem, static_cast<int>(number), dots, rows);
  return started_;
}

void raster_document::add_row(const uint8_t* row) {
  if (!started_ || rows_added_ == rows_) return;
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
  if (page_.write(out)) return true;
  *error = "Unable to write print data";
  return false;
}

// What lblprinter does with a document's bytes before any reach the printer:
// pictures (PNG, JPEG) decoded row by row and placed on the label, raster
// pages checked against the printer, each document written as whole label
// sequences or not at all. Nothing here knows PAPPL: the fuzz target runs the
// server's own code on bytes in memory, PAPPL's callbacks only adapt it.
#pragma once

#include <cstdint>
#include <string>

#include "render/render.h"
#include "settings/settings.h"

/// The printer's largest page at a resolution: the 108 mm head by 1 m of
/// label. A page beyond it is kTooLarge, before its memory is taken.
[[nodiscard]] page_problem check_printer_page(int dpi_x, int dpi_y, uint32_t dots, uint32_t rows);

/// A raster document's pages as PAPPL hands them over, a row at a time: each
/// page checked against the printer before its rows come, and written whole
/// once they all came; a page whose rows stop early is never written.
class raster_document {
 public:
  raster_document(const pstops_doc& doc, int dpi_x, int dpi_y);

  /// Starts page `number` (1 for the first) of `dots` gray bytes by `rows`;
  /// false, with the spooler's message in `error`, when the printer cannot
  /// take it.
  [[nodiscard]] bool start_page(unsigned number, uint32_t dots, uint32_t rows, std::string* error);

  /// The page's next row of `dots` gray bytes.
  void add_row(const uint8_t* row);

  /// Writes the page when all its rows came; false, with the message, when
  /// they did not or the output failed.
  [[nodiscard]] bool end_page(label_output& out, std::string* error);

  /// The number of the last page started, 0 before the first.
  [[nodiscard]] unsigned page_number() const { return number_; }

 private:
  pstops_doc doc_;
  int dpi_x_, dpi_y_;
  label_page page_;
  unsigned number_ = 0;
  bool started_ = false;  // rows go to the page only once it is checked
  uint32_t rows_ = 0, rows_added_ = 0;
};

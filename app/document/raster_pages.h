// Raster pages as PAPPL hands them over, checked against the printer and
// its label before their rows come, fitted onto the label when larger, and
// written whole or not at all. Nothing here knows PAPPL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/render.h"
#include "settings/settings.h"

/// The printer's largest page at a resolution: the 108 mm head by 1 m of
/// label. A page beyond it is kTooLarge, before its memory is taken.
[[nodiscard]] page_problem check_printer_page(int dpi_x, int dpi_y, uint32_t dots, uint32_t rows);

/// A page larger than its label by at most this many dots a side prints as
/// it is (the label's edge cuts it); a larger one is scaled down to fit it.
inline constexpr uint32_t kCropToleranceDots = 8;

/// A raster document's pages as PAPPL hands them over, a row at a time: each
/// page checked against the printer before its rows come, fitted onto the
/// job's label when larger, and written whole once they all came; a page
/// whose rows stop early is never written.
class raster_document {
 public:
  raster_document(const pstops_doc& doc, int dpi_x, int dpi_y);

  /// Starts page `number` (1 for the first) of `dots` gray bytes by `rows`;
  /// false, with the spooler's message in `error`, when the printer cannot
  /// take it. A page larger than the label sets `notice` to what was done
  /// to fit it ("Page 1 of 1725 x 2233 dots is scaled to 46% ..."), else
  /// empties it.
  [[nodiscard]] bool start_page(unsigned number, uint32_t dots, uint32_t rows, std::string* error,
                                std::string* notice);

  /// The page's next row of `dots` gray bytes.
  void add_row(const uint8_t* row);

  /// Writes the page when all its rows came; false, with the message, when
  /// they did not or the output failed.
  [[nodiscard]] bool end_page(label_output& out, std::string* error);

  /// The number of the last page started, 0 before the first.
  [[nodiscard]] unsigned page_number() const { return number_; }

  /// The pages written whole so far.
  [[nodiscard]] unsigned pages_written() const { return written_; }

  /// The job's label at the printer's resolution.
  [[nodiscard]] uint32_t label_dots() const { return label_dots_; }
  [[nodiscard]] uint32_t label_rows() const { return label_rows_; }

 private:
  // Where the page's rows land on the label: the page, src_w x src_h, drawn
  // into the box (x, y, w, h) of an output page of dots x rows.
  struct fit {
    uint32_t dots = 0, rows = 0;
    uint32_t src_w = 0, src_h = 0;
    uint32_t box_x = 0, box_y = 0, box_w = 0, box_h = 0;
  };
  fit plan_fit(uint32_t dots, uint32_t rows) const;
  uint32_t source_row(uint32_t out_row) const;
  void emit_rows_from(uint32_t source, const uint8_t* row);

  pstops_doc doc_;
  int dpi_x_, dpi_y_;
  uint32_t label_dots_, label_rows_;
  label_page page_;
  unsigned number_ = 0;
  unsigned written_ = 0;
  bool started_ = false;  // rows go to the page only once it is checked
  uint32_t rows_ = 0, rows_added_ = 0;
  bool fitted_ = false;  // rows go through fit_, not straight to the page
  fit fit_;
  std::vector<uint32_t> columns_;  // the source column of each dot of the box
  std::vector<uint8_t> out_row_;
  uint32_t next_out_ = 0;  // the next output row to draw
};

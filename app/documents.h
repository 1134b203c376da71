// What lblprinter does with a document's bytes before any reach the printer:
// pictures (PNG, JPEG) decoded row by row and placed on the label, raster
// pages checked against the printer, each document written as whole label
// sequences or not at all. Nothing here knows PAPPL: the fuzz target runs the
// server's own code on bytes in memory, PAPPL's callbacks only adapt it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "render/render.h"
#include "settings/settings.h"

/// The largest picture taken, checked on its header before anything is
/// allocated for it: 64 megapixels (2^26 pixels), 65535 pixels a side.
inline constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 26;
inline constexpr uint32_t kMaxPictureSide = 65535;

/// A picture whose decoding takes longer than this is given up.
inline constexpr std::chrono::seconds kMaxDecodeTime{10};

/// A progressive JPEG is decoded whole before its first row: libjpeg keeps
/// every coefficient (2 bytes for each sample of up to 3 components), so the
/// pixel bound gives its memory bound, plus room for its working buffers.
inline constexpr long kMaxJpegMemory = 3 * 2 * kMaxPicturePixels + (16L << 20);

/// The printer's largest page at a resolution: the 108 mm head by 1 m of
/// label. A page beyond it is kTooLarge, before its memory is taken.
[[nodiscard]] page_problem check_printer_page(int dpi_x, int dpi_y, uint32_t dots, uint32_t rows);

enum class picture_format { kPng, kJpeg };

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

/// Decodes the picture in `in` (PNG or JPEG), places it on the label and
/// writes the label's one command sequence to `out`. A picture that cannot
/// be printed writes nothing: false, and `error` says why ("PNG data ends
/// early at byte 700"). A cancelled job writes nothing and returns true.
[[nodiscard]] bool print_picture(picture_format format, std::FILE* in, const picture_job& job,
                                 label_output& out, std::string* error);

/// A page larger than its label by at most this many dots a side prints as
/// it is (the label's edge cuts it); a larger one is scaled down to fit it.
inline constexpr uint32_t kCropToleranceDots = 8;

/// The largest PDF taken, its most pages, and the time its pages may take
/// to render (checked between pages).
inline constexpr uint64_t kMaxPdfBytes = uint64_t{64} << 20;
inline constexpr int kMaxPdfPages = 1000;
inline constexpr std::chrono::seconds kMaxPdfTime{60};

/// One PDF document and the label its pages print on.
struct pdf_job {
  pstops_doc doc{};  // the label's settings; doc.copies goes to each PRINT line
  int dpi_x = 0, dpi_y = 0;
  std::function<bool()> cancelled;  // asked between pages; may be empty
};

/// Renders every page of the PDF in `data` at the printer's resolution,
/// without anti-aliasing (a bar's edge is black or white, never gray across
/// the threshold), and writes each as one label sequence: a page larger than
/// the label is rendered smaller to fit it, centred, and `notice` says so.
/// False, with `error` saying why ("PDF has 1200 pages; the printer takes at
/// most 1000"), when the document cannot print; the pages before a failed
/// one stay written, and `*pages` counts them.
[[nodiscard]] bool print_pdf(const std::string& data, const pdf_job& job, label_output& out,
                             unsigned* pages, std::string* error, std::string* notice);

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
  bool started_ = false;  // rows go to the page only once it is checked
  uint32_t rows_ = 0, rows_added_ = 0;
  bool fitted_ = false;  // rows go through fit_, not straight to the page
  fit fit_;
  std::vector<uint32_t> columns_;  // the source column of each dot of the box
  std::vector<uint8_t> out_row_;
  uint32_t next_out_ = 0;  // the next output row to draw
};

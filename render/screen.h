// Screening one row at a time, for the label writer and Gray2Bytes: rows may
// arrive one by one (PAPPL's raster callbacks, compressed CUPS rows) or as a
// whole page, unpadded. Internal to render/.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

/// Screens the rows of one page in order. Ordered modes depend on each dot's
/// place alone; error diffusion carries its error from row to row.
class row_screen {
 public:
  /// `dither` one of the dither_method screenings (settings.h), or below
  /// them for Gray2Bytes' darker threshold. Rows are `dots` gray bytes,
  /// packed rows (dots + 7) / 8 bytes.
  row_screen(int16_t dither, uint32_t dots);

  /// False when error diffusion could not have the memory it needs.
  bool ready() const { return !diffusion_ || error_; }

  /// Whether a blank row can set a dot: only where diffusion carries error.
  bool blank_rows_print() const { return diffusion_; }

  /// Screens row `y`, setting the bits of its dark dots; rows go in order.
  void screen(const uint8_t* gray, uint8_t* bits, uint32_t y);

 private:
  void diffuse(const uint8_t* gray, uint8_t* bits, uint32_t y);

  uint32_t dots_;
  bool diffusion_;
  std::array<std::array<uint8_t, 16>, 16> thresholds_;  // by row mod 16
  // Error in 1/16 gray levels for the row below, a spare slot at each end.
  std::unique_ptr<int32_t[]> error_;
};

/// The screening log lines, written around each page's screening.
void log_screening_begins();
void log_screening_ends();

// Rendering: screening 8-bit gray raster pages into packed one-bit rows and
// writing each page to standard output as one label command sequence.
#pragma once

#include <cups/file.h>

#include <cstdint>
#include <cstdio>

#include "settings/settings.h"

/// Screening modes of `Gray2Bytes`. The renderer always uses the fixed
/// threshold; the dithers suit photographs and shaded artwork.
enum screen_mode : int {
  kScreenThreshold = 0,     // dark where gray <= 128
  kScreenBayer8 = 2,        // 8x8 ordered dither
  kScreenClustered8 = 3,    // 8x8 clustered-dot dither
  kScreenBayer16 = 4,       // 16x16 ordered dither
  kScreenDarkThreshold = 1  // any other mode: dark where gray <= 126
};

/// Screens `rows` rows of 8-bit gray (0 darkest, 255 blank) into packed rows of
/// `bytes_per_row` bytes. The gray rows lie `bytes_per_row * 8` bytes apart.
/// A set bit is a dark dot, most significant bit leftmost. Bits are only ever
/// set, so `bits` arrives zero-filled.
void Gray2Bytes(const uint8_t* gray, uint8_t* bits, int bytes_per_row, int rows, int mode);

/// Results of `print_bitmap`.
enum render_result : int {
  kRenderDone = 0,    // every page of the stream went out (or it held none)
  kRenderFailed = 1,  // a page could not be rendered; an "ERROR: " line says why
};

/// Reads the raster stream on `input` page by page and writes one complete
/// label command sequence per page to standard output, flushed per page.
/// Pages already written stay written when a later page fails.
int print_bitmap(const pstops_doc* doc, cups_file_t* input);

/// As `print_bitmap`, writing the label stream to `out` instead of standard
/// output.
int print_bitmap_to(const pstops_doc* doc, cups_file_t* input, FILE* out);

/// Makes SIGTERM, the spooler's cancel, end the job between pages: the page
/// being written is finished, a page whose rows are still being read is
/// dropped, and no further page starts. The job then ends as a success.
void watch_for_cancel();

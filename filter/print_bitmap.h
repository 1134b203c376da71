// The filter's front end to the label core: reads the job's CUPS raster
// stream page by page and prints each page through the label writer.
#pragma once

#include <cups/file.h>

#include <cstdio>

#include "settings/settings.h"

/// Results of `print_bitmap`.
enum render_result : int {
  kRenderDone = 0,    // every page of the stream went out (or it held none)
  kRenderFailed = 1,  // a page could not be printed; an "ERROR: " line says why
};

/// Reads the raster stream on `input` page by page and writes one complete
/// label command sequence per page to standard output, flushed per page.
/// Pages already written stay written when a later page fails.
int print_bitmap(const pstops_doc* doc, cups_file_t* input);

/// As `print_bitmap`, writing the label stream to `out` instead.
int print_bitmap_to(const pstops_doc* doc, cups_file_t* input, FILE* out);

/// Makes SIGTERM, the spooler's cancel, end the job between pages: the page
/// being written is finished, a page whose rows are still being read is
/// dropped, and no further page starts. The job then ends as a success.
void watch_for_cancel();

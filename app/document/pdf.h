// PDF as lblprinter prints it itself: each page rendered in gray at the
// printer's resolution and written as one label sequence. Nothing here knows
// PAPPL.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "render/render.h"
#include "settings/settings.h"

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

// PDF documents rendered by lblprinter itself: poppler draws each page at the
// printer's resolution in 8-bit gray, and the page goes to the label core as
// a raster page would (raster_document). Poppler's Splash renderer without
// anti-aliasing gives a barcode bar black dots and white gaps only, so no
// edge lands on gray the screening could tip either way.
#include "app/document/pdf.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "app/document/raster_pages.h"

namespace {

using render_clock = std::chrono::steady_clock;

constexpr double kPointsPerInch = 72;
constexpr double kMmPerInch = 25.4;
// PDF's own limit on a page side: 200 inches.
constexpr double kMaxPagePoints = 14400;

// Poppler reports damaged data on standard error; the job's message says
// what stopped it, and the server's standard error stays quiet.
void quiet_poppler() {
  // A static's initialiser runs once, whatever the threads (std::call_once
  // needs GNU extensions of libc++'s threads under strict POSIX).
  static const bool quiet = [] {
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
    return true;
  }();
  (void)quiet;
}

// The page's size in points as it prints, turned by its /Rotate.
void page_points(const poppler::page& page, double* width, double* height) {
  const poppler::rectf box = page.page_rect(poppler::crop_box);
  const bool turned = page.orientation() == poppler::page::landscape ||
                      page.orientation() == poppler::page::seascape;
  *width = turned ? box.height() : box.width();
  *height = turned ? box.width() : box.height();
}

// The resolution scale that brings the page within the label, 1 when it fits
// (or is over it by no more dots than a raster page that prints as it is).
double fit_scale(double width_dots, double height_dots, const raster_document& document) {
  const double tolerance = kCropToleranceDots;
  if (width_dots <= document.label_dots() + tolerance &&
      height_dots <= document.label_rows() + tolerance)
    return 1;
  return std::min(document.label_dots() / width_dots, document.label_rows() / height_dots);
}

// The rendered page into the label core, its rows top to bottom.
bool write_page(const poppler::image& image, unsigned number, raster_document& document,
                label_output& out, std::string* error) {
  std::string notice;
  const auto dots = static_cast<uint32_t>(image.width());
  const auto rows = static_cast<uint32_t>(image.height());
  if (!document.start_page(number, dots, rows, error, &notice)) return false;
  const auto* data = reinterpret_cast<const uint8_t*>(image.const_data());
  for (uint32_t y = 0; y < rows; ++y)
    document.add_row(data + static_cast<size_t>(y) * static_cast<size_t>(image.bytes_per_row()));
  return document.end_page(out, error);
}

[[gnu::format(printf, 2, 3)]] bool refuse(std::string* error, const char* format, ...) {
  char text[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  *error = text;
  return false;
}

}  // namespace

bool print_pdf(const std::string& data, const pdf_job& job, label_output& out, unsigned* pages,
               std::string* error, std::string* notice) {
  quiet_poppler();
  *pages = 0;
  notice->clear();
  if (data.size() > kMaxPdfBytes)
    return refuse(error, "PDF of %zu bytes is larger than the printer takes (%" PRIu64 " MiB)",
                  data.size(), kMaxPdfBytes >> 20);
  const std::unique_ptr<poppler::document> pdf(
      poppler::document::load_from_raw_data(data.data(), static_cast<int>(data.size())));
  if (!pdf) return refuse(error, "Not a PDF the printer can read");
  if (pdf->is_locked()) return refuse(error, "PDF is protected by a password");
  const int count = pdf->pages();
  if (count < 1 || count > kMaxPdfPages)
    return refuse(error, "PDF has %d pages; the printer takes 1 to %d", count, kMaxPdfPages);
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, false);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, false);
  renderer.set_image_format(poppler::image::format_gray8);
  raster_document document(job.doc, job.dpi_x, job.dpi_y);
  const auto deadline = render_clock::now() + kMaxPdfTime;
  for (int index = 0; index < count; ++index) {
    if (job.cancelled && job.cancelled()) return true;
    if (render_clock::now() > deadline)
      return refuse(error, "PDF takes longer than %lld s to render",
                    static_cast<long long>(kMaxPdfTime.count()));
    const auto number = static_cast<unsigned>(index + 1);
    const std::unique_ptr<poppler::page> page(pdf->create_page(index));
    double width = 0, height = 0;
    if (page) page_points(*page, &width, &height);
    if (!(width >= 1 && height >= 1 && width <= kMaxPagePoints && height <= kMaxPagePoints))
      return refuse(error, "Page %u of the PDF has no size the printer can print", number);
    const double scale = fit_scale(width * job.dpi_x / kPointsPerInch,
                                   height * job.dpi_y / kPointsPerInch, document);
    if (scale < 1 && notice->empty())
      *notice = "Page " + std::to_string(number) + " of " +
                std::to_string(static_cast<int>(width * kMmPerInch / kPointsPerInch + 0.5)) +
                " x " +
                std::to_string(static_cast<int>(height * kMmPerInch / kPointsPerInch + 0.5)) +
                " mm is scaled down to fit the " + std::to_string(job.doc.width) + " x " +
                std::to_string(job.doc.height) + " mm label";
    const poppler::image image =
        renderer.render_page(page.get(), job.dpi_x * scale, job.dpi_y * scale);
    if (!image.is_valid()) return refuse(error, "Page %u of the PDF cannot be rendered", number);
    if (!write_page(image, number, document, out, error)) return false;
    *pages = number;
  }
  return true;
}

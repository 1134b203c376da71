// Fuzz target: any bytes as a PDF lblprinter prints itself (app/document/pdf.h,
// poppler), into memory; the input's length picks the label and resolution.
// Whatever the bytes, the output is whole label sequences, exactly one per
// page the path counts as printed, and a document it refuses has a reason.
#include "app/document/pdf.h"
#include "fuzz/fuzz_support.h"

namespace {

struct label_choice {
  int16_t width_mm, height_mm;
  int dpi;
};
constexpr label_choice kLabels[] = {{60, 30, 203}, {100, 150, 203}, {30, 60, 300}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const label_choice& label = kLabels[size % std::size(kLabels)];
  pdf_job job;
  job.doc.width = label.width_mm;
  job.doc.height = label.height_mm;
  job.doc.speed = 4;
  job.doc.darkness = 8;
  job.doc.copies = 1;
  job.dpi_x = job.dpi_y = label.dpi;
  memory_output out;
  unsigned pages = 0;
  std::string error, notice;
  const bool printed = print_pdf(std::string(reinterpret_cast<const char*>(data), size), job, out,
                                 &pages, &error, &notice);
  if (!printed && error.empty()) fuzz_support::fail("pdf", "refused without a reason");
  if (fuzz_support::require_pages(out.bytes, job.doc).size() != pages)
    fuzz_support::fail("pdf", "the labels written are not the pages printed");
  return 0;
}

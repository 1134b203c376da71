// Fuzz target: any bytes as a document lblprinter prints (a PNG, a JPEG, else
// a PWG or Apple raster stream), through the server's own document code
// (app/document/) into memory; the input's length picks the label, the
// scaling, the turn and the screening. Whatever the bytes, the output is whole
// label sequences: one for a picture that prints, none and a reason for one
// that does not, and for raster every page whose rows all came, nothing of one
// cut short.
#include <cups/raster.h>

#include <array>

#include "app/document/picture.h"
#include "app/document/raster_pages.h"
#include "fuzz/fuzz_support.h"

namespace {

struct label_choice {
  uint32_t dots, rows;
  int dpi;
};
// The last is wider than the head: no picture prints on it.
constexpr label_choice kLabels[] = {
    {480, 240, 203}, {240, 480, 203}, {1181, 1772, 300}, {8, 3, 203}, {900, 240, 203}};
constexpr picture_scaling kScalings[] = {picture_scaling::kAuto, picture_scaling::kAutoFit,
                                         picture_scaling::kFill, picture_scaling::kFit,
                                         picture_scaling::kNone};
constexpr picture_turn kTurns[] = {picture_turn::kAuto, picture_turn::kPortrait,
                                   picture_turn::kLandscape, picture_turn::kReverseLandscape,
                                   picture_turn::kReversePortrait};

void print_one_picture(picture_format format, std::span<const uint8_t> bytes, picture_job job) {
  // The spooled file as the server opens it (fmemopen takes no empty buffer).
  std::FILE* in = bytes.empty() ? std::fopen("/dev/null", "rb")
                                : fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
  if (in == nullptr) fuzz_support::fail("fmemopen", "cannot hold the input");
  memory_output out;
  std::string error;
  const bool printed = print_picture(format, in, job, out, &error);
  std::fclose(in);
  if (!printed) {
    if (!out.bytes.empty() || error.empty())
      fuzz_support::fail("picture", "refused with bytes written or no reason: " + error);
    return;
  }
  const auto pages = fuzz_support::require_pages(out.bytes, job.doc);
  if (pages.size() != 1 || pages[0].rows != static_cast<int>(job.label_rows) ||
      pages[0].copies != job.doc.copies)
    fuzz_support::fail("picture", "not one label of the label's size");
}

// The raster callbacks' part, read as PAPPL 1.3 reads a client's stream: it
// passes on 8-bit gray pages whose bytes per line match their width, and ends
// a page at its first row that does not come.
void print_raster(std::span<const uint8_t> bytes, const pstops_doc& doc, int dpi) {
  fuzz_support::memory_source source{bytes};
  cups_raster_t* raster = cupsRasterOpenIO(fuzz_support::read_memory, &source, CUPS_RASTER_READ);
  raster_document document(doc, dpi, dpi);
  memory_output out;
  cups_page_header2_t h;
  std::string error, notice;
  size_t whole = 0;
  for (unsigned page = 1; raster != nullptr && cupsRasterReadHeader2(raster, &h) != 0; ++page) {
    if (h.cupsBitsPerPixel != 8 || h.cupsHeight == 0 || h.cupsBytesPerLine != h.cupsWidth) break;
    if (!document.start_page(page, h.cupsBytesPerLine, h.cupsHeight, &error, &notice)) break;
    std::vector<uint8_t> row(h.cupsBytesPerLine);
    uint32_t rows = 0;
    while (rows < h.cupsHeight && cupsRasterReadPixels(raster, row.data(), h.cupsBytesPerLine)) {
      document.add_row(row.data());
      ++rows;
    }
    const size_t before = out.bytes.size();
    const bool written = document.end_page(out, &error);
    if (written != (rows == h.cupsHeight) || (!written && out.bytes.size() != before))
      fuzz_support::fail("raster page", "a page written though cut, or refused though whole");
    if (!written) break;
    ++whole;
  }
  if (raster != nullptr) cupsRasterClose(raster);
  if (fuzz_support::require_pages(out.bytes, doc).size() != whole)
    fuzz_support::fail("raster", "the pages written are not the whole pages");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const label_choice& label = kLabels[size / 25 % std::size(kLabels)];
  picture_job job;
  job.doc.width = 60;
  job.doc.height = 30;
  job.doc.speed = 4;
  job.doc.darkness = 8;
  job.doc.copies = 2;
  job.doc.dither = size % 2 == 0 ? kDitherThreshold : kDitherDiffusion;
  job.label_dots = label.dots;
  job.label_rows = label.rows;
  job.dpi_x = job.dpi_y = label.dpi;
  job.scaling = kScalings[size % 5];
  job.turn = kTurns[size / 5 % 5];
  constexpr std::array<uint8_t, 8> kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= kPng.size() && std::equal(kPng.begin(), kPng.end(), data))
    print_one_picture(picture_format::kPng, bytes, job);
  else if (size >= 2 && data[0] == 0xff && data[1] == 0xd8)
    print_one_picture(picture_format::kJpeg, bytes, job);
  else if (fuzz_support::within_budget(bytes))
    print_raster(bytes, job.doc, label.dpi);
  else
    return -1;  // libcups would take a row buffer beyond the fuzzer's memory
  return 0;
}

// The label printer's whole CUPS filter chain without a spooler: cupsfilter
// runs pdftopdf, gstoraster and the built lblfilter on the shipped sample PDFs
// with the project's PPDs, as a queue would. The label stream must follow the
// job's options, carry the raster page bit for bit, and its barcodes must scan.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/cups/cups_harness.h"
#include "tests/support/run_process.h"

namespace {

using cups_harness::label_page;

constexpr char kCupsfilter[] = "/usr/sbin/cupsfilter";
constexpr char kEan13[] = "EAN-13:4006381333931";
constexpr char kCode128[] = "CODE-128:PKG0001234567";
constexpr char kQr[] = "QR-Code:https://example.com/t/PKG0001234567";

struct chain_case {
  const char* name;
  const char* ppd;
  int dpi;
  const char* pdf;
  std::vector<std::string> options;
  int copies;
  const char* size;  // expected setup lines and BITMAP position
  const char* speed;
  const char* density;
  int x, y;
  const char* print;
  std::vector<std::string> barcodes;  // sorted, as scan_barcodes returns them
};

const chain_case kCases[] = {
    {"ProductLabelFollowsJobOptions",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=w170h85", "Darkness=12", "PrintSpeed=60", "Horizontal=16", "Vertical=-8"},
     1,
     "SIZE 60mm,30mm",
     "SPEED 6",
     "DENSITY 12",
     16,
     -8,
     "PRINT 1,1",
     {kEan13}},
    {"ShippingLabelTakesThePpdDefaults",
     "lbl203.ppd",
     203,
     "shipping-label.pdf",
     {},
     1,
     "SIZE 100mm,150mm",
     "SPEED 4",
     "DENSITY 8",
     0,
     0,
     "PRINT 1,1",
     {kCode128, kQr}},
    {"CopiesAreMadeByThePrinterOnce",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=w170h85", "MediaTracking=2"},
     3,
     "SIZE 60mm,30mm",
     "SPEED 4",
     "DENSITY 8",
     0,
     0,
     "PRINT 1,3",
     {kEan13}},
    {"MediaOptionNamesTheLabel",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"media=w170h85", "Darkness=0", "PrintSpeed=20"},
     1,
     "SIZE 60mm,30mm",
     "SPEED 2",
     "DENSITY 0",
     0,
     0,
     "PRINT 1,1",
     {kEan13}},
    {"CustomSizeInPoints",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=Custom.170x85", "Horizontal=-80", "Vertical=80"},
     1,
     "SIZE 60mm,30mm",
     "SPEED 4",
     "DENSITY 8",
     -80,
     80,
     "PRINT 1,1",
     {kEan13}},
    {"ShippingLabelAt300Dpi",
     "lbl300.ppd",
     300,
     "shipping-label.pdf",
     {"PageSize=w283h425", "PrintSpeed=30", "Darkness=3"},
     2,
     "SIZE 100mm,150mm",
     "SPEED 3",
     "DENSITY 3",
     0,
     0,
     "PRINT 1,2",
     {kCode128, kQr}},
    {"ProductLabelAt300Dpi",
     "lbl300.ppd",
     300,
     "product-label.pdf",
     {"PageSize=w170h85"},
     1,
     "SIZE 60mm,30mm",
     "SPEED 3",
     "DENSITY 8",
     0,
     0,
     "PRINT 1,1",
     {kEan13}},
};

void PrintTo(const chain_case& c, std::ostream* out) { *out << c.name; }

class CupsfilterChain : public ::testing::TestWithParam<chain_case> {
 protected:
  void SetUp() override {
    LBL_REQUIRE(cups_harness::is_executable(kCupsfilter), "cupsfilter (Debian cups)");
    LBL_REQUIRE(cups_harness::is_executable("/usr/lib/cups/filter/gstoraster"),
                "gstoraster (Debian cups-filters)");
    LBL_REQUIRE(cups_harness::is_executable("/usr/bin/zbarimg"), "zbarimg (Debian zbar-tools)");
    LBL_REQUIRE(!cups_harness::lblview_path().empty(), "lblview in the build tree");
    const chain_case& c = GetParam();
    pdf_ = std::string(LBL_SAMPLES_DIR) + "/" + c.pdf;
    ppd_ = std::string(LBL_PPD_DIR) + "/" + c.ppd;
    LBL_REQUIRE(!cups_harness::read_file(pdf_).empty(), pdf_ + " (the samples target)");
    LBL_REQUIRE(!cups_harness::read_file(ppd_).empty(), ppd_ + " (the ppds target)");
    ASSERT_TRUE(dir_.ok());
    std::string error;
    ASSERT_TRUE(cups_harness::make_server_bin(dir_.path() + "/serverbin", &error)) << error;
    ASSERT_TRUE(cups_harness::write_file(dir_.path() + "/cups-files.conf",
                                         "ServerBin " + dir_.path() + "/serverbin\n"));
  }

  // Runs the chain to the printer (`-e`: every filter of the PPD, ending in
  // lblfilter) or only to the raster the filter reads.
  run_process::result run_chain(bool to_printer) const {
    const chain_case& c = GetParam();
    run_process::request req;
    req.program = kCupsfilter;
    req.argv = {"cupsfilter", "-c", dir_.path() + "/cups-files.conf", "-p", ppd_};
    if (to_printer) {
      req.argv.insert(req.argv.end(), {"-e", "-m", "printer/label"});
    } else {
      req.argv.insert(req.argv.end(), {"-m", "application/vnd.cups-raster"});
    }
    req.argv.insert(req.argv.end(), {"-n", std::to_string(c.copies)});
    for (const std::string& option : c.options) req.argv.insert(req.argv.end(), {"-o", option});
    req.argv.push_back(pdf_);
    return run_process::run(req);
  }

  cups_harness::temp_dir dir_;
  std::string pdf_, ppd_;
};

TEST_P(CupsfilterChain, LabelStreamFollowsOptionsAndScans) {
  const chain_case& c = GetParam();
  const run_process::result printed = run_chain(true);
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  EXPECT_EQ(cups_harness::count_of(printed.err, "\nERROR: "), 0) << printed.err;
  const std::string stream_file = dir_.path() + "/label.lbl";
  ASSERT_TRUE(cups_harness::write_file(stream_file, printed.out));

  // The printer gets one page, set up as the job asked.
  std::vector<label_page> pages;
  std::string error;
  ASSERT_TRUE(cups_harness::parse_label_stream(printed.out, &pages, &error)) << error;
  ASSERT_EQ(pages.size(), 1u) << "one PDF page, however many copies";
  const label_page& page = pages[0];
  EXPECT_EQ(page.line("SIZE "), c.size);
  EXPECT_EQ(page.line("SPEED "), c.speed);
  EXPECT_EQ(page.line("DENSITY "), c.density);
  EXPECT_EQ(page.x, c.x);
  EXPECT_EQ(page.y, c.y);
  EXPECT_EQ(page.print, c.print);

  // lblview accepts the stream, and its picture of the bitmap scans.
  const cups_harness::lblview_result view = cups_harness::run_lblview(stream_file, c.dpi);
  ASSERT_EQ(view.exit_status, 0) << view.err << view.json;
  EXPECT_NE(view.json.find("\"valid\": true"), std::string::npos) << view.json;
  EXPECT_EQ(cups_harness::count_of(view.json, "\"page\": "), 1) << view.json;
  EXPECT_EQ(cups_harness::scan_barcodes(cups_harness::lblview_png(view, 1, 1)), c.barcodes);

  // The bitmap is the raster the same chain makes, dot for dot: gray 128 and
  // darker prints (a 0 bit), the rest of the last byte of a row stays blank.
  const run_process::result rastered = run_chain(false);
  ASSERT_EQ(rastered.exit_status, 0) << rastered.err;
  const std::string raster_file = dir_.path() + "/label.ras";
  ASSERT_TRUE(cups_harness::write_file(raster_file, rastered.out));
  unsigned dots = 0, rows = 0, copies = 0;
  std::string gray;
  ASSERT_TRUE(cups_harness::read_raster(raster_file, &dots, &rows, &copies, &gray));
  EXPECT_EQ(copies, static_cast<unsigned>(c.copies));
  ASSERT_EQ(page.bytes_per_row, static_cast<int>((dots + 7) / 8));
  ASSERT_EQ(page.rows, static_cast<int>(rows));
  int wrong_dots = 0;
  for (unsigned y = 0; y < rows; ++y) {
    for (unsigned x = 0; x < static_cast<unsigned>(page.bytes_per_row) * 8; ++x) {
      const bool dark = x < dots && static_cast<unsigned char>(gray[y * dots + x]) <= 128;
      const auto byte = static_cast<unsigned char>(page.bitmap[y * page.bytes_per_row + x / 8]);
      const bool printed_dot = (byte & (0x80u >> (x % 8))) == 0;
      if (dark != printed_dot && ++wrong_dots <= 5) {
        ADD_FAILURE() << "dot " << x << "," << y << ": gray "
                      << (x < dots
                              ? static_cast<int>(static_cast<unsigned char>(gray[y * dots + x]))
                              : 255)
                      << ", printed " << printed_dot;
      }
    }
  }
  EXPECT_EQ(wrong_dots, 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, CupsfilterChain, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<chain_case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

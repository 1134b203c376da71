// The label printer's whole CUPS filter chain without a spooler: cupsfilter
// runs pdftopdf, gstoraster and the built lblfilter on the shipped sample PDFs
// with the project's PPDs, as a queue would. The label stream must follow the
// job's options, carry the raster page bit for bit, and its barcodes must scan.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/cups/cups_harness.h"
#include "tests/e2e/filter_harness.h"
#include "tests/support/run_process.h"

namespace {

using cups_harness::kCode128;
using cups_harness::kEan13;
using cups_harness::kQr;

constexpr char kCupsfilter[] = "/usr/sbin/cupsfilter";

struct chain_case {
  const char* name;
  const char* ppd;
  int dpi;
  const char* pdf;
  std::vector<std::string> options;
  cups_harness::label_expectation want;  // its copies are cupsfilter's -n
};

const chain_case kCases[] = {
    {"ProductLabelFollowsJobOptions",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=w170h85", "Darkness=12", "PrintSpeed=60", "Horizontal=16", "Vertical=-8"},
     {60, 30, 6, 12, 16, -8, 1, {kEan13}}},
    {"ShippingLabelTakesThePpdDefaults",
     "lbl203.ppd",
     203,
     "shipping-label.pdf",
     {},
     {100, 150, 4, 8, 0, 0, 1, {kCode128, kQr}}},
    {"CopiesAreMadeByThePrinterOnce",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=w170h85", "MediaTracking=2"},
     {60, 30, 4, 8, 0, 0, 3, {kEan13}}},
    {"MediaOptionNamesTheLabel",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"media=w170h85", "Darkness=0", "PrintSpeed=20"},
     {60, 30, 2, 0, 0, 0, 1, {kEan13}}},
    {"CustomSizeInPoints",
     "lbl203.ppd",
     203,
     "product-label.pdf",
     {"PageSize=Custom.170x85", "Horizontal=-80", "Vertical=80"},
     {60, 30, 4, 8, -80, 80, 1, {kEan13}}},
    {"ShippingLabelAt300Dpi",
     "lbl300.ppd",
     300,
     "shipping-label.pdf",
     {"PageSize=w283h425", "PrintSpeed=30", "Darkness=3"},
     {100, 150, 3, 3, 0, 0, 2, {kCode128, kQr}}},
    {"ProductLabelAt300Dpi",
     "lbl300.ppd",
     300,
     "product-label.pdf",
     {"PageSize=w170h85"},
     {60, 30, 3, 8, 0, 0, 1, {kEan13}}},
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
    req.argv.insert(req.argv.end(), {"-n", std::to_string(c.want.copies)});
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
  EXPECT_EQ(printed.err.find("\nERROR: "), std::string::npos) << printed.err;
  cups_harness::label_page page;
  cups_harness::expect_one_label(printed.out, dir_.path() + "/label.lbl", c.dpi, c.want, &page);
  if (HasFatalFailure()) return;

  // The stream is the raster the same chain makes, dot for dot: gray 128 and
  // darker prints (a 0 bit), the rest of the last byte of a row stays blank.
  const run_process::result rastered = run_chain(false);
  ASSERT_EQ(rastered.exit_status, 0) << rastered.err;
  const std::string raster_file = dir_.path() + "/label.ras";
  ASSERT_TRUE(cups_harness::write_file(raster_file, rastered.out));
  const std::vector<raster_gen::page> rasters = raster_gen::read_pages(raster_file);
  ASSERT_EQ(rasters.size(), 1u);
  EXPECT_EQ(rasters[0].header.NumCopies, static_cast<unsigned>(c.want.copies));
  const filter_harness::label_values values{c.want.width_mm, c.want.height_mm, c.want.speed,
                                            c.want.density,  c.want.x,         c.want.y};
  EXPECT_EQ(filter_harness::hex(printed.out),
            filter_harness::hex(filter_harness::expected_page(values, rasters[0])));
}

INSTANTIATE_TEST_SUITE_P(Samples, CupsfilterChain, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<chain_case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

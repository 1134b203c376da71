// Label jobs through a real CUPS scheduler: a private cupsd, started by the
// test as root in a temporary directory, with a queue made by lpadmin from
// the project's PPD and a file: device. Jobs go in with lp; the test reads
// the job state from the scheduler and the bytes that reached the device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/cups/cups_harness.h"
#include "tests/cups/private_cupsd.h"
#include "tests/support/raster_gen.h"
#include "tests/support/run_process.h"

namespace {

using cups_harness::label_page;

constexpr char kQueue[] = "label";
constexpr int kJobTimeoutMs = 60000;
constexpr char kEan13[] = "EAN-13:4006381333931";
constexpr char kCode128[] = "CODE-128:PKG0001234567";
constexpr char kQr[] = "QR-Code:https://example.com/t/PKG0001234567";

struct printed_job {
  cups_harness::job_status status;
  std::string stream;  // what reached the device
  double seconds = 0;  // from lp to the job's final state
};

class PrivateCupsd : public ::testing::Test {
 protected:
  void SetUp() override {
    LBL_REQUIRE(::geteuid() == 0, "root, to start cupsd (its filters run as lp)");
    for (const char* program : {"/usr/sbin/cupsd", "/usr/sbin/lpadmin", "/usr/bin/lp",
                                "/usr/lib/cups/filter/gstoraster", "/usr/bin/zbarimg"}) {
      LBL_REQUIRE(cups_harness::is_executable(program), program);
    }
    LBL_REQUIRE(!cups_harness::lblview_path().empty(), "lblview in the build tree");
    LBL_REQUIRE(!cups_harness::read_file(ppd_).empty(), ppd_ + " (the ppds target)");
    LBL_REQUIRE(!cups_harness::read_file(sample("shipping-label.pdf")).empty(),
                "the sample labels (the samples target)");
    std::string error;
    ASSERT_TRUE(cupsd_.start(&error)) << error;
    device_ = cupsd_.dir() + "/dev/label.out";
    const run_process::result added =
        cupsd_.client("/usr/sbin/lpadmin",
                      {"lpadmin", "-p", kQueue, "-E", "-v", "file://" + device_, "-P", ppd_});
    ASSERT_EQ(added.exit_status, 0) << added.err;
  }

  static std::string sample(const char* name) { return std::string(LBL_SAMPLES_DIR) + "/" + name; }

  void lpadmin(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"lpadmin", "-p", kQueue};
    args.insert(args.end(), options.begin(), options.end());
    const run_process::result res = cupsd_.client("/usr/sbin/lpadmin", args);
    ASSERT_EQ(res.exit_status, 0) << res.err;
  }

  printed_job print(const std::vector<std::string>& lp_args, const std::string& file) {
    printed_job job;
    std::remove(device_.c_str());
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const int id = cupsd_.submit(kQueue, lp_args, file, &error);
    EXPECT_GT(id, 0) << error;
    if (id <= 0) return job;
    job.status = cupsd_.wait_for_job(id, kJobTimeoutMs);
    job.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    job.stream = cups_harness::read_file(device_);
    return job;
  }

  // The one label of a completed job, checked by lblview; its bitmap's
  // barcodes are returned in `barcodes`.
  void expect_one_label(const printed_job& job, label_page* page,
                        std::vector<std::string>* barcodes) {
    ASSERT_EQ(job.status.state, IPP_JSTATE_COMPLETED) << cupsd_.error_log();
    std::vector<label_page> pages;
    std::string error;
    ASSERT_TRUE(cups_harness::parse_label_stream(job.stream, &pages, &error)) << error;
    ASSERT_EQ(pages.size(), 1u);
    *page = pages[0];
    const std::string stream_file = cupsd_.dir() + "/job.lbl";
    ASSERT_TRUE(cups_harness::write_file(stream_file, job.stream));
    const cups_harness::lblview_result view = cups_harness::run_lblview(stream_file, 203);
    ASSERT_EQ(view.exit_status, 0) << view.err << view.json;
    EXPECT_NE(view.json.find("\"valid\": true"), std::string::npos) << view.json;
    *barcodes = cups_harness::scan_barcodes(cups_harness::lblview_png(view, 1, 1));
  }

  cups_harness::private_cupsd cupsd_;
  std::string ppd_ = std::string(LBL_PPD_DIR) + "/lbl203.ppd";
  std::string device_;
};

struct job_case {
  const char* name;
  const char* pdf;
  std::vector<std::string> lp_args;
  const char* size;
  const char* speed;
  const char* density;
  int x, y;
  const char* print;
  int width_pt, height_pt;  // the page the rasteriser was asked for
  std::vector<std::string> barcodes;
};

const job_case kJobs[] = {
    {"product label with options and three copies",
     "product-label.pdf",
     {"-n", "3", "-o", "PageSize=w170h85", "-o", "Darkness=12", "-o", "PrintSpeed=50", "-o",
      "Horizontal=8", "-o", "Vertical=16"},
     "SIZE 60mm,30mm",
     "SPEED 5",
     "DENSITY 12",
     8,
     16,
     "PRINT 1,3",
     170,
     85,
     {kEan13}},
    {"shipping label on the queue's default size",
     "shipping-label.pdf",
     {},
     "SIZE 100mm,150mm",
     "SPEED 4",
     "DENSITY 8",
     0,
     0,
     "PRINT 1,1",
     283,
     425,
     {kCode128, kQr}},
    {"product label sized by the media option",
     "product-label.pdf",
     {"-o", "media=w170h85", "-o", "MediaTracking=1"},
     "SIZE 60mm,30mm",
     "SPEED 4",
     "DENSITY 8",
     0,
     0,
     "PRINT 1,1",
     170,
     85,
     {kEan13}},
};

TEST_F(PrivateCupsd, JobsFollowTheirOptionsAndTheLabelsScan) {
  for (const job_case& c : kJobs) {
    SCOPED_TRACE(c.name);
    const printed_job job = print(c.lp_args, sample(c.pdf));
    label_page page;
    std::vector<std::string> barcodes;
    expect_one_label(job, &page, &barcodes);
    if (HasFatalFailure()) return;
    std::printf("label job \"%s\": %.3f s from lp to completed\n", c.name, job.seconds);
    EXPECT_EQ(page.line("SIZE "), c.size);
    EXPECT_EQ(page.line("SPEED "), c.speed);
    EXPECT_EQ(page.line("DENSITY "), c.density);
    EXPECT_EQ(page.x, c.x);
    EXPECT_EQ(page.y, c.y);
    EXPECT_EQ(page.print, c.print);
    // 203 dots to the inch: the bitmap covers the page, rounded to whole
    // dots and whole bytes.
    EXPECT_NEAR(page.bytes_per_row * 8, c.width_pt * 203.0 / 72, 8.0);
    EXPECT_NEAR(page.rows, c.height_pt * 203.0 / 72, 1.0);
    EXPECT_EQ(barcodes, c.barcodes);
  }
}

// Queue defaults reach the filter two ways: lpadmin -o NAME-default=VALUE is
// sent with every job, lpadmin -o NAME=VALUE changes the queue's copy of the
// PPD, which the filter reads through $PPD. Job options override both.
TEST_F(PrivateCupsd, QueueDefaultsApplyUntilAJobSaysOtherwise) {
  lpadmin({"-o", "Darkness-default=12", "-o", "PrintSpeed=60", "-o", "Horizontal=-16", "-o",
           "PageSize=w170h85"});
  const std::string queue_ppd = cups_harness::read_file(cupsd_.dir() + "/etc/ppd/label.ppd");
  EXPECT_NE(queue_ppd.find("*DefaultPrintSpeed: 60"), std::string::npos);
  EXPECT_NE(queue_ppd.find("*DefaultHorizontal: -16"), std::string::npos);

  label_page page;
  std::vector<std::string> barcodes;
  expect_one_label(print({}, sample("product-label.pdf")), &page, &barcodes);
  if (HasFatalFailure()) return;
  EXPECT_EQ(page.line("SIZE "), "SIZE 60mm,30mm");
  EXPECT_EQ(page.line("SPEED "), "SPEED 6");
  EXPECT_EQ(page.line("DENSITY "), "DENSITY 12");
  EXPECT_EQ(page.x, -16);
  EXPECT_EQ(barcodes, std::vector<std::string>{kEan13});

  expect_one_label(print({"-o", "Darkness=3", "-o", "PrintSpeed=20", "-o", "Horizontal=0"},
                         sample("product-label.pdf")),
                   &page, &barcodes);
  if (HasFatalFailure()) return;
  EXPECT_EQ(page.line("SPEED "), "SPEED 2");
  EXPECT_EQ(page.line("DENSITY "), "DENSITY 3");
  EXPECT_EQ(page.x, 0);
}

// A raster page far beyond what the printer can hold: the filter refuses it
// before allocating, and the scheduler stops the job and shows the filter's
// message for the operator as the printer's state.
TEST_F(PrivateCupsd, FailingFilterStopsTheQueueWithItsError) {
  raster_gen::page huge;
  huge.header = raster_gen::gray_header(832, 3000000);
  const std::string raster_file = cupsd_.dir() + "/huge.ras";
  ASSERT_TRUE(raster_gen::write_file(raster_file, raster_gen::write_stream({huge})));

  // What the filter itself says about this raster.
  run_process::request direct;
  direct.program = LBLFILTER_PATH;
  direct.argv = {kQueue, "1", "root", "huge", "1", "", raster_file};
  direct.unset_env = {"PPD"};
  const run_process::result alone = run_process::run(direct);
  ASSERT_EQ(alone.exit_status, 1) << alone.err;
  const size_t error_at = alone.err.find("ERROR: ");
  ASSERT_NE(error_at, std::string::npos) << alone.err;
  const size_t error_end = alone.err.find('\n', error_at);
  const std::string message = alone.err.substr(error_at + 7, error_end - error_at - 7);

  const printed_job job = print({"-o", "document-format=application/vnd.cups-raster"}, raster_file);
  EXPECT_EQ(job.status.state, IPP_JSTATE_STOPPED) << cupsd_.error_log();
  const cups_harness::printer_status printer = cupsd_.printer(kQueue);
  EXPECT_NE(printer.state, IPP_PSTATE_PROCESSING);
  // The printer's state carries the filter's message. The job's own copy of it
  // (job-printer-state-message) may still read "Filter failed" when the
  // scheduler notes the exit before the message, so it is not compared.
  EXPECT_EQ(printer.state_message, message);
  EXPECT_EQ(job.stream.find("BITMAP"), std::string::npos) << "no label reached the printer";
}

}  // namespace

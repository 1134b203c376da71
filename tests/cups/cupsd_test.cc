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
#include "tests/e2e/filter_harness.h"
#include "tests/support/raster_gen.h"
#include "tests/support/run_process.h"

namespace {

using cups_harness::kCode128;
using cups_harness::kEan13;
using cups_harness::kQr;
using cups_harness::label_page;

constexpr char kQueue[] = "label";
constexpr int kJobTimeoutMs = 60000;

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
    lpadmin({"-E", "-v", "file://" + device_, "-P", ppd_});
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

  // The one label of a completed job, set up as `want` and checked by lblview.
  void expect_one_label(const printed_job& job, const cups_harness::label_expectation& want,
                        label_page* page) {
    ASSERT_EQ(job.status.state, IPP_JSTATE_COMPLETED) << cupsd_.error_log();
    cups_harness::expect_one_label(job.stream, cupsd_.dir() + "/job.lbl", 203, want, page);
  }

  cups_harness::private_cupsd cupsd_;
  std::string ppd_ = std::string(LBL_PPD_DIR) + "/lbl203.ppd";
  std::string device_;
};

struct job_case {
  const char* name;
  const char* pdf;
  std::vector<std::string> lp_args;
  cups_harness::label_expectation want;
  int width_pt, height_pt;  // the page the rasteriser was asked for
};

const job_case kJobs[] = {
    {"product label with options and three copies",
     "product-label.pdf",
     {"-n", "3", "-o", "PageSize=w170h85", "-o", "Darkness=12", "-o", "PrintSpeed=50", "-o",
      "Horizontal=8", "-o", "Vertical=16"},
     {60, 30, 5, 12, 8, 16, 3, {kEan13}},
     170,
     85},
    {"shipping label on the queue's default size",
     "shipping-label.pdf",
     {},
     {100, 150, 4, 8, 0, 0, 1, {kCode128, kQr}},
     283,
     425},
    {"product label sized by the media option",
     "product-label.pdf",
     {"-o", "media=w170h85", "-o", "MediaTracking=1"},
     {60, 30, 4, 8, 0, 0, 1, {kEan13}},
     170,
     85},
};

TEST_F(PrivateCupsd, JobsFollowTheirOptionsAndTheLabelsScan) {
  for (const job_case& c : kJobs) {
    SCOPED_TRACE(c.name);
    const printed_job job = print(c.lp_args, sample(c.pdf));
    label_page page;
    expect_one_label(job, c.want, &page);
    if (HasFatalFailure()) return;
    std::printf("label job \"%s\": %.3f s from lp to completed\n", c.name, job.seconds);
    // 203 dots to the inch: the bitmap covers the page, rounded to whole
    // dots and whole bytes.
    EXPECT_NEAR(page.bytes_per_row * 8, c.width_pt * 203.0 / 72, 8.0);
    EXPECT_NEAR(page.rows, c.height_pt * 203.0 / 72, 1.0);
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
  expect_one_label(print({}, sample("product-label.pdf")), {60, 30, 6, 12, -16, 0, 1, {kEan13}},
                   &page);
  if (HasFatalFailure()) return;
  expect_one_label(print({"-o", "Darkness=3", "-o", "PrintSpeed=20", "-o", "Horizontal=0"},
                         sample("product-label.pdf")),
                   {60, 30, 2, 3, 0, 0, 1, {kEan13}}, &page);
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
  const run_process::result alone = filter_harness::run_filter("", "", raster_file);
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

// The filter's command line, input choice, exit status and log, run as the
// spooler runs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "tests/e2e/filter_harness.h"

namespace {

using filter_harness::log_messages;
using filter_harness::run_filter;

constexpr char kUsage[] = "ERROR: lblfilter job-id user title copies options [file]\n";

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string one_page_stream() {
  return raster_gen::write_stream({raster_gen::solid_page(16, 4, 0)});
}

TEST(FilterEntry, WrongArgumentCountGivesUsageAndStatusOne) {
  const std::vector<std::vector<std::string>> argvs = {
      {"q", "1", "u", "t", "1"},
      {"q", "1", "u", "t", "1", "", "file", "extra"},
      {"q"},
  };
  for (const auto& argv : argvs) {
    run_process::request req;
    req.program = LBLFILTER_PATH;
    req.argv = argv;
    req.stdin_bytes = one_page_stream();
    const run_process::result r = run_process::run(req);
    EXPECT_EQ(r.exit_status, 1) << argv.size() << " arguments";
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.out, "");
  }
}

TEST(FilterEntry, SixArgumentsReadStandardInput) {
  const run_process::result r = run_filter("", one_page_stream());
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "PAGE: 1 1\n");
  EXPECT_EQ(r.out.rfind("SIZE 60mm,40mm\r\n", 0), 0u) << r.out.substr(0, 40);
}

TEST(FilterEntry, SevenArgumentsReadTheNamedFileNotStandardInput) {
  const std::string path = ::testing::TempDir() + "lbl_entry_two_pages.ras";
  ASSERT_TRUE(raster_gen::write_file(
      path, raster_gen::write_stream(
                {raster_gen::solid_page(8, 2, 0, 2), raster_gen::solid_page(8, 2, 255, 5)})));
  const run_process::result r = run_filter("", one_page_stream(), path);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "PAGE: 1 2\nPAGE: 2 5\n");
}

TEST(FilterEntry, MissingInputFileIsAFailedJob) {
  const std::string path = ::testing::TempDir() + "lbl-no-such-file.ras";
  const run_process::result r = run_filter("", "", path);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "ERROR: Unable to open print file \"" + path + "\": No such file or directory\n");
}

TEST(FilterEntry, EmptyInputPrintsNothingAndSucceeds) {
  const run_process::result r = run_filter("", "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(FilterLog, RunLogsArgumentsStagesAndScreening) {
  LBL_REQUIRE_LOG();
  const run_process::result r = run_filter("Darkness=3", one_page_stream());
  ASSERT_EQ(r.exit_status, 0);
  const std::vector<std::string> log = log_messages();
  const std::vector<std::string> head = {
      "Enter main",           "argv[0]:label-queue", "argv[1]:17",         "argv[2]:alice",
      "argv[3]:parcel label", "argv[4]:1",           "argv[5]:Darkness=3", "Begin main"};
  ASSERT_GE(log.size(), head.size());
  EXPECT_TRUE(std::equal(head.begin(), head.end(), log.begin()));
  EXPECT_TRUE(contains(log, "cups_file is not null"));
  // The screening lines carry their own CR LF: each is followed by an empty line.
  const auto enter = std::find(log.begin(), log.end(), "Gray2Bytes: Enter function");
  ASSERT_NE(enter, log.end());
  EXPECT_EQ(*(enter + 1), "");
  EXPECT_EQ(*(enter + 2), "Gray2Bytes: Exit function11");
  EXPECT_EQ(*(enter + 3), "");
  EXPECT_EQ(log.back(), "Exit main");
}

TEST(FilterLog, UsageErrorLeavesWithoutClosingStages) {
  LBL_REQUIRE_LOG();
  run_process::request req;
  req.program = LBLFILTER_PATH;
  req.argv = {"q", "1", "u", "t", "1"};
  run_process::run(req);
  const std::vector<std::string> log = log_messages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Input param is not enough");
  EXPECT_EQ(log.front(), "Enter main");
  EXPECT_TRUE(contains(log, "argv[4]:1"));
  EXPECT_FALSE(contains(log, "Exit main"));
}

TEST(FilterLog, UnopenedInputSkipsTheRenderer) {
  LBL_REQUIRE_LOG();
  run_filter("", "", ::testing::TempDir() + "lbl-missing.ras");
  const std::vector<std::string> log = log_messages();
  EXPECT_FALSE(contains(log, "cups_file is not null"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Exit main");
}

}  // namespace

// The label settings as a queue delivers them: the built filter run with a
// PPD file named by the PPD variable and the job options CUPS passes, checked
// in the label stream the printer receives and in the filter's log. The
// layers' rules case by case are unit-tested; the project's own PPDs are
// printed through CUPS in tests/cups.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/filter_harness.h"

namespace {

using filter_harness::label_values;
using strings = std::vector<std::string>;

struct settings_case {
  const char* what;
  const char* defaults;  // PPD default lines; null names a PPD that does not exist
  const char* options;
  label_values want;
  strings log_lines;  // must appear in the log in this order, after "PPD=..."
};

constexpr char kDefaults[] =
    "*DefaultPageSize: Custom.4x6in\n*DefaultDarkness: 8\n*DefaultPrintSpeed: 45\n"
    "*DefaultHorizontal: 3\n*DefaultVertical: 4\n";

const settings_case kCases[] = {
    {"no usable PPD", nullptr, "Darkness=12", {60, 40, 4, 12, 0, 0}, {"can't param ppdfile"}},
    {"PPD defaults",
     kDefaults,
     "copies=1",
     {101, 152, 4, 8, 3, 4},
     {"(in:wxh)|101.600000|152.400000|", "ppdfile PageSize:101x152", "ppdfile Speed:4",
      "ppdfile Darkness:8"}},
    // 65535 keeps its low 16 bits: the printer gets -1.
    {"job options over PPD defaults",
     kDefaults,
     "PageSize=Custom.288x432 Darkness=3 PrintSpeed=60 Horizontal=65535 Vertical=7",
     {102, 152, 6, 3, -1, 7},
     {"ppdfile PageSize:101x152", "996_PageSize=PageSize", "997_page_size=Custom.288x432",
      "(wxh)|102|152|", "doc->speed = 6"}},
};

bool in_order(const strings& log, const strings& wanted) {
  auto at = log.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, log.end(), line);
    if (at == log.end()) return false;
    ++at;
  }
  return true;
}

std::string joined(const strings& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(SettingsEndToEnd, QueueDefaultsAndJobOptionsReachTheLabelStream) {
  LBL_REQUIRE_LOG();
  const test_common::temp_dir dir;
  ASSERT_TRUE(dir.ok());
  const raster_gen::page page = raster_gen::random_page(21, 6, 7);
  const std::string stream = raster_gen::write_stream({page});

  for (const settings_case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string ppd = dir.path() + (c.defaults != nullptr ? "/queue.ppd" : "/missing.ppd");
    if (c.defaults != nullptr) {
      ASSERT_TRUE(raster_gen::write_file(ppd, std::string("*PPD-Adobe: \"4.3\"\n") + c.defaults));
    }
    const run_process::result r = filter_harness::run_filter(c.options, stream, "", {"PPD=" + ppd});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "PAGE: 1 1\n");
    EXPECT_EQ(filter_harness::hex(r.out),
              filter_harness::hex(filter_harness::expected_page(c.want, page)));
    const strings log = filter_harness::log_messages();
    strings wanted = {"PPD=" + ppd};
    wanted.insert(wanted.end(), c.log_lines.begin(), c.log_lines.end());
    EXPECT_TRUE(in_order(log, wanted)) << joined(log);
  }
}

}  // namespace

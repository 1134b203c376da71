// The label settings as a queue delivers them: the built filter run with a
// PPD file named by the PPD variable and the job options CUPS passes, checked
// in the label stream the printer receives and in the filter's log.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/filter_harness.h"

namespace {

using filter_harness::label_values;
using strings = std::vector<std::string>;

void require_log() {
  if (::access("/var/log/cups", W_OK) == 0) return;
  if (std::getenv("CI")) FAIL() << "/var/log/cups is not writable in CI";
  GTEST_SKIP() << "needs a writable /var/log/cups (install cups, run as root)";
}

// A queue PPD in the shape the CUPS PPD compiler writes, with the defaults of
// one queue filled in.
std::string queue_ppd(const std::string& defaults) {
  return "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"LBLTEST.PPD\"\n"
         "*Manufacturer: \"Label\"\n"
         "*Product: \"(Label Printer)\"\n"
         "*ModelName: \"Label Printer\"\n"
         "*ShortNickName: \"Label Printer\"\n"
         "*NickName: \"Label Printer\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*LanguageLevel: \"3\"\n"
         "*ColorDevice: False\n"
         "*DefaultColorSpace: Gray\n"
         "*FileSystem: False\n"
         "*Throughput: \"1\"\n"
         "*TTRasterizer: Type42\n"
         "*cupsVersion: 2.4\n"
         "*cupsModelNumber: 2\n"
         "*cupsFilter: \"application/vnd.cups-raster 0 lblfilter\"\n"
         "*OpenUI *PageSize/Media Size: PickOne\n"
         "*OrderDependency: 10 AnySetup *PageSize\n"
         "*PageSize w170h85/60 x 30 mm: \"<</PageSize[170 85]>>setpagedevice\"\n"
         "*PageSize w283h425/100 x 150 mm: \"<</PageSize[283 425]>>setpagedevice\"\n"
         "*CloseUI: *PageSize\n" +
         defaults;
}

struct settings_case {
  const char* what;
  const char* defaults;  // PPD default lines; null runs without PPD
  const char* options;
  label_values want;
  strings log_lines;  // must appear in the log in this order
};

const settings_case kCases[] = {
    {"no PPD, no options",
     nullptr,
     "",
     {60, 40, 4, 7, 0, 0},
     {"PPD=(null)", "can't param ppdfile"}},
    {"PPD worked example",
     "*DefaultPageSize: Custom.4x6in\n*DefaultDarkness: 8\n*DefaultPrintSpeed: 40\n"
     "*DefaultMediaTracking: 1\n",
     "",
     {101, 152, 4, 8, 0, 0},
     {"module_number:2", "ppdfile DefaultPageSize:Custom.4x6in", "(src:wxh)|4.000000|6.000000|",
      "(in:wxh)|101.600000|152.400000|", "ppdfile DefaultDarkness:8",
      "ppdfile DefaultPrintSpeed:40", "ppdfile DefaultMediaTracking:1", "ppdfile PageSize:101x152",
      "ppdfile Speed:4", "ppdfile Darkness:8", "ppdfile MediaTracking:1"}},
    {"job options over PPD defaults",
     "*DefaultPageSize: w283h425\n*DefaultDarkness: 10\n*DefaultPrintSpeed: 40\n"
     "*DefaultHorizontal: 3\n*DefaultVertical: 4\n",
     "PageSize=Custom.288x432 Darkness=3 PrintSpeed=60 Horizontal=-5 Vertical=7",
     {102, 152, 6, 3, -5, 7},
     {"ppdfile PageSize:100x150", "996_PageSize=PageSize", "997_page_size=Custom.288x432",
      "(wxh)|288.000000|432.000000|", "(wxh)|101.766784|152.650177|", "(wxh)|102|152|",
      "doc->speed = 6"}},
    {"PPD defaults kept without job options",
     "*DefaultPageSize: w283h425\n*DefaultDarkness: 10\n*DefaultPrintSpeed: 45\n"
     "*DefaultHorizontal: 3\n*DefaultVertical: 4\n",
     "copies=1",
     {100, 150, 4, 10, 3, 4},
     {"ppdfile PageSize:100x150", "ppdfile Speed:4", "ppdfile Darkness:10"}},
    {"named job size with no minimum",
     nullptr,
     "PageSize=w57h29",
     {20, 10, 4, 7, 0, 0},
     {"996_PageSize=PageSize", "997_page_size=w57h29"}},
    {"job size in inches",
     "*DefaultPageSize: w170h85\n",
     "PageSize=Custom.4x6in",
     {101, 152, 4, 7, 0, 0},
     {"(wxh)|4.000000|6.000000|", "(in:wxh)|101.600000|152.400000|", "(wxh)|101|152|"}},
    {"job size in millimetres", nullptr, "PageSize=Custom.100x150mm", {100, 150, 4, 7, 0, 0}, {}},
    {"job size below the minimum", nullptr, "PageSize=Custom.31x31", {11, 11, 4, 7, 0, 0}, {}},
    {"job size no integer can hold", nullptr, "PageSize=Custom.nanxinf", {11, 11, 4, 7, 0, 0}, {}},
    {"media without PageSize",
     "*DefaultPageSize: w283h425\n",
     "media=w170h85,Roll",
     {60, 30, 4, 7, 0, 0},
     {"996_PageSize=media", "997_page_size=w170h85"}},
    // A PageSize the queue does not know still keeps media out.
    {"media beside PageSize",
     "*DefaultPageSize: w283h425\n",
     "media=w170h85 PageSize=w283h426",
     {100, 150, 4, 7, 0, 0},
     {}},
    {"16-bit wrap in PPD and job",
     "*DefaultDarkness: 70000\n*DefaultVertical: 32768\n",
     "Horizontal=65535",
     {60, 40, 4, 4464, -1, -32768},
     {"ppdfile DefaultDarkness:70000", "ppdfile Darkness:4464"}},
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
  require_log();
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    ("lbl-settings-e2e-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string ppd_path = (dir / "queue.ppd").string();
  const raster_gen::page page = raster_gen::random_page(21, 6, 7);
  const std::string stream = raster_gen::write_stream({page});

  for (const settings_case& c : kCases) {
    SCOPED_TRACE(c.what);
    strings env;
    if (c.defaults != nullptr) {
      std::ofstream(ppd_path, std::ios::binary) << queue_ppd(c.defaults);
      env.push_back("PPD=" + ppd_path);
    }
    const run_process::result r = filter_harness::run_filter(c.options, stream, "", env);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "PAGE: 1 1\n");
    EXPECT_EQ(filter_harness::hex(r.out),
              filter_harness::hex(filter_harness::expected_page(c.want, page)));
    const strings log = filter_harness::log_messages();
    EXPECT_TRUE(in_order(log, c.log_lines)) << joined(log);
    if (c.defaults != nullptr) {
      EXPECT_TRUE(in_order(log, {"PPD=" + ppd_path})) << joined(log);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

TEST(SettingsEndToEnd, UnreadablePpdLeavesBuiltInValues) {
  require_log();
  const std::string missing = ::testing::TempDir() + "lbl-no-such-queue.ppd";
  const raster_gen::page page = raster_gen::solid_page(16, 3, 0);
  const run_process::result r = filter_harness::run_filter(
      "Darkness=12", raster_gen::write_stream({page}), "", {"PPD=" + missing});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(filter_harness::hex(r.out),
            filter_harness::hex(filter_harness::expected_page({60, 40, 4, 12, 0, 0}, page)));
  EXPECT_TRUE(in_order(filter_harness::log_messages(), {"PPD=" + missing, "can't param ppdfile"}));
}

}  // namespace

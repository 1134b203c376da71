// The compiled PPDs against what the filter and the spooler need: the size
// table's 58 names with their point dimensions and millimetre names, numeric
// option choices under the names the filter reads, 8-bit white-is-255 gray at
// the model's resolution, no margins, printer-made copies, and cupstestppd.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/cups/cups_harness.h"
#include "tests/support/run_process.h"

// The PPD API is what the spooler's rasterisers use to read these files.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

struct ppd_closer {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using ppd_ptr = std::unique_ptr<ppd_file_t, ppd_closer>;

struct model_case {
  const char* file;
  const char* model;
  int dpi;
  std::vector<std::string> speeds;
  std::vector<std::string> offsets;
};

const model_case kModels[] = {
    {"lbl203.ppd",
     "Generic Label Printer 203dpi",
     203,
     {"20", "30", "40", "50", "60"},
     {"-80", "-64", "-48", "-32", "-16", "-8", "0", "8", "16", "32", "48", "64", "80"}},
    {"lbl300.ppd",
     "Generic Label Printer 300dpi",
     300,
     {"20", "30", "40"},
     {"-120", "-96", "-72", "-48", "-24", "-12", "0", "12", "24", "48", "72", "96", "120"}},
};

void PrintTo(const model_case& m, std::ostream* out) { *out << m.file; }

std::vector<std::string> choices_of(ppd_file_t* ppd, const char* option) {
  std::vector<std::string> keywords;
  ppd_option_t* o = ppdFindOption(ppd, option);
  if (o == nullptr) return keywords;
  for (int i = 0; i < o->num_choices; ++i) {
    if (std::string(o->choices[i].choice) != "Custom") keywords.emplace_back(o->choices[i].choice);
  }
  return keywords;
}

std::string attr_value(ppd_file_t* ppd, const char* name) {
  ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
  return attr != nullptr && attr->value != nullptr ? attr->value : "";
}

class CompiledPpd : public ::testing::TestWithParam<model_case> {
 protected:
  void SetUp() override {
    path_ = std::string(LBL_PPD_DIR) + "/" + GetParam().file;
    ppd_.reset(ppdOpenFile(path_.c_str()));
    ASSERT_NE(ppd_, nullptr) << path_ << ": " << ppdErrorString(ppdLastError(nullptr));
  }
  std::string path_;
  ppd_ptr ppd_;
};

TEST_P(CompiledPpd, OffersTheSizeTableWithPointsAndMillimetres) {
  ppd_option_t* page_size = ppdFindOption(ppd_.get(), "PageSize");
  ASSERT_NE(page_size, nullptr);
  // The PPD reader adds a "Custom" choice for the custom size.
  ASSERT_EQ(page_size->num_choices, kPageSizeCount + 1);
  EXPECT_STREQ(page_size->choices[kPageSizeCount].choice, "Custom");
  ASSERT_GE(ppd_->num_sizes, kPageSizeCount);
  for (int i = 0; i < kPageSizeCount; ++i) {
    const page_size_entry& row = g_page_list[i];
    SCOPED_TRACE(row.name);
    int width_pt = 0, height_pt = 0;
    ASSERT_EQ(std::sscanf(row.name, "w%dh%d", &width_pt, &height_pt), 2);
    EXPECT_STREQ(page_size->choices[i].choice, row.name);
    EXPECT_EQ(std::string(page_size->choices[i].text),
              std::to_string(row.width) + " x " + std::to_string(row.height) + " mm");
    ppd_size_t* size = ppdPageSize(ppd_.get(), row.name);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->width, static_cast<float>(width_pt));
    EXPECT_EQ(size->length, static_cast<float>(height_pt));
    // Edge to edge: the imageable area is the whole label.
    EXPECT_EQ(size->left, 0.0f);
    EXPECT_EQ(size->bottom, 0.0f);
    EXPECT_EQ(size->right, size->width);
    EXPECT_EQ(size->top, size->length);
  }
  EXPECT_STREQ(page_size->defchoice, "w283h425");  // the 100 x 150 mm shipping label
}

TEST_P(CompiledPpd, AcceptsCustomSizesThatFitTheHead) {
  EXPECT_TRUE(ppd_->variable_sizes);
  EXPECT_NEAR(ppd_->custom_min[0], 20 * 72 / 25.4, 0.01);  // the narrowest table label
  EXPECT_NEAR(ppd_->custom_min[1], 10 * 72 / 25.4, 0.01);
  EXPECT_GE(ppd_->custom_max[0], 295.0f);  // the widest table label, w295h417
  EXPECT_GE(ppd_->custom_max[1], 595.0f);  // the longest, w283h595
  for (float margin : ppd_->custom_margins) EXPECT_EQ(margin, 0.0f);
}

TEST_P(CompiledPpd, OptionsCarryNumbersTheFilterReads) {
  const model_case& m = GetParam();
  std::vector<std::string> darkness;
  for (int i = 0; i <= 15; ++i) darkness.push_back(std::to_string(i));
  EXPECT_EQ(choices_of(ppd_.get(), "Darkness"), darkness);
  EXPECT_EQ(choices_of(ppd_.get(), "PrintSpeed"), m.speeds);
  EXPECT_EQ(choices_of(ppd_.get(), "Horizontal"), m.offsets);
  EXPECT_EQ(choices_of(ppd_.get(), "Vertical"), m.offsets);
  EXPECT_EQ(choices_of(ppd_.get(), "MediaTracking"), (std::vector<std::string>{"0", "1", "2"}));
  // The defaults the filter's PPD layer reads.
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultDarkness"), "8");
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultPrintSpeed"), m.dpi == 203 ? "40" : "30");
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultHorizontal"), "0");
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultVertical"), "0");
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultMediaTracking"), "0");
}

TEST_P(CompiledPpd, AsksForEightBitGrayAtTheHeadResolution) {
  const model_case& m = GetParam();
  // lpinfo -m lists the models by their nickname.
  EXPECT_EQ(std::string(ppd_->nickname), std::string(m.model) + ", lblfilter " LBL_PROJECT_VERSION);
  EXPECT_EQ(attr_value(ppd_.get(), "FileVersion"), LBL_PROJECT_VERSION);
  EXPECT_EQ(attr_value(ppd_.get(), "cupsManualCopies"), "False");
  EXPECT_EQ(attr_value(ppd_.get(), "cupsFilter2"),
            "application/vnd.cups-raster application/vnd.lblfilter-label 0 lblfilter");
  EXPECT_EQ(attr_value(ppd_.get(), "DefaultCenterOfPixel"), "true");
  // The page header a rasteriser builds from the defaults.
  ppdMarkDefaults(ppd_.get());
  cups_page_header2_t header{};
  ASSERT_EQ(cupsRasterInterpretPPD(&header, ppd_.get(), 0, nullptr, nullptr), 0)
      << cupsRasterErrorString();
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_W);
  EXPECT_EQ(header.cupsBitsPerColor, 8u);
  EXPECT_EQ(header.cupsBitsPerPixel, 8u);
  EXPECT_EQ(header.HWResolution[0], static_cast<unsigned>(m.dpi));
  EXPECT_EQ(header.HWResolution[1], static_cast<unsigned>(m.dpi));
  EXPECT_EQ(header.PageSize[0], 283u);
  EXPECT_EQ(header.PageSize[1], 425u);
}

// cupstestppd passes; the only warnings left are the label size names, which
// are the filter's own keys and so cannot be Adobe's names, and the
// rasteriser hint DefaultCenterOfPixel, which has no user option on purpose.
// The filter is not installed in the system's server directory here, so its
// file check is left to the installed package.
TEST_P(CompiledPpd, PassesCupstestppd) {
  LBL_REQUIRE(cups_harness::is_executable("/usr/bin/cupstestppd"), "cupstestppd (cups-client)");
  run_process::request req;
  req.program = "/usr/bin/cupstestppd";
  req.argv = {"cupstestppd", "-I", "filters", path_};
  const run_process::result res = run_process::run(req);
  EXPECT_EQ(res.exit_status, 0) << res.out;
  EXPECT_NE(res.out.find(path_ + ": PASS"), std::string::npos) << res.out;
  std::istringstream lines(res.out);
  std::string line;
  int size_warnings = 0;
  while (std::getline(lines, line)) {
    if (line.find("WARN") == std::string::npos) continue;
    if (line.find("should be the Adobe standard name") != std::string::npos) {
      ++size_warnings;
    } else {
      EXPECT_NE(line.find("DefaultCenterOfPixel has no corresponding options."), std::string::npos)
          << line;
    }
  }
  EXPECT_LE(size_warnings, kPageSizeCount);
}

INSTANTIATE_TEST_SUITE_P(Models, CompiledPpd, ::testing::ValuesIn(kModels),
                         [](const ::testing::TestParamInfo<model_case>& info) {
                           return "Dpi" + std::to_string(info.param.dpi);
                         });

}  // namespace

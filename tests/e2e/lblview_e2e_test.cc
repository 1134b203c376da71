// lblview on the filter's own output: raster pages go through the built
// lblfilter, its label stream through the built lblview, and the pictures
// come back pixel for pixel as the screened raster (dark where gray <= 128).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/filter_harness.h"
#include "tests/support/raster_gen.h"
#include "tests/support/run_process.h"
#include "tests/unit/lblview_test_support.h"

namespace {

namespace fs = std::filesystem;
using lblview_test::gray_image;
using lblview_test::read_png;

constexpr uint8_t kPrinted = 0, kBlank = 255, kEdge = 160;

run_process::result run_lblview(const std::vector<std::string>& args,
                                const std::string& stdin_bytes) {
  run_process::request req;
  req.program = LBLVIEW_PATH;
  req.argv = {"lblview"};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.stdin_bytes = stdin_bytes;
  return run_process::run(req);
}

// The label stream the filter writes for a raster stream, without a PPD: the
// label is 60 x 40 mm, 480 x 320 dots at 203 dpi.
std::string filter_stream(const std::string& raster) {
  const run_process::result r = filter_harness::run_filter("", raster);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return r.out;
}

std::string filter_stream(const std::vector<raster_gen::page>& pages) {
  return filter_stream(raster_gen::write_stream(pages));
}

bool printed(const raster_gen::page& page, uint32_t x, uint32_t y) {
  const uint32_t dots = page.header.cupsBytesPerLine;
  const size_t at = size_t{y} * dots + x;
  return x < dots && y < page.header.cupsHeight && at < page.rows.size() && page.rows[at] <= 128;
}

// The screened raster as a picture of `width` x `height`: with `outline`, the
// label's edge is drawn under the blank dots.
std::vector<uint8_t> expected_picture(const raster_gen::page& page, uint32_t width, uint32_t height,
                                      bool outline) {
  std::vector<uint8_t> pixels(size_t{width} * height, kBlank);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const bool edge = outline && (x == 0 || y == 0 || x == width - 1 || y == height - 1);
      pixels[size_t{y} * width + x] = printed(page, x, y) ? kPrinted : edge ? kEdge : kBlank;
    }
  }
  return pixels;
}

// "" when the PNG at `path` is `want`, else where the first pixel differs.
std::string first_difference(const std::string& path, uint32_t width, uint32_t height,
                             const std::vector<uint8_t>& want) {
  const gray_image got = read_png(path);
  if (!got.error.empty()) return "unreadable PNG: " + got.error;
  if (got.width != width || got.height != height) {
    return "size " + std::to_string(got.width) + " x " + std::to_string(got.height) +
           ", expected " + std::to_string(width) + " x " + std::to_string(height);
  }
  for (size_t i = 0; i < want.size(); ++i) {
    if (got.pixels[i] != want[i]) {
      return "pixel " + std::to_string(i % width) + "," + std::to_string(i / width) + " is " +
             std::to_string(got.pixels[i]) + ", expected " + std::to_string(want[i]);
    }
  }
  return "";
}

class LblviewE2e : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }
  test_common::temp_dir dir_;
};

// The bare bitmap is bytes per row x 8 dots wide: the padding dots beyond the
// raster's width are blank. Pages wider than the label only warn.
TEST_F(LblviewE2e, PngGivesBackTheScreenedRaster) {
  const std::string sample = std::string(LBL_TEST_DATA_DIR) + "/sample-label.ras";
  LBL_REQUIRE(fs::exists(sample), sample);
  struct round_trip_case {
    const char* name;
    std::string raster;
    std::vector<raster_gen::page> pages;
  };
  using raster_gen::random_page;
  const std::vector<raster_gen::page> odd_widths = {random_page(7, 5, 1), random_page(9, 3, 2),
                                                    random_page(13, 17, 3), random_page(1, 9, 4)};
  const std::vector<raster_gen::page> one_dot = {raster_gen::solid_page(1, 1, 0)};
  const std::vector<raster_gen::page> wide = {random_page(833, 41, 6)};
  const round_trip_case kCases[] = {
      {"one_dark_dot", raster_gen::write_stream(one_dot), one_dot},
      {"odd_widths_several_pages", raster_gen::write_stream(odd_widths), odd_widths},
      {"wide_odd", raster_gen::write_stream(wide), wide},
      {"shipped_sample", filter_harness::read_file(sample), raster_gen::read_pages(sample)},
  };
  for (const round_trip_case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.pages.empty());
    const std::string base = path(c.name), png = base + ".png";
    const run_process::result r = run_lblview({"--png", "-q", "-o", png}, filter_stream(c.raster));
    ASSERT_EQ(r.exit_status, 0) << r.err;
    for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
      const std::string line = r.err.substr(at, r.err.find('\n', at) - at);
      EXPECT_EQ(line.rfind("lblview: standard input: page ", 0), 0u) << line;
      EXPECT_NE(line.find(": warning: bitmap of "), std::string::npos) << line;
    }
    EXPECT_EQ(r.out, "");
    const size_t count = c.pages.size();
    for (size_t i = 0; i < count; ++i) {
      SCOPED_TRACE("page " + std::to_string(i + 1));
      const raster_gen::page& page = c.pages[i];
      const uint32_t width = (page.header.cupsBytesPerLine + 7) / 8 * 8;
      const uint32_t height = page.header.cupsHeight;
      const std::string file = count == 1 ? png : base + "-" + std::to_string(i + 1) + ".png";
      EXPECT_EQ(first_difference(file, width, height, expected_picture(page, width, height, false)),
                "");
    }
    EXPECT_FALSE(fs::exists(base + "-" + std::to_string(count + 1) + ".png"));
  }
}

// Without --png the picture is the 60 x 40 mm label at 203 dpi, 480 x 320
// dots: the raster's printed dots where they fall on it, the outline on the
// blank edge dots. A bitmap beyond the edge is cut off, with a warning.
TEST_F(LblviewE2e, LabelPreviewCutsTheBitmapAtTheEdgeAndWarns) {
  const raster_gen::page page = raster_gen::random_page(500, 330, 11);
  const std::string stream = filter_stream({page});
  uint64_t outside = 0;
  for (uint32_t y = 0; y < 330; ++y) {
    for (uint32_t x = 0; x < 504; ++x) outside += (x >= 480 || y >= 320) && printed(page, x, y);
  }
  const run_process::result r = run_lblview({"-q", "-o", path("label.png")}, stream);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err,
            "lblview: standard input: page 1: warning: bitmap of 504 x 330 dots at 0,0 "
            "runs beyond the 480 x 320-dot label (60 x 40 mm at 203 dpi); " +
                std::to_string(outside) + " printed dots fall outside it\n");
  EXPECT_EQ(first_difference(path("label.png"), 480, 320, expected_picture(page, 480, 320, true)),
            "");
  // At 300 dpi the same label is 720 x 480 dots and holds the bitmap.
  const run_process::result at_300 = run_lblview({"-q", "--dpi", "300"}, stream);
  EXPECT_EQ(at_300.exit_status, 0);
  EXPECT_EQ(at_300.err, "");
}

TEST_F(LblviewE2e, JsonSummaryOfAFileCountsTheDarkDotsOfEveryPage) {
  const std::vector<raster_gen::page> pages = {raster_gen::random_page(37, 11, 12, 3),
                                               raster_gen::random_page(64, 20, 13, 1)};
  const std::string stream = filter_stream(pages);
  const std::string file = path("job.lbl");
  ASSERT_TRUE(raster_gen::write_file(file, stream));
  const run_process::result r = run_lblview({"--json", file}, "");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\n  \"source\": \"" + file +
                            "\",\n  \"bytes\": " + std::to_string(stream.size()) +
                            ",\n  \"dpi\": 203,\n  \"valid\": true,",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("\"error\": null"), std::string::npos) << r.out;
  size_t at = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    const raster_gen::page& p = pages[i];
    uint64_t dark = 0;
    for (uint32_t y = 0; y < p.header.cupsHeight; ++y) {
      for (uint32_t x = 0; x < p.header.cupsBytesPerLine; ++x) dark += printed(p, x, y);
    }
    // Each page's fields appear in order, so searching on from the last one
    // keeps every value with its page.
    const std::string fields[] = {
        "\"page\": " + std::to_string(i + 1),
        "\"label\": {\"width_mm\": 60, \"height_mm\": 40, \"width_dots\": 480, \"height_dots\": "
        "320}",
        "\"bytes_per_row\": " + std::to_string((p.header.cupsBytesPerLine + 7) / 8),
        "\"height_dots\": " + std::to_string(p.header.cupsHeight),
        "\"copies\": " + std::to_string(p.header.NumCopies),
        "\"dark_dots\": " + std::to_string(dark) + ","};
    for (const std::string& field : fields) {
      const size_t found = r.out.find(field, at);
      ASSERT_NE(found, std::string::npos) << field << "\n" << r.out;
      at = found;
    }
  }
}

// Page 1 is whole, page 2 is cut inside its BITMAP header: the fault is named
// on standard error and in the summary, and not even page 1 is drawn.
TEST_F(LblviewE2e, MalformedStreamIsNamedAndExitsTwoWithoutPictures) {
  const std::string stream = filter_stream({raster_gen::random_page(16, 24, 14)});
  const size_t bitmap_at = stream.find("BITMAP 0,0,2,24,1,");
  ASSERT_NE(bitmap_at, std::string::npos);
  const run_process::result r =
      run_lblview({"-o", path("bad.png")}, stream + stream.substr(0, bitmap_at + 9));
  const std::string fault = "page 2, BITMAP, byte " +
                            std::to_string(stream.size() + bitmap_at + 9) +
                            ": the stream ends inside the BITMAP command\n";
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err, "lblview: standard input: " + fault);
  const std::string summary_end = "standard input: malformed at " + fault;
  ASSERT_GE(r.out.size(), summary_end.size());
  EXPECT_EQ(r.out.substr(r.out.size() - summary_end.size()), summary_end);
  EXPECT_FALSE(fs::exists(path("bad.png")));
  EXPECT_FALSE(fs::exists(path("bad-1.png")));
}

TEST_F(LblviewE2e, CommandLine) {
  struct usage_case {
    std::vector<std::string> args;
    int status;
    const char* out_start;
    const char* err;
  };
  const std::string kTry = "Try 'lblview --help' for more information.\n";
  const usage_case kCases[] = {
      {{"--help"}, 0, "Usage: lblview [OPTION]... [FILE|-]\n", ""},
      {{"--version"}, 0, "lblview ", ""},
      {{"--bogus"}, 1, "", "lblview: unknown option '--bogus'\n"},
      {{"--dpi"}, 1, "", "lblview: option '--dpi' needs a value\n"},
      {{"--dpi", "24"}, 1, "", "lblview: --dpi wants a whole number from 25 to 2400, not '24'\n"},
      {{"--dpi=300x"}, 1, "", "lblview: --dpi wants a whole number from 25 to 2400, not '300x'\n"},
      {{"--png"}, 1, "", "lblview: --png draws pictures: name them with -o FILE.png\n"},
      {{"a.lbl", "b.lbl"}, 1, "", "lblview: one stream at a time: 'b.lbl' is one too many\n"},
  };
  for (const usage_case& c : kCases) {
    SCOPED_TRACE(c.args[0]);
    const run_process::result r = run_lblview(c.args, "");
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.out.rfind(c.out_start, 0), 0u) << r.out;
    EXPECT_EQ(r.err, c.status == 0 ? std::string() : c.err + kTry);
  }
}

TEST_F(LblviewE2e, UnreadableInputAndUnwritablePictureExitOne) {
  const run_process::result missing = run_lblview({path("none.lbl")}, "");
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.err, "lblview: " + path("none.lbl") + ": No such file or directory\n");

  const std::string target = path("no-such-dir/x.png");
  const run_process::result unwritable =
      run_lblview({"-q", "-o", target}, filter_stream({raster_gen::solid_page(8, 8, 0)}));
  EXPECT_EQ(unwritable.exit_status, 1);
  EXPECT_EQ(unwritable.err, "lblview: " + target + ": page 1: No such file or directory\n");
}

TEST_F(LblviewE2e, EmptyStreamIsValidAndDrawsNothing) {
  const run_process::result r = run_lblview({"-o", path("none.png"), "-"}, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "standard input: 0 pages in 0 bytes, valid\n");
  EXPECT_EQ(r.err, "lblview: standard input: warning: no pages, so no picture written\n");
  EXPECT_FALSE(fs::exists(path("none.png")));
}

}  // namespace

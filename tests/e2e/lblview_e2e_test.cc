// lblview on the filter's own output: raster pages go through the built
// lblfilter, its label stream through the built lblview, and the pictures
// come back pixel for pixel as the screened raster (dark where gray <= 128).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/raster_gen.h"
#include "tests/support/run_process.h"
#include "tests/unit/lblview_test_support.h"

namespace {

namespace fs = std::filesystem;
using lblview_test::gray_image;
using lblview_test::read_png;

constexpr uint8_t kPrinted = 0, kBlank = 255, kEdge = 160;

bool in_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

// The filter as the spooler runs it, without a PPD: the label is 60 x 40 mm.
run_process::result run_filter(const std::string& raster, const std::string& options = "") {
  run_process::request req;
  req.program = LBLFILTER_PATH;
  req.argv = {"label-queue", "17", "alice", "label", "1", options};
  req.stdin_bytes = raster;
  req.unset_env = {"PPD"};
  return run_process::run(req);
}

run_process::result run_lblview(const std::vector<std::string>& args,
                                const std::string& stdin_bytes) {
  run_process::request req;
  req.program = LBLVIEW_PATH;
  req.argv = {"lblview"};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.stdin_bytes = stdin_bytes;
  return run_process::run(req);
}

// The label stream the filter writes for `pages`.
std::string filter_stream(const std::vector<raster_gen::page>& pages,
                          cups_mode_t mode = CUPS_RASTER_WRITE, const std::string& options = "") {
  const run_process::result r = run_filter(raster_gen::write_stream(pages, mode), options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return r.out;
}

bool printed(const raster_gen::page& page, uint32_t x, uint32_t y) {
  const uint32_t dots = page.header.cupsBytesPerLine;
  const size_t at = size_t{y} * dots + x;
  return x < dots && at < page.rows.size() && page.rows[at] <= 128;
}

// The screened raster as a picture: a row is the packed row's width, bytes
// per row x 8; the padding dots beyond the raster's width are blank.
std::vector<uint8_t> screened(const raster_gen::page& page, uint32_t* width) {
  *width = (page.header.cupsBytesPerLine + 7) / 8 * 8;
  std::vector<uint8_t> pixels(size_t{*width} * page.header.cupsHeight, kBlank);
  for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
    for (uint32_t x = 0; x < *width; ++x) {
      if (printed(page, x, y)) pixels[size_t{y} * *width + x] = kPrinted;
    }
  }
  return pixels;
}

// "" when equal, else where the first pixel differs.
std::string first_difference(const gray_image& got, uint32_t width, uint32_t height,
                             const std::vector<uint8_t>& want) {
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
  void SetUp() override {
    std::string pattern = testing::TempDir() + "lblview-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// A page whose gray values sit on both sides of the threshold.
raster_gen::page threshold_page() {
  raster_gen::page p{raster_gen::gray_header(11, 3), {}};
  const uint8_t kGrays[] = {127, 128, 129, 255, 0, 1, 254};
  for (size_t i = 0; i < 33; ++i) p.rows.push_back(kGrays[i % 7]);
  return p;
}

// A page whose stream stops after `rows` rows: the filter sends the rest blank.
raster_gen::page cut_page(unsigned dots, unsigned height, unsigned rows, uint32_t seed) {
  raster_gen::page p = raster_gen::random_page(dots, height, seed);
  p.rows.resize(size_t{dots} * rows);
  return p;
}

struct round_trip_case {
  const char* name;
  std::vector<raster_gen::page> pages;
  cups_mode_t mode;
};

void PrintTo(const round_trip_case& c, std::ostream* os) { *os << c.name; }

std::vector<round_trip_case> round_trip_cases() {
  using raster_gen::random_page;
  using raster_gen::solid_page;
  return {
      {"one_dark_dot", {solid_page(1, 1, 0)}, CUPS_RASTER_WRITE},
      {"threshold_128_prints_129_does_not", {threshold_page()}, CUPS_RASTER_WRITE},
      {"odd_widths_several_pages",
       {random_page(7, 5, 1), random_page(9, 3, 2), random_page(13, 17, 3), random_page(1, 9, 4)},
       CUPS_RASTER_WRITE},
      {"label_203dpi_60x40", {random_page(480, 320, 5)}, CUPS_RASTER_WRITE},
      {"wide_odd", {random_page(833, 41, 6)}, CUPS_RASTER_WRITE},
      {"all_dark_and_all_blank", {solid_page(15, 4, 0), solid_page(15, 4, 255)}, CUPS_RASTER_WRITE},
      {"compressed_stream",
       {random_page(101, 37, 7), random_page(64, 8, 8)},
       CUPS_RASTER_WRITE_COMPRESSED},
      {"pwg_stream", {random_page(203, 29, 9)}, CUPS_RASTER_WRITE_PWG},
      {"stream_ends_mid_page", {cut_page(21, 12, 5, 10)}, CUPS_RASTER_WRITE},
  };
}

class LblviewRoundTrip : public LblviewE2e, public testing::WithParamInterface<round_trip_case> {};

TEST_P(LblviewRoundTrip, PngGivesBackTheScreenedRaster) {
  const round_trip_case& c = GetParam();
  const std::string stream = filter_stream(c.pages, c.mode);
  const run_process::result r = run_lblview({"--png", "-q", "-o", path("page.png")}, stream);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  // Pages wider than the 60 mm label only warn.
  for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
    const std::string line = r.err.substr(at, r.err.find('\n', at) - at);
    EXPECT_EQ(line.rfind("lblview: standard input: page ", 0), 0u) << line;
    EXPECT_NE(line.find(": warning: bitmap of "), std::string::npos) << line;
  }
  EXPECT_EQ(r.out, "");
  const int count = static_cast<int>(c.pages.size());
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const std::string file = count == 1 ? "page.png" : "page-" + std::to_string(i + 1) + ".png";
    uint32_t width = 0;
    const std::vector<uint8_t> want = screened(c.pages[i], &width);
    EXPECT_EQ(first_difference(read_png(path(file)), width, c.pages[i].header.cupsHeight, want),
              "");
  }
  EXPECT_FALSE(fs::exists(path("page-" + std::to_string(count + 1) + ".png")));
}

INSTANTIATE_TEST_SUITE_P(Rasters, LblviewRoundTrip, testing::ValuesIn(round_trip_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The pages of a raster file, read with libcupsimage.
std::vector<raster_gen::page> read_raster_file(const std::string& file) {
  std::vector<raster_gen::page> pages;
  FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return pages;
  cups_raster_t* raster = cupsRasterOpen(fileno(in), CUPS_RASTER_READ);
  raster_gen::page p{};
  while (raster != nullptr && cupsRasterReadHeader2(raster, &p.header) != 0) {
    p.rows.assign(size_t{p.header.cupsBytesPerLine} * p.header.cupsHeight, 255);
    for (unsigned y = 0; y < p.header.cupsHeight; ++y) {
      uint8_t* row = p.rows.data() + size_t{y} * p.header.cupsBytesPerLine;
      if (cupsRasterReadPixels(raster, row, p.header.cupsBytesPerLine) == 0) break;
    }
    pages.push_back(p);
  }
  if (raster != nullptr) cupsRasterClose(raster);
  std::fclose(in);
  return pages;
}

TEST_F(LblviewE2e, ShippedSampleRasterRoundTrips) {
  const std::string sample = std::string(LBL_TEST_DATA_DIR) + "/sample-label.ras";
  if (!fs::exists(sample)) {
    if (in_ci()) FAIL() << sample << " is missing";
    GTEST_SKIP() << sample << " is missing";
  }
  const std::vector<raster_gen::page> pages = read_raster_file(sample);
  ASSERT_FALSE(pages.empty());
  std::string raster;
  ASSERT_TRUE(fs::file_size(sample) > 0);
  {
    FILE* in = std::fopen(sample.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) raster.append(chunk, got);
    std::fclose(in);
  }
  const run_process::result filtered = run_filter(raster);
  ASSERT_EQ(filtered.exit_status, 0) << filtered.err;
  const run_process::result r =
      run_lblview({"--png", "-q", "-o", path("sample.png")}, filtered.out);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string file =
        pages.size() == 1 ? "sample.png" : "sample-" + std::to_string(i + 1) + ".png";
    uint32_t width = 0;
    const std::vector<uint8_t> want = screened(pages[i], &width);
    EXPECT_EQ(first_difference(read_png(path(file)), width, pages[i].header.cupsHeight, want), "");
  }
}

// Without --png the picture is the 60 x 40 mm label at 203 dpi, 480 x 320
// dots: the raster's printed dots where they fall on it, the rest blank, and
// the outline on the blank edge dots.
std::vector<uint8_t> label_picture(const raster_gen::page& page, uint32_t width, uint32_t height) {
  std::vector<uint8_t> pixels(size_t{width} * height, kBlank);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1;
      const bool dot = y < page.header.cupsHeight && printed(page, x, y);
      pixels[size_t{y} * width + x] = dot ? kPrinted : edge ? kEdge : kBlank;
    }
  }
  return pixels;
}

struct preview_case {
  const char* name;
  unsigned dots, rows;
};

TEST_F(LblviewE2e, LabelPreviewPlacesTheRasterOnTheLabel) {
  const preview_case kCases[] = {{"fits", 480, 320}, {"smaller", 100, 57}, {"larger", 800, 400}};
  for (const preview_case& c : kCases) {
    SCOPED_TRACE(c.name);
    const raster_gen::page page = raster_gen::random_page(c.dots, c.rows, c.dots);
    const run_process::result r =
        run_lblview({"-q", "-o", path(std::string(c.name) + ".png")}, filter_stream({page}));
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(first_difference(read_png(path(std::string(c.name) + ".png")), 480, 320,
                               label_picture(page, 480, 320)),
              "");
  }
}

TEST_F(LblviewE2e, WarnsWhereTheBitmapRunsOffTheLabel) {
  const raster_gen::page page = raster_gen::random_page(500, 330, 11);
  uint64_t outside = 0;
  for (uint32_t y = 0; y < 330; ++y) {
    for (uint32_t x = 0; x < 504; ++x) outside += (x >= 480 || y >= 320) && printed(page, x, y);
  }
  const run_process::result r = run_lblview({"-q"}, filter_stream({page}));
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err,
            "lblview: standard input: page 1: warning: bitmap of 504 x 330 dots at 0,0 "
            "runs beyond the 480 x 320-dot label (60 x 40 mm at 203 dpi); " +
                std::to_string(outside) + " printed dots fall outside it\n");
  // At 300 dpi the same label is 720 x 480 dots and holds the bitmap.
  const run_process::result at_300 = run_lblview({"-q", "--dpi", "300"}, filter_stream({page}));
  EXPECT_EQ(at_300.exit_status, 0);
  EXPECT_EQ(at_300.err, "");
}

TEST_F(LblviewE2e, JsonSummaryCountsTheDarkDotsOfEveryPage) {
  const std::vector<raster_gen::page> pages = {raster_gen::random_page(37, 11, 12, 3),
                                               raster_gen::random_page(64, 20, 13, 1)};
  const run_process::result r = run_lblview({"--json"}, filter_stream(pages));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\"valid\": true,"), std::string::npos) << r.out;
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

TEST_F(LblviewE2e, TextSummaryNamesTheStreamAndItsPages) {
  const std::string stream = filter_stream({raster_gen::solid_page(16, 24, 0, 2)});
  const std::string file = path("job.lbl");
  ASSERT_TRUE(raster_gen::write_file(file, stream));
  const run_process::result r = run_lblview({file}, "");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("  label           60 x 40 mm, 480 x 320 dots at 203 dpi\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  copies          2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  dark dots       384 of 384 (100.0%)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(file + ": 1 page in " + std::to_string(stream.size()) + " bytes, valid\n"),
            std::string::npos)
      << r.out;
}

// Faults made from a real filter stream of one 16 x 24 page. The BITMAP
// header and its payload are found in the stream, so the expected offsets
// follow from the filter's own bytes.
struct fault_case {
  const char* name;
  std::string (*damage)(const std::string& stream, size_t bitmap_at, size_t payload_at);
  std::string (*message)(const std::string& stream, size_t bitmap_at, size_t payload_at);
};

const fault_case kFaults[] = {
    {"cut_in_payload", [](const std::string& s, size_t, size_t p) { return s.substr(0, p + 10); },
     [](const std::string&, size_t, size_t p) {
       return "page 1, BITMAP, byte " + std::to_string(p) +
              ": payload of 48 bytes (2 x 24) runs past the end of the stream: 10 bytes remain";
     }},
    {"payload_line_end_lost",
     [](const std::string& s, size_t, size_t p) { return s.substr(0, p + 48) + s.substr(p + 50); },
     [](const std::string&, size_t, size_t p) {
       return "page 1, BITMAP, byte " + std::to_string(p + 48) +
              ": expected CR LF after the 48-byte payload, found \"PRINT 1,1\\r\\n\"";
     }},
    {"second_page_cut_in_header",
     [](const std::string& s, size_t b, size_t) { return s + s.substr(0, b + 9); },
     [](const std::string& s, size_t b, size_t) {
       return "page 2, BITMAP, byte " + std::to_string(s.size() + b + 9) +
              ": the stream ends inside the BITMAP command";
     }},
    {"density_unterminated",
     [](const std::string& s, size_t, size_t) {
       std::string out = s;
       out.erase(out.find("DENSITY 7\r\n") + 9, 1);
       return out;
     },
     [](const std::string& s, size_t, size_t) {
       return "page 1, DENSITY, byte " + std::to_string(s.find("DENSITY 7\r\n") + 9) +
              ": expected \"\\r\\n\", found \"\\n\"";
     }},
};

TEST_F(LblviewE2e, MalformedStreamsAreNamedAndExitTwoWithoutPictures) {
  const std::string stream = filter_stream({raster_gen::random_page(16, 24, 14)});
  const size_t bitmap_at = stream.find("BITMAP 0,0,2,24,1,");
  ASSERT_NE(bitmap_at, std::string::npos);
  const size_t payload_at = bitmap_at + 18;
  for (const fault_case& c : kFaults) {
    SCOPED_TRACE(c.name);
    const std::string damaged = c.damage(stream, bitmap_at, payload_at);
    const run_process::result r = run_lblview({"-q", "-o", path("bad.png")}, damaged);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, "lblview: standard input: " + c.message(stream, bitmap_at, payload_at) + "\n");
    EXPECT_FALSE(fs::exists(path("bad.png")));
    EXPECT_FALSE(fs::exists(path("bad-1.png")));
  }
}

TEST_F(LblviewE2e, NeverCrashesOnCutOrCorruptedStreams) {
  const std::string stream =
      filter_stream({raster_gen::random_page(20, 6, 15), raster_gen::random_page(9, 3, 16)});
  std::vector<std::string> inputs;
  for (size_t cut = 1; cut < stream.size(); cut += 7) inputs.push_back(stream.substr(0, cut));
  std::mt19937 rng(16);
  for (int i = 0; i < 40; ++i) {
    std::string s = stream;
    const size_t at = rng() % s.size();
    if (i % 2 == 0) {
      s[at] = static_cast<char>(rng());
    } else {
      s.erase(at, 1 + rng() % 8);
    }
    inputs.push_back(s);
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE("input " + std::to_string(i));
    const run_process::result r = run_lblview({"-q", "--png", "-o", path("f.png")}, inputs[i]);
    ASSERT_EQ(r.signal, 0);
    ASSERT_TRUE(r.exit_status == 0 || r.exit_status == 2) << r.exit_status;
    if (r.exit_status == 2) {
      // One line naming the page, the command and the byte.
      EXPECT_EQ(r.err.rfind("lblview: standard input: page ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(", byte "), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
  }
}

struct usage_case {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out_start;
  const char* err;
};

TEST_F(LblviewE2e, CommandLine) {
  const std::string kTry = "Try 'lblview --help' for more information.\n";
  const usage_case kCases[] = {
      {"help", {"--help"}, 0, "Usage: lblview [OPTION]... [FILE|-]\n", ""},
      {"short_help", {"-h"}, 0, "Usage: lblview [OPTION]... [FILE|-]\n", ""},
      {"version", {"--version"}, 0, "lblview ", ""},
      {"unknown", {"--bogus"}, 1, "", "lblview: unknown option '--bogus'\n"},
      {"dpi_missing", {"--dpi"}, 1, "", "lblview: option '--dpi' needs a value\n"},
      {"output_missing", {"-o"}, 1, "", "lblview: option '-o' needs a value\n"},
      {"dpi_too_low",
       {"--dpi", "24"},
       1,
       "",
       "lblview: --dpi wants a whole number from 25 to 2400, not '24'\n"},
      {"dpi_not_a_number",
       {"--dpi=300x"},
       1,
       "",
       "lblview: --dpi wants a whole number from 25 to 2400, not '300x'\n"},
      {"png_without_output",
       {"--png"},
       1,
       "",
       "lblview: --png draws pictures: name them with -o FILE.png\n"},
      {"two_files",
       {"a.lbl", "b.lbl"},
       1,
       "",
       "lblview: one stream at a time: 'b.lbl' is one too many\n"},
  };
  for (const usage_case& c : kCases) {
    SCOPED_TRACE(c.name);
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

  const std::string stream = filter_stream({raster_gen::solid_page(8, 8, 0)});
  const std::string target = path("no-such-dir/x.png");
  const run_process::result unwritable = run_lblview({"-q", "-o", target}, stream);
  EXPECT_EQ(unwritable.exit_status, 1);
  EXPECT_EQ(unwritable.err.rfind("lblview: " + target + ": page 1: ", 0), 0u) << unwritable.err;
}

TEST_F(LblviewE2e, EmptyStreamIsValidAndDrawsNothing) {
  const run_process::result r = run_lblview({"-o", path("none.png"), "-"}, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "standard input: 0 pages in 0 bytes, valid\n");
  EXPECT_EQ(r.err, "lblview: standard input: warning: no pages, so no picture written\n");
  EXPECT_FALSE(fs::exists(path("none.png")));
}

}  // namespace

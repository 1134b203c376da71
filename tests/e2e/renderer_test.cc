// Raster pages in, label command sequences out: byte-exact streams for the
// shapes of page the spooler can send, through the built filter.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/filter_harness.h"

namespace {

using filter_harness::expected_page;
using filter_harness::hex;
using filter_harness::label_values;
using filter_harness::row_by_row_output;
using filter_harness::run_filter;
using raster_gen::page;

page gray_ramp_page(unsigned dots, unsigned rows, unsigned copies = 1) {
  page p = raster_gen::solid_page(dots, rows, 255, copies);
  for (size_t i = 0; i < p.rows.size(); ++i) p.rows[i] = static_cast<uint8_t>(i * 37 + i / 5);
  return p;
}

struct stream_case {
  const char* name;
  std::vector<page> pages;
};

std::vector<stream_case> stream_cases() {
  page side_by_side = raster_gen::solid_page(2, 1, 128);
  side_by_side.rows[1] = 129;
  return {
      {"one page", {gray_ramp_page(16, 24)}},
      {"copies 0", {raster_gen::random_page(16, 3, 1, 0)}},
      {"copies 3", {raster_gen::random_page(16, 3, 2, 3)}},
      {"one dot", {raster_gen::solid_page(1, 1, 0)}},
      {"nine dots a row", {raster_gen::random_page(9, 5, 3)}},
      {"odd height", {raster_gen::random_page(16, 7, 4)}},
      {"gray 128 beside 129", {side_by_side}},
      {"odd widths", {raster_gen::random_page(203, 13, 5), raster_gen::random_page(3, 1, 6)}},
      {"three pages",
       {gray_ramp_page(24, 9, 2), raster_gen::random_page(17, 4, 7),
        raster_gen::solid_page(800, 3, 0, 1)}},
  };
}

std::string expected_stream(const std::vector<page>& pages, const label_values& v = {}) {
  std::string out;
  for (const page& p : pages) out += expected_page(v, p);
  return out;
}

std::string page_messages(const std::vector<page>& pages) {
  std::string out;
  for (size_t i = 0; i < pages.size(); ++i)
    out += "PAGE: " + std::to_string(i + 1) + " " +
           std::to_string(static_cast<int>(pages[i].header.NumCopies)) + "\n";
  return out;
}

TEST(Renderer, PagesComeOutByteExactInEveryStreamFormat) {
  const cups_mode_t modes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED,
                               CUPS_RASTER_WRITE_PWG};
  for (const stream_case& c : stream_cases())
    for (cups_mode_t mode : modes) {
      const run_process::result r = run_filter("", raster_gen::write_stream(c.pages, mode));
      EXPECT_EQ(r.exit_status, 0) << c.name;
      EXPECT_EQ(r.err, page_messages(c.pages)) << c.name;
      EXPECT_EQ(hex(r.out), hex(expected_stream(c.pages))) << c.name << ", mode " << mode;
    }
}

TEST(Renderer, OneDarkDotIsOneZeroBitInABlankByte) {
  const run_process::result r =
      run_filter("", raster_gen::write_stream({raster_gen::solid_page(1, 1, 0)}));
  const std::string tail = "BITMAP 0,0,1,1,1,\x7f\r\nPRINT 1,1\r\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(Renderer, WorkedExampleIs259Bytes) {
  const page p = gray_ramp_page(16, 24);
  const run_process::result r =
      run_filter("PageSize=w283h425 Darkness=8", raster_gen::write_stream({p}));
  label_values v;
  v.width = 100;
  v.height = 150;
  v.darkness = 8;
  ASSERT_EQ(r.out.size(), 259u);
  EXPECT_EQ(r.out.substr(0, 18), "SIZE 100mm,150mm\r\n");
  EXPECT_EQ(r.out.substr(180, 18), "BITMAP 0,0,2,24,1,");
  EXPECT_EQ(hex(r.out), hex(expected_page(v, p)));
}

TEST(Renderer, NegativePositionKeepsItsSign) {
  const page p = raster_gen::solid_page(8, 1, 0);
  const run_process::result r =
      run_filter("Horizontal=-5 Vertical=12", raster_gen::write_stream({p}));
  EXPECT_NE(r.out.find("BITMAP -5,12,1,1,1,"), std::string::npos) << r.out;
}

TEST(Renderer, SizeLineFollowsSettingsNotRaster) {
  const page p = raster_gen::solid_page(1600, 2, 255);  // far wider than 60 mm
  const run_process::result r = run_filter("", raster_gen::write_stream({p}));
  EXPECT_EQ(r.out.rfind("SIZE 60mm,40mm\r\n", 0), 0u);
  EXPECT_NE(r.out.find("BITMAP 0,0,200,2,1,"), std::string::npos);
}

TEST(Renderer, PageWithoutRowsOrDotsEndsTheJob) {
  for (unsigned zero_field = 0; zero_field < 2; ++zero_field) {
    page empty = raster_gen::solid_page(8, 2, 0);
    (zero_field == 0 ? empty.header.cupsHeight : empty.header.cupsBytesPerLine) = 0;
    const std::vector<page> pages = {raster_gen::solid_page(8, 2, 0), empty,
                                     raster_gen::solid_page(8, 2, 255)};
    const run_process::result r = run_filter("", raster_gen::write_stream(pages));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "PAGE: 1 1\n");
    EXPECT_EQ(hex(r.out), hex(expected_page({}, pages[0])));
  }
}

// A stream cut anywhere inside a page's rows still prints that page in full
// size: the dots received print, the rest of the page stays blank.
TEST(Renderer, StreamEndingMidPagePrintsDotsReceivedAndBlanksTheRest) {
  const page first = raster_gen::random_page(16, 3, 11);
  const page second = raster_gen::random_page(16, 6, 12);
  const std::string whole = raster_gen::write_stream({first, second});
  const size_t rows_start = raster_gen::write_stream({first}).size() + 1796;
  for (size_t dots_kept = 0; dots_kept < second.rows.size(); dots_kept += 5) {
    page received = second;
    received.rows.resize(dots_kept);
    const run_process::result r = run_filter("", whole.substr(0, rows_start + dots_kept));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "PAGE: 1 1\nPAGE: 2 1\n") << dots_kept;
    EXPECT_EQ(hex(r.out), hex(expected_page({}, first) + expected_page({}, received)))
        << dots_kept << " dots kept";
  }
}

TEST(Renderer, StreamEndingInsideAHeaderPrintsOnlyWholePages) {
  const page p = raster_gen::random_page(16, 2, 21);
  const std::string one = raster_gen::write_stream({p});
  const std::string two = raster_gen::write_stream({p, p});
  for (size_t cut : {size_t{0}, size_t{2}, size_t{4}, size_t{100}, one.size(), one.size() + 1000}) {
    const run_process::result r = run_filter("", two.substr(0, cut));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(hex(r.out), cut < one.size() ? "" : hex(expected_page({}, p))) << "cut at " << cut;
  }
}

TEST(Renderer, PageBeyondTheLimitsIsRefusedAfterEarlierPages) {
  const page good = raster_gen::solid_page(8, 1, 0);
  page huge = raster_gen::solid_page(8, 1, 0);
  huge.header.cupsBytesPerLine = 1u << 20;  // 2^20 dots x 2^11 rows = 2 GiB of gray
  huge.header.cupsWidth = huge.header.cupsBytesPerLine;
  huge.header.cupsHeight = 1u << 11;
  huge.rows.clear();
  const run_process::result r = run_filter("", raster_gen::write_stream({good, huge}));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(hex(r.out), hex(expected_page({}, good)));
  EXPECT_EQ(r.err, "PAGE: 1 1\nERROR: Page 2 is too large for the printer (1048576 x 2048 dots)\n");
}

using test_common::kAddressSanitizer;

// A page that fits the limits but not the memory: the job fails cleanly, and
// the printer gets the earlier pages and nothing of this one.
TEST(Renderer, PageThatCannotBeAllocatedFailsTheJob) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  const page good = raster_gen::solid_page(8, 1, 0);
  page big = raster_gen::solid_page(8, 1, 0);
  big.header.cupsBytesPerLine = big.header.cupsWidth = 1u << 15;
  big.header.cupsHeight = 1u << 15;  // 1 GiB of gray
  big.rows.clear();
  run_process::request req;
  req.program = LBLFILTER_PATH;
  req.argv = {"q", "1", "u", "t", "1", ""};
  req.stdin_bytes = raster_gen::write_stream({good, big});
  req.address_space_limit = 512ull << 20;
  const run_process::result r = run_process::run(req);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "PAGE: 1 1\nPAGE: 2 1\nERROR: Unable to allocate memory\n");
  EXPECT_EQ(hex(r.out), hex(expected_page({}, good)));
}

TEST(Renderer, BitmapHeaderThatWouldNotFitIsRefused) {
  page p = raster_gen::solid_page(800, 1200, 255);
  const run_process::result r =
      run_filter("Horizontal=-32768 Vertical=-32768", raster_gen::write_stream({p}));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Page 1 bitmap header does not fit the printer's command\n");
}

}  // namespace

// The filter may read a page in larger pieces than a row; on a stream cut at
// any byte it must still print exactly what row-by-row reading would.
TEST(Renderer, CutStreamsPrintWhatRowByRowReadingReceives) {
  const cups_mode_t modes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED,
                               CUPS_RASTER_WRITE_PWG};
  const std::vector<page> pages = {raster_gen::random_page(16, 5, 31),
                                   raster_gen::label_page(24, 6),
                                   raster_gen::random_page(9, 3, 32)};
  for (cups_mode_t mode : modes) {
    const std::string whole = raster_gen::write_stream(pages, mode);
    // Every byte near the end of each page's rows, and a spread across the rest.
    std::set<size_t> cuts;
    for (size_t n = 1; n <= pages.size(); ++n) {
      const size_t page_end =
          raster_gen::write_stream(std::vector<page>(pages.begin(), pages.begin() + n), mode)
              .size();
      for (size_t back = 0; back <= 24; ++back) cuts.insert(page_end - back);
    }
    for (size_t cut = 0; cut < whole.size(); cut += whole.size() / 16) cuts.insert(cut);
    for (size_t cut : cuts) {
      const std::string stream = whole.substr(0, cut);
      const run_process::result r = run_filter("", stream);
      ASSERT_EQ(r.exit_status, 0);
      ASSERT_EQ(hex(r.out), hex(row_by_row_output(stream)))
          << "mode " << mode << ", cut at " << cut;
    }
  }
}

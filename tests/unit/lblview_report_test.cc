// Where a page's bitmap lands on its label, what prints of it, and the
// summary people and scripts read.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/page_report.h"
#include "tools/lblview/stream_parser.h"

namespace {

using lblview_test::as_bytes;
using lblview_test::page_stream;
using lblview_test::page_values;

struct dpi_case {
  int dpi;
  int64_t dots_per_mm;
};

TEST(LblviewReport, DotsPerMillimetreRoundToWholeDots) {
  const dpi_case kCases[] = {{25, 1},   {100, 4},  {150, 6},  {203, 8},
                             {300, 12}, {600, 24}, {2400, 94}};
  for (const dpi_case& c : kCases) EXPECT_EQ(lblview::dots_per_mm(c.dpi), c.dots_per_mm) << c.dpi;
}

// A parsed page of `v` with `payload`, kept alive with its stream.
// A page's stream and the parsed page, whose payload points into `stream`:
// built in place and never moved.
struct parsed_page {
  parsed_page(const page_values& v, const std::string& payload) : stream(page_stream(v, payload)) {
    std::vector<lblview::page> pages;
    lblview::parse_error error;
    if (lblview::parse_stream(as_bytes(stream), &pages, &error) && pages.size() == 1) {
      page = pages[0];
    } else {
      ADD_FAILURE() << lblview::describe(error);
    }
  }
  parsed_page(const parsed_page&) = delete;
  parsed_page& operator=(const parsed_page&) = delete;

  const std::string stream;
  lblview::page page;
};

TEST(LblviewReport, ReferencePointMovesTheBitmap) {
  page_values v;
  v.reference_x = 10;
  v.reference_y = -3;
  v.bitmap_x = 5;
  v.bitmap_y = 7;
  const parsed_page p(v, std::string(48, '\xff'));
  const lblview::label_geometry g = lblview::place_on_label(p.page, 300);
  EXPECT_EQ(g.dpi, 300);
  EXPECT_EQ(g.width, 1200);
  EXPECT_EQ(g.height, 1800);
  EXPECT_EQ(g.bitmap_left, 15);
  EXPECT_EQ(g.bitmap_top, 4);
  EXPECT_EQ(g.bitmap_width, 16);
  EXPECT_EQ(g.bitmap_height, 24);
}

// A 16 x 24-dot bitmap whose dots all print, on a label of 2 x 3 mm: exactly
// 16 x 24 dots at 203 dpi.
struct placement_case {
  const char* name;
  int width_mm, height_mm, reference_x, bitmap_x, bitmap_y, dpi;
  uint64_t off_label;
  const char* warning;  // "" when none
};

void PrintTo(const placement_case& c, std::ostream* os) { *os << c.name; }

const placement_case kPlacements[] = {
    {"exact_fit", 2, 3, 0, 0, 0, 203, 0, ""},
    {"large_label", 100, 150, 0, 0, 0, 203, 0, ""},
    {"one_dot_right", 2, 3, 0, 1, 0, 203, 24,
     "bitmap of 16 x 24 dots at 1,0 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 24 "
     "printed dots fall outside it"},
    {"reference_right", 2, 3, 1, 0, 0, 203, 24,
     "bitmap of 16 x 24 dots at 1,0 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 24 "
     "printed dots fall outside it"},
    {"one_row_down", 2, 3, 0, 0, 1, 203, 16,
     "bitmap of 16 x 24 dots at 0,1 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 16 "
     "printed dots fall outside it"},
    {"left_of_label", 2, 3, 0, -2, 0, 203, 48,
     "bitmap of 16 x 24 dots at -2,0 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 48 "
     "printed dots fall outside it"},
    {"lower_resolution", 2, 3, 0, 0, 0, 100, 16 * 24 - 8 * 12,
     "bitmap of 16 x 24 dots at 0,0 runs beyond the 8 x 12-dot label (2 x 3 mm at 100 dpi); 288 "
     "printed dots fall outside it"},
    {"higher_resolution", 2, 3, 0, 0, 0, 300, 0, ""},
    {"entirely_off", 2, 3, 0, 100, 0, 203, 384,
     "bitmap of 16 x 24 dots at 100,0 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 384 "
     "printed dots fall outside it"},
    {"no_width", 0, 3, 0, 0, 0, 203, 384, "label size 0 x 3 mm has no area"},
    {"negative_height", 2, -3, 0, 0, 0, 203, 384, "label size 2 x -3 mm has no area"},
};

class LblviewPlacement : public testing::TestWithParam<placement_case> {};

TEST_P(LblviewPlacement, CountsPrintedDotsOffTheLabelAndWarns) {
  const placement_case& c = GetParam();
  page_values v;
  v.width_mm = c.width_mm;
  v.height_mm = c.height_mm;
  v.reference_x = c.reference_x;
  v.bitmap_x = c.bitmap_x;
  v.bitmap_y = c.bitmap_y;
  const parsed_page p(v, std::string(48, '\0'));
  const lblview::page_facts f = lblview::examine(p.page, c.dpi);
  EXPECT_EQ(f.dots, 384u);
  EXPECT_EQ(f.dark_dots, 384u);
  EXPECT_EQ(f.dark_dots_off_label, c.off_label);
  if (c.warning[0] == '\0') {
    EXPECT_TRUE(f.warnings.empty()) << f.warnings[0];
  } else {
    ASSERT_EQ(f.warnings.size(), 1u);
    EXPECT_EQ(f.warnings[0], c.warning);
  }
}

INSTANTIATE_TEST_SUITE_P(Labels, LblviewPlacement, testing::ValuesIn(kPlacements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewReport, BlankDotsBeyondTheEdgeStillWarnButPrintNothing) {
  page_values v;
  v.width_mm = 2;
  v.height_mm = 3;
  v.bitmap_x = 4;
  std::string payload(48, '\xff');
  for (size_t row = 0; row < 24; ++row) payload[row * 2] = '\x00';  // left 8 dots print
  const parsed_page p(v, payload);
  const lblview::page_facts f = lblview::examine(p.page, 203);
  EXPECT_EQ(f.dark_dots, 8u * 24u);
  EXPECT_EQ(f.dark_dots_off_label, 0u);
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_NE(f.warnings[0].find("; 0 printed dots fall outside it"), std::string::npos);
}

TEST(LblviewReport, CountsDarkDotsBitByBit) {
  const std::pair<std::string, uint64_t> kPayloads[] = {
      {std::string(48, '\xff'), 0},
      {std::string(48, '\0'), 384},
      {std::string(47, '\xff') + "\x7f", 1},
      {std::string(24, '\xaa') + std::string(24, '\x0f'), 24 * 4 + 24 * 4},
  };
  for (const auto& [payload, dark] : kPayloads) {
    const parsed_page p(page_values{}, payload);
    EXPECT_EQ(lblview::examine(p.page, 203).dark_dots, dark);
  }
}

lblview::stream_report report_of(const std::vector<lblview::page>& pages,
                                 const std::vector<lblview::page_facts>& facts,
                                 const lblview::parse_error* error, uint64_t bytes) {
  return {"job.lbl", bytes, 203, pages, facts, error};
}

TEST(LblviewReport, TextSummaryOfTheWorkedExample) {
  std::string payload(48, '\xff');
  payload[0] = '\0';
  const parsed_page p(page_values{}, payload);
  const std::vector<lblview::page> pages{p.page};
  const std::vector<lblview::page_facts> facts{lblview::examine(p.page, 203)};
  EXPECT_EQ(lblview::text_report(report_of(pages, facts, nullptr, 259)),
            "page 1 (bytes 0 to 258)\n"
            "  label           100 x 150 mm, 800 x 1200 dots at 203 dpi\n"
            "  gap             0.120,0.000\n"
            "  speed           4\n"
            "  density         8\n"
            "  direction       0,0\n"
            "  reference       0,0\n"
            "  offset          0.000\n"
            "  shift           0\n"
            "  peel            OFF\n"
            "  cutter          OFF\n"
            "  partial cutter  OFF\n"
            "  tear            ON\n"
            "  bitmap          16 x 24 dots at 0,0 (2 bytes per row)\n"
            "  copies          1\n"
            "  dark dots       8 of 384 (2.1%)\n"
            "job.lbl: 1 page in 259 bytes, valid\n");
}

TEST(LblviewReport, JsonSummaryOfTheWorkedExample) {
  const parsed_page p(page_values{}, std::string(48, '\x0f'));
  const std::vector<lblview::page> pages{p.page};
  const std::vector<lblview::page_facts> facts{lblview::examine(p.page, 203)};
  EXPECT_EQ(lblview::json_report(report_of(pages, facts, nullptr, 259)),
            R"({
  "source": "job.lbl",
  "bytes": 259,
  "dpi": 203,
  "valid": true,
  "pages": [
    {
      "page": 1,
      "stream_offset": 0,
      "stream_length": 259,
      "label": {"width_mm": 100, "height_mm": 150, "width_dots": 800, "height_dots": 1200},
      "gap": "0.120,0.000",
      "speed": 4,
      "density": 8,
      "direction": "0,0",
      "reference": {"x": 0, "y": 0},
      "offset": "0.000",
      "shift": "0",
      "peel": "OFF",
      "cutter": "OFF",
      "partial_cutter": "OFF",
      "tear": "ON",
      "bitmap": {"x": 0, "y": 0, "bytes_per_row": 2, "width_dots": 16, "height_dots": 24, "left_dot": 0, "top_dot": 0, "payload_offset": 198},
      "copies": 1,
      "dots": 384,
      "dark_dots": 192,
      "dark_share": 0.5,
      "dark_dots_off_label": 0,
      "warnings": []
    }
  ],
  "error": null
}
)");
}

TEST(LblviewReport, SummariesOfAMalformedStreamCarryTheFault) {
  const lblview::parse_error error{2, "SPEED", 294, R"(expected a number, found "x\"\r\n")"};
  const std::vector<lblview::page> none;
  const std::vector<lblview::page_facts> no_facts;
  EXPECT_EQ(lblview::text_report(report_of(none, no_facts, &error, 300)),
            R"(job.lbl: malformed at page 2, SPEED, byte 294: expected a number, found "x\"\r\n")"
            "\n");
  EXPECT_EQ(lblview::json_report(report_of(none, no_facts, &error, 300)),
            R"({
  "source": "job.lbl",
  "bytes": 300,
  "dpi": 203,
  "valid": false,
  "pages": [],
  "error": {"page": 2, "command": "SPEED", "offset": 294, "message": "expected a number, found \"x\\\"\\r\\n\""}
}
)");
}

TEST(LblviewReport, JsonEscapesTheSourceName) {
  const std::vector<lblview::page> none;
  const std::vector<lblview::page_facts> no_facts;
  lblview::stream_report report = report_of(none, no_facts, nullptr, 0);
  // Quotes, a backslash, a tab, UTF-8 "e acute" and a stray byte.
  report.source = "a \"b\"\\c\td\xc3\xa9\xff.lbl";
  EXPECT_NE(lblview::json_report(report).find(R"("source": "a \"b\"\\c\u0009d)"
                                              "\xc3\xa9"
                                              R"(\ufffd.lbl",)"),
            std::string::npos)
      << lblview::json_report(report);
}

}  // namespace

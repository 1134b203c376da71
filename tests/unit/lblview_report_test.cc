// Where a page's bitmap lands on its label, what prints of it, and the
// summary people and scripts read.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/page_report.h"

namespace {

using lblview_test::page_values;
using lblview_test::parsed;

TEST(LblviewReport, DotsPerMillimetreRoundToWholeDots) {
  const std::pair<int, int64_t> kCases[] = {{25, 1},   {100, 4},  {150, 6},  {203, 8},
                                            {300, 12}, {600, 24}, {2400, 94}};
  for (const auto& [dpi, dots] : kCases) EXPECT_EQ(lblview::dots_per_mm(dpi), dots) << dpi;
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
    {"entirely_off", 2, 3, 0, 100, 0, 203, 384,
     "bitmap of 16 x 24 dots at 100,0 runs beyond the 16 x 24-dot label (2 x 3 mm at 203 dpi); 384 "
     "printed dots fall outside it"},
    {"no_width", 0, 3, 0, 0, 0, 203, 384, "label size 0 x 3 mm has no area"},
    {"negative_height", 2, -3, 0, 0, 0, 203, 384, "label size 2 x -3 mm has no area"},
};

class LblviewPlacement : public testing::TestWithParam<placement_case> {};

TEST_P(LblviewPlacement, CountsPrintedDotsOffTheLabelAndWarns) {
  const placement_case& c = GetParam();
  const parsed p({.width_mm = c.width_mm,
                  .height_mm = c.height_mm,
                  .reference_x = c.reference_x,
                  .bitmap_x = c.bitmap_x,
                  .bitmap_y = c.bitmap_y},
                 std::string(48, '\0'));
  const lblview::page_facts f = lblview::examine(p.page(), c.dpi);
  EXPECT_EQ(f.dots, 384u);
  EXPECT_EQ(f.dark_dots, 384u);
  EXPECT_EQ(f.dark_dots_off_label, c.off_label);
  EXPECT_EQ(f.warnings, c.warning[0] == '\0' ? std::vector<std::string>{}
                                             : std::vector<std::string>{c.warning});
}

INSTANTIATE_TEST_SUITE_P(Labels, LblviewPlacement, testing::ValuesIn(kPlacements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewReport, BlankDotsBeyondTheEdgeStillWarnButPrintNothing) {
  std::string payload(48, '\xff');
  for (size_t row = 0; row < 24; ++row) payload[row * 2] = '\x00';  // left 8 dots print
  const parsed p({.width_mm = 2, .height_mm = 3, .bitmap_x = 4}, payload);
  const lblview::page_facts f = lblview::examine(p.page(), 203);
  EXPECT_EQ(f.dark_dots, 8u * 24u);
  EXPECT_EQ(f.dark_dots_off_label, 0u);
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_NE(f.warnings[0].find("; 0 printed dots fall outside it"), std::string::npos);
}

lblview::stream_report report_of(const std::vector<lblview::page>& pages,
                                 const std::vector<lblview::page_facts>& facts,
                                 const lblview::parse_error* error, uint64_t bytes) {
  return {"job.lbl", bytes, 203, pages, facts, error};
}

// A page whose numbers all differ, placed so that two of its eight printed
// dots fall off the label's left edge.
struct summary_page {
  summary_page()
      : p({.reference_x = 3, .reference_y = -2, .bitmap_x = -5, .bitmap_y = 7, .copies = 2},
          std::string(1, '\0') + std::string(47, '\xff')) {}
  const parsed p;
  const std::vector<lblview::page> pages{p.page()};
  const std::vector<lblview::page_facts> facts{lblview::examine(p.page(), 203)};
};

TEST(LblviewReport, TextSummaryShowsEveryValueAndWarning) {
  const summary_page s;
  EXPECT_EQ(lblview::text_report(report_of(s.pages, s.facts, nullptr, 261)),
            "page 1 (bytes 0 to 260)\n"
            "  label           100 x 150 mm, 800 x 1200 dots at 203 dpi\n"
            "  gap             0.120,0.000\n"
            "  speed           4\n"
            "  density         8\n"
            "  direction       0,0\n"
            "  reference       3,-2\n"
            "  offset          0.000\n"
            "  shift           0\n"
            "  peel            OFF\n"
            "  cutter          OFF\n"
            "  partial cutter  OFF\n"
            "  tear            ON\n"
            "  bitmap          16 x 24 dots at -5,7 (2 bytes per row)\n"
            "  copies          2\n"
            "  dark dots       8 of 384 (2.1%)\n"
            "  warning         bitmap of 16 x 24 dots at -2,5 runs beyond the 800 x 1200-dot "
            "label (100 x 150 mm at 203 dpi); 2 printed dots fall outside it\n"
            "job.lbl: 1 page in 261 bytes, valid\n");
}

TEST(LblviewReport, JsonSummaryShowsEveryValueAndWarning) {
  const summary_page s;
  EXPECT_EQ(lblview::json_report(report_of(s.pages, s.facts, nullptr, 261)),
            R"({
  "source": "job.lbl",
  "bytes": 261,
  "dpi": 203,
  "valid": true,
  "pages": [
    {
      "page": 1,
      "stream_offset": 0,
      "stream_length": 261,
      "label": {"width_mm": 100, "height_mm": 150, "width_dots": 800, "height_dots": 1200},
      "gap": "0.120,0.000",
      "speed": 4,
      "density": 8,
      "direction": "0,0",
      "reference": {"x": 3, "y": -2},
      "offset": "0.000",
      "shift": "0",
      "peel": "OFF",
      "cutter": "OFF",
      "partial_cutter": "OFF",
      "tear": "ON",
      "bitmap": {"x": -5, "y": 7, "bytes_per_row": 2, "width_dots": 16, "height_dots": 24, "left_dot": -2, "top_dot": 5, "payload_offset": 200},
      "copies": 2,
      "dots": 384,
      "dark_dots": 8,
      "dark_share": 0.0208333,
      "dark_dots_off_label": 2,
      "warnings": ["bitmap of 16 x 24 dots at -2,5 runs beyond the 800 x 1200-dot label (100 x 150 mm at 203 dpi); 2 printed dots fall outside it"]
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

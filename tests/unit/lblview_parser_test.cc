// The label stream parser: every well-formed page is read back with its
// values, and every fault is named by page, command and byte offset.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/stream_parser.h"

namespace {

using lblview_test::as_bytes;
using lblview_test::page_stream;
using lblview_test::page_values;
using lblview_test::pattern_payload;

// The worked example of the command stream: 100 x 150 mm, speed 4, density 8,
// a 16-dot by 24-row page. Its commands start at these offsets.
constexpr size_t kGapAt = 18, kSpeedAt = 35, kDensityAt = 44, kReferenceAt = 70, kPeelAt = 108,
                 kTearAt = 162, kClsAt = 175, kBitmapAt = 180, kPayloadAt = 198, kPayloadEnd = 246,
                 kPrintAt = 248, kPageBytes = 259;

std::string example() { return page_stream(page_values{}, pattern_payload(page_values{})); }

// A stream and what the parser made of it; the pages' payloads point into
// `stream`, so it is built in place and never moved.
struct parsed {
  explicit parsed(std::string bytes) : stream(std::move(bytes)) {
    ok = lblview::parse_stream(as_bytes(stream), &pages, &error);
  }
  parsed(const parsed&) = delete;
  parsed& operator=(const parsed&) = delete;

  const std::string stream;
  bool ok = false;
  std::vector<lblview::page> pages;
  lblview::parse_error error;
};

TEST(LblviewParser, ReadsTheWorkedExample) {
  const std::string stream = example();
  ASSERT_EQ(stream.size(), kPageBytes);
  const parsed r(stream);
  ASSERT_TRUE(r.ok) << lblview::describe(r.error);
  ASSERT_EQ(r.pages.size(), 1u);
  const lblview::page& p = r.pages[0];
  EXPECT_EQ(p.number, 1);
  EXPECT_EQ(p.offset, 0u);
  EXPECT_EQ(p.length, kPageBytes);
  EXPECT_EQ(p.width_mm, 100);
  EXPECT_EQ(p.height_mm, 150);
  EXPECT_EQ(p.speed, 4);
  EXPECT_EQ(p.density, 8);
  EXPECT_EQ(p.reference_x, 0);
  EXPECT_EQ(p.reference_y, 0);
  EXPECT_EQ(p.gap, "0.120,0.000");
  EXPECT_EQ(p.direction, "0,0");
  EXPECT_EQ(p.offset_text, "0.000");
  EXPECT_EQ(p.shift, "0");
  EXPECT_EQ(p.peel, "OFF");
  EXPECT_EQ(p.cutter, "OFF");
  EXPECT_EQ(p.partial_cutter, "OFF");
  EXPECT_EQ(p.tear, "ON");
  EXPECT_EQ(p.bitmap_x, 0);
  EXPECT_EQ(p.bitmap_y, 0);
  EXPECT_EQ(p.bytes_per_row, 2);
  EXPECT_EQ(p.rows, 24);
  EXPECT_EQ(p.payload_offset, kPayloadAt);
  ASSERT_EQ(p.payload.size(), 48u);
  EXPECT_EQ(p.payload.data(), as_bytes(r.stream).data() + kPayloadAt);
  EXPECT_EQ(p.copies, 1);
}

// Values at the edges of what the filter can write.
struct value_case {
  const char* name;
  page_values values;
};

page_values with(void (*change)(page_values&)) {
  page_values v;
  change(v);
  return v;
}

const value_case kValueCases[] = {
    {"copies_0", with([](page_values& v) { v.copies = 0; })},
    {"copies_3", with([](page_values& v) { v.copies = 3; })},
    {"copies_int_max", with([](page_values& v) { v.copies = 2147483647; })},
    {"copies_wrapped_negative", with([](page_values& v) { v.copies = -2147483647 - 1; })},
    {"negative_horizontal", with([](page_values& v) { v.bitmap_x = -5; })},
    {"negative_reference", with([](page_values& v) { v.reference_x = v.reference_y = -12; })},
    {"setting_min", with([](page_values& v) { v.speed = v.width_mm = v.bitmap_y = -32768; })},
    {"setting_max", with([](page_values& v) { v.density = v.height_mm = v.bitmap_x = 32767; })},
    {"zero_size", with([](page_values& v) { v.width_mm = v.height_mm = 0; })},
    {"one_dot", with([](page_values& v) { v.bytes_per_row = v.rows = 1; })},
    {"wide_row", with([](page_values& v) { v.bytes_per_row = 1041, v.rows = 3; })},
};

void PrintTo(const value_case& c, std::ostream* os) { *os << c.name; }

class LblviewParserValues : public testing::TestWithParam<value_case> {};

TEST_P(LblviewParserValues, ReadsBackWhatWasWritten) {
  const page_values& v = GetParam().values;
  const std::string payload = pattern_payload(v);
  const parsed r(page_stream(v, payload));
  ASSERT_TRUE(r.ok) << lblview::describe(r.error);
  ASSERT_EQ(r.pages.size(), 1u);
  const lblview::page& p = r.pages[0];
  EXPECT_EQ(p.width_mm, v.width_mm);
  EXPECT_EQ(p.height_mm, v.height_mm);
  EXPECT_EQ(p.speed, v.speed);
  EXPECT_EQ(p.density, v.density);
  EXPECT_EQ(p.reference_x, v.reference_x);
  EXPECT_EQ(p.reference_y, v.reference_y);
  EXPECT_EQ(p.bitmap_x, v.bitmap_x);
  EXPECT_EQ(p.bitmap_y, v.bitmap_y);
  EXPECT_EQ(p.bytes_per_row, v.bytes_per_row);
  EXPECT_EQ(p.rows, v.rows);
  EXPECT_EQ(p.copies, v.copies);
  EXPECT_EQ(std::string(p.payload.begin(), p.payload.end()), payload);
}

INSTANTIATE_TEST_SUITE_P(Edges, LblviewParserValues, testing::ValuesIn(kValueCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewParser, EmptyStreamIsValidWithoutPages) {
  const parsed r("");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.pages.empty());
}

TEST(LblviewParser, NumbersPagesAndTheirOffsets) {
  page_values second;
  second.bytes_per_row = 1;
  second.rows = 1;
  second.copies = 2;
  const std::string stream = example() + page_stream(second, "\x7f") + example();
  const parsed r(stream);
  ASSERT_TRUE(r.ok) << lblview::describe(r.error);
  ASSERT_EQ(r.pages.size(), 3u);
  const size_t second_length = page_stream(second, "\x7f").size();
  EXPECT_EQ(r.pages[1].number, 2);
  EXPECT_EQ(r.pages[1].offset, kPageBytes);
  EXPECT_EQ(r.pages[1].length, second_length);
  EXPECT_EQ(r.pages[1].copies, 2);
  EXPECT_EQ(r.pages[1].payload[0], 0x7f);
  EXPECT_EQ(r.pages[2].number, 3);
  EXPECT_EQ(r.pages[2].offset, kPageBytes + second_length);
  EXPECT_EQ(r.pages[2].payload_offset, kPageBytes + second_length + kPayloadAt);
}

// A fault: the example with `find` replaced by `replace` (or cut to `cut`
// bytes), and where and how it must be reported.
struct fault_case {
  const char* name;
  std::string find, replace;
  size_t cut;  // 0: keep the whole stream
  int page;
  const char* command;
  size_t offset;
  const char* message;
};

const fault_case kFaults[] = {
    {"bare_lf", "SPEED 4\r\n", "SPEED 4\n", 0, 1, "SPEED", kSpeedAt + 7,
     R"(expected "\r\n", found "\n")"},
    {"gap_missing", "GAP 0.120,0.000\r\n", "", 0, 1, "GAP", kGapAt,
     "found the SPEED command where GAP belongs"},
    {"lines_swapped", "SPEED 4\r\nDENSITY 8\r\n", "DENSITY 8\r\nSPEED 4\r\n", 0, 1, "SPEED",
     kSpeedAt, "found the DENSITY command where SPEED belongs"},
    {"leading_zero", "SPEED 4", "SPEED 04", 0, 1, "SPEED", kSpeedAt + 6,
     R"(number "04" has a leading zero)"},
    {"minus_zero", "REFERENCE 0,0", "REFERENCE -0,0", 0, 1, "REFERENCE", kReferenceAt + 10,
     R"(number "-0" has a minus sign on zero)"},
    {"plus_sign", "DENSITY 8", "DENSITY +8", 0, 1, "DENSITY", kDensityAt + 8,
     R"(expected a number, found "+8\r\n")"},
    {"space_in_size", "100mm,150mm", "100mm, 150mm", 0, 1, "SIZE", 11,
     R"(expected a number, found " 150mm\r\n")"},
    {"size_without_unit", "100mm", "100", 0, 1, "SIZE", 8, R"(expected "mm,", found ",150mm\r\n")"},
    {"size_too_wide", "SIZE 100mm", "SIZE 40000mm", 0, 1, "SIZE", 5,
     "number 40000 is outside the printer's range -32768 to 32767"},
    {"position_too_far", "BITMAP 0,", "BITMAP -40000,", 0, 1, "BITMAP", kBitmapAt + 7,
     "number -40000 is outside the printer's range -32768 to 32767"},
    {"number_too_long", "SPEED 4", "SPEED 12345678901", 0, 1, "SPEED", kSpeedAt + 6,
     R"(number "12345678901" does not fit in an int)"},
    {"endless_number", "SPEED 4", "SPEED 4" + std::string(40, '7'), 0, 1, "SPEED", kSpeedAt + 6,
     R"(number "4777777777777777..." does not fit in an int)"},
    {"copies_overflow", "PRINT 1,1", "PRINT 1,2147483648", 0, 1, "PRINT", kPrintAt + 8,
     R"(number "2147483648" does not fit in an int)"},
    {"peel_on", "SET PEEL OFF", "SET PEEL ON", 0, 1, "SET PEEL", kPeelAt + 10,
     R"(expected "FF\r\n", found "N\r\n")"},
    {"tear_off", "SET TEAR ON", "SET TEAR OFF", 0, 1, "SET TEAR", kTearAt + 10,
     R"(expected "N\r\n", found "FF\r\n")"},
    {"lower_case", "CLS", "cls", 0, 1, "CLS", kClsAt, R"(expected "CLS\r\n", found "cls\r\n")"},
    {"bitmap_mode", ",24,1,", ",24,0,", 0, 1, "BITMAP", kBitmapAt + 16,
     R"(expected "1,", found "0,)"},
    {"zero_bytes_per_row", "BITMAP 0,0,2,", "BITMAP 0,0,0,", 0, 1, "BITMAP", kBitmapAt + 11,
     "bytes per row must be at least 1, not 0"},
    {"zero_rows", ",2,24,1,", ",2,0,1,", 0, 1, "BITMAP", kBitmapAt + 13,
     "rows must be at least 1, not 0"},
    {"header_too_long", "BITMAP 0,0,2,24,", "BITMAP -32768,-32768,99999,9999,", 0, 1, "BITMAP",
     kBitmapAt, "BITMAP header is 34 characters; the filter's holds at most 31"},
    {"payload_short", "", "", kPayloadAt + 20, 1, "BITMAP", kPayloadAt,
     "payload of 48 bytes (2 x 24) runs past the end of the stream: 20 bytes remain"},
    {"print_first_field", "PRINT 1,1", "PRINT 2,1", 0, 1, "PRINT", kPrintAt + 6,
     R"(expected "1,", found "2,1\r\n")"},
    {"ends_in_size", "", "", 3, 1, "SIZE", 3, "the stream ends inside the SIZE command"},
    {"ends_after_cls", "", "", kBitmapAt, 1, "BITMAP", kBitmapAt,
     "the stream ends inside the BITMAP command"},
    {"ends_after_payload", "", "", kPayloadEnd, 1, "BITMAP", kPayloadEnd,
     "expected CR LF after the 48-byte payload, found the end of the stream"},
    {"ends_before_print", "", "", kPrintAt, 1, "PRINT", kPrintAt,
     "the stream ends inside the PRINT command"},
    {"ends_before_last_lf", "", "", kPageBytes - 1, 1, "PRINT", kPageBytes - 1,
     "the stream ends inside the PRINT command"},
    {"binary_at_start", "SIZE", std::string("\0\xff", 2) + "SIZE", 0, 1, "SIZE", 0,
     R"(expected "SIZE ", found "\x00\xffSIZE 100mm,150")"},
};

std::string faulty(const fault_case& c) {
  std::string stream = example();
  if (!c.find.empty()) {
    // Only the text lines are searched, never the payload's bytes.
    size_t at = stream.substr(0, kPayloadAt).find(c.find);
    if (at == std::string::npos) at = stream.find(c.find, kPayloadEnd);
    if (at == std::string::npos) return "find text not in the page's text";
    stream.replace(at, c.find.size(), c.replace);
  }
  if (c.cut != 0) stream.resize(c.cut);
  return stream;
}

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }

class LblviewParserFaults : public testing::TestWithParam<fault_case> {};

TEST_P(LblviewParserFaults, NamesPageCommandAndOffset) {
  const fault_case& c = GetParam();
  const parsed r(faulty(c));
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error.page, c.page);
  EXPECT_EQ(r.error.command, c.command);
  EXPECT_EQ(r.error.offset, c.offset);
  EXPECT_EQ(r.error.message.substr(0, std::string(c.message).size()), c.message) << r.error.message;
  EXPECT_TRUE(r.pages.empty());
}

TEST_P(LblviewParserFaults, OnALaterPageCountsFromTheStreamStart) {
  const fault_case& c = GetParam();
  const parsed r(example() + example() + faulty(c));
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error.page, c.page + 2);
  EXPECT_EQ(r.error.command, c.command);
  EXPECT_EQ(r.error.offset, c.offset + 2 * kPageBytes);
  EXPECT_EQ(r.pages.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, LblviewParserFaults, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The payload's length comes from the header alone, so a payload a byte short
// or long leaves the wrong byte where its CR LF belongs.
struct payload_case {
  const char* name;
  size_t payload_bytes;
  const char* message;
};

const payload_case kPayloadLengths[] = {
    {"one_short", 47, R"(expected CR LF after the 48-byte payload, found "\n")"},
    {"one_long", 49, R"(expected CR LF after the 48-byte payload, found "\x0f\r\n")"},
};

void PrintTo(const payload_case& c, std::ostream* os) { *os << c.name; }

class LblviewParserPayload : public testing::TestWithParam<payload_case> {};

TEST_P(LblviewParserPayload, WrongLengthIsCaughtAtThePayloadEnd) {
  std::string payload = pattern_payload(page_values{});
  payload.resize(GetParam().payload_bytes, '\x0f');
  const parsed r(page_stream(page_values{}, payload));
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error.command, "BITMAP");
  EXPECT_EQ(r.error.offset, kPayloadEnd);
  EXPECT_EQ(r.error.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LblviewParserPayload, testing::ValuesIn(kPayloadLengths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewParser, TrailingBytesAreANewPageThatIsNotOne) {
  const parsed r(example() + "\r\n");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(lblview::describe(r.error),
            R"(page 2, SIZE, byte 259: expected "SIZE ", found "\r\n")");
}

struct escape_case {
  std::string bytes;
  const char* shown;
};

TEST(LblviewParser, EscapesBytesForMessages) {
  const escape_case kCases[] = {
      {"PRINT 1,1\r\n", R"(PRINT 1,1\r\n)"},
      {"say \"hi\"\\", R"(say \"hi\"\\)"},
      {std::string("\0\x7f\x80\xff\t", 5), R"(\x00\x7f\x80\xff\x09)"},
  };
  for (const escape_case& c : kCases) {
    EXPECT_EQ(lblview::escape_bytes(as_bytes(c.bytes)), c.shown);
  }
}

}  // namespace

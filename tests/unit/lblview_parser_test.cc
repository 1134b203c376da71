// The label stream parser: pages are read back exactly as the filter wrote
// them, every fault is named by page, command and byte offset, and cut,
// corrupted or random streams are never read (nor examined or drawn) out of
// bounds, nor accepted unless they are byte for byte what the filter writes.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/page_report.h"
#include "tools/lblview/picture.h"
#include "tools/lblview/stream_parser.h"

namespace {

using lblview_test::as_bytes;
using lblview_test::page_stream;
using lblview_test::page_values;
using lblview_test::parsed;
using lblview_test::pattern_payload;

// The worked example of the command stream: 100 x 150 mm, speed 4, density 8,
// a 16-dot by 24-row page. Its commands start at these offsets.
constexpr size_t kSpeedAt = 35, kDensityAt = 44, kReferenceAt = 70, kPeelAt = 108, kClsAt = 175,
                 kBitmapAt = 180, kPayloadAt = 198, kPayloadEnd = 246, kPrintAt = 248,
                 kPageBytes = 259;

std::string example() { return page_stream(page_values{}, pattern_payload(page_values{})); }

const char* const kCommands[] = {
    "SIZE",   "GAP",    "SPEED",    "DENSITY",    "DIRECTION",          "REFERENCE",
    "OFFSET", "SHIFT",  "SET PEEL", "SET CUTTER", "SET PARTIAL_CUTTER", "SET TEAR",
    "CLS",    "BITMAP", "PRINT"};

// What must hold for any input: the pages read are numbered in order, follow
// one another from the first byte, hold their payload where they say, are
// byte for byte what the filter writes for the values read, and can be
// examined and drawn; a fault has the next page's number, an offset past
// those pages and inside the input, a known command and a message.
void check_any(const std::string& input, bool* accepted = nullptr) {
  const parsed r(input);
  if (accepted != nullptr) *accepted = r.ok;
  size_t end = 0;
  for (size_t i = 0; i < r.pages.size(); ++i) {
    const lblview::page& p = r.pages[i];
    ASSERT_EQ(p.number, static_cast<int>(i) + 1);
    ASSERT_EQ(p.offset, end);
    ASSERT_EQ(p.payload.data(), as_bytes(r.stream).data() + p.payload_offset);
    const std::string payload(p.payload.begin(), p.payload.end());
    ASSERT_EQ(page_stream(lblview_test::values_of(p), payload), input.substr(p.offset, p.length));
    end += p.length;
    // Whatever its numbers, a page read can be examined and drawn.
    EXPECT_EQ(lblview::examine(p, 203).dots, uint64_t{8} * p.payload.size());
    lblview::picture pic;
    std::string error;
    EXPECT_TRUE(lblview::draw_page(p, lblview::picture_kind::bitmap, 203, &pic, &error)) << error;
    (void)lblview::draw_page(p, lblview::picture_kind::label, 25, &pic, &error);
  }
  if (r.ok) {
    ASSERT_EQ(end, input.size());
    return;
  }
  EXPECT_EQ(r.error.page, static_cast<int>(r.pages.size()) + 1);
  EXPECT_GE(r.error.offset, end);
  EXPECT_LE(r.error.offset, input.size());
  EXPECT_FALSE(r.error.message.empty());
  bool known = false;
  for (const char* command : kCommands) known = known || r.error.command == command;
  EXPECT_TRUE(known) << r.error.command;
}

// Values at the edges of what the filter can write, each read back.
struct value_case {
  const char* name;
  page_values values;
};

const value_case kValueCases[] = {
    {"worked_example", {}},
    {"copies_0", {.copies = 0}},
    {"copies_int_max", {.copies = 2147483647}},
    {"copies_int_min", {.copies = -2147483647 - 1}},
    {"negative_reference", {.reference_x = -12, .reference_y = -7}},
    {"setting_min", {.width_mm = -32768, .speed = -32768, .bitmap_y = -32768}},
    {"setting_max", {.height_mm = 32767, .density = 32767, .bitmap_x = 32767}},
    {"one_dot", {.bytes_per_row = 1, .rows = 1}},
    {"wide_row", {.bytes_per_row = 1041, .rows = 3}},
};

TEST(LblviewParser, ReadsBackEveryValueTheFilterCanWrite) {
  for (const value_case& c : kValueCases) {
    SCOPED_TRACE(c.name);
    bool accepted = false;
    check_any(page_stream(c.values, pattern_payload(c.values)), &accepted);
    EXPECT_TRUE(accepted);
  }
}

// A fault: the example with `find` replaced by `replace` (or cut to `cut`
// bytes), and where and how it must be reported.
struct fault_case {
  const char* name;
  std::string find, replace;
  size_t cut;  // 0: keep the whole stream
  const char* command;
  size_t offset;
  const char* message;
};

const fault_case kFaults[] = {
    {"bare_lf", "SPEED 4\r\n", "SPEED 4\n", 0, "SPEED", kSpeedAt + 7,
     R"(expected "\r\n", found "\n")"},
    {"lines_swapped", "SPEED 4\r\nDENSITY 8\r\n", "DENSITY 8\r\nSPEED 4\r\n", 0, "SPEED", kSpeedAt,
     "found the DENSITY command where SPEED belongs"},
    {"leading_zero", "SPEED 4", "SPEED 04", 0, "SPEED", kSpeedAt + 6,
     R"(number "04" has a leading zero)"},
    {"minus_zero", "REFERENCE 0,0", "REFERENCE -0,0", 0, "REFERENCE", kReferenceAt + 10,
     R"(number "-0" has a minus sign on zero)"},
    {"plus_sign", "DENSITY 8", "DENSITY +8", 0, "DENSITY", kDensityAt + 8,
     R"(expected a number, found "+8\r\n")"},
    {"size_without_unit", "100mm", "100", 0, "SIZE", 8, R"(expected "mm,", found ",150mm\r\n")"},
    {"size_too_wide", "SIZE 100mm", "SIZE 40000mm", 0, "SIZE", 5,
     "number 40000 is outside the printer's range -32768 to 32767"},
    {"position_too_far", "BITMAP 0,", "BITMAP -40000,", 0, "BITMAP", kBitmapAt + 7,
     "number -40000 is outside the printer's range -32768 to 32767"},
    {"endless_number", "SPEED 4", "SPEED 4" + std::string(40, '7'), 0, "SPEED", kSpeedAt + 6,
     R"(number "4777777777777777..." does not fit in an int)"},
    {"copies_overflow", "PRINT 1,1", "PRINT 1,2147483648", 0, "PRINT", kPrintAt + 8,
     R"(number "2147483648" does not fit in an int)"},
    {"peel_on", "SET PEEL OFF", "SET PEEL ON", 0, "SET PEEL", kPeelAt + 10,
     R"(expected "FF\r\n", found "N\r\n")"},
    {"lower_case", "CLS", "cls", 0, "CLS", kClsAt, R"(expected "CLS\r\n", found "cls\r\n")"},
    {"bitmap_mode", ",24,1,", ",24,0,", 0, "BITMAP", kBitmapAt + 16, R"(expected "1,", found "0,)"},
    {"zero_bytes_per_row", "BITMAP 0,0,2,", "BITMAP 0,0,0,", 0, "BITMAP", kBitmapAt + 11,
     "bytes per row must be at least 1, not 0"},
    {"zero_rows", ",2,24,1,", ",2,0,1,", 0, "BITMAP", kBitmapAt + 13,
     "rows must be at least 1, not 0"},
    {"header_too_long", "BITMAP 0,0,2,24,", "BITMAP -32768,-32768,99999,9999,", 0, "BITMAP",
     kBitmapAt, "BITMAP header is 34 characters; the filter's holds at most 31"},
    // The payload's length comes from the header alone: with a row fewer,
    // payload bytes stand where the CR LF belongs.
    {"payload_longer_than_header", ",2,24,1,", ",2,23,1,", 0, "BITMAP", kPayloadAt + 46,
     R"(expected CR LF after the 46-byte payload, found "\xb1\xd6\r\n")"},
    {"payload_short", "", "", kPayloadAt + 20, "BITMAP", kPayloadAt,
     "payload of 48 bytes (2 x 24) runs past the end of the stream: 20 bytes remain"},
    {"ends_in_size", "", "", 3, "SIZE", 3, "the stream ends inside the SIZE command"},
    {"ends_after_payload", "", "", kPayloadEnd, "BITMAP", kPayloadEnd,
     "expected CR LF after the 48-byte payload, found the end of the stream"},
    {"binary_at_start", "SIZE", std::string("\0\xff", 2) + "SIZE", 0, "SIZE", 0,
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

// On page 3, so that page numbers and offsets count from the stream's start.
TEST_P(LblviewParserFaults, NamesPageCommandAndOffset) {
  const fault_case& c = GetParam();
  const parsed r(example() + example() + faulty(c));
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error.page, 3);
  EXPECT_EQ(r.error.command, c.command);
  EXPECT_EQ(r.error.offset, c.offset + 2 * kPageBytes);
  EXPECT_EQ(r.error.message.substr(0, std::string(c.message).size()), c.message) << r.error.message;
  EXPECT_EQ(r.pages.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, LblviewParserFaults, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewParser, TrailingBytesAreANewPageThatIsNotOne) {
  const parsed r(example() + "\r\n");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(lblview::describe(r.error),
            R"(page 2, SIZE, byte 259: expected "SIZE ", found "\r\n")");
}

TEST(LblviewParser, EscapesBytesForMessages) {
  const std::pair<std::string, const char*> kCases[] = {
      {"PRINT 1,1\r\n", R"(PRINT 1,1\r\n)"},
      {"say \"hi\"\\", R"(say \"hi\"\\)"},
      {std::string("\0\x7f\x80\xff\t", 5), R"(\x00\x7f\x80\xff\x09)"},
  };
  for (const auto& [bytes, shown] : kCases)
    EXPECT_EQ(lblview::escape_bytes(as_bytes(bytes)), shown);
}

// Two small pages with different values, so that a cut or a corruption lands
// in every command of a page, and in a later page too.
std::string two_pages() {
  return page_stream({.bitmap_x = -7, .bytes_per_row = 3, .rows = 4}, std::string(12, '\x5a')) +
         page_stream({.width_mm = 60, .height_mm = 40, .bytes_per_row = 1, .rows = 2, .copies = 12},
                     std::string("\x00\xff", 2));
}

TEST(LblviewFuzz, EveryTruncationIsNamedUnlessItEndsAPage) {
  const std::string stream = two_pages();
  const parsed whole(stream);
  ASSERT_TRUE(whole.ok);
  ASSERT_EQ(whole.pages.size(), 2u);
  const size_t first_end = whole.pages[0].length;

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const parsed r(stream.substr(0, cut));
    ASSERT_EQ(r.ok, cut == 0 || cut == first_end || cut == stream.size())
        << lblview::describe(r.error);
    // A cut stream is wrong where it ends, or where the payload it announces
    // would run past that end.
    if (!r.ok && r.error.message.find("runs past the end") == std::string::npos) {
      EXPECT_EQ(r.error.offset, cut) << lblview::describe(r.error);
    }
    check_any(r.stream);
  }
}

// One random change of a few bytes: a flipped bit, a byte replaced, inserted
// or removed, or a digit or sign put somewhere.
std::string corrupt(const std::string& stream, std::mt19937& rng) {
  std::string out = stream;
  const int changes = 1 + static_cast<int>(rng() % 3);
  for (int i = 0; i < changes && !out.empty(); ++i) {
    const size_t at = rng() % out.size();
    switch (rng() % 5) {
      case 0:
        out[at] = static_cast<char>(out[at] ^ (1 << (rng() % 8)));
        break;
      case 1:
        out[at] = static_cast<char>(rng());
        break;
      case 2:
        out.insert(at, 1, "0123456789-,\r\n "[rng() % 15]);
        break;
      case 3:
        out.erase(at, 1 + rng() % 4);
        break;
      default:
        out[at] = "0123456789-"[rng() % 11];
        break;
    }
  }
  return out;
}

TEST(LblviewFuzz, CorruptedStreamsAreAcceptedOnlyAsTheFilterWouldWriteThem) {
  const std::string stream = two_pages();
  std::mt19937 rng(20240611);
  int rejected = 0;
  constexpr int kRounds = 5000;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    bool accepted = false;
    check_any(corrupt(stream, rng), &accepted);
    if (HasFatalFailure()) return;
    rejected += accepted ? 0 : 1;
  }
  // Most changes hit the text; a few only change a payload bit or a number
  // into another well-formed number, which stays valid.
  EXPECT_GT(rejected, kRounds / 2);
}

TEST(LblviewFuzz, RandomBytesAreRejectedAtTheFirstByteThatIsWrong) {
  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    std::string input(1 + rng() % 64, '\0');
    for (char& c : input) c = static_cast<char>(rng());
    SCOPED_TRACE("round " + std::to_string(round));
    check_any(input);
  }
}

}  // namespace

// Truncated and corrupted label streams: the parser never reads out of
// bounds, always names a fault it finds, and accepts only streams that are
// byte for byte what the filter writes for the values it read back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/stream_parser.h"

namespace {

using lblview_test::as_bytes;
using lblview_test::page_stream;
using lblview_test::page_values;

// Two small pages with different values, so that a cut or a corruption lands
// in every command of a page, and in a later page too.
std::string two_pages() {
  page_values first;
  first.bytes_per_row = 3;
  first.rows = 4;
  first.bitmap_x = -7;
  page_values second;
  second.width_mm = 60;
  second.height_mm = 40;
  second.bytes_per_row = 1;
  second.rows = 2;
  second.copies = 12;
  return page_stream(first, std::string(12, '\x5a')) +
         page_stream(second, std::string("\x00\xff", 2));
}

// Writes the page again from the values the parser read.
std::string rewrite(const lblview::page& p) {
  page_values v;
  v.width_mm = p.width_mm;
  v.height_mm = p.height_mm;
  v.speed = p.speed;
  v.density = p.density;
  v.reference_x = p.reference_x;
  v.reference_y = p.reference_y;
  v.bitmap_x = p.bitmap_x;
  v.bitmap_y = p.bitmap_y;
  v.bytes_per_row = p.bytes_per_row;
  v.rows = p.rows;
  v.copies = p.copies;
  return page_stream(v, std::string(p.payload.begin(), p.payload.end()));
}

const char* const kCommands[] = {
    "SIZE",   "GAP",    "SPEED",    "DENSITY",    "DIRECTION",          "REFERENCE",
    "OFFSET", "SHIFT",  "SET PEEL", "SET CUTTER", "SET PARTIAL_CUTTER", "SET TEAR",
    "CLS",    "BITMAP", "PRINT"};

// What must hold for any input: accepted pages are exactly the filter's
// bytes, and a fault has a page, a known command, an offset inside the input
// and a message.
void check_any(const std::string& input) {
  std::vector<lblview::page> pages;
  lblview::parse_error error;
  const bool ok = lblview::parse_stream(as_bytes(input), &pages, &error);
  size_t end = 0;
  for (const lblview::page& p : pages) {
    ASSERT_EQ(p.offset, end);
    ASSERT_EQ(rewrite(p), input.substr(p.offset, p.length));
    end += p.length;
  }
  if (ok) {
    ASSERT_EQ(end, input.size());
    return;
  }
  EXPECT_EQ(error.page, static_cast<int>(pages.size()) + 1);
  EXPECT_GE(error.offset, end);
  EXPECT_LE(error.offset, input.size());
  EXPECT_FALSE(error.message.empty());
  bool known = false;
  for (const char* command : kCommands) known = known || error.command == command;
  EXPECT_TRUE(known) << error.command;
}

TEST(LblviewFuzz, EveryTruncationIsNamedUnlessItEndsAPage) {
  const std::string stream = two_pages();
  std::vector<lblview::page> whole;
  lblview::parse_error error;
  ASSERT_TRUE(lblview::parse_stream(as_bytes(stream), &whole, &error));
  ASSERT_EQ(whole.size(), 2u);
  const size_t first_end = whole[0].length;

  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string input = stream.substr(0, cut);
    std::vector<lblview::page> pages;
    const bool ok = lblview::parse_stream(as_bytes(input), &pages, &error);
    const bool at_page_end = cut == 0 || cut == first_end || cut == stream.size();
    ASSERT_EQ(ok, at_page_end) << lblview::describe(error);
    if (!ok) {
      EXPECT_EQ(error.page, cut < first_end ? 1 : 2);
      // A cut stream is wrong where it ends, or where the payload it
      // announces would run past that end.
      const bool in_payload_or_after =
          error.command == "BITMAP" && error.message.find("runs past the end") != std::string::npos;
      if (!in_payload_or_after) {
        EXPECT_EQ(error.offset, cut) << lblview::describe(error);
      }
    }
    check_any(input);
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
    const std::string input = corrupt(stream, rng);
    SCOPED_TRACE("round " + std::to_string(round));
    check_any(input);
    if (HasFatalFailure()) return;
    std::vector<lblview::page> pages;
    lblview::parse_error error;
    if (!lblview::parse_stream(as_bytes(input), &pages, &error)) ++rejected;
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

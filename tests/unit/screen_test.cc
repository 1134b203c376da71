// Screening, compared with tests/unit/screen_modes.golden (LBL_UPDATE_GOLDEN=1
// rewrites it): every mode on small pages whose widths take the 32-dot,
// 16-dot and single-byte paths, shown bit for bit, and on a page holding every
// gray level at every position of the 16 x 16 pattern, as a checksum. The
// destination arrives with bits set that must stay set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/render.h"
#include "render/stream_parser.h"

namespace {

std::vector<uint8_t> screen(int mode, int bytes_per_row, int rows, bool every_level) {
  const size_t width = size_t(bytes_per_row) * 8;
  std::vector<uint8_t> gray(width * rows);
  for (size_t i = 0; i < gray.size(); ++i)
    gray[i] = static_cast<uint8_t>(every_level ? i % width / 16 : i * 7 + i / 41);
  std::vector<uint8_t> bits(size_t(bytes_per_row) * rows, 0);
  for (size_t i = 0; i < bits.size(); i += 11) bits[i] = 0x01;
  Gray2Bytes(gray.data(), bits.data(), bytes_per_row, rows, mode);
  return bits;
}

std::string screened(int mode, int bytes_per_row, int rows) {
  const std::vector<uint8_t> bits = screen(mode, bytes_per_row, rows, false);
  std::string text = "mode " + std::to_string(mode) + ", " + std::to_string(bytes_per_row) +
                     " bytes x " + std::to_string(rows) + " rows";
  for (size_t i = 0; i < bits.size(); ++i) {
    char cell[8];
    std::snprintf(cell, sizeof cell, "%s%02x", i % size_t(bytes_per_row) ? " " : "\n", bits[i]);
    text += cell;
  }
  return text + "\n";
}

// FNV-1a of the bits of a 4096 x 16 page whose dot x is gray x / 16.
std::string every_level_checksum(int mode) {
  uint64_t hash = 14695981039346656037u;
  for (const uint8_t byte : screen(mode, 512, 16, true)) hash = (hash ^ byte) * 1099511628211u;
  return "mode " + std::to_string(mode) + ", every level: " + std::to_string(hash) + "\n";
}

TEST(Screen, EveryModeMatchesTheGoldenBits) {
  std::string all;
  for (int mode : {0, 1, 2, 3, 4, 5, -1})
    all += screened(mode, 5, 17) + screened(mode, 13, 3) + every_level_checksum(mode);
  all += screened(0, 0, 3) + screened(2, 3, 0);  // nothing to screen
  const std::string path = std::string(LBL_TEST_SOURCE_DIR) + "/unit/screen_modes.golden";
  if (std::getenv("LBL_UPDATE_GOLDEN") != nullptr) std::ofstream(path) << all;
  std::stringstream golden;
  golden << std::ifstream(path).rdbuf();
  EXPECT_EQ(golden.str(), all);
}

// Tone: on a ramp through all 256 gray levels, 4 dots a level at 203 dpi, the
// share of printed dots in each band of 16 levels stays within 3 percentage
// points of the band's darkness: all of it below `black`, none from `white`
// on, linear between. Auto keeps the bands beyond them solid and blank.
TEST(Screen, DithersKeepTheToneOfAGrayRamp) {
  constexpr uint32_t kDots = 1024, kRows = 256;
  std::vector<uint8_t> ramp(kDots);
  for (uint32_t x = 0; x < kDots; ++x) ramp[x] = static_cast<uint8_t>(x / 4);
  struct tone_case {
    int16_t dither;
    double black, white;
  };
  constexpr tone_case kTones[] = {{kDitherOrdered8, 0, 255},
                                  {kDitherOrdered16, 0, 255},
                                  {kDitherDiffusion, 0, 255},
                                  {kDitherAuto, 40, 216}};
  for (const auto [dither, black, white] : kTones) {
    pstops_doc doc{};
    doc.dither = dither;
    label_page page;
    memory_output out;
    ASSERT_EQ(page.start(doc, kDots, kRows, 1), page_problem::kNone);
    page.add_rows(ramp.data(), 0, kRows);
    ASSERT_TRUE(page.write(out));
    std::vector<label_stream::page> pages;
    label_stream::parse_error error;
    ASSERT_TRUE(label_stream::parse_stream(
        {reinterpret_cast<const uint8_t*>(out.bytes.data()), out.bytes.size()}, &pages, &error));
    for (uint32_t band = 0; band < 16; ++band) {
      int printed = 0;
      for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = band * 64; x < band * 64 + 64; ++x)
          printed += (pages[0].payload[y * kDots / 8 + x / 8] >> (7 - x % 8) & 1) == 0;
      const double darkness = std::clamp((white - (band * 16 + 7.5)) / (white - black), 0.0, 1.0);
      EXPECT_NEAR(printed / (64.0 * kRows), darkness, 0.03)
          << "dither " << dither << ", band " << band;
      if (dither == kDitherAuto && (band < 2 || band > 13)) {
        EXPECT_EQ(printed, band < 2 ? int{64 * kRows} : 0) << "auto, band " << band;
      }
    }
  }
}

}  // namespace

// A choice beyond the command table is refused before anything is taken.
TEST(LabelPage, RefusesSettingsThePrinterDoesNotKnow) {
  struct setting_case {
    int16_t pstops_doc::*field;
    int16_t value;
    page_problem want;
  };
  constexpr setting_case kCases[] = {
      {&pstops_doc::mediaType, 2, page_problem::kNone},
      {&pstops_doc::mediaType, 3, page_problem::kUnknownSetting},
      {&pstops_doc::labelMode, 3, page_problem::kNone},
      {&pstops_doc::labelMode, 4, page_problem::kUnknownSetting},
      {&pstops_doc::printDirection, -1, page_problem::kUnknownSetting},
      {&pstops_doc::printDirection, 2, page_problem::kUnknownSetting},
      {&pstops_doc::dither, 5, page_problem::kNone},
      {&pstops_doc::dither, 6, page_problem::kUnknownSetting},
      {&pstops_doc::dither, -1, page_problem::kUnknownSetting},
  };
  for (const setting_case& c : kCases) {
    pstops_doc doc{};
    doc.*c.field = c.value;
    label_page page;
    EXPECT_EQ(page.start(doc, 8, 1, 1), c.want) << c.value;
  }
}

// Screening: every mode against the plain per-dot rule, the threshold
// matrices as the printer's dithers define them, and the bit layout.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "render/render.h"

namespace {

using matrix = std::vector<std::vector<int>>;

// The n x n Bayer index matrix, built from its doubling rule.
matrix bayer(int n) {
  if (n == 1) return {{0}};
  const matrix half = bayer(n / 2);
  matrix m(n, std::vector<int>(n));
  const int h = n / 2;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < h; ++c) {
      m[r][c] = 4 * half[r][c];
      m[r][c + h] = 4 * half[r][c] + 2;
      m[r + h][c] = 4 * half[r][c] + 3;
      m[r + h][c + h] = 4 * half[r][c] + 1;
    }
  return m;
}

matrix bayer8_thresholds() {
  const matrix b = bayer(8);
  matrix t(8, std::vector<int>(8));
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) t[r][c] = b[c][r];
  t[0][0] = 1;
  return t;
}

const matrix kClustered = {
    {24, 10, 12, 26, 35, 47, 49, 37}, {8, 0, 2, 14, 45, 59, 61, 51},
    {22, 6, 4, 16, 43, 57, 63, 53},   {30, 20, 18, 28, 33, 41, 55, 39},
    {34, 46, 48, 36, 25, 11, 13, 27}, {44, 58, 60, 50, 9, 1, 3, 15},
    {42, 56, 62, 52, 23, 7, 5, 17},   {32, 40, 54, 38, 31, 21, 19, 29},
};

matrix bayer16_thresholds() {
  matrix t = bayer(16);
  t[15][0] = 254;
  return t;
}

// The per-dot rule, one dot at a time, as plainly as it can be written.
bool dark(int mode, int g, int x, int y) {
  static const matrix t2 = bayer8_thresholds();
  static const matrix t4 = bayer16_thresholds();
  switch (mode) {
    case 0:
      return g < 129;
    case 2:
      return (g >> 2) < t2[y % 8][x % 8];
    case 3:
      return (g >> 2) < kClustered[y % 8][x % 8];
    case 4:
      return g < t4[x % 16][y % 16];
    default:
      return g < 127;
  }
}

std::vector<uint8_t> reference_screen(const std::vector<uint8_t>& gray, int bytes_per_row, int rows,
                                      int mode) {
  std::vector<uint8_t> bits(size_t(bytes_per_row) * rows, 0);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < bytes_per_row * 8; ++x)
      if (dark(mode, gray[size_t(y) * bytes_per_row * 8 + x], x, y))
        bits[size_t(y) * bytes_per_row + x / 8] |= uint8_t(0x80 >> (x % 8));
  return bits;
}

std::vector<uint8_t> screen(const std::vector<uint8_t>& gray, int bytes_per_row, int rows,
                            int mode) {
  std::vector<uint8_t> bits(size_t(bytes_per_row) * rows, 0);
  Gray2Bytes(gray.data(), bits.data(), bytes_per_row, rows, mode);
  return bits;
}

constexpr int kAllModes[] = {0, 1, 2, 3, 4, 5, 7, -1, 255};

TEST(Screen, FastPathMatchesPerDotRuleOnRandomPages) {
  std::mt19937 rng(20261206);
  const int widths[] = {1, 2, 3, 5, 9, 16, 17, 33, 100};
  for (int mode : kAllModes)
    for (int bytes_per_row : widths) {
      const int rows = 1 + int(rng() % 37);
      std::vector<uint8_t> gray(size_t(bytes_per_row) * 8 * rows);
      for (uint8_t& g : gray) g = uint8_t(rng());
      EXPECT_EQ(screen(gray, bytes_per_row, rows, mode),
                reference_screen(gray, bytes_per_row, rows, mode))
          << "mode " << mode << ", " << bytes_per_row << " bytes per row, " << rows << " rows";
    }
}

// A dot's threshold is the number of gray levels at which it prints: fill a
// page with each level in turn and count.
matrix measured_thresholds(int mode, int size) {
  const int bytes_per_row = size / 8;
  matrix count(size, std::vector<int>(size, 0));
  for (int g = 0; g < 256; ++g) {
    const std::vector<uint8_t> gray(size_t(size) * size, uint8_t(g));
    const std::vector<uint8_t> bits = screen(gray, bytes_per_row, size, mode);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        if (bits[size_t(y) * bytes_per_row + x / 8] & (0x80 >> (x % 8))) ++count[y][x];
  }
  return count;
}

TEST(Screen, Bayer8MatchesTransposedMatrixWithRaisedCorner) {
  const matrix levels = measured_thresholds(2, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(levels[y][x] % 4, 0);
  const std::array<int, 8> row0 = {1, 48, 12, 60, 3, 51, 15, 63};
  const std::array<int, 8> col0 = {1, 32, 8, 40, 2, 34, 10, 42};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(levels[0][i] / 4, row0[i]) << "column " << i;
    EXPECT_EQ(levels[i][0] / 4, col0[i]) << "row " << i;
  }
  const matrix expected = bayer8_thresholds();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(levels[y][x] / 4, expected[y % 8][x % 8]);
}

TEST(Screen, ClusteredDotMatrixAsTabled) {
  const matrix levels = measured_thresholds(3, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(levels[y][x], 4 * kClustered[y][x]) << x << "," << y;
}

TEST(Screen, Bayer16RowsFollowDotColumns) {
  const matrix levels = measured_thresholds(4, 16);
  // Along the first dot row the thresholds walk down the matrix's first column.
  const std::array<int, 4> along_row = {0, 192, 48, 240};
  const std::array<int, 4> down_column = {0, 128, 32, 160};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(levels[0][i], along_row[i]);
    EXPECT_EQ(levels[i][0], down_column[i]);
  }
  const matrix expected = bayer16_thresholds();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(levels[y][x], expected[x][y]) << x << "," << y;
}

struct tile_case {
  int mode;
  int gray;
  int tile;  // dots per tile side
  int dark_dots;
};

constexpr tile_case kTiles[] = {
    {2, 0, 8, 64},   {2, 3, 8, 64},   {2, 4, 8, 62},   {2, 252, 8, 0},  {2, 255, 8, 0},
    {3, 0, 8, 63},   {3, 252, 8, 0},  {4, 0, 16, 255}, {4, 253, 16, 2}, {4, 254, 16, 0},
    {4, 255, 16, 0}, {0, 128, 8, 64}, {0, 129, 8, 0},  {1, 126, 8, 64}, {1, 127, 8, 0},
    {7, 126, 8, 64}, {-3, 127, 8, 0},
};

int count_dark(const std::vector<uint8_t>& bits) {
  int n = 0;
  for (uint8_t b : bits) n += __builtin_popcount(b);
  return n;
}

TEST(Screen, DarkDotsPerTileAtBoundaryGrays) {
  for (const tile_case& c : kTiles) {
    const std::vector<uint8_t> gray(size_t(c.tile) * c.tile, uint8_t(c.gray));
    EXPECT_EQ(count_dark(screen(gray, c.tile / 8, c.tile, c.mode)), c.dark_dots)
        << "mode " << c.mode << " gray " << c.gray;
  }
}

TEST(Screen, DotsThatNeverPrintAtSolidBlack) {
  const std::vector<uint8_t> black3(64, 0);
  EXPECT_EQ(screen(black3, 1, 8, 3)[1], 0xBF);  // x=1, y=1 stays blank
  const std::vector<uint8_t> black4(256, 0);
  EXPECT_EQ(screen(black4, 2, 16, 4)[0], 0x7F);  // x=0, y=0 stays blank
  const std::vector<uint8_t> gray253(256, 253);
  const std::vector<uint8_t> bits = screen(gray253, 2, 16, 4);
  EXPECT_EQ(bits[0 * 2 + 1], 0x01);  // (15, 0)
  EXPECT_EQ(bits[8 * 2 + 0], 0x01);  // (7, 8)
}

TEST(Screen, LeftmostDotIsMostSignificantBit) {
  std::vector<uint8_t> gray(8, 255);
  gray[0] = 0;
  EXPECT_EQ(screen(gray, 1, 1, 0)[0], 0x80);
  gray[0] = 255;
  gray[7] = 0;
  EXPECT_EQ(screen(gray, 1, 1, 0)[0], 0x01);
}

TEST(Screen, OnlySetsBits) {
  const std::vector<uint8_t> white(16 * 3, 255);
  std::vector<uint8_t> bits = {0x81, 0x42, 0x00, 0xFF, 0x10, 0x01};
  const std::vector<uint8_t> before = bits;
  Gray2Bytes(white.data(), bits.data(), 2, 3, 0);
  EXPECT_EQ(bits, before);
  const std::vector<uint8_t> black(16 * 3, 0);
  Gray2Bytes(black.data(), bits.data(), 2, 3, 0);
  EXPECT_EQ(bits, std::vector<uint8_t>(6, 0xFF));
}

TEST(Screen, EmptyPageTouchesNothing) {
  uint8_t bits[2] = {0x5A, 0xA5};
  const uint8_t gray[16] = {};
  Gray2Bytes(gray, bits, 0, 2, 0);
  Gray2Bytes(gray, bits, 2, 0, 0);
  EXPECT_EQ(bits[0], 0x5A);
  EXPECT_EQ(bits[1], 0xA5);
}

}  // namespace

// Screening: turns 8-bit gray dots into packed one-bit dots for the print head.
// Every ordered mode reduces to "dark where gray < threshold(x, y)" with a
// threshold pattern that repeats every 16 dots along a row, so one kernel
// serves all; error diffusion, for photographs, goes dot by dot.
#include "render/screen.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "log/log.h"
#include "render/label_stream.h"
#include "render/render.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

using matrix8 = std::array<std::array<uint8_t, 8>, 8>;
using matrix16 = std::array<std::array<uint8_t, 16>, 16>;

// Entry (r, c) of the n x n Bayer index matrix: each doubling places four
// copies of the smaller matrix, times 4, plus 0, 2, 3, 1 by quadrant.
constexpr int bayer_index(int n, int r, int c) {
  if (n == 1) return 0;
  const int half = n / 2;
  constexpr int kQuadrantAdd[4] = {0, 2, 3, 1};
  const int quadrant = (r >= half ? 2 : 0) + (c >= half ? 1 : 0);
  return 4 * bayer_index(half, r % half, c % half) + kQuadrantAdd[quadrant];
}

// An n x n Bayer matrix, transposed or not, with one entry changed.
template <size_t N>
constexpr std::array<std::array<uint8_t, N>, N> make_bayer(bool transposed, size_t row,
                                                           size_t column, uint8_t value) {
  std::array<std::array<uint8_t, N>, N> m{};
  for (int r = 0; r < int(N); ++r)
    for (int c = 0; c < int(N); ++c)
      m[r][c] = static_cast<uint8_t>(transposed ? bayer_index(N, c, r) : bayer_index(N, r, c));
  m[row][column] = value;
  return m;
}

// The printer's two ordered dithers, as it has always had them: the 8x8 one
// is the transposed matrix with its corner 0 raised to 1 (so gray 0 to 3
// prints every dot), the 16x16 one has its 255 lowered to 254.
constexpr matrix8 kBayer8 = make_bayer<8>(true, 0, 0, 1);
constexpr matrix16 kBayer16 = make_bayer<16>(false, 15, 0, 254);

// Clustered dots grow from two centres per tile, like a newspaper screen.
constexpr matrix8 kClustered8 = {{
    {24, 10, 12, 26, 35, 47, 49, 37},
    {8, 0, 2, 14, 45, 59, 61, 51},
    {22, 6, 4, 16, 43, 57, 63, 53},
    {30, 20, 18, 28, 33, 41, 55, 39},
    {34, 46, 48, 36, 25, 11, 13, 27},
    {44, 58, 60, 50, 9, 1, 3, 15},
    {42, 56, 62, 52, 23, 7, 5, 17},
    {32, 40, 54, 38, 31, 21, 19, 29},
}};

// Automatic screening: gray below kSharpBlack always prints and gray from
// kSharpWhite on never does, so bars, text and their slightly soft edges
// stay solid and sharp as under the threshold; the tones between are
// spread over the 16x16 ordered dither, so a photo keeps its shades.
constexpr int kSharpBlack = 40, kSharpWhite = 216;
constexpr matrix16 kAutoThresholds = [] {
  matrix16 m{};
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c)
      m[r][c] = static_cast<uint8_t>(kSharpBlack +
                                     bayer_index(16, r, c) * (kSharpWhite - kSharpBlack) / 256);
  return m;
}();

// Gray2Bytes' "any other mode": not a choice of the settings.
constexpr int16_t kDarkThreshold = -1;

// Gray2Bytes' modes, as the filter has always numbered them, onto the
// screenings (render.h).
int16_t dither_for_mode(int mode) {
  switch (mode) {
    case 0:
      return kDitherThreshold;
    case 2:
      return kDitherOrdered8;
    case 3:
      return kDitherClustered;
    case 4:
      return kDitherOrdered16;
    default:
      return kDarkThreshold;
  }
}

constexpr int kPatternDots = 16;
using threshold_row = std::array<uint8_t, kPatternDots>;

// Thresholds for dots 0..15 of row y: a dot is dark where gray < threshold.
// The 64-level matrices compare gray >> 2, and (g >> 2) < t is g < 4t.
threshold_row thresholds_for_row(int16_t dither, int y) {
  threshold_row row{};
  for (int x = 0; x < kPatternDots; ++x) {
    switch (dither) {
      case kDitherThreshold:
        row[x] = 129;
        break;
      case kDitherOrdered8:
        row[x] = static_cast<uint8_t>(4 * kBayer8[y % 8][x % 8]);
        break;
      case kDitherClustered:
        row[x] = static_cast<uint8_t>(4 * kClustered8[y % 8][x % 8]);
        break;
      case kDitherOrdered16:
        row[x] = kBayer16[x % 16][y % 16];  // the dot's column picks the matrix row
        break;
      case kDitherAuto:
        row[x] = kAutoThresholds[y % 16][x % 16];
        break;
      default:
        row[x] = 127;
        break;
    }
  }
  return row;
}

// Packs 8 dots starting at `gray` against thresholds starting at `thr`.
inline uint8_t pack8(const uint8_t* gray, const uint8_t* thr) {
  unsigned byte = 0;
  for (int i = 0; i < 8; ++i) byte |= (gray[i] < thr[i] ? 0x80u : 0u) >> i;
  return static_cast<uint8_t>(byte);
}

#if defined(__SSE2__)
// movemask numbers the bytes from the least significant bit; the printer wants
// the leftmost dot in the most significant bit.
constexpr std::array<uint8_t, 256> make_bit_reverse() {
  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int b = 0; b < 8; ++b) r |= ((v >> b) & 1) << (7 - b);
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kBitReverse = make_bit_reverse();

// 16 dots at a time: thresholds minus gray, saturated, is zero exactly where
// the dot is light. `byte` must be even so the thresholds start in phase.
void screen_row_sse2(const uint8_t* gray, uint8_t* bits, int byte, int bytes_per_row,
                     const threshold_row& thr) {
  const __m128i thresholds = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thr.data()));
  const __m128i zero = _mm_setzero_si128();
  for (; byte + 2 <= bytes_per_row; byte += 2) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + byte * 8));
    const __m128i light = _mm_cmpeq_epi8(_mm_subs_epu8(thresholds, g), zero);
    const unsigned dark = ~static_cast<unsigned>(_mm_movemask_epi8(light));
    bits[byte] |= kBitReverse[dark & 0xFF];
    bits[byte + 1] |= kBitReverse[(dark >> 8) & 0xFF];
  }
  if (byte < bytes_per_row) bits[byte] |= pack8(gray + byte * 8, thr.data());
}

void screen_row_baseline(const uint8_t* gray, uint8_t* bits, int bytes_per_row,
                         const threshold_row& thr) {
  screen_row_sse2(gray, bits, 0, bytes_per_row, thr);
}

// 32 dots at a time. Reversing each group of 8 gray bytes first makes
// movemask produce the packed bytes in the printer's bit order directly.
[[gnu::target("avx2")]] void screen_row_avx2(const uint8_t* gray, uint8_t* bits, int bytes_per_row,
                                             const threshold_row& thr) {
  const __m256i reverse_groups =
      _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                       15, 14, 13, 12, 11, 10, 9, 8);
  const __m256i thresholds = _mm256_shuffle_epi8(
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(thr.data()))),
      reverse_groups);
  const __m256i zero = _mm256_setzero_si256();
  int byte = 0;
  for (; byte + 4 <= bytes_per_row; byte += 4) {
    const __m256i g = _mm256_shuffle_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(gray + byte * 8)), reverse_groups);
    const __m256i light = _mm256_cmpeq_epi8(_mm256_subs_epu8(thresholds, g), zero);
    const uint32_t dark = ~static_cast<uint32_t>(_mm256_movemask_epi8(light));
    uint32_t packed;
    std::memcpy(&packed, bits + byte, sizeof packed);
    packed |= dark;
    std::memcpy(bits + byte, &packed, sizeof packed);
  }
  // The last few bytes, dot by dot: no call out of the AVX code.
  for (; byte < bytes_per_row; ++byte)
    bits[byte] |= pack8(gray + byte * 8, thr.data() + (byte & 1) * 8);
}

using screen_row_fn = void (*)(const uint8_t*, uint8_t*, int, const threshold_row&);

// Picked once: the widest vector unit this processor has.
screen_row_fn pick_screen_row() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? screen_row_avx2 : screen_row_baseline;
}
#else
void screen_row_portable(const uint8_t* gray, uint8_t* bits, int bytes_per_row,
                         const threshold_row& thr) {
  for (int byte = 0; byte < bytes_per_row; ++byte)
    bits[byte] |= pack8(gray + byte * 8, thr.data() + (byte & 1) * 8);
}

using screen_row_fn = void (*)(const uint8_t*, uint8_t*, int, const threshold_row&);
screen_row_fn pick_screen_row() { return screen_row_portable; }
#endif

const screen_row_fn kScreenRow = pick_screen_row();

}  // namespace

row_screen::row_screen(int16_t dither, uint32_t dots)
    : dots_(dots), diffusion_(dither == kDitherDiffusion), thresholds_{} {
  if (diffusion_) {
    error_.reset(new (std::nothrow) int32_t[size_t{dots} + 2]());
  } else {
    for (int y = 0; y < kPatternDots; ++y) thresholds_[y] = thresholds_for_row(dither, y);
  }
}

void row_screen::screen(const uint8_t* gray, uint8_t* bits, uint32_t y) {
  if (diffusion_) return diffuse(gray, bits, y);
  const threshold_row& thr = thresholds_[y % kPatternDots];
  // Whole groups of 32 dots go through the vector kernel, the few whole bytes
  // after them dot by dot, and a last byte that the row ends inside is padded
  // with blank label: no dot is read beyond the row.
  const uint32_t head_bytes = dots_ / 32 * 4;
  const uint32_t whole_bytes = dots_ / 8;
  kScreenRow(gray, bits, static_cast<int>(head_bytes), thr);
  for (uint32_t byte = head_bytes; byte < whole_bytes; ++byte)
    bits[byte] |= pack8(gray + static_cast<size_t>(byte) * 8, thr.data() + (byte & 1) * 8);
  if (dots_ % 8 != 0) {
    uint8_t last[8];
    std::memset(last, 255, sizeof last);
    std::memcpy(last, gray + static_cast<size_t>(whole_bytes) * 8, dots_ % 8);
    bits[whole_bytes] |= pack8(last, thr.data() + (whole_bytes & 1) * 8);
  }
}

// Floyd and Steinberg's weights in sixteenths, on a serpentine path: each dot
// passes its error to the next dot of its row (7) and to the three below it
// (3, 5, 1). One array holds the error for the row below as it is built: a
// slot is rewritten only once this row has read it. Error that would leave
// the page at its edges is dropped (the array's spare slots).
void row_screen::diffuse(const uint8_t* gray, uint8_t* bits, uint32_t y) {
  const ptrdiff_t step = y % 2 == 0 ? 1 : -1;
  int32_t* error = error_.get() + 1;
  int32_t right = 0;         // to the next dot of this row
  int32_t below_behind = 0;  // gathered for the slot below the previous dot
  int32_t below_ahead = 0;   // gathered for the slot below this dot
  for (uint32_t i = 0; i < dots_; ++i) {
    const ptrdiff_t x = step > 0 ? ptrdiff_t(i) : ptrdiff_t(dots_) - 1 - ptrdiff_t(i);
    const int32_t value = gray[x] + ((error[x] + right + 8) >> 4);
    const int32_t dark = value < 129;
    bits[x >> 3] |= static_cast<uint8_t>(dark << (7 - (x & 7)));
    const int32_t diff = value - (255 & (dark - 1));
    error[x - step] = below_behind + 3 * diff;
    below_behind = below_ahead + 5 * diff;
    below_ahead = diff;
    right = 7 * diff;
  }
  if (dots_ > 0) error[step > 0 ? ptrdiff_t(dots_) - 1 : 0] = below_behind;
  error[-1] = 0;
  error[dots_] = 0;
}

// These two lines are kept word for word, "11" too: support notes and users'
// scripts read a page's screening in the filter's log by them.
void log_screening_begins() { WriteLog("Gray2Bytes: Enter function\r\n"); }
void log_screening_ends() { WriteLog("Gray2Bytes: Exit function11\r\n"); }

void Gray2Bytes(const uint8_t* gray, uint8_t* bits, int bytes_per_row, int rows, int mode) {
  log_screening_begins();
  if (bytes_per_row > 0) {
    // Positions are 64-bit so that a page near the 2 GiB limit cannot wrap.
    const int64_t gray_stride = int64_t{bytes_per_row} * 8;
    row_screen page(dither_for_mode(mode), static_cast<uint32_t>(gray_stride));
    for (int y = 0; y < rows; ++y)
      page.screen(gray + y * gray_stride, bits + int64_t{y} * bytes_per_row,
                  static_cast<uint32_t>(y));
  }
  log_screening_ends();
}

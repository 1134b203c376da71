// Pictures of pages: the bare bitmap dot for dot, the label with the bitmap
// placed and cut at the edge, pictures too small or too large to draw, and the
// file names of a stream's pictures. Writing them as PNG is end-to-end tested.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/picture.h"

namespace {

using lblview::picture_kind;
using lblview_test::page_values;
using lblview_test::parsed;

// At 25 dpi a millimetre is one dot, so small labels draw small pictures.
constexpr int kOneDotPerMm = 25;

struct drawing_case {
  const char* name;
  picture_kind kind;
  page_values values;
  std::string payload;
  const char* expected;
};

void PrintTo(const drawing_case& c, std::ostream* os) { *os << c.name; }

const drawing_case kDrawings[] = {
    {"bitmap_dot_for_dot",
     picture_kind::bitmap,
     {.bytes_per_row = 1, .rows = 3},
     std::string("\x7f\xff\x00", 3),
     "#.......\n"
     "........\n"
     "########\n"},
    {"bitmap_ignores_label_and_position",
     picture_kind::bitmap,
     {.width_mm = 1,
      .height_mm = 1,
      .reference_x = 9,
      .reference_y = 9,
      .bitmap_x = -30,
      .bitmap_y = 40,
      .bytes_per_row = 2,
      .rows = 1},
     "\xf0\x0f",
     "....####"
     "####....\n"},
    {"label_outlined_bitmap_placed",
     picture_kind::label,
     {.width_mm = 10, .height_mm = 6, .bitmap_x = 1, .bitmap_y = 1, .bytes_per_row = 1, .rows = 2},
     std::string("\x00\x7e", 2),
     "oooooooooo\n"
     "o########o\n"
     "o#......#o\n"
     "o........o\n"
     "o........o\n"
     "oooooooooo\n"},
    {"label_printed_dots_cover_the_edge",
     picture_kind::label,
     {.width_mm = 4, .height_mm = 3, .bytes_per_row = 1, .rows = 3},
     std::string("\x7f\xff\xef", 3),
     "#ooo\n"
     "o..o\n"
     "ooo#\n"},
    {"label_reference_moves_origin",
     picture_kind::label,
     {.width_mm = 6,
      .height_mm = 4,
      .reference_x = 2,
      .reference_y = 1,
      .bitmap_x = -1,
      .bitmap_y = 1,
      .bytes_per_row = 1,
      .rows = 1},
     "\x3f",
     "oooooo\n"
     "o....o\n"
     "o##..o\n"
     "oooooo\n"},
    {"label_cuts_bitmap_at_edges",
     picture_kind::label,
     {.width_mm = 5, .height_mm = 4, .bitmap_x = -4, .bitmap_y = -1, .bytes_per_row = 2, .rows = 3},
     std::string(6, '\0'),
     "#####\n"
     "#####\n"
     "o...o\n"
     "ooooo\n"},
    {"label_bitmap_entirely_off",
     picture_kind::label,
     {.width_mm = 3, .height_mm = 3, .bitmap_x = 10, .bytes_per_row = 1, .rows = 1},
     std::string(1, '\0'),
     "ooo\n"
     "o.o\n"
     "ooo\n"},
};

class LblviewDrawing : public testing::TestWithParam<drawing_case> {};

TEST_P(LblviewDrawing, DrawsThePageDotForDot) {
  const drawing_case& c = GetParam();
  const parsed p(c.values, c.payload);
  lblview::picture pic;
  std::string error;
  ASSERT_TRUE(lblview::draw_page(p.page(), c.kind, kOneDotPerMm, &pic, &error)) << error;
  EXPECT_EQ(lblview_test::sketch(pic.width, pic.height, pic.pixels), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Pages, LblviewDrawing, testing::ValuesIn(kDrawings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewPicture, RefusesPicturesWithNothingToDrawOnOrTooLarge) {
  struct refusal_case {
    int width_mm, height_mm, dpi;
    const char* error;
  };
  const refusal_case kCases[] = {
      {0, 150, 203, "nothing to draw on: the picture would be 0 x 1200 pixels"},
      {10, -1, 203, "nothing to draw on: the picture would be 80 x -8 pixels"},
      {32767, 32767, 2400,
       "picture of 3080098 x 3080098 pixels exceeds the limit of 134217728 pixels"},
  };
  for (const refusal_case& c : kCases) {
    const parsed p({.width_mm = c.width_mm, .height_mm = c.height_mm}, std::string(48, '\xff'));
    lblview::picture pic;
    std::string error;
    EXPECT_FALSE(lblview::draw_page(p.page(), picture_kind::label, c.dpi, &pic, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(pic.pixels.empty());
  }
}

TEST(LblviewPicture, NumbersFilesOnlyForSeveralPages) {
  struct path_case {
    const char* path;
    int number, pages;
    const char* expected;
  };
  const path_case kCases[] = {
      {"out.png", 1, 1, "out.png"},       {"out.png", 1, 2, "out-1.png"},
      {"out.png", 12, 12, "out-12.png"},  {"dir/label", 2, 3, "dir/label-2"},
      {"a.png.d/x", 1, 2, "a.png.d/x-1"}, {".png", 1, 2, ".png-1"},
      {"shot.PNG", 3, 4, "shot.PNG-3"},
  };
  for (const path_case& c : kCases) {
    EXPECT_EQ(lblview::numbered_path(c.path, c.number, c.pages), c.expected) << c.path;
  }
}

}  // namespace

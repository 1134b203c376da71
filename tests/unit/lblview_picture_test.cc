// Pictures of pages: the bare bitmap dot for dot, the label with the bitmap
// placed and cut at the edge, and the PNG files they become.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/lblview_test_support.h"
#include "tools/lblview/picture.h"
#include "tools/lblview/stream_parser.h"

namespace {

using lblview_test::as_bytes;
using lblview_test::page_stream;
using lblview_test::page_values;
using lblview_test::sketch;

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

std::string sketch_of(const lblview::picture& pic) {
  return sketch(pic.width, pic.height, pic.pixels);
}

// At 25 dpi a millimetre is one dot, so small labels draw small pictures.
constexpr int kOneDotPerMm = 25;

struct drawing_case {
  const char* name;
  lblview::picture_kind kind;
  int width_mm, height_mm, reference_x, reference_y, bitmap_x, bitmap_y, bytes_per_row, rows;
  std::string payload;
  const char* expected;
};

void PrintTo(const drawing_case& c, std::ostream* os) { *os << c.name; }

using lblview::picture_kind;

const drawing_case kDrawings[] = {
    {"bitmap_dot_for_dot", picture_kind::bitmap, 100, 150, 0, 0, 0, 0, 1, 3,
     std::string("\x7f\xff\x00\x5a", 3),
     "#.......\n"
     "........\n"
     "########\n"},
    {"bitmap_ignores_label_and_position", picture_kind::bitmap, 1, 1, 9, 9, -30, 40, 2, 1,
     "\xf0\x0f",
     "....####"
     "####....\n"},
    {"label_outlined_bitmap_placed", picture_kind::label, 10, 6, 0, 0, 1, 1, 1, 2,
     std::string("\x00\x7e", 2),
     "oooooooooo\n"
     "o########o\n"
     "o#......#o\n"
     "o........o\n"
     "o........o\n"
     "oooooooooo\n"},
    {"label_printed_dots_cover_the_edge", picture_kind::label, 4, 3, 0, 0, 0, 0, 1, 3,
     std::string("\x7f\xff\xef", 3),
     "#ooo\n"
     "o..o\n"
     "ooo#\n"},
    {"label_reference_moves_origin", picture_kind::label, 6, 4, 2, 1, -1, 1, 1, 1, "\x3f",
     "oooooo\n"
     "o....o\n"
     "o##..o\n"
     "oooooo\n"},
    {"label_cuts_bitmap_at_edges", picture_kind::label, 5, 4, 0, 0, -4, -1, 2, 3,
     std::string("\x00\x00\x00\x00\x00\x00", 6),
     "#####\n"
     "#####\n"
     "o...o\n"
     "ooooo\n"},
    {"label_bitmap_entirely_off", picture_kind::label, 3, 3, 0, 0, 10, 0, 1, 1,
     std::string("\x00", 1),
     "ooo\n"
     "o.o\n"
     "ooo\n"},
};

class LblviewDrawing : public testing::TestWithParam<drawing_case> {};

TEST_P(LblviewDrawing, DrawsThePageDotForDot) {
  const drawing_case& c = GetParam();
  page_values v;
  v.width_mm = c.width_mm;
  v.height_mm = c.height_mm;
  v.reference_x = c.reference_x;
  v.reference_y = c.reference_y;
  v.bitmap_x = c.bitmap_x;
  v.bitmap_y = c.bitmap_y;
  v.bytes_per_row = c.bytes_per_row;
  v.rows = c.rows;
  const parsed_page p(v, c.payload);
  lblview::picture pic;
  std::string error;
  ASSERT_TRUE(lblview::draw_page(p.page, c.kind, kOneDotPerMm, &pic, &error)) << error;
  EXPECT_EQ(sketch_of(pic), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Pages, LblviewDrawing, testing::ValuesIn(kDrawings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LblviewPicture, LabelSizeFollowsTheResolution) {
  page_values v;
  v.width_mm = 3;
  v.height_mm = 2;
  const parsed_page p(v, std::string(48, '\xff'));
  const std::pair<int, uint32_t> kDpi[] = {{203, 8}, {300, 12}, {600, 24}};
  for (const auto& [dpi, dots_per_mm] : kDpi) {
    lblview::picture pic;
    std::string error;
    ASSERT_TRUE(lblview::draw_page(p.page, picture_kind::label, dpi, &pic, &error)) << error;
    EXPECT_EQ(pic.width, 3 * dots_per_mm) << dpi;
    EXPECT_EQ(pic.height, 2 * dots_per_mm) << dpi;
  }
}

struct refusal_case {
  const char* name;
  picture_kind kind;
  int width_mm, height_mm, dpi;
  const char* error;
};

TEST(LblviewPicture, RefusesPicturesWithNothingToDrawOnOrTooLarge) {
  const refusal_case kCases[] = {
      {"no_width", picture_kind::label, 0, 150, 203,
       "nothing to draw on: the picture would be 0 x 1200 pixels"},
      {"negative_height", picture_kind::label, 10, -1, 203,
       "nothing to draw on: the picture would be 80 x -8 pixels"},
      {"too_large", picture_kind::label, 32767, 32767, 2400,
       "picture of 3080098 x 3080098 pixels exceeds the limit of 134217728 pixels"},
  };
  for (const refusal_case& c : kCases) {
    page_values v;
    v.width_mm = c.width_mm;
    v.height_mm = c.height_mm;
    const parsed_page p(v, std::string(48, '\xff'));
    lblview::picture pic;
    std::string error;
    EXPECT_FALSE(lblview::draw_page(p.page, c.kind, c.dpi, &pic, &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(pic.pixels.empty()) << c.name;
  }
}

// A directory of its own under the test temp directory, removed afterwards.
class LblviewPng : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "lblview-png-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& f : files_) ::unlink(f.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string file(const std::string& name) {
    files_.push_back(dir_ + "/" + name);
    return files_.back();
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(LblviewPng, WritesAnEightBitGrayFileThatReadsBackTheSame) {
  page_values v;
  v.width_mm = 7;
  v.height_mm = 5;
  v.bitmap_x = 2;
  v.bitmap_y = 1;
  v.bytes_per_row = 1;
  v.rows = 3;
  const parsed_page p(v, std::string("\x0f\xf0\x55", 3));
  for (const picture_kind kind : {picture_kind::label, picture_kind::bitmap}) {
    lblview::picture pic;
    std::string error;
    ASSERT_TRUE(lblview::draw_page(p.page, kind, kOneDotPerMm, &pic, &error)) << error;
    const std::string path = file(kind == picture_kind::label ? "label.png" : "bitmap.png");
    ASSERT_TRUE(lblview::write_png(pic, path, &error)) << error;
    const lblview_test::gray_image back = lblview_test::read_png(path);
    ASSERT_EQ(back.error, "");
    EXPECT_EQ(back.width, pic.width);
    EXPECT_EQ(back.height, pic.height);
    EXPECT_EQ(sketch(back.width, back.height, back.pixels), sketch_of(pic));
    EXPECT_EQ(back.pixels, pic.pixels);
  }
}

TEST_F(LblviewPng, ReportsAFileThatCannotBeWritten) {
  lblview::picture pic;
  pic.width = pic.height = 1;
  pic.pixels = {0};
  std::string error;
  EXPECT_FALSE(lblview::write_png(pic, dir_ + "/no-such-dir/x.png", &error));
  EXPECT_FALSE(error.empty());
}

struct path_case {
  const char* path;
  int number, pages;
  const char* expected;
};

TEST(LblviewPicture, NumbersFilesOnlyForSeveralPages) {
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

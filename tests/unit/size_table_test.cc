// The named label sizes and their lookup.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "settings/settings.h"

namespace {

TEST(SizeTable, HoldsFiftyEightDistinctNamedSizesInPointOrder) {
  std::set<std::string> names;
  std::set<std::pair<int, int>> sizes;
  int previous_w = 0, previous_h = 0;
  for (const page_size_entry& entry : g_page_list) {
    int w = 0, h = 0, consumed = 0;
    ASSERT_EQ(std::sscanf(entry.name, "w%dh%d%n", &w, &h, &consumed), 2) << entry.name;
    EXPECT_EQ(entry.name[consumed], '\0') << entry.name;
    EXPECT_TRUE(w > previous_w || (w == previous_w && h > previous_h)) << entry.name;
    previous_w = w;
    previous_h = h;
    names.insert(entry.name);
    sizes.insert({entry.width, entry.height});
  }
  EXPECT_EQ(names.size(), 58u);
  EXPECT_EQ(sizes.size(), 58u);
  EXPECT_EQ(sizeof g_page_list / sizeof g_page_list[0], 58u);
}

struct lookup_case {
  const char* name;
  int16_t width, height;  // expected; 60 x 40 means "left unchanged"
};

constexpr lookup_case kLookups[] = {
    {"w57h29", 20, 10},      // first row
    {"w295h417", 104, 147},  // last row
    {"w170h85", 60, 30},
    {"w100h34", 35, 12},  // millimetres are the table's own, not converted
                          // points
    {"w283h425", 100, 150},
    {"w154h215", 54, 76},
    {"W170H85", 60, 40},   // case matters
    {"w170h85 ", 60, 40},  // no trimming
    {"w85h1", 60, 40},     // no prefix match
    {"", 60, 40},
    {"60x40", 60, 40},
    {"w283h426", 60, 40},
};

TEST(SizeTable, LookupTakesExactNamesAndLeavesOthersAlone) {
  for (const lookup_case& c : kLookups) {
    pstops_doc doc{};
    doc.width = 60;
    doc.height = 40;
    lookup_page_size(&doc, c.name);
    EXPECT_EQ(doc.width, c.width) << '"' << c.name << '"';
    EXPECT_EQ(doc.height, c.height) << '"' << c.name << '"';
  }
}

TEST(SizeTable, LookupChangesOnlyTheSize) {
  pstops_doc doc{};
  doc.speed = 4;
  doc.darkness = 7;
  lookup_page_size(&doc, "w170h85");
  EXPECT_EQ(doc.speed, 4);
  EXPECT_EQ(doc.darkness, 7);
  EXPECT_EQ(doc.horizontal, 0);
}

}  // namespace

// The whole of set_pstops_options: command-line fields, built-in values, the
// PPD layer and the job options, fed real option strings through libcups'
// option parser.
#include <cups/cups.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/unit/settings_fixture.h"

namespace {

using settings_fixture::describe;
using strings = std::vector<std::string>;

// What the PPD layer logs when the queue has no PPD.
const strings kNoPpdLines = {"PPD=(null)", "can't param ppdfile"};

pstops_doc builtin_doc() {
  pstops_doc doc{};
  doc.width = 60;
  doc.height = 40;
  doc.speed = 4;
  doc.darkness = 7;
  return doc;
}

pstops_doc sized(int16_t width, int16_t height) {
  pstops_doc doc = builtin_doc();
  doc.width = width;
  doc.height = height;
  return doc;
}

strings concat(strings head, const strings& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class OptionLayer : public settings_fixture::layer_test {
 protected:
  /// Runs the settings as the filter's entry does: the job options string
  /// parsed by libcups, then set_pstops_options on a zero-filled record.
  pstops_doc resolve(const std::string& option_string) {
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(option_string.c_str(), 0, &options);
    pstops_doc doc = resolve_array(count, options, option_string);
    cupsFreeOptions(count, options);
    return doc;
  }

  /// As `resolve`, with an option array built by hand (the parser merges
  /// repeated names, so only a hand-built array can hold them twice).
  pstops_doc resolve_array(int count, cups_option_t* options, std::string option_string = "") {
    args_ = {"label-queue", " 42abc", "alice", "parcel label", "3", option_string};
    std::vector<char*> argv;
    for (std::string& arg : args_) argv.push_back(arg.data());
    argv.push_back(nullptr);
    restart_log();
    pstops_doc doc{};
    set_pstops_options(&doc, argv.data(), count, options);
    EXPECT_EQ(doc.user, argv[2]);
    EXPECT_EQ(doc.title, argv[3]);
    return doc;
  }

  /// Messages the job-option layer wrote, after the PPD layer's.
  strings job_messages() const {
    const strings messages = log_messages();
    for (size_t i = 0; i < messages.size(); ++i)
      if (messages[i] == "can't param ppdfile" ||
          messages[i].rfind("ppdfile MediaTracking:", 0) == 0)
        return strings(messages.begin() + static_cast<long>(i) + 1, messages.end());
    ADD_FAILURE() << "the PPD layer logged no last line";
    return messages;
  }

  std::vector<std::string> args_;
};

TEST_F(OptionLayer, NoPpdAndNoOptionsGiveTheBuiltInLabel) {
  const pstops_doc doc = resolve("");
  EXPECT_EQ(doc.jobId, 42);
  EXPECT_EQ(doc.copies, 3);
  EXPECT_EQ(describe(doc), describe(builtin_doc()));
  EXPECT_EQ(log_messages(), kNoPpdLines);
}

struct job_size_case {
  const char* options;
  int16_t width, height;
  strings lines;  // the job layer's log lines
};

// Custom sizes in points: 2.83 points a millimetre, width rounded half up,
// height truncated, both raised to 11; and table names with no minimum.
const std::vector<job_size_case> kPointSizes = {
    {"PageSize=Custom.288x432",
     102,
     152,
     {"996_PageSize=PageSize", "997_page_size=Custom.288x432", "(wxh)|288.000000|432.000000|",
      "(wxh)|101.766784|152.650177|", "(wxh)|102|152|"}},
    {"PageSize=Custom.288x432pt",
     102,
     152,
     {"996_PageSize=PageSize", "997_page_size=Custom.288x432pt", "(wxh)|288.000000|432.000000|",
      "(wxh)|101.766784|152.650177|", "(wxh)|102|152|"}},
    {"PageSize=Custom.612x792",
     216,
     279,
     {"996_PageSize=PageSize", "997_page_size=Custom.612x792", "(wxh)|612.000000|792.000000|",
      "(wxh)|216.254417|279.858657|", "(wxh)|216|279|"}},
    {"PageSize=Custom.31x31",
     11,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.31x31", "(wxh)|31.000000|31.000000|",
      "(wxh)|10.954064|10.954064|", "(wxh)|11|11|"}},
    {"PageSize=Custom.abc",
     11,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.abc", "(wxh)|0.000000|0.000000|",
      "(wxh)|0.000000|0.000000|", "(wxh)|11|11|"}},
    // Wrapped past 16 bits, then the minimum acts on the stored value.
    {"PageSize=Custom.200000x92736",
     5135,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.200000x92736",
      "(wxh)|200000.000000|92736.000000|", "(wxh)|70671.378092|32768.904594|", "(wxh)|5135|11|"}},
    // No 32-bit integer holds these: they count as 0, then the minimum.
    {"PageSize=Custom.nanx288",
     11,
     101,
     {"996_PageSize=PageSize", "997_page_size=Custom.nanx288", "(wxh)|nan|288.000000|",
      "(wxh)|nan|101.766784|", "(wxh)|11|101|"}},
    {"PageSize=Custom.1e10xinf",
     11,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.1e10xinf", "(wxh)|10000000000.000000|inf|",
      "(wxh)|3533568904.593639|inf|", "(wxh)|11|11|"}},
    {"PageSize=w57h29", 20, 10, {"996_PageSize=PageSize", "997_page_size=w57h29"}},
    {"PageSize=w295h417", 104, 147, {"996_PageSize=PageSize", "997_page_size=w295h417"}},
    {"PageSize=w57h30", 60, 40, {"996_PageSize=PageSize", "997_page_size=w57h30"}},
    {"PageSize=", 60, 40, {"996_PageSize=PageSize", "997_page_size="}},
};

// A custom job size that names a unit gets that unit, converted as the PPD
// layer converts it and truncated; the minimum still applies.
const std::vector<job_size_case> kUnitSizes = {
    {"PageSize=Custom.100x150mm",
     100,
     150,
     {"996_PageSize=PageSize", "997_page_size=Custom.100x150mm", "(wxh)|100.000000|150.000000|",
      "(mm:wxh)|100.000000|150.000000|", "(wxh)|100|150|"}},
    {"PageSize=Custom.4x6in",
     101,
     152,
     {"996_PageSize=PageSize", "997_page_size=Custom.4x6in", "(wxh)|4.000000|6.000000|",
      "(in:wxh)|101.600000|152.400000|", "(wxh)|101|152|"}},
    {"PageSize=Custom.10x15cm",
     100,
     150,
     {"996_PageSize=PageSize", "997_page_size=Custom.10x15cm", "(wxh)|10.000000|15.000000|",
      "(cm:wxh)|100.000000|150.000000|", "(wxh)|100|150|"}},
    {"PageSize=Custom.0.5x0.5ft",
     152,
     152,
     {"996_PageSize=PageSize", "997_page_size=Custom.0.5x0.5ft", "(wxh)|0.500000|0.500000|",
      "(ft:wxh)|152.400000|152.400000|", "(wxh)|152|152|"}},
    {"PageSize=Custom.0.1x0.15m",
     100,
     150,
     {"996_PageSize=PageSize", "997_page_size=Custom.0.1x0.15m", "(wxh)|0.100000|0.150000|",
      "(m:wxh)|100.000000|150.000000|", "(wxh)|100|150|"}},
    {"PageSize=Custom.0.7x1.3cm",
     11,
     13,
     {"996_PageSize=PageSize", "997_page_size=Custom.0.7x1.3cm", "(wxh)|0.700000|1.300000|",
      "(cm:wxh)|7.000000|13.000000|", "(wxh)|11|13|"}},
    {"PageSize=Custom.0.03x0.06m",
     30,
     60,
     {"996_PageSize=PageSize", "997_page_size=Custom.0.03x0.06m", "(wxh)|0.030000|0.060000|",
      "(m:wxh)|30.000000|60.000000|", "(wxh)|30|60|"}},
    {"PageSize=Custom.5x60.9mm",
     11,
     60,
     {"996_PageSize=PageSize", "997_page_size=Custom.5x60.9mm", "(wxh)|5.000000|60.900002|",
      "(mm:wxh)|5.000000|60.900002|", "(wxh)|11|60|"}},
    // Only a unit right after the height, spelt as CUPS spells it, counts;
    // anything else is read as points.
    {"PageSize=Custom.100x150MM",
     35,
     53,
     {"996_PageSize=PageSize", "997_page_size=Custom.100x150MM", "(wxh)|100.000000|150.000000|",
      "(wxh)|35.335689|53.003534|", "(wxh)|35|53|"}},
    {"PageSize=Custom.100x150yd",
     35,
     53,
     {"996_PageSize=PageSize", "997_page_size=Custom.100x150yd", "(wxh)|100.000000|150.000000|",
      "(wxh)|35.335689|53.003534|", "(wxh)|35|53|"}},
    {"PageSize=Custom.100in",
     35,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.100in", "(wxh)|100.000000|0.000000|",
      "(wxh)|35.335689|0.000000|", "(wxh)|35|11|"}},
    {"PageSize=Custom.1e10x100mm",
     11,
     100,
     {"996_PageSize=PageSize", "997_page_size=Custom.1e10x100mm",
      "(wxh)|10000000000.000000|100.000000|", "(mm:wxh)|10000000000.000000|100.000000|",
      "(wxh)|11|100|"}},
    // Wrapped past 16 bits: 70000 and 66000 keep their low 16 bits.
    {"PageSize=Custom.70x66m",
     4464,
     464,
     {"996_PageSize=PageSize", "997_page_size=Custom.70x66m", "(wxh)|70.000000|66.000000|",
      "(m:wxh)|70000.000000|66000.000000|", "(wxh)|4464|464|"}},
    // Wrapped to negative numbers, which the minimum then raises.
    {"PageSize=Custom.2000x100m",
     11,
     11,
     {"996_PageSize=PageSize", "997_page_size=Custom.2000x100m", "(wxh)|2000.000000|100.000000|",
      "(m:wxh)|2000000.000000|100000.000000|", "(wxh)|11|11|"}},
};

TEST_F(OptionLayer, PageSizeInPointsOrByName) {
  for (const job_size_case& c : kPointSizes) {
    SCOPED_TRACE(c.options);
    const pstops_doc doc = resolve(c.options);
    EXPECT_EQ(describe(doc), describe(sized(c.width, c.height)));
    EXPECT_EQ(log_messages(), concat(kNoPpdLines, c.lines));
  }
}

TEST_F(OptionLayer, PageSizeWithAUnitIsReadInThatUnit) {
  for (const job_size_case& c : kUnitSizes) {
    SCOPED_TRACE(c.options);
    const pstops_doc doc = resolve(c.options);
    EXPECT_EQ(describe(doc), describe(sized(c.width, c.height)));
    EXPECT_EQ(log_messages(), concat(kNoPpdLines, c.lines));
  }
}

struct numeric_case {
  const char* options;
  int16_t pstops_doc::*field;
  int16_t expected;
  strings lines;
};

// atoi conversions, the speed in tenths, 16-bit wrapping, the two options that
// log, and names that must match exactly.
const std::vector<numeric_case> kNumericOptions = {
    {"Darkness=12", &pstops_doc::darkness, 12, {}},
    {"Darkness=", &pstops_doc::darkness, 0, {}},
    {"Darkness=dark", &pstops_doc::darkness, 0, {}},
    {"Darkness=65541", &pstops_doc::darkness, 5, {}},
    {"Darkness=32768", &pstops_doc::darkness, -32768, {}},
    {"darkness=12", &pstops_doc::darkness, 7, {}},
    {"DARKNESS=12", &pstops_doc::darkness, 7, {}},
    {"Darkness", &pstops_doc::darkness, 0, {}},  // the parser gives "true"
    {"PrintSpeed=45", &pstops_doc::speed, 4, {"doc->speed = 4"}},
    {"PrintSpeed=9", &pstops_doc::speed, 0, {"doc->speed = 0"}},
    {"PrintSpeed=-15", &pstops_doc::speed, -1, {"doc->speed = -1"}},
    {"PrintSpeed=655410", &pstops_doc::speed, 5, {"doc->speed = 5"}},
    {"Horizontal=-5", &pstops_doc::horizontal, -5, {}},
    {"Horizontal=' 40'", &pstops_doc::horizontal, 40, {}},
    {"Vertical=12abc", &pstops_doc::vertical, 12, {}},
    {"MediaTracking=3", &pstops_doc::mediaTracking, 3, {"doc->mediaTracking = 3"}},
    {"MediaTracking=65535", &pstops_doc::mediaTracking, -1, {"doc->mediaTracking = -1"}},
    {"Speed=60 Density=3", &pstops_doc::speed, 4, {}},
};

TEST_F(OptionLayer, NumericOptionsConvertLikeAtoiAndKeepLow16Bits) {
  for (const numeric_case& c : kNumericOptions) {
    SCOPED_TRACE(c.options);
    const pstops_doc doc = resolve(c.options);
    pstops_doc expected = builtin_doc();
    expected.*c.field = c.expected;
    EXPECT_EQ(describe(doc), describe(expected));
    EXPECT_EQ(job_messages(), c.lines);
  }
}

TEST_F(OptionLayer, EveryOptionAtOnceInAnyOrder) {
  const std::string orders[] = {
      "PageSize=w170h85 Darkness=10 PrintSpeed=30 Horizontal=8 Vertical=-4 MediaTracking=2",
      "MediaTracking=2 Vertical=-4 Horizontal=8 PrintSpeed=30 Darkness=10 PageSize=w170h85",
      std::string("Vertical=-4 copies=2 PageSize=w170h85 page-ranges=1-2 MediaTracking=2 ") +
          "Darkness=10 Horizontal=8 PrintSpeed=30"};
  pstops_doc expected = sized(60, 30);
  expected.darkness = 10;
  expected.speed = 3;
  expected.horizontal = 8;
  expected.vertical = -4;
  expected.mediaTracking = 2;
  for (const std::string& options : orders) {
    SCOPED_TRACE(options);
    EXPECT_EQ(describe(resolve(options)), describe(expected));
    // libcups hands the options over sorted by name, so the log order is fixed.
    EXPECT_EQ(job_messages(), (strings{"doc->mediaTracking = 2", "996_PageSize=PageSize",
                                       "997_page_size=w170h85", "doc->speed = 3"}));
  }
}

TEST_F(OptionLayer, RepeatedOptionsInTheStringKeepTheParsersLastValue) {
  // libcups merges repeated names, the later value replacing the earlier.
  EXPECT_EQ(resolve("Darkness=3 Darkness=9").darkness, 9);
  EXPECT_EQ(describe(resolve("PageSize=w57h29 PageSize=w170h85")), describe(sized(60, 30)));
}

TEST_F(OptionLayer, FirstOfRepeatedNamesInTheArrayWins) {
  cups_option_t options[] = {
      {const_cast<char*>("Darkness"), const_cast<char*>("3")},
      {const_cast<char*>("PageSize"), const_cast<char*>("w57h29")},
      {const_cast<char*>("Darkness"), const_cast<char*>("12")},
      {const_cast<char*>("PrintSpeed"), const_cast<char*>("50")},
      {const_cast<char*>("PageSize"), const_cast<char*>("Custom.288x432")},
      {const_cast<char*>("PrintSpeed"), const_cast<char*>("20")},
  };
  pstops_doc expected = sized(20, 10);
  expected.darkness = 3;
  expected.speed = 5;
  EXPECT_EQ(describe(resolve_array(6, options)), describe(expected));
  EXPECT_EQ(job_messages(),
            (strings{"996_PageSize=PageSize", "997_page_size=w57h29", "doc->speed = 5"}));
}

TEST_F(OptionLayer, CountOfZeroOrLessVisitsNoOption) {
  cups_option_t options[] = {{const_cast<char*>("Darkness"), const_cast<char*>("3")}};
  for (int count : {0, -1}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(describe(resolve_array(count, options)), describe(builtin_doc()));
    EXPECT_EQ(job_messages(), strings{});
  }
}

struct media_case {
  const char* options;
  int16_t width, height;
  strings lines;
};

// Without "PageSize", the first element of "media" that is a label size of the
// queue or a custom size sets the size exactly as "PageSize" would.
const std::vector<media_case> kMediaCases = {
    {"media=w170h85", 60, 30, {"996_PageSize=media", "997_page_size=w170h85"}},
    {"media=Roll,w170h85,w57h29", 60, 30, {"996_PageSize=media", "997_page_size=w170h85"}},
    {"media=Custom.4x6in,Roll",
     101,
     152,
     {"996_PageSize=media", "997_page_size=Custom.4x6in", "(wxh)|4.000000|6.000000|",
      "(in:wxh)|101.600000|152.400000|", "(wxh)|101|152|"}},
    {"media=Custom.288x432",
     102,
     152,
     {"996_PageSize=media", "997_page_size=Custom.288x432", "(wxh)|288.000000|432.000000|",
      "(wxh)|101.766784|152.650177|", "(wxh)|102|152|"}},
    {"media=Letter", 60, 40, {"media=Letter names no label size"}},
    {"media=", 60, 40, {"media= names no label size"}},
    {"media=W170H85,MyCustom.4x6in", 60, 40, {"media=W170H85,MyCustom.4x6in names no label size"}},
    {"Media=w170h85", 60, 40, {}},
    // "PageSize" always wins, in any order, even when it names nothing.
    {"PageSize=w57h29 media=w170h85", 20, 10, {"996_PageSize=PageSize", "997_page_size=w57h29"}},
    {"media=w170h85 PageSize=w57h29", 20, 10, {"996_PageSize=PageSize", "997_page_size=w57h29"}},
    {"media=w170h85 PageSize=Letter", 60, 40, {"996_PageSize=PageSize", "997_page_size=Letter"}},
};

TEST_F(OptionLayer, MediaStandsInForAMissingPageSize) {
  for (const media_case& c : kMediaCases) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(describe(resolve(c.options)), describe(sized(c.width, c.height)));
    EXPECT_EQ(job_messages(), c.lines);
  }
}

TEST_F(OptionLayer, JobOptionsOverrideThePpdDefaults) {
  const std::string path = write_ppd(
      "*DefaultPageSize: Custom.4x6in\n"
      "*DefaultDarkness: 10\n"
      "*DefaultPrintSpeed: 60\n"
      "*DefaultHorizontal: 4\n"
      "*DefaultMediaTracking: 1\n");
  setenv("PPD", path.c_str(), 1);

  struct layered_case {
    const char* options;
    pstops_doc expected;
  };
  pstops_doc from_ppd = sized(101, 152);
  from_ppd.darkness = 10;
  from_ppd.speed = 6;
  from_ppd.horizontal = 4;
  from_ppd.mediaTracking = 1;
  const auto with = [&](auto change) {
    pstops_doc doc = from_ppd;
    change(doc);
    return doc;
  };
  const layered_case cases[] = {
      {"", from_ppd},
      {"Darkness=3", with([](pstops_doc& d) { d.darkness = 3; })},
      {"PrintSpeed=20 Horizontal=0", with([](pstops_doc& d) {
         d.speed = 2;
         d.horizontal = 0;
       })},
      {"PageSize=w57h29", with([](pstops_doc& d) {
         d.width = 20;
         d.height = 10;
       })},
      {"media=w170h85", with([](pstops_doc& d) {
         d.width = 60;
         d.height = 30;
       })},
      {"media=Letter", from_ppd},
      {"PageSize=w57h30", from_ppd},
      {"MediaTracking=0 Vertical=9", with([](pstops_doc& d) {
         d.mediaTracking = 0;
         d.vertical = 9;
       })},
  };
  for (const layered_case& c : cases) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(describe(resolve(c.options)), describe(c.expected));
    // The PPD layer ran, in full, before the job's options.
    const strings messages = log_messages();
    ASSERT_GE(messages.size(), 13u);
    EXPECT_EQ(messages[0], "PPD=" + path);
    EXPECT_EQ(messages[12], "ppdfile MediaTracking:1");
  }
}

}  // namespace

// The settings layers on real files and real option strings: the PPD
// defaults (set_pstops_with_ppd) through libcups' PPD reader, and the whole of
// set_pstops_options, whose job options come from libcups' option parser.
// Each case checks the record and every line the layers log.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "settings/settings.h"
#include "tests/support/test_common.h"

namespace {

using strings = std::vector<std::string>;

// The label fields as one text, so that a failure shows them all. No layer
// touches the reference point: it shows only when it is not 0,0.
std::string describe(const pstops_doc& d) {
  std::string text = std::to_string(d.width) + "x" + std::to_string(d.height) + " speed " +
                     std::to_string(d.speed) + " darkness " + std::to_string(d.darkness) +
                     " tracking " + std::to_string(d.mediaTracking) + " at " +
                     std::to_string(d.horizontal) + "," + std::to_string(d.vertical);
  if (d.refX != 0 || d.refY != 0)
    text += " ref " + std::to_string(d.refX) + "," + std::to_string(d.refY);
  return text;
}

constexpr char kBuiltIn[] = "60x40 speed 4 darkness 7 tracking 0 at 0,0";

pstops_doc label(int16_t width, int16_t height, int16_t speed, int16_t darkness, int16_t tracking,
                 int16_t horizontal, int16_t vertical) {
  pstops_doc d{};
  d.width = width;
  d.height = height;
  d.speed = speed;
  d.darkness = darkness;
  d.mediaTracking = tracking;
  d.horizontal = horizontal;
  d.vertical = vertical;
  return d;
}

// A record whose every label field differs from the built-in values and from
// anything the tests' PPDs set, so that a field the PPD layer leaves shows.
const pstops_doc kDistinct = label(61, 41, 9, 3, 2, 5, 6);

// The PPD layer's closing lines for the record it leaves.
strings ppd_summary(const pstops_doc& d) {
  return {"ppdfile PageSize:" + std::to_string(d.width) + "x" + std::to_string(d.height),
          "ppdfile Speed:" + std::to_string(d.speed),
          "ppdfile Darkness:" + std::to_string(d.darkness),
          "ppdfile MediaTracking:" + std::to_string(d.mediaTracking)};
}

strings operator+(strings head, const strings& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const strings kNoPpdLines = {"PPD=(null)", "can't param ppdfile"};

class SettingsLayers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    unsetenv("PPD");
  }
  void TearDown() override { CloseLog(); }

  /// Writes a PPD of `lines`, after the version line the reader demands, and
  /// names it in PPD as the spooler does.
  void use_ppd(const std::string& lines) {
    std::ofstream(ppd_path(), std::ios::binary) << "*PPD-Adobe: \"4.3\"\n" << lines;
    setenv("PPD", ppd_path().c_str(), 1);
  }
  std::string ppd_path() const { return dir_.path() + "/queue.ppd"; }

  /// Runs the PPD layer alone on `doc`; the log holds only this run.
  pstops_doc ppd_layer(pstops_doc doc) {
    restart_log();
    set_pstops_with_ppd(&doc);
    return doc;
  }

  /// Runs the settings as the filter's entry does: the job options string
  /// parsed by libcups, then set_pstops_options on a zero-filled record.
  pstops_doc all_layers(const std::string& option_string) {
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(option_string.c_str(), 0, &options);
    const pstops_doc doc = all_layers(count, options);
    cupsFreeOptions(count, options);
    return doc;
  }

  /// As above with an option array built by hand: libcups' parser merges
  /// repeated names, so only such an array holds a name twice.
  pstops_doc all_layers(int count, cups_option_t* options) {
    args_ = {"label-queue", " 42abc", "alice", "parcel label", "3", ""};
    std::vector<char*> argv;
    for (std::string& arg : args_) argv.push_back(arg.data());
    restart_log();
    pstops_doc doc{};
    set_pstops_options(&doc, argv.data(), count, options);
    EXPECT_EQ(doc.jobId, 42);
    EXPECT_EQ(doc.copies, 3);
    EXPECT_EQ(doc.user, argv[2]);  // borrowed, not copied
    EXPECT_EQ(doc.title, argv[3]);
    return doc;
  }

  strings log() const { return test_common::log_messages(dir_.path() + "/settings.log"); }

  /// The messages after the PPD layer's last line.
  strings job_log() const {
    const strings messages = log();
    for (size_t i = 0; i < messages.size(); ++i)
      if (messages[i] == "can't param ppdfile" ||
          messages[i].rfind("ppdfile MediaTracking:", 0) == 0)
        return strings(messages.begin() + static_cast<long>(i) + 1, messages.end());
    ADD_FAILURE() << "the PPD layer logged no last line";
    return messages;
  }

  test_common::temp_dir dir_;

 private:
  void restart_log() {
    CloseLog();
    ASSERT_NE(init_log_at((dir_.path() + "/settings.log").c_str()), nullptr);
  }

  std::vector<std::string> args_;
};

struct size_case {
  const char* value;
  int16_t width, height;
  const char* scanned;    // the custom size's numbers as scanned; null for a name
  const char* converted;  // the unit branch's line
};

// Every unit branch with its precision (the "pt" quotient, centimetres and
// metres are single precision: 0.7 cm is 7 mm, not 6), the search order, the
// metre fallback, truncation toward zero, 16-bit wrapping and the values no
// 32-bit integer can hold. Names go through the size table only.
const size_case kPpdSizes[] = {
    {"Custom.100.9x50.2mm", 100, 50, "|100.900002|50.200001|", "(mm:wxh)|100.900002|50.200001|"},
    {"Custom.4x6in", 101, 152, "|4.000000|6.000000|", "(in:wxh)|101.600000|152.400000|"},
    {"Custom.100x200pt", 35, 70, "|100.000000|200.000000|", "(pt:wxh)|35.277776|70.555553|"},
    {"Custom.0.7x1.3cm", 7, 13, "|0.700000|1.300000|", "(cm:wxh)|7.000000|13.000000|"},
    {"Custom.0.5x0.5ft", 152, 152, "|0.500000|0.500000|", "(ft:wxh)|152.400000|152.400000|"},
    {"Custom.0.03x0.06", 30, 60, "|0.030000|0.060000|", "(m:wxh)|30.000000|60.000000|"},
    // "pt" is searched before "in", anywhere in the value.
    {"Custom.72x144ptin", 25, 50, "|72.000000|144.000000|", "(pt:wxh)|25.400000|50.800000|"},
    {"Custom.abc", 0, 0, "|0.000000|0.000000|", "(m:wxh)|0.000000|0.000000|"},
    {"Custom.0.05", 50, 0, "|0.050000|0.000000|", "(m:wxh)|50.000000|0.000000|"},
    {"MyCustom.4x6in", 0, 0, "|0.000000|0.000000|", "(in:wxh)|0.000000|0.000000|"},
    {"Custom.-5.7x-0.5mm", -5, 0, "|-5.700000|-0.500000|", "(mm:wxh)|-5.700000|-0.500000|"},
    {"Custom.70000x32768mm", 4464, -32768, "|70000.000000|32768.000000|",
     "(mm:wxh)|70000.000000|32768.000000|"},
    // The largest single-precision number below 2^31 still truncates to an
    // integer; 2^31 itself and everything not finite give 0.
    {"Custom.2147483520x2147483647mm", -128, 0, "|2147483520.000000|2147483648.000000|",
     "(mm:wxh)|2147483520.000000|2147483648.000000|"},
    {"Custom.1e10x-1e10mm", 0, 0, "|10000000000.000000|-10000000000.000000|",
     "(mm:wxh)|10000000000.000000|-10000000000.000000|"},
    {"Custom.nanx-infmm", 0, 0, "|nan|-inf|", "(mm:wxh)|nan|-inf|"},
    {"w283h425", 100, 150, nullptr, nullptr},
    {"W283H425", 61, 41, nullptr, nullptr},
};

TEST_F(SettingsLayers, PpdDefaultSizeIsCustomOrFromTheSizeTable) {
  for (const size_case& c : kPpdSizes) {
    SCOPED_TRACE(c.value);
    use_ppd(std::string("*DefaultPageSize: ") + c.value + "\n");
    const pstops_doc expected = label(c.width, c.height, 9, 3, 2, 5, 6);
    EXPECT_EQ(describe(ppd_layer(kDistinct)), describe(expected));
    strings lines = {"PPD=" + ppd_path(), "module_number:0",
                     std::string("ppdfile DefaultPageSize:") + c.value};
    if (c.scanned != nullptr)
      lines = lines + strings{std::string("(src:wxh)") + c.scanned, c.converted};
    EXPECT_EQ(log(), lines + ppd_summary(expected));
  }
}

struct ppd_number_case {
  const char* attribute;
  const char* value;
  int16_t pstops_doc::*field;
  int16_t expected;
};

// atoi conversions, the speed's division toward zero before the low 16 bits
// are kept, and 16-bit wrapping.
const ppd_number_case kPpdNumbers[] = {
    {"DefaultDarkness", "12abc", &pstops_doc::darkness, 12},
    {"DefaultDarkness", "65541", &pstops_doc::darkness, 5},
    {"DefaultPrintSpeed", "45", &pstops_doc::speed, 4},
    {"DefaultPrintSpeed", "-15", &pstops_doc::speed, -1},
    {"DefaultPrintSpeed", "655410", &pstops_doc::speed, 5},
    {"DefaultVertical", "32768", &pstops_doc::vertical, -32768},
    {"DefaultHorizontal", "65535", &pstops_doc::horizontal, -1},
    {"DefaultMediaTracking", "none", &pstops_doc::mediaTracking, 0},
};

TEST_F(SettingsLayers, PpdNumbersConvertLikeAtoiAndKeepLow16Bits) {
  for (const ppd_number_case& c : kPpdNumbers) {
    const std::string line = std::string(c.attribute) + ":" + c.value;
    SCOPED_TRACE(line);
    use_ppd("*" + std::string(c.attribute) + ": " + c.value + "\n");
    pstops_doc expected = kDistinct;
    expected.*c.field = c.expected;
    EXPECT_EQ(describe(ppd_layer(kDistinct)), describe(expected));
    EXPECT_EQ(log(), (strings{"PPD=" + ppd_path(), "module_number:0", "ppdfile " + line} +
                      ppd_summary(expected)));
  }
}

TEST_F(SettingsLayers, PpdAttributesAreReadInFixedOrderWhateverTheFileOrder) {
  use_ppd(
      "*DefaultMediaTracking: 3\n"
      "*DefaultHorizontal: -8\n"
      "*DefaultVertical: 12\n"
      "*DefaultPrintSpeed: 60\n"
      "*DefaultDarkness: 14\n"
      "*DefaultPageSize: w170h85\n"
      "*cupsModelNumber: 42\n");
  EXPECT_EQ(describe(ppd_layer(kDistinct)), "60x30 speed 6 darkness 14 tracking 3 at -8,12");
  EXPECT_EQ(log(),
            (strings{"PPD=" + ppd_path(), "module_number:42", "ppdfile DefaultPageSize:w170h85",
                     "ppdfile DefaultDarkness:14", "ppdfile DefaultPrintSpeed:60",
                     "ppdfile DefaultVertical:12", "ppdfile DefaultHorizontal:-8",
                     "ppdfile DefaultMediaTracking:3", "ppdfile PageSize:60x30", "ppdfile Speed:6",
                     "ppdfile Darkness:14", "ppdfile MediaTracking:3"}));
}

TEST_F(SettingsLayers, PpdWithoutTheAttributesChangesNothingButLogsTheSummary) {
  use_ppd("*ModelName: \"Label 4\"\n*DefaultResolution: 203dpi\n");
  EXPECT_EQ(describe(ppd_layer(kDistinct)), describe(kDistinct));
  EXPECT_EQ(log(), (strings{"PPD=" + ppd_path(), "module_number:0"} + ppd_summary(kDistinct)));
}

TEST_F(SettingsLayers, NoUsablePpdLeavesTheRecordAndSaysSo) {
  EXPECT_EQ(describe(ppd_layer(kDistinct)), describe(kDistinct));
  EXPECT_EQ(log(), kNoPpdLines);
  setenv("PPD", ppd_path().c_str(), 1);  // a file that does not exist
  EXPECT_EQ(describe(ppd_layer(kDistinct)), describe(kDistinct));
  EXPECT_EQ(log(), (strings{"PPD=" + ppd_path(), "can't param ppdfile"}));
}

// Job sizes in points: 2.83 points a millimetre, width rounded half up,
// height truncated, both raised to 11 after the low 16 bits are kept. A unit
// right after the height, spelt as CUPS spells it, is read in that unit as the
// PPD layer reads it; table names get no minimum.
const size_case kJobSizes[] = {
    {"Custom.288x432", 102, 152, "|288.000000|432.000000|", "(wxh)|101.766784|152.650177|"},
    {"Custom.288x432pt", 102, 152, "|288.000000|432.000000|", "(wxh)|101.766784|152.650177|"},
    {"Custom.31x31", 11, 11, "|31.000000|31.000000|", "(wxh)|10.954064|10.954064|"},
    {"Custom.200000x92736", 5135, 11, "|200000.000000|92736.000000|",
     "(wxh)|70671.378092|32768.904594|"},
    {"Custom.nanx1e10", 11, 11, "|nan|10000000000.000000|", "(wxh)|nan|3533568904.593639|"},
    {"Custom.4x6in", 101, 152, "|4.000000|6.000000|", "(in:wxh)|101.600000|152.400000|"},
    {"Custom.0.5x0.5ft", 152, 152, "|0.500000|0.500000|", "(ft:wxh)|152.400000|152.400000|"},
    {"Custom.0.7x1.3cm", 11, 13, "|0.700000|1.300000|", "(cm:wxh)|7.000000|13.000000|"},
    {"Custom.0.03x0.06m", 30, 60, "|0.030000|0.060000|", "(m:wxh)|30.000000|60.000000|"},
    {"Custom.5x60.9mm", 11, 60, "|5.000000|60.900002|", "(mm:wxh)|5.000000|60.900002|"},
    {"Custom.70x66m", 4464, 464, "|70.000000|66.000000|", "(m:wxh)|70000.000000|66000.000000|"},
    {"Custom.1e10x100mm", 11, 100, "|10000000000.000000|100.000000|",
     "(mm:wxh)|10000000000.000000|100.000000|"},
    {"Custom.100x150MM", 35, 53, "|100.000000|150.000000|", "(wxh)|35.335689|53.003534|"},
    {"Custom.100in", 35, 11, "|100.000000|0.000000|", "(wxh)|35.335689|0.000000|"},
    {"w57h29", 20, 10, nullptr, nullptr},
    {"w57h30", 60, 40, nullptr, nullptr},
};

TEST_F(SettingsLayers, JobPageSizeInPointsInItsUnitOrByName) {
  for (const size_case& c : kJobSizes) {
    SCOPED_TRACE(c.value);
    const pstops_doc doc = all_layers(std::string("PageSize=") + c.value);
    EXPECT_EQ(describe(doc), describe(label(c.width, c.height, 4, 7, 0, 0, 0)));
    strings lines = {"996_PageSize=PageSize", std::string("997_page_size=") + c.value};
    if (c.scanned != nullptr) {
      lines = lines +
              strings{std::string("(wxh)") + c.scanned, c.converted,
                      "(wxh)|" + std::to_string(c.width) + "|" + std::to_string(c.height) + "|"};
    }
    EXPECT_EQ(log(), kNoPpdLines + lines);
  }
}

struct job_case {
  const char* options;
  const char* label;  // as describe() shows it
  strings lines;      // the job layer's log
};

// Numbers as atoi reads them, the speed in tenths, 16-bit wrapping, names that
// must match exactly, and "media" standing in for a missing "PageSize": its
// first element that is a label size of the queue or a custom size.
const job_case kJobOptions[] = {
    {"", kBuiltIn, {}},
    {"Darkness=12", "60x40 speed 4 darkness 12 tracking 0 at 0,0", {}},
    {"Darkness=dark", "60x40 speed 4 darkness 0 tracking 0 at 0,0", {}},
    {"Darkness=98304", "60x40 speed 4 darkness -32768 tracking 0 at 0,0", {}},
    {"Darkness", "60x40 speed 4 darkness 0 tracking 0 at 0,0", {}},  // the parser gives "true"
    {"darkness=12", kBuiltIn, {}},
    {"PrintSpeed=45", "60x40 speed 4 darkness 7 tracking 0 at 0,0", {"doc->speed = 4"}},
    {"PrintSpeed=-15", "60x40 speed -1 darkness 7 tracking 0 at 0,0", {"doc->speed = -1"}},
    {"PrintSpeed=655410", "60x40 speed 5 darkness 7 tracking 0 at 0,0", {"doc->speed = 5"}},
    {"Horizontal=-5", "60x40 speed 4 darkness 7 tracking 0 at -5,0", {}},
    {"Vertical=12abc", "60x40 speed 4 darkness 7 tracking 0 at 0,12", {}},
    {"MediaTracking=65535",
     "60x40 speed 4 darkness 7 tracking -1 at 0,0",
     {"doc->mediaTracking = -1"}},
    // Unrelated options are passed over; libcups hands the options over
    // sorted by name, so the log order is fixed.
    {"Vertical=-4 copies=2 PageSize=w170h85 page-ranges=1-2 MediaTracking=2 Darkness=10 "
     "Horizontal=8 PrintSpeed=30",
     "60x30 speed 3 darkness 10 tracking 2 at 8,-4",
     {"doc->mediaTracking = 2", "996_PageSize=PageSize", "997_page_size=w170h85",
      "doc->speed = 3"}},
    {"media=w170h85",
     "60x30 speed 4 darkness 7 tracking 0 at 0,0",
     {"996_PageSize=media", "997_page_size=w170h85"}},
    {"media=Roll,w170h85,w57h29",
     "60x30 speed 4 darkness 7 tracking 0 at 0,0",
     {"996_PageSize=media", "997_page_size=w170h85"}},
    {"media=Custom.4x6in,Roll",
     "101x152 speed 4 darkness 7 tracking 0 at 0,0",
     {"996_PageSize=media", "997_page_size=Custom.4x6in", "(wxh)|4.000000|6.000000|",
      "(in:wxh)|101.600000|152.400000|", "(wxh)|101|152|"}},
    {"media=Letter", kBuiltIn, {"media=Letter names no label size"}},
    {"media=W170H85,MyCustom.4x6in",
     kBuiltIn,
     {"media=W170H85,MyCustom.4x6in names no label size"}},
    {"Media=w170h85", kBuiltIn, {}},
    // "PageSize" always wins, even when it names nothing.
    {"media=w170h85 PageSize=w57h29",
     "20x10 speed 4 darkness 7 tracking 0 at 0,0",
     {"996_PageSize=PageSize", "997_page_size=w57h29"}},
    {"media=w170h85 PageSize=Letter", kBuiltIn, {"996_PageSize=PageSize", "997_page_size=Letter"}},
};

TEST_F(SettingsLayers, JobOptionsSetTheirFields) {
  for (const job_case& c : kJobOptions) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(describe(all_layers(c.options)), c.label);
    EXPECT_EQ(job_log(), c.lines);
  }
}

TEST_F(SettingsLayers, FirstOfRepeatedNamesInTheArrayWins) {
  cups_option_t options[] = {
      {const_cast<char*>("Darkness"), const_cast<char*>("3")},
      {const_cast<char*>("PageSize"), const_cast<char*>("w57h29")},
      {const_cast<char*>("Darkness"), const_cast<char*>("12")},
      {const_cast<char*>("PrintSpeed"), const_cast<char*>("50")},
      {const_cast<char*>("PageSize"), const_cast<char*>("Custom.288x432")},
      {const_cast<char*>("PrintSpeed"), const_cast<char*>("20")},
  };
  EXPECT_EQ(describe(all_layers(6, options)), "20x10 speed 5 darkness 3 tracking 0 at 0,0");
  EXPECT_EQ(job_log(),
            (strings{"996_PageSize=PageSize", "997_page_size=w57h29", "doc->speed = 5"}));
  // A count of zero or less visits no option.
  for (int count : {0, -1}) {
    EXPECT_EQ(describe(all_layers(count, options)), kBuiltIn) << count;
    EXPECT_EQ(job_log(), strings{}) << count;
  }
}

TEST_F(SettingsLayers, JobOptionsOverrideThePpdDefaults) {
  use_ppd(
      "*DefaultPageSize: Custom.4x6in\n"
      "*DefaultDarkness: 10\n"
      "*DefaultPrintSpeed: 60\n"
      "*DefaultHorizontal: 4\n"
      "*DefaultMediaTracking: 1\n");
  constexpr char kFromPpd[] = "101x152 speed 6 darkness 10 tracking 1 at 4,0";
  const std::pair<const char*, const char*> kCases[] = {
      {"", kFromPpd},
      {"Darkness=3 PrintSpeed=20 Horizontal=0 Vertical=9 MediaTracking=0",
       "101x152 speed 2 darkness 3 tracking 0 at 0,9"},
      {"media=w170h85", "60x30 speed 6 darkness 10 tracking 1 at 4,0"},
      {"PageSize=w57h30", kFromPpd},
  };
  for (const auto& [options, label] : kCases) {
    SCOPED_TRACE(options);
    EXPECT_EQ(describe(all_layers(options)), label);
    // The PPD layer ran, in full, before the job's options.
    const strings messages = log();
    ASSERT_GE(messages.size(), 13u);
    EXPECT_EQ(messages[0], "PPD=" + ppd_path());
    EXPECT_EQ(messages[12], "ppdfile MediaTracking:1");
  }
}

}  // namespace

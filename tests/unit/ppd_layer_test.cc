// The PPD defaults layer, run on real PPD files through libcups' PPD reader.
#include <string>
#include <vector>

#include "settings/settings.h"
#include "tests/unit/settings_fixture.h"

namespace {

using settings_fixture::describe;
using settings_fixture::distinctive_doc;
using strings = std::vector<std::string>;

class PpdLayer : public settings_fixture::layer_test {
 protected:
  /// Runs the layer on `doc` with a PPD holding `lines`; the log holds only
  /// this run's lines afterwards.
  pstops_doc run_with(const std::string& lines, pstops_doc doc = distinctive_doc()) {
    const std::string path = write_ppd(lines);
    setenv("PPD", path.c_str(), 1);
    restart_log();
    set_pstops_with_ppd(&doc);
    return doc;
  }

  /// The messages after "PPD=..." and "module_number:...".
  strings messages_after_header() const {
    strings messages = log_messages();
    if (messages.size() < 2) return messages;
    return strings(messages.begin() + 2, messages.end());
  }
};

pstops_doc with_size(int16_t width, int16_t height) {
  pstops_doc doc = distinctive_doc();
  doc.width = width;
  doc.height = height;
  return doc;
}

strings summary(const pstops_doc& doc) {
  return {"ppdfile PageSize:" + std::to_string(doc.width) + "x" + std::to_string(doc.height),
          "ppdfile Speed:" + std::to_string(doc.speed),
          "ppdfile Darkness:" + std::to_string(doc.darkness),
          "ppdfile MediaTracking:" + std::to_string(doc.mediaTracking)};
}

TEST_F(PpdLayer, WorkedExampleSetsRecordAndLogsEveryStepInOrder) {
  const std::string lines =
      "*DefaultPageSize: Custom.4x6in\n"
      "*DefaultDarkness: 8\n"
      "*DefaultPrintSpeed: 40\n"
      "*DefaultMediaTracking: 1\n";
  pstops_doc builtin{};
  builtin.width = 60;
  builtin.height = 40;
  builtin.speed = 4;
  builtin.darkness = 7;
  const pstops_doc doc = run_with(lines, builtin);

  pstops_doc expected = builtin;
  expected.width = 101;
  expected.height = 152;
  expected.darkness = 8;
  expected.speed = 4;
  expected.mediaTracking = 1;
  EXPECT_EQ(describe(doc), describe(expected));
  EXPECT_EQ(log_messages(),
            (strings{"PPD=" + dir_ + "/queue.ppd", "module_number:0",
                     "ppdfile DefaultPageSize:Custom.4x6in", "(src:wxh)|4.000000|6.000000|",
                     "(in:wxh)|101.600000|152.400000|", "ppdfile DefaultDarkness:8",
                     "ppdfile DefaultPrintSpeed:40", "ppdfile DefaultMediaTracking:1",
                     "ppdfile PageSize:101x152", "ppdfile Speed:4", "ppdfile Darkness:8",
                     "ppdfile MediaTracking:1"}));
}

struct custom_case {
  const char* value;
  int16_t width, height;
  const char* scanned;    // the "(src:wxh)" line
  const char* converted;  // the unit branch's line
};

// Every unit branch with its precision (the "pt" quotient, centimetres and
// metres are single precision: 0.7 cm is 7 mm, not 6), the search order, the
// metre fallback, truncation toward zero, 16-bit wrapping and the values no
// 32-bit integer can hold.
const custom_case kCustomSizes[] = {
    {"Custom.100x150mm", 100, 150, "|100.000000|150.000000|", "(mm:wxh)|100.000000|150.000000|"},
    {"Custom.100.9x50.2mm", 100, 50, "|100.900002|50.200001|", "(mm:wxh)|100.900002|50.200001|"},
    {"Custom.4x6in", 101, 152, "|4.000000|6.000000|", "(in:wxh)|101.600000|152.400000|"},
    {"Custom.288x432pt", 101, 152, "|288.000000|432.000000|", "(pt:wxh)|101.600000|152.400000|"},
    {"Custom.100.9x50.2pt", 35, 17, "|100.900002|50.200001|", "(pt:wxh)|35.595278|17.709445|"},
    {"Custom.100x200pt", 35, 70, "|100.000000|200.000000|", "(pt:wxh)|35.277776|70.555553|"},
    {"Custom.0.7x1.3cm", 7, 13, "|0.700000|1.300000|", "(cm:wxh)|7.000000|13.000000|"},
    {"Custom.0.03x0.06m", 30, 60, "|0.030000|0.060000|", "(m:wxh)|30.000000|60.000000|"},
    {"Custom.10x15cm", 100, 150, "|10.000000|15.000000|", "(cm:wxh)|100.000000|150.000000|"},
    {"Custom.0.5x0.5ft", 152, 152, "|0.500000|0.500000|", "(ft:wxh)|152.400000|152.400000|"},
    {"Custom.0.1x0.15m", 100, 150, "|0.100000|0.150000|", "(m:wxh)|100.000000|150.000000|"},
    {"Custom.0.2x0.1", 200, 100, "|0.200000|0.100000|", "(m:wxh)|200.000000|100.000000|"},
    // "pt" is searched before "in", anywhere in the value.
    {"Custom.72x144ptin", 25, 50, "|72.000000|144.000000|", "(pt:wxh)|25.400000|50.800000|"},
    {"Custom.abc", 0, 0, "|0.000000|0.000000|", "(m:wxh)|0.000000|0.000000|"},
    {"Custom.0.05", 50, 0, "|0.050000|0.000000|", "(m:wxh)|50.000000|0.000000|"},
    {"MyCustom.4x6in", 0, 0, "|0.000000|0.000000|", "(in:wxh)|0.000000|0.000000|"},
    {"Custom.-5.7x-0.5mm", -5, 0, "|-5.700000|-0.500000|", "(mm:wxh)|-5.700000|-0.500000|"},
    {"Custom.70000x65541mm", 4464, 5, "|70000.000000|65541.000000|",
     "(mm:wxh)|70000.000000|65541.000000|"},
    {"Custom.32768x50mm", -32768, 50, "|32768.000000|50.000000|",
     "(mm:wxh)|32768.000000|50.000000|"},
    {"Custom.50x40", -15536, -25536, "|50.000000|40.000000|", "(m:wxh)|50000.000000|40000.000000|"},
    // The largest single-precision number below 2^31 still truncates to an
    // integer; 2^31 itself and everything not finite give 0.
    {"Custom.2147483520x2147483647mm", -128, 0, "|2147483520.000000|2147483648.000000|",
     "(mm:wxh)|2147483520.000000|2147483648.000000|"},
    {"Custom.1e10x-1e10mm", 0, 0, "|10000000000.000000|-10000000000.000000|",
     "(mm:wxh)|10000000000.000000|-10000000000.000000|"},
    {"Custom.nanx5mm", 0, 5, "|nan|5.000000|", "(mm:wxh)|nan|5.000000|"},
    {"Custom.infx-infmm", 0, 0, "|inf|-inf|", "(mm:wxh)|inf|-inf|"},
};

TEST_F(PpdLayer, CustomDefaultSizeConvertsEveryUnitAndTruncates) {
  for (const custom_case& c : kCustomSizes) {
    SCOPED_TRACE(c.value);
    const pstops_doc doc = run_with(std::string("*DefaultPageSize: ") + c.value + "\n");
    const pstops_doc expected = with_size(c.width, c.height);
    EXPECT_EQ(describe(doc), describe(expected));
    strings want = {std::string("ppdfile DefaultPageSize:") + c.value,
                    std::string("(src:wxh)") + c.scanned, c.converted};
    for (const std::string& line : summary(expected)) want.push_back(line);
    EXPECT_EQ(messages_after_header(), want);
  }
}

struct named_case {
  const char* value;
  int16_t width, height;
};

// Names go through the size table only: an unknown name, or a known one in
// another case, leaves the earlier size and logs nothing of its own.
const named_case kNamedSizes[] = {
    {"w283h425", 100, 150}, {"w57h29", 20, 10},   {"w295h417", 104, 147},
    {"w283h426", 61, 41},   {"W283H425", 61, 41}, {"Letter", 61, 41},
};

TEST_F(PpdLayer, NamedDefaultSizeComesFromTheSizeTable) {
  for (const named_case& c : kNamedSizes) {
    SCOPED_TRACE(c.value);
    const pstops_doc doc = run_with(std::string("*DefaultPageSize: ") + c.value + "\n");
    const pstops_doc expected = with_size(c.width, c.height);
    EXPECT_EQ(describe(doc), describe(expected));
    strings want = {std::string("ppdfile DefaultPageSize:") + c.value};
    for (const std::string& line : summary(expected)) want.push_back(line);
    EXPECT_EQ(messages_after_header(), want);
  }
}

TEST_F(PpdLayer, UnknownNameLeavesTheBuiltInSizeInTheSummary) {
  pstops_doc builtin{};
  builtin.width = 60;
  builtin.height = 40;
  run_with("*DefaultPageSize: w283h426\n", builtin);
  const strings messages = log_messages();
  ASSERT_EQ(messages.size(), 7u);
  EXPECT_EQ(messages[3], "ppdfile PageSize:60x40");
}

struct numeric_case {
  const char* line;
  int16_t pstops_doc::*field;
  int16_t expected;
};

// atoi conversions, the speed's division toward zero and 16-bit wrapping.
const numeric_case kNumericDefaults[] = {
    {"*DefaultDarkness: 8", &pstops_doc::darkness, 8},
    {"*DefaultDarkness: abc", &pstops_doc::darkness, 0},
    {"*DefaultDarkness: 12abc", &pstops_doc::darkness, 12},
    {"*DefaultDarkness: \" 15\"", &pstops_doc::darkness, 15},
    {"*DefaultDarkness: 65541", &pstops_doc::darkness, 5},
    {"*DefaultPrintSpeed: 40", &pstops_doc::speed, 4},
    {"*DefaultPrintSpeed: 45", &pstops_doc::speed, 4},
    {"*DefaultPrintSpeed: 7", &pstops_doc::speed, 0},
    {"*DefaultPrintSpeed: -15", &pstops_doc::speed, -1},
    {"*DefaultPrintSpeed: 655410", &pstops_doc::speed, 5},
    {"*DefaultVertical: -5", &pstops_doc::vertical, -5},
    {"*DefaultVertical: 32768", &pstops_doc::vertical, -32768},
    {"*DefaultHorizontal: 120", &pstops_doc::horizontal, 120},
    {"*DefaultHorizontal: 65535", &pstops_doc::horizontal, -1},
    {"*DefaultMediaTracking: 1", &pstops_doc::mediaTracking, 1},
    {"*DefaultMediaTracking: none", &pstops_doc::mediaTracking, 0},
};

TEST_F(PpdLayer, NumericDefaultsConvertLikeAtoiAndKeepLow16Bits) {
  for (const numeric_case& c : kNumericDefaults) {
    SCOPED_TRACE(c.line);
    const pstops_doc doc = run_with(std::string(c.line) + "\n");
    pstops_doc expected = distinctive_doc();
    expected.*c.field = c.expected;
    EXPECT_EQ(describe(doc), describe(expected));
    const strings messages = messages_after_header();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0].rfind("ppdfile Default", 0), 0u) << messages[0];
  }
}

TEST_F(PpdLayer, AttributesAreReadInFixedOrderWhateverTheFileOrder) {
  const pstops_doc doc = run_with(
      "*DefaultMediaTracking: 3\n"
      "*DefaultHorizontal: -8\n"
      "*DefaultVertical: 12\n"
      "*DefaultPrintSpeed: 60\n"
      "*DefaultDarkness: 14\n"
      "*DefaultPageSize: w170h85\n"
      "*cupsModelNumber: 42\n");
  pstops_doc expected = with_size(60, 30);
  expected.mediaTracking = 3;
  expected.horizontal = -8;
  expected.vertical = 12;
  expected.speed = 6;
  expected.darkness = 14;
  EXPECT_EQ(describe(doc), describe(expected));
  EXPECT_EQ(
      log_messages(),
      (strings{"PPD=" + dir_ + "/queue.ppd", "module_number:42", "ppdfile DefaultPageSize:w170h85",
               "ppdfile DefaultDarkness:14", "ppdfile DefaultPrintSpeed:60",
               "ppdfile DefaultVertical:12", "ppdfile DefaultHorizontal:-8",
               "ppdfile DefaultMediaTracking:3", "ppdfile PageSize:60x30", "ppdfile Speed:6",
               "ppdfile Darkness:14", "ppdfile MediaTracking:3"}));
}

TEST_F(PpdLayer, PpdWithoutTheAttributesChangesNothingButLogsTheSummary) {
  const pstops_doc doc = run_with("*ModelName: \"Label 4\"\n*DefaultResolution: 203dpi\n");
  EXPECT_EQ(describe(doc), describe(distinctive_doc()));
  strings want = {"PPD=" + dir_ + "/queue.ppd", "module_number:0"};
  for (const std::string& line : summary(distinctive_doc())) want.push_back(line);
  EXPECT_EQ(log_messages(), want);
}

TEST_F(PpdLayer, NoUsablePpdLeavesTheRecordAndSaysSo) {
  struct no_ppd_case {
    const char* what;
    std::string path;  // empty: PPD unset
    std::string shown;
  };
  const std::string text_file = write_file("notes.txt", "not a PPD\n");
  const std::string empty_file = write_file("empty.ppd", "");
  const std::string missing = dir_ + "/missing.ppd";
  const no_ppd_case cases[] = {
      {"unset", "", "(null)"},
      {"missing", missing, missing},
      {"not a PPD", text_file, text_file},
      {"empty", empty_file, empty_file},
      {"a directory", dir_, dir_},
  };
  for (const no_ppd_case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.path.empty())
      unsetenv("PPD");
    else
      setenv("PPD", c.path.c_str(), 1);
    restart_log();
    pstops_doc doc = distinctive_doc();
    set_pstops_with_ppd(&doc);
    EXPECT_EQ(describe(doc), describe(distinctive_doc()));
    EXPECT_EQ(log_messages(), (strings{"PPD=" + c.shown, "can't param ppdfile"}));
  }
}

}  // namespace

// USB device IDs onto drivers: the models' own IDs, the label language's
// command set in a list, a site's rules before both, and what matches none.
#include "app/printer/device_ids.h"

#include <gtest/gtest.h>

namespace {

struct id_case {
  const char* id;
  const char* rules;
  const char* driver;  // null: none
};

constexpr char kRules[] =
    "# site rules\n"
    "\n"
    "someone-elses MFG:Acme;\n"
    "generic-300dpi MANUFACTURER:Acme;MDL:LP 3*;\n"
    "generic-203dpi CMD:ZPL\n";

constexpr id_case kCases[] = {
    {"MFG:Generic;MDL:Label Printer 300dpi;CMD:LBL;CLS:PRINTER;", "", "generic-300dpi"},
    {"MANUFACTURER:Generic;MODEL:Label Printer 300dpi;", "", "generic-300dpi"},
    {"MFG:Generic;MDL:Label Printer 203dpi;CMD:LBL;CLS:PRINTER;", "", "generic-203dpi"},
    {"MFG:Other;MDL:X1;COMMAND SET:PJL,LBL;", "", "generic-203dpi"},
    {"MFG:Other;MDL:X1;CMD:LBLX,PCL;", "", nullptr},
    {"MFG:HP;MDL:LaserJet;CMD:PCL,PJL;", "", nullptr},
    {"", "", nullptr},
    {"MFG:Acme;MDL:LP 300;CMD:LBL;", kRules, "generic-300dpi"},
    {"MFG:Acme;MDL:LP 200;CMD:LBL;", kRules, "generic-203dpi"},
    {"MFG:Acme;MDL:LP 300;", kRules, "generic-300dpi"},
    {"MFG:Acme;MDL:Q 9;CMD:EPL,ZPL;", kRules, "generic-203dpi"},
    {"MFG:Acme;MDL:Q 9;CMD:EPL;", kRules, nullptr},
    {"MFG:Generic;MDL:Label Printer 300dpi;", "generic-203dpi MFG:Generic", "generic-203dpi"},
};

TEST(DeviceIds, PickTheDriverFromTheTable) {
  for (const id_case& c : kCases) {
    const char* got = driver_for_device_id(c.id, c.rules);
    EXPECT_STREQ(got, c.driver) << "device ID \"" << c.id << "\"";
  }
}

}  // namespace

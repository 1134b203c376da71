// The queue's PPD defaults, applied over the built-in label values: the label
// size the administrator chose for the queue, darkness, speed, bitmap
// position, media tracking and the printer's choice options, each logged as
// it is read.
#include <cups/ppd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "log/log.h"
#include "settings/custom_size.h"
#include "settings/layers.h"

namespace {

// libcups marks its PPD reader deprecated in favour of IPP queries, but the
// PPD file the spooler names is the only view of the queue a filter has.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct ppd_closer {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using ppd_ptr = std::unique_ptr<ppd_file_t, ppd_closer>;

ppd_ptr open_ppd(const char* path) { return ppd_ptr(ppdOpenFile(path)); }

const ppd_attr_t* find_default(ppd_file_t* ppd, const char* name) {
  return ppdFindAttr(ppd, name, nullptr);
}
#pragma GCC diagnostic pop

// The reader stores an empty text for a keyword with nothing after its colon.
const char* value_of(const ppd_attr_t* attr) { return attr->value != nullptr ? attr->value : ""; }

struct numeric_default {
  const char* attribute;
  int16_t pstops_doc::*field;
  int divisor;  // speed choices are ten times the printer's SPEED number
};

constexpr numeric_default kNumericDefaults[] = {
    {"DefaultDarkness", &pstops_doc::darkness, 1},
    {"DefaultPrintSpeed", &pstops_doc::speed, 10},
    {"DefaultVertical", &pstops_doc::vertical, 1},
    {"DefaultHorizontal", &pstops_doc::horizontal, 1},
    {"DefaultMediaTracking", &pstops_doc::mediaTracking, 1},
};

// A custom default size may carry any of the PPD's length units; a value that
// names none is taken in metres.
void apply_custom_default(pstops_doc* doc, const char* value) {
  const custom_size::numbers scanned = custom_size::scan(value);
  WriteLog("(src:wxh)|%f|%f|", scanned.width, scanned.height);
  const custom_size::unit unit = custom_size::ppd_unit(value);
  const custom_size::millimetres mm = custom_size::to_millimetres(scanned, unit);
  WriteLog("(%s:wxh)|%f|%f|", custom_size::tag(unit), mm.width, mm.height);
  doc->width = low16(custom_size::truncate_to_int32(mm.width));
  doc->height = low16(custom_size::truncate_to_int32(mm.height));
}

void apply_default_page_size(pstops_doc* doc, ppd_file_t* ppd, ignored_values* ignored) {
  const ppd_attr_t* attr = find_default(ppd, "DefaultPageSize");
  if (attr == nullptr) return;
  const char* value = value_of(attr);
  WriteLog("ppdfile %s:%s", attr->name, value);
  apply_size_value(doc, value, true, apply_custom_default, ignored);
}

// The printer's choice options: a PPD from before they existed has none of
// them, and its queue prints as it always did.
void apply_default_choices(pstops_doc* doc, ppd_file_t* ppd, ignored_values* ignored) {
  for (const printer_option& option : kPrinterOptions) {
    const std::string name = std::string("Default") + option.name;
    const ppd_attr_t* attr = find_default(ppd, name.c_str());
    if (attr == nullptr) continue;
    WriteLog("ppdfile %s:%s", attr->name, value_of(attr));
    apply_choice(doc, option, value_of(attr), true, ignored);
  }
}

}  // namespace

void set_pstops_with_ppd(pstops_doc* doc) {
  ignored_values ignored;
  apply_ppd_defaults(doc, &ignored);
}

void apply_ppd_defaults(pstops_doc* doc, ignored_values* ignored) {
  // The spooler always sets PPD for a queue with a driver; a raw queue or a
  // filter run by hand may not.
  const char* path = std::getenv("PPD");
  WriteLog("PPD=%s", path != nullptr ? path : "(null)");
  const ppd_ptr ppd = path != nullptr ? open_ppd(path) : nullptr;
  if (ppd == nullptr) {
    WriteLog("can't param ppdfile");
    return;
  }
  WriteLog("module_number:%d", ppd->model_number);

  apply_default_page_size(doc, ppd.get(), ignored);
  for (const numeric_default& entry : kNumericDefaults) {
    const ppd_attr_t* attr = find_default(ppd.get(), entry.attribute);
    if (attr == nullptr) continue;
    const char* value = value_of(attr);
    WriteLog("ppdfile %s:%s", attr->name, value);
    doc->*entry.field = low16(std::atoi(value) / entry.divisor);
  }
  apply_default_choices(doc, ppd.get(), ignored);

  WriteLog("ppdfile PageSize:%dx%d", doc->width, doc->height);
  WriteLog("ppdfile Speed:%d", doc->speed);
  WriteLog("ppdfile Darkness:%d", doc->darkness);
  WriteLog("ppdfile MediaTracking:%d", doc->mediaTracking);
}

// Builds the job's label settings in layers: command line, built-in values,
// the queue's PPD defaults, then the options the job was submitted with; and
// tells the user what of it the printer cannot honour.
#include <cups/cups.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "log/log.h"
#include "settings/custom_size.h"
#include "settings/layers.h"

namespace {

// These keep the filter's established behaviour, which queues rely on: a
// custom size from the job (never one the queue offers by name) is raised to
// 11 mm, and its points become millimetres by dividing by 2.83, not 72 / 25.4.
constexpr int16_t kMinCustomMm = 11;
constexpr double kPointsPerMm = 2.83;

// The options a job can set, in the order each one is tested. "media" is what
// `lp -o media=...` and IPP clients send in place of "PageSize"; the printer's
// choice options follow.
enum job_option : int {
  kDarkness,
  kPrintSpeed,
  kHorizontal,
  kVertical,
  kMediaTracking,
  kPageSize,
  kMedia,
  kFirstChoiceOption,
  kJobOptionCount = kFirstChoiceOption + std::size(kPrinterOptions)
};

constexpr const char* job_option_name(int which) {
  constexpr const char* kNames[] = {"Darkness",      "PrintSpeed", "Horizontal", "Vertical",
                                    "MediaTracking", "PageSize",   "media"};
  return which < kFirstChoiceOption ? kNames[which]
                                    : kPrinterOptions[which - kFirstChoiceOption].name;
}

// The label a queue without a PPD prints on: 60 x 40 mm, DENSITY 7. Kept as
// the filter has always done; a queue with one of our PPDs starts from the
// PPD's defaults (settings/printer_models.h) instead.
void apply_builtin_values(pstops_doc* doc) {
  doc->width = 60;
  doc->height = 40;
  doc->speed = 4;
  doc->darkness = 7;
  doc->mediaTracking = 0;
}

// A custom size from the job. Without a unit, or in "pt", the numbers are
// points; a job that names "mm", "cm", "in", "ft" or "m" gets the size it
// asked for, converted as the PPD layer converts it, so that the label matches
// the raster CUPS made for the same size.
void apply_custom_job_size(pstops_doc* doc, const char* value) {
  const custom_size::numbers scanned = custom_size::scan(value);
  WriteLog("(wxh)|%f|%f|", scanned.width, scanned.height);
  const custom_size::unit unit = custom_size::job_unit(value, scanned);
  if (unit == custom_size::unit::kNone || unit == custom_size::unit::kPoint) {
    const double width_mm = scanned.width / kPointsPerMm;
    const double height_mm = scanned.height / kPointsPerMm;
    WriteLog("(wxh)|%f|%f|", width_mm, height_mm);
    doc->width = low16(custom_size::truncate_to_int32(width_mm + 0.5));
    doc->height = low16(custom_size::truncate_to_int32(height_mm));
  } else {
    const custom_size::millimetres mm = custom_size::to_millimetres(scanned, unit);
    WriteLog("(%s:wxh)|%f|%f|", custom_size::tag(unit), mm.width, mm.height);
    doc->width = low16(custom_size::truncate_to_int32(mm.width));
    doc->height = low16(custom_size::truncate_to_int32(mm.height));
  }
  if (doc->height <= kMinCustomMm) doc->height = kMinCustomMm;
  if (doc->width <= kMinCustomMm) doc->width = kMinCustomMm;
  WriteLog("(wxh)|%d|%d|", doc->width, doc->height);
}

void apply_page_size(pstops_doc* doc, const char* option_name, const char* value,
                     ignored_values* ignored) {
  WriteLog("996_PageSize=%s", option_name);
  WriteLog("997_page_size=%s", value);
  apply_size_value(doc, value, false, apply_custom_job_size, ignored);
}

// "media" lists the medium and may add a type or source ("w170h85,Roll"): the
// first element that is a label size of the queue, or a custom size, is it.
std::string media_size(const char* value) {
  std::string_view rest = value;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string element(rest.substr(0, comma));
    if (find_page_size(element.c_str()) != nullptr || element.starts_with("Custom."))
      return element;
    if (comma == std::string_view::npos) return {};
    rest.remove_prefix(comma + 1);
  }
}

void apply_job_option(pstops_doc* doc, int which, const cups_option_t& option,
                      ignored_values* ignored) {
  const char* value = option.value;
  if (which >= kFirstChoiceOption) {
    WriteLog("job %s=%s", option.name, value);
    apply_choice(doc, kPrinterOptions[which - kFirstChoiceOption], value, false, ignored);
    return;
  }
  switch (which) {
    case kDarkness:
      doc->darkness = low16(std::atoi(value));
      break;
    case kPrintSpeed:
      doc->speed = low16(std::atoi(value) / 10);
      WriteLog("doc->speed = %d", doc->speed);
      break;
    case kHorizontal:
      doc->horizontal = low16(std::atoi(value));
      break;
    case kVertical:
      doc->vertical = low16(std::atoi(value));
      break;
    case kMediaTracking:
      doc->mediaTracking = low16(std::atoi(value));
      WriteLog("doc->mediaTracking = %d", doc->mediaTracking);
      break;
    case kPageSize:
      apply_page_size(doc, option.name, value, ignored);
      break;
    case kMedia: {
      const std::string size = media_size(value);
      if (size.empty()) {
        WriteLog("media=%s names no label size", value);
        ignored->push_back({ignored_value::kMedia, nullptr, value, false});
      } else {
        apply_page_size(doc, option.name, size.c_str(), ignored);
      }
      break;
    }
  }
}

bool has_option(int num_options, const cups_option_t* options, const char* name) {
  for (int i = 0; i < num_options; ++i)
    if (std::strcmp(options[i].name, name) == 0) return true;
  return false;
}

// Options are visited in array order; the first one of each name supplies the
// value and later ones of the same name are ignored.
void apply_job_options(pstops_doc* doc, int num_options, const cups_option_t* options,
                       ignored_values* ignored) {
  bool taken[kJobOptionCount] = {};
  taken[kMedia] = has_option(num_options, options, "PageSize");
  for (int i = 0; i < num_options; ++i) {
    for (int which = 0; which < kJobOptionCount; ++which) {
      if (taken[which] || std::strcmp(options[i].name, job_option_name(which)) != 0) continue;
      taken[which] = true;
      apply_job_option(doc, which, options[i], ignored);
      break;
    }
  }
}

// One "WARNING: " line per value the printer cannot honour, naming what the
// job prints with instead; CUPS shows them with the job.
[[gnu::format(printf, 1, 2)]] void warn(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "WARNING: %s\n", line);
}

// A value is echoed as one line: CUPS would read the text after a line break
// in it as a message of its own (ATTR:, STATE:, ...).
constexpr size_t kShownValueBytes = 64;

void report(const pstops_doc& doc, const ignored_values& ignored) {
  for (const ignored_value& v : ignored) {
    const char* from = v.from_ppd ? "queue default" : "job option";
    const std::string value = escape_text(v.value, kShownValueBytes);
    if (v.what == ignored_value::kChoice)
      warn("Unknown %s \"%s\" (%s); printing with %s", v.option->name, value.c_str(), from,
           v.option->choices[static_cast<size_t>(doc.*v.option->field)].keyword);
    else if (v.what == ignored_value::kMedia)
      warn("Media \"%s\" (%s) names no label size of the printer; printing on %d x %d mm labels",
           value.c_str(), from, doc.width, doc.height);
    else
      warn("Unknown label size \"%s\" (%s); printing on %d x %d mm labels", value.c_str(), from,
           doc.width, doc.height);
  }
  if (doc.darkness < kMinDarkness || doc.darkness > kMaxDarkness)
    warn("Darkness %d is outside the printer's %d to %d; sent as it is", doc.darkness, kMinDarkness,
         kMaxDarkness);
}

}  // namespace

void apply_choice(pstops_doc* doc, const printer_option& option, const char* value, bool from_ppd,
                  ignored_values* ignored) {
  for (size_t i = 0; i < option.choices.size(); ++i) {
    if (std::strcmp(option.choices[i].keyword, value) == 0) {
      doc->*option.field = static_cast<int16_t>(i);
      return;
    }
  }
  ignored->push_back({ignored_value::kChoice, &option, value, from_ppd});
}

void set_pstops_options(pstops_doc* doc, char* argv[], int num_options, cups_option_s* options) {
  doc->jobId = std::atoi(argv[1]);
  doc->user = argv[2];
  doc->title = argv[3];
  doc->copies = std::atoi(argv[4]);
  apply_builtin_values(doc);
  ignored_values ignored;
  apply_ppd_defaults(doc, &ignored);
  apply_job_options(doc, num_options, options, &ignored);
  report(*doc, ignored);
}

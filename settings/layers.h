// Shared by the settings layers, not by their callers: what a layer could
// not honour, kept until the record is complete so that each report names
// what the job really prints with.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

/// A value a layer ignored: an unknown size name, a media list without a
/// label size, or an unknown choice of a printer option.
struct ignored_value {
  enum kind { kSizeName, kMedia, kChoice } what;
  const printer_option* option;  // for kChoice
  std::string value;
  bool from_ppd;
};

using ignored_values = std::vector<ignored_value>;

/// Applies a label size value: a custom size (any value naming "Custom")
/// through `apply_custom`, else a name of the size table; an unknown name
/// leaves the size as it was and is noted.
void apply_size_value(pstops_doc* doc, const char* value, bool from_ppd,
                      void (*apply_custom)(pstops_doc*, const char*), ignored_values* ignored);

/// The PPD layer, noting what it ignores.
void apply_ppd_defaults(pstops_doc* doc, ignored_values* ignored);

/// Sets the option's field to the index of the choice `value` names; an
/// unknown choice leaves the field as it was and is noted.
void apply_choice(pstops_doc* doc, const printer_option& option, const char* value, bool from_ppd,
                  ignored_values* ignored);

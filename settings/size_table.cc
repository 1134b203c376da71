// The named label sizes of the printer's PPD. The millimetres are the table's
// own: they are never computed from the points in a name (w100h34 is 35 x 12).
#include <cstring>

#include "settings/layers.h"

const page_size_entry g_page_list[kPageSizeCount] = {
    {"w57h29", 20, 10},     {"w68h34", 24, 12},     {"w68h39", 24, 14},     {"w71h43", 25, 15},
    {"w79h62", 28, 22},     {"w85h34", 30, 12},     {"w85h43", 30, 15},     {"w85h57", 30, 20},
    {"w85h71", 30, 25},     {"w85h105", 30, 37},    {"w85h114", 30, 40},    {"w85h142", 30, 50},
    {"w85h155", 30, 55},    {"w85h198", 30, 70},    {"w85h255", 30, 90},    {"w90h34", 32, 12},
    {"w90h71", 32, 25},     {"w100h34", 35, 12},    {"w100h57", 35, 20},    {"w100h71", 35, 25},
    {"w100h142", 35, 50},   {"w100h185", 35, 65},   {"w100h198", 35, 70},   {"w114h48", 40, 17},
    {"w114h57", 40, 20},    {"w114h85", 40, 30},    {"w114h100", 40, 35},   {"w114h130", 40, 46},
    {"w142h57", 50, 20},    {"w142h71", 50, 25},    {"w142h85", 50, 30},    {"w142h100", 50, 35},
    {"w142h114", 50, 40},   {"w142h144", 50, 50},   {"w154h114", 54, 40},   {"w154h150", 54, 53},
    {"w154h215", 54, 76},   {"w170h71", 60, 25},    {"w170h85", 60, 30},    {"w170h170", 60, 60},
    {"w170h198", 60, 70},   {"w170h312", 60, 110},  {"w227h85", 80, 30},    {"w227h142", 80, 50},
    {"w227h340", 80, 120},  {"w227h369", 80, 130},  {"w283h43", 100, 15},   {"w283h128", 100, 45},
    {"w283h142", 100, 50},  {"w283h170", 100, 60},  {"w283h198", 100, 70},  {"w283h227", 100, 80},
    {"w283h283", 100, 100}, {"w283h326", 100, 115}, {"w283h369", 100, 130}, {"w283h425", 100, 150},
    {"w283h595", 100, 210}, {"w295h417", 104, 147},
};

const page_size_entry* find_page_size(const char* name) {
  for (const page_size_entry& entry : g_page_list)
    if (std::strcmp(entry.name, name) == 0) return &entry;
  return nullptr;
}

void lookup_page_size(pstops_doc* doc, const char* name) {
  if (const page_size_entry* entry = find_page_size(name)) {
    doc->width = low16(entry->width);
    doc->height = low16(entry->height);
  }
}

void apply_size_value(pstops_doc* doc, const char* value, bool from_ppd,
                      void (*apply_custom)(pstops_doc*, const char*), ignored_values* ignored) {
  if (std::strstr(value, "Custom") != nullptr)
    apply_custom(doc, value);
  else if (find_page_size(value) != nullptr)
    lookup_page_size(doc, value);
  else
    ignored->push_back({ignored_value::kSizeName, nullptr, value, from_ppd});
}

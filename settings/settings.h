// Label settings: the record that carries the job's label size, speed, darkness
// and bitmap position to the renderer, the table of named label sizes, and the
// layers that fill the record (built-in values, PPD defaults, job options).
#pragma once

#include <cups/cups.h>

#include <cstdint>

/// The job's label settings; one per run, zero-filled by its owner. Label
/// numbers are signed 16-bit and every layer stores the low 16 bits of what it
/// computes. `user` and `title` borrow from the argument vector.
struct pstops_doc {
  int32_t jobId;
  const char* user;
  const char* title;
  int32_t copies;
  int16_t speed;
  int16_t darkness;
  int16_t mediaTracking;
  int16_t width;   // label width in whole millimetres
  int16_t height;  // label height in whole millimetres
  int16_t refX;
  int16_t refY;
  int16_t horizontal;  // bitmap position, passed to the printer unchanged
  int16_t vertical;
};

/// One named label size: "w<points>h<points>" and its size in millimetres.
struct page_size_entry {
  const char* name;
  int32_t width;
  int32_t height;
};

constexpr int kPageSizeCount = 58;

/// The named label sizes, in the order the queue's PPD offers them.
extern const page_size_entry g_page_list[kPageSizeCount];

/// Sets `doc->width` and `doc->height` from the first row whose name equals
/// `name` exactly; leaves them unchanged when no row matches.
void lookup_page_size(pstops_doc* doc, const char* name);

/// Applies the default choices of the PPD named by the `PPD` environment
/// variable over what `doc` holds. A missing PPD or attribute changes nothing.
void set_pstops_with_ppd(pstops_doc* doc);

/// Fills `doc` in layers: the command-line fields of `argv` (job id, user,
/// title, copies), the built-in label values, the PPD defaults, then the job
/// options as `cupsParseOptions` returned them. `argv` must hold at least six
/// entries; `doc` arrives zero-filled.
void set_pstops_options(pstops_doc* doc, char* argv[], int num_options, cups_option_t* options);

/// Stores the low 16 bits of a computed value, as every layer does.
constexpr int16_t low16(int32_t value) { return static_cast<int16_t>(value); }

// Label settings: the record that carries the job's label size, speed,
// darkness, media and bitmap position to the label writer, the table of named
// label sizes, the printer's choice options, and the layers that fill the
// record (built-in values, PPD defaults, job options).
#pragma once

#include <cstdint>
#include <iterator>
#include <span>

struct cups_option_s;  // libcups' option pair, as cupsParseOptions returns it

/// The choices of the printer options below, as the record stores them. Each
/// first choice is the default and keeps the established command stream.
enum media_type : int16_t { kMediaGap, kMediaMark, kMediaContinuous };
enum label_mode : int16_t { kTearOff, kPeelOff, kCutter, kCutterBatch };
enum print_direction : int16_t { kDirectionNormal, kDirectionReverse };
/// The screenings of the label core, the one list of them: the first five
/// are the filter's Dither choices (kDithers), in the PPD's order.
enum dither_method : int16_t {
  kDitherThreshold,  // the established fixed threshold, for text and barcodes
  kDitherOrdered8,
  kDitherClustered,
  kDitherOrdered16,
  kDitherDiffusion,  // for photographs
  kDitherAuto,       // lblprinter's default: near black and white sharp, mid-tones screened
};

/// The job's label settings; one per run, zero-filled by its owner. The name
/// and its camelCase fields are kept as the log's lines and earlier releases
/// know them: support notes and users' scripts quote them. Label
/// numbers are signed 16-bit and every layer stores the low 16 bits of what it
/// computes. `user` and `title` borrow from the argument vector.
struct pstops_doc {
  int32_t jobId;
  const char* user;
  const char* title;
  int32_t copies;
  int16_t speed;
  int16_t darkness;
  int16_t mediaTracking;  // read and logged; the printer is told by mediaType
  int16_t width;          // label width in whole millimetres
  int16_t height;         // label height in whole millimetres
  int16_t refX;
  int16_t refY;
  int16_t horizontal;  // bitmap position, passed to the printer unchanged
  int16_t vertical;
  int16_t mediaType;       // media_type
  int16_t labelMode;       // label_mode
  int16_t printDirection;  // print_direction
  int16_t dither;          // dither_method
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

/// The first row whose name equals `name` exactly, or null.
const page_size_entry* find_page_size(const char* name);

/// Sets `doc->width` and `doc->height` from the first row whose name equals
/// `name` exactly; leaves them unchanged when no row matches.
void lookup_page_size(pstops_doc* doc, const char* name);

/// One choice of a printer option: its keyword (the PPD choice and job option
/// value) and the name the print dialog shows.
struct option_choice {
  const char* keyword;
  const char* text;
};

/// A printer option that picks one of its choices: the PPD's Default<name>
/// and the job option <name>, stored in `field` as the choice's index.
struct printer_option {
  const char* name;
  const char* text;
  std::span<const option_choice> choices;
  int16_t pstops_doc::*field;
};

inline constexpr option_choice kMediaTypes[] = {{"Gap", "Labels with gaps"},
                                                {"Mark", "Labels with black marks"},
                                                {"Continuous", "Continuous roll"}};
inline constexpr option_choice kLabelModes[] = {{"TearOff", "Tear off"},
                                                {"PeelOff", "Peel off"},
                                                {"Cutter", "Cut each label"},
                                                {"CutterBatch", "Cut after the job"}};
inline constexpr option_choice kPrintDirections[] = {{"Normal", "Normal"},
                                                     {"Reverse", "Rotated 180 degrees"}};
inline constexpr option_choice kDithers[] = {{"Threshold", "Threshold (text and barcodes)"},
                                             {"Ordered8", "Ordered 8x8"},
                                             {"Clustered", "Clustered dots"},
                                             {"Ordered16", "Ordered 16x16"},
                                             {"Diffusion", "Error diffusion (photos)"}};
static_assert(std::size(kDithers) == kDitherAuto, "the filter offers every screening but auto");

inline constexpr printer_option kPrinterOptions[] = {
    {"MediaType", "Media Type", kMediaTypes, &pstops_doc::mediaType},
    {"LabelMode", "Label Mode", kLabelModes, &pstops_doc::labelMode},
    {"PrintDirection", "Print Direction", kPrintDirections, &pstops_doc::printDirection},
    {"Dither", "Dithering", kDithers, &pstops_doc::dither},
};

/// The printer's darkness levels: DENSITY 0 to 15.
inline constexpr int kMinDarkness = 0;
inline constexpr int kMaxDarkness = 15;

/// Applies the default choices of the PPD named by the `PPD` environment
/// variable over what `doc` holds. A missing PPD or attribute changes nothing.
void set_pstops_with_ppd(pstops_doc* doc);

/// Fills `doc` in layers: the command-line fields of `argv` (job id, user,
/// title, copies), the built-in label values, the PPD defaults, then the job
/// options as `cupsParseOptions` returned them. `argv` must hold at least six
/// entries; `doc` arrives zero-filled. What cannot be honoured is reported on
/// standard error as "WARNING: " lines.
void set_pstops_options(pstops_doc* doc, char* argv[], int num_options, cups_option_s* options);

/// Stores the low 16 bits of a computed value, as every layer does.
constexpr int16_t low16(int32_t value) { return static_cast<int16_t>(value); }

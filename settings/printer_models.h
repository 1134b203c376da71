// The label printer's two models and the limits both front ends offer: the
// PPDs (generated from this at build time) and the Printer Application's
// drivers say the same because they read the same table.
#pragma once

#include <cstdint>
#include <string>

/// One model: its names in the PPD and in the Printer Application, its head's
/// resolution and its speeds in inches per second (the SPEED number).
struct printer_model {
  const char* driver_name;  // the Printer Application's driver: "generic-203dpi"
  const char* model_name;   // after the maker: "Label Printer 203dpi"
  const char* ppd_name;     // "lbl203.ppd"
  int dpi;
  int min_speed, max_speed, default_speed;
};

inline constexpr char kPrinterMaker[] = "Generic";

/// The command set a printer of this label language names in its IEEE-1284
/// device ID (the CMD key).
inline constexpr char kCommandSet[] = "LBL";

inline constexpr printer_model kPrinterModels[] = {
    {"generic-203dpi", "Label Printer 203dpi", "lbl203.ppd", 203, 2, 6, 4},
    {"generic-300dpi", "Label Printer 300dpi", "lbl300.ppd", 300, 2, 4, 3},
};

/// The print head of both models: 108 mm of dots across the label.
inline constexpr int kHeadWidthMm = 108;

/// The IEEE-1284 device ID of `model`, as its PPD and the Printer
/// Application's driver list give it:
/// "MFG:Generic;MDL:Label Printer 203dpi;CMD:LBL;CLS:PRINTER;".
inline std::string device_id(const printer_model& model) {
  return std::string("MFG:") + kPrinterMaker + ";MDL:" + model.model_name + ";CMD:" + kCommandSet +
         ";CLS:PRINTER;";
}

/// Custom label sizes, from 20 x 10 mm to the head's width and 1 m of label.
inline constexpr int kMinLabelWidthMm = 20;
inline constexpr int kMinLabelHeightMm = 10;
inline constexpr int kMaxLabelWidthMm = kHeadWidthMm;
inline constexpr int kMaxLabelHeightMm = 1000;

/// The label size a new queue's PPD and a new lblprinter printer start with:
/// 100 x 150 mm. (A queue without a PPD prints on the filter's built-in
/// label instead, in settings/option_layer.cc.)
inline constexpr char kDefaultPageSize[] = "w283h425";

/// The darkness a new queue's PPD and a new lblprinter printer start with
/// (DENSITY 8).
inline constexpr int kDefaultDarkness = 8;

/// The bitmap offsets offered: whole millimetres up to this far either way.
inline constexpr int kMaxOffsetMm = 10;

/// IPP and PWG give lengths in hundredths of a millimetre: this many an inch.
inline constexpr int kHundredthsMmPerInch = 2540;

/// Whole dots per millimetre of a head: 8 at 203 dpi, 12 at 300 dpi.
constexpr int dots_per_mm(int dpi) {
  return (dpi * 100 + kHundredthsMmPerInch / 2) / kHundredthsMmPerInch;
}

/// Dots across `mm` millimetres at `dpi`, rounded up, so that a page exactly
/// as wide as the head (864 dots at 203 dpi) counts as fitting it.
constexpr uint64_t dots_across(int mm, int dpi) {
  return (static_cast<uint64_t>(mm) * static_cast<uint64_t>(dpi) * 10 + 253) / 254;
}

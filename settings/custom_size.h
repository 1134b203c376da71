// Custom label sizes, "Custom.<width>x<height>[unit]", as the queue's PPD and the
// job's options name them: the scan, the unit rules and the conversion to the
// whole millimetres of the settings record. Shared by the two settings layers.
#pragma once

#include <cstdint>

namespace custom_size {

/// The two numbers as scanned with "Custom.%fx%f": single precision, and 0 for
/// a number the scan does not reach. `end` is the offset just past the height,
/// or -1 when the height was not read.
struct numbers {
  float width = 0;
  float height = 0;
  int end = -1;
};

/// Scans `value` from its first byte, as the C library's `sscanf` does.
numbers scan(const char* value);

enum class unit { kMillimetre, kPoint, kCentimetre, kInch, kFoot, kMetre, kNone };

/// The PPD rule: the first of "mm", "pt", "cm", "in", "ft" found anywhere in
/// `value` (prefix and numbers included), otherwise metres. Never `kNone`.
unit ppd_unit(const char* value);

/// The job-option rule: the text right after the height, when it is exactly
/// "mm", "cm", "in", "ft", "m" or "pt"; `kNone` for no unit or any other text.
unit job_unit(const char* value, const numbers& scanned);

/// The unit as it appears in the log lines: "mm", "pt", "cm", "in", "ft", "m".
const char* tag(unit u);

/// Millimetres before truncation, exactly as the PPD layer computes them.
struct millimetres {
  double width;
  double height;
};

/// Converts with the filter's established precision: "pt" divides by 72 in
/// single precision, "cm" and metres scale in single precision, "in" and "ft"
/// multiply in double. `u` must not be `kNone`.
millimetres to_millimetres(const numbers& scanned, unit u);

/// Truncates toward zero to a 32-bit integer, as the filter always has. A NaN,
/// an infinity or a value whose truncation lies outside the 32-bit range has
/// no such integer; it gives 0, like a number that does not scan.
int32_t truncate_to_int32(double value);

}  // namespace custom_size

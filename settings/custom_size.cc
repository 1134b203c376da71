// Custom label sizes: scanning "Custom.<width>x<height>[unit]" and converting
// it to millimetres the way both settings layers need it.
#include "settings/custom_size.h"

#include <cstdio>
#include <cstring>

namespace custom_size {
namespace {

struct unit_text {
  const char* text;
  unit u;
};

// The order in which the PPD layer searches the value; the first found wins.
constexpr unit_text kPpdSearchOrder[] = {{"mm", unit::kMillimetre},
                                         {"pt", unit::kPoint},
                                         {"cm", unit::kCentimetre},
                                         {"in", unit::kInch},
                                         {"ft", unit::kFoot}};

// The units a job may write after the height, as CUPS spells them.
constexpr unit_text kJobUnits[] = {{"mm", unit::kMillimetre}, {"cm", unit::kCentimetre},
                                   {"in", unit::kInch},       {"ft", unit::kFoot},
                                   {"m", unit::kMetre},       {"pt", unit::kPoint}};

// The first double above and the last below the doubles that truncate into
// the signed 32-bit range; both are exact in double precision.
constexpr double kAboveInt32 = 2147483648.0;
constexpr double kBelowInt32 = -2147483649.0;

}  // namespace

numbers scan(const char* value) {
  numbers scanned;
  // %n is stored only once the height has been read, so `end` stays -1 for a
  // value that stops short; the scan's count is deliberately not consulted.
  std::sscanf(value, "Custom.%fx%f%n", &scanned.width, &scanned.height, &scanned.end);
  return scanned;
}

unit ppd_unit(const char* value) {
  for (const unit_text& candidate : kPpdSearchOrder)
    if (std::strstr(value, candidate.text) != nullptr) return candidate.u;
  return unit::kMetre;
}

unit job_unit(const char* value, const numbers& scanned) {
  if (scanned.end < 0) return unit::kNone;
  const char* rest = value + scanned.end;
  for (const unit_text& candidate : kJobUnits)
    if (std::strcmp(rest, candidate.text) == 0) return candidate.u;
  return unit::kNone;
}

const char* tag(unit u) {
  switch (u) {
    case unit::kMillimetre:
      return "mm";
    case unit::kPoint:
      return "pt";
    case unit::kCentimetre:
      return "cm";
    case unit::kInch:
      return "in";
    case unit::kFoot:
      return "ft";
    case unit::kMetre:
    case unit::kNone:
      break;
  }
  return "m";
}

millimetres to_millimetres(const numbers& scanned, unit u) {
  const float w = scanned.width;
  const float h = scanned.height;
  switch (u) {
    case unit::kMillimetre:
      return {w, h};
    case unit::kPoint:
      return {static_cast<float>(w / 72.0f) * 25.4, static_cast<float>(h / 72.0f) * 25.4};
    case unit::kCentimetre:
      return {static_cast<float>(10.0f * w), static_cast<float>(10.0f * h)};
    case unit::kInch:
      return {w * 25.4, h * 25.4};
    case unit::kFoot:
      return {w * 304.8, h * 304.8};
    case unit::kMetre:
    case unit::kNone:
      break;
  }
  return {static_cast<float>(1000.0f * w), static_cast<float>(1000.0f * h)};
}

int32_t truncate_to_int32(double value) {
  // Written so that a NaN fails the test as well.
  if (!(value > kBelowInt32 && value < kAboveInt32)) return 0;
  return static_cast<int32_t>(value);
}

}  // namespace custom_size

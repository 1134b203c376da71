// The label command stream: the only bytes the filter sends to the printer.
// One page is a run of CR LF text lines (label geometry and print settings),
// a BITMAP command carrying the packed page, and a PRINT command. The renderer
// writes it and lblview reads it, both from the definitions here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace label_stream {

inline constexpr char kLineEnd[] = "\r\n";

// The setup lines, in the order the printer must see them. Lines with numbers
// are formatted with printf; the others are sent as they are.
inline constexpr char kSizeFormat[] = "SIZE %dmm,%dmm\r\n";        // width, height
inline constexpr char kGapLine[] = "GAP 0.120,0.000\r\n";          //
inline constexpr char kSpeedFormat[] = "SPEED %d\r\n";             // speed
inline constexpr char kDensityFormat[] = "DENSITY %d\r\n";         // darkness
inline constexpr char kDirectionLine[] = "DIRECTION 0,0\r\n";      //
inline constexpr char kReferenceFormat[] = "REFERENCE %d,%d\r\n";  // x, y
inline constexpr char kOffsetLine[] = "OFFSET 0.000\r\n";
inline constexpr char kShiftLine[] = "SHIFT 0\r\n";
inline constexpr char kPeelLine[] = "SET PEEL OFF\r\n";
inline constexpr char kCutterLine[] = "SET CUTTER OFF\r\n";
inline constexpr char kPartialCutterLine[] = "SET PARTIAL_CUTTER OFF\r\n";
inline constexpr char kTearLine[] = "SET TEAR ON\r\n";
inline constexpr char kClearLine[] = "CLS\r\n";

// "BITMAP x,y,bytes-per-row,rows,1," is followed directly by the payload, then
// CR LF. The 1 selects the overwrite mode.
inline constexpr char kBitmapFormat[] = "BITMAP %d,%d,%d,%d,1,";
inline constexpr char kPrintFormat[] = "PRINT 1,%d\r\n";  // copies

/// The printer command names. A command's line starts with its name and a space,
/// except CLS, which stands alone.
inline constexpr char kBitmapCommand[] = "BITMAP";
inline constexpr char kPrintCommand[] = "PRINT";

/// One setup line: the command it carries and the text sent, a printf format
/// (only %d conversions) when the line has numbers.
struct setup_line {
  const char* command;
  const char* text;
};

/// The setup lines, in the order the renderer sends them before the BITMAP.
inline constexpr setup_line kSetupLines[] = {
    {"SIZE", kSizeFormat},
    {"GAP", kGapLine},
    {"SPEED", kSpeedFormat},
    {"DENSITY", kDensityFormat},
    {"DIRECTION", kDirectionLine},
    {"REFERENCE", kReferenceFormat},
    {"OFFSET", kOffsetLine},
    {"SHIFT", kShiftLine},
    {"SET PEEL", kPeelLine},
    {"SET CUTTER", kCutterLine},
    {"SET PARTIAL_CUTTER", kPartialCutterLine},
    {"SET TEAR", kTearLine},
    {"CLS", kClearLine},
};

/// Label settings (size, speed, density, positions) are the printer's signed
/// 16-bit numbers; the renderer widens them to int for formatting.
inline constexpr int kMinSettingNumber = -32768;
inline constexpr int kMaxSettingNumber = 32767;

/// Formatted lines go through a buffer of this size.
inline constexpr size_t kLineBufferSize = 256;
/// The BITMAP header has its own buffer: at most 31 characters.
inline constexpr size_t kBitmapHeaderBufferSize = 32;

/// Bytes of one packed row of `dots` dots.
constexpr uint64_t packed_row_bytes(uint64_t dots) { return (dots + 7) >> 3; }

/// Mask of dot `x` within its byte: the leftmost dot is the most significant bit.
constexpr uint8_t dot_mask(uint64_t x) { return static_cast<uint8_t>(0x80u >> (x & 7)); }

/// On the wire a 0 bit prints a dot and a 1 bit leaves the label blank.
constexpr bool wire_dot_printed(const uint8_t* row, uint64_t x) {
  return (row[x >> 3] & dot_mask(x)) == 0;
}

/// Turns a packed byte whose set bits are dark dots into its wire form.
constexpr uint8_t to_wire(uint8_t dark_bits) { return static_cast<uint8_t>(~dark_bits); }

}  // namespace label_stream

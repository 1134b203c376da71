// The label command stream: the only bytes sent to the printer. One page is a
// run of CR LF text lines (label geometry and print settings), a BITMAP
// command carrying the packed page, and a PRINT command. The label writer
// writes it and lblview reads it, both from the definitions here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "settings/settings.h"

namespace label_stream {

/// The stream's media type, as the spooler and IPP name it.
inline constexpr char kMimeType[] = "application/vnd.lblfilter-label";

inline constexpr char kLineEnd[] = "\r\n";

/// One setup line: its command, the text sent (a printf format with only %d
/// conversions when the line has numbers), and the record fields behind it.
/// A line the printer's choice options change has one text per choice of
/// `choice`, indexed by the choice.
struct setup_line {
  const char* command;
  std::array<const char*, 5> texts;
  int16_t pstops_doc::*choice;
  std::array<int16_t pstops_doc::*, 2> numbers;  // the %d fields, in order
};

/// The setup lines, in the order the printer must see them before the BITMAP.
inline constexpr setup_line kSetupLines[] = {
    {"SIZE", {"SIZE %dmm,%dmm\r\n"}, nullptr, {&pstops_doc::width, &pstops_doc::height}},
    {"GAP",
     {"GAP 0.120,0.000\r\n", "BLINE 0.120,0.000\r\n", "GAP 0,0\r\n"},  // by media_type
     &pstops_doc::mediaType,
     {}},
    {"SPEED", {"SPEED %d\r\n"}, nullptr, {&pstops_doc::speed}},
    {"DENSITY", {"DENSITY %d\r\n"}, nullptr, {&pstops_doc::darkness}},
    {"DIRECTION",
     {"DIRECTION 0,0\r\n", "DIRECTION 1,0\r\n"},  // by print_direction
     &pstops_doc::printDirection,
     {}},
    {"REFERENCE", {"REFERENCE %d,%d\r\n"}, nullptr, {&pstops_doc::refX, &pstops_doc::refY}},
    {"OFFSET", {"OFFSET 0.000\r\n"}, nullptr, {}},
    {"SHIFT", {"SHIFT 0\r\n"}, nullptr, {}},
    // The label mode (label_mode) sets the peel, cutter and tear switches.
    {"SET PEEL",
     {"SET PEEL OFF\r\n", "SET PEEL ON\r\n", "SET PEEL OFF\r\n", "SET PEEL OFF\r\n"},
     &pstops_doc::labelMode,
     {}},
    {"SET CUTTER",
     {"SET CUTTER OFF\r\n", "SET CUTTER OFF\r\n", "SET CUTTER 1\r\n", "SET CUTTER BATCH\r\n"},
     &pstops_doc::labelMode,
     {}},
    {"SET PARTIAL_CUTTER", {"SET PARTIAL_CUTTER OFF\r\n"}, nullptr, {}},
    {"SET TEAR",
     {"SET TEAR ON\r\n", "SET TEAR OFF\r\n", "SET TEAR OFF\r\n", "SET TEAR OFF\r\n"},
     &pstops_doc::labelMode,
     {}},
    {"CLS", {"CLS\r\n"}, nullptr, {}},
};

/// Whether `doc`'s choice is one the setup line has a text for.
constexpr bool choice_known(const setup_line& line, const pstops_doc& doc) {
  if (line.choice == nullptr) return true;
  const int choice = doc.*line.choice;
  return choice >= 0 && static_cast<size_t>(choice) < line.texts.size() &&
         line.texts[static_cast<size_t>(choice)] != nullptr;
}

/// The text a setup line sends for `doc`'s choice, which must be known.
constexpr const char* text_for(const setup_line& line, const pstops_doc& doc) {
  return line.choice == nullptr ? line.texts[0] : line.texts[static_cast<size_t>(doc.*line.choice)];
}

// "BITMAP x,y,bytes-per-row,rows,1," is followed directly by the payload, then
// CR LF. The 1 selects the overwrite mode.
inline constexpr char kBitmapCommand[] = "BITMAP";
inline constexpr char kBitmapFormat[] = "BITMAP %d,%d,%d,%d,1,";
inline constexpr char kPrintCommand[] = "PRINT";
inline constexpr char kPrintFormat[] = "PRINT 1,%d\r\n";  // copies

/// The copies a PRINT line carries: a count below one (a header's 0, or
/// 2^32-1 read as -1) would print nothing or confuse the printer, so it
/// prints once.
constexpr int printable_copies(int copies) { return copies < 1 ? 1 : copies; }

/// The printer talks back on a two-way link (USB, TCP port 9100): it answers
/// the status query at any time, even in an error state, with one byte whose
/// bits are below (0 is ready).
inline constexpr char kStatusQuery[] = "\x1b!?";  // ESC ! ?, three bytes
inline constexpr size_t kStatusQuerySize = 3;
inline constexpr uint8_t kStatusHeadOpen = 0x01;
inline constexpr uint8_t kStatusPaperJam = 0x02;
inline constexpr uint8_t kStatusOutOfPaper = 0x04;
inline constexpr uint8_t kStatusOutOfRibbon = 0x08;
inline constexpr uint8_t kStatusPaused = 0x10;
inline constexpr uint8_t kStatusPrinting = 0x20;
inline constexpr uint8_t kStatusCoverOpen = 0x40;    // some models
inline constexpr uint8_t kStatusTemperature = 0x80;  // head temperature out of range, some models

/// Sounds the buzzer (SOUND level,interval): how a printer says where it is.
inline constexpr char kSoundCommand[] = "SOUND 5,100\r\n";

/// Calibrates the media sensor by feeding a few labels, by media_type: gap
/// stock, black-mark stock, and for a continuous roll the printer's own
/// detection of what is loaded.
inline constexpr const char* kCalibrateCommands[] = {"GAPDETECT\r\n", "BLINEDETECT\r\n",
                                                     "AUTODETECT\r\n"};
static_assert(std::size(kCalibrateCommands) == std::size(kMediaTypes));

/// Label settings (size, speed, density, positions) are the printer's signed
/// 16-bit numbers; the writer widens them to int for formatting.
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

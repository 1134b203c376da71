// The label stream read back: each page must be the exact command sequence
// the filter writes, byte for byte where the text is fixed and as printf's %d
// writes where it carries numbers.
#include "render/stream_parser.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "log/log.h"
#include "render/label_stream.h"

namespace label_stream {
namespace {

// Bytes as they appear in a fault message: in quotes, control bytes escaped.
// (Built by appending: g++ 12 misreads '"' + string + '"' as an overlapping copy.)
std::string quoted(std::span<const uint8_t> bytes) {
  std::string out = "\"";
  out += escape_bytes(bytes);
  out += '"';
  return out;
}

// A message shows this many bytes of what was found instead.
constexpr size_t kShownBytes = 16;
// printf writes an int in at most ten digits.
constexpr size_t kMaxDigits = 10;

constexpr bool starts_with(const char* text, const char* prefix) {
  return std::string_view(text).starts_with(prefix);
}

// Every line but a media line's black-mark form begins with its command's
// name: messages name a command by what its line starts with.
constexpr bool lines_start_with_their_command() {
  for (const setup_line& line : kSetupLines) {
    if (!starts_with(line.texts[0], line.command)) return false;
  }
  return starts_with(kBitmapFormat, kBitmapCommand) && starts_with(kPrintFormat, kPrintCommand);
}
static_assert(lines_start_with_their_command());

struct failure {
  size_t offset = 0;
  std::string message;
};

// What one command's text gave: the numbers of its %d fields and where each
// one starts.
struct matched_line {
  int numbers[4] = {};
  size_t number_offsets[4] = {};
  int count = 0;
};

class stream_reader {
 public:
  // `bytes` may be a window of a longer stream: `beyond` bytes follow it.
  explicit stream_reader(std::span<const uint8_t> bytes, uint64_t beyond = 0)
      : bytes_(bytes), beyond_(beyond) {}

  size_t pos() const { return pos_; }
  void rewind_to(size_t at) { pos_ = at; }
  uint64_t remaining() const { return bytes_.size() - pos_ + beyond_; }
  bool at_end() const { return pos_ == bytes_.size(); }
  std::span<const uint8_t> take(size_t n) {
    std::span<const uint8_t> taken = bytes_.subspan(pos_, n);
    pos_ += n;
    return taken;
  }

  // Matches `format` (literal text and %d fields) at the current position for
  // the command `command`. On success the position moves past the text.
  [[nodiscard]] bool match(const char* format, const char* command, matched_line* line,
                           failure* fail) {
    const size_t line_start = pos_;
    for (const char* f = format; *f != '\0';) {
      if (f[0] == '%' && f[1] == 'd') {
        if (line->count == 4) return internal_fault(fail);
        line->number_offsets[line->count] = pos_;
        if (!read_number(&line->numbers[line->count], command, fail)) return false;
        ++line->count;
        f += 2;
        continue;
      }
      const char* run_end = std::strchr(f, '%');
      if (run_end == nullptr) run_end = f + std::strlen(f);
      for (const char* c = f; c != run_end; ++c) {
        if (at_end()) {
          *fail = ends_inside(command);
          return false;
        }
        if (bytes_[pos_] != static_cast<uint8_t>(*c)) {
          *fail = {pos_, mismatch(line_start, command, c, run_end)};
          return false;
        }
        ++pos_;
      }
      f = run_end;
    }
    return true;
  }

  [[nodiscard]] failure found_instead(size_t at, const std::string& expected) const {
    return {at, "expected " + expected + ", found " + shown(at)};
  }

 private:
  // A decimal number as printf's %d writes an int: an optional minus sign,
  // then digits without a leading zero; never "-0".
  [[nodiscard]] bool read_number(int* value, const char* command, failure* fail) {
    const size_t start = pos_;
    size_t p = pos_;
    const bool negative = p < bytes_.size() && bytes_[p] == '-';
    if (negative) ++p;
    const size_t digits_start = p;
    while (p < bytes_.size() && bytes_[p] >= '0' && bytes_[p] <= '9') ++p;
    const size_t digits = p - digits_start;
    // A damaged stream can hold any run of digits: messages show its start.
    std::string text(reinterpret_cast<const char*>(bytes_.data()) + start,
                     std::min(p - start, kShownBytes));
    if (p - start > kShownBytes) text += "...";
    if (digits == 0 && digits_start == bytes_.size()) {
      *fail = ends_inside(command);
      return false;
    }
    if (digits == 0) {
      *fail = found_instead(digits_start, "a number");
      return false;
    }
    if (digits > 1 && bytes_[digits_start] == '0') {
      *fail = {digits_start, "number \"" + text + "\" has a leading zero"};
      return false;
    }
    if (negative && digits == 1 && bytes_[digits_start] == '0') {
      *fail = {start, "number \"-0\" has a minus sign on zero"};
      return false;
    }
    int64_t magnitude = 0;
    for (size_t i = digits_start; i < p && i - digits_start < kMaxDigits + 1; ++i) {
      magnitude = magnitude * 10 + (bytes_[i] - '0');
    }
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (digits > kMaxDigits || signed_value < INT_MIN || signed_value > INT_MAX) {
      *fail = {start, "number \"" + text + "\" does not fit in an int"};
      return false;
    }
    *value = static_cast<int>(signed_value);
    pos_ = p;
    return true;
  }

  // Which command a line starts with, if any: a name followed by a space or,
  // for commands without parameters, by the line end.
  const char* command_at(size_t at) const {
    const std::string_view rest(reinterpret_cast<const char*>(bytes_.data()) + at,
                                bytes_.size() - at);
    auto names = [&](const char* name) {
      const std::string_view n(name);
      return rest.starts_with(n) && rest.size() > n.size() &&
             (rest[n.size()] == ' ' || rest[n.size()] == '\r');
    };
    for (const setup_line& line : kSetupLines) {
      if (names(line.command)) return line.command;
    }
    if (names(kBitmapCommand)) return kBitmapCommand;
    if (names(kPrintCommand)) return kPrintCommand;
    return nullptr;
  }

  std::string mismatch(size_t line_start, const char* command, const char* expected,
                       const char* expected_end) const {
    // A wrong byte inside the command's name is most often a line that is
    // missing or out of place: say which command stands there instead.
    if (pos_ < line_start + std::strlen(command)) {
      const char* other = command_at(line_start);
      if (other != nullptr && std::strcmp(other, command) != 0) {
        return std::string("found the ") + other + " command where " + command + " belongs";
      }
    }
    const std::span<const uint8_t> want(reinterpret_cast<const uint8_t*>(expected),
                                        static_cast<size_t>(expected_end - expected));
    return found_instead(pos_, quoted(want)).message;
  }

  std::string shown(size_t at) const {
    if (at >= bytes_.size()) return "the end of the stream";
    size_t n = std::min(kShownBytes, bytes_.size() - at);
    // Stop after the first line end: the next line is another command.
    for (size_t i = 0; i < n; ++i) {
      if (bytes_[at + i] == '\n') n = i + 1;
    }
    return quoted(bytes_.subspan(at, n));
  }

  failure ends_inside(const char* command) const {
    return {bytes_.size(), std::string("the stream ends inside the ") + command + " command"};
  }

  bool internal_fault(failure* fail) const {
    *fail = {pos_, "too many numbers in one command"};
    return false;
  }

  std::span<const uint8_t> bytes_;
  uint64_t beyond_;
  size_t pos_ = 0;
};

bool is_setting_number(int value) {
  return value >= kMinSettingNumber && value <= kMaxSettingNumber;
}

// The label settings come from the filter's 16-bit settings: anything wider
// did not come from the filter.
[[nodiscard]] bool check_settings_range(const matched_line& line, int first, int count,
                                        failure* fail) {
  for (int i = first; i < first + count && i < line.count; ++i) {
    if (!is_setting_number(line.numbers[i])) {
      *fail = {line.number_offsets[i],
               "number " + std::to_string(line.numbers[i]) + " is outside the printer's range " +
                   std::to_string(kMinSettingNumber) + " to " + std::to_string(kMaxSettingNumber)};
      return false;
    }
  }
  return true;
}

// Matches one setup line in any of the forms `choices` (a bit per choice)
// still allows; on success narrows `choices` to those whose form it is. A
// mismatch reports the form that matched furthest.
[[nodiscard]] bool read_setup_line(stream_reader& in, const setup_line& setup, unsigned* choices,
                                   matched_line* line, failure* fail) {
  const size_t start = in.pos();
  failure furthest;
  for (size_t i = 0; i < setup.texts.size(); ++i) {
    if (setup.texts[i] == nullptr || (*choices & (1u << i)) == 0) continue;
    failure missed;
    if (in.match(setup.texts[i], setup.command, line, &missed)) {
      unsigned same_form = 0;
      for (size_t j = 0; j < setup.texts.size(); ++j)
        if (setup.texts[j] != nullptr && std::strcmp(setup.texts[j], setup.texts[i]) == 0)
          same_form |= 1u << j;
      *choices &= same_form;
      return true;
    }
    in.rewind_to(start);
    *line = {};
    if (furthest.message.empty() || missed.offset > furthest.offset) furthest = missed;
  }
  *fail = furthest;
  return false;
}

// The BITMAP command's header, up to its payload of exactly bytes-per-row x
// rows bytes, which must lie within the stream.
[[nodiscard]] bool read_bitmap_header(stream_reader& in, page* out, failure* fail) {
  const size_t header_start = in.pos();
  matched_line header;
  if (!in.match(kBitmapFormat, kBitmapCommand, &header, fail)) return false;
  if (!check_settings_range(header, 0, 2, fail)) return false;
  static constexpr const char* kFieldNames[] = {"", "", "bytes per row", "rows"};
  for (int i = 2; i < 4; ++i) {
    if (header.numbers[i] < 1) {
      *fail = {header.number_offsets[i], std::string(kFieldNames[i]) + " must be at least 1, not " +
                                             std::to_string(header.numbers[i])};
      return false;
    }
  }
  // The filter formats the header into a fixed buffer and refuses a page
  // whose header would not fit it.
  const size_t header_length = in.pos() - header_start;
  if (header_length >= kBitmapHeaderBufferSize) {
    *fail = {header_start, "BITMAP header is " + std::to_string(header_length) +
                               " characters; the filter's holds at most " +
                               std::to_string(kBitmapHeaderBufferSize - 1)};
    return false;
  }
  out->settings.horizontal = low16(header.numbers[0]);
  out->settings.vertical = low16(header.numbers[1]);
  out->bytes_per_row = header.numbers[2];
  out->rows = header.numbers[3];

  const uint64_t payload_size =
      static_cast<uint64_t>(out->bytes_per_row) * static_cast<uint64_t>(out->rows);
  out->payload_offset = in.pos();
  if (payload_size > in.remaining()) {
    *fail = {in.pos(), "payload of " + std::to_string(payload_size) + " bytes (" +
                           std::to_string(out->bytes_per_row) + " x " + std::to_string(out->rows) +
                           ") runs past the end of the stream: " + std::to_string(in.remaining()) +
                           " bytes remain"};
    return false;
  }
  return true;
}

uint64_t payload_size(const page& p) {
  return static_cast<uint64_t>(p.bytes_per_row) * static_cast<uint64_t>(p.rows);
}

// After the payload: the BITMAP command's CR LF, then the PRINT line.
[[nodiscard]] bool read_page_tail(stream_reader& in, page* out, const char** command,
                                  failure* fail) {
  // The payload's length is known, so whatever follows it must be the line end.
  const size_t end_at = in.pos();
  matched_line line_end;
  if (!in.match(kLineEnd, kBitmapCommand, &line_end, fail)) {
    // The offset stays at the wrong byte; the message shows the bytes from
    // where the line end belongs.
    fail->message =
        in.found_instead(end_at,
                         "CR LF after the " + std::to_string(payload_size(*out)) + "-byte payload")
            .message;
    return false;
  }
  *command = kPrintCommand;
  matched_line print;
  if (!in.match(kPrintFormat, kPrintCommand, &print, fail)) return false;
  if (print.numbers[0] != printable_copies(print.numbers[0])) {
    *fail = {print.number_offsets[0],
             "copies must be at least 1, not " + std::to_string(print.numbers[0])};
    return false;
  }
  out->copies = print.numbers[0];
  return true;
}

// The setup lines and the BITMAP header: the page up to its payload.
[[nodiscard]] bool read_page_head(stream_reader& in, page* out, const char** command,
                                  failure* fail) {
  // The choices each choice field may still hold: the label mode shows in
  // three lines, which must agree.
  std::vector<std::pair<int16_t pstops_doc::*, unsigned>> choices;
  for (const setup_line& setup : kSetupLines) {
    *command = setup.command;
    auto field = std::find_if(choices.begin(), choices.end(),
                              [&](const auto& c) { return c.first == setup.choice; });
    if (field == choices.end()) field = choices.insert(choices.end(), {setup.choice, ~0u});
    matched_line line;
    if (!read_setup_line(in, setup, &field->second, &line, fail)) return false;
    if (!check_settings_range(line, 0, line.count, fail)) return false;
    for (int i = 0; i < line.count; ++i) out->settings.*setup.numbers[i] = low16(line.numbers[i]);
  }
  for (const auto& [field, allowed] : choices)
    if (field != nullptr) out->settings.*field = static_cast<int16_t>(std::countr_zero(allowed));

  *command = kBitmapCommand;
  return read_bitmap_header(in, out, fail);
}

}  // namespace

bool parse_stream(std::span<const uint8_t> bytes, std::vector<page>* pages, parse_error* error) {
  stream_reader in(bytes);
  // Pages follow one another with nothing between them, to the last byte.
  for (int number = 1; !in.at_end(); ++number) {
    page next;
    next.number = number;
    next.offset = in.pos();
    const char* command = kSetupLines[0].command;
    failure fail;
    bool whole = read_page_head(in, &next, &command, &fail);
    if (whole) {
      next.payload = in.take(static_cast<size_t>(payload_size(next)));
      whole = read_page_tail(in, &next, &command, &fail);
    }
    if (!whole) {
      *error = {number, command, fail.offset, std::move(fail.message)};
      return false;
    }
    next.length = in.pos() - next.offset;
    pages->push_back(std::move(next));
  }
  return true;
}

bool check_stream(const stream_read_fn& read, uint64_t size, parse_error* error,
                  const std::function<bool(const page&)>& each_page) {
  // A page's command lines take a few hundred bytes and its PRINT line a few
  // dozen: these windows hold them with room to spare, and a fault inside
  // them is found before their end.
  constexpr size_t kHeadWindow = 4096, kTailWindow = 64;
  uint8_t window[kHeadWindow];
  // Reads the window at `at`; false, with the fault, when the source fails.
  auto read_window = [&](uint64_t at, size_t want, int number, const char* command,
                         std::span<const uint8_t>* got) {
    const int64_t n = read(at, window, static_cast<size_t>(std::min<uint64_t>(want, size - at)));
    if (n < 0) *error = {number, command, static_cast<size_t>(at), "the stream cannot be read"};
    *got = {window, static_cast<size_t>(std::max<int64_t>(n, 0))};
    return n >= 0;
  };
  uint64_t offset = 0;
  for (int number = 1; offset < size; ++number) {
    page next;
    next.number = number;
    next.offset = static_cast<size_t>(offset);
    const char* command = kSetupLines[0].command;
    failure fail;
    std::span<const uint8_t> bytes;
    if (!read_window(offset, kHeadWindow, number, command, &bytes)) return false;
    stream_reader head(bytes, size - offset - bytes.size());
    uint64_t at = offset;  // where the reader's window starts
    bool whole = read_page_head(head, &next, &command, &fail);
    if (whole) {
      next.payload_offset = static_cast<size_t>(offset + head.pos());
      at = next.payload_offset + payload_size(next);
      if (!read_window(at, kTailWindow, number, command, &bytes)) return false;
      stream_reader tail(bytes, size - at - bytes.size());
      whole = read_page_tail(tail, &next, &command, &fail);
      next.length = static_cast<size_t>(at + tail.pos() - offset);
    }
    if (!whole) {
      *error = {number, command, static_cast<size_t>(at + fail.offset), std::move(fail.message)};
      return false;
    }
    if (each_page && !each_page(next)) return false;
    offset += next.length;
  }
  return true;
}

std::string fault_message(const parse_error& error) {
  return "page " + std::to_string(error.page) + ", " + error.command + ", byte " +
         std::to_string(error.offset) + ": " + error.message;
}

}  // namespace label_stream

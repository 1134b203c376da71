// The filter's diagnostic log: one time-stamped line per event, kept apart from
// the spooler's standard-error channel and rewritten on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

/// The process-wide log stream; null while the log is not open.
extern FILE* pLogFile;

/// Opens the fixed log path, truncating it, and stores the stream in `pLogFile`.
/// Returns the stream, or null when the file cannot be opened (then every
/// `WriteLog` does nothing and the filter runs on unchanged).
FILE* InitLog();

/// As `InitLog`, at another path; lets tests keep away from the system log.
FILE* init_log_at(const char* path);

/// Writes "YYYY-MM-DD hh:mm:ss " in local time, the formatted message and CR LF,
/// then flushes. Returns the length of the formatted message, or -1 when the
/// log is not open.
[[gnu::format(printf, 1, 2)]] int WriteLog(const char* format, ...);

/// Closes the log if it is open. No `WriteLog` follows it.
void CloseLog();

/// Bytes as C-style text for one line of a message or the log: printable
/// ASCII as it is, quotes and backslashes escaped, CR and LF as \r and \n,
/// any other byte as \xNN. Beyond `limit` bytes the text is cut and ends in
/// "...". A value from a job or a PPD shown this way can never start a line
/// of its own, which the spooler would read as a command.
std::string escape_bytes(std::span<const uint8_t> bytes, size_t limit = SIZE_MAX);

/// As escape_bytes, for text.
inline std::string escape_text(std::string_view text, size_t limit = SIZE_MAX) {
  return escape_bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, limit);
}

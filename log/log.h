// The label core's diagnostic log. In the filter it is a file: one time-stamped
// line per event, kept apart from the spooler's standard-error channel and
// rewritten on every run. A server that prints several jobs at once gives each
// job's thread a sink of its own instead, so a line lands in its job's log.
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
/// then flushes; or hands the message to this thread's sink. Returns the length
/// of the formatted message, or -1 when the log is not open.
[[gnu::format(printf, 1, 2)]] int WriteLog(const char* format, ...);

/// Closes the log if it is open. No `WriteLog` follows it.
void CloseLog();

/// Takes one formatted `WriteLog` message (no time stamp, no line end).
using log_sink = void (*)(void* context, const char* message);

/// While alive, sends this thread's `WriteLog` lines to `sink` instead of the
/// log file; the sink before it is back when it ends.
class thread_log_sink {
 public:
  thread_log_sink(log_sink sink, void* context);
  ~thread_log_sink();
  thread_log_sink(const thread_log_sink&) = delete;
  thread_log_sink& operator=(const thread_log_sink&) = delete;

 private:
  log_sink saved_sink_;
  void* saved_context_;
};

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

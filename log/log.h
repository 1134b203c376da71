// The filter's diagnostic log: one time-stamped line per event, kept apart from
// the spooler's standard-error channel and rewritten on every run.
#pragma once

#include <cstdio>

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

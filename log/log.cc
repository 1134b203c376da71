// The diagnostic log. Every line is flushed as it is written so that the trace
// survives a filter that the spooler kills mid-job.
#include "log/log.h"

#include <cstdarg>
#include <ctime>

FILE* pLogFile = nullptr;

namespace {
constexpr char kLogPath[] = "/var/log/cups/mervane.log";
}  // namespace

FILE* init_log_at(const char* path) {
  pLogFile = std::fopen(path, "w+");
  return pLogFile;
}

FILE* InitLog() { return init_log_at(kLogPath); }

int WriteLog(const char* format, ...) {
  if (pLogFile == nullptr) return -1;

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::fprintf(pLogFile, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900, local.tm_mon + 1,
               local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(pLogFile, format, args);
  va_end(args);

  std::fputs("\r\n", pLogFile);
  std::fflush(pLogFile);
  return written;
}

void CloseLog() {
  if (pLogFile == nullptr) return;
  std::fclose(pLogFile);
  pLogFile = nullptr;
}

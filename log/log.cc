// The diagnostic log. Every line is flushed as it is written so that the trace
// survives a filter that the spooler kills mid-job.
#include "log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <ctime>

FILE* pLogFile = nullptr;

namespace {
// Kept as CUPS installations know it: support scripts and users' bug reports
// look for the filter's trace under this name.
constexpr char kLogPath[] = "/var/log/cups/mervane.log";

thread_local log_sink t_sink = nullptr;
thread_local void* t_sink_context = nullptr;

// A sink adds its own time and line end: the core's lines that carry CR LF of
// their own lose them here.
int write_to_sink(const char* format, va_list args) {
  char message[1024];
  const int length = std::vsnprintf(message, sizeof message, format, args);
  if (length < 0) return -1;
  size_t end = std::min(static_cast<size_t>(length), sizeof message - 1);
  while (end > 0 && (message[end - 1] == '\r' || message[end - 1] == '\n')) message[--end] = '\0';
  t_sink(t_sink_context, message);
  return length;
}
}  // namespace

thread_log_sink::thread_log_sink(log_sink sink, void* context)
    : saved_sink_(t_sink), saved_context_(t_sink_context) {
  t_sink = sink;
  t_sink_context = context;
}

thread_log_sink::~thread_log_sink() {
  t_sink = saved_sink_;
  t_sink_context = saved_context_;
}

// The log directory is shared with the spooler's other programs: never follow
// a link planted at the log's path (it could truncate any file the spooler's
// user can write), and write only to a plain file.
FILE* init_log_at(const char* path) {
  const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ::fchmod(fd, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);  // whatever the umask
  pLogFile = ::fdopen(fd, "w+");
  if (pLogFile == nullptr) ::close(fd);
  return pLogFile;
}

FILE* InitLog() { return init_log_at(kLogPath); }

int WriteLog(const char* format, ...) {
  if (t_sink != nullptr) {
    va_list args;
    va_start(args, format);
    const int written = write_to_sink(format, args);
    va_end(args);
    return written;
  }
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

std::string escape_bytes(std::span<const uint8_t> bytes, size_t limit) {
  std::string out;
  for (const uint8_t b : bytes.first(std::min(limit, bytes.size()))) {
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7f) {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

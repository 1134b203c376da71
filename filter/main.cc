// lblfilter: the last filter of a label printer's CUPS queue. Reads the job's
// raster pages and writes one label command sequence per page to the printer.
#include <cups/cups.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "filter/print_bitmap.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

void log_arguments(int argc, char* argv[]) {
  WriteLog("Enter main");
  for (int i = 0; i < argc; ++i) WriteLog("argv[%d]:%s", i, argv[i]);
  WriteLog("Begin main");
}

// A directory opens for reading but yields no data: it would pass for an
// empty job and report success with nothing printed.
bool is_directory(cups_file_t* input) {
  struct stat st {};
  return ::fstat(cupsFileNumber(input), &st) == 0 && S_ISDIR(st.st_mode);
}

// Six arguments read the job from standard input, seven from the named file.
cups_file_t* open_input(int argc, char* argv[]) {
  if (argc == 6) return cupsFileStdin();
  cups_file_t* input = cupsFileOpen(argv[6], "r");
  if (input != nullptr && is_directory(input)) {
    cupsFileClose(input);
    input = nullptr;
    errno = EISDIR;
  }
  if (input == nullptr) {
    const char* reason = std::strerror(errno);
    WriteLog("cannot open %s: %s", argv[6], reason);
    std::fprintf(stderr, "ERROR: Unable to open print file \"%s\": %s\n", argv[6], reason);
  }
  return input;
}

void resolve_settings(pstops_doc* doc, char* argv[]) {
  cups_option_t* options = nullptr;
  const int num_options = cupsParseOptions(argv[5], 0, &options);
  set_pstops_options(doc, argv, num_options, options);
  cupsFreeOptions(num_options, options);
}

}  // namespace

int main(int argc, char* argv[]) {
  pstops_doc doc{};
  InitLog();
  log_arguments(argc, argv);
  if (argc != 6 && argc != 7) {
    WriteLog("Input param is not enough");
    std::fputs("ERROR: lblfilter job-id user title copies options [file]\n", stderr);
    return kExitFailed;
  }

  // CUPS starts filters with SIGPIPE at its default: a printer connection
  // that closes would end the filter silently by the signal, which the
  // spooler does not report as a failed job. Ignored, the write fails and
  // the job says why.
  std::signal(SIGPIPE, SIG_IGN);
  watch_for_cancel();
  cups_file_t* input = open_input(argc, argv);
  resolve_settings(&doc, argv);

  int status = input != nullptr ? kExitOk : kExitFailed;
  if (input != nullptr) {
    WriteLog("cups_file is not null");
    if (print_bitmap(&doc, input) != kRenderDone) status = kExitFailed;
    cupsFileClose(input);
  }
  WriteLog("Exit main");
  CloseLog();
  return status;
}

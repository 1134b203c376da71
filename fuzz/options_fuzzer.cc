// Fuzz target: any bytes as the job's option string, through cupsParseOptions
// and every settings layer, then a page printed with the settings that result.
#include <cups/cups.h>

#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The spooler's argument vector ends the string at its first zero byte.
  const std::string options(reinterpret_cast<const char*>(data), size);
  ::unsetenv("PPD");  // the options layer alone, over the built-in label
  fuzz_support::restart_scratch_log();
  char queue[] = "labels", job_id[] = "17", user[] = "alice", title[] = "parcel", copies[] = "1";
  char* argv[] = {queue, job_id, user, title, copies, const_cast<char*>(options.c_str()), nullptr};
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(argv[5], 0, &parsed);
  pstops_doc doc{};
  set_pstops_options(&doc, argv, count, parsed);
  cupsFreeOptions(count, parsed);
  fuzz_support::require_page_with_settings(doc);
  return 0;
}

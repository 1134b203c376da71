// Fuzz target: any bytes as the job's option string, through cupsParseOptions
// and every settings layer, then a page printed with the settings that result.
// Whatever a client submits, the page must go out whole, carrying exactly the
// numbers the settings record holds.
#include <cups/cups.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz_support::scratch_log log;
  // The option string reaches the filter as a C string: it ends at the first
  // zero byte, as the spooler's argument vector would cut it.
  const std::string options(reinterpret_cast<const char*>(data), size);
  ::unsetenv("PPD");  // the options layer alone, over the built-in label
  log.restart();

  char job_id[] = "17", user[] = "alice", title[] = "parcel", copies[] = "1";
  char queue[] = "labels";
  char* argv[] = {queue, job_id, user, title, copies, const_cast<char*>(options.c_str()), nullptr};
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(argv[5], 0, &parsed);
  pstops_doc doc{};
  set_pstops_options(&doc, argv, count, parsed);
  cupsFreeOptions(count, parsed);

  fuzz_support::require_page_with_settings(doc);
  return 0;
}

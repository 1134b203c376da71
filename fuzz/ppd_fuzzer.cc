// Fuzz target: any bytes as the queue's PPD file, through libcups' PPD reader
// and the whole settings chain, then a page printed with the settings that
// result. A damaged PPD may change the label's numbers, never the shape of
// what reaches the printer.
#include <fstream>
#include <string>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/lbl-fuzz-" + std::to_string(::getpid()) + ".ppd";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  ::setenv("PPD", path.c_str(), 1);
  fuzz_support::restart_scratch_log();
  char queue[] = "labels", job_id[] = "17", user[] = "alice", title[] = "parcel", copies[] = "1";
  char options[] = "";
  char* argv[] = {queue, job_id, user, title, copies, options, nullptr};
  pstops_doc doc{};
  set_pstops_options(&doc, argv, 0, nullptr);
  fuzz_support::require_page_with_settings(doc);
  return 0;
}

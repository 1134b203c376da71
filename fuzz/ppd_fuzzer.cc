// Fuzz target: any bytes as the queue's PPD file, read by libcups' PPD reader
// and the PPD defaults layer through the whole settings chain, then a page
// printed with the settings that result. A damaged or hostile PPD may change
// the label's numbers, never the shape of what reaches the printer.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

namespace {

// The PPD reader opens a path, so each input is written to a file of this
// fuzzer's own.
class ppd_file {
 public:
  ppd_file() : path_("/tmp/lbl-fuzz-" + std::to_string(::getpid()) + ".ppd") {}
  ~ppd_file() { ::unlink(path_.c_str()); }
  void write(const uint8_t* data, size_t size) const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fuzz_support::fail("open PPD file", path_);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) fuzz_support::fail("write PPD file", path_);
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz_support::scratch_log log;
  static const ppd_file ppd;
  ppd.write(data, size);
  ::setenv("PPD", ppd.path(), 1);
  log.restart();

  char queue[] = "labels", job_id[] = "17", user[] = "alice", title[] = "parcel", copies[] = "1";
  char options[] = "";
  char* argv[] = {queue, job_id, user, title, copies, options, nullptr};
  pstops_doc doc{};
  set_pstops_options(&doc, argv, 0, nullptr);

  fuzz_support::require_page_with_settings(doc);
  return 0;
}

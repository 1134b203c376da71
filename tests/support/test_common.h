// What tests of every kind share: the rule for a missing prerequisite (a
// visible skip locally, a failure in CI), a temporary directory, files read
// whole, and a log the filter wrote read back as its messages.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace test_common {

/// True when the suite runs in CI, where a missing prerequisite is a failure.
inline bool in_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

/// ASan reserves terabytes of address space for its shadow memory, so tests
/// that limit the address space cannot run under it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

/// Skips the test locally and fails it in CI when `what` is missing.
#define LBL_REQUIRE(condition, what)                                            \
  do {                                                                          \
    if (!(condition)) {                                                         \
      if (::test_common::in_ci()) FAIL() << "missing prerequisite: " << (what); \
      GTEST_SKIP() << "missing prerequisite: " << (what);                       \
    }                                                                           \
  } while (0)

/// A directory under /tmp that the spooler's user lp can traverse and read,
/// removed with everything in it when the object goes.
class temp_dir {
 public:
  temp_dir() {
    char name[] = "/tmp/lbl-test-XXXXXX";
    // mkdtemp makes the directory private; the spooler's filters run as lp.
    if (::mkdtemp(name) != nullptr && ::chmod(name, 0755) == 0) path_ = name;
  }
  ~temp_dir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

/// Every log line opens with "YYYY-MM-DD hh:mm:ss ".
inline constexpr size_t kLogStampLength = 20;

/// The log's messages without their time stamps, one per line, CR LF removed.
inline std::vector<std::string> log_messages(const std::string& path) {
  std::vector<std::string> messages;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    messages.push_back(line.size() >= kLogStampLength ? line.substr(kLogStampLength) : line);
  }
  return messages;
}

}  // namespace test_common

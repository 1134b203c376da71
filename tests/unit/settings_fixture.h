// Shared ground for the settings-layer tests: a private directory for PPD
// files and the log, the PPD environment variable saved and restored, and the
// log read back as the messages the layers wrote.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "settings/settings.h"

namespace settings_fixture {

// Every log line opens with "YYYY-MM-DD hh:mm:ss ".
constexpr size_t kStampLength = 20;

class layer_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lbl-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    if (const char* ppd = std::getenv("PPD")) saved_ppd_ = ppd;
    unsetenv("PPD");
  }

  void TearDown() override {
    CloseLog();
    if (saved_ppd_)
      setenv("PPD", saved_ppd_->c_str(), 1);
    else
      unsetenv("PPD");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  /// Starts the log afresh, as every run of the filter does.
  void restart_log() {
    CloseLog();
    ASSERT_NE(init_log_at(log_path().c_str()), nullptr);
  }

  std::string log_path() const { return dir_ + "/settings.log"; }

  /// Writes a PPD file with the version line the PPD reader demands, then
  /// `lines`, and returns its path.
  std::string write_ppd(const std::string& lines, const std::string& name = "queue.ppd") {
    return write_file(name, "*PPD-Adobe: \"4.3\"\n" + lines);
  }

  std::string write_file(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  /// The log's messages without their time stamps, in order. A line that does
  /// not end in CR LF is reported as a failure.
  std::vector<std::string> log_messages() const {
    std::ifstream in(log_path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::vector<std::string> messages;
    std::string line;
    while (std::getline(content, line, '\n')) {
      EXPECT_TRUE(!line.empty() && line.back() == '\r') << "line without CR LF: " << line;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      messages.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    }
    return messages;
  }

  std::string dir_;
  std::optional<std::string> saved_ppd_;
};

/// A record whose every label field differs from the built-in values and
/// from anything the tests' PPDs set, so an unchanged field shows.
inline pstops_doc distinctive_doc() {
  pstops_doc doc{};
  doc.speed = 9;
  doc.darkness = 3;
  doc.mediaTracking = 2;
  doc.width = 61;
  doc.height = 41;
  doc.horizontal = 5;
  doc.vertical = 6;
  return doc;
}

/// The label fields as one comparable text, so a failure shows them all.
inline std::string describe(const pstops_doc& doc) {
  std::ostringstream out;
  out << "size " << doc.width << "x" << doc.height << " speed " << doc.speed << " darkness "
      << doc.darkness << " tracking " << doc.mediaTracking << " pos " << doc.horizontal << ","
      << doc.vertical << " ref " << doc.refX << "," << doc.refY;
  return out.str();
}

}  // namespace settings_fixture

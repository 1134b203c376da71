// The diagnostic log: line format, return values, truncation per run, and a
// log that cannot be opened.
#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "lbl_log_test_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
  }
  void TearDown() override { CloseLog(); }
  std::string path_;
};

const std::regex kStampedLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");

TEST_F(LogTest, WritesTimeStampMessageAndCrLf) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  EXPECT_EQ(WriteLog("argv[%d]:%s", 3, "title"), 13);
  CloseLog();
  const std::string text = read_file(path_);
  ASSERT_EQ(text.size(), 20u + 13u + 2u) << text;
  EXPECT_TRUE(std::regex_match(text.substr(0, 20), kStampedLine)) << text;
  EXPECT_EQ(text.substr(20), "argv[3]:title\r\n");
}

TEST_F(LogTest, ReturnsLengthOfMessageAlone) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  EXPECT_EQ(WriteLog("twelve chars"), 12);
  EXPECT_EQ(WriteLog("%s", ""), 0);
}

TEST_F(LogTest, MessageEndingInCrLfLeavesAnEmptyLine) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  WriteLog("Gray2Bytes: Enter function\r\n");
  CloseLog();
  EXPECT_EQ(read_file(path_).substr(20), "Gray2Bytes: Enter function\r\n\r\n");
}

TEST_F(LogTest, EachRunStartsTheFileAfresh) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  WriteLog("first run");
  CloseLog();
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  WriteLog("second run");
  CloseLog();
  EXPECT_EQ(read_file(path_).substr(20), "second run\r\n");
}

TEST_F(LogTest, LinesReachTheFileBeforeClose) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  WriteLog("flushed");
  EXPECT_EQ(read_file(path_).substr(20), "flushed\r\n");
}

TEST_F(LogTest, UnopenableLogWritesNothing) {
  EXPECT_EQ(init_log_at("/nonexistent-dir/lbl.log"), nullptr);
  EXPECT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("lost"), -1);
}

TEST_F(LogTest, ClosedLogWritesNothing) {
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  CloseLog();
  EXPECT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("after close"), -1);
  CloseLog();  // a second close is harmless
}

}  // namespace

namespace {

TEST_F(LogTest, PlantedLinkIsNotFollowed) {
  const std::string victim = path_ + ".victim";
  {
    std::ofstream out(victim);
    out << "precious";
  }
  ::unlink(path_.c_str());
  ASSERT_EQ(::symlink(victim.c_str(), path_.c_str()), 0);
  EXPECT_EQ(init_log_at(path_.c_str()), nullptr);
  EXPECT_EQ(WriteLog("into the link"), -1);
  EXPECT_EQ(read_file(victim), "precious");
  ::unlink(path_.c_str());
}

TEST_F(LogTest, NewLogIsReadableByAllWritableByOwner) {
  ::unlink(path_.c_str());
  const mode_t old_mask = ::umask(077);
  ASSERT_NE(init_log_at(path_.c_str()), nullptr);
  ::umask(old_mask);
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(LogTest, OnlyPlainFilesAreLogs) {
  const std::string fifo = path_ + ".fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(init_log_at(fifo.c_str()), nullptr);
  ::unlink(fifo.c_str());
}

}  // namespace

// Cancel: CUPS sends the filter SIGTERM while the backend keeps passing on
// what the filter already wrote. The printer must only ever receive whole
// label sequences, and the filter must stop promptly and report success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/filter_harness.h"

namespace {

using filter_harness::expected_page;
using filter_harness::hex;

// The filter with both ends of its stream in the test's hands.
class running_filter {
 public:
  running_filter() {
    ::signal(SIGPIPE, SIG_IGN);  // the filter may exit with input still unread
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      const int null_fd = ::open("/dev/null", O_WRONLY);
      ::dup2(null_fd, 2);
      ::unsetenv("PPD");
      ::execl(LBLFILTER_PATH, "label", "1", "u", "t", "1", "", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_filter_ = in[1];
    from_filter_ = out[0];
  }
  ~running_filter() {
    if (to_filter_ >= 0) ::close(to_filter_);
    ::close(from_filter_);
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Writes all of `bytes` unless the filter stops reading; true when all went.
  bool send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::write(to_filter_, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) return false;
      sent += size_t(n);
    }
    return true;
  }
  void cancel() { ::kill(pid_, SIGTERM); }

  // Reads what the filter wrote until `size` bytes are in or `seconds` pass.
  std::string read_output(size_t size, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char buffer[65536];
    while (received_.size() < size && std::chrono::steady_clock::now() < deadline) {
      pollfd p{from_filter_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(from_filter_, buffer, sizeof buffer);
      if (n <= 0) break;
      received_.append(buffer, size_t(n));
    }
    return received_;
  }

  // Waits up to `seconds` for the filter to exit; its status, or -1.
  int wait_exit(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      read_output(SIZE_MAX, 0.02);  // keep draining so the filter never blocks
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int to_filter_ = -1, from_filter_ = -1, status_ = -1;
  std::string received_;
};

TEST(Cancel, WhileRowsArriveDropsThePageAndStops) {
  const raster_gen::page first = raster_gen::random_page(64, 40, 1);
  const raster_gen::page second = raster_gen::random_page(64, 40, 2);
  const std::string stream = raster_gen::write_stream({first, second});
  const std::string first_out = expected_page({}, first);

  running_filter filter;
  // The first page and half of the second, then the producer stalls.
  ASSERT_TRUE(filter.send(stream.substr(0, stream.size() - 20 * 64)));
  ASSERT_EQ(hex(filter.read_output(first_out.size(), 10)), hex(first_out));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  filter.cancel();
  EXPECT_EQ(filter.wait_exit(5), 0) << "a cancelled job ends as a success, promptly";
  EXPECT_EQ(hex(filter.read_output(SIZE_MAX, 0.1)), hex(first_out));
}

TEST(Cancel, WhileAPageIsWrittenFinishesItAndStartsNoOther) {
  // Pages far larger than a pipe holds: the filter blocks part way through
  // writing the first one while nobody reads.
  const raster_gen::page big = raster_gen::random_page(4000, 800, 3);
  const std::string stream = raster_gen::write_stream({big, big, big});
  const std::string one_page = expected_page({}, big);

  running_filter filter;
  std::thread producer([&] { (void)filter.send(stream); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  filter.cancel();
  const int status = filter.wait_exit(10);
  producer.join();  // once the filter is gone its input pipe refuses the rest
  EXPECT_EQ(status, 0);
  const std::string out = filter.read_output(SIZE_MAX, 0.1);
  EXPECT_EQ(out.size(), one_page.size());
  EXPECT_TRUE(out == one_page) << "the printer got part of a page or a second page";
}

}  // namespace

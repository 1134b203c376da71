#include "tests/support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace run_process {
namespace {

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

[[noreturn]] void exec_child(const request& req, int in_fd, int out_fd, int err_fd) {
  ::dup2(in_fd, 0);
  ::dup2(out_fd, 1);
  ::dup2(err_fd, 2);
  for (const std::string& name : req.unset_env) ::unsetenv(name.c_str());
  for (const std::string& entry : req.env) {
    const size_t eq = entry.find('=');
    ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
  std::vector<char*> argv;
  for (const std::string& a : req.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  if (req.address_space_limit != 0) {
    const rlimit limit{req.address_space_limit, req.address_space_limit};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  ::execv(req.program.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

result run(const request& req) {
  result res;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(err_pipe, O_CLOEXEC) != 0)
    return res;

  const pid_t pid = ::fork();
  if (pid == 0) exec_child(req, in_pipe[0], out_pipe[1], err_pipe[1]);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  int in_fd = in_pipe[1], out_fd = out_pipe[0], err_fd = err_pipe[0];
  ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (req.stdin_bytes.empty()) close_fd(in_fd);

  ::signal(SIGPIPE, SIG_IGN);  // the child may stop reading before the end
  char buffer[65536];
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n =
          ::write(in_fd, req.stdin_bytes.data() + written, req.stdin_bytes.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = req.stdin_bytes.size();
      if (written == req.stdin_bytes.size()) close_fd(in_fd);
    }
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? out_fd : err_fd;
      if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0)
        (i == 0 ? res.out : res.err).append(buffer, static_cast<size_t>(n));
      else
        close_fd(fd);
    }
  }
  close_fd(in_fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) res.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) res.signal = WTERMSIG(status);
  return res;
}

}  // namespace run_process

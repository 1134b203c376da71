#include "app/server/instance.h"

#include <fcntl.h>
#include <pappl/pappl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

std::string program_path(const char* argv0) {
  if (std::strchr(argv0, '/') != nullptr) return argv0;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    const size_t colon = std::min(dirs.find(':'), dirs.size());
    std::string candidate(dirs.substr(0, colon));
    candidate = (candidate.empty() ? std::string(".") : candidate) + "/" + argv0;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    dirs.remove_prefix(std::min(colon + 1, dirs.size()));
  }
  return {};
}

std::string control_socket_path(const char* name) {
  if (::getuid() != 0)
    return std::string(papplGetTempDir()) + "/" + name + std::to_string(::getuid()) + ".sock";
  const char* state_directory = std::getenv("SNAP_COMMON");
  return std::string(state_directory != nullptr ? state_directory : "/run") + "/" + name + ".sock";
}

bool server_listens(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool listens = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return listens;
}

int lock_state_directory(const char* path, const char* name, std::string* problem) {
  const std::string lock = std::string(path) + "/" + name + ".lock";
  const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *problem = "Unable to open " + lock + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    const ssize_t size = ::pread(fd, pid, sizeof pid - 1, 0);
    ::close(fd);
    *problem = "A server (process " +
               std::string(pid, size > 1 ? static_cast<size_t>(size - 1) : 0) +
               ") already runs on " + path + "; stop it first (lblprinter shutdown -o " +
               "state-directory=" + path + ")";
    return -1;
  }
  // The running server's process id, for the refusal above.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    *problem = "Unable to write " + lock + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool make_state_directory(const char* path, std::string* problem) {
  struct stat st {};
  if (::stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *problem = std::string(path) + " is not a folder";
    return false;
  }
  // Parents as mkdir -p makes them; the state directory itself private.
  const std::string full = path;
  for (size_t slash = full.find('/', 1);; slash = full.find('/', slash + 1)) {
    const bool last = slash == std::string::npos;
    const std::string part = last ? full : full.substr(0, slash);
    if (::mkdir(part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
      *problem = "Unable to create " + part + ": " + std::strerror(errno);
      return false;
    }
    if (last) return true;
  }
}

std::string socket_refusal(const char* state_directory) {
  struct stat st {};
  if (state_directory == nullptr || ::stat(state_directory, &st) != 0 || st.st_uid == ::getuid())
    return {};
  return std::string("Permission denied: only the user the server runs as (root, for the ") +
         "service) may use the control socket in " + state_directory +
         "; other users reach the server over IPP and its web pages";
}

bool restrict_socket(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  ::chmod(path.c_str(), 0600);
  return true;
}

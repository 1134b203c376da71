#include "app/instance.h"

#include <sys/stat.h>
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

std::string control_socket_path(const char* state_directory, const char* name) {
  if (state_directory != nullptr) return std::string(state_directory) + "/" + name + ".sock";
  if (::getuid() == 0) return std::string("/run/") + name + ".sock";
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + std::to_string(::getuid()) +
         ".sock";
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

std::string socket_refusal(const std::string& path) {
  if (::access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
  return "Permission denied: only the user the server runs as (root, for the service) may use "
         "its control socket " +
         path + "; other users reach the server over IPP and its web pages";
}

bool restrict_socket(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  ::chmod(path.c_str(), 0600);
  return true;
}

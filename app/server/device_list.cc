#include "app/server/device_list.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr char kAvahiSocket[] = "/run/avahi-daemon/socket";

void ignore_device_error(const char* /*message*/, void* /*data*/) {}

bool print_uri(const char* /*info*/, const char* uri, const char* /*id*/, void* /*data*/) {
  std::puts(uri);
  return false;  // go on listing
}

}  // namespace

bool avahi_running() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kAvahiSocket, sizeof address.sun_path - 1);
  const bool answered =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answered;
}

void list_devices(pappl_device_cb_t callback, void* data) {
  // PAPPL's device types are flags in an enum.
  const auto types = static_cast<pappl_devtype_t>(
      avahi_running() ? PAPPL_DEVTYPE_ALL : PAPPL_DEVTYPE_ALL & ~PAPPL_DEVTYPE_DNS_SD);
  papplDeviceList(types, callback, data, ignore_device_error, nullptr);
}

bool prepare_device_uri(const char* uri, std::string* problem) {
  constexpr std::string_view kFile = "file://";
  if (std::string_view(uri).starts_with(kFile)) {
    const std::string path(uri + kFile.size(), std::strcspn(uri + kFile.size(), "?"));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != EEXIST) {
      *problem = "Unable to create the device file " + path + ": " + std::strerror(errno);
      return false;
    }
    if (papplDeviceIsSupported(uri)) return true;
    *problem = "The device file " + path + " cannot be written by the server";
    return false;
  }
  if (papplDeviceIsSupported(uri)) return true;
  *problem =
      std::string("Unsupported device URI \"") + uri +
      "\": lblprinter prints to usb://, socket://HOST:PORT, dnssd:// and file://PATH devices";
  return false;
}

int print_devices() {
  list_devices(print_uri, nullptr);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

#include "app/devices.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

int print_devices() {
  list_devices(print_uri, nullptr);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

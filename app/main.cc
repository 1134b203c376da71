// lblprinter: the label printers' Printer Application. PAPPL's main loop runs
// the server and the sub-commands (add, submit, status, ...) that talk to it.
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/client/commands.h"
#include "app/client/submit.h"
#include "app/job/formats.h"
#include "app/printer/device_ids.h"
#include "app/printer/drivers.h"
#include "app/server/device_list.h"
#include "app/server/instance.h"
#include "app/server/system.h"

namespace {

// Where the installed service keeps its state and control socket; root's
// sub-commands find it there without being told.
constexpr char kServiceStateDirectory[] = LBL_STATE_DIRECTORY;
constexpr std::string_view kStateOption = "state-directory=";
// A sub-command's "-o private-server=yes": start a private server when none runs.
constexpr std::string_view kPrivateServerOption = "private-server=";

bool is_directory(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Takes "-o NAME=VALUE" (or "-oNAME=VALUE") out of the arguments, which PAPPL
// would otherwise read as a printer or job attribute; `option` is "NAME=".
const char* take_option(int* argc, char* argv[], std::string_view option) {
  const char* found = nullptr;
  int kept = 0;
  for (int i = 0; i < *argc; ++i) {
    const bool split = std::strcmp(argv[i], "-o") == 0 && i + 1 < *argc &&
                       std::string_view(argv[i + 1]).starts_with(option);
    const bool joined = std::string_view(argv[i]).starts_with("-o") &&
                        std::string_view(argv[i] + 2).starts_with(option);
    if (split || joined) {
      found = (split ? argv[++i] : argv[i] + 2) + option.size();
      continue;
    }
    argv[kept++] = argv[i];
  }
  argv[kept] = nullptr;
  *argc = kept;
  return found;
}

int refuse(const std::string& problem) {
  std::fprintf(stderr, "lblprinter: %s\n", problem.c_str());
  return 1;
}

// Every sub-command but these asks the server over its control socket.
bool talks_to_server(std::string_view command) {
  return !command.starts_with("-") && command != "server" && command != "drivers" &&
         command != "devices";
}

// "add" and "modify" name the device with -v URI: a file the printer is to
// write to is made here when missing, since PAPPL refuses a file:// device
// whose file does not exist; any other URI PAPPL would refuse is explained.
bool prepare_device(int argc, char* argv[], std::string* problem) {
  for (int i = 2; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-v") == 0) return prepare_device_uri(argv[i + 1], problem);
  return true;
}

// "add" without -m takes the driver the printer's device ID names (the
// auto-add callback): PAPPL's "add" insists on a driver, and "auto" is one.
std::vector<char*> arguments_with_driver(int argc, char* argv[]) {
  static char option[] = "-m", automatic[] = "auto";
  std::vector<char*> arguments(argv, argv + argc);
  const bool adding = argc > 1 && std::strcmp(argv[1], "add") == 0;
  const auto names_driver = [](const char* arg) { return std::string_view(arg).starts_with("-m"); };
  if (adding && std::none_of(argv + 2, argv + argc, names_driver))
    arguments.insert(arguments.end(), {option, automatic});
  arguments.push_back(nullptr);
  return arguments;
}

// PAPPL starts a server of its own for a sub-command that finds none, on the
// service's port: only when the user asks for one.
std::string no_server(const std::string& socket, const char* state_directory) {
  const std::string folder = state_directory != nullptr ? state_directory : "DIR";
  return "No server is running on " + socket + ". Start one (\"lblprinter server -o " +
         "state-directory=" + folder + "\", or \"systemctl start lblprinter\" for the " +
         "service), or add \"-o private-server=yes\" to have this command start a private one";
}

// lblprinter's own --help: PAPPL's names no sub-command or option of ours,
// and only socket: and usb: devices.
void print_usage(void* /*data*/) {
  std::puts(
      "Usage: lblprinter SUB-COMMAND [OPTIONS] [FILE]\n"
      "The label printers' Printer Application (see lblprinter(8)).\n"
      "\n"
      "Sub-commands:\n"
      "  server               run the server (the service runs it as root)\n"
      "  drivers              list the drivers (generic-203dpi, generic-300dpi)\n"
      "  devices              list the printers found (USB, network)\n"
      "  add -d PRINTER [-m DRIVER] -v DEVICE-URI   add a printer (without -m the\n"
      "                       driver the device's IEEE-1284 ID names)\n"
      "  modify -d PRINTER [-v DEVICE-URI] [-o NAME=VALUE]   change a printer\n"
      "  delete -d PRINTER    delete a printer\n"
      "  default -d PRINTER   make it the default printer\n"
      "  printers, options -d PRINTER, status [-d PRINTER]   what is there\n"
      "  submit [-d PRINTER] [-n COPIES] [-o NAME=VALUE] FILE...   print files;\n"
      "                       waits for each job and names the reason of a failed one\n"
      "  jobs -d PRINTER, cancel -d PRINTER -j JOB-ID | -a   list or cancel jobs\n"
      "  pause -d PRINTER, resume -d PRINTER   hold every job, or print again\n"
      "  test-label -d PRINTER   print the test label\n"
      "  calibrate -d PRINTER    calibrate the media sensor for the loaded stock\n"
      "  shutdown             stop the server\n"
      "\n"
      "Options:\n"
      "  -o state-directory=DIR   the instance's folder: state file, control\n"
      "                       socket, spool (default " LBL_STATE_DIRECTORY
      " for root)\n"
      "  -o private-server=yes    a sub-command starts a server when none runs\n"
      "  -o server-port=N, -o listen-hostname=NAME, -o log-file=FILE,\n"
      "  -o log-level=LEVEL, -o spool-directory=DIR   the server's (server)\n"
      "  -o auth-service=SERVICE, -o admin-group=GROUP   who administers (server)\n"
      "  -o NAME=VALUE        a printer attribute (add, modify) or job\n"
      "                       attribute (submit): media=om_w170h85_60x30mm, ...\n"
      "  -u URI               a server or printer by URI (ipp://, ipps://)\n"
      "\n"
      "Device URIs: usb://..., socket://HOST[:PORT], dnssd://..., file:///PATH\n"
      "(appends the label commands to a file, for previews with lblview).");
}

}  // namespace

int main(int argc, char* argv[]) {
  app_instance instance{take_option(&argc, argv, kStateOption),
                        argc > 1 && std::strcmp(argv[1], "server") == 0,
                        {},
                        {}};
  const char* private_server_wanted =
      instance.serving ? nullptr : take_option(&argc, argv, kPrivateServerOption);
  const bool private_server =
      private_server_wanted != nullptr && std::strcmp(private_server_wanted, "yes") == 0;
  // A private server that a sub-command started inherits its folder.
  if (instance.state_directory == nullptr) instance.state_directory = std::getenv("SNAP_COMMON");
  if (instance.state_directory == nullptr && ::getuid() == 0 &&
      is_directory(kServiceStateDirectory))
    instance.state_directory = kServiceStateDirectory;
  // PAPPL keeps its state file and root's control socket in $SNAP_COMMON when
  // it is set, and another user's control socket in $TMPDIR: one folder per
  // instance, so a second server runs beside the service.
  if (instance.state_directory != nullptr &&
      (::setenv("SNAP_COMMON", instance.state_directory, 1) != 0 ||
       (::getuid() != 0 && ::setenv("TMPDIR", instance.state_directory, 1) != 0)))
    return 1;
  // A sub-command that starts a private server does it from argv[0], which
  // PAPPL does not look up in PATH.
  std::string program = program_path(argv[0]);
  if (!program.empty()) argv[0] = program.data();
  const char* name =
      std::strrchr(argv[0], '/') != nullptr ? std::strrchr(argv[0], '/') + 1 : argv[0];
  // The server makes its folder, and PAPPL takes a temporary folder only once
  // it exists: before the socket's path is known.
  std::string problem;
  if (instance.state_directory != nullptr && (instance.serving || private_server) &&
      !make_state_directory(instance.state_directory, &problem))
    return refuse(problem);
  instance.control_socket = control_socket_path(name);
  if (instance.serving && instance.state_directory != nullptr &&
      (instance.lock = lock_state_directory(instance.state_directory, name, &problem)) < 0)
    return refuse(problem);
  // A document the printers cannot print is refused before it is sent: the
  // control socket's requests pass no check of the server's.
  if (argc > 1 && std::strcmp(argv[1], "submit") == 0) {
    problem = refuse_submitted_files(argc, argv);
    if (!problem.empty()) return refuse(problem);
  }
  if (argc > 1 && talks_to_server(argv[1])) {
    problem = socket_refusal(instance.state_directory);
    const bool no_folder =
        instance.state_directory != nullptr && !is_directory(instance.state_directory);
    if (problem.empty() && !private_server &&
        (no_folder || !server_listens(instance.control_socket)))
      problem = no_server(instance.control_socket, instance.state_directory);
    if (!problem.empty() || !prepare_device(argc, argv, &problem)) return refuse(problem);
  }
  if (argc == 2 && std::strcmp(argv[1], "devices") == 0 && !avahi_running()) return print_devices();
  if (const int status = run_printer_command(argc, argv, instance.control_socket); status >= 0)
    return status;
  const auto drivers = label_drivers();
  std::vector<char*> arguments = arguments_with_driver(argc, argv);
  const auto mainloop = [&] {
    return papplMainloop(static_cast<int>(arguments.size()) - 1, arguments.data(), LBL_VERSION,
                         nullptr, static_cast<int>(drivers.size()), drivers.data(),
                         label_autoadd_cb, label_driver_cb, nullptr, nullptr, make_label_system,
                         print_usage, &instance);
  };
  if (argc > 1 && std::strcmp(argv[1], "submit") == 0)
    return submit_and_report(instance.control_socket, mainloop);
  return mainloop();
}

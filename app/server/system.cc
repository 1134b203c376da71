// The server: listens on the loopback address unless told otherwise, keeps
// its jobs in the instance's spool, and asks PAM for administrators, so that
// anyone it serves may print but only an administrator changes printers.
#include "app/server/system.h"

#include <pthread.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/job/formats.h"
#include "app/job/gate.h"
#include "app/job/journal.h"
#include "app/job/pdf.h"
#include "app/job/picture.h"
#include "app/job/process.h"
#include "app/printer/device_ids.h"
#include "app/printer/drivers.h"
#include "app/printer/maintenance.h"
#include "app/printer/status.h"
#include "app/printer/web_pages.h"
#include "app/server/access.h"
#include "app/server/add_printer_page.h"
#include "app/server/instance.h"
#include "app/server/job_history.h"
#include "app/server/saved_state.h"

namespace {

constexpr int kDefaultPort = 8631;
constexpr char kDefaultListen[] = "localhost";
constexpr char kDefaultLog[] = "syslog";
constexpr char kDefaultAuthService[] = "lblprinter";  // /etc/pam.d/lblprinter
constexpr char kNoAuthService[] = "none";
constexpr char kDefaultHistory[] = "100";
constexpr long kMaxHistory = 100000;
constexpr timespec kStopStep = {0, 200'000'000};
constexpr char kFooter[] = "lblprinter: a Printer Application for 203 and 300 dpi label printers.";

const char* option(const char* name, int num_options, cups_option_t* options,
                   const char* fallback) {
  const char* value = cupsGetOption(name, num_options, options);
  return value != nullptr && *value != '\0' ? value : fallback;
}

pappl_loglevel_t log_level(const char* name) {
  struct level_name {
    const char* name;
    pappl_loglevel_t level;
  };
  constexpr level_name kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL},
                                    {"error", PAPPL_LOGLEVEL_ERROR},
                                    {"warn", PAPPL_LOGLEVEL_WARN},
                                    {"info", PAPPL_LOGLEVEL_INFO},
                                    {"debug", PAPPL_LOGLEVEL_DEBUG}};
  for (const level_name& level : kLevels)
    if (std::strcmp(level.name, name) == 0) return level.level;
  return PAPPL_LOGLEVEL_WARN;
}

// PAPPL (through libcups) makes the control socket anyone's, and admits its
// clients without a question: it becomes the server user's own as soon as the
// server runs. (A new state directory is already private.)
bool restrict_control_socket(pappl_system_t* /*system*/, void* data) {
  return guard_callback(
      true, [&] { return !restrict_socket(static_cast<app_instance*>(data)->control_socket); });
}

// PAPPL's printer creation callback: lblprinter's pages for the printer.
void add_printer_pages(pappl_printer_t* printer, void* /*data*/) {
  guard_callback(false, [&] {
    add_printer_web_pages(printer);
    return true;
  });
}

// PAPPL 1.3.1's papplSystemRun answers SIGTERM by waiting up to 60 s for
// every active job to end, those queued on a paused printer too. lblprinter
// takes SIGTERM over once the server runs: as soon as no job is printing, it
// saves the state with the queued jobs in it and ends; they print after the
// next start.
std::atomic<bool> g_stop_asked{false};  // a signal handler's only way out
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void ask_stop(int /*signal*/) { g_stop_asked = true; }

void* end_when_idle(void* data) {
  auto* instance = static_cast<app_instance*>(data);
  pappl_system_t* system = instance->system;
  struct sigaction stop {};
  stop.sa_handler = ask_stop;
  sigemptyset(&stop.sa_mask);
  // papplSystemRun sets its own handler some time after it starts running:
  // lblprinter's is set again until the signal comes.
  while (!papplSystemIsRunning(system)) ::nanosleep(&kStopStep, nullptr);
  for (; !g_stop_asked; ::nanosleep(&kStopStep, nullptr)) sigaction(SIGTERM, &stop, nullptr);
  close_printers();
  while (any_printer_busy()) ::nanosleep(&kStopStep, nullptr);
  if (instance->state_directory != nullptr) save_printer_state(system, instance->state_directory);
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Stopping; the jobs still queued stay for the next start.");
  ::_exit(0);
}

void watch_for_stop(app_instance* instance) {
  pthread_attr_t detached;
  pthread_t thread;
  if (pthread_attr_init(&detached) != 0) return;
  if (pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED) == 0)
    pthread_create(&thread, &detached, end_when_idle, instance);
  pthread_attr_destroy(&detached);
}

// A history of 1 to 100000 jobs; anything else keeps the default.
int history_size(const char* text) {
  char* end = nullptr;
  const long jobs = std::strtol(text, &end, 10);
  return *end == '\0' && jobs >= 1 && jobs <= kMaxHistory ? static_cast<int>(jobs)
                                                          : std::atoi(kDefaultHistory);
}

// A port of 0 or text that is no port lets PAPPL choose a free one.
int port_number(const char* text) {
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  return *end == '\0' && port > 0 && port < 65536 ? static_cast<int>(port) : 0;
}

pappl_system_t* make_system(int num_options, cups_option_t* options, void* data) {
  auto* instance = static_cast<app_instance*>(data);
  // A server a sub-command started (-o private-server=yes) is its user's own:
  // never on the service's port, and logging in its folder, not to syslog.
  const bool private_server = cupsGetOption("private-server", num_options, options) != nullptr;
  const std::string port_text = private_server ? "0" : std::to_string(kDefaultPort);
  const std::string private_log = instance->state_directory
                                      ? std::string(instance->state_directory) + "/lblprinter.log"
                                      : std::string(kDefaultLog);
  const int port = port_number(option("server-port", num_options, options, port_text.c_str()));
  const char* listen = option("listen-hostname", num_options, options, kDefaultListen);
  std::string spool =
      instance->state_directory ? std::string(instance->state_directory) + "/spool" : std::string();
  spool = option("spool-directory", num_options, options, spool.c_str());
  const char* log_file =
      option("log-file", num_options, options, private_server ? private_log.c_str() : kDefaultLog);
  const char* level = option("log-level", num_options, options, "warn");
  const char* auth = option("auth-service", num_options, options, kDefaultAuthService);

  // The standard web pages, with printers added and removed there, and their
  // settings forms open to administrators on other hosts too once the
  // server listens beyond the loopback address.
  const pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                    PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_REMOTE;
  pappl_system_t* system = papplSystemCreate(soptions, "Label Printers", port, "_print,_universal",
                                             spool.empty() ? nullptr : spool.c_str(), log_file,
                                             log_level(level), nullptr, false);
  if (system == nullptr) return nullptr;
  // "*" serves every address of the host; anything else is one name or address.
  // The other sub-commands make a system only to list drivers and options.
  if (instance->serving &&
      !papplSystemAddListeners(system, std::strcmp(listen, "*") == 0 ? nullptr : listen)) {
    papplSystemDelete(system);
    return nullptr;
  }
  instance->max_completed_jobs =
      history_size(option("max-completed-jobs", num_options, options, kDefaultHistory));
  if (instance->serving) {
#ifdef __GLIBC__
    // glibc gives threads arenas of their own, up to eight a core, and each
    // keeps what its threads freed: over months of job threads that slack is
    // what the server's memory grows by. Two arenas serve a job per printer.
    mallopt(M_ARENA_MAX, 2);
#endif
    papplSystemAddTimerCallback(system, 0, 1, restrict_control_socket, instance);
    bound_job_histories(system, instance->max_completed_jobs);
    instance->system = system;
    watch_for_stop(instance);
  }
  // PAPPL's own PAM check would ask print jobs for a password too; the admin
  // policy asks only those who change printers or others' jobs.
  instance->admins = {std::strcmp(auth, kNoAuthService) != 0 ? auth : "",
                      option("admin-group", num_options, options, "")};
  set_admin_policy(system, &instance->admins);
  const auto drivers = label_drivers();
  papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(),
                               label_autoadd_cb, add_printer_pages, label_driver_cb, instance);
  add_picture_filters(system);
  add_pdf_filter(system);
  papplSystemSetMIMECallback(system, detect_format_cb, nullptr);
  papplSystemSetFooterHTML(system, kFooter);
  add_printer_page(system, instance);
  if (instance->serving) {
    watch_printers(system);
    add_maintenance_operations(system);
    // The printers' state, and what PAPPL 1.3.1 leaves out of it; without a
    // state directory PAPPL's main loop loads its own.
    if (instance->state_directory != nullptr) {
      keep_page_journals(instance->state_directory);
      keep_printer_settings(system, instance->state_directory);
    }
  }
  return system;
}

}  // namespace

pappl_system_t* make_label_system(int num_options, cups_option_t* options, void* data) {
  return guard_callback<pappl_system_t*>(nullptr,
                                         [&] { return make_system(num_options, options, data); });
}

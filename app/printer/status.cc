// Asking the printer how it is: the status query goes out on the printer's
// own link, its one-byte answer becomes printer-state-reasons, and while it
// says it cannot print (out of labels, head open, ...) its jobs wait in
// lblprinter rather than in a printer that would drop or half-print them.
//
// PAPPL 1.3's device reads wait 10 seconds for a printer that never answers,
// so a socket printer is asked on a short connection of lblprinter's own
// with deadlines well under a second, and a job asks on its own device only
// a printer that answered its last question. A USB printer is asked through
// PAPPL's device while idle (a silent one there costs PAPPL's 10 seconds,
// 3 times, then once every 10 minutes). file:// devices are never asked.
#include "app/printer/status.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <new>
#include <string>
#include <string_view>

#include "app/job/gate.h"
#include "app/job/process.h"
#include "render/label_stream.h"

namespace {

constexpr int kIdlePollSeconds = 2;
constexpr int kMaxMisses = 3;
constexpr int kSilentRetrySeconds = 600;
constexpr int kConnectMs = 500;
constexpr int kAnswerMs = 300;
// A job waiting for its printer asks once a second and sees a cancel sooner.
constexpr timespec kWaitStep = {0, 250'000'000};
constexpr int kStepsPerQuestion = 4;

// What asking gave, when not a status byte: no link to the printer (nothing
// is known), or a link on which the printer stayed silent.
constexpr int kUnreachable = -2;
constexpr int kSilent = -1;

// A printer that closed the connection must not end the server with SIGPIPE.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

struct status_bit {
  uint8_t bit;
  pappl_preason_t reason;  // none: "paused" shows as the printer paused
  bool holds;              // jobs wait until it clears
  const char* text;
};

// PAPPL 1.3 writes these keywords without a severity suffix (which IPP reads
// as an error) and never reports door-open, so an open head and an open
// cover both show as cover-open.
constexpr status_bit kStatusBits[] = {
    {label_stream::kStatusHeadOpen, PAPPL_PREASON_COVER_OPEN, true, "the print head is open"},
    {label_stream::kStatusPaperJam, PAPPL_PREASON_MEDIA_JAM, true, "a label is jammed"},
    {label_stream::kStatusOutOfPaper, PAPPL_PREASON_MEDIA_EMPTY, true, "out of labels"},
    {label_stream::kStatusOutOfRibbon, PAPPL_PREASON_MARKER_SUPPLY_EMPTY, true, "out of ribbon"},
    {label_stream::kStatusPaused, PAPPL_PREASON_NONE, true, "paused"},
    {label_stream::kStatusCoverOpen, PAPPL_PREASON_COVER_OPEN, true, "the cover is open"},
    {label_stream::kStatusTemperature, PAPPL_PREASON_OTHER, false,
     "the head temperature is out of range"},
};

constexpr pappl_preason_t kStatusReasons = kPrinterConditions;

pappl_preason_t reasons_for(int answer) {
  pappl_preason_t reasons = PAPPL_PREASON_NONE;
  for (const status_bit& bit : kStatusBits)
    if (answer >= 0 && (answer & bit.bit) != 0) reasons |= bit.reason;
  return reasons;
}

bool holds_jobs(int answer) {
  for (const status_bit& bit : kStatusBits)
    if (answer >= 0 && (answer & bit.bit) != 0 && bit.holds) return true;
  return false;
}

std::string status_text(int answer) {
  std::string text;
  for (const status_bit& bit : kStatusBits)
    if ((answer & bit.bit) != 0) text += (text.empty() ? "" : ", ") + std::string(bit.text);
  return text.empty() ? "ready" : text;
}

// What one printer last said; PAPPL keeps it as the driver data's extension
// from the printer's creation to its deletion. (POSIX threads: libc++'s
// <mutex> and <thread> need GNU extensions.)
struct printer_watch {
  printer_watch() = default;
  printer_watch(const printer_watch&) = delete;
  printer_watch& operator=(const printer_watch&) = delete;
  ~printer_watch() {
    pthread_cond_destroy(&poll_ended);
    pthread_mutex_destroy(&lock);
  }

  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t poll_ended = PTHREAD_COND_INITIALIZER;
  pappl_printer_t* printer = nullptr;  // the one being polled
  bool polling = false;                // a poll thread is asking
  int misses = 0;                      // questions in a row the printer left unanswered
  int answer = kSilent;                // its last answer, or why there is none
  time_t next_poll = 0;                // when the idle poll asks next
  bool paused = false;                 // lblprinter paused the printer for its status
};

class locked {
 public:
  explicit locked(printer_watch* watch) : watch_(watch) { pthread_mutex_lock(&watch_->lock); }
  ~locked() { pthread_mutex_unlock(&watch_->lock); }
  locked(const locked&) = delete;
  locked& operator=(const locked&) = delete;

 private:
  printer_watch* watch_;
};

printer_watch* watch_of(pappl_printer_t* printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  return static_cast<printer_watch*>(data.extension);
}

// USB and TCP port 9100 are two-way; a file:// device never answers.
bool is_two_way(pappl_printer_t* printer) {
  const std::string_view uri = papplPrinterGetDeviceURI(printer);
  return uri.starts_with("socket://") || uri.starts_with("usb://");
}

int ask_device(pappl_device_t* device) {
  if (papplDeviceWrite(device, label_stream::kStatusQuery, label_stream::kStatusQuerySize) !=
      static_cast<ssize_t>(label_stream::kStatusQuerySize))
    return kUnreachable;
  papplDeviceFlush(device);
  uint8_t answer[64];  // the last byte is the newest answer
  const ssize_t got = papplDeviceRead(device, answer, sizeof answer);
  return got > 0 ? answer[got - 1] : kSilent;
}

int ask_socket(const char* uri) {
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return kUnreachable;
  http_addrlist_t* addresses = httpAddrGetList(host, AF_UNSPEC, std::to_string(port).c_str());
  int fd = -1;
  int answer = kUnreachable;
  if (addresses != nullptr && httpAddrConnect2(addresses, &fd, kConnectMs, nullptr) != nullptr) {
    answer = kSilent;
    pollfd readable{fd, POLLIN, 0};
    uint8_t bytes[64];
    ssize_t got = 0;
    if (::send(fd, label_stream::kStatusQuery, label_stream::kStatusQuerySize, kSendFlags) ==
            static_cast<ssize_t>(label_stream::kStatusQuerySize) &&
        ::poll(&readable, 1, kAnswerMs) == 1 && (got = ::recv(fd, bytes, sizeof bytes, 0)) > 0)
      answer = bytes[got - 1];
  }
  if (fd >= 0) ::close(fd);
  httpAddrFreeList(addresses);
  return answer;
}

// An idle printer, asked on a link of its own. PAPPL's USB device is
// borrowed only through the printer's gate, so no job opens or writes it
// meanwhile; a printer whose gate a job holds counts as no link this time.
int ask_idle(pappl_printer_t* printer) {
  if (std::string_view(papplPrinterGetDeviceURI(printer)).starts_with("socket://"))
    return ask_socket(papplPrinterGetDeviceURI(printer));
  if (!try_enter_printer(printer)) return kUnreachable;
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  const int answer = device != nullptr ? ask_device(device) : kUnreachable;
  if (device != nullptr) papplPrinterCloseDevice(printer);
  leave_printer(printer);
  return answer;
}

// Records an answer and shows it; no answer leaves the reasons unknown.
void note_answer(pappl_printer_t* printer, printer_watch* watch, int answer) {
  const time_t now = std::time(nullptr);
  int before;
  bool gone_silent = false;
  {
    locked hold(watch);
    before = watch->answer;
    watch->answer = answer;
    watch->misses = answer == kSilent ? watch->misses + 1 : 0;
    gone_silent = watch->misses == kMaxMisses;
    watch->next_poll = now + (watch->misses >= kMaxMisses ? kSilentRetrySeconds : kIdlePollSeconds);
  }
  const pappl_preason_t reasons = reasons_for(answer);
  papplPrinterSetReasons(printer, reasons, kStatusReasons & ~reasons);
  if (answer >= 0 && answer != before)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Printer status 0x%02x: %s.", answer,
                    status_text(answer).c_str());
  if (gone_silent)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                    "The printer does not answer its status query; asking again in %d minutes.",
                    kSilentRetrySeconds / 60);
}

void* poll_once(void* data) {
  auto* watch = static_cast<printer_watch*>(data);
  guard_callback(false, [&] {
    note_answer(watch->printer, watch, ask_idle(watch->printer));
    return true;
  });
  // Deletion waits for this; nothing may touch the watch after it.
  locked hold(watch);
  watch->polling = false;
  pthread_cond_broadcast(&watch->poll_ended);
  return nullptr;
}

// Starts the poll claimed for `printer` (its watch's polling is set).
void start_poll(pappl_printer_t* printer, printer_watch* watch) {
  watch->printer = printer;
  pthread_attr_t detached;
  pthread_t thread;
  bool started = false;
  if (pthread_attr_init(&detached) == 0) {
    started = pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED) == 0 &&
              pthread_create(&thread, &detached, poll_once, watch) == 0;
    pthread_attr_destroy(&detached);
  }
  if (started) return;
  locked hold(watch);
  watch->polling = false;
}

// Claims the next poll when one is due: never while a job has the link,
// and for a printer that has gone silent only once its pause is over.
bool claim_poll(pappl_printer_t* printer, printer_watch* watch, bool asked_for) {
  if (!is_two_way(printer) || papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) return false;
  locked hold(watch);
  const bool due =
      std::time(nullptr) >= watch->next_poll || (asked_for && watch->misses < kMaxMisses);
  if (watch->polling || !due) return false;
  watch->polling = true;
  return true;
}

// PAPPL asks while the printer is idle (a client reading its attributes, the
// web page, the state just loaded): a fresh answer is on its way.
bool status_cb(pappl_printer_t* printer) {
  return guard_callback(false, [&] {
    printer_watch* watch = watch_of(printer);
    if (watch != nullptr && claim_poll(printer, watch, true)) start_poll(printer, watch);
    return true;
  });
}

// Every second on the server's main loop: a printer that cannot print is
// paused whenever it is idle (a raster job PAPPL streamed through the pause
// leaves it idle), so its spooled jobs stay pending, and resumed once it can
// (one an administrator paused first stays paused); idle printers due a
// question get one.
void tick_printer(pappl_printer_t* printer, void* /*data*/) {
  guard_callback(false, [&] {
    printer_watch* watch = watch_of(printer);
    if (watch == nullptr) return false;
    const ipp_pstate_t state = papplPrinterGetState(printer);
    bool pause = false, resume = false;
    {
      locked hold(watch);
      const bool holding = holds_jobs(watch->answer);
      pause = holding && state == IPP_PSTATE_IDLE;
      resume = !holding && watch->paused && state == IPP_PSTATE_STOPPED;
      watch->paused = holding && (watch->paused || pause);
    }
    if (pause) papplPrinterPause(printer);
    if (resume) papplPrinterResume(printer);
    if (claim_poll(printer, watch, false)) start_poll(printer, watch);
    return true;
  });
}

bool tick(pappl_system_t* system, void* /*data*/) {
  papplSystemIteratePrinters(system, tick_printer, nullptr);
  return true;
}

void delete_cb(pappl_printer_t* /*printer*/, pappl_pr_driver_data_t* data) {
  auto* watch = static_cast<printer_watch*>(data->extension);
  if (watch == nullptr) return;
  {
    locked hold(watch);
    while (watch->polling) pthread_cond_wait(&watch->poll_ended, &watch->lock);
  }
  delete watch;
  data->extension = nullptr;
}

}  // namespace

void set_status_callbacks(pappl_pr_driver_data_t* data) {
  data->status_cb = status_cb;
  data->delete_cb = delete_cb;
  data->extension = new (std::nothrow) printer_watch;  // none: the printer is never asked
}

void watch_printers(pappl_system_t* system) {
  papplSystemAddTimerCallback(system, 0, 1, tick, nullptr);
}

bool wait_for_printer(pappl_job_t* job, pappl_device_t* device) {
  return guard_callback(true, [&] {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    printer_watch* watch = watch_of(printer);
    if (watch == nullptr) return true;
    {
      locked hold(watch);
      if (watch->answer < 0) return true;  // never asked, silent or out of reach: print as ever
    }
    for (bool waited = false;; waited = true) {
      const int answer = ask_device(device);
      note_answer(printer, watch, answer);
      if (!holds_jobs(answer)) {
        if (waited) papplJobSetMessage(job, "The printer is ready.");
        return true;
      }
      if (!waited) {
        papplJobSetMessage(job, "Waiting for the printer: %s.", status_text(answer).c_str());
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting for the printer: %s.",
                    status_text(answer).c_str());
      }
      for (int step = 0; step < kStepsPerQuestion; ++step) {
        if (papplJobIsCanceled(job)) return false;
        ::nanosleep(&kWaitStep, nullptr);
      }
    }
  });
}

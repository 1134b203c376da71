// PAPPL 1.3.1's _papplPrinterCheckJobs (pappl/job.c) reads the printer's
// processing job before taking the printer's lock and leaves the job it
// starts pending until the new thread's start_job runs. Two calls at once (two
// clients' jobs arriving, a job ending as another arrives) each start a thread:
// for the same job (it prints, then its second run finds its file gone and
// aborts it) or for the next one while the first prints. The function is
// exported by libpappl and reached through its symbol tables, so lblprinter
// defines it here, and the thread runs PAPPL's own once it holds the gate.
// A raster printed as it arrives takes the same gate in its client's thread
// (app/job/receive.cc).
// RTLD_NEXT is a GNU and BSD extension to dlfcn.h.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include "app/job/gate.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <ctime>
#include <map>

namespace {

// A waiting raster job looks at its printer's pause this often.
constexpr timespec kPauseStep = {0, 250'000'000};

struct printer_gate {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
};

// One gate per printer, kept for the server's life: a job thread may still
// be leaving one as the server exits, and a printer made later at the same
// address takes the free gate over.
struct gate_table {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  std::map<pappl_printer_t*, printer_gate> gates;
};

gate_table& gates() {
  static auto* table = new gate_table;
  return *table;
}

pthread_mutex_t* gate_of(pappl_printer_t* printer) {
  pthread_mutex_lock(&gates().lock);
  pthread_mutex_t* gate = &gates().gates[printer].lock;
  pthread_mutex_unlock(&gates().lock);
  return gate;
}

// Held while a job is handed to PAPPL; a job's thread passes it before
// reading what the handing wrote.
pthread_mutex_t g_submissions = PTHREAD_MUTEX_INITIALIZER;

// Set once, when the server starts to stop.
std::atomic<bool> g_printers_closed{false};

// A paused printer (by an administrator, or by lblprinter for its status)
// starts no job; a stopping server starts none either, so they stay queued.
bool may_start(pappl_printer_t* printer) {
  return !g_printers_closed && papplPrinterGetState(printer) != IPP_PSTATE_STOPPED &&
         papplSystemIsRunning(papplPrinterGetSystem(printer));
}

}  // namespace

bool try_enter_printer(pappl_printer_t* printer) {
  return pthread_mutex_trylock(gate_of(printer)) == 0;
}

void leave_printer(pappl_printer_t* printer) { pthread_mutex_unlock(gate_of(printer)); }

void submit_spooled_job(void (*submit)(pappl_job_t*, const char*), pappl_job_t* job,
                        const char* filename) {
  pthread_mutex_lock(&g_submissions);
  submit(job, filename);
  pthread_mutex_unlock(&g_submissions);
}

void* next_definition(const char* name) { return ::dlsym(RTLD_NEXT, name); }

void close_printers() { g_printers_closed = true; }

bool any_printer_busy() {
  bool busy = false;
  pthread_mutex_lock(&gates().lock);
  for (auto& [printer, gate] : gates().gates) {
    if (pthread_mutex_trylock(&gate.lock) == 0)
      pthread_mutex_unlock(&gate.lock);
    else
      busy = true;
  }
  pthread_mutex_unlock(&gates().lock);
  return busy;
}

// The thread PAPPL starts for a spooled job: it runs the job only if the job
// is still pending once the printer is free (a second thread for a job that
// printed, or was cancelled meanwhile, ends here), and leaves it pending on a
// paused printer, whose Resume starts it again.
extern "C" void* _papplJobProcess(pappl_job_t* job) {
  using process = void* (*)(pappl_job_t*);
  static const auto pappl_process = reinterpret_cast<process>(next_definition("_papplJobProcess"));
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pthread_mutex_lock(&g_submissions);
  pthread_mutex_unlock(&g_submissions);
  pthread_mutex_t* gate = gate_of(printer);
  pthread_mutex_lock(gate);
  if (papplJobGetState(job) == IPP_JSTATE_PENDING && may_start(printer)) pappl_process(job);
  pthread_mutex_unlock(gate);
  return nullptr;
}

// A raster job read as it arrives waits in its client's thread for its turn
// and for an administrator's pause to end, without the gate, so that a
// stopping server does not wait for it. A printer lblprinter paused for its
// status lets it on: its first callback waits for the printer and says why.
bool enter_printer_for_stream(pappl_job_t* job) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pthread_mutex_t* gate = gate_of(printer);
  const auto held = [&] {
    return papplPrinterGetState(printer) == IPP_PSTATE_STOPPED &&
           (papplPrinterGetReasons(printer) & kPrinterConditions) == 0 &&
           papplJobGetState(job) <= IPP_JSTATE_HELD && !g_printers_closed &&
           papplSystemIsRunning(papplPrinterGetSystem(printer));
  };
  for (;; pthread_mutex_unlock(gate)) {
    while (held()) ::nanosleep(&kPauseStep, nullptr);
    pthread_mutex_lock(gate);
    if (!held()) break;
  }
  if (!g_printers_closed) return true;
  pthread_mutex_unlock(gate);
  return false;
}

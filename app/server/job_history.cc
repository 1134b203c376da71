// Each printer keeps its newest completed jobs, as CUPS keeps MaxJobs. PAPPL
// 1.3.1 would keep them all while jobs keep ending: _papplPrinterCleanJobsNoLock
// (pappl/job.c) walks a printer's completed jobs newest first, drops only those
// that ended over a minute ago, and stops at the first it keeps unless the
// printer preserves documents. So lblprinter has each printer preserve one
// document (its last job's), and once a second notes when its Nth newest job
// ended; its definition of that function, which libpappl reaches through the
// program's symbol table, runs PAPPL's own with the clock set a minute past
// that time, so that only the older jobs are dropped. The function reads the
// clock through time(), which lblprinter defines for it.
#include "app/server/job_history.h"

#include <pthread.h>

#include <ctime>
#include <map>

#include "app/job/gate.h"

namespace {

constexpr int kPreservedDocuments = 1;  // lets PAPPL's walk go on past the jobs it keeps
constexpr time_t kPapplGraceSeconds = 60;

// Each printer's cut: its jobs that ended before it are dropped.
struct history_cuts {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  std::map<pappl_printer_t*, time_t> cut;
  int max_completed_jobs = 0;
};

history_cuts& cuts() {
  static auto* table = new history_cuts;  // job threads may read it as the server exits
  return *table;
}

// The clock _papplPrinterCleanJobsNoLock reads on this thread, 0 for the real one.
thread_local time_t t_clean_clock = 0;

void note_end_time(pappl_job_t* job, void* data) {
  *static_cast<time_t*>(data) = papplJobGetTimeCompleted(job);
}

void note_cut(pappl_printer_t* printer, void* /*data*/) {
  const int keep = cuts().max_completed_jobs;
  if (papplPrinterGetMaxCompletedJobs(printer) != keep)
    papplPrinterSetMaxCompletedJobs(printer, keep);
  if (papplPrinterGetMaxPreservedJobs(printer) != kPreservedDocuments)
    papplPrinterSetMaxPreservedJobs(printer, kPreservedDocuments);
  // Completed jobs come newest first: the Nth is where the history ends.
  time_t ended = 0;
  papplPrinterIterateCompletedJobs(printer, note_end_time, &ended, keep, 1);
  pthread_mutex_lock(&cuts().lock);
  cuts().cut[printer] = ended;
  pthread_mutex_unlock(&cuts().lock);
}

bool note_cuts(pappl_system_t* system, void* /*data*/) {
  papplSystemIteratePrinters(system, note_cut, nullptr);
  return true;
}

time_t cut_of(pappl_printer_t* printer) {
  pthread_mutex_lock(&cuts().lock);
  const auto found = cuts().cut.find(printer);
  const time_t cut = found == cuts().cut.end() ? 0 : found->second;
  pthread_mutex_unlock(&cuts().lock);
  return cut;
}

}  // namespace

void bound_job_histories(pappl_system_t* system, int max_completed_jobs) {
  cuts().max_completed_jobs = max_completed_jobs;
  papplSystemAddTimerCallback(system, 0, 1, note_cuts, nullptr);
}

// Called by PAPPL with the printer's lock held, as each job ends and from its
// main loop.
extern "C" void _papplPrinterCleanJobsNoLock(pappl_printer_t* printer) {
  using clean = void (*)(pappl_printer_t*);
  static const auto pappl_clean =
      reinterpret_cast<clean>(next_definition("_papplPrinterCleanJobsNoLock"));
  // With fewer jobs than the history holds, PAPPL's own clock drops none of
  // them, and the walk still removes the documents of all but the last.
  const time_t cut = cut_of(printer);
  t_clean_clock = cut == 0 ? 0 : cut + kPapplGraceSeconds;
  pappl_clean(printer);
  t_clean_clock = 0;
}

extern "C" time_t time(time_t* now) {
  using clock = time_t (*)(time_t*);
  static const auto real_time = reinterpret_cast<clock>(next_definition("time"));
  if (t_clean_clock == 0) return real_time(now);
  if (now != nullptr) *now = t_clean_clock;
  return t_clean_clock;
}

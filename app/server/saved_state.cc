// lblprinter-settings.state: one line per printer and setting,
// "<printer-id> <attribute> <value>", written whole at each save.
// lblprinter.state is PAPPL's, without the jobs that have ended: PAPPL 1.3.1
// writes every job it still remembers and saves after every job, so a state
// file with the history would cost more with each job served.
// libc++'s <fstream> needs glibc's GNU extensions (its locale
// fallbacks); under strict POSIX on Linux they are not declared.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include "app/server/saved_state.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "app/job/journal.h"
#include "app/job/process.h"

namespace {

constexpr char kStateFile[] = "lblprinter.state";  // PAPPL's, named as its main loop names it
constexpr char kKeptFile[] = "lblprinter-settings.state";

struct kept_setting {
  const char* name;
  int pappl_pr_driver_data_t::*field;
};

constexpr kept_setting kKept[] = {
    {"printer-darkness-configured", &pappl_pr_driver_data_t::darkness_configured},
    {"print-speed-default", &pappl_pr_driver_data_t::speed_default},
};

struct kept_value {
  int printer_id;
  std::string name;
  int value;
};

std::string path_in(const char* directory, const char* name) {
  return std::string(directory) + "/" + name;
}

void write_printer(pappl_printer_t* printer, void* data) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  for (const kept_setting& setting : kKept)
    std::fprintf(static_cast<std::FILE*>(data), "%d %s %d\n", papplPrinterGetID(printer),
                 setting.name, driver.*setting.field);
}

// PAPPL writes a job as one line, its id first and its state after its name:
// Job id="12" name="..." ... state="5" ... PAPPL's job states: pending 3,
// held 4, processing 5, stopped 6; then canceled 7, aborted 8, completed 9.
struct job_line {
  int id = 0;
  std::size_t state_at = std::string::npos;  // the state digit's offset
};

job_line parse_job_line(const std::string& line) {
  job_line job;
  constexpr char kId[] = " id=\"", kState[] = " state=\"";
  if (line.rfind("Job ", 0) != 0) return job;
  const std::size_t id = line.find(kId), state = line.rfind(kState);
  if (id == std::string::npos || state == std::string::npos) return job;
  job.id = std::atoi(line.c_str() + id + sizeof kId - 1);
  const std::size_t digit = state + sizeof kState - 1;
  if (digit < line.size() && line[digit] >= '3' && line[digit] <= '9') job.state_at = digit;
  return job;
}

constexpr char kAbortedState = '8';

bool has_ended(const std::string& line) {
  const job_line job = parse_job_line(line);
  return job.state_at != std::string::npos && line[job.state_at] >= '7';
}

// <Printer id="1" name="label" ...>
std::string printer_name(const std::string& line) {
  constexpr char kName[] = " name=\"";
  if (line.rfind("<Printer ", 0) != 0) return {};
  const std::size_t name = line.find(kName);
  if (name == std::string::npos) return {};
  const std::size_t from = name + sizeof kName - 1;
  return line.substr(from, line.find('"', from) - from);
}

struct interrupted_job {
  std::string printer;
  int id;
};

// Rewrites PAPPL's state file through `edit`, which returns false for a line
// to leave out; `printer` is the name of the printer the line belongs to.
template <typename Edit>
bool rewrite_state(const std::string& from, const std::string& to, Edit&& edit) {
  std::ifstream in(from);
  std::ofstream out(to + ".new", std::ios::trunc);
  std::string line, printer;
  while (std::getline(in, line)) {
    if (line.rfind("<Printer ", 0) == 0) printer = printer_name(line);
    if (edit(printer, line)) out << line << '\n';
  }
  out.close();
  return in.eof() && out && std::rename((to + ".new").c_str(), to.c_str()) == 0;
}

// A job a stopped server was printing (processing, or the one its printer's
// journal names) may have left part of a label on the printer: it ends
// aborted rather than printing again. So does a job saved as pending with an
// id below the journal's: the printer takes its jobs in turn, and the state
// is saved at most once a second, so that job printed after the last save.
std::vector<interrupted_job> abort_interrupted_jobs(const std::string& state) {
  std::vector<interrupted_job> aborted;
  rewrite_state(state, state, [&](const std::string& printer, std::string& line) {
    const job_line job = parse_job_line(line);
    if (job.state_at == std::string::npos) return true;
    const char state = line[job.state_at];
    const int journaled = journaled_job(printer);
    if (state == '5' || (state < '7' && job.id == journaled) ||
        (state == '3' && job.id < journaled)) {
      line[job.state_at] = kAbortedState;
      aborted.push_back({printer, job.id});
    }
    return true;
  });
  return aborted;
}

void explain_interrupted(pappl_printer_t* printer, void* data) {
  for (const interrupted_job& job : *static_cast<const std::vector<interrupted_job>*>(data))
    if (job.printer == papplPrinterGetName(printer))
      if (pappl_job_t* found = papplPrinterFindJob(printer, job.id)) {
        papplJobSetReasons(found, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        papplJobSetMessage(found, "%s", kInterruptedMessage);
        papplLogJob(found, PAPPL_LOGLEVEL_WARN, "%s", kInterruptedMessage);
      }
}

// PAPPL's state file without the ended jobs, then ours, each replaced whole.
bool save_now(pappl_system_t* system, void* data) {
  return guard_callback(false, [&] {
    const char* directory = static_cast<const char*>(data);
    const std::string full = path_in(directory, kStateFile) + ".all";
    const bool state = papplSystemSaveState(system, full.c_str()) &&
                       rewrite_state(full, path_in(directory, kStateFile),
                                     [](const std::string&, const std::string& line) {
                                       return !has_ended(line);
                                     }) &&
                       std::remove(full.c_str()) == 0;
    const std::string kept = path_in(directory, kKeptFile), written = kept + ".new";
    std::FILE* out = std::fopen(written.c_str(), "w");
    if (out == nullptr) return false;
    papplSystemIteratePrinters(system, write_printer, out);
    const bool complete = !std::ferror(out);
    return std::fclose(out) == 0 && complete && std::rename(written.c_str(), kept.c_str()) == 0 &&
           state;
  });
}

// The main loop and a stopping server's thread both save: one at a time, or
// their temporary files would mix.
bool save(pappl_system_t* system, void* data) {
  static pthread_mutex_t saving = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_lock(&saving);
  const bool saved = save_now(system, data);
  pthread_mutex_unlock(&saving);
  return saved;
}

void restore_printer(pappl_printer_t* printer, void* data) {
  guard_callback(false, [&] {
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(printer, &driver);
    bool found = false;
    for (const kept_value& value : *static_cast<const std::vector<kept_value>*>(data))
      for (const kept_setting& setting : kKept)
        if (value.printer_id == papplPrinterGetID(printer) && value.name == setting.name) {
          driver.*setting.field = value.value;
          found = true;
        }
    return found && papplPrinterSetDriverDefaults(printer, &driver, 0, nullptr);
  });
}

// PAPPL 1.3.1 saves after every job: lblprinter saves at most once a second,
// and a change left over is saved by a tick.
constexpr int kSaveSeconds = 1;

struct save_pacing {
  time_t last = 0;
  bool pending = false;
};

save_pacing& pacing() {
  static save_pacing paced;  // the main loop's thread only
  return paced;
}

bool paced_save(pappl_system_t* system, void* data) {
  const time_t now = std::time(nullptr);
  if (now - pacing().last < kSaveSeconds) {
    pacing().pending = true;
    return true;
  }
  pacing() = {now, false};
  return save(system, data);
}

bool save_left_over(pappl_system_t* system, void* data) {
  if (pacing().pending) paced_save(system, data);
  return true;
}

}  // namespace

bool save_printer_state(pappl_system_t* system, const char* state_directory) {
  return save(system, const_cast<char*>(state_directory));
}

void keep_printer_settings(pappl_system_t* system, const char* state_directory) {
  const std::string state = path_in(state_directory, kStateFile);
  std::vector<interrupted_job> interrupted;
  guard_callback(false, [&] {
    interrupted = abort_interrupted_jobs(state);
    return true;
  });
  papplSystemLoadState(system, state.c_str());
  guard_callback(false, [&] {
    papplSystemIteratePrinters(system, explain_interrupted, &interrupted);
    std::vector<kept_value> values;
    if (std::FILE* in = std::fopen(path_in(state_directory, kKeptFile).c_str(), "r")) {
      int id, value;
      char name[64];
      while (std::fscanf(in, "%d %63s %d", &id, name, &value) == 3)
        values.push_back({id, name, value});
      std::fclose(in);
    }
    papplSystemIteratePrinters(system, restore_printer, &values);
    return true;
  });
  papplSystemSetSaveCallback(system, paced_save, const_cast<char*>(state_directory));
  papplSystemAddTimerCallback(system, 0, 1, save_left_over, const_cast<char*>(state_directory));
}

// `lblprinter submit` around PAPPL's own: its job ids captured and passed
// on, then each job followed over the control socket until it ends.
#include "app/client/submit.h"

#include <cups/cups.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr std::chrono::seconds kJobWait{60};
constexpr timespec kPollInterval = {0, 100'000'000};  // nanosleep: <thread> is GNU under libc++

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// What `run` writes to standard output, line by line.
std::vector<std::string> capture_output(const std::function<int()>& run, int* status) {
  const std::unique_ptr<std::FILE, file_closer> captured(std::tmpfile());
  std::fflush(stdout);
  const int saved = captured ? ::dup(STDOUT_FILENO) : -1;
  if (saved < 0 || ::dup2(::fileno(captured.get()), STDOUT_FILENO) < 0) {
    *status = run();
    return {};
  }
  *status = run();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::rewind(captured.get());
  std::vector<std::string> lines;
  char line[1024];
  while (std::fgets(line, sizeof line, captured.get()) != nullptr) {
    std::fputs(line, stdout);
    lines.emplace_back(line, std::strcspn(line, "\n"));
  }
  std::fflush(stdout);
  return lines;
}

// A request about the printer (and the job `id`, unless 0), answered on `http`.
ipp_t* ask(http_t* http, ipp_op_t operation, const std::string& printer, int id) {
  const std::string resource = "/ipp/print/" + printer;
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                  resource.c_str());
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  if (id != 0) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return cupsDoRequest(http, request, resource.c_str());
}

// A stopped printer (out of labels, paused) keeps a job that has not started
// pending until someone sees to it: not worth waiting for here.
bool printer_stopped(http_t* http, const std::string& printer) {
  ipp_t* response = ask(http, IPP_OP_GET_PRINTER_ATTRIBUTES, printer, 0);
  ipp_attribute_t* attr = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
  const bool stopped = attr != nullptr && ippGetInteger(attr, 0) == IPP_PSTATE_STOPPED;
  ippDelete(response);
  return stopped;
}

// The job's state and message, asked on `http`; false when it cannot be asked.
bool job_state(http_t* http, const std::string& printer, int id, ipp_jstate_t* state,
               std::string* message) {
  ipp_t* response = ask(http, IPP_OP_GET_JOB_ATTRIBUTES, printer, id);
  ipp_attribute_t* attr = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
  const bool known = attr != nullptr;
  if (known) *state = static_cast<ipp_jstate_t>(ippGetInteger(attr, 0));
  attr = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT);
  *message = attr != nullptr ? ippGetString(attr, 0, nullptr) : "";
  ippDelete(response);
  return known;
}

// Waits for the job "printer-id" to end; false, with its reason on standard
// error, when it aborted.
bool job_printed(http_t* http, const std::string& job) {
  const size_t dash = job.rfind('-');
  if (dash == std::string::npos) return true;
  const std::string printer = job.substr(0, dash);
  const int id = std::atoi(job.c_str() + dash + 1);
  const auto deadline = std::chrono::steady_clock::now() + kJobWait;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;
  while (job_state(http, printer, id, &state, &message) && state < IPP_JSTATE_CANCELED &&
         std::chrono::steady_clock::now() < deadline &&
         !(state < IPP_JSTATE_PROCESSING && printer_stopped(http, printer)))
    ::nanosleep(&kPollInterval, nullptr);
  if (state != IPP_JSTATE_ABORTED) return true;
  std::fprintf(stderr, "lblprinter: %s: %s\n", job.c_str(),
               message.empty() ? "aborted" : message.c_str());
  return false;
}

}  // namespace

int submit_and_report(const std::string& socket, const std::function<int()>& run) {
  int status = 0;
  const std::vector<std::string> jobs = capture_output(run, &status);
  if (status != 0 || jobs.empty()) return status;
  http_t* http =
      httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) return status;
  bool all = true;
  for (const std::string& job : jobs) all = job_printed(http, job) && all;
  httpClose(http);
  return all ? 0 : 1;
}

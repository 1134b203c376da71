#include "tests/cups/private_cupsd.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace cups_harness {
namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";

// Filters run with the scheduler's fixed environment; sanitizer settings of
// the test run reach an instrumented lblfilter only through SetEnv.
std::string sanitizer_setenv_lines() {
  std::string lines;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      lines += std::string("SetEnv ") + name + " " + value + "\n";
  }
  return lines;
}

bool socket_accepts(const std::string& path) {
  const int fd = ::socket(AF_LOCAL, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_LOCAL;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

std::string attribute_text(ipp_t* response, const char* name) {
  ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO);
  const char* text = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
  return text != nullptr ? text : "";
}

int attribute_enum(ipp_t* response, const char* name) {
  ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ENUM);
  return attr != nullptr ? ippGetInteger(attr, 0) : 0;
}

}  // namespace

private_cupsd::~private_cupsd() { stop(); }

bool private_cupsd::start(std::string* error, const std::string& data_dir) {
  if (!dir_.ok()) {
    *error = "no temporary directory";
    return false;
  }
  const std::string d = dir_.path();
  std::error_code ec;
  for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "run", "log", "dev"}) {
    std::filesystem::create_directories(d + "/" + sub, ec);
  }
  if (!make_server_bin(d + "/serverbin", error)) return false;

  const std::string cupsd_conf = "Listen " + socket() +
                                 "\n"
                                 "LogLevel debug\n"
                                 "Browsing No\n"
                                 "WebInterface No\n"
                                 "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n" +
                                 sanitizer_setenv_lines();
  // The spooler's user lp runs the filters; root is the administrator.
  const std::string files_conf = "ServerRoot " + d + "/etc\nRequestRoot " + d + "/spool\nTempDir " +
                                 d + "/spool/tmp\nCacheDir " + d + "/cache\nStateDir " + d +
                                 "/run\nServerBin " + d + "/serverbin\nAccessLog " + d +
                                 "/log/access_log\nErrorLog " + d + "/log/error_log\nPageLog " + d +
                                 "/log/page_log\nFileDevice Yes\nSystemGroup root\nUser lp\n"
                                 "Group lp\n" +
                                 (data_dir.empty() ? "" : "DataDir " + data_dir + "\n");
  if (!write_file(d + "/etc/cupsd.conf", cupsd_conf) ||
      !write_file(d + "/etc/cups-files.conf", files_conf)) {
    *error = "cannot write the configuration";
    return false;
  }

  const std::string out_log = d + "/log/cupsd.out";
  pid_ = ::fork();
  if (pid_ == 0) {
    std::freopen(out_log.c_str(), "w", stdout);
    std::freopen(out_log.c_str(), "a", stderr);
    ::execl(kCupsd, "cupsd", "-f", "-c", (d + "/etc/cupsd.conf").c_str(), "-s",
            (d + "/etc/cups-files.conf").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 200; ++i) {
    if (socket_accepts(socket())) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *error = "cupsd did not start: " + read_file(out_log) + error_log();
  return false;
}

void private_cupsd::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

run_process::result private_cupsd::client(const std::string& program,
                                          std::vector<std::string> args) const {
  run_process::request req;
  req.program = program;
  req.argv = std::move(args);
  req.env = {"CUPS_SERVER=" + socket()};
  req.unset_env = {"PRINTER", "LPDEST"};
  return run_process::run(req);
}

int private_cupsd::submit(const std::string& queue, const std::vector<std::string>& lp_args,
                          const std::string& file, std::string* error) const {
  std::vector<std::string> args = {"lp", "-d", queue};
  args.insert(args.end(), lp_args.begin(), lp_args.end());
  args.push_back(file);
  const run_process::result res = client("/usr/bin/lp", args);
  // "request id is label-7 (1 file(s))"
  const std::string marker = "request id is " + queue + "-";
  const size_t at = res.out.find(marker);
  if (res.exit_status != 0 || at == std::string::npos) {
    *error = "lp failed: " + res.out + res.err;
    return 0;
  }
  return std::atoi(res.out.c_str() + at + marker.size());
}

ipp_t* private_cupsd::ask(ipp_t* request, const char* resource) const {
  http_t* http =
      httpConnect2(socket().c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (http == nullptr) {
    ippDelete(request);
    return nullptr;
  }
  ipp_t* response = cupsDoRequest(http, request, resource);
  httpClose(http);
  return response;
}

job_status private_cupsd::job(int job_id) const {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ipp_t* response = ask(request, "/jobs/");
  const job_status status{attribute_enum(response, "job-state"),
                          attribute_text(response, "job-printer-state-message")};
  ippDelete(response);
  return status;
}

printer_status private_cupsd::printer(const std::string& queue) const {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               ("ipp://localhost/printers/" + queue).c_str());
  ipp_t* response = ask(request, "/");
  const printer_status status{attribute_enum(response, "printer-state"),
                              attribute_text(response, "printer-state-message")};
  ippDelete(response);
  return status;
}

job_status private_cupsd::wait_for_job(int job_id, int timeout_ms) const {
  job_status status;
  for (int waited = 0; waited <= timeout_ms; waited += 20) {
    status = job(job_id);
    if (status.state >= IPP_JSTATE_STOPPED) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

}  // namespace cups_harness

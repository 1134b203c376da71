#include "app/client/commands.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "app/printer/maintenance.h"

namespace {

// lblprinter's operation on the printer `name`.
ipp_t* ask_printer(http_t* http, ipp_op_t operation, const char* name) {
  const std::string resource = std::string("/ipp/print/") + name;
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                  resource.c_str());
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return cupsDoRequest(http, request, resource.c_str());
}

ipp_t* delete_printer(http_t* http, int printer_id) {
  ipp_t* request = ippNewRequest(IPP_OP_DELETE_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr,
               "ipp://localhost/ipp/system");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", printer_id);
  return cupsDoRequest(http, request, "/ipp/system");
}

// "Running, stopped since Wed, 09 Dec 2026 18:40:36 GMT, media-empty, paused."
// PAPPL 1.3.1's own status line runs the reasons into the time.
int show_printer_status(http_t* http, const char* name) {
  ipp_t* response = ask_printer(http, IPP_OP_GET_PRINTER_ATTRIBUTES, name);
  ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
  ipp_attribute_t* since =
      ippFindAttribute(response, "printer-state-change-date-time", IPP_TAG_DATE);
  ipp_attribute_t* reasons = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
  const bool found = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE && state != nullptr;
  if (found) {
    std::string line = std::string("Running, ") +
                       ippEnumString("printer-state", ippGetInteger(state, 0)) + " since " +
                       httpGetDateString(since != nullptr ? ippDateToTime(ippGetDate(since, 0))
                                                          : std::time(nullptr));
    for (int i = 0; i < ippGetCount(reasons); ++i)
      if (std::strcmp(ippGetString(reasons, i, nullptr), "none") != 0)
        line += std::string(", ") + ippGetString(reasons, i, nullptr);
    std::printf("%s.\n", line.c_str());
  } else {
    std::fprintf(stderr, "%s\n", cupsLastErrorString());
  }
  ippDelete(response);
  return found ? 0 : 1;
}

}  // namespace

int run_printer_command(int argc, char* argv[], const std::string& socket) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command != "calibrate" && command != "test-label" && command != "delete" &&
      command != "status")
    return -1;
  if (command == "status" && argc != 4) return -1;  // the server's status is PAPPL's
  if (argc != 4 || std::strcmp(argv[2], "-d") != 0) {
    std::fprintf(stderr, "Usage: %s %s -d PRINTER\n", argv[0], argv[1]);
    return 1;
  }
  http_t* http =
      httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr) {
    std::fprintf(stderr, "%s: No server is running on %s.\n", argv[0], socket.c_str());
    return 1;
  }
  if (command == "status") {
    const int status = show_printer_status(http, argv[3]);
    httpClose(http);
    return status;
  }
  const ipp_op_t operation = command == "calibrate"    ? kCalibrateMediaOperation
                             : command == "test-label" ? kPrintTestLabelOperation
                                                       : kGetPrinterIdOperation;
  ipp_t* response = ask_printer(http, operation, argv[3]);
  const int printer_id =
      ippGetInteger(ippFindAttribute(response, "printer-id", IPP_TAG_INTEGER), 0);
  ippDelete(response);
  if (command == "delete" && printer_id > 0) ippDelete(delete_printer(http, printer_id));
  httpClose(http);
  const bool done = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
  if (!done || command != "delete")
    std::fprintf(done ? stdout : stderr, "%s\n", cupsLastErrorString());
  return done ? 0 : 1;
}

// Commands that look after the printer rather than print: each goes to an
// idle printer on a device of its own (a printer busy with a job cannot
// take one), in the printer's own language (render/label_stream.h).
#include "app/maintenance.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/job_settings.h"
#include "app/pages.h"
#include "app/print_job.h"
#include "app/test_label.h"
#include "render/label_stream.h"

namespace {

constexpr char kBusy[] = "The printer is busy; try again when it is idle.";

bool send_command(pappl_printer_t* printer, const char* command) {
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) return false;
  const size_t size = std::strlen(command);
  const bool sent = papplDeviceWrite(device, command, size) == static_cast<ssize_t>(size);
  papplDeviceFlush(device);
  papplPrinterCloseDevice(printer);
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Sent %.*s%s.", static_cast<int>(size - 2), command,
                  sent ? "" : " (failed)");
  return sent;
}

// The loaded stock, as every job's GAP or BLINE line names it (a change of
// the loaded media on the Media page becomes the default).
int16_t loaded_media_type(pappl_printer_t* printer) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  return media_type_for(driver.media_default.tracking);
}

// The sensor calibration for the loaded stock; the problem, or null.
const char* calibrate(pappl_printer_t* printer) {
  return send_command(printer, label_stream::kCalibrateCommands[loaded_media_type(printer)])
             ? nullptr
             : kBusy;
}

const char* print_test_label(pappl_printer_t* printer, const char* user) {
  char path[1024];
  if (!write_test_label(printer, path, sizeof path)) return "Unable to write the test label.";
  if (papplJobCreateWithFile(printer, user != nullptr && *user != '\0' ? user : "guest",
                             label_stream::kMimeType, "Test Label", 0, nullptr, path) != nullptr)
    return nullptr;
  ::unlink(path);
  return "Unable to create the test label job.";
}

void identify_cb(pappl_printer_t* printer, pappl_identify_actions_t actions,
                 const char* /*message*/) {
  guard_callback(false, [&] {
    return (actions & PAPPL_IDENTIFY_ACTIONS_SOUND) != 0 &&
           send_command(printer, label_stream::kSoundCommand);
  });
}

const char* testpage_cb(pappl_printer_t* printer, char* buffer, size_t size) {
  return guard_callback<const char*>(
      nullptr, [&] { return write_test_label(printer, buffer, size) ? buffer : nullptr; });
}

bool operation_cb(pappl_client_t* client, void* /*data*/) {
  return guard_callback(false, [&] {
    const ipp_op_t operation = papplClientGetOperation(client);
    if (operation != kCalibrateMediaOperation && operation != kPrintTestLabelOperation &&
        operation != kGetPrinterIdOperation)
      return false;
    pappl_printer_t* printer = papplClientGetPrinter(client);
    if (printer == nullptr) {
      papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_FOUND, "No such printer.");
      return true;
    }
    if (operation == kGetPrinterIdOperation) {
      papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
      ippAddInteger(papplClientGetResponse(client), IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-id",
                    papplPrinterGetID(printer));
      return true;
    }
    const http_status_t authorized = papplClientIsAuthorized(client);
    if (authorized != HTTP_STATUS_CONTINUE) {
      papplClientRespond(client, authorized, nullptr, nullptr, 0, 0);
    } else {
      const bool calibrating = operation == kCalibrateMediaOperation;
      const char* problem = calibrating ? calibrate(printer)
                                        : print_test_label(printer, papplClientGetUsername(client));
      if (problem != nullptr)
        papplClientRespondIPP(
            client, calibrating ? IPP_STATUS_ERROR_BUSY : IPP_STATUS_ERROR_INTERNAL, "%s", problem);
      else
        papplClientRespondIPP(client, IPP_STATUS_OK, "%s",
                              calibrating ? "Calibrating." : "Test label queued.");
    }
    return true;
  });
}

// /<printer>/calibrate: the loaded stock and a button that calibrates for it.
bool calibrate_page(pappl_client_t* client, void* data) {
  return guard_callback(false, [&] {
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    const char* banner = nullptr;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
      cups_option_t* form = nullptr;
      const int count = papplClientGetForm(client, &form);
      banner = !papplClientIsValidForm(client, count, form) ? "Invalid form data."
               : calibrate(printer) == nullptr              ? "Calibrating."
                                                            : kBusy;
      cupsFreeOptions(count, form);
    }
    papplClientHTMLPrinterHeader(client, printer, "Calibrate", 0, nullptr, nullptr);
    if (banner != nullptr)
      papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner);
    papplClientHTMLPrintf(client,
                          "<p>Loaded: %s. The printer feeds a few labels while its sensor learns "
                          "where each one starts.</p>\n",
                          kMediaTypes[loaded_media_type(printer)].text);
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client, "<input type=\"submit\" value=\"Calibrate\"></form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
  });
}

// The client side: lblprinter's operation on the printer `name`.
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

}  // namespace

void set_maintenance_callbacks(pappl_pr_driver_data_t* data) {
  data->identify_cb = identify_cb;
  data->identify_supported = data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->testpage_cb = testpage_cb;
}

void add_calibrate_page(pappl_printer_t* printer) {
  add_printer_web_page(printer, "calibrate", "Calibrate", calibrate_page);
}

void add_maintenance_operations(pappl_system_t* system) {
  papplSystemSetOperationCallback(system, operation_cb, nullptr);
}

int run_maintenance_command(int argc, char* argv[], const std::string& socket) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command != "calibrate" && command != "test-label" && command != "delete") return -1;
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

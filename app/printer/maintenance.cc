// Commands that look after the printer rather than print: each goes to an
// idle printer on a device of its own (a printer busy with a job cannot
// take one), in the printer's own language (render/label_stream.h).
#include "app/printer/maintenance.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/job/process.h"
#include "app/job/settings.h"
#include "app/printer/test_label.h"
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

}  // namespace

int16_t loaded_media_type(pappl_printer_t* printer) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  return media_type_for(driver.media_default.tracking);
}

const char* calibrate(pappl_printer_t* printer) {
  return send_command(printer, label_stream::kCalibrateCommands[loaded_media_type(printer)])
             ? nullptr
             : kBusy;
}

void set_maintenance_callbacks(pappl_pr_driver_data_t* data) {
  data->identify_cb = identify_cb;
  data->identify_supported = data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->testpage_cb = testpage_cb;
}

void add_maintenance_operations(pappl_system_t* system) {
  papplSystemSetOperationCallback(system, operation_cb, nullptr);
}

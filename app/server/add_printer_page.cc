// The system's Add Printer page, /addprinter, in place of PAPPL 1.3's.
#include "app/server/add_printer_page.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/job/process.h"
#include "app/printer/device_ids.h"
#include "app/printer/drivers.h"
#include "app/server/device_list.h"

namespace {

// PAPPL 1.3's own Add Printer page ends the server when it looks for network
// printers while avahi is not running (app/server/device_list.h); this one does not, and
// takes any device URI typed in.
struct found_device {
  std::string info, uri, id;
};

bool note_device(const char* info, const char* uri, const char* id, void* data) {
  return guard_callback(true, [&] {  // true ends the listing
    static_cast<std::vector<found_device>*>(data)->push_back({info, uri, id != nullptr ? id : ""});
    return false;
  });
}

// The driver choice that asks the printer's device ID (device_ids.h).
constexpr char kAutoDriver[] = "auto";

const pappl_pr_driver_t* find_driver(const char* name) {
  for (const pappl_pr_driver_t& driver : label_drivers())
    if (name != nullptr && std::strcmp(driver.name, name) == 0) return &driver;
  return nullptr;
}

// The driver the device at `uri` names by its device ID, among the devices
// found now; null when it is not found or names none of ours.
const pappl_pr_driver_t* detect_driver(const char* uri, void* instance) {
  std::vector<found_device> devices;
  list_devices(note_device, &devices);
  for (const found_device& device : devices)
    if (device.uri == uri)
      return find_driver(
          label_autoadd_cb(device.info.c_str(), device.uri.c_str(), device.id.c_str(), instance));
  return nullptr;
}

// Creates the posted printer and puts its page's path in `path`; returns why
// it could not, or nothing.
std::string create_posted_printer(pappl_client_t* client, char* path, size_t size, void* instance) {
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  const char* name = cupsGetOption("printer_name", count, form);
  const char* driver_name = cupsGetOption("driver_name", count, form);
  const char* uri = cupsGetOption("device_uri_typed", count, form);
  if (uri == nullptr || *uri == '\0') uri = cupsGetOption("device_uri", count, form);
  const bool detect = driver_name != nullptr && std::strcmp(driver_name, kAutoDriver) == 0;
  const pappl_pr_driver_t* driver =
      detect && uri != nullptr ? detect_driver(uri, instance) : find_driver(driver_name);
  std::string problem;
  pappl_printer_t* printer = nullptr;
  if (!papplClientIsValidForm(client, count, form))
    problem = "Invalid form data.";
  else if (name == nullptr || *name == '\0')
    problem = "Please enter a printer name.";
  else if (driver == nullptr && detect)
    problem = "The printer's device ID names no label printer driver; please choose one.";
  else if (driver == nullptr)
    problem = "Please choose a driver.";
  else if (uri == nullptr || *uri == '\0')
    problem = "Please choose a device, or enter a device URI.";
  else if (prepare_device_uri(uri, &problem) &&
           (printer = papplPrinterCreate(papplClientGetSystem(client), 0, name, driver->name,
                                         driver->device_id, uri)) == nullptr)
    problem =
        errno == EEXIST ? "A printer with that name already exists." : "Unable to add the printer.";
  if (printer != nullptr) papplPrinterGetPath(printer, nullptr, path, size);
  cupsFreeOptions(count, form);
  return problem;
}

void print_add_printer_form(pappl_client_t* client) {
  std::vector<found_device> devices;
  list_devices(note_device, &devices);
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPuts(client,
                      "<table class=\"form\"><tbody>"
                      "<tr><th><label for=\"printer_name\">Name:</label></th><td>"
                      "<input type=\"text\" name=\"printer_name\" required></td></tr>"
                      "<tr><th><label for=\"driver_name\">Driver:</label></th><td>"
                      "<select name=\"driver_name\" id=\"driver_name\">"
                      "<option value=\"auto\">Auto-Detect Driver</option>");
  for (const pappl_pr_driver_t& driver : label_drivers())
    papplClientHTMLPrintf(client, "<option value=\"%s\">%s</option>", driver.name,
                          driver.description);
  papplClientHTMLPuts(client,
                      "</select></td></tr><tr><th><label for=\"device_uri\">Device:</label></th>"
                      "<td><select name=\"device_uri\" id=\"device_uri\">"
                      "<option value=\"\">Enter a URI below</option>");
  for (const found_device& device : devices)
    papplClientHTMLPrintf(client, "<option value=\"%s\">%s</option>", device.uri.c_str(),
                          device.info.c_str());
  papplClientHTMLPuts(client,
                      "</select></td></tr><tr><th><label for=\"device_uri_typed\">Device "
                      "URI:</label></th><td><input type=\"text\" name=\"device_uri_typed\" "
                      "id=\"device_uri_typed\" placeholder=\"socket://192.0.2.5:9100\"></td>"
                      "</tr><tr><th></th><td><input type=\"submit\" value=\"Add Printer\"></td>"
                      "</tr></tbody></table></form>\n");
}

bool show_add_printer_page(pappl_client_t* client, void* instance) {
  if (!papplClientHTMLAuthorize(client)) return true;
  std::string problem;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    char path[256];
    problem = create_posted_printer(client, path, sizeof path, instance);
    if (problem.empty()) return papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
  }
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return false;
  papplClientHTMLHeader(client, "Add Printer", 0);
  papplClientHTMLPuts(client,
                      "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">"
                      "<h1 class=\"title\">Add Printer</h1>\n");
  if (!problem.empty())
    papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", problem.c_str());
  print_add_printer_form(client);
  papplClientHTMLPuts(client, "</div></div></div>\n");
  papplClientHTMLFooter(client);
  return true;
}

bool add_printer_page_cb(pappl_client_t* client, void* data) {
  return guard_callback(false, [&] { return show_add_printer_page(client, data); });
}

}  // namespace

void add_printer_page(pappl_system_t* system, app_instance* instance) {
  papplSystemAddResourceCallback(system, "/addprinter", "text/html", add_printer_page_cb, instance);
}

// One page per printer, /<printer>/label-mode: a form with the printer's label
// modes; a post by an administrator changes label-mode-configured, which the
// next job's setup lines carry (SET PEEL, SET CUTTER, SET TEAR).
#include "app/web.h"

#include <cstring>

namespace {

struct mode_choice {
  pappl_label_mode_t mode;
  const char* keyword;
  const char* text;
};

constexpr mode_choice kModes[] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off", "Tear off"},
    {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off", "Peel off"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter", "Cut each label"},
    {PAPPL_LABEL_MODE_CUTTER_DELAYED, "cutter-delayed", "Cut after the job"},
};

// The posted choice, applied; the banner text for the page.
const char* save_mode(pappl_client_t* client, pappl_printer_t* printer,
                      pappl_pr_driver_data_t* driver) {
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  const char* result = "Invalid form data.";
  const char* value = cupsGetOption("label-mode-configured", count, form);
  for (const mode_choice& choice : kModes) {
    if (!papplClientIsValidForm(client, count, form) || value == nullptr ||
        std::strcmp(value, choice.keyword) != 0 || (driver->mode_supported & choice.mode) == 0)
      continue;
    driver->mode_configured = choice.mode;
    result = papplPrinterSetDriverDefaults(printer, driver, 0, nullptr) ? "Changes saved."
                                                                        : "Unable to save.";
  }
  cupsFreeOptions(count, form);
  return result;
}

bool label_mode_page(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  const char* banner = papplClientGetMethod(client) == HTTP_STATE_POST
                           ? save_mode(client, printer, &driver)
                           : nullptr;
  papplClientHTMLPrinterHeader(client, printer, "Label Mode", 0, nullptr, nullptr);
  if (banner != nullptr) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner);
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPuts(client,
                      "<table class=\"form\"><tbody><tr><th>Label Mode:</th><td>"
                      "<select name=\"label-mode-configured\">");
  for (const mode_choice& choice : kModes)
    if (driver.mode_supported & choice.mode)
      papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", choice.keyword,
                            driver.mode_configured == choice.mode ? " selected" : "", choice.text);
  papplClientHTMLPuts(client,
                      "</select></td></tr><tr><th></th><td><input type=\"submit\" "
                      "value=\"Save Changes\"></td></tr></tbody></table></form>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

void add_label_mode_page(pappl_printer_t* printer, void* /*data*/) {
  char path[256];
  papplPrinterGetPath(printer, "label-mode", path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", label_mode_page,
                                 printer);
  papplPrinterAddLink(printer, "Label Mode", path,
                      PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}

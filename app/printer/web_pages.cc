// A printer's web pages beside PAPPL's: /<printer>/label-mode, a form with the
// printer's label modes (a post by an administrator changes
// label-mode-configured, which the next job's setup lines carry: SET PEEL,
// SET CUTTER, SET TEAR); /<printer>/calibrate, the loaded stock and a button
// that calibrates for it; /<printer>/media, the loaded label; and PAPPL's own
// printer page, /<printer>/, served behind the administrators' check its
// buttons lack.
#include "app/printer/web_pages.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/job/process.h"
#include "app/job/settings.h"
#include "app/printer/drivers.h"
#include "app/printer/maintenance.h"
#include "settings/printer_models.h"

namespace {

// PAPPL's label modes and their IPP keywords; the names shown are the
// filter's (kLabelModes), so the print dialog and the web page agree.
struct mode_choice {
  pappl_label_mode_t mode;
  const char* keyword;
};

constexpr mode_choice kModes[] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off"},
    {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter"},
    {PAPPL_LABEL_MODE_CUTTER_DELAYED, "cutter-delayed"},
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

// Closes a form whose last row is a drop-down, with its Save Changes button.
void end_form_with_select(pappl_client_t* client) {
  papplClientHTMLPuts(client,
                      "</select></td></tr><tr><th></th><td><input type=\"submit\" "
                      "value=\"Save Changes\"></td></tr></tbody></table></form>\n");
}

bool show_label_mode_page(pappl_client_t* client, pappl_printer_t* printer) {
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
                      "<table class=\"form\"><tbody><tr><th><label "
                      "for=\"label-mode-configured\">Label Mode:</label></th><td><select "
                      "name=\"label-mode-configured\" id=\"label-mode-configured\">");
  for (const mode_choice& choice : kModes)
    if (driver.mode_supported & choice.mode)
      papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", choice.keyword,
                            driver.mode_configured == choice.mode ? " selected" : "",
                            kLabelModes[label_mode_for(choice.mode)].text);
  end_form_with_select(client);
  papplClientHTMLPrinterFooter(client);
  return true;
}

// PAPPL 1.3.1's own printer page: the printer's state, jobs and buttons.
extern "C" void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer);

// Identify-Printer is every client's over IPP (PAPPL 1.3.1 asks no one), so it
// is on the page too: the buzzer sounds as the driver sounds it for IPP, and
// the browser is sent back to the page. False when the post is another button.
bool identify_from_page(pappl_client_t* client, pappl_printer_t* printer) {
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  const char* action = cupsGetOption("action", count, form);
  const bool identify = papplClientIsValidForm(client, count, form) && action != nullptr &&
                        std::strcmp(action, "identify-printer") == 0;
  cupsFreeOptions(count, form);
  if (!identify) return false;
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  driver.identify_cb(printer, driver.identify_default, nullptr);
  return papplClientRespondRedirect(client, HTTP_STATUS_SEE_OTHER, papplClientGetURI(client));
}

// PAPPL 1.3.1's printer page carries out its buttons (pause, resume, hold and
// release new jobs, the test page) for anyone who fetched its form first; the
// same IPP operations need an administrator, and so does a post here.
bool show_printer_home_page(pappl_client_t* client, pappl_printer_t* printer) {
  if (papplClientGetMethod(client) == HTTP_STATE_POST &&
      papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE) {
    // Identify is anyone's; any other post gets the refusal PAPPL's own pages give.
    if (!identify_from_page(client, printer)) papplClientHTMLAuthorize(client);
    return true;
  }
  _papplPrinterWebHome(client, printer);
  return true;
}

bool printer_home_page(pappl_client_t* client, void* data) {
  return guard_callback(
      false, [&] { return show_printer_home_page(client, static_cast<pappl_printer_t*>(data)); });
}

bool label_mode_page(pappl_client_t* client, void* data) {
  return guard_callback(
      false, [&] { return show_label_mode_page(client, static_cast<pappl_printer_t*>(data)); });
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
      const char* problem =
          papplClientIsValidForm(client, count, form) ? calibrate(printer) : "Invalid form data.";
      banner = problem != nullptr ? problem : "Calibrating.";
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

// Serves PAPPL's page of `printer` in place, behind the check.
void guard_printer_home_page(pappl_printer_t* printer) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  char path[256];
  papplPrinterGetPath(printer, nullptr, path, sizeof path);
  std::strncat(path, "/", sizeof path - std::strlen(path) - 1);
  papplSystemRemoveResource(system, path);
  papplSystemAddResourceCallback(system, path, "text/html", printer_home_page, printer);
}

// The Media page, /<printer>/media, in place of PAPPL 1.3's: the loaded label
// (a listed size or a custom one in millimetres), its offsets and its media
// tracking, every control labelled. A post the printer cannot take is refused
// whole, with the reason, and shown again as it was posted; PAPPL's page said
// "Changes saved." and kept the old size.

constexpr char kCustom[] = "custom";

// IPP's media-tracking keywords; the names shown are the filter's
// (kMediaTypes), through media_type_for.
struct tracking_choice {
  pappl_media_tracking_t tracking;
  const char* keyword;
};
constexpr tracking_choice kTrackings[] = {{PAPPL_MEDIA_TRACKING_GAP, "gap"},
                                          {PAPPL_MEDIA_TRACKING_MARK, "mark"},
                                          {PAPPL_MEDIA_TRACKING_CONTINUOUS, "continuous"}};

// What the form shows: the loaded label, or a refused post as it came.
struct media_form {
  std::string size;     // a PWG name of the driver's list, or kCustom
  double width_mm = 0;  // the custom size
  double length_mm = 0;
  double left_mm = 0;  // the offsets
  double top_mm = 0;
  std::string tracking;  // a kTrackings keyword
};

media_form form_for(const pappl_media_col_t& col) {
  media_form form;
  form.size = std::strncmp(col.size_name, "custom_", 7) == 0 ? kCustom : col.size_name;
  form.width_mm = col.size_width / 100.0;
  form.length_mm = col.size_length / 100.0;
  form.left_mm = col.left_offset / 100.0;
  form.top_mm = col.top_offset / 100.0;
  for (const tracking_choice& choice : kTrackings)
    if (choice.tracking == col.tracking) form.tracking = choice.keyword;
  return form;
}

bool is_listed_size(const pappl_pr_driver_data_t& driver, const std::string& name) {
  for (int i = 0; i < driver.num_media; ++i)
    if (name == driver.media[i] && std::strncmp(driver.media[i], "custom_", 7) != 0) return true;
  return false;
}

// A number typed into the form; NaN when there is none, or `blank` when the
// field is empty.
double number(const char* text, double blank = NAN) {
  if (text == nullptr || *text == '\0') return blank;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(value) ? value : NAN;
}

// Why `value` is no number from `min` to `max` millimetres, or empty.
std::string outside(const char* what, double value, int min, int max) {
  if (value >= min && value <= max) return {};
  char text[160];
  if (std::isnan(value))
    std::snprintf(text, sizeof text, "%s: please enter a number from %d to %d mm.", what, min, max);
  else
    std::snprintf(text, sizeof text, "%s %g mm is outside the printer's %d to %d mm.", what, value,
                  min, max);
  return text;
}

// Why the printer cannot take `form`, or empty.
std::string refusal(const pappl_pr_driver_data_t& driver, const media_form& form) {
  const bool custom = form.size == kCustom;
  if (!custom && !is_listed_size(driver, form.size)) return "Please choose a label size.";
  std::string problem;
  if (custom) problem = outside("Custom width", form.width_mm, kMinLabelWidthMm, kMaxLabelWidthMm);
  if (custom && problem.empty())
    problem = outside("Custom length", form.length_mm, kMinLabelHeightMm, kMaxLabelHeightMm);
  if (problem.empty()) problem = outside("Left offset", form.left_mm, -kMaxOffsetMm, kMaxOffsetMm);
  if (problem.empty()) problem = outside("Top offset", form.top_mm, -kMaxOffsetMm, kMaxOffsetMm);
  if (!problem.empty()) return problem;
  for (const tracking_choice& choice : kTrackings)
    if (form.tracking == choice.keyword && (driver.tracking_supported & choice.tracking) != 0)
      return {};
  return "Please choose a media tracking.";
}

int hundredths(double mm) { return static_cast<int>(std::lround(mm * 100)); }

// The loaded label as `form` describes it, over what PAPPL holds (source,
// margins); its type follows its tracking.
pappl_media_col_t media_for(const pappl_pr_driver_data_t& driver, const media_form& form) {
  pappl_media_col_t col = driver.media_ready[0];
  if (form.size == kCustom) {
    col.size_width = hundredths(form.width_mm);
    col.size_length = hundredths(form.length_mm);
    pwgFormatSizeName(col.size_name, sizeof col.size_name, kCustom, nullptr, col.size_width,
                      col.size_length, "mm");
  } else if (const pwg_media_t* pwg = pwgMediaForPWG(form.size.c_str())) {
    std::snprintf(col.size_name, sizeof col.size_name, "%s", form.size.c_str());
    col.size_width = pwg->width;
    col.size_length = pwg->length;
  }
  col.left_offset = hundredths(form.left_mm);
  col.top_offset = hundredths(form.top_mm);
  for (const tracking_choice& choice : kTrackings)
    if (form.tracking == choice.keyword) col.tracking = choice.tracking;
  std::snprintf(col.type, sizeof col.type, "%s",
                col.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS ? "continuous" : "labels");
  return col;
}

// Takes the posted form into `form`; the banner's text.
std::string save_post(pappl_client_t* client, pappl_printer_t* printer,
                      const pappl_pr_driver_data_t& driver, media_form* form) {
  cups_option_t* fields = nullptr;
  const int count = papplClientGetForm(client, &fields);
  const auto field = [&](const char* name) { return cupsGetOption(name, count, fields); };
  std::string banner;
  if (!papplClientIsValidForm(client, count, fields)) {
    banner = "Invalid form data.";
  } else {
    form->size = field("size") != nullptr ? field("size") : "";
    form->width_mm = number(field("custom-width"));
    form->length_mm = number(field("custom-length"));
    form->left_mm = number(field("left-offset"), 0);
    form->top_mm = number(field("top-offset"), 0);
    form->tracking = field("tracking") != nullptr ? field("tracking") : "";
    banner = refusal(driver, *form);
    if (banner.empty()) {
      pappl_media_col_t col = media_for(driver, *form);
      banner = papplPrinterSetReadyMedia(printer, 1, &col) ? "Changes saved." : "Unable to save.";
    }
  }
  cupsFreeOptions(count, fields);
  return banner;
}

void print_number(pappl_client_t* client, const char* name, const char* label, double value,
                  int min, int max) {
  papplClientHTMLPrintf(client,
                        "<tr><th><label for=\"%s\">%s (mm):</label></th><td><input type=\"number\" "
                        "name=\"%s\" id=\"%s\" min=\"%d\" max=\"%d\" step=\"0.01\"",
                        name, label, name, name, min, max);
  if (std::isfinite(value)) papplClientHTMLPrintf(client, " value=\"%g\"", value);
  papplClientHTMLPuts(client, "></td></tr>\n");
}

void print_form(pappl_client_t* client, const pappl_pr_driver_data_t& driver,
                const media_form& form) {
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPrintf(client,
                        "<table class=\"form\"><tbody><tr><th><label for=\"size\">Label "
                        "size:</label></th><td><select name=\"size\" id=\"size\"><option "
                        "value=\"%s\"%s>Custom size</option>",
                        kCustom, form.size == kCustom ? " selected" : "");
  for (int i = 0; i < driver.num_media; ++i) {
    const pwg_media_t* pwg = pwgMediaForPWG(driver.media[i]);
    if (pwg == nullptr || std::strncmp(driver.media[i], "custom_", 7) == 0) continue;
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%g x %g mm</option>", driver.media[i],
                          form.size == driver.media[i] ? " selected" : "", pwg->width / 100.0,
                          pwg->length / 100.0);
  }
  papplClientHTMLPuts(client, "</select></td></tr>\n");
  print_number(client, "custom-width", "Custom width", form.width_mm, kMinLabelWidthMm,
               kMaxLabelWidthMm);
  print_number(client, "custom-length", "Custom length", form.length_mm, kMinLabelHeightMm,
               kMaxLabelHeightMm);
  print_number(client, "left-offset", "Left offset", form.left_mm, -kMaxOffsetMm, kMaxOffsetMm);
  print_number(client, "top-offset", "Top offset", form.top_mm, -kMaxOffsetMm, kMaxOffsetMm);
  papplClientHTMLPuts(client,
                      "<tr><th><label for=\"tracking\">Media tracking:</label></th><td><select "
                      "name=\"tracking\" id=\"tracking\">");
  for (const tracking_choice& choice : kTrackings)
    if (driver.tracking_supported & choice.tracking)
      papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", choice.keyword,
                            form.tracking == choice.keyword ? " selected" : "",
                            kMediaTypes[media_type_for(choice.tracking)].text);
  end_form_with_select(client);
}

bool show_media_page(pappl_client_t* client, pappl_printer_t* printer) {
  if (!papplClientHTMLAuthorize(client)) return true;
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  media_form form = form_for(driver.media_ready[0]);
  std::string banner;
  if (papplClientGetMethod(client) == HTTP_STATE_POST)
    banner = save_post(client, printer, driver, &form);
  papplClientHTMLPrinterHeader(client, printer, "Media", 0, nullptr, nullptr);
  if (!banner.empty()) {
    papplClientHTMLPuts(client, "<div class=\"banner\">");
    papplClientHTMLEscape(client, banner.c_str(), 0);
    papplClientHTMLPuts(client, "</div>\n");
  }
  print_form(client, driver, form);
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool media_page(pappl_client_t* client, void* data) {
  return guard_callback(
      false, [&] { return show_media_page(client, static_cast<pappl_printer_t*>(data)); });
}

// PAPPL links its own Media page; this one takes its path first (the printer
// creation callback runs before PAPPL adds its pages).
void add_media_page(pappl_printer_t* printer) {
  char path[256];
  papplPrinterGetPath(printer, "media", path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", media_page,
                                 printer);
}

}  // namespace

void add_printer_web_page(pappl_printer_t* printer, const char* name, const char* label,
                          pappl_resource_cb_t page) {
  char path[256];
  papplPrinterGetPath(printer, name, path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", page, printer);
  papplPrinterAddLink(printer, label, path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}

void add_printer_web_pages(pappl_printer_t* printer) {
  guard_printer_home_page(printer);
  add_printer_web_page(printer, "label-mode", "Label Mode", label_mode_page);
  add_media_page(printer);
  add_printer_web_page(printer, "calibrate", "Calibrate", calibrate_page);
}

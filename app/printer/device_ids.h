// Which driver a printer takes, from the IEEE-1284 device ID it reports over
// USB: PAPPL's auto-add callback, for "lblprinter autoadd", "add" without a
// driver and the web page's Add Printer form.
#pragma once

#include <string>
#include <string_view>

/// The file of a site's own device ID rules, read after <state
/// folder>/device-ids: one rule a line, "<driver> <pattern>", where the
/// pattern is a device ID whose values may hold * and ?
/// ("generic-300dpi MFG:Acme;MDL:LP 3*;"); # starts a comment line.
inline constexpr char kSiteDeviceIdFile[] = "/etc/lblprinter/device-ids";

/// The driver for the device ID `id`: the first rule of `rules` (the lines
/// of a rules file) that names a driver of ours and matches it, else a model's own device ID, else
/// any printer whose command set (CMD) names the label language, on the 203 dpi driver. Null when
/// none matches. Keys match under their long names too (MANUFACTURER, MODEL, COMMAND SET); a
/// pattern's CMD value matches any one command set of the device's list.
const char* driver_for_device_id(std::string_view id, std::string_view rules);

/// PAPPL's auto-add callback; `data` is the app_instance, whose state folder
/// and the site's file give the rules.
const char* label_autoadd_cb(const char* device_info, const char* device_uri, const char* device_id,
                             void* data);

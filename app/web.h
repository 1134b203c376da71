// The web pages lblprinter adds to PAPPL's: a label mode page per printer
// (PAPPL 1.3's printer pages have no field for label-mode-configured), and an
// Add Printer page that does not end the server when avahi is not running.
#pragma once

#include <pappl/pappl.h>

#include "app/instance.h"

/// PAPPL's printer creation callback: adds the printer's "Label Mode" page
/// and its link. Saving the page's form needs an administrator.
void add_label_mode_page(pappl_printer_t* printer, void* data);

/// Puts lblprinter's Add Printer page in place of PAPPL's; must be called
/// before the system runs. Adding a printer there needs an administrator;
/// Auto-Detect Driver asks the device ID with `instance`'s rules.
void add_printer_page(pappl_system_t* system, app_instance* instance);

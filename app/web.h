// The web pages lblprinter adds to PAPPL's: a label mode page per printer
// (PAPPL 1.3's printer pages have no field for label-mode-configured), an
// Add Printer page that does not end the server when avahi is not running,
// and a guard in front of PAPPL's printer page, whose buttons ask no one.
#pragma once

#include <pappl/pappl.h>

#include "app/instance.h"

/// Serves PAPPL's page of `printer` (its state, jobs and buttons) behind a
/// check: its buttons need an administrator, as their IPP operations do,
/// except Identify, which is every client's.
void guard_printer_home_page(pappl_printer_t* printer);

/// PAPPL's printer creation callback: adds the printer's "Label Mode" page
/// and its link. Saving the page's form needs an administrator.
void add_label_mode_page(pappl_printer_t* printer, void* data);

/// Puts lblprinter's Add Printer page in place of PAPPL's; must be called
/// before the system runs. Adding a printer there needs an administrator;
/// Auto-Detect Driver asks the device ID with `instance`'s rules.
void add_printer_page(pappl_system_t* system, app_instance* instance);

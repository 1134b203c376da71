// The system's Add Printer page: PAPPL 1.3's own ends the whole server when
// it looks for network printers while avahi is not running; this one lists
// what is found without DNS-SD, takes any device URI typed in, and can pick
// the driver by the device's IEEE-1284 ID.
#pragma once

#include <pappl/pappl.h>

#include "app/server/instance.h"

/// Puts lblprinter's Add Printer page in place of PAPPL's; must be called
/// before the system runs. Adding a printer there needs an administrator;
/// Auto-Detect Driver asks the device ID with `instance`'s rules.
void add_printer_page(pappl_system_t* system, app_instance* instance);

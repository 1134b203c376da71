// One job at a time on each printer's link, each job once: PAPPL 1.3.1 may
// start the same job twice, or a second job while one prints, and two
// writers on one device crash the server or mix two labels. Jobs pass this
// gate one printer at a time, and so does the idle status poll that lends
// itself PAPPL's device.
#pragma once

#include <pappl/pappl.h>

/// Takes `printer`'s gate unless a job or a poll holds it; true when taken.
[[nodiscard]] bool try_enter_printer(pappl_printer_t* printer);

/// Gives back the gate try_enter_printer took.
void leave_printer(pappl_printer_t* printer);

/// Whether a job (or a status poll) holds any printer's gate: takes no
/// lock of PAPPL's.
[[nodiscard]] bool any_printer_busy();

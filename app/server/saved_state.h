// What an administrator sets survives a restart. PAPPL 1.3.1's state file
// leaves out a configured darkness of 0 (it writes only values other than 0)
// and print-speed-default (it never writes it), so both came back as the
// driver's defaults; lblprinter keeps them in a file of its own beside
// PAPPL's and puts them back once PAPPL has loaded its state.
#pragma once

#include <pappl/pappl.h>

/// The job-state-message of a job the server was printing when it stopped.
inline constexpr char kInterruptedMessage[] =
    "The server stopped while printing this job; its last label may be incomplete.";

/// Loads the state of the instance in `state_directory` (PAPPL's
/// lblprinter.state, then lblprinter-settings.state) and from then on saves
/// both at every change. Jobs that have ended are not kept in the state
/// file; a job the server was printing when it stopped is loaded aborted. `state_directory` must
/// outlive the system.
void keep_printer_settings(pappl_system_t* system, const char* state_directory);

/// Saves the state now, as PAPPL's save callback does; false when it cannot.
bool save_printer_state(pappl_system_t* system, const char* state_directory);

// The printer talks back: lblprinter asks a two-way printer (socket://, usb://)
// for its status byte while it is idle and before each job, shows what it
// says as printer-state-reasons, and holds jobs while it cannot print. A
// printer that never answers (a file:// device, a one-way link, an old
// model) prints exactly as it would without any of this, and as fast.
#pragma once

#include <pappl/pappl.h>

/// Gives the driver its status and deletion callbacks and each printer the
/// record of what its printer last said (the driver data's extension).
void set_status_callbacks(pappl_pr_driver_data_t* data);

/// Starts the idle poll of the server's printers on PAPPL's timer: a
/// two-way printer is asked every 2 seconds while no job prints; one that
/// has not answered 3 times in a row is asked again after 10 minutes, or
/// when it is added again (a restart adds every printer again).
void watch_printers(pappl_system_t* system);

/// Called before a job's first byte goes to `device`: asks a printer that
/// answered its last question for its status and, while it reports a
/// condition that stops printing, waits with the reason shown until it
/// clears. False only when the job was cancelled while it waited.
bool wait_for_printer(pappl_job_t* job, pappl_device_t* device);

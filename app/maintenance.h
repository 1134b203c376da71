// Looking after a printer: Identify-Printer sounds its buzzer, the test label,
// and calibrating the media sensor for the loaded stock, from the web page,
// over IPP and from the command line.
#pragma once

#include <pappl/pappl.h>

/// lblprinter's own IPP operations on a printer URI; administrators only
/// (root on the control socket, or HTTP Basic credentials of one).
inline constexpr ipp_op_t kCalibrateMediaOperation = static_cast<ipp_op_t>(0x4c01);
inline constexpr ipp_op_t kPrintTestLabelOperation = static_cast<ipp_op_t>(0x4c02);

/// Identify-Printer (identify-actions "sound": the printers have no display
/// to show a message on) and the test page, for every printer of the driver.
void set_maintenance_callbacks(pappl_pr_driver_data_t* data);

/// Adds the printer's "Calibrate" page and its link; calibrating there needs
/// an administrator.
void add_calibrate_page(pappl_printer_t* printer);

/// Answers kCalibrateMediaOperation and kPrintTestLabelOperation.
void add_maintenance_operations(pappl_system_t* system);

/// "lblprinter calibrate -d PRINTER" and "lblprinter test-label -d PRINTER":
/// sends the operation to the server on its control socket and returns the
/// exit status; -1 when `argv` names neither sub-command.
int run_maintenance_command(int argc, char* argv[]);
